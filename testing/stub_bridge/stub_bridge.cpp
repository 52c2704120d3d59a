// A bridge that answers and does nothing, for worlds the reference bridge cannot make: Initialize fails with
// the text of ZUL_STUB_REFUSAL when that is set; ZUL_STUB_INCOMPLETE leaves the last entry point out.
// ZulStub_Calls counts each entry's calls, then keeps the BridgeInitRecord got (10 * field1 + field2). It
// exports all it defines (tests/CMakeLists.txt).
#include <cstdint>
#include <cstdlib>

#include "loader/bridge_entry_list.h"

#ifdef ZUL_STUB_INCOMPLETE
#define ZUL_QEL_DestroyZULProcess ZulStub_NotAnEntry
#endif

extern "C" {

int32_t ZulStub_Calls[31];

// Each entry reads no argument and answers in the result register, which both targets' C calling
// conventions leave to the callee, whatever the caller passed: 0, null, or the refusal and its text.
static intptr_t Answer(int entry, const int32_t* init = nullptr) {
  ++ZulStub_Calls[entry];
  if (init != nullptr) ZulStub_Calls[30] = 10 * init[0] + init[1];
  const char* refusal = std::getenv("ZUL_STUB_REFUSAL");
  if (entry == 17) return reinterpret_cast<intptr_t>(refusal);  // GetLastError
  return entry == 0 && refusal != nullptr ? -5 : 0;
}

// clang-format off
#define ZUL_QEL_Initialize ZulStub_Unused  // Initialize is the one that reads its argument
#define ZUL_STUB_ENTRY(index, name) intptr_t ZUL_QEL_##name() { return Answer(index); }
ZUL_QEL_ENTRY_POINTS(ZUL_STUB_ENTRY)
#undef ZUL_QEL_Initialize
int32_t ZUL_QEL_Initialize(const int32_t* init) { return static_cast<int32_t>(Answer(0, init)); }
// clang-format on

}  // extern "C"

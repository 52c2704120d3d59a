#include "loader/binding.h"

#include "error/error_model.h"
#include "error/strings.h"

namespace zul {

int ResolveBridgeEntries(HMODULE module, BridgeEntries& entries) noexcept {
#define ZUL_RESOLVE_ENTRY(index, name)                                            \
  entries.name = reinterpret_cast<decltype(entries.name)>(                        \
      reinterpret_cast<void*>(GetProcAddress(module, kBridgeEntryNames[index]))); \
  if (entries.name == nullptr) return index;
  ZUL_QEL_ENTRY_POINTS(ZUL_RESOLVE_ENTRY)
#undef ZUL_RESOLVE_ENTRY
  return -1;
}

HRESULT CaptureBridgeError(ErrorState& state, ErrorState& contextError) {
  state.code = -1;
  state.message.Reset();
  const char* text = g_bridge.entries.GetLastError(&state.code);
  AssignNarrow(state.message, text);
  return MapBridgeError(contextError, state.code);
}

}  // namespace zul

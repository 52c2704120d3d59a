// Reaches the bridge test double through its loaded module, for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bridge_double.h"
#include "loader/bridge_entries.h"
#include "platform/ole.h"

namespace zul::testing {

// The double's file name in the test programs' directory.
#ifdef _WIN32
inline constexpr const char* kBridgeDoubleFile = "zul_qel.dll";
#else
inline constexpr const char* kBridgeDoubleFile = "libzul_qel.so";
#endif

// The control functions of one loaded double.
struct BridgeDouble {
#define ZUL_DOUBLE_CONTROL(X)                                                                 \
  X(Reset)                                                                                    \
  X(SetResult)                                                                                \
  X(SetReturnValue) X(SetReturnText) X(SetLastError) X(FailAllocationAt) X(CallCount) X(Call) \
      X(OutstandingBlocks) X(TotalOutstandingBlocks) X(BadReleases) X(OpenTransactions)       \
          X(OutputRegistrations) X(EmitOutput) X(EmitNotify) X(EchoArgument) X(SetJournal)    \
              X(EmitOutputOnThread) X(EmitNotifyOnThread) X(SerializeTransactions)
#define ZUL_DOUBLE_FIELD(name) decltype(&ZulDouble_##name) name = nullptr;
  ZUL_DOUBLE_CONTROL(ZUL_DOUBLE_FIELD)
#undef ZUL_DOUBLE_FIELD

  // Resolves the control interface from module; false if any function is missing.
  bool Bind(HMODULE module);

  // The journal entries of one entry point, in call order.
  std::vector<const ZulDoubleCall*> CallsTo(BridgeEntry entry) const;
  // The entry points called, in order.
  std::vector<BridgeEntry> Entries() const;
};

// The control interface of the double that the running process has loaded; fails the calling test
// when there is none.
BridgeDouble& LoadedBridgeDouble();

// For programs that link the library's core: binds the library to the double next to the test
// program (as any operation would) and returns its control interface, reset.
BridgeDouble& BoundBridgeDouble();

// The directory of the running test program, with a trailing separator.
std::string TestProgramDirectory();

}  // namespace zul::testing

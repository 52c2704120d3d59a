#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>

#include "loader/binding.h"
#include "pal/module.h"
#include "zul/host/test_hooks.h"

// The double's controls, bound as the test programs bind them, without their test framework.
bool zul::testing::BridgeDouble::Bind(HMODULE module) {
  bool complete = true;
#define ZUL_FUZZ_BIND(name)                                                                                  \
  name =                                                                                                     \
      reinterpret_cast<decltype(name)>(reinterpret_cast<void*>(GetProcAddress(module, "ZulDouble_" #name))); \
  complete = complete && name != nullptr;
  ZUL_DOUBLE_CONTROL(ZUL_FUZZ_BIND)
#undef ZUL_FUZZ_BIND
  return complete;
}

namespace zul::fuzz {

void CheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  std::abort();
}

testing::BridgeDouble& Bridge() {
  static testing::BridgeDouble* bridge = [] {
    ProcessAttach();
    ZUL_FUZZ_CHECK(EnsureBridgeLoaded(Context().lastError));
    static testing::BridgeDouble controls;
    ZUL_FUZZ_CHECK(controls.Bind(GetModuleHandleA(testing::kBridgeDoubleFile)));
    controls.SetJournal(0);  // a journal of millions of inputs would only grow
    return &controls;
  }();
  return *bridge;
}

testing::BridgeDouble& FreshBridge() {
  testing::BridgeDouble& bridge = Bridge();
  bridge.Reset();
  bridge.SetJournal(0);
  return bridge;
}

PalContext& FuzzContext() {
  static PalContext* context = [] {
    auto* made = new PalContext;
    ZUL_FUZZ_CHECK(made->AddWrapper(kCaller, OLESTR("Caller"), OLESTR("proc")));
    return made;
  }();
  return *context;
}

Balance TakeBalance() {
  testing::BridgeDouble& bridge = Bridge();
  return {bridge.TotalOutstandingBlocks(), bridge.BadReleases(),
          ZulHostTest_LiveAllocations(ZUL_HOST_TEST_BSTR),
          ZulHostTest_LiveAllocations(ZUL_HOST_TEST_SAFEARRAY)};
}

void CheckBalanced(const Balance& before) {
  const Balance after = TakeBalance();
  ZUL_FUZZ_CHECK(after.blocks == before.blocks);
  ZUL_FUZZ_CHECK(after.badReleases == before.badReleases);
  ZUL_FUZZ_CHECK(after.bstrs == before.bstrs);
  ZUL_FUZZ_CHECK(after.safeArrays == before.safeArrays);
}

}  // namespace zul::fuzz

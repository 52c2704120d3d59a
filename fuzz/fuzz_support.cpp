#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>

#include "loader/binding.h"
#include "pal/module.h"
#include "platform/host/test_hooks.h"

namespace zul::fuzz {

void CheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  std::abort();
}

testing::FaultBridge& Bridge() {
  static testing::FaultBridge* bridge = [] {
    ProcessAttach();
    testing::FaultBridge& bound = testing::FaultBridge::Bound();
    ZUL_FUZZ_CHECK(g_bridge.module != nullptr);
    int32_t cookie = 0;  // a fresh bridge counts its cookies from 1
    for (int32_t i = 0; i < kCaller; ++i) cookie = g_bridge.entries.RegisterWrapper("Echo", 0, nullptr);
    ZUL_FUZZ_CHECK(cookie == kCaller);
    return &bound;
  }();
  return *bridge;
}

testing::FaultBridge& FreshBridge() {
  Bridge().Reset();
  return Bridge();
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
  testing::FaultBridge& bridge = Bridge();
  return {bridge.OutstandingBlocks(), bridge.BadReleases(), ZulHostTest_LiveAllocations(ZUL_HOST_TEST_BSTR),
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

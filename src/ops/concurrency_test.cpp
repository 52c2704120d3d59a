// Client threads that each drive their own wrapper, while another creates and destroys proxies: every
// result belongs to its own call and no bridge memory is left. Run it under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ops_test_fixture.h"

namespace zul {
namespace {

using testing::DoubleArray;
using testing::Doubles;
using testing::Variant;

constexpr int kWorkers = 8;
constexpr int kCalls = 1000;

// One worker's whole life of a wrapper; returns the number of wrong answers.
int DriveOneWrapper(int worker) {
  int wrong = 0;
  int32_t cookie = 0;
  wrong += ZUL_MSCOMPAL_RegisterWrapper(OLESTR("Worker"), static_cast<uint32_t>(worker), OLESTR("proc"),
                                        &cookie) != S_OK;
  wrong += ZUL_MSCOMPAL_CreateObject(cookie, 0, nullptr, nullptr, 0, 0, 0) != S_OK;
  for (int call = 0; call < kCalls; ++call) {
    const std::vector<double> mine = {double(worker), double(call), worker * 1000.0 + call + 0.5};
    SAFEARRAY* out = DoubleArray({0, 0, 0});
    VARIANT args[2];
    args[0].vt = VT_ARRAY | VT_R8;
    args[0].parray = DoubleArray(mine);
    args[1].vt = VT_BYREF | VT_ARRAY | VT_R8;
    args[1].pparray = &out;
    uint32_t flags[2] = {ArgFlag::InOnly | ArgFlag::Reorder, ArgFlag::WriteBack};
    Variant result;
    wrong += ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Echo"), 2, args, flags, &result) != S_OK;
    wrong += result.vt != (VT_ARRAY | VT_R8) || Doubles(result.parray) != mine;
    wrong += Doubles(out) != mine;
    SafeArrayDestroy(args[0].parray);
    SafeArrayDestroy(out);
  }
  wrong += ZUL_MSCOMPAL_DestroyObject(cookie) != S_OK;
  wrong += ZUL_MSCOMPAL_ReleaseWrapper(cookie) != S_OK;
  return wrong;
}

TEST(Concurrency, WorkersWithTheirOwnWrappersAndAProxyChurnGetTheirOwnResults) {
  testing::BridgeDouble& bridge = testing::BoundBridgeDouble();
  bridge.SetJournal(0);
  bridge.EchoArgument(0, -1);  // the result and the written-back array are the first argument
  bridge.EchoArgument(0, 1);

  std::atomic<bool> done{false};
  std::atomic<int> proxyFailures{0};
  int proxyRounds = 0;
  std::thread churn([&] {
    for (int32_t cookie = 900000; !done.load() || proxyRounds < 100; ++cookie, ++proxyRounds) {
      proxyFailures += ZUL_MSCOMPAL_CreateProxyWrapper(cookie) != S_OK;
      proxyFailures += ZUL_MSCOMPAL_DestroyProxyWrapper(cookie) != S_OK;
    }
  });
  std::vector<int> wrong(kWorkers, 0);
  std::vector<std::thread> workers;
  for (int worker = 0; worker < kWorkers; ++worker) {
    workers.emplace_back([&wrong, worker] { wrong[worker] = DriveOneWrapper(worker); });
  }
  for (std::thread& worker : workers) worker.join();
  done = true;
  churn.join();

  EXPECT_EQ(wrong, std::vector<int>(kWorkers, 0));
  EXPECT_EQ(proxyFailures.load(), 0);
  EXPECT_EQ(bridge.OpenTransactions(), 0);
  EXPECT_EQ(bridge.TotalOutstandingBlocks(), 0);
  EXPECT_EQ(bridge.BadReleases(), 0);
  bridge.Reset();
}

}  // namespace
}  // namespace zul

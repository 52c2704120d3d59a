// Transactions per thread, processes busy in another thread or with a background job, and abort.
#include <chrono>
#include <thread>

#include "testing/support.h"

namespace zul::testing {
namespace {

using namespace std::chrono_literals;
using Threads = BridgeTest;

const std::string kBusy = "error -2001: The default ZUL process is busy in another thread's transaction.";

// Transactions and the last failure belong to the calling thread.
TEST_F(Threads, TransactionsAndLastErrorsArePerThread) {
  const int32_t cookie = Create("Echo");
  const std::string none = "error -1007: No transaction is open on cookie 1 in this thread";
  EXPECT_EQ(Do(cookie, "TypeName"), none + ": call ZUL_QEL_BeginTransaction first.");
  EXPECT_EQ(Outcome(ZUL_QEL_EndTransaction(cookie)), none + ".");
  EXPECT_EQ(Outcome(ZUL_QEL_BeginTransaction(0)), "0");  // the bracket around a registration
  EXPECT_EQ(Outcome(ZUL_QEL_EndTransaction(0)), "0");
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseWrapper(41)), "error -1003: Invalid cookie 41.");
  Transaction t(cookie);
  std::thread([&] {
    int32_t code = 1;
    EXPECT_EQ(ZUL_QEL_GetLastError(&code), nullptr);  // this thread has not failed yet
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Outcome(ZUL_QEL_EndTransaction(cookie)), none + ".");
  }).join();
  EXPECT_EQ(Outcome(-1003), "error -1003: Invalid cookie 41.");  // kept through this thread's successes
}

TEST_F(Threads, AProcessInsideAnotherThreadsTransactionIsBusy) {
  const int32_t a = Create("Echo");
  const int32_t b = Create("Echo");
  const int32_t elsewhere = Create("Echo", "calc");
  {
    Transaction outer(a);
    Transaction nested(b);  // the same thread may nest, also across wrappers
    std::thread([&] {
      EXPECT_EQ(Outcome(ZUL_QEL_BeginTransaction(b)), kBusy);
      EXPECT_EQ(Outcome(ZUL_QEL_ReleaseWrapper(a)), kBusy);
      Transaction free(elsewhere);
    }).join();
  }
  std::thread([&] { Transaction t(b); }).join();
}

TEST_F(Threads, AbortFromAnotherThreadStopsARun) {
  const int32_t worker = Create("Worker");
  const int32_t echo = Create("Echo");
  EXPECT_EQ(Outcome(ZUL_QEL_Abort(echo)),
            "error -2004: No ZUL activity to abort in the default ZUL process.");
  std::thread runner([worker] {
    Transaction t(worker);
    const auto start = std::chrono::steady_clock::now();
    const std::string text = Do(worker, "Run", {"LONG 60000"});
    EXPECT_EQ(text.rfind("error -2002: Worker.Run of worker1 was aborted after ", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - 13), " of 60000 ms.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  });
  while (ZUL_QEL_BeginTransaction(echo) == 0) {
    ZUL_QEL_EndTransaction(echo);
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(Outcome(-2001), kBusy);
  // Any wrapper of the process may abort; until the run has begun there is nothing to abort.
  while (ZUL_QEL_Abort(echo) == -2004) std::this_thread::sleep_for(1ms);
  runner.join();
  EXPECT_EQ(ZUL_QEL_Abort(worker), -2004);
  Transaction t(worker);
  EXPECT_EQ(Do(worker, "Run", {"LONG 10"}), "LONG 10");  // the abort was not kept for a later call
}

// A job waits for the transaction that started it, then holds its process until it ends; an abort or
// the bridge's release ends it.
TEST_F(Threads, ABackgroundJobHoldsItsProcessUntilAborted) {
  const int32_t worker = Create("Worker");
  const int32_t echo = Create("Echo");
  const std::vector<std::string> minute = {"LONG 60000"};
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(RecordOutput), 0);
  ASSERT_EQ(ZUL_QEL_RegisterNotifyCallback(worker, RecordNote), 0);
  {
    Transaction t(worker);
    EXPECT_EQ(Do(worker, "Start", minute), "LONG 0");
    EXPECT_EQ(Do(worker, "Start", minute),
              "error -2001: The default ZUL process already has a background job of worker1.");
    const std::string kept = "error -2001: worker1 has a background job; abort it first.";
    EXPECT_EQ(Outcome(ZUL_QEL_DestroyObject(worker)), kept);
    EXPECT_EQ(Outcome(ZUL_QEL_ReleaseWrapper(worker)), kept);
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(Recorded().empty());
  }
  EXPECT_EQ(Outcome(ZUL_QEL_BeginTransaction(echo)),
            "error -2001: The default ZUL process is busy with a background job of worker1.");
  EXPECT_EQ(ZUL_QEL_Abort(echo), 0);
  EXPECT_EQ(WaitForNote(1), "aborted worker1");
  {
    Transaction t(worker);  // the process is free once the notification comes
    EXPECT_EQ(Do(worker, "Start", minute), "LONG 0");
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ZUL_QEL_Release(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(WaitForNote(2), "aborted worker1");
  BridgeInitRecord init{1, 1};
  ASSERT_EQ(ZUL_QEL_Initialize(&init), 0);  // for the fixture's own release
}

}  // namespace
}  // namespace zul::testing

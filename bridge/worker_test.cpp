// Worker: progress in slices, abort from another thread, background jobs that hold their process.
#include <chrono>
#include <thread>

#include "bridge_test_support.h"

namespace zul::bridge::test {
namespace {

using namespace std::chrono_literals;
using WorkerTest = BridgeTest;

TEST_F(WorkerTest, RunReportsProgressPerSlice) {
  const int32_t cookie = Create("Worker");
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(Recorder::Output), 0);
  {
    Transaction t(cookie);
    EXPECT_EQ(Do(cookie, "Run", [](Args& a) { a.Long(25); }), "LONG 25");
    EXPECT_EQ(Do(cookie, "Run", [](Args& a) { a.Double(0); }), "LONG 0");
    const std::pair<Fill, std::string> refused[] = {
        {[](Args& a) { a.Long(-5); }, "-5"},
        {[](Args& a) { a.String("10"); }, "STRING"},
    };
    for (const auto& [fill, shown] : refused) {
      EXPECT_EQ(Do(cookie, "Run", fill),
                "error -1013: Worker.Run: argument 1 must be a whole number of milliseconds "
                "from 0 to 3600000, not " +
                    shown + ".");
    }
  }
  EXPECT_EQ(Recorder::Get().Lines(), (std::vector<std::string>{"worker1: 10 of 25 ms", "worker1: 20 of 25 ms",
                                                               "worker1: 25 of 25 ms"}));
  EXPECT_EQ(Recorder::Get().outputs.front().first, cookie);
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(Recorder::Output), 0);
}

TEST_F(WorkerTest, AbortFromAnotherThreadStopsARun) {
  const int32_t worker = Create("Worker");
  const int32_t echo = Create("Echo");
  EXPECT_EQ(Outcome(ZUL_QEL_Abort(echo)),
            "error -2004: No ZUL activity to abort in the default ZUL process.");
  std::thread runner([worker] {
    Transaction t(worker);
    const auto start = std::chrono::steady_clock::now();
    const std::string text = Do(worker, "Run", [](Args& a) { a.Long(60000); });
    EXPECT_EQ(text.rfind("error -2002: Worker.Run of worker1 was aborted after ", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - 13), " of 60000 ms.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  });
  while (ZUL_QEL_BeginTransaction(echo) == 0) {
    ZUL_QEL_EndTransaction(echo);
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(Outcome(-2001), "error -2001: The default ZUL process is busy in another thread's transaction.");
  // Any wrapper of the process may abort; until the run has begun there is nothing to abort.
  while (ZUL_QEL_Abort(echo) == -2004) std::this_thread::sleep_for(1ms);
  runner.join();
  EXPECT_EQ(ZUL_QEL_Abort(worker), -2004);
}

TEST_F(WorkerTest, StartWorksAfterTheTransactionAndNotifiesWhenDone) {
  const int32_t worker = Create("Worker");
  const int32_t echo = Create("Echo");
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(Recorder::Output), 0);
  ASSERT_EQ(ZUL_QEL_RegisterNotifyCallback(worker, Recorder::Notify), 0);
  {
    Transaction t(worker);
    EXPECT_EQ(Do(worker, "Start", [](Args& a) { a.Long(300); }), "LONG 0");
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(Recorder::Get().Lines().empty());  // the job waits for this transaction
  }
  EXPECT_EQ(Outcome(ZUL_QEL_BeginTransaction(echo)),
            "error -2001: The default ZUL process is busy with a background job of worker1.");
  EXPECT_EQ(Recorder::Get().WaitForNote(1), "done worker1");
  const std::vector<std::string> lines = Recorder::Get().Lines();
  EXPECT_EQ(lines.size(), 30u);
  EXPECT_EQ(lines.back(), "worker1: 300 of 300 ms");
  Transaction free(echo);  // the process is free once the notification comes
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(Recorder::Output), 0);
}

TEST_F(WorkerTest, ABackgroundJobIsAbortedAndKeepsItsObject) {
  const int32_t worker = Create("Worker");
  ASSERT_EQ(ZUL_QEL_RegisterNotifyCallback(worker, Recorder::Notify), 0);
  {
    Transaction t(worker);
    const Fill minute = [](Args& a) { a.Long(60000); };
    EXPECT_EQ(Do(worker, "Start", minute), "LONG 0");
    EXPECT_EQ(Do(worker, "Start", minute),
              "error -2001: The default ZUL process already has a background job of worker1.");
    const std::string kept = "error -2001: worker1 has a background job; abort it first.";
    EXPECT_EQ(Outcome(ZUL_QEL_DestroyObject(worker)), kept);
    EXPECT_EQ(Outcome(ZUL_QEL_ReleaseWrapper(worker)), kept);
  }
  EXPECT_EQ(ZUL_QEL_Abort(worker), 0);
  EXPECT_EQ(Recorder::Get().WaitForNote(1), "aborted worker1");
  EXPECT_EQ(ZUL_QEL_Abort(worker), -2004);
}

TEST(WorkerShutdown, ReleasingTheBridgeAbortsPendingJobs) {
  BridgeInitRecord init{1, 1};
  ASSERT_EQ(ZUL_QEL_Initialize(&init), 0);
  const std::size_t notes = Recorder::Get().notes.size();
  const int32_t worker = ZUL_QEL_RegisterWrapper("Worker", 0, nullptr);
  ASSERT_EQ(ZUL_QEL_RegisterNotifyCallback(worker, Recorder::Notify), 0);
  {
    Transaction t(worker);
    ASSERT_EQ(ZUL_QEL_CreateObject(worker, 0, nullptr, nullptr, 0, 0, 0), 0);
    EXPECT_EQ(Do(worker, "Start", [](Args& a) { a.Long(60000); }), "LONG 0");
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ZUL_QEL_Release(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(Recorder::Get().WaitForNote(notes + 1), "aborted worker1");
}

}  // namespace
}  // namespace zul::bridge::test

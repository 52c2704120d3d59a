// Callback registration, and callbacks made without the bridge's lock so that they may call back in.
#include "bridge_test_support.h"

namespace zul::bridge::test {
namespace {

using Callbacks = BridgeTest;

TEST_F(Callbacks, OutputRegistrationsAreCountedAndNotifyBelongsToOneWrapper) {
  const int32_t cookie = Create("Echo");
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(Recorder::Output), 0);
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(Recorder::Output), 0);
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(Recorder::OtherOutput), 0);
  EXPECT_EQ(Execute(cookie, "print, 1"), "1\nother: 1");  // once per callback
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(Recorder::Output), 0);
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(Recorder::OtherOutput), 0);
  EXPECT_EQ(Execute(cookie, "print, 2"), "2");
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(Recorder::Output), 0);
  EXPECT_EQ(Execute(cookie, "print, 3"), "");
  EXPECT_EQ(Outcome(ZUL_QEL_UnregisterOutputCallback(Recorder::Output)),
            "error -1002: The output callback is not registered.");
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterOutputCallback(nullptr)), "error -1002: No output callback given.");

  EXPECT_EQ(Outcome(ZUL_QEL_RegisterNotifyCallback(cookie, nullptr)),
            "error -1002: No notify callback given.");
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterNotifyCallback(7, Recorder::Notify)), "error -1003: Invalid cookie 7.");
  ASSERT_EQ(ZUL_QEL_RegisterNotifyCallback(cookie, Recorder::Notify), 0);
  EXPECT_EQ(Execute(cookie, "notify, 'a', ''"), "");
  ASSERT_EQ(ZUL_QEL_UnregisterNotifyCallback(cookie), 0);
  EXPECT_EQ(Execute(cookie, "notify, 'b', 'c'"), "");
  EXPECT_EQ(Recorder::Get().Lines(true), std::vector<std::string>{"a "});
}

// Calls into the bridge from inside a callback; a lock held across the callback would deadlock here.
int32_t reentrantCookie = 0;
std::string reentrantSeen;
void ReentrantOutput(int32_t cookie, const char*) {
  reentrantSeen +=
      std::string(ZUL_QEL_GetObjVariableName(cookie)) + " " + Do(reentrantCookie, "get LastEvent") + ";";
}

TEST_F(Callbacks, CallbacksMayCallTheBridge) {
  reentrantCookie = Create("Worker");
  reentrantSeen.clear();
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(ReentrantOutput), 0);
  {
    Transaction t(reentrantCookie);
    EXPECT_EQ(Do(reentrantCookie, "Run", [](Args& a) { a.Long(10); }), "LONG 10");
    EXPECT_EQ(ZUL_QEL_ExecuteString(reentrantCookie, "print, 1"), 0);
  }
  EXPECT_EQ(reentrantSeen, "worker1 LONG 0;worker1 LONG 0;");
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(ReentrantOutput), 0);
}

}  // namespace
}  // namespace zul::bridge::test

// Callback registration, and callbacks made without the bridge's lock so that they may call back in.
#include <string>

#include "testing/support.h"

namespace zul::testing {
namespace {

using Callbacks = BridgeTest;

int32_t seenCookie = 0;
void OtherOutput(int32_t cookie, const char*) {
  seenCookie = cookie;
}

TEST_F(Callbacks, OutputRegistrationsAreCountedAndNotifyBelongsToOneWrapper) {
  const int32_t cookie = Create("Echo");
  const int32_t other = Create("Echo", "calc");
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(RecordOutput), 0);
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(RecordOutput), 0);
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(OtherOutput), 0);
  EXPECT_EQ(Execute(other, "print, 1"), "1");  // once per distinct callback, with the caller's cookie
  EXPECT_EQ(seenCookie, other);
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(RecordOutput), 0);
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(OtherOutput), 0);
  EXPECT_EQ(Execute(cookie, "print, 2"), "2");
  EXPECT_EQ(seenCookie, other);
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(RecordOutput), 0);
  EXPECT_EQ(Execute(cookie, "print, 3"), "");
  EXPECT_EQ(Outcome(ZUL_QEL_UnregisterOutputCallback(RecordOutput)),
            "error -1002: The output callback is not registered.");
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterOutputCallback(nullptr)), "error -1002: No output callback given.");

  EXPECT_EQ(Outcome(ZUL_QEL_RegisterNotifyCallback(cookie, nullptr)),
            "error -1002: No notify callback given.");
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterNotifyCallback(7, RecordNote)), "error -1003: Invalid cookie 7.");
  ASSERT_EQ(ZUL_QEL_RegisterNotifyCallback(cookie, RecordNote), 0);
  EXPECT_EQ(Execute(other, "notify, 'other', 0"), "");  // no callback for that wrapper
  EXPECT_EQ(Execute(cookie, "notify, 'sum', 1 + 1"), "");
  ASSERT_EQ(ZUL_QEL_UnregisterNotifyCallback(cookie), 0);
  EXPECT_EQ(Execute(cookie, "notify, 'b', 'c'"), "");
  EXPECT_EQ(Recorded(true), std::vector<std::string>{"sum 2"});
}

// Calls into the bridge from inside a callback; a lock held across the callback would deadlock here.
std::string reentrantSeen;
void ReentrantOutput(int32_t cookie, const char*) {
  reentrantSeen += std::string(ZUL_QEL_GetObjVariableName(cookie)) + " " + Do(cookie, "get LastEvent") + ";";
}

TEST_F(Callbacks, CallbacksMayCallTheBridge) {
  const int32_t cookie = Create("Worker");
  reentrantSeen.clear();
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(ReentrantOutput), 0);
  {
    Transaction t(cookie);
    EXPECT_EQ(Do(cookie, "Run", {"LONG 10"}), "LONG 10");  // progress from inside the call
    EXPECT_EQ(ZUL_QEL_ExecuteString(cookie, "print, 1"), 0);
  }
  EXPECT_EQ(reentrantSeen, "worker1 LONG 0;worker1 LONG 0;");
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(ReentrantOutput), 0);
}

}  // namespace
}  // namespace zul::testing

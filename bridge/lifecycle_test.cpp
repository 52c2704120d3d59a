// Initialisation, wrappers, processes, objects, transactions and the per-thread last error.
#include <thread>

#include "bridge_test_support.h"

namespace zul::bridge::test {
namespace {

TEST(BridgeStartup, InitializeIsCheckedAndCounted) {
  const std::string notInitialized =
      "error -1001: The bridge is not initialised: call ZUL_QEL_Initialize first.";
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterWrapper("Echo", 0, nullptr)), notInitialized);
  EXPECT_EQ(Outcome(ZUL_QEL_Initialize(nullptr)),
            "error -1002: ZUL_QEL_Initialize needs an initialisation record.");
  BridgeInitRecord init{2, 1};
  EXPECT_EQ(Outcome(ZUL_QEL_Initialize(&init)),
            "error -1002: Unsupported interface version 2 in the initialisation record; this bridge speaks "
            "version 1.");
  init.field1 = 1;
  ASSERT_EQ(ZUL_QEL_Initialize(&init), 0);
  ASSERT_EQ(ZUL_QEL_Initialize(&init), 0);
  EXPECT_EQ(ZUL_QEL_Release(), 0);
  EXPECT_EQ(ZUL_QEL_RegisterWrapper("Echo", 0, nullptr), 1);  // still initialised once
  EXPECT_EQ(ZUL_QEL_Release(), 0);
  EXPECT_EQ(Outcome(ZUL_QEL_Release()), notInitialized);
  ASSERT_EQ(ZUL_QEL_Initialize(&init), 0);
  EXPECT_EQ(ZUL_QEL_RegisterWrapper("Echo", 0, nullptr), 1);  // a full release starts over
  EXPECT_EQ(ZUL_QEL_Release(), 0);
}

using Lifecycle = BridgeTest;

TEST_F(Lifecycle, CookiesCountUpAndClassNamesIgnoreCase) {
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterWrapper("matrix", 7, nullptr)), "1");
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterWrapper("TEXT", 0, "calc")), "2");
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterWrapper("Plot", 0, nullptr)),
            "error -1004: Unknown class 'Plot'; the classes are Matrix, Text, Echo and Worker.");
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterWrapper(nullptr, 0, nullptr)), "error -1004: No class name given.");
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseWrapper(2)), "0");
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseWrapper(2)), "error -1003: Invalid cookie 2.");
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterWrapper("Worker", 0, "")), "3");  // never reused
}

TEST_F(Lifecycle, ObjectsAreNamedPerClassAndProcess) {
  const int32_t a = Create("Echo");
  const int32_t b = Create("echo");
  EXPECT_STREQ(ZUL_QEL_GetObjVariableName(Create("Echo", "calc")), "echo1");
  EXPECT_EQ(Execute(a, "echo3 = 1"), "");
  EXPECT_STREQ(ZUL_QEL_GetObjVariableName(Create("Echo")), "echo4");  // echo3 is taken
  Transaction t(b);
  EXPECT_STREQ(ZUL_QEL_GetObjVariableName(b), "echo2");
  EXPECT_EQ(Outcome(ZUL_QEL_DestroyObject(b)), "0");
  const std::string noObject =
      "error -1010: Wrapper 2 (Echo) has no object: call ZUL_QEL_CreateObject first.";
  EXPECT_EQ(Outcome(ZUL_QEL_DestroyObject(b)), noObject);
  EXPECT_EQ(ZUL_QEL_GetObjVariableName(b), nullptr);
  EXPECT_EQ(Do(b, "Echo"), noObject);
  EXPECT_EQ(Outcome(ZUL_QEL_CreateObject(b, 0, nullptr, nullptr, 0, 0, 0)), "0");
  EXPECT_EQ(Outcome(ZUL_QEL_CreateObject(b, 0, nullptr, nullptr, 0, 0, 0)),
            "error -1010: Wrapper 2 already has the object echo5.");
  EXPECT_EQ(Outcome(ZUL_QEL_CallMethod(b, "Echo", -1, nullptr, nullptr, nullptr)),
            "error -1002: The argument count -1 is negative.");
  EXPECT_EQ(Outcome(ZUL_QEL_CallMethod(b, "Echo", 1, nullptr, nullptr, nullptr)),
            "error -1002: The argument list is null.");
}

TEST_F(Lifecycle, ObjectReferencesStayInsideTheirProcess) {
  const int32_t a = Create("Echo");
  const int32_t other = Create("Echo", "calc");
  const int32_t empty = Register("Echo");
  EXPECT_EQ(Outcome(ZUL_QEL_ObjRefCookie2Hvid(other, a)),
            "error -2003: Wrapper 1 belongs to the default ZUL process, not to ZUL process 'calc'.");
  EXPECT_EQ(Outcome(ZUL_QEL_ObjRefCookie2Hvid(a, 99)),
            "error -1003: Invalid cookie 99 of the referenced wrapper.");
  EXPECT_EQ(Outcome(ZUL_QEL_ObjRefCookie2Hvid(a, empty)),
            "error -1010: Wrapper 3 (Echo) has no object: call ZUL_QEL_CreateObject first.");
  EXPECT_EQ(Outcome(ZUL_QEL_ObjRefCookie2Hvid(a, a)), "1");
  EXPECT_EQ(Outcome(ZUL_QEL_ObjRefCookie2Hvid(other, other)), "2");
}

TEST_F(Lifecycle, ProcessesLiveUntilDestroyedUnused) {
  const int32_t cookie = Register("Echo", "calc");
  EXPECT_EQ(Outcome(ZUL_QEL_CreateZULProcess(nullptr)),
            "error -1005: The default ZUL process always exists.");
  EXPECT_EQ(Outcome(ZUL_QEL_CreateZULProcess("calc")), "error -1005: ZUL process 'calc' already exists.");
  EXPECT_EQ(Outcome(ZUL_QEL_DestroyZULProcess("")),
            "error -1005: The default ZUL process cannot be destroyed.");
  EXPECT_EQ(Outcome(ZUL_QEL_DestroyZULProcess("plot")), "error -1005: There is no ZUL process 'plot'.");
  EXPECT_EQ(Outcome(ZUL_QEL_DestroyZULProcess("calc")),
            "error -1005: ZUL process 'calc' still has 1 wrapper.");
  ASSERT_EQ(ZUL_QEL_BeginTransaction(cookie), 0);
  EXPECT_EQ(Outcome(ZUL_QEL_DestroyZULProcess("calc")), "error -2001: ZUL process 'calc' is in use.");
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseWrapper(cookie)), "0");  // inside its own transaction, which still ends
  EXPECT_EQ(Outcome(ZUL_QEL_EndTransaction(cookie)), "0");
  EXPECT_EQ(Outcome(ZUL_QEL_DestroyZULProcess("calc")), "0");
  EXPECT_EQ(Outcome(ZUL_QEL_CreateZULProcess("calc")), "0");
}

TEST_F(Lifecycle, WorkNeedsATransactionOfTheCallingThread) {
  const int32_t cookie = Create("Echo");
  const std::string none = "error -1007: No transaction is open on cookie 1 in this thread";
  EXPECT_EQ(Do(cookie, "TypeName"), none + ": call ZUL_QEL_BeginTransaction first.");
  EXPECT_EQ(Outcome(ZUL_QEL_EndTransaction(cookie)), none + ".");
  EXPECT_EQ(Outcome(ZUL_QEL_BeginTransaction(0)), "0");  // the bracket around a registration
  EXPECT_EQ(Outcome(ZUL_QEL_EndTransaction(0)), "0");
  Transaction t(cookie);
  std::thread([&] { EXPECT_EQ(Outcome(ZUL_QEL_EndTransaction(cookie)), none + "."); }).join();
}

TEST_F(Lifecycle, AProcessInsideAnotherThreadsTransactionIsBusy) {
  const int32_t a = Create("Echo");
  const int32_t b = Create("Echo");
  const int32_t elsewhere = Create("Echo", "calc");
  const std::string busy = "error -2001: The default ZUL process is busy in another thread's transaction.";
  {
    Transaction outer(a);
    Transaction nested(b);  // the same thread may nest
    std::thread([&] {
      EXPECT_EQ(Outcome(ZUL_QEL_BeginTransaction(b)), busy);
      EXPECT_EQ(Outcome(ZUL_QEL_ReleaseWrapper(a)), busy);
      Transaction free(elsewhere);
    }).join();
  }
  std::thread([&] { Transaction t(b); }).join();
}

TEST_F(Lifecycle, LastErrorIsPerThread) {
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseWrapper(41)), "error -1003: Invalid cookie 41.");
  std::thread([] {
    int32_t code = 1;
    EXPECT_EQ(ZUL_QEL_GetLastError(&code), nullptr);  // this thread has not failed yet
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Outcome(ZUL_QEL_RegisterWrapper("Plot", 0, nullptr)).substr(0, 11), "error -1004");
  }).join();
  EXPECT_EQ(ZUL_QEL_RegisterWrapper("Echo", 0, nullptr), 1);  // success leaves the last failure alone
  EXPECT_EQ(Outcome(-1003), "error -1003: Invalid cookie 41.");
}

TEST_F(Lifecycle, OnlyWorkersTakeWindowsAndEvents) {
  const int32_t worker = Create("Worker");
  const int32_t text = Create("Text");
  int window = 0;
  EXPECT_EQ(Outcome(ZUL_QEL_AttachObject(worker, &window)), "0");
  EXPECT_EQ(Outcome(ZUL_QEL_AttachObject(text, &window)),
            "error -1016: Text objects have no window to attach.");
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterIMSCallback(&window)), "0");
  EXPECT_EQ(Outcome(ZUL_QEL_UnregisterIMSCallback(&window)), "0");
  Transaction tw(worker);
  Transaction tt(text);
  EventRecord events[] = {{4}, {0}, {10}};
  EXPECT_EQ(Outcome(ZUL_QEL_OnEvent(text, &events[0])), "error -1016: Text objects do not handle events.");
  EXPECT_EQ(Outcome(ZUL_QEL_OnEvent(worker, &events[0])), "0");
  EXPECT_EQ(Outcome(ZUL_QEL_OnEvent(worker, &events[2])),
            "error -1016: Unknown event kind 10; the kinds are 1 to 9.");
  EXPECT_EQ(Outcome(ZUL_QEL_OnEvent(worker, &events[1])),
            "error -1016: Unknown event kind 0; the kinds are 1 to 9.");
  EXPECT_EQ(Do(worker, "get lastevent"), "LONG 4");
  EXPECT_EQ(Do(worker, "set LastEvent", [](Args& a) { a.Long(1); }),
            "error -1012: Worker.LastEvent is read-only.");
}

}  // namespace
}  // namespace zul::bridge::test

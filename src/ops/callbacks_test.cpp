// Output and notification callbacks through the exports, delivered from threads that the bridge
// double starts, as a bridge does.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ops_test_fixture.h"

namespace zul {
namespace {

using testing::Ascii;

using Callbacks = testing::OpsTest;

// What one client received; its functions run on the double's threads.
struct Received {
  std::vector<std::string> Texts() {
    std::lock_guard lock(mutex);
    return texts;
  }
  std::mutex mutex;
  std::vector<std::string> texts;  // "text", or "first|second"; a null BSTR reads "<null>"
  std::vector<UINT> lengths;
  bool onCallerThread = false;
  std::thread::id caller = std::this_thread::get_id();
};

// The BSTRs are the library's and live only for the call: everything is read here.
void OnOutput(BSTR text, void* userData) {
  auto& received = *static_cast<Received*>(userData);
  std::lock_guard lock(received.mutex);
  received.texts.push_back(Ascii(text));
  received.lengths.push_back(SysStringLen(text));
  received.onCallerThread = received.onCallerThread || std::this_thread::get_id() == received.caller;
}

void OnNotify(BSTR first, BSTR second, void* userData) {
  auto& received = *static_cast<Received*>(userData);
  std::lock_guard lock(received.mutex);
  received.texts.push_back(Ascii(first) + "|" + Ascii(second));
  received.onCallerThread = received.onCallerThread || std::this_thread::get_id() == received.caller;
}

using Texts = std::vector<std::string>;

TEST_F(Callbacks, OutputReachesOnlyItsOwnWrapperWithItsOwnUserValue) {
  const int32_t first = Register(601);
  const int32_t second = Register(602);
  Received toFirst, toSecond;
  Mark();
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterOutputCallback(first, OnOutput, &toFirst), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterOutputCallback(second, OnOutput, &toSecond), S_OK);
  EXPECT_EQ(Calls(), "RegisterOutputCallback RegisterOutputCallback") << "no transaction";
  EXPECT_EQ(bridge->OutputRegistrations(), 2);

  bridge->EmitOutputOnThread(first, "hello");
  bridge->EmitOutputOnThread(second, "world");
  bridge->EmitOutputOnThread(first, "");  // empty output is never delivered
  bridge->EmitOutputOnThread(first, nullptr);
  bridge->EmitOutputOnThread(603, "nobody's");
  EXPECT_EQ(toFirst.Texts(), Texts{"hello"});
  EXPECT_EQ(toFirst.lengths, std::vector<UINT>{5});
  EXPECT_EQ(toSecond.Texts(), Texts{"world"});
  EXPECT_FALSE(toFirst.onCallerThread || toSecond.onCallerThread);
}

TEST_F(Callbacks, NotificationsArriveAsTwoTextsNeverNull) {
  const int32_t cookie = Register(604);
  Received received;
  Mark();
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterNotifyCallback(cookie, OnNotify, &received), S_OK);
  EXPECT_EQ(Calls(), "RegisterNotifyCallback");
  EXPECT_EQ(CallsTo(BridgeEntry::kRegisterNotifyCallback).at(0)->cookie, cookie);

  bridge->EmitNotifyOnThread(cookie, "state", "ready");
  bridge->EmitNotifyOnThread(cookie, nullptr, "");
  bridge->EmitNotifyOnThread(cookie, "", nullptr);
  EXPECT_EQ(received.Texts(), (Texts{"state|ready", "|", "|"}));
  EXPECT_FALSE(received.onCallerThread);
}

TEST_F(Callbacks, CookiesBelowOneAreNeverDispatched) {
  Received received;
  for (const int32_t cookie : {0, -4}) {
    ASSERT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(cookie), S_OK);
    Mark();
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterOutputCallback(cookie, OnOutput, &received), S_OK);
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterNotifyCallback(cookie, OnNotify, &received), S_OK);
    EXPECT_EQ(Calls(), "RegisterOutputCallback RegisterNotifyCallback") << "the proxy's record is found";
    bridge->EmitOutputOnThread(cookie, "dropped");
    bridge->EmitNotifyOnThread(cookie, "dropped", "too");
    EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(cookie), S_OK);
  }
  EXPECT_EQ(received.Texts(), Texts{});
}

TEST_F(Callbacks, ANullCallbackOrAnUnknownCookieRegistersNothing) {
  const int32_t cookie = Register(605);
  Received received;
  Mark();
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterOutputCallback(cookie, nullptr, &received), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterNotifyCallback(cookie, nullptr, &received), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterOutputCallback(cookie + 5000, OnOutput, &received), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterNotifyCallback(cookie + 5000, OnNotify, &received), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterOutputCallback(cookie + 5000), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterNotifyCallback(cookie + 5000), S_OK);
  EXPECT_EQ(Calls(), "");
  EXPECT_EQ(bridge->OutputRegistrations(), 0);
}

TEST_F(Callbacks, UnregisteringOneWrapperHandsBackTheSharedTrampolineAndStopsOnlyItsDelivery) {
  const int32_t first = Register(606);
  const int32_t second = Register(607);
  Received toFirst, toSecond, replacement;
  ZUL_MSCOMPAL_RegisterOutputCallback(first, OnOutput, &toFirst);
  ZUL_MSCOMPAL_RegisterOutputCallback(second, OnOutput, &toSecond);
  ZUL_MSCOMPAL_RegisterNotifyCallback(first, OnNotify, &toFirst);
  Mark();
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterOutputCallback(first), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterNotifyCallback(first), S_OK);
  EXPECT_EQ(Calls(), "UnregisterOutputCallback UnregisterNotifyCallback");
  EXPECT_EQ(CallsTo(BridgeEntry::kUnregisterNotifyCallback).at(0)->cookie, first);
  EXPECT_EQ(bridge->OutputRegistrations(), 1) << "the double counts down only the trampoline it was given";

  bridge->EmitOutputOnThread(first, "gone");
  bridge->EmitOutputOnThread(second, "still");
  ZUL_MSCOMPAL_RegisterOutputCallback(second, OnOutput, &replacement);  // replaces the user value
  bridge->EmitOutputOnThread(second, "again");
  EXPECT_EQ(toFirst.Texts(), Texts{});
  EXPECT_EQ(toSecond.Texts(), Texts{"still"});
  EXPECT_EQ(replacement.Texts(), Texts{"again"});
}

}  // namespace
}  // namespace zul

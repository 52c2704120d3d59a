// Output and notification callbacks through the exports, delivered from threads that the bridge
// double starts, as a bridge does.
#include <mutex>
#include <thread>

#include "ops_test_fixture.h"
#ifndef _WIN32
#include "zul/host/test_hooks.h"
#endif

namespace zul::testing {
namespace {

// BSTRs alive in the process: the host's OLE Automation counts them, Windows' cannot be asked.
int64_t LiveBstrs() {
#ifdef _WIN32
  return 0;
#else
  return ZulHostTest_LiveAllocations(ZUL_HOST_TEST_BSTR);
#endif
}

using Callbacks = OpsTest;
using Texts = std::vector<std::string>;

// What one client received ("text", or "first|second"; a null BSTR reads "<null>"), on the double's
// threads. The BSTRs are the library's and live only for the call: everything is read here.
struct Received {
  Texts Get() {
    std::lock_guard lock(mutex);
    return texts;
  }
  static void Add(void* user, const std::string& text, UINT length) {
    auto& self = *static_cast<Received*>(user);
    std::lock_guard lock(self.mutex);
    self.texts.push_back(text), self.lengths.push_back(length);
    self.onCallerThread = self.onCallerThread || std::this_thread::get_id() == self.caller;
  }
  static void OnOutput(BSTR text, void* user) { Add(user, Ascii(text), SysStringLen(text)); }
  static void OnNotify(BSTR first, BSTR second, void* user) {
    Add(user, Ascii(first) + "|" + Ascii(second), 0);
  }
  std::mutex mutex;
  Texts texts;
  std::vector<UINT> lengths;
  bool onCallerThread = false;
  std::thread::id caller = std::this_thread::get_id();
};

// Notifications arrive as two texts, never null.
TEST_F(Callbacks, DeliveredOnlyToTheirOwnWrapperWithItsOwnUserValueUntilUnregistered) {
  const int32_t first = Register(601), second = Register(602);
  Received toFirst, toSecond, replacement;
  Mark();
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterOutputCallback(first, Received::OnOutput, &toFirst) |
                ZUL_MSCOMPAL_RegisterOutputCallback(second, Received::OnOutput, &toSecond) |
                ZUL_MSCOMPAL_RegisterNotifyCallback(first, Received::OnNotify, &toFirst),
            S_OK);
  EXPECT_EQ(bridge->OutputRegistrations(), 2);
  const int64_t liveBefore = LiveBstrs();
  for (const char* text : std::initializer_list<const char*>{"hello", "", nullptr})
    bridge->EmitOutputOnThread(first, text);  // empty: dropped
  bridge->EmitOutputOnThread(second, "world");
  bridge->EmitOutputOnThread(603, "nobody's");
  bridge->EmitNotifyOnThread(first, "state", "ready");
  bridge->EmitNotifyOnThread(first, nullptr, "");
  bridge->EmitNotifyOnThread(first, "", nullptr);
  EXPECT_EQ(toFirst.Get(), (Texts{"hello", "state|ready", "|", "|"}));
  EXPECT_EQ(toFirst.lengths.at(0), 5u);
  EXPECT_EQ(toSecond.Get(), Texts{"world"});
  EXPECT_EQ(LiveBstrs(), liveBefore) << "every BSTR handed to a client is freed once it returns";

  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterOutputCallback(first) | ZUL_MSCOMPAL_UnregisterNotifyCallback(first),
            S_OK);
  EXPECT_EQ(Calls(),
            "RegisterOutputCallback RegisterOutputCallback RegisterNotifyCallback "
            "UnregisterOutputCallback UnregisterNotifyCallback")
      << "no transaction";
  EXPECT_EQ(FirstCall(BridgeEntry::kRegisterNotifyCallback).cookie, first);
  EXPECT_EQ(FirstCall(BridgeEntry::kUnregisterNotifyCallback).cookie, first);
  EXPECT_EQ(bridge->OutputRegistrations(), 1) << "the double counts down only the trampoline it was given";
  bridge->EmitOutputOnThread(first, "gone");
  bridge->EmitNotifyOnThread(first, "gone", "too");
  bridge->EmitOutputOnThread(second, "still");
  ZUL_MSCOMPAL_RegisterOutputCallback(second, Received::OnOutput, &replacement);  // replaces the user value
  bridge->EmitOutputOnThread(second, "again");
  EXPECT_EQ(toFirst.Get().size(), 4u);
  EXPECT_EQ(toSecond.Get(), (Texts{"world", "still"}));
  EXPECT_EQ(replacement.Get(), Texts{"again"});
  EXPECT_FALSE(toFirst.onCallerThread || toSecond.onCallerThread);
}

TEST_F(Callbacks, NullCallbacksAndUnknownCookiesRegisterNothingAndCookiesBelowOneGetNothing) {
  const int32_t known = Register(605);
  Received received;
  const auto registerBoth = [&](int32_t cookie, bool null) {  // S_OK, or the bits of a failure
    return ZUL_MSCOMPAL_RegisterOutputCallback(cookie, null ? nullptr : Received::OnOutput, &received) |
           ZUL_MSCOMPAL_RegisterNotifyCallback(cookie, null ? nullptr : Received::OnNotify, &received);
  };
  Mark();
  EXPECT_EQ(registerBoth(known, true) | registerBoth(known + 5000, false), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterOutputCallback(known + 5000) |
                ZUL_MSCOMPAL_UnregisterNotifyCallback(known + 5000),
            S_OK);
  EXPECT_EQ(Calls(), "");
  EXPECT_EQ(bridge->OutputRegistrations(), 0);
  ASSERT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(0), S_OK);
  Mark();
  EXPECT_EQ(registerBoth(0, false), S_OK);
  EXPECT_EQ(Calls(), "RegisterOutputCallback RegisterNotifyCallback") << "the proxy's record is found";
  bridge->EmitOutputOnThread(0, "dropped");
  bridge->EmitNotifyOnThread(0, "dropped", "too");
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(0), S_OK);
  EXPECT_EQ(received.Get(), Texts{});
}

}  // namespace
}  // namespace zul::testing

// Output, notifications and events through the exports: who receives what, on which thread, and the failed
// event that is raised as _com_error (read back through the GCC callers' helper) with its diagnostic on
// standard output and on the wrapper.
#include <chrono>
#include <mutex>
#include <sstream>
#include <thread>

#include "ops_test_fixture.h"
#include "zul/pal_mscom_event.h"

namespace zul::testing {
namespace {

using Texts = std::vector<std::string>;

// What one client received ("text", or "first|second"); the BSTRs live only for the call.
struct Received {
  Texts Get() {
    std::lock_guard lock(mutex);
    return texts;
  }
  static void Add(void* user, const std::string& text) {
    auto& self = *static_cast<Received*>(user);
    std::lock_guard lock(self.mutex);
    self.texts.push_back(text);
    self.elsewhere = self.elsewhere || std::this_thread::get_id() != self.caller;
  }
  static void OnOutput(BSTR text, void* user) { Add(user, Ascii(text)); }
  static void OnNotify(BSTR first, BSTR second, void* user) { Add(user, Ascii(first) + "|" + Ascii(second)); }
  std::mutex mutex;
  Texts texts;
  bool elsewhere = false;  // some text came on another thread
  std::thread::id caller = std::this_thread::get_id();
};

using Callbacks = OpsTest;

TEST_F(Callbacks, EachWrapperGetsItsOwnUntilUnregistered) {
  const int32_t first = NewWrapper("Worker"), second = NewWrapper();
  Received toFirst, toSecond;
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterOutputCallback(first, Received::OnOutput, &toFirst) |
                ZUL_MSCOMPAL_RegisterOutputCallback(second, Received::OnOutput, &toSecond) |
                ZUL_MSCOMPAL_RegisterNotifyCallback(first, Received::OnNotify, &toFirst) |
                ZUL_MSCOMPAL_RegisterNotifyCallback(9999, Received::OnNotify, &toFirst) |
                ZUL_MSCOMPAL_RegisterOutputCallback(second, nullptr, &toFirst),
            S_OK);
  EXPECT_EQ(bridge->Calls(BridgeEntry::kRegisterNotifyCallback), 1) << "nor null nor unknown";
  EXPECT_EQ(ZUL_MSCOMPAL_ExecuteString(first, OLESTR("print, 'hello', 1")), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_ExecuteString(second, OLESTR("notify, 'a', ''")), S_OK) << "none registered";
  bridge->EmitOutput(first, ""), bridge->EmitOutput(first, nullptr), bridge->EmitOutput(0, "x");  // dropped
  bridge->EmitNotify(first, "a", nullptr), bridge->EmitNotify(0, "b", "c");
  uint32_t flag = ArgFlag::InOnly;
  Variant ms(VT_I4, 10);  // the job reports from a thread of the bridge
  EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(first, OLESTR("Start"), 1, &ms, &flag, nullptr), S_OK);
  for (int i = 0; i < 500 && toFirst.Get().size() < 5; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const Texts got = toFirst.Get();
  ASSERT_EQ(got.size(), 5u);
  const std::string worker = got[4].substr(5);  // the bridge names it
  EXPECT_EQ(got, (Texts{"hello 1", "a|", worker + ": 10 of 10 ms", "progress|" + worker + ": 10 of 10 ms",
                        "done|" + worker}));
  EXPECT_TRUE(toFirst.elsewhere);
  EXPECT_EQ(toSecond.Get(), Texts{});

  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterOutputCallback(first) | ZUL_MSCOMPAL_UnregisterNotifyCallback(first) |
                ZUL_MSCOMPAL_UnregisterNotifyCallback(9999),
            S_OK);
  EXPECT_EQ(bridge->Calls(BridgeEntry::kUnregisterNotifyCallback), 1);
  EXPECT_EQ(bridge->LastCookie(BridgeEntry::kUnregisterNotifyCallback), first);
  EXPECT_EQ(ZUL_MSCOMPAL_ExecuteString(first, OLESTR("print, 'gone'")) |
                ZUL_MSCOMPAL_ExecuteString(second, OLESTR("print, 'still'")),
            S_OK);
  bridge->EmitNotify(first, "gone", "too");
  EXPECT_EQ(toFirst.Get().size(), 5u);
  EXPECT_EQ(toSecond.Get(), Texts{"still"}) << "the other registration stays";
}

// "<hr> raised|<source>|<description>|<output>" of one delivery; a null text reads as an empty one.
std::string Deliver(int32_t cookie, int32_t kind) {
  EventRecord event{kind};
  std::ostringstream seen;
  ::testing::internal::CaptureStdout();
  IErrorInfo* info = nullptr;
  seen << std::hex << ZulOnEventCaught(cookie, &event, &info) << (info ? " raised|" : "||");
  if (info != nullptr) {
    BSTR source = nullptr, description = nullptr;
    info->GetSource(&source), info->GetDescription(&description), info->Release();
    const UniqueBstr owned[] = {UniqueBstr::Adopt(source), UniqueBstr::Adopt(description)};
    seen << (source ? Ascii(source) : "") << "|" << (description ? Ascii(description) : "");
  }
  seen << "|";
  for (const char c : ::testing::internal::GetCapturedStdout())
    if (c != '\r') seen << c;  // text-mode output on Windows
  return seen.str();
}

using Events = OpsTest;

TEST_F(Events, AFailedDeliveryRaisesWithEventAndClassNamedAndLeavesTheFullText) {
  const struct {
    const char* className;  // null: a proxy, on which the bridge is told to fail without a text
    int32_t kind;
    const char *event, *text;
  } rows[] = {
      {"Echo", 1, "OnMouseDown", "Echo objects do not handle events."},
      {"Worker", 0, "", "Unknown event kind 0; the kinds are 1 to 9."},
      {"Worker", 10, "OnUnknownEvent", "Unknown event kind 10; the kinds are 1 to 9."},
      {"Worker", -1, "OnUnknownEvent", "Unknown event kind -1; the kinds are 1 to 9."},
      {nullptr, 9, "OnScroll", ""},
  };
  for (const auto& row : rows) {
    const int32_t cookie = row.className ? NewWrapper(row.className) : 7777;
    const std::string source = "ERROR: Event '" + std::string(row.event) + "' : Tarrow wrapper object '" +
                               (row.className ? row.className : "") + "'";
    const std::string text = row.text, output = source + (text.empty() ? "\n" : ".\n" + text + "\n");
    SCOPED_TRACE(output);
    if (!row.className) ZUL_MSCOMPAL_CreateProxyWrapper(cookie);
    MarkBoth(cookie);
    if (!row.className) {
      bridge->Force(BridgeEntry::kBeginTransaction, 0), bridge->Force(BridgeEntry::kEndTransaction, 0);
      bridge->Force(BridgeEntry::kOnEvent, -1, -1, nullptr);
    }
    EXPECT_EQ(Deliver(cookie, row.kind), "8000ffff raised|" + source + "|" + text + "|" + output);
    EXPECT_EQ(LastError(cookie), output);
    EXPECT_EQ(LastError(0), kNone) << "the context's message is cleared";
    if (!row.className) ZUL_MSCOMPAL_DestroyProxyWrapper(cookie);
    bridge->Reset();
  }
}

TEST_F(Events, SuccessBusyAndNonPositiveCookiesAreAnsweredWithoutOutput) {
  const int32_t worker = NewWrapper("Worker");
  MarkBoth(worker);
  EXPECT_EQ(Deliver(worker, 7), "0|||");
  Variant last;
  EXPECT_EQ(ZUL_MSCOMPAL_GetProperty(worker, OLESTR("LastEvent"), &last), S_OK);
  EXPECT_EQ(last.lVal, 7);
  bridge->Force(BridgeEntry::kBeginTransaction, -1, ZUL_QEL_ERROR_BUSY, kText);
  EXPECT_EQ(Deliver(worker, 7), "1|||") << "S_FALSE: a busy object drops the event";
  EXPECT_EQ(Deliver(0, 7), "8000ffff|||");
  EXPECT_EQ(LastError(0), kInvalidCookie);
  EXPECT_EQ(LastError(worker), kEarlier);
}

}  // namespace
}  // namespace zul::testing

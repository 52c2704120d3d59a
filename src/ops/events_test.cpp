// Event delivery through its export: the return codes, and the failure that is raised as _com_error
// (the toolchain's on Windows, the platform layer's on the host) with its diagnostic on standard
// output and in the wrapper's error.
#include <gtest/gtest.h>

#include <string>

#include "ops_test_fixture.h"
#include "platform/ole.h"

namespace zul {
namespace {

using testing::Ascii;
using testing::kInvalidCookie;
using testing::kMarker;
using testing::kNone;
using testing::LastError;

using Events = testing::OpsTest;

std::string Text(BSTR text) {
  return text != nullptr ? Ascii(text) : "";  // a null text and an empty one alike
}

struct Delivery {
  HRESULT hr = S_OK;
  bool raised = false;
  std::string source;
  std::string description;
  std::string output;
};

Delivery Deliver(int32_t cookie, int32_t kind) {
  EventRecord event{kind};
  Delivery delivery;
  ::testing::internal::CaptureStdout();
  try {
    delivery.hr = ZUL_MSCOMPAL_OnEvent(cookie, &event);
  } catch (const _com_error& error) {
    delivery.raised = true;
    delivery.hr = error.Error();
    if (IErrorInfo* info = error.ErrorInfo()) {
      BSTR source = nullptr;
      BSTR description = nullptr;
      info->GetSource(&source);
      info->GetDescription(&description);
      delivery.source = Text(source);
      delivery.description = Text(description);
      SysFreeString(source);
      SysFreeString(description);
      info->Release();
    }
  } catch (...) {
    delivery.raised = true;
    delivery.hr = S_FALSE;
  }
  for (const char c : ::testing::internal::GetCapturedStdout()) {
    if (c != '\r') delivery.output += c;  // text-mode output on Windows
  }
  return delivery;
}

TEST_F(Events, AFailedDeliveryRaisesWithTheEventAndClassNamedAndLeavesTheFullText) {
  enum class Target { kRegistered, kNullClass, kProxy, kUnregistered };
  struct EventRow {
    int32_t kind;
    Target target;
    const char* bridgeText;
    const char* source;
    const char* output;
  } const rows[] = {
      {1, Target::kRegistered, "bad event", "ERROR: Event 'OnMouseDown' : Tarrow wrapper object 'Plot'",
       "ERROR: Event 'OnMouseDown' : Tarrow wrapper object 'Plot'.\nbad event\n"},
      {0, Target::kRegistered, "t", "ERROR: Event '' : Tarrow wrapper object 'Plot'",
       "ERROR: Event '' : Tarrow wrapper object 'Plot'.\nt\n"},
      {9, Target::kRegistered, "t", "ERROR: Event 'OnScroll' : Tarrow wrapper object 'Plot'",
       "ERROR: Event 'OnScroll' : Tarrow wrapper object 'Plot'.\nt\n"},
      {10, Target::kRegistered, "t", "ERROR: Event 'OnUnknownEvent' : Tarrow wrapper object 'Plot'",
       "ERROR: Event 'OnUnknownEvent' : Tarrow wrapper object 'Plot'.\nt\n"},
      {-1, Target::kRegistered, "t", "ERROR: Event 'OnUnknownEvent' : Tarrow wrapper object 'Plot'",
       "ERROR: Event 'OnUnknownEvent' : Tarrow wrapper object 'Plot'.\nt\n"},
      {4, Target::kRegistered, nullptr, "ERROR: Event 'OnKeyboard' : Tarrow wrapper object 'Plot'",
       "ERROR: Event 'OnKeyboard' : Tarrow wrapper object 'Plot'\n"},
      {5, Target::kRegistered, "", "ERROR: Event 'OnExpose' : Tarrow wrapper object 'Plot'",
       "ERROR: Event 'OnExpose' : Tarrow wrapper object 'Plot'\n"},
      {3, Target::kNullClass, "t", "ERROR: Event 'OnMouseMotion' : Tarrow wrapper object",
       "ERROR: Event 'OnMouseMotion' : Tarrow wrapper object.\nt\n"},
      {2, Target::kProxy, "t", "ERROR: Event 'OnMouseUp' : Tarrow wrapper object ''",
       "ERROR: Event 'OnMouseUp' : Tarrow wrapper object ''.\nt\n"},
      {6, Target::kUnregistered, "t", "ERROR: Event 'OnResize' : Tarrow wrapper object",
       "ERROR: Event 'OnResize' : Tarrow wrapper object.\nt\n"},
  };
  int32_t cookie = 500;
  for (const EventRow& row : rows) {
    SCOPED_TRACE(row.output);
    ++cookie;
    if (row.target == Target::kRegistered) Register(cookie, OLESTR("Plot"));
    if (row.target == Target::kNullClass) Register(cookie, nullptr);
    if (row.target == Target::kProxy) {
      ASSERT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(cookie), S_OK);
    }
    MarkContext();
    bridge->SetResult(Entry(BridgeEntry::kOnEvent), -1);
    Mark(-2001, row.bridgeText);

    const Delivery delivery = Deliver(cookie, row.kind);
    EXPECT_TRUE(delivery.raised);
    EXPECT_EQ(delivery.hr, E_UNEXPECTED);
    EXPECT_EQ(delivery.source, row.source);
    EXPECT_EQ(delivery.description, row.bridgeText != nullptr ? row.bridgeText : "");
    EXPECT_EQ(delivery.output, row.output);
    EXPECT_EQ(Calls(), "Begin OnEvent Error End");
    EXPECT_EQ(CallsTo(BridgeEntry::kGetLastError).at(0)->args[0], 0) << "asked without a code pointer";
    EXPECT_EQ(CallsTo(BridgeEntry::kOnEvent).at(0)->args[0], row.kind);
    EXPECT_EQ(LastError(cookie), row.target == Target::kUnregistered ? kNone : row.output);
    EXPECT_EQ(LastError(0), kNone) << "the context's message is cleared";
    if (row.target == Target::kProxy) ZUL_MSCOMPAL_DestroyProxyWrapper(cookie);
  }
}

TEST_F(Events, SuccessBusyAndNonPositiveCookiesAreAnsweredWithoutOutput) {
  struct ReturnRow {
    const char* name;
    int32_t cookieOffset;  // added to a registered cookie; <= 0 cookies are given directly
    bool refuseBegin;
    HRESULT hr;
    const char* calls;
    const char* contextText;
  } const rows[] = {
      {"delivered", 1, false, S_OK, "Begin OnEvent End", kMarker},
      {"busy object drops the event", 1, true, S_FALSE, "Begin", kMarker},
      {"cookie 0", 0, false, E_UNEXPECTED, "", kInvalidCookie},
      {"negative cookie", -4, false, E_UNEXPECTED, "", kInvalidCookie},
  };
  const int32_t cookie = Register(520);
  for (const ReturnRow& row : rows) {
    SCOPED_TRACE(row.name);
    bridge->SetResult(Entry(BridgeEntry::kBeginTransaction), 0);
    MarkContext();
    bridge->SetResult(Entry(BridgeEntry::kBeginTransaction), row.refuseBegin ? -2001 : 0);
    Mark(-2001, "busy");
    const Delivery delivery = Deliver(row.cookieOffset > 0 ? cookie : row.cookieOffset, 7);
    EXPECT_FALSE(delivery.raised);
    EXPECT_EQ(delivery.hr, row.hr);
    EXPECT_EQ(delivery.output, "");
    EXPECT_EQ(Calls(), row.calls);
    EXPECT_EQ(LastError(cookie), kNone);
    EXPECT_EQ(LastError(0), row.contextText);
  }
  bridge->SetResult(Entry(BridgeEntry::kBeginTransaction), 0);
}

}  // namespace
}  // namespace zul

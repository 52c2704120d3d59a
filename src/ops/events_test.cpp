// Event delivery through its export: the return codes, and the failure that is raised as _com_error
// (the toolchain's on Windows, the platform layer's on the host) with its diagnostic on standard
// output and in the wrapper's error.
#include "ops_test_fixture.h"
#include "platform/ole.h"

namespace zul::testing {
namespace {

using Events = OpsTest;

struct Delivery {
  HRESULT hr = S_OK;
  bool raised = false;
  std::string source, description, output;  // a null text reads as an empty one
};

std::string Take(BSTR text) {
  const UniqueBstr owned = UniqueBstr::Adopt(text);
  return text != nullptr ? Ascii(text) : "";
}

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
      BSTR source = nullptr, description = nullptr;
      info->GetSource(&source), info->GetDescription(&description), info->Release();
      delivery.source = Take(source), delivery.description = Take(description);
    }
  }
  for (const char c : ::testing::internal::GetCapturedStdout())
    if (c != '\r') delivery.output += c;  // text-mode output on Windows
  return delivery;
}

TEST_F(Events, AFailedDeliveryRaisesWithTheEventAndClassNamedAndLeavesTheFullText) {
  enum Target { kRegistered, kNullClass, kProxy, kUnregistered };
  const struct {
    int32_t kind;
    Target target;
    const char *bridgeText, *event, *object;  // the source is "ERROR: Event '<event>' : <object>"
  } rows[] = {
      {1, kRegistered, "bad event", "OnMouseDown", "Tarrow wrapper object 'Plot'"},
      {0, kRegistered, "t", "", "Tarrow wrapper object 'Plot'"},
      {9, kRegistered, "t", "OnScroll", "Tarrow wrapper object 'Plot'"},
      {10, kRegistered, "t", "OnUnknownEvent", "Tarrow wrapper object 'Plot'"},
      {-1, kRegistered, "t", "OnUnknownEvent", "Tarrow wrapper object 'Plot'"},
      {4, kRegistered, nullptr, "OnKeyboard", "Tarrow wrapper object 'Plot'"},
      {5, kRegistered, "", "OnExpose", "Tarrow wrapper object 'Plot'"},
      {3, kNullClass, "t", "OnMouseMotion", "Tarrow wrapper object"},
      {2, kProxy, "t", "OnMouseUp", "Tarrow wrapper object ''"},
      {6, kUnregistered, "t", "OnResize", "Tarrow wrapper object"},
  };
  int32_t cookie = 500;
  for (const auto& row : rows) {
    const std::string text = row.bridgeText != nullptr ? row.bridgeText : "";
    const std::string source = "ERROR: Event '" + std::string(row.event) + "' : " + row.object;
    const std::string output = source + (text.empty() ? "\n" : ".\n" + text + "\n");  // the full text
    SCOPED_TRACE(output);
    ++cookie;
    if (row.target == kProxy) {
      EXPECT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(cookie), S_OK);
    }
    if (row.target <= kNullClass) Register(cookie, row.target == kRegistered ? OLESTR("Plot") : nullptr);
    MarkContext();
    SetResult(BridgeEntry::kOnEvent, -1);
    Mark(-2001, row.bridgeText);
    const Delivery delivery = Deliver(cookie, row.kind);
    EXPECT_TRUE(delivery.raised);
    EXPECT_EQ(delivery.hr, E_UNEXPECTED);
    EXPECT_EQ(delivery.source, source);
    EXPECT_EQ(delivery.description, text);
    EXPECT_EQ(delivery.output, output);
    EXPECT_EQ(Calls(), "Begin OnEvent Error End");
    EXPECT_EQ(FirstCall(BridgeEntry::kGetLastError).args[0], 0) << "asked without a code pointer";
    EXPECT_EQ(FirstCall(BridgeEntry::kOnEvent).args[0], row.kind);
    EXPECT_EQ(LastError(cookie), row.target == kUnregistered ? kNone : output);
    EXPECT_EQ(LastError(0), kNone) << "the context's message is cleared";
    if (row.target == kProxy) ZUL_MSCOMPAL_DestroyProxyWrapper(cookie);
  }
}

TEST_F(Events, SuccessBusyAndNonPositiveCookiesAreAnsweredWithoutOutput) {
  const int32_t registered = Register(520);
  const struct {
    int32_t cookie;
    bool refuseBegin;
    HRESULT hr;
    const char *calls, *contextText;
  } rows[] = {
      {registered, false, S_OK, "Begin OnEvent End", kMarker},
      {registered, true, S_FALSE, "Begin", kMarker},  // a busy object drops the event
      {0, false, E_UNEXPECTED, "", kInvalidCookie},
      {-4, false, E_UNEXPECTED, "", kInvalidCookie},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.cookie << ": " << row.calls);
    SetResult(BridgeEntry::kBeginTransaction, 0);
    MarkContext();
    SetResult(BridgeEntry::kBeginTransaction, row.refuseBegin ? -2001 : 0);
    Mark(-2001, "busy");
    const Delivery delivery = Deliver(row.cookie, 7);
    EXPECT_FALSE(delivery.raised);
    EXPECT_EQ(delivery.hr, row.hr);
    EXPECT_EQ(delivery.output, "");
    EXPECT_EQ(Calls(), row.calls);
    EXPECT_EQ(LastError(registered), kNone);
    EXPECT_EQ(LastError(0), row.contextText);
  }
  SetResult(BridgeEntry::kBeginTransaction, 0);
}

}  // namespace
}  // namespace zul::testing

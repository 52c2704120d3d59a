// Event delivery through its export: the return codes, and the failure that is raised as _com_error
// (the toolchain's on Windows, the platform layer's on the host) with its diagnostic on standard
// output and in the wrapper's error.
#include <sstream>

#include "ops_test_fixture.h"
#include "platform/ole.h"

namespace zul::testing {
namespace {

using Events = OpsTest;

// "<hr> raised|<source>|<description>|<output>" of one delivery; a null text reads as an empty one.
std::string Deliver(int32_t cookie, int32_t kind) {
  EventRecord event{kind};
  std::ostringstream seen;
  ::testing::internal::CaptureStdout();
  try {
    seen << std::hex << ZUL_MSCOMPAL_OnEvent(cookie, &event) << "||";
  } catch (const _com_error& error) {
    seen << std::hex << error.Error() << " raised|";
    BSTR source = nullptr, description = nullptr;
    if (IErrorInfo* info = error.ErrorInfo())
      info->GetSource(&source), info->GetDescription(&description), info->Release();
    const UniqueBstr owned[] = {UniqueBstr::Adopt(source), UniqueBstr::Adopt(description)};
    seen << (source ? Ascii(source) : "") << "|" << (description ? Ascii(description) : "");
  }
  seen << "|";
  for (const char c : ::testing::internal::GetCapturedStdout())
    if (c != '\r') seen << c;  // text-mode output on Windows
  return seen.str();
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
    if (row.target == kProxy) ZUL_MSCOMPAL_CreateProxyWrapper(cookie);
    if (row.target <= kNullClass) Register(cookie, row.target == kRegistered ? OLESTR("Plot") : nullptr);
    MarkContext();
    SetResult(BridgeEntry::kOnEvent, -1);
    Mark(-2001, row.bridgeText);
    EXPECT_EQ(Deliver(cookie, row.kind), "8000ffff raised|" + source + "|" + text + "|" + output);
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
    const char *answer, *calls, *contextText;
  } rows[] = {
      {registered, false, "0|||", "Begin OnEvent End", kMarker},
      {registered, true, "1|||", "Begin", kMarker},  // S_FALSE: a busy object drops the event
      {0, false, "8000ffff|||", "", kInvalidCookie},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.answer);
    SetResult(BridgeEntry::kBeginTransaction, 0);
    MarkContext();
    SetResult(BridgeEntry::kBeginTransaction, row.refuseBegin ? -2001 : 0);
    Mark(-2001, "busy");
    EXPECT_EQ(Deliver(row.cookie, 7), row.answer);
    EXPECT_EQ(Calls(), row.calls);
    EXPECT_EQ(LastError(registered), kNone);
    EXPECT_EQ(LastError(0), row.contextText);
  }
  SetResult(BridgeEntry::kBeginTransaction, 0);
}

}  // namespace
}  // namespace zul::testing

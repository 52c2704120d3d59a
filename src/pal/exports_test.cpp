#include "zul/pal_mscom.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <string>

#include "bstr_util.h"
#include "error/strings.h"
#include "pal/module.h"

namespace zul {
namespace {

using testing::Ascii;
using testing::MessageOf;

void NotifyStub(BSTR, BSTR, void*) {}
void OutputStub(BSTR, void*) {}

struct GatedExport {
  const char* name;
  std::function<HRESULT()> call;
};

// Every export that checks the attach flag, called with arguments that would otherwise do work.
std::vector<GatedExport> GatedExports(BSTR* out, VARIANT* variant, int32_t* cookie, EventRecord* event) {
  uint32_t* flags = nullptr;
  return {
      {"Abort", [] { return ZUL_MSCOMPAL_Abort(1); }},
      {"CallMethod", [=] { return ZUL_MSCOMPAL_CallMethod(1, OLESTR("m"), 0, nullptr, flags, variant); }},
      {"CreateObject", [=] { return ZUL_MSCOMPAL_CreateObject(1, 0, nullptr, flags, 0, 0, 0); }},
      {"CreateProxyWrapper", [] { return ZUL_MSCOMPAL_CreateProxyWrapper(1); }},
      {"DestroyObject", [] { return ZUL_MSCOMPAL_DestroyObject(1); }},
      {"DestroyProxyWrapper", [] { return ZUL_MSCOMPAL_DestroyProxyWrapper(1); }},
      {"ExecuteString", [] { return ZUL_MSCOMPAL_ExecuteString(1, OLESTR("x = 1")); }},
      {"GetZULVariable", [=] { return ZUL_MSCOMPAL_GetZULVariable(1, OLESTR("x"), variant); }},
      {"GetLastError", [=] { return ZUL_MSCOMPAL_GetLastError(0, out); }},
      {"GetObjClassName", [=] { return ZUL_MSCOMPAL_GetObjClassName(1, out); }},
      {"GetObjVariableName", [=] { return ZUL_MSCOMPAL_GetObjVariableName(1, out); }},
      {"GetProcNameFromCookie", [=] { return ZUL_MSCOMPAL_GetProcNameFromCookie(1, out); }},
      {"GetProperty", [=] { return ZUL_MSCOMPAL_GetProperty(1, OLESTR("p"), variant); }},
      {"OnEvent", [=] { return ZUL_MSCOMPAL_OnEvent(1, event); }},
      {"RegisterNotifyCallback", [] { return ZUL_MSCOMPAL_RegisterNotifyCallback(1, NotifyStub, nullptr); }},
      {"RegisterOutputCallback", [] { return ZUL_MSCOMPAL_RegisterOutputCallback(1, OutputStub, nullptr); }},
      {"RegisterWrapper", [=] { return ZUL_MSCOMPAL_RegisterWrapper(OLESTR("C"), 0, OLESTR("P"), cookie); }},
      {"ReleaseWrapper", [] { return ZUL_MSCOMPAL_ReleaseWrapper(1); }},
      {"SetZULVariable", [=] { return ZUL_MSCOMPAL_SetZULVariable(1, OLESTR("x"), *variant); }},
      {"SetProperty", [=] { return ZUL_MSCOMPAL_SetProperty(1, OLESTR("p"), 0, nullptr, flags); }},
      {"UnregisterNotifyCallback", [] { return ZUL_MSCOMPAL_UnregisterNotifyCallback(1); }},
      {"UnregisterOutputCallback", [] { return ZUL_MSCOMPAL_UnregisterOutputCallback(1); }},
  };
}

class DetachedModule : public ::testing::Test {
 protected:
  void SetUp() override { ProcessDetach(); }
  void TearDown() override { ProcessAttach(); }
};

TEST_F(DetachedModule, EveryGatedExportAnswersEFailAndTouchesNothing) {
  Context().lastError.SetMessage("context text");
  Context().lastError.SetCode(-55);
  BSTR sentinel = reinterpret_cast<BSTR>(0x10);
  BSTR out = sentinel;
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = VT_I4;
  variant.lVal = 99;
  int32_t cookie = -77;
  EventRecord event{1};

  const auto exports = GatedExports(&out, &variant, &cookie, &event);
  ASSERT_EQ(exports.size(), 22u);
  for (const GatedExport& gated : exports) {
    SCOPED_TRACE(gated.name);
    EXPECT_EQ(gated.call(), E_FAIL);
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(variant.vt, VT_I4);
    EXPECT_EQ(variant.lVal, 99);
    EXPECT_EQ(cookie, -77);
    EXPECT_EQ(Context().lastError.Code(), -55);
    EXPECT_EQ(MessageOf(Context().lastError), "context text");
  }
}

TEST_F(DetachedModule, InitializeReleaseAndCreateGuidHaveNoGate) {
  EXPECT_NE(ZUL_MSCOMPAL_Initialize(), E_FAIL);
  EXPECT_EQ(ZUL_MSCOMPAL_Release(), S_OK);
  EXPECT_EQ(std::strlen(ZUL_MSCOMPAL_CreateGUID()), 36u);
}

TEST(Exports, CallbackExportsAnswerSOkOnceAttached) {
  ASSERT_TRUE(IsAttached());
  // Unknown cookie and null callbacks: nothing is registered, and the caller is not told.
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterNotifyCallback(12345, nullptr, nullptr), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterOutputCallback(12345, OutputStub, nullptr), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterNotifyCallback(12345), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterOutputCallback(12345), S_OK);
}

TEST(Exports, GetLastErrorReadsTheContextThroughTheGate) {
  Context().lastError.SetMessage("Invalid cookie.  Object has not been created.");
  BSTR message = nullptr;
  ASSERT_EQ(ZUL_MSCOMPAL_GetLastError(0, &message), S_OK);
  UniqueBstr owned = UniqueBstr::Adopt(message);
  EXPECT_EQ(Ascii(message), "Invalid cookie.  Object has not been created.");
  EXPECT_EQ(ZUL_MSCOMPAL_GetLastError(0, nullptr), E_POINTER);
}

TEST(CreateGuid, ThirtySixLowerCaseHexDigitsAndFourHyphensInOneReusedBuffer) {
  const char* first = ZUL_MSCOMPAL_CreateGUID();
  const std::string firstText = first;
  const char* second = ZUL_MSCOMPAL_CreateGUID();
  EXPECT_EQ(first, second) << "one process-wide buffer";
  EXPECT_NE(firstText, std::string(second)) << "the first text is overwritten by a fresh GUID";

  for (const std::string& text : {firstText, std::string(second)}) {
    SCOPED_TRACE(text);
    ASSERT_EQ(text.size(), 36u);
    for (size_t i = 0; i < text.size(); ++i) {
      if (i == 8 || i == 13 || i == 18 || i == 23) {
        EXPECT_EQ(text[i], '-');
      } else {
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(text[i])) || (text[i] >= 'a' && text[i] <= 'f'));
      }
    }
  }
}

}  // namespace
}  // namespace zul

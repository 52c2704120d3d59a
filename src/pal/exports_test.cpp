#include "zul/pal_mscom.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "bstr_util.h"
#include "error/strings.h"
#include "pal/module.h"

namespace zul {
namespace {

void NotifyStub(BSTR, BSTR, void*) {}
void OutputStub(BSTR, void*) {}

class DetachedModule : public ::testing::Test {
 protected:
  void SetUp() override { ProcessDetach(); }
  void TearDown() override { ProcessAttach(); }
};

// Every export that checks the attach flag, called with arguments that would otherwise do work.
TEST_F(DetachedModule, EveryGatedExportAnswersEFailAndTouchesNothing) {
  Context().lastError.SetMessage("context text"), Context().lastError.SetCode(-55);
  BSTR const sentinel = reinterpret_cast<BSTR>(0x10);
  BSTR out = sentinel;
  VARIANT v{};
  v.vt = VT_I4, v.lVal = 99;
  int32_t cookie = -77;
  EventRecord event{1};
  uint32_t* flags = nullptr;
  const std::pair<const char*, std::function<HRESULT()>> exports[] = {
      {"Abort", [] { return ZUL_MSCOMPAL_Abort(1); }},
      {"CallMethod", [&] { return ZUL_MSCOMPAL_CallMethod(1, OLESTR("m"), 0, nullptr, flags, &v); }},
      {"CreateObject", [&] { return ZUL_MSCOMPAL_CreateObject(1, 0, nullptr, flags, 0, 0, 0); }},
      {"CreateProxyWrapper", [] { return ZUL_MSCOMPAL_CreateProxyWrapper(1); }},
      {"DestroyObject", [] { return ZUL_MSCOMPAL_DestroyObject(1); }},
      {"DestroyProxyWrapper", [] { return ZUL_MSCOMPAL_DestroyProxyWrapper(1); }},
      {"ExecuteString", [] { return ZUL_MSCOMPAL_ExecuteString(1, OLESTR("x = 1")); }},
      {"GetZULVariable", [&] { return ZUL_MSCOMPAL_GetZULVariable(1, OLESTR("x"), &v); }},
      {"GetLastError", [&] { return ZUL_MSCOMPAL_GetLastError(0, &out); }},
      {"GetObjClassName", [&] { return ZUL_MSCOMPAL_GetObjClassName(1, &out); }},
      {"GetObjVariableName", [&] { return ZUL_MSCOMPAL_GetObjVariableName(1, &out); }},
      {"GetProcNameFromCookie", [&] { return ZUL_MSCOMPAL_GetProcNameFromCookie(1, &out); }},
      {"GetProperty", [&] { return ZUL_MSCOMPAL_GetProperty(1, OLESTR("p"), &v); }},
      {"OnEvent", [&] { return ZUL_MSCOMPAL_OnEvent(1, &event); }},
      {"RegisterNotifyCallback", [] { return ZUL_MSCOMPAL_RegisterNotifyCallback(1, NotifyStub, nullptr); }},
      {"RegisterOutputCallback", [] { return ZUL_MSCOMPAL_RegisterOutputCallback(1, OutputStub, nullptr); }},
      {"RegisterWrapper", [&] { return ZUL_MSCOMPAL_RegisterWrapper(OLESTR("C"), 0, OLESTR("P"), &cookie); }},
      {"ReleaseWrapper", [] { return ZUL_MSCOMPAL_ReleaseWrapper(1); }},
      {"SetZULVariable", [&] { return ZUL_MSCOMPAL_SetZULVariable(1, OLESTR("x"), v); }},
      {"SetProperty", [&] { return ZUL_MSCOMPAL_SetProperty(1, OLESTR("p"), 0, nullptr, flags); }},
      {"UnregisterNotifyCallback", [] { return ZUL_MSCOMPAL_UnregisterNotifyCallback(1); }},
      {"UnregisterOutputCallback", [] { return ZUL_MSCOMPAL_UnregisterOutputCallback(1); }},
  };
  for (const auto& [name, call] : exports) {
    SCOPED_TRACE(name);
    EXPECT_EQ(call(), E_FAIL);
    EXPECT_TRUE(out == sentinel && v.vt == VT_I4 && v.lVal == 99 && cookie == -77) << "an argument changed";
    EXPECT_EQ(Context().lastError.Code(), -55);
    EXPECT_EQ(testing::MessageOf(Context().lastError), "context text");
  }
}

TEST_F(DetachedModule, InitializeReleaseAndCreateGuidHaveNoGate) {
  EXPECT_NE(ZUL_MSCOMPAL_Initialize(), E_FAIL);
  EXPECT_EQ(ZUL_MSCOMPAL_Release(), S_OK);
  const char* first = ZUL_MSCOMPAL_CreateGUID();
  const std::string firstText = first;
  EXPECT_EQ(ZUL_MSCOMPAL_CreateGUID(), first) << "one process-wide buffer, overwritten by a fresh GUID";
  for (const std::string& text : {firstText, std::string(first)}) {
    std::string shape;
    for (const char c : text)
      shape += c == '-' ? '-' : c != 0 && std::strchr("0123456789abcdef", c) ? 'x' : '?';
    EXPECT_EQ(shape, "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx") << text;
  }
  EXPECT_NE(firstText, first);
}

}  // namespace
}  // namespace zul

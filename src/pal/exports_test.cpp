#include "zul/pal_mscom.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "bstr_util.h"
#include "pal/module.h"

namespace zul {
namespace {

std::string ContextError() {
  return std::to_string(Context().lastError.Code()) + " " + testing::MessageOf(Context().lastError);
}

// After process detach the gates (of the operations, the callbacks and the event) answer E_FAIL and touch
// nothing: neither the arguments nor the context's last error. Initialize, Release and CreateGUID have none.
TEST(Exports, TheGatesOfADetachedModule) {
  ProcessDetach();
  Context().lastError.SetMessage("context text"), Context().lastError.SetCode(-55);
  int32_t cookie = -77;
  EventRecord event{1};
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(OLESTR("C"), 0, OLESTR("P"), &cookie), E_FAIL);
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterOutputCallback(1), E_FAIL);
  EXPECT_EQ(ZUL_MSCOMPAL_OnEvent(1, &event), E_FAIL);
  EXPECT_EQ(cookie, -77);
  EXPECT_EQ(ContextError(), "-55 context text");
  EXPECT_EQ(ZUL_MSCOMPAL_Release(), S_OK);
  EXPECT_TRUE(ZUL_MSCOMPAL_Initialize() == S_OK || ContextError() != "-55 context text");
  const char* guid = ZUL_MSCOMPAL_CreateGUID();
  const std::string first = guid;
  EXPECT_EQ(ZUL_MSCOMPAL_CreateGUID(), guid) << "one buffer, overwritten by a fresh GUID";
  ProcessAttach();
  for (const std::string& text : {first, std::string(guid)}) {
    std::string shape;
    for (const char c : text) shape += c == '-' ? '-' : std::isxdigit(c) && !std::isupper(c) ? 'x' : '?';
    EXPECT_EQ(shape, "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx") << text;
  }
  EXPECT_NE(first, guid);
}

}  // namespace
}  // namespace zul

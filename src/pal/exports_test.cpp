#include "zul/pal_mscom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
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
  EXPECT_EQ(ContextError() + " " + std::to_string(cookie), "-55 context text -77");
  EXPECT_EQ(ZUL_MSCOMPAL_Release(), S_OK);
  EXPECT_TRUE(ZUL_MSCOMPAL_Initialize() == S_OK || ContextError() != "-55 context text");
  const std::string first = ZUL_MSCOMPAL_CreateGUID();
  const char* second = ZUL_MSCOMPAL_CreateGUID();
  ProcessAttach();
  EXPECT_TRUE(std::regex_match(first, std::regex("[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}"))) << first;
  EXPECT_NE(first, second);
  EXPECT_EQ(ZUL_MSCOMPAL_CreateGUID(), second) << "one buffer, overwritten by a fresh GUID";
  // Every byte printed once: a random byte or pair of bytes agrees with the one before it 1 time in 256 or
  // fewer, so never in all of 8 GUIDs.
  std::map<std::pair<size_t, size_t>, int> repeats;
  for (int i = 0; i < 8; ++i) {
    std::string hex = ZUL_MSCOMPAL_CreateGUID();
    hex.erase(std::remove(hex.begin(), hex.end(), '-'), hex.end());
    for (size_t width = 2; width <= 4; width += 2) {
      for (size_t at = width; at + width <= hex.size(); at += 2)
        repeats[{width, at}] += hex.compare(at, width, hex, at - width, width) == 0;
    }
  }
  for (const auto& [where, count] : repeats)
    EXPECT_LT(count, 8) << where.first << " digits at " << where.second;
}

}  // namespace
}  // namespace zul

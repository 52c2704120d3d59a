// The library as loaded by a client: attached by the loader, with the context constructed before.
#include "zul/pal_mscom.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(LoadedModule, IsAttachedWithAnEmptyContextMessage) {
  BSTR message = reinterpret_cast<BSTR>(0x1);
  ASSERT_EQ(ZUL_MSCOMPAL_GetLastError(0, &message), S_OK);
  EXPECT_EQ(message, nullptr);
  EXPECT_EQ(ZUL_MSCOMPAL_GetLastError(0, nullptr), E_POINTER);
}

TEST(LoadedModule, CallbackExportsPassTheGate) {
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterOutputCallback(1), S_OK);
}

TEST(LoadedModule, CreateGuidNeedsNoBridge) {
  const char* text = ZUL_MSCOMPAL_CreateGUID();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::strlen(text), 36u);
}

}  // namespace

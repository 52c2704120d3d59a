// The library as loaded by a client: attached by the loader, with the context constructed before.
#include "zul/pal_mscom.h"

#include <gtest/gtest.h>

#include <string>

#include "bridge_double_client.h"

namespace {

TEST(LoadedModule, IsAttachedWithAnEmptyContextMessageAndNeedsNoBridgeForAGuid) {
  BSTR message = reinterpret_cast<BSTR>(0x1);
  ASSERT_EQ(ZUL_MSCOMPAL_GetLastError(0, &message), S_OK);
  EXPECT_EQ(message, nullptr);
  EXPECT_EQ(ZUL_MSCOMPAL_GetLastError(0, nullptr), E_POINTER);
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterOutputCallback(1), S_OK) << "past the gate";
  EXPECT_EQ(std::string(ZUL_MSCOMPAL_CreateGUID()).size(), 36u);
}

// The one exception the library raises on purpose crosses the module boundary to its client.
TEST(LoadedModule, FailedEventReachesTheClientAsComError) {
  ASSERT_EQ(ZUL_MSCOMPAL_Initialize(), S_OK);
  zul::testing::BridgeDouble& bridge = zul::testing::LoadedBridgeDouble();
  bridge.SetResult(static_cast<int>(zul::BridgeEntry::kOnEvent), -1);
  bridge.SetLastError(-1, "no window");
  EventRecord event{1};
  HRESULT raised = S_OK;
  ::testing::internal::CaptureStdout();
  try {
    ZUL_MSCOMPAL_OnEvent(5, &event);
  } catch (const _com_error& error) {
    raised = error.Error();
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout().rfind("ERROR: Event 'OnMouseDown'", 0), 0u);
  EXPECT_EQ(raised, E_UNEXPECTED);
  bridge.Reset();
}

}  // namespace

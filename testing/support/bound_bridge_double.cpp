#include <gtest/gtest.h>

#include "bridge_double_client.h"
#include "loader/binding.h"
#include "pal/module.h"

namespace zul::testing {

BridgeDouble& BoundBridgeDouble() {
  EXPECT_TRUE(EnsureBridgeLoaded(Context().lastError)) << "cannot bind the bridge double";
  BridgeDouble& bridge = LoadedBridgeDouble();
  if (bridge.Reset != nullptr) bridge.Reset();
  return bridge;
}

}  // namespace zul::testing

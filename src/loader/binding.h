// The binding of the bridge library: its module handle and its resolved entry points.
#pragma once

#include "error/error_state.h"
#include "loader/bridge_entries.h"
#include "platform/ole.h"

namespace zul {

struct BridgeBinding {
  HMODULE module = nullptr;
  BridgeEntries entries;
};

// The process-wide binding.
inline BridgeBinding g_bridge;

// Resolves every entry of the table from module in table order, storing each as it comes. Returns
// the index of the first entry that cannot be resolved, or -1 when all are.
int ResolveBridgeEntries(HMODULE module, BridgeEntries& entries) noexcept;

// Copies the bridge's last error into state (its code, and its text or a null message) and returns
// MapBridgeError of that code. Throws BstrFailure when the text cannot be stored.
HRESULT CaptureBridgeError(ErrorState& state, ErrorState& contextError);

}  // namespace zul

// The binding of the bridge library: its module handle and its resolved entry points.
#pragma once

#include <atomic>

#include "error/error_state.h"
#include "loader/bridge_entries.h"
#include "platform/ole.h"

namespace zul {

struct BridgeBinding {
  // Freed by ReleaseBridge only: at process exit the system unloads the bridge, not our destructors.
  HMODULE module = nullptr;
  BridgeEntries entries;
  // Published with release ordering once module and entries are set; the fast path's only test.
  std::atomic<bool> bound{false};
};

// The process-wide binding.
inline BridgeBinding g_bridge;

// Raised once per context constructed, lowered by ReleaseBridge; may go negative.
inline std::atomic<int32_t> g_instanceCounter{0};

// Makes sure the bridge is loaded, all 30 entries are resolved and ZUL_QEL_Initialize has run once.
// False after storing the reason in the context's state. Concurrent first callers wait for one
// binding. A failed initialisation still binds: it is reported once and not retried.
// Throws BstrFailure when a message cannot be stored.
bool EnsureBridgeLoaded(ErrorState& contextError);

// Lowers the instance counter; when it reaches 0 and the bridge is loaded, releases and unloads it.
void ReleaseBridge() noexcept;

// Resolves every entry of the table from module in table order, storing each as it comes. Returns
// the index of the first entry that cannot be resolved, or -1 when all are.
int ResolveBridgeEntries(HMODULE module, BridgeEntries& entries) noexcept;

// Copies the bridge's last error into state (its code, and its text or a null message) and returns
// MapBridgeError of that code. Throws BstrFailure when the text cannot be stored.
HRESULT CaptureBridgeError(ErrorState& state, ErrorState& contextError);

}  // namespace zul

// BSTR and SAFEARRAY allocations, counted for the test hooks (test_hooks.h), which alone can make one fail.
#pragma once

#include <atomic>
#include <cstdint>

namespace zul::host {

enum class Allocation : int32_t { kBstr = 0, kSafeArray = 1 };
inline constexpr int kAllocationKinds = 2;

struct AllocationCounts {
  std::atomic<int64_t> failCountdown;  // the attempt that takes it from 1 to 0 fails; 0: none
  std::atomic<int64_t> attempts;       // failed ones included
  std::atomic<int64_t> live;           // made and not yet freed
};
extern AllocationCounts g_allocationCounts[kAllocationKinds];  // indexed by Allocation

// False for the allocation that a test chose to fail; counts one attempt of kind either way.
bool AllocationAllowed(Allocation kind) noexcept;
// One more (delta 1) or one fewer (delta -1) allocation alive.
void CountLive(Allocation kind, int64_t delta) noexcept;

}  // namespace zul::host

#include "allocation_counts.h"

namespace zul::host {

AllocationCounts g_allocationCounts[kAllocationKinds];

bool AllocationAllowed(Allocation kind) noexcept {
  AllocationCounts& counts = g_allocationCounts[static_cast<int>(kind)];
  counts.attempts.fetch_add(1, std::memory_order_relaxed);
  int64_t left = counts.failCountdown.load(std::memory_order_relaxed);
  // Only the call that takes the count from 1 to 0 fails, also when threads race.
  while (left > 0) {
    if (counts.failCountdown.compare_exchange_weak(left, left - 1)) return left != 1;
  }
  return true;
}

void CountLive(Allocation kind, int64_t delta) noexcept {
  g_allocationCounts[static_cast<int>(kind)].live.fetch_add(delta, std::memory_order_relaxed);
}

}  // namespace zul::host

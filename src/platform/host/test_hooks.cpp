#include "test_hooks.h"

#include "allocation_counts.h"

namespace {

zul::host::AllocationCounts* Counts(int32_t kind) {
  return kind >= 0 && kind < zul::host::kAllocationKinds ? &zul::host::g_allocationCounts[kind] : nullptr;
}

}  // namespace

void ZulHostTest_FailAllocationAt(int32_t kind, int64_t nth) {
  if (auto* counts = Counts(kind)) counts->failCountdown.store(nth > 0 ? nth : 0);
}

int64_t ZulHostTest_Allocations(int32_t kind) {
  const auto* counts = Counts(kind);
  return counts != nullptr ? counts->attempts.load() : 0;
}

int64_t ZulHostTest_LiveAllocations(int32_t kind) {
  const auto* counts = Counts(kind);
  return counts != nullptr ? counts->live.load() : 0;
}

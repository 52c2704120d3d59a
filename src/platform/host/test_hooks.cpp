#include "zul/host/test_hooks.h"

#include <atomic>

#include "test_hooks.h"

namespace zul::host {

namespace {

constexpr int kKinds = 2;
std::atomic<int64_t> g_failCountdown[kKinds];  // 0: off
std::atomic<int64_t> g_live[kKinds];
std::atomic<int64_t> g_attempts[kKinds];

bool Known(int32_t kind) {
  return kind >= 0 && kind < kKinds;
}

}  // namespace

bool AllocationAllowed(Allocation kind) noexcept {
  g_attempts[static_cast<int>(kind)].fetch_add(1, std::memory_order_relaxed);
  auto& countdown = g_failCountdown[static_cast<int>(kind)];
  int64_t left = countdown.load(std::memory_order_relaxed);
  // Only the call that takes the count from 1 to 0 fails, also when threads race.
  while (left > 0) {
    if (countdown.compare_exchange_weak(left, left - 1)) return left != 1;
  }
  return true;
}

void CountLive(Allocation kind, int64_t delta) noexcept {
  g_live[static_cast<int>(kind)].fetch_add(delta, std::memory_order_relaxed);
}

}  // namespace zul::host

extern "C" {

void ZulHostTest_FailAllocationAt(int32_t kind, int64_t nth) {
  if (zul::host::Known(kind)) zul::host::g_failCountdown[kind].store(nth > 0 ? nth : 0);
}

int64_t ZulHostTest_Allocations(int32_t kind) {
  return zul::host::Known(kind) ? zul::host::g_attempts[kind].load() : 0;
}

int64_t ZulHostTest_LiveAllocations(int32_t kind) {
  return zul::host::Known(kind) ? zul::host::g_live[kind].load() : 0;
}

}  // extern "C"

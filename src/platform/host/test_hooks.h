// What bstr.cpp and safearray.cpp share with the test-only hooks of zul/host/test_hooks.h.
#pragma once

#include <cstdint>

namespace zul::host {

enum class Allocation : int32_t { kBstr = 0, kSafeArray = 1 };

// False for the allocation that a test chose to fail; counts one call of kind either way.
bool AllocationAllowed(Allocation kind) noexcept;
// One more (delta 1) or one fewer (delta -1) allocation alive.
void CountLive(Allocation kind, int64_t delta) noexcept;

}  // namespace zul::host

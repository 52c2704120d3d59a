// Bridge memory, always with the cookie of the wrapper on whose behalf the call runs.
#pragma once

#include <cstdint>

#include "loader/binding.h"

namespace zul {

inline void* AllocateBridgeMemory(int32_t cookie, uint64_t bytes) noexcept {
  return g_bridge.entries.AllocateMemory(cookie, bytes);
}

inline void ReleaseBridgeMemory(int32_t cookie, void* block) noexcept {
  if (block != nullptr) g_bridge.entries.ReleaseMemory(cookie, block);
}

}  // namespace zul

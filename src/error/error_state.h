// The last failure of the library as a whole or of one wrapper. Success never resets it.
#pragma once

#include <cstdint>

#include "platform/resources.h"

namespace zul {

struct ErrorState {
  // -1 for a failure of this library; otherwise the bridge's own negative code.
  int32_t code = -1;
  // Owned; null and zero-length both mean "no message".
  UniqueBstr message;

  bool HasMessage() const noexcept { return !message.IsEmpty(); }
};

}  // namespace zul

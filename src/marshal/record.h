// How the conversions find their wrapper and record their messages.
#pragma once

#include <cstdint>

#include "error/error_model.h"
#include "error/messages.h"
#include "error/strings.h"
#include "loader/binding.h"
#include "registry/pal_context.h"

namespace zul {

// The references followed before a chain counts as malformed (a VARIANT may point at itself).
inline constexpr int kMaxReferenceDepth = 64;

// Records text on the wrapper with code -1 and reports failure.
inline bool Fail(WrapperInfo& wrapper, const char* text) {
  wrapper.error.Set(-1, text);
  return false;
}

inline bool Fail(WrapperInfo& wrapper, Msg msg) {
  return Fail(wrapper, MessageText(msg));
}

}  // namespace zul

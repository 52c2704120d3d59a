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

// A bridge value flag: the value is a scalar on the way out even where ValueFlag::Array is set.
inline constexpr uint8_t kNotAnArrayOnTheWayOut = 0x20;

// Whether an array descriptor of dimensionCount 1 to 8 is what its type and dimensions say: never
// trust one further than that.
bool Consistent(const BridgeArray& a, uint8_t code);

// The calling wrapper; an unknown cookie is recorded on the context.
inline WrapperInfo* FindCaller(PalContext& context, int32_t cookie) {
  WrapperInfo* wrapper = context.FindWrapper(cookie);
  if (wrapper == nullptr) SetContextError(context.lastError, MessageText(Msg::kInvalidCookie));
  return wrapper;
}

// Records text on the wrapper with code -1 and reports failure.
inline bool Fail(WrapperInfo& wrapper, const char* text) {
  wrapper.error.Set(-1, text);
  return false;
}

inline bool Fail(WrapperInfo& wrapper, Msg msg) {
  return Fail(wrapper, MessageText(msg));
}

}  // namespace zul

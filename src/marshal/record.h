// How the conversions find their wrapper and record their messages.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "error/error_model.h"
#include "error/messages.h"
#include "error/strings.h"
#include "loader/binding.h"
#include "registry/pal_context.h"

namespace zul {

// The references followed before a chain counts as malformed (a VARIANT may point at itself).
inline constexpr int kMaxReferenceDepth = 64;

// Whether an array descriptor of dimensionCount 1 to ZUL_QEL_MAX_DIMENSIONS is what its type and dimensions
// say: never trust one further than that.
bool Consistent(const BridgeArray& a, uint8_t code);

// Records text on the wrapper with code -1 and reports failure.
inline bool Fail(WrapperInfo& wrapper, const char* text) {
  wrapper.error.Set(-1, text);
  return false;
}

inline bool Fail(WrapperInfo& wrapper, Msg msg) {
  return Fail(wrapper, MessageText(msg));
}

// The argument this thread's conversions work on, for the texts that name it: MarshalArgsIn and
// WriteBackArgs hold one around each argument (position from 1). Outside them a conversion works on a
// result.
class ArgumentScope {
 public:
  explicit ArgumentScope(int32_t position) noexcept;
  ~ArgumentScope();
  ArgumentScope(const ArgumentScope&) = delete;
  ArgumentScope& operator=(const ArgumentScope&) = delete;

 private:
  int32_t outer_;
};

// "argument 2", or "the result" outside an ArgumentScope.
std::string ArgumentName();

// The element of an array of variants at offset (in the block's order), by the client's own indexes
// and lower bounds: "element (0, 1) of the array of variants in argument 2".
std::string ElementName(const SAFEARRAY& psa, int64_t offset);

// msg filled with args (strings as text), its first letter upper case.
std::string FormatMessage(const char* format, ...);

template <class T>
decltype(auto) FormatArg(const T& arg) {
  if constexpr (std::is_same_v<T, std::string>) {
    return arg.c_str();
  } else {
    return arg;
  }
}

// Records msg filled with args on the wrapper with code -1 and reports failure.
template <class First, class... Rest>
bool Fail(WrapperInfo& wrapper, Msg msg, const First& first, const Rest&... rest) {
  return Fail(wrapper, FormatMessage(MessageText(msg), FormatArg(first), FormatArg(rest)...).c_str());
}

}  // namespace zul

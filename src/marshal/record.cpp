#include "marshal/record.h"

#include <cstdarg>
#include <cstdio>

namespace zul {

namespace {

thread_local int32_t t_argument = 0;

}  // namespace

ArgumentScope::ArgumentScope(int32_t position) noexcept : outer_(t_argument) {
  t_argument = position;
}

ArgumentScope::~ArgumentScope() {
  t_argument = outer_;
}

std::string ArgumentName() {
  return t_argument > 0 ? "argument " + std::to_string(t_argument) : "the result";
}

std::string ElementName(const SAFEARRAY& psa, int64_t offset) {
  // The last stored bound's index varies fastest and is the client's first (OLE Automation stores
  // the bounds reversed).
  int64_t index[ZUL_QEL_MAX_DIMENSIONS] = {};
  const int m = psa.cDims < ZUL_QEL_MAX_DIMENSIONS ? psa.cDims : ZUL_QEL_MAX_DIMENSIONS;
  for (int k = m - 1; k >= 0; --k) {
    const int64_t extent = psa.rgsabound[k].cElements;
    index[k] = extent != 0 ? offset % extent : 0;
    offset = extent != 0 ? offset / extent : 0;
  }
  std::string name = "element (";
  for (int k = m - 1; k >= 0; --k) {
    name += std::to_string(index[k] + psa.rgsabound[k].lLbound);
    if (k != 0) name += ", ";
  }
  return name + ") of the array of variants in " + ArgumentName();
}

std::string FormatMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

}  // namespace zul

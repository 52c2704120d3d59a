// Small helpers for tests that compare BSTRs and texts.
#pragma once

#include <string>

#include "error/error_state.h"
#include "platform/ole.h"

namespace zul::testing {

// The BSTR's characters (all SysStringLen of them) narrowed to ASCII; "<null>" for a null BSTR.
inline std::string Ascii(BSTR bstr) {
  if (bstr == nullptr) return "<null>";
  std::string text;
  for (UINT i = 0; i < SysStringLen(bstr); ++i) text += static_cast<char>(bstr[i]);
  return text;
}

// A wide copy of an ASCII text.
inline std::basic_string<OLECHAR> Wide(const std::string& ascii) {
  return std::basic_string<OLECHAR>(ascii.begin(), ascii.end());
}

// The message an error state holds, as Ascii gives it.
inline std::string MessageOf(const ErrorState& state) {
  const UniqueBstr message = state.CopyMessage();
  return Ascii(message.Get());
}

}  // namespace zul::testing

// The kinds of failure raised inside an operation, and the one place that tells them apart.
#pragma once

#include "platform/ole.h"

namespace zul {

// A bridge call failed; hr is what MapBridgeError made of the bridge's code.
struct HResultFailure {
  HRESULT hr;
};

// A value conversion reported false; it has recorded its own message, or none.
struct ConversionFailure {};

// A BSTR could not be allocated or converted. hr is E_OUTOFMEMORY except for a failed concatenation,
// which carries the concatenation's own result.
struct BstrFailure {
  HRESULT hr = E_OUTOFMEMORY;
};

enum class FailureKind {
  kHResult,     // HResultFailure and BstrFailure
  kConversion,  // ConversionFailure
  kOther,       // anything else, a failed plain allocation among them
};

struct CaughtFailure {
  FailureKind kind;
  HRESULT hr;  // the carried HRESULT; E_FAIL for a conversion; E_OUTOFMEMORY or E_UNEXPECTED otherwise
};

// Classifies the exception being handled. Call only from inside a catch block.
CaughtFailure ClassifyCurrentException() noexcept;

}  // namespace zul

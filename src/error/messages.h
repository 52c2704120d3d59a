// The texts that the library stores as error messages. Clients match on them: keep them verbatim.
#pragma once

#include <iterator>

#include "platform/ole.h"

namespace zul {

enum class Msg : int {
  kInvalidCookie = 0,
  kNoWrapperInfo = 1,
  kInvalidWindow = 2,
  kWindowInfo = 3,
  kAttachFailed = 4,
  kTooManyDimensions = 5,  // format: %d
  kAllocationFailed = 6,
  kFixedStaticArray = 7,
  kElementTypeChanged = 8,
  kDimensionCountChanged = 9,
  kDimensionSizeChanged = 10,
  kCannotResize = 11,
  kNotAWrapperObject = 12,
  kObjectRefInOnly = 13,
  kObjectRefArray = 14,
  kLowerBoundNotZero = 15,
  kUnsupportedType = 16,  // format: %s
  kDimensionTooLarge = 17,
};

inline constexpr const char* kErrorMessages[] = {
    "Invalid cookie.  Object has not been created.",
    "Could not create internal wrapper tracking information class.",
    "Window handle is invalid.",
    "Error getting window information.",
    "Attach to window failed.",
    "Number of dimensions on client array exceeds maximum allowable ZUL array dimensions of %d",
    "Failed to allocate memory.",
    "Failed to overwrite client array since it is marked as FIXED & STATIC.",
    "Array element type change during call.",
    "Number of dimensions of array changed during call.",
    "The number of elements of one of the dimensions of the array changed during call.",
    "Can't return modified (resized) safearray; client safearray is FIXED/STATIC/locked.",
    "Object reference must be another ZUL COM wrapper object.",
    "Object references must be in-only (constant).  They cannot be returned.",
    ("Array of object references must be an array of variants, with each variant containing an object "
     "reference."),  // one message, split for the line length
    "Safearray lLbound MUST be zero.",
    "Unsupported data type: %s",
    "ZUL array dimension exceeds the Safearray bounds 'cElement' size (ULONG).",
};
static_assert(std::size(kErrorMessages) == 18);

constexpr const char* MessageText(Msg msg) {
  return kErrorMessages[static_cast<int>(msg)];
}

inline constexpr const char* kBusyMessage = "The object's associated ZUL process is currently busy.";
inline constexpr const char* kNoActivityMessage = "There is no ZUL activity to abort.";
// The text around a name that the code page cannot hold, quoted as the client wrote it.
inline constexpr char kUnrepresentableNameBefore[] = "The name '";
inline constexpr char kUnrepresentableNameAfter[] = "' cannot be represented in the current code page.";
// The two texts held as wide literals.
inline constexpr const OLECHAR* kOutOfMemoryMessage =
    OLESTR("Could not allocate memory for argument processing.");
inline constexpr const OLECHAR* kUnexpectedMessage = OLESTR("Unexpected error.");

}  // namespace zul

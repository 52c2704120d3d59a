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
  // Texts of our own. A leading %s names what failed ("argument 2", "element (0, 1) of the array of
  // variants in argument 2", "the result"); Fail() makes the first letter upper case.
  kNegativeArgumentCount = 18,  // format: %d
  kNullArgumentList = 19,       // format: %d
  kNullResultPointer = 20,
  kNoValue = 21,                // format: %s what, %s VARTYPE
  kTypeNotPassed = 22,          // format: %s what, %s VARTYPE
  kNullReference = 23,          // format: %s what, %s VARTYPE
  kReferenceChainTooLong = 24,  // format: %s what, %d
  kNoDimensions = 25,           // format: %s what, %s VARTYPE
  kNoArrayData = 26,            // format: %s what, %s VARTYPE
  kEmptyVariantArray = 27,      // format: %s what
  kArrayTypeNotPassed = 28,     // format: %s what, %s VARTYPE
  kElementSizeMismatch = 29,    // format: %s what, %s VARTYPE, %u, %u
  kInexactElement = 30,         // format: %s what, %s VARTYPE, %s VARTYPE
  kNoBridgeValue = 31,          // format: %s what
  kMalformedBridgeArray = 32,   // format: %s type code, %s what
  kCannotWriteValue = 33,       // format: %s type code, %s VARTYPE
  kCannotWriteArray = 34,       // format: %s type code, %s VARTYPE
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
    "Argument count %d is negative.",
    "Argument list is null for an argument count of %d.",
    "Result pointer is null.",
    "%s is %s, which holds no value to pass.",
    "%s is %s, which cannot be passed.",
    "%s is %s with a null reference.",
    "%s is a chain of more than %d references to variants.",
    "%s is %s with no dimensions.",
    "%s is %s without a data block.",
    "%s is an empty array of variants, whose elements have no type to pass.",
    "%s is an array of %s, which cannot be passed.",
    "%s is %s with elements of %u bytes, where its type has %u.",
    "%s is %s, which does not convert exactly to the array's element type %s.",
    "The bridge returned no value for %s.",
    "The bridge returned a %s array for %s whose descriptor does not match its type and dimensions.",
    "Cannot write a %s value into a by-reference argument of type %s.",
    "Cannot write a %s array into a by-reference argument of type %s.",
};
static_assert(std::size(kErrorMessages) == 35);

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

// Numbers read from and written to values of either side, with exact-fit checks: a value is converted
// into another numeric type only when it survives unchanged.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/ole.h"
#include "zul/qel.h"

namespace zul {

// A value of type T read from, or written to, storage that may be unaligned; exactly sizeof(T) bytes.
template <class T>
T Load(const void* storage) noexcept {
  T value;
  std::memcpy(&value, storage, sizeof value);
  return value;
}

template <class T>
void Put(void* storage, T value) noexcept {
  std::memcpy(storage, &value, sizeof value);
}

// A VT_CY holds its value in units of 1/10000.
inline constexpr double kCurrencyScale = 10000.0;

struct Number {
  enum class Kind { kSigned, kUnsigned, kReal };
  Kind kind = Kind::kSigned;
  int64_t i = 0;
  uint64_t u = 0;
  double d = 0;
};

// The number a scalar bridge value holds; false for strings, object references and unknown codes.
bool NumberFromBridge(const BridgeValue& value, Number& number) noexcept;

// The number stored in storage as type vt (a bare value of that type, as behind a VT_BYREF
// reference); false for non-numeric types. VT_BOOL reads as 1 for VARIANT_TRUE, 0 otherwise.
bool NumberFromStorage(VARTYPE vt, const void* storage, Number& number) noexcept;

// Writes number into storage of type vt when it fits exactly; false, with storage untouched,
// otherwise. VT_BOOL takes 0 and 1.
bool StoreNumber(const Number& number, VARTYPE vt, void* storage) noexcept;

// Writes number into a bridge value field of type code when it fits exactly.
bool StoreBridgeNumber(const Number& number, uint8_t code, void* field) noexcept;

}  // namespace zul

#include "marshal/numeric.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "marshal/types.h"

namespace zul {

namespace {

Number Signed(int64_t value) {
  return {Number::Kind::kSigned, value, 0, 0};
}
Number Unsigned(uint64_t value) {
  return {Number::Kind::kUnsigned, 0, value, 0};
}
Number Real(double value) {
  return {Number::Kind::kReal, 0, 0, value};
}

// The integer that number holds exactly, if it is one within the range of T.
template <class T>
bool ExactInteger(const Number& number, T& out) {
  using Limits = std::numeric_limits<T>;
  switch (number.kind) {
    case Number::Kind::kSigned:
      if constexpr (Limits::is_signed) {
        if (number.i < static_cast<int64_t>(Limits::min()) ||
            number.i > static_cast<int64_t>(Limits::max())) {
          return false;
        }
      } else {
        if (number.i < 0 || static_cast<uint64_t>(number.i) > static_cast<uint64_t>(Limits::max()))
          return false;
      }
      out = static_cast<T>(number.i);
      return true;
    case Number::Kind::kUnsigned:
      if (number.u > static_cast<uint64_t>(Limits::max())) return false;
      out = static_cast<T>(number.u);
      return true;
    case Number::Kind::kReal: {
      const double d = number.d;
      // Bounds as doubles: min is exact, max + 1 is a power of two and exact.
      const double low = static_cast<double>(Limits::min());
      const double high = 2.0 * static_cast<double>(Limits::max() / 2 + 1);
      if (!(d >= low && d < high) || std::trunc(d) != d) return false;
      out = static_cast<T>(d);
      return true;
    }
  }
  return false;
}

// The double that number holds exactly.
bool ExactDouble(const Number& number, double& out) {
  switch (number.kind) {
    case Number::Kind::kReal:
      out = number.d;
      return true;
    case Number::Kind::kSigned: {
      out = static_cast<double>(number.i);
      int64_t back = 0;
      return ExactInteger(Real(out), back) && back == number.i;
    }
    case Number::Kind::kUnsigned: {
      out = static_cast<double>(number.u);
      uint64_t back = 0;
      return ExactInteger(Real(out), back) && back == number.u;
    }
  }
  return false;
}

bool ExactFloat(const Number& number, float& out) {
  double d = 0;
  if (!ExactDouble(number, d)) return false;
  out = static_cast<float>(d);
  return std::isnan(d) || static_cast<double>(out) == d;
}

}  // namespace

bool NumberFromBridge(const BridgeValue& value, Number& number) noexcept {
  const auto& v = value.value;
  switch (value.type) {
    case ZUL_TYP_BYTE:
      number = Unsigned(v.byteVal);
      return true;
    case ZUL_TYP_INT:
      number = Signed(v.intVal);
      return true;
    case ZUL_TYP_LONG:
      number = Signed(v.longVal);
      return true;
    case ZUL_TYP_FLOAT:
      number = Real(v.floatVal);
      return true;
    case ZUL_TYP_DOUBLE:
      number = Real(v.doubleVal);
      return true;
    case ZUL_TYP_UINT:
      number = Unsigned(v.uintVal);
      return true;
    case ZUL_TYP_ULONG:
      number = Unsigned(v.ulongVal);
      return true;
    case ZUL_TYP_LONG64:
      number = Signed(v.long64Val);
      return true;
    case ZUL_TYP_ULONG64:
      number = Unsigned(v.ulong64Val);
      return true;
    default:
      return false;
  }
}

bool NumberFromStorage(VARTYPE vt, const void* storage, Number& number) noexcept {
  switch (vt) {
    case VT_I1:
      number = Signed(Load<int8_t>(storage));
      return true;
    case VT_UI1:
      number = Unsigned(Load<uint8_t>(storage));
      return true;
    case VT_I2:
      number = Signed(Load<int16_t>(storage));
      return true;
    case VT_UI2:
      number = Unsigned(Load<uint16_t>(storage));
      return true;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      number = Signed(Load<int32_t>(storage));
      return true;
    case VT_UI4:
    case VT_UINT:
      number = Unsigned(Load<uint32_t>(storage));
      return true;
    case VT_I8:
      number = Signed(Load<int64_t>(storage));
      return true;
    case VT_UI8:
      number = Unsigned(Load<uint64_t>(storage));
      return true;
    case VT_R4:
      number = Real(Load<float>(storage));
      return true;
    case VT_R8:
    case VT_DATE:
      number = Real(Load<double>(storage));
      return true;
    case VT_CY:
      number = Real(static_cast<double>(Load<int64_t>(storage)) / kCurrencyScale);
      return true;
    case VT_BOOL:
      number = Unsigned(Load<VARIANT_BOOL>(storage) == VARIANT_TRUE ? 1 : 0);
      return true;
    default:
      return false;
  }
}

bool StoreNumber(const Number& number, VARTYPE vt, void* storage) noexcept {
  switch (vt) {
#define ZUL_STORE_INTEGER(type_vt, T)               \
  case type_vt: {                                   \
    T value{};                                      \
    if (!ExactInteger(number, value)) return false; \
    Put(storage, value);                            \
    return true;                                    \
  }
    ZUL_STORE_INTEGER(VT_I1, int8_t)
    ZUL_STORE_INTEGER(VT_UI1, uint8_t)
    ZUL_STORE_INTEGER(VT_I2, int16_t)
    ZUL_STORE_INTEGER(VT_UI2, uint16_t)
    ZUL_STORE_INTEGER(VT_I4, int32_t)
    ZUL_STORE_INTEGER(VT_INT, int32_t)
    ZUL_STORE_INTEGER(VT_ERROR, int32_t)
    ZUL_STORE_INTEGER(VT_UI4, uint32_t)
    ZUL_STORE_INTEGER(VT_UINT, uint32_t)
    ZUL_STORE_INTEGER(VT_I8, int64_t)
    ZUL_STORE_INTEGER(VT_UI8, uint64_t)
#undef ZUL_STORE_INTEGER
    case VT_R4: {
      float value = 0;
      if (!ExactFloat(number, value)) return false;
      Put(storage, value);
      return true;
    }
    case VT_R8:
    case VT_DATE: {
      double value = 0;
      if (!ExactDouble(number, value)) return false;
      Put(storage, value);
      return true;
    }
    case VT_CY: {
      double value = 0;
      if (!ExactDouble(number, value)) return false;
      // The nearest whole number of units: the product may miss it by a fraction, as for any currency
      // value with more digits than a double holds after the scaling.
      const double scaled = std::nearbyint(value * kCurrencyScale);
      int64_t units = 0;
      if (!ExactInteger(Real(scaled), units) || static_cast<double>(units) / kCurrencyScale != value)
        return false;
      Put(storage, units);
      return true;
    }
    case VT_BOOL: {
      uint8_t flag = 0;
      if (!ExactInteger(number, flag) || flag > 1) return false;
      Put<VARIANT_BOOL>(storage, flag != 0 ? VARIANT_TRUE : VARIANT_FALSE);
      return true;
    }
    default:
      return false;
  }
}

bool StoreBridgeNumber(const Number& number, uint8_t code, void* field) noexcept {
  // A string's VARTYPE stores no number.
  VARTYPE vt = VT_EMPTY;
  uint32_t size{};
  return OutputVarType(code, vt, size) && StoreNumber(number, vt, field);
}

}  // namespace zul

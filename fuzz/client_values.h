// Client values for the fuzz targets, built from the input: VARTYPEs, BSTRs and wrapper objects whose
// "Cookie" property may be missing, of another type, zero or negative.
#pragma once

#include <cstring>
#include <deque>
#include <iterator>
#include <vector>

#include "fuzz_support.h"
#include "platform/ole.h"
#include "stub_wrapper_object.h"

namespace zul::fuzz {

// Every base type of a VARIANT and some that never are one.
inline constexpr VARTYPE kBaseTypes[] = {
    VT_EMPTY,  VT_NULL,     VT_I2,       VT_I4,        VT_R4,      VT_R8,          VT_CY,      VT_DATE,
    VT_BSTR,   VT_DISPATCH, VT_ERROR,    VT_BOOL,      VT_VARIANT, VT_UNKNOWN,     VT_DECIMAL, 15,
    VT_I1,     VT_UI1,      VT_UI2,      VT_UI4,       VT_I8,      VT_UI8,         VT_INT,     VT_UINT,
    VT_VOID,   VT_HRESULT,  VT_PTR,      VT_SAFEARRAY, VT_CARRAY,  VT_USERDEFINED, VT_LPSTR,   VT_LPWSTR,
    VT_RECORD, VT_INT_PTR,  VT_UINT_PTR, 64,           72,         0xFFF};

// Types whose storage holds a pointer the library follows.
inline bool HoldsPointer(VARTYPE base) {
  return base == VT_BSTR || base == VT_DISPATCH || base == VT_UNKNOWN || base == VT_VARIANT;
}

// Bytes of a bare value of base, as OLE Automation lays it out; 0 for types without one.
inline uint32_t NaturalSize(VARTYPE base) {
  switch (base) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_ERROR:
    case VT_INT:
    case VT_UINT:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_INT_PTR:
    case VT_UINT_PTR:
      return 8;
    case VT_DECIMAL:
      return 16;
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

// The numeric types, and a value of one that other numeric types can often hold exactly: a small
// integer, or now and then any bits.
inline constexpr VARTYPE kNumericTypes[] = {VT_I1,   VT_UI1, VT_I2,   VT_UI2,   VT_I4,     VT_UI4,
                                            VT_I8,   VT_UI8, VT_INT,  VT_UINT,  VT_R4,     VT_R8,
                                            VT_BOOL, VT_CY,  VT_DATE, VT_ERROR, VT_DECIMAL};

inline void SmallNumber(Input& in, VARTYPE vt, void* storage) {
  const auto small = static_cast<int64_t>(in.Take<int8_t>());
  uint64_t bits = in.OneIn(8) ? in.Take<uint64_t>() : static_cast<uint64_t>(small);
  if (vt == VT_R4) {
    const float f = static_cast<float>(small);
    bits = 0;
    std::memcpy(&bits, &f, sizeof f);
  } else if (vt == VT_R8 || vt == VT_DATE) {
    const double d = static_cast<double>(small);
    std::memcpy(&bits, &d, sizeof d);
  } else if (vt == VT_CY) {
    bits = static_cast<uint64_t>(small * 10000);
  } else if (vt == VT_BOOL) {
    bits = in.Flag() ? 0xFFFF : 0;
  }
  std::memcpy(storage, &bits, sizeof bits);
}

inline VARTYPE PickBaseType(Input& in) {
  return kBaseTypes[in.Below(static_cast<uint32_t>(std::size(kBaseTypes)))];
}

// Texts and objects made for one input, freed with it.
class ClientPool {
 public:
  ClientPool() = default;
  ClientPool(const ClientPool&) = delete;
  ClientPool& operator=(const ClientPool&) = delete;
  ~ClientPool() {
    for (BSTR text : texts_) SysFreeString(text);
  }

  // Null, or UTF-16 units from the input (surrogates, NULs and odd byte lengths included).
  BSTR Text(Input& in, bool owned = true) {
    if (in.OneIn(8)) return nullptr;
    const std::vector<uint8_t> bytes = in.Bytes(64);
    BSTR text =
        SysAllocStringByteLen(reinterpret_cast<const char*>(bytes.data()), static_cast<UINT>(bytes.size()));
    ZUL_FUZZ_CHECK(text != nullptr);
    if (owned) texts_.push_back(text);
    return text;
  }

  // Null, or a stand-in for a wrapper object passed as an argument.
  IUnknown* Object(Input& in) {
    if (in.OneIn(8)) return nullptr;
    testing::StubWrapperObject& object = objects_.emplace_back();
    object.isDispatch = !in.OneIn(8);
    object.namesResult = in.OneIn(8) ? DISP_E_UNKNOWNNAME : S_OK;
    object.cookieId = in.OneIn(8) ? 0 : 5;
    object.invokeResult = in.OneIn(8) ? E_FAIL : S_OK;
    switch (in.Below(6)) {
      case 0:
        object.cookie.lVal = in.Take<int32_t>();
        break;
      case 1:
        object.cookie.lVal = -static_cast<LONG>(in.Below(3));
        break;
      case 2:
        object.cookie.vt = VT_BSTR;
        object.cookie.bstrVal = SysAllocString(OLESTR("7"));
        break;
      case 3:
        object.cookie.vt = VT_I2;
        break;
      case 4:
        object.cookie.vt = VT_EMPTY;
        break;
      default:
        object.cookie.lVal = static_cast<LONG>(1 + in.Below(9));
        break;
    }
    return &object;
  }

  // Every reference the library took was given back.
  void CheckReferences() const {
    for (const testing::StubWrapperObject& object : objects_) ZUL_FUZZ_CHECK(object.refs == 1);
  }

 private:
  std::vector<BSTR> texts_;
  std::deque<testing::StubWrapperObject> objects_;  // stable addresses
};

}  // namespace zul::fuzz

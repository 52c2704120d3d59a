// VARIANT initialisation and clearing with the type rules of Windows' OLE Automation.
#include <cstring>

#include "zul/host/oleauto.h"

namespace {

constexpr VARTYPE kModifiers = VT_VECTOR | VT_ARRAY | VT_BYREF | VT_RESERVED;

// Windows accepts the base types below VT_VOID except 15, plus VT_RECORD and VT_CLSID; VT_EMPTY and
// VT_NULL only by value. VT_VECTOR and VT_RESERVED never appear in a VARIANT.
bool IsValidVariantType(VARTYPE vt) {
  const VARTYPE modifiers = vt & kModifiers;
  const VARTYPE base = vt & VT_TYPEMASK;
  if ((modifiers & (VT_VECTOR | VT_RESERVED)) != 0) return false;
  if (!(base < VT_VOID || base == VT_RECORD || base == VT_CLSID) || base == 15) return false;
  return modifiers == 0 || base > VT_NULL;
}

}  // namespace

extern "C" {

// Windows 8.1 and later zero the whole VARIANT, not only vt.
void VariantInit(VARIANTARG* pvarg) {
  std::memset(pvarg, 0, sizeof *pvarg);
}

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  if (!IsValidVariantType(pvarg->vt)) return DISP_E_BADVARTYPE;
  HRESULT hr = S_OK;
  // A by-reference VARIANT owns nothing: what it points to stays untouched.
  if ((pvarg->vt & VT_BYREF) == 0) {
    if ((pvarg->vt & VT_ARRAY) != 0) {
      // A locked array is left alive and reported, yet the VARIANT is emptied all the same, as on Windows.
      hr = SafeArrayDestroy(pvarg->parray);
    } else {
      switch (pvarg->vt) {
        case VT_BSTR:
          SysFreeString(pvarg->bstrVal);
          break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
          if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
          break;
        case VT_RECORD:
          // The record's memory belongs to its creator; only its contents and the IRecordInfo are released.
          if (pvarg->pRecInfo != nullptr) {
            pvarg->pRecInfo->RecordClear(pvarg->pvRecord);
            pvarg->pRecInfo->Release();
          }
          break;
        default:
          break;
      }
    }
  }
  pvarg->vt = VT_EMPTY;
  return hr;
}

}  // extern "C"

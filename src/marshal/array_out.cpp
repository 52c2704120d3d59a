#include <cstring>

#include "marshal/marshal.h"
#include "marshal/numeric.h"
#include "marshal/record.h"
#include "marshal/reorder.h"
#include "marshal/text.h"
#include "marshal/types.h"

namespace zul {

namespace {

bool Replaceable(const SAFEARRAY& psa) {
  return (psa.fFeatures & (FADF_STATIC | FADF_FIXEDSIZE)) == 0 && psa.cLocks == 0;
}

// Bytes of one element of a bridge array of this type; 0 for types that never travel out.
uint32_t BridgeElementSize(uint8_t code) {
  if (code == ZUL_TYP_STRING) return sizeof(BridgeString);
  VARTYPE vt = VT_EMPTY;
  uint32_t size = 0;
  return OutputVarType(code, vt, size) ? size : 0;
}

}  // namespace

bool Consistent(const BridgeArray& a, uint8_t code) {
  const uint32_t size = BridgeElementSize(code);  // 0: a type that never travels out
  if (size == 0 || a.elementSize != size || a.elementCount < 0) return false;
  int64_t count = 1;
  for (int k = 0; k < a.dimensionCount; ++k) {
    if (a.dims[k] < 0 || (a.dims[k] != 0 && count > INT64_MAX / a.dims[k])) return false;
    count *= a.dims[k];
  }
  return count == a.elementCount && count <= INT64_MAX / a.elementSize &&
         a.totalBytes == count * a.elementSize && (count == 0 || a.data != nullptr);
}

namespace {

// Writes bridge element from into the SAFEARRAY element at to.
void ElementOut(uint8_t code, VARTYPE vt, uint32_t size, bool variants, const unsigned char* from,
                unsigned char* to) {
  if (variants) {
    auto* element = reinterpret_cast<VARIANT*>(to);
    VariantClear(element);
    element->llVal = 0;
    element->vt = vt;
    if (code == ZUL_TYP_STRING) {
      element->bstrVal = BstrFromBridgeText(Load<BridgeString>(from).chars);
    } else {
      std::memcpy(&element->llVal, from, size);
    }
    return;
  }
  if (code == ZUL_TYP_STRING) {
    SysFreeString(Load<BSTR>(to));  // an element overwritten in place
    Put(to, BstrFromBridgeText(Load<BridgeString>(from).chars));
    return;
  }
  std::memcpy(to, from, size);
}

// The checks before the client's own array is overwritten; false after recording why.
bool FitsInPlace(WrapperInfo& wrapper, const SAFEARRAY& psa, VARTYPE base, VARTYPE vt, uint8_t code,
                 const BridgeArray& a) {
  if (base != VT_VARIANT) {
    const bool bytes = base == VT_I1 || base == VT_UI1;
    if (bytes && code != ZUL_TYP_BYTE) return Fail(wrapper, Msg::kFixedStaticArray);
    if (!bytes && base != vt) return Fail(wrapper, Msg::kElementTypeChanged);
  }
  if (psa.cDims != a.dimensionCount) return Fail(wrapper, Msg::kDimensionCountChanged);
  for (int k = 0; k < a.dimensionCount; ++k) {
    if (psa.rgsabound[k].cElements != static_cast<uint64_t>(a.dims[k]))
      return Fail(wrapper, Msg::kCannotResize);
  }
  return true;
}

}  // namespace

bool MarshalArrayOut(PalContext& context, int32_t cookie, const BridgeValue* value, VARIANT* out,
                     uint32_t* argFlag) {
  const WrapperPin wrapper = FindWrapperOrReport(context, cookie);
  if (wrapper == nullptr) return false;
  if (value == nullptr) return Fail(*wrapper, Msg::kNoBridgeValue, ArgumentName());
  if (out == nullptr) return Fail(*wrapper, Msg::kNullResultPointer);
  // The value first: an object reference never travels out, whatever the target.
  const BridgeArray* a = value->value.array;
  if (value->type == ZUL_TYP_OBJREF) return Fail(*wrapper, Msg::kObjectRefInOnly);
  VARTYPE vt = VT_EMPTY;
  uint32_t size = 0;
  if (!OutputVarType(value->type, vt, size)) {
    return Fail(*wrapper, Msg::kUnsupportedType, ZulTypeName(value->type));
  }
  const int m = a != nullptr ? a->dimensionCount : 0;
  if (m == 0 || m > ZUL_QEL_MAX_DIMENSIONS || !Consistent(*a, value->type)) {
    return Fail(*wrapper, Msg::kMalformedBridgeArray, ZulTypeName(value->type), ArgumentName());
  }

  const bool byReference = (out->vt & VT_BYREF) != 0;
  if (byReference && (out->vt & VT_ARRAY) == 0) {
    // Bare storage of a scalar type cannot take an array.
    return Fail(*wrapper, Msg::kCannotWriteArray, ZulTypeName(value->type), VarTypeName(out->vt));
  }
  if (!byReference && (out->vt & VT_ARRAY) == 0 && out->vt != VT_EMPTY) {
    VariantClear(out);  // a scalar the array replaces
    out->vt = VT_EMPTY;
  }
  if (out->vt == VT_EMPTY) std::memset(out, 0, sizeof *out);
  const VARTYPE entryType = out->vt;
  const VARTYPE base = out->vt & VT_TYPEMASK;
  const bool variants = base == VT_VARIANT;
  const bool reorder = argFlag == nullptr || (*argFlag & ArgFlag::Reorder) != 0;
  if (variants) {
    size = sizeof(VARIANT);
  }
  const VARTYPE elementVt = vt;  // what each element of an array of VARIANTs becomes

  SAFEARRAY** slot = byReference ? out->pparray : &out->parray;
  if (slot == nullptr) return Fail(*wrapper, Msg::kNullReference, ArgumentName(), VarTypeName(entryType));
  SAFEARRAY* psa = entryType == VT_EMPTY ? nullptr : *slot;
  UniqueSafeArray created;
  if (psa == nullptr || Replaceable(*psa)) {
    SAFEARRAYBOUND bounds[ZUL_QEL_MAX_DIMENSIONS];
    for (int k = 0; k < m; ++k) {
      if (a->dims[k] > 0xFFFFFFFFll) return Fail(*wrapper, Msg::kDimensionTooLarge);
      // SafeArrayCreateEx stores the list it is given in reverse: rgsabound[k] must hold dims[k].
      bounds[m - 1 - k] = SAFEARRAYBOUND{static_cast<ULONG>(a->dims[k]), 0};
    }
    // OLE Automation sizes an array's block in 32 bits: a larger one would be allocated cut short.
    if (static_cast<uint64_t>(a->elementCount) > 0xFFFFFFFFull / size) {
      return Fail(*wrapper, Msg::kAllocationFailed);
    }
    created.Reset(
        SafeArrayCreateEx(variants ? VARTYPE(VT_VARIANT) : vt, static_cast<UINT>(m), bounds, nullptr));
    if (created.Get() == nullptr) return Fail(*wrapper, Msg::kAllocationFailed);
    if (psa != nullptr) SafeArrayDestroy(psa);
    *slot = nullptr;
    out->vt = VT_EMPTY;
    psa = created.Get();
  } else {
    if (!FitsInPlace(*wrapper, *psa, base, vt, value->type, *a)) return false;
    if (base == VT_I1 || base == VT_UI1) vt = base;
    if (psa->cbElements != size) {  // not laid out as its type says
      return Fail(*wrapper, Msg::kElementSizeMismatch, ArgumentName(), VarTypeName(entryType),
                  static_cast<unsigned>(psa->cbElements), static_cast<unsigned>(size));
    }
  }

  const bool plain = !variants && a->elementSize == size && value->type != ZUL_TYP_STRING;
  const bool block = plain && (!reorder || m == 1);
  SafeArrayLock access(psa);
  // A new array goes with created.
  if (!access.Locked() || access.Data() == nullptr) return Fail(*wrapper, Msg::kAllocationFailed);
  const auto* from = static_cast<const unsigned char*>(a->data);
  auto* to = static_cast<unsigned char*>(access.Data());
  if (block) {
    // Without elements, from may be null.
    if (a->totalBytes != 0) std::memcpy(to, from, static_cast<std::size_t>(a->totalBytes));
  } else if (plain) {  // reordered, two or more dimensions
    if (a->elementCount != 0) CopyReordered(a->dims, m, size, from, to, ReorderDirection::kToSafeArray);
  } else if (reorder && m > 1) {
    ForEachReordered(a->dims, m, [&](int64_t j, int64_t p) {
      ElementOut(value->type, elementVt, BridgeElementSize(value->type), variants, from + j * a->elementSize,
                 to + p * size);
      return true;
    });
  } else {
    for (int64_t j = 0; j < a->elementCount; ++j) {
      ElementOut(value->type, elementVt, BridgeElementSize(value->type), variants, from + j * a->elementSize,
                 to + j * size);
    }
  }

  if (created.Get() != nullptr) {
    *slot = created.Release();
    out->vt = static_cast<VARTYPE>(VT_ARRAY | (variants ? VARTYPE(VT_VARIANT) : vt) | (entryType & VT_BYREF));
  }
  return true;
}

}  // namespace zul

#include <cstring>

#include "marshal/bridge_memory.h"
#include "marshal/marshal.h"
#include "marshal/numeric.h"
#include "marshal/record.h"
#include "marshal/reorder.h"
#include "marshal/text.h"
#include "marshal/types.h"

namespace zul {

namespace {

bool IsObject(VARTYPE vt) {
  return vt == VT_DISPATCH || vt == VT_UNKNOWN;
}

// a * b, false when it does not fit in 64 bits.
bool Multiply(uint64_t a, uint64_t b, uint64_t& product) {
  if (a != 0 && b > UINT64_MAX / a) return false;
  product = a * b;
  return true;
}

// Converts the elements of one array; each call handles one element.
class ElementsIn {
 public:
  ElementsIn(int32_t cookie, WrapperInfo& wrapper, const SAFEARRAY& psa, VARTYPE elementType, uint8_t code,
             uint32_t size, bool variants)
      : cookie_(cookie),
        wrapper_(wrapper),
        psa_(psa),
        type_(elementType),
        code_(code),
        size_(size),
        variants_(variants) {}

  // Source element index (in the SAFEARRAY's block) of the element at from, into the bridge element at to.
  bool Convert(int64_t index, const unsigned char* from, unsigned char* to) {
    if (!variants_) return ConvertTyped(type_, from, to);
    const VARIANT& element = *reinterpret_cast<const VARIANT*>(from);
    const VARTYPE vt = element.vt;
    if (vt == type_ || (IsObject(vt) && IsObject(type_))) return ConvertTyped(vt, &element.llVal, to);
    // Elements of another type than the first: converted only when the value survives exactly, and
    // never read as a type they are not.
    const bool byReference = (vt & VT_BYREF) != 0 && vt != (VT_BYREF | VT_VARIANT);
    const void* storage = byReference ? element.byref : static_cast<const void*>(&element.llVal);
    Number number;
    if (storage != nullptr && NumberFromStorage(vt & ~VT_BYREF, storage, number) &&
        StoreBridgeNumber(number, code_, to)) {
      return true;
    }
    const Msg msg = vt == VT_EMPTY || vt == VT_NULL ? Msg::kNoValue : Msg::kInexactElement;
    return Fail(wrapper_, msg, ElementName(psa_, index), VarTypeName(vt), VarTypeName(type_));
  }

 private:
  // An element of the array's own type, at from.
  bool ConvertTyped(VARTYPE vt, const void* from, unsigned char* to) {
    if (vt == VT_BSTR) {
      const BSTR text = Load<BSTR>(from);
      const UINT length = SysStringLen(text);
      char* chars = BridgeTextFromWide(cookie_, text, length);  // every element has its block
      if (chars == nullptr) return Fail(wrapper_, Msg::kAllocationFailed);
      Put(to, BridgeString{static_cast<int32_t>(length), 0, 0, chars});
      return true;
    }
    if (IsObject(vt)) {
      int32_t handle = 0;
      if (!ResolveObjectReference(cookie_, wrapper_, Load<IUnknown*>(from), handle)) return false;
      Put(to, handle);
      return true;
    }
    std::memcpy(to, from, size_);  // little-endian: a VT_UINT keeps its low 16 bits
    return true;
  }

  int32_t cookie_;
  WrapperInfo& wrapper_;
  const SAFEARRAY& psa_;
  VARTYPE type_;
  uint8_t code_;
  uint32_t size_;
  bool variants_;
};

}  // namespace

bool MarshalArrayIn(PalContext& context, int32_t cookie, const VARIANT* arg, BridgeValue* value,
                    uint32_t* argFlag) {
  const WrapperPin wrapper = FindWrapperOrReport(context, cookie);
  if (wrapper == nullptr) return false;
  // Never so from MarshalVariantIn.
  if (arg == nullptr || value == nullptr || (arg->vt & VT_ARRAY) == 0) return false;
  *value = BridgeValue{};
  const bool reorder = argFlag == nullptr || (*argFlag & ArgFlag::Reorder) != 0;
  const VARTYPE base = arg->vt & VT_TYPEMASK;
  const bool variants = base == VT_VARIANT;
  SAFEARRAY* psa =
      (arg->vt & VT_BYREF) != 0 ? (arg->pparray != nullptr ? *arg->pparray : nullptr) : arg->parray;

  if (psa == nullptr) return Fail(*wrapper, Msg::kNullReference, ArgumentName(), VarTypeName(arg->vt));
  if (psa->cDims == 0) return Fail(*wrapper, Msg::kNoDimensions, ArgumentName(), VarTypeName(arg->vt));
  if (psa->cDims > ZUL_QEL_MAX_DIMENSIONS)
    return Fail(*wrapper, Msg::kTooManyDimensions, ZUL_QEL_MAX_DIMENSIONS);
  if (psa->pvData == nullptr) return Fail(*wrapper, Msg::kNoArrayData, ArgumentName(), VarTypeName(arg->vt));
  const int m = psa->cDims;
  bool empty = false;
  for (int k = 0; k < m; ++k) empty = empty || psa->rgsabound[k].cElements == 0;

  // The element type: the first VARIANT's for an array of VARIANTs (an empty one has none, nor has one
  // whose elements are not VARIANT-sized: its first element is never read).
  VARTYPE elementType = VT_EMPTY;
  if (variants) {
    if (!empty && psa->cbElements == sizeof(VARIANT)) {
      elementType = static_cast<const VARIANT*>(psa->pvData)->vt;
    }
  } else if (FAILED(SafeArrayGetVartype(psa, &elementType))) {
    elementType = arg->vt & 0x9FFF;  // without VT_ARRAY and VT_BYREF
  }
  if (!variants && IsObject(elementType)) return Fail(*wrapper, Msg::kObjectRefArray);
  const uint32_t sourceSize = variants ? sizeof(VARIANT) : ElementSizeOfVarType(elementType);
  // Not laid out as its type says: never read past it.
  if (psa->cbElements != sourceSize && (variants || sourceSize != 0)) {
    return Fail(*wrapper, Msg::kElementSizeMismatch, ArgumentName(), VarTypeName(arg->vt),
                static_cast<unsigned>(psa->cbElements), static_cast<unsigned>(sourceSize));
  }
  uint8_t code = 0;
  uint32_t destinationSize = 0;
  if (!ArrayElementType(elementType, code, destinationSize)) {
    if (!variants) return Fail(*wrapper, Msg::kArrayTypeNotPassed, ArgumentName(), VarTypeName(elementType));
    if (empty) return Fail(*wrapper, Msg::kEmptyVariantArray, ArgumentName());
    const Msg msg = elementType == VT_EMPTY || elementType == VT_NULL ? Msg::kNoValue : Msg::kTypeNotPassed;
    return Fail(*wrapper, msg, ElementName(*psa, 0), VarTypeName(elementType));
  }

  auto* array = static_cast<BridgeArray*>(AllocateBridgeMemory(cookie, sizeof(BridgeArray)));
  if (array == nullptr) return Fail(*wrapper, Msg::kAllocationFailed);
  std::memset(array, 0, sizeof *array);
  value->flags = ValueFlag::Array | ValueFlag::BridgeMemory;
  value->type = code;
  value->value.array = array;

  uint64_t elementCount = 1;
  bool representable = true;
  for (int k = 0; k < m; ++k) {
    if (psa->rgsabound[k].lLbound != 0) return Fail(*wrapper, Msg::kLowerBoundNotZero);
    array->dims[k] = psa->rgsabound[k].cElements;
    representable = Multiply(elementCount, psa->rgsabound[k].cElements, elementCount) && representable;
  }
  uint64_t totalBytes = 0;
  representable =
      representable && Multiply(elementCount, destinationSize, totalBytes) && totalBytes <= INT64_MAX;
  void* data = representable ? AllocateBridgeMemory(cookie, totalBytes) : nullptr;
  if (data == nullptr) {
    ReleaseBridgeMemory(cookie, array);
    *value = BridgeValue{};
    return Fail(*wrapper, Msg::kAllocationFailed);
  }
  array->data = data;
  array->elementSize = destinationSize;
  array->totalBytes = static_cast<int64_t>(totalBytes);
  array->elementCount = static_cast<int64_t>(elementCount);
  array->dimensionCount = static_cast<uint8_t>(m);

  if (IsObject(elementType) && argFlag != nullptr) {
    *argFlag = (*argFlag & ~ArgFlag::WriteBack) | ArgFlag::InOnly;  // objects never travel back
  }

  const auto* source = static_cast<const unsigned char*>(psa->pvData);
  auto* destination = static_cast<unsigned char*>(data);
  const bool plain = !variants && sourceSize == destinationSize && elementType != VT_BSTR;
  if (plain && (!reorder || m == 1)) {
    std::memcpy(destination, source, totalBytes);
    return true;
  }
  if (code == ZUL_TYP_STRING) std::memset(destination, 0, totalBytes);  // releasable after a failure part-way

  ElementsIn elements(cookie, *wrapper, *psa, elementType, code, destinationSize, variants);
  if (reorder && m > 1) {
    for (int k = m; k < ZUL_QEL_MAX_DIMENSIONS; ++k) array->dims[k] = 1;
    // An empty dimension leaves nothing to walk; the others may be too large to multiply in 64 bits.
    if (elementCount == 0) return true;
    if (plain) {
      CopyReordered(array->dims, m, destinationSize, source, destination, ReorderDirection::kToBridge);
      return true;
    }
    return ForEachReordered(array->dims, m, [&](int64_t j, int64_t p) {
      return elements.Convert(p, source + p * sourceSize, destination + j * destinationSize);
    });
  }
  bool converted = true;
  for (uint64_t j = 0; j < elementCount && converted; ++j) {
    converted =
        elements.Convert(static_cast<int64_t>(j), source + j * sourceSize, destination + j * destinationSize);
  }
  return converted;
}

}  // namespace zul

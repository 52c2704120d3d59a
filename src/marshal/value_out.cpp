#include <cstring>

#include "marshal/marshal.h"
#include "marshal/numeric.h"
#include "marshal/record.h"
#include "marshal/text.h"
#include "marshal/types.h"

namespace zul {

namespace {

// A string value's new BSTR: null unless it has characters.
BSTR StringOut(const BridgeValue& value) noexcept {
  const BridgeString& text = value.value.str;
  return text.length >= 1 ? BstrFromBridgeText(text.chars) : nullptr;
}

bool FailUnsupported(WrapperInfo& wrapper, uint8_t code) {
  return Fail(wrapper, Msg::kUnsupportedType, ZulTypeName(code));
}

// Into the bare storage behind a VT_BYREF reference: only a value of the referenced type goes there.
bool StoreThroughReference(WrapperInfo& wrapper, const BridgeValue& value, VARTYPE targetType,
                           void* storage) {
  if (storage == nullptr) return Fail(wrapper, Msg::kNullReference, ArgumentName(), VarTypeName(targetType));
  if (value.type == ZUL_TYP_OBJREF) return Fail(wrapper, Msg::kObjectRefInOnly);
  const VARTYPE base = targetType & ~VT_BYREF;
  if (base == VT_BSTR && value.type == ZUL_TYP_STRING) {
    BSTR* target = static_cast<BSTR*>(storage);
    SysFreeString(*target);
    *target = StringOut(value);
    return true;
  }
  Number number;
  if (NumberFromBridge(value, number) && StoreNumber(number, base, storage)) return true;
  VARTYPE ignored = 0;
  uint32_t size = 0;
  if (!OutputVarType(value.type, ignored, size)) return FailUnsupported(wrapper, value.type);
  return Fail(wrapper, Msg::kCannotWriteValue, ZulTypeName(value.type), VarTypeName(targetType));
}

}  // namespace

bool MarshalValueOut(PalContext& context, int32_t cookie, const BridgeValue* value, VARIANT* out,
                     uint32_t* argFlag) {
  const WrapperPin wrapper = FindWrapperOrReport(context, cookie);
  if (wrapper == nullptr) return false;
  if (value == nullptr) return Fail(*wrapper, Msg::kNoBridgeValue, ArgumentName());
  if (out == nullptr) return Fail(*wrapper, Msg::kNullResultPointer);
  for (int depth = 0;; ++depth) {
    if (out == nullptr) return Fail(*wrapper, Msg::kNullReference, ArgumentName(), "VT_BYREF|VT_VARIANT");
    if (depth > kMaxReferenceDepth) {
      return Fail(*wrapper, Msg::kReferenceChainTooLong, ArgumentName(), kMaxReferenceDepth);
    }
    if ((value->flags & ValueFlag::Array) != 0 && (value->flags & ValueFlag::ScalarOut) == 0) {
      if (out->vt == (VT_BYREF | VT_VARIANT)) out = out->pvarVal;
      return MarshalArrayOut(context, cookie, value, out, argFlag);
    }
    // Only a reference to a VARIANT is followed; VT_BYREF|VT_ARRAY|VT_VARIANT refers to an array.
    if (out->vt != (VT_BYREF | VT_VARIANT)) break;
    out = out->pvarVal;
  }
  if ((out->vt & VT_BYREF) != 0) return StoreThroughReference(*wrapper, *value, out->vt, out->byref);

  VariantClear(out);
  out->vt = VT_EMPTY;  // also where the old content could not be cleared
  out->llVal = 0;
  if (value->type == ZUL_TYP_OBJREF) return Fail(*wrapper, Msg::kObjectRefInOnly);
  VARTYPE vt = VT_EMPTY;
  uint32_t size = 0;
  if (!OutputVarType(value->type, vt, size)) return FailUnsupported(*wrapper, value->type);
  if (value->type == ZUL_TYP_STRING) {
    out->vt = VT_BSTR;
    out->bstrVal = StringOut(*value);
    return true;
  }
  out->vt = vt;
  std::memcpy(&out->llVal, &value->value, size);
  return true;
}

}  // namespace zul

#include <cstring>

#include "marshal/marshal.h"
#include "marshal/numeric.h"
#include "marshal/record.h"
#include "marshal/text.h"
#include "marshal/types.h"

namespace zul {

namespace {

bool StringIn(int32_t cookie, BSTR text, BridgeValue& value) {
  value.type = ZUL_TYP_STRING;
  const UINT length = SysStringLen(text);
  if (length == 0) return true;  // no characters, no memory: flags stay 0
  char* chars = BridgeTextFromWide(cookie, text, length);
  if (chars == nullptr) return false;  // the caller records it
  value.flags |= ValueFlag::BridgeMemory;
  value.value.str.length = static_cast<int32_t>(length);
  value.value.str.kind = 1;
  value.value.str.chars = chars;
  return true;
}

// Converts the value of type vt held in storage (the VARIANT's value field, or the bare value behind
// a reference), reading no more bytes than the type has.
bool ScalarIn(int32_t cookie, WrapperInfo& wrapper, VARTYPE vt, const void* storage, BridgeValue& value) {
  auto& v = value.value;
  switch (vt & ~VT_BYREF) {
    case VT_I2:
      value.type = ZUL_TYP_INT;
      v.intVal = Load<int16_t>(storage);
      return true;
    case VT_I4:
    case VT_ERROR:
    case VT_INT:
      value.type = ZUL_TYP_LONG;
      v.longVal = Load<int32_t>(storage);
      return true;
    case VT_R4:
      value.type = ZUL_TYP_FLOAT;
      v.floatVal = Load<float>(storage);
      return true;
    case VT_R8:
    case VT_DATE:
      value.type = ZUL_TYP_DOUBLE;
      v.doubleVal = Load<double>(storage);
      return true;
    case VT_CY:
      value.type = ZUL_TYP_DOUBLE;
      v.doubleVal = static_cast<double>(Load<int64_t>(storage)) / kCurrencyScale;
      return true;
    case VT_BSTR:
      return StringIn(cookie, Load<BSTR>(storage), value) || Fail(wrapper, Msg::kAllocationFailed);
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      value.type = ZUL_TYP_OBJREF;
      int32_t handle = 0;
      if (!ResolveObjectReference(cookie, wrapper, Load<IUnknown*>(storage), handle)) return false;
      v.objRef = handle;
      return true;
    }
    case VT_BOOL:
      value.type = ZUL_TYP_BYTE;
      v.byteVal = Load<VARIANT_BOOL>(storage) == VARIANT_TRUE ? 1 : 0;  // only VARIANT_TRUE is true
      return true;
    case VT_I1:
    case VT_UI1:
      value.type = ZUL_TYP_BYTE;
      v.byteVal = Load<uint8_t>(storage);
      return true;
    case VT_UI2:
      value.type = ZUL_TYP_UINT;
      v.uintVal = Load<uint16_t>(storage);
      return true;
    case VT_UINT:
      value.type = ZUL_TYP_UINT;
      v.uintVal = static_cast<uint16_t>(Load<uint32_t>(storage));  // the bridge's type has 16 bits
      return true;
    case VT_UI4:
      value.type = ZUL_TYP_ULONG;
      v.ulongVal = Load<uint32_t>(storage);
      return true;
    case VT_I8:
      value.type = ZUL_TYP_LONG64;
      v.long64Val = Load<int64_t>(storage);
      return true;
    case VT_UI8:
      value.type = ZUL_TYP_ULONG64;
      v.ulong64Val = Load<uint64_t>(storage);
      return true;
    case VT_EMPTY:
    case VT_NULL:
      return Fail(wrapper, Msg::kNoValue, ArgumentName(), VarTypeName(vt));
    default:  // VT_VARIANT by value, VT_DECIMAL, and any flag bit left over
      return Fail(wrapper, Msg::kTypeNotPassed, ArgumentName(), VarTypeName(vt));
  }
}

}  // namespace

bool MarshalVariantIn(PalContext& context, int32_t cookie, const VARIANT* arg, BridgeValue* value,
                      uint32_t* argFlag) {
  const WrapperPin wrapper = FindWrapperOrReport(context, cookie);
  if (wrapper == nullptr) return false;
  if (arg == nullptr || value == nullptr) return false;  // MarshalArgsIn never passes null
  for (int depth = 0;; ++depth) {
    if (depth > kMaxReferenceDepth) {
      return Fail(*wrapper, Msg::kReferenceChainTooLong, ArgumentName(), kMaxReferenceDepth);
    }
    if ((arg->vt & VT_ARRAY) != 0) return MarshalArrayIn(context, cookie, arg, value, argFlag);
    if (arg->vt != (VT_BYREF | VT_VARIANT)) break;
    if (arg->pvarVal == nullptr) {
      return Fail(*wrapper, Msg::kNullReference, ArgumentName(), VarTypeName(arg->vt));
    }
    arg = arg->pvarVal;
  }
  const bool byReference = (arg->vt & VT_BYREF) != 0;
  const void* storage = byReference ? arg->byref : static_cast<const void*>(&arg->llVal);
  if (storage == nullptr) return Fail(*wrapper, Msg::kNullReference, ArgumentName(), VarTypeName(arg->vt));
  value->flags = 0;
  return ScalarIn(cookie, *wrapper, arg->vt, storage, *value);
}

}  // namespace zul

// Conversions between the client's COM values and the bridge's value records.
//
// Each conversion reports success as a boolean and records its own message (code -1) on the calling
// wrapper's error state, or on the context's for an unknown cookie; many failures record none. The
// only exception raised is BstrFailure, when a message cannot be stored. Bridge memory comes from
// ZUL_QEL_AllocateMemory with the calling wrapper's cookie and goes back with ReleaseArgList.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "registry/pal_context.h"
#include "zul/qel.h"

namespace zul {

// The arguments of one bridge call. pointers[i] is &values[i]; flags[i] is the low half of the
// caller's flag word i. Each array is allocated when MarshalArgsIn reaches it and freed with the list.
// sent[i] describes values[i] as the bridge got it, for an argument flagged WriteBack and
// WriteBackChanged (empty for others); sent exists once such an argument was converted.
struct BridgeArgList {
  std::unique_ptr<BridgeValue[]> values;
  std::unique_ptr<BridgeValue*[]> pointers;
  std::unique_ptr<uint32_t[]> flags;
  std::unique_ptr<std::string[]> sent;
};

// Converts count arguments into list: count is not negative and args holds count VARIANTs (the call
// frame checks both); argFlags may be null (every argument in-only with Reorder). count 0 allocates
// nothing. On failure the values converted so far stay in list for ReleaseArgList. Throws
// std::bad_alloc when the arrays cannot be allocated.
bool MarshalArgsIn(PalContext& context, int32_t cookie, int32_t count, VARIANT* args, uint32_t* argFlags,
                   BridgeArgList& list);

// Gives back the bridge memory that each value holds and zeroes those values; values without
// ValueFlag::BridgeMemory are left as they are.
void ReleaseArgList(PalContext& context, int32_t cookie, int32_t count,
                    BridgeValue* const* pointers) noexcept;

// One argument in. Follows VT_BYREF|VT_VARIANT chains; VT_BYREF with another type reads the bare value
// of that type behind the reference. argFlag (may be null) only reaches MarshalArrayIn.
bool MarshalVariantIn(PalContext& context, int32_t cookie, const VARIANT* arg, BridgeValue* value,
                      uint32_t* argFlag);

// An array argument in. Reorder is read from argFlag (null counts as set); an array of object
// references is made in-only in the caller's word.
bool MarshalArrayIn(PalContext& context, int32_t cookie, const VARIANT* arg, BridgeValue* value,
                    uint32_t* argFlag);

// One value out into the caller's VARIANT, or through its reference. VT_BYREF with a scalar type gets
// only a value of that type: converted when it fits exactly, refused otherwise.
bool MarshalValueOut(PalContext& context, int32_t cookie, const BridgeValue* value, VARIANT* out,
                     uint32_t* argFlag);

// An array value out: a new SAFEARRAY, or the client's own overwritten in place when it may not be
// replaced (fixed, static or locked).
bool MarshalArrayOut(PalContext& context, int32_t cookie, const BridgeValue* value, VARIANT* out,
                     uint32_t* argFlag);

// Records in list.sent[i] what *pointers[i] is now, list.sent made for count arguments if need be.
// Throws std::bad_alloc.
void RecordSent(BridgeArgList& list, int32_t i, int32_t count);

// For the count arguments that MarshalArgsIn converted into list, with their flag words (not null),
// writes back every argument whose caller's flag word has ArgFlag::WriteBack, except one flagged
// WriteBackChanged that the bridge left as it was sent; stops at the first failure. Arguments whose
// reference chain goes through an array that another one's VARIANT holds are written first, so no
// write goes through memory that an earlier write freed. Throws std::bad_alloc.
bool WriteBackArgs(PalContext& context, int32_t cookie, int32_t count, const BridgeArgList& list,
                   VARIANT* args, uint32_t* argFlags);

// The bridge's handle for the ZUL object behind another wrapper object, found through its "Cookie"
// property; false after recording why on wrapper.
bool ResolveObjectReference(int32_t cookie, WrapperInfo& wrapper, IUnknown* object, int32_t& handle);

// Reads a named property of an IDispatch object into result (initialised by the caller).
// Throws BstrFailure when the name cannot be converted.
HRESULT GetDispatchProperty(IDispatch* dispatch, const char* name, VARIANT* result);

}  // namespace zul

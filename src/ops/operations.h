// The operations behind the exports, one per export; each takes the context and the export's
// arguments unchanged. Results and recorded errors are those of the export they serve.
#pragma once

#include <cstdint>

#include "registry/pal_context.h"
#include "zul/pal_mscom.h"

namespace zul::ops {

// Wrapper lifecycle and proxies.
HRESULT RegisterWrapper(PalContext& context, const OLECHAR* className, uint32_t registrationValue,
                        const OLECHAR* procName, int32_t* newCookie);
HRESULT ReleaseWrapper(PalContext& context, int32_t cookie);
HRESULT CreateObject(PalContext& context, int32_t cookie, int32_t argCount, VARIANT* args, uint32_t* argFlags,
                     uint32_t createParam1, uint32_t createParam2, uintptr_t createParam3);
HRESULT DestroyObject(PalContext& context, int32_t cookie);
HRESULT CreateProxyWrapper(PalContext& context, int32_t cookie);
HRESULT DestroyProxyWrapper(PalContext& context, int32_t cookie);

// Identity queries.
HRESULT GetObjClassName(PalContext& context, int32_t cookie, BSTR* className);
HRESULT GetProcNameFromCookie(PalContext& context, int32_t cookie, BSTR* procName);
HRESULT GetObjVariableName(PalContext& context, int32_t cookie, BSTR* variableName);

// Work on the object and its ZUL process.
HRESULT CallMethod(PalContext& context, int32_t cookie, const OLECHAR* methodName, int32_t argCount,
                   VARIANT* args, uint32_t* argFlags, VARIANT* result);
HRESULT GetProperty(PalContext& context, int32_t cookie, const OLECHAR* propertyName, VARIANT* value);
HRESULT SetProperty(PalContext& context, int32_t cookie, const OLECHAR* propertyName, int32_t argCount,
                    VARIANT* args, uint32_t* argFlags);
HRESULT GetZULVariable(PalContext& context, int32_t cookie, const OLECHAR* variableName, VARIANT* value);
// value is the export's own copy of the caller's VARIANT; it is converted in-only and never changed.
HRESULT SetZULVariable(PalContext& context, int32_t cookie, const OLECHAR* variableName, VARIANT* value);
HRESULT ExecuteString(PalContext& context, int32_t cookie, const OLECHAR* command);
HRESULT Abort(PalContext& context, int32_t cookie);

// A failed delivery raises _com_error (E_UNEXPECTED) instead of returning.
HRESULT OnEvent(PalContext& context, int32_t cookie, EventRecord* event);

// Callbacks; the exports report none of these results.
HRESULT RegisterNotifyCallback(PalContext& context, int32_t cookie, ZulNotifyCallback callback,
                               void* userData);
HRESULT RegisterOutputCallback(PalContext& context, int32_t cookie, ZulOutputCallback callback,
                               void* userData);
HRESULT UnregisterNotifyCallback(PalContext& context, int32_t cookie);
HRESULT UnregisterOutputCallback(PalContext& context, int32_t cookie);

}  // namespace zul::ops

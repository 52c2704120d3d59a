/* zul_pal_mscom: the COM platform layer of the ZUL language bridge.
 *
 * Generated COM wrapper objects call these 25 functions to drive objects that live in a ZUL process.
 * Every function but ZUL_MSCOMPAL_CreateGUID returns an HRESULT; the text of a failure is read with
 * ZUL_MSCOMPAL_GetLastError, with the wrapper's cookie or with 0 for failures that have no wrapper.
 *
 * Ownership: a BSTR that a function hands out belongs to the caller (free it with SysFreeString);
 * BSTRs handed to a callback belong to the library and live only for the duration of the callback. */
#ifndef ZUL_PAL_MSCOM_H
#define ZUL_PAL_MSCOM_H

#include <stdint.h>

#include "zul/pal_mscom_version.h"

#ifdef _WIN32
#include <windows.h>
#include <oaidl.h>
#define ZUL_MSCOMPAL_API
#else
#include "zul/host/oleauto.h"
#define ZUL_MSCOMPAL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Per-argument flag words, one per VARIANT argument. The bridge gets the low 16 bits of each word:
 * other bits there pass unchanged; the high 16 bits are the library's own.
 *
 * Write-back runs after a successful call. References into an array that another written-back argument
 * holds are written first, so nothing is ever written through a reference into an array that the same
 * call replaced (such a write is then lost with the array, as if made before the array's own). */
#define ZUL_ARGFLAG_IN_ONLY 0x0001u    /* the argument is constant */
#define ZUL_ARGFLAG_WRITE_BACK 0x0002u /* the argument's new value is written back after the call */
#define ZUL_ARGFLAG_REORDER 0x4000u    /* a multi-dimensional array is reordered to the bridge's order */
/* With WRITE_BACK: only a value that the bridge changed (type, value, text, shape or any element) is
 * written back; one it left as it was sent keeps the caller's VARIANT exactly as it was, and its flag
 * word loses WRITE_BACK, so after a successful call WRITE_BACK marks the arguments written back. */
#define ZUL_ARGFLAG_WRITE_BACK_CHANGED 0x00010000u

#ifndef ZUL_EVENT_RECORD_DEFINED
#define ZUL_EVENT_RECORD_DEFINED
/* A user-interface event. Only eventKind is read here; the event data that follows it is laid out
 * as the caller and the bridge agree, and passes through unchanged. */
typedef struct EventRecord {
  int32_t eventKind; /* 1 OnMouseDown, 2 OnMouseUp, 3 OnMouseMotion, 4 OnKeyboard, 5 OnExpose,
                        6 OnResize, 7 OnEnter, 8 OnExit, 9 OnScroll */
} EventRecord;
#endif

/* Client callbacks; the BSTRs are the library's and are freed when the callback returns. */
typedef void (*ZulNotifyCallback)(BSTR first, BSTR second, void* userData);
typedef void (*ZulOutputCallback)(BSTR text, void* userData);

ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_Abort(int32_t cookie);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_CallMethod(int32_t cookie, const OLECHAR* methodName, int32_t argCount,
                                                 VARIANT* args, uint32_t* argFlags, VARIANT* result);
/* Returns a fresh GUID as 36 characters of text in a buffer of the library, overwritten by the next call. */
ZUL_MSCOMPAL_API const char* ZUL_MSCOMPAL_CreateGUID(void);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_CreateObject(int32_t cookie, int32_t argCount, VARIANT* args,
                                                   uint32_t* argFlags, uint32_t createParam1,
                                                   uint32_t createParam2, uintptr_t createParam3);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_CreateProxyWrapper(int32_t cookie);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_DestroyObject(int32_t cookie);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_DestroyProxyWrapper(int32_t cookie);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_ExecuteString(int32_t cookie, const OLECHAR* command);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_GetZULVariable(int32_t cookie, const OLECHAR* variableName,
                                                     VARIANT* value);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_GetLastError(int32_t cookie, BSTR* message);
/* The name queries free a BSTR that the caller left in *className / *variableName. */
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_GetObjClassName(int32_t cookie, BSTR* className);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_GetObjVariableName(int32_t cookie, BSTR* variableName);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_GetProcNameFromCookie(int32_t cookie, BSTR* procName);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_GetProperty(int32_t cookie, const OLECHAR* propertyName,
                                                  VARIANT* value);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_Initialize(void);
/* A failed delivery raises _com_error (E_UNEXPECTED) to the caller instead of returning; on Windows as
 * Microsoft's C++ runtime throws it. Its C++ declaration says that it throws, so that callers built with
 * /EHsc (which takes C functions not to throw) keep their catch; GCC-built callers use ZulOnEventCaught
 * from zul/pal_mscom_event.h. */
#ifdef __cplusplus
#define ZUL_MSCOMPAL_RAISES noexcept(false)
#else
#define ZUL_MSCOMPAL_RAISES
#endif
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_OnEvent(int32_t cookie, EventRecord* event) ZUL_MSCOMPAL_RAISES;
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_RegisterNotifyCallback(int32_t cookie, ZulNotifyCallback callback,
                                                             void* userData);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_RegisterOutputCallback(int32_t cookie, ZulOutputCallback callback,
                                                             void* userData);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_RegisterWrapper(const OLECHAR* className, uint32_t registrationValue,
                                                      const OLECHAR* procName, int32_t* newCookie);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_Release(void);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_ReleaseWrapper(int32_t cookie);
/* The value is passed by value: the caller's VARIANT is never changed. */
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_SetZULVariable(int32_t cookie, const OLECHAR* variableName,
                                                     VARIANT value);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_SetProperty(int32_t cookie, const OLECHAR* propertyName,
                                                  int32_t argCount, VARIANT* args, uint32_t* argFlags);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_UnregisterNotifyCallback(int32_t cookie);
ZUL_MSCOMPAL_API HRESULT ZUL_MSCOMPAL_UnregisterOutputCallback(int32_t cookie);

#ifdef __cplusplus
} /* extern "C" */

namespace zul::ArgFlag {
inline constexpr uint32_t InOnly = ZUL_ARGFLAG_IN_ONLY;
inline constexpr uint32_t WriteBack = ZUL_ARGFLAG_WRITE_BACK;
inline constexpr uint32_t Reorder = ZUL_ARGFLAG_REORDER;
inline constexpr uint32_t WriteBackChanged = ZUL_ARGFLAG_WRITE_BACK_CHANGED;
}  // namespace zul::ArgFlag
#endif

#endif /* ZUL_PAL_MSCOM_H */

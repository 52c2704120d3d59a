// The 25 exports. Each is a gate: it checks that the module is attached (except Initialize, Release
// and CreateGUID), hands its arguments unchanged to the operation, and lets no exception out but the
// one that the event operation raises on purpose.
#include "zul/pal_mscom.h"

#include "error/failure.h"
#include "loader/binding.h"
#include "ops/error_query.h"
#include "ops/identity.h"
#include "ops/operations.h"
#include "pal/module.h"
#include "platform/com_error.h"

namespace {

using zul::PalContext;
namespace ops = zul::ops;

template <class Operation>
HRESULT Guard(Operation&& operation) noexcept {
  try {
    return operation();
  } catch (...) {
    return zul::ClassifyCurrentException().hr;
  }
}

template <class Operation>
HRESULT Gate(Operation&& operation) noexcept {
  if (!zul::IsAttached()) return E_FAIL;
  return Guard([&] { return operation(zul::Context()); });
}

// The callback exports report only whether the module is attached.
template <class Operation>
HRESULT CallbackGate(Operation&& operation) noexcept {
  if (!zul::IsAttached()) return E_FAIL;
  Guard([&] { return operation(zul::Context()); });
  return S_OK;
}

}  // namespace

extern "C" {

HRESULT ZUL_MSCOMPAL_Abort(int32_t cookie) {
  return Gate([&](PalContext& c) { return ops::Abort(c, cookie); });
}

HRESULT ZUL_MSCOMPAL_CallMethod(int32_t cookie, const OLECHAR* methodName, int32_t argCount, VARIANT* args,
                                uint32_t* argFlags, VARIANT* result) {
  return Gate([&](PalContext& c) {
    return ops::CallMethod(c, cookie, methodName, argCount, args, argFlags, result);
  });
}

const char* ZUL_MSCOMPAL_CreateGUID(void) {
  return ops::CreateGuidText();
}

HRESULT ZUL_MSCOMPAL_CreateObject(int32_t cookie, int32_t argCount, VARIANT* args, uint32_t* argFlags,
                                  uint32_t createParam1, uint32_t createParam2, uintptr_t createParam3) {
  return Gate([&](PalContext& c) {
    return ops::CreateObject(c, cookie, argCount, args, argFlags, createParam1, createParam2, createParam3);
  });
}

HRESULT ZUL_MSCOMPAL_CreateProxyWrapper(int32_t cookie) {
  return Gate([&](PalContext& c) { return ops::CreateProxyWrapper(c, cookie); });
}

HRESULT ZUL_MSCOMPAL_DestroyObject(int32_t cookie) {
  return Gate([&](PalContext& c) { return ops::DestroyObject(c, cookie); });
}

HRESULT ZUL_MSCOMPAL_DestroyProxyWrapper(int32_t cookie) {
  return Gate([&](PalContext& c) { return ops::DestroyProxyWrapper(c, cookie); });
}

HRESULT ZUL_MSCOMPAL_ExecuteString(int32_t cookie, const OLECHAR* command) {
  return Gate([&](PalContext& c) { return ops::ExecuteString(c, cookie, command); });
}

HRESULT ZUL_MSCOMPAL_GetZULVariable(int32_t cookie, const OLECHAR* variableName, VARIANT* value) {
  return Gate([&](PalContext& c) { return ops::GetZULVariable(c, cookie, variableName, value); });
}

HRESULT ZUL_MSCOMPAL_GetLastError(int32_t cookie, BSTR* message) {
  return Gate([&](PalContext& c) { return ops::ReadLastError(c, cookie, message); });
}

HRESULT ZUL_MSCOMPAL_GetObjClassName(int32_t cookie, BSTR* className) {
  return Gate([&](PalContext& c) { return ops::GetObjClassName(c, cookie, className); });
}

HRESULT ZUL_MSCOMPAL_GetObjVariableName(int32_t cookie, BSTR* variableName) {
  return Gate([&](PalContext& c) { return ops::GetObjVariableName(c, cookie, variableName); });
}

HRESULT ZUL_MSCOMPAL_GetProcNameFromCookie(int32_t cookie, BSTR* procName) {
  return Gate([&](PalContext& c) { return ops::GetProcNameFromCookie(c, cookie, procName); });
}

HRESULT ZUL_MSCOMPAL_GetProperty(int32_t cookie, const OLECHAR* propertyName, VARIANT* value) {
  return Gate([&](PalContext& c) { return ops::GetProperty(c, cookie, propertyName, value); });
}

HRESULT ZUL_MSCOMPAL_Initialize(void) {
  return Guard([] { return zul::EnsureBridgeLoaded(zul::Context().lastError) ? S_OK : E_FAIL; });
}

HRESULT ZUL_MSCOMPAL_OnEvent(int32_t cookie, EventRecord* event) {
  if (!zul::IsAttached()) return E_FAIL;
  HRESULT hr = E_UNEXPECTED;
  IErrorInfo* errorInfo = nullptr;
  try {
    return ops::OnEvent(zul::Context(), cookie, event);
  } catch (const _com_error& raised) {
    hr = raised.Error(), errorInfo = raised.ErrorInfo();
  } catch (...) {
    return zul::ClassifyCurrentException().hr;
  }
  // A failed delivery is reported to the caller this way, on purpose; raised here, with nothing of ours
  // left to clean up.
  zul::RaiseComError(hr, errorInfo);
}

HRESULT ZUL_MSCOMPAL_RegisterNotifyCallback(int32_t cookie, ZulNotifyCallback callback, void* userData) {
  return CallbackGate(
      [&](PalContext& c) { return ops::RegisterNotifyCallback(c, cookie, callback, userData); });
}

HRESULT ZUL_MSCOMPAL_RegisterOutputCallback(int32_t cookie, ZulOutputCallback callback, void* userData) {
  return CallbackGate(
      [&](PalContext& c) { return ops::RegisterOutputCallback(c, cookie, callback, userData); });
}

HRESULT ZUL_MSCOMPAL_RegisterWrapper(const OLECHAR* className, uint32_t registrationValue,
                                     const OLECHAR* procName, int32_t* newCookie) {
  return Gate([&](PalContext& c) {
    return ops::RegisterWrapper(c, className, registrationValue, procName, newCookie);
  });
}

HRESULT ZUL_MSCOMPAL_Release(void) {
  zul::ReleaseBridge();
  return S_OK;
}

HRESULT ZUL_MSCOMPAL_ReleaseWrapper(int32_t cookie) {
  return Gate([&](PalContext& c) { return ops::ReleaseWrapper(c, cookie); });
}

HRESULT ZUL_MSCOMPAL_SetZULVariable(int32_t cookie, const OLECHAR* variableName, VARIANT value) {
  // The operation works on a copy of its own: the caller's VARIANT is never written.
  VARIANT copy = value;
  return Gate([&](PalContext& c) { return ops::SetZULVariable(c, cookie, variableName, &copy); });
}

HRESULT ZUL_MSCOMPAL_SetProperty(int32_t cookie, const OLECHAR* propertyName, int32_t argCount, VARIANT* args,
                                 uint32_t* argFlags) {
  return Gate(
      [&](PalContext& c) { return ops::SetProperty(c, cookie, propertyName, argCount, args, argFlags); });
}

HRESULT ZUL_MSCOMPAL_UnregisterNotifyCallback(int32_t cookie) {
  return CallbackGate([&](PalContext& c) { return ops::UnregisterNotifyCallback(c, cookie); });
}

HRESULT ZUL_MSCOMPAL_UnregisterOutputCallback(int32_t cookie) {
  return CallbackGate([&](PalContext& c) { return ops::UnregisterOutputCallback(c, cookie); });
}

}  // extern "C"

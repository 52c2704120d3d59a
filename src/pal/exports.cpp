// The 25 exports. Each is a gate: it checks that the module is attached (except Initialize, Release
// and CreateGUID), hands its arguments unchanged to the operation, and lets no exception out.
#include "zul/pal_mscom.h"

#include "error/failure.h"
#include "loader/binding.h"
#include "ops/error_query.h"
#include "ops/identity.h"
#include "pal/module.h"

namespace {

using zul::PalContext;

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

// Operations that are not built yet; they already bind the bridge first, as the finished ones will.
HRESULT NotBuilt(PalContext& context) {
  return zul::EnsureBridgeLoaded(context.lastError) ? E_NOTIMPL : E_FAIL;
}

// The name queries that never need the bridge.
HRESULT NotBuiltNoBridge(PalContext&) noexcept {
  return E_NOTIMPL;
}

}  // namespace

extern "C" {

HRESULT ZUL_MSCOMPAL_Abort(int32_t) {
  return Gate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_CallMethod(int32_t, const OLECHAR*, int32_t, VARIANT*, uint32_t*, VARIANT*) {
  return Gate(NotBuilt);
}

const char* ZUL_MSCOMPAL_CreateGUID(void) {
  return zul::ops::CreateGuidText();
}

HRESULT ZUL_MSCOMPAL_CreateObject(int32_t, int32_t, VARIANT*, uint32_t*, uint32_t, uint32_t, uintptr_t) {
  return Gate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_CreateProxyWrapper(int32_t) {
  return Gate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_DestroyObject(int32_t) {
  return Gate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_DestroyProxyWrapper(int32_t) {
  return Gate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_ExecuteString(int32_t, const OLECHAR*) {
  return Gate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_GetZULVariable(int32_t, const OLECHAR*, VARIANT*) {
  return Gate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_GetLastError(int32_t cookie, BSTR* message) {
  return Gate([&](PalContext& context) { return zul::ops::ReadLastError(context, cookie, message); });
}

HRESULT ZUL_MSCOMPAL_GetObjClassName(int32_t, BSTR*) {
  return Gate(NotBuiltNoBridge);
}

HRESULT ZUL_MSCOMPAL_GetObjVariableName(int32_t, BSTR*) {
  return Gate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_GetProcNameFromCookie(int32_t, BSTR*) {
  return Gate(NotBuiltNoBridge);
}

HRESULT ZUL_MSCOMPAL_GetProperty(int32_t, const OLECHAR*, VARIANT*) {
  return Gate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_Initialize(void) {
  return Guard([] { return zul::EnsureBridgeLoaded(zul::Context().lastError) ? S_OK : E_FAIL; });
}

HRESULT ZUL_MSCOMPAL_OnEvent(int32_t, EventRecord*) {
  return Gate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_RegisterNotifyCallback(int32_t, ZulNotifyCallback, void*) {
  return CallbackGate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_RegisterOutputCallback(int32_t, ZulOutputCallback, void*) {
  return CallbackGate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_RegisterWrapper(const OLECHAR*, uint32_t, const OLECHAR*, int32_t*) {
  return Gate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_Release(void) {
  zul::ReleaseBridge();
  return S_OK;
}

HRESULT ZUL_MSCOMPAL_ReleaseWrapper(int32_t) {
  return Gate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_SetZULVariable(int32_t, const OLECHAR*, VARIANT) {
  return Gate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_SetProperty(int32_t, const OLECHAR*, int32_t, VARIANT*, uint32_t*) {
  return Gate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_UnregisterNotifyCallback(int32_t) {
  return CallbackGate(NotBuilt);
}

HRESULT ZUL_MSCOMPAL_UnregisterOutputCallback(int32_t) {
  return CallbackGate(NotBuilt);
}

}  // extern "C"

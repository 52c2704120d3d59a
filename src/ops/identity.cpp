#include "ops/identity.h"

#include <cstdio>
#include <cstring>

#include "ops/frame.h"
#include "ops/operations.h"

namespace zul::ops {

namespace {
char g_guidText[512];
}  // namespace

const char* CreateGuidText() noexcept {
  std::memset(g_guidText, 0, sizeof g_guidText);
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return g_guidText;
  std::snprintf(g_guidText, sizeof g_guidText, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return g_guidText;
}

HRESULT GetObjClassName(PalContext& context, int32_t cookie, BSTR* className) {
  if (className == nullptr) return ReportNullPointer(context);
  SysFreeString(*className);
  *className = nullptr;
  const WrapperPin wrapper = FindWrapperOrReport(context, cookie);
  if (wrapper == nullptr) return E_INVALIDARG;
  return CopyBstrOut(wrapper->className.Get(), className);
}

HRESULT GetProcNameFromCookie(PalContext& context, int32_t cookie, BSTR* procName) {
  if (procName == nullptr) return ReportNullPointer(context);
  const WrapperPin wrapper = FindWrapperOrReport(context, cookie);
  if (wrapper == nullptr) return E_INVALIDARG;
  return CopyBstrOut(wrapper->procName.Get(), procName);
}

HRESULT GetObjVariableName(PalContext& context, int32_t cookie, BSTR* variableName) {
  if (!EnsureBridgeLoaded(context.lastError)) return E_FAIL;
  if (variableName == nullptr) return ReportNullPointer(context);
  SysFreeString(*variableName);
  *variableName = nullptr;
  const WrapperPin wrapper = FindWrapperOrReport(context, cookie);
  if (wrapper == nullptr) return E_INVALIDARG;
  Transaction transaction(cookie);
  if (transaction.Begin() < 0) return CaptureBridgeError(wrapper->error, context.lastError);
  const char* name = g_bridge.entries.GetObjVariableName(cookie);
  if (name == nullptr) {
    CaptureBridgeError(wrapper->error, context.lastError);  // the bridge's text, whatever its code
    return E_FAIL;
  }
  UniqueBstr converted;
  AssignNarrow(converted, name);  // an empty name gives an empty, non-null BSTR
  *variableName = converted.Release();
  return S_OK;
}

}  // namespace zul::ops

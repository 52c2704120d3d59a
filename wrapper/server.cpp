// The in-process server: class factory, self-registration and the module's lifetime.
#include <windows.h>
#include <objbase.h>

#include <new>

#include "com_support.h"
#include "zul_object.h"

namespace {

using namespace zul::automation;

// {CEA5C633-5F68-4FEB-9447-C578F1A10CE5}: fixed once, registered under the ProgID Zul.Object.
constexpr CLSID kClsid = {0xcea5c633, 0x5f68, 0x4feb, {0x94, 0x47, 0xc5, 0x78, 0xf1, 0xa1, 0x0c, 0xe5}};
const ClassKeys kKeys = {L"{CEA5C633-5F68-4FEB-9447-C578F1A10CE5}", L"Zul.Object", L"ZUL object", 0, L""};

HRESULT Create(REFIID iid, void** object) {
  auto* created = new (std::nothrow) ZulObject();
  if (created == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = created->QueryInterface(iid, object);
  created->Release();
  return hr;
}

ClassFactory g_factory(&Create);

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow() {
  return ModuleUsers() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
  return RegisterClassKeys(kKeys);
}

STDAPI DllUnregisterServer() {
  DeleteClassKeys(kKeys);
  return S_OK;
}

// The in-process server: class factory, self-registration and the module's lifetime.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <atomic>
#include <new>
#include <string>

#include "zul_object.h"

namespace {

using zul::automation::g_liveObjects;
using zul::automation::ZulObject;

// {CEA5C633-5F68-4FEB-9447-C578F1A10CE5}: fixed once, registered under the ProgID Zul.Object.
constexpr CLSID kClsid = {0xcea5c633, 0x5f68, 0x4feb, {0x94, 0x47, 0xc5, 0x78, 0xf1, 0xa1, 0x0c, 0xe5}};
constexpr wchar_t kClsidText[] = L"{CEA5C633-5F68-4FEB-9447-C578F1A10CE5}";
constexpr wchar_t kProgId[] = L"Zul.Object";
constexpr wchar_t kDescription[] = L"ZUL object";

HMODULE g_module = nullptr;
std::atomic<long> g_serverLocks{0};

class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is static: its lifetime is the module's.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* created = new (std::nothrow) ZulObject();
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = created->QueryInterface(iid, object);
    created->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    g_serverLocks += lock ? 1 : -1;
    return S_OK;
  }
};

ClassFactory g_factory;

bool SetKey(const std::wstring& path, const wchar_t* valueName, const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  const bool written = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                      bytes) == ERROR_SUCCESS;
  RegCloseKey(key);
  return written;
}

void DeleteKeys() {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kClsidText).c_str());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, object);
}

long zul::automation::ModuleUsers() {
  return g_liveObjects + g_serverLocks;
}

STDAPI DllCanUnloadNow() {
  return zul::automation::ModuleUsers() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return SELFREG_E_CLASS;
  const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
  const bool registered =
      SetKey(clsidKey, nullptr, kDescription) && SetKey(clsidKey + L"\\InprocServer32", nullptr, path) &&
      SetKey(clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
      SetKey(clsidKey + L"\\ProgID", nullptr, kProgId) && SetKey(kProgId, nullptr, kDescription) &&
      SetKey(std::wstring(kProgId) + L"\\CLSID", nullptr, kClsidText);
  if (registered) return S_OK;
  DeleteKeys();
  return SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
  DeleteKeys();
  return S_OK;
}

#include "com_support.h"

#include <olectl.h>

#include <new>

#include "platform/resources.h"
#include "zul/pal_mscom.h"

namespace zul::automation {

std::atomic<long> g_liveObjects{0};
std::atomic<long> g_serverLocks{0};

namespace {

// A busy object cannot be destroyed: abort its work and retry for up to two seconds.
constexpr int kDestroyAttempts = 200;
constexpr DWORD kDestroyPauseMs = 10;

std::wstring Taken(UniqueBstr& text) {
  const std::wstring taken = text.Get() != nullptr ? std::wstring(text.Get(), SysStringLen(text.Get())) : L"";
  text.Reset();
  return taken;
}

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

std::wstring Versioned(const ClassKeys& keys) {
  return keys.progId + L"." + std::to_wstring(keys.version);
}

}  // namespace

long ModuleUsers() {
  return g_liveObjects + g_serverLocks;
}

HRESULT CaughtHResult() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

std::wstring LastErrorText(int32_t cookie) {
  UniqueBstr message;
  ZUL_MSCOMPAL_GetLastError(cookie, message.Receive());
  std::wstring text = Taken(message);
  if (text.empty() && cookie != 0) {
    ZUL_MSCOMPAL_GetLastError(0, message.Receive());
    text = Taken(message);
  }
  return text;
}

void ReleaseZulObject(int32_t cookie) {
  if (cookie == 0) return;
  ZUL_MSCOMPAL_UnregisterOutputCallback(cookie);
  ZUL_MSCOMPAL_UnregisterNotifyCallback(cookie);
  HRESULT hr = ZUL_MSCOMPAL_DestroyObject(cookie);
  for (int i = 1; hr == E_ACCESSDENIED && i < kDestroyAttempts; ++i) {
    ZUL_MSCOMPAL_Abort(cookie);
    Sleep(kDestroyPauseMs);
    hr = ZUL_MSCOMPAL_DestroyObject(cookie);
  }
  ZUL_MSCOMPAL_ReleaseWrapper(cookie);
}

HRESULT ClassFactory::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  return create_(iid, object);
}

HRESULT ClassFactory::LockServer(BOOL lock) {
  g_serverLocks += lock ? 1 : -1;
  return S_OK;
}

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

std::wstring ModulePath() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(ThisModule(), path, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(path, length);
}

HRESULT RegisterClassKeys(const ClassKeys& keys) {
  const std::wstring path = ModulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  const std::wstring clsidKey = L"CLSID\\" + keys.clsid;
  const std::wstring currentProgId = keys.version > 0 ? Versioned(keys) : keys.progId;
  bool registered =
      SetKey(clsidKey, nullptr, keys.description) && SetKey(clsidKey + L"\\InprocServer32", nullptr, path) &&
      SetKey(clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
      SetKey(clsidKey + L"\\ProgID", nullptr, currentProgId) &&
      SetKey(keys.progId, nullptr, keys.description) && SetKey(keys.progId + L"\\CLSID", nullptr, keys.clsid);
  if (registered && keys.version > 0) {
    registered = SetKey(clsidKey + L"\\VersionIndependentProgID", nullptr, keys.progId) &&
                 SetKey(keys.progId + L"\\CurVer", nullptr, currentProgId) &&
                 SetKey(currentProgId, nullptr, keys.description) &&
                 SetKey(currentProgId + L"\\CLSID", nullptr, keys.clsid);
  }
  if (registered && !keys.typeLibrary.empty())
    registered = SetKey(clsidKey + L"\\TypeLib", nullptr, keys.typeLibrary);
  if (registered) return S_OK;
  DeleteClassKeys(keys);
  return SELFREG_E_CLASS;
}

void DeleteClassKeys(const ClassKeys& keys) {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + keys.clsid).c_str());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, keys.progId.c_str());
  if (keys.version > 0) RegDeleteTreeW(HKEY_CLASSES_ROOT, Versioned(keys).c_str());
}

std::wstring GuidString(REFGUID guid) {
  wchar_t text[40];
  return StringFromGUID2(guid, text, 40) > 0 ? std::wstring(text) : std::wstring();
}

}  // namespace zul::automation

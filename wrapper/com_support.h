// What the in-process servers over the exports share: Zul.Object and the servers zul-typegen makes.
#ifndef ZUL_WRAPPER_COM_SUPPORT_H
#define ZUL_WRAPPER_COM_SUPPORT_H

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace zul::automation {

// Objects alive in this module and server locks, for DllCanUnloadNow.
extern std::atomic<long> g_liveObjects;
extern std::atomic<long> g_serverLocks;
// What keeps the module loaded (DllCanUnloadNow says S_OK at 0).
long ModuleUsers();

// What an exception that reached a COM method means to the caller; call inside a catch block.
HRESULT CaughtHResult() noexcept;

// The library's text of the last failure: the wrapper's, or the context's when the wrapper has none.
std::wstring LastErrorText(int32_t cookie);

// Ends a wrapper made with RegisterWrapper: its callbacks, its ZUL object (a busy one is aborted,
// for up to two seconds) and the wrapper itself. Nothing for cookie 0.
void ReleaseZulObject(int32_t cookie);

// Makes objects of one class: create gives one reference, or null when memory is short.
class ClassFactory final : public IClassFactory {
 public:
  using Create = HRESULT (*)(REFIID iid, void** object);
  explicit ClassFactory(Create create) : create_(create) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  // Factories are static: their lifetime is the module's.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  Create create_;
};

// The keys of one in-process class under HKEY_CLASSES_ROOT: CLSID (InprocServer32 = this module,
// apartment threaded), the ProgID and, with a version, the versioned ProgID.
struct ClassKeys {
  std::wstring clsid;  // {...}
  std::wstring progId;
  std::wstring description;
  int version = 0;           // 0: no versioned ProgID
  std::wstring typeLibrary;  // {...} or empty
};
HMODULE ThisModule();
std::wstring ModulePath();
HRESULT RegisterClassKeys(const ClassKeys& keys);
void DeleteClassKeys(const ClassKeys& keys);

std::wstring GuidString(REFGUID guid);

}  // namespace zul::automation

#endif  // ZUL_WRAPPER_COM_SUPPORT_H

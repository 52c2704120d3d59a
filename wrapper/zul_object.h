// Zul.Object: one ZUL object behind late-bound IDispatch, driven through the exports of zul_pal_mscom.
#ifndef ZUL_WRAPPER_ZUL_OBJECT_H
#define ZUL_WRAPPER_ZUL_OBJECT_H

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "com_support.h"
#include "platform/resources.h"

namespace zul::automation {

class ZulObject final : public IDispatch {
 public:
  ZulObject();
  ZulObject(const ZulObject&) = delete;
  ZulObject& operator=(const ZulObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

 private:
  // What a ZUL member turned out to be when a script could not say (a get that may be a call).
  enum class Kind : uint8_t { kUnknown, kProperty, kMethod };
  struct Member {
    std::wstring name;
    Kind kind = Kind::kUnknown;
  };
  // Arguments in parameter order with their flag words; the VARIANTs are the caller's, not copied, but
  // for arrays converted from JScript, which `converted` owns.
  struct Arguments {
    std::vector<VARIANT> values;
    std::vector<uint32_t> flags;
    std::vector<UniqueVariant> converted;
    // The caller's variable behind each by-reference argument that may be written back, found before
    // the call; null for others and for an element of another argument's array, which the call may free.
    std::vector<VARIANT*> variables;
  };

  ~ZulObject();

  static void OnOutput(BSTR text, void* userData);
  static void OnNotify(BSTR first, BSTR second, void* userData);

  HRESULT IdsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids);
  HRESULT InvokeMember(Member& member, WORD flags, const DISPPARAMS& params, VARIANT& value,
                       std::wstring& ownError);
  HRESULT InvokeReserved(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT& value,
                         std::wstring& ownError);
  HRESULT Init(const DISPPARAMS& params, std::wstring& ownError);
  HRESULT CallMethod(const Member& member, const DISPPARAMS& params, VARIANT& value, std::wstring& ownError);
  HRESULT GetProperty(const Member& member, VARIANT& value);
  void Reset();
  std::wstring LastError() const;

  static HRESULT InParameterOrder(const DISPPARAMS& params, UINT first, UINT count, Arguments& args,
                                  std::wstring& ownError, UINT numberedFrom = 1);
  static bool InsideAnArrayOf(const Arguments& args, const VARIANT& variable);
  static HRESULT WrittenBackForScript(const Arguments& args, HRESULT called);

  std::atomic<ULONG> references_{1};
  int32_t cookie_ = 0;  // 0 until Init: the library then answers with its invalid-cookie error
  std::wstring procName_;
  std::vector<Member> members_;  // DISPID kFirstMember + index
  std::mutex deliveredLock_;     // the bridge delivers on its own threads
  std::wstring output_;
  std::wstring notifications_;
};

}  // namespace zul::automation

#endif  // ZUL_WRAPPER_ZUL_OBJECT_H

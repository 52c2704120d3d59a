// The error object of CreateErrorInfo and the COM support library's _com_error.
#include <atomic>
#include <new>

#include "zul/host/oleauto.h"

namespace {

// One object serves both interfaces; its IUnknown identity is the IErrorInfo pointer.
class ErrorInfo final : public IErrorInfo, public ICreateErrorInfo {
 public:
  ErrorInfo() = default;
  ErrorInfo(const ErrorInfo&) = delete;
  ErrorInfo& operator=(const ErrorInfo&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    if (ppvObject == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
      *ppvObject = static_cast<IErrorInfo*>(this);
    } else if (riid == IID_ICreateErrorInfo) {
      *ppvObject = static_cast<ICreateErrorInfo*>(this);
    } else {
      *ppvObject = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

  HRESULT GetGUID(GUID* pGUID) override {
    if (pGUID == nullptr) return E_INVALIDARG;
    *pGUID = guid_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* pBstrSource) override { return Copy(source_, pBstrSource); }
  HRESULT GetDescription(BSTR* pBstrDescription) override { return Copy(description_, pBstrDescription); }
  HRESULT GetHelpFile(BSTR* pBstrHelpFile) override { return Copy(help_file_, pBstrHelpFile); }
  HRESULT GetHelpContext(DWORD* pdwHelpContext) override {
    if (pdwHelpContext == nullptr) return E_INVALIDARG;
    *pdwHelpContext = help_context_;
    return S_OK;
  }

  HRESULT SetGUID(REFGUID rguid) override {
    guid_ = rguid;
    return S_OK;
  }
  HRESULT SetSource(LPOLESTR szSource) override { return Store(szSource, &source_); }
  HRESULT SetDescription(LPOLESTR szDescription) override { return Store(szDescription, &description_); }
  HRESULT SetHelpFile(LPOLESTR szHelpFile) override { return Store(szHelpFile, &help_file_); }
  HRESULT SetHelpContext(DWORD dwHelpContext) override {
    help_context_ = dwHelpContext;
    return S_OK;
  }

 private:
  ~ErrorInfo() {
    SysFreeString(source_);
    SysFreeString(description_);
    SysFreeString(help_file_);
  }

  // The caller receives its own copy; an unset text is a null BSTR.
  static HRESULT Copy(BSTR value, BSTR* out) {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    if (value == nullptr) return S_OK;
    *out = SysAllocStringLen(value, SysStringLen(value));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  static HRESULT Store(LPOLESTR text, BSTR* slot) {
    BSTR copy = SysAllocString(text);
    if (text != nullptr && copy == nullptr) return E_OUTOFMEMORY;
    SysFreeString(*slot);
    *slot = copy;
    return S_OK;
  }

  std::atomic<ULONG> refs_{1};
  GUID guid_{};
  BSTR source_ = nullptr;
  BSTR description_ = nullptr;
  BSTR help_file_ = nullptr;
  DWORD help_context_ = 0;
};

}  // namespace

extern "C" HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  auto* object = new (std::nothrow) ErrorInfo();
  *pperrinfo = object;
  return object != nullptr ? S_OK : E_OUTOFMEMORY;
}

namespace zul::host {

_com_error::_com_error(HRESULT hr, IErrorInfo* perrinfo, bool fAddRef) noexcept
    : m_hresult(hr), m_perrinfo(perrinfo) {
  if (m_perrinfo != nullptr && fAddRef) m_perrinfo->AddRef();
}

_com_error::_com_error(const _com_error& that) noexcept
    : m_hresult(that.m_hresult), m_perrinfo(that.m_perrinfo) {
  if (m_perrinfo != nullptr) m_perrinfo->AddRef();
}

// Defined here so that the class's type_info lives in this library and exceptions match across modules.
_com_error::~_com_error() noexcept {
  if (m_perrinfo != nullptr) m_perrinfo->Release();
}

_com_error& _com_error::operator=(const _com_error& that) noexcept {
  if (that.m_perrinfo != nullptr) that.m_perrinfo->AddRef();
  if (m_perrinfo != nullptr) m_perrinfo->Release();
  m_hresult = that.m_hresult;
  m_perrinfo = that.m_perrinfo;
  return *this;
}

IErrorInfo* _com_error::ErrorInfo() const noexcept {
  if (m_perrinfo != nullptr) m_perrinfo->AddRef();
  return m_perrinfo;
}

}  // namespace zul::host

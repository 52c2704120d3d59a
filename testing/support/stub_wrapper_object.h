// A stand-in for a wrapper object passed as an argument: IDispatch with a scripted "Cookie" property.
// It lives on the test's stack and never frees itself, so a test can check that every reference the
// library took was given back (refs is 1 again).
#pragma once

#include <string>

#include "platform/ole.h"

namespace zul::testing {

struct StubWrapperObject : IDispatch {
  // Answers "Cookie" with cookieId and Invoke with a copy of cookie.
  explicit StubWrapperObject(LONG cookieValue = 7) {
    VariantInit(&cookie);
    cookie.vt = VT_I4;
    cookie.lVal = cookieValue;
  }
  ~StubWrapperObject() { VariantClear(&cookie); }

  ULONG refs = 1;
  bool isDispatch = true;       // false: QueryInterface knows only IUnknown
  HRESULT namesResult = S_OK;   // what GetIDsOfNames returns
  DISPID cookieId = 5;          // the DISPID it reports for "Cookie"
  VARIANT cookie;               // what a property get returns
  HRESULT invokeResult = S_OK;  // a failure leaves the result alone
  int invokes = 0;
  std::u16string askedName;  // the name of the last GetIDsOfNames
  LCID askedLocale = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || (isDispatch && IsEqualIID(iid, IID_IDispatch))) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override {
    askedName.clear();
    for (const OLECHAR* c = count == 1 ? names[0] : nullptr; c != nullptr && *c != 0; ++c) {
      askedName += static_cast<char16_t>(*c);
    }
    askedLocale = locale;
    if (FAILED(namesResult)) return namesResult;
    *ids = cookieId;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    ++invokes;
    if (FAILED(invokeResult)) return invokeResult;
    if (id != cookieId || flags != DISPATCH_PROPERTYGET || result == nullptr) return DISP_E_MEMBERNOTFOUND;
    *result = cookie;
    if (cookie.vt == VT_BSTR)
      result->bstrVal = SysAllocStringLen(cookie.bstrVal, SysStringLen(cookie.bstrVal));
    return S_OK;
  }
};

}  // namespace zul::testing

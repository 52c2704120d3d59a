// What the platform tests share: the characters of a BSTR, and a stub COM object that lives on the
// test's stack, counts its references and never frees itself, so that a test sees each release.
#pragma once

#include <string>

#include "platform/ole.h"

namespace zul::testing {

using OleString = std::basic_string<OLECHAR>;

// The characters of a BSTR, embedded NULs included.
inline OleString Text(BSTR bstr) {
  return bstr != nullptr ? OleString(bstr, SysStringLen(bstr)) : OleString();
}

// One object behind both interfaces: either pointer adds and releases references on the same count.
// An AddRef after the last Release sets `revived`: a real object would have been freed.
struct StubObject : IDispatch, IErrorInfo {
  ULONG refs = 1;
  bool revived = false;
  IUnknown* Unknown() { return static_cast<IDispatch*>(this); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    return *out = nullptr, E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    revived = revived || refs == 0;
    return ++refs;
  }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetGUID(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD*) override { return E_NOTIMPL; }
};

}  // namespace zul::testing

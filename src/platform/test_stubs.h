// Stub COM objects for the platform tests: they live on the test's stack, count references and calls,
// and never free themselves, so a test can check that each reference is released exactly once.
#pragma once

#include <string>
#include <vector>

#include "platform/ole.h"

namespace zul::test {

using OleString = std::basic_string<OLECHAR>;

// The characters of a BSTR, embedded NULs included.
inline OleString Text(BSTR bstr) {
  return bstr != nullptr ? OleString(bstr, SysStringLen(bstr)) : OleString();
}

struct StubDispatch : IDispatch {
  ULONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    return *ppv = nullptr, E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
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
};

// Reports `size` (and `size_result`) from GetSize and records the records it is asked to clear.
struct StubRecordInfo : IRecordInfo {
  ULONG refs = 1;
  ULONG size = 12;
  HRESULT size_result = S_OK;
  std::vector<void*> cleared;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    return *ppv = nullptr, E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE RecordInit(PVOID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RecordClear(PVOID record) override { return cleared.push_back(record), S_OK; }
  HRESULT STDMETHODCALLTYPE RecordCopy(PVOID, PVOID) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetGuid(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetName(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSize(ULONG* out) override { return *out = size, size_result; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetField(PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFieldNoCopy(PVOID, LPCOLESTR, VARIANT*, PVOID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PutField(ULONG, PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PutFieldNoCopy(ULONG, PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFieldNames(ULONG*, BSTR*) override { return E_NOTIMPL; }
  BOOL STDMETHODCALLTYPE IsMatchingType(IRecordInfo*) override { return FALSE; }
  PVOID STDMETHODCALLTYPE RecordCreate() override { return nullptr; }
  HRESULT STDMETHODCALLTYPE RecordCreateCopy(PVOID, PVOID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RecordDestroy(PVOID) override { return E_NOTIMPL; }
};

}  // namespace zul::test

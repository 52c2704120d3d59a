#include "marshal/marshal.h"
#include "marshal/record.h"

namespace zul {

bool ResolveObjectReference(int32_t cookie, WrapperInfo& wrapper, IUnknown* object, int32_t& handle) {
  UniqueComPtr<IDispatch> dispatch;
  if (object != nullptr &&
      FAILED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Receive())))) {
    dispatch.Reset();
  }
  if (dispatch.Get() == nullptr) return Fail(wrapper, Msg::kNotAWrapperObject);

  UniqueVariant objectCookie;
  const HRESULT hr = GetDispatchProperty(dispatch.Get(), "Cookie", objectCookie.Get());
  if (FAILED(hr) || objectCookie->vt != VT_I4 || objectCookie->lVal < 1) {
    return Fail(wrapper, Msg::kNotAWrapperObject);
  }

  const int32_t found = g_bridge.entries.ObjRefCookie2Hvid(cookie, objectCookie->lVal);
  if (found < 1) {
    // The bridge's own text; the bridge writes the code.
    int32_t code = wrapper.error.Code();
    const char* text = g_bridge.entries.GetLastError(&code);
    wrapper.error.SetCode(code);
    wrapper.error.SetMessage(text);
    return false;
  }
  handle = found;
  return true;
}

HRESULT GetDispatchProperty(IDispatch* dispatch, const char* name, VARIANT* result) {
  if (dispatch == nullptr || name == nullptr || result == nullptr) return E_POINTER;
  UniqueBstr wideName;
  AssignNarrow(wideName, name);
  DISPID id = 0;
  LPOLESTR names[] = {wideName.Get()};
  const HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
  wideName.Reset();
  if (FAILED(hr)) return hr;
  if (id == 0) return DISP_E_UNKNOWNNAME;  // DISPID 0 is the default member, never a named property
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  return dispatch->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, &none, result, nullptr,
                          nullptr);
}

}  // namespace zul

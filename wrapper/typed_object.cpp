#include "typed_object.h"

#include <cstring>
#include <new>

#include "platform/resources.h"
#include "zul/pal_mscom.h"

namespace zul::typed {
namespace {

using automation::CaughtHResult;

// Not a member of any description (they are numbered from 1): the library reads an object argument's
// ZUL object through it.
constexpr DISPID kCookieId = 0x7FFFF000;

// The type library embedded in this module, loaded once and kept for the process.
ITypeLib* Library() {
  static ITypeLib* const library = [] {
    ITypeLib* loaded = nullptr;
    const std::wstring path = automation::ModulePath();
    if (path.empty() || FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &loaded))) return (ITypeLib*)nullptr;
    return loaded;
  }();
  return library;
}

HRESULT TypeInfoOf(REFGUID guid, ITypeInfo** info) {
  ITypeLib* library = Library();
  if (library == nullptr) return TYPE_E_CANTLOADLIBRARY;
  return library->GetTypeInfoOfGuid(guid, info);
}

// The vtable half of a dual interface, which ITypeInfo::Invoke calls through.
HRESULT VtableTypeInfo(REFIID iid, UniqueComPtr<ITypeInfo>& info) {
  UniqueComPtr<ITypeInfo> dispatch;
  HRESULT hr = TypeInfoOf(iid, dispatch.Receive());
  if (FAILED(hr)) return hr;
  HREFTYPE vtable = 0;
  if (FAILED(dispatch->GetRefTypeOfImplType(-1, &vtable))) {
    info = std::move(dispatch);  // not dual: the interface itself
    return S_OK;
  }
  return dispatch->GetRefTypeInfo(vtable, info.Receive());
}

// The bytes a scalar of type vt fills.
std::size_t ScalarSize(VARTYPE vt) {
  switch (vt) {
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
      return 4;
    default:
      return 8;  // VT_I8, VT_R8, VT_CY, VT_DATE, and pointers: BSTR, SAFEARRAY*, interfaces
  }
}

void ClearOut(VARTYPE vt, void* out) {
  if (out == nullptr) return;
  if (vt == VT_VARIANT) {
    VariantInit(static_cast<VARIANT*>(out));
  } else if (vt != VT_EMPTY) {
    std::memset(out, 0, (vt & VT_ARRAY) != 0 ? sizeof(SAFEARRAY*) : ScalarSize(vt));
  }
}

// An array of element type vt with the bounds and elements of `from`, each converted.
HRESULT ConvertedArray(SAFEARRAY* from, VARTYPE fromType, VARTYPE vt, UniqueSafeArray& made) {
  const UINT dims = SafeArrayGetDim(from);
  std::vector<SAFEARRAYBOUND> bounds(dims);
  ULONG count = 1;
  for (UINT k = 0; k < dims; ++k) {
    bounds[k] = from->rgsabound[dims - 1 - k];  // SafeArrayCreate takes them in declaration order
    count *= bounds[k].cElements;
  }
  made = UniqueSafeArray::Adopt(SafeArrayCreate(vt, dims, bounds.data()));
  if (made.Get() == nullptr) return E_OUTOFMEMORY;
  const SafeArrayLock source(from);
  const SafeArrayLock target(made.Get());
  if (!source.Locked() || !target.Locked()) return E_UNEXPECTED;
  const ULONG fromSize = SafeArrayGetElemsize(from);
  const ULONG toSize = SafeArrayGetElemsize(made.Get());
  for (ULONG i = 0; i < count; ++i) {
    VARIANT element;
    VariantInit(&element);
    element.vt = static_cast<VARTYPE>(fromType | VT_BYREF);
    element.byref = static_cast<unsigned char*>(source.Data()) + i * fromSize;
    UniqueVariant converted;
    HRESULT hr = VariantCopyInd(converted.Get(), &element);
    if (SUCCEEDED(hr) && vt != VT_VARIANT) hr = VariantChangeType(converted.Get(), converted.Get(), 0, vt);
    if (FAILED(hr)) return hr;
    VARIANT taken = converted.Release();
    unsigned char* to = static_cast<unsigned char*>(target.Data()) + i * toSize;
    // An element of an array of VARIANTs is the whole VARIANT; any other is its value.
    std::memcpy(to, vt == VT_VARIANT ? static_cast<void*>(&taken) : static_cast<void*>(&taken.bVal), toSize);
  }
  return S_OK;
}

VARIANT Referring(VARTYPE vt, void* value) {
  VARIANT v;
  VariantInit(&v);
  if (vt == VT_DISPATCH) {  // objects go by value: the library reads their Cookie
    v.vt = VT_DISPATCH;
    v.pdispVal = *static_cast<IDispatch**>(value);
  } else {
    v.vt = static_cast<VARTYPE>(vt | VT_BYREF);
    v.byref = value;
  }
  return v;
}

}  // namespace

TypedCore::TypedCore(const ClassInfo& info, IUnknown* owner) : info_(info), owner_(owner) {}

TypedCore::~TypedCore() {
  automation::ReleaseZulObject(cookie_);  // no notice comes after this
  for (auto& sink : sinks_) sink.second->Release();
}

HRESULT TypedCore::Start() {
  int32_t cookie = 0;
  const HRESULT hr = ZUL_MSCOMPAL_RegisterWrapper(info_.name, 0, nullptr, &cookie);
  if (FAILED(hr)) return Fail(hr);
  cookie_ = cookie;
  if (!info_.createsAtOnce) return S_OK;
  std::vector<VARIANT> none;
  std::vector<uint32_t> flags;
  return Construct(none, flags);
}

HRESULT TypedCore::Construct(std::vector<VARIANT>& args, std::vector<uint32_t>& flags) {
  if (constructed_) {
    return Fail(E_UNEXPECTED, L"Create has already been called on this " + std::wstring(info_.name) + L".");
  }
  const HRESULT hr = ZUL_MSCOMPAL_CreateObject(cookie_, static_cast<int32_t>(args.size()), args.data(),
                                               flags.data(), 0, 0, 0);
  if (FAILED(hr)) return Fail(hr);
  constructed_ = true;
  if (info_.eventCount > 0) ZUL_MSCOMPAL_RegisterNotifyCallback(cookie_, &TypedCore::OnNotify, this);
  return S_OK;
}

void TypedCore::OnNotify(BSTR first, BSTR second, void* userData) {
  auto* self = static_cast<TypedCore*>(userData);
  const EventInfo* event = nullptr;
  for (std::size_t i = 0; i < self->info_.eventCount; ++i) {
    if (CompareStringOrdinal(first, static_cast<int>(SysStringLen(first)), self->info_.events[i].name, -1,
                             TRUE) == CSTR_EQUAL) {
      event = &self->info_.events[i];
    }
  }
  if (event == nullptr) return;  // a notice that names no event of the class
  std::vector<IDispatch*> sinks;
  try {
    std::lock_guard<std::mutex> lock(self->sinksLock_);
    for (auto& sink : self->sinks_) sinks.push_back(sink.second), sink.second->AddRef();
  } catch (...) {
    for (IDispatch* sink : sinks) sink->Release();
    return;  // a delivery that finds no memory is lost
  }
  // The sink reads its argument; the text stays the library's.
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_BSTR;
  argument.bstrVal = second;
  DISPPARAMS params = {&argument, nullptr, event->argument ? 1u : 0u, 0};
  for (IDispatch* sink : sinks) {
    sink->Invoke(event->id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                 nullptr);
    sink->Release();
  }
}

HRESULT EventContainer::QueryInterface(REFIID iid, void** object) {
  return core_.owner_->QueryInterface(iid, object);
}
ULONG EventContainer::AddRef() {
  return core_.owner_->AddRef();
}
ULONG EventContainer::Release() {
  return core_.owner_->Release();
}
HRESULT EventContainer::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (points != nullptr) *points = nullptr;
  return E_NOTIMPL;
}
HRESULT EventContainer::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  if (point == nullptr) return E_POINTER;
  *point = nullptr;
  if (!IsEqualIID(iid, *core_.info_.eventsIid)) return CONNECT_E_NOCONNECTION;
  *point = &core_.point_;
  AddRef();
  return S_OK;
}

HRESULT EventPoint::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IConnectionPoint)) return E_NOINTERFACE;
  *object = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}
ULONG EventPoint::AddRef() {
  return core_.owner_->AddRef();
}
ULONG EventPoint::Release() {
  return core_.owner_->Release();
}
HRESULT EventPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = *core_.info_.eventsIid;
  return S_OK;
}
HRESULT EventPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (container == nullptr) return E_POINTER;
  *container = &core_.container_;
  core_.container_.AddRef();
  return S_OK;
}
// A sink is called through IDispatch: the events interface is a dispinterface.
HRESULT EventPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie != nullptr) *cookie = 0;
  if (sink == nullptr || cookie == nullptr) return E_POINTER;
  IDispatch* dispatch = nullptr;
  if (FAILED(sink->QueryInterface(*core_.info_.eventsIid, reinterpret_cast<void**>(&dispatch))) &&
      FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  try {
    std::lock_guard<std::mutex> lock(core_.sinksLock_);
    core_.sinks_.emplace_back(++core_.nextSink_, dispatch);
    *cookie = core_.nextSink_;
    return S_OK;
  } catch (...) {
    dispatch->Release();
    return CaughtHResult();
  }
}
HRESULT EventPoint::Unadvise(DWORD cookie) {
  IDispatch* removed = nullptr;
  {
    std::lock_guard<std::mutex> lock(core_.sinksLock_);
    for (auto it = core_.sinks_.begin(); it != core_.sinks_.end(); ++it) {
      if (it->first == cookie) {
        removed = it->second;
        core_.sinks_.erase(it);
        break;
      }
    }
  }
  if (removed == nullptr) return CONNECT_E_NOCONNECTION;
  removed->Release();
  return S_OK;
}
HRESULT EventPoint::EnumConnections(IEnumConnections** connections) {
  if (connections != nullptr) *connections = nullptr;
  return E_NOTIMPL;
}

HRESULT TypedCore::Fail(HRESULT hr, const std::wstring& text) const {
  const std::wstring description = text.empty() ? automation::LastErrorText(cookie_) : text;
  UniqueComPtr<ICreateErrorInfo> made;
  if (FAILED(CreateErrorInfo(made.Receive()))) return hr;
  made->SetGUID(*info_.iid);
  made->SetSource(const_cast<LPOLESTR>(info_.progId));
  made->SetDescription(const_cast<LPOLESTR>(description.c_str()));
  UniqueComPtr<IErrorInfo> error;
  if (SUCCEEDED(made->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(error.Receive())))) {
    SetErrorInfo(0, error.Get());
  }
  return hr;
}

HRESULT TypedCore::ClassTypeInfo(ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  return TypeInfoOf(*info_.clsid, info);
}

HRESULT TypedCore::IdsOfNames(LPOLESTR* names, UINT count, DISPID* ids) {
  UniqueComPtr<ITypeInfo> info;
  HRESULT hr = VtableTypeInfo(*info_.iid, info);
  if (FAILED(hr)) return hr;
  hr = DispGetIDsOfNames(info.Get(), names, count, ids);
  if (hr == DISP_E_UNKNOWNNAME && count == 1 &&
      CompareStringOrdinal(names[0], -1, L"Cookie", -1, TRUE) == CSTR_EQUAL) {
    ids[0] = kCookieId;
    return S_OK;
  }
  return hr;
}

HRESULT TypedCore::Invoke(IDispatch* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* exception, UINT* argError) {
  if (id == kCookieId) {
    if ((flags & DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params != nullptr && params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
    if (result != nullptr) {
      VariantInit(result);
      result->vt = VT_I4;
      result->lVal = cookie_;
    }
    return S_OK;
  }
  UniqueComPtr<ITypeInfo> info;
  HRESULT hr = VtableTypeInfo(*info_.iid, info);
  if (FAILED(hr)) return hr;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  SetErrorInfo(0, nullptr);
  hr = info->Invoke(self, id, flags, params != nullptr ? params : &none, result, exception, argError);
  if (FAILED(hr) && hr != DISP_E_EXCEPTION && (hr & 0xFFFF0000) != 0x80020000 && exception != nullptr) {
    // The member failed: its error object becomes the exception the client reports.
    UniqueComPtr<IErrorInfo> error;
    if (GetErrorInfo(0, error.Receive()) == S_OK && error.Get() != nullptr) {
      *exception = EXCEPINFO{};
      error->GetSource(&exception->bstrSource);
      error->GetDescription(&exception->bstrDescription);
      exception->scode = hr;
      return DISP_E_EXCEPTION;
    }
  }
  return hr;
}

Call& Call::In(VARTYPE vt, void* value) {
  args_.push_back(Referring(vt, value));
  flags_.push_back(ZUL_ARGFLAG_IN_ONLY | ZUL_ARGFLAG_REORDER);
  return *this;
}

// Object references only travel into ZUL: writing one back would empty the caller's variable.
Call& Call::InOut(VARTYPE vt, void* value) {
  if (value == nullptr) missing_ = true;
  if (vt == VT_DISPATCH) return missing_ ? *this : In(vt, value);
  args_.push_back(Referring(vt, value));
  flags_.push_back(ZUL_ARGFLAG_WRITE_BACK | ZUL_ARGFLAG_WRITE_BACK_CHANGED | ZUL_ARGFLAG_REORDER);
  return *this;
}

HRESULT Call::Method(const wchar_t* name, VARTYPE vt, void* out, const IID* iid) {
  if (missing_ || (vt != VT_EMPTY && out == nullptr)) return E_POINTER;
  ClearOut(vt, out);
  UniqueVariant value;
  const HRESULT hr = ZUL_MSCOMPAL_CallMethod(core_.Cookie(), name, static_cast<int32_t>(args_.size()),
                                             args_.data(), flags_.data(), value.Get());
  if (FAILED(hr)) return core_.Fail(hr);
  return Result(*value.Get(), name, vt, out, iid);
}

HRESULT Call::Get(const wchar_t* name, VARTYPE vt, void* out, const IID* iid) {
  if (out == nullptr) return E_POINTER;
  ClearOut(vt, out);
  UniqueVariant value;
  const HRESULT hr = ZUL_MSCOMPAL_GetProperty(core_.Cookie(), name, value.Get());
  if (FAILED(hr)) return core_.Fail(hr);
  return Result(*value.Get(), name, vt, out, iid);
}

HRESULT Call::Put(const wchar_t* name) {
  const HRESULT hr = ZUL_MSCOMPAL_SetProperty(core_.Cookie(), name, static_cast<int32_t>(args_.size()),
                                              args_.data(), flags_.data());
  return FAILED(hr) ? core_.Fail(hr) : S_OK;
}

HRESULT Call::Construct() {
  if (missing_) return E_POINTER;
  return core_.Construct(args_, flags_);
}

// The library hands out what ZUL made; a client gets the declared type.
HRESULT Call::Result(VARIANT& value, const wchar_t* name, VARTYPE vt, void* out, const IID* iid) {
  if (vt == VT_EMPTY) return S_OK;
  const std::wstring refused =
      L"The result of " + std::wstring(name) + L" does not convert to its declared type.";
  if (vt == VT_VARIANT) {
    *static_cast<VARIANT*>(out) = value;
    VariantInit(&value);
    return S_OK;
  }
  if (vt == VT_DISPATCH) {
    if (value.vt == VT_EMPTY ||
        ((value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) && value.punkVal == nullptr)) {
      return S_OK;  // Nothing
    }
    if (value.vt != VT_DISPATCH && value.vt != VT_UNKNOWN) return core_.Fail(DISP_E_TYPEMISMATCH, refused);
    const HRESULT hr = value.punkVal->QueryInterface(*iid, static_cast<void**>(out));
    return FAILED(hr) ? core_.Fail(DISP_E_TYPEMISMATCH, refused) : S_OK;
  }
  if ((vt & VT_ARRAY) != 0) {
    if ((value.vt & VT_ARRAY) == 0 || (value.vt & VT_BYREF) != 0 || value.parray == nullptr) {
      return core_.Fail(DISP_E_TYPEMISMATCH, refused);
    }
    if (value.vt == vt) {
      *static_cast<SAFEARRAY**>(out) = value.parray;
      VariantInit(&value);
      return S_OK;
    }
    UniqueSafeArray made;
    const HRESULT hr = ConvertedArray(value.parray, value.vt & VT_TYPEMASK, vt & VT_TYPEMASK, made);
    if (hr == E_OUTOFMEMORY) return core_.Fail(hr, L"Out of memory.");
    if (FAILED(hr)) return core_.Fail(DISP_E_TYPEMISMATCH, refused);
    *static_cast<SAFEARRAY**>(out) = made.Release();
    return S_OK;
  }
  if (FAILED(VariantChangeType(&value, &value, 0, vt))) return core_.Fail(DISP_E_TYPEMISMATCH, refused);
  std::memcpy(out, &value.bVal, ScalarSize(vt));
  VariantInit(&value);  // a BSTR now belongs to *out
  return S_OK;
}

HRESULT GetClassObject(const Server& server, REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  for (std::size_t i = 0; i < server.count; ++i) {
    if (IsEqualCLSID(clsid, *server.classes[i].info->clsid))
      return server.classes[i].factory->QueryInterface(iid, object);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

namespace {
automation::ClassKeys KeysOf(const Server& server, const ServerClass& c) {
  return {automation::GuidString(*c.info->clsid), c.info->progId, c.info->name, c.version,
          automation::GuidString(*server.library)};
}
}  // namespace

HRESULT RegisterServer(const Server& server) {
  try {
    for (std::size_t i = 0; i < server.count; ++i) {
      const HRESULT hr = automation::RegisterClassKeys(KeysOf(server, server.classes[i]));
      if (FAILED(hr)) return hr;
    }
    ITypeLib* registered = nullptr;
    const std::wstring path = automation::ModulePath();
    const HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &registered);
    if (FAILED(hr)) return hr;
    registered->Release();
    return S_OK;
  } catch (...) {
    return CaughtHResult();
  }
}

HRESULT UnregisterServer(const Server& server) {
  try {
    for (std::size_t i = 0; i < server.count; ++i)
      automation::DeleteClassKeys(KeysOf(server, server.classes[i]));
    UnRegisterTypeLib(*server.library, server.major, server.minor, LOCALE_NEUTRAL, SYS_WIN64);
    return S_OK;
  } catch (...) {
    return CaughtHResult();
  }
}

}  // namespace zul::typed

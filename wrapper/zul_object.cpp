#include "zul_object.h"

#include "zul/pal_mscom.h"

namespace zul::automation {

std::atomic<long> g_liveObjects{0};

namespace {

// Reserved members first; every other name gets kFirstMember + its index.
enum : DISPID {
  kCookie = 1,
  kInit,
  kProcName,
  kExecute,
  kGetVariable,
  kSetVariable,
  kAbort,
  kOutput,
  kClassName,
  kVariableName,
  kFirstMember = 1000,
};

struct ReservedName {
  const wchar_t* name;
  DISPID id;
};
constexpr ReservedName kReserved[] = {
    {L"Cookie", kCookie},
    {L"Init", kInit},
    {L"ProcName", kProcName},
    {L"Execute", kExecute},
    {L"GetVariable", kGetVariable},
    {L"SetVariable", kSetVariable},
    {L"Abort", kAbort},
    {L"Output", kOutput},
    {L"ClassName", kClassName},
    {L"VariableName", kVariableName},
};

constexpr wchar_t kSource[] = L"Zul.Object";
// A busy object cannot be destroyed: abort its work and retry for up to two seconds.
constexpr int kDestroyAttempts = 200;
constexpr DWORD kDestroyPauseMs = 10;

bool SameName(const wchar_t* a, const wchar_t* b) {
  return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// The VARIANT a script variable passed by reference stands for.
const VARIANT& Referenced(const VARIANT& v) {
  const VARIANT* p = &v;
  while (p->vt == (VT_BYREF | VT_VARIANT) && p->pvarVal != nullptr) p = p->pvarVal;
  return *p;
}

// A by-reference argument is written back after the call when ZUL changed it, so a variable that a
// method only read keeps its type and every character; an object never is: object references only
// travel into ZUL, and writing one back would empty the caller's variable.
uint32_t FlagFor(const VARIANT& v) {
  if ((v.vt & VT_BYREF) == 0) return ZUL_ARGFLAG_IN_ONLY | ZUL_ARGFLAG_REORDER;
  const VARTYPE base = Referenced(v).vt & ~VT_BYREF;
  if (base == VT_DISPATCH || base == VT_UNKNOWN) return ZUL_ARGFLAG_IN_ONLY | ZUL_ARGFLAG_REORDER;
  return ZUL_ARGFLAG_WRITE_BACK | ZUL_ARGFLAG_WRITE_BACK_CHANGED | ZUL_ARGFLAG_REORDER;
}

// Argument i in parameter order (Invoke's rgvarg is reversed).
const VARIANT& Arg(const DISPPARAMS& params, UINT i) {
  return params.rgvarg[params.cArgs - 1 - i];
}

HRESULT ArgText(const DISPPARAMS& params, UINT i, BSTR& text) {
  VARIANT converted;
  VariantInit(&converted);
  VARIANT* source = const_cast<VARIANT*>(&Referenced(Arg(params, i)));  // only read
  const HRESULT hr = VariantChangeType(&converted, source, 0, VT_BSTR);
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  text = converted.bstrVal;
  return S_OK;
}

void SetText(VARIANT& value, const std::wstring& text) {
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// Scripts can index only arrays of VARIANTs: a typed array result becomes one, element by element.
HRESULT ToVariantArray(VARIANT& value) {
  if ((value.vt & VT_ARRAY) == 0 || value.vt == (VT_ARRAY | VT_VARIANT) || value.parray == nullptr) {
    return S_OK;
  }
  SAFEARRAY* typed = value.parray;
  const VARTYPE elementType = value.vt & VT_TYPEMASK;
  const UINT dims = SafeArrayGetDim(typed);
  std::vector<SAFEARRAYBOUND> bounds(dims);
  ULONG count = 1;
  for (UINT k = 0; k < dims; ++k) {
    bounds[k] = typed->rgsabound[dims - 1 - k];  // SafeArrayCreate takes them in declaration order
    count *= bounds[k].cElements;
  }
  SAFEARRAY* variants = SafeArrayCreate(VT_VARIANT, dims, bounds.data());
  if (variants == nullptr) return E_OUTOFMEMORY;
  void* from = nullptr;
  void* to = nullptr;
  HRESULT hr = SafeArrayAccessData(typed, &from);
  if (SUCCEEDED(hr)) {
    hr = SafeArrayAccessData(variants, &to);
    if (SUCCEEDED(hr)) {
      const ULONG size = SafeArrayGetElemsize(typed);
      for (ULONG i = 0; i < count && SUCCEEDED(hr); ++i) {
        VARIANT element;
        VariantInit(&element);
        element.vt = static_cast<VARTYPE>(elementType | VT_BYREF);
        element.byref = static_cast<unsigned char*>(from) + i * size;
        hr = VariantCopyInd(static_cast<VARIANT*>(to) + i, &element);
      }
      SafeArrayUnaccessData(variants);
    }
    SafeArrayUnaccessData(typed);
  }
  if (FAILED(hr)) {
    SafeArrayDestroy(variants);
    return hr;
  }
  SafeArrayDestroy(typed);
  value.vt = VT_ARRAY | VT_VARIANT;
  value.parray = variants;
  return S_OK;
}

HRESULT Raise(EXCEPINFO* exception, HRESULT hr, const std::wstring& description) {
  if (exception == nullptr) return hr;
  *exception = EXCEPINFO{};
  exception->bstrSource = SysAllocString(kSource);
  exception->bstrDescription = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
  exception->scode = hr;
  return DISP_E_EXCEPTION;
}

std::wstring TakeBstr(BSTR text) {
  std::wstring s = text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring();
  SysFreeString(text);
  return s;
}

}  // namespace

ZulObject::ZulObject() {
  ++g_liveObjects;
}

ZulObject::~ZulObject() {
  Reset();
  --g_liveObjects;
}

void ZulObject::Reset() {
  if (cookie_ == 0) return;
  ZUL_MSCOMPAL_UnregisterOutputCallback(cookie_);
  HRESULT hr = ZUL_MSCOMPAL_DestroyObject(cookie_);
  for (int i = 1; hr == E_ACCESSDENIED && i < kDestroyAttempts; ++i) {
    ZUL_MSCOMPAL_Abort(cookie_);
    Sleep(kDestroyPauseMs);
    hr = ZUL_MSCOMPAL_DestroyObject(cookie_);
  }
  ZUL_MSCOMPAL_ReleaseWrapper(cookie_);
  cookie_ = 0;
}

HRESULT ZulObject::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG ZulObject::AddRef() {
  return ++references_;
}

ULONG ZulObject::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT ZulObject::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT ZulObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT ZulObject::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (names == nullptr || ids == nullptr) return E_POINTER;
  // Members take no named parameters.
  for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const wchar_t* name = names[0];
  if (name == nullptr || name[0] == 0) {
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  ids[0] = DISPID_UNKNOWN;
  for (const ReservedName& reserved : kReserved) {
    if (SameName(name, reserved.name)) ids[0] = reserved.id;
  }
  for (std::size_t i = 0; ids[0] == DISPID_UNKNOWN && i < members_.size(); ++i) {
    if (SameName(name, members_[i].name.c_str())) ids[0] = kFirstMember + static_cast<DISPID>(i);
  }
  if (ids[0] == DISPID_UNKNOWN) {
    // Late binding: whether ZUL knows the name is found out when it is invoked.
    members_.push_back(Member{name});
    ids[0] = kFirstMember + static_cast<DISPID>(members_.size() - 1);
  }
  return count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
}

HRESULT ZulObject::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* exception, UINT*) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  const DISPPARAMS& p = params != nullptr ? *params : none;
  if (p.cArgs > 0 && p.rgvarg == nullptr) return E_INVALIDARG;
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  if (put) {
    const bool valueNamed =
        p.cNamedArgs == 1 && p.rgdispidNamedArgs != nullptr && p.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
    if (p.cArgs == 0 || (p.cNamedArgs != 0 && !valueNamed)) return DISP_E_PARAMNOTOPTIONAL;
  } else if (p.cNamedArgs != 0) {
    return DISP_E_NONAMEDARGS;
  }

  VARIANT value;
  VariantInit(&value);
  std::wstring ownError;
  HRESULT hr;
  if (id >= kFirstMember && static_cast<std::size_t>(id - kFirstMember) < members_.size()) {
    hr = InvokeMember(members_[id - kFirstMember], flags, p, value);
  } else {
    hr = InvokeReserved(id, flags, p, value, ownError);
  }
  if (SUCCEEDED(hr)) hr = ToVariantArray(value);
  if (FAILED(hr)) {
    VariantClear(&value);
    // The library's failures carry its message; a wrapper's own failure carries its own.
    if (!ownError.empty()) return Raise(exception, hr, ownError);
    if ((hr & 0xFFFF0000) == 0x80020000) return hr;  // DISP_E_*: the script reports these itself
    return Raise(exception, hr, LastError());
  }
  if (result != nullptr) {
    *result = value;
  } else {
    VariantClear(&value);
  }
  return S_OK;
}

// A script that writes o.Name or o.Name() asks for DISPATCH_METHOD|DISPATCH_PROPERTYGET alike: the
// name is read as a property first (reads change nothing) and called as a method when ZUL refuses
// the read with E_FAIL; what worked is remembered for the member.
HRESULT ZulObject::InvokeMember(Member& member, WORD flags, const DISPPARAMS& params, VARIANT& value) {
  if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) {
    Arguments args = InParameterOrder(params, 0, params.cArgs);
    return ZUL_MSCOMPAL_SetProperty(cookie_, member.name.c_str(), static_cast<int32_t>(args.values.size()),
                                    args.values.data(), args.flags.data());
  }
  const bool method = (flags & DISPATCH_METHOD) != 0;
  const bool get = (flags & DISPATCH_PROPERTYGET) != 0;
  if (params.cArgs > 0 || !get) return method ? CallMethod(member, params, value) : DISP_E_BADPARAMCOUNT;
  if (!method || member.kind == Kind::kProperty) return GetProperty(member, value);
  if (member.kind == Kind::kMethod) return CallMethod(member, params, value);
  HRESULT hr = GetProperty(member, value);
  if (SUCCEEDED(hr)) {
    member.kind = Kind::kProperty;
    return hr;
  }
  if (hr != E_FAIL) return hr;
  hr = CallMethod(member, params, value);
  if (SUCCEEDED(hr)) member.kind = Kind::kMethod;
  return hr;
}

HRESULT ZulObject::CallMethod(const Member& member, const DISPPARAMS& params, VARIANT& value) {
  Arguments args = InParameterOrder(params, 0, params.cArgs);
  VariantClear(&value);
  return ZUL_MSCOMPAL_CallMethod(cookie_, member.name.c_str(), static_cast<int32_t>(args.values.size()),
                                 args.values.data(), args.flags.data(), &value);
}

HRESULT ZulObject::GetProperty(const Member& member, VARIANT& value) {
  VariantClear(&value);
  return ZUL_MSCOMPAL_GetProperty(cookie_, member.name.c_str(), &value);
}

HRESULT ZulObject::InvokeReserved(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT& value,
                                  std::wstring& ownError) {
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  if (put && id != kProcName) return DISP_E_MEMBERNOTFOUND;  // the rest are read-only or methods
  const UINT n = params.cArgs;
  auto expect = [n](UINT count) { return n == count ? S_OK : DISP_E_BADPARAMCOUNT; };
  HRESULT hr = S_OK;
  BSTR text = nullptr;
  switch (id) {
    case kInit:
      return Init(params, ownError);
    case kProcName:
      if (!put) {
        if (FAILED(hr = expect(0))) return hr;
        SetText(value, procName_);
        return S_OK;
      }
      if (FAILED(hr = expect(1))) return hr;
      if (cookie_ != 0) {
        ownError = L"ProcName can be set only before Init.";
        return E_UNEXPECTED;
      }
      if (FAILED(hr = ArgText(params, 0, text))) return hr;
      procName_ = TakeBstr(text);
      return S_OK;
    case kCookie:
      if (FAILED(hr = expect(0))) return hr;
      value.vt = VT_I4;
      value.lVal = cookie_;
      return S_OK;
    case kExecute:
      if (FAILED(hr = expect(1)) || FAILED(hr = ArgText(params, 0, text))) return hr;
      hr = ZUL_MSCOMPAL_ExecuteString(cookie_, text);
      SysFreeString(text);
      return hr;
    case kGetVariable:
      if (FAILED(hr = expect(1)) || FAILED(hr = ArgText(params, 0, text))) return hr;
      hr = ZUL_MSCOMPAL_GetZULVariable(cookie_, text, &value);
      SysFreeString(text);
      return hr;
    case kSetVariable:
      if (FAILED(hr = expect(2)) || FAILED(hr = ArgText(params, 0, text))) return hr;
      hr = ZUL_MSCOMPAL_SetZULVariable(cookie_, text, Arg(params, 1));
      SysFreeString(text);
      return hr;
    case kAbort:
      if (FAILED(hr = expect(0))) return hr;
      return ZUL_MSCOMPAL_Abort(cookie_);
    case kOutput: {
      if (FAILED(hr = expect(0))) return hr;
      std::wstring taken;
      {
        std::lock_guard<std::mutex> lock(outputLock_);
        taken.swap(output_);
      }
      SetText(value, taken);
      return S_OK;
    }
    case kClassName:
      if (FAILED(hr = expect(0))) return hr;
      hr = ZUL_MSCOMPAL_GetObjClassName(cookie_, &text);
      if (SUCCEEDED(hr)) SetText(value, TakeBstr(text));
      return hr;
    case kVariableName:
      if (FAILED(hr = expect(0))) return hr;
      hr = ZUL_MSCOMPAL_GetObjVariableName(cookie_, &text);
      if (SUCCEEDED(hr)) SetText(value, TakeBstr(text));
      return hr;
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

// Init(className, constructor arguments...): registers the wrapper and creates its object, or
// leaves nothing registered.
HRESULT ZulObject::Init(const DISPPARAMS& params, std::wstring& ownError) {
  if (params.cArgs < 1) return DISP_E_BADPARAMCOUNT;
  if (cookie_ != 0) {
    ownError = L"Init has already been called on this Zul.Object.";
    return E_UNEXPECTED;
  }
  BSTR className = nullptr;
  HRESULT hr = ArgText(params, 0, className);
  if (FAILED(hr)) return hr;
  int32_t cookie = 0;
  hr = ZUL_MSCOMPAL_RegisterWrapper(className, 0, procName_.empty() ? nullptr : procName_.c_str(), &cookie);
  SysFreeString(className);
  if (FAILED(hr)) return hr;  // the message is the context's: cookie_ is still 0

  Arguments args = InParameterOrder(params, 1, params.cArgs - 1);
  cookie_ = cookie;
  hr = ZUL_MSCOMPAL_CreateObject(cookie_, static_cast<int32_t>(args.values.size()), args.values.data(),
                                 args.flags.data(), 0, 0, 0);
  if (FAILED(hr)) {
    ownError = LastError();  // read before the wrapper and its message go
    ZUL_MSCOMPAL_ReleaseWrapper(cookie_);
    cookie_ = 0;
    return hr;
  }
  ZUL_MSCOMPAL_RegisterOutputCallback(cookie_, &ZulObject::OnOutput, this);
  return S_OK;
}

void ZulObject::OnOutput(BSTR text, void* userData) {
  auto* self = static_cast<ZulObject*>(userData);
  std::lock_guard<std::mutex> lock(self->outputLock_);
  self->output_.append(text, SysStringLen(text));
  self->output_.append(L"\r\n");  // each delivery is one line
}

std::wstring ZulObject::LastError() const {
  BSTR message = nullptr;
  ZUL_MSCOMPAL_GetLastError(cookie_, &message);
  std::wstring text = TakeBstr(message);
  if (text.empty() && cookie_ != 0) {
    ZUL_MSCOMPAL_GetLastError(0, &message);
    text = TakeBstr(message);
  }
  return text;
}

ZulObject::Arguments ZulObject::InParameterOrder(const DISPPARAMS& params, UINT first, UINT count) {
  Arguments args;
  args.values.reserve(count);
  args.flags.reserve(count);
  for (UINT i = first; i < first + count; ++i) {
    args.values.push_back(Arg(params, i));
    args.flags.push_back(FlagFor(args.values.back()));
  }
  return args;
}

}  // namespace zul::automation

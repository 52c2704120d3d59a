#include "zul_object.h"

#include <new>

#include "platform/resources.h"
#include "zul/pal_mscom.h"

namespace zul::automation {

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
  kNotifications,
  kModuleUsers,
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
    {L"Notifications", kNotifications},
    {L"ModuleUsers", kModuleUsers},
};

constexpr wchar_t kSource[] = L"Zul.Object";
// Nested JScript arrays deeper than this are refused (the library takes no more dimensions), which
// also ends a walk through an array that holds itself.
constexpr std::size_t kMaxNesting = 8;

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

HRESULT ArgText(const DISPPARAMS& params, UINT i, UniqueBstr& text) {
  UniqueVariant converted;
  VARIANT* source = const_cast<VARIANT*>(&Referenced(Arg(params, i)));  // only read
  if (FAILED(VariantChangeType(converted.Get(), source, 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
  text = UniqueBstr::Adopt(converted.Release().bstrVal);
  return S_OK;
}

void SetText(VARIANT& value, const std::wstring& text) {
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// Whole-number types that script engines cannot read.
bool ScriptLacks(VARTYPE vt) {
  return vt == VT_I1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_I8 || vt == VT_UI8 || vt == VT_INT ||
         vt == VT_UINT;
}

// A value as scripts can use it, converted in place: such a whole number becomes a Long where it fits,
// else a Double (exact up to 2^53); a typed array becomes an array of VARIANTs with the same bounds, and
// every element of an array of VARIANTs is converted in turn.
HRESULT ForScript(VARIANT& value) {
  if (ScriptLacks(value.vt)) {
    if (SUCCEEDED(VariantChangeType(&value, &value, 0, VT_I4))) return S_OK;
    return VariantChangeType(&value, &value, 0, VT_R8);
  }
  if ((value.vt & VT_ARRAY) == 0 || (value.vt & VT_BYREF) != 0 || value.parray == nullptr) return S_OK;
  SAFEARRAY* from = value.parray;
  const UINT dims = SafeArrayGetDim(from);
  ULONG count = 1;
  for (UINT k = 0; k < dims; ++k) count *= from->rgsabound[k].cElements;
  if (value.vt == (VT_ARRAY | VT_VARIANT)) {
    const SafeArrayLock lock(from);
    if (!lock.Locked()) return E_UNEXPECTED;
    for (ULONG i = 0; i < count; ++i) {
      const HRESULT hr = ForScript(static_cast<VARIANT*>(lock.Data())[i]);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  std::vector<SAFEARRAYBOUND> bounds(dims);
  for (UINT k = 0; k < dims; ++k)
    bounds[k] = from->rgsabound[dims - 1 - k];  // SafeArrayCreate: declaration order
  UniqueSafeArray variants = UniqueSafeArray::Adopt(SafeArrayCreate(VT_VARIANT, dims, bounds.data()));
  if (variants.Get() == nullptr) return E_OUTOFMEMORY;
  {
    const SafeArrayLock typed(from);
    const SafeArrayLock to(variants.Get());
    if (!typed.Locked() || !to.Locked()) return E_UNEXPECTED;
    const ULONG size = SafeArrayGetElemsize(from);
    for (ULONG i = 0; i < count; ++i) {
      VARIANT element;
      VariantInit(&element);
      element.vt = static_cast<VARTYPE>((value.vt & VT_TYPEMASK) | VT_BYREF);
      element.byref = static_cast<unsigned char*>(typed.Data()) + i * size;
      VARIANT& copy = static_cast<VARIANT*>(to.Data())[i];
      HRESULT hr = VariantCopyInd(&copy, &element);
      if (SUCCEEDED(hr)) hr = ForScript(copy);
      if (FAILED(hr)) return hr;
    }
  }
  const UniqueSafeArray replaced = UniqueSafeArray::Adopt(from);
  value.vt = VT_ARRAY | VT_VARIANT;
  value.parray = variants.Release();
  return S_OK;
}

bool HasMember(IDispatch* object, const wchar_t* name, DISPID& id) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  return SUCCEEDED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
}

// The length of a JScript array: an object with a whole-number `length` and no `Cookie` (a wrapper
// object, which answers every name, stays an object reference). -1 for any other value.
LONG ScriptArrayLength(const VARIANT& value) {
  const VARIANT& v = Referenced(value);
  if (v.vt != VT_DISPATCH || v.pdispVal == nullptr) return -1;
  DISPID id = DISPID_UNKNOWN;
  if (HasMember(v.pdispVal, L"Cookie", id) || !HasMember(v.pdispVal, L"length", id)) return -1;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  UniqueVariant length;
  if (FAILED(v.pdispVal->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, length.Get(),
                                nullptr, nullptr)) ||
      FAILED(VariantChangeType(length.Get(), length.Get(), 0, VT_I4))) {
    return -1;
  }
  return length->lVal >= 0 ? length->lVal : -1;
}

// Element i of a JScript array; a hole reads as Empty, JScript's undefined.
HRESULT ScriptElement(const VARIANT& array, LONG i, UniqueVariant& element) {
  IDispatch* object = Referenced(array).pdispVal;
  element.Reset();
  DISPID id = DISPID_UNKNOWN;
  if (!HasMember(object, std::to_wstring(i).c_str(), id)) return S_OK;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, element.Get(),
                        nullptr, nullptr);
}

// A JScript array and its nested arrays as one SAFEARRAY of VARIANTs: the outer index is the first.
class ScriptArrayReader {
 public:
  explicit ScriptArrayReader(UINT position) : position_(position) {}

  HRESULT Read(const VARIANT& array, UniqueVariant& out, std::wstring& error) {
    HRESULT hr = Shape(array, error);
    if (FAILED(hr)) return hr;
    std::vector<SAFEARRAYBOUND> bounds;
    for (LONG n : dims_) bounds.push_back({static_cast<ULONG>(n), 0});
    UniqueSafeArray made =
        UniqueSafeArray::Adopt(SafeArrayCreate(VT_VARIANT, static_cast<UINT>(bounds.size()), bounds.data()));
    if (made.Get() == nullptr) {
      error = L"Argument " + std::to_wstring(position_) + L" is too large an array.";
      return E_OUTOFMEMORY;
    }
    {
      const SafeArrayLock lock(made.Get());
      if (!lock.Locked()) return E_UNEXPECTED;
      data_ = static_cast<VARIANT*>(lock.Data());
      at_.assign(dims_.size(), 0);
      if (FAILED(hr = Fill(array, 0, error))) return hr;
    }
    out.Reset();
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = made.Release();
    return S_OK;
  }

 private:
  // The lengths along the first elements; Fill checks that every other element agrees.
  HRESULT Shape(const VARIANT& array, std::wstring& error) {
    UniqueVariant element;
    const VARIANT* v = &array;
    uint64_t count = 1;
    for (LONG n = ScriptArrayLength(*v); n >= 0; n = ScriptArrayLength(*v)) {
      if (dims_.size() == kMaxNesting) {
        error = L"Argument " + std::to_wstring(position_) + L" nests arrays more than " +
                std::to_wstring(kMaxNesting) + L" deep.";
        return E_INVALIDARG;
      }
      dims_.push_back(n);
      count *= static_cast<uint64_t>(n);
      if (count == 0) return S_OK;
      if (count > 0x7FFFFFFF / sizeof(VARIANT)) {
        error = L"Argument " + std::to_wstring(position_) + L" is too large an array.";
        return E_OUTOFMEMORY;
      }
      UniqueVariant first;
      const HRESULT hr = ScriptElement(*v, 0, first);
      if (FAILED(hr)) return hr;
      element = std::move(first);
      v = element.Get();
    }
    return S_OK;
  }

  HRESULT Fill(const VARIANT& array, std::size_t depth, std::wstring& error) {
    const bool innermost = depth + 1 == dims_.size();
    const LONG expected = innermost ? -1 : dims_[depth + 1];
    for (LONG i = 0; i < dims_[depth]; ++i) {
      at_[depth] = i;
      UniqueVariant element;
      HRESULT hr = ScriptElement(array, i, element);
      if (FAILED(hr)) return hr;
      const LONG length = ScriptArrayLength(*element.Get());
      if (length != expected) {
        error = L"Argument " + std::to_wstring(position_) + L" is a ragged array: " + Path(depth, false) +
                Extent(length) + L", but " + Path(depth, true) + Extent(expected) + L".";
        return E_INVALIDARG;
      }
      if (!innermost) {
        if (FAILED(hr = Fill(*element.Get(), depth + 1, error))) return hr;
        continue;
      }
      std::size_t offset = 0;  // the first index varies fastest, as in a client's a(i, j)
      for (std::size_t k = dims_.size(); k-- > 0;) offset = offset * dims_[k] + at_[k];
      data_[offset] = element.Release();
    }
    return S_OK;
  }

  // The element at the current indexes down to depth, as JScript writes it: [1][0]; or the first
  // element at that depth.
  std::wstring Path(std::size_t depth, bool first) const {
    std::wstring path;
    for (std::size_t k = 0; k <= depth; ++k) path += L"[" + std::to_wstring(first ? 0 : at_[k]) + L"]";
    return path;
  }

  static std::wstring Extent(LONG length) {
    if (length < 0) return L" is not an array";
    return L" has " + std::to_wstring(length) + (length == 1 ? L" element" : L" elements");
  }

  UINT position_;
  std::vector<LONG> dims_;  // outer first
  std::vector<LONG> at_;
  VARIANT* data_ = nullptr;
};

HRESULT Raise(EXCEPINFO* exception, HRESULT hr, const std::wstring& description) {
  if (exception == nullptr) return hr;
  *exception = EXCEPINFO{};
  exception->bstrSource = SysAllocString(kSource);
  exception->bstrDescription = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
  exception->scode = hr;
  return DISP_E_EXCEPTION;
}

std::wstring TakeBstr(UniqueBstr text) {
  return text.Get() != nullptr ? std::wstring(text.Get(), SysStringLen(text.Get())) : std::wstring();
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
  ReleaseZulObject(cookie_);
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
  try {
    return IdsOfNames(iid, names, count, ids);
  } catch (...) {
    return CaughtHResult();
  }
}

HRESULT ZulObject::IdsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) {
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

  try {
    UniqueVariant value;
    std::wstring ownError;
    HRESULT hr;
    if (id >= kFirstMember && static_cast<std::size_t>(id - kFirstMember) < members_.size()) {
      hr = InvokeMember(members_[id - kFirstMember], flags, p, *value.Get(), ownError);
    } else {
      hr = InvokeReserved(id, flags, p, *value.Get(), ownError);
    }
    if (SUCCEEDED(hr)) hr = ForScript(*value.Get());
    if (FAILED(hr)) {
      // The library's failures carry its message; a wrapper's own failure carries its own.
      if (!ownError.empty()) return Raise(exception, hr, ownError);
      if ((hr & 0xFFFF0000) == 0x80020000) return hr;  // DISP_E_*: the script reports these itself
      return Raise(exception, hr, LastError());
    }
    if (result != nullptr) *result = value.Release();
    return S_OK;
  } catch (...) {
    return CaughtHResult();
  }
}

// A script that writes o.Name or o.Name() asks for DISPATCH_METHOD|DISPATCH_PROPERTYGET alike: the
// name is read as a property first (reads change nothing) and called as a method when ZUL refuses
// the read with E_FAIL; what worked is remembered for the member.
HRESULT ZulObject::InvokeMember(Member& member, WORD flags, const DISPPARAMS& params, VARIANT& value,
                                std::wstring& ownError) {
  if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) {
    Arguments args;
    HRESULT hr = InParameterOrder(params, 0, params.cArgs, args, ownError);
    if (FAILED(hr)) return hr;
    hr = ZUL_MSCOMPAL_SetProperty(cookie_, member.name.c_str(), static_cast<int32_t>(args.values.size()),
                                  args.values.data(), args.flags.data());
    return hr;  // nothing is written back
  }
  const bool method = (flags & DISPATCH_METHOD) != 0;
  const bool get = (flags & DISPATCH_PROPERTYGET) != 0;
  if (params.cArgs > 0 || !get) {
    return method ? CallMethod(member, params, value, ownError) : DISP_E_BADPARAMCOUNT;
  }
  if (!method || member.kind == Kind::kProperty) return GetProperty(member, value);
  if (member.kind == Kind::kMethod) return CallMethod(member, params, value, ownError);
  HRESULT hr = GetProperty(member, value);
  if (SUCCEEDED(hr)) {
    member.kind = Kind::kProperty;
    return hr;
  }
  if (hr != E_FAIL) return hr;
  hr = CallMethod(member, params, value, ownError);
  if (SUCCEEDED(hr)) member.kind = Kind::kMethod;
  return hr;
}

HRESULT ZulObject::CallMethod(const Member& member, const DISPPARAMS& params, VARIANT& value,
                              std::wstring& ownError) {
  Arguments args;
  HRESULT hr = InParameterOrder(params, 0, params.cArgs, args, ownError);
  if (FAILED(hr)) return hr;
  VariantClear(&value);
  hr = ZUL_MSCOMPAL_CallMethod(cookie_, member.name.c_str(), static_cast<int32_t>(args.values.size()),
                               args.values.data(), args.flags.data(), &value);
  return WrittenBackForScript(args, hr);
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
  UniqueBstr text;
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
      procName_ = TakeBstr(std::move(text));
      return S_OK;
    case kCookie:
      if (FAILED(hr = expect(0))) return hr;
      value.vt = VT_I4;
      value.lVal = cookie_;
      return S_OK;
    case kExecute:
      if (FAILED(hr = expect(1)) || FAILED(hr = ArgText(params, 0, text))) return hr;
      return ZUL_MSCOMPAL_ExecuteString(cookie_, text.Get());
    case kGetVariable:
      if (FAILED(hr = expect(1)) || FAILED(hr = ArgText(params, 0, text))) return hr;
      return ZUL_MSCOMPAL_GetZULVariable(cookie_, text.Get(), &value);
    case kSetVariable: {
      if (FAILED(hr = expect(2)) || FAILED(hr = ArgText(params, 0, text))) return hr;
      Arguments args;
      if (FAILED(hr = InParameterOrder(params, 1, 1, args, ownError, 2))) return hr;
      return ZUL_MSCOMPAL_SetZULVariable(cookie_, text.Get(), args.values[0]);
    }
    case kAbort:
      if (FAILED(hr = expect(0))) return hr;
      return ZUL_MSCOMPAL_Abort(cookie_);
    case kOutput:
    case kNotifications: {
      if (FAILED(hr = expect(0))) return hr;
      std::wstring taken;
      {
        std::lock_guard<std::mutex> lock(deliveredLock_);
        taken.swap(id == kOutput ? output_ : notifications_);
      }
      SetText(value, taken);
      return S_OK;
    }
    case kModuleUsers:  // 0: DllCanUnloadNow says S_OK once this object is released
      if (FAILED(hr = expect(0))) return hr;
      value.vt = VT_I4;
      value.lVal = ModuleUsers() - 1;
      return S_OK;
    case kClassName:
      if (FAILED(hr = expect(0))) return hr;
      hr = ZUL_MSCOMPAL_GetObjClassName(cookie_, text.Receive());
      if (SUCCEEDED(hr)) SetText(value, TakeBstr(std::move(text)));
      return hr;
    case kVariableName:
      if (FAILED(hr = expect(0))) return hr;
      hr = ZUL_MSCOMPAL_GetObjVariableName(cookie_, text.Receive());
      if (SUCCEEDED(hr)) SetText(value, TakeBstr(std::move(text)));
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
  UniqueBstr className;
  HRESULT hr = ArgText(params, 0, className);
  if (FAILED(hr)) return hr;
  Arguments args;
  if (FAILED(hr = InParameterOrder(params, 1, params.cArgs - 1, args, ownError))) return hr;
  int32_t cookie = 0;
  hr = ZUL_MSCOMPAL_RegisterWrapper(className.Get(), 0, procName_.empty() ? nullptr : procName_.c_str(),
                                    &cookie);
  if (FAILED(hr)) return hr;  // the message is the context's: cookie_ is still 0

  cookie_ = cookie;
  hr = ZUL_MSCOMPAL_CreateObject(cookie_, static_cast<int32_t>(args.values.size()), args.values.data(),
                                 args.flags.data(), 0, 0, 0);
  // The object stands even where a written-back value keeps the library's form (out of memory).
  WrittenBackForScript(args, hr);
  if (FAILED(hr)) {
    ownError = LastError();  // read before the wrapper and its message go
    ZUL_MSCOMPAL_ReleaseWrapper(cookie_);
    cookie_ = 0;
    return hr;
  }
  ZUL_MSCOMPAL_RegisterOutputCallback(cookie_, &ZulObject::OnOutput, this);
  ZUL_MSCOMPAL_RegisterNotifyCallback(cookie_, &ZulObject::OnNotify, this);
  return S_OK;
}

// The callbacks run on the bridge's threads and must let nothing escape; a delivery that finds no
// memory is lost.
void ZulObject::OnOutput(BSTR text, void* userData) {
  auto* self = static_cast<ZulObject*>(userData);
  try {
    std::lock_guard<std::mutex> lock(self->deliveredLock_);
    self->output_.append(text, SysStringLen(text)).append(L"\r\n");  // each delivery is one line
  } catch (...) {
  }
}

void ZulObject::OnNotify(BSTR first, BSTR second, void* userData) {
  auto* self = static_cast<ZulObject*>(userData);
  try {
    std::lock_guard<std::mutex> lock(self->deliveredLock_);
    self->notifications_.append(first, SysStringLen(first)).append(L"\t");
    self->notifications_.append(second, SysStringLen(second)).append(L"\r\n");
  } catch (...) {
  }
}

std::wstring ZulObject::LastError() const {
  return LastErrorText(cookie_);
}

// A JScript array becomes an array of VARIANTs that args owns; every other value is the caller's.
// Texts number the arguments from numberedFrom.
HRESULT ZulObject::InParameterOrder(const DISPPARAMS& params, UINT first, UINT count, Arguments& args,
                                    std::wstring& ownError, UINT numberedFrom) {
  args.values.reserve(count);
  args.flags.reserve(count);
  for (UINT i = first; i < first + count; ++i) {
    const VARIANT& arg = Arg(params, i);
    if (ScriptArrayLength(arg) >= 0) {
      UniqueVariant array;
      const HRESULT hr = ScriptArrayReader(numberedFrom + i - first).Read(arg, array, ownError);
      if (FAILED(hr)) return hr;
      args.converted.push_back(std::move(array));
      args.values.push_back(*args.converted.back().Get());
    } else {
      args.values.push_back(arg);
    }
    args.flags.push_back(FlagFor(args.values.back()));
  }
  for (std::size_t i = 0; i < count; ++i) {
    VARIANT* variable = nullptr;
    if ((args.flags[i] & ZUL_ARGFLAG_WRITE_BACK) != 0 && args.values[i].vt == (VT_BYREF | VT_VARIANT)) {
      variable = const_cast<VARIANT*>(&Referenced(args.values[i]));
      if (InsideAnArrayOf(args, *variable)) variable = nullptr;
    }
    args.variables.push_back(variable);
  }
  return S_OK;
}

bool ZulObject::InsideAnArrayOf(const Arguments& args, const VARIANT& variable) {
  for (const VARIANT& arg : args.values) {
    const VARIANT& held = Referenced(arg);
    if (held.vt != (VT_ARRAY | VT_VARIANT) || held.parray == nullptr) continue;
    ULONG count = 1;
    for (UINT k = 0; k < held.parray->cDims; ++k) count *= held.parray->rgsabound[k].cElements;
    const auto* data = static_cast<const VARIANT*>(held.parray->pvData);
    if (&variable >= data && &variable < data + count) return true;
  }
  return false;
}

// What a successful call wrote into the caller's variables takes the forms scripts can use. The library
// leaves WRITE_BACK only on the arguments it wrote back (they are flagged WRITE_BACK_CHANGED), so a
// variable the call left alone keeps what it held.
HRESULT ZulObject::WrittenBackForScript(const Arguments& args, HRESULT called) {
  if (FAILED(called)) return called;
  for (std::size_t i = 0; i < args.variables.size(); ++i) {
    if (args.variables[i] == nullptr || (args.flags[i] & ZUL_ARGFLAG_WRITE_BACK) == 0) continue;
    const HRESULT hr = ForScript(*args.variables[i]);
    if (FAILED(hr)) return hr;
  }
  return called;
}

}  // namespace zul::automation

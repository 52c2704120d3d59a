#include "e2e_support.h"

#include <charconv>
#include <chrono>
#include <cstring>

#ifdef _WIN32
#include <comdef.h>
#else
#include "zul/host/libloader.h"
#endif

namespace zul::e2e {
namespace {

constexpr uint32_t kIn = ArgFlag::InOnly | ArgFlag::Reorder;
constexpr uint32_t kByRef = ArgFlag::WriteBack | ArgFlag::Reorder;

struct TypeInfo {
  const char* name;
  VARTYPE vt;
};
constexpr TypeInfo kTypes[] = {{"I1", VT_I1},
                               {"UI1", VT_UI1},
                               {"I2", VT_I2},
                               {"UI2", VT_UI2},
                               {"I4", VT_I4},
                               {"UI4", VT_UI4},
                               {"I8", VT_I8},
                               {"UI8", VT_UI8},
                               {"INT", VT_INT},
                               {"UINT", VT_UINT},
                               {"R4", VT_R4},
                               {"R8", VT_R8},
                               {"CY", VT_CY},
                               {"DATE", VT_DATE},
                               {"ERROR", VT_ERROR},
                               {"BOOL", VT_BOOL},
                               {"BSTR", VT_BSTR},
                               {"VARIANT", VT_VARIANT},
                               {"DISPATCH", VT_DISPATCH}};

VARTYPE TypeNamed(const std::string& name) {
  for (const TypeInfo& type : kTypes) {
    if (name == type.name) return type.vt;
  }
  ADD_FAILURE() << "no type " << name;
  return VT_EMPTY;
}

std::string NameOf(VARTYPE vt) {
  for (const TypeInfo& type : kTypes) {
    if (vt == type.vt) return type.name;
  }
  return "vt" + std::to_string(vt);
}

template <typename T>
std::string Real(T value) {
  char text[40];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// Writes a scalar of type vt, read from text, where a VARIANT keeps its value or an array its element.
void Store(VARTYPE vt, const std::string& text, void* at) {
  const auto put = [at](auto value) { std::memcpy(at, &value, sizeof value); };
  switch (vt) {
    case VT_I1:
      put(static_cast<int8_t>(std::stoll(text)));
      break;
    case VT_UI1:
      put(static_cast<uint8_t>(std::stoull(text)));
      break;
    case VT_I2:
    case VT_BOOL:
      put(static_cast<int16_t>(std::stoll(text)));
      break;
    case VT_UI2:
      put(static_cast<uint16_t>(std::stoull(text)));
      break;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      put(static_cast<int32_t>(std::stoll(text)));
      break;
    case VT_UI4:
    case VT_UINT:
      put(static_cast<uint32_t>(std::stoull(text)));
      break;
    case VT_I8:
    case VT_CY:
      put(static_cast<int64_t>(std::stoll(text)));
      break;
    case VT_UI8:
      put(static_cast<uint64_t>(std::stoull(text)));
      break;
    case VT_R4:
      put(std::stof(text));
      break;
    case VT_R8:
    case VT_DATE:
      put(std::stod(text));
      break;
    case VT_BSTR:
      put(SysAllocString(Wide(text).c_str()));
      break;
    default:
      ADD_FAILURE() << "cannot store " << NameOf(vt);
  }
}

std::string Load(VARTYPE vt, const void* at) {
  const auto get = [at](auto value) {
    std::memcpy(&value, at, sizeof value);
    return value;
  };
  switch (vt) {
    case VT_I1:
      return std::to_string(get(int8_t{}));
    case VT_UI1:
      return std::to_string(get(uint8_t{}));
    case VT_I2:
    case VT_BOOL:
      return std::to_string(get(int16_t{}));
    case VT_UI2:
      return std::to_string(get(uint16_t{}));
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      return std::to_string(get(int32_t{}));
    case VT_UI4:
    case VT_UINT:
      return std::to_string(get(uint32_t{}));
    case VT_I8:
    case VT_CY:
      return std::to_string(get(int64_t{}));
    case VT_UI8:
      return std::to_string(get(uint64_t{}));
    case VT_R4:
      return Real(get(float{}));
    case VT_R8:
    case VT_DATE:
      return Real(get(double{}));
    case VT_BSTR: {
      const BSTR text = get(BSTR{});
      return text == nullptr ? "<null>" : Narrow(text);
    }
    case VT_VARIANT:
      return Show(*static_cast<const VARIANT*>(at));
    default:
      return "?";
  }
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

using Outstanding = int64_t (*)(int32_t);

Outstanding OutstandingBlocks() {
#ifdef _WIN32
  HMODULE bridge = GetModuleHandleA("zul_qel.dll");
#else
  HMODULE bridge = GetModuleHandleA("libzul_qel.so");
#endif
  return reinterpret_cast<Outstanding>(
      reinterpret_cast<void*>(GetProcAddress(bridge, "ZulBridge_OutstandingBlocks")));
}

void NoteOutput(BSTR text, void* inbox) {
  auto* box = static_cast<Inbox*>(inbox);
  const std::lock_guard<std::mutex> hold(box->lock);
  box->lines.push_back(Narrow(text));
  box->arrived.notify_all();
}

void NoteNotification(BSTR first, BSTR second, void* inbox) {
  auto* box = static_cast<Inbox*>(inbox);
  const std::lock_guard<std::mutex> hold(box->lock);
  box->lines.push_back("notify: " + Narrow(first) + " | " + Narrow(second));
  box->arrived.notify_all();
}

}  // namespace

std::string Narrow(BSTR text) {
  std::string narrow;
  for (UINT i = 0; text != nullptr && i < SysStringLen(text); ++i) {
    narrow += text[i] < 128 ? static_cast<char>(text[i]) : '?';
  }
  return narrow;
}

std::basic_string<OLECHAR> Wide(const std::string& text) {
  return std::basic_string<OLECHAR>(text.begin(), text.end());
}

std::string HresultName(HRESULT hr) {
  static const std::map<HRESULT, std::string> kNames = {{S_OK, "S_OK"},
                                                        {S_FALSE, "S_FALSE"},
                                                        {E_FAIL, "E_FAIL"},
                                                        {E_ABORT, "E_ABORT"},
                                                        {E_ACCESSDENIED, "E_ACCESSDENIED"},
                                                        {E_INVALIDARG, "E_INVALIDARG"},
                                                        {E_POINTER, "E_POINTER"},
                                                        {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
                                                        {E_UNEXPECTED, "E_UNEXPECTED"}};
  const auto it = kNames.find(hr);
  return it != kNames.end() ? it->second : "hr " + std::to_string(hr);
}

std::string Show(const VARIANT& value) {
  if (value.vt == VT_EMPTY) return "EMPTY";
  if ((value.vt & VT_ARRAY) == 0) return NameOf(value.vt) + ":" + Load(value.vt, &value.lVal);
  SAFEARRAY* array = value.parray;
  const VARTYPE type = value.vt & VT_TYPEMASK;
  std::string text = NameOf(type) + "(";
  LONG count = 1;
  for (UINT d = 1; d <= SafeArrayGetDim(array); ++d) {
    LONG upper = 0;
    SafeArrayGetUBound(array, d, &upper);
    text += (d > 1 ? "," : "") + std::to_string(upper + 1);
    count *= upper + 1;
  }
  text += "):";
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) return text + "?";
  for (LONG i = 0; i < count; ++i) {
    text += (i > 0 ? "," : "") + Load(type, static_cast<const char*>(data) + i * SafeArrayGetElemsize(array));
  }
  SafeArrayUnaccessData(array);
  return text;
}

HRESULT CookieObject::QueryInterface(REFIID iid, void** out) {
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch)) {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  *out = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

HRESULT CookieObject::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}

HRESULT CookieObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (count != 1 || Wide("Cookie") != names[0]) return DISP_E_UNKNOWNNAME;
  ids[0] = 1;
  return S_OK;
}

HRESULT CookieObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                             UINT*) {
  if (id != 1 || (flags & DISPATCH_PROPERTYGET) == 0 || result == nullptr) return DISP_E_MEMBERNOTFOUND;
  result->vt = VT_I4;
  result->lVal = cookie_;
  return S_OK;
}

std::vector<std::string> Inbox::Take() {
  const std::lock_guard<std::mutex> hold(lock);
  std::vector<std::string> taken;
  taken.swap(lines);
  return taken;
}

bool Inbox::WaitFor(const std::string& prefix) {
  std::unique_lock<std::mutex> hold(lock);
  return arrived.wait_for(hold, std::chrono::seconds(30), [&] {
    for (const std::string& line : lines) {
      if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
  });
}

void EndToEnd::SetUpTestSuite() {
  ASSERT_EQ(ZUL_MSCOMPAL_Initialize(), S_OK) << LastError(0);
  ASSERT_NE(OutstandingBlocks(), nullptr) << "not the reference bridge";
}

void EndToEnd::TearDown() {
  for (auto& [name, inbox] : inboxes_) {
    if (cookies_.count(name) == 0) continue;
    ZUL_MSCOMPAL_UnregisterOutputCallback(cookies_[name]);
    ZUL_MSCOMPAL_UnregisterNotifyCallback(cookies_[name]);
  }
  for (const auto& [name, cookie] : cookies_) {
    EXPECT_EQ(ZUL_MSCOMPAL_ReleaseWrapper(cookie), S_OK) << name << ": " << LastError(cookie);
  }
  EXPECT_EQ(OutstandingBlocks()(-1), 0) << "bridge memory left outstanding";
  for (const CookieObject& object : objects_) EXPECT_EQ(object.References(), 1u) << "a reference kept";
}

int32_t EndToEnd::Register(const std::string& name, const std::string& className) {
  return Register(name, className, process_.c_str());
}

int32_t EndToEnd::Register(const std::string& name, const std::string& className, const char* proc) {
  int32_t cookie = 0;
  const std::basic_string<OLECHAR> procName = Wide(proc != nullptr ? proc : "");
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(Wide(className).c_str(), 0,
                                         proc != nullptr ? procName.c_str() : nullptr, &cookie),
            S_OK)
      << LastError(0);
  cookies_[name] = cookie;
  return cookie;
}

std::string EndToEnd::New(const std::string& name, const std::string& className,
                          const std::vector<std::string>& args) {
  Register(name, className);
  return Do(name, "new", args);
}

void EndToEnd::Run(const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    std::string args;
    for (const std::string& arg : step.args) args += (args.empty() ? "" : ", ") + arg;
    SCOPED_TRACE(step.who + " " + step.what + "(" + args + ")");
    EXPECT_EQ(Do(step.who, step.what, step.args), Expand(step.expected));
  }
}

std::string EndToEnd::Expand(std::string text) const {
  for (std::size_t at; (at = text.find('{')) != std::string::npos;) {
    const std::size_t end = text.find('}', at);
    const std::string key = text.substr(at + 1, end - at - 1);
    text.replace(at, end - at + 1, key == "P" ? process_ : std::to_string(cookies_.at(key.substr(1))));
  }
  return text;
}

std::string EndToEnd::LastError(int32_t cookie) {
  BSTR message = nullptr;
  ZUL_MSCOMPAL_GetLastError(cookie, &message);
  const std::string text = Narrow(message);
  SysFreeString(message);
  return text;
}

Inbox& EndToEnd::Listen(const std::string& name) {
  Inbox& inbox = inboxes_[name];
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterOutputCallback(Cookie(name), NoteOutput, &inbox), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterNotifyCallback(Cookie(name), NoteNotification, &inbox), S_OK);
  return inbox;
}

void EndToEnd::Make(const std::string& spec, VARIANT& out) {
  VariantInit(&out);
  if (spec == "EMPTY") return;
  if (spec[0] == '@') {
    const bool named = cookies_.count(spec.substr(1)) != 0;
    objects_.emplace_back(named ? Cookie(spec.substr(1)) : std::stoi(spec.substr(1)));
    objects_.back().AddRef();  // the VARIANT's reference
    out.vt = VT_DISPATCH;
    out.pdispVal = &objects_.back();
    return;
  }
  const std::size_t colon = spec.find(':');
  const std::size_t open = spec.find('(');
  if (open == std::string::npos || open > colon) {
    out.vt = TypeNamed(spec.substr(0, colon));
    Store(out.vt, spec.substr(colon + 1), &out.lVal);
    return;
  }
  const VARTYPE type = TypeNamed(spec.substr(0, open));
  std::vector<SAFEARRAYBOUND> bounds;
  std::size_t count = 1;
  for (const std::string& extent : Split(spec.substr(open + 1, spec.find(')') - open - 1), ',')) {
    bounds.push_back({static_cast<ULONG>(std::stoul(extent)), 0});
    count *= bounds.back().cElements;
  }
  const std::size_t elementsAt = spec.find(':', spec.find(')'));
  const std::vector<std::string> elements =
      count == 0 ? std::vector<std::string>{} : Split(spec.substr(elementsAt + 1), ',');
  EXPECT_EQ(elements.size(), count) << spec;
  out.vt = VT_ARRAY | type;
  out.parray = SafeArrayCreate(type, static_cast<UINT>(bounds.size()), bounds.data());
  char* data = nullptr;
  SafeArrayAccessData(out.parray, reinterpret_cast<void**>(&data));
  for (std::size_t i = 0; i < elements.size() && i < count; ++i) {
    void* at = data + i * SafeArrayGetElemsize(out.parray);
    if (type == VT_VARIANT) {
      Make(elements[i], *static_cast<VARIANT*>(at));
    } else {
      Store(type, elements[i], at);
    }
  }
  SafeArrayUnaccessData(out.parray);
}

std::string EndToEnd::Do(const std::string& name, const std::string& what,
                         const std::vector<std::string>& args) {
  const int32_t cookie = Cookie(name);
  const std::basic_string<OLECHAR> member = Wide(what.substr(what.find(' ') + 1));
  std::vector<VARIANT> values(what == "exec" ? 0 : args.size());
  std::vector<uint32_t> flags(values.size(), kIn);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const char mark = args[i][0];
    flags[i] = mark == '&' ? kByRef : mark == '=' ? ArgFlag::InOnly : kIn;
    Make(mark == '&' || mark == '=' ? args[i].substr(1) : args[i], values[i]);
  }
  const int32_t count = static_cast<int32_t>(values.size());
  VARIANT* argv = values.empty() ? nullptr : values.data();
  uint32_t* flagv = flags.empty() ? nullptr : flags.data();
  VARIANT result;
  VariantInit(&result);
  bool valued = true;
  std::string heard;
  HRESULT hr = S_OK;
  const auto starts = [&](const char* prefix) { return what.rfind(prefix, 0) == 0; };
  if (what == "new") {
    valued = false;
    hr = ZUL_MSCOMPAL_CreateObject(cookie, count, argv, flagv, 0, 0, 0);
  } else if (starts("get ")) {
    hr = ZUL_MSCOMPAL_GetProperty(cookie, member.c_str(), &result);
  } else if (starts("set ")) {
    valued = false;
    hr = ZUL_MSCOMPAL_SetProperty(cookie, member.c_str(), count, argv, flagv);
  } else if (starts("var ")) {
    hr = ZUL_MSCOMPAL_GetZULVariable(cookie, member.c_str(), &result);
  } else if (starts("let ")) {
    valued = false;
    hr = ZUL_MSCOMPAL_SetZULVariable(cookie, member.c_str(), values.at(0));
  } else if (what == "exec") {
    const auto inbox = inboxes_.find(name);
    if (inbox != inboxes_.end()) inbox->second.Take();
    hr = ZUL_MSCOMPAL_ExecuteString(cookie, Wide(args.at(0)).c_str());
    if (inbox == inboxes_.end()) return FAILED(hr) ? HresultName(hr) + " " + LastError(cookie) : "";
    for (const std::string& line : inbox->second.Take()) heard += (heard.empty() ? "" : " / ") + line;
  } else if (what == "destroy") {
    valued = false;
    hr = ZUL_MSCOMPAL_DestroyObject(cookie);
  } else if (what == "release") {
    valued = false;
    hr = ZUL_MSCOMPAL_ReleaseWrapper(cookie);
    if (SUCCEEDED(hr)) cookies_.erase(name);
  } else if (what == "abort") {
    valued = false;
    hr = ZUL_MSCOMPAL_Abort(cookie);
  } else if (what == "name") {
    result.vt = VT_BSTR;
    hr = ZUL_MSCOMPAL_GetObjVariableName(cookie, &result.bstrVal);
  } else if (starts("event ")) {
    valued = false;
    EventRecord event{std::stoi(what.substr(6))};
    // The library writes a failed delivery's diagnostic to standard output and the debugger output.
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    try {
      hr = ZUL_MSCOMPAL_OnEvent(cookie, &event);
    } catch (const _com_error& error) {
      heard = "raised " + HresultName(error.Error());
      if (IErrorInfo* info = error.ErrorInfo()) {
        BSTR description = nullptr;
        info->GetDescription(&description);
        heard += " " + Narrow(description);
        SysFreeString(description);
        info->Release();
      }
    }
    ::testing::internal::GetCapturedStderr();
    ::testing::internal::GetCapturedStdout();
  } else {
    hr = ZUL_MSCOMPAL_CallMethod(cookie, member.c_str(), count, argv, flagv, &result);
  }

  std::string outcome;
  if (!heard.empty() || what == "exec") {
    outcome = FAILED(hr) ? "" : heard;
  } else if (SUCCEEDED(hr)) {
    outcome = valued ? Show(result) : HresultName(hr);
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (flags[i] == kByRef) outcome += " &" + Show(values[i]);
    }
  }
  if (FAILED(hr)) {
    const std::string message = LastError(cookies_.count(name) != 0 ? cookie : 0);
    outcome = HresultName(hr) + (message.empty() ? "" : " " + message);
  }
  VariantClear(&result);
  for (VARIANT& value : values) VariantClear(&value);
  return outcome;
}

}  // namespace zul::e2e

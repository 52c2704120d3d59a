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

enum class Kind { kSigned, kUnsigned, kReal, kText, kOther };

struct TypeInfo {
  const char* name;
  VARTYPE vt;
  Kind kind;
  std::size_t size;
};
constexpr TypeInfo kTypes[] = {{"I1", VT_I1, Kind::kSigned, 1},
                               {"UI1", VT_UI1, Kind::kUnsigned, 1},
                               {"I2", VT_I2, Kind::kSigned, 2},
                               {"BOOL", VT_BOOL, Kind::kSigned, 2},
                               {"UI2", VT_UI2, Kind::kUnsigned, 2},
                               {"I4", VT_I4, Kind::kSigned, 4},
                               {"INT", VT_INT, Kind::kSigned, 4},
                               {"ERROR", VT_ERROR, Kind::kSigned, 4},
                               {"UI4", VT_UI4, Kind::kUnsigned, 4},
                               {"UINT", VT_UINT, Kind::kUnsigned, 4},
                               {"I8", VT_I8, Kind::kSigned, 8},
                               {"CY", VT_CY, Kind::kSigned, 8},
                               {"UI8", VT_UI8, Kind::kUnsigned, 8},
                               {"R4", VT_R4, Kind::kReal, 4},
                               {"R8", VT_R8, Kind::kReal, 8},
                               {"DATE", VT_DATE, Kind::kReal, 8},
                               {"BSTR", VT_BSTR, Kind::kText, 8},
                               {"VARIANT", VT_VARIANT, Kind::kOther, 24},
                               {"DISPATCH", VT_DISPATCH, Kind::kOther, 8}};

const TypeInfo& Named(const std::string& name) {
  for (const TypeInfo& type : kTypes) {
    if (name == type.name) return type;
  }
  ADD_FAILURE() << "no type " << name;
  return kTypes[0];
}

const TypeInfo* Info(VARTYPE vt) {
  for (const TypeInfo& type : kTypes) {
    if (vt == type.vt) return &type;
  }
  return nullptr;
}

std::string NameOf(VARTYPE vt) {
  return Info(vt) != nullptr ? Info(vt)->name : "vt" + std::to_string(vt);
}

template <typename T>
std::string Real(T value) {
  char text[40];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// Writes a scalar read from text where a VARIANT keeps its value or an array its element (the low bytes of
// an integer: both targets are little-endian).
void Store(const TypeInfo& type, const std::string& text, void* at) {
  if (type.kind == Kind::kSigned || type.kind == Kind::kUnsigned) {
    const uint64_t bits =
        type.kind == Kind::kSigned ? static_cast<uint64_t>(std::stoll(text)) : std::stoull(text);
    std::memcpy(at, &bits, type.size);
  } else if (type.kind == Kind::kReal && type.size == 4) {
    const float value = std::stof(text);
    std::memcpy(at, &value, sizeof value);
  } else if (type.kind == Kind::kReal) {
    const double value = std::stod(text);
    std::memcpy(at, &value, sizeof value);
  } else if (type.kind == Kind::kText) {
    const BSTR value = SysAllocString(Wide(text).c_str());
    std::memcpy(at, &value, sizeof value);
  } else {
    ADD_FAILURE() << "cannot store " << type.name;
  }
}

std::string Load(const TypeInfo& type, const void* at) {
  if (type.kind == Kind::kSigned || type.kind == Kind::kUnsigned) {
    uint64_t bits = 0;
    std::memcpy(&bits, at, type.size);
    const uint64_t sign = uint64_t{1} << (8 * type.size - 1);  // sign-extends the narrower ones
    return type.kind == Kind::kUnsigned ? std::to_string(bits)
                                        : std::to_string(static_cast<int64_t>((bits ^ sign) - sign));
  }
  if (type.kind == Kind::kReal && type.size == 4) return Real(*static_cast<const float*>(at));
  if (type.kind == Kind::kReal) return Real(*static_cast<const double*>(at));
  if (type.kind == Kind::kText) {
    const BSTR text = *static_cast<const BSTR*>(at);
    return text == nullptr ? "<null>" : Narrow(text);
  }
  return type.vt == VT_VARIANT ? Show(*static_cast<const VARIANT*>(at)) : "?";
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
  const TypeInfo* type = Info(value.vt & VT_TYPEMASK);
  if (type == nullptr) return NameOf(value.vt);
  if ((value.vt & VT_ARRAY) == 0) return std::string(type->name) + ":" + Load(*type, &value.lVal);
  SAFEARRAY* array = value.parray;
  std::string text = std::string(type->name) + "(";
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
    text +=
        (i > 0 ? "," : "") + Load(*type, static_cast<const char*>(data) + i * SafeArrayGetElemsize(array));
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

void EndToEnd::Make(const std::string& written, VARIANT& out) {
  VariantInit(&out);
  if (written == "EMPTY") return;
  if (written[0] == '@') {
    const bool named = cookies_.count(written.substr(1)) != 0;
    objects_.emplace_back(named ? Cookie(written.substr(1)) : std::stoi(written.substr(1)));
    objects_.back().AddRef();  // the VARIANT's reference
    out.vt = VT_DISPATCH;
    out.pdispVal = &objects_.back();
    return;
  }
  const std::size_t colon = written.find(':');
  const std::size_t open = written.find('(');
  if (open == std::string::npos || open > colon) {
    const TypeInfo& type = Named(written.substr(0, colon));
    out.vt = type.vt;
    Store(type, written.substr(colon + 1), &out.lVal);
    return;
  }
  const TypeInfo& info = Named(written.substr(0, open));
  const VARTYPE type = info.vt;
  std::vector<SAFEARRAYBOUND> bounds;
  std::size_t count = 1;
  for (const std::string& extent : Split(written.substr(open + 1, written.find(')') - open - 1), ',')) {
    bounds.push_back({static_cast<ULONG>(std::stoul(extent)), 0});
    count *= bounds.back().cElements;
  }
  const std::size_t elementsAt = written.find(':', written.find(')'));
  const std::vector<std::string> elements =
      count == 0 ? std::vector<std::string>{} : Split(written.substr(elementsAt + 1), ',');
  EXPECT_EQ(elements.size(), count) << written;
  out.vt = VT_ARRAY | type;
  out.parray = SafeArrayCreate(type, static_cast<UINT>(bounds.size()), bounds.data());
  char* data = nullptr;
  SafeArrayAccessData(out.parray, reinterpret_cast<void**>(&data));
  for (std::size_t i = 0; i < elements.size() && i < count; ++i) {
    void* at = data + i * SafeArrayGetElemsize(out.parray);
    if (type == VT_VARIANT) {
      Make(elements[i], *static_cast<VARIANT*>(at));
    } else {
      Store(info, elements[i], at);
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
  } else if (starts("event")) {
    valued = false;
    EventRecord event{what.size() > 6 ? std::stoi(what.substr(6)) : 0};
    // The library writes a failed delivery's diagnostic to standard output and the debugger output.
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    try {
      hr = ZUL_MSCOMPAL_OnEvent(cookie, what.size() > 6 ? &event : nullptr);
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

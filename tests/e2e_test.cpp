// End to end: a client of the shared library drives the reference bridge through the 25 exports: its four
// classes, process variables, the command language, callbacks, busy processes and abort, and every error
// path of the bridge a client can reach. No test may leave bridge memory outstanding.
//
// Values are written as text both ways: "I4:3", "BSTR:" (empty) and any scalar of kTypes;
// "R8(2,3):1,4,2,5,3,6" an array declared (2, 3), elements in storage order; "VARIANT(2):I4:1,R8:2";
// "@A" the test's wrapper A as an object argument, "@7" an object whose "Cookie" is 7. An argument
// "&..." is passed by reference (WriteBack), "~..." too but written back only when changed
// (WriteBackChanged; shown after the call with "~" where the library left it alone), "=..." without Reorder;
// others in-only with Reorder. Texts are UTF-8; U+FFFD stands for a lone surrogate, which UTF-8 cannot hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "zul/pal_mscom.h"
#ifdef _WIN32
#include <comdef.h>
#else
#include "zul/host/kernel.h"
#include "zul/host/libloader.h"
#endif

namespace zul::e2e {
namespace {

constexpr uint32_t kIn = ArgFlag::InOnly | ArgFlag::Reorder;
constexpr uint32_t kByRef = ArgFlag::WriteBack | ArgFlag::Reorder;

// kind: signed, unsigned, real, text, VARIANT.
struct TypeInfo {
  const char* name;
  VARTYPE vt;
  char kind;
  std::size_t size;
};
constexpr TypeInfo kTypes[] = {
    {"I1", VT_I1, 's', 1},     {"UI1", VT_UI1, 'u', 1},   {"I2", VT_I2, 's', 2},
    {"UI2", VT_UI2, 'u', 2},   {"I4", VT_I4, 's', 4},     {"UI4", VT_UI4, 'u', 4},
    {"I8", VT_I8, 's', 8},     {"UI8", VT_UI8, 'u', 8},   {"R4", VT_R4, 'r', 4},
    {"R8", VT_R8, 'r', 8},     {"BSTR", VT_BSTR, 't', 8}, {"VARIANT", VT_VARIANT, 'v', 24},
    {"BOOL", VT_BOOL, 's', 2}, {"CY", VT_CY, 's', 8},     {"DATE", VT_DATE, 'r', 8}};

const TypeInfo* Find(const std::function<bool(const TypeInfo&)>& match) {
  const auto found = std::find_if(std::begin(kTypes), std::end(kTypes), match);
  return found != std::end(kTypes) ? found : nullptr;
}

// A wide text in code page cp, and back.
std::string Encode(UINT cp, const std::basic_string<OLECHAR>& wide) {
  std::string bytes(wide.size() * 3, '\0');
  const int units = static_cast<int>(wide.size()), room = static_cast<int>(bytes.size());
  bytes.resize(
      units == 0 ? 0 : WideCharToMultiByte(cp, 0, wide.data(), units, bytes.data(), room, nullptr, nullptr));
  return bytes;
}
std::basic_string<OLECHAR> Decode(UINT cp, const std::string& bytes) {
  std::basic_string<OLECHAR> wide(bytes.size(), 0);
  const int count = static_cast<int>(bytes.size());
  wide.resize(count == 0 ? 0 : MultiByteToWideChar(cp, 0, bytes.data(), count, wide.data(), count));
  return wide;
}

std::string Narrow(BSTR text) {
  return Encode(CP_UTF8, {text, SysStringLen(text)});
}

std::basic_string<OLECHAR> Wide(const std::string& text) {
  std::basic_string<OLECHAR> wide = Decode(CP_UTF8, text);
  std::replace(wide.begin(), wide.end(), OLECHAR{0xFFFD}, OLECHAR{0xD800});
  return wide;
}

// What the thread's code page makes of a text: the text itself wherever the code page can represent it.
std::string ThroughCodePage(const std::string& text) {
  return Encode(CP_UTF8, Decode(CP_THREAD_ACP, Encode(CP_THREAD_ACP, Wide(text))));
}

std::string HresultName(HRESULT hr) {
  const HRESULT codes[] = {S_OK, S_FALSE, E_FAIL, E_ABORT, E_UNEXPECTED, E_ACCESSDENIED};
  const char* const names[] = {"S_OK", "S_FALSE", "E_FAIL", "E_ABORT", "E_UNEXPECTED", "E_ACCESSDENIED"};
  const auto at = std::find(std::begin(codes), std::end(codes), hr) - std::begin(codes);
  return at < 6 ? names[at] : "hr " + std::to_string(hr);
}

// A scalar read from text, written where a VARIANT keeps its value or an array its element (the low bytes
// of an integer: both targets are little-endian).
void Store(const TypeInfo& type, const std::string& text, void* at) {
  if (type.kind == 't') {
    const BSTR value = SysAllocString(Wide(text).c_str());
    std::memcpy(at, &value, sizeof value);
  } else if (type.kind == 'r') {
    const double d = std::stod(text);
    const float f = static_cast<float>(d);
    std::memcpy(at, type.size == 4 ? static_cast<const void*>(&f) : &d, type.size);
  } else {
    const uint64_t bits = type.kind == 's' ? static_cast<uint64_t>(std::stoll(text)) : std::stoull(text);
    std::memcpy(at, &bits, type.size);
  }
}

std::string Show(const VARIANT& value);

std::string Load(const TypeInfo& type, const void* at) {
  if (type.kind == 'v') return Show(*static_cast<const VARIANT*>(at));
  if (type.kind == 't')
    return *static_cast<const BSTR*>(at) ? Narrow(*static_cast<const BSTR*>(at)) : "<null>";
  if (type.kind == 'r') {
    char text[40];
    const double d = type.size == 4 ? *static_cast<const float*>(at) : *static_cast<const double*>(at);
    return std::string(text, std::to_chars(text, text + sizeof text, d).ptr);
  }
  uint64_t bits = 0;
  std::memcpy(&bits, at, type.size);
  const uint64_t sign = uint64_t{1} << (8 * type.size - 1);  // sign-extends the narrower ones
  return type.kind == 'u' ? std::to_string(bits) : std::to_string(static_cast<int64_t>((bits ^ sign) - sign));
}

std::string Show(const VARIANT& value) {
  if (value.vt == VT_EMPTY) return "EMPTY";
  const TypeInfo* type = Find([&](const TypeInfo& t) { return t.vt == (value.vt & VT_TYPEMASK); });
  if (type == nullptr) return "vt" + std::to_string(value.vt);
  if ((value.vt & VT_ARRAY) == 0) return std::string(type->name) + ":" + Load(*type, &value.lVal);
  std::string text = std::string(type->name) + "(";
  LONG count = 1;
  for (UINT d = 1; d <= SafeArrayGetDim(value.parray); ++d) {
    LONG upper = 0;
    SafeArrayGetUBound(value.parray, d, &upper);
    text += (d > 1 ? "," : "") + std::to_string(upper + 1);
    count *= upper + 1;
  }
  text += "):";
  char* data = nullptr;
  if (FAILED(SafeArrayAccessData(value.parray, reinterpret_cast<void**>(&data)))) return text + "?";
  for (LONG i = 0; i < count; ++i)
    text += (i > 0 ? "," : "") + Load(*type, data + i * SafeArrayGetElemsize(value.parray));
  SafeArrayUnaccessData(value.parray);
  return text;
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + separator.size())
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

int64_t OutstandingBlocks() {
#ifdef _WIN32
  HMODULE bridge = GetModuleHandleA("zul_qel.dll");
#else
  HMODULE bridge = GetModuleHandleA("libzul_qel.so");
#endif
  const auto count = reinterpret_cast<int64_t (*)(int32_t)>(
      reinterpret_cast<void*>(GetProcAddress(bridge, "ZulBridge_OutstandingBlocks")));
  return count != nullptr ? count(-1) : -1;
}

// A wrapper object as a generated wrapper is: IDispatch with a "Cookie" property. Lives in the fixture.
class CookieObject : public IDispatch {
 public:
  explicit CookieObject(int32_t cookie) : cookie_(cookie) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool known = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch);
    *out = known ? (AddRef(), static_cast<IDispatch*>(this)) : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count != 1 || Wide("Cookie") != names[0]) return DISP_E_UNKNOWNNAME;
    ids[0] = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (id != 1 || (flags & DISPATCH_PROPERTYGET) == 0 || result == nullptr) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_I4;
    result->lVal = cookie_;
    return S_OK;
  }
  ULONG References() const { return references_; }

 private:
  int32_t cookie_;
  ULONG references_ = 1;
};

// Lines that reach a wrapper's callbacks, from any thread: output as it came, notifications as
// "notify: first | second".
struct Inbox {
  std::mutex lock;
  std::condition_variable arrived;
  std::vector<std::string> lines;

  void Push(std::string line) {
    const std::lock_guard<std::mutex> hold(lock);
    lines.push_back(std::move(line));
    arrived.notify_all();
  }
  std::vector<std::string> Take() {
    const std::lock_guard<std::mutex> hold(lock);
    return std::exchange(lines, {});
  }
  // Waits up to 30 s for a line that starts with prefix.
  bool WaitFor(const std::string& prefix) {
    std::unique_lock<std::mutex> hold(lock);
    return arrived.wait_for(hold, std::chrono::seconds(30), [&] {
      return std::any_of(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    });
  }
  static void Output(BSTR text, void* inbox) { static_cast<Inbox*>(inbox)->Push(Narrow(text)); }
  static void Notify(BSTR first, BSTR second, void* inbox) {
    static_cast<Inbox*>(inbox)->Push("notify: " + Narrow(first) + " | " + Narrow(second));
  }
};

// Each test works in a ZUL process of its own (named after the test), so that object names start at
// matrix1, echo1, ... and no variable leaks between tests. At its end every wrapper is released.
class EndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(ZUL_MSCOMPAL_Initialize(), S_OK) << LastError(0);
    ASSERT_EQ(OutstandingBlocks(), 0) << "not the reference bridge";
  }
  void TearDown() override {
    for (auto& [name, inbox] : inboxes_) {
      if (cookies_.count(name) == 0) continue;
      ZUL_MSCOMPAL_UnregisterOutputCallback(cookies_[name]);
      ZUL_MSCOMPAL_UnregisterNotifyCallback(cookies_[name]);
    }
    for (const auto& [name, cookie] : cookies_)
      EXPECT_EQ(ZUL_MSCOMPAL_ReleaseWrapper(cookie), S_OK) << name << ": " << LastError(cookie);
    EXPECT_EQ(OutstandingBlocks(), 0) << "bridge memory left outstanding";
    for (const CookieObject& object : objects_) EXPECT_EQ(object.References(), 1u) << "a reference kept";
  }

  // Registers wrapper `name` in process proc ({P} is this test's; empty is the default process).
  int32_t Register(const std::string& name, const std::string& className, const std::string& proc = "{P}") {
    int32_t cookie = 0;
    const std::basic_string<OLECHAR> procName = Wide(Expand(proc));
    const OLECHAR* procArg = proc.empty() ? nullptr : procName.c_str();
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(Wide(className).c_str(), 0, procArg, &cookie), S_OK)
        << LastError(0);
    return cookies_[name] = cookie;
  }
  std::string New(const std::string& name, const std::string& className,
                  const std::vector<std::string>& args = {}) {
    Register(name, className);
    return Do(name, "new", args);
  }

  // Runs one operation on wrapper `name` and gives its outcome: the value (then each by-reference argument
  // as "&value"), the HRESULT, or "<HRESULT> <the wrapper's last error>". Operations: "get P", "set P",
  // "var V", "let V", "exec" (args[0] is the command; the outcome is what the wrapper's callbacks heard,
  // lines joined with " / "), "new", "destroy", "release", "name", "abort", "event K" ("event" alone passes
  // no record), and any other text calls that method.
  std::string Do(const std::string& name, const std::string& what,
                 const std::vector<std::string>& args = {}) {
    const int32_t cookie = Cookie(name);
    const std::string verb = what.substr(0, what.find(' '));
    const std::basic_string<OLECHAR> member = Wide(what.substr(what.find(' ') + 1));
    if (verb == "exec") return Execute(name, args.at(0));
    if (verb == "event") return Event(cookie, what.size() > 6 ? std::stoi(what.substr(6)) : -1);
    std::vector<VARIANT> values(args.size());
    std::vector<uint32_t> flags(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      const char mark = args[i][0];
      flags[i] = mark == '&'   ? kByRef
                 : mark == '~' ? kByRef | ArgFlag::WriteBackChanged
                 : mark == '=' ? ArgFlag::InOnly
                               : kIn;
      Make(mark == '&' || mark == '~' || mark == '=' ? args[i].substr(1) : args[i], values[i]);
    }
    const auto count = static_cast<int32_t>(values.size());
    VARIANT* argv = values.empty() ? nullptr : values.data();
    uint32_t* flagv = flags.empty() ? nullptr : flags.data();
    VARIANT result{};
    const std::map<std::string, std::function<HRESULT()>> calls = {
        {"new", [&] { return ZUL_MSCOMPAL_CreateObject(cookie, count, argv, flagv, 0, 0, 0); }},
        {"get", [&] { return ZUL_MSCOMPAL_GetProperty(cookie, member.c_str(), &result); }},
        {"set", [&] { return ZUL_MSCOMPAL_SetProperty(cookie, member.c_str(), count, argv, flagv); }},
        {"var", [&] { return ZUL_MSCOMPAL_GetZULVariable(cookie, member.c_str(), &result); }},
        {"let", [&] { return ZUL_MSCOMPAL_SetZULVariable(cookie, member.c_str(), values.at(0)); }},
        {"destroy", [&] { return ZUL_MSCOMPAL_DestroyObject(cookie); }},
        {"release", [&] { return ZUL_MSCOMPAL_ReleaseWrapper(cookie); }},
        {"abort", [&] { return ZUL_MSCOMPAL_Abort(cookie); }},
        {"name", [&] { return ZUL_MSCOMPAL_GetObjVariableName(cookie, &result.bstrVal); }}};
    if (verb == "name") result.vt = VT_BSTR;
    const auto call = calls.find(verb);
    const HRESULT hr = call != calls.end()
                           ? call->second()
                           : ZUL_MSCOMPAL_CallMethod(cookie, member.c_str(), count, argv, flagv, &result);
    std::string outcome = FAILED(hr)              ? Failure(hr, cookie)
                          : result.vt != VT_EMPTY ? Show(result)
                                                  : HresultName(hr);
    for (std::size_t i = 0; SUCCEEDED(hr) && i < values.size(); ++i)
      if ((flags[i] & (ArgFlag::WriteBack | ArgFlag::WriteBackChanged)) != 0)
        outcome += ((flags[i] & ArgFlag::WriteBack) != 0 ? " &" : " ~") + Show(values[i]);
    if (verb == "release" && SUCCEEDED(hr)) cookies_.erase(name);
    VariantClear(&result);
    for (VARIANT& value : values) VariantClear(&value);
    return outcome;
  }

  // Rows of "<wrapper> <operation> | <argument> | ..." and the outcome Do gives, where {P} stands for the
  // test's process name and {#A} for the cookie of wrapper A.
  void Run(const std::vector<std::pair<std::string, std::string>>& steps) {
    for (const auto& [call, expected] : steps) {
      SCOPED_TRACE(call);
      std::vector<std::string> parts = Split(call, " | ");
      const std::size_t space = parts[0].find(' ');
      const std::string what = space == std::string::npos ? "" : parts[0].substr(space + 1);
      EXPECT_EQ(Do(parts[0].substr(0, space), what, {parts.begin() + 1, parts.end()}), Expand(expected));
    }
  }
  std::string Expand(std::string text) const {
    for (std::size_t at; (at = text.find('{')) != std::string::npos;) {
      const std::string key = text.substr(at + 1, text.find('}', at) - at - 1);
      text.replace(at, key.size() + 2, key == "P" ? process_ : std::to_string(cookies_.at(key.substr(1))));
    }
    return text;
  }

  Inbox& Listen(const std::string& name) {
    Inbox& inbox = inboxes_[name];
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterOutputCallback(Cookie(name), Inbox::Output, &inbox), S_OK);
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterNotifyCallback(Cookie(name), Inbox::Notify, &inbox), S_OK);
    return inbox;
  }
  int32_t Cookie(const std::string& name) const { return cookies_.at(name); }
  static std::string LastError(int32_t cookie) {
    BSTR message = nullptr;
    ZUL_MSCOMPAL_GetLastError(cookie, &message);
    const std::string text = Narrow(message);
    SysFreeString(message);
    return text;
  }
  static std::string Failure(HRESULT hr, int32_t cookie) {
    const std::string message = LastError(cookie);
    return HresultName(hr) + (message.empty() ? "" : " " + message);
  }

  // Fills out from a value's text; objects are made here and live until the test ends.
  void Make(const std::string& written, VARIANT& out) {
    VariantInit(&out);
    if (written == "EMPTY" || written == "NULL")
      return void(out.vt = written == "EMPTY" ? VT_EMPTY : VT_NULL);
    if (written[0] == '@') {
      const std::string key = written.substr(1);
      objects_.emplace_back(cookies_.count(key) != 0 ? Cookie(key) : std::stoi(key));
      objects_.back().AddRef();  // the VARIANT's reference
      out.vt = VT_DISPATCH;
      out.pdispVal = &objects_.back();
      return;
    }
    const std::size_t colon = written.find(':');
    const std::size_t open = std::min(written.find('('), colon);
    const TypeInfo* type = Find([&](const TypeInfo& t) { return written.substr(0, open) == t.name; });
    if (type == nullptr) return ADD_FAILURE() << "no type in " << written;
    out.vt = type->vt;
    if (open == colon) return Store(*type, written.substr(colon + 1), &out.lVal);
    std::vector<SAFEARRAYBOUND> bounds;
    std::size_t count = 1;
    for (const std::string& extent : Split(written.substr(open + 1, written.find(')') - open - 1), ",")) {
      bounds.push_back({static_cast<ULONG>(std::stoul(extent)), 0});
      count *= bounds.back().cElements;
    }
    const std::vector<std::string> elements =
        count == 0 ? std::vector<std::string>{}
                   : Split(written.substr(written.find(':', written.find(')')) + 1), ",");
    EXPECT_EQ(elements.size(), count) << written;
    out.vt |= VT_ARRAY;
    out.parray = SafeArrayCreate(type->vt, static_cast<UINT>(bounds.size()), bounds.data());
    char* data = nullptr;
    SafeArrayAccessData(out.parray, reinterpret_cast<void**>(&data));
    for (std::size_t i = 0; i < elements.size() && i < count; ++i) {
      void* at = data + i * SafeArrayGetElemsize(out.parray);
      type->vt == VT_VARIANT ? Make(elements[i], *static_cast<VARIANT*>(at)) : Store(*type, elements[i], at);
    }
    SafeArrayUnaccessData(out.parray);
  }

 private:
  std::string Execute(const std::string& name, const std::string& command) {
    const auto inbox = inboxes_.find(name);
    if (inbox != inboxes_.end()) inbox->second.Take();
    const HRESULT hr = ZUL_MSCOMPAL_ExecuteString(Cookie(name), Wide(command).c_str());
    if (FAILED(hr)) return Failure(hr, Cookie(name));
    std::string heard;
    for (const std::string& line :
         inbox != inboxes_.end() ? inbox->second.Take() : std::vector<std::string>{})
      heard += (heard.empty() ? "" : " / ") + line;
    return heard;
  }

  // A failed delivery raises (and the library writes its diagnostic to standard output and the debugger).
  static std::string Event(int32_t cookie, int kind) {
    EventRecord event{kind};
    try {
      const HRESULT hr = ZUL_MSCOMPAL_OnEvent(cookie, kind >= 0 ? &event : nullptr);
      return FAILED(hr) ? Failure(hr, cookie) : HresultName(hr);
    } catch (const _com_error& error) {
      BSTR description = nullptr;
      IErrorInfo* info = error.ErrorInfo();
      if (info != nullptr) info->GetDescription(&description);
      const std::string outcome = "raised " + HresultName(error.Error()) + " " + Narrow(description);
      SysFreeString(description);
      if (info != nullptr) info->Release();
      return outcome;
    }
  }

  std::string process_ =
      std::string(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name()) + "." +
      ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::map<std::string, int32_t> cookies_;
  std::map<std::string, Inbox> inboxes_;
  std::deque<CookieObject> objects_;
};

using Classes = EndToEnd;
using Processes = EndToEnd;

// a = [[1, 2, 3], [4, 5, 6]] declared (2, 3) and b = [[1, 0], [0, 1], [1, 1]] declared (3, 2): the bridge
// sees each transposed (bound k is the stored rgsabound[k], last dimension first). R gets a without
// ArgFlag::Reorder: the elements keep their storage order and only the bounds turn, so it is no transpose
// of a; results always come back with Reorder.
TEST_F(Classes, Matrix) {
  ASSERT_EQ(New("A", "Matrix", {"R8(2,3):1,4,2,5,3,6"}), "S_OK");
  ASSERT_EQ(New("B", "Matrix", {"I4(3,2):1,0,1,0,1,1"}), "S_OK");
  ASSERT_EQ(New("R", "Matrix", {"=R8(2,3):1,4,2,5,3,6"}), "S_OK");
  ASSERT_EQ(New("T", "Text"), "S_OK");
  Register("C", "Matrix");
  const std::string notMatrix =
      "must be a two-dimensional numeric array with at least one row and one column, not ";
  Run({{"A get Rows", "I4:3"},
       {"A get cols", "I4:2"},
       {"A get Data", "R8(2,3):1,4,2,5,3,6"},
       {"A Shape", "I4(2):3,2"},
       {"A TOTAL", "R8:21"},
       {"A Transpose", "R8(3,2):1,2,3,4,5,6"},
       {"B Multiply | @A", "R8(2,2):4,10,5,11"},
       {"A Multiply | @B", "R8(3,3):1,4,5,2,5,7,3,6,9"},
       {"R get Data", "R8(2,3):1,5,4,3,2,6"},
       {"R set Data | =R8(2,3):1,4,2,5,3,6", "S_OK"},
       {"R Transpose", "R8(3,2):1,4,2,5,3,6"},
       {"A Multiply | @A",
        "E_FAIL Matrix.Multiply: cannot multiply 3x2 by 3x2: the left's columns (2) must equal the right's "
        "rows (3)."},
       {"A Multiply | @T", "E_FAIL Matrix.Multiply: argument 1 is text1, a Text, not a Matrix."},
       {"A Multiply | VARIANT(1):@B",
        "E_FAIL Matrix.Multiply: argument 1 must be an object reference (OBJREF), not OBJREF[1]."},
       {"A Multiply | @C", "E_FAIL Wrapper {#C} (Matrix) has no object: call ZUL_QEL_CreateObject first."},
       {"A Multiply | @999999", "E_FAIL Invalid cookie 999999 of the referenced wrapper."},
       {"A Multiply | @0", "E_FAIL Object reference must be another ZUL COM wrapper object."},
       {"A Scale | BSTR:x", "E_FAIL Matrix.Scale: argument 1 must be a numeric scalar, not STRING."},
       {"A Scale | I4:1 | I4:2", "E_FAIL Matrix.Scale takes 1 argument, not 2."},
       {"A Invert", "E_FAIL Matrix has no method 'Invert'."},
       {"A ", "E_FAIL No method name given."},
       {"A get ", "E_FAIL No property name given."},
       {"A get Size", "E_FAIL Matrix has no property 'Size'."},
       {"A set Rows | I4:1", "E_FAIL Matrix.Rows is read-only."},
       {"A set Data | I4:1 | I4:2", "E_FAIL Matrix.Data takes 1 value, not 2."},
       {"A set Data | I4:5", "E_FAIL Matrix.Data: the value " + notMatrix + "LONG."},
       {"A Scale | I2:2", "R8(2,3):2,8,4,10,6,12"},
       {"A set Data | UI1(1,2):7,8", "S_OK"},
       {"A Shape", "I4(2):2,1"},
       {"A get Data", "R8(1,2):7,8"},
       {"C new", "E_FAIL Matrix takes 1 constructor argument, not 0."},
       {"C new | R8(0,2):", "E_FAIL Matrix: argument 1 " + notMatrix + "DOUBLE[2,0]."},
       {"C new | BSTR(1,1):x", "E_FAIL Matrix: argument 1 " + notMatrix + "STRING[1,1]."}});
}

TEST_F(Classes, Text) {
  ASSERT_EQ(New("T", "Text"), "S_OK");
  Run({{"T Upper | BSTR:abc Z1", "BSTR:ABC Z1"},
       {"T upper | BSTR:", "BSTR:<null>"},
       {"T Length | BSTR:hello", "I4:5"},
       {"T Split | BSTR:a,,b | BSTR:,", "BSTR(3):a,,b"},
       {"T Split | BSTR: | BSTR:;", "BSTR(1):"},
       {"T Split | BSTR:a | BSTR:", "E_FAIL Text.Split: the separator must not be empty."},
       {"T Split | I4:1 | BSTR:,", "E_FAIL Text.Split: argument 1 must be a string, not LONG."},
       {"T Join | BSTR(2,2):a,b,c,d | BSTR:-", "BSTR:a-c-b-d"},
       {"T Join | =BSTR(2,2):a,b,c,d | BSTR:-", "BSTR:a-b-c-d"},
       {"T Join | I4(1):1 | BSTR:,", "E_FAIL Text.Join: argument 1 must be a string array, not LONG[1]."}});
}

// Each ZUL type a client can pass: as the bridge names it, as a method result (the bridge's to free) and as a
// variable read (the library's to free).
TEST_F(Classes, Echo) {
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  const char* const objref = "E_FAIL Object references must be in-only (constant).  They cannot be returned.";
  const struct {
    const char* value;
    const char* zulType;
    const char* back;
  } kCases[] = {{"I1:-3", "BYTE", "UI1:253"},
                {"I2:-5", "INT", "I2:-5"},
                {"UI2:65535", "UINT", "UI2:65535"},
                {"I4:-7", "LONG", "I4:-7"},
                {"UI4:4000000000", "ULONG", "UI4:4000000000"},
                {"I8:-9000000000", "LONG64", "I8:-9000000000"},
                {"UI8:18000000000000000000", "ULONG64", "UI8:18000000000000000000"},
                {"R4:1.5", "FLOAT", "R4:1.5"},
                {"R8:0.1", "DOUBLE", "R8:0.1"},
                {"BSTR:", "STRING", "BSTR:<null>"},
                {"BSTR:café 中文 x€ 😀", "STRING", "BSTR:café 中文 x€ 😀"},
                {"I4(2,3):1,2,3,4,5,6", "LONG[3,2]", "I4(2,3):1,2,3,4,5,6"},
                {"UI1(1,1,1,1,1,1,1,2):0,255", "BYTE[2,1,1,1,1,1,1,1]", "UI1(1,1,1,1,1,1,1,2):0,255"},
                {"I4(0,3):", "LONG[3,0]", "I4(0,3):"},
                {"BSTR(3):a,,c", "STRING[3]", "BSTR(3):a,,c"},
                {"BSTR(3):café,中文,x€", "STRING[3]", "BSTR(3):café,中文,x€"},
                {"VARIANT(2):R8:1,R8:2", "DOUBLE[2]", "R8(2):1,2"},
                {"@E", "OBJREF", objref},
                {"VARIANT(2):@E,@E", "OBJREF[2]", objref}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(Do("E", "TypeName", {c.value}), std::string("BSTR:") + c.zulType);
    EXPECT_EQ(Do("E", "Echo", {c.value}), ThroughCodePage(c.back));
    EXPECT_EQ(Do("E", "let Value", {c.value}), "S_OK");
    EXPECT_EQ(Do("E", "var VALUE"), ThroughCodePage(c.back));
  }
  // By reference: the bridge changes the records in place and the library writes them back; with
  // WriteBackChanged, only those it changed (compared by content: Swap of equal values changes nothing).
  Run({{"E TypeName | ~BOOL:-1", "BSTR:BYTE ~BOOL:-1"},
       {"E TypeName | &BOOL:-1", "BSTR:BYTE &UI1:1"},
       {"E Echo | ~CY:15000", "R8:1.5 ~CY:15000"},
       {"E Swap | ~DATE:2.5 | ~DATE:2.5", "I4:0 ~DATE:2.5 ~DATE:2.5"},
       {"E Swap | ~I2:1 | ~BSTR:x", "I4:0 &BSTR:x &I2:1"},
       {"E Fill | ~VARIANT(2):I1:-1,I1:-1 | ~I4:255", "I4:2 ~VARIANT(2):I1:-1,I1:-1 ~I4:255"},
       {"E Fill | ~BSTR(2):a,b | ~BSTR:zz", "I4:2 &BSTR(2):zz,zz ~BSTR:zz"},
       {"E Resize | ~I4(3):7,8,9 | ~R8:2", "I4:3 &I4(2):7,8 ~R8:2"},
       {"E Swap | &I4:1 | &BSTR:x", "I4:0 &BSTR:x &I4:1"},
       {"E Swap | &R8(2):1,2 | &BSTR(1):z", "I4:0 &BSTR(1):z &R8(2):1,2"},
       {"E Swap | I4:1 | &I4:2", "E_FAIL Echo.Swap: argument 1 must be passed by reference (flag 0x0002)."},
       {"E Fill | &I4(3):1,2,3 | I2:7", "I4:3 &I4(3):7,7,7"},
       {"E Fill | ~I4(1):1 | I4:7", "I4:1 &I4(1):7"},  // one element, changed in place
       {"E Fill | &I4(2):1,2 | R8:2.5", "E_FAIL Echo.Fill: 2.5 cannot be stored in a LONG array."},
       {"E Fill | &I4:1 | I4:2", "E_FAIL Echo.Fill: argument 1 must be a numeric or string array, not LONG."},
       {"E Fill | &I4(2):1,2 | BSTR:x", "E_FAIL Echo.Fill: argument 2 must be a numeric scalar, not STRING."},
       {"E Fill | &BSTR(1):a | I4:1", "E_FAIL Echo.Fill: argument 2 must be a string scalar, not LONG."},
       {"E Resize | &I4(3):7,8,9 | I4:5", "I4:3 &I4(5):7,8,9,0,0"},
       {"E Resize | &BSTR(2):a,b | R8:1", "I4:2 &BSTR(1):a"},
       {"E Resize | &BSTR(1):a | I4:3", "I4:1 &BSTR(3):a,,"},
       {"E Resize | &I4(2,2):1,2,3,4 | I4:3",
        "E_FAIL Echo.Resize: argument 1 must be a one-dimensional numeric or string array, not LONG[2,2]."},
       {"E Resize | &I4(1):1 | I4:0",
        "E_FAIL Echo.Resize: argument 2 must be a whole number from 1 to 16777216, not 0."},
       // Each failure has a text of its own, never the one before it; elements by the client's indexes.
       {"E Echo | EMPTY", "E_FAIL Argument 1 is VT_EMPTY, which holds no value to pass."},
       {"E Swap | &I4:1 | NULL", "E_FAIL Argument 2 is VT_NULL, which holds no value to pass."},
       {"E Echo | VARIANT(0):",
        "E_FAIL Argument 1 is an empty array of variants, whose elements have no type to pass."},
       {"E Echo | VARIANT(2,3):EMPTY,EMPTY,EMPTY,EMPTY,EMPTY,EMPTY",
        "E_FAIL Element (0, 0) of the array of variants in argument 1 is VT_EMPTY, which holds no value to "
        "pass."},
       {"E Echo | VARIANT(2,3):I4:1,I4:1,BSTR:x,I4:1,I4:1,I4:1",
        "E_FAIL Element (0, 1) of the array of variants in argument 1 is VT_BSTR, which does not convert "
        "exactly "
        "to the array's element type VT_I4."},
       {"E Echo | VARIANT(2,3):I4:1,I4:1,I4:1,I4:1,I4:1,NULL",
        "E_FAIL Element (1, 2) of the array of variants in argument 1 is VT_NULL, which holds no value to "
        "pass."}});
  // g = Array(3, 2, 1) and a reference to one of its elements: the element is written back first,
  // never through the array that g's write-back replaced.
  for (const uint32_t flag : {kByRef, kByRef | ArgFlag::WriteBackChanged}) {
    for (const auto& [method, element, back] :
         {std::tuple{"Resize", 0, "I4:3 VARIANT(3):I4:3,I4:2,I4:1"}, std::tuple{"Swap", 1, "I4:0 I4:2"}}) {
      VARIANT g, result{}, args[2]{};
      Make("VARIANT(3):I4:3,I4:2,I4:1", g);
      args[0].vt = args[1].vt = VT_BYREF | VT_VARIANT;
      args[0].pvarVal = &g;
      args[1].pvarVal = static_cast<VARIANT*>(g.parray->pvData) + element;
      uint32_t flags[2] = {flag, flag};
      const HRESULT hr = ZUL_MSCOMPAL_CallMethod(Cookie("E"), Wide(method).c_str(), 2, args, flags, &result);
      EXPECT_EQ(FAILED(hr) ? Failure(hr, Cookie("E")) : Show(result) + " " + Show(g), back) << method;
      VariantClear(&result);
      VariantClear(&g);
    }
  }
}

TEST_F(Classes, WorkerRunsEventsAndArguments) {
  ASSERT_EQ(New("W", "Worker"), "S_OK");
  ASSERT_EQ(New("T", "Text"), "S_OK");
  Register("V", "Worker");
  Inbox& heard = Listen("W");
  EXPECT_EQ(Do("W", "Run", {"I4:30"}), "I4:30");
  EXPECT_EQ(heard.Take(), (std::vector<std::string>{"worker1: 10 of 30 ms", "worker1: 20 of 30 ms",
                                                    "worker1: 30 of 30 ms"}));
  const std::string range = "argument 1 must be a whole number of milliseconds from 0 to 3600000, not ";
  ::testing::internal::CaptureStdout();  // the library's diagnostics of failed events
  ::testing::internal::CaptureStderr();
  Run({{"W Run | I4:0", "I4:0"},
       {"W Run | I4:-5", "E_FAIL Worker.Run: " + range + "-5."},
       {"W Start | R8:1.5", "E_FAIL Worker.Start: " + range + "1.5."},
       {"W get LastEvent", "I4:0"},
       {"W event 9", "S_OK"},
       {"W get LastEvent", "I4:9"},
       {"W set LastEvent | I4:1", "E_FAIL Worker.LastEvent is read-only."},
       {"W event 10", "raised E_UNEXPECTED Unknown event kind 10; the kinds are 1 to 9."},
       {"W event", "raised E_UNEXPECTED No event record given."},
       {"V event 1",
        "raised E_UNEXPECTED Wrapper {#V} (Worker) has no object: call ZUL_QEL_CreateObject first."},
       {"T event 1", "raised E_UNEXPECTED Text objects do not handle events."}});
  ::testing::internal::GetCapturedStderr();
  ::testing::internal::GetCapturedStdout();
  // The wrapper keeps the whole diagnostic; the library's own error is cleared.
  EXPECT_EQ(
      LastError(Cookie("T")),
      "ERROR: Event 'OnMouseDown' : Tarrow wrapper object 'Text'.\nText objects do not handle events.\n");
  EXPECT_EQ(LastError(0), "");
}

TEST_F(Processes, WrapperAndObjectLifecycle) {
  int32_t cookie = -1;
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(Wide("Plot").c_str(), 0, nullptr, &cookie), E_FAIL);
  EXPECT_EQ(cookie, 0);
  EXPECT_EQ(LastError(0), "Unknown class 'Plot'; the classes are Matrix, Text, Echo and Worker.");
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(nullptr, 0, nullptr, &cookie), E_FAIL);
  EXPECT_EQ(LastError(0), "No class name given.");
  Register("E", "eChO");
  Register("D", "Text", "");
  Run({{"E name", "E_FAIL Wrapper {#E} (Echo) has no object: call ZUL_QEL_CreateObject first."},
       {"E Echo | I4:1", "E_FAIL Wrapper {#E} (Echo) has no object: call ZUL_QEL_CreateObject first."},
       {"E new", "S_OK"},
       {"E name", "BSTR:echo1"},
       {"E new", "E_FAIL Wrapper {#E} already has the object echo1."},
       {"E destroy", "S_OK"},
       {"E destroy", "E_FAIL Wrapper {#E} (Echo) has no object: call ZUL_QEL_CreateObject first."},
       {"E let echo2 | I4:0", "S_OK"},  // a variable's name is skipped
       {"E new", "S_OK"},
       {"E name", "BSTR:echo3"},
       {"D new", "S_OK"},
       {"D name", "BSTR:text1"},
       {"E release", "S_OK"}});
  // A proxy for a cookie the bridge never gave out reaches the bridge, which refuses it.
  const int32_t stranger = 2000000000;
  EXPECT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(stranger), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_ExecuteString(stranger, Wide("x = 1").c_str()), E_FAIL);
  EXPECT_EQ(LastError(stranger), "Invalid cookie 2000000000.");
  EXPECT_EQ(ZUL_MSCOMPAL_ReleaseWrapper(stranger), E_FAIL);
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(stranger), S_OK);
}

// A variable's value goes into commands with the client's layout, and commands store the types they
// compute; names ignore case.
TEST_F(Processes, VariablesAndCommands) {
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  Listen("E");
  Run({{"E let Value | R8(2,3):1,4,2,5,3,6", "S_OK"},
       {"E exec | print, VALUE", "[[1, 2, 3], [4, 5, 6]]"},  // a client's rows, dims[0] innermost
       {"E exec | x = value - 1", ""},
       {"E var x", "R8(2,3):0,3,1,4,2,5"},
       {"E exec | x = 2147483648", ""},
       {"E var x", "I8:2147483648"},
       {"E exec | x = [1, 2.5] * 2", ""},
       {"E var x", "R8(2):2,5"},
       {"E exec | x = ['a', ''] + 'b'", ""},
       {"E var X", "BSTR(2):ab,b"},
       {"E var echo1", "E_FAIL Object references must be in-only (constant).  They cannot be returned."},
       {"E let echo1 | I4:1",
        "E_FAIL Variable 'echo1' holds the object of a wrapper and cannot be assigned."},
       {"E let 1x | I4:1", "E_FAIL Invalid variable name '1x'."},
       {"E let print | I4:1", "E_FAIL Invalid variable name 'print'."},
       {"E var nothing", "E_FAIL Undefined variable 'nothing' in ZUL process '{P}'."}});
}

// A name the code page cannot hold never reaches the bridge as another name: a lone surrogate on every code
// page, CJK where the code page has none. Names it holds reach the bridge whole.
TEST_F(Processes, NamesTheCodePageCannotHoldAreRefused) {
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  for (const std::string name : {"x\uFFFD", "中文"}) {
    SCOPED_TRACE(name);
    const bool held = Decode(CP_THREAD_ACP, Encode(CP_THREAD_ACP, Wide(name))) == Wide(name);
    const std::string refused = "The name '" + name + "' cannot be represented in the current code page.";
    for (const std::string what : {"get ", "set ", "var ", "let ", ""}) {
      const std::string outcome = Do("E", what + name, {"I4:1"});
      EXPECT_EQ(outcome == HresultName(E_INVALIDARG) + " " + refused, !held) << outcome;
      EXPECT_NE(outcome.find("'" + name + "'"), std::string::npos) << outcome;
    }
    int32_t cookie = 0;  // as a class, then as a process
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(Wide(name).c_str(), 0, nullptr, &cookie) == E_INVALIDARG, !held);
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(Wide("Echo").c_str(), 0, Wide(name).c_str(), &cookie),
              held ? S_OK : E_INVALIDARG);
    EXPECT_EQ(LastError(0) == refused, !held);
    EXPECT_TRUE(!held || ZUL_MSCOMPAL_ReleaseWrapper(cookie) == S_OK);
  }
}

TEST_F(Processes, CommandLanguage) {
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  Listen("E");
  const std::pair<const char*, const char*> kCommands[] = {
      {" \t ", ""},
      {"x = 7", ""},
      {"print, x, X + 1", "7 8"},
      {"print, 2147483648, 2147483647 + 0, 2147483648 * 2", "2147483648 2147483647 4294967296"},
      {"print, 7 / 2, -7 / 2, 7.0 / 2, 1 / 0.0, --4", "3 -3 3.5 inf 4"},
      {"print, .5 + 1e3 + 2.5E-1, 0.1 + 0.2, 1e20", "1000.75 0.30000000000000004 1e+20"},
      {"print, -(2 + 3) * 4, 2 + 3 * 4 - 1", "-20 13"},
      {"print, 'it''s', 'a' + 'b'", "it's ab"},
      {"print, [1, 2.5, 3], ['a', 'b'] + 'c', [1, 2] * [3, 4], 10 - [1, 2]",
       "[1, 2.5, 3] ['ac', 'bc'] [3, 8] [9, 8]"},
      {"print", ""},  // an empty line is never delivered
      {"notify, 'a', [x, 2]", "notify: a | [7, 2]"},
      {"x = 1 / 0", "E_FAIL Division by zero at column 7."},
      {"print, x", "7"},  // a failed statement changes nothing
      {"print, 2147483647 + 1", "E_FAIL Integer overflow at column 19."},
      {"print, [1, 2] + [1, 2, 3]", "E_FAIL Shapes [2] and [3] do not match at column 15."},
      {"print, 'a' - 'b'", "E_FAIL Operator '-' cannot combine STRING and STRING at column 12."},
      {"print, -'a'", "E_FAIL Operator '-' cannot be applied to STRING at column 8."},
      {"print, [[1]]", "E_FAIL Array elements must be scalars at column 9."},
      {"print, [1, 'a']", "E_FAIL Array elements must be all numbers or all strings at column 12."},
      {"print, z", "E_FAIL Undefined variable 'z' at column 8."},
      {"echo1 = 1",
       "E_FAIL Variable 'echo1' holds the object of a wrapper and cannot be assigned at column 1."},
      {"print, 'abc", "E_FAIL Syntax error at column 8: the string is not closed."},
      {"print, 1 # 2", "E_FAIL Syntax error at column 10: unexpected character '#'."},
      {"print, (1 + 2", "E_FAIL Syntax error at column 14: expected ')'."},
      {"print, [1, 2", "E_FAIL Syntax error at column 13: expected ',' or ']'."},
      {"+ 1", "E_FAIL Syntax error at column 1: expected a statement."},
      {"x 1", "E_FAIL Syntax error at column 3: expected '=' after the variable name."},
      {"print 1", "E_FAIL Syntax error at column 7: expected ',' after print."},
      {"notify 1", "E_FAIL Syntax error at column 8: expected ',' after notify."},
      {"notify, 1", "E_FAIL Syntax error at column 10: expected ',' and a second value."},
      {"x = 1 2", "E_FAIL Syntax error at column 7: unexpected '2'."},
      {"x = 1.2.3", "E_FAIL Syntax error at column 5: malformed number '1.2.3'."},
      {"x = 99999999999999999999",
       "E_FAIL Syntax error at column 5: the number 99999999999999999999 is too large."},
      {"x = 1e999", "E_FAIL Syntax error at column 5: the number 1e999 is too large."},
      {"x =", "E_FAIL Syntax error at column 4: expected an expression."}};
  for (const auto& [command, heard] : kCommands) EXPECT_EQ(Do("E", "exec", {command}), heard) << command;
  EXPECT_EQ(ZUL_MSCOMPAL_ExecuteString(Cookie("E"), nullptr), E_FAIL);
  EXPECT_EQ(LastError(Cookie("E")), "No command given.");
  EXPECT_TRUE(std::regex_match(Do("E", "exec", {"print, echo1"}), std::regex("<object [0-9]+>")));
}

// Output goes to the wrapper that ran the command; each wrapper's callbacks are its own.
TEST_F(Processes, Callbacks) {
  ASSERT_EQ(New("A", "Echo"), "S_OK");
  ASSERT_EQ(New("B", "Echo"), "S_OK");
  Inbox& a = Listen("A");
  Inbox& b = Listen("B");
  EXPECT_EQ(Do("A", "exec", {"print, 'to a'"}), "to a");
  EXPECT_TRUE(b.Take().empty());
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterOutputCallback(Cookie("A")), S_OK);
  EXPECT_EQ(Do("A", "exec", {"print, 'lost'"}), "");
  EXPECT_EQ(Do("B", "exec", {"print, 'to b'"}), "to b");
  EXPECT_EQ(Do("A", "exec", {"notify, 1, 'still'"}), "notify: 1 | still");
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterNotifyCallback(Cookie("A")), S_OK);
  EXPECT_EQ(Do("A", "exec", {"notify, 1, 'lost'"}), "");
  EXPECT_TRUE(a.Take().empty());
}

// While one thread is inside a process (a long Worker.Run), every other thread's call on it is refused
// as busy; an abort from another thread ends the run and is not kept for a later call.
TEST_F(Processes, AbortAndBusy) {
  ASSERT_EQ(New("W", "Worker"), "S_OK");
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  Register("O", "Echo", "{P}/other");
  ASSERT_EQ(Do("O", "new"), "S_OK");
  Inbox& progress = Listen("W");
  std::string ran;
  std::thread runner([&] { ran = Do("W", "Run", {"I4:600000"}); });
  ASSERT_TRUE(progress.WaitFor("worker1: 10 of 600000 ms"));
  const std::string busy = "E_ACCESSDENIED ZUL process '{P}' is busy in another thread's transaction.";
  Run({{"E Echo | I4:1", busy},
       {"E exec | x = 1", busy},
       {"E get Anything", busy},
       {"E destroy", busy},
       {"E release", busy},
       {"E event 1", "S_FALSE"},
       {"O Echo | I4:1", "I4:1"}});
  EXPECT_EQ(LastError(0), "The object's associated ZUL process is currently busy.");
  EXPECT_EQ(Do("E", "abort"), "S_OK");  // any wrapper of the process
  runner.join();
  EXPECT_TRUE(std::regex_match(
      ran, std::regex("E_ABORT Worker.Run of worker1 was aborted after [0-9]+ of 600000 ms\\.")))
      << ran;
  EXPECT_EQ(Do("W", "abort"), Expand("E_FAIL No ZUL activity to abort in ZUL process '{P}'."));
  EXPECT_EQ(LastError(0), "There is no ZUL activity to abort.");
  EXPECT_EQ(Do("W", "Run", {"I4:10"}), "I4:10");
}

// A background job holds its process from its own thread until it ends or is aborted, then notifies.
TEST_F(Processes, BackgroundJob) {
  ASSERT_EQ(New("W", "Worker"), "S_OK");
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  Inbox& heard = Listen("W");
  const std::string busy = "E_ACCESSDENIED ZUL process '{P}' is busy with a background job of worker1.";
  Run({{"W Start | I4:600000", "I4:0"},
       {"E Echo | I4:1", busy},
       {"W release", busy},
       {"W destroy", busy},
       {"E abort", "S_OK"}});
  ASSERT_TRUE(heard.WaitFor("notify: aborted | worker1"));
  heard.Take();
  EXPECT_EQ(Do("W", "Start", {"I4:20"}), "I4:0");
  ASSERT_TRUE(heard.WaitFor("notify: done | worker1"));
  EXPECT_EQ(heard.Take(), (std::vector<std::string>{"worker1: 10 of 20 ms", "worker1: 20 of 20 ms",
                                                    "notify: done | worker1"}));
  EXPECT_EQ(Do("E", "Echo", {"I4:1"}), "I4:1");
}

// Processes keep their own variables and objects; an object of another process cannot be an argument.
TEST_F(Processes, ProcessesAreSeparate) {
  ASSERT_EQ(New("A", "Matrix", {"R8(1,1):2"}), "S_OK");
  Register("B", "Matrix", "{P}/other");
  ASSERT_EQ(Do("B", "new", {"R8(1,1):3"}), "S_OK");
  const std::string contextError = LastError(0);
  Listen("A");
  Listen("B");
  Run({{"A exec | x = 1", ""},
       {"B exec | print, x", "E_FAIL Undefined variable 'x' at column 8."},
       {"B name", "BSTR:matrix1"},
       {"A Multiply | @B",
        "E_FAIL Wrapper {#B} belongs to ZUL process '{P}/other', not to ZUL process '{P}'."}});
  EXPECT_EQ(LastError(0), contextError);  // refused while converting arguments: a plain failure
}

}  // namespace
}  // namespace zul::e2e

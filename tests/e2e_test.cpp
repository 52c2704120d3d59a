// End to end: a client of the shared library drives the reference bridge through the 25 exports. Rows read
// "<wrapper> <operation> | <argument> | ..." and give the outcome as text. No test may leave bridge memory
// outstanding or a reference on an object it passed.
//
// Values: "I4:3", "BSTR:" (empty), "R8(2,3):1,4,2,5,3,6" an array declared (2, 3), elements in storage order;
// "VARIANT(2):I4:1,R8:2", "EMPTY", "NULL"; "@A" wrapper A as an object, "@7" an object whose Cookie is 7.
// "&v" goes by reference (WriteBack), "~v" too but written back only when changed (WriteBackChanged; "~"
// where the library left it), "=v" without Reorder. Texts are UTF-8; U+FFFD stands for a lone surrogate.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "stub_wrapper_object.h"
#include "zul/pal_mscom.h"
#include "zul/pal_mscom_event.h"

namespace zul::e2e {
namespace {

// A wrapper object as a generated wrapper is: IDispatch with a "Cookie" property.
using WrapperObject = testing::StubWrapperObject;

struct TypeInfo {
  const char* name;
  VARTYPE vt;
  char kind;  // signed, unsigned, real, text, VARIANT
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
  const HRESULT codes[] = {S_OK, S_FALSE, E_FAIL, E_ABORT, E_INVALIDARG, E_UNEXPECTED, E_ACCESSDENIED};
  const char* const names[] = {"S_OK",         "S_FALSE",      "E_FAIL",        "E_ABORT",
                               "E_INVALIDARG", "E_UNEXPECTED", "E_ACCESSDENIED"};
  for (std::size_t i = 0; i < std::size(codes); ++i)
    if (codes[i] == hr) return names[i];
  return "hr " + std::to_string(hr);
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + separator.size())
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

// A scalar from text, stored where a VARIANT keeps its value or an array its element (little-endian).
void Store(const TypeInfo& type, const std::string& text, void* at) {
  const BSTR bstr = type.kind == 't' ? SysAllocString(Wide(text).c_str()) : nullptr;
  const double d = type.kind == 'r' ? std::stod(text) : 0;
  const float f = static_cast<float>(d);
  const uint64_t bits = type.kind == 's'   ? static_cast<uint64_t>(std::stoll(text))
                        : type.kind == 'u' ? std::stoull(text)
                                           : 0;
  const void* from = type.kind == 't' ? static_cast<const void*>(&bstr) : type.kind != 'r' ? &bits : nullptr;
  std::memcpy(at, from != nullptr ? from : type.size == 4 ? static_cast<const void*>(&f) : &d, type.size);
}

std::string Show(const VARIANT& value);
std::string Load(const TypeInfo& type, const void* at) {
  if (type.kind == 'v') return Show(*static_cast<const VARIANT*>(at));
  if (type.kind == 't')
    return *static_cast<const BSTR*>(at) ? Narrow(*static_cast<const BSTR*>(at)) : "<null>";
  char text[40];
  if (type.kind == 'r') {
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
  std::string text = std::string(type->name), shape;
  LONG count = 1, upper = 0;
  for (UINT d = 1; d <= SafeArrayGetDim(value.parray); ++d, count *= upper + 1) {
    SafeArrayGetUBound(value.parray, d, &upper);
    shape += (d > 1 ? "," : "") + std::to_string(upper + 1);
  }
  text += "(" + shape + "):";
  char* data = nullptr;
  SafeArrayAccessData(value.parray, reinterpret_cast<void**>(&data));
  for (LONG i = 0; i < count; ++i)
    text += (i > 0 ? "," : "") + Load(*type, data + i * SafeArrayGetElemsize(value.parray));
  SafeArrayUnaccessData(value.parray);
  return text;
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

// Lines that reach a wrapper's callbacks, from any thread; notifications as "notify: first | second". A line
// may call back into the library (reenter), whose outcome is appended to it.
struct Inbox {
  std::mutex lock;
  std::vector<std::string> lines;
  std::function<std::string()> reenter;

  void Push(std::string line) {
    if (reenter) line += " " + reenter();
    const std::lock_guard<std::mutex> hold(lock);
    lines.push_back(std::move(line));
  }
  std::vector<std::string> Take() {
    const std::lock_guard<std::mutex> hold(lock);
    return std::exchange(lines, {});
  }
  bool WaitFor(const std::string& line) {  // for up to 30 s
    for (int i = 0; i < 3000; ++i) {
      {
        const std::lock_guard<std::mutex> hold(lock);
        if (std::count(lines.begin(), lines.end(), line) != 0) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  static void Output(BSTR text, void* inbox) { static_cast<Inbox*>(inbox)->Push(Narrow(text)); }
  static void Notify(BSTR first, BSTR second, void* inbox) {
    static_cast<Inbox*>(inbox)->Push("notify: " + Narrow(first) + " | " + Narrow(second));
  }
};

// By mark: &, ~, =, none.
constexpr uint32_t kFlags[] = {ArgFlag::WriteBack | ArgFlag::Reorder,
                               ArgFlag::WriteBack | ArgFlag::WriteBackChanged | ArgFlag::Reorder,
                               ArgFlag::InOnly, ArgFlag::InOnly | ArgFlag::Reorder};

// Each test works in a ZUL process of its own (named after the test), so object names start at matrix1,
// echo1, ... and no variable leaks between tests. At its end every wrapper is released.
class EndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(ZUL_MSCOMPAL_Initialize(), S_OK) << LastError(0);
    ASSERT_EQ(OutstandingBlocks(), 0) << "not the reference bridge";
  }
  static void TearDownTestSuite() { EXPECT_EQ(ZUL_MSCOMPAL_Release(), S_OK); }
  void TearDown() override {
    for (const auto& [name, cookie] : cookies_)
      EXPECT_EQ(ZUL_MSCOMPAL_ReleaseWrapper(cookie), S_OK) << name << ": " << LastError(cookie);
    EXPECT_EQ(OutstandingBlocks(), 0) << "bridge memory left outstanding";
    for (const WrapperObject& object : objects_) EXPECT_EQ(object.refs, 1u) << "a reference kept";
  }

  // Wrapper `name` in process proc ({P} is this test's; empty is the default process), with its object made
  // from args unless they are {"-"}.
  std::string New(const std::string& name, const std::string& className,
                  const std::vector<std::string>& args = {}, const std::string& proc = "{P}") {
    const std::basic_string<OLECHAR> procName = Wide(Expand(proc));
    const HRESULT hr = ZUL_MSCOMPAL_RegisterWrapper(
        Wide(className).c_str(), 0, proc.empty() ? nullptr : procName.c_str(), &cookies_[name]);
    return FAILED(hr) ? Failure(hr, 0) : args.size() == 1 && args[0] == "-" ? "S_OK" : Do(name, "new", args);
  }

  // One operation on wrapper `name` and its outcome: the value (then each by-reference argument), the
  // HRESULT, or "<HRESULT> <the wrapper's last error>". Operations: "get P", "set P", "var V", "let V", "exec
  // C" (the outcome is what the callbacks heard, joined with " / "), "new", "destroy", "release", "name",
  // "class", "proc", "abort", "event K" (-1: no record), else a method call.
  std::string Do(const std::string& name, const std::string& what,
                 const std::vector<std::string>& args = {}) {
    const int32_t cookie = cookies_.at(name);
    const std::string verb = what.substr(0, what.find(' '));
    const std::basic_string<OLECHAR> member = Wide(what.substr(what.find(' ') + 1));
    std::vector<VARIANT> values(args.size());
    std::vector<uint32_t> flags(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::size_t mark = std::string("&~=").find(args[i][0]);
      flags[i] = kFlags[std::min<std::size_t>(mark, 3)];
      Make(mark != std::string::npos ? args[i].substr(1) : args[i], values[i]);
    }
    const auto n = static_cast<int32_t>(values.size());
    VARIANT* argv = values.empty() ? nullptr : values.data();
    uint32_t* flagv = flags.empty() ? nullptr : flags.data();
    VARIANT result{};
    if (verb == "name" || verb == "class" || verb == "proc") result.vt = VT_BSTR;
    const std::map<std::string, std::function<HRESULT()>> calls = {
        {"new", [&] { return ZUL_MSCOMPAL_CreateObject(cookie, n, argv, flagv, 0, 0, 0); }},
        {"get", [&] { return ZUL_MSCOMPAL_GetProperty(cookie, member.c_str(), &result); }},
        {"set", [&] { return ZUL_MSCOMPAL_SetProperty(cookie, member.c_str(), n, argv, flagv); }},
        {"var", [&] { return ZUL_MSCOMPAL_GetZULVariable(cookie, member.c_str(), &result); }},
        {"let", [&] { return ZUL_MSCOMPAL_SetZULVariable(cookie, member.c_str(), values.at(0)); }},
        {"exec", [&] { return inboxes_[name].Take(), ZUL_MSCOMPAL_ExecuteString(cookie, member.c_str()); }},
        {"destroy", [&] { return ZUL_MSCOMPAL_DestroyObject(cookie); }},
        {"release", [&] { return ZUL_MSCOMPAL_ReleaseWrapper(cookie); }},
        {"abort", [&] { return ZUL_MSCOMPAL_Abort(cookie); }},
        {"event", [&] { return Event(cookie, std::stoi(what.substr(6))); }},
        {"name", [&] { return ZUL_MSCOMPAL_GetObjVariableName(cookie, &result.bstrVal); }},
        {"class", [&] { return ZUL_MSCOMPAL_GetObjClassName(cookie, &result.bstrVal); }},
        {"proc", [&] { return ZUL_MSCOMPAL_GetProcNameFromCookie(cookie, &result.bstrVal); }}};
    const auto call = calls.find(verb);
    const HRESULT hr = call != calls.end()
                           ? call->second()
                           : ZUL_MSCOMPAL_CallMethod(cookie, member.c_str(), n, argv, flagv, &result);
    std::string outcome = FAILED(hr)              ? Failure(hr, cookie)
                          : result.vt != VT_EMPTY ? Show(result)
                                                  : HresultName(hr);
    if (verb == "event" && !raised_.empty()) outcome = std::exchange(raised_, "");
    if (verb == "exec" && SUCCEEDED(hr)) outcome.clear();
    for (const std::string& line : verb == "exec" ? inboxes_[name].Take() : std::vector<std::string>{})
      outcome += (outcome.empty() ? "" : " / ") + line;
    for (std::size_t i = 0; SUCCEEDED(hr) && i < values.size(); ++i)
      if ((flags[i] & ArgFlag::WriteBack) != 0 || args[i][0] == '~')
        outcome += ((flags[i] & ArgFlag::WriteBack) != 0 ? " &" : " ~") + Show(values[i]);
    if (verb == "release" && SUCCEEDED(hr)) cookies_.erase(name);
    VariantClear(&result);
    for (VARIANT& value : values) VariantClear(&value);
    return outcome;
  }

  // Rows and the outcome Do gives, where {P} stands for the test's process and {#A} for wrapper A's cookie.
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
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterOutputCallback(cookies_.at(name), Inbox::Output, &inbox), S_OK);
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterNotifyCallback(cookies_.at(name), Inbox::Notify, &inbox), S_OK);
    return inbox;
  }
  static std::string LastError(int32_t cookie) {
    BSTR message = nullptr;
    ZUL_MSCOMPAL_GetLastError(cookie, &message);
    const std::string text = Narrow(message);
    return SysFreeString(message), text;
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
      objects_.emplace_back(cookies_.count(key) != 0 ? cookies_.at(key) : std::stoi(key));
      out.vt = VT_DISPATCH;
      out.pdispVal = (objects_.back().AddRef(), &objects_.back());  // the VARIANT's reference
      return;
    }
    const std::size_t colon = written.find(':'), open = std::min(written.find('('), colon);
    const TypeInfo* type = Find([&](const TypeInfo& t) { return written.substr(0, open) == t.name; });
    if (type == nullptr) return ADD_FAILURE() << "no type in " << written;
    out.vt = type->vt;
    if (open == colon) return Store(*type, written.substr(colon + 1), &out.lVal);
    std::vector<SAFEARRAYBOUND> bounds;
    for (const std::string& extent : Split(written.substr(open + 1, written.find(')') - open - 1), ","))
      bounds.push_back({static_cast<ULONG>(std::stoul(extent)), 0});
    const std::vector<std::string> elements =
        Split(written.substr(written.find(':', written.find(')')) + 1), ",");
    out.vt |= VT_ARRAY;
    out.parray = SafeArrayCreate(type->vt, static_cast<UINT>(bounds.size()), bounds.data());
    char* data = nullptr;
    SafeArrayAccessData(out.parray, reinterpret_cast<void**>(&data));
    for (std::size_t i = 0; data != nullptr && i < elements.size() && !elements[0].empty(); ++i) {
      void* at = data + i * SafeArrayGetElemsize(out.parray);
      type->vt == VT_VARIANT ? Make(elements[i], *static_cast<VARIANT*>(at)) : Store(*type, elements[i], at);
    }
    SafeArrayUnaccessData(out.parray);
  }

  // A failed delivery raises _com_error (and the library writes its diagnostic to standard output).
  HRESULT Event(int32_t cookie, int kind) {
    EventRecord event{kind};
    IErrorInfo* info = nullptr;
    const HRESULT hr = ZulOnEventCaught(cookie, kind >= 0 ? &event : nullptr, &info);
    if (info == nullptr) return hr;
    BSTR description = nullptr;
    info->GetDescription(&description), info->Release();
    raised_ = "raised " + HresultName(hr) + " " + Narrow(description);
    return SysFreeString(description), S_OK;
  }

  std::string process_ =
      std::string(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name()) + "." +
      ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::map<std::string, int32_t> cookies_;
  std::map<std::string, Inbox> inboxes_;
  std::deque<WrapperObject> objects_;
  std::string raised_;
};

using Classes = EndToEnd;
using Processes = EndToEnd;

// a = [[1, 2, 3], [4, 5, 6]] declared (2, 3) and b declared (3, 2): the bridge sees each transposed; R gets a
// without Reorder, so only the bounds turn. Then element order in every dimension count, seeded: the bridge
// sees the client's first index outermost (as print shows it), and a variable read gives back the very array.
TEST_F(Classes, Arrays) {
  ASSERT_EQ(New("A", "Matrix", {"R8(2,3):1,4,2,5,3,6"}), "S_OK");
  ASSERT_EQ(New("B", "Matrix", {"I4(3,2):1,0,1,0,1,1"}), "S_OK");
  ASSERT_EQ(New("R", "Matrix", {"=R8(2,3):1,4,2,5,3,6"}), "S_OK");
  ASSERT_EQ(New("T", "Text"), "S_OK");
  ASSERT_EQ(New("C", "Matrix", {"-"}), "S_OK");
  Listen("T");
  Run({{"B Multiply | @A", "R8(2,2):4,10,5,11"},
       {"R get Data", "R8(2,3):1,5,4,3,2,6"},
       {"R set Data | =R8(2,3):1,4,2,5,3,6", "S_OK"},
       {"A set Data | UI1(1,2):7,8", "S_OK"},
       {"A Multiply | VARIANT(1):@B",
        "E_FAIL Matrix.Multiply: argument 1 must be an object reference (OBJREF), not OBJREF[1]."},
       {"A Multiply | @C", "E_FAIL Wrapper {#C} (Matrix) has no object: call ZUL_QEL_CreateObject first."},
       {"A Multiply | @999999", "E_FAIL Invalid cookie 999999 of the referenced wrapper."},
       {"A Multiply | @0", "E_FAIL Object reference must be another ZUL COM wrapper object."},
       {"C new", "E_FAIL Matrix takes 1 constructor argument, not 0."},
       {"T Join | BSTR(2,2):a,b,c,d | BSTR:-", "BSTR:a-c-b-d"},
       {"T Join | =BSTR(2,2):a,b,c,d | BSTR:-", "BSTR:a-b-c-d"}});
  std::mt19937 random(15);
  const std::string kinds[] = {"UI1", "I2", "UI2", "I4", "UI4", "I8", "UI8", "R4", "BSTR", "VARIANT"};
  for (std::size_t dims = 1; dims <= 24; ++dims) {
    const std::size_t rank = 1 + dims % 8;
    const auto& kind = kinds[random() % std::size(kinds)];
    std::vector<int> extents(rank);
    int count = 1;
    for (int& n : extents) count *= n = 1 + static_cast<int>(random() % (rank < 5 ? 4 : 2));
    std::string shape, sent, back;
    for (int n : extents) shape += (shape.empty() ? "" : ",") + std::to_string(n);
    auto element = [&](int i) { return (kind[0] == 'B' ? "s" : "") + std::to_string(i); };
    for (int i = 0; i < count; ++i) {
      sent += (i > 0 ? "," : "") + std::string(kind[0] == 'V' ? "R8:" : "") + element(i);
      back += (i > 0 ? "," : "") + element(i);
    }
    std::function<std::string(std::size_t, int, int)> nested = [&](std::size_t k, int base, int stride) {
      if (k == rank) return kind[0] == 'B' ? "'" + element(base) + "'" : element(base);
      std::string list;
      for (int i = 0; i < extents[k]; ++i)
        list += (i > 0 ? ", " : "") + nested(k + 1, base + i * stride, stride * extents[k]);
      return "[" + list + "]";
    };
    SCOPED_TRACE(kind + "(" + shape + ")");
    Run({{"T let v | " + kind + "(" + shape + "):" + sent, "S_OK"},
         {"T exec print, v", nested(0, 0, 1)},
         {"T var v", (kind[0] == 'V' ? "R8" : kind) + "(" + shape + "):" + back}});
  }
}

// Each ZUL type a client can pass: as the bridge names it, as a method result (the bridge's to free) and as a
// variable read (the library's to free); whole texts in the thread's code page.
TEST_F(Classes, Echo) {
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  const char* const objref = "E_FAIL Object references must be in-only (constant).  They cannot be returned.";
  const char* const kCases[][3] = {
      {"I1:-3", "BYTE", "UI1:253"},
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
      {"UI1(1,1,1,1,1,1,1,2):0,255", "BYTE[2,1,1,1,1,1,1,1]", "UI1(1,1,1,1,1,1,1,2):0,255"},
      {"I4(0,3):", "LONG[3,0]", "I4(0,3):"},
      {"BSTR(3):café,,中文 x€", "STRING[3]", "BSTR(3):café,,中文 x€"},
      {"VARIANT(5):I4:1,UI8:2,R8:3,UI4:4,BOOL:-1", "LONG[5]", "I4(5):1,2,3,4,1"},
      {"@E", "OBJREF", objref},
      {"VARIANT(2):@E,@E", "OBJREF[2]", objref}};
  for (const auto& [value, zulType, back] : kCases) {
    Run({{std::string("E TypeName | ") + value, std::string("BSTR:") + zulType},
         {std::string("E Echo | ") + value, ThroughCodePage(back)},
         {std::string("E let Value | ") + value, "S_OK"},
         {"E var VALUE", ThroughCodePage(back)}});
  }
  // By reference the bridge changes the records in place and the library writes them back; with
  // WriteBackChanged only those it changed (by content: Swap of equal values changes nothing), whatever the
  // kind.
  Run({{"E TypeName | ~BOOL:-1", "BSTR:BYTE ~BOOL:-1"},
       {"E TypeName | &BOOL:-1", "BSTR:BYTE &UI1:1"},
       {"E Echo | ~CY:15000", "R8:1.5 ~CY:15000"},
       {"E Swap | ~DATE:2.5 | ~DATE:2.5", "I4:0 ~DATE:2.5 ~DATE:2.5"},
       {"E Swap | &I4:1 | &R8(2):1,2", "I4:0 &R8(2):1,2 &I4:1"},
       {"E Swap | ~BSTR(1):z | ~I2:1", "I4:0 &I2:1 &BSTR(1):z"},
       {"E Fill | ~VARIANT(2):I1:-1,I1:-1 | ~I4:255", "I4:2 ~VARIANT(2):I1:-1,I1:-1 ~I4:255"},
       {"E TypeName | ~BSTR(2):a,b", "BSTR:STRING[2] ~BSTR(2):a,b"},
       {"E Fill | ~BSTR(2):a,b | ~BSTR:zz", "I4:2 &BSTR(2):zz,zz ~BSTR:zz"},
       {"E Fill | ~I4(1):1 | I4:7", "I4:1 &I4(1):7"},
       {"E Resize | ~I4(3):7,8,9 | ~R8:2", "I4:3 &I4(2):7,8 ~R8:2"},
       // Each failure has a text of its own, never the one before it; elements by the client's indexes.
       {"E Echo | EMPTY", "E_FAIL Argument 1 is VT_EMPTY, which holds no value to pass."},
       {"E Swap | &I4:1 | NULL", "E_FAIL Argument 2 is VT_NULL, which holds no value to pass."},
       {"E Echo | VARIANT(0):",
        "E_FAIL Argument 1 is an empty array of variants, whose elements have no type to pass."},
       {"E Echo | VARIANT(2,3):I4:1,I4:1,BSTR:x,I4:1,I4:1,NULL",
        "E_FAIL Element (0, 1) of the array of variants in argument 1 is VT_BSTR, which does not convert "
        "exactly to the array's element type VT_I4."}});
  // g = Array(3, 2, 1) and a reference to one of its elements: the element is written back first, never
  // through the array that g's write-back replaced; a fixed array is written in place.
  for (const auto& [method, element, back] :
       {std::tuple{"Resize", 0, "I4:3 VARIANT(3):I4:3,I4:2,I4:1"}, std::tuple{"Swap", 1, "I4:0 I4:2"},
        std::tuple{"Fill", 1, "I4:3 VARIANT(3):I4:2,I4:2,I4:2 in place"}}) {
    VARIANT g, result{}, args[2]{};
    Make("VARIANT(3):I4:3,I4:2,I4:1", g);
    const SAFEARRAY* const held = g.parray;
    if (std::string(method) == "Fill") g.parray->fFeatures |= FADF_FIXEDSIZE;  // as VBScript's Dim g(2)
    args[0].vt = args[1].vt = VT_BYREF | VT_VARIANT;
    args[0].pvarVal = &g;
    args[1].pvarVal = static_cast<VARIANT*>(g.parray->pvData) + element;
    uint32_t flags[2] = {ArgFlag::WriteBack | ArgFlag::Reorder, ArgFlag::WriteBack | ArgFlag::Reorder};
    const HRESULT hr = ZUL_MSCOMPAL_CallMethod(cookies_["E"], Wide(method).c_str(), 2, args, flags, &result);
    const char* const kept = (g.vt & VT_ARRAY) != 0 && g.parray == held ? " in place" : "";
    EXPECT_EQ(FAILED(hr) ? Failure(hr, cookies_["E"]) : Show(result) + " " + Show(g) + kept, back) << method;
    VariantClear(&result);
    VariantClear(&g);
  }
  // A name the code page cannot hold never reaches the bridge as another name: a lone surrogate on every code
  // page, CJK where the code page has none.
  for (const std::string name : {"x\uFFFD", "中文"}) {
    const bool held = Decode(CP_THREAD_ACP, Encode(CP_THREAD_ACP, Wide(name))) == Wide(name);
    const std::string refused =
        "E_INVALIDARG The name '" + name + "' cannot be represented in the current code page.";
    for (const std::string what : {"get ", "set ", "var ", "let ", ""}) {
      const std::string outcome = Do("E", what + name, {"I4:1"});
      EXPECT_EQ(outcome == refused, !held) << outcome;
      EXPECT_NE(outcome.find("'" + name + "'"), std::string::npos) << outcome;
    }
    EXPECT_EQ(New("N", name) == refused, !held);  // as a class, then as a process
    EXPECT_EQ(New("N", "Echo", {"-"}, name), held ? "S_OK" : refused);
    if (!held) cookies_.erase("N");
  }
}

// Events, and callbacks that call back into the library (on their own wrapper and another) while the call
// that made them runs, on the same thread.
TEST_F(Classes, WorkerEventsAndCallbacksIntoTheLibrary) {
  ASSERT_EQ(New("W", "Worker"), "S_OK");
  ASSERT_EQ(New("T", "Text"), "S_OK");
  Listen("W").reenter = [&] {
    return Do("W", "get LastEvent") + "; " + Do("T", "name") + "; " + Do("W", "get X");
  };
  const std::string back = " I4:0; BSTR:text1; E_FAIL Worker has no property 'X'.";
  Run({{"W Run | I4:20", "I4:20"}});
  EXPECT_EQ(inboxes_["W"].Take(),
            (std::vector<std::string>{
                "worker1: 10 of 20 ms" + back, "notify: progress | worker1: 10 of 20 ms" + back,
                "worker1: 20 of 20 ms" + back, "notify: progress | worker1: 20 of 20 ms" + back}));
  Run({{"W exec print, 1", "1" + back}});
  inboxes_["W"].reenter = nullptr;
  ::testing::internal::CaptureStdout();  // the library's diagnostics of failed events
  Run({{"W event 9", "S_OK"},
       {"W get LastEvent", "I4:9"},
       {"W event -1", "raised E_UNEXPECTED No event record given."},
       {"T event 1", "raised E_UNEXPECTED Text objects do not handle events."}});
  ::testing::internal::GetCapturedStdout();
  // The wrapper keeps the whole diagnostic; the library's own error is cleared.
  EXPECT_EQ(
      LastError(cookies_["T"]),
      "ERROR: Event 'OnMouseDown' : Tarrow wrapper object 'Text'.\nText objects do not handle events.\n");
  EXPECT_EQ(LastError(0), "");
}

// Objects, variables and commands of a process; names ignore case; output goes to the wrapper that ran the
// command, and each wrapper's callbacks are its own. Processes keep their own variables and objects.
TEST_F(Processes, LifecycleVariablesAndCommands) {
  EXPECT_EQ(New("X", "Plot"), "E_FAIL Unknown class 'Plot'; the classes are Matrix, Text, Echo and Worker.");
  EXPECT_EQ(cookies_["X"], 0);
  cookies_.erase("X");
  ASSERT_EQ(New("E", "eChO", {"-"}), "S_OK");
  ASSERT_EQ(New("D", "Text", {}, ""), "S_OK");
  ASSERT_EQ(New("O", "Echo", {}, "{P}/other"), "S_OK");
  Inbox& heard = Listen("E");
  Listen("D");
  Run({{"E name", "E_FAIL Wrapper {#E} (Echo) has no object: call ZUL_QEL_CreateObject first."},
       {"E new", "S_OK"},
       {"E new", "E_FAIL Wrapper {#E} already has the object echo1."},
       {"E class", "BSTR:eChO"},
       {"E proc", "BSTR:{P}"},
       {"D proc", "BSTR:<null>"},
       {"E destroy", "S_OK"},
       {"E new", "S_OK"},
       {"E name", "BSTR:echo2"},
       {"E let Value | R8(2,3):1,4,2,5,3,6", "S_OK"},
       {"E exec x = value - 1", ""},
       {"E var x", "R8(2,3):0,3,1,4,2,5"},
       {"E exec notify, 'a', 7", "notify: a | 7"},
       {"O exec print, x", "E_FAIL Undefined variable 'x' at column 8."},
       {"O Echo | @E", "E_FAIL Wrapper {#E} belongs to ZUL process '{P}', not to ZUL process '{P}/other'."},
       {"D exec print, 'to d'", "to d"}});

  EXPECT_TRUE(heard.Take().empty());
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterOutputCallback(cookies_["E"]), S_OK);
  Run({{"E exec print, 'lost'", ""}, {"E exec notify, 1, 'still'", "notify: 1 | still"}});
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterNotifyCallback(cookies_["E"]), S_OK);
  Run({{"E exec notify, 1, 'lost'", ""}, {"D exec print, 'd'", "d"}, {"E release", "S_OK"}});
  // A proxy for a cookie the bridge never gave out reaches the bridge, which refuses it.
  const int32_t stranger = 2000000000;
  EXPECT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(stranger), S_OK);
  EXPECT_EQ(Failure(ZUL_MSCOMPAL_Abort(stranger), stranger), "E_FAIL Invalid cookie 2000000000.");
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(stranger), S_OK);
  EXPECT_EQ(Failure(ZUL_MSCOMPAL_Abort(stranger), 0),
            "E_INVALIDARG Invalid cookie.  Object has not been created.");
  const std::string guid = ZUL_MSCOMPAL_CreateGUID();
  EXPECT_TRUE(std::regex_match(guid, std::regex("[0-9a-f]{8}-([0-9a-f]{4}-){3}[0-9a-f]{12}"))) << guid;
  EXPECT_NE(guid, ZUL_MSCOMPAL_CreateGUID());
}

// While one thread is inside a process (a long Worker.Run, then a background job), every other thread's call
// on it is refused as busy; an abort from another thread ends the work and is not kept for a later call.
TEST_F(Processes, AbortAndBusy) {
  ASSERT_EQ(New("W", "Worker"), "S_OK");
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  ASSERT_EQ(New("O", "Echo", {}, "{P}/other"), "S_OK");
  Inbox& heard = Listen("W");
  std::string ran;
  std::thread runner([&] { ran = Do("W", "Run", {"I4:600000"}); });
  ASSERT_TRUE(heard.WaitFor("worker1: 10 of 600000 ms"));
  const std::string busy = "E_ACCESSDENIED ZUL process '{P}' is busy in another thread's transaction.";
  Run({{"E Echo | I4:1", busy}, {"E release", busy}, {"E event 1", "S_FALSE"}, {"O Echo | I4:1", "I4:1"}});
  EXPECT_EQ(LastError(0), "The object's associated ZUL process is currently busy.");
  EXPECT_EQ(Do("E", "abort"), "S_OK");  // any wrapper of the process
  runner.join();
  EXPECT_TRUE(std::regex_match(
      ran, std::regex("E_ABORT Worker.Run of worker1 was aborted after [0-9]+ of 600000 ms\\.")))
      << ran;
  Run({{"W abort", "E_FAIL No ZUL activity to abort in ZUL process '{P}'."}});
  EXPECT_EQ(LastError(0), "There is no ZUL activity to abort.");
  heard.Take();
  EXPECT_EQ(Do("W", "Start", {"I4:20"}), "I4:0");  // a job notifies from its own thread
  ASSERT_TRUE(heard.WaitFor("notify: done | worker1"));
  EXPECT_EQ(heard.Take(),
            (std::vector<std::string>{"worker1: 10 of 20 ms", "notify: progress | worker1: 10 of 20 ms",
                                      "worker1: 20 of 20 ms", "notify: progress | worker1: 20 of 20 ms",
                                      "notify: done | worker1"}));
}

}  // namespace
}  // namespace zul::e2e

// The main job's demo: a client of zul_pal_mscom drives ZUL objects of the reference bridge through the
// exports and prints what it sees. The transcript is the same on both targets (examples/demo.expected):
// no GUIDs, no timings, no pointers.
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zul/pal_mscom.h"

namespace {

constexpr uint32_t kIn = zul::ArgFlag::InOnly | zul::ArgFlag::Reorder;
constexpr uint32_t kByRef = zul::ArgFlag::WriteBack | zul::ArgFlag::Reorder;

int failures = 0;

std::string HresultName(HRESULT hr) {
  static const struct {
    HRESULT hr;
    const char* name;
  } kNames[] = {{S_OK, "S_OK"},
                {S_FALSE, "S_FALSE"},
                {E_FAIL, "E_FAIL"},
                {E_ABORT, "E_ABORT"},
                {E_ACCESSDENIED, "E_ACCESSDENIED"},
                {E_INVALIDARG, "E_INVALIDARG"},
                {E_POINTER, "E_POINTER"},
                {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
                {E_UNEXPECTED, "E_UNEXPECTED"}};
  for (const auto& entry : kNames) {
    if (entry.hr == hr) return entry.name;
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// The demo's texts are ASCII; anything else shows as '?'.
std::string Narrow(const OLECHAR* text, size_t length) {
  std::string narrow;
  for (size_t i = 0; i < length; ++i) narrow += text[i] < 128 ? static_cast<char>(text[i]) : '?';
  return narrow;
}
std::string Narrow(BSTR text) {
  return text == nullptr ? std::string() : Narrow(text, SysStringLen(text));
}
std::string Narrow(const OLECHAR* text) {
  size_t length = 0;
  while (text[length] != 0) ++length;
  return Narrow(text, length);
}

// An owned BSTR, as the exports hand them out.
struct Bstr {
  BSTR text = nullptr;
  Bstr() = default;
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(text); }
};

// An owned VARIANT: clearing it frees its BSTR or SAFEARRAY.
struct Variant {
  VARIANT value;
  Variant() { VariantInit(&value); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&value); }
};

std::string Number(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

std::string Element(VARTYPE type, const void* at) {
  switch (type) {
    case VT_I4:
      return std::to_string(*static_cast<const LONG*>(at));
    case VT_R8:
      return Number(*static_cast<const double*>(at));
    case VT_BSTR:
      return "'" + Narrow(*static_cast<const BSTR*>(at)) + "'";
    default:
      return "?";
  }
}

// A client array as its declaration reads: "(2, 3) [[1, 2, 3], [4, 5, 6]]". OLE Automation stores the
// first declared index fastest.
std::string ArrayText(SAFEARRAY* array, VARTYPE type) {
  const UINT dims = SafeArrayGetDim(array);
  std::vector<LONG> extent(dims);
  std::string text = "(";
  for (UINT d = 0; d < dims; ++d) {
    SafeArrayGetUBound(array, d + 1, &extent[d]);
    extent[d] += 1;
    text += (d > 0 ? ", " : "") + std::to_string(extent[d]);
  }
  text += ") ";
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) return text + "?";
  const auto* bytes = static_cast<const char*>(data);
  const UINT size = SafeArrayGetElemsize(array);
  if (dims == 1) {
    text += "[";
    for (LONG i = 0; i < extent[0]; ++i) text += (i > 0 ? ", " : "") + Element(type, bytes + i * size);
    text += "]";
  } else if (dims == 2) {
    text += "[";
    for (LONG i = 0; i < extent[0]; ++i) {
      text += i > 0 ? ", [" : "[";
      for (LONG j = 0; j < extent[1]; ++j) {
        text += (j > 0 ? ", " : "") + Element(type, bytes + (i + extent[0] * j) * size);
      }
      text += "]";
    }
    text += "]";
  }
  SafeArrayUnaccessData(array);
  return text;
}

std::string Text(const VARIANT& value) {
  if (value.vt & VT_ARRAY) return ArrayText(value.parray, value.vt & VT_TYPEMASK);
  if (value.vt == VT_EMPTY) return "(empty)";
  return Element(value.vt, &value.lVal);
}

// A client's two-dimensional array of doubles, declared (rows, cols), from its rows.
void DoubleMatrix(VARIANT& out, LONG rows, LONG cols, std::initializer_list<double> byRow) {
  SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows), 0}, {static_cast<ULONG>(cols), 0}};
  out.vt = VT_ARRAY | VT_R8;
  out.parray = SafeArrayCreate(VT_R8, 2, bounds);
  double* data = nullptr;
  SafeArrayAccessData(out.parray, reinterpret_cast<void**>(&data));
  const double* next = byRow.begin();
  for (LONG i = 0; i < rows; ++i) {
    for (LONG j = 0; j < cols; ++j) data[i + rows * j] = *next++;
  }
  SafeArrayUnaccessData(out.parray);
}

void LongVector(VARIANT& out, std::initializer_list<LONG> values) {
  SAFEARRAYBOUND bound = {static_cast<ULONG>(values.size()), 0};
  out.vt = VT_ARRAY | VT_I4;
  out.parray = SafeArrayCreate(VT_I4, 1, &bound);
  LONG* data = nullptr;
  SafeArrayAccessData(out.parray, reinterpret_cast<void**>(&data));
  for (LONG value : values) *data++ = value;
  SafeArrayUnaccessData(out.parray);
}

void String(VARIANT& out, const OLECHAR* text) {
  out.vt = VT_BSTR;
  out.bstrVal = SysAllocString(text);
}

std::string LastError(int32_t cookie) {
  Bstr message;
  ZUL_MSCOMPAL_GetLastError(cookie, &message.text);
  return Narrow(message.text);
}

// "label: S_OK"; a failure adds the last error (of the wrapper, or of the library for cookie 0) and is
// counted unless expected.
bool Check(const std::string& label, HRESULT hr, int32_t cookie = 0, bool expectFailure = false) {
  std::printf("%s: %s\n", label.c_str(), HresultName(hr).c_str());
  if (SUCCEEDED(hr)) return true;
  std::printf("  %s: %s\n", cookie > 0 ? "last error" : "GetLastError(0)", LastError(cookie).c_str());
  if (!expectFailure) ++failures;
  return false;
}

// "label = value" for a call that succeeded.
void Show(const std::string& label, HRESULT hr, int32_t cookie, const VARIANT& value,
          const char* remark = nullptr) {
  if (FAILED(hr)) {
    Check(label, hr, cookie);
    return;
  }
  std::printf("%s = %s%s%s\n", label.c_str(), Text(value).c_str(), remark != nullptr ? "   " : "",
              remark != nullptr ? remark : "");
}

// Registers a wrapper of a class in the default ZUL process and creates its object.
int32_t NewObject(const char* name, const OLECHAR* className, VARIANT* args = nullptr, int32_t argCount = 0,
                  const char* argText = "") {
  int32_t cookie = 0;
  std::vector<uint32_t> flags(argCount, kIn);
  const std::string label = std::string(name) + " = " + Narrow(className) + "(" + argText + ")";
  HRESULT hr = ZUL_MSCOMPAL_RegisterWrapper(className, 0, nullptr, &cookie);
  if (SUCCEEDED(hr)) hr = ZUL_MSCOMPAL_CreateObject(cookie, argCount, args, flags.data(), 0, 0, 0);
  if (FAILED(hr)) {
    Check(label, hr, cookie);
    return cookie;
  }
  Bstr variable;
  Bstr procName;
  ZUL_MSCOMPAL_GetObjVariableName(cookie, &variable.text);
  ZUL_MSCOMPAL_GetProcNameFromCookie(cookie, &procName.text);
  std::printf("%s: cookie %d, ZUL variable %s in the %s process\n", label.c_str(), cookie,
              Narrow(variable.text).c_str(),
              procName.text == nullptr ? "default" : Narrow(procName.text).c_str());
  return cookie;
}

void DeleteObject(int32_t cookie) {
  Bstr className;
  ZUL_MSCOMPAL_GetObjClassName(cookie, &className.text);
  const HRESULT destroyed = ZUL_MSCOMPAL_DestroyObject(cookie);
  const HRESULT released = ZUL_MSCOMPAL_ReleaseWrapper(cookie);
  std::printf("%s %d: DestroyObject %s, ReleaseWrapper %s\n", Narrow(className.text).c_str(), cookie,
              HresultName(destroyed).c_str(), HresultName(released).c_str());
  if (FAILED(destroyed) || FAILED(released)) ++failures;
}

// A small IDispatch object standing for a wrapper passed as an argument: all the library asks of it is
// its "Cookie" property (VT_I4). It lives on the caller's stack.
class CookieObject : public IDispatch {
 public:
  explicit CookieObject(int32_t cookie) : cookie_(cookie) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count != 1 || !SameName(names[0], "cookie")) return DISP_E_UNKNOWNNAME;
    ids[0] = kCookieId;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (id != kCookieId || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    if (result == nullptr) return E_POINTER;
    VariantInit(result);
    result->vt = VT_I4;
    result->lVal = cookie_;
    return S_OK;
  }
  ULONG References() const { return references_; }

 private:
  static constexpr DISPID kCookieId = 1;  // 0 would mean "no such name" to the library
  static bool SameName(const OLECHAR* name, const char* lower) {
    for (; *lower != 0; ++name, ++lower) {
      const OLECHAR c = *name >= 'A' && *name <= 'Z' ? *name + ('a' - 'A') : *name;
      if (c != static_cast<OLECHAR>(*lower)) return false;
    }
    return *name == 0;
  }
  int32_t cookie_;
  ULONG references_ = 1;
};

// Callback lines arrive during a call; they are shown below the call's result.
std::vector<std::string> pending;

void KeepOutput(BSTR text, void*) {
  pending.push_back("  output> " + Narrow(text));
}

void KeepNotification(BSTR first, BSTR second, void*) {
  pending.push_back("  notify> " + Narrow(first) + " | " + Narrow(second));
}

void PrintPending() {
  for (const std::string& line : pending) std::printf("%s\n", line.c_str());
  pending.clear();
}

// Lets the aborting thread start once the worker has reported progress; later progress lines vary with
// timing and are not shown.
struct WorkerWatch {
  std::mutex lock;
  std::condition_variable progressed;
  std::string firstLine;
};

void WatchWorker(BSTR text, void* userData) {
  auto* watch = static_cast<WorkerWatch*>(userData);
  const std::lock_guard<std::mutex> hold(watch->lock);
  if (!watch->firstLine.empty()) return;
  watch->firstLine = Narrow(text);
  watch->progressed.notify_all();
}

// "... aborted after 30 of 60000 ms." without the part that depends on timing.
std::string WithoutElapsedTime(std::string text) {
  const size_t at = text.find(" after ");
  if (at == std::string::npos) return text;
  const size_t digits = at + 7;
  size_t end = digits;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  return text.replace(digits, end - digits, "<n>");
}

void MatrixSection(int32_t& matrixA, int32_t& matrixB) {
  std::printf("\n== A Matrix from a client array declared (2, 3)\n");
  Variant a;
  DoubleMatrix(a.value, 2, 3, {1, 2, 3, 4, 5, 6});
  std::printf("a = %s\n", Text(a.value).c_str());
  matrixA = NewObject("A", OLESTR("Matrix"), &a.value, 1, "a");
  for (const OLECHAR* property : {OLESTR("Rows"), OLESTR("Cols"), OLESTR("Data")}) {
    Variant value;
    const HRESULT hr = ZUL_MSCOMPAL_GetProperty(matrixA, property, &value.value);
    Show("A." + Narrow(property), hr, matrixA, value.value,
         property[0] == 'C'
             ? "(OLE Automation stores bounds last dimension first: the bridge sees dims (3, 2))"
         : property[0] == 'D' ? "(as declared: the way back undoes the turn)"
                              : nullptr);
  }
  for (const OLECHAR* method : {OLESTR("Shape"), OLESTR("Total"), OLESTR("Transpose")}) {
    Variant result;
    const HRESULT hr = ZUL_MSCOMPAL_CallMethod(matrixA, method, 0, nullptr, nullptr, &result.value);
    Show("A." + Narrow(method) + "()", hr, matrixA, result.value);
  }

  std::printf("\n== Multiply: one wrapper passed to another through its Cookie property\n");
  Variant b;
  DoubleMatrix(b.value, 3, 2, {1, 0, 0, 1, 1, 1});
  std::printf("b = %s\n", Text(b.value).c_str());
  matrixB = NewObject("B", OLESTR("Matrix"), &b.value, 1, "b");
  CookieObject objectA(matrixA);
  Variant argument;
  argument.value.vt = VT_DISPATCH;
  argument.value.pdispVal = &objectA;
  uint32_t flag = kIn;
  Variant product;
  const HRESULT hr =
      ZUL_MSCOMPAL_CallMethod(matrixB, OLESTR("Multiply"), 1, &argument.value, &flag, &product.value);
  Show("B.Multiply(A)", hr, matrixB, product.value, "(the client's a x b)");
  std::printf("  references the library still holds on A's Cookie object: %u\n",
              static_cast<unsigned>(objectA.References() - 1));
  argument.value.vt = VT_EMPTY;  // the object is on the stack: nothing to release
}

void TextSection(int32_t& text) {
  std::printf("\n== Text into a string array and back\n");
  text = NewObject("T", OLESTR("Text"));
  Variant args[2];
  String(args[0].value, OLESTR("red,green,,blue"));
  String(args[1].value, OLESTR(","));
  uint32_t flags[2] = {kIn, kIn};
  Variant parts;
  HRESULT hr = ZUL_MSCOMPAL_CallMethod(text, OLESTR("Split"), 2, &args[0].value, flags, &parts.value);
  Show("parts = T.Split('red,green,,blue', ',')", hr, text, parts.value);
  VariantClear(&args[0].value);
  args[0].value.vt = VT_ARRAY | VT_BSTR;
  args[0].value.parray = parts.value.parray;  // lent, still owned by parts
  VariantClear(&args[1].value);
  String(args[1].value, OLESTR(" + "));
  Variant joined;
  hr = ZUL_MSCOMPAL_CallMethod(text, OLESTR("Join"), 2, &args[0].value, flags, &joined.value);
  args[0].value.vt = VT_EMPTY;
  Show("T.Join(parts, ' + ')", hr, text, joined.value);
}

void WriteBackSection(int32_t& echo) {
  std::printf("\n== A by-reference array written back\n");
  echo = NewObject("E", OLESTR("Echo"));
  Variant args[2];
  LongVector(args[0].value, {7, 8, 9});
  args[1].value.vt = VT_I4;
  args[1].value.lVal = 5;
  uint32_t flags[2] = {kByRef, kIn};
  std::printf("x = %s\n", Text(args[0].value).c_str());
  Variant result;
  const HRESULT hr = ZUL_MSCOMPAL_CallMethod(echo, OLESTR("Resize"), 2, &args[0].value, flags, &result.value);
  Show("E.Resize(x, 5)", hr, echo, result.value, "(x flagged WriteBack; the result is the old length)");
  std::printf("x = %s\n", Text(args[0].value).c_str());
}

void CommandSection(int32_t echo) {
  std::printf("\n== Process variables and command strings; output arrives through the callbacks\n");
  ZUL_MSCOMPAL_RegisterOutputCallback(echo, KeepOutput, nullptr);
  Check("RegisterOutputCallback(E) and RegisterNotifyCallback(E)",
        ZUL_MSCOMPAL_RegisterNotifyCallback(echo, KeepNotification, nullptr));
  Variant scale;
  scale.value.vt = VT_R8;
  scale.value.dblVal = 2.5;
  Check("SetZULVariable(E, scale, 2.5)", ZUL_MSCOMPAL_SetZULVariable(echo, OLESTR("scale"), scale.value),
        echo);
  for (const OLECHAR* command : {OLESTR("v = [1, 2, 3] * scale"), OLESTR("print, 'v is', v, 'and', scale"),
                                 OLESTR("notify, 'ready', v + 1")}) {
    Check("ExecuteString(E, \"" + Narrow(command) + "\")", ZUL_MSCOMPAL_ExecuteString(echo, command), echo);
    PrintPending();
  }
  Variant v;
  const HRESULT hr = ZUL_MSCOMPAL_GetZULVariable(echo, OLESTR("v"), &v.value);
  Show("GetZULVariable(E, v)", hr, echo, v.value);
  ZUL_MSCOMPAL_UnregisterNotifyCallback(echo);
  ZUL_MSCOMPAL_UnregisterOutputCallback(echo);
}

void AbortSection(int32_t& worker) {
  std::printf("\n== Aborting a running Worker from a second thread\n");
  worker = NewObject("W", OLESTR("Worker"));
  WorkerWatch watch;
  ZUL_MSCOMPAL_RegisterOutputCallback(worker, WatchWorker, &watch);
  HRESULT aborted = E_FAIL;
  std::thread aborter([&] {
    std::unique_lock<std::mutex> hold(watch.lock);
    if (watch.progressed.wait_for(hold, std::chrono::seconds(30), [&] { return !watch.firstLine.empty(); })) {
      aborted = ZUL_MSCOMPAL_Abort(worker);
    }
  });
  Variant ms;
  ms.value.vt = VT_I4;
  ms.value.lVal = 60000;
  uint32_t flag = kIn;
  Variant result;
  const HRESULT ran = ZUL_MSCOMPAL_CallMethod(worker, OLESTR("Run"), 1, &ms.value, &flag, &result.value);
  aborter.join();
  ZUL_MSCOMPAL_UnregisterOutputCallback(worker);
  std::printf("W.Run(60000) on the main thread, with an output callback on W\n");
  std::printf("  output> %s\n", watch.firstLine.c_str());
  Check("Abort(W) on a second thread, after that first progress line", aborted, worker);
  std::printf("W.Run(60000): %s\n", HresultName(ran).c_str());
  std::printf("  last error: %s\n", WithoutElapsedTime(LastError(worker)).c_str());
  if (ran != E_ABORT) ++failures;
}

void FailureSection(int32_t matrixA, int32_t text) {
  std::printf("\n== Failing calls and their texts from GetLastError\n");
  CookieObject textObject(text);
  Variant argument;
  argument.value.vt = VT_DISPATCH;
  argument.value.pdispVal = &textObject;
  uint32_t flag = kIn;
  Variant result;
  Check("A.Multiply(T)",
        ZUL_MSCOMPAL_CallMethod(matrixA, OLESTR("Multiply"), 1, &argument.value, &flag, &result.value),
        matrixA, true);
  argument.value.vt = VT_EMPTY;
  Check("A.Invert()", ZUL_MSCOMPAL_CallMethod(matrixA, OLESTR("Invert"), 0, nullptr, nullptr, nullptr),
        matrixA, true);
  Check("ExecuteString(A, \"print, 1 +\")", ZUL_MSCOMPAL_ExecuteString(matrixA, OLESTR("print, 1 +")),
        matrixA, true);
  Check("GetProperty(99, Rows)", ZUL_MSCOMPAL_GetProperty(99, OLESTR("Rows"), &result.value), 0, true);
}

}  // namespace

int main() {
  std::printf("zul_pal_mscom demo: a client drives ZUL objects of the reference bridge\n\n");
  if (!Check("Initialize", ZUL_MSCOMPAL_Initialize())) return 1;
  int32_t matrixA = 0, matrixB = 0, text = 0, echo = 0, worker = 0;
  MatrixSection(matrixA, matrixB);
  TextSection(text);
  WriteBackSection(echo);
  CommandSection(echo);
  AbortSection(worker);
  FailureSection(matrixA, text);

  std::printf("\n== Clean up\n");
  for (int32_t cookie : {matrixA, matrixB, text, echo, worker}) DeleteObject(cookie);
  Check("Release", ZUL_MSCOMPAL_Release());
  std::printf("\n%s\n", failures == 0 ? "Done." : "Done, with unexpected failures.");
  return failures == 0 ? 0 : 1;
}

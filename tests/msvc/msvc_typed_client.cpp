// A client built the MSVC way calls a typed class of the reference bridge through its vtable interface:
// created by ProgID, a result, arguments written back by reference and an error object with the library's
// text.
#include <windows.h>

extern "C" int printf(const char* format, ...);
extern "C" int wcscmp(const wchar_t* a, const wchar_t* b);
extern "C" __declspec(noreturn) void exit(int status);

namespace {

// The generator derives the interface's IID from the class name.
constexpr IID kIEcho = {0x30a96a0f, 0xb945, 0x5148, {0xa5, 0x41, 0xc3, 0xfb, 0x1b, 0xf0, 0x5a, 0xa9}};
struct IEcho : IDispatch {  // the methods up to the last one used, in the order of the description
  virtual HRESULT __stdcall Echo(VARIANT x, VARIANT* result) = 0;
  virtual HRESULT __stdcall TypeName(VARIANT x, BSTR* result) = 0;
  virtual HRESULT __stdcall Swap(VARIANT* a, VARIANT* b, long* result) = 0;
};

int failures = 0;

void Check(bool ok, const char* what) {
  if (!ok) ++failures, printf("FAILED: %s\n", what);
}

int Run() {
  CLSID clsid{};
  IEcho* echo = nullptr;
  if (CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) < 0 || CLSIDFromProgID(L"Zul.Echo", &clsid) != S_OK ||
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIEcho, reinterpret_cast<void**>(&echo)) != S_OK)
    return Check(false, "Zul.Echo is created through its interface"), 1;

  VARIANT a{}, b{};
  a.vt = VT_I4, a.lVal = 5, b.vt = VT_BSTR, b.bstrVal = SysAllocString(L"x");
  long result = 0;
  Check(echo->Swap(&a, &b, &result) == S_OK && a.vt == VT_BSTR && wcscmp(a.bstrVal, L"x") == 0 &&
            b.vt == VT_I4 && b.lVal == 5,
        "Swap writes both arguments back");
  BSTR name = nullptr;
  Check(echo->TypeName(a, &name) == S_OK && name != nullptr && wcscmp(name, L"STRING") == 0,
        "TypeName returns its result");
  SysFreeString(name);

  VARIANT nothing{};
  nothing.vt = VT_DISPATCH;
  IErrorInfo* info = nullptr;
  BSTR text = nullptr;
  Check(echo->TypeName(nothing, &name) == E_FAIL && GetErrorInfo(0, &info) == S_OK &&
            info->GetDescription(&text) == S_OK &&
            wcscmp(text, L"Object reference must be another ZUL COM wrapper object.") == 0,
        "a refused argument sets an error object with the library's text");
  if (info != nullptr) info->Release();
  SysFreeString(text);
  VariantClear(&a), VariantClear(&b);
  Check(echo->Release() == 0, "the last reference releases the object");
  CoUninitialize();
  return failures;
}

}  // namespace

extern "C" void mainCRTStartup() {
  exit(Run());
}

// A client built as Microsoft's toolchain builds one (/EHsc, the MSVC import library, msvcrt as the C++
// runtime) catches a refused event as `_com_error` and gets every other failure back as an HRESULT.
#include <comdef.h>

#include "zul/pal_mscom.h"

extern "C" int printf(const char* format, ...);
extern "C" int wcscmp(const wchar_t* a, const wchar_t* b);
extern "C" __declspec(noreturn) void exit(int status);
extern "C" __declspec(noreturn) void abort();

// What the runtime libraries newer than msvcrt would give: type_info's vtable (which no catch reads) and the
// termination that a throwing destructor calls.
extern "C" const void* const zul_type_info_vtable[2] = {};
#pragma comment(linker, "/alternatename:??_7type_info@@6B@=zul_type_info_vtable")
extern "C" void __std_terminate() {
  abort();
}

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  if (!ok) ++failures, printf("FAILED: %s\n", what);
}

// Catches a refused event as Catch (by reference, or by value through the exception's copy function) and
// checks what the catch saw, once the runtime has destroyed the exception: its reference was released.
template <class Catch>
void CheckRefusal(int32_t cookie, const char* how) {
  HRESULT hr = S_OK;
  IErrorInfo* info = nullptr;
  EventRecord mouseDown{1};
  try {
    ZUL_MSCOMPAL_OnEvent(cookie, &mouseDown);
  } catch (Catch e) {
    hr = e.Error(), info = e.ErrorInfo();
  }
  BSTR description = nullptr;
  Check(hr == E_UNEXPECTED && info != nullptr && info->GetDescription(&description) == S_OK &&
            wcscmp(description, L"Echo objects do not handle events.") == 0 && info->Release() == 0,
        how);
  SysFreeString(description);
}

int Run() {
  int32_t cookie = 0;
  Check(ZUL_MSCOMPAL_Initialize() == S_OK, "Initialize binds the reference bridge");
  Check(ZUL_MSCOMPAL_RegisterWrapper(L"Echo", 0, L"msvc", &cookie) == S_OK &&
            ZUL_MSCOMPAL_CreateObject(cookie, 0, nullptr, nullptr, 0, 0, 0) == S_OK,
        "an Echo object is made");
  CheckRefusal<_com_error&>(cookie, "a refused event is caught as _com_error&");
  CheckRefusal<_com_error>(cookie, "a refused event is caught as _com_error");
  try {  // an invalid cookie, a refused command, an unknown cookie
    EventRecord mouseDown{1};
    Check(ZUL_MSCOMPAL_OnEvent(0, &mouseDown) == E_UNEXPECTED &&
              ZUL_MSCOMPAL_ExecuteString(cookie, L"no such command") < 0 &&
              ZUL_MSCOMPAL_DestroyObject(9999) < 0,
          "other failures are returned");
  } catch (...) {
    Check(false, "only a refused event raises");
  }
  Check(ZUL_MSCOMPAL_ReleaseWrapper(cookie) == S_OK && ZUL_MSCOMPAL_Release() == S_OK, "released");
  return failures;
}

}  // namespace

// No C runtime start-up code: msvcrt initialises itself when it is loaded.
extern "C" void mainCRTStartup() {
  exit(Run());
}

// A client built as Microsoft's toolchain builds one (/EHsc, the MSVC import library, msvcrt as the C++
// runtime) catches a refused event as `_com_error` and gets every other failure back as an HRESULT.
#include <comdef.h>

#include "zul/pal_mscom.h"

extern "C" int printf(const char* format, ...);
extern "C" int wcscmp(const wchar_t* a, const wchar_t* b);
extern "C" __declspec(noreturn) void exit(int status);
extern "C" __declspec(noreturn) void abort();

// What the runtime libraries that msvcrt predates would give: type_info's vtable (read by no catch) and the
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

// What a catch saw, with the error information kept past it.
struct Caught {
  HRESULT hr = S_OK;
  IErrorInfo* info = nullptr;
};

Caught ByReference(int32_t cookie) {
  EventRecord mouseDown{1};
  try {
    ZUL_MSCOMPAL_OnEvent(cookie, &mouseDown);
  } catch (_com_error& e) {
    return {e.Error(), e.ErrorInfo()};
  }
  return {};
}

Caught ByValue(int32_t cookie) {  // a copy made by the exception's copy function
  EventRecord mouseDown{1};
  try {
    ZUL_MSCOMPAL_OnEvent(cookie, &mouseDown);
  } catch (_com_error e) {
    return {e.Error(), e.ErrorInfo()};
  }
  return {};
}

// The runtime has destroyed the exception (and the copy): the reference kept is the last one.
void CheckRefusal(Caught caught, const char* how) {
  BSTR description = nullptr;
  Check(caught.hr == E_UNEXPECTED && caught.info != nullptr, how);
  if (caught.info == nullptr) return;
  Check(caught.info->GetDescription(&description) == S_OK &&
            wcscmp(description, L"Echo objects do not handle events.") == 0,
        how);
  Check(caught.info->Release() == 0, how);
  SysFreeString(description);
}

int Run() {
  int32_t cookie = 0;
  Check(ZUL_MSCOMPAL_Initialize() == S_OK, "Initialize binds the reference bridge");
  Check(ZUL_MSCOMPAL_RegisterWrapper(L"Echo", 0, L"msvc", &cookie) == S_OK &&
            ZUL_MSCOMPAL_CreateObject(cookie, 0, nullptr, nullptr, 0, 0, 0) == S_OK,
        "an Echo object is made");
  CheckRefusal(ByReference(cookie), "a refused event is caught as _com_error&");
  CheckRefusal(ByValue(cookie), "a refused event is caught as _com_error");
  try {
    EventRecord mouseDown{1};
    Check(ZUL_MSCOMPAL_OnEvent(0, &mouseDown) == E_UNEXPECTED, "an invalid cookie is returned, not raised");
    Check(ZUL_MSCOMPAL_ExecuteString(cookie, L"no such command") < 0, "a refused command is returned");
    Check(ZUL_MSCOMPAL_DestroyObject(9999) < 0, "an unknown cookie is returned");
  } catch (...) {
    Check(false, "only a refused event raises");
  }
  Check(ZUL_MSCOMPAL_ReleaseWrapper(cookie) == S_OK && ZUL_MSCOMPAL_Release() == S_OK, "released");
  return failures;
}

}  // namespace

// No C runtime start-up code: msvcrt initialises itself when it is loaded.
extern "C" void mainCRTStartup() {
  const int failed = Run();
  printf("%s\n", failed == 0 ? "all passed" : "some failed");
  exit(failed);
}

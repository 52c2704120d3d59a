/* A client in C: it drives the reference bridge's Text class through the library's exports, as a wrapper
 * object would. Build it against the installed package (the README shows how) and run it where the
 * library finds the bridge: beside the program, or with ZUL_BIN_DIR naming the bridge's directory. */
#include <stdio.h>

#include "zul/pal_mscom.h"

static const char* Name(HRESULT hr) {
  static char hex[16];
  switch (hr) {
    case S_OK:
      return "S_OK";
    case E_FAIL:
      return "E_FAIL";
    case E_INVALIDARG:
      return "E_INVALIDARG";
    default:
      snprintf(hex, sizeof hex, "0x%08X", (unsigned)hr);
      return hex;
  }
}

/* A BSTR as text; this example's texts are ASCII. A null BSTR is the empty string. */
static void Print(BSTR text) {
  for (UINT i = 0; i < SysStringLen(text); ++i) putchar(text[i] < 128 ? (char)text[i] : '?');
}

/* The text of the last failure: the wrapper's for a cookie, the library's own for 0. */
static void PrintLastError(int32_t cookie) {
  BSTR message = NULL;
  if (ZUL_MSCOMPAL_GetLastError(cookie, &message) == S_OK) Print(message);
  SysFreeString(message);
  putchar('\n');
}

static VARIANT Text(const OLECHAR* text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(text);
  return value;
}

int main(void) {
  /* Finds, loads and initialises the bridge; every other export would do it on first use. */
  HRESULT hr = ZUL_MSCOMPAL_Initialize();
  printf("Initialize: %s\n", Name(hr));
  if (FAILED(hr)) {
    PrintLastError(
        0); /* "LoadLibrary(...) failed: ...": run with ZUL_BRIDGE_DEBUG=1 to see where it looked */
    return 1;
  }

  int32_t cookie = 0;
  hr = ZUL_MSCOMPAL_RegisterWrapper(OLESTR("Text"), 0, NULL, &cookie);
  if (SUCCEEDED(hr)) hr = ZUL_MSCOMPAL_CreateObject(cookie, 0, NULL, NULL, 0, 0, 0);
  printf("Text object: %s, cookie %d\n", Name(hr), (int)cookie);

  /* Arguments go in the order the method declares them; each has a flag word. */
  VARIANT args[2] = {Text(OLESTR("red,green,,blue")), Text(OLESTR(","))};
  uint32_t flags[2] = {ZUL_ARGFLAG_IN_ONLY, ZUL_ARGFLAG_IN_ONLY};
  VARIANT result;
  VariantInit(&result);
  hr = ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Split"), 2, args, flags, &result);
  printf("Split: %s", Name(hr));
  if (SUCCEEDED(hr) && result.vt == (VT_ARRAY | VT_BSTR)) {
    LONG upper = -1;
    BSTR* parts = NULL;
    SafeArrayGetUBound(result.parray, 1, &upper);
    if (SUCCEEDED(SafeArrayAccessData(result.parray, (void**)&parts))) {
      for (LONG i = 0; i <= upper; ++i) {
        printf(" [");
        Print(parts[i]);
        printf("]");
      }
      SafeArrayUnaccessData(result.parray);
    }
  }
  printf("\n");
  VariantClear(&result); /* the result is the caller's */

  hr = ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Upper"), 1, args, flags, &result);
  printf("Upper: %s ", Name(hr));
  Print(result.vt == VT_BSTR ? result.bstrVal : NULL);
  printf("\n");
  VariantClear(&result);

  /* A failure leaves its text on the wrapper until the next failure. */
  hr = ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Invert"), 0, NULL, NULL, &result);
  printf("Invert: %s ", Name(hr));
  PrintLastError(cookie);

  VariantClear(&args[0]);
  VariantClear(&args[1]);
  printf("DestroyObject: %s\n", Name(ZUL_MSCOMPAL_DestroyObject(cookie)));
  printf("ReleaseWrapper: %s\n", Name(ZUL_MSCOMPAL_ReleaseWrapper(cookie)));
  printf("Release: %s\n", Name(ZUL_MSCOMPAL_Release()));
  return 0;
}

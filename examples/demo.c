/* A minimal client of zul_pal_mscom: binds the bridge, asks for a GUID and reads the last error. */
#include <stdio.h>

#include "zul/pal_mscom.h"

/* The BSTR's characters, ASCII only, into buffer; "(none)" for a null BSTR. */
static const char* Ascii(BSTR text, char* buffer, size_t capacity) {
  if (text == NULL) return "(none)";
  size_t i = 0;
  for (; i + 1 < capacity && i < SysStringLen(text); ++i) buffer[i] = text[i] < 128 ? (char)text[i] : '?';
  buffer[i] = '\0';
  return buffer;
}

int main(void) {
  char buffer[1024];
  BSTR message = NULL;

  HRESULT hr = ZUL_MSCOMPAL_Initialize();
  printf("ZUL_MSCOMPAL_Initialize: 0x%08X\n", (unsigned)hr);
  printf("ZUL_MSCOMPAL_CreateGUID: %s\n", ZUL_MSCOMPAL_CreateGUID());
  hr = ZUL_MSCOMPAL_GetLastError(0, &message);
  printf("ZUL_MSCOMPAL_GetLastError: 0x%08X %s\n", (unsigned)hr, Ascii(message, buffer, sizeof buffer));
  SysFreeString(message);
  ZUL_MSCOMPAL_Release();
  return hr == S_OK ? 0 : 1;
}

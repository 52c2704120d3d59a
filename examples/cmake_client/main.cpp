// Calls the reference bridge through the installed library: Text.Upper of a string.
#include <cstdio>

#include "zul/pal_mscom.h"
#include "zul/qel.h"

int main() {
  int32_t cookie = 0;
  VARIANT text;
  VARIANT upper;
  VariantInit(&text);
  VariantInit(&upper);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(OLESTR("installed"));
  uint32_t flag = zul::ArgFlag::InOnly;
  HRESULT hr = ZUL_MSCOMPAL_Initialize();
  if (SUCCEEDED(hr)) hr = ZUL_MSCOMPAL_RegisterWrapper(OLESTR("Text"), 0, nullptr, &cookie);
  if (SUCCEEDED(hr)) hr = ZUL_MSCOMPAL_CreateObject(cookie, 0, nullptr, nullptr, 0, 0, 0);
  if (SUCCEEDED(hr)) hr = ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Upper"), 1, &text, &flag, &upper);
  BSTR shown = upper.vt == VT_BSTR ? upper.bstrVal : nullptr;
  BSTR message = nullptr;
  if (FAILED(hr)) {
    ZUL_MSCOMPAL_GetLastError(cookie, &message);
    shown = message;
    std::printf("failed with 0x%08X: ", static_cast<unsigned>(hr));
  } else {
    std::printf("Text.Upper: ");
  }
  for (UINT i = 0; i < SysStringLen(shown); ++i) std::putchar(static_cast<char>(shown[i]));
  std::printf("\n");
  SysFreeString(message);
  VariantClear(&text);
  VariantClear(&upper);
  if (cookie > 0) ZUL_MSCOMPAL_ReleaseWrapper(cookie);
  ZUL_MSCOMPAL_Release();
  return SUCCEEDED(hr) && sizeof(BridgeValue) == 24 ? 0 : 1;
}

// The little of the Windows SDK that the client header and the client use; no SDK is installed here.
#pragma once

typedef long HRESULT;
typedef unsigned long ULONG;
typedef wchar_t OLECHAR;
typedef OLECHAR* BSTR;
typedef struct tagVARIANT VARIANT;  // only named by declarations

#define S_OK ((HRESULT)0)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFL)
#define E_INVALIDARG ((HRESULT)0x80070057L)

struct IErrorInfo {
  virtual HRESULT __stdcall QueryInterface(const void* iid, void** object) = 0;
  virtual ULONG __stdcall AddRef() = 0;
  virtual ULONG __stdcall Release() = 0;
  virtual HRESULT __stdcall GetGUID(void* guid) = 0;
  virtual HRESULT __stdcall GetSource(BSTR* source) = 0;
  virtual HRESULT __stdcall GetDescription(BSTR* description) = 0;
  virtual HRESULT __stdcall GetHelpFile(BSTR* helpFile) = 0;
  virtual HRESULT __stdcall GetHelpContext(ULONG* helpContext) = 0;
};

extern "C" __declspec(dllimport) void __stdcall SysFreeString(BSTR text);

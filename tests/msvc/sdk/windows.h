// The little of the Windows SDK that the client header and the client use; no SDK is installed here.
#pragma once

typedef long HRESULT;
typedef unsigned long ULONG;
typedef wchar_t OLECHAR;
typedef OLECHAR* BSTR;
typedef struct tagVARIANT VARIANT;  // only named by declarations

#define S_OK ((HRESULT)0)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFL)

struct IErrorInfo {  // the methods up to the last one used
  virtual HRESULT __stdcall QueryInterface(const void* iid, void** object) = 0;
  virtual ULONG __stdcall AddRef() = 0;
  virtual ULONG __stdcall Release() = 0;
  virtual HRESULT __stdcall GetGUID(void* guid) = 0;
  virtual HRESULT __stdcall GetSource(BSTR* source) = 0;
  virtual HRESULT __stdcall GetDescription(BSTR* description) = 0;
};

extern "C" __declspec(dllimport) void __stdcall SysFreeString(BSTR text);

// The little of the Windows SDK that the client header and the client use; no SDK is installed here.
#pragma once

typedef long HRESULT;
typedef unsigned long ULONG;
typedef wchar_t OLECHAR;
typedef OLECHAR* BSTR;
typedef unsigned short VARTYPE;
struct IDispatch;
typedef struct tagVARIANT {  // the members a client fills in
  VARTYPE vt;
  unsigned short reserved[3];
  union {
    long lVal;
    BSTR bstrVal;
    IDispatch* pdispVal;
    void* record[2];  // the largest member: the union is 16 bytes
  };
} VARIANT;
typedef struct _GUID {
  unsigned long Data1;
  unsigned short Data2, Data3;
  unsigned char Data4[8];
} GUID, IID, CLSID;

#define S_OK ((HRESULT)0)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFL)
#define E_FAIL ((HRESULT)0x80004005L)
#define VT_I4 3
#define VT_BSTR 8
#define VT_DISPATCH 9
#define COINIT_APARTMENTTHREADED 2
#define CLSCTX_INPROC_SERVER 1

struct IUnknown {
  virtual HRESULT __stdcall QueryInterface(const IID& iid, void** object) = 0;
  virtual ULONG __stdcall AddRef() = 0;
  virtual ULONG __stdcall Release() = 0;
};
struct IDispatch : IUnknown {  // the slots before a dual interface's own; no client here calls them
  virtual void __stdcall GetTypeInfoCount() = 0;
  virtual void __stdcall GetTypeInfo() = 0;
  virtual void __stdcall GetIDsOfNames() = 0;
  virtual void __stdcall Invoke() = 0;
};
struct IErrorInfo : IUnknown {  // the methods up to the last one used
  virtual HRESULT __stdcall GetGUID(void* guid) = 0;
  virtual HRESULT __stdcall GetSource(BSTR* source) = 0;
  virtual HRESULT __stdcall GetDescription(BSTR* description) = 0;
};

extern "C" {
__declspec(dllimport) void __stdcall SysFreeString(BSTR text);
__declspec(dllimport) BSTR __stdcall SysAllocString(const OLECHAR* text);
__declspec(dllimport) HRESULT __stdcall VariantClear(VARIANT* value);
__declspec(dllimport) HRESULT __stdcall GetErrorInfo(ULONG reserved, IErrorInfo** info);
__declspec(dllimport) HRESULT __stdcall CoInitializeEx(void* reserved, unsigned long model);
__declspec(dllimport) void __stdcall CoUninitialize();
__declspec(dllimport) HRESULT __stdcall CLSIDFromProgID(const OLECHAR* progId, CLSID* clsid);
__declspec(dllimport) HRESULT
    __stdcall CoCreateInstance(const CLSID& clsid, IUnknown* outer, unsigned long context, const IID& iid,
                               void** object);
}

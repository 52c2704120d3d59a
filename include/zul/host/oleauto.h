/* OLE Automation for the Linux host build: the types, constants and functions that
 * zul_pal_mscom and its clients use, with the layouts of 64-bit Windows.
 * Implemented by libzul_platform.so; on Windows the system headers and DLLs take its place. */
#ifndef ZUL_HOST_OLEAUTO_H
#define ZUL_HOST_OLEAUTO_H

#ifdef _WIN32
#error "zul/host/oleauto.h is for the host build only; Windows uses its own headers"
#endif

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#define ZUL_HOST_API __attribute__((visibility("default")))
/* Every function and object of libzul_platform.so has a ZulHost_ symbol, so that none clashes with another
 * library's of the same name; clients still call it by its Windows name. An asm label rather than a macro:
 * the names stay real functions, and a client's own identifiers of the same spelling stay untouched. */
#define ZUL_HOST_SYMBOL(name) __asm__("ZulHost_" #name)

#ifdef __cplusplus
extern "C" {
#endif

/* Windows widths on every target: LONG is 32-bit, OLECHAR is UTF-16. */
typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef char CHAR;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef void* PVOID;
typedef void* LPVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef char16_t OLECHAR;
typedef char16_t WCHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef OLECHAR* BSTR;
typedef BSTR* LPBSTR;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef double DATE;
typedef LONG DISPID;
typedef DWORD LCID;

#define TRUE 1
#define FALSE 0

/* COM methods use the one calling convention of x64; OLE string literals are UTF-16. */
#define STDMETHODCALLTYPE
#define OLESTR(str) u##str

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;
#ifdef __cplusplus
typedef const GUID& REFGUID;
typedef const IID& REFIID;
#else
typedef const GUID* REFGUID;
typedef const IID* REFIID;
#endif

typedef union tagCY {
  struct {
    ULONG Lo;
    LONG Hi;
  };
  LONGLONG int64;
} CY;

typedef struct tagDEC {
  USHORT wReserved;
  BYTE scale;
  BYTE sign;
  ULONG Hi32;
  ULONGLONG Lo64;
} DECIMAL;

typedef struct tagSAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
} SAFEARRAYBOUND;

typedef struct tagSAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1]; /* cDims entries, stored last dimension first */
} SAFEARRAY;

#ifdef __cplusplus
struct IUnknown;
struct IDispatch;
struct IRecordInfo;
#else
typedef struct IUnknown IUnknown;
typedef struct IDispatch IDispatch;
typedef struct IRecordInfo IRecordInfo;
#endif

typedef struct tagVARIANT VARIANT;
struct tagVARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        float* pfltVal;
        double* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        PVOID byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        DECIMAL* pdecVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        struct {
          PVOID pvRecord;
          IRecordInfo* pRecInfo;
        };
      };
    };
    DECIMAL decVal;
  };
};
typedef VARIANT VARIANTARG;

typedef struct tagDISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
} DISPPARAMS;

typedef struct tagEXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT (*pfnDeferredFillIn)(struct tagEXCEPINFO*);
  SCODE scode;
} EXCEPINFO;

enum VARENUM {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_CARRAY = 28,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_RECORD = 36,
  VT_INT_PTR = 37,
  VT_UINT_PTR = 38,
  VT_FILETIME = 64,
  VT_BLOB = 65,
  VT_STREAM = 66,
  VT_STORAGE = 67,
  VT_STREAMED_OBJECT = 68,
  VT_STORED_OBJECT = 69,
  VT_BLOB_OBJECT = 70,
  VT_CF = 71,
  VT_CLSID = 72,
  VT_VERSIONED_STREAM = 73,
  VT_BSTR_BLOB = 0x0fff,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
  VT_ILLEGAL = 0xffff,
  VT_ILLEGALMASKED = 0x0fff,
  VT_TYPEMASK = 0x0fff
};

#define FADF_AUTO 0x0001
#define FADF_STATIC 0x0002
#define FADF_EMBEDDED 0x0004
#define FADF_FIXEDSIZE 0x0010
#define FADF_RECORD 0x0020
#define FADF_HAVEIID 0x0040
#define FADF_HAVEVARTYPE 0x0080
#define FADF_BSTR 0x0100
#define FADF_UNKNOWN 0x0200
#define FADF_DISPATCH 0x0400
#define FADF_VARIANT 0x0800
#define FADF_RESERVED 0xf008

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_ABORT ((HRESULT)0x80004004)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_ACCESSDENIED ((HRESULT)0x80070005)
#define E_HANDLE ((HRESULT)0x80070006)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define DISP_E_UNKNOWNINTERFACE ((HRESULT)0x80020001)
#define DISP_E_MEMBERNOTFOUND ((HRESULT)0x80020003)
#define DISP_E_PARAMNOTFOUND ((HRESULT)0x80020004)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005)
#define DISP_E_UNKNOWNNAME ((HRESULT)0x80020006)
#define DISP_E_NONAMEDARGS ((HRESULT)0x80020007)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008)
#define DISP_E_EXCEPTION ((HRESULT)0x80020009)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000A)
#define DISP_E_BADINDEX ((HRESULT)0x8002000B)
#define DISP_E_ARRAYISLOCKED ((HRESULT)0x8002000D)
#define DISP_E_BADPARAMCOUNT ((HRESULT)0x8002000E)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8
#define DISPID_UNKNOWN (-1)
#define DISPID_PROPERTYPUT (-3)
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800

ZUL_HOST_API BSTR SysAllocString(const OLECHAR* psz) ZUL_HOST_SYMBOL(SysAllocString);
ZUL_HOST_API BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) ZUL_HOST_SYMBOL(SysAllocStringLen);
ZUL_HOST_API BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) ZUL_HOST_SYMBOL(SysAllocStringByteLen);
ZUL_HOST_API void SysFreeString(BSTR bstrString) ZUL_HOST_SYMBOL(SysFreeString);
ZUL_HOST_API UINT SysStringLen(BSTR pbstr) ZUL_HOST_SYMBOL(SysStringLen);
ZUL_HOST_API UINT SysStringByteLen(BSTR bstr) ZUL_HOST_SYMBOL(SysStringByteLen);
ZUL_HOST_API HRESULT VarBstrCat(BSTR bstrLeft, BSTR bstrRight, LPBSTR pbstrResult)
    ZUL_HOST_SYMBOL(VarBstrCat);

ZUL_HOST_API void VariantInit(VARIANTARG* pvarg) ZUL_HOST_SYMBOL(VariantInit);
ZUL_HOST_API HRESULT VariantClear(VARIANTARG* pvarg) ZUL_HOST_SYMBOL(VariantClear);

ZUL_HOST_API SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound)
    ZUL_HOST_SYMBOL(SafeArrayCreate);
ZUL_HOST_API SAFEARRAY* SafeArrayCreateEx(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound, PVOID pvExtra)
    ZUL_HOST_SYMBOL(SafeArrayCreateEx);
ZUL_HOST_API HRESULT SafeArrayDestroy(SAFEARRAY* psa) ZUL_HOST_SYMBOL(SafeArrayDestroy);
ZUL_HOST_API HRESULT SafeArrayDestroyData(SAFEARRAY* psa) ZUL_HOST_SYMBOL(SafeArrayDestroyData);
ZUL_HOST_API HRESULT SafeArrayLock(SAFEARRAY* psa) ZUL_HOST_SYMBOL(SafeArrayLock);
ZUL_HOST_API HRESULT SafeArrayUnlock(SAFEARRAY* psa) ZUL_HOST_SYMBOL(SafeArrayUnlock);
ZUL_HOST_API HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) ZUL_HOST_SYMBOL(SafeArrayAccessData);
ZUL_HOST_API HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) ZUL_HOST_SYMBOL(SafeArrayUnaccessData);
ZUL_HOST_API HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) ZUL_HOST_SYMBOL(SafeArrayGetVartype);
ZUL_HOST_API UINT SafeArrayGetDim(SAFEARRAY* psa) ZUL_HOST_SYMBOL(SafeArrayGetDim);
ZUL_HOST_API UINT SafeArrayGetElemsize(SAFEARRAY* psa) ZUL_HOST_SYMBOL(SafeArrayGetElemsize);
ZUL_HOST_API HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound)
    ZUL_HOST_SYMBOL(SafeArrayGetLBound);
ZUL_HOST_API HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound)
    ZUL_HOST_SYMBOL(SafeArrayGetUBound);
ZUL_HOST_API HRESULT SafeArrayGetIID(SAFEARRAY* psa, GUID* pguid) ZUL_HOST_SYMBOL(SafeArrayGetIID);

ZUL_HOST_API HRESULT CoCreateGuid(GUID* pguid) ZUL_HOST_SYMBOL(CoCreateGuid);

#ifdef __cplusplus
} /* extern "C" */

/* COM interfaces with the COM vtable order: no virtual destructor, methods in declaration order. */
struct ITypeInfo;

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                DISPID* rgDispId) = 0;
  virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                         VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
};

struct IRecordInfo : IUnknown {
  virtual HRESULT RecordInit(PVOID pvNew) = 0;
  virtual HRESULT RecordClear(PVOID pvExisting) = 0;
  virtual HRESULT RecordCopy(PVOID pvExisting, PVOID pvNew) = 0;
  virtual HRESULT GetGuid(GUID* pguid) = 0;
  virtual HRESULT GetName(BSTR* pbstrName) = 0;
  virtual HRESULT GetSize(ULONG* pcbSize) = 0;
  virtual HRESULT GetTypeInfo(ITypeInfo** ppTypeInfo) = 0;
  virtual HRESULT GetField(PVOID pvData, LPCOLESTR szFieldName, VARIANT* pvarField) = 0;
  virtual HRESULT GetFieldNoCopy(PVOID pvData, LPCOLESTR szFieldName, VARIANT* pvarField,
                                 PVOID* ppvDataCArray) = 0;
  virtual HRESULT PutField(ULONG wFlags, PVOID pvData, LPCOLESTR szFieldName, VARIANT* pvarField) = 0;
  virtual HRESULT PutFieldNoCopy(ULONG wFlags, PVOID pvData, LPCOLESTR szFieldName, VARIANT* pvarField) = 0;
  virtual HRESULT GetFieldNames(ULONG* pcNames, BSTR* rgBstrNames) = 0;
  virtual BOOL IsMatchingType(IRecordInfo* pRecordInfo) = 0;
  virtual PVOID RecordCreate() = 0;
  virtual HRESULT RecordCreateCopy(PVOID pvSource, PVOID* ppvDest) = 0;
  virtual HRESULT RecordDestroy(PVOID pvRecord) = 0;
};

struct IErrorInfo : IUnknown {
  virtual HRESULT GetGUID(GUID* pGUID) = 0;
  virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
  virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
  virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
  virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;
};

struct ICreateErrorInfo : IUnknown {
  virtual HRESULT SetGUID(REFGUID rguid) = 0;
  virtual HRESULT SetSource(LPOLESTR szSource) = 0;
  virtual HRESULT SetDescription(LPOLESTR szDescription) = 0;
  virtual HRESULT SetHelpFile(LPOLESTR szHelpFile) = 0;
  virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;
};

extern "C" {
ZUL_HOST_API extern const IID IID_IUnknown ZUL_HOST_SYMBOL(IID_IUnknown);
ZUL_HOST_API extern const IID IID_IDispatch ZUL_HOST_SYMBOL(IID_IDispatch);
ZUL_HOST_API extern const IID IID_IErrorInfo ZUL_HOST_SYMBOL(IID_IErrorInfo);
ZUL_HOST_API extern const IID IID_ICreateErrorInfo ZUL_HOST_SYMBOL(IID_ICreateErrorInfo);
ZUL_HOST_API extern const IID IID_NULL ZUL_HOST_SYMBOL(IID_NULL);
ZUL_HOST_API HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) ZUL_HOST_SYMBOL(CreateErrorInfo);
}

inline bool operator==(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         __builtin_memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}
inline bool IsEqualGUID(const GUID& a, const GUID& b) {
  return a == b;
}
inline bool IsEqualIID(const IID& a, const IID& b) {
  return a == b;
}

namespace zul {
namespace host {

/* The COM support library's exception: an HRESULT and an owned IErrorInfo reference. In our namespace so
 * that its symbols clash with no other; its type_info lives in libzul_platform.so, so that a client's catch
 * matches what the library throws. */
class ZUL_HOST_API _com_error {
 public:
  _com_error(HRESULT hr, IErrorInfo* perrinfo = nullptr, bool fAddRef = false) noexcept;
  _com_error(const _com_error& that) noexcept;
  virtual ~_com_error() noexcept;
  _com_error& operator=(const _com_error& that) noexcept;
  HRESULT Error() const noexcept { return m_hresult; }
  IErrorInfo* ErrorInfo() const noexcept; /* a new reference, or null */

 private:
  HRESULT m_hresult;
  IErrorInfo* m_perrinfo;
};

}  // namespace host
}  // namespace zul

using zul::host::_com_error;
#endif /* __cplusplus */

#endif /* ZUL_HOST_OLEAUTO_H */

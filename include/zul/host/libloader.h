/* Dynamic loading for the Linux host build, with the names and contracts of Windows' loader.
 * A module handle is the dlopen handle; the system error text is dlerror()'s. */
#ifndef ZUL_HOST_LIBLOADER_H
#define ZUL_HOST_LIBLOADER_H

#include "zul/host/oleauto.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HINSTANCE__* HMODULE;
typedef HMODULE HINSTANCE;
typedef void (*FARPROC)(void);

ZUL_HOST_API HMODULE LoadLibraryA(LPCSTR lpLibFileName);
ZUL_HOST_API BOOL FreeLibrary(HMODULE hLibModule);
ZUL_HOST_API FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
/* A loaded module found by its file name (no directory), without raising its reference count; null
 * names the host program. */
ZUL_HOST_API HMODULE GetModuleHandleA(LPCSTR lpModuleName);
/* The module's full path (the host program's for null), cut to nSize - 1 bytes and terminated; returns
 * the characters copied, nSize with ERROR_INSUFFICIENT_BUFFER when cut, 0 on failure. */
ZUL_HOST_API DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

#ifdef __cplusplus
}
#endif

#endif /* ZUL_HOST_LIBLOADER_H */

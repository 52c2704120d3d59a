/* Dynamic loading for the Linux host build, with the names and contracts of Windows' loader.
 * A module handle is the dlopen handle; the system error text is dlerror()'s. Private, as kernel.h. */
#ifndef ZUL_HOST_LIBLOADER_H
#define ZUL_HOST_LIBLOADER_H

#include "zul/host/oleauto.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HINSTANCE__* HMODULE;
typedef HMODULE HINSTANCE;
typedef void (*FARPROC)(void);

HMODULE LoadLibraryA(LPCSTR lpLibFileName);
BOOL FreeLibrary(HMODULE hLibModule);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
/* A loaded module found by its file name (no directory), without raising its reference count; null
 * names the host program. */
HMODULE GetModuleHandleA(LPCSTR lpModuleName);
/* The module's full path (the host program's for null), cut to nSize - 1 bytes and terminated; returns
 * the characters copied, nSize with ERROR_INSUFFICIENT_BUFFER when cut, 0 on failure. */
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

#ifdef __cplusplus
}
#endif

#endif /* ZUL_HOST_LIBLOADER_H */

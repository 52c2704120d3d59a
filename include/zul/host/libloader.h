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

#ifdef __cplusplus
}
#endif

#endif /* ZUL_HOST_LIBLOADER_H */

/* Operating-system services for the Linux host build, with the names and contracts of their
 * Windows counterparts. Private: linked statically, hidden, into the library and the tests. */
#ifndef ZUL_HOST_KERNEL_H
#define ZUL_HOST_KERNEL_H

#include <pthread.h>

#include "zul/host/oleauto.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Code pages: every ANSI code page of the host is UTF-8. */
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_COMPOSITECHECK 0x00000200
#define WC_NO_BEST_FIT_CHARS 0x00000400

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_MOD_NOT_FOUND 126
#define ERROR_PROC_NOT_FOUND 127
#define ERROR_ENVVAR_NOT_FOUND 203
#define ERROR_INVALID_FLAGS 1004
#define ERROR_NO_UNICODE_TRANSLATION 1113

DWORD GetLastError(void);
void SetLastError(DWORD dwErrCode);

/* Sizes in units of the respective string; a negative length means "up to and including the terminator";
 * a destination size of 0 asks for the size needed; too small a buffer fails with ERROR_INSUFFICIENT_BUFFER.
 * Every code page is UTF-8: as on Windows, WideCharToMultiByte refuses lpDefaultChar and lpUsedDefaultChar
 * (ERROR_INVALID_PARAMETER), and a lone surrogate becomes U+FFFD. */
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar);

/* A critical section may be entered again by the thread that holds it. */
typedef struct _CRITICAL_SECTION {
  pthread_mutex_t mutex;
} CRITICAL_SECTION;
void InitializeCriticalSection(CRITICAL_SECTION* lpCriticalSection);
void EnterCriticalSection(CRITICAL_SECTION* lpCriticalSection);
void LeaveCriticalSection(CRITICAL_SECTION* lpCriticalSection);
void DeleteCriticalSection(CRITICAL_SECTION* lpCriticalSection);

/* The processor the calling thread runs on, 0 when the system cannot tell. */
DWORD GetCurrentProcessorNumber(void);

/* Debugger output goes to standard error. */
void OutputDebugStringA(LPCSTR lpOutputString);
void OutputDebugStringW(LPCWSTR lpOutputString);

#ifdef __cplusplus
}
#endif

#endif /* ZUL_HOST_KERNEL_H */

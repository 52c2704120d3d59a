/* Process services for the Linux host build with the names and contracts of Windows: environment
 * variables, the current directory, the file-existence search and system error texts. Private, as
 * kernel.h. */
#ifndef ZUL_HOST_PROCESS_H
#define ZUL_HOST_PROCESS_H

#include "zul/host/oleauto.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MAX_PATH 260

typedef void* HANDLE;
typedef void* HLOCAL;
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

/* The value's length without its terminator when it fits into nSize bytes; otherwise the size needed
 * with the terminator. 0 with ERROR_ENVVAR_NOT_FOUND when the variable does not exist. */
DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize);
/* A null value removes the variable. */
BOOL SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue);

/* Same size contract as GetEnvironmentVariableA; 0 on failure. */
DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);
BOOL SetCurrentDirectoryA(LPCSTR lpPathName);

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA;

#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080

/* Finds the file or directory of exactly that path (wildcards are not expanded on the host). */
HANDLE FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA* lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

/* Only FORMAT_MESSAGE_FROM_SYSTEM texts are supported. The text of a failed LoadLibraryA is dlerror()'s. */
DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, void* Arguments);
HLOCAL LocalFree(HLOCAL hMem);

#ifdef __cplusplus
}
#endif

#endif /* ZUL_HOST_PROCESS_H */

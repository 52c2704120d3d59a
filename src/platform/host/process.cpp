#include "process.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel.h"

namespace {

// Copies value with the Windows size contract shared by the environment and directory readers.
DWORD CopyOut(const std::string& value, LPSTR buffer, DWORD size) {
  if (buffer == nullptr || value.size() + 1 > size) return static_cast<DWORD>(value.size() + 1);
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  return static_cast<DWORD>(value.size());
}

// Handles FindFirstFileA hands out; their contents are never read.
char g_findHandle;

}  // namespace

extern "C" {

DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
  const char* value = lpName != nullptr ? std::getenv(lpName) : nullptr;
  if (value == nullptr) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  return CopyOut(value, lpBuffer, nSize);
}

BOOL SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue) {
  if (lpName == nullptr || lpName[0] == 0 || std::strchr(lpName, '=') != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const int result = lpValue != nullptr ? setenv(lpName, lpValue, 1) : unsetenv(lpName);
  return result == 0 ? TRUE : FALSE;
}

DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  char* directory = getcwd(nullptr, 0);
  if (directory == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  const std::string value(directory);
  std::free(directory);
  return CopyOut(value, lpBuffer, nBufferLength);
}

BOOL SetCurrentDirectoryA(LPCSTR lpPathName) {
  if (lpPathName == nullptr || chdir(lpPathName) != 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

HANDLE FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA* lpFindFileData) {
  struct stat status;
  if (lpFileName == nullptr || lpFindFileData == nullptr || stat(lpFileName, &status) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::memset(lpFindFileData, 0, sizeof *lpFindFileData);
  lpFindFileData->dwFileAttributes =
      S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  lpFindFileData->nFileSizeLow = static_cast<DWORD>(status.st_size);
  lpFindFileData->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(status.st_size) >> 32);
  const char* slash = std::strrchr(lpFileName, '/');
  std::strncpy(lpFindFileData->cFileName, slash != nullptr ? slash + 1 : lpFileName, MAX_PATH - 1);
  return &g_findHandle;
}

BOOL FindClose(HANDLE hFindFile) {
  if (hFindFile != &g_findHandle) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"

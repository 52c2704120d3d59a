#include "libloader.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel.h"
#include "process.h"

namespace {

// The system's text for the last failed load on this thread: dlerror()'s.
thread_local std::string t_loadErrorText;

struct SystemText {
  DWORD code;
  const char* text;
};

// Windows' texts for the codes the host layer sets, for when no loader text applies.
constexpr SystemText kSystemTexts[] = {
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found.\r\n"},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found.\r\n"},
    {ERROR_ENVVAR_NOT_FOUND, "The system could not find the environment option that was entered.\r\n"},
};

const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

struct ModuleSearch {
  const char* name;
  std::string path;
};

}  // namespace

extern "C" {

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  if (lpLibFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* handle = dlopen(lpLibFileName, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* text = dlerror();
    t_loadErrorText = text != nullptr ? text : "";
    SetLastError(ERROR_MOD_NOT_FOUND);
  }
  return static_cast<HMODULE>(handle);
}

BOOL FreeLibrary(HMODULE hLibModule) {
  if (hLibModule == nullptr || dlclose(hLibModule) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (hModule == nullptr || lpProcName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  dlerror();
  void* symbol = dlsym(hModule, lpProcName);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
  if (lpModuleName == nullptr) {
    void* self = dlopen(nullptr, RTLD_LAZY);
    dlclose(self);  // the program itself stays loaded: no reference is kept, as on Windows
    return static_cast<HMODULE>(self);
  }
  ModuleSearch search{lpModuleName, {}};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* wanted = static_cast<ModuleSearch*>(data);
        if (info->dlpi_name == nullptr || info->dlpi_name[0] == 0) return 0;
        if (std::strcmp(BaseName(info->dlpi_name), wanted->name) != 0) return 0;
        wanted->path = info->dlpi_name;
        return 1;
      },
      &search);
  if (search.path.empty()) {
    t_loadErrorText.clear();  // this failure has no loader text
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void* handle = dlopen(search.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  dlclose(handle);  // loaded by someone else, who keeps it alive
  return static_cast<HMODULE>(handle);
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  std::string path;
  link_map* map = nullptr;
  if (hModule != nullptr && dlinfo(hModule, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr &&
      map->l_name != nullptr && map->l_name[0] != 0) {
    path = map->l_name;
  } else if (hModule == nullptr || map != nullptr) {
    char exe[4096];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe);
    if (length <= 0) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return 0;
    }
    path.assign(exe, static_cast<size_t>(length));
  } else {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (lpFilename == nullptr || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= nSize) {
    std::memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

DWORD FormatMessageA(DWORD dwFlags, const void*, DWORD dwMessageId, DWORD, LPSTR lpBuffer, DWORD nSize,
                     void*) {
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string text;
  if (dwMessageId == ERROR_MOD_NOT_FOUND && !t_loadErrorText.empty()) text = t_loadErrorText;
  for (const SystemText& entry : kSystemTexts) {
    if (text.empty() && entry.code == dwMessageId) text = entry.text;
  }
  if (text.empty()) {
    SetLastError(317);  // ERROR_MR_MID_NOT_FOUND: no text for this code
    return 0;
  }
  if ((dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
    char* allocated = static_cast<char*>(std::malloc(text.size() + 1));
    if (allocated == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::memcpy(allocated, text.c_str(), text.size() + 1);
    *reinterpret_cast<LPSTR*>(lpBuffer) = allocated;
    return static_cast<DWORD>(text.size());
  }
  if (text.size() >= nSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

}  // extern "C"

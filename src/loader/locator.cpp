#include "loader/locator.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zul {

namespace {

constexpr std::size_t kPathBytes = 260;
constexpr std::size_t kTestPathBytes = 520;
constexpr std::size_t kDebugValueBytes = 2048;
constexpr std::size_t kDiagnosticBytes = 4128;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// The last separator of the platform in path, stepping over double-byte characters whose trail
// byte could look like one.
char* LastSeparator(char* path) {
  char* last = nullptr;
  for (char* p = path; *p != 0; ++p) {
#ifdef _WIN32
    if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != 0) {
      ++p;
      continue;
    }
#endif
    if (*p == kPathSeparator) last = p;
  }
  return last;
}

// Copies the zero-terminated source into a buffer of capacity bytes, cut to fit, always terminated.
void CopyBounded(char* buffer, const char* source, std::size_t capacity) {
  if (capacity == 0) return;
  const std::size_t length = std::min(std::strlen(source), capacity - 1);
  std::memcpy(buffer, source, length);
  buffer[length] = 0;
}

// Whether ZUL_BRIDGE_DEBUG asks for diagnostics: its leading decimal number, read afresh each time.
bool DebugRequested() {
  static char value[kDebugValueBytes];
  std::memset(value, 0, sizeof value);
  if (GetEnvironmentVariableA("ZUL_BRIDGE_DEBUG", value, sizeof value) > sizeof value) return false;
  char* end = nullptr;
  const long level = std::strtol(value, &end, 10);
  return end != value && level > 0;
}

// Writes a diagnostic to the debugger output and then to standard output.
void Diagnose(const char* format, ...) {
  char message[kDiagnosticBytes];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);
  OutputDebugStringA(message);
  std::fputs(message, stdout);
  std::fflush(stdout);
}

}  // namespace

bool BoundedAppend(char* buffer, const char* text, std::size_t capacity) noexcept {
  const std::size_t used = strnlen(buffer, capacity);
  const std::size_t length = std::strlen(text);
  if (used >= capacity || length >= capacity - used) return false;
  std::memcpy(buffer + used, text, length + 1);
  return true;
}

bool LocateAndLoadLibrary(const char* fileName, const char* directoryKey, HMODULE* module) noexcept {
  if (fileName == nullptr || fileName[0] == 0 || directoryKey == nullptr || directoryKey[0] == 0 ||
      module == nullptr) {
    return false;
  }
  const bool debug = DebugRequested();

  char directory[kPathBytes] = {};
  if (!FindLibraryDirectory(directory, sizeof directory, fileName)) {
    if (debug) Diagnose("Failed to locate library file '%s' in directory '%s'\n", fileName, directory);
    return false;
  }

  // A directory that does not fit the limit cannot be restored, so it counts as unreadable.
  char saved[kPathBytes + 1] = {};
  const DWORD savedLength = GetCurrentDirectoryA(kPathBytes, saved);
  if (savedLength == 0 || savedLength >= kPathBytes) return false;
  if (!SetCurrentDirectoryA(directory)) return false;

  // Lets the bridge's own dependencies be found in its directory.
  *module = BoundedAppend(directory, fileName, sizeof directory) ? LoadLibraryA(directory) : nullptr;
  const DWORD loadError = GetLastError();
  SetCurrentDirectoryA(saved);
  if (*module != nullptr) return true;
  if (debug) Diagnose("LoadLibrary(%s) failed.\n", directory);
  SetLastError(loadError);
  return false;
}

bool FindLibraryDirectory(char* buffer, int capacity, const char* fileName) noexcept {
  if (buffer == nullptr || capacity < 0) return false;
  if (ProbeModuleDirectory(buffer, capacity, fileName, nullptr) ||
      ProbeModuleDirectory(buffer, capacity, fileName, kRuntimeModuleFile) ||
      ProbeModuleDirectory(buffer, capacity, fileName, kBridgeLibraryFile)) {
    return true;
  }

  if (capacity < 2) return false;
  const DWORD needed = GetEnvironmentVariableA("ZUL_BIN_DIR", nullptr, 0);  // with the terminator
  if (needed <= 1 || needed - 1 >= static_cast<DWORD>(capacity) - 1) return false;
  std::memset(buffer, 0, static_cast<std::size_t>(capacity));
  const DWORD length = GetEnvironmentVariableA("ZUL_BIN_DIR", buffer, static_cast<DWORD>(capacity));
  if (length == 0 || length >= static_cast<DWORD>(capacity) - 1) {
    buffer[0] = 0;  // changed meanwhile
    return false;
  }

  const std::size_t size = static_cast<std::size_t>(capacity);
  if (char* x86 = std::strstr(buffer, kBinX86)) {
    *x86 = 0;
    if (!BoundedAppend(buffer, kBinX86_64, size)) return false;
  }
  const std::size_t end = std::strlen(buffer);
  const char separator[] = {kPathSeparator, 0};
  if (end == 0 || !IsSeparator(buffer[end - 1])) {
    if (!BoundedAppend(buffer, separator, size)) return false;
  }
  return true;
}

bool ProbeModuleDirectory(char* buffer, int capacity, const char* fileName, const char* moduleName) noexcept {
  char directory[kPathBytes] = {};
  HMODULE module = GetModuleHandleA(moduleName);
  if (module == nullptr) return false;
  const DWORD length = GetModuleFileNameA(module, directory, sizeof directory);
  if (length == 0 || length >= sizeof directory) return false;  // a cut path names another file

  char* separator = LastSeparator(directory);
  if (separator == nullptr) return false;
  *separator = 0;
  if (directory[0] == 0) return false;

  const std::size_t size = capacity > 0 ? static_cast<std::size_t>(capacity) : 0;
  CopyBounded(buffer, directory, size);  // stays, also when the probe fails below

  const std::size_t directoryLength = std::strlen(directory);
  const char separatorText[] = {kPathSeparator, 0};
  if (!IsSeparator(directory[directoryLength - 1])) BoundedAppend(directory, separatorText, sizeof directory);

  char testPath[kTestPathBytes];
  std::snprintf(testPath, sizeof testPath, "%s%s", directory, fileName);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(testPath, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);

  if (directoryLength >= size) return false;
  std::memset(buffer, 0, size);
  CopyBounded(buffer, directory, size);
  return true;
}

}  // namespace zul

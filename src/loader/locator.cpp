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

// Writes a diagnostic to the debugger output and then to standard output. Leaves the last error as it
// was: the binding words its own message from it.
void Diagnose(const char* format, ...) {
  const DWORD lastError = GetLastError();
  char message[kDiagnosticBytes];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);
  OutputDebugStringA(message);
  std::fputs(message, stdout);
  std::fflush(stdout);
  SetLastError(lastError);
}

// Where a probe looked, as the search trace names it.
const char* PlaceOf(const char* moduleName) {
  return moduleName == nullptr ? "the program" : moduleName;
}

// A relative directory (a ZUL_BIN_DIR such as "lib/bridge") would be read again from inside itself once
// it is the current directory, so it is joined to the current one first. False when that does not fit.
bool MakeAbsolute(char* directory, const char* current) {
#ifdef _WIN32
  const bool absolute = IsSeparator(directory[0]) || (directory[0] != 0 && directory[1] == ':');
#else
  const bool absolute = directory[0] == '/';
#endif
  if (absolute) return true;
  char joined[kPathBytes] = {};
  const char separator[] = {kPathSeparator, 0};
  const std::size_t currentLength = std::strlen(current);
  CopyBounded(joined, current, sizeof joined);
  if ((currentLength > 0 && !IsSeparator(current[currentLength - 1]) &&
       !BoundedAppend(joined, separator, sizeof joined)) ||
      !BoundedAppend(joined, directory, sizeof joined)) {
    return false;
  }
  std::memcpy(directory, joined, sizeof joined);
  return true;
}

// What failed on path, with the system's text for error without its line break; error stays the last.
void TellSystemFailure(const char* doing, const char* path, DWORD error) {
  char* reason = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&reason),
                 0, nullptr);
  std::size_t length = reason != nullptr ? std::strlen(reason) : 0;
  while (length > 0 && (reason[length - 1] == '\r' || reason[length - 1] == '\n')) reason[--length] = 0;
  Diagnose("  %s %s: %s\n", doing, path, reason != nullptr ? reason : "");
  LocalFree(reason);
  SetLastError(error);
}

// The last line of a failure says what to do.
void TellRemedy(const char* fileName) {
  Diagnose("Copy %s beside the program, or set ZUL_BIN_DIR to the directory that holds it.\n", fileName);
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

  if (debug) Diagnose("Looking for %s:\n", fileName);
  char directory[kPathBytes] = {};
  if (!FindLibraryDirectory(directory, sizeof directory, fileName, debug)) {
    if (debug) {
      Diagnose("Failed to locate library file '%s' in directory '%s'\n", fileName, directory);
      TellRemedy(fileName);
    }
    return false;
  }

  // A directory that does not fit the limit cannot be restored, so it counts as unreadable.
  char saved[kPathBytes + 1] = {};
  const DWORD savedLength = GetCurrentDirectoryA(kPathBytes, saved);
  if (savedLength == 0 || savedLength >= kPathBytes) return false;
  if (!MakeAbsolute(directory, saved)) {
    if (debug) {
      Diagnose("  %s joined to the current directory is longer than %d characters\n", directory,
               static_cast<int>(kPathBytes - 1));
      TellRemedy(fileName);
    }
    return false;
  }
  if (!SetCurrentDirectoryA(directory)) {
    if (debug) {
      TellSystemFailure("entering", directory, GetLastError());
      TellRemedy(fileName);
    }
    return false;
  }

  // Lets the bridge's own dependencies be found in its directory.
  *module = BoundedAppend(directory, fileName, sizeof directory) ? LoadLibraryA(directory) : nullptr;
  const DWORD loadError = GetLastError();
  SetCurrentDirectoryA(saved);
  if (*module != nullptr) return true;
  if (debug) {
    TellSystemFailure("loading", directory, loadError);
    Diagnose("LoadLibrary(%s) failed.\n", directory);
    TellRemedy(fileName);
  }
  SetLastError(loadError);
  return false;
}

bool FindLibraryDirectory(char* buffer, int capacity, const char* fileName, bool tell) noexcept {
  if (buffer == nullptr || capacity < 0) return false;
  if (ProbeModuleDirectory(buffer, capacity, fileName, nullptr, tell) ||
      ProbeModuleDirectory(buffer, capacity, fileName, kRuntimeModuleFile, tell) ||
      ProbeModuleDirectory(buffer, capacity, fileName, kBridgeLibraryFile, tell)) {
    return true;
  }

  if (capacity < 2) return false;
  const DWORD needed = GetEnvironmentVariableA("ZUL_BIN_DIR", nullptr, 0);  // with the terminator
  if (needed <= 1) {
    if (tell) Diagnose("  ZUL_BIN_DIR: not set\n");
    return false;
  }
  if (needed - 1 >= static_cast<DWORD>(capacity) - 1) {
    if (tell) Diagnose("  ZUL_BIN_DIR: longer than %d characters\n", capacity - 2);
    return false;
  }
  std::memset(buffer, 0, static_cast<std::size_t>(capacity));
  const DWORD length = GetEnvironmentVariableA("ZUL_BIN_DIR", buffer, static_cast<DWORD>(capacity));
  if (length == 0 || length >= static_cast<DWORD>(capacity) - 1) {
    buffer[0] = 0;  // changed meanwhile
    return false;
  }

  const auto tooLong = [&] {
    if (tell) Diagnose("  ZUL_BIN_DIR: longer than %d characters once completed\n", capacity - 1);
    return false;
  };
  const std::size_t size = static_cast<std::size_t>(capacity);
  if (char* x86 = std::strstr(buffer, kBinX86)) {
    *x86 = 0;
    if (!BoundedAppend(buffer, kBinX86_64, size)) return tooLong();
  }
  const std::size_t end = std::strlen(buffer);
  const char separator[] = {kPathSeparator, 0};
  if (end == 0 || !IsSeparator(buffer[end - 1])) {
    if (!BoundedAppend(buffer, separator, size)) return tooLong();
  }
  if (tell) Diagnose("  ZUL_BIN_DIR: %s\n", buffer);
  return true;
}

bool ProbeModuleDirectory(char* buffer, int capacity, const char* fileName, const char* moduleName,
                          bool tell) noexcept {
  const char* place = PlaceOf(moduleName);
  char directory[kPathBytes] = {};
  HMODULE module = GetModuleHandleA(moduleName);
  if (module == nullptr) {
    if (tell) Diagnose("  beside %s: not loaded\n", place);
    return false;
  }
  const DWORD length = GetModuleFileNameA(module, directory, sizeof directory);
  char* separator = length == 0 || length >= sizeof directory ? nullptr : LastSeparator(directory);
  if (separator == nullptr || separator == directory) {  // a cut path names another file
    if (tell)
      Diagnose("  beside %s: no directory of %d characters at most in its file name\n", place,
               static_cast<int>(kPathBytes - 1));
    return false;
  }
  *separator = 0;

  const std::size_t size = capacity > 0 ? static_cast<std::size_t>(capacity) : 0;
  CopyBounded(buffer, directory, size);  // stays, also when the probe fails below

  const std::size_t directoryLength = std::strlen(directory);
  const char separatorText[] = {kPathSeparator, 0};
  if (!IsSeparator(directory[directoryLength - 1])) BoundedAppend(directory, separatorText, sizeof directory);

  char testPath[kTestPathBytes];
  std::snprintf(testPath, sizeof testPath, "%s%s", directory, fileName);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(testPath, &found);
  if (search == INVALID_HANDLE_VALUE) {
    if (tell) Diagnose("  beside %s: %s: not there\n", place, testPath);
    return false;
  }
  FindClose(search);

  if (directoryLength >= size) {
    if (tell) Diagnose("  beside %s: %s: there, but its directory does not fit\n", place, testPath);
    return false;
  }
  std::memset(buffer, 0, size);
  CopyBounded(buffer, directory, size);
  if (tell) Diagnose("  beside %s: %s: found\n", place, testPath);
  return true;
}

}  // namespace zul

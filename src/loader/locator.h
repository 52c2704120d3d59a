// Finding and loading a library of the bridge: next to the host program, next to the loaded runtime
// or bridge module, or under ZUL_BIN_DIR. When ZUL_BRIDGE_DEBUG is above 0, every place tried is told
// with the path it tried and why it was not taken, and a failure ends with what to do.
#pragma once

#include <cstddef>

#include "platform/ole.h"

namespace zul {

// File and module names of this target.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr const char* kBridgeLibraryFile = "zul_qel.dll";
inline constexpr const char* kRuntimeModuleFile = "zul.dll";
inline constexpr const char* kBinX86 = "\\bin\\bin.x86";
inline constexpr const char* kBinX86_64 = "\\bin\\bin.x86_64";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kBridgeLibraryFile = "libzul_qel.so";
inline constexpr const char* kRuntimeModuleFile = "libzul.so";
inline constexpr const char* kBinX86 = "/bin/bin.x86";
inline constexpr const char* kBinX86_64 = "/bin/bin.x86_64";
#endif

// Appends text to the zero-terminated text in buffer when all of it fits into capacity bytes with the
// terminator; otherwise leaves the buffer unchanged. A cut path could name another file, so a text
// that does not fit is never appended in part.
bool BoundedAppend(char* buffer, const char* text, std::size_t capacity) noexcept;

// Loads fileName from the first directory that qualifies, with the current directory switched to
// it for the load and restored afterwards; a relative directory is taken from the current one.
// directoryKey must be given and has no other effect.
bool LocateAndLoadLibrary(const char* fileName, const char* directoryKey, HMODULE* module) noexcept;

// On success buffer holds a directory ending in a separator. After a failed search it holds the
// directory of the last module that was found, or nothing. tell: each place's outcome as a diagnostic.
bool FindLibraryDirectory(char* buffer, int capacity, const char* fileName, bool tell = false) noexcept;

// Whether fileName lies next to the loaded module (null: the host program); on success buffer holds
// that directory with a separator.
bool ProbeModuleDirectory(char* buffer, int capacity, const char* fileName, const char* moduleName,
                          bool tell = false) noexcept;

}  // namespace zul

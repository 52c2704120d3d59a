// Fuzz target: the locator over arbitrary ZUL_BIN_DIR and ZUL_BRIDGE_DEBUG values and buffer
// capacities. The directory found always fits its buffer, is terminated and ends in a separator; a
// directory taken from ZUL_BIN_DIR starts as the variable does; the current directory is restored
// after every load attempt. Only the bridge beside the fuzzer can ever be loaded.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "loader/locator.h"

namespace {

constexpr const char* kAbsentFile = "zul_fuzz_absent_library.so";

std::string TakeText(zul::fuzz::Input& in, std::size_t max) {
  const std::vector<uint8_t> bytes = in.Bytes(max);
  return std::string(bytes.begin(), bytes.end()).c_str();  // an environment value ends at its first NUL
}

std::string WorkingDirectory() {
  char path[4096];
  return getcwd(path, sizeof path) != nullptr ? path : "";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Diagnostics go to standard output; libFuzzer reports on standard error.
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, STDOUT_FILENO);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace zul;
  using namespace zul::fuzz;
  Bridge();
  Input in(data, size);
  const uint32_t shape = in.Below(8);
  // Long values too: the limit is 260 bytes, the input reads up to 255 at a time.
  std::string binDir = TakeText(in, 255);
  if ((shape & 1) != 0) binDir += TakeText(in, 255) + TakeText(in, 255);
  const std::string debug = TakeText(in, 16);
  if ((shape & 2) != 0) binDir += "/bin/bin.x86";
  if ((shape & 4) != 0) binDir = "/tmp" + binDir;
  // setenv keeps every value it was ever given; entries of our own are rewritten in place instead.
  static char binEntry[1024];
  static char debugEntry[64];
  unsetenv("ZUL_BIN_DIR");
  unsetenv("ZUL_BRIDGE_DEBUG");
  if (!in.OneIn(8)) {
    std::snprintf(binEntry, sizeof binEntry, "ZUL_BIN_DIR=%s", binDir.c_str());
    putenv(binEntry);
  }
  if (!in.OneIn(4)) {
    std::snprintf(debugEntry, sizeof debugEntry, "ZUL_BRIDGE_DEBUG=%s", debug.c_str());
    putenv(debugEntry);
  }
  static constexpr int kCapacities[] = {0, 1, 2, 3, 16, 259, 260, 261, 520};
  int capacity = kCapacities[in.Below(9)];
  if (in.OneIn(4)) capacity = static_cast<int>(in.Below(600));
  const char* fileName = in.OneIn(4) ? kBridgeLibraryFile : kAbsentFile;

  // Exactly capacity bytes: a write past them is caught.
  std::vector<char> buffer(capacity > 0 ? capacity : 1, 0);
  const bool found = FindLibraryDirectory(buffer.data(), capacity, fileName);
  if (capacity > 0) ZUL_FUZZ_CHECK(std::memchr(buffer.data(), 0, capacity) != nullptr);
  if (found) {
    const std::size_t length = std::strlen(buffer.data());
    ZUL_FUZZ_CHECK(length >= 1 && length < static_cast<std::size_t>(capacity));
    // A module's directory that fills the buffer but for its terminator loses its separator, as the
    // probe's steps have it; a capacity of 260 never meets that.
    const bool cut = fileName != kAbsentFile && length == static_cast<std::size_t>(capacity) - 1;
    ZUL_FUZZ_CHECK(cut || buffer[length - 1] == '/' || buffer[length - 1] == '\\');
    if (fileName == kAbsentFile) {
      const std::string variable = binEntry + std::strlen("ZUL_BIN_DIR=");
      const std::size_t kept = std::min(variable.find("/bin/bin.x86"), variable.size());
      ZUL_FUZZ_CHECK(std::strncmp(buffer.data(), variable.c_str(), kept) == 0);
    }
  }

  if (in.OneIn(4)) {
    const std::string before = WorkingDirectory();
    HMODULE module = nullptr;
    const bool loaded = LocateAndLoadLibrary(fileName, "ZUL_BIN_DIR", &module);
    ZUL_FUZZ_CHECK(WorkingDirectory() == before);
    ZUL_FUZZ_CHECK(loaded == (module != nullptr));
    ZUL_FUZZ_CHECK(!loaded || fileName != kAbsentFile);
    if (module != nullptr) FreeLibrary(module);
  }
  return 0;
}

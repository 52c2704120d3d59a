#include "loader/locator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "scoped_environment.h"

namespace zul {
namespace {

using testing::CurrentDirectory;
using testing::ScopedEnvironment;

#ifdef _WIN32
constexpr const char* kBesideProgram = "zul_pal_mscom.dll";  // the library, beside every test program
#else
constexpr const char* kBesideProgram = "libzul_pal_mscom.so";
#endif
constexpr const char* kAbsent = "zul_absent_file.bin";  // beside no module: the search reaches ZUL_BIN_DIR

// CTest runs the unit tests in the directory of their program.
const std::string kProgram = CurrentDirectory() + kPathSeparator;

// Beside no module: ZUL_BIN_DIR, bin.x86 read as bin.x86_64, a separator added, if all of it fits 259
// characters. A failed probe leaves the module's directory, cut to the buffer, without its separator.
TEST(FindLibraryDirectory, ProgramDirectoryThenBinDir) {
  const std::string d258(258, 'd');
  // ZUL_BIN_DIR>what is found, with '|' for the separator
  const std::string rows[] = {"|R|bin|bin.x86>|R|bin|bin.x86_64|",
                              "|R|bin|bin.x86_64|sub>|R|bin|bin.x86_64|",
                              "|R|bin|bin.x86|a|bin|bin.x86>|R|bin|bin.x86_64|",
                              "|opt|zul>|opt|zul|",
                              "D:/lib/>D:/lib/",
                              d258 + ">" + d258 + "|",
                              d258 + "d>",
                              std::string(244, 'a') + "|bin|bin.x86>",  // no room left for the separator
                              std::string(5000, 'e') + ">"};
  for (std::string row : rows) {
    std::replace(row.begin(), row.end(), '|', kPathSeparator);
    const std::string value = row.substr(0, row.find('>')), found = row.substr(row.find('>') + 1);
    ScopedEnvironment binDir("ZUL_BIN_DIR", value.c_str());
    char buffer[260];
    EXPECT_EQ(FindLibraryDirectory(buffer, sizeof buffer, kAbsent), !found.empty()) << value;
    EXPECT_EQ(found.empty() ? found : buffer, found) << value;
    EXPECT_NE(std::memchr(buffer, 0, sizeof buffer), nullptr) << "terminated within the buffer";
  }
  char buffer[260], small[8];
  EXPECT_FALSE(ProbeModuleDirectory(buffer, sizeof buffer, kAbsent, nullptr) ||
               ProbeModuleDirectory(small, sizeof small, kBesideProgram, nullptr) ||
               FindLibraryDirectory(buffer, -1, kAbsent) ||
               FindLibraryDirectory(nullptr, 260, kBesideProgram));
  EXPECT_EQ(buffer + std::string(1, kPathSeparator) + small, kProgram + kProgram.substr(0, sizeof small - 1));
  EXPECT_FALSE(FindLibraryDirectory(small, 1, kAbsent)) << "no room for a directory";
}

// Writes nothing when an argument is missing. With ZUL_BRIDGE_DEBUG above 0, a failure says why on standard
// output; the current directory is restored. (Loading is the binding scenarios' part.)
TEST(LocateAndLoadLibrary, LoadsRestoresAndTellsWhy) {
  const std::string tooLong(2048, '1');
  HMODULE module = reinterpret_cast<HMODULE>(0x10);
  EXPECT_FALSE(LocateAndLoadLibrary(nullptr, "QelDir", &module) ||
               LocateAndLoadLibrary("", "QelDir", &module) || LocateAndLoadLibrary("x", nullptr, &module) ||
               LocateAndLoadLibrary("x", "", &module) ||
               LocateAndLoadLibrary(kBesideProgram, "QelDir", nullptr));
  EXPECT_EQ(module, reinterpret_cast<HMODULE>(0x10));
  const std::string notLocated =
      "Failed to locate library file '" + std::string(kAbsent) + "' in directory '";
  const std::string notLoaded = "LoadLibrary(" + kProgram + kAbsent + ") failed.\n";
  const std::pair<const char*, bool> rows[] = {
      {nullptr, false}, {"0", false}, {"abc", false}, {tooLong.c_str(), false}, {" 7", true}};
  for (const auto& [debug, tells] : rows) {
    ScopedEnvironment level("ZUL_BRIDGE_DEBUG", debug);
    for (const char* binDir : {static_cast<const char*>(nullptr), kProgram.c_str()}) {
      ScopedEnvironment where("ZUL_BIN_DIR", binDir);
      ::testing::internal::CaptureStdout();
      EXPECT_FALSE(LocateAndLoadLibrary(kAbsent, "QelDir", &module));
      const std::string told = ::testing::internal::GetCapturedStdout();
      const std::string expected = !tells   ? ""
                                   : binDir ? notLoaded
                                            : notLocated;  // + the last module's directory
      EXPECT_EQ(binDir || !tells ? told : told.substr(0, expected.size()), expected) << (debug ? debug : "-");
      EXPECT_EQ(CurrentDirectory() + kPathSeparator, kProgram);
    }
  }
}

}  // namespace
}  // namespace zul

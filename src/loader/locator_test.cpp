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
                              "|>|",
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

// Silent when an argument is missing. ZUL_BRIDGE_DEBUG above 0 tells each place tried and why not, the
// library's line and what to do; a relative ZUL_BIN_DIR is joined to the current directory, kept as it was.
TEST(LocateAndLoadLibrary, LoadsRestoresAndTellsWhy) {
  const std::string tooLong(2048, '1'), absent = kAbsent;
  HMODULE module = reinterpret_cast<HMODULE>(0x10);
  EXPECT_FALSE(LocateAndLoadLibrary(nullptr, "QelDir", &module) ||
               LocateAndLoadLibrary("", "QelDir", &module) || LocateAndLoadLibrary("x", nullptr, &module) ||
               LocateAndLoadLibrary("x", "", &module) ||
               LocateAndLoadLibrary(kBesideProgram, "QelDir", nullptr));
  EXPECT_EQ(module, reinterpret_cast<HMODULE>(0x10));
  const std::string head = "Looking for " + absent + ":\n  beside the program: " + kProgram + absent +
                           ": not there\n\t",
                    remedy = "Copy " + absent +
                             " beside the program, or set ZUL_BIN_DIR to the directory that holds it.\n",
                    relative = std::string("zul_absent_dir") + kPathSeparator;
  // ZUL_BIN_DIR, then the text's parts in order, to its end ('\t' between them: the system's words)
  const std::pair<const char*, std::string> places[] = {
      {nullptr, head + "  ZUL_BIN_DIR: not set\nFailed to locate library file '" + absent +
                    "' in directory '\t" + remedy},
      {kProgram.c_str(), head + "  ZUL_BIN_DIR: " + kProgram + "\n  loading " + kProgram + absent +
                             ": \t\nLoadLibrary(" + kProgram + absent + ") failed.\n" + remedy},
      {"zul_absent_dir",
       head + "  ZUL_BIN_DIR: " + relative + "\n  entering " + kProgram + relative + ": \t\n" + remedy}};
  const std::pair<const char*, bool> levels[] = {
      {nullptr, false}, {"0", false}, {"abc", false}, {tooLong.c_str(), false}, {" 7", true}};
  for (const auto& [debug, tells] : levels) {
    ScopedEnvironment level("ZUL_BRIDGE_DEBUG", debug);
    for (const auto& [binDir, parts] : places) {
      ScopedEnvironment where("ZUL_BIN_DIR", binDir);
      ::testing::internal::CaptureStdout();
      EXPECT_FALSE(LocateAndLoadLibrary(kAbsent, "QelDir", &module));
      const std::string told = ::testing::internal::GetCapturedStdout();
      std::size_t at = 0;
      for (std::size_t from = 0, tab = 0; at != std::string::npos && from <= parts.size(); from = tab + 1) {
        tab = std::min(parts.find('\t', from), parts.size());
        at = told.find(parts.substr(from, tab - from), at + (from > 0));  // '\t' stands for 1 or more
        if (at != std::string::npos) at += tab - from;
      }
      EXPECT_TRUE(tells ? at == told.size() : told.empty()) << (debug ? debug : "-") << ":\n" << told;
      EXPECT_EQ(CurrentDirectory() + kPathSeparator, kProgram);
    }
  }
}

}  // namespace
}  // namespace zul

#include "loader/locator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
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

std::string ProgramDirectory() {
  char path[4096] = {};
  const std::string file(path, GetModuleFileNameA(nullptr, path, sizeof path));
  return file.substr(0, file.find_last_of(kPathSeparator) + 1);
}

// A path written with '|' for the separator of this target.
std::string Path(std::string text) {
  for (char& c : text) c = c == '|' ? kPathSeparator : c;
  return text;
}

TEST(BoundedAppend, AppendsOnlyWhatFitsWhole) {
  const std::tuple<const char*, const char*, size_t, bool, const char*> rows[] = {
      {"abc", "def", 7, true, "abcdef"},
      {"abc", "def", 6, false, "abc"},  // no room for the terminator
      {"", "", 1, true, ""},
      {"abcdef", "g", 4, false, "abcdef"}};  // already over the capacity
  for (const auto& [start, text, capacity, appended, result] : rows) {
    char buffer[16] = {};
    std::strcpy(buffer, start);
    EXPECT_EQ(BoundedAppend(buffer, text, capacity), appended) << result;
    EXPECT_STREQ(buffer, result);
  }
}

// The host program's directory comes first, whatever ZUL_BIN_DIR says. Then ZUL_BIN_DIR, with bin.x86
// read as bin.x86_64 and a separator added, when the result fits 259 characters.
TEST(FindLibraryDirectory, ProgramDirectoryThenBinDir) {
  const std::pair<std::string, std::string> rows[] = {
      // ZUL_BIN_DIR, what is found ("": nothing)
      {Path("|R|bin|bin.x86"), Path("|R|bin|bin.x86_64|")},
      {Path("|R|bin|bin.x86_64|sub"), Path("|R|bin|bin.x86_64|")},
      {Path("|R|bin|bin.x86|a|bin|bin.x86"), Path("|R|bin|bin.x86_64|")},
      {Path("|opt|zul"), Path("|opt|zul|")},
      {"D:/lib/", "D:/lib/"},
      {std::string(258, 'd'), std::string(258, 'd') + kPathSeparator},
      {std::string(259, 'd'), ""},
      {std::string(5000, 'e'), ""},
      {"", ""}};
  for (const auto& [value, found] : rows) {
    ScopedEnvironment binDir("ZUL_BIN_DIR", value.c_str());
    char buffer[260];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(FindLibraryDirectory(buffer, sizeof buffer, kAbsent), !found.empty()) << value.size();
    EXPECT_EQ(buffer, found.empty() ? std::string(buffer) : found) << value.size();
    EXPECT_NE(std::memchr(buffer, 0, sizeof buffer), nullptr) << "terminated within the buffer";
    EXPECT_TRUE(FindLibraryDirectory(buffer, sizeof buffer, kBesideProgram));
    EXPECT_EQ(buffer, ProgramDirectory());
  }
  ScopedEnvironment unset("ZUL_BIN_DIR", nullptr);
  char buffer[260];
  EXPECT_FALSE(FindLibraryDirectory(buffer, sizeof buffer, kAbsent) ||
               FindLibraryDirectory(buffer, -1, kAbsent) ||
               FindLibraryDirectory(nullptr, 260, kBesideProgram));
}

// A failed probe leaves the module's directory, cut to the buffer, without its separator; a module that is
// not loaded leaves the buffer alone.
TEST(ProbeModuleDirectory, LeavesWhatItFound) {
  char buffer[260], small[8];
  EXPECT_FALSE(ProbeModuleDirectory(buffer, sizeof buffer, kAbsent, nullptr));
  EXPECT_EQ(buffer + std::string(1, kPathSeparator), ProgramDirectory());
  EXPECT_FALSE(ProbeModuleDirectory(small, sizeof small, kBesideProgram, nullptr));
  EXPECT_EQ(std::string(small), ProgramDirectory().substr(0, sizeof small - 1));
  EXPECT_FALSE(ProbeModuleDirectory(buffer, sizeof buffer, kBesideProgram, "zul_not_loaded_module.dll"));
  EXPECT_EQ(buffer + std::string(1, kPathSeparator), ProgramDirectory());
}

// Loads from the directory found, the current directory restored; writes nothing when an argument is
// missing. With ZUL_BRIDGE_DEBUG above 0, a failure says why on standard output.
TEST(LocateAndLoadLibrary, LoadsRestoresAndTellsWhy) {
  const std::string before = CurrentDirectory();
  HMODULE module = nullptr;
  ASSERT_TRUE(LocateAndLoadLibrary(kBesideProgram, "QelDir", &module));
  EXPECT_NE(GetProcAddress(module, "ZUL_MSCOMPAL_Initialize"), nullptr);
  EXPECT_EQ(CurrentDirectory(), before);
  FreeLibrary(module);
  module = reinterpret_cast<HMODULE>(0x10);
  EXPECT_FALSE(LocateAndLoadLibrary(nullptr, "QelDir", &module) ||
               LocateAndLoadLibrary("", "QelDir", &module) || LocateAndLoadLibrary("x", nullptr, &module) ||
               LocateAndLoadLibrary("x", "", &module) ||
               LocateAndLoadLibrary(kBesideProgram, "QelDir", nullptr));
  EXPECT_EQ(module, reinterpret_cast<HMODULE>(0x10));

  const std::string directory = ProgramDirectory(), fits(2047, '1'), tooLong(2048, '1');
  const std::string notLocated = "Failed to locate library file '" + std::string(kAbsent) +
                                 "' in directory '" + directory.substr(0, directory.size() - 1) + "'\n";
  const std::string notLoaded = "LoadLibrary(" + directory + kAbsent + ") failed.\n";
  const std::pair<const char*, bool> rows[] = {
      {nullptr, false}, {"0", false},   {"-1", false},        {"abc", false},          {"1", true},
      {" 7", true},     {"3xyz", true}, {fits.c_str(), true}, {tooLong.c_str(), false}};
  for (const auto& [debug, told] : rows) {
    ScopedEnvironment level("ZUL_BRIDGE_DEBUG", debug);
    for (const char* binDir : {static_cast<const char*>(nullptr), directory.c_str()}) {
      ScopedEnvironment where("ZUL_BIN_DIR", binDir);
      ::testing::internal::CaptureStdout();
      EXPECT_FALSE(LocateAndLoadLibrary(kAbsent, "QelDir", &module));
      EXPECT_EQ(::testing::internal::GetCapturedStdout(), !told    ? ""
                                                          : binDir ? notLoaded
                                                                   : notLocated)
          << (debug ? std::string(debug).substr(0, 8) : "unset");
      EXPECT_EQ(CurrentDirectory(), before);
    }
  }
}

}  // namespace
}  // namespace zul

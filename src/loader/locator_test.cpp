#include "loader/locator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bridge_double_client.h"
#include "scoped_environment.h"

namespace zul {
namespace {

using testing::CurrentDirectory;
using testing::ScopedEnvironment;
using testing::TestProgramDirectory;

// A file that lies next to none of the modules, so that the search reaches ZUL_BIN_DIR.
constexpr const char* kAbsentFile = "zul_absent_file.bin";

// A path written with '|' for the separator of this target.
std::string Path(std::string text) {
  for (char& c : text) c = c == '|' ? kPathSeparator : c;
  return text;
}

std::string WithoutTrailingSeparator(std::string directory) {
  directory.pop_back();
  return directory;
}

TEST(BoundedAppend, AppendsOnlyWhatFitsWhole) {
  struct Case {
    const char* start;
    const char* text;
    size_t capacity;
    bool appended;
    const char* result;
  } const cases[] = {
      {"abc", "def", 7, true, "abcdef"},
      {"abc", "def", 6, false, "abc"},  // no room for the terminator
      {"", "", 1, true, ""},
      {"abc", "", 4, true, "abc"},
      {"abcdef", "g", 4, false, "abcdef"},  // already fills the capacity: not even terminated within it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.start) + "+" + c.text);
    char buffer[16] = {};
    std::strcpy(buffer, c.start);
    EXPECT_EQ(BoundedAppend(buffer, c.text, c.capacity), c.appended);
    EXPECT_STREQ(buffer, c.result);
  }
}

TEST(FindLibraryDirectory, BinDirRulesWhenNoModuleDirectoryQualifies) {
  const std::string long258(258, 'd');
  const std::string long259(259, 'd');
  struct Case {
    std::string value;
    bool found;
    std::string directory;
  } const cases[] = {
      {Path("|R|bin|bin.x86"), true, Path("|R|bin|bin.x86_64|")},
      {Path("|R|bin|bin.x86_64|sub"), true, Path("|R|bin|bin.x86_64|")},
      {Path("|R|bin|bin.x86_64"), true, Path("|R|bin|bin.x86_64|")},
      {Path("|R|bin|bin.x86|a|bin|bin.x86"), true, Path("|R|bin|bin.x86_64|")},
      {Path("|opt|zul"), true, Path("|opt|zul|")},
      {Path("|opt|zul|"), true, Path("|opt|zul|")},
      {"D:/lib/", true, "D:/lib/"},
      {long258, true, long258 + kPathSeparator},
      {long259, false, ""},
      {std::string(5000, 'e'), false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.size() > 40 ? std::to_string(c.value.size()) + " characters" : c.value);
    ScopedEnvironment binDir("ZUL_BIN_DIR", c.value.c_str());
    char buffer[260];
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(FindLibraryDirectory(buffer, sizeof buffer, kAbsentFile), c.found);
    if (c.found) {
      EXPECT_EQ(buffer, c.directory);
    }
    EXPECT_NE(std::memchr(buffer, 0, sizeof buffer), nullptr) << "terminated within the buffer";
  }
}

// The host program's directory comes first, whatever ZUL_BIN_DIR says; without either nothing is found.
TEST(FindLibraryDirectory, HostProgramDirectoryWinsAndNoBinDirFails) {
  char buffer[260] = {};
  {
    ScopedEnvironment binDir("ZUL_BIN_DIR", Path("|elsewhere|").c_str());
    ASSERT_TRUE(FindLibraryDirectory(buffer, sizeof buffer, testing::kBridgeDoubleFile));
    EXPECT_EQ(buffer, TestProgramDirectory());
  }
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    ScopedEnvironment binDir("ZUL_BIN_DIR", value);
    EXPECT_FALSE(FindLibraryDirectory(buffer, sizeof buffer, kAbsentFile));
  }
  EXPECT_FALSE(FindLibraryDirectory(nullptr, 260, kAbsentFile));
  EXPECT_FALSE(FindLibraryDirectory(buffer, -1, kAbsentFile));
}

// A failed probe leaves the module's directory without its separator; one too long for the buffer is cut
// and terminated; a module that is not loaded leaves the buffer alone.
TEST(ProbeModuleDirectory, FindsFilesNextToTheHostProgramOnly) {
  const std::string directory = TestProgramDirectory();
  char buffer[260] = {};
  ASSERT_TRUE(ProbeModuleDirectory(buffer, sizeof buffer, testing::kBridgeDoubleFile, nullptr));
  EXPECT_EQ(buffer, directory);
  EXPECT_FALSE(ProbeModuleDirectory(buffer, sizeof buffer, kAbsentFile, nullptr));
  EXPECT_EQ(buffer, WithoutTrailingSeparator(directory));
  char small[8];
  std::memset(small, 'x', sizeof small);
  EXPECT_FALSE(ProbeModuleDirectory(small, sizeof small, testing::kBridgeDoubleFile, nullptr));
  EXPECT_EQ(std::string(small), directory.substr(0, sizeof small - 1));
  std::strcpy(buffer, "untouched");
  EXPECT_FALSE(ProbeModuleDirectory(buffer, sizeof buffer, kAbsentFile, "zul_not_loaded_module.dll"));
  EXPECT_STREQ(buffer, "untouched");
}

TEST(LocateAndLoadLibrary, RefusesMissingArgumentsWithoutWritingAnything) {
  HMODULE sentinel = reinterpret_cast<HMODULE>(0x10);
  struct Case {
    const char* file;
    const char* key;
    bool handle;
  } const cases[] = {
      {nullptr, "QelDir", true}, {"", "QelDir", true},   {"x", nullptr, true},
      {"x", "", true},           {"x", "QelDir", false},
  };
  for (const Case& c : cases) {
    HMODULE module = sentinel;
    EXPECT_FALSE(LocateAndLoadLibrary(c.file, c.key, c.handle ? &module : nullptr));
    EXPECT_EQ(module, sentinel);
  }
}

TEST(LocateAndLoadLibrary, LoadsFromTheFoundDirectoryAndRestoresTheCurrentDirectory) {
  const std::string before = CurrentDirectory();
  HMODULE module = nullptr;
  ASSERT_TRUE(LocateAndLoadLibrary(testing::kBridgeDoubleFile, "QelDir", &module));
  EXPECT_NE(module, nullptr);
  EXPECT_NE(GetProcAddress(module, "ZUL_QEL_Initialize"), nullptr);
  EXPECT_EQ(CurrentDirectory(), before);
  FreeLibrary(module);
}

// Runs one search with ZUL_BRIDGE_DEBUG at value and returns what reached standard output.
std::string DiagnosticsFor(const char* debugValue, const char* binDir) {
  ScopedEnvironment debug("ZUL_BRIDGE_DEBUG", debugValue);
  ScopedEnvironment directory("ZUL_BIN_DIR", binDir);
  const std::string before = CurrentDirectory();
  HMODULE module = nullptr;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(LocateAndLoadLibrary(kAbsentFile, "QelDir", &module));
  const std::string written = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(module, nullptr);
  EXPECT_EQ(CurrentDirectory(), before) << "restored after a failed load too";
  return written;
}

TEST(LocateAndLoadLibrary, DiagnosticsOnlyWhenTheDebugLevelIsAboveZero) {
  const std::string program = TestProgramDirectory();
  const std::string loadDirectory = program + "incomplete" + kPathSeparator;
  const std::string notLocated = "Failed to locate library file '" + std::string(kAbsentFile) +
                                 "' in directory '" + WithoutTrailingSeparator(program) + "'\n";
  const std::string notLoaded = "LoadLibrary(" + loadDirectory + kAbsentFile + ") failed.\n";
  const std::string tooLong(2048, '1');
  const std::string fits(2047, '1');

  struct Case {
    const char* debug;
    bool written;
  } const cases[] = {
      {nullptr, false},         {"0", false}, {"-1", false}, {"abc", false}, {"", false},
      {tooLong.c_str(), false}, {"1", true},  {"2", true},   {" 7", true},   {"3xyz", true},
      {fits.c_str(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.debug == nullptr ? "unset" : std::string(c.debug).substr(0, 20));
    EXPECT_EQ(DiagnosticsFor(c.debug, nullptr), c.written ? notLocated : "");
    EXPECT_EQ(DiagnosticsFor(c.debug, loadDirectory.c_str()), c.written ? notLoaded : "");
  }
}

}  // namespace
}  // namespace zul

// Finding and binding the bridge, each case in a process of its own (the binding is process-wide),
// started by CTest from the directory the case needs. The cases are disabled so that a plain run of
// the program does nothing; CTest selects one with --gtest_also_run_disabled_tests.
#include "zul/pal_mscom.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "bridge_double_client.h"
#include "scoped_environment.h"

namespace zul::testing {
namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string ContextMessage() {
  BSTR message = nullptr;
  EXPECT_EQ(ZUL_MSCOMPAL_GetLastError(0, &message), S_OK);
  std::string text;
  for (UINT i = 0; message != nullptr && i < SysStringLen(message); ++i)
    text += static_cast<char>(message[i]);
  SysFreeString(message);
  return text;
}

// The directory that the loaded bridge double came from, with a separator; empty when not loaded.
std::string LoadedDoubleDirectory() {
  HMODULE module = GetModuleHandleA(kBridgeDoubleFile);
  if (module == nullptr) return "";
  char path[4096] = {};
  GetModuleFileNameA(module, path, sizeof path);
  const std::string file(path);
  return file.substr(0, file.find_last_of("\\/") + 1);
}

std::string Parent(const std::string& directory) {
  const std::string trimmed = directory.substr(0, directory.size() - 1);
  return trimmed.substr(0, trimmed.find_last_of("\\/") + 1);
}

// The exports that bind the bridge before their work, with harmless arguments.
std::vector<HRESULT> BridgeExportResults() {
  VARIANT value;
  VariantInit(&value);
  BSTR name = nullptr;
  int32_t cookie = 0;
  EventRecord event{1};
  return {
      ZUL_MSCOMPAL_Abort(1),
      ZUL_MSCOMPAL_CallMethod(1, OLESTR("m"), 0, nullptr, nullptr, nullptr),
      ZUL_MSCOMPAL_CreateObject(1, 0, nullptr, nullptr, 0, 0, 0),
      ZUL_MSCOMPAL_CreateProxyWrapper(1),
      ZUL_MSCOMPAL_DestroyObject(1),
      ZUL_MSCOMPAL_DestroyProxyWrapper(1),
      ZUL_MSCOMPAL_ExecuteString(1, OLESTR("x")),
      ZUL_MSCOMPAL_GetZULVariable(1, OLESTR("x"), &value),
      ZUL_MSCOMPAL_GetObjVariableName(1, &name),
      ZUL_MSCOMPAL_GetProperty(1, OLESTR("p"), &value),
      ZUL_MSCOMPAL_OnEvent(1, &event),
      ZUL_MSCOMPAL_RegisterWrapper(OLESTR("C"), 0, OLESTR("P"), &cookie),
      ZUL_MSCOMPAL_ReleaseWrapper(1),
      ZUL_MSCOMPAL_SetZULVariable(1, OLESTR("x"), value),
      ZUL_MSCOMPAL_SetProperty(1, OLESTR("p"), 0, nullptr, nullptr),
  };
}

// Binds through ZUL_BIN_DIR = value and checks that the double came from expected.
void ExpectBoundThroughBinDir(const std::string& value, const std::string& expected) {
  ScopedEnvironment binDir("ZUL_BIN_DIR", value.c_str());
  const std::string before = CurrentDirectory();
  ASSERT_EQ(ZUL_MSCOMPAL_Initialize(), S_OK) << ContextMessage();
  EXPECT_EQ(LoadedDoubleDirectory(), expected);
  EXPECT_EQ(CurrentDirectory(), before);
}

// ---- from the directory of the test programs, next to the complete double ------------------------

TEST(Binding, DISABLED_HostProgramDirectoryWinsOverBinDir) {
  ScopedEnvironment binDir("ZUL_BIN_DIR", (TestProgramDirectory() + "incomplete").c_str());
  const std::string before = CurrentDirectory();
  ASSERT_EQ(ZUL_MSCOMPAL_Initialize(), S_OK) << ContextMessage();
  EXPECT_EQ(LoadedDoubleDirectory(), TestProgramDirectory());
  EXPECT_EQ(CurrentDirectory(), before);

  BridgeDouble& bridge = LoadedBridgeDouble();
  const auto calls = bridge.CallsTo(BridgeEntry::kInitialize);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0]->args[0], 1);
  EXPECT_EQ(calls[0]->args[1], 1);
}

TEST(Binding, DISABLED_FailedInitialisationIsReportedOnceAndNotRetried) {
  // Loaded first, so that it can be scripted before the library binds it.
  HMODULE held = LoadLibraryA((TestProgramDirectory() + kBridgeDoubleFile).c_str());
  ASSERT_NE(held, nullptr);
  BridgeDouble& bridge = LoadedBridgeDouble();
  bridge.SetResult(static_cast<int>(BridgeEntry::kInitialize), -5);
  bridge.SetLastError(-5, "the ZUL runtime is not licensed");

  EXPECT_EQ(ZUL_MSCOMPAL_Initialize(), E_FAIL);
  EXPECT_EQ(ContextMessage(), "the ZUL runtime is not licensed");
  EXPECT_EQ(ZUL_MSCOMPAL_Initialize(), S_OK);
  EXPECT_EQ(bridge.CallsTo(BridgeEntry::kInitialize).size(), 1u);
  FreeLibrary(held);
}

TEST(Binding, DISABLED_OnlyTheFirstReleaseUnloads) {
  ASSERT_EQ(ZUL_MSCOMPAL_Initialize(), S_OK);
  ASSERT_NE(GetModuleHandleA(kBridgeDoubleFile), nullptr);
  EXPECT_EQ(ZUL_MSCOMPAL_Release(), S_OK);
  EXPECT_EQ(GetModuleHandleA(kBridgeDoubleFile), nullptr) << "the counter reached 0: unloaded";

  ASSERT_EQ(ZUL_MSCOMPAL_Initialize(), S_OK) << "bound again";
  EXPECT_NE(GetModuleHandleA(kBridgeDoubleFile), nullptr);
  EXPECT_EQ(ZUL_MSCOMPAL_Release(), S_OK);
  EXPECT_NE(GetModuleHandleA(kBridgeDoubleFile), nullptr) << "the counter went below 0: stays loaded";
  EXPECT_EQ(LoadedBridgeDouble().CallsTo(BridgeEntry::kInitialize).size(), 1u)
      << "the second binding's only one";
  EXPECT_EQ(LoadedBridgeDouble().CallsTo(BridgeEntry::kRelease).size(), 0u);
}

TEST(Binding, DISABLED_ReleaseWithoutInitializeUnloadsNothing) {
  EXPECT_EQ(ZUL_MSCOMPAL_Release(), S_OK);
  EXPECT_EQ(GetModuleHandleA(kBridgeDoubleFile), nullptr);
  ASSERT_EQ(ZUL_MSCOMPAL_Initialize(), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_Release(), S_OK);
  EXPECT_NE(GetModuleHandleA(kBridgeDoubleFile), nullptr);
}

TEST(Binding, DISABLED_ConcurrentFirstUseBindsOnce) {
  HMODULE held = LoadLibraryA((TestProgramDirectory() + kBridgeDoubleFile).c_str());
  ASSERT_NE(held, nullptr);
  constexpr int kThreads = 8;
  std::atomic<int> ready{0};
  std::vector<HRESULT> results(kThreads, E_UNEXPECTED);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      results[i] = ZUL_MSCOMPAL_Initialize();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (HRESULT hr : results) EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(LoadedBridgeDouble().CallsTo(BridgeEntry::kInitialize).size(), 1u);
  FreeLibrary(held);
}

// ---- from a directory without a bridge ------------------------------------------------------------

TEST(Binding, DISABLED_NoBridgeAnywhere) {
  ScopedEnvironment binDir("ZUL_BIN_DIR", nullptr);
  const std::string before = CurrentDirectory();
  EXPECT_EQ(ZUL_MSCOMPAL_Initialize(), E_FAIL);
  const std::string prefix = "LoadLibrary(" + std::string(kBridgeDoubleFile) + ") failed: ";
  const std::string message = ContextMessage();
  EXPECT_EQ(message.substr(0, prefix.size()), prefix) << message;
  EXPECT_EQ(message.back(), '\n');
  EXPECT_EQ(CurrentDirectory(), before);
  for (HRESULT hr : BridgeExportResults()) EXPECT_EQ(hr, E_FAIL);
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterOutputCallback(1), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_Initialize(), E_FAIL) << "tried again, still nothing";
}

TEST(Binding, DISABLED_BinDirWithTrailingSeparator) {
  const std::string directory =
      Parent(TestProgramDirectory()) + "tree" + kSeparator + "bin" + kSeparator + "bin.x86_64" + kSeparator;
  ExpectBoundThroughBinDir(directory, directory);
}

TEST(Binding, DISABLED_BinDirWithoutSeparator) {
  const std::string directory =
      Parent(TestProgramDirectory()) + "tree" + kSeparator + "bin" + kSeparator + "bin.x86_64" + kSeparator;
  ExpectBoundThroughBinDir(directory.substr(0, directory.size() - 1), directory);
}

TEST(Binding, DISABLED_BinDirX86IsRewritten) {
  const std::string bin = Parent(TestProgramDirectory()) + "tree" + kSeparator + "bin" + kSeparator;
  ExpectBoundThroughBinDir(bin + "bin.x86", bin + "bin.x86_64" + kSeparator);
}

TEST(Binding, DISABLED_BinDirOf259CharactersIsRefused) {
  std::string directory =
      Parent(TestProgramDirectory()) + "tree" + kSeparator + "bin" + kSeparator + "bin.x86_64" + kSeparator;
  while (directory.size() < 259) directory.insert(directory.size() - 1, 1, kSeparator);  // same directory
  ScopedEnvironment binDir("ZUL_BIN_DIR", directory.c_str());
  EXPECT_EQ(ZUL_MSCOMPAL_Initialize(), E_FAIL);
  EXPECT_EQ(GetModuleHandleA(kBridgeDoubleFile), nullptr);
}

// ---- from a directory holding the double that lacks its last entry point --------------------------

TEST(Binding, DISABLED_IncompleteBridge) {
  EXPECT_EQ(ZUL_MSCOMPAL_Initialize(), E_FAIL);
  EXPECT_EQ(ContextMessage(),
            "GetProcAddress(" + std::string(kBridgeDoubleFile) + ") failed for: ZUL_QEL_DestroyZULProcess");
  EXPECT_EQ(GetModuleHandleA(kBridgeDoubleFile), nullptr) << "unloaded again";
  for (HRESULT hr : BridgeExportResults()) EXPECT_EQ(hr, E_FAIL);
}

}  // namespace
}  // namespace zul::testing

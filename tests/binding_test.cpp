// Finding and binding the bridge: each case is a process of its own (the binding is process-wide) that CTest
// starts in the scenario directory beside it, with --gtest_also_run_disabled_tests.
#include "zul/pal_mscom.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "loader/locator.h"
#include "platform/resources.h"
#include "bstr_util.h"
#include "scoped_environment.h"

namespace zul::testing {
namespace {

const std::string kBridge = kBridgeLibraryFile, kHere = CurrentDirectory() + kPathSeparator;
const std::string kScenarios = kHere.substr(0, kHere.find_last_of(kPathSeparator, kHere.size() - 2) + 1);

std::string ContextMessage() {  // ASCII
  UniqueBstr message;
  EXPECT_EQ(ZUL_MSCOMPAL_GetLastError(0, message.Receive()), S_OK);
  return std::string(message.Get(), message.Get() + SysStringLen(message.Get()));
}

// Where the bridge came from; for the stub, its counts of Initialize and Release calls and the record that
// Initialize got (10 * field1 + field2) follow. Empty when no bridge is loaded.
std::string Bridge() {
  char path[4096] = {};
  const HMODULE bridge = GetModuleHandleA(kBridgeLibraryFile);
  if (bridge == nullptr) return "";
  const std::string file(path, GetModuleFileNameA(bridge, path, sizeof path));
  auto* calls = reinterpret_cast<const int32_t*>(GetProcAddress(bridge, "ZulStub_Calls"));
  std::string text = file.substr(0, file.find_last_of(kPathSeparator) + 1);
  for (int i : {0, 1, 30}) text += calls != nullptr ? " " + std::to_string(calls[i]) : "";
  return text;
}

// Without a bridge the operations refuse before their work; the callbacks' gate lets them pass.
void ExpectNoBridge() {
  EventRecord event{1};
  EXPECT_EQ(ZUL_MSCOMPAL_ExecuteString(1, OLESTR("x")), E_FAIL);
  EXPECT_EQ(ZUL_MSCOMPAL_OnEvent(1, &event), E_FAIL);
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterOutputCallback(1), S_OK);
  EXPECT_EQ(Bridge(), "");
}

// Beside the stub: first callers at once bind it once, from here, though ZUL_BIN_DIR names another bridge.
// The release that brings the count of contexts to 0 unloads; a later one does not.
TEST(Binding, DISABLED_FirstUse) {
  ScopedEnvironment binDir("ZUL_BIN_DIR", (kScenarios + "incomplete").c_str());
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { failed += ZUL_MSCOMPAL_Initialize() != S_OK; });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(Bridge() + " " + CurrentDirectory() + kPathSeparator, kHere + " 1 0 11 " + kHere);
  EXPECT_EQ(ZUL_MSCOMPAL_Release(), S_OK);
  EXPECT_EQ(Bridge(), "");
  EXPECT_EQ(ZUL_MSCOMPAL_Initialize(), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_Release(), S_OK);
  EXPECT_EQ(Bridge(), kHere + " 1 0 11") << "bound again, and kept";
}

// Beside the stub, told to refuse: reported once, and not retried.
TEST(Binding, DISABLED_RefusedInitialization) {
  EXPECT_EQ(ZUL_MSCOMPAL_Initialize(), E_FAIL);
  EXPECT_EQ(ContextMessage(), "the ZUL runtime is not licensed");
  EXPECT_EQ(ZUL_MSCOMPAL_Initialize(), S_OK);
  EXPECT_EQ(Bridge(), kHere + " 1 0 11");
}

// No bridge anywhere near, until ZUL_BIN_DIR names the reference bridge's tree (bin.x86 read as bin.x86_64),
// relative to the current directory or absolute; either loads the bridge by its full path.
TEST(Binding, DISABLED_NoBridgeThenBinDir) {
  ScopedEnvironment unset("ZUL_BIN_DIR", nullptr);
  EXPECT_EQ(ZUL_MSCOMPAL_Initialize(), E_FAIL);
  const std::string message = ContextMessage(), head = "LoadLibrary(" + kBridge + ") failed: ";
  EXPECT_EQ(message.substr(0, head.size()) + (message.empty() ? '-' : message.back()), head + "\n");
  ExpectNoBridge();
  const std::string tree = std::string("tree") + kPathSeparator + "bin" + kPathSeparator;
  ASSERT_TRUE(SetCurrentDirectoryA(kScenarios.c_str()));
  for (const std::string& bin : {tree, kScenarios + tree}) {
    ScopedEnvironment binDir("ZUL_BIN_DIR", (bin + "bin.x86").c_str());
    EXPECT_EQ(ZUL_MSCOMPAL_Initialize(), S_OK) << ContextMessage();
    EXPECT_EQ(Bridge() + CurrentDirectory() + kPathSeparator,
              kScenarios + tree + "bin.x86_64" + kPathSeparator + kScenarios);
    EXPECT_EQ(ZUL_MSCOMPAL_Release(), S_OK);
  }
  SetCurrentDirectoryA(kHere.c_str());
}

// Beside the stub that lacks its last entry point: refused, and unloaded again.
TEST(Binding, DISABLED_IncompleteBridge) {
  EXPECT_EQ(ZUL_MSCOMPAL_Initialize(), E_FAIL);
  EXPECT_EQ(ContextMessage(), "GetProcAddress(" + kBridge + ") failed for: ZUL_QEL_DestroyZULProcess");
  ExpectNoBridge();
}

// Beside the bridge skeleton of examples/: bound, and its calls answer as it says: a method's result, a
// by-reference argument changed in place (flagged as a script client flags it), a property read.
TEST(Binding, DISABLED_Skeleton) {
  int32_t cookie = 0;
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(OLESTR("Greeter"), 0, nullptr, &cookie), S_OK) << ContextMessage();
  EXPECT_EQ(ZUL_MSCOMPAL_CreateObject(cookie, 0, nullptr, nullptr, 0, 0, 0), S_OK);
  UniqueVariant name, greeting, shouted, salutation;
  name->vt = VT_BSTR;
  name->bstrVal = SysAllocString(OLESTR("zul"));
  uint32_t flags[] = {ArgFlag::InOnly, ArgFlag::WriteBack | ArgFlag::WriteBackChanged | ArgFlag::Reorder};
  EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Greet"), 1, name.Get(), &flags[0], greeting.Get()), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Shout"), 1, name.Get(), &flags[1], shouted.Get()), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_GetProperty(cookie, OLESTR("Salutation"), salutation.Get()), S_OK);
  EXPECT_EQ(Ascii(greeting->bstrVal) + " " + Ascii(name->bstrVal) + " " + std::to_string(shouted->lVal) +
                " " + Ascii(salutation->bstrVal) + " " + Bridge(),
            "Hello, zul. ZUL 0 Hello " + kHere);
  EXPECT_EQ(ZUL_MSCOMPAL_Release(), S_OK);
}

}  // namespace
}  // namespace zul::testing

#include "bridge_double_client.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "loader/binding.h"

namespace zul::testing {

bool BridgeDouble::Bind(HMODULE module) {
  bool complete = true;
#define ZUL_DOUBLE_BIND(name)                                                                                \
  name =                                                                                                     \
      reinterpret_cast<decltype(name)>(reinterpret_cast<void*>(GetProcAddress(module, "ZulDouble_" #name))); \
  complete = complete && name != nullptr;
  ZUL_DOUBLE_CONTROL(ZUL_DOUBLE_BIND)
#undef ZUL_DOUBLE_BIND
  return complete;
}

std::vector<const ZulDoubleCall*> BridgeDouble::CallsTo(BridgeEntry entry) const {
  std::vector<const ZulDoubleCall*> calls;
  for (int32_t i = 0, n = CallCount(); i < n; ++i) {
    const ZulDoubleCall* call = Call(i);
    if (call->entry == static_cast<int>(entry)) calls.push_back(call);
  }
  return calls;
}

std::vector<BridgeEntry> BridgeDouble::Entries() const {
  std::vector<BridgeEntry> entries;
  for (int32_t i = 0, n = CallCount(); i < n; ++i)
    entries.push_back(static_cast<BridgeEntry>(Call(i)->entry));
  return entries;
}

std::string TestProgramDirectory() {
  char path[4096] = {};
#ifdef _WIN32
  GetModuleFileNameA(nullptr, path, sizeof path - 1);
  const char separator = '\\';
#else
  if (readlink("/proc/self/exe", path, sizeof path - 1) < 0) return "./";
  const char separator = '/';
#endif
  std::string directory(path);
  return directory.substr(0, directory.find_last_of(separator) + 1);
}

BridgeDouble& LoadBridgeDouble(BridgeEntries& entries) {
  static HMODULE module = LoadLibraryA((TestProgramDirectory() + kBridgeDoubleFile).c_str());
  static BridgeDouble bridge;
  static const bool bound = module != nullptr && bridge.Bind(module);
  EXPECT_TRUE(bound) << "cannot load the bridge double " << kBridgeDoubleFile;
  if (bound) {
    EXPECT_EQ(ResolveBridgeEntries(module, entries), -1);
    bridge.Reset();
  }
  return bridge;
}

}  // namespace zul::testing

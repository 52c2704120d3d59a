#include "bridge_double_client.h"

#include <gtest/gtest.h>

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
  GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string program(path);
  return program.substr(0, program.find_last_of("\\/") + 1);
}

BridgeDouble& LoadedBridgeDouble() {
  static BridgeDouble bridge;
  HMODULE module = GetModuleHandleA(kBridgeDoubleFile);
  const bool bound = module != nullptr && bridge.Bind(module);
  EXPECT_TRUE(bound) << "the bridge double " << kBridgeDoubleFile << " is not loaded";
  return bridge;
}

}  // namespace zul::testing

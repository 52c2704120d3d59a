#include "loader/binding.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "error/error_model.h"
#include "error/strings.h"
#include "loader/locator.h"
#include "platform/resources.h"

namespace zul {

namespace {

constexpr std::size_t kMessageBytes = 1024;

// Serialises binding and unbinding; never taken on the fast path.
std::mutex g_bindingMutex;

struct LocalTraits {
  static constexpr char* kInvalid = nullptr;
  static void Free(char* text) noexcept { LocalFree(text); }
};
// A text that FormatMessageA allocated.
using UniqueLocalText = UniqueHandle<char*, LocalTraits>;

bool BindLocked(ErrorState& contextError) {
  char message[kMessageBytes];
  UniqueModule module;
  if (!LocateAndLoadLibrary(kBridgeLibraryFile, "QelDir", module.Receive())) {
    UniqueLocalText reason;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        GetLastError(), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(reason.Receive()),
        0, nullptr);
    std::snprintf(message, sizeof message, "LoadLibrary(%s) failed: %s\n", kBridgeLibraryFile,
                  reason.Get() != nullptr ? reason.Get() : "");
    contextError.SetMessage(message);  // the code stays as it is
    return false;
  }

  const int missing = ResolveBridgeEntries(module.Get(), g_bridge.entries);
  if (missing >= 0) {  // the module goes with its owner
    g_bridge.entries.Initialize = nullptr;
    std::snprintf(message, sizeof message, "GetProcAddress(%s) failed for: %s", kBridgeLibraryFile,
                  kBridgeEntryNames[missing]);
    SetContextError(contextError, message);
    return false;
  }

  g_bridge.module = module.Release();
  BridgeInitRecord init{1, 1};
  const int32_t result = g_bridge.entries.Initialize(&init);
  g_bridge.bound.store(true, std::memory_order_release);
  if (result < 0) {
    contextError.SetMessage(g_bridge.entries.GetLastError(nullptr));
    return false;
  }
  return true;
}

}  // namespace

bool EnsureBridgeLoaded(ErrorState& contextError) {
  if (g_bridge.bound.load(std::memory_order_acquire)) return true;
  std::lock_guard lock(g_bindingMutex);
  if (g_bridge.bound.load(std::memory_order_relaxed)) return true;
  return BindLocked(contextError);
}

void ReleaseBridge() noexcept {
  if (g_instanceCounter.fetch_sub(1, std::memory_order_acq_rel) - 1 != 0) return;
  std::lock_guard lock(g_bindingMutex);
  if (g_bridge.module == nullptr) return;
  if (g_bridge.entries.Release != nullptr) g_bridge.entries.Release();
  g_bridge.bound.store(false, std::memory_order_release);
  g_bridge.entries.Initialize = nullptr;
  const UniqueModule unloaded = UniqueModule::Adopt(std::exchange(g_bridge.module, nullptr));
}

int ResolveBridgeEntries(HMODULE module, BridgeEntries& entries) noexcept {
#define ZUL_RESOLVE_ENTRY(index, name)                                            \
  entries.name = reinterpret_cast<decltype(entries.name)>(                        \
      reinterpret_cast<void*>(GetProcAddress(module, kBridgeEntryNames[index]))); \
  if (entries.name == nullptr) return index;
  ZUL_QEL_ENTRY_POINTS(ZUL_RESOLVE_ENTRY)
#undef ZUL_RESOLVE_ENTRY
  return -1;
}

HRESULT CaptureBridgeError(ErrorState& state, ErrorState& contextError) {
  state.ClearMessage();
  int32_t code = -1;  // the bridge writes its code here
  const char* text = g_bridge.entries.GetLastError(&code);
  state.SetCode(code);
  state.SetMessage(text);
  return MapBridgeError(contextError, code);
}

}  // namespace zul

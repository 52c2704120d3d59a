#include "pal/module.h"

#include <atomic>

namespace zul {

namespace {

std::atomic<int32_t> g_attached{0};

// Constructed when the library is loaded, before process attach; destroyed after process detach.
PalContext g_context;

}  // namespace

PalContext& Context() noexcept {
  return g_context;
}

void ProcessAttach() noexcept {
  CreateRegistryLock();
  g_attached.store(1, std::memory_order_release);
}

void ProcessDetach() noexcept {
  DeleteRegistryLock();
  g_attached.store(0, std::memory_order_release);
}

bool IsAttached() noexcept {
  return g_attached.load(std::memory_order_acquire) != 0;
}

}  // namespace zul

#ifdef _WIN32
// The loader runs static construction before process attach and static destruction after detach.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) zul::ProcessAttach();
  if (reason == DLL_PROCESS_DETACH) zul::ProcessDetach();
  return TRUE;
}
#else
namespace {
// Stands in for the Windows loader's notifications: defined after the context in this file, so it
// is constructed after it (attach) and destroyed before it (detach).
struct ModuleNotifications {
  ModuleNotifications() noexcept { zul::ProcessAttach(); }
  ~ModuleNotifications() { zul::ProcessDetach(); }
} g_moduleNotifications;
}  // namespace
#endif

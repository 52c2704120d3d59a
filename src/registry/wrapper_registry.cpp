#include "registry/wrapper_registry.h"

#include <atomic>
#include <new>

namespace zul {

namespace {

CRITICAL_SECTION g_registryLock;
std::atomic<int32_t> g_registryLockLive{0};

// Holds the registry lock for one scope, if the lock exists.
class RegistryLockScope {
 public:
  RegistryLockScope() noexcept : held_(RegistryLockLive()) {
    if (held_) EnterCriticalSection(&g_registryLock);
  }
  RegistryLockScope(const RegistryLockScope&) = delete;
  RegistryLockScope& operator=(const RegistryLockScope&) = delete;
  ~RegistryLockScope() {
    if (held_) LeaveCriticalSection(&g_registryLock);
  }

 private:
  const bool held_;
};

// A copy made with SysAllocString, or null for a null name; false when it cannot be allocated.
bool CopyName(UniqueBstr& field, const OLECHAR* name) noexcept {
  if (name == nullptr) return true;
  field.Reset(SysAllocString(name));
  return field.Get() != nullptr;
}

}  // namespace

void CreateRegistryLock() noexcept {
  if (RegistryLockLive()) return;
  InitializeCriticalSection(&g_registryLock);
  g_registryLockLive.store(1, std::memory_order_release);
}

void DeleteRegistryLock() noexcept {
  if (!RegistryLockLive()) return;
  g_registryLockLive.store(0, std::memory_order_release);
  DeleteCriticalSection(&g_registryLock);
}

bool RegistryLockLive() noexcept {
  return g_registryLockLive.load(std::memory_order_acquire) != 0;
}

WrapperInfo* WrapperRegistry::Find(int32_t cookie) const noexcept {
  RegistryLockScope lock;
  const auto it = records_.find(cookie);
  return it == records_.end() ? nullptr : it->second.get();
}

bool WrapperRegistry::Add(int32_t cookie, const OLECHAR* className, const OLECHAR* procName) noexcept {
  RegistryLockScope lock;
  std::unique_ptr<WrapperInfo> record(new (std::nothrow) WrapperInfo(cookie));
  if (!record || !CopyName(record->className, className) || !CopyName(record->procName, procName)) {
    return false;
  }
  try {
    records_.try_emplace(cookie, std::move(record));  // a duplicate keeps the first record
  } catch (...) {
    return false;
  }
  return true;
}

bool WrapperRegistry::Remove(int32_t cookie) noexcept {
  RegistryLockScope lock;
  records_.erase(cookie);
  return true;
}

void WrapperRegistry::Teardown() noexcept {
  RegistryLockScope lock;
  records_.clear();
}

}  // namespace zul

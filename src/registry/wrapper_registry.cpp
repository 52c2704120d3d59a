#include "registry/wrapper_registry.h"

#include <atomic>
#include <new>
#include <shared_mutex>

#include "platform/ole.h"

namespace zul {

namespace {

// The registry lock: every call looks a cookie up, while only registration, release and proxies
// change the map. A lookup takes one shard shared, the shard of the processor it runs on, so threads
// running at the same time touch cache lines of their own, however many threads come and go; a change
// takes every shard exclusively, in order.
constexpr unsigned kShards = 16;

struct alignas(64) Shard {
  std::shared_mutex mutex;
};

// The shards exist from CreateRegistryLock to DeleteRegistryLock, as a critical section would.
alignas(Shard) unsigned char g_shardStorage[sizeof(Shard) * kShards];
std::atomic<int32_t> g_registryLockLive{0};

Shard* Shards() noexcept {
  return std::launder(reinterpret_cast<Shard*>(g_shardStorage));
}

// A thread that moves to another processor meanwhile still releases the shard it took.
std::shared_mutex& ProcessorShard() noexcept {
  return Shards()[GetCurrentProcessorNumber() % kShards].mutex;
}

// Holds the calling processor's shard shared for one lookup, if the lock exists.
class LookupScope {
 public:
  LookupScope() noexcept : shard_(RegistryLockLive() ? &ProcessorShard() : nullptr) {
    if (shard_ != nullptr) shard_->lock_shared();
  }
  LookupScope(const LookupScope&) = delete;
  LookupScope& operator=(const LookupScope&) = delete;
  ~LookupScope() {
    if (shard_ != nullptr) shard_->unlock_shared();
  }

 private:
  std::shared_mutex* const shard_;
};

// Holds every shard exclusively for one change, if the lock exists.
class ChangeScope {
 public:
  ChangeScope() noexcept : held_(RegistryLockLive()) {
    if (!held_) return;
    for (unsigned i = 0; i < kShards; ++i) Shards()[i].mutex.lock();
  }
  ChangeScope(const ChangeScope&) = delete;
  ChangeScope& operator=(const ChangeScope&) = delete;
  ~ChangeScope() {
    if (!held_) return;
    for (unsigned i = kShards; i-- > 0;) Shards()[i].mutex.unlock();
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
  for (unsigned i = 0; i < kShards; ++i) new (&Shards()[i]) Shard;
  g_registryLockLive.store(1, std::memory_order_release);
}

void DeleteRegistryLock() noexcept {
  if (!RegistryLockLive()) return;
  g_registryLockLive.store(0, std::memory_order_release);
  for (unsigned i = 0; i < kShards; ++i) Shards()[i].~Shard();
}

bool RegistryLockLive() noexcept {
  return g_registryLockLive.load(std::memory_order_acquire) != 0;
}

WrapperPin WrapperRegistry::Find(int32_t cookie) const noexcept {
  LookupScope lock;
  const auto it = records_.find(cookie);
  return it == records_.end() ? WrapperPin() : WrapperPin::Share(it->second.Get());
}

bool WrapperRegistry::Add(int32_t cookie, const OLECHAR* className, const OLECHAR* procName) noexcept {
  WrapperPin record = WrapperPin::Adopt(new (std::nothrow) WrapperInfo(cookie));
  if (record == nullptr || !CopyName(record->className, className) || !CopyName(record->procName, procName)) {
    return false;
  }
  ChangeScope lock;
  try {
    records_.try_emplace(cookie, std::move(record));  // a duplicate keeps the first record
  } catch (...) {
    return false;
  }
  return true;
}

bool WrapperRegistry::Remove(int32_t cookie) noexcept {
  WrapperPin removed;  // let go after the lock
  ChangeScope lock;
  const auto it = records_.find(cookie);
  if (it == records_.end()) return true;
  removed = std::move(it->second);
  records_.erase(it);
  return true;
}

void WrapperRegistry::Teardown() noexcept {
  ChangeScope lock;
  records_.clear();
}

}  // namespace zul

// The map from cookie to WrapperInfo. Only its structure is guarded, by the process-wide registry
// lock: lookups share it and run in parallel, adding and removing hold it alone. A lookup hands out a
// pin, counted under the shared lock, and the caller uses the record through it without the lock; a
// release on another thread meanwhile only takes the record out of the map, and the last pin frees it.
// A lookup that starts after the release finds nothing.
#pragma once

#include <cstdint>
#include <map>

#include "registry/wrapper_info.h"

namespace zul {

// The registry lock exists from process attach to process detach.
void CreateRegistryLock() noexcept;
void DeleteRegistryLock() noexcept;
bool RegistryLockLive() noexcept;

class WrapperRegistry {
 public:
  WrapperRegistry() = default;
  WrapperRegistry(const WrapperRegistry&) = delete;
  WrapperRegistry& operator=(const WrapperRegistry&) = delete;
  ~WrapperRegistry() { Teardown(); }

  // A pin on the cookie's record, or an empty pin if absent. The one lookup of the library.
  WrapperPin Find(int32_t cookie) const noexcept;
  // True when the cookie is registered afterwards; an existing record stays exactly as it was.
  // Names are copied up to their first NUL; a null name gives a null field. False, with nothing
  // added, when memory runs out.
  bool Add(int32_t cookie, const OLECHAR* className, const OLECHAR* procName) noexcept;
  // Takes the cookie's record, if any, out of the map; it is destroyed now or when its last pin goes.
  // Tells nobody.
  bool Remove(int32_t cookie) noexcept;
  // Takes every record out as Remove does; takes the lock only while it exists.
  void Teardown() noexcept;

 private:
  std::map<int32_t, WrapperPin> records_;  // the registry's own pin on each record
};

}  // namespace zul

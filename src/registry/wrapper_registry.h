// The map from cookie to WrapperInfo. Only its structure is guarded, by the process-wide registry
// lock: lookups share it and run in parallel, adding and removing hold it alone. A caller uses the
// record it found without the lock, so a cookie must not be released while another call on it runs.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

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

  // The registry's own record, valid until Remove of its cookie or the teardown; null if absent.
  WrapperInfo* Find(int32_t cookie) const noexcept;
  // True when the cookie is registered afterwards; an existing record stays exactly as it was.
  // Names are copied up to their first NUL; a null name gives a null field. False, with nothing
  // added, when memory runs out.
  bool Add(int32_t cookie, const OLECHAR* className, const OLECHAR* procName) noexcept;
  // Destroys the cookie's record, if any. Tells nobody.
  bool Remove(int32_t cookie) noexcept;
  // Destroys every record; takes the lock only while it exists.
  void Teardown() noexcept;

 private:
  std::map<int32_t, std::unique_ptr<WrapperInfo>> records_;
};

}  // namespace zul

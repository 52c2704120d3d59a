// The one process-wide context: the wrapper registry and the library's own last error.
#pragma once

#include <atomic>
#include <cstdint>

#include "error/error_model.h"
#include "error/error_state.h"
#include "error/messages.h"
#include "registry/wrapper_registry.h"

namespace zul {

class PalContext {
 public:
  // An empty registry, code -1 and an empty (non-null) message; raises the instance counter.
  // Throws BstrFailure when the empty message cannot be allocated.
  PalContext();
  PalContext(const PalContext&) = delete;
  PalContext& operator=(const PalContext&) = delete;
  // Frees the message, then every record, without telling the bridge.
  ~PalContext() = default;

  WrapperPin FindWrapper(int32_t cookie) const noexcept { return registry.Find(cookie); }
  bool AddWrapper(int32_t cookie, const OLECHAR* className, const OLECHAR* procName) noexcept {
    return registry.Add(cookie, className, procName);
  }
  bool RemoveWrapper(int32_t cookie) noexcept { return registry.Remove(cookie); }

  // Destroyed last: at unload the message goes first, then the records.
  WrapperRegistry registry;
  ErrorState lastError;
};

// The wrapper of cookie, or an empty pin after recording the invalid cookie on the context.
inline WrapperPin FindWrapperOrReport(PalContext& context, int32_t cookie) {
  WrapperPin wrapper = context.FindWrapper(cookie);
  if (wrapper == nullptr) SetContextError(context.lastError, MessageText(Msg::kInvalidCookie));
  return wrapper;
}

// The context that the bridge's callbacks reach; set by the first wrapper registration, never cleared.
inline std::atomic<PalContext*> g_callbackContext{nullptr};

}  // namespace zul

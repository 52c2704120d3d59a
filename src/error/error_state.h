// The last failure of the library as a whole or of one wrapper. Success never resets it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/resources.h"

namespace zul {

// Any thread may record or read a failure at any time (two failing calls, a read of the last error
// beside a call that fails): a short lock keeps the message whole, so no reader ever sees a freed
// BSTR. Texts are converted outside the lock.
class ErrorState {
 public:
  ErrorState() = default;
  ErrorState(const ErrorState&) = delete;
  ErrorState& operator=(const ErrorState&) = delete;

  // -1 for a failure of this library; otherwise the bridge's own negative code.
  int32_t Code() const noexcept { return code_.load(std::memory_order_relaxed); }
  void SetCode(int32_t code) noexcept { code_.store(code, std::memory_order_relaxed); }

  // Replaces the message with text converted from the thread's ANSI code page; a null text leaves
  // none. Throws BstrFailure, with no message left, when it cannot be converted.
  void SetMessage(const char* text);
  // Replaces the message with a wide text; false, with no message left, when it cannot be allocated.
  bool TrySetMessage(const OLECHAR* text) noexcept;
  // Takes ownership of message.
  void SetMessage(UniqueBstr message) noexcept;
  // Code, then message.
  void Set(int32_t code, const char* text) {
    SetCode(code);
    SetMessage(text);
  }
  void ClearMessage() noexcept { SetMessage(UniqueBstr()); }

  // Null and zero-length messages both count as none.
  bool HasMessage() const noexcept;
  // Counts the messages stored so far (none counts too): a failure can tell its own text from an
  // earlier call's.
  uint32_t Revision() const noexcept { return revision_.load(std::memory_order_relaxed); }
  // A byte-for-byte copy (embedded NULs survive); null when there is no message. Throws BstrFailure.
  UniqueBstr CopyMessage() const;
  // A copy for a caller, or null when there is no message; E_OUTOFMEMORY when it cannot be allocated.
  HRESULT CopyMessageOut(BSTR* out) const noexcept;

 private:
  std::atomic<int32_t> code_{-1};
  std::atomic<uint32_t> revision_{0};
  mutable std::mutex mutex_;
  UniqueBstr message_;  // owned
};

}  // namespace zul

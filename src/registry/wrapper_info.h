// The tracking record of one wrapper, shared by the registry under its cookie and by every operation
// that found it there: it lives until the last of them lets go.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>

#include "error/error_state.h"
#include "zul/pal_mscom.h"

namespace zul {

// Aligned to a cache line of its own: threads on separate cookies count pins on separate lines.
struct alignas(64) WrapperInfo {
  explicit WrapperInfo(int32_t cookieIn) noexcept : cookie(cookieIn) {}
  WrapperInfo(const WrapperInfo&) = delete;
  WrapperInfo& operator=(const WrapperInfo&) = delete;

  const int32_t cookie;
  ErrorState error;      // the wrapper's last failure: code -1 and no message until one happens
  UniqueBstr className;  // copy of the registered name; empty for a proxy; null when given null
  UniqueBstr procName;   // likewise

  // The client's functions and their user data, set and read as pairs: the bridge delivers on its own
  // threads while the client registers on others. The user data is handed back, never dereferenced.
  void SetNotify(ZulNotifyCallback callback, void* userData) noexcept {
    std::lock_guard lock(callbackMutex_);
    notifyCallback_ = callback;
    notifyUserData_ = userData;
  }
  void SetOutput(ZulOutputCallback callback, void* userData) noexcept {
    std::lock_guard lock(callbackMutex_);
    outputCallback_ = callback;
    outputUserData_ = userData;
  }
  std::pair<ZulNotifyCallback, void*> Notify() const noexcept {
    std::lock_guard lock(callbackMutex_);
    return {notifyCallback_, notifyUserData_};
  }
  std::pair<ZulOutputCallback, void*> Output() const noexcept {
    std::lock_guard lock(callbackMutex_);
    return {outputCallback_, outputUserData_};
  }

 private:
  friend class WrapperPin;
  std::atomic<int32_t> pins_{1};  // the creator's: the registry's, once added
  mutable std::mutex callbackMutex_;
  ZulNotifyCallback notifyCallback_ = nullptr;
  void* notifyUserData_ = nullptr;
  ZulOutputCallback outputCallback_ = nullptr;
  void* outputUserData_ = nullptr;
};

// A counted hold on one record; the last pin to go destroys it. Pins are made by the registry's lookup,
// under its lock, so a record that has left the registry gains none.
class WrapperPin {
 public:
  WrapperPin() noexcept = default;
  WrapperPin(WrapperPin&& other) noexcept : record_(std::exchange(other.record_, nullptr)) {}
  WrapperPin& operator=(WrapperPin&& other) noexcept {
    WrapperPin(std::move(other)).Swap(*this);
    return *this;
  }
  ~WrapperPin() { Reset(); }

  // Takes over the creator's count of a new record.
  static WrapperPin Adopt(WrapperInfo* record) noexcept { return WrapperPin(record); }
  // One more hold on a record that some pin holds now.
  static WrapperPin Share(WrapperInfo* record) noexcept {
    if (record != nullptr) record->pins_.fetch_add(1, std::memory_order_relaxed);
    return WrapperPin(record);
  }

  WrapperInfo* Get() const noexcept { return record_; }
  WrapperInfo* operator->() const noexcept { return record_; }
  WrapperInfo& operator*() const noexcept { return *record_; }
  friend bool operator==(const WrapperPin& pin, std::nullptr_t) noexcept { return pin.record_ == nullptr; }

  void Reset() noexcept {
    WrapperInfo* record = std::exchange(record_, nullptr);
    // Acquire on the last release: every use through other pins happens before the destruction.
    if (record != nullptr && record->pins_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete record;
  }
  void Swap(WrapperPin& other) noexcept { std::swap(record_, other.record_); }

 private:
  explicit WrapperPin(WrapperInfo* record) noexcept : record_(record) {}
  WrapperInfo* record_ = nullptr;
};

}  // namespace zul

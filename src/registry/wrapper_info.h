// The tracking record of one wrapper, owned by the registry under its cookie.
#pragma once

#include <cstdint>
#include <mutex>
#include <utility>

#include "error/error_state.h"
#include "zul/pal_mscom.h"

namespace zul {

struct WrapperInfo {
  explicit WrapperInfo(int32_t cookieIn) noexcept : cookie(cookieIn) {}

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
  mutable std::mutex callbackMutex_;
  ZulNotifyCallback notifyCallback_ = nullptr;
  void* notifyUserData_ = nullptr;
  ZulOutputCallback outputCallback_ = nullptr;
  void* outputUserData_ = nullptr;
};

}  // namespace zul

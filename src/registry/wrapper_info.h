// The tracking record of one wrapper, owned by the registry under its cookie.
#pragma once

#include <cstdint>

#include "error/error_state.h"
#include "zul/pal_mscom.h"

namespace zul {

struct WrapperInfo {
  explicit WrapperInfo(int32_t cookieIn) noexcept : cookie(cookieIn) {}

  const int32_t cookie;
  ErrorState error;      // the wrapper's last failure: code -1 and no message until one happens
  UniqueBstr className;  // copy of the registered name; empty for a proxy; null when given null
  UniqueBstr procName;   // likewise
  // The client's functions; user data is handed back unchanged and never dereferenced.
  ZulNotifyCallback notifyCallback = nullptr;
  void* notifyUserData = nullptr;
  ZulOutputCallback outputCallback = nullptr;
  void* outputUserData = nullptr;
};

}  // namespace zul

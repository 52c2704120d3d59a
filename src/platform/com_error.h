// How a failed event reaches the caller: as the COM support library's _com_error.
#pragma once

#include "platform/ole.h"

namespace zul {

// Raises _com_error with hr; the exception takes over the caller's reference to errorInfo (which may be
// null). Call it only where no frame of ours has a destructor left to run: on Windows the exception is
// Microsoft's, which our own unwinder does not know.
#ifdef _WIN32
[[noreturn]] void RaiseComError(HRESULT hr, IErrorInfo* errorInfo);
#else
[[noreturn]] inline void RaiseComError(HRESULT hr, IErrorInfo* errorInfo) {
  throw _com_error(hr, errorInfo);
}
#endif

}  // namespace zul

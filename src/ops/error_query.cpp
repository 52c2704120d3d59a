#include "ops/error_query.h"

#include "error/strings.h"

namespace zul::ops {

HRESULT ReadLastError(PalContext& context, int32_t cookie, BSTR* message) noexcept {
  if (message == nullptr) return E_POINTER;
  *message = nullptr;
  const WrapperPin wrapper = cookie > 0 ? context.FindWrapper(cookie) : WrapperPin();
  const ErrorState& state = wrapper != nullptr ? wrapper->error : context.lastError;
  // A copy that cannot be allocated is not reported: the caller gets null and S_OK.
  state.CopyMessageOut(message);
  return S_OK;
}

}  // namespace zul::ops

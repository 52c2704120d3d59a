#include "error/error_model.h"

#include "error/failure.h"
#include "error/messages.h"
#include "error/strings.h"
#include "zul/qel.h"

namespace zul {

namespace {

struct BridgeErrorRow {
  int32_t bridgeCode;
  HRESULT hr;
  const char* contextMessage;  // null: the context is left alone
};

// Tested in this order; any other code is E_FAIL.
constexpr BridgeErrorRow kBridgeErrors[] = {
    {ZUL_QEL_ERROR_ABORT_REQUESTED, E_ABORT, nullptr},
    {ZUL_QEL_ERROR_NOTHING_TO_ABORT, E_FAIL, kNoActivityMessage},
    {ZUL_QEL_ERROR_OTHER_PROCESS, E_ACCESSDENIED, nullptr},
    {ZUL_QEL_ERROR_ABORTED, E_ABORT, nullptr},
    {ZUL_QEL_ERROR_BUSY, E_ACCESSDENIED, kBusyMessage},
};

}  // namespace

void SetContextError(ErrorState& contextError, const char* text) {
  contextError.Set(-1, text);
}

HRESULT MapBridgeError(ErrorState& contextError, int32_t bridgeCode) {
  for (const BridgeErrorRow& row : kBridgeErrors) {
    if (row.bridgeCode != bridgeCode) continue;
    if (row.contextMessage != nullptr) contextError.Set(bridgeCode, row.contextMessage);
    return row.hr;
  }
  return E_FAIL;
}

HRESULT HandleRaisedFailure(ErrorState& wrapperError, uint32_t revision) noexcept {
  const CaughtFailure failure = ClassifyCurrentException();
  const bool ownText = wrapperError.Revision() != revision && wrapperError.HasMessage();
  switch (failure.kind) {
    case FailureKind::kHResult:
      if (failure.hr == E_OUTOFMEMORY) {
        wrapperError.TrySetMessage(kOutOfMemoryMessage);
        return E_OUTOFMEMORY;
      }
      if (!ownText && !wrapperError.TrySetMessage(kUnexpectedMessage)) return E_OUTOFMEMORY;
      return failure.hr;
    case FailureKind::kConversion:
      if (!ownText && !wrapperError.TrySetMessage(kUnexpectedMessage)) return E_OUTOFMEMORY;
      return E_FAIL;
    case FailureKind::kOther:
      break;
  }
  if (!wrapperError.TrySetMessage(kUnexpectedMessage)) return E_OUTOFMEMORY;
  return E_UNEXPECTED;
}

}  // namespace zul

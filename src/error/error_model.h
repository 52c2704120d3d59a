// Recording failures: on the context, from the bridge's codes, and from failures raised inside an
// argument-processing operation.
#pragma once

#include <cstdint>

#include "error/error_state.h"

namespace zul {

// The context's state gets code -1 and text. Throws BstrFailure when the text cannot be stored.
void SetContextError(ErrorState& contextError, const char* text);

// Turns a bridge error code into an HRESULT. The busy and nothing-to-abort codes also
// put their code and text on the context's state, never on a wrapper's. Throws BstrFailure.
HRESULT MapBridgeError(ErrorState& contextError, int32_t bridgeCode);

// The three handlers of an argument-processing operation, in their fixed order, for the exception
// being handled: they record on the wrapper's state and return the operation's result. A failure that
// stored no text of its own since revision (ErrorState::Revision at the start of the operation) gets
// "Unexpected error.", never an earlier call's text. When the handler's own message cannot be stored
// the result is E_OUTOFMEMORY. Call only from a catch block.
HRESULT HandleRaisedFailure(ErrorState& wrapperError, uint32_t revision) noexcept;

// Runs the guarded stretch of an argument-processing operation: work() returns the result, or raises
// one of the failure kinds, which HandleRaisedFailure maps. Nothing escapes.
template <class Work>
HRESULT RunGuarded(ErrorState& wrapperError, Work&& work) noexcept {
  const uint32_t revision = wrapperError.Revision();
  try {
    return work();
  } catch (...) {
    return HandleRaisedFailure(wrapperError, revision);
  }
}

}  // namespace zul

#include "error/error_state.h"

#include "error/failure.h"
#include "error/strings.h"

namespace zul {

void ErrorState::SetMessage(const char* text) {
  UniqueBstr converted;
  try {
    AssignNarrow(converted, text);
  } catch (...) {
    ClearMessage();
    throw;
  }
  SetMessage(std::move(converted));
}

bool ErrorState::TrySetMessage(const OLECHAR* text) noexcept {
  UniqueBstr copy = UniqueBstr::Adopt(text != nullptr ? SysAllocString(text) : nullptr);
  const bool stored = text == nullptr || copy.Get() != nullptr;
  SetMessage(std::move(copy));
  return stored;
}

void ErrorState::SetMessage(UniqueBstr message) noexcept {
  {
    std::lock_guard lock(mutex_);
    message_.Swap(message);
    revision_.fetch_add(1, std::memory_order_relaxed);
  }
  // The old message is freed here, outside the lock.
}

bool ErrorState::HasMessage() const noexcept {
  std::lock_guard lock(mutex_);
  return !message_.IsEmpty();
}

UniqueBstr ErrorState::CopyMessage() const {
  UniqueBstr copy;
  std::lock_guard lock(mutex_);
  AssignBstr(copy, message_.Get());
  return copy;
}

HRESULT ErrorState::CopyMessageOut(BSTR* out) const noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  std::lock_guard lock(mutex_);
  return message_.IsEmpty() ? S_OK : CopyBstrOut(message_.Get(), out);
}

}  // namespace zul

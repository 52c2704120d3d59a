// The call frame that every operation on one wrapper runs in: bridge bound, name converted, wrapper
// found, transaction opened, the work, the failure mapping, and the common tail (values released,
// transaction ended, arrays freed) on every path after the transaction was opened.
#pragma once

#include <cstddef>
#include <cstdint>

#include "error/error_model.h"
#include "error/failure.h"
#include "error/messages.h"
#include "error/strings.h"
#include "loader/binding.h"
#include "marshal/marshal.h"
#include "registry/pal_context.h"

namespace zul::ops {

// A bridge transaction on one cookie, ended exactly once: by End() or when the scope is left, also
// by an exception.
class Transaction {
 public:
  explicit Transaction(int32_t cookie) noexcept : cookie_(cookie) {}
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction() { End(); }

  // Negative results are the bridge's refusal.
  int32_t Begin() noexcept {
    const int32_t result = g_bridge.entries.BeginTransaction(cookie_);
    open_ = result >= 0;
    return result;
  }
  // For registration, whose transaction on cookie 0 is ended whatever its beginning said.
  void AlwaysEnd() noexcept { open_ = true; }
  void End() noexcept {
    if (open_) g_bridge.entries.EndTransaction(cookie_);
    open_ = false;
  }

 private:
  int32_t cookie_;
  bool open_ = false;
};

// What the work hands to the common tail: an argument list, or one value the bridge returned.
struct FrameValues {
  BridgeArgList args;
  int32_t count = 0;
  BridgeValue* result = nullptr;  // released by the tail when set; a method's result never is
};

// The work's view of its frame.
struct Frame {
  PalContext& context;
  int32_t cookie;
  WrapperInfo& wrapper;
  const char* name;  // the converted name; null when there was none
  FrameValues& values;

  // Raises the failure of a bridge call that returned its refusal, after copying its error.
  [[noreturn]] void RaiseBridgeError() const {
    throw HResultFailure{CaptureBridgeError(wrapper.error, context.lastError)};
  }
};

// Raises the plain failure of a conversion that reported false.
inline void Require(bool converted) {
  if (!converted) throw ConversionFailure{};
}

// E_POINTER for a null pointer where the result should go, with its text on the context.
inline HRESULT ReportNullPointer(PalContext& context) {
  SetContextError(context.lastError, MessageText(Msg::kNullResultPointer));
  return E_POINTER;
}

// A name that the code page cannot hold would reach the bridge as another name: E_INVALIDARG, after
// recording the text that quotes it. S_OK for every other name. Throws BstrFailure.
inline HRESULT RefuseLostName(ErrorState& error, const NarrowText& narrow, const OLECHAR* name) {
  if (narrow.Exact()) return S_OK;
  error.SetCode(-1);
  error.SetMessage(UnrepresentableNameMessage(name));
  return E_INVALIDARG;
}

// Runs work(Frame&) in the frame on the object's member, variable or other name. A failure raised by
// the work becomes the result through the three handlers; a message that cannot be stored before the
// work or after it leaves as BstrFailure, with the tail run.
template <class Work>
HRESULT RunInFrame(PalContext& context, int32_t cookie, const OLECHAR* name, Work&& work) {
  if (!EnsureBridgeLoaded(context.lastError)) return E_FAIL;
  const NarrowText narrowName(name);
  const WrapperPin wrapper = FindWrapperOrReport(context, cookie);  // held to the end of the frame
  if (wrapper == nullptr) return E_INVALIDARG;
  if (const HRESULT hr = RefuseLostName(wrapper->error, narrowName, name); FAILED(hr)) return hr;
  FrameValues values;  // its arrays are freed last
  Transaction transaction(cookie);
  if (transaction.Begin() < 0) return CaptureBridgeError(wrapper->error, context.lastError);
  struct Tail {
    PalContext& context;
    int32_t cookie;
    FrameValues& values;
    ~Tail() {
      if (values.args.pointers) {
        ReleaseArgList(context, cookie, values.count, values.args.pointers.get());
      } else if (values.result != nullptr) {
        ReleaseArgList(context, cookie, 1, &values.result);
      }
    }
  } tail{context, cookie, values};  // values released before the transaction ends
  Frame frame{context, cookie, *wrapper, narrowName.Get(), values};
  return RunGuarded(wrapper->error, [&] { return work(frame); });
}

}  // namespace zul::ops

// The call frame that every operation on one wrapper runs in: bridge bound, name converted, wrapper
// found, transaction opened, arguments checked and converted, the work, the failure mapping, and the
// common tail (values released, transaction ended, arrays freed) on every path after the transaction
// was opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "error/error_model.h"
#include "error/failure.h"
#include "error/messages.h"
#include "error/strings.h"
#include "loader/binding.h"
#include "marshal/marshal.h"
#include "marshal/record.h"
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

// An operation's arguments as the export got them; the frame checks them once, when it is entered. A
// null flag array makes every argument in-only with Reorder, as the conversions read it: nothing is
// written back.
struct CallArgs {
  int32_t count = 0;
  VARIANT* values = nullptr;
  uint32_t* flags = nullptr;
};

// What the common tail releases: the arguments as the bridge got them, or one value the bridge
// returned.
struct FrameValues {
  BridgeArgList args;
  BridgeValue* result = nullptr;  // released by the tail when set; a method's result never is
};

// Raises the plain failure of a conversion that reported false.
inline void Require(bool converted) {
  if (!converted) throw ConversionFailure{};
}

// The work's view of its frame.
struct Frame {
  PalContext& context;
  int32_t cookie;
  WrapperInfo& wrapper;
  const char* name;    // the converted name; null when there was none
  const CallArgs& in;  // as the export got them, checked and converted before the work runs
  FrameValues& values;

  // The converted arguments and their flag words for the bridge; null when there are none.
  BridgeValue** Args() const noexcept { return values.args.pointers.get(); }
  const uint32_t* ArgFlags() const noexcept { return values.args.flags.get(); }

  // Writes back the arguments that the caller flagged, after the bridge call succeeded.
  void WriteBack() const {
    if (in.flags != nullptr)
      Require(WriteBackArgs(context, cookie, in.count, values.args, in.values, in.flags));
  }

  // Raises the failure of a bridge call that returned its refusal, after copying its error.
  [[noreturn]] void RaiseBridgeError() const {
    throw HResultFailure{CaptureBridgeError(wrapper.error, context.lastError)};
  }
};

// Converts the arguments in, after refusing a list that cannot be read: a negative count, or no
// values for a positive one.
inline void MarshalFrameArgs(const Frame& frame) {
  const CallArgs& in = frame.in;
  if (in.count == 0) return;
  if (in.count < 0 || in.values == nullptr) {
    Fail(frame.wrapper, in.count < 0 ? Msg::kNegativeArgumentCount : Msg::kNullArgumentList, in.count);
    throw ConversionFailure{};
  }
  Require(MarshalArgsIn(frame.context, frame.cookie, in.count, in.values, in.flags, frame.values.args));
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

// Runs work(Frame&) in the frame on the object's member, variable or other name, with the arguments
// in converted for the bridge. A failure raised by the conversion or the work becomes the result
// through the three handlers; a message that cannot be stored before the work or after it leaves as
// BstrFailure, with the tail run.
template <class Work>
HRESULT RunInFrame(PalContext& context, int32_t cookie, const OLECHAR* name, CallArgs in, Work&& work) {
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
    int32_t count;
    FrameValues& values;
    ~Tail() {
      if (values.args.pointers) {
        ReleaseArgList(context, cookie, count, values.args.pointers.get());
      } else if (values.result != nullptr) {
        ReleaseArgList(context, cookie, 1, &values.result);
      }
    }
  } tail{context, cookie, in.count, values};  // values released before the transaction ends
  Frame frame{context, cookie, *wrapper, narrowName.Get(), in, values};
  return RunGuarded(wrapper->error, [&] {
    MarshalFrameArgs(frame);
    return work(frame);
  });
}

// The frame of an operation without arguments.
template <class Work>
HRESULT RunInFrame(PalContext& context, int32_t cookie, const OLECHAR* name, Work&& work) {
  return RunInFrame(context, cookie, name, CallArgs{}, std::forward<Work>(work));
}

}  // namespace zul::ops

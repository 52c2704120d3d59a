#include "ops/frame.h"
#include "ops/operations.h"

namespace zul::ops {

namespace {

// What a successful release or destruction does with the wrapper's record.
enum class AfterSuccess { kKeepRecord, kRemoveRecord };

// The common shape of release and destruction: one bridge call inside a transaction; the bridge's
// error goes to the wrapper before a transaction that began is ended.
template <class Call>
HRESULT CallInTransaction(PalContext& context, int32_t cookie, Call&& call, AfterSuccess after) {
  if (!EnsureBridgeLoaded(context.lastError)) return E_FAIL;
  const WrapperPin wrapper = FindWrapperOrReport(context, cookie);
  if (wrapper == nullptr) return E_INVALIDARG;
  Transaction transaction(cookie);
  if (transaction.Begin() < 0 || call(cookie) < 0)
    return CaptureBridgeError(wrapper->error, context.lastError);
  transaction.End();
  if (after == AfterSuccess::kRemoveRecord) context.RemoveWrapper(cookie);
  return S_OK;
}

}  // namespace

HRESULT RegisterWrapper(PalContext& context, const OLECHAR* className, uint32_t registrationValue,
                        const OLECHAR* procName, int32_t* newCookie) {
  if (!EnsureBridgeLoaded(context.lastError)) return E_FAIL;
  if (newCookie == nullptr) return ReportNullPointer(context);
  *newCookie = 0;
  // The transaction on cookie 0 is ended on every path from here, even when it did not begin.
  Transaction transaction(0);
  transaction.Begin();
  transaction.AlwaysEnd();
  struct SetCallbackContext {
    PalContext& context;
    ~SetCallbackContext() {
      PalContext* none = nullptr;
      g_callbackContext.compare_exchange_strong(none, &context);
    }
  } callbackContext{context};  // before the transaction ends

  const NarrowText narrowClass(className);
  const NarrowText narrowProc(procName);
  HRESULT hr = RefuseLostName(context.lastError, narrowClass, className);
  if (SUCCEEDED(hr)) hr = RefuseLostName(context.lastError, narrowProc, procName);
  if (FAILED(hr)) return hr;
  const int32_t cookie =
      g_bridge.entries.RegisterWrapper(narrowClass.Get(), registrationValue, narrowProc.Get());
  if (cookie < 1) return CaptureBridgeError(context.lastError, context.lastError);
  if (!context.AddWrapper(cookie, className, procName)) {
    SetContextError(context.lastError, MessageText(Msg::kNoWrapperInfo));
    return E_OUTOFMEMORY;
  }
  *newCookie = cookie;
  return S_OK;
}

HRESULT ReleaseWrapper(PalContext& context, int32_t cookie) {
  return CallInTransaction(
      context, cookie, [](int32_t c) { return g_bridge.entries.ReleaseWrapper(c); },
      AfterSuccess::kRemoveRecord);
}

HRESULT DestroyObject(PalContext& context, int32_t cookie) {
  return CallInTransaction(
      context, cookie, [](int32_t c) { return g_bridge.entries.DestroyObject(c); },
      AfterSuccess::kKeepRecord);
}

HRESULT CreateObject(PalContext& context, int32_t cookie, int32_t argCount, VARIANT* args, uint32_t* argFlags,
                     uint32_t createParam1, uint32_t createParam2, uintptr_t createParam3) {
  return RunInFrame(context, cookie, nullptr, {argCount, args, argFlags}, [&](Frame& frame) {
    if (g_bridge.entries.CreateObject(cookie, frame.in.count, frame.Args(), frame.ArgFlags(), createParam1,
                                      createParam2, createParam3) < 0) {
      const HRESULT hr = CaptureBridgeError(frame.wrapper.error, context.lastError);
      context.lastError.SetCode(frame.wrapper.error.Code());  // creation alone: the context too
      context.lastError.SetMessage(frame.wrapper.error.CopyMessage());
      throw HResultFailure{hr};
    }
    frame.WriteBack();
    return S_OK;
  });
}

HRESULT CreateProxyWrapper(PalContext& context, int32_t cookie) {
  if (!EnsureBridgeLoaded(context.lastError)) return E_FAIL;
  UniqueBstr empty;
  AssignNarrow(empty, "");
  if (context.AddWrapper(cookie, empty.Get(), empty.Get())) return S_OK;
  SetContextError(context.lastError, MessageText(Msg::kNoWrapperInfo));
  return E_FAIL;
}

HRESULT DestroyProxyWrapper(PalContext& context, int32_t cookie) {
  if (!EnsureBridgeLoaded(context.lastError)) return E_FAIL;
  if (FindWrapperOrReport(context, cookie) == nullptr) return E_INVALIDARG;
  context.RemoveWrapper(cookie);
  return S_OK;
}

}  // namespace zul::ops

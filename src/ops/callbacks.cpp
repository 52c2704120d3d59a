// Output and notifications from the bridge, delivered to the client's functions on whatever thread
// the bridge calls from. The bridge gets one trampoline per kind; the cookie picks the wrapper.
#include "ops/frame.h"
#include "ops/operations.h"

namespace zul::ops {

namespace {

void DispatchNotify(PalContext* context, int32_t cookie, BSTR first, BSTR second) {
  if (cookie <= 0 || context == nullptr) return;
  const WrapperPin wrapper = context->FindWrapper(cookie);  // held while the client's function runs
  if (wrapper == nullptr) return;
  const auto [callback, userData] = wrapper->Notify();
  if (callback != nullptr) callback(first, second, userData);
}

void DispatchOutput(PalContext* context, int32_t cookie, BSTR text) {
  if (cookie <= 0) return;
  const WrapperPin wrapper = context->FindWrapper(cookie);
  if (wrapper == nullptr) return;
  const auto [callback, userData] = wrapper->Output();
  if (callback != nullptr) callback(text, userData);
}

// A text for the client: empty, never null, when the bridge gave none.
UniqueBstr ClientText(const char* text) {
  UniqueBstr converted;
  AssignNarrow(converted, text != nullptr && text[0] != 0 ? text : "");
  return converted;
}

// The trampolines run on the bridge's threads: nothing may escape into the bridge's frames.
void NotifyTrampoline(int32_t cookie, const char* first, const char* second) noexcept {
  try {
    const UniqueBstr firstText = ClientText(first);
    const UniqueBstr secondText = ClientText(second);
    DispatchNotify(g_callbackContext.load(std::memory_order_acquire), cookie, firstText.Get(),
                   secondText.Get());
  } catch (...) {
    // A text that could not be converted: the client is not called.
  }
}

void OutputTrampoline(int32_t cookie, const char* text) noexcept {
  if (text == nullptr || text[0] == 0) return;  // empty output is never delivered
  PalContext* context = g_callbackContext.load(std::memory_order_acquire);
  if (context == nullptr) return;
  try {
    const UniqueBstr converted = ClientText(text);
    DispatchOutput(context, cookie, converted.Get());
  } catch (...) {
  }
}

}  // namespace

HRESULT RegisterNotifyCallback(PalContext& context, int32_t cookie, ZulNotifyCallback callback,
                               void* userData) {
  if (!EnsureBridgeLoaded(context.lastError) || callback == nullptr) return S_OK;
  const WrapperPin wrapper = context.FindWrapper(cookie);
  if (wrapper == nullptr) return S_OK;
  wrapper->SetNotify(callback, userData);
  g_bridge.entries.RegisterNotifyCallback(cookie, NotifyTrampoline);
  return S_OK;
}

HRESULT RegisterOutputCallback(PalContext& context, int32_t cookie, ZulOutputCallback callback,
                               void* userData) {
  if (!EnsureBridgeLoaded(context.lastError) || callback == nullptr) return S_OK;
  const WrapperPin wrapper = context.FindWrapper(cookie);
  if (wrapper == nullptr) return S_OK;
  wrapper->SetOutput(callback, userData);
  g_bridge.entries.RegisterOutputCallback(OutputTrampoline);  // one registration serves every wrapper
  return S_OK;
}

HRESULT UnregisterNotifyCallback(PalContext& context, int32_t cookie) {
  if (!EnsureBridgeLoaded(context.lastError)) return S_OK;
  const WrapperPin wrapper = context.FindWrapper(cookie);
  if (wrapper == nullptr) return S_OK;
  g_bridge.entries.UnregisterNotifyCallback(cookie);
  wrapper->SetNotify(nullptr, nullptr);
  return S_OK;
}

HRESULT UnregisterOutputCallback(PalContext& context, int32_t cookie) {
  if (!EnsureBridgeLoaded(context.lastError)) return S_OK;
  const WrapperPin wrapper = context.FindWrapper(cookie);
  if (wrapper == nullptr) return S_OK;
  g_bridge.entries.UnregisterOutputCallback(OutputTrampoline);
  wrapper->SetOutput(nullptr, nullptr);
  return S_OK;
}

}  // namespace zul::ops

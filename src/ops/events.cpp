#include <cstdio>
#include <iterator>
#include <string>

#include "ops/frame.h"
#include "ops/operations.h"

namespace zul::ops {

namespace {

constexpr const char* kEventNames[] = {
    "",         "OnMouseDown", "OnMouseUp", "OnMouseMotion", "OnKeyboard",
    "OnExpose", "OnResize",    "OnEnter",   "OnExit",        "OnScroll",
};

const char* EventName(const EventRecord* event) {
  if (event == nullptr || event->eventKind < 0 ||
      event->eventKind >= static_cast<int32_t>(std::size(kEventNames))) {
    return "OnUnknownEvent";
  }
  return kEventNames[event->eventKind];
}

// Appends a piece to text; pieces of length 0 are skipped. Raises the concatenation's own failure.
void Append(UniqueBstr& text, BSTR piece) {
  if (SysStringLen(piece) == 0) return;
  BSTR joined = nullptr;
  const HRESULT hr = VarBstrCat(text.Get(), piece, &joined);
  if (FAILED(hr)) throw BstrFailure{hr};
  text.Reset(joined);
}

void Append(UniqueBstr& text, const char* piece) {
  UniqueBstr wide;
  AssignNarrow(wide, piece);
  Append(text, wide.Get());
}

// The diagnostic goes to the debugger and, unchanged, to standard output.
void Diagnose(BSTR text) {
  OutputDebugStringW(text);
  const int units = static_cast<int>(SysStringLen(text));
  const int bytes = WideCharToMultiByte(CP_THREAD_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
  if (bytes > 0) {
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, 0, text, units, narrow.data(), bytes, nullptr, nullptr);
    std::fputs(narrow.c_str(), stdout);
  }
  std::fflush(stdout);
}

}  // namespace

HRESULT OnEvent(PalContext& context, int32_t cookie, EventRecord* event) {
  if (!EnsureBridgeLoaded(context.lastError)) return E_FAIL;
  if (cookie <= 0) {
    SetContextError(context.lastError, MessageText(Msg::kInvalidCookie));
    return E_UNEXPECTED;
  }
  Transaction transaction(cookie);
  if (transaction.Begin() < 0) return S_FALSE;  // a busy object drops the event
  if (g_bridge.entries.OnEvent(cookie, event) >= 0) return S_OK;

  // The context's message carries the bridge's text until the exception is raised; the text is
  // built from a copy of it, which no other thread's failure can change meanwhile.
  const char* bridgeText = g_bridge.entries.GetLastError(nullptr);
  context.lastError.SetMessage(bridgeText != nullptr ? bridgeText : "");
  transaction.End();
  const UniqueBstr description = context.lastError.CopyMessage();

  char head[128];
  std::snprintf(head, sizeof head, "ERROR: Event '%s' : Tarrow wrapper object", EventName(event));
  UniqueBstr text;
  AssignNarrow(text, head);
  const WrapperPin wrapper = context.FindWrapper(cookie);
  if (wrapper != nullptr && wrapper->className.Get() != nullptr) {
    Append(text, " '");
    Append(text, wrapper->className.Get());
    Append(text, "'");
  }
  UniqueBstr source;
  AssignBstr(source, text.Get());
  if (SysStringLen(description.Get()) != 0) {
    Append(text, ".\n");
    Append(text, description.Get());
  }
  Append(text, "\n");

  Diagnose(text.Get());
  if (wrapper != nullptr) {
    UniqueBstr copy;
    AssignBstr(copy, text.Get());
    wrapper->error.SetCode(-1);
    wrapper->error.SetMessage(std::move(copy));
  }
  IErrorInfo* errorInfo = nullptr;
  UniqueComPtr<ICreateErrorInfo> creator;
  if (SUCCEEDED(CreateErrorInfo(creator.Receive()))) {
    creator->SetSource(source.Get());
    creator->SetDescription(description.Get());
    if (FAILED(creator->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&errorInfo))))
      errorInfo = nullptr;
  }
  context.lastError.ClearMessage();
  throw _com_error(E_UNEXPECTED, errorInfo);  // the exception owns the one reference
}

}  // namespace zul::ops

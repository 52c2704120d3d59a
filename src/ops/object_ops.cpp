#include "ops/frame.h"
#include "ops/operations.h"

namespace zul::ops {

HRESULT CallMethod(PalContext& context, int32_t cookie, const OLECHAR* methodName, int32_t argCount,
                   VARIANT* args, uint32_t* argFlags, VARIANT* result) {
  return RunInFrame(context, cookie, methodName, {argCount, args, argFlags}, [&](Frame& frame) {
    // The value in the slot stays the bridge's: it is converted, never released here.
    BridgeValue* slot = nullptr;
    if (g_bridge.entries.CallMethod(cookie, frame.name, frame.in.count, frame.Args(), frame.ArgFlags(),
                                    result != nullptr ? &slot : nullptr) < 0) {
      frame.RaiseBridgeError();
    }
    if (result != nullptr) {
      uint32_t resultFlag = ArgFlag::Reorder;
      Require(MarshalValueOut(context, cookie, slot, result, &resultFlag));
    }
    frame.WriteBack();
    return S_OK;
  });
}

HRESULT GetProperty(PalContext& context, int32_t cookie, const OLECHAR* propertyName, VARIANT* value) {
  return RunInFrame(context, cookie, propertyName, [&](Frame& frame) {
    frame.values.result = g_bridge.entries.GetProperty(cookie, frame.name);
    if (frame.values.result == nullptr) frame.RaiseBridgeError();
    uint32_t resultFlag = ArgFlag::Reorder;
    Require(MarshalValueOut(context, cookie, frame.values.result, value, &resultFlag));
    return S_OK;
  });
}

HRESULT SetProperty(PalContext& context, int32_t cookie, const OLECHAR* propertyName, int32_t argCount,
                    VARIANT* args, uint32_t* argFlags) {
  return RunInFrame(context, cookie, propertyName, {argCount, args, argFlags}, [&](Frame& frame) {
    if (g_bridge.entries.SetProperty(cookie, frame.name, frame.in.count, frame.Args(), frame.ArgFlags()) <
        0) {
      frame.RaiseBridgeError();
    }
    return S_OK;  // nothing is written back, whatever the flags say
  });
}

HRESULT GetZULVariable(PalContext& context, int32_t cookie, const OLECHAR* variableName, VARIANT* value) {
  if (!EnsureBridgeLoaded(context.lastError)) return E_FAIL;
  if (value != nullptr) VariantClear(value);  // every outcome starts from a cleared result
  return RunInFrame(context, cookie, variableName, [&](Frame& frame) {
    frame.values.result = g_bridge.entries.GetZULVariable(cookie, frame.name);
    if (frame.values.result == nullptr) frame.RaiseBridgeError();
    uint32_t resultFlag = ArgFlag::Reorder;
    Require(MarshalValueOut(context, cookie, frame.values.result, value, &resultFlag));
    return S_OK;
  });
}

HRESULT SetZULVariable(PalContext& context, int32_t cookie, const OLECHAR* variableName, VARIANT* value) {
  uint32_t flag = ArgFlag::InOnly | ArgFlag::Reorder;
  return RunInFrame(context, cookie, variableName, {1, value, &flag}, [&](Frame& frame) {
    if (g_bridge.entries.SetZULVariable(cookie, frame.name, frame.Args()[0]) < 0) frame.RaiseBridgeError();
    return S_OK;
  });
}

HRESULT ExecuteString(PalContext& context, int32_t cookie, const OLECHAR* command) {
  // Nothing is raised here, so an empty bridge text leaves the wrapper's message empty. A command is
  // text, not a name: characters the code page cannot hold become its default character.
  return RunInFrame(context, cookie, nullptr, [&](Frame& frame) -> HRESULT {
    const NarrowText narrowCommand(command);
    if (g_bridge.entries.ExecuteString(cookie, narrowCommand.Get()) < 0) {
      return CaptureBridgeError(frame.wrapper.error, context.lastError);
    }
    return S_OK;
  });
}

HRESULT Abort(PalContext& context, int32_t cookie) {
  if (!EnsureBridgeLoaded(context.lastError)) return E_FAIL;
  const WrapperPin wrapper = FindWrapperOrReport(context, cookie);
  if (wrapper == nullptr) return E_INVALIDARG;
  // Outside any transaction: the activity to abort holds one.
  if (g_bridge.entries.Abort(cookie) < 0) return CaptureBridgeError(wrapper->error, context.lastError);
  return S_OK;
}

}  // namespace zul::ops

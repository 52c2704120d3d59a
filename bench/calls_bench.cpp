// One call through the exports against the bridge entries that it makes, called directly.
#include <cstring>

#include "bench_support.h"
#include "loader/bridge_entries.h"
#include "platform/ole.h"

namespace zul::bench {
namespace {

const OLECHAR* const kMethod = OLESTR("Total");

int32_t Cookie() {
  static const int32_t cookie = NewWrapper();
  return cookie;
}

// The bridge's entry alone, through a function pointer.
void BM_CallDirect(benchmark::State& state) {
  const BridgeEntries& bridge = BridgeDirect();
  const int32_t cookie = Cookie();
  for (auto _ : state)
    benchmark::DoNotOptimize(bridge.CallMethod(cookie, kMethodName, 0, nullptr, nullptr, nullptr));
}
BENCHMARK(BM_CallDirect);

// What every call must make of the bridge: the entry inside its transaction.
void BM_CallDirectTransaction(benchmark::State& state) {
  const BridgeEntries& bridge = BridgeDirect();
  const int32_t cookie = Cookie();
  for (auto _ : state) {
    bridge.BeginTransaction(cookie);
    benchmark::DoNotOptimize(bridge.CallMethod(cookie, kMethodName, 0, nullptr, nullptr, nullptr));
    bridge.EndTransaction(cookie);
  }
}
BENCHMARK(BM_CallDirectTransaction);

void BM_Call0(benchmark::State& state) {
  const int32_t cookie = Cookie();
  for (auto _ : state) {
    benchmark::DoNotOptimize(ZUL_MSCOMPAL_CallMethod(cookie, kMethod, 0, nullptr, nullptr, nullptr));
  }
}
BENCHMARK(BM_Call0);

// The library alone: the same call against a bridge whose entries return at once.
void BM_Call0NullBridge(benchmark::State& state) {
  const int32_t cookie = Cookie();
  NullBridgeScope nullBridge;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ZUL_MSCOMPAL_CallMethod(cookie, kMethod, 0, nullptr, nullptr, nullptr));
  }
  // Heap allocations of one call, counted after the timed loop.
  if (CountsAllocations()) {
    StartCountingAllocations();
    constexpr int kCalls = 1000;
    for (int i = 0; i < kCalls; ++i) ZUL_MSCOMPAL_CallMethod(cookie, kMethod, 0, nullptr, nullptr, nullptr);
    state.counters["heap_allocs"] = static_cast<double>(StopCountingAllocations()) / kCalls;
  }
}
BENCHMARK(BM_Call0NullBridge);

void BM_CallNullBridgeDirectTransaction(benchmark::State& state) {
  const BridgeEntries& bridge = NullEntries();
  const int32_t cookie = Cookie();
  for (auto _ : state) {
    bridge.BeginTransaction(cookie);
    benchmark::DoNotOptimize(bridge.CallMethod(cookie, kMethodName, 0, nullptr, nullptr, nullptr));
    bridge.EndTransaction(cookie);
  }
}
BENCHMARK(BM_CallNullBridgeDirectTransaction);

struct FourScalars {
  VARIANT args[4];
  uint32_t flags[4] = {ArgFlag::InOnly, ArgFlag::InOnly, ArgFlag::InOnly, ArgFlag::InOnly};
  FourScalars() {
    for (VARIANT& arg : args) VariantInit(&arg);
    args[0].vt = VT_I4;
    args[0].lVal = 42;
    args[1].vt = VT_R8;
    args[1].dblVal = 2.5;
    args[2].vt = VT_I2;
    args[2].iVal = -7;
    args[3].vt = VT_R4;
    args[3].fltVal = 0.25f;
  }
};

void BM_Call4NullBridge(benchmark::State& state) {
  const int32_t cookie = Cookie();
  FourScalars call;
  NullBridgeScope nullBridge;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ZUL_MSCOMPAL_CallMethod(cookie, kMethod, 4, call.args, call.flags, nullptr));
  }
  if (CountsAllocations()) {
    StartCountingAllocations();
    constexpr int kCalls = 1000;
    for (int i = 0; i < kCalls; ++i)
      ZUL_MSCOMPAL_CallMethod(cookie, kMethod, 4, call.args, call.flags, nullptr);
    state.counters["heap_allocs"] = static_cast<double>(StopCountingAllocations()) / kCalls;
  }
}
BENCHMARK(BM_Call4NullBridge);

// A script's call: four variables by reference (a Long, a Double, a Boolean and a text) that the bridge
// leaves as they were. Argument 0 flags them WriteBack (each written back), 1 WriteBack and
// WriteBackChanged (each compared with what was sent); the bridge does nothing.
void BM_Call4ByReferenceNullBridge(benchmark::State& state) {
  const int32_t cookie = Cookie();
  VARIANT values[4], args[4];
  for (VARIANT& value : values) VariantInit(&value);
  values[0].vt = VT_I4, values[0].lVal = 42;
  values[1].vt = VT_R8, values[1].dblVal = 2.5;
  values[2].vt = VT_BOOL, values[2].boolVal = VARIANT_TRUE;
  values[3].vt = VT_BSTR, values[3].bstrVal = SysAllocString(OLESTR("a script's text"));
  uint32_t flags[4];
  for (int i = 0; i < 4; ++i) {
    args[i].vt = VT_BYREF | VT_VARIANT;
    args[i].pvarVal = &values[i];
    flags[i] = ArgFlag::WriteBack | ArgFlag::Reorder | (state.range(0) != 0 ? ArgFlag::WriteBackChanged : 0u);
  }
  NullBridgeScope nullBridge;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ZUL_MSCOMPAL_CallMethod(cookie, kMethod, 4, args, flags, nullptr));
  }
  if (CountsAllocations()) {
    StartCountingAllocations();
    ZUL_MSCOMPAL_CallMethod(cookie, kMethod, 4, args, flags, nullptr);
    state.counters["heap_allocs"] = static_cast<double>(StopCountingAllocations());
  }
  for (VARIANT& value : values) VariantClear(&value);
}
BENCHMARK(BM_Call4ByReferenceNullBridge)->Arg(0)->Arg(1);

void BM_GetProperty(benchmark::State& state) {
  const int32_t cookie = Cookie();
  VARIANT value;
  VariantInit(&value);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ZUL_MSCOMPAL_GetProperty(cookie, OLESTR("Rows"), &value));
    VariantClear(&value);
  }
}
BENCHMARK(BM_GetProperty);

void BM_GetPropertyDirectTransaction(benchmark::State& state) {
  const BridgeEntries& bridge = BridgeDirect();
  const int32_t cookie = Cookie();
  for (auto _ : state) {
    bridge.BeginTransaction(cookie);
    benchmark::DoNotOptimize(bridge.GetProperty(cookie, "Rows"));
    bridge.EndTransaction(cookie);
  }
}
BENCHMARK(BM_GetPropertyDirectTransaction);

// The message of a failed call is read back: a BSTR copy per read.
int32_t FailedCookie() {
  static const int32_t cookie = [] {
    const int32_t failed = NewWrapper();
    ZUL_MSCOMPAL_ExecuteString(failed, OLESTR("print, an_undefined_variable"));
    return failed;
  }();
  return cookie;
}

void BM_GetLastError(benchmark::State& state) {
  const int32_t cookie = FailedCookie();
  for (auto _ : state) {
    BSTR message = nullptr;
    benchmark::DoNotOptimize(ZUL_MSCOMPAL_GetLastError(cookie, &message));
    SysFreeString(message);
  }
}
BENCHMARK(BM_GetLastError);

void BM_GetLastErrorDirect(benchmark::State& state) {
  const BridgeEntries& bridge = BridgeDirect();
  FailedCookie();
  for (auto _ : state) {
    int32_t code = 0;
    benchmark::DoNotOptimize(bridge.GetLastError(&code));
  }
}
BENCHMARK(BM_GetLastErrorDirect);

}  // namespace
}  // namespace zul::bench

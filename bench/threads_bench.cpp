// Client threads calling methods, each on its own wrapper or all on one; calls per second are
// iterations (summed over threads) per second of real time.
#include <memory>
#include <vector>

#include "bench_support.h"
#include "platform/ole.h"

namespace zul::bench {
namespace {

constexpr int kMaxThreads = 4;

const std::vector<int32_t>& Cookies() {
  static const std::vector<int32_t> cookies = [] {
    std::vector<int32_t> made;
    for (int i = 0; i < kMaxThreads; ++i) {  // each in a process of its own, which only it enters
      const OLECHAR process[] = {OLECHAR('p'), OLECHAR('0' + i), 0};
      made.push_back(NewWrapper(process));
    }
    return made;
  }();
  return cookies;
}

void Prepare(const benchmark::State&) {
  Cookies();  // registered before the threads start
}

void CallLoop(benchmark::State& state, int32_t cookie) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Total"), 0, nullptr, nullptr, nullptr));
  }
}

void BM_ThreadsSeparate(benchmark::State& state) {
  CallLoop(state, Cookies()[static_cast<std::size_t>(state.thread_index())]);
}
BENCHMARK(BM_ThreadsSeparate)->Setup(Prepare)->Threads(1)->Threads(2)->Threads(4)->MinTime(1)->UseRealTime();

void BM_ThreadsShared(benchmark::State& state) {
  CallLoop(state, Cookies()[0]);
}
BENCHMARK(BM_ThreadsShared)->Setup(Prepare)->Threads(1)->Threads(2)->Threads(4)->MinTime(1)->UseRealTime();

// The bridge's own entries for the same call, called directly from each thread.
void BM_ThreadsSeparateDirect(benchmark::State& state) {
  const BridgeEntries& bridge = BridgeDirect();
  const int32_t cookie = Cookies()[static_cast<std::size_t>(state.thread_index())];
  for (auto _ : state) {
    bridge.BeginTransaction(cookie);
    benchmark::DoNotOptimize(bridge.CallMethod(cookie, kMethodName, 0, nullptr, nullptr, nullptr));
    bridge.EndTransaction(cookie);
  }
}
BENCHMARK(BM_ThreadsSeparateDirect)->Setup(Prepare)->Threads(1)->Threads(2)->MinTime(1)->UseRealTime();

// The library alone, without the bridge's own cost.
std::unique_ptr<NullBridgeScope> g_nullBridge;

void SwapInNullBridge(const benchmark::State&) {
  Cookies();
  g_nullBridge = std::make_unique<NullBridgeScope>();
}

void SwapBackBridge(const benchmark::State&) {
  g_nullBridge.reset();
}

void BM_ThreadsSeparateNullBridge(benchmark::State& state) {
  CallLoop(state, Cookies()[static_cast<std::size_t>(state.thread_index())]);
}
BENCHMARK(BM_ThreadsSeparateNullBridge)
    ->Setup(SwapInNullBridge)
    ->Teardown(SwapBackBridge)
    ->Threads(1)
    ->Threads(2)
    ->Threads(4)
    ->MinTime(1)
    ->UseRealTime();

void BM_ThreadsSharedNullBridge(benchmark::State& state) {
  CallLoop(state, Cookies()[0]);
}
BENCHMARK(BM_ThreadsSharedNullBridge)
    ->Setup(SwapInNullBridge)
    ->Teardown(SwapBackBridge)
    ->Threads(1)
    ->Threads(2)
    ->Threads(4)
    ->MinTime(1)
    ->UseRealTime();

}  // namespace
}  // namespace zul::bench

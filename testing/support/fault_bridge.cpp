#include "fault_bridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <tuple>
#include <type_traits>

#include "loader/binding.h"
#include "pal/module.h"

namespace zul::testing {
namespace {

struct Answer {
  bool on = false;
  int32_t result = 0;
  int32_t code = 0;
  bool hasText = false;
  std::string text;
};

struct Layer {
  std::mutex mutex;  // guards answers
  Answer answers[kBridgeEntryCount];
  std::atomic<int64_t> calls[kBridgeEntryCount] = {};
  std::atomic<int64_t> allocationsToFailure{0};
  std::atomic<int32_t> openTransactions{0};
  std::atomic<int64_t> badReleases{0};
  std::atomic<BridgeOutputCallback> output{nullptr};
  std::atomic<BridgeNotifyCallback> notify{nullptr};
};

Layer& TheLayer() {
  static Layer layer;
  return layer;
}

// The forced error a thread's next GetLastError reports; the text stays valid until that thread's next
// forced answer, as a bridge's text stays valid until its next call.
thread_local Answer t_error;

template <int I, class F>
struct Shim;

template <int I, class R, class... A>
struct Shim<I, R (*)(A...)> {
  static constexpr BridgeEntry kEntry = static_cast<BridgeEntry>(I);
  static inline R (*real)(A...) = nullptr;

  static R Call(A... args) {
    Layer& layer = TheLayer();
    layer.calls[I].fetch_add(1);
    if constexpr (kEntry == BridgeEntry::kGetLastError) {
      if (t_error.on) {
        if (std::get<0>(std::tie(args...)) != nullptr) *std::get<0>(std::tie(args...)) = t_error.code;
        return t_error.hasText ? t_error.text.c_str() : nullptr;
      }
      return real(args...);
    } else {
      if (Forced()) {
        if constexpr (std::is_pointer_v<R>) {
          return nullptr;
        } else {
          return static_cast<R>(t_error.result);
        }
      }
      t_error.on = false;
      if constexpr (kEntry == BridgeEntry::kAllocateMemory) {
        if (layer.allocationsToFailure.load() > 0 && layer.allocationsToFailure.fetch_sub(1) == 1)
          return nullptr;
      }
      const R result = real(args...);
      if constexpr (kEntry == BridgeEntry::kBeginTransaction) {
        if (result >= 0) layer.openTransactions.fetch_add(1);
      } else if constexpr (kEntry == BridgeEntry::kEndTransaction) {
        if (result >= 0) layer.openTransactions.fetch_sub(1);
      } else if constexpr (kEntry == BridgeEntry::kReleaseMemory) {
        if (result < 0) layer.badReleases.fetch_add(1);
      } else if constexpr (kEntry == BridgeEntry::kRegisterOutputCallback) {
        layer.output.store(std::get<0>(std::tie(args...)));
      } else if constexpr (kEntry == BridgeEntry::kRegisterNotifyCallback) {
        layer.notify.store(std::get<1>(std::tie(args...)));
      }
      return result;
    }
  }

  // Copies the entry's forced answer, if it has one, into the thread's pending error.
  static bool Forced() {
    Layer& layer = TheLayer();
    std::lock_guard lock(layer.mutex);
    if (!layer.answers[I].on) return false;
    t_error = layer.answers[I];
    return true;
  }
};

#define ZUL_SHIM(index, name) Shim<index, decltype(BridgeEntries::name)>
#define ZUL_INSTALL_SHIM(index, name)                 \
  if (entries.name != &ZUL_SHIM(index, name)::Call) { \
    ZUL_SHIM(index, name)::real = entries.name;       \
    entries.name = &ZUL_SHIM(index, name)::Call;      \
  }

// Puts the layer between the library and the bridge it bound; again after a rebinding.
void Install(BridgeEntries& entries) {
  ZUL_QEL_ENTRY_POINTS(ZUL_INSTALL_SHIM)
}

}  // namespace

FaultBridge& FaultBridge::Bound() {
  static FaultBridge bridge;
  const bool bound = EnsureBridgeLoaded(Context().lastError);
  EXPECT_TRUE(bound) << "the test program cannot bind the reference bridge beside it";
  if (bound) Install(g_bridge.entries);
  bridge.Reset();
  return bridge;
}

void FaultBridge::Reset() {
  Layer& layer = TheLayer();
  std::lock_guard lock(layer.mutex);
  for (int i = 0; i < kBridgeEntryCount; ++i) {
    layer.answers[i] = Answer{};
    layer.calls[i].store(0);
  }
  layer.allocationsToFailure.store(0);
  layer.openTransactions.store(0);
  layer.badReleases.store(0);
  t_error = Answer{};
}

int64_t FaultBridge::Calls(BridgeEntry entry) const {
  return TheLayer().calls[static_cast<int>(entry)].load();
}

void FaultBridge::Force(BridgeEntry entry, int32_t result, int32_t code, const char* text) {
  Layer& layer = TheLayer();
  std::lock_guard lock(layer.mutex);
  layer.answers[static_cast<int>(entry)] = Answer{true, result, code, text != nullptr, text ? text : ""};
}

void FaultBridge::Unforce(BridgeEntry entry) {
  Layer& layer = TheLayer();
  std::lock_guard lock(layer.mutex);
  layer.answers[static_cast<int>(entry)] = Answer{};
}

void FaultBridge::FailAllocationAt(int64_t nth) {
  TheLayer().allocationsToFailure.store(nth);
}

int32_t FaultBridge::OpenTransactions() const {
  return TheLayer().openTransactions.load();
}

int64_t FaultBridge::BadReleases() const {
  return TheLayer().badReleases.load();
}

int64_t FaultBridge::OutstandingBlocks(int32_t cookie) const {
  using Count = int64_t (*)(int32_t);
  const auto count = reinterpret_cast<Count>(GetProcAddress(g_bridge.module, "ZulBridge_OutstandingBlocks"));
  EXPECT_NE(count, nullptr) << "the bound bridge has no block count";
  return count != nullptr ? count(cookie) : -1;
}

void FaultBridge::EmitOutput(int32_t cookie, const char* text) const {
  if (const BridgeOutputCallback output = TheLayer().output.load()) output(cookie, text);
}

void FaultBridge::EmitNotify(int32_t cookie, const char* first, const char* second) const {
  if (const BridgeNotifyCallback notify = TheLayer().notify.load()) notify(cookie, first, second);
}

}  // namespace zul::testing

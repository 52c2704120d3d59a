// What the fuzz targets share: a reader of the fuzzer's bytes, the library bound to the reference bridge
// through the fault layer, and the checks that hold after every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fault_bridge.h"
#include "registry/pal_context.h"

// A broken invariant: abort, so that libFuzzer keeps the input as a crash.
#define ZUL_FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : ::zul::fuzz::CheckFailed(#condition, __FILE__, __LINE__))

namespace zul::fuzz {

[[noreturn]] void CheckFailed(const char* condition, const char* file, int line);

// Reads the input front to back; past its end every read gives zeros.
class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  template <class T>
  T Take() {
    T value{};
    const std::size_t n = sizeof(T) < size_ ? sizeof(T) : size_;
    std::memcpy(&value, data_, n);
    data_ += n;
    size_ -= n;
    return value;
  }
  // A number below n (n > 0), mostly from one byte.
  uint32_t Below(uint32_t n) { return (n <= 256 ? Take<uint8_t>() : Take<uint32_t>()) % n; }
  bool Flag() { return (Take<uint8_t>() & 1) != 0; }
  // One in n.
  bool OneIn(uint32_t n) { return Below(n) == 0; }
  std::size_t Left() const { return size_; }
  // Up to max bytes, as many as the next byte says.
  std::vector<uint8_t> Bytes(std::size_t max) {
    std::size_t n = Below(256);
    if (n > max) n = max;
    if (n > size_) n = size_;
    std::vector<uint8_t> bytes(data_, data_ + n);
    data_ += n;
    size_ -= n;
    return bytes;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
};

// Attaches the module, binds it to the bridge beside the fuzzer and registers kCaller there; once per
// process.
testing::FaultBridge& Bridge();

// The fault layer with what the previous input scripted cleared.
testing::FaultBridge& FreshBridge();

// The context of the conversions, with kCaller registered.
inline constexpr int32_t kCaller = 3;
PalContext& FuzzContext();

// The counters that must be back where they were after each input: bridge blocks, bad releases, and
// on the host live BSTRs and SAFEARRAYs.
struct Balance {
  int64_t blocks;
  int64_t badReleases;
  int64_t bstrs;
  int64_t safeArrays;
};
Balance TakeBalance();
void CheckBalanced(const Balance& before);

}  // namespace zul::fuzz

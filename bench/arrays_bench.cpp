// Arrays in and out: the conversions as the call frame runs them, against memcpy of the same bytes
// (between warm buffers, and into a freshly allocated block as the conversions must), and the
// reordering walk against the straightforward walk.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "marshal/marshal.h"
#include "marshal/reorder.h"
#include "pal/module.h"
#include "platform/ole.h"

namespace zul::bench {
namespace {

int32_t Cookie() {
  static const int32_t cookie = NewWrapper();
  return cookie;
}

struct Shape {
  std::string name;
  std::vector<int64_t> dims;  // dims[k] = rgsabound[k].cElements, as the SAFEARRAY stores them
  uint32_t elementSize;

  int64_t Count() const {
    int64_t count = 1;
    for (int64_t d : dims) count *= d;
    return count;
  }
  int64_t Bytes() const { return Count() * elementSize; }
  int Rank() const { return static_cast<int>(dims.size()); }
};

VARTYPE VarTypeOf(uint32_t elementSize) {
  return elementSize == 8 ? VT_R8 : elementSize == 4 ? VT_I4 : elementSize == 2 ? VT_I2 : VT_UI1;
}

uint8_t CodeOf(uint32_t elementSize) {
  return elementSize == 8   ? ZUL_TYP_DOUBLE
         : elementSize == 4 ? ZUL_TYP_LONG
         : elementSize == 2 ? ZUL_TYP_INT
                            : ZUL_TYP_BYTE;
}

// A SAFEARRAY of the shape holding warm data; lives to the end of the program.
SAFEARRAY* SafeArrayOf(const Shape& shape) {
  SAFEARRAYBOUND bounds[8];
  const int m = shape.Rank();
  for (int k = 0; k < m; ++k) bounds[m - 1 - k] = {static_cast<ULONG>(shape.dims[k]), 0};  // stored reversed
  SAFEARRAY* psa = SafeArrayCreate(VarTypeOf(shape.elementSize), static_cast<UINT>(m), bounds);
  if (psa == nullptr) std::abort();
  std::memcpy(psa->pvData, WarmBuffer(static_cast<std::size_t>(shape.Bytes()), 7), shape.Bytes());
  return psa;
}

// A bridge array of the shape, in the benchmark's own memory (MarshalArrayOut only reads it).
BridgeValue BridgeArrayOf(const Shape& shape, BridgeArray& array) {
  std::memset(&array, 0, sizeof array);
  array.elementSize = shape.elementSize;
  array.elementCount = shape.Count();
  array.totalBytes = shape.Bytes();
  array.dimensionCount = static_cast<uint8_t>(shape.Rank());
  for (int k = 0; k < shape.Rank(); ++k) array.dims[k] = shape.dims[k];
  array.data = WarmBuffer(static_cast<std::size_t>(shape.Bytes()), 11);
  BridgeValue value{};
  value.type = CodeOf(shape.elementSize);
  value.flags = ValueFlag::Array;
  value.value.array = &array;
  return value;
}

void ConvertIn(benchmark::State& state, const Shape& shape, uint32_t flag) {
  const int32_t cookie = Cookie();
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_ARRAY | VarTypeOf(shape.elementSize);
  arg.parray = SafeArrayOf(shape);
  for (auto _ : state) {
    BridgeValue value{};
    uint32_t argFlag = flag;
    if (!MarshalArrayIn(Context(), cookie, &arg, &value, &argFlag)) state.SkipWithError("conversion failed");
    BridgeValue* pointer = &value;
    ReleaseArgList(Context(), cookie, 1, &pointer);
  }
  state.SetBytesProcessed(state.iterations() * shape.Bytes());
  SafeArrayDestroy(arg.parray);
}

void ConvertOut(benchmark::State& state, const Shape& shape, uint32_t flag) {
  const int32_t cookie = Cookie();
  BridgeArray array;
  const BridgeValue value = BridgeArrayOf(shape, array);
  for (auto _ : state) {
    VARIANT out;
    VariantInit(&out);
    uint32_t argFlag = flag;
    if (!MarshalArrayOut(Context(), cookie, &value, &out, &argFlag)) state.SkipWithError("conversion failed");
    VariantClear(&out);
  }
  state.SetBytesProcessed(state.iterations() * shape.Bytes());
}

void Memcpy(benchmark::State& state, int64_t bytes) {
  const unsigned char* from = WarmBuffer(static_cast<std::size_t>(bytes), 3);
  unsigned char* to = WarmBuffer(static_cast<std::size_t>(bytes), 5);
  for (auto _ : state) {
    std::memcpy(to, from, static_cast<std::size_t>(bytes));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}

// The floor of a conversion that must hand out a new block: the block, as the bridge and the
// SAFEARRAY allocator make it (zero-filled), and the copy.
void AllocMemcpy(benchmark::State& state, int64_t bytes) {
  const unsigned char* from = WarmBuffer(static_cast<std::size_t>(bytes), 3);
  for (auto _ : state) {
    void* to = std::calloc(1, static_cast<std::size_t>(bytes));
    std::memcpy(to, from, static_cast<std::size_t>(bytes));
    benchmark::DoNotOptimize(to);
    std::free(to);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}

// The straightforward walk: destination (in) or source (out) in the bridge's order, each SAFEARRAY
// position from the index tuple with one multiply-add per dimension.
template <class T, bool kIn>
void NaiveWalk(const int64_t* dims, int m, const T* from, T* to) {
  int64_t count = 1;
  for (int k = 0; k < m; ++k) count *= dims[k];
  int64_t index[8] = {};
  for (int64_t j = 0; j < count; ++j) {
    int64_t p = index[0];
    for (int k = 1; k < m; ++k) p = p * dims[k] + index[k];
    if constexpr (kIn) {
      to[j] = from[p];
    } else {
      to[p] = from[j];
    }
    for (int k = 0; k < m && ++index[k] == dims[k]; ++k) index[k] = 0;
  }
}

template <class T>
void NaiveWalk(benchmark::State& state, const Shape& shape, bool in) {
  const auto* from = reinterpret_cast<const T*>(WarmBuffer(static_cast<std::size_t>(shape.Bytes()), 3));
  auto* to = reinterpret_cast<T*>(WarmBuffer(static_cast<std::size_t>(shape.Bytes()), 5));
  for (auto _ : state) {
    if (in) {
      NaiveWalk<T, true>(shape.dims.data(), shape.Rank(), from, to);
    } else {
      NaiveWalk<T, false>(shape.dims.data(), shape.Rank(), from, to);
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * shape.Bytes());
}

void NaiveWalkOfSize(benchmark::State& state, const Shape& shape, bool in) {
  switch (shape.elementSize) {
    case 8:
      return NaiveWalk<uint64_t>(state, shape, in);
    case 4:
      return NaiveWalk<uint32_t>(state, shape, in);
    case 2:
      return NaiveWalk<uint16_t>(state, shape, in);
    default:
      return NaiveWalk<uint8_t>(state, shape, in);
  }
}

// The walk that the conversions run, between warm buffers.
void Walk(benchmark::State& state, const Shape& shape, bool in) {
  const unsigned char* from = WarmBuffer(static_cast<std::size_t>(shape.Bytes()), 3);
  unsigned char* to = WarmBuffer(static_cast<std::size_t>(shape.Bytes()), 5);
  const ReorderDirection direction = in ? ReorderDirection::kToBridge : ReorderDirection::kToSafeArray;
  for (auto _ : state) {
    CopyReordered(shape.dims.data(), shape.Rank(), shape.elementSize, from, to, direction);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * shape.Bytes());
}

// The walk that the conversions ran before it was blocked: one visit per element.
void VisitWalk(benchmark::State& state, const Shape& shape, bool in) {
  const unsigned char* from = WarmBuffer(static_cast<std::size_t>(shape.Bytes()), 3);
  unsigned char* to = WarmBuffer(static_cast<std::size_t>(shape.Bytes()), 5);
  const uint32_t size = shape.elementSize;
  for (auto _ : state) {
    ForEachReordered(shape.dims.data(), shape.Rank(), [&](int64_t j, int64_t p) {
      if (in) {
        std::memcpy(to + j * size, from + p * size, size);
      } else {
        std::memcpy(to + p * size, from + j * size, size);
      }
      return true;
    });
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * shape.Bytes());
}

template <class Function, class... Args>
void Register(const std::string& name, Function function, Args... args) {
  benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
    function(state, args...);
  })->Unit(benchmark::kMicrosecond);
}

}  // namespace

void RegisterArrayBenchmarks() {
  const std::pair<const char*, int64_t> sizes[] = {{"1KiB", 1 << 10}, {"1MiB", 1 << 20}, {"64MiB", 64 << 20}};
  for (const auto& [name, bytes] : sizes) {
    const Shape shape{name, {bytes / 8}, 8};
    const std::string suffix = std::string("/1d_") + name;
    Register("ArrayIn" + suffix, ConvertIn, shape, 0u);
    Register("ArrayOut" + suffix, ConvertOut, shape, 0u);
    Register("Memcpy" + suffix, Memcpy, bytes);
    Register("AllocMemcpy" + suffix, AllocMemcpy, bytes);
  }

  const Shape shapes[] = {
      {"2d_4096_f64", {4096, 4096}, 8},       {"2d_1000x3000_f64", {1000, 3000}, 8},
      {"2d_3x1000000_f64", {3, 1000000}, 8},  {"3d_256_f64", {256, 256, 256}, 8},
      {"2d_4096_i32", {4096, 4096}, 4},       {"2d_4096_u8", {4096, 4096}, 1},
      {"3d_9x2x60000_f64", {9, 2, 60000}, 8},  // streamed, every other slice 8 bytes off a 16-byte boundary
  };
  for (const Shape& shape : shapes) {
    const std::string suffix = "/" + shape.name;
    Register("ReorderIn" + suffix, ConvertIn, shape, ArgFlag::InOnly | ArgFlag::Reorder);
    Register("ReorderOut" + suffix, ConvertOut, shape, ArgFlag::Reorder);
    Register("WalkIn" + suffix, Walk, shape, true);
    Register("WalkOut" + suffix, Walk, shape, false);
    Register("VisitWalkIn" + suffix, VisitWalk, shape, true);
    Register("VisitWalkOut" + suffix, VisitWalk, shape, false);
    Register("NaiveWalkIn" + suffix, NaiveWalkOfSize, shape, true);
    Register("NaiveWalkOut" + suffix, NaiveWalkOfSize, shape, false);
    Register("Memcpy" + suffix, Memcpy, shape.Bytes());
    Register("AllocMemcpy" + suffix, AllocMemcpy, shape.Bytes());
  }
}

}  // namespace zul::bench

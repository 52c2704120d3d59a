// String arrays in and out against a plain conversion loop over the same text. Every element of a
// string array in gets its own block of bridge memory, and every element out its own BSTR.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "marshal/marshal.h"
#include "pal/module.h"
#include "platform/ole.h"

namespace zul::bench {
namespace {

constexpr int kStrings = 100000;

int32_t Cookie() {
  static const int32_t cookie = NewWrapper();
  return cookie;
}

// Words of 4 to 40 ASCII characters, the same in every run.
const std::vector<std::string>& Texts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> made;
    uint32_t state = 12345;
    for (int i = 0; i < kStrings; ++i) {
      state = state * 1664525u + 1013904223u;
      const std::size_t length = 4 + (state >> 8) % 37;
      std::string text;
      for (std::size_t c = 0; c < length; ++c) {
        state = state * 1664525u + 1013904223u;
        text.push_back(static_cast<char>('a' + (state >> 16) % 26));
      }
      made.push_back(text);
    }
    return made;
  }();
  return texts;
}

int64_t TotalCharacters() {
  int64_t total = 0;
  for (const std::string& text : Texts()) total += static_cast<int64_t>(text.size());
  return total;
}

SAFEARRAY* BstrArray() {
  static SAFEARRAY* psa = [] {
    SAFEARRAYBOUND bound{kStrings, 0};
    SAFEARRAY* made = SafeArrayCreate(VT_BSTR, 1, &bound);
    auto* elements = static_cast<BSTR*>(made->pvData);
    for (int i = 0; i < kStrings; ++i) {
      const std::string& text = Texts()[static_cast<std::size_t>(i)];
      elements[i] = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
      for (std::size_t c = 0; c < text.size(); ++c) elements[i][c] = static_cast<OLECHAR>(text[c]);
    }
    return made;
  }();
  return psa;
}

void StringsIn(benchmark::State& state, bool nullBridge) {
  const int32_t cookie = Cookie();
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_ARRAY | VT_BSTR;
  arg.parray = BstrArray();
  std::unique_ptr<NullBridgeScope> scope(nullBridge ? new NullBridgeScope : nullptr);
  for (auto _ : state) {
    BridgeValue value{};
    uint32_t flag = ArgFlag::InOnly;
    if (!MarshalArrayIn(Context(), cookie, &arg, &value, &flag)) state.SkipWithError("conversion failed");
    state.PauseTiming();
    BridgeValue* pointer = &value;
    ReleaseArgList(Context(), cookie, 1, &pointer);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kStrings);
  state.SetBytesProcessed(state.iterations() * TotalCharacters());
}

void StringsOut(benchmark::State& state) {
  const int32_t cookie = Cookie();
  std::vector<BridgeString> elements(kStrings);
  for (int i = 0; i < kStrings; ++i) {
    const std::string& text = Texts()[static_cast<std::size_t>(i)];
    elements[static_cast<std::size_t>(i)] = {static_cast<int32_t>(text.size()), 0, 0,
                                             const_cast<char*>(text.c_str())};
  }
  BridgeArray array{};
  array.elementSize = sizeof(BridgeString);
  array.elementCount = kStrings;
  array.totalBytes = kStrings * static_cast<int64_t>(sizeof(BridgeString));
  array.dimensionCount = 1;
  array.dims[0] = kStrings;
  array.data = elements.data();
  BridgeValue value{};
  value.type = ZUL_TYP_STRING;
  value.flags = ValueFlag::Array;
  value.value.array = &array;
  for (auto _ : state) {
    VARIANT out;
    VariantInit(&out);
    uint32_t flag = 0;
    if (!MarshalArrayOut(Context(), cookie, &value, &out, &flag)) state.SkipWithError("conversion failed");
    state.PauseTiming();
    VariantClear(&out);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kStrings);
  state.SetBytesProcessed(state.iterations() * TotalCharacters());
}

// Only the blocks that a string array in takes, one per element, from the bridge or from malloc.
void BridgeBlocks(benchmark::State& state, bool nullBridge) {
  const BridgeEntries& bridge = nullBridge ? NullEntries() : BridgeDirect();
  const int32_t cookie = Cookie();
  std::vector<void*> blocks(kStrings);
  for (auto _ : state) {
    for (int i = 0; i < kStrings; ++i) {
      blocks[static_cast<std::size_t>(i)] =
          bridge.AllocateMemory(cookie, Texts()[static_cast<std::size_t>(i)].size() + 1);
    }
    state.PauseTiming();
    for (void* block : blocks) bridge.ReleaseMemory(cookie, block);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kStrings);
}

// UTF-16 to UTF-8 one code point at a time, into one buffer with a NUL after each text.
void PlainUtf16ToUtf8(benchmark::State& state) {
  const auto* elements = static_cast<const BSTR*>(BstrArray()->pvData);
  std::vector<unsigned char> out(static_cast<std::size_t>(TotalCharacters()) * 3 + kStrings);
  for (auto _ : state) {
    unsigned char* to = out.data();
    for (int i = 0; i < kStrings; ++i) {
      const BSTR text = elements[i];
      const UINT length = SysStringLen(text);
      for (UINT u = 0; u < length; ++u) {
        uint32_t c = text[u];
        if (c >= 0xD800 && c < 0xDC00 && u + 1 < length)
          c = 0x10000 + ((c - 0xD800) << 10) + (text[++u] - 0xDC00);
        if (c < 0x80) {
          *to++ = static_cast<unsigned char>(c);
        } else if (c < 0x800) {
          *to++ = static_cast<unsigned char>(0xC0 | (c >> 6));
          *to++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
          *to++ = static_cast<unsigned char>(0xE0 | (c >> 12));
          *to++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
          *to++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else {
          *to++ = static_cast<unsigned char>(0xF0 | (c >> 18));
          *to++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
          *to++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
          *to++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
      }
      *to++ = 0;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kStrings);
  state.SetBytesProcessed(state.iterations() * TotalCharacters());
}

// UTF-8 to UTF-16 one code point at a time, into one buffer.
void PlainUtf8ToUtf16(benchmark::State& state) {
  std::vector<OLECHAR> out(static_cast<std::size_t>(TotalCharacters()) + kStrings);
  for (auto _ : state) {
    OLECHAR* to = out.data();
    for (const std::string& text : Texts()) {
      const auto* from = reinterpret_cast<const unsigned char*>(text.c_str());
      while (*from != 0) {
        uint32_t c = *from++;
        if (c >= 0xF0) {
          c = ((c & 0x07) << 18) | ((from[0] & 0x3Fu) << 12) | ((from[1] & 0x3Fu) << 6) | (from[2] & 0x3Fu);
          from += 3;
        } else if (c >= 0xE0) {
          c = ((c & 0x0F) << 12) | ((from[0] & 0x3Fu) << 6) | (from[1] & 0x3Fu);
          from += 2;
        } else if (c >= 0xC0) {
          c = ((c & 0x1F) << 6) | (from[0] & 0x3Fu);
          from += 1;
        }
        if (c >= 0x10000) {
          *to++ = static_cast<OLECHAR>(0xD800 + ((c - 0x10000) >> 10));
          *to++ = static_cast<OLECHAR>(0xDC00 + (c & 0x3FF));
        } else {
          *to++ = static_cast<OLECHAR>(c);
        }
      }
      *to++ = 0;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kStrings);
  state.SetBytesProcessed(state.iterations() * TotalCharacters());
}

}  // namespace

void RegisterStringBenchmarks() {
  const auto unit = benchmark::kMillisecond;
  benchmark::RegisterBenchmark("StringsIn/100000", StringsIn, false)->Unit(unit);
  benchmark::RegisterBenchmark("StringsInNullBridge/100000", StringsIn, true)->Unit(unit);
  benchmark::RegisterBenchmark("StringBlocks/100000", BridgeBlocks, false)->Unit(unit);
  benchmark::RegisterBenchmark("StringBlocksNullBridge/100000", BridgeBlocks, true)->Unit(unit);
  benchmark::RegisterBenchmark("StringsOut/100000", StringsOut)->Unit(unit);
  benchmark::RegisterBenchmark("PlainUtf16ToUtf8/100000", PlainUtf16ToUtf8)->Unit(unit);
  benchmark::RegisterBenchmark("PlainUtf8ToUtf16/100000", PlainUtf8ToUtf16)->Unit(unit);
}

}  // namespace zul::bench

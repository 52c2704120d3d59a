#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "marshal/reorder.h"
#include "marshal_test_support.h"

namespace zul::testing {
namespace {

constexpr const char* kAllocationFailed = "Failed to allocate memory.";

// A bridge array as a bridge hands one back: element j holds j + 1. With claimed dims, only the
// descriptor says so: for sizes that must be refused before any copy.
struct Result {
  Result(uint8_t code, int64_t size, const std::vector<int64_t>& dims, bool claimed = false) {
    const auto n =
        static_cast<int64_t>(std::accumulate(dims.begin(), dims.end(), uint64_t{1}, std::multiplies<>()));
    data.resize(static_cast<size_t>((claimed ? 1 : n) * size));
    for (size_t j = 0; j * size < data.size(); ++j) data[j * size] = static_cast<unsigned char>(j + 1);
    array = {size, static_cast<int64_t>(static_cast<uint64_t>(n) * size), n,
             data.data(),  // bytes as they wrap
             static_cast<uint8_t>(dims.size())};
    std::copy_n(dims.begin(), std::min<size_t>(dims.size(), 8), array.dims);
    value = {code, ValueFlag::Array | ValueFlag::BridgeMemory, {}, {}};
    value.value.array = &array;
  }
  std::vector<unsigned char> data;
  BridgeArray array{};
  BridgeValue value{};
};

// m extents whose product is n to within 1/64: 1s, odd and prime ones, the edges of tiles and bands, and
// one that takes the rest.
std::vector<int64_t> ShapeOf(std::mt19937_64& random, size_t m, int64_t n) {
  constexpr int64_t kExtents[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 31, 32, 63, 64, 65, 127, 256, 257};
  std::vector<int64_t> dims(m, 1);
  const size_t rest = random() % m;
  int64_t product = 1;
  for (size_t k = 0; k < m; ++k) {
    const int64_t e = random() % 3 == 0 ? 1 + random() % 100 : kExtents[random() % std::size(kExtents)];
    if (k != rest && product * e * 64 <= n) dims[k] = e, product *= e;
  }
  dims[rest] = (n + product - 1) / product;
  return dims;
}

// The walk and both conversions (new and in-place targets, reordered or not) against the element walk,
// on seeded random shapes of 1 to 8 dimensions with elements of every plain size, below and above the
// tiles' reach and on both sides of the streamed copy (8 MiB, up to 32 MiB); the walk also into a
// destination at any offset. ZUL_PROPERTY_SEED and ZUL_PROPERTY_COUNT change the seed and the number
// of shapes, for long runs (and a short one under valgrind).
TEST_F(MarshalTest, ReorderedArraysMatchTheElementWalkInEveryShapeSizeAndDirection) {
  const uint64_t seed = Setting("ZUL_PROPERTY_SEED", 20250614), count = Setting("ZUL_PROPERTY_COUNT", 32);
  std::mt19937_64 random(seed);
  const int64_t kBytes[][2] = {
      {1, 4 << 10}, {4 << 10, 1 << 20}, {6 << 20, (8 << 20) / 65 * 63}, {8 << 20, 32 << 20}};
  constexpr VARTYPE kPlain[] = {VT_UI1, VT_I2, VT_I4, VT_R8};  // of 1, 2, 4 and 8 bytes
  for (uint64_t c = 0; c < count; ++c) {
    const VARTYPE vt = kPlain[c / 4 % 4];
    const uint32_t size = 1u << (c / 4 % 4);
    const int64_t bytes = kBytes[c % 4][0] + random() % (kBytes[c % 4][1] - kBytes[c % 4][0]);
    const std::vector<int64_t> dims = ShapeOf(random, 1 + random() % 8, std::max<int64_t>(1, bytes / size));
    const uint64_t reorder = random() % 8 != 0, inPlace = random() % 2 == 0, offset = random() % 16;
    std::mt19937_64 bits(random());
    ::testing::Message shape;
    for (int64_t d : dims) shape << " " << d;
    SCOPED_TRACE(::testing::Message()
                 << "seed " << seed << " shape " << c << ": " << size << "-byte elements," << shape
                 << (reorder ? "" : ", not reordered") << (inPlace ? ", in place" : ""));
    const size_t total = std::accumulate(dims.begin(), dims.end(), size_t{size}, std::multiplies<>());
    const auto differs = [&](const void* got, const unsigned char* want) {  // the first element that does
      const auto* at = static_cast<const unsigned char*>(got);
      return std::memcmp(at, want, total) == 0 ? -1 : (std::mismatch(at, at + total, want).first - at) / size;
    };
    SAFEARRAY* psa = NewArray(vt, std::vector<ULONG>(dims.begin(), dims.end()));
    auto* client = static_cast<unsigned char*>(psa->pvData);
    std::vector<uint64_t> words(total / 8 + 1);
    for (uint64_t& word : words) word = bits();
    std::memcpy(client, words.data(), total);
    const int m = static_cast<int>(dims.size());
    ArgList in = InOne(Holding(VT_ARRAY | vt, psa), reorder ? ArgFlag::Reorder : 0);
    ASSERT_TRUE(in.ok) << Message();
    Result result(in[0].type, size, dims);
    unsigned char* bridgeOrder = result.data.data();
    ForEachReordered(dims.data(), m, [&](int64_t j, int64_t p) {
      std::memcpy(bridgeOrder + j * size, client + p * size, size);
      return true;
    });

    std::vector<unsigned char> walked(total + 16);
    CopyReordered(dims.data(), m, size, client, walked.data() + offset, ReorderDirection::kToBridge);
    ASSERT_EQ(differs(walked.data() + offset, bridgeOrder), -1) << "walk to the bridge";
    CopyReordered(dims.data(), m, size, bridgeOrder, walked.data() + offset, ReorderDirection::kToSafeArray);
    ASSERT_EQ(differs(walked.data() + offset, client), -1) << "walk to the SAFEARRAY";
    ASSERT_EQ(differs(in[0].value.array->data, reorder ? bridgeOrder : client), -1) << "in";
    VARIANT out = inPlace ? Holding(VT_ARRAY | vt, psa) : Var(VT_EMPTY);
    std::memset(client, 0, total);
    psa->fFeatures |= FADF_FIXEDSIZE;
    uint32_t flag = reorder ? ArgFlag::Reorder : 0;
    ASSERT_TRUE(MarshalArrayOut(context, cookie, &result.value, &out, &flag)) << Message();
    ASSERT_EQ(out.vt, VT_ARRAY | vt);
    const auto* sent = reinterpret_cast<const unsigned char*>(words.data());
    EXPECT_EQ(differs(out.parray->pvData, reorder ? sent : bridgeOrder), -1) << "out";
    if (!inPlace) FreeArray(out.parray);
    FreeArray(psa);
  }
}

// A descriptor made by hand, for shapes that OLE Automation would not create.
struct HandArray {
  HandArray(USHORT dims, ULONG elements, void* data, ULONG size = 4)
      : sa{dims, 0, size, 0, data, {{elements, 0}}} {
    for (int k = 1; k < dims; ++k) more[k - 1] = {elements, 0};
  }
  SAFEARRAY sa;
  SAFEARRAYBOUND more[8]{};
};

// What cannot travel, in (argument 2 of 3; the later one stays unconverted) or out (code: the bridge's
// value, into the client's VARIANT), each with a text of its own; a few conversions on the edge succeed.
TEST_F(MarshalTest, WhatCannotTravelIsRefusedWithItsOwnText) {
  std::vector<SAFEARRAY*> owned;
  // An array of vt, its bounds as OLE Automation stores them (reversed); VARIANTs from elements.
  auto array = [&](VARTYPE vt, std::vector<ULONG> stored, std::vector<VARIANT> elements = {}) {
    owned.push_back(NewArray(vt, stored));
    std::copy(elements.begin(), elements.end(), static_cast<VARIANT*>(owned.back()->pvData));
    return Holding(VT_ARRAY | vt, owned.back());
  };
  const VARIANT one = Var(VT_I4, 1), half = Var(VT_R8, Raw(1.5)), x = Var(VT_BSTR), empty = Var(VT_EMPTY);
  auto element = [](const char* index, const char* vt, const char* type = nullptr) {
    return std::string("Element ") + index + " of the array of variants in argument 2 is " + vt +
           (type ? std::string(", which does not convert exactly to the array's element type ") + type + "."
                 : ", which holds no value to pass.");
  };
  int32_t bytes[4] = {};
  auto* shortElements = static_cast<unsigned char*>(std::malloc(8));  // a sanitizer sees any read beyond
  HandArray noDims(0, 1, bytes), noData(1, 4, nullptr), huge(2, 0x10000, bytes), beyond(8, 0xFFFFFFFF, bytes),
      wide(1, 2, bytes), shortVariants(1, 1, shortElements, 8), emptyBesideHuge(3, 0xFFFFFFFF, bytes, 8);
  emptyBesideHuge.more[1] = {0, 0};  // the walk never multiplies the others
  VARIANT lowerBoundOne = array(VT_I4, {3});
  owned.back()->rgsabound[0].lLbound = 1;
  SAFEARRAY* nothing = nullptr;
  const int64_t nine = 9;
  LONG bare = 0;
  const VARIANT byRefLong = Holding(VT_BYREF | VT_I4, &bare);
  VARIANT self = Ref(nullptr);
  self.pvarVal = &self;
  auto malformed = [](const char* code) {
    return std::string("The bridge returned a ZUL_TYP_") + code +
           " array for the result whose descriptor does not match its type and dimensions.";
  };
  const std::string kLongs = malformed("LONG"), kDoubles = malformed("DOUBLE");
  const char* const kInOnly = "Object references must be in-only (constant).  They cannot be returned.";
  enum Change { kNone, kClaimed, kNoDescriptor, kHalfElements, kNoData, kNotAnArray };
  const struct {
    VARIANT client;
    std::string text;                // empty: converted; in: into LONGs 1, 7, 3..., out: element 2 holds 3
    uint8_t code = 0;                // out: the bridge value's type; no dims: a scalar 7
    std::vector<int64_t> dims = {};  // in: {n}, the nth allocation fails
    Change change = kNone;
  } rows[] = {
      {array(VT_VARIANT, {6},
             {one, Var(VT_I2, 7), Var(VT_R8, Raw(3.0)), Var(VT_BOOL, 0xFFFF),
              Holding(VT_BYREF | VT_I8, &nine), Var(VT_CY, 50000)}),
       ""},
      {array(VT_VARIANT, {6},  // Long elements after an unsigned first one: converted, as they fit
             {Var(VT_UI4, 1), Var(VT_I4, 7), Var(VT_I4, 3), Var(VT_I4, 1), Var(VT_I4, 9), Var(VT_I4, 5)}),
       ""},
      {Var(VT_VECTOR | VT_I4), "Argument 2 is VT_VECTOR|VT_I4, which cannot be passed."},
      {Ref(nullptr), "Argument 2 is VT_BYREF|VT_VARIANT with a null reference."},
      {Holding(VT_BYREF | VT_I4, nullptr), "Argument 2 is VT_BYREF|VT_I4 with a null reference."},
      {self, "Argument 2 is a chain of more than 64 references to variants."},
      {Var(VT_DISPATCH), "Object reference must be another ZUL COM wrapper object."},
      {lowerBoundOne, "Safearray lLbound MUST be zero."},
      {array(VT_I4, {1, 2, 1, 1, 1, 1, 1, 1, 1}),
       "Number of dimensions on client array exceeds maximum allowable ZUL array dimensions of 8"},
      {array(VT_DISPATCH, {2}),
       "Array of object references must be an array of variants, with each variant "
       "containing an object reference."},
      {Holding(VT_ARRAY | VT_I4, &huge.sa),
       kAllocationFailed,
       0,
       {3}},  // the data, after "abc" and its descriptor
      {Holding(VT_ARRAY | VT_R8, &emptyBesideHuge.sa), ""},
      {Holding(VT_ARRAY | VT_I4, &beyond.sa), kAllocationFailed},  // beyond 64 bits: never asked for
      {array(VT_BOOL, {2}), "Argument 2 is an array of VT_BOOL, which cannot be passed."},
      {array(VT_CY, {2}), "Argument 2 is an array of VT_CY, which cannot be passed."},
      {Holding(VT_BYREF | VT_ARRAY | VT_I4, nullptr),
       "Argument 2 is VT_ARRAY|VT_BYREF|VT_I4 with a null reference."},
      {Holding(VT_ARRAY | VT_I4, &noDims.sa), "Argument 2 is VT_ARRAY|VT_I4 with no dimensions."},
      {Holding(VT_ARRAY | VT_I4, &noData.sa), "Argument 2 is VT_ARRAY|VT_I4 without a data block."},
      {Holding(VT_ARRAY | VT_I2, &wide.sa),
       "Argument 2 is VT_ARRAY|VT_I2 with elements of 4 bytes, where its type has 2."},
      {Holding(VT_ARRAY | VT_VARIANT, &shortVariants.sa),
       "Argument 2 is VT_ARRAY|VT_VARIANT with elements of 8 bytes, where its type has 24."},
      {array(VT_VARIANT, {0}),
       "Argument 2 is an empty array of variants, whose elements have no type to pass."},
      {array(VT_VARIANT, {2}, {empty, one}), element("(0)", "VT_EMPTY")},
      {array(VT_VARIANT, {1, 1}, {Var(VT_DECIMAL)}),
       "Element (0, 0) of the array of variants in argument 2 is VT_DECIMAL, which cannot be passed."},
      {array(VT_VARIANT, {2}, {x, one}), element("(1)", "VT_I4", "VT_BSTR")},
      {array(VT_VARIANT, {2}, {one, Holding(VT_DISPATCH, nullptr)}), element("(1)", "VT_DISPATCH", "VT_I4")},
      // A VBScript Dim a(1, 2): the client's own indexes, first dimension first.
      {array(VT_VARIANT, {3, 2}, {one, one, x, one, one, one}), element("(0, 1)", "VT_BSTR", "VT_I4")},
      {array(VT_VARIANT, {3, 2}, {one, one, one, empty, one, half}), element("(1, 1)", "VT_EMPTY")},
      {array(VT_VARIANT, {3, 2}, {one, one, one, one, one, half}), element("(1, 2)", "VT_R8", "VT_I4")},
      {Holding(VT_BYREF | VT_ARRAY | VT_I4, &nothing), "", ZUL_TYP_LONG, {3}},
      {array(VT_BSTR, {2, 2}), "", ZUL_TYP_LONG, {3}},  // replaced, its strings destroyed with it
      {empty, "", ZUL_TYP_DOUBLE, {0}, kNoData},        // empty: no data needed, none copied
      {empty, "", ZUL_TYP_LONG, {}, kNotAnArray},       // 0x20: a scalar whatever else the flags say
      {byRefLong,
       "Cannot write a ZUL_TYP_LONG array into a by-reference argument of type VT_BYREF|VT_I4.",
       ZUL_TYP_LONG,
       {3}},
      {byRefLong, kInOnly, ZUL_TYP_OBJREF, {}},
      {empty, kInOnly, ZUL_TYP_OBJREF, {3}},
      {empty, "Unsupported data type: ZUL_TYP_UNDEF", 42, {3}},
      {byRefLong, "Unsupported data type: ZUL_TYP_DCOMPLEX", ZUL_TYP_DCOMPLEX, {}},
      {empty, kLongs, ZUL_TYP_LONG, {1, 1, 1, 1, 1, 1, 1, 1, 1}},
      {empty, kLongs, ZUL_TYP_LONG, {3}, kNoDescriptor},
      {empty, kLongs, ZUL_TYP_LONG, {3}, kNoData},
      {empty, kDoubles, ZUL_TYP_DOUBLE, {3}, kHalfElements},
      {empty, kDoubles, ZUL_TYP_DOUBLE, {int64_t{1} << 62}, kClaimed},
      {empty, kDoubles, ZUL_TYP_DOUBLE, {int64_t{1} << 33, int64_t{1} << 31}, kClaimed},  // 2^64 counts 0
      {empty,
       "ZUL array dimension exceeds the Safearray bounds 'cElement' size (ULONG).",
       ZUL_TYP_BYTE,
       {int64_t{1} << 32},
       kClaimed},
      {empty, kAllocationFailed, ZUL_TYP_DOUBLE, {0x10000, 0x10001}, kClaimed},  // beyond a SAFEARRAY
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << "row " << &row - rows);
    ResetMessage();
    const bool ok = row.text.empty();
    if (row.code == 0) {  // in
      bridge->FailAllocationAt(row.dims.empty() ? 0 : row.dims[0]);
      std::vector<VARIANT> args{Holding(VT_BSTR, SysAllocString(OLESTR("abc"))), row.client, Var(VT_BSTR)};
      std::vector<uint32_t> flags(3, ArgFlag::WriteBack | ArgFlag::Reorder);
      {
        ArgList in = In(args, flags);
        EXPECT_EQ(in.ok, ok);
        EXPECT_EQ(Message(), ok ? kUntouched : row.text);
        const auto* longs = ok ? static_cast<const int32_t*>(in[1].value.array->data) : nullptr;
        EXPECT_TRUE(!ok || in[1].value.array->elementCount == 0 ||
                    std::vector<int32_t>(longs, longs + 6) == std::vector<int32_t>({1, 7, 3, 1, 9, 5}));
        EXPECT_TRUE(ok || !in.list.pointers[2]);  // the later argument stays as it was made
      }
      VariantClear(&args[0]);
      continue;
    }
    const int64_t size = row.code == ZUL_TYP_DOUBLE ? 8 : row.code == ZUL_TYP_BYTE ? 1 : 4;
    Result result(row.code, size, row.dims, row.change == kClaimed);
    if (row.dims.empty()) result.value = {row.code, uint8_t(row.change == kNotAnArray ? 0x24 : 0), {}, {{7}}};
    if (row.change == kNoDescriptor) result.value.value.array = nullptr;
    if (row.change == kNoData) result.array.data = nullptr;
    if (row.change == kHalfElements) result.array.elementSize /= 2, result.array.totalBytes /= 2;
    VARIANT target = row.client;
    uint32_t flag = 0;
    EXPECT_EQ(MarshalValueOut(context, cookie, &result.value, &target, &flag), ok);
    EXPECT_EQ(Message(), ok ? kUntouched : row.text);
    EXPECT_TRUE(ok || !std::memcmp(&target, &row.client, sizeof target));
    const bool three = ok && row.dims.size() == 1 && row.dims[0] == 3;
    SAFEARRAY* made = !ok || row.dims.empty()  ? nullptr
                      : (target.vt & VT_BYREF) ? *target.pparray
                                               : target.parray;
    EXPECT_TRUE(!three || Load<int32_t>(static_cast<unsigned char*>(made->pvData) + 8) == 3);
    EXPECT_TRUE(!ok || !row.dims.empty() || (target.vt == VT_I4 && target.lVal == 7));
    if (ok && !row.dims.empty()) FreeArray(made);
    if (ok) owned.erase(std::remove(owned.begin(), owned.end(), row.client.parray), owned.end());  // replaced
  }
  EXPECT_EQ(bare, 0);
  BridgeArgList none;  // without arguments nothing is written back
  uint32_t flag = ArgFlag::WriteBack;
  EXPECT_TRUE(WriteBackArgs(context, cookie, 0, none, nullptr, &flag));
  std::vector<VARIANT> args{Var(VT_I4, 1), Holding(VT_ARRAY | VT_I4, NewArray(VT_I4, {3}))};
  std::vector<uint32_t> flags(2, ArgFlag::WriteBack | ArgFlag::Reorder);
  {
    ArgList in = In(args, flags);
    in[1].value.array->elementCount = 2;  // a write-back names its argument
    EXPECT_FALSE(WriteBack(in, args, flags));
    EXPECT_EQ(Message(), std::regex_replace(kLongs, std::regex("the result"), "argument 2"));
    in[1].value.array->elementCount = 3;
  }
  FreeArray(args[1].parray);
  LONG edge = 0;  // a whole double reaches an integer type's last value, not beyond
  VARIANT into = Holding(VT_BYREF | VT_I4, &edge);
  for (const double d : {2147483647.0, 2147483648.0}) {
    BridgeValue number{ZUL_TYP_DOUBLE, 0, {}, {}};
    number.value.doubleVal = d;
    EXPECT_EQ(MarshalValueOut(context, cookie, &number, &into, &flag), d < 2147483648.0) << d;
  }
  EXPECT_EQ(edge, 2147483647);
  for (SAFEARRAY* psa : owned) FreeArray(psa);
  std::free(shortElements);
}

// The bridge changed an array of VARIANTs in place and the element that another argument refers to:
// that reference is written first, never into a replaced array, and a fixed array's new value wins,
// whichever argument comes first.
TEST_F(MarshalTest, AReferenceIntoAnArrayIsWrittenBackBeforeTheArray) {
  for (const int c : {0, 1, 2, 3}) {
    const bool fixed = (c & 1) != 0;
    const int a = c >> 1;  // the array's argument
    SCOPED_TRACE(c);
    SAFEARRAY* psa = NewArray(VT_VARIANT, {3});
    auto* elements = static_cast<VARIANT*>(psa->pvData);
    for (int p = 0; p < 3; ++p) elements[p] = Var(VT_I2, p + 1);
    psa->fFeatures |= fixed ? FADF_FIXEDSIZE | FADF_STATIC : 0;
    SAFEARRAY* slot = psa;
    VARIANT inner = Holding(VT_BYREF | VT_ARRAY | VT_VARIANT, &slot);
    std::vector<VARIANT> args{Ref(&inner), Ref(&elements[0])};
    std::vector<uint32_t> flags{ArgFlag::WriteBack | ArgFlag::WriteBackChanged | ArgFlag::Reorder,
                                ArgFlag::WriteBack};
    if (a == 1) std::swap(args[0], args[1]), std::swap(flags[0], flags[1]);
    {
      ArgList in = In(args, flags);
      ASSERT_TRUE(in.ok);
      auto* data = static_cast<int16_t*>(in[a].value.array->data);
      for (int j = 0; j < 3; ++j) data[j] = static_cast<int16_t>(7 + j);  // what the call changed
      in[1 - a].value.intVal = 5;
      ASSERT_TRUE(WriteBack(in, args, flags));
    }
    EXPECT_EQ(slot == psa, fixed);
    for (int p = 0; p < 3; ++p) EXPECT_EQ(static_cast<VARIANT*>(slot->pvData)[p].iVal, 7 + p);
    FreeArray(slot);
  }
}

}  // namespace
}  // namespace zul::testing

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "marshal/reorder.h"
#include "marshal_test_support.h"

namespace zul::testing {
namespace {

constexpr const char* kAllocationFailed = "Failed to allocate memory.";

uint64_t Setting(const char* name, uint64_t otherwise) {
  return std::getenv(name) != nullptr ? std::strtoull(std::getenv(name), nullptr, 0) : otherwise;
}

// The SAFEARRAY position that bridge element j pairs with under the reordering walk.
int64_t WalkPosition(int64_t j, const std::vector<ULONG>& dims) {
  std::vector<int64_t> index;
  for (ULONG d : dims) index.push_back(j % d), j /= d;
  int64_t p = 0;
  for (size_t k = 0; k < dims.size(); ++k) p = p * dims[k] + index[k];
  return p;
}

// A bridge array as a bridge hands one back: element j holds j + 1. With claimed dims, only the
// descriptor says so: for sizes that must be refused before any copy.
struct Result {
  Result(uint8_t code, int64_t size, const std::vector<int64_t>& dims, bool claimed = false) {
    const int64_t n = std::accumulate(dims.begin(), dims.end(), int64_t{1}, std::multiplies<>());
    data.resize(static_cast<size_t>((claimed ? 1 : n) * size));
    for (size_t j = 0; j * size < data.size(); ++j) data[j * size] = static_cast<unsigned char>(j + 1);
    array.elementSize = size;
    array.elementCount = n;
    array.totalBytes = static_cast<int64_t>(static_cast<uint64_t>(n) * size);  // as it wraps
    array.data = data.data();
    array.dimensionCount = static_cast<uint8_t>(dims.size());
    std::copy_n(dims.begin(), std::min<size_t>(dims.size(), 8), array.dims);
    value = {code, ValueFlag::Array | ValueFlag::BridgeMemory, {}, {}};
    value.value.array = &array;
  }
  std::vector<unsigned char> data;
  BridgeArray array{};
  BridgeValue value{};
};

// Element types whose arrays travel (typed, or as the first element of an array of VARIANTs).
constexpr VARTYPE kArrayTypes[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_UINT, VT_I4,     VT_UI4,
                                   VT_R4, VT_R8,  VT_I8, VT_UI8, VT_BSTR, VT_VARIANT};

// An element of either side: its number's low bytes (as many as the bridge's element has) or its text
// in the code page, up to a NUL, as far as a bridge reads it.
struct Element {
  uint64_t bits = 0;
  std::string text;
  bool operator==(const Element&) const = default;
};
const unsigned char* ValueAt(const SAFEARRAY* psa, VARTYPE& vt, int64_t p) {
  const auto* at = static_cast<const unsigned char*>(psa->pvData) + p * psa->cbElements;
  if (vt == VT_VARIANT) vt = reinterpret_cast<const VARIANT*>(at)->vt, at += offsetof(VARIANT, llVal);
  return at;
}
Element At(const SAFEARRAY* psa, VARTYPE vt, int64_t p, int64_t width) {
  const unsigned char* at = ValueAt(psa, vt, p);
  Element e;
  if (vt != VT_BSTR) return std::memcpy(&e.bits, at, static_cast<size_t>(width)), e;
  const BSTR bstr = Load<BSTR>(at);
  const int units = bstr != nullptr ? static_cast<int>(std::char_traits<OLECHAR>::length(bstr)) : 0;
  e.text.resize(4 * units);
  e.text.resize(units == 0 ? 0
                           : WideCharToMultiByte(CP_THREAD_ACP, 0, bstr, units, e.text.data(), 4 * units,
                                                 nullptr, nullptr));
  return e;
}
Element BridgeAt(const BridgeArray& a, uint8_t code, int64_t j) {
  const auto* at = static_cast<const unsigned char*>(a.data) + j * a.elementSize;
  Element e;
  if (code == ZUL_TYP_STRING) return {0, Load<BridgeString>(at).chars ? Load<BridgeString>(at).chars : "?"};
  return std::memcpy(&e.bits, at, static_cast<size_t>(a.elementSize)), e;
}

std::vector<ULONG> RandomShape(std::mt19937_64& random, bool allowEmpty) {
  for (;;) {
    std::vector<ULONG> dims(1 + random() % 8);
    uint64_t n = 1;
    for (ULONG& d : dims) n *= d = 1 + random() % 5;
    if (allowEmpty && random() % 6 == 0) dims[random() % dims.size()] = 0;
    if (n <= 2000) return dims;
  }
}

// Random bits, or texts with non-ASCII characters (that every code page under test has) and NULs.
void Fill(SAFEARRAY* psa, VARTYPE vt, VARTYPE element, size_t n, std::mt19937_64& random) {
  for (size_t p = 0; p < n; ++p) {
    auto* at = static_cast<unsigned char*>(psa->pvData) + p * psa->cbElements;
    if (vt == VT_VARIANT) reinterpret_cast<VARIANT*>(at)->vt = element, at += offsetof(VARIANT, llVal);
    uint64_t bits = random();
    if (element == VT_BSTR) {
      const char16_t kChars[] = u"az\u00E9\u00DF\u20AC\u00FC";
      std::u16string s(random() % 5, u'a');
      for (char16_t& c : s) c = random() % 16 == 0 ? 0 : kChars[random() % 6];
      bits = reinterpret_cast<uint64_t>(
          SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size())));
    }
    std::memcpy(at, &bits, vt == VT_VARIANT ? 8 : psa->cbElements);
  }
}

// Arrays of every element type and 1 to 8 dimensions (some empty), reordered or not, go to the bridge
// element for element in the walk's order (texts whole, in the code page); back they keep their shape
// and contents, or take what the bridge filled in: a new array, or the client's own where it may not be
// replaced. Flagged WriteBackChanged, an array the bridge left as it was stays as it was.
TEST_F(MarshalTest, ArraysTravelInTheWalksOrderAndComeBackWithTheirShape) {
  enum Target { kNew, kFixedSize, kStatic, kLocked };
  const uint64_t seed = Setting("ZUL_PROPERTY_SEED", 20240607), count = Setting("ZUL_PROPERTY_COUNT", 32) * 8;
  std::mt19937_64 random(seed);
  for (uint64_t c = 0; c < count; ++c) {
    const VARTYPE vt = kArrayTypes[random() % std::size(kArrayTypes)];
    const VARTYPE element = vt == VT_VARIANT ? kArrayTypes[random() % (std::size(kArrayTypes) - 1)] : vt;
    // An array of VARIANTs has no type when empty; an array of VT_UINT goes out as 16-bit: not in place.
    const std::vector<ULONG> dims = RandomShape(random, vt != VT_VARIANT);
    const auto target = static_cast<Target>(vt == VT_UINT ? kNew : random() % 4);
    const bool reorder = random() % 2, changedOnly = random() % 2, filled = random() % 2;
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " case " << c << ": " << vt << "/" << element
                                      << ", " << dims.size() << " dims, target " << target << " reorder "
                                      << reorder << " only changed " << changedOnly << " filled " << filled);
    const size_t m = dims.size(),
                 n = std::accumulate(dims.begin(), dims.end(), size_t{1}, std::multiplies<>());
    SAFEARRAY* psa = NewArray(vt, dims);
    ASSERT_NE(psa, nullptr);
    Fill(psa, vt, element, n, random);
    psa->fFeatures |= target == kFixedSize ? FADF_FIXEDSIZE : target == kStatic ? FADF_STATIC : 0;
    if (target == kLocked) ::SafeArrayLock(psa);
    SAFEARRAY* slot = psa;
    const auto* text = reinterpret_cast<const OLECHAR*>(u"\u00E9t\u00E9");
    VARIANT by =
        element == VT_BSTR ? Holding(VT_BSTR, SysAllocString(text)) : Var(VT_I4, int64_t(random() % 100));
    std::vector<VARIANT> args{Holding(VT_BYREF | VT_ARRAY | vt, &slot), by};
    std::vector<uint32_t> flags{ArgFlag::WriteBack | (reorder ? ArgFlag::Reorder : 0u) |
                                    (changedOnly ? ArgFlag::WriteBackChanged : 0u),
                                ArgFlag::InOnly};
    std::vector<Element> expected(n);
    int64_t width = 0;
    bool changed = false;
    {
      ArgList in = In(args, flags);
      ASSERT_TRUE(in.ok) << Message();
      const BridgeArray& a = *in[0].value.array;
      const uint8_t code = in[0].type;
      width = a.elementSize;
      EXPECT_EQ(a.dimensionCount, m);
      EXPECT_EQ(a.elementCount, static_cast<int64_t>(n));
      for (size_t k = 0; k < 8; ++k) EXPECT_EQ(a.dims[k], k < m ? dims[k] : reorder && m > 1) << k;
      const auto position = [&](int64_t j) { return reorder ? WalkPosition(j, dims) : j; };
      for (size_t j = 0; j < n; ++j) {
        ASSERT_EQ(BridgeAt(a, code, j), At(psa, vt, position(j), width)) << j;
        VARTYPE t = vt;
        const unsigned char* at = ValueAt(psa, t, position(j));
        if (t == VT_BSTR)
          EXPECT_EQ(Load<BridgeString>(static_cast<const unsigned char*>(a.data) + j * width).length,
                    static_cast<int32_t>(SysStringLen(Load<BSTR>(at))));
      }
      if (filled) ASSERT_EQ(Call("Fill", in), 0) << Message();
      for (size_t j = 0; j < n; ++j) {
        changed = changed || !(BridgeAt(a, code, j) == At(psa, vt, position(j), width));
        expected[position(j)] = BridgeAt(a, code, j);
      }
      ASSERT_TRUE(WriteBack(in, args, flags)) << Message();
    }
    const bool left = changedOnly && !changed, replaced = target == kNew && !left;
    EXPECT_EQ(flags[0] & ArgFlag::WriteBack, left ? 0u : ArgFlag::WriteBack);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot == psa, !replaced);
    const VARTYPE now = args[0].vt & VT_TYPEMASK;
    EXPECT_TRUE(!replaced || vt == VT_VARIANT || element == VT_BSTR ? now == vt : slot->cbElements == width)
        << now;
    ASSERT_EQ(slot->cDims, m);
    for (size_t k = 0; k < m; ++k)
      EXPECT_TRUE(slot->rgsabound[k].cElements == dims[k] && slot->rgsabound[k].lLbound == 0) << k;
    for (size_t p = 0; p < n; ++p) ASSERT_EQ(At(slot, now, p, width), expected[p]) << p;
    FreeArray(slot);
    if (element == VT_BSTR) SysFreeString(by.bstrVal);
  }
}

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
  HandArray(USHORT dims, ULONG elements, void* data, ULONG size = 4) {
    sa.cDims = dims;
    sa.cbElements = size;
    sa.pvData = data;
    for (int k = 0; k < dims; ++k) (k == 0 ? sa.rgsabound[0] : more[k - 1]) = {elements, 0};
  }
  SAFEARRAY sa{};
  SAFEARRAYBOUND more[8]{};
};

// Arrays in: mixed VARIANTs convert where exact, else the first element that does not is named by the
// client's own indexes; every refusal has its own text and leaves the later arguments unconverted.
TEST_F(MarshalTest, ArraysInConvertMixedVariantsExactlyOrFailWithTheirOwnText) {
  std::vector<SAFEARRAY*> owned;
  auto typed = [&](VARTYPE vt, std::vector<ULONG> dims) {
    owned.push_back(NewArray(vt, dims));
    return Holding(VT_ARRAY | vt, owned.back());
  };
  // stored: the bounds as OLE Automation stores them (reversed); one dimension when left out.
  auto variants = [&](std::vector<VARIANT> elements, std::vector<ULONG> stored = {}) {
    owned.push_back(NewArray(VT_VARIANT, stored.empty() ? std::vector{ULONG(elements.size())} : stored));
    std::copy(elements.begin(), elements.end(), static_cast<VARIANT*>(owned.back()->pvData));
    return Holding(VT_ARRAY | VT_VARIANT, owned.back());
  };
  auto mixed = [](const char* index, const char* vt, const char* type) {
    return std::string("Element ") + index + " of the array of variants in argument 2 is " + vt +
           (type != nullptr
                ? std::string(", which does not convert exactly to the array's element type ") + type + "."
                : ", which holds no value to pass.");
  };
  // A VBScript Dim a(1, 2) holding 1 but for one element, given by its offset in the block.
  auto vbMatrix = [&](size_t offset, VARIANT odd) {
    std::vector<VARIANT> elements(6, Var(VT_I4, 1));
    elements[offset] = odd;
    return variants(elements, {3, 2});
  };
  int32_t bytes[4] = {};
  auto* shortElements = static_cast<unsigned char*>(std::malloc(8));  // a sanitizer sees any read beyond
  HandArray noDims(0, 1, bytes), noData(1, 4, nullptr), huge(2, 0x10000, bytes), beyond(8, 0xFFFFFFFF, bytes),
      wide(1, 2, bytes), shortVariants(1, 1, shortElements, 8);
  VARIANT lowerBoundOne = typed(VT_I4, {3});
  owned.back()->rgsabound[0].lLbound = 1;
  const int64_t nine = 9;
  const struct {
    VARIANT arg;
    std::string text;  // empty: converted to code and bits
    uint8_t code = 0;
    std::vector<uint64_t> bits = {};
    int64_t allocations = 0;  // the nth allocation from now fails
  } rows[] = {
      {variants({Var(VT_I4, 1), Var(VT_I2, 7), Var(VT_R8, Raw(3.0)), Var(VT_UI1, 5), Var(VT_BOOL, 0xFFFF),
                 Holding(VT_BYREF | VT_I8, &nine), Var(VT_UI8, 4)}),
       "",
       ZUL_TYP_LONG,
       {1, 7, 3, 5, 1, 9, 4}},
      {variants({Var(VT_R8, Raw(0.5)), Var(VT_R4, 0x3E800000), Var(VT_I4, 3), Var(VT_CY, 15000)}),
       "",
       ZUL_TYP_DOUBLE,
       {Raw(0.5), Raw(0.25), Raw(3.0), Raw(1.5)}},
      {variants({Var(VT_UINT, 0x12345), Var(VT_UI2, 3)}), "", ZUL_TYP_UINT, {0x2345, 3}},
      {lowerBoundOne, "Safearray lLbound MUST be zero."},
      {typed(VT_I4, {1, 2, 1, 1, 1, 1, 1, 1, 1}),
       "Number of dimensions on client array exceeds maximum allowable ZUL array dimensions of 8"},
      {typed(VT_DISPATCH, {2}),
       "Array of object references must be an array of variants, with each variant containing an object "
       "reference."},
      {Holding(VT_ARRAY | VT_I4, &huge.sa), kAllocationFailed, 0, {}, 3},  // "abc", the descriptor, the data
      {Holding(VT_ARRAY | VT_I4, &beyond.sa), kAllocationFailed},          // beyond 64 bits: never asked for
      {typed(VT_BOOL, {2}), "Argument 2 is an array of VT_BOOL, which cannot be passed."},
      {Holding(VT_BYREF | VT_ARRAY | VT_I4, nullptr),
       "Argument 2 is VT_ARRAY|VT_BYREF|VT_I4 with a null reference."},
      {Holding(VT_ARRAY | VT_I4, &noDims.sa), "Argument 2 is VT_ARRAY|VT_I4 with no dimensions."},
      {Holding(VT_ARRAY | VT_I4, &noData.sa), "Argument 2 is VT_ARRAY|VT_I4 without a data block."},
      {Holding(VT_ARRAY | VT_I2, &wide.sa),
       "Argument 2 is VT_ARRAY|VT_I2 with elements of 4 bytes, where its type has 2."},
      {Holding(VT_ARRAY | VT_VARIANT, &shortVariants.sa),
       "Argument 2 is VT_ARRAY|VT_VARIANT with elements of 8 bytes, where its type has 24."},
      {variants({}), "Argument 2 is an empty array of variants, whose elements have no type to pass."},
      {variants({Var(VT_EMPTY), Var(VT_I4, 1)}), mixed("(0)", "VT_EMPTY", nullptr)},
      {vbMatrix(3, Var(VT_EMPTY)), mixed("(1, 1)", "VT_EMPTY", nullptr)},
      {variants({Var(VT_DECIMAL)}, {1, 1}),
       "Element (0, 0) of the array of variants in argument 2 is VT_DECIMAL, which cannot be passed."},
      {variants({Var(VT_I4, 1), Var(VT_I4, 2), Var(VT_R8, Raw(1.5))}), mixed("(2)", "VT_R8", "VT_I4")},
      {variants({Str("a"), Var(VT_I4, 1)}), mixed("(1)", "VT_I4", "VT_BSTR")},
      {variants({Var(VT_I4, 1), Holding(VT_DISPATCH, nullptr)}), mixed("(1)", "VT_DISPATCH", "VT_I4")},
      {vbMatrix(2, Str("x")), mixed("(0, 1)", "VT_BSTR", "VT_I4")},  // first dimension first
      {vbMatrix(5, Var(VT_R8, Raw(1.5))), mixed("(1, 2)", "VT_R8", "VT_I4")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << "row " << &row - rows);
    ResetMessage();
    bridge->FailAllocationAt(row.allocations);
    std::vector<VARIANT> args{Str("abc"), row.arg, Str("def")};
    std::vector<uint32_t> flags(3, ArgFlag::WriteBack | ArgFlag::Reorder);
    {
      ArgList in = In(args, flags);
      EXPECT_EQ(in.ok, row.text.empty());
      EXPECT_EQ(Message(), row.text.empty() ? kUntouched : row.text);
      EXPECT_TRUE(!row.text.empty() || in[1].type == row.code);
      for (size_t j = 0; j < row.bits.size(); ++j)
        EXPECT_EQ(BridgeAt(*in[1].value.array, row.code, j).bits, row.bits[j]);
      const BridgeValue zero{};  // later arguments stay as they were made
      EXPECT_TRUE(row.text.empty() || (!std::memcmp(&in[2], &zero, sizeof zero) && !in.list.pointers[2]));
    }
    for (VARIANT& text : args) (text.vt == VT_BSTR ? VariantClear(&text) : S_OK);
    ExpectNothingHeld();
  }
  for (SAFEARRAY* psa : owned) FreeArray(psa);
  std::free(shortElements);
  // An empty array beside dimensions whose product passes 63 bits goes over empty, never multiplied.
  SAFEARRAY* psa = NewArray(VT_R8, {1, 1, 0});
  psa->rgsabound[0].cElements = psa->rgsabound[1].cElements = 0xFFFFFFFFu;  // creation refuses them first
  {
    ArgList in = InOne(Holding(VT_ARRAY | VT_R8, psa));
    ASSERT_TRUE(in.ok) << Message();
    const BridgeArray& a = *in[0].value.array;
    EXPECT_TRUE(a.elementCount == 0 && a.totalBytes == 0 && a.dims[0] == 0xFFFFFFFFll && a.dims[2] == 0);
  }
  psa->rgsabound[0].cElements = psa->rgsabound[1].cElements = 1;
  FreeArray(psa);
}

// Arrays out: a new SAFEARRAY replaces what the target held, or the client's own (fixed, static or
// locked) is overwritten when it has the same type and shape; anything else fails with its own text
// and leaves the target as it was.
TEST_F(MarshalTest, ArraysOutReplaceOrOverwriteTheTargetOrFailWithTheirOwnText) {
  const char* const kFixed = "Failed to overwrite client array since it is marked as FIXED & STATIC.";
  const char* const kTypeChanged = "Array element type change during call.";
  const char* const kResized =
      "Can't return modified (resized) safearray; client safearray is FIXED/STATIC/locked.";
  auto malformed = [](const char* code) {
    return std::string("The bridge returned a ") + code +
           " array for the result whose descriptor does not match its type and dimensions.";
  };
  enum Change { kNone, kClaimed, kNoDescriptor, kHalfElements, kNoData };
  const struct {
    VARTYPE vt;  // the target: VT_EMPTY, a by-reference VT_I4, or a SAFEARRAY of 2 x 2 elements of vt
    USHORT features;
    ULONG locks;
    uint8_t code;
    std::vector<int64_t> dims;
    std::string text;  // empty: element 2 of the array afterwards holds 3
    Change change = kNone;
  } rows[] = {
      {VT_BSTR, 0, 0, ZUL_TYP_LONG, {3}, ""},  // its strings destroyed with it
      {VT_I4, FADF_FIXEDSIZE, 0, ZUL_TYP_LONG, {2, 2}, ""},
      {VT_I1, FADF_FIXEDSIZE, 0, ZUL_TYP_LONG, {2, 2}, kFixed},
      {VT_I4, 0, 1, ZUL_TYP_DOUBLE, {2, 2}, kTypeChanged},
      {VT_UINT, FADF_STATIC, 0, ZUL_TYP_UINT, {2, 2}, kTypeChanged},
      {VT_I4, FADF_STATIC, 0, ZUL_TYP_LONG, {4}, "Number of dimensions of array changed during call."},
      {VT_I4, FADF_FIXEDSIZE, 0, ZUL_TYP_LONG, {2, 3}, kResized},
      {VT_I4, 0, 0xFFFF, ZUL_TYP_LONG, {2, 2}, kAllocationFailed},  // the copy cannot lock it
      {VT_I4, FADF_STATIC, 0, ZUL_TYP_LONG, {0, 2}, kResized},
      {VT_BYREF | VT_I4,
       0,
       0,
       ZUL_TYP_LONG,
       {3},
       "Cannot write a ZUL_TYP_LONG array into a by-reference argument of type VT_BYREF|VT_I4."},
      {VT_BYREF | VT_I4,
       0,
       0,
       ZUL_TYP_OBJREF,
       {3},
       "Object references must be in-only (constant).  They cannot be returned."},
      {VT_EMPTY, 0, 0, 42, {3}, "Unsupported data type: ZUL_TYP_UNDEF"},
      {VT_EMPTY, 0, 0, ZUL_TYP_LONG, {1, 1, 1, 1, 1, 1, 1, 1, 1}, malformed("ZUL_TYP_LONG")},
      {VT_EMPTY, 0, 0, ZUL_TYP_LONG, {3}, malformed("ZUL_TYP_LONG"), kNoDescriptor},
      {VT_EMPTY, 0, 0, ZUL_TYP_DOUBLE, {3}, malformed("ZUL_TYP_DOUBLE"), kHalfElements},
      {VT_EMPTY, 0, 0, ZUL_TYP_DOUBLE, {int64_t{1} << 62}, malformed("ZUL_TYP_DOUBLE"), kClaimed},
      {VT_EMPTY, 0, 0, ZUL_TYP_LONG, {3}, malformed("ZUL_TYP_LONG"), kNoData},
      {VT_EMPTY,
       0,
       0,
       ZUL_TYP_BYTE,
       {int64_t{1} << 32},
       "ZUL array dimension exceeds the Safearray bounds 'cElement' size (ULONG).",
       kClaimed},
      {VT_EMPTY, 0, 0, ZUL_TYP_DOUBLE, {0x10000, 0x10001}, kAllocationFailed, kClaimed},  // beyond a
                                                                                          // SAFEARRAY
      {VT_EMPTY, 0, 0, ZUL_TYP_DOUBLE, {0}, "", kNoData},  // empty: no data needed, none copied
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << "row " << &row - rows);
    ResetMessage();
    const bool byRef = (row.vt & VT_BYREF) != 0, ok = row.text.empty();
    SAFEARRAY* psa = row.vt == VT_EMPTY || byRef ? nullptr : NewArray(row.vt, {2, 2});
    if (psa != nullptr) {
      if (row.vt != VT_BSTR) std::memset(psa->pvData, 0x5A, psa->cbElements);
      if (row.vt == VT_BSTR) static_cast<BSTR*>(psa->pvData)[3] = SysAllocString(OLESTR("old"));
      psa->fFeatures |= row.features;
      psa->cLocks = row.locks;
    }
    LONG bare = 0;
    VARIANT target = psa != nullptr ? Holding(VT_ARRAY | row.vt, psa)
                     : byRef        ? Holding(row.vt, &bare)
                                    : Var(VT_EMPTY);
    const VARIANT before = target;
    const int64_t size = row.code == ZUL_TYP_DOUBLE ? 8
                         : row.code == ZUL_TYP_BYTE ? 1
                         : row.code == ZUL_TYP_UINT ? 2
                                                    : 4;
    Result result(row.code, size, row.dims, row.change == kClaimed);
    if (row.change == kNoDescriptor) result.value.value.array = nullptr;
    if (row.change == kNoData) result.array.data = nullptr;
    if (row.change == kHalfElements) result.array.elementSize /= 2, result.array.totalBytes /= 2;
    uint32_t flag = 0;  // element 2 is the third in either order
    EXPECT_EQ(MarshalArrayOut(context, cookie, &result.value, &target, &flag), ok);
    EXPECT_EQ(Message(), ok ? kUntouched : row.text);
    EXPECT_EQ(bare, 0);
    if (!ok || row.dims[0] == 0) {
      EXPECT_TRUE(ok || !std::memcmp(&target, &before, sizeof target));
      EXPECT_TRUE(psa == nullptr || static_cast<unsigned char*>(psa->pvData)[0] == 0x5A);
    } else {
      EXPECT_EQ(target.parray == psa, row.features != 0);
      EXPECT_EQ(Load<int32_t>(static_cast<unsigned char*>(target.parray->pvData) + 8), 3);
    }
    FreeArray(ok ? target.parray : psa);  // a replaced array is gone
  }
}

// The bridge changed an array of VARIANTs in place and the element that another argument refers to:
// that reference is written first, never into a replaced array, and a fixed array's new value wins,
// whichever argument comes first. Swapped by the bridge, an array and a scalar change places and kinds,
// where the target can take the other kind.
TEST_F(MarshalTest, WriteBackGoesThroughAnArrayBeforeReplacingItAndMayChangeAValuesKind) {
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
    for (int p = 0; p < 3; ++p) EXPECT_EQ(At(slot, VT_VARIANT, p, 2).bits, 7u + p);
    FreeArray(slot);
  }
  SAFEARRAY* matrix = NewArray(VT_I4, {2, 3});
  for (int p = 0; p < 6; ++p) static_cast<int32_t*>(matrix->pvData)[p] = p;
  VARIANT array = Holding(VT_ARRAY | VT_I4, matrix), scalar = Str("x");
  for (const bool bare : {true, false}) {  // bare storage of an array cannot take a scalar
    ResetMessage();
    std::vector<VARIANT> args{bare ? Holding(VT_BYREF | VT_ARRAY | VT_I4, &array.parray) : Ref(&array),
                              Ref(&scalar)};
    std::vector<uint32_t> flags(2, ArgFlag::WriteBack | ArgFlag::Reorder);
    ArgList in = In(args, flags);
    ASSERT_TRUE(in.ok);
    ASSERT_EQ(Call("Swap", in), 0);
    EXPECT_EQ(WriteBack(in, args, flags), !bare);
    EXPECT_EQ(Message(), bare ? "Cannot write a ZUL_TYP_STRING value into a by-reference argument of type "
                                "VT_ARRAY|VT_BYREF|VT_I4."
                              : kUntouched);
  }
  ASSERT_TRUE(array.vt == VT_BSTR && scalar.vt == (VT_ARRAY | VT_I4));
  EXPECT_EQ(Ascii(array.bstrVal), "x");
  EXPECT_TRUE(scalar.parray->cDims == 2 && scalar.parray->rgsabound[0].cElements == 2 &&
              scalar.parray->rgsabound[1].cElements == 3);
  for (int p = 0; p < 6; ++p) EXPECT_EQ(At(scalar.parray, VT_I4, p, 4).bits, static_cast<uint64_t>(p));
  VariantClear(&array);
  VariantClear(&scalar);
}

}  // namespace
}  // namespace zul::testing

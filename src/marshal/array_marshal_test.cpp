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
#include "stub_wrapper_object.h"

namespace zul::testing {
namespace {

constexpr const char* kAllocationFailed = "Failed to allocate memory.";

size_t CodeWidth(uint8_t code) {
  constexpr size_t kWidths[] = {1, 1, 2, 4, 4, 8, 1, 16, 1, 1, 1, 4, 2, 4, 8, 8};
  return code < 16 ? kWidths[code] : 1;
}

// The SAFEARRAY position that bridge element j pairs with under the reordering walk.
int64_t WalkPosition(int64_t j, const std::vector<ULONG>& dims) {
  std::vector<int64_t> index;
  for (ULONG d : dims) index.push_back(j % d), j /= d;
  int64_t p = 0;
  for (size_t k = 0; k < dims.size(); ++k) p = p * dims[k] + index[k];
  return p;
}

// A bridge array as the bridge hands one back: element j holds j + 1. With claimed dims, only the
// descriptor says so: for sizes that must be refused before any copy.
struct Result {
  Result(uint8_t code, const std::vector<int64_t>& dims, bool claimed = false) {
    int64_t n = 1;
    for (int64_t d : dims) n *= d;
    const auto size = static_cast<size_t>(array.elementSize = static_cast<int64_t>(CodeWidth(code)));
    data.resize(static_cast<size_t>(claimed ? 1 : n) * size);
    for (size_t j = 0; j * size < data.size(); ++j) data[j * size] = static_cast<unsigned char>(j + 1);
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

// An element of either side: a number (zero-extended) or a text, and an element VARIANT's type.
struct Element {
  uint64_t bits = 0;
  std::string text;
  VARTYPE vt = VT_EMPTY;
  bool operator==(const Element&) const = default;
};

Element SafeArrayElement(const SAFEARRAY* psa, VARTYPE vt, int64_t p) {
  const auto* at = static_cast<const unsigned char*>(psa->pvData) + p * psa->cbElements;
  const auto text = [](BSTR bstr) { return bstr != nullptr ? Ascii(bstr) : ""; };  // null and empty alike
  if (vt == VT_VARIANT) {
    const auto& v = *reinterpret_cast<const VARIANT*>(at);
    if (v.vt == VT_BSTR) return {0, text(v.bstrVal), VT_BSTR};
    return {static_cast<uint64_t>(v.llVal), "", v.vt};
  }
  if (vt == VT_BSTR) return {0, text(*reinterpret_cast<const BSTR*>(at))};
  Element e;
  std::memcpy(&e.bits, at, psa->cbElements);
  return e;
}

Element BridgeElement(const BridgeArray& a, uint8_t code, int64_t j, VARTYPE variantVt = VT_EMPTY) {
  const auto* at = static_cast<const unsigned char*>(a.data) + j * a.elementSize;
  Element e{0, "", variantVt};
  if (code != ZUL_TYP_STRING) std::memcpy(&e.bits, at, static_cast<size_t>(a.elementSize));
  if (code != ZUL_TYP_STRING) return e;
  const auto& s = *reinterpret_cast<const BridgeString*>(at);
  EXPECT_EQ(s.kind, 0);
  e.text = s.chars != nullptr ? s.chars : "<null>";
  return e;
}

struct Kind {
  VARTYPE vt;  // VT_VARIANT: elements of type element
  VARTYPE element;
  uint8_t code;
  VARTYPE newVt;  // a new typed array's element type on the way back
};
constexpr Kind kKinds[] = {
    {VT_I1, VT_I1, ZUL_TYP_BYTE, VT_UI1},      {VT_UI1, VT_UI1, ZUL_TYP_BYTE, VT_UI1},
    {VT_I2, VT_I2, ZUL_TYP_INT, VT_I2},        {VT_UI2, VT_UI2, ZUL_TYP_UINT, VT_UI2},
    {VT_UINT, VT_UINT, ZUL_TYP_UINT, VT_UI2},  {VT_I4, VT_I4, ZUL_TYP_LONG, VT_I4},
    {VT_UI4, VT_UI4, ZUL_TYP_ULONG, VT_UI4},   {VT_R4, VT_R4, ZUL_TYP_FLOAT, VT_R4},
    {VT_R8, VT_R8, ZUL_TYP_DOUBLE, VT_R8},     {VT_I8, VT_I8, ZUL_TYP_LONG64, VT_I8},
    {VT_UI8, VT_UI8, ZUL_TYP_ULONG64, VT_UI8}, {VT_BSTR, VT_BSTR, ZUL_TYP_STRING, VT_BSTR},
    {VT_VARIANT, VT_I2, ZUL_TYP_INT, 0},       {VT_VARIANT, VT_I4, ZUL_TYP_LONG, 0},
    {VT_VARIANT, VT_R8, ZUL_TYP_DOUBLE, 0},    {VT_VARIANT, VT_UI1, ZUL_TYP_BYTE, 0},
    {VT_VARIANT, VT_UI8, ZUL_TYP_ULONG64, 0},  {VT_VARIANT, VT_BSTR, ZUL_TYP_STRING, 0},
};

std::vector<ULONG> RandomShape(std::mt19937& random, bool allowEmpty) {
  for (;;) {
    std::vector<ULONG> dims(1 + random() % 8);
    uint64_t n = 1;
    for (ULONG& d : dims) n *= d = 1 + random() % 5;
    if (allowEmpty && random() % 6 == 0) dims[random() % dims.size()] = 0;
    if (n <= 2000) return dims;
  }
}

// Random bits of the element's width (a VT_UINT's low 16 only) or texts, null BSTRs among them.
void Fill(SAFEARRAY* psa, const Kind& kind, size_t n, std::mt19937& random) {
  for (size_t p = 0; p < n; ++p) {
    void* at = static_cast<unsigned char*>(psa->pvData) + p * psa->cbElements;
    if (kind.vt == VT_VARIANT) {
      static_cast<VARIANT*>(at)->vt = kind.element;
      at = &static_cast<VARIANT*>(at)->llVal;
    }
    const uint64_t bits = (static_cast<uint64_t>(random()) << 32) | random();
    const std::string text(random() % 6, static_cast<char>('a' + random() % 26));
    const BSTR bstr = text.empty() ? nullptr : SysAllocString(Wide(text).c_str());
    const bool isText = kind.element == VT_BSTR;
    std::memcpy(at, isText ? static_cast<const void*>(&bstr) : &bits,
                isText ? sizeof bstr : CodeWidth(kind.code));
    if (!isText) SysFreeString(bstr);
  }
}

TEST_F(MarshalTest, ArraysComeBackWithTheirShapeAndContentsWhenTheBridgeChangesNothing) {
  enum Target { kNew, kFixedSize, kStatic, kLocked };
  std::mt19937 random(20240607);
  for (const Kind& kind : kKinds) {
    for (bool reorder : {false, true}) {
      for (Target target : {kNew, kFixedSize, kStatic, kLocked}) {
        if (kind.vt == VT_UINT && target != kNew) continue;  // in place it is refused: it goes out as VT_UI2
        std::vector<std::vector<ULONG>> shapes = {{2, 3}, {3, 1, 2, 4, 1, 2, 1, 5}};
        // An empty array of VARIANTs has no first element to take a type from.
        for (int i = 0; i < 3; ++i) shapes.push_back(RandomShape(random, kind.vt != VT_VARIANT));
        for (const std::vector<ULONG>& dims : shapes) {
          // Every other shape flagged WriteBackChanged: the caller's array is then never replaced.
          const bool replaced = target == kNew && (&dims - shapes.data()) % 2 == 0;
          SCOPED_TRACE(::testing::Message() << kind.vt << "/" << kind.element << " reorder " << reorder
                                            << " target " << target << " dims " << dims.size());
          const size_t m = dims.size();
          size_t n = 1;
          for (ULONG d : dims) n *= d;
          SAFEARRAY* psa = NewArray(kind.vt, dims);
          ASSERT_NE(psa, nullptr);
          Fill(psa, kind, n, random);
          std::vector<Element> before;
          for (size_t p = 0; p < n; ++p) before.push_back(SafeArrayElement(psa, kind.vt, p));
          psa->fFeatures |= target == kFixedSize ? FADF_FIXEDSIZE : target == kStatic ? FADF_STATIC : 0;
          if (target == kLocked) ::SafeArrayLock(psa);

          SAFEARRAY* slot = psa;
          std::vector<VARIANT> args{Holding(VT_BYREF | VT_ARRAY | kind.vt, &slot)};
          std::vector<uint32_t> flags{ArgFlag::WriteBack | (reorder ? ArgFlag::Reorder : 0u) |
                                      (replaced || target != kNew ? 0u : ArgFlag::WriteBackChanged)};
          {
            ArgList in = In(args, flags);
            ASSERT_TRUE(in.ok) << Message();
            // As the bridge receives it, through the double's journal.
            g_bridge.entries.CallMethod(kCaller, "m", 1, in.list.pointers.get(), in.list.flags.get(),
                                        nullptr);
            const BridgeValue& seen = *bridge->CallsTo(BridgeEntry::kCallMethod).back()->values;
            EXPECT_EQ(seen.flags, 0x14);
            EXPECT_EQ(seen.type, kind.code);
            const BridgeArray& a = *seen.value.array;
            EXPECT_EQ(a.dimensionCount, m);
            EXPECT_EQ(a.elementCount, static_cast<int64_t>(n));
            for (size_t k = 0; k < 8; ++k) EXPECT_EQ(a.dims[k], k < m ? dims[k] : reorder && m > 1) << k;
            for (size_t j = 0; j < n; ++j) {
              Element expected = before[reorder ? WalkPosition(j, dims) : j];
              ASSERT_EQ(BridgeElement(a, kind.code, j, kind.vt == VT_VARIANT ? kind.element : 0), expected)
                  << j;
            }
            ASSERT_TRUE(WriteBack(in, args, flags)) << Message();
          }
          ExpectNothingHeldAndReset();
          ASSERT_NE(slot, nullptr);
          EXPECT_EQ(slot == psa, !replaced);
          EXPECT_EQ(args[0].vt, VT_BYREF | VT_ARRAY | (replaced && kind.newVt != 0 ? kind.newVt : kind.vt));
          ASSERT_EQ(slot->cDims, m);
          for (size_t k = 0; k < m; ++k) {
            EXPECT_TRUE(slot->rgsabound[k].cElements == dims[k] && slot->rgsabound[k].lLbound == 0) << k;
          }
          for (size_t p = 0; p < n; ++p) ASSERT_EQ(SafeArrayElement(slot, kind.vt, p), before[p]) << p;
          FreeArray(slot);
        }
      }
    }
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
  const auto setting = [](const char* name, uint64_t otherwise) {
    return std::getenv(name) != nullptr ? std::strtoull(std::getenv(name), nullptr, 0) : otherwise;
  };
  const uint64_t seed = setting("ZUL_PROPERTY_SEED", 20250614), count = setting("ZUL_PROPERTY_COUNT", 32);
  std::mt19937_64 random(seed);
  const int64_t kBytes[][2] = {
      {1, 4 << 10}, {4 << 10, 1 << 20}, {6 << 20, (8 << 20) / 65 * 63}, {8 << 20, 32 << 20}};
  constexpr int kPlain[] = {1, 2, 5, 8};  // the kinds of 1, 2, 4 and 8 bytes
  for (uint64_t c = 0; c < count; ++c) {
    const Kind& kind = kKinds[kPlain[c / 4 % 4]];
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
    SAFEARRAY* psa = NewArray(kind.vt, std::vector<ULONG>(dims.begin(), dims.end()));
    auto* client = static_cast<unsigned char*>(psa->pvData);
    std::vector<uint64_t> words(total / 8 + 1);
    for (uint64_t& word : words) word = bits();
    std::memcpy(client, words.data(), total);
    const int m = static_cast<int>(dims.size());
    Result result(kind.code, dims);
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
    ArgList in = InOne(Holding(VT_ARRAY | kind.vt, psa), reorder ? ArgFlag::Reorder : 0);
    ASSERT_TRUE(in.ok) << Message();
    ASSERT_EQ(differs(in[0].value.array->data, reorder ? bridgeOrder : client), -1) << "in";
    VARIANT out = inPlace ? Holding(VT_ARRAY | kind.vt, psa) : Var(VT_EMPTY);
    std::memset(client, 0, total);
    psa->fFeatures |= FADF_FIXEDSIZE;
    uint32_t flag = reorder ? ArgFlag::Reorder : 0;
    ASSERT_TRUE(MarshalArrayOut(context, kCaller, &result.value, &out, &flag)) << Message();
    ASSERT_EQ(out.vt, VT_ARRAY | kind.vt);
    const auto* sent = reinterpret_cast<const unsigned char*>(words.data());
    EXPECT_EQ(differs(out.parray->pvData, reorder ? sent : bridgeOrder), -1) << "out";
    if (!inPlace) FreeArray(out.parray);
    FreeArray(psa);
  }
}

TEST_F(MarshalTest, FixedStaticAndLockedArraysAreOverwrittenInPlaceOrRefused) {
  const char* const kFixed = "Failed to overwrite client array since it is marked as FIXED & STATIC.";
  const char* const kTypeChanged = "Array element type change during call.";
  const char* const kDimensions = "Number of dimensions of array changed during call.";
  const char* const kResized =
      "Can't return modified (resized) safearray; client safearray is FIXED/STATIC/locked.";
  const struct {
    VARTYPE vt;
    USHORT features;
    ULONG locks;
    std::vector<ULONG> dims;
    uint8_t code;  // and the dimensions of the bridge's array
    std::vector<int64_t> resultDims;
    const char* message;  // null: overwritten with 1, 2, 3...
  } cases[] = {
      {VT_I4, FADF_FIXEDSIZE, 0, {3}, ZUL_TYP_LONG, {3}, nullptr},
      {VT_I1, FADF_FIXEDSIZE, 0, {4}, ZUL_TYP_LONG, {4}, kFixed},
      {VT_I4, 0, 1, {4}, ZUL_TYP_DOUBLE, {4}, kTypeChanged},
      {VT_UINT, FADF_FIXEDSIZE, 0, {4}, ZUL_TYP_UINT, {4}, kTypeChanged},
      {VT_I4, FADF_STATIC, 0, {2, 3}, ZUL_TYP_LONG, {6}, kDimensions},
      {VT_I4, FADF_FIXEDSIZE, 0, {5}, ZUL_TYP_LONG, {6}, kResized},
      {VT_I4, 0, 0xFFFF, {4}, ZUL_TYP_LONG, {4}, kAllocationFailed},        // a block copy cannot lock
      {VT_I4, 0, 0xFFFF, {2, 3}, ZUL_TYP_LONG, {2, 3}, kAllocationFailed},  // nor can the reordering walk
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "row " << &c - cases);
    ResetMessage();
    SAFEARRAY* psa = NewArray(c.vt, c.dims);
    psa->rgsabound[0].lLbound = 1;  // lower bounds are not compared
    std::memset(psa->pvData, 0x5A, 2 * psa->cbElements);
    psa->fFeatures |= c.features;
    psa->cLocks = c.locks;
    Result result(c.code, c.resultDims);
    VARIANT out = Holding(VT_ARRAY | c.vt, psa);
    uint32_t flag = ArgFlag::Reorder;
    EXPECT_EQ(MarshalArrayOut(context, kCaller, &result.value, &out, &flag), c.message == nullptr);
    EXPECT_TRUE(out.vt == (VT_ARRAY | c.vt) && out.parray == psa);
    EXPECT_EQ(Message(), c.message != nullptr ? c.message : kUntouched);
    for (int p = 0; p < 3 && c.message == nullptr; ++p)
      EXPECT_EQ(SafeArrayElement(psa, c.vt, p).bits, p + 1u);
    EXPECT_TRUE(c.message == nullptr || static_cast<unsigned char*>(psa->pvData)[1] == 0x5A);  // unchanged
    FreeArray(psa);
  }
}

// The bridge changed the array in place (seen by content) and the element that the other argument
// refers to: that reference is written first, so it never goes into a replaced array, and a fixed
// array's new value wins, whichever argument comes first.
TEST_F(MarshalTest, AVbScriptArgumentIsWrittenBackIntoItsOwnArrayAfterAReferenceIntoIt) {
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
      EXPECT_EQ(std::vector<int16_t>(data, data + 3), (std::vector<int16_t>{1, 2, 3}));
      for (int j = 0; j < 3; ++j) data[j] = static_cast<int16_t>(7 + j);  // what the call changed
      in[1 - a].value.intVal = 5;
      ASSERT_TRUE(WriteBack(in, args, flags));
    }
    EXPECT_TRUE(args[a].vt == (VT_BYREF | VT_VARIANT) && inner.vt == (VT_BYREF | VT_ARRAY | VT_VARIANT));
    EXPECT_EQ(slot == psa, fixed);
    for (int p = 0; p < 3; ++p)
      EXPECT_EQ(SafeArrayElement(slot, VT_VARIANT, p), (Element{7u + p, "", VT_I2}));
    FreeArray(slot);
  }
}

// A descriptor made by hand, for shapes that OLE Automation would not create.
struct HandArray {
  HandArray(USHORT dims, ULONG elements, void* data) {
    sa.cDims = dims;
    sa.cbElements = 4;
    sa.pvData = data;
    for (int k = 0; k < dims; ++k) (k == 0 ? sa.rgsabound[0] : more[k - 1]) = {elements, 0};
  }
  SAFEARRAY sa{};
  SAFEARRAYBOUND more[8]{};
};

TEST_F(MarshalTest, ArraysInConvertMixedVariantsExactlyOrFailLeavingLaterArgumentsZero) {
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
           ", which does not convert exactly to the array's element type " + type + ".";
  };
  // A VBScript Dim a(1, 2) holding 1 but for one element, given by its offset in the block.
  auto vbMatrix = [&](size_t offset, VARIANT odd) {
    std::vector<VARIANT> elements(6, Var(VT_I4, 1));
    elements[offset] = odd;
    return variants(elements, {3, 2});
  };
  int32_t bytes[4] = {};
  // 2^32 elements, asked for in full; and beyond 64 bits, never asked for.
  HandArray noDims(0, 1, bytes), noData(1, 4, nullptr), huge(2, 0x10000, bytes), beyond(8, 0xFFFFFFFF, bytes),
      wide(1, 2, bytes);
  VARIANT lowerBoundOne = typed(VT_I4, {3});
  owned.back()->rgsabound[0].lLbound = 1;
  const int64_t nine = 9;
  const uint64_t kHalf = Raw(0.5), kThree = Raw(3.0), kOneAndAHalf = Raw(1.5);
  int row = 0;
  // Converted to code and bits when message is empty; asked: the last block's size, its data failing.
  auto expect = [&](VARIANT arg, const std::string& message, uint8_t code = 0,
                    std::vector<uint64_t> bits = {}, int64_t asked = 0) {
    SCOPED_TRACE(::testing::Message() << "row " << ++row);
    ExpectNothingHeldAndReset();
    if (asked != 0) bridge->FailAllocationAt(3);  // "abc", the descriptor, the data
    std::vector<VARIANT> args{Str("abc"), arg, Str("def")};
    std::vector<uint32_t> flags(3, ArgFlag::WriteBack | ArgFlag::Reorder);
    {
      ArgList in = In(args, flags);
      EXPECT_EQ(in.ok, message.empty());
      EXPECT_EQ(Message(), message.empty() ? kUntouched : message);
      for (size_t j = 0; j < bits.size(); ++j)
        EXPECT_EQ(BridgeElement(*in[1].value.array, code, j).bits, bits[j]);
      const BridgeValue zero{};  // later arguments stay as they were made
      EXPECT_TRUE(message.empty() || (!std::memcmp(&in[2], &zero, sizeof zero) && !in.list.pointers[2]));
      const auto blocks = bridge->CallsTo(BridgeEntry::kAllocateMemory);
      EXPECT_TRUE(asked == 0 || blocks.back()->args[0] == asked);
    }
    SysFreeString(args[0].bstrVal);
    SysFreeString(args[2].bstrVal);
  };
  expect(variants({Var(VT_I4, 1), Var(VT_I2, 7), Var(VT_R8, kThree), Var(VT_UI1, 5), Var(VT_BOOL, 0xFFFF),
                   Holding(VT_BYREF | VT_I8, &nine), Var(VT_UI8, 4)}),
         "", ZUL_TYP_LONG, {1, 7, 3, 5, 1, 9, 4});
  expect(variants({Var(VT_R8, kHalf), Var(VT_R4, 0x3E800000), Var(VT_I4, 3), Var(VT_CY, 15000)}), "",
         ZUL_TYP_DOUBLE, {kHalf, Raw(0.25), kThree, kOneAndAHalf});
  expect(variants({Var(VT_UINT, 0x12345), Var(VT_UI2, 3)}), "", ZUL_TYP_UINT, {0x2345, 3});
  expect(lowerBoundOne, "Safearray lLbound MUST be zero.");
  expect(typed(VT_I4, {1, 2, 1, 1, 1, 1, 1, 1, 1}),
         "Number of dimensions on client array exceeds maximum allowable ZUL array dimensions of 8");
  expect(typed(VT_DISPATCH, {2}),
         "Array of object references must be an array of variants, with each variant containing an object "
         "reference.");
  expect(Holding(VT_ARRAY | VT_I4, &huge.sa), kAllocationFailed, 0, {}, int64_t{1} << 34);
  expect(Holding(VT_ARRAY | VT_I4, &beyond.sa), kAllocationFailed, 0, {}, sizeof(BridgeArray));
  expect(typed(VT_BOOL, {2}), "Argument 2 is an array of VT_BOOL, which cannot be passed.");
  expect(Holding(VT_BYREF | VT_ARRAY | VT_I4, nullptr),
         "Argument 2 is VT_ARRAY|VT_BYREF|VT_I4 with a null reference.");
  expect(Holding(VT_ARRAY | VT_I4, &noDims.sa), "Argument 2 is VT_ARRAY|VT_I4 with no dimensions.");
  expect(Holding(VT_ARRAY | VT_I4, &noData.sa), "Argument 2 is VT_ARRAY|VT_I4 without a data block.");
  expect(Holding(VT_ARRAY | VT_I2, &wide.sa),
         "Argument 2 is VT_ARRAY|VT_I2 with elements of 4 bytes, where its type has 2.");
  expect(variants({}), "Argument 2 is an empty array of variants, whose elements have no type to pass.");
  auto noValue = [](const char* index, const char* vt) {
    return std::string("Element ") + index + " of the array of variants in argument 2 is " + vt +
           ", which holds no value to pass.";
  };
  expect(variants({Var(VT_EMPTY), Var(VT_I4, 1)}), noValue("(0)", "VT_EMPTY"));
  expect(vbMatrix(3, Var(VT_EMPTY)), noValue("(1, 1)", "VT_EMPTY"));
  expect(variants({Var(VT_DECIMAL)}, {1, 1}),
         "Element (0, 0) of the array of variants in argument 2 is VT_DECIMAL, which cannot be passed.");
  expect(variants({Var(VT_I4, 1), Str("x")}), mixed("(1)", "VT_BSTR", "VT_I4"));
  expect(variants({Var(VT_I4, 1), Var(VT_I4, 2), Var(VT_R8, kOneAndAHalf)}), mixed("(2)", "VT_R8", "VT_I4"));
  expect(variants({Str("a"), Var(VT_I4, 1)}), mixed("(1)", "VT_I4", "VT_BSTR"));
  expect(variants({Var(VT_I4, 1), Holding(VT_DISPATCH, nullptr)}), mixed("(1)", "VT_DISPATCH", "VT_I4"));
  // The client's own indexes, first dimension first.
  expect(vbMatrix(2, Str("x")), mixed("(0, 1)", "VT_BSTR", "VT_I4"));
  expect(vbMatrix(5, Var(VT_R8, kOneAndAHalf)), mixed("(1, 2)", "VT_R8", "VT_I4"));
  expect(vbMatrix(1, Var(VT_NULL)), noValue("(1, 0)", "VT_NULL"));
  for (SAFEARRAY* psa : owned) FreeArray(psa);
}

TEST_F(MarshalTest, ObjectArraysResolveInOrderStopAtAForeignOneAndBecomeInOnly) {
  StubWrapperObject first(7), foreign, third(9);
  foreign.namesResult = DISP_E_UNKNOWNNAME;
  const struct {
    std::vector<StubWrapperObject*> objects;
    std::vector<int32_t> handles;
  } cases[] = {{{&first, &foreign, &third}, {1007}}, {{&first, &third}, {1007, 1009}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.objects.size());
    ExpectNothingHeldAndReset();
    const bool ok = c.handles.size() == c.objects.size();
    SAFEARRAY* psa = NewArray(VT_VARIANT, {static_cast<ULONG>(c.objects.size())});
    for (size_t p = 0; p < c.objects.size(); ++p) {
      c.objects[p]->AddRef();  // the array's reference
      static_cast<VARIANT*>(psa->pvData)[p] = Holding(p == 1 ? VT_UNKNOWN : VT_DISPATCH, c.objects[p]);
    }
    std::vector<VARIANT> args{Holding(VT_ARRAY | VT_VARIANT, psa)};
    std::vector<uint32_t> flags{0xABCD0000u | ArgFlag::WriteBack | ArgFlag::Reorder};
    {
      ArgList in = In(args, flags);
      EXPECT_EQ(in.ok, ok);
      EXPECT_EQ(Message(), ok ? kUntouched : "Object reference must be another ZUL COM wrapper object.");
      // The bridge gets the low half of the word as the caller gave it; write-back reads the new one.
      EXPECT_EQ(flags[0], 0xABCD0000u | ArgFlag::InOnly | ArgFlag::Reorder);
      EXPECT_EQ(in.list.flags[0], ArgFlag::WriteBack | ArgFlag::Reorder);
      EXPECT_EQ(in[0].type, ZUL_TYP_OBJREF);
      for (size_t j = 0; j < c.handles.size(); ++j)
        EXPECT_EQ(BridgeElement(*in[0].value.array, ZUL_TYP_OBJREF, j).bits,
                  static_cast<uint64_t>(c.handles[j]));
      EXPECT_EQ(bridge->CallsTo(BridgeEntry::kObjRefCookie2Hvid).size(), c.handles.size());
      EXPECT_TRUE(WriteBack(in, args, flags));
      EXPECT_EQ(args[0].parray, psa);
    }
    FreeArray(psa);
  }
  for (StubWrapperObject* object : {&first, &foreign, &third}) EXPECT_EQ(object->refs, 1u);
}

TEST_F(MarshalTest, ArraysOutReplaceWhatTheTargetHeldOrFailWithTheirMessage) {
  SAFEARRAY* old = NewArray(VT_BSTR, {2, 2});
  static_cast<BSTR*>(old->pvData)[3] = SysAllocString(OLESTR("old"));  // destroyed with its array
  SAFEARRAY* nothing = nullptr;
  LONG bare = 0;
  const VARIANT byRefLong = Holding(VT_BYREF | VT_I4, &bare), empty = Var(VT_EMPTY);
  const char* const kInOnly = "Object references must be in-only (constant).  They cannot be returned.";
  const char* const kIntoLong =
      "Cannot write a ZUL_TYP_LONG array into a by-reference argument of type VT_BYREF|VT_I4.";
  const char* const kBeyondUlong =
      "ZUL array dimension exceeds the Safearray bounds 'cElement' size (ULONG).";
  auto malformed = [](const char* code) {
    return std::string("The bridge returned a ") + code +
           " array for the result whose descriptor does not match its type and dimensions.";
  };
  const std::string kLongs = malformed("ZUL_TYP_LONG"), kDoubles = malformed("ZUL_TYP_DOUBLE");
  enum Change { kNone, kClaimed, kNoDescriptor, kHalfElements };
  const struct {
    VARIANT target;
    uint8_t code;
    const char* message;  // empty: a new VT_ARRAY|VT_I4 of 3 elements
    std::vector<int64_t> dims = {3};
    Change change = kNone;
  } cases[] = {
      {Holding(VT_ARRAY | VT_BSTR, old), ZUL_TYP_LONG, ""},
      {Holding(VT_BYREF | VT_ARRAY | VT_I4, &nothing), ZUL_TYP_LONG, ""},
      {byRefLong, ZUL_TYP_LONG, kIntoLong},
      {byRefLong, ZUL_TYP_OBJREF, kInOnly},  // whatever the target
      {empty, 42, "Unsupported data type: ZUL_TYP_UNDEF"},
      {empty, ZUL_TYP_LONG, kLongs.c_str(), {1, 1, 1, 1, 1, 1, 1, 1, 1}},
      {empty, ZUL_TYP_LONG, kLongs.c_str(), {3}, kNoDescriptor},
      {empty, ZUL_TYP_DOUBLE, kDoubles.c_str(), {3}, kHalfElements},  // sizes agree, but not with the type
      {empty, ZUL_TYP_DOUBLE, kDoubles.c_str(), {int64_t{1} << 62}, kClaimed},  // bytes beyond 64 bits
      {empty, ZUL_TYP_BYTE, kBeyondUlong, {int64_t{1} << 32}, kClaimed},
      {empty, ZUL_TYP_DOUBLE, kAllocationFailed, {0x10000, 0x10001}, kClaimed},  // beyond a SAFEARRAY
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "row " << &c - cases);
    ResetMessage();
    VARIANT target = c.target;
    Result result(c.code, c.dims, c.change == kClaimed);
    if (c.change == kNoDescriptor) result.value.value.array = nullptr;
    if (c.change == kHalfElements) {
      result.value.value.array->elementSize /= 2;
      result.value.value.array->totalBytes /= 2;
    }
    const bool ok = c.message[0] == 0, byRef = (target.vt & VT_BYREF) != 0;
    ASSERT_EQ(MarshalArrayOut(context, kCaller, &result.value, &target, nullptr), ok);
    EXPECT_EQ(Message(), ok ? kUntouched : c.message);
    EXPECT_EQ(target.vt, ok ? VT_ARRAY | VT_I4 | (byRef ? VT_BYREF : 0) : c.target.vt);
    if (!ok) continue;
    SAFEARRAY* created = byRef ? *target.pparray : target.parray;
    EXPECT_EQ(SafeArrayElement(created, VT_I4, 2).bits, 3u);
    FreeArray(created);
  }
  EXPECT_EQ(bare, 0);
}

// Inputs the fuzz targets found that the conversions mishandled; the sanitizer builds catch the old
// behaviour, every build checks the outcome.
using ConversionFault = MarshalTest;

// An array of VARIANTs whose descriptor gives its elements fewer bytes than a VARIANT: refused
// without reading the first element's type out of a block too short to hold it.
TEST_F(ConversionFault, ArrayOfVariantsWithShortElementsIsRefusedUnread) {
  for (const ULONG elementBytes : {0u, 1u, 8u}) {
    SCOPED_TRACE(elementBytes);
    SAFEARRAY* psa = NewArray(VT_VARIANT, {1});
    void* own = psa->pvData;
    psa->pvData = std::malloc(elementBytes);
    psa->cbElements = elementBytes;
    EXPECT_FALSE(InOne(Holding(VT_ARRAY | VT_VARIANT, psa)).ok);
    EXPECT_EQ(Message(), "Argument 1 is VT_ARRAY|VT_VARIANT with elements of " +
                             std::to_string(elementBytes) + " bytes, where its type has 24.");
    std::free(psa->pvData);
    psa->pvData = own;
    psa->cbElements = sizeof(VARIANT);
    FreeArray(psa);
  }
}

// An empty array whose other dimensions multiply past 63 bits (not past 64): it goes over empty with
// its dimensions as they are, and the reordering walk never multiplies them.
TEST_F(ConversionFault, EmptyArrayBesideHugeDimensionsGoesOverEmpty) {
  for (const VARTYPE vt : {VARTYPE(VT_BSTR), VARTYPE(VT_R8)}) {  // an empty array of VARIANTs has no type
    SCOPED_TRACE(vt);
    SAFEARRAY* psa = NewArray(vt, {1, 1, 0});
    psa->rgsabound[0].cElements = psa->rgsabound[1].cElements = 0xFFFFFFFFu;  // creation refuses them first
    {
      ArgList in = InOne(Holding(VT_ARRAY | vt, psa));
      ASSERT_TRUE(in.ok) << Message();
      const BridgeArray& a = *in[0].value.array;
      EXPECT_TRUE(a.elementCount == 0 && a.totalBytes == 0 && a.dims[0] == 0xFFFFFFFFll && a.dims[2] == 0);
    }
    psa->rgsabound[0].cElements = psa->rgsabound[1].cElements = 1;
    FreeArray(psa);
  }
}

// An empty array from the bridge may come without data: it reaches the client as an empty SAFEARRAY,
// no bytes copied from the null block.
TEST_F(ConversionFault, EmptyBridgeArrayWithoutDataComesOutEmpty) {
  Result empty(ZUL_TYP_DOUBLE, {0});
  empty.array.data = nullptr;
  VARIANT out = Var(VT_EMPTY);
  uint32_t flag = ArgFlag::WriteBack;
  ASSERT_TRUE(MarshalValueOut(context, kCaller, &empty.value, &out, &flag)) << Message();
  EXPECT_TRUE(out.vt == (VT_ARRAY | VT_R8) && out.parray->rgsabound[0].cElements == 0u);
  EXPECT_EQ(VariantClear(&out), S_OK);
}

}  // namespace
}  // namespace zul::testing

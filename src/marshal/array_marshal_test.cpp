#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "marshal/marshal.h"
#include "marshal_test_support.h"
#include "stub_wrapper_object.h"

namespace zul {
namespace {

using testing::ArgList;
using testing::Bits;
using testing::FreeArray;
using testing::kCaller;
using testing::kUntouched;
using testing::MarshalTest;
using testing::NewArray;
using testing::Ref;
using testing::Str;
using testing::StubWrapperObject;
using testing::Text;
using testing::Var;

constexpr const char* kAllocationFailed = "Failed to allocate memory.";

VARIANT ArrayArg(VARTYPE vt, SAFEARRAY* psa) {
  VARIANT v = Var(VT_ARRAY | vt);
  v.parray = psa;
  return v;
}

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

// A bridge array as the bridge hands one back: element j holds j + 1, or the text "s<j>". With
// claimed dims, only the descriptor says so: for sizes that must be refused before any copy.
struct Result {
  Result(uint8_t code, const std::vector<int64_t>& dims, bool claimed = false) {
    int64_t n = 1;
    for (int64_t d : dims) n *= d;
    const int64_t held = claimed ? 1 : n;
    array.elementSize = static_cast<int64_t>(CodeWidth(code));
    data.resize(static_cast<size_t>(held * array.elementSize));
    texts.resize(static_cast<size_t>(held));
    for (int64_t j = 0; j < held; ++j) {
      const uint64_t bits = static_cast<uint64_t>(j + 1);
      texts[j] = "s" + std::to_string(j);
      const BridgeString s{2, 0, 0, texts[j].data()};
      std::memcpy(&data[j * array.elementSize], code == ZUL_TYP_STRING ? static_cast<const void*>(&s) : &bits,
                  static_cast<size_t>(array.elementSize));
    }
    array.elementCount = n;
    array.totalBytes = static_cast<int64_t>(static_cast<uint64_t>(n) * array.elementSize);  // as it wraps
    array.data = data.data();
    array.dimensionCount = static_cast<uint8_t>(dims.size());
    std::copy_n(dims.begin(), std::min<size_t>(dims.size(), 8), array.dims);
    value = {code, ValueFlag::Array | ValueFlag::BridgeMemory, {}, {}};
    value.value.array = &array;
  }
  Result(const Result&) = delete;
  std::vector<std::string> texts;
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
  Element e;
  if (vt == VT_VARIANT) {
    const auto& v = *reinterpret_cast<const VARIANT*>(at);
    e.vt = v.vt;
    e.text = v.vt == VT_BSTR ? Text(v.bstrVal) : "";
    e.bits = v.vt == VT_BSTR ? 0 : static_cast<uint64_t>(v.llVal);
  } else if (vt == VT_BSTR) {
    e.text = Text(Bits<BSTR>(at));
  } else {
    std::memcpy(&e.bits, at, psa->cbElements);
  }
  return e;
}

Element BridgeElement(const BridgeArray& a, uint8_t code, int64_t j, VARTYPE variantVt = VT_EMPTY) {
  const auto* at = static_cast<const unsigned char*>(a.data) + j * a.elementSize;
  Element e;
  e.vt = variantVt;
  if (code == ZUL_TYP_STRING) {
    const auto s = Bits<BridgeString>(at);
    EXPECT_EQ(s.kind, 0);
    e.text = s.chars != nullptr ? s.chars : "<null>";
  } else {
    std::memcpy(&e.bits, at, static_cast<size_t>(a.elementSize));
  }
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

void Fill(SAFEARRAY* psa, const Kind& kind, size_t n, std::mt19937& random) {
  auto* data = static_cast<unsigned char*>(psa->pvData);
  for (size_t p = 0; p < n; ++p) {
    const uint64_t bits = (static_cast<uint64_t>(random()) << 32) | random();
    const std::string text(random() % 6, static_cast<char>('a' + random() % 26));
    BSTR bstr = text.empty() ? nullptr : SysAllocString(testing::Wide(text).c_str());  // null among them
    if (kind.vt == VT_VARIANT) {
      VARIANT& v = reinterpret_cast<VARIANT*>(data)[p];
      v.vt = kind.element;
      if (kind.element == VT_BSTR) v.bstrVal = bstr;
      if (kind.element != VT_BSTR) std::memcpy(&v.llVal, &bits, CodeWidth(kind.code));
    } else if (kind.vt == VT_BSTR) {
      std::memcpy(data + p * 8, &bstr, sizeof bstr);
    } else {
      std::memcpy(data + p * psa->cbElements, &bits, kind.vt == VT_UINT ? 2 : psa->cbElements);
    }
    if (kind.element != VT_BSTR) SysFreeString(bstr);
  }
}

TEST_F(MarshalTest, ArraysComeBackWithTheirShapeAndContentsWhenTheBridgeChangesNothing) {
  enum Target { kNew, kFixedSize, kStatic, kLocked };
  std::mt19937 random(20240607);
  for (const Kind& kind : kKinds) {
    for (bool reorder : {false, true}) {
      for (Target target : {kNew, kFixedSize, kStatic, kLocked}) {
        // In place, the Parts refuse VT_UINT: its type on the way out is VT_UI2.
        if (kind.vt == VT_UINT && target != kNew) continue;
        std::vector<std::vector<ULONG>> shapes = {{2, 3}, {2, 3, 4}, {3, 1, 2, 4, 1, 2, 1, 5}};
        // An empty array of VARIANTs has no first element to take a type from: refused below.
        for (int i = 0; i < 3; ++i) shapes.push_back(RandomShape(random, kind.vt != VT_VARIANT));
        for (const std::vector<ULONG>& dims : shapes) {
          SCOPED_TRACE(::testing::Message()
                       << "vt " << kind.vt << "/" << kind.element << " reorder " << reorder << " target "
                       << target << " dimensions " << dims.size());
          ExpectNothingHeldAndReset();
          const size_t m = dims.size();
          size_t n = 1;
          for (ULONG d : dims) n *= d;
          SAFEARRAY* psa = NewArray(kind.vt, dims);
          ASSERT_NE(psa, nullptr);
          Fill(psa, kind, n, random);
          std::vector<Element> before;
          for (size_t p = 0; p < n; ++p) before.push_back(SafeArrayElement(psa, kind.vt, p));
          if (target == kFixedSize) psa->fFeatures |= FADF_FIXEDSIZE;
          if (target == kStatic) psa->fFeatures |= FADF_STATIC;
          if (target == kLocked) ::SafeArrayLock(psa);

          SAFEARRAY* slot = psa;
          std::vector<VARIANT> args{Var(VT_BYREF | VT_ARRAY | kind.vt)};
          args[0].pparray = &slot;
          std::vector<uint32_t> flags{ArgFlag::WriteBack | (reorder ? ArgFlag::Reorder : 0u)};
          {
            ArgList in = In(args, flags);
            ASSERT_TRUE(in.ok) << Message();
            const BridgeValue& seen = *SeenByBridge(in);
            EXPECT_EQ(seen.flags, 0x14);
            EXPECT_EQ(seen.type, kind.code);
            const BridgeArray& a = *seen.value.array;
            EXPECT_EQ(a.dimensionCount, m);
            EXPECT_EQ(a.elementCount, static_cast<int64_t>(n));
            EXPECT_EQ(a.elementSize, static_cast<int64_t>(CodeWidth(kind.code)));
            for (size_t k = 0; k < 8; ++k) EXPECT_EQ(a.dims[k], k < m ? dims[k] : reorder && m > 1) << k;
            for (size_t j = 0; j < n; ++j) {
              Element expected = before[reorder ? WalkPosition(j, dims) : j];
              if (kind.vt == VT_UINT) expected.bits &= 0xFFFF;
              ASSERT_EQ(BridgeElement(a, kind.code, j, kind.vt == VT_VARIANT ? kind.element : 0), expected)
                  << j;
            }
            ASSERT_TRUE(WriteBackArgs(context, kCaller, 1, in.list.pointers.get(), args.data(), flags.data()))
                << Message();
          }
          EXPECT_EQ(bridge->TotalOutstandingBlocks(), 0);
          ASSERT_NE(slot, nullptr);
          EXPECT_TRUE(target == kNew || slot == psa);
          EXPECT_EQ(args[0].vt,
                    VT_BYREF | VT_ARRAY | (target == kNew && kind.newVt != 0 ? kind.newVt : kind.vt));
          ASSERT_EQ(slot->cDims, m);
          for (size_t k = 0; k < m; ++k) {
            EXPECT_EQ(slot->rgsabound[k].cElements, dims[k]) << k;
            EXPECT_EQ(slot->rgsabound[k].lLbound, 0) << k;
          }
          for (size_t p = 0; p < n; ++p) ASSERT_EQ(SafeArrayElement(slot, kind.vt, p), before[p]) << p;
          FreeArray(slot);
        }
      }
    }
  }
}

TEST_F(MarshalTest, TheReorderingWalkPairsElementsAsTheHandTablesSay) {
  const struct {
    std::vector<ULONG> dims;
    std::vector<int32_t> bridgeTakes;    // in: the SAFEARRAY position of bridge element j
    std::vector<int32_t> safeArrayGets;  // out: the bridge element at SAFEARRAY position p
  } cases[] = {
      {{2, 3}, {0, 3, 1, 4, 2, 5}, {0, 2, 4, 1, 3, 5}},
      {{2, 3, 4},
       {0, 12, 4, 16, 8, 20, 1, 13, 5, 17, 9, 21, 2, 14, 6, 18, 10, 22, 3, 15, 7, 19, 11, 23},
       {0, 6, 12, 18, 2, 8, 14, 20, 4, 10, 16, 22, 1, 7, 13, 19, 3, 9, 15, 21, 5, 11, 17, 23}},
  };
  for (const auto& c : cases) {
    for (uint32_t reorder : {0u, ArgFlag::Reorder}) {
      SCOPED_TRACE(::testing::Message() << c.dims.size() << " dimensions, reorder " << reorder);
      const size_t n = c.bridgeTakes.size();
      std::vector<int32_t> identity(n), taken(n);
      for (size_t i = 0; i < n; ++i) identity[i] = static_cast<int32_t>(i);
      SAFEARRAY* psa = NewArray(VT_I4, c.dims);
      std::copy(identity.begin(), identity.end(), static_cast<int32_t*>(psa->pvData));
      {
        ArgList in = InOne(ArrayArg(VT_I4, psa), reorder);
        ASSERT_TRUE(in.ok);
        std::memcpy(taken.data(), in[0].value.array->data, n * 4);
        EXPECT_EQ(taken, reorder != 0 ? c.bridgeTakes : identity);
      }
      FreeArray(psa);

      Result result(ZUL_TYP_LONG, std::vector<int64_t>(c.dims.begin(), c.dims.end()));
      std::memcpy(result.data.data(), identity.data(), n * 4);
      VARIANT out = Var(VT_EMPTY);
      ASSERT_TRUE(MarshalArrayOut(context, kCaller, &result.value, &out, &reorder));
      ASSERT_EQ(out.vt, VT_ARRAY | VT_I4);
      LONG upper = 0;
      EXPECT_EQ(SafeArrayGetUBound(out.parray, 1, &upper), S_OK);  // the leftmost as listed is stored last
      EXPECT_EQ(upper, static_cast<LONG>(c.dims.back()) - 1);
      std::memcpy(taken.data(), out.parray->pvData, n * 4);
      EXPECT_EQ(taken, reorder != 0 ? c.safeArrayGets : identity);
      VariantClear(&out);
    }
  }
}

TEST_F(MarshalTest, FixedStaticAndLockedArraysAreOverwrittenInPlaceOrRefused) {
  const char* const kFixedStatic = "Failed to overwrite client array since it is marked as FIXED & STATIC.";
  const char* const kTypeChanged = "Array element type change during call.";
  const struct {
    const char* name;
    VARTYPE vt;
    std::vector<ULONG> dims;
    USHORT features;
    ULONG locks;
    uint8_t code;
    std::vector<int64_t> resultDims;
    uint32_t flag;
    const char* message;          // null: overwritten
    std::vector<uint64_t> after;  // then the client's elements
  } cases[] = {
      {"I1 keeps VT_I1", VT_I1, {4}, FADF_FIXEDSIZE, 0, ZUL_TYP_BYTE, {4}, 0, nullptr, {1, 2, 3, 4}},
      {"UI1", VT_UI1, {4}, FADF_STATIC, 0, ZUL_TYP_BYTE, {4}, 0, nullptr, {1, 2, 3, 4}},
      {"walked", VT_I4, {2, 3}, 0, 1, ZUL_TYP_LONG, {2, 3}, ArgFlag::Reorder, nullptr, {1, 3, 5, 2, 4, 6}},
      {"lower bound 1", VT_I4, {3}, FADF_FIXEDSIZE, 0, ZUL_TYP_LONG, {3}, 0, nullptr, {1, 2, 3}},
      {"I1 given LONG", VT_I1, {4}, FADF_FIXEDSIZE, 0, ZUL_TYP_LONG, {4}, 0, kFixedStatic, {}},
      {"UI1 given INT", VT_UI1, {4}, 0, 1, ZUL_TYP_INT, {4}, 0, kFixedStatic, {}},
      {"I4 given DOUBLE", VT_I4, {4}, 0, 1, ZUL_TYP_DOUBLE, {4}, 0, kTypeChanged, {}},
      {"UINT given UINT", VT_UINT, {4}, FADF_FIXEDSIZE, 0, ZUL_TYP_UINT, {4}, 0, kTypeChanged, {}},
      {"dimensions",
       VT_I4,
       {2, 3},
       FADF_STATIC,
       0,
       ZUL_TYP_LONG,
       {6},
       0,
       "Number of dimensions of array changed during call.",
       {}},
      {"resized",
       VT_I4,
       {5},
       FADF_FIXEDSIZE,
       0,
       ZUL_TYP_LONG,
       {6},
       0,
       "Can't return modified (resized) safearray; client safearray is FIXED/STATIC/locked.",
       {}},
      {"block cannot lock", VT_I4, {4}, 0, 0xFFFF, ZUL_TYP_LONG, {4}, 0, kAllocationFailed, {}},
      {"walk cannot lock", VT_I4, {2, 3}, 0, 0xFFFF, ZUL_TYP_LONG, {2, 3}, ArgFlag::Reorder, kUntouched, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetMessage();
    SAFEARRAY* psa = NewArray(c.vt, c.dims);
    psa->rgsabound[0].lLbound = std::string(c.name) == "lower bound 1";  // lower bounds are not compared
    std::memset(psa->pvData, 0x5A, 2 * psa->cbElements);
    psa->fFeatures |= c.features;
    psa->cLocks = c.locks;
    Result result(c.code, c.resultDims);
    VARIANT out = ArrayArg(c.vt, psa);
    uint32_t flag = c.flag;
    EXPECT_EQ(MarshalArrayOut(context, kCaller, &result.value, &out, &flag), c.message == nullptr);
    EXPECT_EQ(out.vt, VT_ARRAY | c.vt);
    EXPECT_EQ(out.parray, psa);
    EXPECT_EQ(Message(), c.message != nullptr ? c.message : kUntouched);
    for (size_t p = 0; p < c.after.size(); ++p)
      EXPECT_EQ(SafeArrayElement(psa, c.vt, p).bits, c.after[p]) << p;
    if (c.message != nullptr) {
      EXPECT_EQ(static_cast<unsigned char*>(psa->pvData)[1], 0x5A);  // the client's array is unchanged
    }
    FreeArray(psa);
  }
}

TEST_F(MarshalTest, AVbScriptArgumentIsWrittenBackIntoItsOwnArray) {
  SAFEARRAY* psa = NewArray(VT_VARIANT, {3});
  for (int p = 0; p < 3; ++p) static_cast<VARIANT*>(psa->pvData)[p] = Var(VT_I2, p + 1);
  psa->fFeatures |= FADF_FIXEDSIZE | FADF_STATIC;
  SAFEARRAY* slot = psa;
  VARIANT inner = Var(VT_BYREF | VT_ARRAY | VT_VARIANT);
  inner.pparray = &slot;
  std::vector<VARIANT> args{Ref(&inner)};
  std::vector<uint32_t> flags{ArgFlag::WriteBack | ArgFlag::Reorder};
  {
    ArgList in = In(args, flags);
    ASSERT_TRUE(in.ok);
    EXPECT_EQ(in[0].type, ZUL_TYP_INT);
    auto* data = static_cast<int16_t*>(in[0].value.array->data);
    EXPECT_EQ(std::vector<int16_t>(data, data + 3), (std::vector<int16_t>{1, 2, 3}));
    for (int j = 0; j < 3; ++j) data[j] = static_cast<int16_t>(7 + j);  // what the call changed
    ASSERT_TRUE(WriteBackArgs(context, kCaller, 1, in.list.pointers.get(), args.data(), flags.data()));
  }
  EXPECT_EQ(args[0].vt, VT_BYREF | VT_VARIANT);
  EXPECT_EQ(inner.vt, VT_BYREF | VT_ARRAY | VT_VARIANT);
  ASSERT_EQ(slot, psa);
  for (int p = 0; p < 3; ++p) EXPECT_EQ(SafeArrayElement(psa, VT_VARIANT, p), (Element{7u + p, "", VT_I2}));
  FreeArray(psa);
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
    return ArrayArg(vt, owned.back());
  };
  auto variants = [&](std::vector<VARIANT> elements) {
    owned.push_back(NewArray(VT_VARIANT, {static_cast<ULONG>(elements.size())}));
    std::copy(elements.begin(), elements.end(), static_cast<VARIANT*>(owned.back()->pvData));
    return ArrayArg(VT_VARIANT, owned.back());
  };
  auto mixed = [](const char* index, const char* vt, const char* type) {
    return std::string("Element ") + index + " of the array of variants is " + vt +
           ", which does not convert exactly to the array's element type " + type + ".";
  };
  const std::string objectArray =
      "Array of object references must be an array of variants, with each variant containing an object "
      "reference.";
  int32_t bytes[4] = {};
  HandArray noDims(0, 1, bytes), noData(1, 4, nullptr);
  VARIANT lowerBoundOne = typed(VT_I4, {3}), nullByRef = Var(VT_BYREF | VT_ARRAY | VT_I4);
  owned.back()->rgsabound[0].lLbound = 1;
  int64_t nine = 9;
  VARIANT bareI8 = Var(VT_BYREF | VT_I8);
  bareI8.byref = &nine;
  const struct {
    const char* name;
    VARIANT arg;
    std::string message;  // empty: converted to code and bits
    uint8_t code;
    std::vector<uint64_t> bits;
  } cases[] = {
      {"longs",
       variants({Var(VT_I4, 1), Var(VT_I2, 7), Var(VT_R8, 0x4008000000000000), Var(VT_UI1, 5),
                 Var(VT_BOOL, 0xFFFF), bareI8}),
       "",
       ZUL_TYP_LONG,
       {1, 7, 3, 5, 1, 9}},
      {"doubles",
       variants({Var(VT_R8, 0x3FE0000000000000), Var(VT_R4, 0x3E800000), Var(VT_I4, 3), Var(VT_CY, 15000)}),
       "",
       ZUL_TYP_DOUBLE,
       {0x3FE0000000000000, 0x3FD0000000000000, 0x4008000000000000, 0x3FF8000000000000}},
      {"uints", variants({Var(VT_UINT, 0x12345), Var(VT_UI2, 3)}), "", ZUL_TYP_UINT, {0x2345, 3}},
      {"lower bound 1", lowerBoundOne, "Safearray lLbound MUST be zero.", 0, {}},
      {"nine dimensions",
       typed(VT_I4, {1, 2, 1, 1, 1, 1, 1, 1, 1}),
       "Number of dimensions on client array exceeds maximum allowable ZUL array dimensions of 8",
       0,
       {}},
      {"bool", typed(VT_BOOL, {2}), kUntouched, 0, {}},
      {"currency", typed(VT_CY, {2}), kUntouched, 0, {}},
      {"date", typed(VT_DATE, {2}), kUntouched, 0, {}},
      {"error", typed(VT_ERROR, {2}), kUntouched, 0, {}},
      {"int", typed(VT_INT, {2}), kUntouched, 0, {}},
      {"decimal", typed(VT_DECIMAL, {2}), kUntouched, 0, {}},
      {"typed dispatch", typed(VT_DISPATCH, {2}), objectArray, 0, {}},
      {"typed unknown", typed(VT_UNKNOWN, {2}), objectArray, 0, {}},
      {"null array", Var(VT_ARRAY | VT_I4), kUntouched, 0, {}},
      {"null reference", nullByRef, kUntouched, 0, {}},
      {"no dimensions", ArrayArg(VT_I4, &noDims.sa), kUntouched, 0, {}},
      {"no data", ArrayArg(VT_I4, &noData.sa), kUntouched, 0, {}},
      {"empty variants", variants({}), kUntouched, 0, {}},
      {"first element empty", variants({Var(VT_EMPTY), Var(VT_I4, 1)}), kUntouched, 0, {}},
      {"string among longs", variants({Var(VT_I4, 1), Str("x")}), mixed("1", "VT_BSTR", "VT_I4"), 0, {}},
      {"fraction among longs",
       variants({Var(VT_I4, 1), Var(VT_I4, 2), Var(VT_R8, 0x3FF8000000000000)}),
       mixed("2", "VT_R8", "VT_I4"),
       0,
       {}},
      {"empty among longs", variants({Var(VT_I4, 1), Var(VT_EMPTY)}), mixed("1", "VT_EMPTY", "VT_I4"), 0, {}},
      {"null among longs", variants({Var(VT_I4, 1), Var(VT_NULL)}), mixed("1", "VT_NULL", "VT_I4"), 0, {}},
      {"too large among longs",
       variants({Var(VT_I4, 1), Var(VT_I8, 1ll << 40)}),
       mixed("1", "VT_I8", "VT_I4"),
       0,
       {}},
      {"long among strings", variants({Str("a"), Var(VT_I4, 1)}), mixed("1", "VT_I4", "VT_BSTR"), 0, {}},
      {"object among longs",
       variants({Var(VT_I4, 1), Var(VT_DISPATCH)}),
       mixed("1", "VT_DISPATCH", "VT_I4"),
       0,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectNothingHeldAndReset();
    ResetMessage();
    std::vector<VARIANT> args{Str("abc"), c.arg, Str("def")};
    std::vector<uint32_t> flags(3, ArgFlag::WriteBack | ArgFlag::Reorder);
    {
      ArgList in = In(args, flags);
      EXPECT_EQ(in.ok, c.message.empty());
      EXPECT_EQ(Message(), c.message.empty() ? kUntouched : c.message);
      for (size_t j = 0; j < c.bits.size(); ++j)
        EXPECT_EQ(BridgeElement(*in[1].value.array, c.code, j).bits, c.bits[j]);
      if (!c.message.empty()) {
        const BridgeValue zero{};
        EXPECT_EQ(std::memcmp(&in[2], &zero, sizeof zero), 0);
        EXPECT_EQ(in.list.pointers[2], nullptr);
      }
    }
    SysFreeString(args[0].bstrVal);
    SysFreeString(args[2].bstrVal);
  }
  for (SAFEARRAY* psa : owned) FreeArray(psa);
}

TEST_F(MarshalTest, EveryFailedAllocationLeavesNothingBehind) {
  SAFEARRAY* strings = NewArray(VT_BSTR, {2, 3});
  for (int p = 0; p < 6; ++p) static_cast<BSTR*>(strings->pvData)[p] = SysAllocString(OLESTR("s"));
  SAFEARRAY* longs = NewArray(VT_I4, {4});
  SAFEARRAY* doubles = NewArray(VT_R8, {2, 2});
  SAFEARRAY* variants = NewArray(VT_VARIANT, {2});
  for (int p = 0; p < 2; ++p) static_cast<VARIANT*>(variants->pvData)[p] = Str("v");
  std::vector<VARIANT> args{Str("abc"), ArrayArg(VT_BSTR, strings), ArrayArg(VT_I4, longs),
                            Str(""),    ArrayArg(VT_R8, doubles),   ArrayArg(VT_VARIANT, variants)};
  // In order: "abc"; descriptor, data, six strings; descriptor, data; descriptor, data; descriptor,
  // data, two strings. Only a data block's failure has a message.
  const std::vector<int> dataBlocks = {3, 11, 13, 15};
  constexpr int kAllocations = 17;
  for (int nth = 1; nth <= kAllocations + 1; ++nth) {
    SCOPED_TRACE(nth);
    ExpectNothingHeldAndReset();
    ResetMessage();
    bridge->FailAllocationAt(nth);
    std::vector<uint32_t> flags(args.size(), ArgFlag::Reorder | ArgFlag::WriteBack);
    ArgList in = In(args, flags);
    EXPECT_EQ(in.ok, nth > kAllocations);
    EXPECT_EQ(bridge->CallsTo(BridgeEntry::kAllocateMemory).size(),
              static_cast<size_t>(std::min(nth, kAllocations)));
    const bool data = std::find(dataBlocks.begin(), dataBlocks.end(), nth) != dataBlocks.end();
    EXPECT_EQ(Message(), data ? kAllocationFailed : kUntouched);
  }
  for (int i : {0, 3}) SysFreeString(args[i].bstrVal);
  for (SAFEARRAY* psa : {strings, longs, doubles, variants}) FreeArray(psa);
}

TEST_F(MarshalTest, HugeArraysAskForTheirFullSizeAndAreNeverCutShort) {
  int32_t small[4] = {};
  HandArray huge(2, 0x10000, small), overflowing(8, 0xFFFFFFFF, small);  // 2^32 elements; beyond 64 bits
  for (HandArray* array : {&huge, &overflowing}) {
    ExpectNothingHeldAndReset();
    bridge->FailAllocationAt(2);
    ResetMessage();
    ArgList in = InOne(ArrayArg(VT_I4, &array->sa), ArgFlag::InOnly);
    EXPECT_FALSE(in.ok);
    EXPECT_EQ(Message(), kAllocationFailed);
    const auto allocations = bridge->CallsTo(BridgeEntry::kAllocateMemory);
    ASSERT_EQ(allocations.size(), array == &huge ? 2u : 1u);
    EXPECT_EQ(allocations.back()->args[0], array == &huge ? int64_t{1} << 34 : 128);
  }
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
    ResetMessage();
    const bool ok = c.handles.size() == c.objects.size();
    SAFEARRAY* psa = NewArray(VT_VARIANT, {static_cast<ULONG>(c.objects.size())});
    for (size_t p = 0; p < c.objects.size(); ++p) {
      c.objects[p]->AddRef();  // the array's reference
      VARIANT& element = static_cast<VARIANT*>(psa->pvData)[p];
      element.vt = p == 1 ? VT_UNKNOWN : VT_DISPATCH;
      element.pdispVal = c.objects[p];
    }
    std::vector<VARIANT> args{ArrayArg(VT_VARIANT, psa)};
    std::vector<uint32_t> flags{ArgFlag::WriteBack | ArgFlag::Reorder};
    {
      ArgList in = In(args, flags);
      EXPECT_EQ(in.ok, ok);
      EXPECT_EQ(Message(), ok ? kUntouched : "Object reference must be another ZUL COM wrapper object.");
      EXPECT_EQ(flags[0], ArgFlag::InOnly | ArgFlag::Reorder);
      EXPECT_EQ(in.list.flags[0], ArgFlag::WriteBack | ArgFlag::Reorder);
      EXPECT_EQ(in[0].flags, 0x14);
      EXPECT_EQ(in[0].type, ZUL_TYP_OBJREF);
      for (size_t j = 0; j < c.handles.size(); ++j) {
        EXPECT_EQ(BridgeElement(*in[0].value.array, ZUL_TYP_OBJREF, j).bits,
                  static_cast<uint64_t>(c.handles[j]));
      }
      EXPECT_EQ(bridge->CallsTo(BridgeEntry::kObjRefCookie2Hvid).size(), c.handles.size());
      EXPECT_TRUE(WriteBackArgs(context, kCaller, 1, in.list.pointers.get(), args.data(), flags.data()));
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
  VARIANT byRefEmpty = Var(VT_BYREF | VT_ARRAY | VT_I4), byRefLong = Var(VT_BYREF | VT_I4);
  byRefEmpty.pparray = &nothing;
  LONG bare = 0;
  byRefLong.byref = &bare;
  const std::string inOnly = "Object references must be in-only (constant).  They cannot be returned.";
  enum Change { kNone, kClaimed, kNoDimensions, kNoDescriptor };
  const struct {
    const char* name;
    VARIANT target;
    uint8_t code;
    std::vector<int64_t> dims;
    Change change;
    std::string message;  // empty: a new VT_ARRAY|VT_I4 of 3 elements
  } cases[] = {
      {"empty", Var(VT_EMPTY), ZUL_TYP_LONG, {3}, kNone, ""},
      {"a long", Var(VT_I4, 5), ZUL_TYP_LONG, {3}, kNone, ""},
      {"a string", Str("gone"), ZUL_TYP_LONG, {3}, kNone, ""},
      {"a replaceable array", ArrayArg(VT_BSTR, old), ZUL_TYP_LONG, {3}, kNone, ""},
      {"a reference to no array", byRefEmpty, ZUL_TYP_LONG, {3}, kNone, ""},
      {"a reference to a long",
       byRefLong,
       ZUL_TYP_LONG,
       {3},
       kNone,
       "Cannot write a ZUL_TYP_LONG array into a by-reference argument of type VT_BYREF|VT_I4."},
      {"objects", Var(VT_EMPTY), ZUL_TYP_OBJREF, {3}, kNone, inOnly},
      {"objects into a reference to a long", byRefLong, ZUL_TYP_OBJREF, {3}, kNone, inOnly},
      {"undefined", Var(VT_EMPTY), ZUL_TYP_UNDEF, {3}, kNone, kUntouched},
      {"complex", Var(VT_EMPTY), ZUL_TYP_COMPLEX, {3}, kNone, kUntouched},
      {"struct", Var(VT_EMPTY), ZUL_TYP_STRUCT, {3}, kNone, kUntouched},
      {"dcomplex", Var(VT_EMPTY), ZUL_TYP_DCOMPLEX, {3}, kNone, kUntouched},
      {"pointer", Var(VT_EMPTY), ZUL_TYP_PTR, {3}, kNone, kUntouched},
      {"code 42", Var(VT_EMPTY), 42, {3}, kNone, kUntouched},
      {"no dimensions", Var(VT_EMPTY), ZUL_TYP_LONG, {3}, kNoDimensions, kUntouched},
      {"nine dimensions", Var(VT_EMPTY), ZUL_TYP_LONG, {1, 1, 1, 1, 1, 1, 1, 1, 1}, kNone, kUntouched},
      {"no descriptor", Var(VT_EMPTY), ZUL_TYP_LONG, {3}, kNoDescriptor, kUntouched},
      {"more bytes than 64 bits count",
       Var(VT_EMPTY),
       ZUL_TYP_DOUBLE,
       {int64_t{1} << 62},
       kClaimed,
       kUntouched},
      {"a dimension beyond ULONG",
       Var(VT_EMPTY),
       ZUL_TYP_BYTE,
       {int64_t{1} << 32},
       kClaimed,
       "ZUL array dimension exceeds the Safearray bounds 'cElement' size (ULONG)."},
      {"more than a SAFEARRAY holds",
       Var(VT_EMPTY),
       ZUL_TYP_DOUBLE,
       {0x10000, 0x10001},
       kClaimed,
       kAllocationFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetMessage();
    VARIANT target = c.target;
    Result result(c.code, c.dims, c.change == kClaimed);
    if (c.change == kNoDimensions) result.array.dimensionCount = 0;
    if (c.change == kNoDescriptor) result.value.value.array = nullptr;
    const bool byRef = (target.vt & VT_BYREF) != 0;
    ASSERT_EQ(MarshalArrayOut(context, kCaller, &result.value, &target, nullptr), c.message.empty());
    EXPECT_EQ(Message(), c.message.empty() ? kUntouched : c.message);
    if (!c.message.empty()) {
      EXPECT_EQ(target.vt, c.target.vt);
      continue;
    }
    EXPECT_EQ(target.vt, VT_ARRAY | VT_I4 | (byRef ? VT_BYREF : 0));
    SAFEARRAY* created = byRef ? *target.pparray : target.parray;
    EXPECT_EQ(SafeArrayElement(created, VT_I4, 2).bits, 3u);
    FreeArray(created);
  }
  EXPECT_EQ(bare, 0);
}

}  // namespace
}  // namespace zul

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "marshal/types.h"
#include "marshal_test_support.h"
#include "stub_wrapper_object.h"

namespace zul::testing {
namespace {

constexpr uint64_t kPattern = 0x8877665544332211ull;
constexpr const char* kNotAWrapper = "Object reference must be another ZUL COM wrapper object.";
constexpr const char* kInOnly = "Object references must be in-only (constant).  They cannot be returned.";
constexpr uint32_t kIfChanged = ArgFlag::WriteBack | ArgFlag::WriteBackChanged;

uint64_t Low(uint64_t bits, size_t width) {
  return width >= 8 ? bits : bits & ((1ull << (8 * width)) - 1);
}

BridgeValue Scalar(uint8_t code, uint64_t bits) {
  BridgeValue value{code, 0, {}, {}};
  value.value.ulong64Val = bits;
  return value;
}

std::string Refusal(const char* code, const char* vt) {
  return std::string("Cannot write a ") + code + " value into a by-reference argument of type VT_BYREF|" +
         vt + ".";
}

// In by value and by reference, and out into by-reference storage as LONG 1; by reference, flagged
// WriteBackChanged, the storage keeps its bits until the bridge changes the value.
TEST_F(MarshalTest, EveryVarTypeConvertsBitForBitOrIsRefused) {
  const struct {
    VARTYPE vt;
    uint8_t code;
    size_t width, bareWidth;  // bytes written in; bytes of the bare value behind a reference
    uint64_t one;
  } accepted[] = {
      {VT_I2, ZUL_TYP_INT, 2, 2, 1},           {VT_I4, ZUL_TYP_LONG, 4, 4, 1},
      {VT_ERROR, ZUL_TYP_LONG, 4, 4, 1},       {VT_R4, ZUL_TYP_FLOAT, 4, 4, Raw(1.0f)},
      {VT_R8, ZUL_TYP_DOUBLE, 8, 8, Raw(1.0)}, {VT_DATE, ZUL_TYP_DOUBLE, 8, 8, Raw(1.0)},
      {VT_CY, ZUL_TYP_DOUBLE, 8, 8, 10000},    {VT_BOOL, ZUL_TYP_BYTE, 1, 2, 0xFFFF},
      {VT_I1, ZUL_TYP_BYTE, 1, 1, 1},          {VT_UI1, ZUL_TYP_BYTE, 1, 1, 1},
      {VT_UI2, ZUL_TYP_UINT, 2, 2, 1},         {VT_UI4, ZUL_TYP_ULONG, 4, 4, 1},
      {VT_I8, ZUL_TYP_LONG64, 8, 8, 1},        {VT_UI8, ZUL_TYP_ULONG64, 8, 8, 1},
      {VT_INT, ZUL_TYP_LONG, 4, 4, 1},         {VT_UINT, ZUL_TYP_UINT, 2, 4, 1},
  };
  std::vector<VARTYPE> bases(74);
  std::iota(bases.begin(), bases.end(), VARTYPE{0});
  bases.insert(bases.end(),
               {VT_VECTOR | VT_I4, VT_RESERVED | VT_I4, VT_VECTOR | VT_RESERVED | VT_UI1, 0x0FFF});
  const std::string refusal = "Cannot write a ZUL_TYP_LONG value into a by-reference argument of type VT_";
  for (VARTYPE base : bases) {
    SCOPED_TRACE(base);
    const auto row =
        std::find_if(std::begin(accepted), std::end(accepted), [&](auto& r) { return r.vt == base; });
    const bool ok = row != std::end(accepted);
    if (base != VT_VARIANT) {  // a reference to a VARIANT is followed
      ResetMessage();
      unsigned char storage[16];
      std::memset(storage, 0xCD, sizeof storage);
      VARIANT out = Holding(VT_BYREF | base, storage);
      const BridgeValue one = Scalar(ZUL_TYP_LONG, 1);
      EXPECT_EQ(MarshalValueOut(context, kCaller, &one, &out, nullptr), ok);
      EXPECT_EQ(Message().rfind(ok ? kUntouched : refusal, 0), 0u) << Message();
      const size_t width = ok ? row->bareWidth : 0;
      EXPECT_EQ(std::memcmp(storage, ok ? static_cast<const void*>(&row->one) : storage, width), 0);
      EXPECT_EQ(std::count(storage + width, storage + sizeof storage, 0xCD),
                static_cast<long>(sizeof storage - width));
    }
    // Strings, objects and references to VARIANTs hold pointers: their own tests cover them.
    if (base == VT_BSTR || base == VT_DISPATCH || base == VT_UNKNOWN || base == VT_VARIANT) continue;
    for (VARTYPE byRef : {VARTYPE{0}, VARTYPE{VT_BYREF}}) {
      SCOPED_TRACE(byRef);
      ResetMessage();
      // Exactly the bare value's bytes behind a reference: a sanitizer sees any read beyond them.
      const size_t size = ok ? row->bareWidth : 16;
      auto bare = std::make_unique<unsigned char[]>(size);
      std::memcpy(bare.get(), &kPattern, std::min<size_t>(size, 8));
      VARIANT arg =
          byRef != 0 ? Holding(base | byRef, bare.get()) : Var(base, static_cast<int64_t>(kPattern));
      std::vector<VARIANT> args{arg};
      std::vector<uint32_t> flags{kIfChanged};
      ArgList in = In(args, flags);
      EXPECT_EQ(in.ok, ok);
      const bool none = base == VT_EMPTY || base == VT_NULL;
      EXPECT_EQ(Message(), ok ? kUntouched
                              : "Argument 1 is " + VarTypeName(base | byRef) +
                                    (none ? ", which holds no value to pass." : ", which cannot be passed."));
      if (!ok) continue;
      EXPECT_EQ(in[0].type, row->code);
      EXPECT_EQ(in[0].flags, 0);
      uint64_t expected = Low(kPattern, row->width);
      if (base == VT_CY) expected = Raw(static_cast<double>(static_cast<int64_t>(kPattern)) / 10000.0);
      if (base == VT_BOOL) expected = 0;  // 0x2211 is not VARIANT_TRUE
      EXPECT_EQ(in[0].value.ulong64Val, expected);
      if (byRef == 0) continue;
      // Unchanged; another value of its own type (its lowest bit flipped); another type.
      for (const int change : {0, 1, 2}) {
        if (change == 1) in[0].value.ulong64Val ^= 1;
        if (change == 2) in[0] = Scalar(ZUL_TYP_LONG, 1);
        flags[0] = kIfChanged;
        EXPECT_TRUE(WriteBack(in, args, flags)) << Message();
        EXPECT_EQ(flags[0], change != 0 ? kIfChanged : ArgFlag::WriteBackChanged);  // what was written back
        if (change == 1) continue;
        EXPECT_EQ(std::memcmp(bare.get(), change != 0 ? &row->one : &kPattern, std::min<size_t>(size, 8)), 0);
      }
    }
  }
}

// Only VARIANT_TRUE is true; references to references are followed; a text's block holds its text up to
// the first NUL and a NUL, and an empty or null one needs none. Unchanged, none is written back.
TEST_F(MarshalTest, TruthNestedReferencesAndStringsIn) {
  VARIANT five = Var(VT_I4, 5), toFive = Ref(&five);
  BSTR xyz = SysAllocString(OLESTR("xyz"));
  const OLECHAR embedded[] = {'a', 'b', 0, 'c', 'd'};
  const VARIANT withNul = Holding(VT_BSTR, SysAllocStringLen(embedded, 5)), empty = Str("");
  const struct {
    VARIANT arg;
    uint8_t code;
    int64_t value;  // scalars: the value field; texts: the length
    const char* chars;
  } cases[] = {
      {Var(VT_BOOL, 0xFFFF), ZUL_TYP_BYTE, 1, nullptr},
      {Ref(&toFive), ZUL_TYP_LONG, 5, nullptr},
      {empty, ZUL_TYP_STRING, 0, nullptr},
      {withNul, ZUL_TYP_STRING, 5, "ab"},
      {Holding(VT_BYREF | VT_BSTR, &xyz), ZUL_TYP_STRING, 3, "xyz"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "row " << &c - cases);
    ExpectNothingHeldAndReset();
    std::vector<VARIANT> args{c.arg};
    std::vector<uint32_t> flags{kIfChanged};
    ArgList in = In(args, flags);
    ASSERT_TRUE(in.ok);
    EXPECT_TRUE(WriteBack(in, args, flags));
    EXPECT_EQ(std::memcmp(&args[0], &c.arg, sizeof c.arg), 0);
    EXPECT_EQ(in[0].type, c.code);
    const bool text = c.code == ZUL_TYP_STRING, block = text && c.value != 0;
    EXPECT_EQ(in[0].flags, block ? 0x10 : 0);
    const auto blocks = bridge->CallsTo(BridgeEntry::kAllocateMemory);
    EXPECT_EQ(blocks.empty() ? 0 : blocks[0]->args[0],
              block ? static_cast<int64_t>(std::strlen(c.chars)) + 1 : 0);
    EXPECT_EQ(text ? in[0].value.str.length : static_cast<int64_t>(in[0].value.ulong64Val), c.value);
    EXPECT_STREQ(text ? in[0].value.str.chars : nullptr, c.chars);
    EXPECT_EQ(text ? in[0].value.str.kind : 0, block ? 1 : 0);
  }
  EXPECT_FALSE(InOne(Ref(nullptr)).ok);
  EXPECT_EQ(Message(), "Argument 1 is VT_BYREF|VT_VARIANT with a null reference.");
  VARIANT self = Ref(nullptr);
  self.pvarVal = &self;
  EXPECT_FALSE(InOne(self).ok);
  EXPECT_EQ(Message(), "Argument 1 is a chain of more than 64 references to variants.");
  EXPECT_TRUE(five.vt == VT_I4 && five.lVal == 5 && Ascii(xyz) == "xyz");
  for (BSTR text : {xyz, withNul.bstrVal, empty.bstrVal}) SysFreeString(text);
}

TEST_F(MarshalTest, EveryTypeCodeOutBecomesItsVarTypeOrNamesItself) {
  const struct {
    uint8_t code;
    VARTYPE vt;
    size_t width;
  } accepted[] = {{ZUL_TYP_BYTE, VT_UI1, 1},  {ZUL_TYP_INT, VT_I2, 2},    {ZUL_TYP_LONG, VT_I4, 4},
                  {ZUL_TYP_FLOAT, VT_R4, 4},  {ZUL_TYP_DOUBLE, VT_R8, 8}, {ZUL_TYP_UINT, VT_UI2, 2},
                  {ZUL_TYP_ULONG, VT_UI4, 4}, {ZUL_TYP_LONG64, VT_I8, 8}, {ZUL_TYP_ULONG64, VT_UI8, 8}};
  const char* const names[] = {"UNDEF", "", "", "", "", "", "COMPLEX", "", "STRUCT", "DCOMPLEX", "PTR"};
  std::vector<int> codes(21);
  std::iota(codes.begin(), codes.end(), 0);
  codes.insert(codes.end(), {42, 255});
  for (int code : codes) {
    if (code == ZUL_TYP_STRING) continue;                // below
    for (uint8_t flags : {uint8_t{0}, uint8_t{0x34}}) {  // 0x20: never converted as an array
      SCOPED_TRACE(::testing::Message() << "code " << code << " flags " << int{flags});
      ResetMessage();
      BridgeValue value = Scalar(static_cast<uint8_t>(code), kPattern);
      value.flags = flags;
      VARIANT out = Str("old");  // freed before the new value is written
      const bool ok = MarshalValueOut(context, kCaller, &value, &out, nullptr);
      const auto row =
          std::find_if(std::begin(accepted), std::end(accepted), [&](auto& r) { return r.code == code; });
      EXPECT_EQ(ok, row != std::end(accepted));
      EXPECT_EQ(out.vt, ok ? row->vt : VARTYPE{VT_EMPTY});
      EXPECT_TRUE(!ok || static_cast<uint64_t>(out.llVal) == Low(kPattern, row->width)) << out.llVal;
      const char* name = code <= ZUL_TYP_PTR && names[code][0] != 0 ? names[code] : "UNDEF";
      EXPECT_EQ(Message(), ok                       ? kUntouched
                           : code == ZUL_TYP_OBJREF ? kInOnly
                                                    : std::string("Unsupported data type: ZUL_TYP_") + name);
    }
  }
  char abc[] = "abc";  // a text runs to its NUL; without characters it is a null BSTR
  using Text = std::tuple<int32_t, char*, const char*>;
  for (auto [length, chars, expected] :
       {Text{0, abc, "<null>"}, Text{3, nullptr, "<null>"}, Text{5, abc, "abc"}, Text{1, abc, "abc"}}) {
    BridgeValue value{ZUL_TYP_STRING, 0, {}, {}};
    value.value.str = {length, 1, 0, chars};
    VARIANT inner = Var(VT_I4, 1), out = Ref(&inner);  // the referenced VARIANT receives it
    ASSERT_TRUE(MarshalValueOut(context, kCaller, &value, &out, nullptr));
    EXPECT_TRUE(out.vt == (VT_BYREF | VT_VARIANT) && out.pvarVal == &inner && inner.vt == VT_BSTR);
    EXPECT_EQ(Ascii(inner.bstrVal), expected) << length;
    VariantClear(&inner);
  }
}

TEST_F(MarshalTest, ByReferenceStorageOutTakesOnlyAValueThatFitsItsTypeExactly) {
  const struct {
    BridgeValue value;
    VARTYPE base;
    size_t width;
    uint64_t bits;
    std::string message;  // empty: written
  } cases[] = {
      {Scalar(ZUL_TYP_DOUBLE, Raw(3.0)), VT_I2, 2, 3, ""},
      {Scalar(ZUL_TYP_LONG, 0xFFFFFFFF), VT_I1, 1, 0xFF, ""},
      {Scalar(ZUL_TYP_INT, 0xFFFE), VT_I8, 8, Raw(int64_t{-2}), ""},
      {Scalar(ZUL_TYP_FLOAT, Raw(0.1f)), VT_R8, 8, Raw(static_cast<double>(0.1f)), ""},
      {Scalar(ZUL_TYP_DOUBLE, Raw(1.5)), VT_CY, 8, 15000, ""},
      {Scalar(ZUL_TYP_DOUBLE, Raw(2.5)), VT_I4, 0, 0, Refusal("ZUL_TYP_DOUBLE", "VT_I4")},
      {Scalar(ZUL_TYP_LONG, 300), VT_UI1, 0, 0, Refusal("ZUL_TYP_LONG", "VT_UI1")},
      {Scalar(ZUL_TYP_LONG, 0xFFFFFFFF), VT_UI4, 0, 0, Refusal("ZUL_TYP_LONG", "VT_UI4")},
      {Scalar(ZUL_TYP_LONG64, (1ull << 53) + 1), VT_R8, 0, 0, Refusal("ZUL_TYP_LONG64", "VT_R8")},
      {Scalar(ZUL_TYP_ULONG64, ~0ull), VT_I8, 0, 0, Refusal("ZUL_TYP_ULONG64", "VT_I8")},
      {Scalar(ZUL_TYP_DOUBLE, Raw(0.1)), VT_R4, 0, 0, Refusal("ZUL_TYP_DOUBLE", "VT_R4")},
      {Scalar(ZUL_TYP_BYTE, 2), VT_BOOL, 0, 0, Refusal("ZUL_TYP_BYTE", "VT_BOOL")},
      {Scalar(ZUL_TYP_STRING, 0), VT_I4, 0, 0, Refusal("ZUL_TYP_STRING", "VT_I4")},
      {Scalar(ZUL_TYP_OBJREF, 5), VT_I4, 0, 0, kInOnly},
      {Scalar(ZUL_TYP_DCOMPLEX, 5), VT_I4, 0, 0, "Unsupported data type: ZUL_TYP_DCOMPLEX"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << int{c.value.type} << " into " << c.base);
    ResetMessage();
    uint64_t bare = 0xCDCDCDCDCDCDCDCDull, expected = bare;
    VARIANT out = Holding(VT_BYREF | c.base, &bare);
    EXPECT_EQ(MarshalValueOut(context, kCaller, &c.value, &out, nullptr), c.message.empty());
    std::memcpy(&expected, &c.bits, c.width);
    EXPECT_EQ(bare, expected);
    EXPECT_EQ(Message(), c.message.empty() ? kUntouched : c.message);
  }
}

TEST_F(MarshalTest, ObjectReferencesResolveThroughCookieGiveBackEveryReferenceAndNeverGoBack) {
  using O = StubWrapperObject&;
  const struct {
    void (*change)(StubWrapperObject&);
    int invokes;
    int32_t handle;       // scripted; 0 leaves the double's own, 1000 + cookie
    const char* message;  // null: converted
  } cases[] = {
      {[](O) {}, 1, 0, nullptr},
      {[](O o) { o.isDispatch = false; }, 0, 0, kNotAWrapper},
      {[](O o) { o.namesResult = DISP_E_UNKNOWNNAME; }, 0, 0, kNotAWrapper},
      {[](O o) { o.invokeResult = DISP_E_EXCEPTION; }, 1, 0, kNotAWrapper},
      {[](O o) { o.cookie = Str("7"); }, 1, 0, kNotAWrapper},
      {[](O o) { o.cookie.lVal = 0; }, 1, 0, kNotAWrapper},
      {[](O o) { o.cookieId = 0; }, 0, 0, kNotAWrapper},
      {[](O) {}, 1, -1, "no such object"},
  };
  for (const auto& c : cases) {
    for (VARTYPE vt : {VARTYPE{VT_DISPATCH}, VARTYPE{VT_UNKNOWN}, VARTYPE{VT_BYREF | VT_DISPATCH}}) {
      SCOPED_TRACE(::testing::Message() << "row " << &c - cases << " vt " << vt);
      ExpectNothingHeldAndReset();
      Wrapper().error.SetCode(-1);
      if (c.handle != 0) bridge->SetResult(static_cast<int>(BridgeEntry::kObjRefCookie2Hvid), c.handle);
      bridge->SetLastError(-3005, "no such object");
      StubWrapperObject object;
      c.change(object);
      IDispatch* pointer = &object;
      {
        ArgList in = InOne((vt & VT_BYREF) != 0 ? Holding(vt, &pointer) : Holding(vt, &object));
        EXPECT_EQ(in.ok, c.message == nullptr);
        EXPECT_EQ(Message(), c.message != nullptr ? c.message : kUntouched);
        EXPECT_EQ(Wrapper().error.Code(), c.handle < 0 ? -3005 : -1);
        const bool converted = in[0].type == ZUL_TYP_OBJREF && in[0].flags == 0 && in[0].value.objRef == 1007;
        EXPECT_TRUE(c.message != nullptr || converted);
        EXPECT_EQ(object.invokes, c.invokes);
        EXPECT_TRUE(object.askedName.empty() ||
                    (object.askedName == u"Cookie" && object.askedLocale == LOCALE_SYSTEM_DEFAULT));
        const auto lookups = bridge->CallsTo(BridgeEntry::kObjRefCookie2Hvid);
        ASSERT_EQ(lookups.size(), c.message == nullptr || c.handle != 0 ? 1u : 0u);
        // The calling wrapper first, then the argument's cookie.
        for (const ZulDoubleCall* lookup : lookups)
          EXPECT_TRUE(lookup->cookie == kCaller && lookup->args[0] == 7);
      }
      EXPECT_EQ(object.refs, 1u);
    }
  }
  EXPECT_FALSE(InOne(Var(VT_DISPATCH)).ok);  // a null object
  EXPECT_EQ(Message(), kNotAWrapper);
  // Written back, an object clears the caller's VARIANT and fails.
  ExpectNothingHeldAndReset();
  StubWrapperObject object;
  object.AddRef();  // the caller's VARIANT holds one reference
  VARIANT inner = Holding(VT_DISPATCH, &object);
  std::vector<VARIANT> args{Ref(&inner)};
  std::vector<uint32_t> flags{ArgFlag::WriteBack};
  ArgList in = In(args, flags);
  ASSERT_TRUE(in.ok);
  EXPECT_FALSE(WriteBack(in, args, flags));
  EXPECT_EQ(Message(), kInOnly);
  EXPECT_TRUE(inner.vt == VT_EMPTY && args[0].pvarVal == &inner);
  EXPECT_EQ(object.refs, 1u);
}

// A value not flagged as the bridge's keeps its block; a released value is cleared, so the ArgList's
// own release finds nothing left.
TEST_F(MarshalTest, ReleaseGivesBackOnlyTheBridgesBlocksAndEachOnce) {
  char chars[] = "x";
  BridgeValue notOurs{ZUL_TYP_STRING, 0, {}, {}};
  notOurs.value.str = {1, 0, 0, chars};
  const VARIANT text = Str("abc");
  ArgList in = InOne(text);
  BridgeValue* pointers[] = {&notOurs, &in[0]};
  ReleaseArgList(context, kCaller, 2, pointers);
  EXPECT_EQ(bridge->CallsTo(BridgeEntry::kReleaseMemory).size(), 1u);
  EXPECT_TRUE(notOurs.value.str.chars == chars && in[0].flags == 0 && in[0].value.str.chars == nullptr);
  SysFreeString(text.bstrVal);
}

}  // namespace
}  // namespace zul::testing

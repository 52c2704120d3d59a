#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "marshal/marshal.h"
#include "marshal_test_support.h"
#include "stub_wrapper_object.h"

namespace zul {
namespace {

using testing::ArgList;
using testing::Ascii;
using testing::Chars;
using testing::kCaller;
using testing::kUntouched;
using testing::MarshalTest;
using testing::MessageOf;
using testing::Raw;
using testing::Ref;
using testing::Str;
using testing::StubWrapperObject;
using testing::Var;

constexpr uint64_t kPattern = 0x8877665544332211ull;
constexpr const char* kNotAWrapper = "Object reference must be another ZUL COM wrapper object.";
constexpr const char* kInOnly = "Object references must be in-only (constant).  They cannot be returned.";

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

// vt, type code, bytes written, bytes of the bare value behind a reference.
struct AcceptedIn {
  VARTYPE vt;
  uint8_t code;
  size_t width;
  size_t bareWidth;
};
constexpr AcceptedIn kAcceptedIn[] = {
    {VT_I2, ZUL_TYP_INT, 2, 2},     {VT_I4, ZUL_TYP_LONG, 4, 4},     {VT_R4, ZUL_TYP_FLOAT, 4, 4},
    {VT_R8, ZUL_TYP_DOUBLE, 8, 8},  {VT_CY, ZUL_TYP_DOUBLE, 8, 8},   {VT_DATE, ZUL_TYP_DOUBLE, 8, 8},
    {VT_ERROR, ZUL_TYP_LONG, 4, 4}, {VT_BOOL, ZUL_TYP_BYTE, 1, 2},   {VT_I1, ZUL_TYP_BYTE, 1, 1},
    {VT_UI1, ZUL_TYP_BYTE, 1, 1},   {VT_UI2, ZUL_TYP_UINT, 2, 2},    {VT_UI4, ZUL_TYP_ULONG, 4, 4},
    {VT_I8, ZUL_TYP_LONG64, 8, 8},  {VT_UI8, ZUL_TYP_ULONG64, 8, 8}, {VT_INT, ZUL_TYP_LONG, 4, 4},
    {VT_UINT, ZUL_TYP_UINT, 2, 4},
};

TEST_F(MarshalTest, EveryVarTypeInConvertsBitForBitOrIsRefusedWithoutAMessage) {
  std::vector<VARTYPE> bases;
  for (VARTYPE vt = 0; vt <= 73; ++vt) bases.push_back(vt);
  bases.insert(bases.end(),
               {VT_VECTOR | VT_I4, VT_RESERVED | VT_I4, VT_VECTOR | VT_RESERVED | VT_UI1, 0x0FFF});
  for (VARTYPE base : bases) {
    // Strings, objects and references to VARIANTs hold pointers: their own tests cover them.
    if (base == VT_BSTR || base == VT_DISPATCH || base == VT_UNKNOWN || base == VT_VARIANT) continue;
    for (VARTYPE byRef : {VARTYPE{0}, VARTYPE{VT_BYREF}}) {
      SCOPED_TRACE(base | byRef);
      const auto row = std::find_if(std::begin(kAcceptedIn), std::end(kAcceptedIn),
                                    [&](const AcceptedIn& r) { return r.vt == base; });
      const bool accepted = row != std::end(kAcceptedIn);
      // Exactly the bare value's bytes behind a reference: a sanitizer sees any read beyond them.
      const size_t size = accepted ? row->bareWidth : 16;
      auto bare = std::make_unique<unsigned char[]>(size);
      std::memcpy(bare.get(), &kPattern, std::min<size_t>(size, 8));
      VARIANT arg = Var(base | byRef, static_cast<int64_t>(kPattern));
      if (byRef != 0) arg.byref = bare.get();

      ArgList in = InOne(arg);
      EXPECT_EQ(in.ok, accepted);
      EXPECT_EQ(Message(), kUntouched);
      if (!accepted) continue;
      EXPECT_EQ(in[0].type, row->code);
      EXPECT_EQ(in[0].flags, 0);
      uint64_t expected = Low(kPattern, row->width);
      if (base == VT_CY) expected = Raw(static_cast<double>(static_cast<int64_t>(kPattern)) / 10000.0);
      if (base == VT_BOOL) expected = 0;  // 0x2211 is not VARIANT_TRUE
      EXPECT_EQ(in[0].value.ulong64Val, expected);
    }
  }
}

TEST_F(MarshalTest, ScalarAndStringEdgeCasesIn) {
  VARIANT five = Var(VT_I4, 5), toFive = Ref(&five);
  uint32_t bareUint = 0x12345678;
  VARIANT byRefUint = Var(VT_BYREF | VT_UINT);
  byRefUint.byref = &bareUint;
  BSTR xyz = SysAllocString(OLESTR("xyz"));
  VARIANT byRefText = Var(VT_BYREF | VT_BSTR);
  byRefText.pbstrVal = &xyz;
  const OLECHAR embedded[] = {'a', 'b', 0, 'c', 'd'};
  VARIANT withNul = Var(VT_BSTR);
  withNul.bstrVal = SysAllocStringLen(embedded, 5);
  VARIANT abc = Str("abc"), empty = Str(""), null = Str(nullptr);
  const struct {
    VARIANT arg;
    uint8_t code;
    uint64_t bits;      // scalars: the value field
    const char* chars;  // strings: then length, kind and the block asked for (0: none)
    int32_t length;
    uint16_t kind;
    int64_t block;
  } cases[] = {
      {Var(VT_BOOL, 0xFFFF), ZUL_TYP_BYTE, 1, nullptr, 0, 0, 0},
      {Var(VT_BOOL, 0), ZUL_TYP_BYTE, 0, nullptr, 0, 0, 0},
      {Var(VT_BOOL, 1), ZUL_TYP_BYTE, 0, nullptr, 0, 0, 0},
      {Var(VT_CY, 10000), ZUL_TYP_DOUBLE, Raw(1.0), nullptr, 0, 0, 0},
      {Var(VT_CY, -15000), ZUL_TYP_DOUBLE, Raw(-1.5), nullptr, 0, 0, 0},
      {Var(VT_UINT, 0x12345678), ZUL_TYP_UINT, 0x5678, nullptr, 0, 0, 0},
      {byRefUint, ZUL_TYP_UINT, 0x5678, nullptr, 0, 0, 0},
      {Ref(&toFive), ZUL_TYP_LONG, 5, nullptr, 0, 0, 0},
      {abc, ZUL_TYP_STRING, 0, "abc", 3, 1, 4},
      {empty, ZUL_TYP_STRING, 0, nullptr, 0, 0, 0},
      {null, ZUL_TYP_STRING, 0, nullptr, 0, 0, 0},
      {withNul, ZUL_TYP_STRING, 0, "ab", 5, 1, 6},
      {byRefText, ZUL_TYP_STRING, 0, "xyz", 3, 1, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "vt " << c.arg.vt << " bits " << c.arg.llVal);
    ExpectNothingHeldAndReset();
    ArgList in = InOne(c.arg);
    ASSERT_TRUE(in.ok);
    EXPECT_EQ(in[0].type, c.code);
    EXPECT_EQ(in[0].flags, c.block != 0 ? 0x10 : 0);
    const auto allocations = bridge->CallsTo(BridgeEntry::kAllocateMemory);
    EXPECT_EQ(allocations.size(), c.block != 0 ? 1u : 0u);
    if (c.code != ZUL_TYP_STRING) {
      EXPECT_EQ(in[0].value.ulong64Val, c.bits);
      continue;
    }
    EXPECT_EQ(Chars(in[0].value.str.chars), Chars(c.chars));
    EXPECT_EQ(in[0].value.str.length, c.length);
    EXPECT_EQ(in[0].value.str.kind, c.kind);
    EXPECT_EQ(allocations.empty() ? 0 : allocations[0]->args[0], c.block);
  }
  for (VARIANT refused : {Var(VT_EMPTY), Var(VT_NULL), Var(VT_DECIMAL), Var(15, 1), Ref(nullptr)}) {
    EXPECT_FALSE(InOne(refused).ok) << refused.vt;
  }
  EXPECT_EQ(Message(), kUntouched);
  for (BSTR text : {xyz, withNul.bstrVal, abc.bstrVal, empty.bstrVal}) SysFreeString(text);
}

TEST_F(MarshalTest, AnUnknownCookieIsRecordedOnTheContextByEveryConversion) {
  VARIANT arg = Var(VT_ARRAY | VT_I4), out = Var(VT_EMPTY);
  BridgeValue value{};
  for (int which = 0; which < 4; ++which) {
    SCOPED_TRACE(which);
    context.lastError.SetMessage(kUntouched);
    context.lastError.SetCode(0);
    EXPECT_FALSE(which == 0   ? MarshalVariantIn(context, 99, &arg, &value, nullptr)
                 : which == 1 ? MarshalArrayIn(context, 99, &arg, &value, nullptr)
                 : which == 2 ? MarshalValueOut(context, 99, &value, &out, nullptr)
                              : MarshalArrayOut(context, 99, &value, &out, nullptr));
    EXPECT_EQ(MessageOf(context.lastError), "Invalid cookie.  Object has not been created.");
    EXPECT_EQ(context.lastError.Code(), -1);
  }
  EXPECT_EQ(Message(), kUntouched);
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
  for (int code = 0; code <= 20; ++code) codes[code] = code;
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
      const auto row = std::find_if(std::begin(accepted), std::end(accepted),
                                    [&](const auto& r) { return r.code == code; });
      if (row != std::end(accepted)) {
        EXPECT_TRUE(ok);
        EXPECT_EQ(out.vt, row->vt);
        EXPECT_EQ(static_cast<uint64_t>(out.llVal), Low(kPattern, row->width));
        EXPECT_EQ(Message(), kUntouched);
        continue;
      }
      EXPECT_FALSE(ok);
      EXPECT_EQ(out.vt, VT_EMPTY);
      const char* name = code <= ZUL_TYP_PTR && names[code][0] != 0 ? names[code] : "UNDEF";
      EXPECT_EQ(Message(),
                code == ZUL_TYP_OBJREF ? kInOnly : std::string("Unsupported data type: ZUL_TYP_") + name);
    }
  }
  char abc[] = "abc";
  const struct {
    int32_t length;
    char* chars;
    const char* expected;
  } strings[] = {{0, abc, "<null>"}, {3, nullptr, "<null>"}, {5, abc, "abc"}, {1, abc, "abc"}};
  for (const auto& s : strings) {
    BridgeValue value{ZUL_TYP_STRING, 0, {}, {}};
    value.value.str = {s.length, 1, 0, s.chars};
    VARIANT inner = Var(VT_I4, 1), out = Ref(&inner);  // the referenced VARIANT receives it
    ASSERT_TRUE(MarshalValueOut(context, kCaller, &value, &out, nullptr));
    EXPECT_EQ(out.vt, VT_BYREF | VT_VARIANT);
    EXPECT_EQ(out.pvarVal, &inner);
    EXPECT_EQ(inner.vt, VT_BSTR);
    EXPECT_EQ(Ascii(inner.bstrVal), s.expected) << s.length;
    VariantClear(&inner);
  }
}

TEST_F(MarshalTest, ByReferenceStorageOutTakesOnlyAValueThatFitsItsTypeExactly) {
  // LONG 1 into bare storage of every type.
  const struct {
    VARTYPE base;
    size_t width;
    uint64_t bits;
  } ones[] = {{VT_I1, 1, 1},        {VT_UI1, 1, 1},         {VT_I2, 2, 1},     {VT_UI2, 2, 1},
              {VT_I4, 4, 1},        {VT_UI4, 4, 1},         {VT_INT, 4, 1},    {VT_UINT, 4, 1},
              {VT_ERROR, 4, 1},     {VT_I8, 8, 1},          {VT_UI8, 8, 1},    {VT_R4, 4, Raw(1.0f)},
              {VT_R8, 8, Raw(1.0)}, {VT_DATE, 8, Raw(1.0)}, {VT_CY, 8, 10000}, {VT_BOOL, 2, 0xFFFF}};
  for (VARTYPE base = 0; base <= 73; ++base) {
    if (base == VT_VARIANT) continue;  // a reference to a VARIANT is followed
    SCOPED_TRACE(base);
    ResetMessage();
    unsigned char bare[16];
    std::memset(bare, 0xCD, sizeof bare);
    VARIANT out = Var(VT_BYREF | base);
    out.byref = bare;
    const BridgeValue one = Scalar(ZUL_TYP_LONG, 1);
    const bool ok = MarshalValueOut(context, kCaller, &one, &out, nullptr);
    const auto row =
        std::find_if(std::begin(ones), std::end(ones), [&](const auto& r) { return r.base == base; });
    const size_t width = row != std::end(ones) ? row->width : 0;
    EXPECT_EQ(ok, width != 0);
    std::string refusal = Refusal("ZUL_TYP_LONG", "");
    refusal.pop_back();  // the type's name follows
    EXPECT_EQ(Message().rfind(width != 0 ? kUntouched : refusal, 0), 0u) << Message();
    EXPECT_EQ(std::memcmp(bare, width != 0 ? static_cast<const void*>(&row->bits) : bare, width), 0);
    EXPECT_EQ(std::count(bare + width, bare + sizeof bare, 0xCD), static_cast<long>(sizeof bare - width));
  }

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
      {Scalar(ZUL_TYP_LONG, 5), VT_BSTR, 0, 0, Refusal("ZUL_TYP_LONG", "VT_BSTR")},
      {Scalar(ZUL_TYP_OBJREF, 5), VT_I4, 0, 0, kInOnly},
      {Scalar(ZUL_TYP_DCOMPLEX, 5), VT_I4, 0, 0, "Unsupported data type: ZUL_TYP_DCOMPLEX"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << int{c.value.type} << " into " << c.base);
    ResetMessage();
    uint64_t bare = 0xCDCDCDCDCDCDCDCDull, expected = bare;
    VARIANT out = Var(VT_BYREF | c.base);
    out.byref = &bare;
    EXPECT_EQ(MarshalValueOut(context, kCaller, &c.value, &out, nullptr), c.message.empty());
    std::memcpy(&expected, &c.bits, c.width);
    EXPECT_EQ(bare, expected);
    EXPECT_EQ(Message(), c.message.empty() ? kUntouched : c.message);
  }
  BSTR old = SysAllocString(OLESTR("old"));  // freed first: a sanitizer sees a leak
  VARIANT out = Var(VT_BYREF | VT_BSTR);
  out.pbstrVal = &old;
  char xy[] = "xy";
  BridgeValue text{ZUL_TYP_STRING, 0x10, {}, {}};
  text.value.str = {2, 1, 0, xy};
  ASSERT_TRUE(MarshalValueOut(context, kCaller, &text, &out, nullptr));
  EXPECT_EQ(Ascii(old), "xy");
  SysFreeString(old);
}

TEST_F(MarshalTest, ObjectReferencesResolveThroughCookieAndGiveBackEveryReference) {
  const struct {
    const char* name;
    bool isDispatch;
    HRESULT namesResult;
    DISPID cookieId;
    VARTYPE cookieType;  // VT_BSTR: the text "7"
    LONG cookie;
    int32_t handle;       // scripted; 0 leaves the double's own, 1000 + cookie
    const char* message;  // null: converted
    int32_t code;
  } cases[] = {
      {"wrapper object", true, S_OK, 5, VT_I4, 7, 0, nullptr, -1},
      {"no IDispatch", false, S_OK, 5, VT_I4, 7, 0, kNotAWrapper, -1},
      {"no Cookie", true, DISP_E_UNKNOWNNAME, 5, VT_I4, 7, 0, kNotAWrapper, -1},
      {"Cookie a string", true, S_OK, 5, VT_BSTR, 0, 0, kNotAWrapper, -1},
      {"Cookie a short", true, S_OK, 5, VT_I2, 7, 0, kNotAWrapper, -1},
      {"Cookie 0", true, S_OK, 5, VT_I4, 0, 0, kNotAWrapper, -1},
      {"Cookie DISPID 0", true, S_OK, 0, VT_I4, 7, 0, kNotAWrapper, -1},
      {"bridge refuses", true, S_OK, 5, VT_I4, 7, -1, "no such object", -3005},
  };
  for (const auto& c : cases) {
    for (VARTYPE vt : {VARTYPE{VT_DISPATCH}, VARTYPE{VT_UNKNOWN}, VARTYPE{VT_BYREF | VT_DISPATCH}}) {
      SCOPED_TRACE(::testing::Message() << c.name << " vt " << vt);
      ExpectNothingHeldAndReset();
      ResetMessage();
      Wrapper().error.SetCode(-1);
      if (c.handle != 0) bridge->SetResult(static_cast<int>(BridgeEntry::kObjRefCookie2Hvid), c.handle);
      bridge->SetLastError(-3005, "no such object");
      StubWrapperObject object;
      object.isDispatch = c.isDispatch;
      object.namesResult = c.namesResult;
      object.cookieId = c.cookieId;
      object.cookie = Var(c.cookieType, c.cookie);
      if (c.cookieType == VT_BSTR) object.cookie.bstrVal = SysAllocString(OLESTR("7"));
      IDispatch* pointer = &object;
      VARIANT arg = Var(vt);
      arg.pdispVal = &object;
      if ((vt & VT_BYREF) != 0) arg.ppdispVal = &pointer;
      {
        ArgList in = InOne(arg);
        EXPECT_EQ(in.ok, c.message == nullptr);
        EXPECT_EQ(Message(), c.message != nullptr ? c.message : kUntouched);
        EXPECT_EQ(Wrapper().error.Code(), c.code);
        if (c.message == nullptr) {
          EXPECT_EQ(in[0].type, ZUL_TYP_OBJREF);
          EXPECT_EQ(in[0].flags, 0);
          EXPECT_EQ(in[0].value.objRef, 1007);
        }
        EXPECT_EQ(object.invokes, c.isDispatch && c.namesResult == S_OK && c.cookieId != 0 ? 1 : 0);
        const auto lookups = bridge->CallsTo(BridgeEntry::kObjRefCookie2Hvid);
        ASSERT_EQ(lookups.size(), c.message == nullptr || c.handle != 0 ? 1u : 0u);
        for (const ZulDoubleCall* lookup : lookups) {
          EXPECT_EQ(lookup->cookie, kCaller);  // the calling wrapper first, then the argument's
          EXPECT_EQ(lookup->args[0], 7);
        }
      }
      EXPECT_EQ(object.refs, 1u);
    }
  }
  EXPECT_FALSE(InOne(Var(VT_DISPATCH)).ok);  // a null object
  EXPECT_EQ(Message(), kNotAWrapper);
}

TEST_F(MarshalTest, GetDispatchPropertyAnswersWithTheRightHresult) {
  const struct {
    HRESULT namesResult;
    DISPID id;
    HRESULT invokeResult;
    HRESULT expected;
  } cases[] = {{S_OK, 5, S_OK, S_OK},
               {DISP_E_MEMBERNOTFOUND, 5, S_OK, DISP_E_MEMBERNOTFOUND},
               {S_OK, 0, S_OK, DISP_E_UNKNOWNNAME},
               {S_OK, 5, DISP_E_EXCEPTION, DISP_E_EXCEPTION}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    StubWrapperObject object(42);
    object.namesResult = c.namesResult;
    object.cookieId = c.id;
    object.invokeResult = c.invokeResult;
    VARIANT result = Var(VT_EMPTY);
    EXPECT_EQ(GetDispatchProperty(&object, "Cookie", &result), c.expected);
    EXPECT_EQ(result.vt, c.expected == S_OK ? VT_I4 : VT_EMPTY);
    EXPECT_EQ(object.askedName, u"Cookie");
    EXPECT_EQ(object.askedLocale, LCID{LOCALE_SYSTEM_DEFAULT});
  }
  StubWrapperObject object;
  VARIANT result = Var(VT_EMPTY);
  EXPECT_EQ(GetDispatchProperty(nullptr, "Cookie", &result), E_POINTER);
  EXPECT_EQ(GetDispatchProperty(&object, nullptr, &result), E_POINTER);
  EXPECT_EQ(GetDispatchProperty(&object, "Cookie", nullptr), E_POINTER);
  EXPECT_EQ(object.invokes, 0);
}

TEST_F(MarshalTest, AnObjectWrittenBackClearsTheCallersVariantAndFails) {
  StubWrapperObject object;
  object.AddRef();  // the caller's VARIANT holds one reference
  VARIANT inner = Var(VT_DISPATCH);
  inner.pdispVal = &object;
  std::vector<VARIANT> args{Ref(&inner)};
  std::vector<uint32_t> flags{ArgFlag::WriteBack};
  ArgList in = In(args, flags);
  ASSERT_TRUE(in.ok);
  EXPECT_FALSE(WriteBackArgs(context, kCaller, 1, in.list.pointers.get(), args.data(), flags.data()));
  EXPECT_EQ(Message(), kInOnly);
  EXPECT_EQ(inner.vt, VT_EMPTY);
  EXPECT_EQ(args[0].pvarVal, &inner);
  EXPECT_EQ(object.refs, 1u);
}

TEST_F(MarshalTest, ArgumentListsCopyTheLowFlagsAndWriteBackFollowsTheCallersWords) {
  BridgeArgList untouched;
  untouched.values.reset(new BridgeValue[1]());
  const BridgeValue* before = untouched.values.get();
  EXPECT_TRUE(MarshalArgsIn(context, kCaller, 0, nullptr, nullptr, untouched));
  EXPECT_EQ(untouched.values.get(), before);
  BridgeArgList none;
  EXPECT_FALSE(MarshalArgsIn(context, kCaller, -1, nullptr, nullptr, none));
  EXPECT_EQ(none.values, nullptr);
  EXPECT_EQ(bridge->CallCount(), 0);

  std::vector<VARIANT> args{Var(VT_I4, 10), Var(VT_I4, 20), Var(VT_I4, 30)};
  std::vector<uint32_t> flags{0xFFFF0001u, 0x12344002u, 0x0003};
  ArgList in = In(args, flags);
  ASSERT_TRUE(in.ok);
  EXPECT_EQ(std::vector<uint32_t>(in.list.flags.get(), in.list.flags.get() + 3),
            (std::vector<uint32_t>{0x0001, 0x4002, 0x0003}));
  EXPECT_EQ(flags, (std::vector<uint32_t>{0xFFFF0001u, 0x12344002u, 0x0003}));
  EXPECT_EQ(in.list.pointers[2], &in.list.values[2]);
  for (int i = 0; i < 3; ++i) in[i].value.longVal += 1;
  ASSERT_TRUE(WriteBackArgs(context, kCaller, 3, in.list.pointers.get(), args.data(), flags.data()));
  EXPECT_EQ(args[0].lVal, 10);
  EXPECT_EQ(args[1].lVal, 21);
  EXPECT_EQ(args[2].lVal, 31);
  in[1].type = ZUL_TYP_OBJREF;
  in[2].value.longVal = 99;
  EXPECT_FALSE(WriteBackArgs(context, kCaller, 3, in.list.pointers.get(), args.data(), flags.data()));
  EXPECT_EQ(Message(), kInOnly);
  EXPECT_EQ(args[2].lVal, 31);
  EXPECT_TRUE(WriteBackArgs(context, kCaller, 0, nullptr, nullptr, nullptr));
  EXPECT_FALSE(WriteBackArgs(context, kCaller, -1, in.list.pointers.get(), args.data(), flags.data()));
}

TEST_F(MarshalTest, ReleaseGivesBackExactlyTheBlocksAValueHolds) {
  char chars[] = "x";
  BridgeValue notOurs{ZUL_TYP_STRING, 0, {}, {}};
  notOurs.value.str = {0, 0, 0, chars};
  BridgeValue* pointers[] = {&notOurs};
  ReleaseArgList(context, kCaller, 1, pointers);
  EXPECT_EQ(notOurs.value.str.chars, chars);
  EXPECT_EQ(bridge->CallCount(), 0);

  SAFEARRAY* psa = testing::NewArray(VT_BSTR, {3});
  for (int i = 0; i < 3; ++i) static_cast<BSTR*>(psa->pvData)[i] = SysAllocString(OLESTR("abc"));
  VARIANT arg = Var(VT_ARRAY | VT_BSTR);
  arg.parray = psa;
  ArgList in = InOne(arg);
  ASSERT_TRUE(in.ok);
  ReleaseArgList(context, kCaller, 1, in.list.pointers.get());
  EXPECT_EQ(bridge->CallsTo(BridgeEntry::kReleaseMemory).size(), 5u);  // three strings, data, descriptor
  EXPECT_EQ(in[0].value.array, nullptr);
  EXPECT_EQ(in[0].flags, 0);
  testing::FreeArray(psa);
}

}  // namespace
}  // namespace zul

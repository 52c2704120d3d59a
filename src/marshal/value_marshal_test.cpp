#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "marshal_test_support.h"
#include "stub_wrapper_object.h"

namespace zul::testing {
namespace {

constexpr const char* kNotAWrapper = "Object reference must be another ZUL COM wrapper object.";
constexpr const char* kInOnly = "Object references must be in-only (constant).  They cannot be returned.";

// The numeric VARTYPEs as OLE Automation lays them out: bytes, and how they read (i signed, u unsigned,
// f IEEE, c currency in units of 1/10000, b VARIANT_BOOL).
struct Numeric {
  VARTYPE vt;
  int bytes;
  char kind;
};
constexpr Numeric kNumerics[] = {
    {VT_I1, 1, 'i'},   {VT_UI1, 1, 'u'},  {VT_I2, 2, 'i'},    {VT_UI2, 2, 'u'},
    {VT_I4, 4, 'i'},   {VT_INT, 4, 'i'},  {VT_ERROR, 4, 'i'}, {VT_UI4, 4, 'u'},
    {VT_UINT, 4, 'u'}, {VT_I8, 8, 'i'},   {VT_UI8, 8, 'u'},   {VT_R4, 4, 'f'},
    {VT_R8, 8, 'f'},   {VT_DATE, 8, 'f'}, {VT_CY, 8, 'c'},    {VT_BOOL, 2, 'b'},
};
const Numeric* FindNumeric(VARTYPE vt) {
  for (const Numeric& t : kNumerics)
    if (t.vt == vt) return &t;
  return nullptr;
}

// A value as the client means it: a number (long double holds every 64-bit integer and double) or a text.
struct Value {
  bool text = false;
  long double number = 0;
  std::u16string chars;
  bool operator==(const Value&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Value& v) {
    return v.text ? out << "text of " << v.chars.size() : out << static_cast<double>(v.number);
  }
};

// The value of type vt at storage (the bare value behind a reference). The bridge knows no signed
// byte and has a 16-bit UINT: carried, those keep their low bits.
Value ValueAt(VARTYPE vt, const void* storage, bool carried = false) {
  if (vt == VT_BSTR) {
    const BSTR bstr = *static_cast<const BSTR*>(storage);  // up to a NUL: bridges read texts to it
    return {true, 0, bstr != nullptr ? std::u16string(reinterpret_cast<const char16_t*>(bstr)) : u""};
  }
  if (FindNumeric(vt) == nullptr) return {true, 0, u"<not a number nor a text>"};
  const Numeric& t = *FindNumeric(vt);
  uint64_t bits = 0;
  std::memcpy(&bits, storage, t.bytes);
  const int shift = 64 - 8 * t.bytes;
  if (carried && vt == VT_UINT) return {false, static_cast<long double>(bits & 0xFFFF)};
  if (t.kind == 'i' && !(carried && vt == VT_I1))
    return {false, static_cast<long double>(static_cast<int64_t>(bits << shift) >> shift)};
  if (t.kind == 'f') return {false, t.bytes == 4 ? Load<float>(&bits) : Load<double>(&bits)};
  if (t.kind == 'c') return {false, static_cast<double>(static_cast<int64_t>(bits)) / 10000.0};
  if (t.kind == 'b') return {false, bits == 0xFFFF ? 1.0L : 0.0L};  // only VARIANT_TRUE is true
  return {false, static_cast<long double>(bits)};
}
Value Seen(const VARIANT& v) {
  return ValueAt(v.vt & ~VT_BYREF, (v.vt & VT_BYREF) != 0 ? v.byref : &v.llVal);
}

// Writes n into storage of type t when a value of t means exactly n.
bool StoreExactly(long double n, const Numeric& t, void* storage) {
  uint64_t bits = 0;
  if (t.kind == 'f') {
    bits = t.bytes == 4 ? Raw(static_cast<float>(n)) : Raw(static_cast<double>(n));
  } else if (t.kind == 'b') {
    if (n != 0 && n != 1) return false;
    bits = n != 0 ? 0xFFFF : 0;
  } else {
    const bool sign = t.kind != 'u';
    const long double v = t.kind == 'c' ? std::roundl(n * 10000) : n;
    const long double high = std::ldexp(1.0L, 8 * t.bytes - sign) - 1, low = sign ? -high - 1 : 0;
    if (!(v >= low && v <= high) || v != std::truncl(v)) return false;
    bits = sign ? static_cast<uint64_t>(static_cast<int64_t>(v)) : static_cast<uint64_t>(v);
  }
  if (ValueAt(t.vt, &bits).number != n) return false;
  std::memcpy(storage, &bits, t.bytes);
  return true;
}

// A client's argument of a random numeric or text type: by value, as the bare value behind a reference,
// or in a VARIANT behind a reference. Small numbers and whole ones often, so that they fit elsewhere.
struct Arg {
  Arg(std::mt19937_64& random, int form) : form(form) {
    const size_t pick = random() % (std::size(kNumerics) + 2);
    vt = pick < std::size(kNumerics) ? kNumerics[pick].vt : VARTYPE(VT_BSTR);
    uint64_t bits = random();
    if (random() % 2 == 0) bits = static_cast<uint64_t>(static_cast<int64_t>(random() % 9) - 4);
    if (vt == VT_R4 || vt == VT_R8 || vt == VT_DATE) {
      const double d =
          random() % 2 == 0 ? static_cast<double>(static_cast<int64_t>(bits)) / 4 : Load<double>(&bits);
      bits = vt == VT_R4 ? Raw(static_cast<float>(d)) : Raw(d);
      if (std::isnan(d)) bits = 0;
    }
    if (vt == VT_BOOL && random() % 2 == 0) bits = random() % 2 == 0 ? 0 : 0xFFFF;
    if (vt == VT_BSTR) {  // non-ASCII characters that every code page under test has, and a NUL
      const char16_t kChars[] = u"az\u00E9\u00DF\u20AC\u00FC";
      std::u16string s(random() % 7, u'a');
      for (char16_t& c : s) c = random() % 16 == 0 ? 0 : kChars[random() % 6];
      bits = reinterpret_cast<uint64_t>(
          SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size())));
    }
    inner = Var(vt, static_cast<int64_t>(bits));
    std::memcpy(bare.get(), &bits, sizeof bits);
    value = Seen(inner);
    arg = form == 0 ? inner : form == 1 ? Holding(VT_BYREF | vt, bare.get()) : Ref(&inner);
  }
  ~Arg() {  // a text's BSTR has one owner: the bare storage or the VARIANT
    if (form != 1) VariantClear(&inner);
    if (form == 1 && vt == VT_BSTR) SysFreeString(Load<BSTR>(bare.get()));
  }
  Value Now() const { return form == 1 ? ValueAt(vt, bare.get()) : Seen(inner); }

  int form;
  VARTYPE vt;
  std::unique_ptr<unsigned char[]> bare = std::make_unique<unsigned char[]>(8);
  VARIANT inner, arg;
  Value value;
};

// Each numeric or text value goes to the bridge and back (Echo, into a new VARIANT) as the same value;
// two by-reference values swapped by the bridge are written back where each fits exactly, else the
// first that does not fails with its own text and the rest stays; flagged WriteBackChanged, one the
// bridge left as it was stays as it was, bit for bit. ZUL_PROPERTY_SEED and ZUL_PROPERTY_COUNT as below.
TEST_F(MarshalTest, ValuesTravelToTheBridgeAndBackUnchangedOrFailWithTheirText) {
  const char* seedText = std::getenv("ZUL_PROPERTY_SEED");
  const char* countText = std::getenv("ZUL_PROPERTY_COUNT");
  const uint64_t seed = seedText ? std::strtoull(seedText, nullptr, 0) : 20250701;
  const uint64_t count = countText ? std::strtoull(countText, nullptr, 0) * 64 : 2048;
  std::mt19937_64 random(seed);
  for (uint64_t c = 0; c < count; ++c) {
    Arg x(random, static_cast<int>(c % 3)), a(random, 1 + static_cast<int>(random() % 2)),
        b(random, 1 + static_cast<int>(random() % 2));
    SCOPED_TRACE(::testing::Message()
                 << "seed " << seed << " case " << c << ": " << x.vt << "/" << x.form << ", swap " << a.vt
                 << "/" << a.form << " with " << b.vt << "/" << b.form);
    ResetMessage();
    std::vector<VARIANT> args{x.arg};
    std::vector<uint32_t> flags{ArgFlag::WriteBack | ArgFlag::WriteBackChanged};
    const Value carried = ValueAt(x.vt, &x.inner.llVal, true);
    {
      ArgList in = In(args, flags);
      ASSERT_TRUE(in.ok) << Message();
      const bool block = x.vt == VT_BSTR && SysStringLen(x.inner.bstrVal) != 0;
      EXPECT_EQ(in[0].flags, block ? ValueFlag::BridgeMemory : 0);
      EXPECT_TRUE(x.vt != VT_BSTR ||
                  in[0].value.str.length == static_cast<int32_t>(SysStringLen(x.inner.bstrVal)));
      VARIANT back = Var(VT_EMPTY);
      ASSERT_EQ(Call("Echo", in, &back), 0);
      EXPECT_EQ(Seen(back), carried);
      VariantClear(&back);
      ASSERT_TRUE(WriteBack(in, args, flags));
    }
    EXPECT_EQ(flags[0], ArgFlag::WriteBackChanged);
    EXPECT_EQ(std::memcmp(&args[0], &x.arg, sizeof x.arg), 0);
    EXPECT_EQ(x.Now(), x.value);

    args = {a.arg, b.arg};
    flags.assign(2, ArgFlag::WriteBack | (random() % 2 == 0 ? ArgFlag::WriteBackChanged : 0));
    const Value toA = ValueAt(b.vt, &b.inner.llVal, true), toB = ValueAt(a.vt, &a.inner.llVal, true);
    bool written = true;
    {
      ArgList in = In(args, flags);
      ASSERT_TRUE(in.ok) << Message();
      // Swapped records that read the same are left alone under WriteBackChanged.
      const bool same = (flags[0] & ArgFlag::WriteBackChanged) != 0 && in[0].type == in[1].type &&
                        (in[0].type == ZUL_TYP_STRING
                             ? in[0].value.str.length == in[1].value.str.length && toA.chars == toB.chars
                             : !std::memcmp(&in[0].value, &in[1].value, 16));
      for (Arg* target : {&a, &b}) {
        const Value& incoming = target == &a ? toA : toB;
        unsigned char stored[8];
        const bool fits =
            target->form == 2 ||
            (incoming.text == (target->vt == VT_BSTR) &&
             (incoming.text || StoreExactly(incoming.number, *FindNumeric(target->vt), stored)));
        if (written && !same && fits) target->value = incoming;
        written = written && (fits || same);
      }
      ASSERT_EQ(Call("Swap", in), 0);
      EXPECT_EQ(WriteBack(in, args, flags), written);
    }
    EXPECT_TRUE(written ? Message() == kUntouched
                        : Message().rfind("Cannot write a ZUL_TYP_", 0) == 0 &&
                              Message().find(" value into a by-reference argument of type VT_BYREF|VT_") !=
                                  std::string::npos)
        << Message();
    EXPECT_EQ(a.Now(), a.value);
    EXPECT_EQ(b.Now(), b.value);
  }
}

BridgeValue Scalar(uint8_t code, uint64_t bits, uint8_t flags = 0) {
  BridgeValue value{code, flags, {}, {}};
  value.value.ulong64Val = bits;
  return value;
}

// Refusals in (every VARTYPE by value and by reference) and out, each with its own text.
TEST_F(MarshalTest, ValuesThatCannotTravelAreRefusedWithTheirOwnText) {
  for (VARTYPE vt = 0; vt < 0x4A; ++vt) {
    for (VARTYPE byRef : {VARTYPE{0}, VARTYPE{VT_BYREF}}) {
      if (vt == VT_DISPATCH || vt == VT_UNKNOWN || (vt == VT_VARIANT && byRef != 0)) continue;  // below
      SCOPED_TRACE(::testing::Message() << vt << " " << byRef);
      ResetMessage();
      uint64_t bare = 0;
      const bool ok = FindNumeric(vt) != nullptr || vt == VT_BSTR;
      EXPECT_EQ(InOne(byRef != 0 ? Holding(vt | byRef, &bare) : Var(vt)).ok, ok);
      const std::string text = Message(), end = ok              ? kUntouched
                                                : vt <= VT_NULL ? ", which holds no value to pass."
                                                                : ", which cannot be passed.";
      EXPECT_TRUE(text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0)
          << text;
    }
  }
  VARIANT self = Ref(nullptr);
  self.pvarVal = &self;
  const struct {
    VARIANT arg;
    const char* text;
  } in[] = {
      {Holding(VT_BYREF | VT_NULL, &self), "Argument 1 is VT_BYREF|VT_NULL, which holds no value to pass."},
      {Var(VT_VECTOR | VT_I4), "Argument 1 is VT_VECTOR|VT_I4, which cannot be passed."},
      {Var(0x0FFF), "Argument 1 is VT_0xFFF, which cannot be passed."},
      {Ref(nullptr), "Argument 1 is VT_BYREF|VT_VARIANT with a null reference."},
      {Holding(VT_BYREF | VT_I4, nullptr), "Argument 1 is VT_BYREF|VT_I4 with a null reference."},
      {self, "Argument 1 is a chain of more than 64 references to variants."},
      {Var(VT_DISPATCH), kNotAWrapper},
  };
  for (const auto& row : in) {
    EXPECT_FALSE(InOne(row.arg).ok);
    EXPECT_EQ(Message(), row.text);
  }
  LONG bare = 0;
  const struct {
    BridgeValue value;
    VARIANT target;
    const char* text;  // empty: converted
  } out[] = {
      {Scalar(16, 1), Var(VT_EMPTY), "Unsupported data type: ZUL_TYP_UNDEF"},
      {Scalar(ZUL_TYP_DCOMPLEX, 1), Holding(VT_BYREF | VT_I4, &bare),
       "Unsupported data type: ZUL_TYP_DCOMPLEX"},
      {Scalar(ZUL_TYP_OBJREF, 1), Var(VT_EMPTY), kInOnly},
      {Scalar(ZUL_TYP_OBJREF, 1), Holding(VT_BYREF | VT_I4, &bare), kInOnly},
      {Scalar(ZUL_TYP_LONG, 7, 0x24), Var(VT_EMPTY), ""},  // 0x20: a scalar whatever else the flags say
      {Scalar(ZUL_TYP_DOUBLE, Raw(2.5)), Holding(VT_BYREF | VT_I4, &bare),
       "Cannot write a ZUL_TYP_DOUBLE value into a by-reference argument of type VT_BYREF|VT_I4."},
  };
  for (const auto& row : out) {
    SCOPED_TRACE(row.text);
    ResetMessage();
    VARIANT target = row.target;
    EXPECT_EQ(MarshalValueOut(context, cookie, &row.value, &target, nullptr), row.text[0] == 0);
    EXPECT_EQ(Message(), row.text[0] == 0 ? kUntouched : row.text);
    EXPECT_TRUE(row.text[0] != 0 || (target.vt == VT_I4 && target.lVal == 7));
  }
  EXPECT_EQ(bare, 0);
}

// Another wrapper's object travels as the bridge's handle for it, found through the object's Cookie
// property; anything else is refused, every reference the library took given back. In an array they
// resolve in order, stop at the first foreign one, and make the argument in-only; out, never.
TEST_F(MarshalTest, ObjectReferencesTravelAsTheBridgesHandleOnlyIn) {
  const BridgeEntries& e = g_bridge.entries;
  const int32_t other = e.RegisterWrapper("Echo", 0, nullptr);
  ASSERT_TRUE(e.BeginTransaction(other) == 0 && e.CreateObject(other, 0, nullptr, nullptr, 0, 0, 0) == 0);
  ASSERT_EQ(e.EndTransaction(other), 0);
  const int32_t handle = e.ObjRefCookie2Hvid(cookie, other);
  using O = StubWrapperObject&;
  const struct {
    void (*change)(StubWrapperObject&);
    const char* text;  // null: converted
  } cases[] = {
      {[](O) {}, nullptr},
      {[](O o) { o.isDispatch = false; }, kNotAWrapper},
      {[](O o) { o.namesResult = DISP_E_UNKNOWNNAME; }, kNotAWrapper},
      {[](O o) { o.invokeResult = DISP_E_EXCEPTION; }, kNotAWrapper},
      {[](O o) { o.cookie.lVal = 0; }, kNotAWrapper},
      {[](O o) { o.cookieId = 0; }, kNotAWrapper},
      {[](O o) { o.cookie.vt = VT_I2; }, kNotAWrapper},
      {[](O o) { o.cookie.lVal = 99999; }, "Invalid cookie 99999 of the referenced wrapper."},
  };
  for (const auto& c : cases) {
    for (VARTYPE vt : {VARTYPE{VT_DISPATCH}, VARTYPE{VT_UNKNOWN}, VARTYPE{VT_BYREF | VT_DISPATCH}}) {
      SCOPED_TRACE(::testing::Message() << "row " << &c - cases << " vt " << vt);
      ResetMessage();
      StubWrapperObject object(other);
      c.change(object);
      IDispatch* pointer = &object;
      {
        ArgList in = InOne((vt & VT_BYREF) != 0 ? Holding(vt, &pointer) : Holding(vt, &object));
        EXPECT_EQ(in.ok, c.text == nullptr);
        EXPECT_EQ(Message(), c.text != nullptr ? c.text : kUntouched);
        EXPECT_TRUE(c.text != nullptr || (in[0].type == ZUL_TYP_OBJREF && in[0].value.objRef == handle));
        EXPECT_TRUE(object.askedName.empty() || object.askedName == u"Cookie");
      }
      EXPECT_EQ(object.refs, 1u);
    }
  }
  StubWrapperObject first(other), foreign, third(other);
  foreign.namesResult = DISP_E_UNKNOWNNAME;
  for (const bool withForeign : {true, false}) {
    std::vector<StubWrapperObject*> objects{&first, &third};
    if (withForeign) objects.insert(objects.begin() + 1, &foreign);
    SAFEARRAY* psa = NewArray(VT_VARIANT, {static_cast<ULONG>(objects.size())});
    for (size_t p = 0; p < objects.size(); ++p) {
      objects[p]->AddRef();  // the array's reference
      static_cast<VARIANT*>(psa->pvData)[p] = Holding(p == 1 ? VT_UNKNOWN : VT_DISPATCH, objects[p]);
    }
    std::vector<VARIANT> args{Holding(VT_ARRAY | VT_VARIANT, psa)};
    std::vector<uint32_t> flags{0xAB000000u | ArgFlag::WriteBack | ArgFlag::Reorder};
    {
      ArgList in = In(args, flags);
      EXPECT_EQ(in.ok, !withForeign);
      // The bridge gets the low half of the word as the caller gave it; write-back reads the new one.
      EXPECT_EQ(flags[0], 0xAB000000u | ArgFlag::InOnly | ArgFlag::Reorder);
      EXPECT_EQ(in.list.flags[0], ArgFlag::WriteBack | ArgFlag::Reorder);
      const auto* handles = static_cast<const int32_t*>(in[0].value.array->data);
      EXPECT_TRUE(handles[0] == handle && (withForeign || handles[1] == handle));
      EXPECT_TRUE(WriteBack(in, args, flags));
    }
    FreeArray(psa);
  }
  for (StubWrapperObject* object : {&first, &foreign, &third}) EXPECT_EQ(object->refs, 1u);
  // Written back, an object clears the caller's VARIANT and fails.
  StubWrapperObject object(other);
  object.AddRef();  // the caller's VARIANT holds one reference
  VARIANT inner = Holding(VT_DISPATCH, &object);
  std::vector<VARIANT> args{Ref(&inner)};
  std::vector<uint32_t> flags{ArgFlag::WriteBack};
  {
    ArgList in = In(args, flags);
    ASSERT_TRUE(in.ok);
    EXPECT_FALSE(WriteBack(in, args, flags));
  }
  EXPECT_EQ(Message(), kInOnly);
  EXPECT_TRUE(inner.vt == VT_EMPTY && object.refs == 1u);
  e.ReleaseWrapper(other);
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
  ReleaseArgList(context, cookie, 2, pointers);
  EXPECT_EQ(bridge->Calls(BridgeEntry::kReleaseMemory), 1);
  EXPECT_TRUE(notOurs.value.str.chars == chars && in[0].flags == 0 && in[0].value.str.chars == nullptr);
  SysFreeString(text.bstrVal);
}

}  // namespace
}  // namespace zul::testing

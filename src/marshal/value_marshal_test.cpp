#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "marshal_test_support.h"
#include "stub_wrapper_object.h"

namespace zul::testing {
namespace {

constexpr const char* kNotAWrapper = "Object reference must be another ZUL COM wrapper object.";

// The numeric VARTYPEs as OLE Automation lays them out: bytes, how they read (i signed, u unsigned, f IEEE,
// c currency in units of 1/10000, b VARIANT_BOOL), and whether arrays of them travel.
constexpr struct Numeric {
  VARTYPE vt;
  int bytes;
  char kind;
  bool arrays;
} kNumerics[] = {{VT_I1, 1, 'i', 1},   {VT_UI1, 1, 'u', 1},  {VT_I2, 2, 'i', 1},    {VT_UI2, 2, 'u', 1},
                 {VT_I4, 4, 'i', 1},   {VT_INT, 4, 'i', 0},  {VT_ERROR, 4, 'i', 0}, {VT_UI4, 4, 'u', 1},
                 {VT_UINT, 4, 'u', 1}, {VT_I8, 8, 'i', 1},   {VT_UI8, 8, 'u', 1},   {VT_R4, 4, 'f', 1},
                 {VT_R8, 8, 'f', 1},   {VT_DATE, 8, 'f', 0}, {VT_CY, 8, 'c', 0},    {VT_BOOL, 2, 'b', 0},
                 {VT_BSTR, 8, 't', 1}};
const Numeric* FindNumeric(VARTYPE vt) {
  for (const Numeric& t : kNumerics)
    if (t.vt == vt) return &t;
  return nullptr;
}

// A value as the client means it: a number (a long double holds every 64-bit integer and double), a text
// up to its NUL (as far as a bridge reads it), or an array: its dims and elements in the block's order.
struct Value {
  bool text = false;
  long double number = 0;
  std::u16string chars;
  std::vector<ULONG> dims;
  std::vector<Value> elements;
  bool operator==(const Value&) const = default;
};

// The value of type vt at storage. Carried by the bridge, which has no signed byte and a 16-bit UINT,
// those keep their low bits.
Value ValueAt(VARTYPE vt, const void* storage, bool carried = false);
Value Seen(const VARIANT& v, bool carried = false) {
  return ValueAt(v.vt & ~VT_BYREF, (v.vt & VT_BYREF) != 0 ? v.byref : &v.llVal, carried);
}
Value ValueAt(VARTYPE vt, const void* storage, bool carried) {
  const Numeric* t = FindNumeric(vt);
  if ((vt & VT_ARRAY) != 0) {
    const SAFEARRAY* psa = Load<SAFEARRAY*>(storage);
    Value v{true, 0, u"array"};
    size_t n = 1;
    for (USHORT k = 0; k < psa->cDims; ++k) v.dims.push_back(psa->rgsabound[k].cElements), n *= v.dims.back();
    for (size_t p = 0; p < n; ++p) {
      const auto* at = static_cast<const unsigned char*>(psa->pvData) + p * psa->cbElements;
      v.elements.push_back((vt & VT_TYPEMASK) == VT_VARIANT
                               ? Seen(*reinterpret_cast<const VARIANT*>(at), carried)
                               : ValueAt(vt & VT_TYPEMASK, at, carried));
    }
    return v;
  }
  if (t == nullptr) return {true, 0, u"neither a number nor a text"};
  uint64_t bits = 0;
  std::memcpy(&bits, storage, t->bytes);
  if (t->kind == 't') return {true, 0, bits != 0 ? reinterpret_cast<const char16_t*>(bits) : u""};
  if (carried && vt == VT_UINT) bits &= 0xFFFF;
  const int shift = 64 - 8 * t->bytes;
  if (t->kind == 'i' && !(carried && vt == VT_I1))
    return {false, static_cast<long double>(static_cast<int64_t>(bits << shift) >> shift)};
  if (t->kind == 'f') return {false, t->bytes == 4 ? Load<float>(&bits) : Load<double>(&bits)};
  if (t->kind == 'c') return {false, static_cast<double>(static_cast<int64_t>(bits)) / 10000.0};
  if (t->kind == 'b') return {false, bits == 0xFFFF ? 1.0L : 0.0L};  // only VARIANT_TRUE is true
  return {false, static_cast<long double>(bits)};
}

// Whether storage of type vt takes the value exactly: any value behind a reference to a VARIANT, an array
// in array storage, a text in text storage, a number whose nearest candidate of the type reads back as it.
bool Fits(const Value& v, VARTYPE vt, int form) {
  const Numeric* t = FindNumeric(vt);
  if (form == 2 || (vt & VT_ARRAY) || !v.dims.empty())
    return form == 2 || ((vt & VT_ARRAY) && !v.dims.empty());
  if (v.text || t->kind == 't') return v.text && t->kind == 't';
  const long double n = v.number;
  uint64_t bits = n != 0 ? 0xFFFF : 0;
  if (t->kind == 'f') bits = t->bytes == 4 ? Raw(static_cast<float>(n)) : Raw(static_cast<double>(n));
  if (t->kind == 'i' || t->kind == 'u' || t->kind == 'c') {
    const long double whole = t->kind == 'c' ? std::roundl(n * 10000) : n;
    const long double high = std::ldexp(1.0L, 8 * t->bytes - (t->kind != 'u')) - 1;
    if (!(whole >= (t->kind == 'u' ? 0 : -high - 1) && whole <= high) || whole != std::truncl(whole))
      return false;
    bits = whole < 0 ? static_cast<uint64_t>(static_cast<int64_t>(whole)) : static_cast<uint64_t>(whole);
  }
  return ValueAt(vt, &bits).number == n;
}

// A random value of type vt: small and whole numbers often, to fit elsewhere; texts with non-ASCII
// characters that every code page under test has, and NULs.
uint64_t RandomBits(VARTYPE vt, std::mt19937_64& random) {
  uint64_t bits = random() % 2 ? random() : static_cast<uint64_t>(static_cast<int64_t>(random() % 9) - 4);
  if (vt == VT_R4 || vt == VT_R8 || vt == VT_DATE) {
    const double d = random() % 2 ? static_cast<double>(static_cast<int64_t>(bits)) / 4 : Load<double>(&bits);
    bits = std::isnan(d) ? 0 : vt == VT_R4 ? Raw(static_cast<float>(d)) : Raw(d);
  }
  if (vt == VT_BOOL && random() % 2 == 0) bits = random() % 2 ? 0 : 0xFFFF;
  if (vt != VT_BSTR) return bits;
  std::u16string s(random() % 7, u'a');
  for (char16_t& c : s) c = random() % 16 == 0 ? 0 : u"az\u00E9\u00DF\u20AC\u00FC"[random() % 6];
  return Raw(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size())));
}

// A client's argument: a random scalar, or an array of up to 3 dimensions (typed, or of VARIANTs of one
// type), by value (form 0), as the bare value behind a reference (1), or in a VARIANT behind one (2).
struct Arg {
  Arg(std::mt19937_64& random, int formIn) : form(formIn) {
    const Numeric& t = kNumerics[random() % std::size(kNumerics)];
    vt = t.vt, bare = RandomBits(vt, random);
    if (t.arrays && random() % 3 == 0) {
      SysFreeString(vt == VT_BSTR ? Load<BSTR>(&bare) : nullptr);
      const bool variants = random() % 3 == 0;
      std::vector<ULONG> dims(1 + random() % 3);
      size_t n = 1;
      for (ULONG& d : dims)
        n *= d = !variants && random() % 12 == 0 ? 0 : 1 + random() % 3;  // VARIANTs: typed
      SAFEARRAY* psa = NewArray(variants ? VT_VARIANT : vt, dims);
      for (size_t p = 0; p < n; ++p) {
        auto* at = static_cast<unsigned char*>(psa->pvData) + p * psa->cbElements;
        const uint64_t bits = RandomBits(vt, random);
        if (variants) *reinterpret_cast<VARIANT*>(at) = Var(vt, static_cast<int64_t>(bits));
        if (!variants) std::memcpy(at, &bits, psa->cbElements);
      }
      vt = VT_ARRAY | (variants ? VT_VARIANT : vt), bare = Raw(psa);
    }
    inner = Var(vt, static_cast<int64_t>(bare));
    value = Seen(inner);
    arg = form == 0 ? inner : form == 1 ? Holding(VT_BYREF | vt, &bare) : Ref(&inner);
  }
  ~Arg() {  // a text or an array has one owner: the bare storage or the VARIANT
    if (form == 1) inner.llVal = static_cast<int64_t>(bare);
    VariantClear(&inner);
  }
  Value Now(const VARIANT& passed) const { return form == 1 ? Seen(passed) : Seen(inner); }

  int form;
  VARTYPE vt;
  uint64_t bare;
  VARIANT inner, arg;
  Value value;
};

// The SAFEARRAY position that bridge element j pairs with under the reordering walk, or j.
size_t Position(size_t j, const std::vector<ULONG>& dims, bool reorder) {
  size_t p = 0;
  for (size_t k = 0, stride = 1; k < dims.size(); stride *= dims[k++]) p = p * dims[k] + j / stride % dims[k];
  return reorder ? p : j;
}

// Every value, scalar or array, goes to the bridge and back (Echo, into a new VARIANT) as the same value,
// array elements in the reordering walk's order each way, and flagged WriteBackChanged it is left exactly
// as it was. Two by-reference values that the bridge swaps (arrays and scalars change places) are
// written back where each fits; the first that does not fails with its text, and the rest stays.
// ZUL_PROPERTY_SEED and ZUL_PROPERTY_COUNT change the seed and the number of cases.
TEST_F(MarshalTest, ValuesTravelToTheBridgeAndBackUnchangedOrFailWithTheirText) {
  const uint64_t seed = Setting("ZUL_PROPERTY_SEED", 20250701),
                 count = Setting("ZUL_PROPERTY_COUNT", 32) * 64;
  std::mt19937_64 random(seed);
  for (uint64_t c = 0; c < count; ++c) {
    Arg x(random, c % 3), a(random, 1 + random() % 2), b(random, 1 + random() % 2);
    const bool in = random() % 2, out = random() % 2;  // reordered
    SCOPED_TRACE(::testing::Message()
                 << "seed " << seed << " case " << c << ": " << x.vt << "/" << x.form << " reordered " << in
                 << out << ", swap " << a.vt << "/" << a.form << " with " << b.vt << "/" << b.form);
    ResetMessage();
    std::vector<VARIANT> args{x.arg};
    std::vector<uint32_t> flags{ArgFlag::WriteBack | ArgFlag::WriteBackChanged | (in ? ArgFlag::Reorder : 0)};
    {
      ArgList list = In(args, flags);
      ASSERT_TRUE(list.ok) << Message();
      const UINT units = x.vt == VT_BSTR ? SysStringLen(x.inner.bstrVal) : 0;
      EXPECT_EQ(list[0].flags & ValueFlag::BridgeMemory,
                units != 0 || (x.vt & VT_ARRAY) ? ValueFlag::BridgeMemory : 0);
      EXPECT_EQ(units, x.vt == VT_BSTR ? UINT(list[0].value.str.length) : 0);  // strings are never cut
      VARIANT back = Var(VT_EMPTY);
      uint32_t outFlag = out ? ArgFlag::Reorder : 0;
      ASSERT_EQ(Call("Echo", list, &back, &outFlag), 0);
      const Value carried = ValueAt(x.vt, &x.inner.llVal, true);
      Value expected = carried;
      for (size_t j = 0; j < carried.elements.size(); ++j)
        expected.elements[Position(j, carried.dims, out)] = carried.elements[Position(j, carried.dims, in)];
      EXPECT_EQ(Seen(back), expected);
      VariantClear(&back);
      ASSERT_TRUE(WriteBack(list, args, flags));
    }
    EXPECT_TRUE(flags[0] == (ArgFlag::WriteBackChanged | (in ? ArgFlag::Reorder : 0)) &&
                !std::memcmp(&args[0], &x.arg, sizeof x.arg));
    EXPECT_TRUE(x.Now(args[0]) == x.value);

    args = {a.arg, b.arg};
    flags.assign(2, ArgFlag::WriteBack | ArgFlag::Reorder | (random() % 2 ? ArgFlag::WriteBackChanged : 0));
    const Value toA = ValueAt(b.vt, &b.inner.llVal, true), toB = ValueAt(a.vt, &a.inner.llVal, true);
    bool written = true;
    {
      ArgList list = In(args, flags);
      ASSERT_TRUE(list.ok) << Message();
      // Swapped records that read the same are left alone under WriteBackChanged.
      const bool same = (flags[0] & ArgFlag::WriteBackChanged) && list[0].type == list[1].type &&
                        list[0].flags == list[1].flags && toA == toB &&
                        (list[0].type != ZUL_TYP_STRING || (list[0].flags & ValueFlag::Array) ||
                         list[0].value.str.length == list[1].value.str.length);
      for (Arg* target : {&a, &b}) {
        const Value& incoming = target == &a ? toA : toB;
        const bool fits = Fits(incoming, target->vt, target->form);
        if (written && !same && fits) target->value = incoming;
        written = written && (fits || same);
      }
      ASSERT_EQ(Call("Swap", list), 0);
      EXPECT_EQ(WriteBack(list, args, flags), written);
    }
    const std::string text = Message();
    EXPECT_TRUE(written ? text == kUntouched
                        : text.rfind("Cannot write a ZUL_TYP_", 0) == 0 &&
                              text.find(" into a by-reference argument of type VT_") != text.npos)
        << text;
    EXPECT_TRUE(a.Now(args[0]) == a.value);
    EXPECT_TRUE(b.Now(args[1]) == b.value);
  }
}

// Every VARTYPE, by value and by reference: numbers and texts travel, the rest is refused with its text.
TEST_F(MarshalTest, EveryOtherVarTypeIsRefused) {
  for (VARTYPE vt = 0; vt < 0x4A * 2; ++vt) {
    const VARTYPE base = vt / 2, byRef = vt % 2 ? VT_BYREF : 0;
    if (base == VT_DISPATCH || base == VT_UNKNOWN || (base == VT_VARIANT && byRef)) continue;  // below
    ResetMessage();
    uint64_t bare = 0;
    const bool ok = FindNumeric(base) != nullptr;
    EXPECT_EQ(InOne(byRef ? Holding(base | byRef, &bare) : Var(base)).ok, ok) << vt;
    const std::string end = ok                ? kUntouched
                            : base <= VT_NULL ? ", which holds no value to pass."
                                              : ", which cannot be passed.";
    EXPECT_EQ(Message().substr(std::max(Message().size(), end.size()) - end.size()), end) << vt;
  }
}

// Another wrapper's object travels as the bridge's handle for it, found through its Cookie property, also
// in an array of VARIANTs, which becomes in-only; anything else is refused, objects never go back, and
// every reference the library took is given back.
TEST_F(MarshalTest, ObjectReferencesTravelAsTheBridgesHandleOnlyIn) {
  const int32_t other = NewObject(), handle = g_bridge.entries.ObjRefCookie2Hvid(cookie, other);
  using O = StubWrapperObject&;
  const std::pair<void (*)(O), const char*> cases[] = {
      {[](O) {}, kUntouched},
      {[](O o) { o.isDispatch = false; }, kNotAWrapper},
      {[](O o) { o.namesResult = DISP_E_UNKNOWNNAME; }, kNotAWrapper},
      {[](O o) { o.invokeResult = DISP_E_EXCEPTION; }, kNotAWrapper},
      {[](O o) { o.cookieId = 0; }, kNotAWrapper},
      {[](O o) { o.cookie.vt = VT_I2; }, kNotAWrapper},
      {[](O o) { o.cookie.lVal = 0; }, kNotAWrapper},
      {[](O o) { o.cookie.lVal = 99999; }, "Invalid cookie 99999 of the referenced wrapper."},
  };
  for (const auto& [change, text] : cases) {
    for (const int vt : {0 | VT_UNKNOWN, VT_BYREF | VT_DISPATCH, VT_ARRAY | VT_VARIANT}) {
      ResetMessage();
      StubWrapperObject object(other);
      change(object);
      IDispatch* pointer = &object;
      SAFEARRAY* psa = NewArray(VT_VARIANT, {2});
      object.AddRef(), object.AddRef();  // the array's references
      static_cast<VARIANT*>(psa->pvData)[0] = Holding(VT_DISPATCH, &object);
      static_cast<VARIANT*>(psa->pvData)[1] = Holding(VT_UNKNOWN, &object);
      const bool array = vt & VT_ARRAY;
      const void* at = vt == VT_UNKNOWN ? static_cast<void*>(&object)
                       : array          ? static_cast<void*>(psa)
                                        : &pointer;
      std::vector<VARIANT> args{Holding(static_cast<VARTYPE>(vt), at)};
      std::vector<uint32_t> flags{0xAB000000u | (array ? ArgFlag::WriteBack : ArgFlag::InOnly)};
      {
        ArgList in = In(args, flags);
        EXPECT_EQ(Message(), text) << vt;
        const auto* handles =
            array ? static_cast<const int32_t*>(in[0].value.array->data) : &in[0].value.objRef;
        EXPECT_TRUE(text != kUntouched || (handles[0] == handle && (!array || handles[1] == handle))) << vt;
        // The bridge gets the caller's word as it was; write-back reads the new one.
        EXPECT_EQ(flags[0], 0xAB000000u | ArgFlag::InOnly);
        EXPECT_EQ(in.list.flags[0], array ? ArgFlag::WriteBack : ArgFlag::InOnly);
        EXPECT_TRUE(WriteBack(in, args, flags));
      }
      FreeArray(psa);
      EXPECT_EQ(object.refs, 1u);
    }
  }
  g_bridge.entries.ReleaseWrapper(other);
}

}  // namespace
}  // namespace zul::testing

// The OLE Automation contracts that the library relies on. The same rows run against Windows' own
// implementation (under Wine) and against our host layer: where they disagree, the host layer is wrong.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/ole.h"

namespace {

using Bytes = std::string;

const auto BytesOf = [](const void* data, std::size_t count) { return Bytes((const char*)data, count); };

// An error object, counted through both its interfaces (2 to begin with). It is real on both targets, so
// an extra release frees it under the sanitizers' eyes; as a VT_DISPATCH too, since only Release is called.
struct Counted {
  ICreateErrorInfo* create = nullptr;
  IErrorInfo* info = nullptr;
  Counted() {
    EXPECT_EQ(CreateErrorInfo(&create), S_OK);
    EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  }
  ~Counted() { EXPECT_EQ(info->Release() + create->Release(), 1u); }
  ULONG Refs() const { return info->AddRef(), info->Release(); }
  IErrorInfo* Add() { return info->AddRef(), info; }
};

// The 4 bytes before the characters hold the byte length, whatever its parity, and two NUL bytes follow;
// VarBstrCat joins bytes, not characters.
TEST(OleContracts, BstrLengthPrefixAndTerminator) {
  const OLECHAR embedded[] = {'a', 0, 'b'};
  auto cat = [](BSTR l, BSTR r, BSTR out = nullptr) {  // null stands for an empty string
    return VarBstrCat(l, r, &out), SysFreeString(l), SysFreeString(r), out;
  };
  const std::pair<BSTR, Bytes> rows[] = {
      {SysAllocStringLen(embedded, 3), Bytes("a\0\0\0b\0", 6)},
      {SysAllocStringByteLen("abc", 1), "a"},
      {SysAllocStringByteLen("a\0b", 3), Bytes("a\0b", 3)},
      {SysAllocStringByteLen("", 0), ""},
      {cat(nullptr, nullptr), ""},
      {cat(SysAllocStringByteLen("abc", 3), SysAllocStringByteLen("de", 2)), "abcde"}};
  for (const auto& [bstr, bytes] : rows) {
    SCOPED_TRACE(bytes);
    ASSERT_NE(bstr, nullptr);
    const uint32_t length = static_cast<uint32_t>(bytes.size());
    EXPECT_EQ(BytesOf(reinterpret_cast<char*>(bstr) - 4, length + 6),
              BytesOf(&length, 4) + bytes + Bytes(2, 0));
    EXPECT_EQ(SysStringByteLen(bstr), length);
    EXPECT_EQ(SysStringLen(bstr), length / 2);
    SysFreeString(bstr);
  }
  EXPECT_EQ(SysStringLen(nullptr) + SysStringByteLen(nullptr), 0u);
}

// The caller lists the leftmost dimension first and the descriptor stores it last. Element sizes and
// feature bits follow the type; the data starts zeroed and unlocked.
TEST(OleContracts, SafeArrayCreateExPerType) {
  const std::tuple<VARTYPE, ULONG, USHORT> rows[] = {// size 0: refused
                                                     {VT_UI1, 1, FADF_HAVEVARTYPE},
                                                     {VT_BOOL, 2, FADF_HAVEVARTYPE},
                                                     {VT_I4, 4, FADF_HAVEVARTYPE},
                                                     {VT_DECIMAL, 16, FADF_HAVEVARTYPE},
                                                     {VT_BSTR, 8, FADF_HAVEVARTYPE | FADF_BSTR},
                                                     {VT_VARIANT, 24, FADF_HAVEVARTYPE | FADF_VARIANT},
                                                     {VT_UNKNOWN, 8, FADF_HAVEIID | FADF_UNKNOWN},
                                                     {VT_ARRAY | VT_I4, 0, 0},
                                                     {VT_DISPATCH, 8, FADF_HAVEIID | FADF_DISPATCH}};
  UINT dims = 0;
  for (const auto& [vt, size, features] : rows) {
    dims = dims % 8 + 1;
    SCOPED_TRACE(testing::Message() << "vt " << vt << ", " << dims << " dimensions");
    std::vector<SAFEARRAYBOUND> bounds;
    std::size_t cells = 1;
    for (UINT i = 0; i < dims; ++i) bounds.push_back({1 + i % 3, 10 * LONG(i) - 3}), cells *= 1 + i % 3;
    SAFEARRAY* sa = SafeArrayCreateEx(vt, dims, bounds.data(), nullptr);
    ASSERT_EQ(sa == nullptr, size == 0);
    if (sa == nullptr) continue;
    EXPECT_EQ(std::make_pair(sa->cDims, sa->cbElements), std::make_pair(USHORT(dims), size));
    EXPECT_EQ(std::make_pair(sa->fFeatures, sa->cLocks), std::make_pair(features, ULONG{0}));
    VARTYPE got = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(sa, &got), S_OK);
    EXPECT_EQ(got, vt);
    for (UINT i = 0; i < dims; ++i) {
      EXPECT_EQ(BytesOf(&sa->rgsabound[dims - 1 - i], 8), BytesOf(&bounds[i], 8)) << "dimension " << i;
    }
    EXPECT_EQ(BytesOf(sa->pvData, cells * size), Bytes(cells * size, '\0'));
    EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
  }
}

// A VARIANT or an array frees what it holds by value and nothing it points to by reference. A locked
// array is reported and kept whole, and the VARIANT lets go of it all the same.
TEST(OleContracts, ClearingReleasesOnlyWhatIsOwned) {
  Counted object;
  SAFEARRAYBOUND bound = {3, 0};
  BSTR kept = SysAllocString(OLESTR("kept"));
  IUnknown* held = object.Add();
  SAFEARRAY* variants = SafeArrayCreate(VT_VARIANT, 1, &bound);
  auto* items = static_cast<VARIANT*>(variants->pvData);
  items[0].vt = VT_BSTR, items[0].bstrVal = SysAllocString(OLESTR("element"));  // leak checks see the frees
  items[1].vt = VT_ARRAY | VT_UNKNOWN, items[1].parray = SafeArrayCreate(VT_UNKNOWN, 1, &bound);
  static_cast<IUnknown**>(items[1].parray->pvData)[2] = object.Add();
  items[2].vt = VT_BYREF | VT_BSTR, items[2].pbstrVal = &kept;
  SAFEARRAY* locked = SafeArrayCreate(VT_DISPATCH, 1, &bound);
  static_cast<IUnknown**>(locked->pvData)[0] = object.Add();
  ASSERT_EQ(SafeArrayLock(locked), S_OK);
  EXPECT_EQ(locked->cLocks, 1u);
  const std::tuple<VARTYPE, void*, HRESULT> rows[] = {{VT_UNKNOWN, object.Add(), S_OK},
                                                      {VT_DISPATCH, object.Add(), S_OK},
                                                      {VT_BSTR, SysAllocString(OLESTR("x")), S_OK},
                                                      {VT_ARRAY | VT_VARIANT, variants, S_OK},
                                                      {VT_BYREF | VT_BSTR, &kept, S_OK},
                                                      {VT_BYREF | VT_UNKNOWN, &held, S_OK},
                                                      {VT_ARRAY | VT_DISPATCH, locked, DISP_E_ARRAYISLOCKED},
                                                      {15, nullptr, DISP_E_BADVARTYPE}};
  for (const auto& [vt, payload, hr] : rows) {
    VARIANT v;
    v.vt = vt, v.byref = payload;
    EXPECT_EQ(VariantClear(&v), hr) << vt;
    EXPECT_EQ(v.vt, hr == DISP_E_BADVARTYPE ? vt : VARTYPE{VT_EMPTY}) << vt;
  }
  EXPECT_EQ(object.Refs(), 4u);  // its own two, held, and the locked array's
  EXPECT_EQ(BytesOf(kept, 10), BytesOf(OLESTR("kept"), 10));
  EXPECT_EQ(SafeArrayDestroy(locked), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(object.Refs(), 4u);
  EXPECT_EQ(SafeArrayUnlock(locked), S_OK);
  EXPECT_EQ(locked->cLocks, 0u);
  EXPECT_EQ(SafeArrayDestroy(locked), S_OK);
  EXPECT_EQ(held->Release(), 2u);
  SysFreeString(kept);
}

// As the library converts: sizes in units, the terminator counted for a length of -1, a buffer too small
// a failure. ASCII goes through the thread's code page (UTF-8 on the host), the rest through CP_UTF8, where
// ill-formed input becomes one U+FFFD for each piece Windows gives up on.
TEST(OleContracts, CodePageConversions) {
  constexpr DWORD kNone = 0xdeadbeef;  // no error set
  const struct {
    bool toWide;
    UINT cp;
    Bytes narrow;
    std::u16string wide;
    int len, room;  // len: of the source, -1 up to its NUL; room 0 asks for the size
    int result;
    DWORD error;
  } rows[] = {{true, CP_THREAD_ACP, Bytes("abc", 4), u"abc", -1, 0, 4, kNone},
              {false, CP_THREAD_ACP, Bytes("abc", 4), u"abc", -1, 4, 4, kNone},
              {true, CP_THREAD_ACP, "abc", u"abc", -1, 3, 0, ERROR_INSUFFICIENT_BUFFER},
              {true, CP_THREAD_ACP, "", u"", 0, 8, 0, ERROR_INVALID_PARAMETER},
              {true, CP_UTF8, "a\xc3\xa9\xe2\x82\xac", u"a\u00e9\u20ac", 6, 3, 3, kNone},
              {false, CP_UTF8, "a\xc3\xa9\xe2\x82\xac", u"a\u00e9\u20ac", 3, 6, 6, kNone},
              {false, CP_UTF8, "", u"\u20ac", 1, 2, 0, ERROR_INSUFFICIENT_BUFFER},
              {true, CP_UTF8, "\xf0\x9f\x98\x80", u"\U0001F600", 4, 2, 2, kNone},
              {false, CP_UTF8, "\xf0\x9f\x98\x80", u"\U0001F600", 2, 4, 4, kNone},
              {true, CP_UTF8, "a\x80z", u"a\ufffdz", 3, 3, 3, kNone},
              {true, CP_UTF8, "a\xed\xa0\x80z", u"a\ufffd\ufffdz", 5, 4, 4, kNone},
              {false, CP_UTF8, "\xef\xbf\xbd\xef\xbf\xbd", std::u16string{0xde00, 0xd83d}, 2, 6, 6, kNone}};
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << (r.toWide ? "to UTF-16: " : "from UTF-16: ") << r.narrow);
    WCHAR wide[8] = {};
    char narrow[8] = {};
    SetLastError(kNone);
    const int result =
        r.toWide ? MultiByteToWideChar(r.cp, 0, r.narrow.c_str(), r.len, r.room ? wide : nullptr, r.room)
                 : WideCharToMultiByte(r.cp, 0, reinterpret_cast<const WCHAR*>(r.wide.c_str()), r.len,
                                       r.room ? narrow : nullptr, r.room, nullptr, nullptr);
    EXPECT_EQ(std::make_pair(result, GetLastError()), std::make_pair(r.result, r.error));
    if (r.room == 0 || r.result == 0) continue;
    EXPECT_EQ(r.toWide ? BytesOf(wide, 2 * result) : Bytes(narrow, result),
              r.toWide ? BytesOf(r.wide.c_str(), 2 * result) : r.narrow.substr(0, result));
  }
}

}  // namespace

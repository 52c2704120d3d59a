#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "platform/ole.h"
#include "platform/test_stubs.h"

namespace {

using zul::testing::OleString;
using zul::testing::StubObject;
using zul::testing::Text;

// All 65536 VARTYPEs with an empty payload: the valid ones are emptied, the others refused untouched.
// Valid are these base types by value, by reference, as arrays or both; VT_EMPTY and VT_NULL by value only.
TEST(VariantClear, ValidatesEveryVartype) {
  const std::pair<unsigned, unsigned> kValidBases[] = {
      {VT_I2, VT_DECIMAL}, {VT_I1, VT_UINT}, {VT_RECORD, VT_RECORD}, {VT_CLSID, VT_CLSID}};
  for (unsigned vt = 0; vt <= 0xffff; ++vt) {
    const unsigned base = vt & VT_TYPEMASK, modifiers = vt & ~VT_TYPEMASK;
    bool valid = vt <= VT_NULL;
    for (const auto& [first, last] : kValidBases) {
      valid = valid || ((modifiers & ~(VT_ARRAY | VT_BYREF)) == 0 && base >= first && base <= last);
    }
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    v.vt = static_cast<VARTYPE>(vt);
    const HRESULT hr = VariantClear(&v);
    if (hr != (valid ? S_OK : DISP_E_BADVARTYPE) || v.vt != (valid ? 0u : vt)) {
      ADD_FAILURE() << "vt 0x" << std::hex << vt << ": 0x" << static_cast<unsigned long>(hr) << ", vt 0x"
                    << v.vt;
    }
  }
}

// A VARIANT owns what it holds by value and nothing that it points to by reference.
TEST(VariantClear, ReleasesWhatItOwnsAndNothingItPointsTo) {
  StubObject object;
  IUnknown* unknown = object.Unknown();
  IDispatch* dispatch = &object;
  BSTR text = SysAllocString(OLESTR("kept"));
  SAFEARRAYBOUND bound = {2, 0};
  SAFEARRAY* objects = SafeArrayCreate(VT_UNKNOWN, 1, &bound);
  static_cast<IUnknown**>(objects->pvData)[1] = unknown;
  SAFEARRAY* kept = SafeArrayCreate(VT_I4, 1, &bound);
  VARIANT inner;
  inner.vt = VT_BSTR, inner.bstrVal = text;
  const std::pair<VARTYPE, void*> cases[] = {
      {VT_UNKNOWN, unknown},
      {VT_DISPATCH, dispatch},
      {VT_ARRAY | VT_UNKNOWN, objects},
      {VT_BSTR, SysAllocString(OLESTR("freed"))},  // leak checks see the free
      {VT_BYREF | VT_BSTR, &text},
      {VT_BYREF | VT_UNKNOWN, &unknown},
      {VT_BYREF | VT_DISPATCH, &dispatch},
      {VT_BYREF | VT_ARRAY | VT_I4, &kept},
      {VT_BYREF | VT_VARIANT, &inner},
  };
  object.refs = 4;
  for (const auto& [vt, payload] : cases) {
    SCOPED_TRACE(vt);
    VARIANT v;
    v.vt = vt, v.byref = payload;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
  }
  EXPECT_EQ(object.refs, 1u);
  EXPECT_EQ(inner.vt, VT_BSTR);
  EXPECT_EQ(Text(text), OleString(OLESTR("kept")));
  EXPECT_EQ(SafeArrayDestroy(kept), S_OK);
  EXPECT_EQ(VariantClear(&inner), S_OK);
}

// Windows reports a locked array, leaves it alive, and empties the VARIANT all the same.
TEST(VariantClear, LeavesALockedArrayAlive) {
  VARIANT v;
  SAFEARRAYBOUND bound = {4, 0};
  SAFEARRAY* array = SafeArrayCreate(VT_I4, 1, &bound);
  ASSERT_EQ(SafeArrayLock(array), S_OK);
  v.vt = VT_ARRAY | VT_I4, v.parray = array;
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(SafeArrayUnlock(array), S_OK);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

}  // namespace

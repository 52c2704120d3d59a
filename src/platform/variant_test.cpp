#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <set>
#include <utility>

#include "platform/ole.h"
#include "platform/test_stubs.h"

namespace {

using zul::test::OleString;
using zul::test::StubDispatch;
using zul::test::StubRecordInfo;
using zul::test::Text;

// Windows 8.1 and later zero the whole VARIANT.
TEST(VariantInit, EmptiesTheWholeVariant) {
  VARIANT v;
  std::memset(&v, 0xcc, sizeof v);
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(v.llVal, 0);
}

// All 65536 VARTYPEs with an empty payload: the valid ones are emptied, the others refused untouched.
TEST(VariantClear, ValidatesEveryVartype) {
  std::set<unsigned> valid;
  for (unsigned base :
       {VT_EMPTY,    VT_NULL,  VT_I2,   VT_I4,      VT_R4,      VT_R8,      VT_CY,   VT_DATE, VT_BSTR,
        VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT, VT_UNKNOWN, VT_DECIMAL, VT_I1,   VT_UI1,  VT_UI2,
        VT_UI4,      VT_I8,    VT_UI8,  VT_INT,     VT_UINT,    VT_RECORD,  VT_CLSID}) {
    valid.insert(base);
    // VT_EMPTY and VT_NULL exist only by value.
    if (base > VT_NULL) valid.insert({base | VT_BYREF, base | VT_ARRAY, base | VT_ARRAY | VT_BYREF});
  }
  for (unsigned vt = 0; vt <= 0xffff; ++vt) {
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    v.vt = static_cast<VARTYPE>(vt);
    const bool ok = valid.count(vt) != 0;
    const HRESULT hr = VariantClear(&v);
    if (hr != (ok ? S_OK : DISP_E_BADVARTYPE) || v.vt != (ok ? 0u : vt)) {
      ADD_FAILURE() << "vt 0x" << std::hex << vt << ": 0x" << static_cast<unsigned long>(hr) << ", vt 0x"
                    << v.vt;
    }
  }
}

TEST(VariantClear, ReleasesWhatAByValueVariantOwns) {
  StubDispatch object;
  StubRecordInfo info;
  SAFEARRAYBOUND bound = {2, 0};
  SAFEARRAY* array = SafeArrayCreate(VT_UNKNOWN, 1, &bound);
  ASSERT_NE(array, nullptr);
  static_cast<IUnknown**>(array->pvData)[1] = &object;
  char record[4];
  VARIANT cases[5];
  cases[0].vt = VT_UNKNOWN, cases[0].punkVal = &object;
  cases[1].vt = VT_DISPATCH, cases[1].pdispVal = &object;
  cases[2].vt = VT_ARRAY | VT_UNKNOWN, cases[2].parray = array;
  cases[3].vt = VT_BSTR, cases[3].bstrVal = SysAllocString(OLESTR("freed"));  // leak checks see the free
  cases[4].vt = VT_RECORD, cases[4].pvRecord = record, cases[4].pRecInfo = &info;
  object.refs = 4;
  info.refs = 2;
  for (VARIANT& v : cases) {
    SCOPED_TRACE(v.vt);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
  }
  EXPECT_EQ(object.refs, 1u);
  // A record is cleared in place; its memory is not the VARIANT's to free.
  EXPECT_EQ(info.cleared, std::vector<void*>{record});
  EXPECT_EQ(info.refs, 1u);
  EXPECT_EQ(cases[4].pvRecord, static_cast<void*>(record));
}

TEST(VariantClear, LeavesWhatAByReferenceVariantPointsTo) {
  StubDispatch object;
  StubRecordInfo info;
  IUnknown* unknown = &object;
  BSTR text = SysAllocString(OLESTR("kept"));
  SAFEARRAYBOUND bound = {3, 1};
  SAFEARRAY* array = SafeArrayCreate(VT_I4, 1, &bound);
  VARIANT inner;
  inner.vt = VT_BSTR;
  inner.bstrVal = text;
  const std::pair<VARTYPE, void*> cases[] = {{VT_BYREF | VT_BSTR, &text},
                                             {VT_BYREF | VT_UNKNOWN, &unknown},
                                             {VT_BYREF | VT_DISPATCH, &unknown},
                                             {VT_BYREF | VT_ARRAY | VT_I4, &array},
                                             {VT_BYREF | VT_VARIANT, &inner}};
  for (const auto& [vt, target] : cases) {
    SCOPED_TRACE(vt);
    VARIANT v;
    v.vt = vt;
    v.byref = target;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
  }
  VARIANT record;
  record.vt = VT_BYREF | VT_RECORD, record.pvRecord = &inner, record.pRecInfo = &info;
  EXPECT_EQ(VariantClear(&record), S_OK);
  EXPECT_TRUE(info.cleared.empty());
  EXPECT_EQ(info.refs, 1u);
  EXPECT_EQ(object.refs, 1u);
  EXPECT_EQ(inner.vt, VT_BSTR);
  EXPECT_EQ(Text(text), OleString(OLESTR("kept")));
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
  EXPECT_EQ(VariantClear(&inner), S_OK);
}

TEST(VariantClear, RefusedOrLockedContentsSurvive) {
  BSTR text = SysAllocString(OLESTR("kept"));
  VARIANT v;
  v.vt = 15, v.bstrVal = text;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(v.vt, 15);
  EXPECT_EQ(Text(text), OleString(OLESTR("kept")));
  SysFreeString(text);

  // Windows reports a locked array, leaves it alive, and empties the VARIANT all the same.
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

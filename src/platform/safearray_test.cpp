#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/ole.h"
#include "platform/test_stubs.h"

namespace {

using zul::testing::StubObject;

// The caller lists the leftmost dimension first and the descriptor stores it last, as the library
// relies on in both directions. Each type in turn gets 1, 2, 3 or 8 dimensions.
TEST(SafeArrayCreateEx, BoundsInReverseAndFeaturesAndSizePerType) {
  struct Case {
    ULONG size;  // 0: refused
    USHORT features;
    std::vector<VARTYPE> types;
  };
  const Case cases[] = {
      {1, FADF_HAVEVARTYPE, {VT_I1, VT_UI1}},
      {2, FADF_HAVEVARTYPE, {VT_I2, VT_UI2, VT_BOOL}},
      {4, FADF_HAVEVARTYPE, {VT_I4, VT_UI4, VT_R4, VT_ERROR, VT_INT, VT_UINT}},
      {8, FADF_HAVEVARTYPE, {VT_R8, VT_I8, VT_UI8, VT_CY, VT_DATE, VT_INT_PTR, VT_UINT_PTR}},
      {16, FADF_HAVEVARTYPE, {VT_DECIMAL}},
      {8, FADF_HAVEVARTYPE | FADF_BSTR, {VT_BSTR}},
      {24, FADF_HAVEVARTYPE | FADF_VARIANT, {VT_VARIANT}},
      {8, FADF_HAVEIID | FADF_UNKNOWN, {VT_UNKNOWN}},
      {8, FADF_HAVEIID | FADF_DISPATCH, {VT_DISPATCH}},
      {0, 0, {VT_EMPTY, VT_NULL, 15, VT_VOID, VT_HRESULT, VT_LPSTR, VT_CLSID, VT_RECORD, VT_ARRAY | VT_I4}},
  };
  const UINT kDims[] = {1, 2, 3, 8};
  int n = 0;
  for (const Case& c : cases) {
    for (VARTYPE vt : c.types) {
      const UINT dims = kDims[n++ % 4];
      SCOPED_TRACE(testing::Message() << "vt " << vt << ", " << dims << " dimensions");
      std::vector<SAFEARRAYBOUND> bounds;
      std::size_t cells = 1;
      for (UINT i = 0; i < dims; ++i) {
        bounds.push_back({1 + i % 3, 10 * static_cast<LONG>(i) - 3});
        cells *= 1 + i % 3;
      }
      SAFEARRAY* sa = SafeArrayCreateEx(vt, dims, bounds.data(), nullptr);
      if (c.size == 0) {
        EXPECT_EQ(sa, nullptr);
        continue;
      }
      ASSERT_NE(sa, nullptr);
      EXPECT_EQ(SafeArrayGetDim(sa), dims);
      EXPECT_EQ(SafeArrayGetElemsize(sa), c.size);
      EXPECT_EQ(sa->fFeatures, c.features);
      VARTYPE got = VT_EMPTY;
      EXPECT_EQ(SafeArrayGetVartype(sa, &got), S_OK);
      EXPECT_EQ(got, vt);
      GUID iid = IID_NULL;
      EXPECT_EQ(SafeArrayGetIID(sa, &iid), c.features & FADF_HAVEIID ? S_OK : E_INVALIDARG);
      EXPECT_TRUE(IsEqualIID(iid, vt == VT_UNKNOWN    ? IID_IUnknown
                                  : vt == VT_DISPATCH ? IID_IDispatch
                                                      : IID_NULL));
      for (UINT i = 0; i < dims; ++i) {
        EXPECT_EQ(sa->rgsabound[dims - 1 - i].cElements, bounds[i].cElements);
        EXPECT_EQ(sa->rgsabound[dims - 1 - i].lLbound, bounds[i].lLbound);
        LONG lower = 0, upper = 0;
        EXPECT_EQ(SafeArrayGetLBound(sa, i + 1, &lower), S_OK);
        EXPECT_EQ(SafeArrayGetUBound(sa, i + 1, &upper), S_OK);
        EXPECT_EQ(lower, bounds[i].lLbound);
        EXPECT_EQ(upper, bounds[i].lLbound + static_cast<LONG>(bounds[i].cElements) - 1);
      }
      LONG unused;
      EXPECT_EQ(SafeArrayGetUBound(sa, dims + 1, &unused), DISP_E_BADINDEX);
      const std::vector<char> zeros(cells * c.size);
      EXPECT_EQ(std::memcmp(sa->pvData, zeros.data(), zeros.size()), 0);
      EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
    }
  }
  SAFEARRAYBOUND bound = {3, 0};
  EXPECT_EQ(SafeArrayCreateEx(VT_I4, 0, &bound, nullptr), nullptr);
  EXPECT_EQ(SafeArrayCreateEx(VT_I4, 1, nullptr, nullptr), nullptr);
  // Without a feature bit that tells the type, Windows answers E_INVALIDARG (not DISP_E_BADVARTYPE), and
  // the library falls back on the VARIANT's type.
  SAFEARRAY* sa = SafeArrayCreate(VT_R8, 1, &bound);
  sa->fFeatures = 0;
  VARTYPE vt = VT_R8;
  EXPECT_EQ(SafeArrayGetVartype(sa, &vt), E_INVALIDARG);
  sa->fFeatures = FADF_HAVEVARTYPE;
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

// Every string, nested array and interface reference goes, but not while the array is locked.
TEST(SafeArrayDestroy, ReleasesEveryElementOfAnUnlockedArray) {
  StubObject object;
  SAFEARRAYBOUND bound = {3, 0};
  SAFEARRAY* strings = SafeArrayCreate(VT_BSTR, 1, &bound);
  static_cast<BSTR*>(strings->pvData)[2] = SysAllocString(OLESTR("nested"));  // leak checks see the free
  SAFEARRAY* unknowns = SafeArrayCreate(VT_UNKNOWN, 1, &bound);
  SAFEARRAY* dispatches = SafeArrayCreate(VT_DISPATCH, 1, &bound);
  static_cast<IUnknown**>(unknowns->pvData)[0] = static_cast<IUnknown**>(unknowns->pvData)[2] =
      object.Unknown();
  static_cast<IDispatch**>(dispatches->pvData)[1] = &object;
  SAFEARRAY* variants = SafeArrayCreate(VT_VARIANT, 1, &bound);
  auto* items = static_cast<VARIANT*>(variants->pvData);
  items[0].vt = VT_BSTR, items[0].bstrVal = SysAllocString(OLESTR("element"));
  items[1].vt = VT_ARRAY | VT_BSTR, items[1].parray = strings;
  items[2].vt = VT_ARRAY | VT_UNKNOWN, items[2].parray = unknowns;
  object.refs = 4;
  EXPECT_EQ(SafeArrayDestroy(variants), S_OK);
  EXPECT_EQ(object.refs, 2u);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(dispatches, &data), S_OK);
  EXPECT_EQ(SafeArrayDestroy(dispatches), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(object.refs, 2u);
  EXPECT_EQ(SafeArrayUnaccessData(dispatches), S_OK);
  EXPECT_EQ(SafeArrayDestroy(dispatches), S_OK);
  EXPECT_EQ(object.refs, 1u);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

}  // namespace

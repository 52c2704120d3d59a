#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "platform/ole.h"
#include "platform/test_stubs.h"

namespace {

using zul::test::StubDispatch;
using zul::test::StubRecordInfo;

// Reads the hidden bytes before the descriptor: the IID at -16, IRecordInfo* at -8, the VARTYPE at -4.
template <class T>
T Hidden(const SAFEARRAY* sa, int offset) {
  T value;
  std::memcpy(&value, reinterpret_cast<const char*>(sa) + offset, sizeof value);
  return value;
}

// SafeArrayCreate and SafeArrayCreateEx without extra data must agree on everything.
SAFEARRAY* CreateEx(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) {
  return SafeArrayCreateEx(vt, dims, bounds, nullptr);
}
using Creator = SAFEARRAY* (*)(VARTYPE, UINT, SAFEARRAYBOUND*);
const Creator kCreators[] = {SafeArrayCreate, CreateEx};

TEST(SafeArrayCreate, StoresTheBoundsInReverse) {
  for (Creator create : kCreators) {
    for (UINT dims : {1u, 2u, 3u, 8u}) {
      SCOPED_TRACE(dims);
      std::vector<SAFEARRAYBOUND> bounds;
      std::size_t cells = 1;
      for (UINT i = 0; i < dims; ++i) {
        bounds.push_back({i + 2, 10 * static_cast<LONG>(i) - 3});
        cells *= i + 2;
      }
      SAFEARRAY* sa = create(VT_I4, dims, bounds.data());
      ASSERT_NE(sa, nullptr);
      EXPECT_EQ(SafeArrayGetDim(sa), dims);
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
      EXPECT_EQ(SafeArrayGetLBound(sa, 0, &unused), DISP_E_BADINDEX);
      EXPECT_EQ(SafeArrayGetUBound(sa, dims + 1, &unused), DISP_E_BADINDEX);
      EXPECT_EQ(SafeArrayGetLBound(sa, 1, nullptr), E_INVALIDARG);
      const std::vector<char> zeros(cells * sizeof(LONG));
      EXPECT_EQ(std::memcmp(sa->pvData, zeros.data(), zeros.size()), 0);
      EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
    }
  }
}

TEST(SafeArrayCreate, ElementTypes) {
  struct Case {
    VARTYPE vt;
    ULONG size;
    USHORT features;
  };
  std::vector<Case> cases = {{VT_BSTR, 8, FADF_HAVEVARTYPE | FADF_BSTR},
                             {VT_VARIANT, 24, FADF_HAVEVARTYPE | FADF_VARIANT},
                             {VT_UNKNOWN, 8, FADF_HAVEIID | FADF_UNKNOWN},
                             {VT_DISPATCH, 8, FADF_HAVEIID | FADF_DISPATCH}};
  const std::pair<ULONG, std::vector<VARTYPE>> plain[] = {
      {1, {VT_I1, VT_UI1}},
      {2, {VT_I2, VT_UI2, VT_BOOL}},
      {4, {VT_I4, VT_UI4, VT_R4, VT_ERROR, VT_INT, VT_UINT}},
      {8, {VT_R8, VT_I8, VT_UI8, VT_CY, VT_DATE, VT_INT_PTR, VT_UINT_PTR}},
      {16, {VT_DECIMAL}}};
  for (const auto& [size, types] : plain) {
    for (VARTYPE vt : types) cases.push_back({vt, size, FADF_HAVEVARTYPE});
  }
  SAFEARRAYBOUND bound = {3, 0};
  for (Creator create : kCreators) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.vt);
      SAFEARRAY* sa = create(c.vt, 1, &bound);
      ASSERT_NE(sa, nullptr);
      EXPECT_EQ(SafeArrayGetElemsize(sa), c.size);
      EXPECT_EQ(sa->fFeatures, c.features);
      VARTYPE vt = VT_EMPTY;
      EXPECT_EQ(SafeArrayGetVartype(sa, &vt), S_OK);
      EXPECT_EQ(vt, c.vt);
      GUID iid;
      if (c.features & FADF_HAVEIID) {
        EXPECT_EQ(SafeArrayGetIID(sa, &iid), S_OK);
        EXPECT_TRUE(IsEqualIID(iid, c.vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch));
        EXPECT_TRUE(IsEqualIID(Hidden<GUID>(sa, -16), iid));
      } else {
        EXPECT_EQ(Hidden<DWORD>(sa, -4), c.vt);
        EXPECT_EQ(SafeArrayGetIID(sa, &iid), E_INVALIDARG);
      }
      EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
    }
  }
  const GUID custom = {0x01234567, 0x89ab, 0xcdef, {1, 2, 3, 4, 5, 6, 7, 8}};
  SAFEARRAY* sa = SafeArrayCreateEx(VT_DISPATCH, 1, &bound, const_cast<GUID*>(&custom));
  EXPECT_TRUE(IsEqualIID(Hidden<GUID>(sa, -16), custom));
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST(SafeArrayCreate, RefusesInvalidTypesAndShapes) {
  SAFEARRAYBOUND bound = {2, 0};
  for (Creator create : kCreators) {
    for (unsigned vt :
         {VT_EMPTY, VT_NULL, VARENUM(15), VT_VOID, VT_HRESULT, VT_PTR, VT_SAFEARRAY, VT_CARRAY,
          VT_USERDEFINED, VT_LPSTR, VT_LPWSTR, VT_FILETIME, VT_CLSID, VT_BSTR_BLOB, VARENUM(0xffff)}) {
      SCOPED_TRACE(vt);
      EXPECT_EQ(create(static_cast<VARTYPE>(vt), 1, &bound), nullptr);
    }
    for (VARTYPE modifier : {VT_ARRAY, VT_BYREF, VT_VECTOR}) {
      EXPECT_EQ(create(modifier | VT_I4, 1, &bound), nullptr);
    }
    EXPECT_EQ(create(VT_I4, 0, &bound), nullptr);
    EXPECT_EQ(create(VT_I4, 1, nullptr), nullptr);
    EXPECT_EQ(create(VT_I4, 65536, &bound), nullptr);
  }
  // A record array needs the IRecordInfo that only SafeArrayCreateEx passes.
  EXPECT_EQ(SafeArrayCreate(VT_RECORD, 1, &bound), nullptr);
  EXPECT_EQ(SafeArrayCreateEx(VT_RECORD, 1, &bound, nullptr), nullptr);
}

// Windows answers E_INVALIDARG, not DISP_E_BADVARTYPE, when no feature bit tells the type.
TEST(SafeArrayGetVartype, ReadsTheFeatureBits) {
  const std::pair<USHORT, VARTYPE> cases[] = {{FADF_HAVEIID, VT_UNKNOWN},
                                              {FADF_HAVEIID | FADF_DISPATCH, VT_DISPATCH},
                                              {FADF_RECORD | FADF_HAVEVARTYPE, VT_RECORD},
                                              {FADF_DISPATCH, 0},
                                              {0, 0}};
  SAFEARRAYBOUND bound = {1, 0};
  SAFEARRAY* sa = SafeArrayCreate(VT_R8, 1, &bound);
  for (const auto& [features, expected] : cases) {
    SCOPED_TRACE(features);
    sa->fFeatures = features;
    VARTYPE vt = 0;
    EXPECT_EQ(SafeArrayGetVartype(sa, &vt), expected != 0 ? S_OK : E_INVALIDARG);
    EXPECT_EQ(vt, expected);
  }
  EXPECT_EQ(SafeArrayGetVartype(sa, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST(SafeArrayCreateEx, RecordArrays) {
  StubRecordInfo info;
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 1}};
  SAFEARRAY* sa = SafeArrayCreateEx(VT_RECORD, 2, bounds, &info);
  ASSERT_NE(sa, nullptr);
  EXPECT_EQ(sa->fFeatures, FADF_RECORD);
  EXPECT_EQ(sa->cbElements, info.size);
  EXPECT_EQ(Hidden<IRecordInfo*>(sa, -8), &info);
  EXPECT_EQ(info.refs, 2u);
  char* data = static_cast<char*>(sa->pvData);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
  EXPECT_EQ(info.cleared, (std::vector<void*>{data, data + 12, data + 24, data + 36, data + 48, data + 60}));
  EXPECT_EQ(info.refs, 1u);

  // Windows keeps the size GetSize wrote even when the call fails.
  info.size = 17, info.size_result = E_FAIL;
  sa = SafeArrayCreateEx(VT_RECORD, 1, bounds, &info);
  ASSERT_NE(sa, nullptr);
  EXPECT_EQ(sa->cbElements, 17u);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST(SafeArrayDestroy, ReleasesEveryElement) {
  StubDispatch object;
  SAFEARRAYBOUND bound = {3, 0};
  SAFEARRAY* strings = SafeArrayCreate(VT_BSTR, 1, &bound);
  static_cast<BSTR*>(strings->pvData)[2] = SysAllocString(OLESTR("nested"));
  SAFEARRAY* objects[2] = {SafeArrayCreate(VT_UNKNOWN, 1, &bound), SafeArrayCreate(VT_DISPATCH, 1, &bound)};
  for (SAFEARRAY* sa : objects) {
    auto* items = static_cast<IDispatch**>(sa->pvData);
    items[0] = items[2] = &object;
  }
  SAFEARRAY* variants = SafeArrayCreate(VT_VARIANT, 1, &bound);
  auto* items = static_cast<VARIANT*>(variants->pvData);
  items[0].vt = VT_BSTR, items[0].bstrVal = SysAllocString(OLESTR("element"));
  items[1].vt = VT_ARRAY | VT_BSTR, items[1].parray = strings;
  items[2].vt = VT_ARRAY | VT_UNKNOWN, items[2].parray = objects[0];
  object.refs = 5;
  // Leak checking on the host shows that every string and nested array is freed.
  EXPECT_EQ(SafeArrayDestroy(variants), S_OK);
  EXPECT_EQ(object.refs, 3u);
  EXPECT_EQ(SafeArrayDestroy(objects[1]), S_OK);
  EXPECT_EQ(object.refs, 1u);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(SafeArrayDestroy, RefusesALockedArray) {
  StubDispatch object;
  SAFEARRAYBOUND bound = {1, 0};
  SAFEARRAY* sa = SafeArrayCreate(VT_UNKNOWN, 1, &bound);
  static_cast<IUnknown**>(sa->pvData)[0] = &object;
  object.refs = 2;
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(sa, &data), S_OK);
  EXPECT_EQ(data, sa->pvData);
  EXPECT_EQ(SafeArrayDestroy(sa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayDestroyData(sa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(object.refs, 2u);
  EXPECT_EQ(SafeArrayUnaccessData(sa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
  EXPECT_EQ(object.refs, 1u);
}

// The data of a static array belongs to its owner: the elements are released and zeroed, the block kept.
TEST(SafeArrayDestroyData, KeepsStaticData) {
  SAFEARRAYBOUND bound = {2, 0};
  SAFEARRAY* sa = SafeArrayCreate(VT_BSTR, 1, &bound);
  auto* items = static_cast<BSTR*>(sa->pvData);
  items[0] = SysAllocString(OLESTR("a")), items[1] = SysAllocString(OLESTR("b"));
  sa->fFeatures |= FADF_STATIC;
  EXPECT_EQ(SafeArrayDestroyData(sa), S_OK);
  EXPECT_EQ(sa->pvData, static_cast<void*>(items));
  EXPECT_EQ(items[0], nullptr);
  EXPECT_EQ(items[1], nullptr);
  sa->fFeatures &= ~FADF_STATIC;
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

#ifndef _WIN32
// Wine frees even a descriptor its caller owns, so this runs on the host only: a stack array marked
// FADF_AUTO has its elements released while neither its descriptor nor its data is freed.
TEST(SafeArrayDestroy, LeavesCallerOwnedMemory) {
  struct {
    alignas(16) char hidden[16];
    SAFEARRAY sa;
  } frame = {};
  BSTR data[2] = {SysAllocString(OLESTR("x")), nullptr};
  frame.sa = {1, FADF_AUTO | FADF_BSTR | FADF_HAVEVARTYPE, sizeof(BSTR), 0, data, {{2, 0}}};
  EXPECT_EQ(SafeArrayDestroy(&frame.sa), S_OK);
  EXPECT_EQ(data[0], nullptr);
}
#endif

TEST(SafeArrayLock, CountsUpToTheLimit) {
  void* data = nullptr;
  EXPECT_EQ(SafeArrayLock(nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayUnlock(nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayAccessData(nullptr, &data), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(SafeArrayGetElemsize(nullptr), 0u);
  SAFEARRAYBOUND bound = {2, 0};
  SAFEARRAY* sa = SafeArrayCreate(VT_UI1, 1, &bound);
  EXPECT_EQ(SafeArrayAccessData(sa, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayUnlock(sa), E_UNEXPECTED);
  int locks = 0;
  while (SafeArrayLock(sa) == S_OK) ++locks;
  EXPECT_EQ(locks, 65535);
  data = sa;
  EXPECT_EQ(SafeArrayAccessData(sa, &data), E_UNEXPECTED);
  EXPECT_EQ(data, nullptr);
  while (SafeArrayUnlock(sa) == S_OK) --locks;
  EXPECT_EQ(locks, 0);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

}  // namespace

#include <gtest/gtest.h>

#include <utility>

#include "platform/ole.h"
#include "platform/test_stubs.h"

namespace {

using zul::testing::OleString;
using zul::testing::StubObject;
using zul::testing::Text;

TEST(Guids, InterfaceIdsAndNewGuids) {
  const std::pair<const IID*, GUID> cases[] = {
      {&IID_NULL, {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}}},
      {&IID_IUnknown, {0x00000000, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}}},
      {&IID_IDispatch, {0x00020400, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}}},
      {&IID_IErrorInfo, {0x1cf2b120, 0x547d, 0x101b, {0x8e, 0x65, 0x08, 0x00, 0x2b, 0x2b, 0xd1, 0x19}}},
      {&IID_ICreateErrorInfo, {0x22f03340, 0x547d, 0x101b, {0x8e, 0x65, 0x08, 0x00, 0x2b, 0x2b, 0xd1, 0x19}}},
  };
  for (const auto& [iid, expected] : cases) EXPECT_TRUE(IsEqualIID(*iid, expected)) << expected.Data1;
  GUID first, second;
  ASSERT_EQ(CoCreateGuid(&first), S_OK);
  ASSERT_EQ(CoCreateGuid(&second), S_OK);
  EXPECT_FALSE(IsEqualGUID(first, second));
#ifndef _WIN32
  for (const GUID& guid : {first, second}) {  // Windows promises only uniqueness; ours are version-4 GUIDs
    EXPECT_EQ(guid.Data3 >> 12, 4);
    EXPECT_EQ(guid.Data4[0] >> 6, 2);
  }
#endif
}

// As the library raises an error: texts set through ICreateErrorInfo, the creator released, the
// IErrorInfo of the same object read.
TEST(CreateErrorInfo, RoundTripsThroughIErrorInfo) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  void* other = &other;
  EXPECT_EQ(create->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  BSTR unset = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(info->GetSource(&unset), S_OK);
  EXPECT_EQ(unset, nullptr);
  OLECHAR source[] = OLESTR("Source"), description[] = OLESTR("Description \x00e9");
  EXPECT_EQ(create->SetSource(source), S_OK);
  EXPECT_EQ(create->SetDescription(description), S_OK);
  EXPECT_EQ(create->Release(), 1u);  // one count for both interfaces
  using Getter = HRESULT (STDMETHODCALLTYPE IErrorInfo::*)(BSTR*);
  const std::pair<Getter, const OLECHAR*> texts[] = {{&IErrorInfo::GetSource, source},
                                                     {&IErrorInfo::GetDescription, description}};
  for (const auto& [get, expected] : texts) {
    BSTR first = nullptr, second = nullptr;
    EXPECT_EQ((info->*get)(&first), S_OK);
    EXPECT_EQ((info->*get)(&second), S_OK);
    EXPECT_EQ(Text(first), OleString(expected));
    EXPECT_NE(first, second);  // every caller gets a copy of its own
    SysFreeString(first);
    SysFreeString(second);
  }
  EXPECT_EQ(info->Release(), 0u);
}

// _com_error holds exactly one reference: adopted or added, copied, assigned and given out.
TEST(ComError, HoldsOneReference) {
  StubObject info;
  info.refs = 2;
  { const _com_error adopting(E_FAIL, &info); }
  EXPECT_EQ(info.refs, 1u);
  {
    _com_error error(E_ABORT, &info, true);
    _com_error copy(error);
    _com_error assigned(E_UNEXPECTED);
    assigned = copy;
    assigned = assigned;
    EXPECT_EQ(assigned.Error(), E_ABORT);
    EXPECT_EQ(info.refs, 4u);
    IErrorInfo* held = error.ErrorInfo();
    EXPECT_EQ(held, static_cast<IErrorInfo*>(&info));
    EXPECT_EQ(info.refs, 5u);
    held->Release();
  }
  EXPECT_EQ(info.refs, 1u);
  EXPECT_EQ(_com_error(E_FAIL).ErrorInfo(), nullptr);
  {
    _com_error only(E_FAIL, &info);  // holds the last reference
    only = only;
  }
  EXPECT_EQ(info.refs, 0u);
  EXPECT_FALSE(info.revived);
}

}  // namespace

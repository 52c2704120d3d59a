#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "platform/ole.h"
#include "platform/test_stubs.h"

namespace {

using zul::test::OleString;
using zul::test::Text;

TEST(InterfaceIds, HaveTheWindowsValues) {
  const std::pair<const IID*, GUID> cases[] = {
      {&IID_NULL, {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}}},
      {&IID_IUnknown, {0x00000000, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}}},
      {&IID_IDispatch, {0x00020400, 0, 0, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}}},
      {&IID_IErrorInfo, {0x1cf2b120, 0x547d, 0x101b, {0x8e, 0x65, 0x08, 0x00, 0x2b, 0x2b, 0xd1, 0x19}}},
      {&IID_ICreateErrorInfo, {0x22f03340, 0x547d, 0x101b, {0x8e, 0x65, 0x08, 0x00, 0x2b, 0x2b, 0xd1, 0x19}}},
  };
  for (const auto& [iid, expected] : cases) {
    SCOPED_TRACE(expected.Data1);
    EXPECT_TRUE(IsEqualIID(*iid, expected));
  }
}

TEST(CreateErrorInfo, RoundTripsThroughIErrorInfo) {
  EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  // Unset texts read as null BSTRs. (Wine leaves a fresh object's GUID uninitialised: not checked.)
  BSTR text = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(info->GetDescription(&text), S_OK);
  EXPECT_EQ(text, nullptr);

  const GUID guid = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
  OLECHAR source[] = OLESTR("Source"), description[] = OLESTR("Description \x00e9"),
          help[] = OLESTR("help.chm");
  EXPECT_EQ(create->SetGUID(guid), S_OK);
  EXPECT_EQ(create->SetSource(source), S_OK);
  EXPECT_EQ(create->SetDescription(description), S_OK);
  EXPECT_EQ(create->SetHelpFile(help), S_OK);
  EXPECT_EQ(create->SetHelpContext(42), S_OK);
  GUID got_guid;
  DWORD context = 0;
  EXPECT_EQ(info->GetGUID(&got_guid), S_OK);
  EXPECT_TRUE(IsEqualGUID(got_guid, guid));
  EXPECT_EQ(info->GetHelpContext(&context), S_OK);
  EXPECT_EQ(context, 42u);
  using Getter = HRESULT (STDMETHODCALLTYPE IErrorInfo::*)(BSTR*);
  const std::pair<Getter, const OLECHAR*> texts[] = {{&IErrorInfo::GetSource, source},
                                                     {&IErrorInfo::GetDescription, description},
                                                     {&IErrorInfo::GetHelpFile, help}};
  for (const auto& [get, expected] : texts) {
    SCOPED_TRACE(OleString(expected).size());
    BSTR first = nullptr, second = nullptr;
    EXPECT_EQ((info->*get)(&first), S_OK);
    EXPECT_EQ((info->*get)(&second), S_OK);
    EXPECT_EQ(Text(first), OleString(expected));
    EXPECT_NE(first, second);  // every caller gets a copy of its own
    EXPECT_EQ((info->*get)(nullptr), E_INVALIDARG);
    SysFreeString(first);
    SysFreeString(second);
  }
  EXPECT_EQ(info->GetGUID(nullptr), E_INVALIDARG);
  EXPECT_EQ(info->GetHelpContext(nullptr), E_INVALIDARG);
  EXPECT_EQ(create->SetSource(nullptr), S_OK);
  EXPECT_EQ(info->GetSource(&text), S_OK);
  EXPECT_EQ(text, nullptr);
  info->Release();
  EXPECT_EQ(create->Release(), 0u);
}

TEST(CreateErrorInfo, InterfacesShareOneObject) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  IErrorInfo* info = nullptr;
  IUnknown *from_create = nullptr, *from_info = nullptr;
  ICreateErrorInfo* back = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  ASSERT_EQ(create->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&from_create)), S_OK);
  ASSERT_EQ(info->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&from_info)), S_OK);
  ASSERT_EQ(info->QueryInterface(IID_ICreateErrorInfo, reinterpret_cast<void**>(&back)), S_OK);
  EXPECT_EQ(from_create, from_info);
  EXPECT_EQ(back, create);
  void* other = &other;
  EXPECT_EQ(create->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  // Five references on one count: the object lives until the last is released.
  EXPECT_EQ(back->Release(), 4u);
  EXPECT_EQ(from_info->Release(), 3u);
  EXPECT_EQ(from_create->Release(), 2u);
  EXPECT_EQ(create->Release(), 1u);
  EXPECT_EQ(info->Release(), 0u);
}

struct StubErrorInfo : IErrorInfo {
  ULONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    return *ppv = nullptr, E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetGUID(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD*) override { return E_NOTIMPL; }
};

TEST(ComError, HoldsOneReference) {
  StubErrorInfo info;
  info.refs = 2;
  {
    const _com_error adopting(E_FAIL, &info);  // takes over the caller's reference
    EXPECT_EQ(info.refs, 2u);
  }
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
    EXPECT_EQ(held, &info);
    EXPECT_EQ(info.refs, 5u);
    held->Release();
  }
  EXPECT_EQ(info.refs, 1u);
  EXPECT_EQ(_com_error(E_FAIL).ErrorInfo(), nullptr);
  try {
    throw _com_error(E_OUTOFMEMORY, &info, true);
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), E_OUTOFMEMORY);
  }
  EXPECT_EQ(info.refs, 1u);
}

}  // namespace

// Shared by the conversion tests: an Echo wrapper of the reference bridge, with its object, under the same
// cookie in a context of the test's own; argument lists that give their bridge memory back.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bstr_util.h"
#include "fault_bridge.h"
#include "loader/binding.h"
#include "marshal/marshal.h"
#include "marshal/numeric.h"
#ifndef _WIN32
#include "platform/host/test_hooks.h"
#endif

namespace zul::testing {

inline constexpr const char* kUntouched = "untouched";

struct ArgList {  // released when it goes out of scope
  ArgList(PalContext& c, int32_t cookieIn, int32_t countIn) : context(c), cookie(cookieIn), count(countIn) {}
  ArgList(ArgList&&) = default;
  ~ArgList() { ReleaseArgList(context, cookie, count, list.pointers.get()); }
  BridgeValue& operator[](int i) { return list.values[i]; }
  PalContext& context;
  int32_t cookie, count;
  BridgeArgList list;
  bool ok = false;
};

class MarshalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bridge = &FaultBridge::Bound();
    ASSERT_TRUE(context.AddWrapper(cookie = NewObject(), OLESTR("Echo"), OLESTR("")));
    ResetMessage();
    live = Live();
  }
  void TearDown() override {  // every block, BSTR and SAFEARRAY went back, every transaction ended
    EXPECT_TRUE(bridge->OutstandingBlocks(cookie) == 0 && bridge->BadReleases() == 0 && Live() == live);
    EXPECT_EQ(bridge->OpenTransactions(), 0);
    g_bridge.entries.ReleaseWrapper(cookie);
  }
  static int32_t NewObject() {  // an Echo wrapper of the bridge's default process, with its object
    const BridgeEntries& e = g_bridge.entries;
    const int32_t c = e.RegisterWrapper("Echo", 0, nullptr);
    EXPECT_TRUE(e.BeginTransaction(c) == 0 && e.CreateObject(c, 0, nullptr, nullptr, 0, 0, 0) == 0);
    EXPECT_EQ(e.EndTransaction(c), 0);
    return c;
  }
  static int64_t Live() {  // the BSTRs and SAFEARRAYs alive: the host's OLE Automation counts them
#ifdef _WIN32
    return 0;
#else
    return ZulHostTest_LiveAllocations(ZUL_HOST_TEST_BSTR) +
           ZulHostTest_LiveAllocations(ZUL_HOST_TEST_SAFEARRAY);
#endif
  }
  std::string Message() {
    return MessageOf(context.FindWrapper(cookie)->error);
  }
  void ResetMessage() {
    context.FindWrapper(cookie)->error.SetMessage(kUntouched);
  }
  ArgList In(std::vector<VARIANT>& args, std::vector<uint32_t>& flags) {
    ArgList in(context, cookie, static_cast<int32_t>(args.size()));
    in.ok = MarshalArgsIn(context, cookie, in.count, args.data(), flags.data(), in.list);
    return in;
  }
  ArgList InOne(VARIANT arg, uint32_t flag = ArgFlag::InOnly | ArgFlag::Reorder) {
    std::vector<VARIANT> args{arg};
    std::vector<uint32_t> flags{flag};
    return In(args, flags);
  }
  bool WriteBack(ArgList& in, std::vector<VARIANT>& args, std::vector<uint32_t>& flags) {
    return WriteBackArgs(context, cookie, in.count, in.list, args.data(), flags.data());
  }
  // Echo.<method> in a transaction, its result converted into out (if any) before the bridge takes it back.
  int32_t Call(const char* method, ArgList& in, VARIANT* out = nullptr, uint32_t* outFlag = nullptr) {
    const BridgeEntries& e = g_bridge.entries;
    BridgeValue* result = nullptr;
    EXPECT_EQ(e.BeginTransaction(cookie), 0);
    const int32_t status = e.CallMethod(cookie, method, in.count, in.list.pointers.get(), in.list.flags.get(),
                                        out != nullptr ? &result : nullptr);
    if (status == 0 && out != nullptr) EXPECT_TRUE(MarshalValueOut(context, cookie, result, out, outFlag));
    EXPECT_EQ(e.EndTransaction(cookie), 0);
    return status;
  }

  PalContext context;
  FaultBridge* bridge = nullptr;
  int32_t cookie = 0;
  int64_t live = 0;
};

// A new SAFEARRAY whose stored rgsabound[k] holds stored[k] elements (creation lists them reversed).
inline SAFEARRAY* NewArray(VARTYPE vt, std::vector<ULONG> stored) {
  std::vector<SAFEARRAYBOUND> bounds;
  for (auto k = stored.rbegin(); k != stored.rend(); ++k) bounds.push_back({*k, 0});
  return SafeArrayCreate(vt, static_cast<UINT>(stored.size()), bounds.data());
}
inline void FreeArray(SAFEARRAY* psa) {  // undoes what made it fixed or locked
  psa->fFeatures &= ~(FADF_STATIC | FADF_FIXEDSIZE);
  while (psa->cLocks != 0) SafeArrayUnlock(psa);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}
inline VARIANT Var(VARTYPE vt, int64_t bits = 0) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt, v.llVal = bits;
  return v;
}
inline VARIANT Holding(VARTYPE vt, const void* pointer) {  // byref, parray, bstrVal, pdispVal alike
  VARIANT v = Var(vt);
  v.byref = const_cast<void*>(pointer);
  return v;
}
inline VARIANT Ref(VARIANT* target) {
  return Holding(VT_BYREF | VT_VARIANT, target);
}
inline uint64_t Setting(const char* name, uint64_t otherwise) {  // the property tests' knobs
  return std::getenv(name) != nullptr ? std::strtoull(std::getenv(name), nullptr, 0) : otherwise;
}
template <class T>
uint64_t Raw(T value) {
  uint64_t raw = 0;
  std::memcpy(&raw, &value, sizeof value);
  return raw;
}

}  // namespace zul::testing

// Shared by the conversion tests: an Echo wrapper of the reference bridge with its object, registered
// under the same cookie in a context of the test's own; argument lists that give their bridge memory
// back; SAFEARRAYs built by their stored bounds.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bstr_util.h"
#include "error/strings.h"
#include "fault_bridge.h"
#include "loader/binding.h"
#include "marshal/marshal.h"
#include "marshal/numeric.h"

namespace zul::testing {

inline constexpr const char* kUntouched = "untouched";

// An argument list that ReleaseArgList disposes of when it goes out of scope.
struct ArgList {
  ArgList(PalContext& contextIn, int32_t cookieIn, int32_t countIn)
      : context(contextIn), cookie(cookieIn), count(countIn) {}
  ArgList(ArgList&&) = default;
  ~ArgList() { ReleaseArgList(context, cookie, count, list.pointers.get()); }  // a null list is skipped
  BridgeValue& operator[](int i) { return list.values[i]; }

  PalContext& context;
  int32_t cookie;
  int32_t count;
  BridgeArgList list;
  bool ok = false;
};

class MarshalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bridge = &FaultBridge::Bound();
    const BridgeEntries& e = g_bridge.entries;
    cookie = e.RegisterWrapper("Echo", 0, nullptr);
    ASSERT_GT(cookie, 0);
    ASSERT_EQ(e.BeginTransaction(cookie), 0);
    ASSERT_EQ(e.CreateObject(cookie, 0, nullptr, nullptr, 0, 0, 0), 0);
    ASSERT_EQ(e.EndTransaction(cookie), 0);
    ASSERT_TRUE(context.AddWrapper(cookie, OLESTR("Echo"), OLESTR("")));
    ResetMessage();
  }
  void TearDown() override {
    ExpectNothingHeld();
    g_bridge.entries.ReleaseWrapper(cookie);
  }
  void ExpectNothingHeld() {
    EXPECT_EQ(bridge->OutstandingBlocks(cookie), 0);
    EXPECT_EQ(bridge->BadReleases(), 0);
    EXPECT_EQ(bridge->OpenTransactions(), 0);
  }

  WrapperInfo& Wrapper() { return *context.FindWrapper(cookie); }
  std::string Message() { return MessageOf(Wrapper().error); }
  void ResetMessage() { Wrapper().error.SetMessage(kUntouched); }

  ArgList In(std::vector<VARIANT>& args, std::vector<uint32_t>& flags) {
    ArgList result(context, cookie, static_cast<int32_t>(args.size()));
    result.ok = MarshalArgsIn(context, cookie, result.count, args.data(), flags.data(), result.list);
    return result;
  }
  ArgList InOne(VARIANT arg, uint32_t flag = ArgFlag::InOnly | ArgFlag::Reorder) {
    std::vector<VARIANT> args{arg};
    std::vector<uint32_t> flags{flag};
    return In(args, flags);
  }
  bool WriteBack(ArgList& in, std::vector<VARIANT>& args, std::vector<uint32_t>& flags) {
    return WriteBackArgs(context, cookie, in.count, in.list, args.data(), flags.data());
  }
  // Echo.<method> on the converted arguments, in a transaction; its result converted into out (if any)
  // before the transaction ends and the bridge takes the result back. The bridge's status.
  int32_t Call(const char* method, ArgList& in, VARIANT* out = nullptr) {
    const BridgeEntries& e = g_bridge.entries;
    BridgeValue* result = nullptr;
    EXPECT_EQ(e.BeginTransaction(cookie), 0);
    const int32_t status = e.CallMethod(cookie, method, in.count, in.list.pointers.get(), in.list.flags.get(),
                                        out != nullptr ? &result : nullptr);
    if (status == 0 && out != nullptr) EXPECT_TRUE(MarshalValueOut(context, cookie, result, out, nullptr));
    EXPECT_EQ(e.EndTransaction(cookie), 0);
    return status;
  }

  PalContext context;
  FaultBridge* bridge = nullptr;
  int32_t cookie = 0;
};

// A new SAFEARRAY whose stored rgsabound[k] holds stored[k] elements (creation lists them reversed).
inline SAFEARRAY* NewArray(VARTYPE vt, const std::vector<ULONG>& stored) {
  const auto m = static_cast<UINT>(stored.size());
  std::vector<SAFEARRAYBOUND> bounds(m);
  for (UINT k = 0; k < m; ++k) bounds[m - 1 - k] = {stored[k], 0};
  SAFEARRAY* psa = SafeArrayCreate(vt, m, bounds.data());
  for (UINT k = 0; psa != nullptr && k < m; ++k) EXPECT_EQ(psa->rgsabound[k].cElements, stored[k]);
  return psa;
}

// Undoes what a test did to make an array fixed or locked, then destroys it.
inline void FreeArray(SAFEARRAY* psa) {
  if (psa == nullptr) return;
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
// A VARIANT whose value is a pointer (byref, parray, bstrVal, pdispVal share the field).
inline VARIANT Holding(VARTYPE vt, const void* pointer) {
  VARIANT v = Var(vt);
  v.byref = const_cast<void*>(pointer);
  return v;
}
inline VARIANT Str(const char* ascii) {
  return Holding(VT_BSTR, SysAllocString(Wide(ascii).c_str()));
}
inline VARIANT Ref(VARIANT* target) {
  return Holding(VT_BYREF | VT_VARIANT, target);
}

template <class T>
uint64_t Raw(T value) {
  uint64_t raw = 0;
  std::memcpy(&raw, &value, sizeof value);
  return raw;
}

}  // namespace zul::testing

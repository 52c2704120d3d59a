// Shared by the marshalling tests: a context with one registered caller bound to the bridge double,
// argument lists that give their bridge memory back, and SAFEARRAYs built by their stored bounds.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bridge_double_client.h"
#include "bstr_util.h"
#include "error/strings.h"
#include "loader/binding.h"
#include "marshal/marshal.h"

namespace zul::testing {

inline constexpr int32_t kCaller = 3;
inline constexpr const char* kUntouched = "untouched";

// An argument list that ReleaseArgList disposes of when it goes out of scope.
struct ArgList {
  ArgList(PalContext& contextIn, int32_t countIn) : context(contextIn), count(countIn) {}
  ArgList(ArgList&&) = default;
  ~ArgList() { ReleaseArgList(context, kCaller, count, list.pointers.get()); }  // a null list is skipped
  BridgeValue& operator[](int i) { return list.values[i]; }

  PalContext& context;
  int32_t count;
  BridgeArgList list;
  bool ok = false;
};

class MarshalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bridge = &BoundBridgeDouble();
    ASSERT_TRUE(context.AddWrapper(kCaller, OLESTR("Caller"), OLESTR("proc")));
    Wrapper().error.SetMessage(kUntouched);
  }
  void TearDown() override { ExpectNothingHeldAndReset(); }  // every block went back to its owner

  // Between the rows of one test: nothing held so far, a fresh journal and message.
  void ExpectNothingHeldAndReset() {
    EXPECT_EQ(bridge->TotalOutstandingBlocks(), 0);
    EXPECT_EQ(bridge->BadReleases(), 0);
    bridge->Reset();
    ResetMessage();
  }

  WrapperInfo& Wrapper() { return *context.FindWrapper(kCaller); }
  std::string Message() { return MessageOf(Wrapper().error); }
  void ResetMessage() { Wrapper().error.SetMessage(kUntouched); }

  ArgList In(std::vector<VARIANT>& args, std::vector<uint32_t>& flags) {
    ArgList result(context, static_cast<int32_t>(args.size()));
    result.ok = MarshalArgsIn(context, kCaller, result.count, args.data(), flags.data(), result.list);
    return result;
  }
  ArgList InOne(VARIANT arg, uint32_t flag = ArgFlag::InOnly | ArgFlag::Reorder) {
    std::vector<VARIANT> args{arg};
    std::vector<uint32_t> flags{flag};
    return In(args, flags);
  }
  bool WriteBack(ArgList& in, std::vector<VARIANT>& args, std::vector<uint32_t>& flags) {
    return WriteBackArgs(context, kCaller, in.count, in.list, args.data(), flags.data());
  }

  PalContext context;
  BridgeDouble* bridge = nullptr;
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
  return Holding(VT_BSTR, ascii != nullptr ? SysAllocString(Wide(ascii).c_str()) : nullptr);
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

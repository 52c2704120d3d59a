// Shared by the operation tests, which drive the library through its exports as a client does, against
// the reference bridge under the fault layer. After every test no transaction is open, no bridge block
// outstanding and no block was released wrongly.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bstr_util.h"
#include "fault_bridge.h"
#include "zul/pal_mscom.h"

namespace zul::testing {

inline constexpr const char* kInvalidCookie = "Invalid cookie.  Object has not been created.";
inline constexpr const char* kUnexpected = "Unexpected error.";
inline constexpr const char* kBusy = "The object's associated ZUL process is currently busy.";
inline constexpr const char* kMarker = "context marker";
inline constexpr const char* kEarlier = "an earlier call's text";
inline constexpr const char* kText = "bridge text";
inline constexpr const char* kNone = "<null>";
using Dbls = std::vector<double>;

// The text that ZUL_MSCOMPAL_GetLastError hands out for cookie (0: the context), or "<null>".
inline std::string LastError(int32_t cookie) {
  BSTR message = reinterpret_cast<BSTR>(0x1);
  EXPECT_EQ(ZUL_MSCOMPAL_GetLastError(cookie, &message), S_OK);
  const UniqueBstr owned = UniqueBstr::Adopt(message);
  return Ascii(message);
}

// A VARIANT that clears itself.
struct Variant : VARIANT {
  explicit Variant(VARTYPE type = VT_EMPTY, int64_t bits = 0) { VariantInit(this), vt = type, llVal = bits; }
  explicit Variant(const char* ascii) : Variant(VT_BSTR) { bstrVal = SysAllocString(Wide(ascii).c_str()); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(this); }
};

// Numbers in a new SAFEARRAY of doubles: one-dimensional, or rows by values.size() / rows.
inline SAFEARRAY* Numbers(const Dbls& values, ULONG rows = 0) {
  SAFEARRAYBOUND bounds[2] = {{rows > 0 ? rows : ULONG(values.size()), 0},
                              {rows > 0 ? ULONG(values.size()) / rows : 1, 0}};
  SAFEARRAY* psa = SafeArrayCreate(VT_R8, rows > 0 ? 2 : 1, bounds);
  for (size_t i = 0; i < values.size(); ++i) static_cast<double*>(psa->pvData)[i] = values[i];
  return psa;
}

// Every element of an array of doubles, in storage order.
inline Dbls Doubles(const SAFEARRAY* psa) {
  if (psa == nullptr || psa->cbElements != sizeof(double)) return {};
  size_t n = 1;
  for (USHORT k = 0; k < psa->cDims; ++k) n *= psa->rgsabound[k].cElements;
  return Dbls(static_cast<const double*>(psa->pvData), static_cast<const double*>(psa->pvData) + n);
}

// What a client's VARIANT holds: its type and value bits (pointers included), an array's numbers, a text.
inline std::string Held(const VARIANT& v) {
  std::string held = std::to_string(v.vt) + ":" + std::to_string(v.llVal);
  const SAFEARRAY* psa = (v.vt & VT_ARRAY) == 0 ? nullptr : (v.vt & VT_BYREF) ? *v.pparray : v.parray;
  for (double d : Doubles(psa)) held += " " + std::to_string(d);
  return held + (v.vt == VT_BSTR ? Ascii(v.bstrVal) : "");
}

class OpsTest : public ::testing::Test {
 protected:
  void SetUp() override { bridge = &FaultBridge::Bound(); }
  void TearDown() override {
    bridge->Reset();
    for (int32_t cookie : wrappers_) ZUL_MSCOMPAL_ReleaseWrapper(cookie);
    ExpectClean();
  }
  void ExpectClean() const {
    EXPECT_EQ(bridge->OpenTransactions(), 0);
    EXPECT_EQ(bridge->OutstandingBlocks(), 0);
    EXPECT_EQ(bridge->BadReleases(), 0);
  }

  // A wrapper of the bridge's class in process (null: the default one), with its object unless bare; a
  // Matrix is made 2 by 3.
  int32_t NewWrapper(const char* className = "Echo", bool bare = false, const char* process = nullptr) {
    int32_t cookie = 0;
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(Wide(className).c_str(), 0,
                                           process ? Wide(process).c_str() : nullptr, &cookie),
              S_OK);
    wrappers_.push_back(cookie);
    Variant matrix(VT_ARRAY | VT_R8);
    matrix.parray = Numbers({1, 2, 3, 4, 5, 6}, 2);
    uint32_t flag = ArgFlag::InOnly | ArgFlag::Reorder;
    const int32_t count = std::string(className) == "Matrix" ? 1 : 0;
    if (!bare) {
      EXPECT_EQ(ZUL_MSCOMPAL_CreateObject(cookie, count, &matrix, &flag, 0, 0, 0), S_OK);
    }
    return cookie;
  }
  // Leaves kEarlier on the wrapper and kMarker on the context, through calls the bridge refuses: a
  // failure must show a text of its own, a success keep these.
  void MarkBoth(int32_t cookie) {
    bridge->Force(BridgeEntry::kExecuteString, -1, -1, kEarlier);
    EXPECT_EQ(ZUL_MSCOMPAL_ExecuteString(cookie, OLESTR("x")), E_FAIL);
    bridge->Force(BridgeEntry::kRegisterWrapper, 0, -1, kMarker);
    int32_t given = 0;
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(nullptr, 0, nullptr, &given), E_FAIL);
    bridge->Reset();
  }

  FaultBridge* bridge = nullptr;

 private:
  std::vector<int32_t> wrappers_;
};

}  // namespace zul::testing

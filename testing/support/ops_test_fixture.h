// Shared by the operation tests, which drive the library through its exports as a client does: the
// bridge double bound and reset, wrappers registered under chosen cookies, the bridge calls of one
// operation as a short text, messages read back with ZUL_MSCOMPAL_GetLastError, and owned COM values.
// After every test no transaction may be open and no bridge block outstanding.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bridge_double_client.h"
#include "bstr_util.h"
#include "zul/pal_mscom.h"

namespace zul::testing {

inline constexpr const char* kInvalidCookie = "Invalid cookie.  Object has not been created.";
inline constexpr const char* kUnexpected = "Unexpected error.";
inline constexpr const char* kNoMemory = "Could not allocate memory for argument processing.";
inline constexpr const char* kBusy = "The object's associated ZUL process is currently busy.";
inline constexpr const char* kNoActivity = "There is no ZUL activity to abort.";
inline constexpr const char* kMarker = "context marker";
inline constexpr const char* kNone = "<null>";

// The text that ZUL_MSCOMPAL_GetLastError hands out for cookie (0: the context), or "<null>".
inline std::string LastError(int32_t cookie) {
  BSTR message = reinterpret_cast<BSTR>(0x1);
  EXPECT_EQ(ZUL_MSCOMPAL_GetLastError(cookie, &message), S_OK);
  const std::string text = Ascii(message);
  SysFreeString(message);
  return text;
}

// A VARIANT that clears itself.
struct Variant : VARIANT {
  Variant() { VariantInit(this); }
  explicit Variant(const char* ascii) : Variant() {
    vt = VT_BSTR;
    bstrVal = SysAllocString(Wide(ascii).c_str());
  }
  Variant(VARTYPE type, int64_t bits) : Variant() {
    vt = type;
    llVal = bits;
  }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(this); }
};

inline SAFEARRAY* DoubleArray(const std::vector<double>& values) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(values.size()), 0};
  SAFEARRAY* psa = SafeArrayCreate(VT_R8, 1, &bound);
  if (psa != nullptr && !values.empty())
    std::memcpy(psa->pvData, values.data(), values.size() * sizeof(double));
  return psa;
}

inline std::vector<double> Doubles(const SAFEARRAY* psa) {
  if (psa == nullptr || psa->cDims != 1 || psa->cbElements != sizeof(double)) return {};
  const auto* data = static_cast<const double*>(psa->pvData);
  return std::vector<double>(data, data + psa->rgsabound[0].cElements);
}

inline SAFEARRAY* StringArray(const std::vector<const char*>& texts) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(texts.size()), 0};
  SAFEARRAY* psa = SafeArrayCreate(VT_BSTR, 1, &bound);
  for (size_t i = 0; psa != nullptr && i < texts.size(); ++i)
    static_cast<BSTR*>(psa->pvData)[i] = SysAllocString(Wide(texts[i]).c_str());
  return psa;
}

// Bridge values for the double to hand out; it copies them, so they need live only for the call.
inline BridgeValue BridgeText(const char* chars) {
  BridgeValue value{};
  value.type = ZUL_TYP_STRING;
  value.flags = ZUL_VALUEFLAG_BRIDGE_MEMORY;
  value.value.str.length = static_cast<int32_t>(std::strlen(chars));
  value.value.str.kind = 1;
  value.value.str.chars = const_cast<char*>(chars);
  return value;
}

struct BridgeDoubles {
  explicit BridgeDoubles(std::vector<double> valuesIn) : values(std::move(valuesIn)) {
    array.elementSize = sizeof(double);
    array.elementCount = static_cast<int64_t>(values.size());
    array.totalBytes = array.elementCount * array.elementSize;
    array.data = values.data();
    array.dimensionCount = 1;
    array.dims[0] = array.elementCount;
    value.type = ZUL_TYP_DOUBLE;
    value.flags = ZUL_VALUEFLAG_ARRAY | ZUL_VALUEFLAG_BRIDGE_MEMORY;
    value.value.array = &array;
  }
  std::vector<double> values;
  BridgeArray array{};
  BridgeValue value{};
};

// What goes wrong in one row of an operation's failure table.
enum class Fault {
  kNone,
  kUnknownCookie,  // the call names a cookie that is not registered
  kRefuseBegin,    // ZUL_QEL_BeginTransaction is negative
  kFailCall,       // the operation's own bridge call fails (negative, or null)
  kBadArgument,    // an argument that cannot be converted (after one that can)
  kNegativeCount,  // argument count -1
  kNoValue,        // the bridge answers success but hands back no value, or the caller gives no VARIANT
  kBadValue,       // the value handed back cannot be converted
  kBadWriteBack,   // a by-reference argument cannot take its new value
};

struct Row {
  const char* name;
  Fault fault;
  int32_t code;      // the bridge's last error
  const char* text;  // and its text
  HRESULT hr;
  const char* calls;        // as OpsTest::Calls writes them
  const char* wrapperText;  // LastError(cookie) afterwards
  const char* contextText;  // LastError(0) afterwards
};

// The rows of the call frame itself, the same for every operation that runs in it: the cookie looked up,
// the transaction refused; and, for an operation that converts arguments, their conversion failing.
inline constexpr Row kUnknownCookieRow = {
    "unknown cookie", Fault::kUnknownCookie, 0, nullptr, E_INVALIDARG, "", kNone, kInvalidCookie};
inline constexpr Row kBusyRow = {"busy transaction", Fault::kRefuseBegin, -2001,         "bridge text",
                                 E_ACCESSDENIED,     "Begin Error",       "bridge text", kBusy};
inline constexpr Row kBadArgumentRow = {
    "argument not convertible", Fault::kBadArgument, 0,      nullptr, E_FAIL,
    "Begin Alloc Free End",     kUnexpected,         kMarker};
inline constexpr Row kNegativeCountRow = {"negative count", Fault::kNegativeCount, 0,           nullptr,
                                          E_FAIL,           "Begin End",           kUnexpected, kMarker};

class OpsTest : public ::testing::Test {
 protected:
  void SetUp() override { bridge = &BoundBridgeDouble(); }
  void TearDown() override {
    for (int32_t cookie : registered_) ZUL_MSCOMPAL_DestroyProxyWrapper(cookie);  // tells the bridge nothing
    EXPECT_EQ(bridge->OpenTransactions(), 0);
    EXPECT_EQ(bridge->TotalOutstandingBlocks(), 0);
    EXPECT_EQ(bridge->BadReleases(), 0);
  }

  // Registers a wrapper through the export under the cookie the bridge is told to hand out.
  int32_t Register(int32_t cookie, const OLECHAR* className = OLESTR("Cls")) {
    bridge->SetResult(Entry(BridgeEntry::kRegisterWrapper), cookie);
    int32_t given = 0;
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(className, 0, OLESTR("proc"), &given), S_OK);
    EXPECT_EQ(given, cookie);
    registered_.push_back(cookie);
    return cookie;
  }
  // Leaves kMarker as the context's message, through a registration that the bridge refuses.
  void MarkContext() {
    bridge->SetResult(Entry(BridgeEntry::kRegisterWrapper), 0);
    bridge->SetLastError(-1, kMarker);
    int32_t given = 0;
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(nullptr, 0, nullptr, &given), E_FAIL);
    EXPECT_EQ(LastError(0), kMarker);
  }
  // Scripts the bridge's last error and starts a fresh stretch of the journal.
  void Mark(int32_t code = 0, const char* text = nullptr) {
    bridge->SetLastError(code, text);
    mark_ = bridge->CallCount();
  }

  static int Entry(BridgeEntry entry) { return static_cast<int>(entry); }

  // The bridge calls since Mark, as "Begin Alloc CallMethod Error Free End".
  std::string Calls() const {
    std::string calls;
    for (int32_t i = mark_, n = bridge->CallCount(); i < n; ++i) {
      std::string name = kBridgeEntryNames[bridge->Call(i)->entry] + 8;  // without "ZUL_QEL_"
      if (name == "BeginTransaction") name = "Begin";
      if (name == "EndTransaction") name = "End";
      if (name == "AllocateMemory") name = "Alloc";
      if (name == "ReleaseMemory") name = "Free";
      if (name == "GetLastError") name = "Error";
      calls += (calls.empty() ? "" : " ") + name;
    }
    return calls;
  }
  // The calls since Mark to one entry.
  std::vector<const ZulDoubleCall*> CallsTo(BridgeEntry entry) const {
    std::vector<const ZulDoubleCall*> calls;
    for (int32_t i = mark_, n = bridge->CallCount(); i < n; ++i) {
      if (bridge->Call(i)->entry == Entry(entry)) calls.push_back(bridge->Call(i));
    }
    return calls;
  }
  // Every transaction and memory call since Mark names cookie.
  void ExpectCookie(int32_t cookie) const {
    for (BridgeEntry entry : {BridgeEntry::kBeginTransaction, BridgeEntry::kEndTransaction,
                              BridgeEntry::kAllocateMemory, BridgeEntry::kReleaseMemory}) {
      for (const ZulDoubleCall* call : CallsTo(entry)) EXPECT_EQ(call->cookie, cookie) << Calls();
    }
  }

  // Runs each row on a fresh wrapper with the context marked: drive(cookie, fault) scripts the
  // operation's own bridge call, calls the export with the cookie and checks the caller's values.
  template <class Drive>
  void RunRows(const std::vector<Row>& rows, Drive&& drive) {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.name);
      bridge->SetResult(Entry(BridgeEntry::kBeginTransaction), 0);
      const int32_t cookie = Register(nextCookie_++);
      MarkContext();
      bridge->SetResult(Entry(BridgeEntry::kBeginTransaction), row.fault == Fault::kRefuseBegin ? -1 : 0);
      Mark(row.code, row.text);
      EXPECT_EQ(drive(row.fault == Fault::kUnknownCookie ? cookie + 5000 : cookie, row.fault), row.hr);
      EXPECT_EQ(Calls(), row.calls);
      EXPECT_EQ(LastError(cookie), row.wrapperText);
      EXPECT_EQ(LastError(0), row.contextText);
      ExpectCookie(cookie);
      EXPECT_EQ(bridge->OpenTransactions(), 0);
      EXPECT_EQ(bridge->TotalOutstandingBlocks(), 0);
    }
    bridge->SetResult(Entry(BridgeEntry::kBeginTransaction), 0);
  }

  BridgeDouble* bridge = nullptr;

 private:
  int32_t nextCookie_ = 300;
  std::vector<int32_t> registered_;
  int32_t mark_ = 0;
};

}  // namespace zul::testing

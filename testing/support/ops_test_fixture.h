// Shared by the operation tests, which drive the library through its exports as a client does. After
// every test no transaction may be open and no bridge block outstanding.
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
inline constexpr const char* kAllocationFailed = "Failed to allocate memory.";
inline constexpr const char* kBusy = "The object's associated ZUL process is currently busy.";
inline constexpr const char* kNoActivity = "There is no ZUL activity to abort.";
inline constexpr const char* kMarker = "context marker";
inline constexpr const char* kText = "bridge text";  // what the bridge says
inline constexpr const char* kNone = "<null>";
inline constexpr const char* kEarlier = "an earlier call's text";  // on every row's wrapper beforehand
inline constexpr const char* kEmptyArgument2 = "Argument 2 is VT_EMPTY, which holds no value to pass.";
inline constexpr const char* kNullPointer = "Result pointer is null.";
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
static_assert(sizeof(Variant) == sizeof(VARIANT), "arrays of Variant are passed as arrays of VARIANT");

inline SAFEARRAY* DoubleArray(const Dbls& values) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(values.size()), 0};
  SAFEARRAY* psa = SafeArrayCreate(VT_R8, 1, &bound);
  if (psa != nullptr && !values.empty()) std::memcpy(psa->pvData, values.data(), values.size() * 8);
  return psa;
}

inline Dbls Doubles(const SAFEARRAY* psa) {
  if (psa == nullptr || psa->cDims != 1 || psa->cbElements != sizeof(double)) return {};
  const auto* data = static_cast<const double*>(psa->pvData);
  return Dbls(data, data + psa->rgsabound[0].cElements);
}

// A bridge value for the double to hand out; it copies it, so chars need live only for the call.
inline BridgeValue BridgeText(const char* chars) {
  BridgeValue value{};
  value.type = ZUL_TYP_STRING, value.flags = ZUL_VALUEFLAG_BRIDGE_MEMORY;
  value.value.str = {static_cast<int32_t>(std::strlen(chars)), 1, 0, const_cast<char*>(chars)};
  return value;
}

// What goes wrong in one row of an operation's failure table. kRefused: the transaction; kFailCall:
// the operation's own bridge call (negative, or null); kNoValue: success without a value, or no
// VARIANT from the caller; kBadArg: an argument that cannot be converted, after one that can.
enum Fault { kOk, kBadCookie, kRefused, kFailCall, kBadArg, kNegCount, kNoValue, kBadValue, kBadWrite };

struct Row {
  const char* name;
  Fault fault;
  int32_t code;  // the bridge's last error and its text
  const char* text;
  HRESULT hr;
  std::string calls;                      // as Calls writes them
  const char *wrapperText, *contextText;  // LastError(cookie) and LastError(0) afterwards
};

// The rows of the call frame itself, the same for every operation that runs in it: RunRows runs the
// first two before the operation's own rows (one without a transaction, all four when it converts).
inline const Row kFrameRows[] = {
    {"unknown cookie", kBadCookie, 0, nullptr, E_INVALIDARG, "", kEarlier, kInvalidCookie},
    {"busy transaction", kRefused, -2001, kText, E_ACCESSDENIED, "Begin Error", kText, kBusy},
    {"argument not convertible", kBadArg, 0, nullptr, E_FAIL, "Begin Alloc Free End", kEmptyArgument2,
     kMarker},
    {"negative count", kNegCount, 0, nullptr, E_FAIL, "Begin End", "Argument count -1 is negative.", kMarker},
};

class OpsTest : public ::testing::Test {
 protected:
  void SetUp() override { bridge = &BoundBridgeDouble(); }
  void TearDown() override {
    for (int32_t cookie : registered_) ZUL_MSCOMPAL_DestroyProxyWrapper(cookie);  // tells the bridge nothing
    ExpectClean();
  }
  void ExpectClean() const {
    EXPECT_EQ(bridge->OpenTransactions(), 0);
    EXPECT_EQ(bridge->TotalOutstandingBlocks(), 0);
    EXPECT_EQ(bridge->BadReleases(), 0);
  }

  static int Entry(BridgeEntry entry) { return static_cast<int>(entry); }
  void SetResult(BridgeEntry entry, int32_t result) const { bridge->SetResult(Entry(entry), result); }

  // Registers a wrapper through the export under the cookie the bridge is told to hand out.
  int32_t Register(int32_t cookie, const OLECHAR* className = OLESTR("Cls")) {
    SetResult(BridgeEntry::kRegisterWrapper, cookie);
    int32_t given = 0;
    EXPECT_TRUE(ZUL_MSCOMPAL_RegisterWrapper(className, 0, OLESTR("proc"), &given) == S_OK &&
                given == cookie);
    registered_.push_back(cookie);
    return cookie;
  }
  // Leaves kMarker as the context's message, through a registration that the bridge refuses.
  void MarkContext() {
    SetResult(BridgeEntry::kRegisterWrapper, 0);
    bridge->SetLastError(-1, kMarker);
    int32_t given = 0;
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(nullptr, 0, nullptr, &given), E_FAIL);
  }
  // Leaves kEarlier on the wrapper through a command that the bridge refuses: a failure must show a
  // text of its own, a success keep this one.
  void LeaveEarlierFailure(int32_t cookie) {
    SetResult(BridgeEntry::kExecuteString, -1);
    bridge->SetLastError(-1, kEarlier);
    EXPECT_EQ(ZUL_MSCOMPAL_ExecuteString(cookie, OLESTR("x")), E_FAIL);
    SetResult(BridgeEntry::kExecuteString, 0);
  }
  // Scripts the bridge's last error and starts a fresh stretch of the journal.
  void Mark(int32_t code = 0, const char* text = nullptr) {
    bridge->SetLastError(code, text);
    mark_ = bridge->CallCount();
  }

  // The bridge calls since Mark, as "Begin Alloc CallMethod Error Free End".
  std::string Calls() const {
    static const char* const kShort[] = {"BeginTransaction", "Begin", "EndTransaction", "End",
                                         "AllocateMemory",   "Alloc", "ReleaseMemory",  "Free",
                                         "GetLastError",     "Error"};
    std::string calls;
    for (int32_t i = mark_; i < bridge->CallCount(); ++i) {
      std::string name = kBridgeEntryNames[bridge->Call(i)->entry] + 8;  // without "ZUL_QEL_"
      for (int j = 0; j < 10; j += 2) name = name == kShort[j] ? kShort[j + 1] : name;
      calls += (calls.empty() ? "" : " ") + name;
    }
    return calls;
  }
  // The calls since Mark to one entry.
  std::vector<const ZulDoubleCall*> CallsTo(BridgeEntry entry) const {
    std::vector<const ZulDoubleCall*> calls;
    for (int32_t i = mark_; i < bridge->CallCount(); ++i)
      if (bridge->Call(i)->entry == Entry(entry)) calls.push_back(bridge->Call(i));
    return calls;
  }
  const ZulDoubleCall& FirstCall(BridgeEntry entry) const { return *CallsTo(entry).at(0); }
  // Every transaction and memory call since Mark names cookie.
  void ExpectCookie(int32_t cookie) const {
    for (BridgeEntry entry : {BridgeEntry::kBeginTransaction, BridgeEntry::kEndTransaction,
                              BridgeEntry::kAllocateMemory, BridgeEntry::kReleaseMemory})
      for (const ZulDoubleCall* call : CallsTo(entry)) EXPECT_EQ(call->cookie, cookie) << Calls();
  }

  // Runs the frame's rows and own, each on a fresh wrapper with an earlier failure and the context marked:
  // drive(cookie, fault) scripts the operation's own bridge call, calls the export and checks the caller's
  // values.
  template <class Drive>
  void RunRows(const std::vector<Row>& own, size_t frameRows, Drive&& drive) {
    std::vector<Row> rows(kFrameRows, kFrameRows + frameRows);
    rows.insert(rows.end(), own.begin(), own.end());
    for (const Row& row : rows) {
      SCOPED_TRACE(row.name);
      SetResult(BridgeEntry::kBeginTransaction, 0);
      const int32_t cookie = Register(nextCookie_++);
      LeaveEarlierFailure(cookie);
      MarkContext();
      SetResult(BridgeEntry::kBeginTransaction, row.fault == kRefused ? -1 : 0);
      Mark(row.code, row.text);
      EXPECT_EQ(drive(row.fault == kBadCookie ? cookie + 5000 : cookie, row.fault), row.hr);
      EXPECT_EQ(Calls(), row.calls);
      EXPECT_EQ(LastError(cookie), row.wrapperText);
      EXPECT_EQ(LastError(0), row.contextText);
      ExpectCookie(cookie);
      ExpectClean();
    }
    SetResult(BridgeEntry::kBeginTransaction, 0);
  }

  BridgeDouble* bridge = nullptr;

 private:
  int32_t nextCookie_ = 300;
  std::vector<int32_t> registered_;
  int32_t mark_ = 0;
};

}  // namespace zul::testing

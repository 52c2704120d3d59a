// A wrapper's life and its names through the exports: registration on cookie 0, creation in the
// call frame, destruction and release, proxies, and the name queries.
#include "ops_test_fixture.h"

namespace zul::testing {
namespace {

using Lifecycle = OpsTest;

// A name query's answer through the export, or "<null>".
std::string Name(int32_t cookie, HRESULT (*query)(int32_t, BSTR*) = ZUL_MSCOMPAL_GetObjClassName) {
  BSTR name = nullptr;
  EXPECT_EQ(query(cookie, &name), S_OK);
  const UniqueBstr owned = UniqueBstr::Adopt(name);
  return Ascii(name);
}

TEST_F(Lifecycle, RegisterWrapperRowsRunOnCookieZeroAndAlwaysEndTheTransaction) {
  struct {
    const char* name;
    bool named;                   // "Plot" in "main", or null names
    int32_t begin, handed, code;  // the answers of BeginTransaction and RegisterWrapper, the last error
    const char* text;
    HRESULT hr;
    const char *calls, *contextText;
  } const rows[] = {
      {"success", true, 0, 321, 0, nullptr, S_OK, "Begin RegisterWrapper End", kMarker},
      {"null names stay null", false, 0, 330, 0, nullptr, S_OK, "Begin RegisterWrapper End", kMarker},
      {"refused transaction", true, -1, 322, -2001, "t", S_OK, "Begin RegisterWrapper End", kMarker},
      {"cookie 0 is a failure", true, 0, 0, -2002, kText, E_ABORT, "Begin RegisterWrapper Error End", kText},
      {"busy", true, 0, -5, -2001, kText, E_ACCESSDENIED, "Begin RegisterWrapper Error End", kBusy},
      {"null cookie pointer", true, 0, 323, 0, nullptr, E_POINTER, "", kNullPointer},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    MarkContext();
    SetResult(BridgeEntry::kBeginTransaction, row.begin);
    SetResult(BridgeEntry::kRegisterWrapper, row.handed);
    Mark(row.code, row.text);
    int32_t cookie = -9;
    const bool noOut = row.hr == E_POINTER;
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(row.named ? OLESTR("Plot") : nullptr, 77,
                                           row.named ? OLESTR("main") : nullptr, noOut ? nullptr : &cookie),
              row.hr);
    EXPECT_EQ(Calls(), row.calls);
    EXPECT_EQ(LastError(0), row.contextText);
    ExpectCookie(0);
    EXPECT_EQ(bridge->OpenTransactions(), row.begin < 0 ? -1 : 0) << "ended even when refused";
    EXPECT_EQ(cookie, noOut ? -9 : row.hr == S_OK ? row.handed : 0);
    if (row.hr == S_OK) {
      const ZulDoubleCall& call = FirstCall(BridgeEntry::kRegisterWrapper);
      EXPECT_EQ(std::string(call.texts[0] ? call.texts[0] : "-") + (call.texts[1] ? call.texts[1] : "-") +
                    std::to_string(call.args[0]),
                row.named ? "Plotmain77" : "--77");
      EXPECT_EQ(Name(cookie), row.named ? "Plot" : kNone);
      EXPECT_EQ(Name(cookie, ZUL_MSCOMPAL_GetProcNameFromCookie), row.named ? "main" : kNone);
      EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(cookie), S_OK);
    }
    bridge->Reset();  // the refused row leaves the double's count of open transactions at -1
  }
}

TEST_F(Lifecycle, CreateObjectRows) {
  const char* const failed = "Begin Alloc CreateObject Error Free End";
  const std::vector<Row> rows = {
      {"success", kOk, 0, nullptr, S_OK, "Begin Alloc CreateObject Free End", kEarlier, kMarker},
      // Both the wrapper and the context hold the bridge's error.
      {"creation aborted", kFailCall, -2002, kText, E_ABORT, failed, kText, kText},
      {"creation busy, no text", kFailCall, -2001, nullptr, E_ACCESSDENIED, failed, kUnexpected, kNone},
  };
  RunRows(rows, 4, [&](int32_t cookie, Fault fault) {
    LONG written = 5;
    Variant args[3] = {Variant("a"), Variant(VT_BYREF | VT_I4), Variant(VT_I4, 6)};
    args[1].plVal = &written;
    if (fault == kBadArg) args[1].vt = VT_EMPTY;
    uint32_t flags[3] = {ArgFlag::InOnly, ArgFlag::WriteBack, ArgFlag::InOnly};
    SetResult(BridgeEntry::kCreateObject, fault == kFailCall ? -1 : 0);
    bridge->EchoArgument(-1, 0);
    bridge->EchoArgument(2, 1);  // the constructor changes its by-reference argument
    const HRESULT hr = ZUL_MSCOMPAL_CreateObject(cookie, fault == kNegCount ? -1 : 3, args, flags, 7, 8, 9);
    EXPECT_EQ(written, fault == kOk ? 6 : 5);
    if (fault == kOk) {
      const ZulDoubleCall& call = FirstCall(BridgeEntry::kCreateObject);
      EXPECT_EQ((std::vector<int64_t>(call.args, call.args + 4)), (std::vector<int64_t>{3, 7, 8, 9}));
      EXPECT_EQ(std::string(call.values[0].value.str.chars), "a");
      EXPECT_EQ(call.values[1].value.longVal, 5);
    }
    return hr;
  });
}

// Destruction and release share one shape; a successful release drops the record, so the cookie's
// error is the context's afterwards.
TEST_F(Lifecycle, DestroyObjectAndReleaseWrapperRows) {
  for (const bool release : {false, true}) {
    const std::string name = release ? "ReleaseWrapper" : "DestroyObject";
    SCOPED_TRACE(name);
    const std::string failed = "Begin " + name + " Error End";
    const std::vector<Row> rows = {
        {"success", kOk, 0, nullptr, S_OK, "Begin " + name + " End", release ? kMarker : kEarlier, kMarker},
        {"refused", kFailCall, -2002, kText, E_ABORT, failed, kText, kMarker},
        {"refused, no text", kFailCall, -1, nullptr, E_FAIL, failed, kNone, kMarker},
    };
    RunRows(rows, 2, [&](int32_t cookie, Fault fault) {
      SetResult(release ? BridgeEntry::kReleaseWrapper : BridgeEntry::kDestroyObject,
                fault == kFailCall ? -1 : 0);
      return release ? ZUL_MSCOMPAL_ReleaseWrapper(cookie) : ZUL_MSCOMPAL_DestroyObject(cookie);
    });
  }
}

TEST_F(Lifecycle, ProxiesNeverCallTheBridgeAndKeepAnExistingRecord) {
  const int32_t registered = Register(333, OLESTR("Plot"));
  Mark();
  EXPECT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(334) | ZUL_MSCOMPAL_CreateProxyWrapper(registered), S_OK);
  EXPECT_EQ(Name(334), "") << "a proxy's names are empty, not null";
  EXPECT_EQ(Name(registered), "Plot");
  SetResult(BridgeEntry::kRegisterWrapper, 334);  // the bridge hands out the proxy's cookie
  int32_t cookie = 0;
  EXPECT_TRUE(ZUL_MSCOMPAL_RegisterWrapper(OLESTR("Other"), 0, nullptr, &cookie) == S_OK && cookie == 334);
  EXPECT_EQ(Name(334), "") << "the existing record stays";
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(334), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(334), E_INVALIDARG) << "the record is gone";
  EXPECT_EQ(Calls(), "Begin RegisterWrapper End");
}

// A caller's BSTR is freed by the queries that take it in and out, and left alone by the out-only one.
TEST_F(Lifecycle, NameQueriesRefuseANullPointerAndKeepTheirOwnRuleForTheCallersName) {
  const int32_t cookie = Register(335);
  for (auto query :
       {ZUL_MSCOMPAL_GetObjClassName, ZUL_MSCOMPAL_GetObjVariableName, ZUL_MSCOMPAL_GetProcNameFromCookie}) {
    const bool outOnly = query == ZUL_MSCOMPAL_GetProcNameFromCookie;
    SCOPED_TRACE(outOnly);
    Mark();
    EXPECT_EQ(query(cookie, nullptr), E_POINTER);
    EXPECT_EQ(LastError(0), kNullPointer);
    BSTR name = SysAllocString(OLESTR("mine"));
    EXPECT_EQ(query(cookie + 5000, &name), E_INVALIDARG);
    EXPECT_EQ(LastError(0), kInvalidCookie);
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(Ascii(name), outOnly ? "mine" : kNone);
    if (outOnly) SysFreeString(name);
  }
}

TEST_F(Lifecycle, GetObjVariableNameRows) {
  const char* const calls = "Begin GetObjVariableName End";
  const std::vector<Row> rows = {
      {"success", kOk, 0, nullptr, S_OK, calls, kEarlier, kMarker},
      {"no name, the bridge's text", kFailCall, -1, kText, E_FAIL, "Begin GetObjVariableName Error End",
       kText, kMarker},
  };
  RunRows(rows, 2, [&](int32_t cookie, Fault fault) {
    bridge->SetReturnText(Entry(BridgeEntry::kGetObjVariableName), fault == kFailCall ? nullptr : "plot1");
    BSTR name = SysAllocString(OLESTR("old"));  // freed by the export
    const HRESULT hr = ZUL_MSCOMPAL_GetObjVariableName(cookie, &name);
    EXPECT_EQ(Ascii(name), fault == kOk ? "plot1" : kNone);
    SysFreeString(name);
    return hr;
  });
}

}  // namespace
}  // namespace zul::testing

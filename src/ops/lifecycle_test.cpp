// A wrapper's life and its names through the exports: registration on cookie 0, creation in the
// call frame, destruction and release, proxies, and the variable-name query.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ops_test_fixture.h"

namespace zul {
namespace {

using testing::Ascii;
using testing::Fault;
using testing::kBadArgumentRow;
using testing::kBusy;
using testing::kBusyRow;
using testing::kInvalidCookie;
using testing::kMarker;
using testing::kNegativeCountRow;
using testing::kNone;
using testing::kUnexpected;
using testing::kUnknownCookieRow;
using testing::LastError;
using testing::Row;
using testing::Variant;

using Lifecycle = testing::OpsTest;

std::string ClassName(int32_t cookie) {
  BSTR name = nullptr;
  EXPECT_EQ(ZUL_MSCOMPAL_GetObjClassName(cookie, &name), S_OK);
  const std::string text = Ascii(name);
  SysFreeString(name);
  return text;
}

TEST_F(Lifecycle, RegisterWrapperRowsRunOnCookieZeroAndAlwaysEndTheTransaction) {
  struct RegisterRow {
    const char* name;
    int32_t begin;   // BeginTransaction's answer
    int32_t handed;  // RegisterWrapper's answer
    int32_t code;
    const char* text;
    bool nullOut;
    HRESULT hr;
    const char* calls;
    const char* contextText;
  } const rows[] = {
      {"success", 0, 321, 0, nullptr, false, S_OK, "Begin RegisterWrapper End", kMarker},
      {"refused transaction", -1, 322, -2001, "t", false, S_OK, "Begin RegisterWrapper End", kMarker},
      {"cookie 0 is a failure", 0, 0, -2002, "bridge text", false, E_ABORT, "Begin RegisterWrapper Error End",
       "bridge text"},
      {"busy", 0, -5, -2001, "bridge text", false, E_ACCESSDENIED, "Begin RegisterWrapper Error End", kBusy},
      {"null cookie pointer", 0, 323, 0, nullptr, true, E_POINTER, "", kMarker},
  };
  for (const RegisterRow& row : rows) {
    SCOPED_TRACE(row.name);
    MarkContext();
    bridge->SetResult(Entry(BridgeEntry::kBeginTransaction), row.begin);
    bridge->SetResult(Entry(BridgeEntry::kRegisterWrapper), row.handed);
    Mark(row.code, row.text);
    int32_t cookie = -9;
    EXPECT_EQ(
        ZUL_MSCOMPAL_RegisterWrapper(OLESTR("Plot"), 77, OLESTR("main"), row.nullOut ? nullptr : &cookie),
        row.hr);
    EXPECT_EQ(Calls(), row.calls);
    EXPECT_EQ(LastError(0), row.contextText);
    ExpectCookie(0);
    EXPECT_EQ(bridge->OpenTransactions(), row.begin < 0 ? -1 : 0) << "ended even when refused";
    EXPECT_EQ(cookie, row.nullOut ? -9 : row.hr == S_OK ? row.handed : 0);
    if (row.hr == S_OK) {
      const ZulDoubleCall* call = CallsTo(BridgeEntry::kRegisterWrapper).at(0);
      EXPECT_EQ(std::string(call->texts[0]), "Plot");
      EXPECT_EQ(call->args[0], 77);
      EXPECT_EQ(std::string(call->texts[1]), "main");
      EXPECT_EQ(ClassName(cookie), "Plot");
      EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(cookie), S_OK);
    }
    bridge->Reset();  // the refused row leaves the double's count of open transactions at -1
  }
}

TEST_F(Lifecycle, NullNamesReachTheBridgeAsNullAndAreKeptNull) {
  bridge->SetResult(Entry(BridgeEntry::kRegisterWrapper), 330);
  int32_t cookie = 0;
  Mark();
  ASSERT_EQ(ZUL_MSCOMPAL_RegisterWrapper(nullptr, 0, nullptr, &cookie), S_OK);
  const ZulDoubleCall* call = CallsTo(BridgeEntry::kRegisterWrapper).at(0);
  EXPECT_EQ(call->texts[0], nullptr);
  EXPECT_EQ(call->texts[1], nullptr);
  EXPECT_EQ(ClassName(cookie), kNone);
  BSTR proc = reinterpret_cast<BSTR>(0x1);
  EXPECT_EQ(ZUL_MSCOMPAL_GetProcNameFromCookie(cookie, &proc), S_OK);
  EXPECT_EQ(proc, nullptr);
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(cookie), S_OK);
}

TEST_F(Lifecycle, CreateObjectRows) {
  const std::vector<Row> rows = {
      {"success", Fault::kNone, 0, nullptr, S_OK, "Begin Alloc CreateObject Free End", kNone, kMarker},
      kUnknownCookieRow,
      kBusyRow,
      kBadArgumentRow,
      kNegativeCountRow,
      // Both the wrapper and the context hold the bridge's error.
      {"creation aborted", Fault::kFailCall, -2002, "bridge text", E_ABORT,
       "Begin Alloc CreateObject Error Free End", "bridge text", "bridge text"},
      {"creation busy, no text", Fault::kFailCall, -2001, nullptr, E_ACCESSDENIED,
       "Begin Alloc CreateObject Error Free End", kUnexpected, kNone},
  };
  RunRows(rows, [&](int32_t cookie, Fault fault) {
    Variant text("a");
    LONG written = 5;
    VARIANT args[3] = {text, Variant(VT_BYREF | VT_I4, 0), Variant(VT_I4, 6)};
    args[1].plVal = &written;
    if (fault == Fault::kBadArgument) args[1].vt = VT_EMPTY;
    uint32_t flags[3] = {ArgFlag::InOnly, ArgFlag::WriteBack, ArgFlag::InOnly};
    bridge->SetResult(Entry(BridgeEntry::kCreateObject), fault == Fault::kFailCall ? -1 : 0);
    bridge->EchoArgument(-1, 0);
    bridge->EchoArgument(2, 1);  // the constructor changes its by-reference argument
    const HRESULT hr =
        ZUL_MSCOMPAL_CreateObject(cookie, fault == Fault::kNegativeCount ? -1 : 3, args, flags, 7, 8, 9);
    EXPECT_EQ(written, fault == Fault::kNone ? 6 : 5);
    if (fault == Fault::kNone) {
      const ZulDoubleCall* call = CallsTo(BridgeEntry::kCreateObject).at(0);
      EXPECT_EQ((std::vector<int64_t>(call->args, call->args + 4)), (std::vector<int64_t>{3, 7, 8, 9}));
      EXPECT_EQ(std::string(call->values[0].value.str.chars), "a");
      EXPECT_EQ(call->values[1].value.longVal, 5);
    }
    return hr;
  });
}

TEST_F(Lifecycle, CreateObjectWithoutArgumentsPassesNullArrays) {
  const int32_t cookie = Register(331);
  Mark();
  EXPECT_EQ(ZUL_MSCOMPAL_CreateObject(cookie, 0, nullptr, nullptr, 0, 0, 0), S_OK);
  EXPECT_EQ(Calls(), "Begin CreateObject End");
  const ZulDoubleCall* call = CallsTo(BridgeEntry::kCreateObject).at(0);
  EXPECT_EQ(call->valueCount, 0);
  EXPECT_EQ(call->flags, nullptr);
}

// Destruction and release share one shape; a successful release drops the record, so the cookie's
// error is the context's afterwards.
TEST_F(Lifecycle, DestroyObjectAndReleaseWrapperRows) {
  struct Operation {
    const char* name;
    BridgeEntry entry;
    HRESULT (*call)(int32_t);
    const char* successText;
  } const operations[] = {
      {"DestroyObject", BridgeEntry::kDestroyObject, ZUL_MSCOMPAL_DestroyObject, kNone},
      {"ReleaseWrapper", BridgeEntry::kReleaseWrapper, ZUL_MSCOMPAL_ReleaseWrapper, kMarker},
  };
  for (const Operation& operation : operations) {
    SCOPED_TRACE(operation.name);
    const std::string name = operation.name;
    const std::string success = "Begin " + name + " End";
    const std::string failed = "Begin " + name + " Error End";
    const std::vector<Row> rows = {
        {"success", Fault::kNone, 0, nullptr, S_OK, success.c_str(), operation.successText, kMarker},
        kUnknownCookieRow,
        kBusyRow,
        {"refused", Fault::kFailCall, -2002, "bridge text", E_ABORT, failed.c_str(), "bridge text", kMarker},
        {"refused, no text", Fault::kFailCall, -1, nullptr, E_FAIL, failed.c_str(), kNone, kMarker},
    };
    RunRows(rows, [&](int32_t cookie, Fault fault) {
      bridge->SetResult(Entry(operation.entry), fault == Fault::kFailCall ? -1 : 0);
      return operation.call(cookie);
    });
  }
}

TEST_F(Lifecycle, AReleasedCookieIsUnknownToEveryOperation) {
  const int32_t cookie = Register(332);
  ASSERT_EQ(ZUL_MSCOMPAL_ReleaseWrapper(cookie), S_OK);
  Mark();
  Variant result;
  EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("m"), 0, nullptr, nullptr, &result), E_INVALIDARG);
  EXPECT_EQ(ZUL_MSCOMPAL_ReleaseWrapper(cookie), E_INVALIDARG);
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(cookie), E_INVALIDARG);
  EXPECT_EQ(Calls(), "");
  EXPECT_EQ(LastError(0), kInvalidCookie);
}

TEST_F(Lifecycle, ProxiesNeverCallTheBridgeAndKeepAnExistingRecord) {
  const int32_t registered = Register(333, OLESTR("Plot"));
  Mark();
  EXPECT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(334), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(registered), S_OK);
  EXPECT_EQ(Calls(), "");
  EXPECT_EQ(ClassName(334), "") << "a proxy's names are empty, not null";
  EXPECT_EQ(ClassName(registered), "Plot");
  bridge->SetResult(Entry(BridgeEntry::kRegisterWrapper), 334);  // the bridge hands out the proxy's cookie
  int32_t cookie = 0;
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(OLESTR("Other"), 0, nullptr, &cookie), S_OK);
  EXPECT_EQ(cookie, 334);
  EXPECT_EQ(ClassName(334), "") << "the existing record stays";
  Mark();
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(334), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(334), E_INVALIDARG);
  EXPECT_EQ(LastError(0), kInvalidCookie);
  EXPECT_EQ(ZUL_MSCOMPAL_ReleaseWrapper(334), E_INVALIDARG);
  EXPECT_EQ(Calls(), "");
}

// A caller's BSTR is freed by the queries that take it in and out, and left alone by the out-only one.
TEST_F(Lifecycle, NameQueriesRefuseANullPointerAndKeepTheirOwnRuleForTheCallersName) {
  struct Query {
    const char* name;
    HRESULT (*call)(int32_t, BSTR*);
    bool freesTheCallers;
  } const queries[] = {
      {"GetObjClassName", ZUL_MSCOMPAL_GetObjClassName, true},
      {"GetObjVariableName", ZUL_MSCOMPAL_GetObjVariableName, true},
      {"GetProcNameFromCookie", ZUL_MSCOMPAL_GetProcNameFromCookie, false},
  };
  const int32_t cookie = Register(335);
  for (const Query& query : queries) {
    SCOPED_TRACE(query.name);
    Mark();
    EXPECT_EQ(query.call(cookie, nullptr), E_POINTER);
    BSTR name = SysAllocString(OLESTR("mine"));
    EXPECT_EQ(query.call(cookie + 5000, &name), E_INVALIDARG);
    EXPECT_EQ(LastError(0), kInvalidCookie);
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(Ascii(name), query.freesTheCallers ? kNone : "mine");
    if (!query.freesTheCallers) SysFreeString(name);
  }
}

TEST_F(Lifecycle, GetObjVariableNameRows) {
  const std::vector<Row> rows = {
      {"success", Fault::kNone, 0, nullptr, S_OK, "Begin GetObjVariableName End", kNone, kMarker},
      kUnknownCookieRow,
      kBusyRow,
      {"no name, no message", Fault::kFailCall, -1, "bridge text", E_FAIL, "Begin GetObjVariableName End",
       kNone, kMarker},
  };
  RunRows(rows, [&](int32_t cookie, Fault fault) {
    bridge->SetReturnText(Entry(BridgeEntry::kGetObjVariableName),
                          fault == Fault::kFailCall ? nullptr : "plot1");
    BSTR name = SysAllocString(OLESTR("old"));  // freed by the export
    const HRESULT hr = ZUL_MSCOMPAL_GetObjVariableName(cookie, &name);
    EXPECT_EQ(Ascii(name), fault == Fault::kNone ? "plot1" : kNone);
    SysFreeString(name);
    return hr;
  });
}

}  // namespace
}  // namespace zul

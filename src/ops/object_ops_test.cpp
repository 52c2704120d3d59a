// The operations that run in the call frame, through the exports: the bridge calls of each row of
// their failure tables, the messages left on the wrapper and the context, the caller's values, and
// the bridge memory given back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ops_test_fixture.h"

namespace zul {
namespace {

using testing::Ascii;
using testing::BridgeDoubles;
using testing::BridgeText;
using testing::DoubleArray;
using testing::Doubles;
using testing::Fault;
using testing::kBadArgumentRow;
using testing::kBusy;
using testing::kBusyRow;
using testing::kMarker;
using testing::kNegativeCountRow;
using testing::kNoActivity;
using testing::kNone;
using testing::kUnexpected;
using testing::kUnknownCookieRow;
using testing::LastError;
using testing::Row;
using testing::StringArray;
using testing::Variant;
using Dbls = std::vector<double>;

using ObjectOps = testing::OpsTest;

constexpr const char* kObjectRefOut =
    "Object references must be in-only (constant).  They cannot be returned.";
constexpr const char* kCannotResize =
    "Can't return modified (resized) safearray; client safearray is FIXED/STATIC/locked.";
constexpr const char* kAllocationFailed = "Failed to allocate memory.";

// A bridge value that cannot be converted out: an array of object references.
struct ObjectRefs : BridgeDoubles {
  ObjectRefs() : BridgeDoubles({0}) { value.type = ZUL_TYP_OBJREF; }
};

// The caller's side of a method call: a string, an array in, an array written back, and a result.
struct MethodArgs {
  MethodArgs() {
    for (VARIANT& arg : args) VariantInit(&arg);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocString(OLESTR("abc"));
    args[1].vt = VT_ARRAY | VT_R8;
    args[1].parray = DoubleArray({1, 2, 3});
    args[2].vt = VT_BYREF | VT_ARRAY | VT_R8;
    args[2].pparray = &out;
  }
  ~MethodArgs() {
    VariantClear(&args[0]);
    VariantClear(&args[1]);
    out->fFeatures &= ~FADF_FIXEDSIZE;
    SafeArrayDestroy(out);
  }
  bool OutUntouched() const { return out == original && Doubles(out) == Dbls{0, 0}; }

  SAFEARRAY* out = DoubleArray({0, 0});
  SAFEARRAY* const original = out;
  VARIANT args[3];
  uint32_t flags[3] = {ArgFlag::InOnly, ArgFlag::InOnly | ArgFlag::Reorder, ArgFlag::WriteBack};
  Variant result{VT_I4, 42};
};

TEST_F(ObjectOps, CallMethodRows) {
  const std::vector<Row> rows = {
      {"success", Fault::kNone, 0, nullptr, S_OK,
       "Begin Alloc Alloc Alloc Alloc Alloc CallMethod Free Free Free Free Free End", kNone, kMarker},
      kUnknownCookieRow,
      kBusyRow,
      {"refused transaction, no text", Fault::kRefuseBegin, -7, nullptr, E_FAIL, "Begin Error", kNone,
       kMarker},
      kBadArgumentRow,
      kNegativeCountRow,
      {"call aborted", Fault::kFailCall, -2002, "bridge text", E_ABORT,
       "Begin Alloc Alloc Alloc Alloc Alloc CallMethod Error Free Free Free Free Free End", "bridge text",
       kMarker},
      {"nothing to abort, no text", Fault::kFailCall, -2004, nullptr, E_FAIL,
       "Begin Alloc Alloc Alloc Alloc Alloc CallMethod Error Free Free Free Free Free End", kUnexpected,
       kNoActivity},
      {"aborted, empty text", Fault::kFailCall, -4001, "", E_ABORT,
       "Begin Alloc Alloc Alloc Alloc Alloc CallMethod Error Free Free Free Free Free End", kUnexpected,
       kMarker},
      {"result slot left null", Fault::kNoValue, 0, nullptr, E_FAIL,
       "Begin Alloc Alloc Alloc Alloc Alloc CallMethod Free Free Free Free Free End", kUnexpected, kMarker},
      {"result not convertible", Fault::kBadValue, 0, nullptr, E_FAIL,
       "Begin Alloc Alloc Alloc Alloc Alloc CallMethod Free Free Free Free Free End", kObjectRefOut, kMarker},
      {"write-back refused", Fault::kBadWriteBack, 0, nullptr, E_FAIL,
       "Begin Alloc Alloc Alloc Alloc Alloc CallMethod Free Free Free Free Free End", kCannotResize, kMarker},
  };
  RunRows(rows, [&](int32_t cookie, Fault fault) {
    MethodArgs call;
    const BridgeValue text = BridgeText("r");
    const ObjectRefs refs;
    bridge->SetResult(Entry(BridgeEntry::kCallMethod), fault == Fault::kFailCall ? -1 : 0);
    bridge->SetReturnValue(Entry(BridgeEntry::kCallMethod), fault == Fault::kNoValue    ? nullptr
                                                            : fault == Fault::kBadValue ? &refs.value
                                                                                        : &text);
    bridge->EchoArgument(-1, 0);
    if (fault == Fault::kNone) bridge->EchoArgument(1, -1);
    if (fault == Fault::kNone || fault == Fault::kBadWriteBack) bridge->EchoArgument(1, 2);
    if (fault == Fault::kBadArgument) VariantClear(&call.args[1]);
    if (fault == Fault::kBadWriteBack) call.out->fFeatures |= FADF_FIXEDSIZE;

    const HRESULT hr = ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Add"), fault == Fault::kNegativeCount ? -1 : 3,
                                               call.args, call.flags, &call.result);
    if (fault == Fault::kNone) {
      EXPECT_EQ(call.result.vt, VT_ARRAY | VT_R8);
      EXPECT_EQ(Doubles(call.result.parray), (Dbls{1, 2, 3}));
      EXPECT_EQ(Doubles(call.out), (Dbls{1, 2, 3})) << "written back";
      const auto calls = CallsTo(BridgeEntry::kCallMethod);
      EXPECT_EQ(std::string(calls.at(0)->texts[0]), "Add");
      EXPECT_EQ(calls[0]->args[0], 3);
      EXPECT_EQ(calls[0]->resultSlotGiven, 1);
      EXPECT_EQ((std::vector<uint32_t>(calls[0]->flags, calls[0]->flags + 3)),
                (std::vector<uint32_t>{1, 0x4001, 2}));
      EXPECT_EQ(std::string(calls[0]->values[0].value.str.chars), "abc");
      EXPECT_EQ(calls[0]->values[1].value.array->elementCount, 3);
    } else if (fault == Fault::kBadWriteBack) {
      EXPECT_EQ(call.result.vt, VT_BSTR) << "the result is converted before any write-back";
      if (call.result.vt == VT_BSTR) {
        EXPECT_EQ(Ascii(call.result.bstrVal), "r");
      }
      EXPECT_TRUE(call.OutUntouched());
    } else if (fault != Fault::kBadValue) {
      EXPECT_EQ(call.result.vt, VT_I4);
      EXPECT_EQ(call.result.lVal, 42);
      EXPECT_TRUE(call.OutUntouched());
    }
    return hr;
  });
}

TEST_F(ObjectOps, CallMethodWritesBackOnlyFlaggedArgumentsAndAsksForNoResultWithoutAVariant) {
  const int32_t cookie = Register(201);
  MethodArgs call;
  const BSTR text = call.args[0].bstrVal;
  bridge->EchoArgument(1, 0);  // the bridge changes the unflagged string too
  bridge->EchoArgument(1, 2);
  Mark();
  EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(cookie, nullptr, 3, call.args, call.flags, nullptr), S_OK);
  EXPECT_EQ(call.args[0].vt, VT_BSTR);
  EXPECT_EQ(call.args[0].bstrVal, text);
  EXPECT_EQ(Doubles(call.out), (Dbls{1, 2, 3}));
  auto calls = CallsTo(BridgeEntry::kCallMethod);
  EXPECT_EQ(calls.at(0)->resultSlotGiven, 0);
  EXPECT_EQ(calls[0]->texts[0], nullptr) << "a null name reaches the bridge as null";

  Variant result;
  Mark();
  EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("m"), 0, nullptr, nullptr, &result), E_FAIL)
      << "no value in the slot";
  calls = CallsTo(BridgeEntry::kCallMethod);
  EXPECT_EQ(calls.at(0)->args[0], 0);
  EXPECT_EQ(calls[0]->valueCount, 0);
  EXPECT_EQ(calls[0]->flags, nullptr);
  EXPECT_EQ(Calls(), "Begin CallMethod End");
}

// Property and variable reads share one shape; the variable read clears the caller's VARIANT first.
class ReadOps : public testing::OpsTest {
 protected:
  void ReadRows(BridgeEntry entry, const std::string& read, bool clears) {
    const std::string released = "Begin " + read + " Free End";
    const std::string refused = "Begin " + read + " Error End";
    const std::string twice = "Begin " + read + " Free Free End";
    const std::vector<Row> rows = {
        {"success", Fault::kNone, 0, nullptr, S_OK, released.c_str(), kNone, kMarker},
        kUnknownCookieRow,
        kBusyRow,
        {"read refused, busy", Fault::kFailCall, -2001, "bridge text", E_ACCESSDENIED, refused.c_str(),
         "bridge text", kBusy},
        {"read refused, no text", Fault::kFailCall, -3, nullptr, E_FAIL, refused.c_str(), kUnexpected,
         kMarker},
        {"null result pointer", Fault::kNoValue, 0, nullptr, E_FAIL, released.c_str(), kUnexpected, kMarker},
        {"value not convertible", Fault::kBadValue, 0, nullptr, E_FAIL, twice.c_str(), kObjectRefOut,
         kMarker},
    };
    RunRows(rows, [&](int32_t cookie, Fault fault) {
      Variant result("old");
      const BridgeValue text = BridgeText("blue");
      const ObjectRefs refs;
      bridge->SetReturnValue(Entry(entry), fault == Fault::kFailCall   ? nullptr
                                           : fault == Fault::kBadValue ? &refs.value
                                                                       : &text);
      VARIANT* out = fault == Fault::kNoValue ? nullptr : &result;
      const HRESULT hr = entry == BridgeEntry::kGetProperty
                             ? ZUL_MSCOMPAL_GetProperty(cookie, OLESTR("Color"), out)
                             : ZUL_MSCOMPAL_GetZULVariable(cookie, OLESTR("Color"), out);
      if (fault == Fault::kNone) {
        EXPECT_EQ(result.vt, VT_BSTR);
        EXPECT_EQ(Ascii(result.bstrVal), "blue");
        EXPECT_EQ(std::string(CallsTo(entry).at(0)->texts[0]), "Color");
      } else if (fault == Fault::kBadValue || fault == Fault::kNoValue) {
        // converted, or never given
      } else if (clears) {
        EXPECT_EQ(result.vt, VT_EMPTY) << "cleared before anything else";
      } else {
        EXPECT_EQ(Ascii(result.bstrVal), "old") << "untouched until the bridge answers";
      }
      return hr;
    });
  }
};

TEST_F(ReadOps, GetPropertyRows) {
  ReadRows(BridgeEntry::kGetProperty, "GetProperty", false);
}

TEST_F(ReadOps, GetZULVariableRows) {
  ReadRows(BridgeEntry::kGetZULVariable, "GetZULVariable", true);
}

TEST_F(ObjectOps, SetPropertyRows) {
  const std::vector<Row> rows = {
      {"success", Fault::kNone, 0, nullptr, S_OK, "Begin Alloc Alloc SetProperty Free Free End", kNone,
       kMarker},
      kUnknownCookieRow,
      kBusyRow,
      kBadArgumentRow,
      kNegativeCountRow,
      {"set refused", Fault::kFailCall, -2003, "bridge text", E_ACCESSDENIED,
       "Begin Alloc Alloc SetProperty Error Free Free End", "bridge text", kMarker},
      {"set refused, no text", Fault::kFailCall, -1, nullptr, E_FAIL,
       "Begin Alloc Alloc SetProperty Error Free Free End", kUnexpected, kMarker},
  };
  RunRows(rows, [&](int32_t cookie, Fault fault) {
    Variant first("v"), second("w");
    VARIANT args[2] = {first, second};
    if (fault == Fault::kBadArgument) args[1].vt = VT_EMPTY;
    uint32_t flags[2] = {ArgFlag::WriteBack, 0};
    bridge->SetResult(Entry(BridgeEntry::kSetProperty), fault == Fault::kFailCall ? -1 : 0);
    bridge->EchoArgument(-1, 0);
    bridge->EchoArgument(1, 0);  // the bridge changes the flagged argument
    const HRESULT hr = ZUL_MSCOMPAL_SetProperty(cookie, OLESTR("Width"),
                                                fault == Fault::kNegativeCount ? -1 : 2, args, flags);
    EXPECT_EQ(Ascii(args[0].bstrVal), "v") << "never written back";
    if (fault == Fault::kNone) {
      const ZulDoubleCall* call = CallsTo(BridgeEntry::kSetProperty).at(0);
      EXPECT_EQ(std::string(call->texts[0]), "Width");
      EXPECT_EQ(call->valueCount, 2);
      EXPECT_EQ(call->flags[0], ArgFlag::WriteBack);
      EXPECT_EQ(std::string(call->values[1].value.str.chars), "w");
    }
    return hr;
  });
}

TEST_F(ObjectOps, SetZULVariableRows) {
  const std::vector<Row> rows = {
      {"success", Fault::kNone, 0, nullptr, S_OK, "Begin Alloc SetZULVariable Free End", kNone, kMarker},
      kUnknownCookieRow,
      kBusyRow,
      {"value not convertible", Fault::kBadArgument, 0, nullptr, E_FAIL, "Begin End", kUnexpected, kMarker},
      {"write aborted", Fault::kFailCall, -2002, "bridge text", E_ABORT,
       "Begin Alloc SetZULVariable Error Free End", "bridge text", kMarker},
  };
  RunRows(rows, [&](int32_t cookie, Fault fault) {
    Variant value("v");
    const BSTR chars = value.bstrVal;
    if (fault == Fault::kBadArgument) value.vt = VT_EMPTY;
    const VARTYPE vt = value.vt;
    bridge->SetResult(Entry(BridgeEntry::kSetZULVariable), fault == Fault::kFailCall ? -1 : 0);
    const HRESULT hr = ZUL_MSCOMPAL_SetZULVariable(cookie, OLESTR("Rate"), value);
    EXPECT_EQ(value.vt, vt) << "the caller's VARIANT is never changed";
    EXPECT_EQ(value.bstrVal, chars);
    value.vt = VT_BSTR;
    if (fault == Fault::kNone) {
      const ZulDoubleCall* call = CallsTo(BridgeEntry::kSetZULVariable).at(0);
      EXPECT_EQ(std::string(call->texts[0]), "Rate");
      EXPECT_EQ(call->valueCount, 1);
      if (call->valueCount == 1) {
        EXPECT_EQ(std::string(call->values[0].value.str.chars), "v");
      }
    }
    return hr;
  });
}

TEST_F(ObjectOps, ExecuteStringRows) {
  const std::vector<Row> rows = {
      {"success", Fault::kNone, 0, nullptr, S_OK, "Begin ExecuteString End", kNone, kMarker},
      kUnknownCookieRow,
      kBusyRow,
      {"command aborted", Fault::kFailCall, -2002, "bridge text", E_ABORT, "Begin ExecuteString Error End",
       "bridge text", kMarker},
      {"no text stays no text", Fault::kFailCall, -1, nullptr, E_FAIL, "Begin ExecuteString Error End", kNone,
       kMarker},
      {"busy command, empty text", Fault::kFailCall, -2001, "", E_ACCESSDENIED,
       "Begin ExecuteString Error End", kNone, kBusy},
  };
  RunRows(rows, [&](int32_t cookie, Fault fault) {
    bridge->SetResult(Entry(BridgeEntry::kExecuteString), fault == Fault::kFailCall ? -1 : 0);
    return ZUL_MSCOMPAL_ExecuteString(cookie, OLESTR("x = 1"));
  });
}

TEST_F(ObjectOps, AbortRowsNeverTouchATransaction) {
  const std::vector<Row> rows = {
      {"success", Fault::kNone, 0, nullptr, S_OK, "Abort", kNone, kMarker},
      {"while transactions are refused", Fault::kRefuseBegin, 0, nullptr, S_OK, "Abort", kNone, kMarker},
      kUnknownCookieRow,
      {"busy", Fault::kFailCall, -2001, "bridge text", E_ACCESSDENIED, "Abort Error", "bridge text", kBusy},
      {"aborted", Fault::kFailCall, -2002, "bridge text", E_ABORT, "Abort Error", "bridge text", kMarker},
      {"refused", Fault::kFailCall, -2003, "bridge text", E_ACCESSDENIED, "Abort Error", "bridge text",
       kMarker},
      {"nothing running", Fault::kFailCall, -2004, "bridge text", E_FAIL, "Abort Error", "bridge text",
       kNoActivity},
      {"already aborting", Fault::kFailCall, -4001, "bridge text", E_ABORT, "Abort Error", "bridge text",
       kMarker},
      {"other, no text", Fault::kFailCall, -1, nullptr, E_FAIL, "Abort Error", kNone, kMarker},
  };
  RunRows(rows, [&](int32_t cookie, Fault fault) {
    bridge->SetResult(Entry(BridgeEntry::kAbort), fault == Fault::kFailCall ? -1 : 0);
    return ZUL_MSCOMPAL_Abort(cookie);
  });
}

// Each bridge allocation of a call with a string, an array of doubles and an array of strings fails
// in turn: the string, each array's descriptor and data, then each string element.
TEST_F(ObjectOps, BridgeMemoryRunningOutFailsTheCallAndGivesEverythingBack) {
  const char* const messages[] = {kUnexpected,       kUnexpected, kAllocationFailed, kUnexpected,
                                  kAllocationFailed, kUnexpected, kUnexpected};
  struct Operation {
    const char* name;
    HRESULT (*call)(int32_t cookie, VARIANT* args, uint32_t* flags);
  } const operations[] = {
      {"CallMethod", [](int32_t c, VARIANT* a,
                        uint32_t* f) { return ZUL_MSCOMPAL_CallMethod(c, OLESTR("m"), 3, a, f, nullptr); }},
      {"SetProperty",
       [](int32_t c, VARIANT* a, uint32_t* f) { return ZUL_MSCOMPAL_SetProperty(c, OLESTR("p"), 3, a, f); }},
      {"CreateObject",
       [](int32_t c, VARIANT* a, uint32_t* f) { return ZUL_MSCOMPAL_CreateObject(c, 3, a, f, 0, 0, 0); }},
  };
  int32_t cookie = 400;
  for (const Operation& operation : operations) {
    for (int nth = 1; nth <= 8; ++nth) {
      SCOPED_TRACE(std::string(operation.name) + " failing allocation " + std::to_string(nth));
      Register(++cookie);
      Variant text("abc");
      VARIANT args[3] = {text, Variant(), Variant()};
      args[1].vt = VT_ARRAY | VT_R8;
      args[1].parray = DoubleArray({1, 2, 3});
      args[2].vt = VT_ARRAY | VT_BSTR;
      args[2].parray = StringArray({"x", "y"});
      uint32_t flags[3] = {ArgFlag::InOnly, ArgFlag::InOnly, ArgFlag::InOnly};
      bridge->FailAllocationAt(nth);
      Mark();
      const HRESULT hr = operation.call(cookie, args, flags);
      bridge->FailAllocationAt(0);
      SafeArrayDestroy(args[1].parray);
      SafeArrayDestroy(args[2].parray);

      EXPECT_EQ(hr, nth <= 7 ? E_FAIL : S_OK);
      EXPECT_EQ(LastError(cookie), nth <= 7 ? messages[nth - 1] : kNone);
      const std::string calls = Calls();
      EXPECT_EQ(calls.rfind("End"), calls.size() - 3) << calls;
      EXPECT_EQ(CallsTo(BridgeEntry::kEndTransaction).size(), 1u);
      EXPECT_EQ(CallsTo(BridgeEntry::kAllocateMemory).size(), static_cast<size_t>(nth <= 7 ? nth : 7));
      EXPECT_EQ(CallsTo(BridgeEntry::kReleaseMemory).size(), static_cast<size_t>(nth <= 7 ? nth - 1 : 7));
      EXPECT_EQ(bridge->TotalOutstandingBlocks(), 0);
    }
  }
}

TEST_F(ObjectOps, CommandsOfAnyLengthReachTheBridgeWhole) {
  const int32_t cookie = Register(202);
  // Up to 4 KiB of converted text on the stack, above that on the heap.
  for (const size_t length : {size_t{0}, size_t{2047}, size_t{2048}, size_t{3'000'000}}) {
    SCOPED_TRACE(length);
    std::basic_string<OLECHAR> command;
    std::string expected;
    for (size_t i = 0; i < length; ++i) expected += static_cast<char>('a' + i % 26);
    command.assign(expected.begin(), expected.end());
    Mark();
    EXPECT_EQ(ZUL_MSCOMPAL_ExecuteString(cookie, command.c_str()), S_OK);
    const ZulDoubleCall* call = CallsTo(BridgeEntry::kExecuteString).at(0);
    ASSERT_NE(call->texts[0], nullptr);
    EXPECT_TRUE(call->texts[0] == expected) << "length " << std::string(call->texts[0]).size();
  }
  Mark();
  EXPECT_EQ(ZUL_MSCOMPAL_ExecuteString(cookie, nullptr), S_OK);
  EXPECT_EQ(CallsTo(BridgeEntry::kExecuteString).at(0)->texts[0], nullptr);
}

}  // namespace
}  // namespace zul

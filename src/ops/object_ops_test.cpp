// The operations on an object through the exports: the bridge calls of each row of their failure
// tables, the messages left on the wrapper and the context, and the caller's values.
#include "ops_test_fixture.h"

namespace zul::testing {
namespace {

using ObjectOps = OpsTest;

constexpr const char* kObjectRefOut =
    "Object references must be in-only (constant).  They cannot be returned.";
constexpr const char* kCannotResize =
    "Can't return modified (resized) safearray; client safearray is FIXED/STATIC/locked.";

// A bridge value that cannot be converted out, in two blocks: an array of object references.
struct ObjectRefs {
  ObjectRefs() {
    value.type = ZUL_TYP_OBJREF, value.flags = ZUL_VALUEFLAG_ARRAY | ZUL_VALUEFLAG_BRIDGE_MEMORY;
    value.value.array = &array;
  }
  int64_t ref = 0;
  BridgeArray array{sizeof ref, sizeof ref, 1, &ref, 1, {}, {1}, {}};
  BridgeValue value{};
};

// The caller's side of a method call: a string, an array in, an array written back, and a result.
struct MethodArgs {
  MethodArgs() {
    args[0].bstrVal = SysAllocString(OLESTR("abc"));
    args[1].parray = DoubleArray({1, 2, 3});
    args[2].pparray = &out;
  }
  ~MethodArgs() {
    out->fFeatures &= ~FADF_FIXEDSIZE;
    SafeArrayDestroy(out);
  }
  bool OutUntouched() const { return out == original && Doubles(out) == Dbls{0, 0}; }
  SAFEARRAY* out = DoubleArray({0, 0});
  SAFEARRAY* const original = out;
  Variant args[3] = {Variant(VT_BSTR), Variant(VT_ARRAY | VT_R8), Variant(VT_BYREF | VT_ARRAY | VT_R8)};
  uint32_t flags[3] = {ArgFlag::InOnly, ArgFlag::InOnly | ArgFlag::Reorder,
                       ArgFlag::WriteBack | ArgFlag::WriteBackChanged};
  Variant result{VT_I4, 42};
};

TEST_F(ObjectOps, CallMethodRows) {
  const std::string call = "Begin Alloc Alloc Alloc Alloc Alloc CallMethod ";
  const std::string ok = call + "Free Free Free Free Free End",
                    failed = call + "Error Free Free Free Free Free End";
  const std::vector<Row> rows = {
      {"success", kOk, 0, nullptr, S_OK, call + "Free Free Free Free Free Free End", kEarlier, kMarker},
      {"refused transaction, no text", kRefused, -7, nullptr, E_FAIL, "Begin Error", kNone, kMarker},
      {"call aborted", kFailCall, -2002, kText, E_ABORT, failed, kText, kMarker},
      {"nothing to abort", kFailCall, -2004, nullptr, E_FAIL, failed, kUnexpected, kNoActivity},
      {"aborted, empty text", kFailCall, -4001, "", E_ABORT, failed, kUnexpected, kMarker},
      {"result slot left null", kNoValue, 0, nullptr, E_FAIL, ok,
       "The bridge returned no value for the result.", kMarker},
      {"result not convertible", kBadValue, 0, nullptr, E_FAIL, ok, kObjectRefOut, kMarker},
      {"write-back refused", kBadWrite, 0, nullptr, E_FAIL, ok, kCannotResize, kMarker},
  };
  RunRows(rows, 4, [&](int32_t cookie, Fault fault) {
    MethodArgs call;
    const BSTR abc = call.args[0].bstrVal;
    const BridgeValue text = BridgeText("r");
    const ObjectRefs refs;
    SetResult(BridgeEntry::kCallMethod, fault == kFailCall ? -1 : 0);
    bridge->SetReturnValue(Entry(BridgeEntry::kCallMethod), fault == kNoValue    ? nullptr
                                                            : fault == kBadValue ? &refs.value
                                                                                 : &text);
    bridge->EchoArgument(-1, 0);
    if (fault == kOk) bridge->EchoArgument(1, -1), bridge->EchoArgument(1, 0);  // 0 is not to be written back
    if (fault == kOk || fault == kBadWrite) bridge->EchoArgument(1, 2);
    if (fault == kBadArg) VariantClear(&call.args[1]);
    if (fault == kBadWrite) call.out->fFeatures |= FADF_FIXEDSIZE;
    const int32_t count = fault == kNegCount ? -1 : 3;
    const HRESULT hr =
        ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Add"), count, call.args, call.flags, &call.result);
    if (fault == kOk) {
      EXPECT_EQ(call.result.vt == (VT_ARRAY | VT_R8) ? Doubles(call.result.parray) : Dbls{}, (Dbls{1, 2, 3}));
      EXPECT_EQ(Doubles(call.out), (Dbls{1, 2, 3})) << "written back";
      EXPECT_EQ(call.args[0].bstrVal, abc);
      const ZulDoubleCall& seen = FirstCall(BridgeEntry::kCallMethod);
      EXPECT_TRUE(std::string(seen.texts[0]) == "Add" && seen.args[0] == 3 && seen.resultSlotGiven == 1);
      EXPECT_EQ((std::vector<uint32_t>(seen.flags, seen.flags + 3)), (std::vector<uint32_t>{1, 0x4001, 2}));
      EXPECT_EQ(std::string(seen.values[0].value.str.chars), "abc");
      EXPECT_EQ(seen.values[1].value.array->elementCount, 3);
    } else if (fault == kBadWrite) {
      EXPECT_EQ(Ascii(call.result.vt == VT_BSTR ? call.result.bstrVal : nullptr), "r") << "converted first";
      EXPECT_TRUE(call.OutUntouched());
    } else if (fault != kBadValue) {
      EXPECT_TRUE(call.result.vt == VT_I4 && call.result.lVal == 42 && call.OutUntouched()) << "untouched";
    }
    return hr;
  });
}

// No arguments reach the bridge as null arrays, a null name as null, and no VARIANT as no result slot.
TEST_F(ObjectOps, CallMethodWithoutArgumentsNameOrResult) {
  const int32_t cookie = Register(201);
  Mark();
  EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(cookie, nullptr, 0, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Calls(), "Begin CallMethod End");
  const ZulDoubleCall& seen = FirstCall(BridgeEntry::kCallMethod);
  EXPECT_TRUE(!seen.texts[0] && !seen.args[0] && !seen.valueCount && !seen.flags && !seen.resultSlotGiven);
  Variant one(VT_I4, 1);  // without flags: nothing to write back
  EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(cookie, nullptr, 1, &one, nullptr, nullptr), S_OK);
}

// Property and variable reads share one shape; the variable read clears the caller's VARIANT first.
TEST_F(ObjectOps, GetPropertyAndGetZULVariableRows) {
  for (const BridgeEntry entry : {BridgeEntry::kGetProperty, BridgeEntry::kGetZULVariable}) {
    const bool clears = entry == BridgeEntry::kGetZULVariable;
    const std::string read = clears ? "Begin GetZULVariable " : "Begin GetProperty ";
    SCOPED_TRACE(read);
    const std::string released = read + "Free End", refused = read + "Error End";
    const std::vector<Row> rows = {
        {"success", kOk, 0, nullptr, S_OK, released, kEarlier, kMarker},
        {"read refused, busy", kFailCall, -2001, kText, E_ACCESSDENIED, refused, kText, kBusy},
        {"read refused, no text", kFailCall, -3, nullptr, E_FAIL, refused, kUnexpected, kMarker},
        {"null result pointer", kNoValue, 0, nullptr, E_FAIL, released, kNullPointer, kMarker},
        {"value not convertible", kBadValue, 0, nullptr, E_FAIL, read + "Free Free End", kObjectRefOut,
         kMarker},
    };
    RunRows(rows, 2, [&](int32_t cookie, Fault fault) {
      Variant result("old");
      const BridgeValue text = BridgeText("blue");
      const ObjectRefs refs;
      bridge->SetReturnValue(Entry(entry), fault == kFailCall   ? nullptr
                                           : fault == kBadValue ? &refs.value
                                                                : &text);
      VARIANT* out = fault == kNoValue ? nullptr : &result;
      const HRESULT hr = clears ? ZUL_MSCOMPAL_GetZULVariable(cookie, OLESTR("Color"), out)
                                : ZUL_MSCOMPAL_GetProperty(cookie, OLESTR("Color"), out);
      // A variable is cleared first, a property is left alone unless a value is converted.
      const char* expected = fault == kOk ? "blue" : clears && fault != kNoValue ? kNone : "old";
      EXPECT_EQ(Ascii(result.vt == VT_BSTR ? result.bstrVal : nullptr), expected);
      EXPECT_TRUE(fault != kOk || std::string(FirstCall(entry).texts[0]) == "Color");
      return hr;
    });
  }
}

// Property and variable writes share one shape; neither ever changes the caller's values.
TEST_F(ObjectOps, SetPropertyAndSetZULVariableRows) {
  for (const bool variable : {false, true}) {
    const std::string set = variable ? "Begin Alloc SetZULVariable " : "Begin Alloc Alloc SetProperty ";
    const std::string frees = variable ? "Free End" : "Free Free End", failed = set + "Error " + frees;
    const BridgeEntry entry = variable ? BridgeEntry::kSetZULVariable : BridgeEntry::kSetProperty;
    SCOPED_TRACE(set);
    std::vector<Row> rows = {
        {"success", kOk, 0, nullptr, S_OK, set + frees, kEarlier, kMarker},
        {"set refused", kFailCall, -2003, kText, E_ACCESSDENIED, failed, kText, kMarker},
        {"set refused, no text", kFailCall, -1, nullptr, E_FAIL, failed, kUnexpected, kMarker},
    };
    if (variable)
      rows.push_back({"value not convertible", kBadArg, 0, nullptr, E_FAIL, "Begin End",
                      "Argument 1 is VT_EMPTY, which holds no value to pass.", kMarker});
    RunRows(rows, variable ? 2 : 4, [&](int32_t cookie, Fault fault) {
      Variant args[2] = {Variant("v"), Variant("w")};
      const BSTR chars = args[1].bstrVal;
      if (fault == kBadArg) args[1].vt = VT_EMPTY;
      uint32_t flags[2] = {ArgFlag::WriteBack, 0};
      SetResult(entry, fault == kFailCall ? -1 : 0);
      if (!variable) bridge->EchoArgument(-1, 0), bridge->EchoArgument(1, 0);  // the flagged one changes
      const HRESULT hr = variable ? ZUL_MSCOMPAL_SetZULVariable(cookie, OLESTR("Rate"), args[1])
                                  : ZUL_MSCOMPAL_SetProperty(cookie, OLESTR("Rate"),
                                                             fault == kNegCount ? -1 : 2, args, flags);
      EXPECT_EQ(Ascii(args[0].bstrVal), "v") << "never written back";
      EXPECT_TRUE(args[1].vt == (fault == kBadArg ? VT_EMPTY : VT_BSTR) && args[1].bstrVal == chars);
      args[1].vt = VT_BSTR;
      if (fault == kOk) {
        const ZulDoubleCall& seen = FirstCall(entry);
        EXPECT_TRUE(std::string(seen.texts[0]) == "Rate" && seen.valueCount == (variable ? 1 : 2));
        EXPECT_EQ(std::string(seen.values[seen.valueCount - 1].value.str.chars), "w");
        EXPECT_TRUE(variable || seen.flags[0] == ArgFlag::WriteBack);
      }
      return hr;
    });
  }
}

// One bridge call on the cookie, whose answer alone decides; Abort never touches a transaction.
TEST_F(ObjectOps, ExecuteStringAndAbortRows) {
  const char* const failed = "Begin ExecuteString Error End";
  RunRows({{"success", kOk, 0, nullptr, S_OK, "Begin ExecuteString End", kEarlier, kMarker},
           {"command aborted", kFailCall, -2002, kText, E_ABORT, failed, kText, kMarker},
           {"no text stays no text", kFailCall, -1, nullptr, E_FAIL, failed, kNone, kMarker},
           {"busy command, empty text", kFailCall, -2001, "", E_ACCESSDENIED, failed, kNone, kBusy}},
          2, [&](int32_t cookie, Fault fault) {
            SetResult(BridgeEntry::kExecuteString, fault == kFailCall ? -1 : 0);
            return ZUL_MSCOMPAL_ExecuteString(cookie, OLESTR("x = 1"));
          });
  RunRows({{"success", kOk, 0, nullptr, S_OK, "Abort", kEarlier, kMarker},
           {"while transactions are refused", kRefused, 0, nullptr, S_OK, "Abort", kEarlier, kMarker},
           {"busy", kFailCall, -2001, kText, E_ACCESSDENIED, "Abort Error", kText, kBusy},
           {"aborted", kFailCall, -2002, kText, E_ABORT, "Abort Error", kText, kMarker},
           {"refused", kFailCall, -2003, kText, E_ACCESSDENIED, "Abort Error", kText, kMarker},
           {"nothing running", kFailCall, -2004, kText, E_FAIL, "Abort Error", kText, kNoActivity},
           {"other, no text", kFailCall, -1, nullptr, E_FAIL, "Abort Error", kNone, kMarker}},
          1, [&](int32_t cookie, Fault fault) {
            SetResult(BridgeEntry::kAbort, fault == kFailCall ? -1 : 0);
            return ZUL_MSCOMPAL_Abort(cookie);
          });
}

}  // namespace
}  // namespace zul::testing

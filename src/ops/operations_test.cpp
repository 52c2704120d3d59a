// The operations on an object through the exports, each under every fault that can meet it: the result,
// the texts left on the wrapper and the context, the caller's values, and the bridge left clean.
#include <functional>

#include "ops_test_fixture.h"
#include "pal/module.h"
#include "stub_wrapper_object.h"
#ifndef _WIN32
#include "zul/host/test_hooks.h"
#endif

namespace zul::testing {
namespace {

enum Fault {
  kSucceeds,
  kRefused,          // the operation's own bridge call fails: busy, with a text
  kRefusedSilently,  // ... with code -1 and no text
  kTransactionRefused,
  kBadArgument,  // an argument that cannot be converted, after one that can
  kNegativeCount,
  kWriteBackRefused,  // a by-reference array that may not be replaced is resized
  kUnknownCookie,
  kFaults,
  kAllocationFails  // as kSucceeds, without checking the values
};

// The caller's side of one call: up to two arguments and a result.
struct Caller {
  ~Caller() {
    box->fFeatures &= ~FADF_FIXEDSIZE;
    SafeArrayDestroy(box);
  }
  // Prepares the row's fault among the arguments, notes what the caller holds, returns the count.
  int32_t Seal(Fault fault, int32_t count) {
    if (fault == kBadArgument) args[1].vt = VT_EMPTY;
    before = Held(args[0]) + Held(args[1]), result0 = Held(result);
    if (arm) arm();
    return fault == kNegativeCount ? -1 : fault == kBadArgument ? 2 : count;
  }
  StubWrapperObject object;             // names another wrapper, by its "Cookie"
  SAFEARRAY* box = Numbers({1, 2, 3});  // behind a by-reference argument
  Variant args[2] = {Variant(VT_ARRAY | VT_R8), Variant(VT_I4, 2)};
  uint32_t flags[2] = {ArgFlag::InOnly | ArgFlag::Reorder, ArgFlag::WriteBack | ArgFlag::WriteBackChanged};
  Variant result{VT_I4, 42};
  std::string before, result0;
  std::function<void()> arm;  // called once the caller's values are made
};

struct Operation {
  const char* className;  // of the wrapper it runs on
  BridgeEntry entry;      // its own bridge call
  bool bare;              // the wrapper has no object yet
  int badArgument;        // the position a bad-argument row empties; 0: takes no arguments
  bool counted, raises;   // takes a count; a refusal without text reads "Unexpected error."
  bool keepsResult;       // a failure leaves the result alone
  HRESULT (*call)(int32_t cookie, Caller& c, Fault f);
};

const Operation kOperations[] = {
    {"Echo", BridgeEntry::kCallMethod, false, 2, true, true, true,
     [](int32_t cookie, Caller& c, Fault f) {
       c.args[0].vt = VT_BYREF | VT_ARRAY | VT_R8, c.args[0].pparray = &c.box,
       c.flags[0] = ArgFlag::WriteBack;
       if (f == kWriteBackRefused) c.box->fFeatures |= FADF_FIXEDSIZE;
       const HRESULT hr =
           ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Resize"), c.Seal(f, 2), c.args, c.flags, &c.result);
       if (f == kSucceeds) {
         EXPECT_EQ(Doubles(c.box), (Dbls{1, 2})) << "written back";
         EXPECT_TRUE(c.result.vt == VT_I4 && c.result.lVal == 3) << "the old length";
         EXPECT_EQ(c.flags[1], ArgFlag::WriteBackChanged) << "left alone, and the caller told so";
       }
       return hr;
     }},
    {"Matrix", BridgeEntry::kSetProperty, false, 2, true, true, true,
     [](int32_t cookie, Caller& c, Fault f) {
       c.args[0].parray = Numbers({1, 2, 3, 4, 5, 6}, 3);
       return ZUL_MSCOMPAL_SetProperty(cookie, OLESTR("Data"), c.Seal(f, 1), c.args, c.flags);
     }},
    {"Matrix", BridgeEntry::kCreateObject, true, 2, true, true, true,
     [](int32_t cookie, Caller& c, Fault f) {
       c.args[0].parray = Numbers({1, 2, 3, 4}, 2);
       return ZUL_MSCOMPAL_CreateObject(cookie, c.Seal(f, 1), c.args, c.flags, 7, 8, 9);
     }},
    {"Matrix", BridgeEntry::kGetProperty, false, 0, false, true, true,
     [](int32_t cookie, Caller& c, Fault f) {
       c.Seal(f, 0);
       const HRESULT hr = ZUL_MSCOMPAL_GetProperty(cookie, OLESTR("Data"), &c.result);
       if (f == kSucceeds) EXPECT_EQ(Doubles(c.result.parray), (Dbls{1, 2, 3, 4, 5, 6}));
       return hr;
     }},
    {"Echo", BridgeEntry::kSetZULVariable, false, 1, false, true, true,
     [](int32_t cookie, Caller& c, Fault f) {
       VariantClear(&c.args[0]), c.args[0].vt = VT_BSTR, c.args[0].bstrVal = SysAllocString(OLESTR("w"));
       c.Seal(f, 1);
       return ZUL_MSCOMPAL_SetZULVariable(cookie, OLESTR("w"), c.args[f == kBadArgument ? 1 : 0]);
     }},
    {"Echo", BridgeEntry::kGetZULVariable, false, 0, false, true, false,
     [](int32_t cookie, Caller& c, Fault f) {
       c.Seal(f, 0);
       const HRESULT hr = ZUL_MSCOMPAL_GetZULVariable(cookie, OLESTR("v"), &c.result);
       if (f != kAllocationFails)
         EXPECT_EQ(c.result.vt, f ? VT_EMPTY : VT_ARRAY | VT_BSTR) << "cleared first";
       return hr;
     }},
    {"Echo", BridgeEntry::kExecuteString, false, 0, false, false, true,
     [](int32_t cookie, Caller& c, Fault f) {
       c.Seal(f, 0);
       return ZUL_MSCOMPAL_ExecuteString(cookie, OLESTR("x = 1"));
     }},
    {"Echo", BridgeEntry::kGetObjVariableName, false, 0, false, false, false,
     [](int32_t cookie, Caller& c, Fault f) {
       c.result.vt = VT_BSTR, c.result.bstrVal = SysAllocString(OLESTR("freed by the call"));
       c.Seal(f, 0);
       const HRESULT hr = ZUL_MSCOMPAL_GetObjVariableName(cookie, &c.result.bstrVal);
       if (f != kAllocationFails) EXPECT_EQ(Ascii(c.result.bstrVal).substr(0, f ? 6 : 4), f ? kNone : "echo");
       return hr;
     }},
    {"Echo", BridgeEntry::kDestroyObject, false, 0, false, false, true,
     [](int32_t cookie, Caller& c, Fault f) { return c.Seal(f, 0), ZUL_MSCOMPAL_DestroyObject(cookie); }},
    {"Echo", BridgeEntry::kReleaseWrapper, false, 0, false, false, true,
     [](int32_t cookie, Caller& c, Fault f) { return c.Seal(f, 0), ZUL_MSCOMPAL_ReleaseWrapper(cookie); }},
    {"Echo", BridgeEntry::kAbort, false, 0, false, false, true,
     [](int32_t cookie, Caller& c, Fault f) { return c.Seal(f, 0), ZUL_MSCOMPAL_Abort(cookie); }},
};

struct Outcome {
  HRESULT hr;
  std::string wrapperText, contextText;
};

Outcome Expected(const Operation& op, Fault fault) {
  const bool creates = op.entry == BridgeEntry::kCreateObject;
  switch (fault) {
    case kSucceeds:  // a released wrapper's cookie reads the context's text
      return {S_OK, op.entry == BridgeEntry::kReleaseWrapper ? kMarker : kEarlier, kMarker};
    case kRefused:  // creation leaves the bridge's text on the context too
      return {op.entry == BridgeEntry::kGetObjVariableName ? E_FAIL : E_ACCESSDENIED, kText,
              creates ? kText : kBusy};
    case kRefusedSilently:
      return {E_FAIL, op.raises ? kUnexpected : kNone, creates ? kNone : kMarker};
    case kTransactionRefused:
      return {E_ACCESSDENIED, kText, kBusy};
    case kBadArgument:
      return {E_FAIL,
              "Argument " + std::to_string(op.badArgument) + " is VT_EMPTY, which holds no value to pass.",
              kMarker};
    case kNegativeCount:
      return {E_FAIL, "Argument count -1 is negative.", kMarker};
    case kWriteBackRefused:
      return {E_FAIL, "Can't return modified (resized) safearray; client safearray is FIXED/STATIC/locked.",
              kMarker};
    default:
      return {E_INVALIDARG, kEarlier, kInvalidCookie};
  }
}

bool Applies(const Operation& op, Fault fault) {
  if (fault == kTransactionRefused) return op.entry != BridgeEntry::kAbort;  // never opens one
  if (fault == kBadArgument) return op.badArgument > 0;
  if (fault == kNegativeCount) return op.counted;
  if (fault == kWriteBackRefused) return op.entry == BridgeEntry::kCallMethod;
  return true;
}

using Operations = OpsTest;

TEST_F(Operations, EveryOperationUnderEveryFault) {
  ASSERT_EQ(ZUL_MSCOMPAL_ExecuteString(NewWrapper(), OLESTR("v = ['a', 'bc']")), S_OK);
  for (const Operation& op : kOperations) {
    for (int f = kSucceeds; f < kFaults; ++f) {
      const auto fault = static_cast<Fault>(f);
      if (!Applies(op, fault)) continue;
      SCOPED_TRACE(std::string(kBridgeEntryNames[static_cast<int>(op.entry)]) + ", fault " +
                   std::to_string(f));
      const int32_t cookie = NewWrapper(op.className, op.bare);
      MarkBoth(cookie);
      if (fault == kRefused || fault == kRefusedSilently ||
          (op.entry == BridgeEntry::kAbort && fault == kSucceeds))
        bridge->Force(op.entry, fault == kSucceeds ? 0 : -1, fault == kRefused ? ZUL_QEL_ERROR_BUSY : -1,
                      fault == kRefused ? kText : nullptr);
      if (fault == kTransactionRefused)
        bridge->Force(BridgeEntry::kBeginTransaction, -1, ZUL_QEL_ERROR_BUSY, kText);
      Caller caller;
      const HRESULT hr = op.call(fault == kUnknownCookie ? cookie + 5000 : cookie, caller, fault);
      bridge->Reset();
      const Outcome expected = Expected(op, fault);
      EXPECT_EQ(hr, expected.hr);
      EXPECT_EQ(LastError(cookie), expected.wrapperText);
      EXPECT_EQ(LastError(0), expected.contextText);
      if (fault != kSucceeds)
        EXPECT_EQ(Held(caller.args[0]) + Held(caller.args[1]), caller.before) << "untouched";
      if (fault != kSucceeds && fault != kWriteBackRefused && op.keepsResult)
        EXPECT_EQ(Held(caller.result), caller.result0);
      ExpectClean();
    }
  }
}

// No arguments reach the bridge as null arrays, no VARIANT as no result slot, no flags as nothing to write
// back; proxies never reach the bridge and leave a registered record alone.
TEST_F(Operations, CallsWithoutArgumentsResultOrFlagsAndProxies) {
  const int32_t cookie = NewWrapper("Worker");
  EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Run"), 0, nullptr, nullptr, nullptr), E_FAIL);
  EXPECT_EQ(LastError(cookie), "Worker.Run takes 1 argument, not 0.");
  Variant ms(VT_BYREF | VT_I4);
  LONG zero = 0;
  ms.plVal = &zero;
  EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Run"), 1, &ms, nullptr, nullptr), S_OK);
  bridge->Reset();
  EXPECT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(cookie + 1) | ZUL_MSCOMPAL_CreateProxyWrapper(cookie), S_OK);
  BSTR name = nullptr;
  EXPECT_EQ(ZUL_MSCOMPAL_GetObjClassName(cookie + 1, &name), S_OK);
  EXPECT_EQ(Ascii(name), "") << "a proxy's names are empty, not null";
  EXPECT_EQ(ZUL_MSCOMPAL_GetObjClassName(cookie, &name), S_OK);
  EXPECT_EQ(Ascii(UniqueBstr::Adopt(name).Get()), "Worker") << "the registered record stays";
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(cookie + 1), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(cookie + 1), E_INVALIDARG) << "gone";
  for (int entry = 0; entry < kBridgeEntryCount; ++entry) EXPECT_EQ(bridge->Calls(BridgeEntry(entry)), 0);
}

// Registration runs on cookie 0 and ends its transaction on every path, even when its beginning failed.
TEST_F(Operations, RegisterWrapperRows) {
  const struct {
    bool refuseBegin, refuse, noPointer;
    HRESULT hr;
    const char *className, *contextText;
  } rows[] = {
      {false, false, false, S_OK, "Echo", kMarker},
      {true, false, false, S_OK, "Text", kMarker},
      {false, true, false, E_ACCESSDENIED, "Echo", kBusy},
      {false, false, false, E_FAIL, "Plot",
       "Unknown class 'Plot'; the classes are Matrix, Text, Echo and Worker."},
      {false, false, true, E_POINTER, "Echo", "Result pointer is null."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.className);
    MarkBoth(NewWrapper());
    if (row.refuseBegin) bridge->Force(BridgeEntry::kBeginTransaction, -1, ZUL_QEL_ERROR_BUSY, kText);
    if (row.refuse) bridge->Force(BridgeEntry::kRegisterWrapper, 0, ZUL_QEL_ERROR_BUSY, kText);
    int32_t cookie = -9;
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(Wide(row.className).c_str(), 7, OLESTR("calc"),
                                           row.noPointer ? nullptr : &cookie),
              row.hr);
    EXPECT_EQ(LastError(0), row.contextText);
    EXPECT_EQ(bridge->Calls(BridgeEntry::kEndTransaction), row.noPointer ? 0 : 1);
    EXPECT_EQ(bridge->LastCookie(BridgeEntry::kEndTransaction), 0);
    EXPECT_EQ(cookie, row.noPointer ? -9 : row.hr == S_OK ? cookie : 0);
    bridge->Reset();
    if (row.hr != S_OK) continue;
    BSTR name = nullptr;
    EXPECT_EQ(ZUL_MSCOMPAL_GetProcNameFromCookie(cookie, &name), S_OK);
    EXPECT_EQ(Ascii(UniqueBstr::Adopt(name).Get()), "calc");
    EXPECT_EQ(ZUL_MSCOMPAL_ReleaseWrapper(cookie), S_OK);
  }
}

// The queries that take the caller's BSTR in and out free it, the out-only one leaves it alone.
TEST_F(Operations, NameQueriesRefuseNullAndUnknownCookies) {
  for (auto query :
       {ZUL_MSCOMPAL_GetObjClassName, ZUL_MSCOMPAL_GetObjVariableName, ZUL_MSCOMPAL_GetProcNameFromCookie}) {
    const bool outOnly = query == ZUL_MSCOMPAL_GetProcNameFromCookie;
    EXPECT_EQ(query(NewWrapper(), nullptr), E_POINTER);
    EXPECT_EQ(LastError(0), "Result pointer is null.");
    BSTR name = SysAllocString(OLESTR("mine"));
    EXPECT_EQ(query(9999, &name), E_INVALIDARG);
    EXPECT_EQ(LastError(0), kInvalidCookie);
    EXPECT_EQ(Ascii(name), outOnly ? "mine" : kNone);
    SysFreeString(name);
  }
}

}  // namespace
}  // namespace zul::testing

namespace zul::testing {
namespace {

// Arguments of other shapes for Echo.Echo, which hands each back as the result.
void (*const kShapes[])(Caller&) = {
    [](Caller& c) {
      VariantClear(&c.args[0]), c.args[0].vt = VT_BSTR,
                                c.args[0].bstrVal = SysAllocString(OLESTR("gr\u00fc\u00dfe"));
    },
    [](Caller& c) {
      VariantClear(&c.args[0]), c.args[0].vt = VT_ARRAY | VT_BSTR;
      SAFEARRAYBOUND bound{2, 0};
      c.args[0].parray = SafeArrayCreate(VT_BSTR, 1, &bound);
      static_cast<BSTR*>(c.args[0].parray->pvData)[0] = SysAllocString(OLESTR("x\u00e9"));
    },
    [](Caller& c) {
      VariantClear(&c.args[0]), c.args[0].vt = VT_ARRAY | VT_VARIANT;
      SAFEARRAYBOUND bound{2, 0};
      c.args[0].parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
      auto* items = static_cast<VARIANT*>(c.args[0].parray->pvData);
      items[0].vt = items[1].vt = VT_BSTR, items[0].bstrVal = SysAllocString(OLESTR("y")),
      items[1].bstrVal = SysAllocString(OLESTR(""));
    },
    [](Caller& c) { c.args[0].vt = VT_DISPATCH, c.args[0].pdispVal = &c.object, c.object.AddRef(); },
};

enum Kind { kBstr, kSafeArray, kBridgeBlock };  // the first two numbered as the host's hooks number them

// Every allocation that an operation makes fails in turn: bridge blocks on both targets, BSTRs and
// SAFEARRAYs on the host, whose OLE Automation can be told to fail (Windows' cannot). Each failure gives
// its result and text, leaves the caller's arguments and every reference as they were, and leaks nothing.
TEST_F(Operations, EveryAllocationFailsInTurn) {
  ASSERT_EQ(ZUL_MSCOMPAL_ExecuteString(NewWrapper(), OLESTR("v = ['a', 'bc']")), S_OK);
  const int32_t target = NewWrapper();
  std::vector<std::pair<const Operation*, void (*)(Caller&)>> calls;
  for (const Operation& op : kOperations)
    if (op.entry != BridgeEntry::kAbort) calls.emplace_back(&op, nullptr);  // fails without one
  for (auto shape : kShapes) calls.emplace_back(&kOperations[0], shape);
#ifdef _WIN32
  const auto allocations = [&](Kind) { return bridge->Calls(BridgeEntry::kAllocateMemory); };
  const auto failAt = [&](Kind, int64_t nth) { bridge->FailAllocationAt(nth); };
  const auto live = [] { return std::pair<int64_t, int64_t>(); };
  for (const Kind kind : {kBridgeBlock}) {
#else
  const auto allocations = [&](Kind kind) {
    return kind == kBridgeBlock ? bridge->Calls(BridgeEntry::kAllocateMemory) : ZulHostTest_Allocations(kind);
  };
  const auto failAt = [&](Kind kind, int64_t nth) {
    kind == kBridgeBlock ? bridge->FailAllocationAt(nth) : ZulHostTest_FailAllocationAt(kind, nth);
  };
  const auto live = [] {
    return std::pair(ZulHostTest_LiveAllocations(kBstr), ZulHostTest_LiveAllocations(kSafeArray));
  };
  for (const Kind kind : {kBridgeBlock, kBstr, kSafeArray}) {
#endif
    int64_t points = 0;
    for (const auto& [op, shape] : calls) {
      int64_t attempts = 0;
      for (int64_t nth = 0; nth <= attempts; ++nth) {
        SCOPED_TRACE(std::string(kBridgeEntryNames[static_cast<int>(op->entry)]) +
                     (shape ? " of a shape" : "") + ", kind " + std::to_string(kind) + ", failing " +
                     std::to_string(nth));
        Context().lastError.SetMessage(kMarker);  // a failure replaces it, never adds one
        const auto before = live();
        const int32_t cookie = NewWrapper(op->className, op->bare);
        HRESULT hr = S_OK;
        {
          Caller c;
          c.object.cookie.lVal = target;
          int64_t start = 0;
          c.arm = [&] { start = allocations(kind), failAt(kind, nth); };
          if (shape != nullptr) {
            shape(c);
            hr = ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Echo"), c.Seal(kAllocationFails, 1), c.args, c.flags,
                                         &c.result);
          } else {
            hr = op->call(cookie, c, kAllocationFails);
          }
          failAt(kind, 0);
          if (nth == 0) attempts = allocations(kind) - start;
          if (nth > 0 && (kind != kBstr || hr != S_OK)) {  // only a text handed back may come out empty
            EXPECT_EQ(hr, kind == kBstr ? E_OUTOFMEMORY : E_FAIL);
            const std::string text = LastError(cookie);
            EXPECT_TRUE(kind == kBstr
                            ? text == "Could not allocate memory for argument processing." || text == kNone
                            : text == "Failed to allocate memory." || text == kUnexpected)
                << text;
            EXPECT_EQ(Held(c.args[0]) + Held(c.args[1]), c.before) << "untouched";
          }
          EXPECT_EQ(c.object.refs, c.args[0].vt == VT_DISPATCH ? 2u : 1u)
              << "the library's references given back";
          ExpectClean();
          bridge->Reset();
        }
        ZUL_MSCOMPAL_ReleaseWrapper(cookie);
        EXPECT_EQ(live(), before) << "no BSTR or SAFEARRAY left behind";
      }
      points += attempts;
    }
    EXPECT_GE(points, kind == kBridgeBlock ? 14 : 4)
        << "points when written: 16 blocks, 10 BSTRs, 5 SAFEARRAYs";
  }
}

}  // namespace
}  // namespace zul::testing

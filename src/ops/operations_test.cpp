// The operations on an object through the exports, each under every fault that can meet it and with every
// allocation failing in turn: the result, the texts left on the wrapper and the context, the caller's
// values, and the bridge left clean.
#include <functional>

#include "ops_test_fixture.h"
#include "pal/module.h"
#include "stub_wrapper_object.h"
#ifndef _WIN32
#include "platform/host/test_hooks.h"
#endif

namespace zul::testing {
namespace {

enum Fault {
  kSucceeds,
  kRefused,          // the operation's own bridge call fails: busy, with a text
  kRefusedSilently,  // ... with code -1 and no text
  kUnknownCookie,
  kTransactionRefused,
  kBadArgument,  // an argument that cannot be converted, after one that can
  kNegativeCount,
  kWriteBackRefused,  // a by-reference array that may not be replaced is resized
  kFaults,
  kAllocationFails  // as kSucceeds, without checking the values
};
constexpr unsigned kTx = 1 << kTransactionRefused, kArgs = 1 << kBadArgument | 1 << kNegativeCount;

// The caller's side of one call: up to two arguments and a result.
struct Caller {
  ~Caller() {
    box->fFeatures &= ~FADF_FIXEDSIZE;
    SafeArrayDestroy(box);
  }
  // Makes the row's fault among the arguments, notes what the caller holds and returns the count.
  int32_t Seal(Fault fault, int32_t count) {
    if (fault == kBadArgument) args[1].vt = VT_EMPTY;
    before = Held(args[0]) + Held(args[1]), result0 = Held(result);
    if (arm) arm();
    return fault == kNegativeCount ? -1 : fault == kBadArgument ? 2 : count;
  }
  HRESULT Echo(int32_t cookie, Fault f) {
    return ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Echo"), Seal(f, 1), args, flags, &result);
  }
  SAFEARRAY* Texts(VARTYPE vt) {  // {"x\u00e9", ""} in an array of BSTRs or of VARIANTs
    SAFEARRAYBOUND bound{2, 0};
    SAFEARRAY* psa = SafeArrayCreate(vt, 1, &bound);
    auto* items = static_cast<VARIANT*>(psa->pvData);
    for (int i = 0; i < 2 && vt == VT_VARIANT; ++i) items[i].vt = VT_BSTR;
    (vt == VT_BSTR ? static_cast<BSTR*>(psa->pvData)[0] : items[0].bstrVal) =
        SysAllocString(OLESTR("x\u00e9"));
    return psa;
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
  const char* className;   // of the wrapper it runs on
  BridgeEntry entry;       // its own bridge call
  unsigned faults;         // beyond the first four, which every operation meets
  const char* silentText;  // on the wrapper after a refusal without a text
  HRESULT (*call)(int32_t cookie, Caller& c, Fault f);
};

const Operation kOperations[] = {
    {"Echo", BridgeEntry::kCallMethod, kTx | kArgs | 1 << kWriteBackRefused, kUnexpected,
     [](int32_t cookie, Caller& c, Fault f) {
       c.args[0].vt = VT_BYREF | VT_ARRAY | VT_R8, c.args[0].pparray = &c.box,
       c.flags[0] = ArgFlag::WriteBack;
       if (f == kWriteBackRefused) c.box->fFeatures |= FADF_FIXEDSIZE;
       const HRESULT hr =
           ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Resize"), c.Seal(f, 2), c.args, c.flags, &c.result);
       if (f != kSucceeds) return hr;
       EXPECT_EQ(Doubles(c.box), (Dbls{1, 2})) << "written back";
       EXPECT_TRUE(c.result.vt == VT_I4 && c.result.lVal == 3) << "the old length";
       EXPECT_EQ(c.flags[1], ArgFlag::WriteBackChanged) << "left alone, and the caller told so";
       return hr;
     }},
    {"Echo", BridgeEntry::kCallMethod, kTx | kArgs, kUnexpected,
     [](int32_t cookie, Caller& c, Fault f) {
       c.args[0].vt = VT_BSTR, c.args[0].bstrVal = SysAllocString(OLESTR("gr\u00fc\u00dfe \u00e9"));
       const HRESULT hr = c.Echo(cookie, f);
       if (f == kSucceeds) {
         EXPECT_EQ(Ascii(c.result.bstrVal), Ascii(c.args[0].bstrVal)) << "every character";
       }
       return hr;
     }},
    {"Echo", BridgeEntry::kCallMethod, kTx | kArgs, kUnexpected,
     [](int32_t cookie, Caller& c, Fault f) {
       return c.args[0].vt = VT_ARRAY | VT_BSTR, c.args[0].parray = c.Texts(VT_BSTR), c.Echo(cookie, f);
     }},
    {"Echo", BridgeEntry::kCallMethod, kTx | kArgs, kUnexpected,
     [](int32_t cookie, Caller& c, Fault f) {
       return c.args[0].vt = VT_ARRAY | VT_VARIANT, c.args[0].parray = c.Texts(VT_VARIANT), c.Echo(cookie, f);
     }},
    {"Echo", BridgeEntry::kCallMethod, kTx | kArgs, kUnexpected,  // an object reference
     [](int32_t cookie, Caller& c, Fault f) {
       c.args[0].vt = VT_DISPATCH, c.args[0].pdispVal = &c.object, c.object.AddRef();
       const HRESULT hr =
           ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("TypeName"), c.Seal(f, 1), c.args, c.flags, &c.result);
       if (f == kSucceeds) {
         EXPECT_EQ(Ascii(c.result.bstrVal), "OBJREF");
       }
       return hr;
     }},
    {"Matrix", BridgeEntry::kSetProperty, kTx | kArgs, kUnexpected,
     [](int32_t cookie, Caller& c, Fault f) {
       c.args[0].parray = Numbers({1, 2, 3, 4, 5, 6}, 3);
       return ZUL_MSCOMPAL_SetProperty(cookie, OLESTR("Data"), c.Seal(f, 1), c.args, c.flags);
     }},
    {"Matrix", BridgeEntry::kCreateObject, kTx | kArgs, kUnexpected,
     [](int32_t cookie, Caller& c, Fault f) {
       c.args[0].parray = Numbers({1, 2, 3, 4}, 2);
       return ZUL_MSCOMPAL_CreateObject(cookie, c.Seal(f, 1), c.args, c.flags, 7, 8, 9);
     }},
    {"Matrix", BridgeEntry::kGetProperty, kTx, kUnexpected,
     [](int32_t cookie, Caller& c, Fault f) {
       const HRESULT hr = ZUL_MSCOMPAL_GetProperty(cookie, OLESTR("Data"), (c.Seal(f, 0), &c.result));
       if (f == kSucceeds) {
         EXPECT_EQ(Doubles(c.result.parray), (Dbls{1, 2, 3, 4, 5, 6}));
       }
       return hr;
     }},
    {"Echo", BridgeEntry::kSetZULVariable, kTx | 1 << kBadArgument, kUnexpected,
     [](int32_t cookie, Caller& c, Fault f) {
       c.args[0].vt = VT_BSTR, c.args[0].bstrVal = SysAllocString(OLESTR("w"));
       c.Seal(f, 1);
       return ZUL_MSCOMPAL_SetZULVariable(cookie, OLESTR("w"), c.args[f == kBadArgument]);
     }},
    {"Echo", BridgeEntry::kGetZULVariable, kTx, kUnexpected,
     [](int32_t cookie, Caller& c, Fault f) {
       const HRESULT hr = ZUL_MSCOMPAL_GetZULVariable(cookie, OLESTR("v"), (c.Seal(f, 0), &c.result));
       if (f != kAllocationFails) {
         EXPECT_EQ(c.result.vt, f ? VT_EMPTY : VT_ARRAY | VT_BSTR) << "cleared first";
       }
       return hr;
     }},
    {"Echo", BridgeEntry::kExecuteString, kTx, kNone,
     [](int32_t cookie, Caller& c, Fault f) {
       return c.Seal(f, 0), ZUL_MSCOMPAL_ExecuteString(cookie, OLESTR("x = 1"));
     }},
    {"Echo", BridgeEntry::kGetObjVariableName, kTx, kNone,
     [](int32_t cookie, Caller& c, Fault f) {
       c.result.vt = VT_BSTR, c.result.bstrVal = SysAllocString(OLESTR("freed by the call"));
       const HRESULT hr = ZUL_MSCOMPAL_GetObjVariableName(cookie, (c.Seal(f, 0), &c.result.bstrVal));
       if (f != kAllocationFails) {
         EXPECT_EQ(Ascii(c.result.bstrVal).substr(0, f ? 6 : 4), f ? kNone : "echo");
       }
       return hr;
     }},
    {"Echo", BridgeEntry::kDestroyObject, kTx, kNone,
     [](int32_t cookie, Caller& c, Fault f) { return c.Seal(f, 0), ZUL_MSCOMPAL_DestroyObject(cookie); }},
    {"Echo", BridgeEntry::kReleaseWrapper, kTx, kNone,
     [](int32_t cookie, Caller& c, Fault f) { return c.Seal(f, 0), ZUL_MSCOMPAL_ReleaseWrapper(cookie); }},
    {"Echo", BridgeEntry::kAbort, 0,
     kNone,  // never opens a transaction; nothing runs, so it is told to succeed
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
      return {E_FAIL, op.silentText, creates ? kNone : kMarker};
    case kUnknownCookie:
      return {E_INVALIDARG, kEarlier, kInvalidCookie};
    case kTransactionRefused:
      return {E_ACCESSDENIED, kText, kBusy};
    case kBadArgument:
      return {E_FAIL,
              "Argument " + std::string(op.entry == BridgeEntry::kSetZULVariable ? "1" : "2") +
                  " is VT_EMPTY, which holds no value to pass.",
              kMarker};
    case kNegativeCount:
      return {E_FAIL, "Argument count -1 is negative.", kMarker};
    default:
      return {E_FAIL, "Can't return modified (resized) safearray; client safearray is FIXED/STATIC/locked.",
              kMarker};
  }
}

using Operations = OpsTest;

TEST_F(Operations, EveryOperationUnderEveryFault) {
  ASSERT_EQ(ZUL_MSCOMPAL_ExecuteString(NewWrapper(), OLESTR("v = ['a', 'bc']")), S_OK);
  const int32_t target = NewWrapper();
  for (const Operation& op : kOperations) {
    for (int f = kSucceeds; f < kFaults; ++f) {
      const auto fault = static_cast<Fault>(f);
      if (f > kUnknownCookie && (op.faults & 1 << f) == 0) continue;
      SCOPED_TRACE(std::string(kBridgeEntryNames[int(op.entry)]) + ", fault " + std::to_string(f));
      const int32_t cookie = NewWrapper(op.className, op.entry == BridgeEntry::kCreateObject);
      MarkBoth(cookie);
      if (fault == kRefused || fault == kRefusedSilently || (op.entry == BridgeEntry::kAbort && !f))
        bridge->Force(op.entry, f ? -1 : 0, fault == kRefused ? ZUL_QEL_ERROR_BUSY : -1,
                      fault == kRefused ? kText : nullptr);
      if (fault == kTransactionRefused)
        bridge->Force(BridgeEntry::kBeginTransaction, -1, ZUL_QEL_ERROR_BUSY, kText);
      Caller caller;
      caller.object.cookie.lVal = target;
      const HRESULT hr = op.call(fault == kUnknownCookie ? cookie + 5000 : cookie, caller, fault);
      bridge->Reset();
      const Outcome expected = Expected(op, fault);
      EXPECT_EQ(hr, expected.hr);
      EXPECT_EQ(LastError(cookie), expected.wrapperText);
      EXPECT_EQ(LastError(0), expected.contextText);
      if (f) {
        EXPECT_EQ(Held(caller.args[0]) + Held(caller.args[1]), caller.before) << "untouched";
      }
      const bool keepsResult =
          op.entry != BridgeEntry::kGetZULVariable && op.entry != BridgeEntry::kGetObjVariableName;
      if (f && fault != kWriteBackRefused && keepsResult) {
        EXPECT_EQ(Held(caller.result), caller.result0);
      }
      EXPECT_EQ(caller.object.refs, caller.args[0].vt == VT_DISPATCH ? 2u : 1u);
      ExpectClean();
    }
  }
}

#ifdef _WIN32  // Windows' OLE Automation can be neither counted nor told to fail
int64_t ZulHostTest_Allocations(int32_t) {
  return 0;
}
int64_t ZulHostTest_LiveAllocations(int32_t) {
  return 0;
}
void ZulHostTest_FailAllocationAt(int32_t, int64_t) {}
constexpr bool kCounted = false;
#else
constexpr bool kCounted = true;
#endif
enum Kind { kBstr, kSafeArray, kBridgeBlock };  // the first two numbered as the host's hooks number them

// Bridge blocks on both targets, BSTRs and SAFEARRAYs on the host. Each failure gives its result and text,
// leaves the caller's arguments and every reference as they were, and leaks nothing.
TEST_F(Operations, EveryAllocationFailsInTurn) {
  ASSERT_EQ(ZUL_MSCOMPAL_ExecuteString(NewWrapper(), OLESTR("v = ['a', 'bc']")), S_OK);
  const int32_t target = NewWrapper();
  const auto live = [] {
    return std::pair(ZulHostTest_LiveAllocations(kBstr), ZulHostTest_LiveAllocations(kSafeArray));
  };
  for (const Kind kind : {kBridgeBlock, kBstr, kSafeArray}) {
    const auto allocations = [&] {
      return kind == kBridgeBlock ? bridge->Calls(BridgeEntry::kAllocateMemory)
                                  : ZulHostTest_Allocations(kind);
    };
    const auto failAt = [&](int64_t nth) {
      kind == kBridgeBlock ? bridge->FailAllocationAt(nth) : ZulHostTest_FailAllocationAt(kind, nth);
    };
    int64_t points = 0;
    for (const Operation& op : kOperations) {
      for (int64_t nth = 0, attempts = 0; nth <= attempts && op.entry != BridgeEntry::kAbort; ++nth) {
        SCOPED_TRACE(std::string(kBridgeEntryNames[int(op.entry)]) + " " + std::to_string(&op - kOperations) +
                     ", kind " + std::to_string(kind) + ", failing " + std::to_string(nth));
        Context().lastError.SetMessage(kMarker);  // a failure replaces it, never adds one
        const auto before = live();
        const int32_t cookie = NewWrapper(op.className, op.entry == BridgeEntry::kCreateObject);
        {
          Caller c;
          c.object.cookie.lVal = target;
          int64_t start = 0;
          c.arm = [&] { start = allocations(), failAt(nth); };
          const HRESULT hr = op.call(cookie, c, kAllocationFails);
          failAt(0);
          if (nth == 0) points += attempts = allocations() - start;
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
    }
    EXPECT_GE(points, kind == kBridgeBlock ? 16 : !kCounted ? 0 : kind == kBstr ? 10 : 4) << kind;
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
  bridge->Force(BridgeEntry::kCallMethod, 0);  // success, and the result slot left empty
  EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(cookie, OLESTR("Run"), 0, nullptr, nullptr, &ms), E_FAIL);
  EXPECT_EQ(LastError(cookie), "The bridge returned no value for the result.");
  bridge->Reset();
  EXPECT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(cookie + 1) | ZUL_MSCOMPAL_CreateProxyWrapper(cookie), S_OK);
  BSTR name = nullptr;
  EXPECT_EQ(ZUL_MSCOMPAL_GetObjClassName(cookie + 1, &name), S_OK);
  EXPECT_EQ(Ascii(name), "") << "a proxy's names are empty, not null";
  EXPECT_EQ(ZUL_MSCOMPAL_GetObjClassName(cookie, &name), S_OK) << "frees the caller's";
  EXPECT_EQ(ZUL_MSCOMPAL_GetProcNameFromCookie(cookie + 5000, &name), E_INVALIDARG) << "never frees it";
  EXPECT_EQ(Ascii(UniqueBstr::Adopt(name).Get()), "Worker") << "the registered record stays";
  EXPECT_EQ(ZUL_MSCOMPAL_GetProcNameFromCookie(cookie, nullptr), E_POINTER);
  EXPECT_EQ(LastError(0), "Result pointer is null.");
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(cookie + 1), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(cookie + 1), E_INVALIDARG) << "gone";
  for (int entry = 0; entry < kBridgeEntryCount; ++entry) {
    EXPECT_EQ(bridge->Calls(BridgeEntry(entry)), 0);
  }
}

// Registration runs on cookie 0 and ends its transaction on every path, even when its beginning failed.
TEST_F(Operations, RegisterWrapperRows) {
  const struct {
    BridgeEntry refused;
    HRESULT hr;
    const char *className, *contextText;
  } rows[] = {
      {BridgeEntry::kAbort, S_OK, "Echo", kMarker},  // Abort: nothing that registration calls
      {BridgeEntry::kBeginTransaction, S_OK, "Text", kMarker},
      {BridgeEntry::kRegisterWrapper, E_ACCESSDENIED, "Echo", kBusy},
      {BridgeEntry::kAbort, E_FAIL, "Plot",
       "Unknown class 'Plot'; the classes are Matrix, Text, Echo and Worker."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.className);
    MarkBoth(NewWrapper());
    bridge->Force(row.refused, row.refused == BridgeEntry::kRegisterWrapper ? 0 : -1, ZUL_QEL_ERROR_BUSY,
                  kText);
    int32_t cookie = -9;
    EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(Wide(row.className).c_str(), 7, OLESTR("calc"), &cookie), row.hr);
    EXPECT_EQ(LastError(0), row.contextText);
    EXPECT_TRUE(bridge->Calls(BridgeEntry::kEndTransaction) == 1 &&
                bridge->LastCookie(BridgeEntry::kEndTransaction) == 0);
    EXPECT_TRUE(row.hr == S_OK ? cookie > 0 : cookie == 0) << cookie;
    bridge->Reset();
    BSTR name = nullptr;
    if (row.hr == S_OK) {
      EXPECT_EQ(ZUL_MSCOMPAL_GetProcNameFromCookie(cookie, &name) | ZUL_MSCOMPAL_ReleaseWrapper(cookie),
                S_OK);
    }
    EXPECT_EQ(Ascii(UniqueBstr::Adopt(name).Get()), row.hr == S_OK ? "calc" : kNone);
  }
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(OLESTR("Echo"), 0, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(LastError(0), "Result pointer is null.");
}

}  // namespace
}  // namespace zul::testing

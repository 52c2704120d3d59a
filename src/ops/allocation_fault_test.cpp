// Every allocation that an operation makes fails in turn, for each shape of argument list: bridge
// blocks on both targets; BSTRs and SAFEARRAYs on the host, whose OLE Automation can be told to fail
// (Windows' cannot). Each failure ends in a documented result and message, the transaction is ended
// once, and no bridge block, BSTR or SAFEARRAY is left behind.
#include "ops_test_fixture.h"
#include "stub_wrapper_object.h"
#ifndef _WIN32
#include "zul/host/test_hooks.h"
#endif

namespace zul::testing {
namespace {

#ifdef _WIN32  // Windows' OLE Automation can be neither counted nor told to fail
constexpr auto ZulHostTest_Allocations = [](int32_t) { return int64_t{0}; };
constexpr auto ZulHostTest_LiveAllocations = ZulHostTest_Allocations;
constexpr auto ZulHostTest_FailAllocationAt = [](int32_t, int64_t) {};
#endif

enum Kind { kBstr, kSafeArray, kBridgeBlock };  // the first two numbered as the host's hooks number them

// A caller's argument list; references point into the list's own storage.
struct Args {
  VARIANT& Add(VARTYPE vt, int64_t bits = 0, uint32_t flag = ArgFlag::InOnly | ArgFlag::Reorder) {
    values[count].vt = vt, values[count].llVal = bits, flags[count] = flag;
    return values[count++];
  }
  void Text(const OLECHAR* text) { Add(VT_BSTR).bstrVal = SysAllocString(text); }
  // Everything the caller holds clears as OLE Automation expects.
  ~Args() {
    for (int32_t i = 0; i < count; ++i) EXPECT_EQ(VariantClear(&values[i]), S_OK);
    SysFreeString(textBox);
    EXPECT_EQ(SafeArrayDestroy(arrayBox), S_OK);
    EXPECT_EQ(object.refs, 1u);
  }
  Variant values[3];
  uint32_t flags[3] = {};
  int32_t count = 0;
  BSTR textBox = SysAllocString(OLESTR("old"));
  SAFEARRAY* arrayBox = DoubleArray({1, 2});
  StubWrapperObject object;
};

// A 2 by 3 matrix of numbers, or three texts in a SAFEARRAY of BSTRs or of VARIANTs.
SAFEARRAY* Filled(VARTYPE vt) {
  SAFEARRAYBOUND bounds[2] = {{vt == VT_R8 ? 2u : 3u, 0}, {3, 0}};
  SAFEARRAY* psa = SafeArrayCreate(vt, vt == VT_R8 ? 2 : 1, bounds);
  const OLECHAR* texts[] = {OLESTR("x"), OLESTR("y\u00e9"), OLESTR("")};
  auto* items = static_cast<VARIANT*>(psa->pvData);
  for (int i = 0; i < 6; ++i) {
    if (vt == VT_R8) static_cast<double*>(psa->pvData)[i] = i;
    if (vt == VT_BSTR && i < 3) static_cast<BSTR*>(psa->pvData)[i] = SysAllocString(texts[i]);
    if (vt == VT_VARIANT && i < 3) items[i].vt = VT_BSTR, items[i].bstrVal = SysAllocString(texts[i]);
  }
  return psa;
}

// The shapes of argument list, and the argument the double hands back as the result (-1: a text
// array instead). By-reference arguments are echoed onto themselves.
const struct Shape {
  const char* name;
  void (*make)(Args&);
  int32_t result;
} kShapes[] = {
    {"no arguments", [](Args&) {}, -1},
    {"numbers", [](Args& a) { a.Add(VT_I4, 5), a.Add(VT_R8, 0x4004000000000000); }, 1},
    {"texts", [](Args& a) { a.Text(OLESTR("abc")), a.Text(OLESTR("gr\u00fc\u00dfe")); }, 1},
    {"strings", [](Args& a) { a.Add(VT_ARRAY | VT_BSTR).parray = Filled(VT_BSTR); }, 0},
    {"matrix", [](Args& a) { a.Add(VT_ARRAY | VT_R8).parray = Filled(VT_R8); }, 0},
    {"variants", [](Args& a) { a.Add(VT_ARRAY | VT_VARIANT).parray = Filled(VT_VARIANT); }, 0},
    {"by reference",
     [](Args& a) {
       a.Add(VT_BYREF | VT_BSTR, 0, ArgFlag::WriteBack | ArgFlag::Reorder).pbstrVal = &a.textBox;
       a.Add(VT_BYREF | VT_ARRAY | VT_R8, 0, ArgFlag::WriteBack | ArgFlag::Reorder).pparray = &a.arrayBox;
     },
     -1},
    {"object",
     [](Args& a) { a.Add(VT_DISPATCH).pdispVal = &a.object, a.object.AddRef(), a.Text(OLESTR("after")); }, 1},
};

// The operations as the client calls them, r being the caller's VARIANT.
const char* const kOperations[] = {"CallMethod",     "SetProperty",        "CreateObject",
                                   "SetZULVariable", "GetProperty",        "GetZULVariable",
                                   "ExecuteString",  "GetObjVariableName", "GetObjClassName"};
HRESULT Call(size_t op, int32_t c, Args& a, Variant& r) {
  if (op == 0) return ZUL_MSCOMPAL_CallMethod(c, OLESTR("m\u00e9"), a.count, a.values, a.flags, &r);
  if (op == 1) return ZUL_MSCOMPAL_SetProperty(c, OLESTR("p"), a.count, a.values, a.flags);
  if (op == 2) return ZUL_MSCOMPAL_CreateObject(c, a.count, a.values, a.flags, 0, 0, 0);
  if (op == 3) return ZUL_MSCOMPAL_SetZULVariable(c, OLESTR("v"), a.values[a.count - 1]);
  if (op == 4) return ZUL_MSCOMPAL_GetProperty(c, OLESTR("p"), &r);
  if (op == 5) return ZUL_MSCOMPAL_GetZULVariable(c, OLESTR("v"), &r);
  if (op == 6) return ZUL_MSCOMPAL_ExecuteString(c, OLESTR("print, 'gr\u00fc\u00dfe'"));
  r.vt = VT_BSTR;
  return op == 7 ? ZUL_MSCOMPAL_GetObjVariableName(c, &r.bstrVal)
                 : ZUL_MSCOMPAL_GetObjClassName(c, &r.bstrVal);
}

class AllocationFault : public OpsTest {
 protected:
  // Allocations of kind so far: the double's journal for bridge blocks, the host's counter otherwise.
  int64_t Attempts(Kind kind) const {
    if (kind != kBridgeBlock) return ZulHostTest_Allocations(kind);
    return static_cast<int64_t>(bridge->CallsTo(BridgeEntry::kAllocateMemory).size());
  }
  void FailAt(Kind kind, int64_t nth) const {
    kind == kBridgeBlock ? bridge->FailAllocationAt(nth) : ZulHostTest_FailAllocationAt(kind, nth);
  }

  // Runs operation op on shape with the nth allocation of kind failing (0: none); returns the
  // allocations of kind that the run attempted.
  int64_t Run(size_t op, const Shape& shape, Kind kind, int64_t nth) {
    const auto before =
        std::pair(ZulHostTest_LiveAllocations(kBstr), ZulHostTest_LiveAllocations(kSafeArray));
    bridge->Reset();
    // What the bridge hands back: a text array for properties and results, a 2 by 2 matrix for variables.
    BridgeString strings[2] = {{2, 0, 0, const_cast<char*>("p\xc3\xa9")}, {1, 0, 0, const_cast<char*>("q")}};
    double numbers[4] = {1, 2, 3, 4};
    BridgeArray texts{sizeof(BridgeString), 2 * sizeof(BridgeString), 2, strings, 1, {}, {2}, {}},
        matrix{sizeof(double), 4 * sizeof(double), 4, numbers, 2, {}, {2, 2}, {}};
    BridgeValue textArray{}, numberMatrix{};
    textArray.type = ZUL_TYP_STRING, numberMatrix.type = ZUL_TYP_DOUBLE;
    textArray.flags = numberMatrix.flags = ZUL_VALUEFLAG_ARRAY | ZUL_VALUEFLAG_BRIDGE_MEMORY;
    textArray.value.array = &texts, numberMatrix.value.array = &matrix;
    bridge->SetReturnValue(Entry(BridgeEntry::kGetProperty), &textArray);
    bridge->SetReturnValue(Entry(BridgeEntry::kGetZULVariable), &numberMatrix);
    bridge->SetReturnText(Entry(BridgeEntry::kGetObjVariableName), "var\xc3\xa9");
    shape.result < 0 ? bridge->SetReturnValue(Entry(BridgeEntry::kCallMethod), &textArray)
                     : bridge->EchoArgument(shape.result, -1);
    const int32_t cookie = Register(++cookie_, OLESTR("Cl\u00e4ss"));
    HRESULT hr = S_OK;
    int64_t attempts = 0;
    {
      Args args;
      shape.make(args);
      for (int32_t i = 0; i < args.count; ++i)
        if (args.flags[i] & ArgFlag::WriteBack) bridge->EchoArgument(i, i);
      Variant result;
      Mark();
      const int64_t start = Attempts(kind);
      FailAt(kind, nth);
      hr = Call(op, cookie, args, result);
      FailAt(kind, 0);
      attempts = Attempts(kind) - start;
      EXPECT_EQ(VariantClear(&result), S_OK);
    }
    const std::string message = LastError(cookie), calls = Calls();
    if (nth == 0 || nth > attempts || hr == S_OK) {
      // Only a text handed back may come out empty when its BSTR cannot be made.
      EXPECT_TRUE(hr == S_OK && (nth == 0 || nth > attempts || kind == kBstr)) << hr;
    } else {
      EXPECT_EQ(hr, kind == kBstr ? E_OUTOFMEMORY : E_FAIL);
      EXPECT_TRUE(kind == kBstr ? message == kNoMemory || message == kNone
                                : message == kAllocationFailed || message == kUnexpected)
          << message;
    }
    EXPECT_EQ(CallsTo(BridgeEntry::kEndTransaction).size(), CallsTo(BridgeEntry::kBeginTransaction).size());
    EXPECT_TRUE(calls.find("Begin") != 0 || calls.rfind("End") == calls.size() - 3) << calls;
    ExpectClean();
    EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(cookie), S_OK);
    EXPECT_EQ(std::pair(ZulHostTest_LiveAllocations(kBstr), ZulHostTest_LiveAllocations(kSafeArray)), before);
    return attempts;
  }

  // Every allocation point of kind, for every operation and shape; returns the points swept.
  int64_t Sweep(Kind kind) {
    int64_t points = 0;
    for (size_t op = 0; op < std::size(kOperations); ++op) {
      for (const Shape& shape : kShapes) {
        // Only the first four take arguments, and a variable takes one value.
        if (op >= 4 ? &shape != kShapes : op == 3 && &shape == kShapes) continue;
        SCOPED_TRACE(std::string(kOperations[op]) + " with " + shape.name);
        const int64_t attempts = Run(op, shape, kind, 0);
        for (int64_t nth = 1; nth <= attempts; ++nth) {
          SCOPED_TRACE("failing allocation " + std::to_string(nth));
          Run(op, shape, kind, nth);
        }
        points += attempts;
      }
    }
    return points;
  }

  int32_t cookie_ = 5000;
};

// Points when written: 70 bridge blocks, 21 BSTRs, 9 SAFEARRAYs.
TEST_F(AllocationFault, EveryBridgeBlockBstrAndSafeArray) {
  EXPECT_GE(Sweep(kBridgeBlock), 60);
#ifndef _WIN32
  EXPECT_GE(Sweep(kBstr), 18);
  EXPECT_GE(Sweep(kSafeArray), 8);
#endif
}

}  // namespace
}  // namespace zul::testing

// Every allocation that an operation makes fails in turn, for each shape of argument list: bridge
// blocks on both targets; BSTRs and SAFEARRAYs on the host, whose OLE Automation can be told to fail
// (Windows' cannot). Each failure ends in a documented result and message, the transaction is ended,
// and no bridge block, BSTR or SAFEARRAY is left behind.
#include <functional>

#include "ops_test_fixture.h"
#include "stub_wrapper_object.h"
#ifndef _WIN32
#include "zul/host/test_hooks.h"
#endif

namespace zul::testing {
namespace {

constexpr const char* kAllocationFailed = "Failed to allocate memory.";

enum class Kind { kBridgeBlock, kBstr, kSafeArray };

// A caller's argument list, cleared by the test; references point into the list's own storage.
struct Args {
  std::vector<VARIANT> values;
  std::vector<uint32_t> flags;
  BSTR textBox = nullptr;
  SAFEARRAY* arrayBox = nullptr;
  StubWrapperObject object;

  void Add(VARIANT v, uint32_t flag = ArgFlag::InOnly | ArgFlag::Reorder) {
    values.push_back(v);
    flags.push_back(flag);
  }
  int32_t Count() const { return static_cast<int32_t>(values.size()); }
  VARIANT* Data() { return values.empty() ? nullptr : values.data(); }
  // Everything the caller holds clears as OLE Automation expects.
  void Clear() {
    for (VARIANT& v : values) EXPECT_EQ(VariantClear(&v), S_OK);
    SysFreeString(textBox);
    EXPECT_EQ(SafeArrayDestroy(arrayBox), S_OK);
    EXPECT_EQ(object.refs, 1u);
  }
};

VARIANT Make(VARTYPE vt, int64_t bits) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  v.llVal = bits;
  return v;
}

VARIANT Text(const OLECHAR* text) {
  VARIANT v = Make(VT_BSTR, 0);
  v.bstrVal = SysAllocString(text);
  return v;
}

VARIANT ArrayOf(VARTYPE vt, SAFEARRAY* psa) {
  VARIANT v = Make(VT_ARRAY | vt, 0);
  v.parray = psa;
  return v;
}

SAFEARRAY* Matrix() {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 0}};
  SAFEARRAY* psa = SafeArrayCreate(VT_R8, 2, bounds);
  for (int i = 0; i < 6; ++i) static_cast<double*>(psa->pvData)[i] = i;
  return psa;
}

SAFEARRAY* Variants() {
  SAFEARRAYBOUND bound{3, 0};
  SAFEARRAY* psa = SafeArrayCreate(VT_VARIANT, 1, &bound);
  auto* items = static_cast<VARIANT*>(psa->pvData);
  items[0] = Text(OLESTR("a"));
  items[1] = Text(OLESTR("b\u00e9"));
  items[2] = Text(OLESTR(""));
  return psa;
}

// The shapes of argument list; echo tells the double which argument comes back as the result, and
// which are written back.
struct Shape {
  const char* name;
  std::function<void(Args&)> make;
  int32_t result;  // argument echoed as the result; -1 for none
  bool writeBack;  // every argument echoed onto itself
};

const Shape kShapes[] = {
    {"no arguments", [](Args&) {}, -1, false},
    {"numbers", [](Args& a) { a.Add(Make(VT_I4, 5)), a.Add(Make(VT_R8, 0x4004000000000000)); }, 1, false},
    {"texts", [](Args& a) { a.Add(Text(OLESTR("abc"))), a.Add(Text(OLESTR("gr\u00fc\u00dfe"))); }, 1, false},
    {"text array",
     [](Args& a) {
       a.Add(ArrayOf(VT_BSTR, StringArray({"x", "yz", ""})));
     },
     0, false},
    {"matrix", [](Args& a) { a.Add(ArrayOf(VT_R8, Matrix())); }, 0, false},
    {"variants", [](Args& a) { a.Add(ArrayOf(VT_VARIANT, Variants())); }, 0, false},
    {"by reference",
     [](Args& a) {
       a.textBox = SysAllocString(OLESTR("old"));
       a.arrayBox = DoubleArray({1, 2});
       VARIANT text = Make(VT_BYREF | VT_BSTR, 0);
       text.pbstrVal = &a.textBox;
       VARIANT array = Make(VT_BYREF | VT_ARRAY | VT_R8, 0);
       array.pparray = &a.arrayBox;
       a.Add(text, ArgFlag::WriteBack | ArgFlag::Reorder);
       a.Add(array, ArgFlag::WriteBack | ArgFlag::Reorder);
     },
     -1, true},
    {"object",
     [](Args& a) {
       VARIANT object = Make(VT_DISPATCH, 0);
       object.pdispVal = &a.object;
       a.object.AddRef();
       a.Add(object);
       a.Add(Text(OLESTR("after")));
     },
     1, false},
};

// An operation as the client calls it; result is the caller's VARIANT for the operations with one.
struct Operation {
  const char* name;
  std::function<HRESULT(int32_t cookie, Args& args, Variant& result)> call;
  bool takesArguments;
};

// What the bridge hands back for the operations without arguments: a string array for properties, a
// 2 by 2 matrix for variables.
struct Returns {
  BridgeString strings[2] = {{2, 0, 0, const_cast<char*>("p\xc3\xa9")}, {1, 0, 0, const_cast<char*>("q")}};
  double numbers[4] = {1, 2, 3, 4};
  BridgeArray textArray{};
  BridgeArray matrix{};
  BridgeValue textValue{};
  BridgeValue matrixValue{};

  Returns() {
    textArray = {sizeof(BridgeString), 2 * sizeof(BridgeString), 2, strings, 1, {}, {2}, {}};
    matrix = {sizeof(double), 4 * sizeof(double), 4, numbers, 2, {}, {2, 2}, {}};
    textValue.type = ZUL_TYP_STRING;
    textValue.flags = ZUL_VALUEFLAG_ARRAY | ZUL_VALUEFLAG_BRIDGE_MEMORY;
    textValue.value.array = &textArray;
    matrixValue = textValue;
    matrixValue.type = ZUL_TYP_DOUBLE;
    matrixValue.value.array = &matrix;
  }
};

const Operation kOperations[] = {
    {"CallMethod",
     [](int32_t c, Args& a, Variant& r) {
       return ZUL_MSCOMPAL_CallMethod(c, OLESTR("m\u00e9"), a.Count(), a.Data(), a.flags.data(), &r);
     },
     true},
    {"SetProperty",
     [](int32_t c, Args& a, Variant&) {
       return ZUL_MSCOMPAL_SetProperty(c, OLESTR("p"), a.Count(), a.Data(), a.flags.data());
     },
     true},
    {"CreateObject",
     [](int32_t c, Args& a, Variant&) {
       return ZUL_MSCOMPAL_CreateObject(c, a.Count(), a.Data(), a.flags.data(), 0, 0, 0);
     },
     true},
    {"SetZULVariable",
     [](int32_t c, Args& a, Variant&) {
       return a.values.empty() ? S_OK : ZUL_MSCOMPAL_SetZULVariable(c, OLESTR("v"), a.values.back());
     },
     true},
    {"GetProperty", [](int32_t c, Args&, Variant& r) { return ZUL_MSCOMPAL_GetProperty(c, OLESTR("p"), &r); },
     false},
    {"GetZULVariable",
     [](int32_t c, Args&, Variant& r) { return ZUL_MSCOMPAL_GetZULVariable(c, OLESTR("v"), &r); }, false},
    {"ExecuteString",
     [](int32_t c, Args&, Variant&) {
       return ZUL_MSCOMPAL_ExecuteString(c, OLESTR("print, 'gr\u00fc\u00dfe'"));
     },
     false},
    {"GetObjVariableName",
     [](int32_t c, Args&, Variant& r) {
       r.vt = VT_BSTR;
       return ZUL_MSCOMPAL_GetObjVariableName(c, &r.bstrVal);
     },
     false},
    {"GetObjClassName",
     [](int32_t c, Args&, Variant& r) {
       r.vt = VT_BSTR;
       return ZUL_MSCOMPAL_GetObjClassName(c, &r.bstrVal);
     },
     false},
};

class AllocationFault : public OpsTest {
 protected:
  // Allocations of kind so far: the double's journal for bridge blocks, the host's counter otherwise.
  int64_t Attempts([[maybe_unused]] Kind kind) const {
#ifndef _WIN32
    if (kind == Kind::kBstr) return ZulHostTest_Allocations(ZUL_HOST_TEST_BSTR);
    if (kind == Kind::kSafeArray) return ZulHostTest_Allocations(ZUL_HOST_TEST_SAFEARRAY);
#endif
    return static_cast<int64_t>(bridge->CallsTo(BridgeEntry::kAllocateMemory).size());
  }
  void FailAt([[maybe_unused]] Kind kind, int64_t nth) const {
#ifndef _WIN32
    if (kind == Kind::kBstr) return ZulHostTest_FailAllocationAt(ZUL_HOST_TEST_BSTR, nth);
    if (kind == Kind::kSafeArray) return ZulHostTest_FailAllocationAt(ZUL_HOST_TEST_SAFEARRAY, nth);
#endif
    bridge->FailAllocationAt(nth);
  }
  // Live BSTRs and SAFEARRAYs; nothing to count on Windows.
  static std::pair<int64_t, int64_t> Live() {
#ifndef _WIN32
    return {ZulHostTest_LiveAllocations(ZUL_HOST_TEST_BSTR),
            ZulHostTest_LiveAllocations(ZUL_HOST_TEST_SAFEARRAY)};
#else
    return {0, 0};
#endif
  }

  // Runs operation on shape with the nth allocation of kind failing (0: none); returns how many
  // allocations of kind the run attempted.
  int64_t Run(const Operation& operation, const Shape& shape, Kind kind, int64_t nth) {
    const auto before = Live();
    bridge->Reset();
    bridge->SetReturnValue(Entry(BridgeEntry::kGetProperty), &returns_.textValue);
    bridge->SetReturnValue(Entry(BridgeEntry::kGetZULVariable), &returns_.matrixValue);
    bridge->SetReturnText(Entry(BridgeEntry::kGetObjVariableName), "var\xc3\xa9");
    if (shape.result >= 0) {
      bridge->EchoArgument(shape.result, -1);
    } else {
      bridge->SetReturnValue(Entry(BridgeEntry::kCallMethod), &returns_.textValue);
    }
    const int32_t cookie = Register(++cookie_, OLESTR("Cl\u00e4ss"));
    Args args;
    shape.make(args);
    for (int32_t i = 0; shape.writeBack && i < args.Count(); ++i) bridge->EchoArgument(i, i);
    Variant result;
    Mark();
    const int64_t start = Attempts(kind);
    FailAt(kind, nth);
    const HRESULT hr = operation.call(cookie, args, result);
    FailAt(kind, 0);
    const int64_t attempts = Attempts(kind) - start;

    if (nth == 0 || nth > attempts) {
      EXPECT_EQ(hr, S_OK);
    } else if (hr == E_FAIL) {
      const std::string message = LastError(cookie);
      EXPECT_TRUE(message == kAllocationFailed || message == kUnexpected) << message;
      EXPECT_NE(kind, Kind::kBstr);
    } else if (hr == E_OUTOFMEMORY) {
      EXPECT_EQ(kind, Kind::kBstr);
      const std::string message = LastError(cookie);
      EXPECT_TRUE(message == kNoMemory || message == kNone) << message;
    } else {
      // Only a text handed back may come out empty when its BSTR cannot be made.
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(kind, Kind::kBstr);
    }
    EXPECT_EQ(bridge->OpenTransactions(), 0);
    EXPECT_EQ(bridge->TotalOutstandingBlocks(), 0);
    EXPECT_EQ(bridge->BadReleases(), 0);
    EXPECT_EQ(VariantClear(&result), S_OK);
    args.Clear();
    EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(cookie), S_OK);
    EXPECT_EQ(Live(), before) << "BSTRs and SAFEARRAYs alive";
    return attempts;
  }

  // Every allocation point of kind, for every operation and shape; returns the points swept.
  int64_t Sweep(Kind kind) {
    int64_t points = 0;
    for (const Operation& operation : kOperations) {
      for (const Shape& shape : kShapes) {
        if (!operation.takesArguments && &shape != &kShapes[0]) continue;
        SCOPED_TRACE(std::string(operation.name) + " with " + shape.name);
        const int64_t attempts = Run(operation, shape, kind, 0);
        for (int64_t nth = 1; nth <= attempts; ++nth) {
          SCOPED_TRACE("failing allocation " + std::to_string(nth));
          Run(operation, shape, kind, nth);
        }
        points += attempts;
      }
    }
    return points;
  }

  Returns returns_;
  int32_t cookie_ = 5000;
};

TEST_F(AllocationFault, EveryBridgeBlock) {
  EXPECT_GE(Sweep(Kind::kBridgeBlock), 60);  // 70 points when written
}

#ifndef _WIN32
TEST_F(AllocationFault, EveryBstr) {
  EXPECT_GE(Sweep(Kind::kBstr), 18);  // 21 points when written
}

TEST_F(AllocationFault, EverySafeArray) {
  EXPECT_GE(Sweep(Kind::kSafeArray), 8);  // 9 points when written
}
#endif

}  // namespace
}  // namespace zul::testing

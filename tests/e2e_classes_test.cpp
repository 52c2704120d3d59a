// The reference bridge's four classes driven through the exports: members, values both ways, by-reference
// write-back, and every argument error a client can provoke.
#include <regex>
#include <thread>

#include "e2e_support.h"

namespace zul::e2e {
namespace {

using Classes = EndToEnd;

// a = [[1, 2, 3], [4, 5, 6]] declared (2, 3) and b = [[1, 0], [0, 1], [1, 1]] declared (3, 2): the bridge
// sees each transposed (bound k is the stored rgsabound[k], last dimension first).
TEST_F(Classes, Matrix) {
  ASSERT_EQ(New("A", "Matrix", {"R8(2,3):1,4,2,5,3,6"}), "S_OK");
  ASSERT_EQ(New("B", "Matrix", {"I4(3,2):1,0,1,0,1,1"}), "S_OK");
  ASSERT_EQ(New("T", "Text"), "S_OK");
  Register("C", "Matrix");
  Run({{"A", "get Rows", {}, "I4:3"},
       {"A", "get cols", {}, "I4:2"},
       {"A", "get Data", {}, "R8(2,3):1,4,2,5,3,6"},
       {"A", "Shape", {}, "I4(2):3,2"},
       {"A", "TOTAL", {}, "R8:21"},
       {"A", "Transpose", {}, "R8(3,2):1,2,3,4,5,6"},
       {"B", "Multiply", {"@A"}, "R8(2,2):4,10,5,11"},
       {"A", "Multiply", {"@B"}, "R8(3,3):1,4,5,2,5,7,3,6,9"},
       {"A",
        "Multiply",
        {"@A"},
        "E_FAIL Matrix.Multiply: cannot multiply 3x2 by 3x2: the left's columns (2) must equal the right's "
        "rows "
        "(3)."},
       {"A", "Multiply", {"@T"}, "E_FAIL Matrix.Multiply: argument 1 is text1, a Text, not a Matrix."},
       {"A",
        "Multiply",
        {"I4:1"},
        "E_FAIL Matrix.Multiply: argument 1 must be an object reference (OBJREF), not LONG."},
       {"A",
        "Multiply",
        {"VARIANT(1):@B"},
        "E_FAIL Matrix.Multiply: argument 1 must be an object reference (OBJREF), not OBJREF[1]."},
       {"A",
        "Multiply",
        {"@C"},
        "E_FAIL Wrapper {#C} (Matrix) has no object: call ZUL_QEL_CreateObject first."},
       {"A", "Multiply", {"@999999"}, "E_FAIL Invalid cookie 999999 of the referenced wrapper."},
       {"A", "Multiply", {"@0"}, "E_FAIL Object reference must be another ZUL COM wrapper object."},
       {"A", "Scale", {"BSTR:x"}, "E_FAIL Matrix.Scale: argument 1 must be a numeric scalar, not STRING."},
       {"A", "Scale", {"I4:1", "I4:2"}, "E_FAIL Matrix.Scale takes 1 argument, not 2."},
       {"A", "Total", {"I4:1"}, "E_FAIL Matrix.Total takes 0 arguments, not 1."},
       {"A", "Invert", {}, "E_FAIL Matrix has no method 'Invert'."},
       {"A", "", {}, "E_FAIL No method name given."},
       {"A", "get ", {}, "E_FAIL No property name given."},
       {"A", "set ", {"I4:1"}, "E_FAIL No property name given."},
       {"A", "get Size", {}, "E_FAIL Matrix has no property 'Size'."},
       {"A", "set Rows", {"I4:1"}, "E_FAIL Matrix.Rows is read-only."},
       {"A", "set Data", {"I4:1", "I4:2"}, "E_FAIL Matrix.Data takes 1 value, not 2."},
       {"A",
        "set Data",
        {"I4:5"},
        "E_FAIL Matrix.Data: the value must be a two-dimensional numeric array with at least one row and one "
        "column, not LONG."},
       {"A", "Scale", {"I2:2"}, "R8(2,3):2,8,4,10,6,12"},
       {"A", "set Data", {"UI1(1,2):7,8"}, "S_OK"},
       {"A", "Shape", {}, "I4(2):2,1"},
       {"A", "get Data", {}, "R8(1,2):7,8"},
       {"C", "new", {}, "E_FAIL Matrix takes 1 constructor argument, not 0."},
       {"C",
        "new",
        {"BSTR(1,1):x"},
        "E_FAIL Matrix: argument 1 must be a two-dimensional numeric array with at least one row and one "
        "column, "
        "not STRING[1,1]."}});
}

// Without ArgFlag::Reorder the elements keep their storage order and only the bounds turn, so the Matrix
// is no transpose of the client's array; results always come back with Reorder.
TEST_F(Classes, MatrixWithoutReorder) {
  ASSERT_EQ(New("A", "Matrix", {"=R8(2,3):1,4,2,5,3,6"}), "S_OK");
  Run({{"A", "Shape", {}, "I4(2):3,2"},
       {"A", "get Data", {}, "R8(2,3):1,5,4,3,2,6"},
       {"A", "set Data", {"=R8(2,3):1,4,2,5,3,6"}, "S_OK"},
       {"A", "Transpose", {}, "R8(3,2):1,4,2,5,3,6"}});
}

TEST_F(Classes, Text) {
  ASSERT_EQ(New("T", "Text"), "S_OK");
  Register("U", "Text");
  Run({{"T", "Upper", {"BSTR:abc Z1"}, "BSTR:ABC Z1"},
       {"T", "upper", {"BSTR:"}, "BSTR:<null>"},
       {"T", "Length", {"BSTR:hello"}, "I4:5"},
       {"T", "Split", {"BSTR:a,,b", "BSTR:,"}, "BSTR(3):a,,b"},
       {"T", "Split", {"BSTR:a--b", "BSTR:--"}, "BSTR(2):a,b"},
       {"T", "Split", {"BSTR:", "BSTR:;"}, "BSTR(1):"},
       {"T", "Split", {"BSTR:a", "BSTR:"}, "E_FAIL Text.Split: the separator must not be empty."},
       {"T", "Split", {"I4:1", "BSTR:,"}, "E_FAIL Text.Split: argument 1 must be a string, not LONG."},
       {"T", "Join", {"BSTR(2,2):a,b,c,d", "BSTR:-"}, "BSTR:a-c-b-d"},
       {"T", "Join", {"=BSTR(2,2):a,b,c,d", "BSTR:-"}, "BSTR:a-b-c-d"},
       {"T",
        "Join",
        {"I4(1):1", "BSTR:,"},
        "E_FAIL Text.Join: argument 1 must be a string array, not LONG[1]."},
       {"T", "Join", {"BSTR(2):a,b", "I4:1"}, "E_FAIL Text.Join: argument 2 must be a string, not LONG."},
       {"T", "Upper", {}, "E_FAIL Text.Upper takes 1 argument, not 0."},
       {"T", "get Anything", {}, "E_FAIL Text has no property 'Anything'."},
       {"U", "new", {"I4:1"}, "E_FAIL Text takes 0 constructor arguments, not 1."}});
}

// Every VARTYPE a client passes, as the bridge names it and as it comes back.
TEST_F(Classes, EchoValues) {
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  const struct {
    const char* value;
    const char* zulType;
    const char* back;
  } kCases[] = {
      {"I1:-3", "BYTE", "UI1:253"},
      {"UI1:200", "BYTE", "UI1:200"},
      {"BOOL:-1", "BYTE", "UI1:1"},
      {"I2:-5", "INT", "I2:-5"},
      {"UI2:65535", "UINT", "UI2:65535"},
      {"UINT:65537", "UINT", "UI2:1"},
      {"I4:-7", "LONG", "I4:-7"},
      {"INT:8", "LONG", "I4:8"},
      {"ERROR:10", "LONG", "I4:10"},
      {"UI4:4000000000", "ULONG", "UI4:4000000000"},
      {"I8:-9000000000", "LONG64", "I8:-9000000000"},
      {"UI8:18000000000000000000", "ULONG64", "UI8:18000000000000000000"},
      {"R4:1.5", "FLOAT", "R4:1.5"},
      {"R8:0.1", "DOUBLE", "R8:0.1"},
      {"CY:25000", "DOUBLE", "R8:2.5"},
      {"DATE:45000.5", "DOUBLE", "R8:45000.5"},
      {"BSTR:text", "STRING", "BSTR:text"},
      {"BSTR:", "STRING", "BSTR:<null>"},
      {"I4(2,3):1,2,3,4,5,6", "LONG[3,2]", "I4(2,3):1,2,3,4,5,6"},
      {"I2(2,2,2):1,2,3,4,5,6,7,8", "INT[2,2,2]", "I2(2,2,2):1,2,3,4,5,6,7,8"},
      {"BSTR(3):a,,c", "STRING[3]", "BSTR(3):a,,c"},
      {"VARIANT(2):R8:1,R8:2", "DOUBLE[2]", "R8(2):1,2"},
      {"@E", "OBJREF", "E_FAIL Object references must be in-only (constant).  They cannot be returned."},
      {"VARIANT(2):@E,@E", "OBJREF[2]",
       "E_FAIL Object references must be in-only (constant).  They cannot be returned."}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(Do("E", "TypeName", {c.value}), std::string("BSTR:") + c.zulType);
    EXPECT_EQ(Do("E", "Echo", {c.value}), c.back);
  }
}

TEST_F(Classes, EchoByReference) {
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  Run({{"E", "Swap", {"&I4:1", "&BSTR:x"}, "I4:0 &BSTR:x &I4:1"},
       {"E", "Swap", {"&R8(2):1,2", "&BSTR(1):z"}, "I4:0 &BSTR(1):z &R8(2):1,2"},
       {"E",
        "Swap",
        {"I4:1", "&I4:2"},
        "E_FAIL Echo.Swap: argument 1 must be passed by reference (flag 0x0002)."},
       {"E", "Fill", {"&I4(3):1,2,3", "I2:7"}, "I4:3 &I4(3):7,7,7"},
       {"E", "Fill", {"&R8(2,2):1,2,3,4", "R8:0.5"}, "I4:4 &R8(2,2):0.5,0.5,0.5,0.5"},
       {"E", "Fill", {"&BSTR(2):a,b", "BSTR:zz"}, "I4:2 &BSTR(2):zz,zz"},
       {"E", "Fill", {"&I4(2):1,2", "R8:2.5"}, "E_FAIL Echo.Fill: 2.5 cannot be stored in a LONG array."},
       {"E",
        "Fill",
        {"&I4:1", "I4:2"},
        "E_FAIL Echo.Fill: argument 1 must be a numeric or string array, not LONG."},
       {"E",
        "Fill",
        {"&I4(2):1,2", "BSTR:x"},
        "E_FAIL Echo.Fill: argument 2 must be a numeric scalar, not STRING."},
       {"E",
        "Fill",
        {"&BSTR(1):a", "I4:1"},
        "E_FAIL Echo.Fill: argument 2 must be a string scalar, not LONG."},
       {"E", "Resize", {"&I4(3):7,8,9", "I4:5"}, "I4:3 &I4(5):7,8,9,0,0"},
       {"E", "Resize", {"&BSTR(2):a,b", "R8:1"}, "I4:2 &BSTR(1):a"},
       {"E", "Resize", {"&BSTR(1):a", "I4:3"}, "I4:1 &BSTR(3):a,,"},
       {"E",
        "Resize",
        {"&I4(2,2):1,2,3,4", "I4:3"},
        "E_FAIL Echo.Resize: argument 1 must be a one-dimensional numeric or string array, not LONG[2,2]."},
       {"E",
        "Resize",
        {"&I4(1):1", "I4:0"},
        "E_FAIL Echo.Resize: argument 2 must be a whole number from 1 to 16777216, not 0."},
       {"E",
        "Resize",
        {"&I4(1):1", "R8:1.5"},
        "E_FAIL Echo.Resize: argument 2 must be a whole number from 1 to 16777216, not 1.5."}});
}

// A locked client array cannot be replaced: Fill writes into it, Resize is refused and leaves it alone.
TEST_F(Classes, EchoIntoALockedArray) {
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  VARIANT args[2];
  Make("I4(3):1,2,3", args[0]);
  Make("I4:9", args[1]);
  SAFEARRAY* const array = args[0].parray;
  ASSERT_EQ(SafeArrayLock(array), S_OK);
  uint32_t flags[2] = {ArgFlag::WriteBack | ArgFlag::Reorder, ArgFlag::InOnly};
  EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(Cookie("E"), Wide("Fill").c_str(), 2, args, flags, nullptr), S_OK);
  EXPECT_EQ(args[0].parray, array);
  EXPECT_EQ(Show(args[0]), "I4(3):9,9,9");
  EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(Cookie("E"), Wide("Resize").c_str(), 2, args, flags, nullptr), E_FAIL);
  EXPECT_EQ(LastError(Cookie("E")),
            "Can't return modified (resized) safearray; client safearray is FIXED/STATIC/locked.");
  EXPECT_EQ(Show(args[0]), "I4(3):9,9,9");
  ASSERT_EQ(SafeArrayUnlock(array), S_OK);
  VariantClear(&args[0]);
}

TEST_F(Classes, WorkerRunsEventsAndArguments) {
  ASSERT_EQ(New("W", "Worker"), "S_OK");
  ASSERT_EQ(New("T", "Text"), "S_OK");
  Register("V", "Worker");
  Inbox& heard = Listen("W");
  EXPECT_EQ(Do("W", "Run", {"I4:30"}), "I4:30");
  EXPECT_EQ(heard.Take(), (std::vector<std::string>{"worker1: 10 of 30 ms", "worker1: 20 of 30 ms",
                                                    "worker1: 30 of 30 ms"}));
  Run({{"W", "Run", {"I4:0"}, "I4:0"},
       {"W",
        "Run",
        {"I4:-5"},
        "E_FAIL Worker.Run: argument 1 must be a whole number of milliseconds from 0 to 3600000, not -5."},
       {"W",
        "Start",
        {"R8:1.5"},
        "E_FAIL Worker.Start: argument 1 must be a whole number of milliseconds from 0 to 3600000, not 1.5."},
       {"W",
        "Run",
        {"BSTR:x"},
        "E_FAIL Worker.Run: argument 1 must be a whole number of milliseconds from 0 to 3600000, not "
        "STRING."},
       {"W",
        "Run",
        {"I4:3600001"},
        "E_FAIL Worker.Run: argument 1 must be a whole number of milliseconds from 0 to 3600000, not "
        "3600001."},
       {"W", "get LastEvent", {}, "I4:0"},
       {"W", "event 3", {}, "S_OK"},
       {"W", "event 9", {}, "S_OK"},
       {"W", "get LastEvent", {}, "I4:9"},
       {"W", "set LastEvent", {"I4:1"}, "E_FAIL Worker.LastEvent is read-only."},
       {"W", "event 0", {}, "raised E_UNEXPECTED Unknown event kind 0; the kinds are 1 to 9."},
       {"W", "event 10", {}, "raised E_UNEXPECTED Unknown event kind 10; the kinds are 1 to 9."},
       {"W", "event", {}, "raised E_UNEXPECTED No event record given."},
       {"V",
        "event 1",
        {},
        "raised E_UNEXPECTED Wrapper {#V} (Worker) has no object: call ZUL_QEL_CreateObject first."},
       {"T", "event 1", {}, "raised E_UNEXPECTED Text objects do not handle events."}});
  // The wrapper keeps the whole diagnostic; the library's own error is cleared.
  EXPECT_EQ(
      LastError(Cookie("T")),
      "ERROR: Event 'OnMouseDown' : Tarrow wrapper object 'Text'.\nText objects do not handle events.\n");
  EXPECT_EQ(LastError(0), "");
}

}  // namespace
}  // namespace zul::e2e

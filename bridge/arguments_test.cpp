// Arguments the classes refuse, and records that break the ABI, each with its code and text.
#include <algorithm>
#include <functional>
#include <map>

#include "testing/support.h"

namespace zul::testing {
namespace {

using Arguments = BridgeTest;

// Each call is "<object> <operation> | <argument> | ...", the object a letter: M the Matrix [[1, 3, 5],
// [2, 4, 6]] (handle 1), T a Text (handle 2), E an Echo, W a Worker; m and t are wrappers without an
// object yet, for constructor arguments.
TEST_F(Arguments, AreRefusedWithCodeAndText) {
  std::map<char, int32_t> cookies = {
      {'M', Register("Matrix")}, {'m', Register("Matrix")}, {'t', Register("Text")}};
  {
    Transaction t(cookies['M']);
    ASSERT_EQ(Do(cookies['M'], "new", {"LONG[2,3] 1 2 3 4 5 6"}), "0");
  }
  cookies['T'] = Create("Text");
  cookies['E'] = Create("Echo");
  cookies['W'] = Create("Worker");
  const std::string notMatrix =
      "must be a two-dimensional numeric array with at least one row and one column, not ";
  const std::pair<std::string, std::string> cases[] = {
      {"m new", "-1014: Matrix takes 1 constructor argument, not 0."},
      {"m new | LONG 4", "-1013: Matrix: argument 1 " + notMatrix + "LONG."},
      {"m new | DOUBLE[6] 1 2 3 4 5 6", "-1013: Matrix: argument 1 " + notMatrix + "DOUBLE[6]."},
      {"m new | DOUBLE[0,3]", "-1013: Matrix: argument 1 " + notMatrix + "DOUBLE[0,3]."},
      {"m new | STRING[2,1] 'a' 'b'", "-1013: Matrix: argument 1 " + notMatrix + "STRING[2,1]."},
      {"M Multiply | LONG 5",
       "-1013: Matrix.Multiply: argument 1 must be an object reference (OBJREF), not LONG."},
      {"M Multiply | OBJREF 99",
       "-1013: Matrix.Multiply: object handle 99 names no object of the default ZUL process."},
      {"M Multiply | OBJREF 2", "-1013: Matrix.Multiply: argument 1 is text1, a Text, not a Matrix."},
      {"M Multiply | OBJREF 1",
       "-1013: Matrix.Multiply: cannot multiply 2x3 by 2x3: the left's columns (3) must equal the right's "
       "rows (2)."},
      {"M Scale | STRING 'x'", "-1013: Matrix.Scale: argument 1 must be a numeric scalar, not STRING."},
      {"M Scale | LONG 1 | LONG 2", "-1014: Matrix.Scale takes 1 argument, not 2."},
      {"M Total | LONG 1", "-1014: Matrix.Total takes 0 arguments, not 1."},
      {"M Invert", "-1011: Matrix has no method 'Invert'."},
      {"M ", "-1011: No method name given."},
      {"M set Data | LONG[3] 1 2 3", "-1013: Matrix.Data: the value " + notMatrix + "LONG[3]."},
      {"M set Data | LONG 1 | LONG 2", "-1014: Matrix.Data takes 1 value, not 2."},
      {"M set ROWS | LONG 1", "-1012: Matrix.Rows is read-only."},
      {"M get Size", "-1012: Matrix has no property 'Size'."},
      {"M get ", "-1012: No property name given."},
      {"t new | LONG 1", "-1014: Text takes 0 constructor arguments, not 1."},
      {"T Upper | LONG 5", "-1013: Text.Upper: argument 1 must be a string, not LONG."},
      {"T Split | STRING 'abc' | STRING ''", "-1013: Text.Split: the separator must not be empty."},
      {"T Split | STRING 'abc' | LONG 1", "-1013: Text.Split: argument 2 must be a string, not LONG."},
      {"T Join | LONG[1] 1 | STRING ','",
       "-1013: Text.Join: argument 1 must be a string array, not LONG[1]."},
      {"E Swap | LONG 1 | &LONG 2",
       "-1013: Echo.Swap: argument 1 must be passed by reference (flag 0x0002)."},
      {"E Fill | LONG[1] 0 | LONG 1",
       "-1013: Echo.Fill: argument 1 must be passed by reference (flag 0x0002)."},
      {"E Fill | &LONG 0 | LONG 1",
       "-1013: Echo.Fill: argument 1 must be a numeric or string array, not LONG."},
      {"E Fill | &LONG[1] 0 | STRING 'x'",
       "-1013: Echo.Fill: argument 2 must be a numeric scalar, not STRING."},
      {"E Fill | &LONG[1] 0 | DOUBLE 2.5", "-1013: Echo.Fill: 2.5 cannot be stored in a LONG array."},
      {"E Resize | &LONG[1] 0 | LONG 0",
       "-1013: Echo.Resize: argument 2 must be a whole number from 1 to 16777216, not 0."},
      {"E Resize | &LONG[1,1] 0 | LONG 2",
       "-1013: Echo.Resize: argument 1 must be a one-dimensional numeric or string array, not LONG[1,1]."},
      {"W Run | STRING '10'",
       "-1013: Worker.Run: argument 1 must be a whole number of milliseconds from 0 to 3600000, not STRING."},
      {"W set LastEvent | LONG 1", "-1012: Worker.LastEvent is read-only."},
  };
  for (const auto& [call, expected] : cases) {
    std::vector<std::string> parts;
    for (std::size_t pos = 2, end = 0; pos <= call.size(); pos = end + 3) {
      end = std::min(call.find(" | ", pos), call.size());
      parts.push_back(call.substr(pos, end - pos));
    }
    const int32_t cookie = cookies[call[0]];
    Transaction t(cookie);
    EXPECT_EQ(Do(cookie, parts[0], std::vector<std::string>(parts.begin() + 1, parts.end())),
              "error " + expected);
  }
}

TEST_F(Arguments, RecordsThatBreakTheAbiAreRefused) {
  const int32_t echo = Create("Echo");
  Transaction t(echo);
  const std::pair<std::function<void(BridgeValue&, BridgeArray&)>, std::string> cases[] = {
      {[](BridgeValue& v, BridgeArray&) { v.type = ZUL_TYP_COMPLEX; },
       "type code 6 (COMPLEX) cannot be carried in a value"},
      {[](BridgeValue& v, BridgeArray&) { v.value.array = nullptr; }, "the array record is null"},
      {[](BridgeValue&, BridgeArray& a) { a.dimensionCount = 0; }, "1 to 8 dimensions expected, not 0"},
      {[](BridgeValue&, BridgeArray& a) { a.dimensionCount = 9; }, "1 to 8 dimensions expected, not 9"},
      {[](BridgeValue&, BridgeArray& a) { a.dims[1] = -3; }, "dims[1] is negative"},
      {[](BridgeValue&, BridgeArray& a) { a.elementCount = 5; },
       "elementCount 5 does not match the dimensions (6)"},
      {[](BridgeValue&, BridgeArray& a) { a.elementSize = 8; }, "elementSize 8 does not fit LONG (4)"},
      {[](BridgeValue&, BridgeArray& a) { a.totalBytes = 10; },
       "totalBytes 10 is not elementSize x elementCount (24)"},
      {[](BridgeValue&, BridgeArray& a) { a.data = nullptr; }, "the array data is null"},
  };
  Args args(echo, {"LONG[2,3] 1 2 3 4 5 6"});
  const BridgeValue record = args[0];
  const BridgeArray array = *record.value.array;
  for (const auto& [corrupt, detail] : cases) {
    corrupt(args[0], *record.value.array);
    EXPECT_EQ(Do(echo, "Echo", args), "error -1002: Invalid argument 1: " + detail + ".");
    args[0] = record;
    *record.value.array = array;
  }
  std::fill(record.value.array->dims + 2, record.value.array->dims + 8,
            1);  // unused: as a caller may leave them
  EXPECT_EQ(Do(echo, "Echo", args), "LONG[2,3] 1 2 3 4 5 6");
  BridgeValue* none[] = {nullptr};
  EXPECT_EQ(Outcome(ZUL_QEL_CallMethod(echo, "Echo", 1, none, nullptr, nullptr)),
            "error -1002: Invalid argument 1: the record is null.");
  // Filling a string array replaces its blocks, so they must be bridge memory.
  Args strings(echo, {"&STRING[1] 'a'", "STRING 'b'"});
  strings[0].flags = ZUL_VALUEFLAG_ARRAY;
  EXPECT_EQ(
      Do(echo, "Fill", strings),
      "error -1013: Echo.Fill: a string array must hold bridge memory (flag 0x10) to be filled in place.");
  strings[0].flags |= ZUL_VALUEFLAG_BRIDGE_MEMORY;  // for its release
}

}  // namespace
}  // namespace zul::testing

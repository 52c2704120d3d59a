// Text and Echo: string methods, values handed back unchanged, by-reference arguments changed in place,
// and records that break the ABI.
#include "bridge_test_support.h"

namespace zul::bridge::test {
namespace {

using TextEcho = BridgeTest;

TEST_F(TextEcho, TextMethods) {
  const struct {
    const char* method;
    Fill fill;
    std::string expected;
  } cases[] = {
      {"Upper", [](Args& a) { a.String("Mixed 1\xc3\xa9"); }, "STRING 'MIXED 1\xc3\xa9'"},
      {"Length", [](Args& a) { a.String("four"); }, "LONG 4"},
      {"Length", [](Args& a) { a.String(""); }, "LONG 0"},
      {"Split", [](Args& a) { a.String("a, b,, c").String(", "); }, "STRING[3] 'a' 'b,' 'c'"},
      {"Split", [](Args& a) { a.String("").String(","); }, "STRING[1] ''"},
      {"Join",
       [](Args& a) {
         a.Strings({3}, {"x", "", "z"}).String("-");
       },
       "STRING 'x--z'"},
      {"Join",
       [](Args& a) {
         a.Strings({2, 1}, {"p", "q"}).String("");
       },
       "STRING 'pq'"},
      {"Upper", [](Args& a) { a.String("x").String("y"); },
       "error -1014: Text.Upper takes 1 argument, not 2."},
      {"Upper", [](Args& a) { a.Long(5); },
       "error -1013: Text.Upper: argument 1 must be a string, not LONG."},
      {"Split", [](Args& a) { a.String("abc").String(""); },
       "error -1013: Text.Split: the separator must not be empty."},
      {"Split", [](Args& a) { a.String("abc").Long(1); },
       "error -1013: Text.Split: argument 2 must be a string, not LONG."},
      {"Join", [](Args& a) { a.Longs({1}, {1}).String(","); },
       "error -1013: Text.Join: argument 1 must be a string array, not LONG[1]."},
  };
  const int32_t cookie = Create("Text");
  Transaction t(cookie);
  for (const auto& c : cases) EXPECT_EQ(Do(cookie, c.method, c.fill), c.expected);
  EXPECT_EQ(Do(cookie, "get Length"), "error -1012: Text has no property 'Length'.");
}

TEST_F(TextEcho, EchoHandsBackEveryValueWithItsTypeAndShape) {
  const int32_t cookie = Create("Echo");
  Transaction t(cookie);
  for (const auto& [expected, fill] : Samples()) {
    EXPECT_EQ(Do(cookie, "Echo", fill), expected);
    EXPECT_EQ(Do(cookie, "TypeName", fill), "STRING '" + expected.substr(0, expected.find(' ')) + "'");
  }
}

TEST_F(TextEcho, SwapExchangesByReferenceArguments) {
  const int32_t cookie = Create("Echo");
  Transaction t(cookie);
  Args args(cookie);
  args.String("left", kByRef).Long(5, kByRef);
  EXPECT_EQ(Do(cookie, "Swap", args), "LONG 0");
  EXPECT_EQ(Dump(args[0]) + ", " + Dump(args[1]), "LONG 5, STRING 'left'");
  for (uint32_t flag : {0u, 0x0001u, 0x0003u}) {
    EXPECT_EQ(Do(cookie, "Swap", [&](Args& a) { a.Long(1, flag).Long(2, kByRef); }),
              "error -1013: Echo.Swap: argument 1 must be passed by reference (flag 0x0002).");
  }
}

TEST_F(TextEcho, FillAndResizeChangeArraysInPlace) {
  const int32_t cookie = Create("Echo");
  Transaction t(cookie);
  Args bytes(cookie);
  bytes.Array(ZUL_TYP_BYTE, {2, 2}, std::vector<uint8_t>{1, 2, 3, 4}, kByRef).Long(255);
  EXPECT_EQ(Do(cookie, "Fill", bytes), "LONG 4");
  EXPECT_EQ(Dump(bytes[0]), "BYTE[2,2] 255 255 255 255");
  Args texts(cookie);
  texts.Strings({3}, {"a", "", "c"}, kByRef).String("xy");
  EXPECT_EQ(Do(cookie, "Fill", texts), "LONG 3");
  EXPECT_EQ(Dump(texts[0]), "STRING[3] 'xy' 'xy' 'xy'");
  Args two(cookie);
  two.Long(2);
  BridgeValue* resize[] = {&texts[0], &two[0]};
  const uint32_t flags[] = {kByRef, 0};
  EXPECT_EQ(Outcome(ZUL_QEL_CallMethod(cookie, "Resize", 2, resize, flags, nullptr)), "0");
  EXPECT_EQ(Dump(texts[0]), "STRING[2] 'xy' 'xy'");
  EXPECT_EQ(ZulBridge_OutstandingBlocks(cookie), 2 + 4 + 1);  // the old blocks went back
  // Caller memory that is not the bridge's is left alone; the record gets bridge memory instead.
  int32_t elements[] = {7, 8, 9};
  BridgeArray array{4, 12, 3, elements, 1, {}, {3}, {}};
  Args foreign(cookie);
  foreign.Long(0, kByRef).Double(5);
  foreign[0].flags = ZUL_VALUEFLAG_ARRAY;
  foreign[0].value.array = &array;
  EXPECT_EQ(Do(cookie, "Resize", foreign), "LONG 3");
  EXPECT_EQ(Dump(foreign[0]), "LONG[5] 7 8 9 0 0");
  EXPECT_EQ(array.dims[0], 3);
  const std::pair<Fill, std::string> refused[] = {
      {[](Args& a) { a.Longs({1}, {0}, kByRef).Double(2.5); }, "Fill: 2.5 cannot be stored in a LONG array."},
      {[](Args& a) { a.Longs({1}, {0}, kByRef).String("x"); },
       "Fill: argument 2 must be a numeric scalar, not STRING."},
      {[](Args& a) { a.Long(0, kByRef).Long(1); },
       "Fill: argument 1 must be a numeric or string array, not LONG."},
      {[](Args& a) { a.Longs({1}, {0}).Long(1); },
       "Fill: argument 1 must be passed by reference (flag 0x0002)."},
      {[](Args& a) { a.Longs({1}, {0}, kByRef).Long(0); },
       "Resize: argument 2 must be a whole number from 1 to 16777216, not 0."},
      {[](Args& a) {
         a.Longs({1, 1}, {0}, kByRef).Long(2);
       },
       "Resize: argument 1 must be a one-dimensional numeric or string array, not LONG[1,1]."},
  };
  for (const auto& [fill, text] : refused) {
    EXPECT_EQ(Do(cookie, text.substr(0, text.find(':')), fill), "error -1013: Echo." + text);
  }
  char chars[] = "a";
  BridgeString element{1, 0, 0, chars};
  BridgeArray strings{16, 16, 1, &element, 1, {}, {1}, {}};
  BridgeValue record{ZUL_TYP_STRING, ZUL_VALUEFLAG_ARRAY, {}, {}};
  record.value.array = &strings;
  EXPECT_EQ(
      Do(cookie, "Fill",
         [&](Args& a) {
           a.Long(0, kByRef).String("b");
           a[0] = record;
         }),
      "error -1013: Echo.Fill: a string array must hold bridge memory (flag 0x10) to be filled in place.");
}

TEST_F(TextEcho, RecordsThatBreakTheAbiAreRefused) {
  const int32_t cookie = Create("Echo");
  Transaction t(cookie);
  Args args(cookie);
  args.Longs({2, 3}, {1, 2, 3, 4, 5, 6});
  BridgeArray& a = *args[0].value.array;
  const BridgeArray saved = a;
  const std::pair<std::function<void(BridgeValue&)>, std::string> cases[] = {
      {[](BridgeValue& v) { v.type = ZUL_TYP_COMPLEX; },
       "type code 6 (COMPLEX) cannot be carried in a value"},
      {[](BridgeValue& v) { v.type = 42; }, "type code 42 (type 42) cannot be carried in a value"},
      {[](BridgeValue& v) { v.value.array = nullptr; }, "the array record is null"},
      {[&](BridgeValue&) { a.dimensionCount = 0; }, "1 to 8 dimensions expected, not 0"},
      {[&](BridgeValue&) { a.dimensionCount = 9; }, "1 to 8 dimensions expected, not 9"},
      {[&](BridgeValue&) { a.dims[1] = -3; }, "dims[1] is negative"},
      {[&](BridgeValue&) { a.elementCount = 5; }, "elementCount 5 does not match the dimensions (6)"},
      {[&](BridgeValue&) { a.elementSize = 8; }, "elementSize 8 does not fit LONG (4)"},
      {[&](BridgeValue&) { a.totalBytes = 10; }, "totalBytes 10 is not elementSize x elementCount (24)"},
      {[&](BridgeValue&) { a.data = nullptr; }, "the array data is null"},
  };
  for (const auto& [corrupt, detail] : cases) {
    const BridgeValue record = args[0];
    corrupt(args[0]);
    EXPECT_EQ(Do(cookie, "Echo", args), "error -1002: Invalid argument 1: " + detail + ".");
    args[0] = record;
    a = saved;
  }
  BridgeValue* none[] = {nullptr};
  EXPECT_EQ(Outcome(ZUL_QEL_CallMethod(cookie, "Echo", 1, none, nullptr, nullptr)),
            "error -1002: Invalid argument 1: the record is null.");
  for (int k = 2; k < 8; ++k) a.dims[k] = 1;  // as a caller's reordering walk leaves them: meaningless
  EXPECT_EQ(Do(cookie, "Echo", args), "LONG[2,3] 1 2 3 4 5 6");
}

}  // namespace
}  // namespace zul::bridge::test

// Process variables: deep copies of values of every type and shape, and the types commands store.
#include "testing/support.h"

namespace zul::testing {
namespace {

using Variables = BridgeTest;

TEST_F(Variables, ValuesRoundTripAsDeepCopies) {
  const int32_t cookie = Create("Echo");
  Transaction t(cookie);
  for (const char* value :
       {"BYTE 200", "INT -3", "UINT 65535", "ULONG 4000000000", "FLOAT 1.5", "DOUBLE -2.25",
        "LONG64 -1099511627776", "ULONG64 9223372036854775813", "OBJREF 3", "STRING 'h\xc3\xa9llo'",
        "STRING ''", "DOUBLE[2,3] 1 2 3 4 5 6", "BYTE[1,1,2] 0 255", "UINT[2,1,1,1,1,1,1,1] 1 65535",
        "ULONG64[1] 18446744073709551615", "OBJREF[2] 1 2", "LONG[3,0]", "STRING[2,2] 'a' '' 'c d' 'e'"}) {
    EXPECT_EQ(Do(cookie, "let v", {value}), "0");  // the caller's memory is gone before the reads
    EXPECT_EQ(Do(cookie, "var V"), value);
    EXPECT_EQ(Do(cookie, "var v"), value);  // each read is a copy of its own
  }
}

TEST_F(Variables, TheTypesCommandsStore) {
  const int32_t cookie = Create("Echo");
  Transaction t(cookie);
  EXPECT_EQ(Do(cookie, "let 1x", {"LONG 1"}), "error -1015: Invalid variable name '1x'.");
  EXPECT_EQ(Do(cookie, "var nothing"),
            "error -1015: Undefined variable 'nothing' in the default ZUL process.");
  EXPECT_EQ(Do(cookie, "var Echo1"), "OBJREF 1");
  EXPECT_EQ(Do(cookie, "let m", {"DOUBLE[2,3] 1 2 3 4 5 6"}), "0");
  const std::pair<const char*, std::string> commands[] = {
      {"x = 1", "LONG 1"},
      {"x = 2147483648", "LONG64 2147483648"},
      {"x = 1.5", "DOUBLE 1.5"},
      {"x = [1, 2.5]", "DOUBLE[2] 1 2.5"},
      {"x = ['a', '']", "STRING[2] 'a' ''"},
      {"x = [1, 2] * 2", "LONG[2] 2 4"},
      {"x = m - 1", "DOUBLE[2,3] 0 1 2 3 4 5"},
  };
  for (const auto& [command, expected] : commands) {
    ASSERT_EQ(ZUL_QEL_ExecuteString(cookie, command), 0) << command;
    EXPECT_EQ(Do(cookie, "var x"), expected);
  }
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(RecordOutput), 0);
  ASSERT_EQ(ZUL_QEL_ExecuteString(cookie, "print, m * 2"), 0);
  EXPECT_EQ(Recorded(), std::vector<std::string>{"[[2, 4], [6, 8], [10, 12]]"});  // dims[0] innermost
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(RecordOutput), 0);
}

}  // namespace
}  // namespace zul::testing

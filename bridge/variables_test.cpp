// Process variables: deep copies of every value, names, object variables, and what commands store.
#include "bridge_test_support.h"

namespace zul::bridge::test {
namespace {

using Variables = BridgeTest;

TEST_F(Variables, EveryValueRoundTripsAsADeepCopy) {
  const int32_t cookie = Create("Echo");
  Transaction t(cookie);
  for (const auto& [expected, fill] : Samples()) {
    EXPECT_EQ(Do(cookie, "let v", fill), "0");  // the caller's memory is gone before the read
    EXPECT_EQ(Do(cookie, "var V"), expected);
  }
}

TEST_F(Variables, NamesObjectsAndTypedCommandResults) {
  const int32_t cookie = Create("Echo");
  Transaction t(cookie);
  const Fill one = [](Args& a) { a.Long(1); };
  for (const char* name : {"", "1x", "a b", "print", "Notify", "x-y"}) {
    EXPECT_EQ(Do(cookie, std::string("let ") + name, one),
              "error -1015: Invalid variable name '" + std::string(name) + "'.");
  }
  EXPECT_EQ(Outcome(ZUL_QEL_SetZULVariable(cookie, nullptr, nullptr)),
            "error -1015: Invalid variable name ''.");
  EXPECT_EQ(Outcome(ZUL_QEL_SetZULVariable(cookie, "x", nullptr)),
            "error -1002: Invalid value: the record is null.");
  EXPECT_EQ(Do(cookie, "var nothing"),
            "error -1015: Undefined variable 'nothing' in the default ZUL process.");
  EXPECT_EQ(Do(cookie, "var Echo1"), "OBJREF 1");
  EXPECT_EQ(Do(cookie, "let ECHO1", one),
            "error -1015: Variable 'ECHO1' holds the object of a wrapper and cannot be assigned.");
  EXPECT_EQ(Do(cookie, "let m",
               [](Args& a) {
                 a.Array(ZUL_TYP_DOUBLE, {2, 3}, std::vector<double>{1, 2, 3, 4, 5, 6});
               }),
            "0");
  const std::pair<const char*, std::string> commands[] = {
      {"x = 1", "LONG 1"},
      {"x = 2147483648", "LONG64 2147483648"},
      {"x = 1.5", "DOUBLE 1.5"},
      {"x = 'a'", "STRING 'a'"},
      {"x = [1, 2.5]", "DOUBLE[2] 1 2.5"},
      {"x = ['a']", "STRING[1] 'a'"},
      {"x = [1, 2] * 2", "LONG[2] 2 4"},
      {"x = m - 1", "DOUBLE[2,3] 0 1 2 3 4 5"},
  };
  for (const auto& [command, expected] : commands) {
    ASSERT_EQ(ZUL_QEL_ExecuteString(cookie, command), 0) << command;
    EXPECT_EQ(Do(cookie, "var x"), expected);
  }
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(Recorder::Output), 0);
  ASSERT_EQ(ZUL_QEL_ExecuteString(cookie, "print, m * 2"), 0);
  EXPECT_EQ(Recorder::Get().Lines(),
            std::vector<std::string>{"[[2, 4], [6, 8], [10, 12]]"});  // dims[0] innermost
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(Recorder::Output), 0);
}

}  // namespace
}  // namespace zul::bridge::test

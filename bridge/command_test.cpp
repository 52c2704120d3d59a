// The command language: what statements print, and where errors are reported.
#include "bridge_test_support.h"

namespace zul::bridge::test {
namespace {

class Commands : public BridgeTest {
 protected:
  void SetUp() override {
    BridgeTest::SetUp();
    ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(Recorder::Output), 0);
    cookie_ = Create("Echo");
  }
  void TearDown() override {
    EXPECT_EQ(ZUL_QEL_UnregisterOutputCallback(Recorder::Output), 0);
    BridgeTest::TearDown();
  }

  int32_t cookie_ = 0;
};

TEST_F(Commands, StatementsAndWhatTheyPrintOrWhereTheyFail) {
  const std::pair<std::string, std::string> cases[] = {
      {"print, 1 + 2 * 3, (1 + 2) * 3", "7 9"},
      {"PRINT, 7 / 2, -7 / 2, 7.0 / 2, --4", "3 -3 3.5 4"},
      {"print, 1 / 0.0, 0.1 + 0.2, 1e3, .5, 2.5e-3", "inf 0.30000000000000004 1000 0.5 0.0025"},
      {"print, 2147483648 + 1, 'it''s' + ' ok'", "2147483649 it's ok"},
      {"print, [1, 2, 3] * 2 - 1, 10 - [1, 2] + [0.5, 0]", "[1, 3, 5] [9.5, 8]"},
      {"print, ['a', 'b'] + 'x'", "['ax', 'bx']"},
      {"x = [1, 2, 3]", ""},
      {"Y = x * x", ""},
      {"print, y, X", "[1, 4, 9] [1, 2, 3]"},
      {"print", ""},
      {"", ""},
      {"x = 1 +", "error -1021: Syntax error at column 8: expected an expression."},
      {"x = []", "error -1021: Syntax error at column 6: expected an expression."},
      {"x = 'abc", "error -1021: Syntax error at column 5: the string is not closed."},
      {"x = 3 # 4", "error -1021: Syntax error at column 7: unexpected character '#'."},
      {"x = (1 + 2", "error -1021: Syntax error at column 11: expected ')'."},
      {"x = [1, 2", "error -1021: Syntax error at column 10: expected ',' or ']'."},
      {"5 = x", "error -1021: Syntax error at column 1: expected a statement."},
      {"x 5", "error -1021: Syntax error at column 3: expected '=' after the variable name."},
      {"print = 3", "error -1021: Syntax error at column 7: expected ',' after print."},
      {"x = 1 2", "error -1021: Syntax error at column 7: unexpected '2'."},
      {"x = 1.2.3", "error -1021: Syntax error at column 5: malformed number '1.2.3'."},
      {"x = 12abc", "error -1021: Syntax error at column 5: malformed number '12abc'."},
      {"x = 99999999999999999999",
       "error -1021: Syntax error at column 5: the number 99999999999999999999 is too large."},
      {"x = 1e999", "error -1021: Syntax error at column 5: the number 1e999 is too large."},
      {"notify, 'a'", "error -1021: Syntax error at column 12: expected ',' and a second value."},
      {"x = z + 1", "error -1022: Undefined variable 'z' at column 5."},
      {"x = 1 / 0", "error -1023: Division by zero at column 7."},
      {"print, 2147483647 + 1", "error -1023: Integer overflow at column 19."},
      {"print, [1, 2] + [1, 2, 3]", "error -1023: Shapes [2] and [3] do not match at column 15."},
      {"print, 'a' - 'b'", "error -1023: Operator '-' cannot combine STRING and STRING at column 12."},
      {"print, 'a' + 1", "error -1023: Operator '+' cannot combine STRING and LONG at column 12."},
      {"print, -'a'", "error -1023: Operator '-' cannot be applied to STRING at column 8."},
      {"x = [1, [2]]", "error -1023: Array elements must be scalars at column 9."},
      {"x = [1, 'a']", "error -1023: Array elements must be all numbers or all strings at column 9."},
      {"echo1 = 3",
       "error -1015: Variable 'echo1' holds the object of a wrapper and cannot be assigned at column 1."},
      {"print, x, echo1", "[1, 2, 3] <object 1>"},  // failed statements changed nothing
  };
  for (const auto& [command, expected] : cases) EXPECT_EQ(Execute(cookie_, command), expected) << command;
  Transaction t(cookie_);
  EXPECT_EQ(Outcome(ZUL_QEL_ExecuteString(cookie_, nullptr)), "error -1002: No command given.");
}

TEST_F(Commands, OutputGoesToTheCallerAndNotificationsToItsCallback) {
  const int32_t other = Create("Echo", "calc");
  ASSERT_EQ(ZUL_QEL_RegisterNotifyCallback(cookie_, Recorder::Notify), 0);
  EXPECT_EQ(Execute(other, "print, 'from calc'"), "from calc");
  EXPECT_EQ(Execute(other, "notify, 'dropped', 0"), "");  // no callback for that wrapper
  EXPECT_EQ(Execute(cookie_, "notify, 'sum', 1 + 1"), "");
  EXPECT_EQ(Recorder::Get().outputs.at(0).first, other);
  EXPECT_EQ(Recorder::Get().Lines(true), std::vector<std::string>{"sum 2"});
  EXPECT_EQ(Execute(other, "x = 1"), "");  // each process has its own variables
  EXPECT_EQ(Execute(cookie_, "print, x"), "error -1022: Undefined variable 'x' at column 8.");
}

}  // namespace
}  // namespace zul::bridge::test

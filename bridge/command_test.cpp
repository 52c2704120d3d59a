// The command language: what statements print, and the code, text and column of each failure.
#include "testing/support.h"

namespace zul::testing {
namespace {

using Commands = BridgeTest;

TEST_F(Commands, WhatStatementsPrintOrWhereTheyFail) {
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(RecordOutput), 0);
  const int32_t cookie = Create("Echo");
  const std::pair<std::string, std::string> cases[] = {
      {"print, 1 + 2 * 3, (1 + 2) * 3, 10 - 4 - 3, 12 / 2 / 3", "7 9 3 2"},
      {"PRINT, 7 / 2, -7 / 2, 7.0 / 2, --4, -2 * -3", "3 -3 3.5 4 6"},
      {"print, 1 / 0.0, 0.1 + 0.2, 1e3, .5, 2.5E-3, 1e20", "inf 0.30000000000000004 1000 0.5 0.0025 1e+20"},
      {"print, 2147483648 + 1, 'it''s' + ' ok'", "2147483649 it's ok"},
      {"print, [1, 2, 3] * 2 - 1, 10 - [1, 2] + [0.5, 0]", "[1, 3, 5] [9.5, 8]"},
      {"print, ['a', 'b'] + 'x'", "['ax', 'bx']"},
      {"x = [1, 2, 3]", ""},
      {"Y = x * x", ""},
      {"print, y, X, echo1", "[1, 4, 9] [1, 2, 3] <object 1>"},
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
      {"notify 1, 2", "error -1021: Syntax error at column 8: expected ',' after notify."},
      {"notify, 'a'", "error -1021: Syntax error at column 12: expected ',' and a second value."},
      {"x = 1 2", "error -1021: Syntax error at column 7: unexpected '2'."},
      {"x = 1.2.3", "error -1021: Syntax error at column 5: malformed number '1.2.3'."},
      {"x = 12abc", "error -1021: Syntax error at column 5: malformed number '12abc'."},
      {"x = 99999999999999999999",
       "error -1021: Syntax error at column 5: the number 99999999999999999999 is too large."},
      {"x = 1e999", "error -1021: Syntax error at column 5: the number 1e999 is too large."},
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
      {"print, x", "[1, 2, 3]"},  // failed statements changed nothing
  };
  for (const auto& [command, expected] : cases) EXPECT_EQ(Execute(cookie, command), expected) << command;
  Transaction t(cookie);
  EXPECT_EQ(Outcome(ZUL_QEL_ExecuteString(cookie, nullptr)), "error -1002: No command given.");
  EXPECT_EQ(ZUL_QEL_UnregisterOutputCallback(RecordOutput), 0);
}

}  // namespace
}  // namespace zul::testing

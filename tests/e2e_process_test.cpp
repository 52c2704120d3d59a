// ZUL processes through the exports: wrapper and object lifecycle, process variables, the command
// language, callbacks, and what happens while another thread or a background job holds the process.
#include <regex>
#include <thread>

#include "e2e_support.h"

namespace zul::e2e {
namespace {

using Processes = EndToEnd;

const char* const kInvalidCookie = "Invalid cookie.  Object has not been created.";

TEST_F(Processes, WrapperAndObjectLifecycle) {
  int32_t cookie = -1;
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(Wide("Plot").c_str(), 0, nullptr, &cookie), E_FAIL);
  EXPECT_EQ(cookie, 0);
  EXPECT_EQ(LastError(0), "Unknown class 'Plot'; the classes are Matrix, Text, Echo and Worker.");
  EXPECT_EQ(ZUL_MSCOMPAL_RegisterWrapper(nullptr, 0, nullptr, &cookie), E_FAIL);
  EXPECT_EQ(LastError(0), "No class name given.");

  Register("E", "eChO");
  Register("D", "Text", nullptr);
  Run({{"E", "name", {}, "E_FAIL"},
       {"E", "Echo", {"I4:1"}, "E_FAIL Wrapper {#E} (Echo) has no object: call ZUL_QEL_CreateObject first."},
       {"E", "new", {}, "S_OK"},
       {"E", "name", {}, "BSTR:echo1"},
       {"E", "new", {}, "E_FAIL Wrapper {#E} already has the object echo1."},
       {"E", "destroy", {}, "S_OK"},
       {"E", "destroy", {}, "E_FAIL Wrapper {#E} (Echo) has no object: call ZUL_QEL_CreateObject first."},
       {"E", "let echo2", {"I4:0"}, "S_OK"},  // a variable's name is skipped
       {"E", "new", {}, "S_OK"},
       {"E", "name", {}, "BSTR:echo3"},
       {"D", "new", {}, "S_OK"},
       {"E", "release", {}, "S_OK"}});
  BSTR className = nullptr;
  BSTR procName = nullptr;
  EXPECT_EQ(ZUL_MSCOMPAL_GetObjClassName(Cookie("D"), &className), S_OK);
  EXPECT_EQ(Narrow(className), "Text");
  SysFreeString(className);
  EXPECT_EQ(ZUL_MSCOMPAL_GetProcNameFromCookie(Cookie("D"), &procName), S_OK);
  EXPECT_EQ(procName, nullptr);  // the default process
  const int32_t released = Cookie("D");
  ASSERT_EQ(Do("D", "release"), "S_OK");
  EXPECT_EQ(ZUL_MSCOMPAL_GetProcNameFromCookie(released, &procName), E_INVALIDARG);
  EXPECT_EQ(LastError(0), kInvalidCookie);
}

// A proxy is the library's record of a cookie; the bridge decides whether the cookie means anything.
TEST_F(Processes, ProxyWrappers) {
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  const int32_t cookie = Cookie("E");
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(cookie), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(cookie, Wide("Echo").c_str(), 0, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(cookie), S_OK);
  BSTR className = nullptr;
  EXPECT_EQ(ZUL_MSCOMPAL_GetObjClassName(cookie, &className), S_OK);
  EXPECT_EQ(Narrow(className), "");
  SysFreeString(className);
  EXPECT_EQ(Do("E", "TypeName", {"I2:1"}), "BSTR:INT");

  const int32_t stranger = 2000000000;
  EXPECT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(stranger), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_ExecuteString(stranger, Wide("x = 1").c_str()), E_FAIL);
  EXPECT_EQ(LastError(stranger), "Invalid cookie 2000000000.");
  EXPECT_EQ(ZUL_MSCOMPAL_ReleaseWrapper(stranger), E_FAIL);
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(stranger), S_OK);
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(stranger), E_INVALIDARG);
}

// Values keep their type and shape in a process variable; names ignore case.
TEST_F(Processes, Variables) {
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  Listen("E");
  const struct {
    const char* value;
    const char* back;
  } kValues[] = {{"I4:5", "I4:5"},
                 {"BOOL:-1", "UI1:1"},
                 {"I8:5000000000", "I8:5000000000"},
                 {"R8:-0.25", "R8:-0.25"},
                 {"BSTR:text", "BSTR:text"},
                 {"BSTR(2):a,b", "BSTR(2):a,b"},
                 {"R8(2,3):1,4,2,5,3,6", "R8(2,3):1,4,2,5,3,6"}};
  for (const auto& v : kValues) {
    SCOPED_TRACE(v.value);
    EXPECT_EQ(Do("E", "let Value", {v.value}), "S_OK");
    EXPECT_EQ(Do("E", "var VALUE"), v.back);
  }
  Run({{"E", "exec", {"print, value"}, "[[1, 2, 3], [4, 5, 6]]"},  // a client's rows, dims[0] innermost
       {"E", "let o", {"@E"}, "S_OK"},
       {"E", "var o", {}, "E_FAIL Object references must be in-only (constant).  They cannot be returned."},
       {"E",
        "var echo1",
        {},
        "E_FAIL Object references must be in-only (constant).  They cannot be returned."},
       {"E",
        "let echo1",
        {"I4:1"},
        "E_FAIL Variable 'echo1' holds the object of a wrapper and cannot be assigned."},
       {"E", "let 1x", {"I4:1"}, "E_FAIL Invalid variable name '1x'."},
       {"E", "let print", {"I4:1"}, "E_FAIL Invalid variable name 'print'."},
       {"E", "var ", {}, "E_FAIL Invalid variable name ''."},
       {"E", "var nothing", {}, "E_FAIL Undefined variable 'nothing' in ZUL process '{P}'."}});
}

TEST_F(Processes, CommandLanguage) {
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  Listen("E");
  const struct {
    const char* command;
    const char* heard;
  } kCommands[] = {
      {"", ""},
      {" \t ", ""},
      {"x = 7", ""},
      {"print, x, X + 1", "7 8"},
      {"print, 2147483648, 2147483647 + 0", "2147483648 2147483647"},
      {"print, 2147483648 * 2", "4294967296"},
      {"print, 2147483647 + 1", "E_FAIL Integer overflow at column 19."},
      {"print, 7 / 2, -7 / 2, 7.0 / 2, 1 / 0.0", "3 -3 3.5 inf"},
      {"print, 1 / 0", "E_FAIL Division by zero at column 10."},
      {"print, .5 + 1e3 + 2.5E-1, 0.1 + 0.2, 1e20", "1000.75 0.30000000000000004 1e+20"},
      {"print, -(2 + 3) * 4, 2 + 3 * 4 - 1", "-20 13"},
      {"print, 'it''s', 'a' + 'b'", "it's ab"},
      {"print, [1, 2.5, 3], ['a', 'b'] + 'c', [1, 2] * [3, 4]", "[1, 2.5, 3] ['ac', 'bc'] [3, 8]"},
      {"print", ""},  // an empty line is never delivered
      {"notify, 'a', [x, 2]", "notify: a | [7, 2]"},
      {"x = 1 / 0", "E_FAIL Division by zero at column 7."},
      {"print, x", "7"},  // a failed statement changes nothing
      {"print, [1, 2] + [1, 2, 3]", "E_FAIL Shapes [2] and [3] do not match at column 15."},
      {"print, 'a' - 'b'", "E_FAIL Operator '-' cannot combine STRING and STRING at column 12."},
      {"print, -'a'", "E_FAIL Operator '-' cannot be applied to STRING at column 8."},
      {"print, [[1]]", "E_FAIL Array elements must be scalars at column 9."},
      {"print, [1, 'a']", "E_FAIL Array elements must be all numbers or all strings at column 12."},
      {"print, z", "E_FAIL Undefined variable 'z' at column 8."},
      {"echo1 = 1",
       "E_FAIL Variable 'echo1' holds the object of a wrapper and cannot be assigned at column 1."},
      {"print, 'abc", "E_FAIL Syntax error at column 8: the string is not closed."},
      {"print, 1 # 2", "E_FAIL Syntax error at column 10: unexpected character '#'."},
      {"print, (1 + 2", "E_FAIL Syntax error at column 14: expected ')'."},
      {"print, [1, 2", "E_FAIL Syntax error at column 13: expected ',' or ']'."},
      {"+ 1", "E_FAIL Syntax error at column 1: expected a statement."},
      {"x 1", "E_FAIL Syntax error at column 3: expected '=' after the variable name."},
      {"print 1", "E_FAIL Syntax error at column 7: expected ',' after print."},
      {"notify 1", "E_FAIL Syntax error at column 8: expected ',' after notify."},
      {"notify, 1", "E_FAIL Syntax error at column 10: expected ',' and a second value."},
      {"x = 1 2", "E_FAIL Syntax error at column 7: unexpected '2'."},
      {"x = 1.2.3", "E_FAIL Syntax error at column 5: malformed number '1.2.3'."},
      {"x = 99999999999999999999",
       "E_FAIL Syntax error at column 5: the number 99999999999999999999 is too large."},
      {"x =", "E_FAIL Syntax error at column 4: expected an expression."}};
  for (const auto& c : kCommands) EXPECT_EQ(Do("E", "exec", {c.command}), c.heard) << c.command;
  EXPECT_EQ(ZUL_MSCOMPAL_ExecuteString(Cookie("E"), nullptr), E_FAIL);
  EXPECT_EQ(LastError(Cookie("E")), "No command given.");
  EXPECT_TRUE(std::regex_match(Do("E", "exec", {"print, echo1"}), std::regex("<object [0-9]+>")));
}

// Output goes to the wrapper that ran the command; each wrapper's callbacks are its own.
TEST_F(Processes, Callbacks) {
  ASSERT_EQ(New("A", "Echo"), "S_OK");
  ASSERT_EQ(New("B", "Echo"), "S_OK");
  Inbox& a = Listen("A");
  Inbox& b = Listen("B");
  EXPECT_EQ(Do("A", "exec", {"print, 'to a'"}), "to a");
  EXPECT_TRUE(b.Take().empty());
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterOutputCallback(Cookie("A")), S_OK);
  EXPECT_EQ(Do("A", "exec", {"print, 'lost'"}), "");
  EXPECT_EQ(Do("B", "exec", {"print, 'to b'"}), "to b");
  EXPECT_EQ(Do("A", "exec", {"notify, 1, 'still'"}), "notify: 1 | still");
  EXPECT_EQ(ZUL_MSCOMPAL_UnregisterNotifyCallback(Cookie("A")), S_OK);
  EXPECT_EQ(Do("A", "exec", {"notify, 1, 'lost'"}), "");
  EXPECT_TRUE(a.Take().empty());
}

// While one thread is inside a process (a long Worker.Run), every other thread's call on it is refused
// as busy; an abort from another thread ends the run, and with nothing left to abort it is refused.
TEST_F(Processes, AbortAndBusy) {
  ASSERT_EQ(New("W", "Worker"), "S_OK");
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  Register("O", "Echo", (ProcessName() + "/other").c_str());
  ASSERT_EQ(Do("O", "new"), "S_OK");
  Inbox& progress = Listen("W");
  std::string ran;
  std::thread runner([&] { ran = Do("W", "Run", {"I4:600000"}); });
  ASSERT_TRUE(progress.WaitFor("worker1: 10 of 600000 ms"));
  const char* const busy = "E_ACCESSDENIED ZUL process '{P}' is busy in another thread's transaction.";
  Run({{"E", "Echo", {"I4:1"}, busy},
       {"E", "exec", {"x = 1"}, busy},
       {"E", "get Anything", {}, busy},
       {"E", "destroy", {}, busy},
       {"E", "release", {}, busy},
       {"E", "event 1", {}, "S_FALSE"},
       {"O", "Echo", {"I4:1"}, "I4:1"}});
  EXPECT_EQ(LastError(0), "The object's associated ZUL process is currently busy.");
  EXPECT_EQ(Do("E", "abort"), "S_OK");  // any wrapper of the process
  runner.join();
  EXPECT_TRUE(std::regex_match(ran, std::regex("E_ABORT Worker.Run of worker1 was aborted after [0-9]+ of "
                                               "600000 ms\\.")))
      << ran;
  EXPECT_EQ(Do("W", "abort"), Expand("E_FAIL No ZUL activity to abort in ZUL process '{P}'."));
  EXPECT_EQ(LastError(0), "There is no ZUL activity to abort.");
  EXPECT_EQ(Do("E", "Echo", {"I4:2"}), "I4:2");
}

// A background job holds its process from its own thread until it ends or is aborted, then notifies.
TEST_F(Processes, BackgroundJob) {
  ASSERT_EQ(New("W", "Worker"), "S_OK");
  ASSERT_EQ(New("E", "Echo"), "S_OK");
  Inbox& heard = Listen("W");
  const char* const busy = "E_ACCESSDENIED ZUL process '{P}' is busy with a background job of worker1.";
  Run({{"W", "Start", {"I4:600000"}, "I4:0"},
       {"E", "Echo", {"I4:1"}, busy},
       {"W", "release", {}, busy},
       {"W", "destroy", {}, busy},
       {"E", "abort", {}, "S_OK"}});
  ASSERT_TRUE(heard.WaitFor("notify: aborted | worker1"));
  heard.Take();
  EXPECT_EQ(Do("W", "Start", {"I4:20"}), "I4:0");
  ASSERT_TRUE(heard.WaitFor("notify: done | worker1"));
  EXPECT_EQ(heard.Take(), (std::vector<std::string>{"worker1: 10 of 20 ms", "worker1: 20 of 20 ms",
                                                    "notify: done | worker1"}));
  EXPECT_EQ(Do("E", "Echo", {"I4:1"}), "I4:1");
}

// Processes keep their own variables and objects; an object of another process cannot be an argument.
TEST_F(Processes, ProcessesAreSeparate) {
  ASSERT_EQ(New("A", "Matrix", {"R8(1,1):2"}), "S_OK");
  Register("B", "Matrix", (ProcessName() + "/other").c_str());
  ASSERT_EQ(Do("B", "new", {"R8(1,1):3"}), "S_OK");
  const std::string contextError = LastError(0);
  Listen("A");
  Listen("B");
  Run({{"A", "exec", {"x = 1"}, ""},
       {"B", "exec", {"print, x"}, "E_FAIL Undefined variable 'x' at column 8."},
       {"B", "name", {}, "BSTR:matrix1"},
       {"A",
        "Multiply",
        {"@B"},
        "E_FAIL Wrapper {#B} belongs to ZUL process '{P}/other', not to ZUL process '{P}'."}});
  EXPECT_EQ(LastError(0), contextError);  // refused while converting arguments: a plain failure
}

}  // namespace
}  // namespace zul::e2e

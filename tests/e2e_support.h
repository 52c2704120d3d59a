// End-to-end tests: a client of the shared library drives the reference bridge through the 25 exports.
// Values are written as text both ways, so that tables of cases stay short:
//   "I4:3"  "R8:2.5"  "BSTR:abc"  "BSTR:" (empty)  "EMPTY"  and any of I1 UI1 I2 UI2 I4 UI4 I8 UI8 INT UINT
//   R4 R8 CY DATE ERROR BOOL BSTR as a scalar;
//   "R8(2,3):1,4,2,5,3,6"  an array declared (2, 3), elements in storage order (first index fastest);
//   "VARIANT(2):I4:1,R8:2"  an array of VARIANTs;
//   "@A"  the wrapper A of the test as an object argument (an IDispatch with its "Cookie");
//   "@7"  an IDispatch whose "Cookie" is 7.
// An argument written "&..." is passed by reference (ArgFlag::WriteBack), "=..." without ArgFlag::Reorder;
// others are in-only with ArgFlag::Reorder, as generated wrappers pass them.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "zul/pal_mscom.h"

namespace zul::e2e {

std::string Narrow(BSTR text);
std::basic_string<OLECHAR> Wide(const std::string& text);
std::string HresultName(HRESULT hr);
std::string Show(const VARIANT& value);

// A wrapper object as a generated wrapper is: IDispatch with a "Cookie" property. Lives in the fixture.
class CookieObject : public IDispatch {
 public:
  explicit CookieObject(int32_t cookie) : cookie_(cookie) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO*, UINT*) override;
  ULONG References() const { return references_; }

 private:
  int32_t cookie_;
  ULONG references_ = 1;
};

// Lines that reach a wrapper's callbacks, from any thread.
struct Inbox {
  std::mutex lock;
  std::condition_variable arrived;
  std::vector<std::string> lines;  // output as it came, notifications as "notify: first | second"
  std::vector<std::string> Take();
  // Waits up to 30 s for a line that starts with prefix.
  bool WaitFor(const std::string& prefix);
};

// One operation of Do and its expected outcome; in `expected`, {P} stands for the test's process name and
// {#A} for the cookie of wrapper A.
struct Step {
  std::string who;
  std::string what;
  std::vector<std::string> args;
  std::string expected;
};

// Each test works in a ZUL process of its own (named after the test), so that object names start at
// matrix1, echo1, ... and no variable leaks between tests. At its end every wrapper is released and no
// bridge memory may be left outstanding.
class EndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void TearDown() override;

  // Registers wrapper `name` of a class in this test's process (or in proc; null for the default one).
  int32_t Register(const std::string& name, const std::string& className);
  int32_t Register(const std::string& name, const std::string& className, const char* proc);
  // Registers and creates; "S_OK" or the failure as Do gives it.
  std::string New(const std::string& name, const std::string& className,
                  const std::vector<std::string>& args = {});
  // Runs one operation on wrapper `name` and gives its outcome: the value (then each by-reference
  // argument as "&value"), "S_OK", or "<HRESULT> <the wrapper's last error>". Operations: "get P",
  // "set P", "var V", "let V", "exec" (args[0] is the command; the outcome is what the wrapper's
  // callbacks heard, lines joined with " / "), "new", "destroy", "release", "name", "event K" ("event" alone
  // passes no record), "abort", and any other text calls that method.
  std::string Do(const std::string& name, const std::string& what, const std::vector<std::string>& args = {});
  // Runs the steps in order, each traced.
  void Run(const std::vector<Step>& steps);
  std::string Expand(std::string text) const;
  // Registers output and notification callbacks on wrapper `name`.
  Inbox& Listen(const std::string& name);
  int32_t Cookie(const std::string& name) const { return cookies_.at(name); }
  static std::string LastError(int32_t cookie);
  const std::string& ProcessName() const { return process_; }

  // Fills out from a value's text; objects are made here and live until the test ends.
  void Make(const std::string& written, VARIANT& out);

 private:
  std::string process_ =
      std::string(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name()) + "." +
      ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::map<std::string, int32_t> cookies_;
  std::map<std::string, Inbox> inboxes_;
  std::deque<CookieObject> objects_;
};

}  // namespace zul::e2e

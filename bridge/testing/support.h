// What the reference bridge's tests share: argument records built as an ABI caller builds them, outcomes
// of entry points as text, recorded callbacks, and a fixture that checks for leaked bridge memory.
#ifndef ZUL_BRIDGE_TESTING_SUPPORT_H
#define ZUL_BRIDGE_TESTING_SUPPORT_H

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "zul/qel.h"
#include "zul_bridge.h"

namespace zul::testing {

// Argument records of one call in bridge memory of the calling cookie, written as Dump shows values
// ("LONG 5", "STRING 'a b'", "DOUBLE[2,3] 1 2 3 4 5 6"; a leading '&' passes one by reference, flag
// 0x0002) and released on destruction as the caller's ReleaseArgList does.
class Args {
 public:
  Args(int32_t cookie, const std::vector<std::string>& values);
  Args(const Args&) = delete;
  Args& operator=(const Args&) = delete;
  ~Args();

  BridgeValue& operator[](int i) { return records_[static_cast<std::size_t>(i)]; }
  int32_t Count() const { return static_cast<int32_t>(records_.size()); }
  BridgeValue** Values() { return pointers_.empty() ? nullptr : pointers_.data(); }
  const uint32_t* Flags() const { return flags_.empty() ? nullptr : flags_.data(); }

 private:
  void Add(const std::string& text);
  void* Allocate(uint64_t bytes);

  int32_t cookie_;
  std::deque<BridgeValue> records_;
  std::vector<BridgeValue*> pointers_;
  std::vector<uint32_t> flags_;
};

// Gives back a record's bridge memory as ReleaseArgList does and zeroes it.
void ReleaseValue(int32_t cookie, BridgeValue* value);
// "LONG 5", "STRING 'a'", "DOUBLE[2,3] 1 2 3 4 5 6" (dims[0] first, elements in storage order). Where a
// record breaks the ABI's conventions (flags, string records, descriptor sizes) the text says so.
std::string Dump(const BridgeValue& value);
// A status as text: the number when not negative, else "error <code>: <text>" from the thread's last
// error, which must carry the same code.
std::string Outcome(int32_t status);
// Runs one operation inside the caller's open transaction and gives its outcome as text: "new" creates
// the object, "get P" and "var V" read a property or variable (and release it), "set P" and "let V"
// write one, anything else calls that method.
std::string Do(int32_t cookie, const std::string& what, Args& args);
std::string Do(int32_t cookie, const std::string& what, const std::vector<std::string>& values = {});

// A transaction for one scope.
class Transaction {
 public:
  explicit Transaction(int32_t cookie) : cookie_(cookie) { EXPECT_EQ(ZUL_QEL_BeginTransaction(cookie), 0); }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction() { EXPECT_EQ(ZUL_QEL_EndTransaction(cookie_), 0); }

 private:
  int32_t cookie_;
};

// Callbacks that record the bridge's output lines and notifications ("first second"), from any thread.
void RecordOutput(int32_t cookie, const char* text);
void RecordNote(int32_t cookie, const char* first, const char* second);
std::vector<std::string> Recorded(bool notes = false);
std::string WaitForNote(std::size_t n);  // up to 10 s

// Initialises the bridge for each test and releases it afterwards, when no block may be outstanding.
class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static int32_t Register(const char* className, const char* procName = nullptr);
  // Registers and creates an object without constructor arguments.
  static int32_t Create(const char* className, const char* procName = nullptr);
  // In a transaction of its own: the lines printed, or the failure.
  static std::string Execute(int32_t cookie, const std::string& command);
};

}  // namespace zul::testing

#endif

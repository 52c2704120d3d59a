// What the reference bridge's tests share: argument records built as an ABI caller builds them, outcomes
// of entry points as text, a fixture that checks for leaked bridge memory, and callback recorders.
#ifndef ZUL_BRIDGE_TEST_SUPPORT_H
#define ZUL_BRIDGE_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "zul/qel.h"
#include "zul_bridge.h"

namespace zul::bridge::test {

inline constexpr uint32_t kByRef = 0x0002;

// Argument records of one call in bridge memory of the calling cookie, released on destruction as the
// caller's ReleaseArgList does.
class Args {
 public:
  explicit Args(int32_t cookie) : cookie_(cookie) {}
  Args(const Args&) = delete;
  Args& operator=(const Args&) = delete;
  ~Args();

  template <typename T>
  Args& Scalar(uint8_t type, T v, uint32_t flag = 0) {
    std::memcpy(&Add(type, 0, flag).value, &v, sizeof v);
    return *this;
  }
  Args& Long(int32_t v, uint32_t flag = 0) { return Scalar(ZUL_TYP_LONG, v, flag); }
  Args& Double(double v, uint32_t flag = 0) { return Scalar(ZUL_TYP_DOUBLE, v, flag); }
  Args& ObjRef(int32_t handle) { return Scalar(ZUL_TYP_OBJREF, handle); }
  Args& String(const std::string& text, uint32_t flag = 0);
  template <typename T>
  Args& Array(uint8_t type, const std::vector<int64_t>& dims, const std::vector<T>& elements,
              uint32_t flag = 0) {
    return Raw(type, dims, sizeof(T), elements.data(), elements.size(), flag);
  }
  Args& Longs(const std::vector<int64_t>& dims, const std::vector<int32_t>& elements, uint32_t flag = 0) {
    return Array(ZUL_TYP_LONG, dims, elements, flag);
  }
  Args& Strings(const std::vector<int64_t>& dims, const std::vector<std::string>& elements,
                uint32_t flag = 0);

  BridgeValue& operator[](int i) { return records_[static_cast<std::size_t>(i)]; }
  int32_t Count() const { return static_cast<int32_t>(records_.size()); }
  BridgeValue** Values() { return pointers_.empty() ? nullptr : pointers_.data(); }
  const uint32_t* Flags() const { return flags_.empty() ? nullptr : flags_.data(); }

 private:
  BridgeValue& Add(uint8_t type, uint8_t flags, uint32_t argFlag);
  Args& Raw(uint8_t type, const std::vector<int64_t>& dims, std::size_t size, const void* data,
            std::size_t count, uint32_t flag);
  void* Allocate(uint64_t bytes);

  int32_t cookie_;
  std::deque<BridgeValue> records_;
  std::vector<BridgeValue*> pointers_;
  std::vector<uint32_t> flags_;
};

using Fill = std::function<void(Args&)>;

// Gives back a record's bridge memory as ReleaseArgList does and zeroes it.
void ReleaseValue(int32_t cookie, BridgeValue* value);

// "LONG 5", "STRING 'a'", "DOUBLE[2,3] 1 2 3 4 5 6" (dims[0] first, elements in storage order). Where a
// record breaks the ABI's conventions (flags, string records, descriptor sizes) the text says so.
std::string Dump(const BridgeValue& value);
// A result as text: the number when not negative, else "error <code>: <text>" from the thread's last
// error, which must carry the same code.
std::string Outcome(int32_t status);
// Runs one operation inside the caller's open transaction and gives its outcome as text:
// "get P" and "var V" read a property or variable (and release it), "set P" and "let V" write one,
// anything else calls that method.
std::string Do(int32_t cookie, const std::string& what, Args& args);
std::string Do(int32_t cookie, const std::string& what, const Fill& fill = {});

// Values of every type and shape the ABI carries.
std::vector<std::pair<std::string, Fill>> Samples();

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

// Records what the bridge calls back, from any thread: (cookie, text); notes as "first second".
struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<int32_t, std::string>> outputs;
  std::vector<std::pair<int32_t, std::string>> notes;

  static Recorder& Get();
  static void Output(int32_t cookie, const char* text) { Get().Add(cookie, text, false); }
  static void OtherOutput(int32_t cookie, const char* text) {
    Get().Add(cookie, std::string("other: ") + text, false);
  }
  static void Notify(int32_t cookie, const char* first, const char* second) {
    Get().Add(cookie, std::string(first) + " " + second, true);
  }
  void Add(int32_t cookie, std::string text, bool note);
  std::vector<std::string> Lines(bool ofNotes = false);
  std::string WaitForNote(std::size_t n);  // up to 10 s
};

// Initialises the bridge for each test and releases it afterwards, when no block may be outstanding.
class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static int32_t Register(const char* className, const char* procName = nullptr);
  // Registers and creates an object without constructor arguments.
  static int32_t Create(const char* className, const char* procName = nullptr);
  // In a transaction of its own: the printed lines, or the failure.
  static std::string Execute(int32_t cookie, const std::string& command);
};

}  // namespace zul::bridge::test

#endif

// The reference bridge through its entry points, for what zul_pal_mscom never sends or cannot observe:
// records that break the ABI, the layout of the records handed out, memory accounting, per-thread state,
// objects kept while in use, and the guard at every entry. The rest is covered end to end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "errors.h"
#include "zul_bridge.h"

#ifndef _WIN32  // the bridge's allocations come here only where the system resolves them across libraries
std::atomic<bool> g_refuseAllocations{false};
void* operator new(std::size_t size) {
  void* block = g_refuseAllocations ? nullptr : std::malloc(size);
  return block != nullptr ? block : throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
#endif

namespace zul::bridge {
namespace {

// Gives back a record's contents as a caller does, and zeroes it.
void ReleaseValue(int32_t cookie, BridgeValue& value) {
  BridgeArray* a = (value.flags & ZUL_VALUEFLAG_ARRAY) != 0 ? value.value.array : nullptr;
  const auto* strings = a != nullptr ? static_cast<const BridgeString*>(a->data) : &value.value.str;
  for (int64_t i = 0; value.type == ZUL_TYP_STRING && i < (a != nullptr ? a->elementCount : 1); ++i)
    EXPECT_EQ(ZUL_QEL_ReleaseMemory(cookie, strings[i].chars), 0);
  for (void* block : {a != nullptr ? a->data : nullptr, static_cast<void*>(a)})
    EXPECT_EQ(ZUL_QEL_ReleaseMemory(cookie, block), 0);
  value = BridgeValue{};
}

// "<code>: <the thread's last error>", which must carry the same code; a status not negative as it is.
std::string Outcome(int32_t status) {
  int32_t code = 0;
  const char* text = status < 0 ? ZUL_QEL_GetLastError(&code) : "";
  return std::to_string(code == status ? status : 0) + (status < 0 ? ": " + std::string(text) : "");
}
std::string Error(int32_t code, const std::string& text) {
  return std::to_string(code) + ": " + text;
}

// In the caller's open transaction, a value as the bridge hands it out, computed by a command.
BridgeValue Value(int32_t cookie, const std::string& expression) {
  EXPECT_EQ(Outcome(ZUL_QEL_ExecuteString(cookie, ("v = " + expression).c_str())), "0");
  const BridgeValue* read = ZUL_QEL_GetZULVariable(cookie, "v");
  return read != nullptr ? *read : BridgeValue{};
}

std::string Call(int32_t cookie, const char* method, BridgeValue arg) {
  BridgeValue* args[] = {&arg};
  BridgeValue* result = nullptr;
  return Outcome(ZUL_QEL_CallMethod(cookie, method, 1, args, nullptr, &result));
}

// Initialises the bridge for each test and releases it afterwards, when no block may be outstanding.
class Bridge : public ::testing::Test {
 protected:
  void SetUp() override {
    BridgeInitRecord init{1, 1};
    ASSERT_EQ(ZUL_QEL_Initialize(&init), 0);
  }
  void TearDown() override {
    EXPECT_EQ(ZulBridge_OutstandingBlocks(-1), 0);
    EXPECT_EQ(ZUL_QEL_Release(), 0);
  }
  // Registers, opens a transaction and creates without arguments.
  static int32_t Open(const char* className) {
    const int32_t cookie = ZUL_QEL_RegisterWrapper(className, 0, nullptr);
    EXPECT_EQ(ZUL_QEL_BeginTransaction(cookie), 0);
    EXPECT_EQ(Outcome(ZUL_QEL_CreateObject(cookie, 0, nullptr, nullptr, 0, 0, 0)), "0");
    return cookie;
  }
};

using V = BridgeValue;
using A = BridgeArray;

TEST_F(Bridge, RecordsThatBreakTheAbiAreRefused) {
  const int32_t echo = Open("Echo");
  const std::pair<std::function<void(V&, A&)>, std::string> cases[] = {
      {[](V& v, A&) { v.type = ZUL_TYP_COMPLEX; }, "type code 6 (COMPLEX) cannot be carried in a value"},
      {[](V& v, A&) { v.value.array = nullptr; }, "the array record is null"},
      {[](V&, A& a) { a.dimensionCount = 9; }, "1 to 8 dimensions expected, not 9"},
      {[](V&, A& a) { a.dims[0] = -3; }, "dims[0] is negative"},
      {[](V&, A& a) { a.dims[0] = int64_t{1} << 62; }, "the array is too large"},
      {[](V&, A& a) { a.elementCount = 5; }, "elementCount 5 does not match the dimensions (6)"},
      {[](V&, A& a) { a.elementSize = 8; }, "elementSize 8 does not fit LONG (4)"},
      {[](V&, A& a) { a.totalBytes = 10; }, "totalBytes 10 is not elementSize x elementCount (24)"},
      {[](V&, A& a) { a.data = nullptr; }, "the array data is null"}};
  BridgeValue record = Value(echo, "[1, 2, 3, 4, 5, 6]");
  for (const auto& [corrupt, detail] : cases) {
    BridgeValue copy = record;
    BridgeArray array = *record.value.array;
    copy.value.array = &array;
    corrupt(copy, array);
    EXPECT_EQ(Call(echo, "Echo", copy), Error(kInvalidArgument, "Invalid argument 1: " + detail + "."));
  }
  ReleaseValue(echo, record);
  EXPECT_EQ(Outcome(ZUL_QEL_CallMethod(echo, "Echo", -1, nullptr, nullptr, nullptr)),
            Error(kInvalidArgument, "The argument count -1 is negative."));
  EXPECT_EQ(ZUL_QEL_EndTransaction(echo), 0);
}

// Blocks count under their cookie until given back; a method result's belong to its transaction. A string
// array's elements each hold a block of their own; unused dims are 0.
TEST_F(Bridge, BlocksAreAccountedToTheirCookie) {
  const int32_t a = Open("Text");
  const int32_t b = ZUL_QEL_RegisterWrapper("Echo", 0, nullptr);
  void* block = ZUL_QEL_AllocateMemory(a, 100);
  EXPECT_EQ(ZulBridge_OutstandingBlocks(a) * 10 + ZulBridge_OutstandingBlocks(b), 10);  // 1 and 0
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseMemory(b, block)),
            Error(kBadBlock, "The block belongs to cookie 1, not to cookie 2."));
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseMemory(a, block)), "0");
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseMemory(a, block)),
            Error(kBadBlock, "The block was not allocated by this bridge or has already been released."));
  EXPECT_EQ(ZUL_QEL_AllocateMemory(a, uint64_t{1} << 41), nullptr);
  EXPECT_EQ(Outcome(kOutOfMemory), Error(kOutOfMemory, "Cannot allocate 2199023255552 bytes."));
  BridgeValue text = Value(a, "'a,b'"), separator = Value(a, "','");
  BridgeValue* args[] = {&text, &separator};
  BridgeValue* result = nullptr;
  ASSERT_EQ(ZUL_QEL_CallMethod(a, "Split", 2, args, nullptr, &result), 0);
  const BridgeArray& parts = *result->value.array;
  EXPECT_EQ(std::count(parts.dims + 1, std::end(parts.dims), 0), 7);
  EXPECT_EQ(parts.elementSize, sizeof(BridgeString));
  EXPECT_EQ(ZulBridge_OutstandingBlocks(a), 2 + 4);
  ASSERT_EQ(ZUL_QEL_EndTransaction(a), 0);
  EXPECT_EQ(ZulBridge_OutstandingBlocks(a), 2);
  for (BridgeValue* value : {&text, &separator}) ReleaseValue(a, *value);
}

// An object is kept while a call runs on it: a callback of the call can neither drop it nor release the
// bridge.
std::string fromCallback;
void DropFromCallback(int32_t cookie, const char*) {
  if (fromCallback.empty())
    fromCallback = Outcome(ZUL_QEL_DestroyObject(cookie)) + "; " + Outcome(ZUL_QEL_Release());
}
TEST_F(Bridge, ObjectsInUseAreKept) {
  const int32_t worker = Open("Worker");
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(DropFromCallback), 0);
  EXPECT_EQ(Call(worker, "Run", Value(worker, "10")), "0");
  EXPECT_EQ(fromCallback, Error(ZUL_QEL_ERROR_BUSY, "worker1 is running a call.") + "; " +
                              Error(ZUL_QEL_ERROR_BUSY,
                                    "The bridge cannot be released while a call runs in the "
                                    "default ZUL process."));
  EXPECT_EQ(ZUL_QEL_EndTransaction(worker), 0);
}

// Nothing leaves an entry point: a text longer than the thread's record is cut before a character that does
// not fit whole, and where memory runs out the failure says so.
TEST_F(Bridge, EveryEntryRecordsWhatItCaught) {
  std::string name = "x";  // then 3 bytes a character: 4093 bytes fit the record's 4095 whole
  while (name.size() < 5000) name += "\xe2\x82\xac";
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterWrapper(name.c_str(), 0, nullptr)),
            Error(kUnknownClass, ("Unknown class '" + name).substr(0, 4093)));
#ifndef _WIN32
  g_refuseAllocations = true;
  const int32_t status = ZUL_QEL_ReleaseWrapper(999);
  g_refuseAllocations = false;
  EXPECT_EQ(Outcome(status), Error(kOutOfMemory, "Out of memory."));
#endif
}

}  // namespace
}  // namespace zul::bridge

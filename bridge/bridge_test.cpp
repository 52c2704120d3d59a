// The reference bridge through its entry points, for what zul_pal_mscom never sends or cannot observe:
// records that break the ABI, the layout of the records handed out, memory accounting, per-thread state
// and objects kept while in use. Classes, commands, jobs and callbacks are covered end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "zul/qel.h"
#include "zul_bridge.h"

namespace zul::testing {
namespace {

// Gives back a record's contents as a caller does (null blocks are accepted), and zeroes it.
void ReleaseValue(int32_t cookie, BridgeValue* value) {
  if ((value->flags & ZUL_VALUEFLAG_BRIDGE_MEMORY) == 0) return;
  BridgeArray* a = (value->flags & ZUL_VALUEFLAG_ARRAY) != 0 ? value->value.array : nullptr;
  const auto* strings = a != nullptr ? static_cast<const BridgeString*>(a->data) : &value->value.str;
  for (int64_t i = 0; value->type == ZUL_TYP_STRING && i < (a != nullptr ? a->elementCount : 1); ++i)
    EXPECT_EQ(ZUL_QEL_ReleaseMemory(cookie, strings[i].chars), 0);
  for (void* block : {a != nullptr ? a->data : nullptr, static_cast<void*>(a)})
    EXPECT_EQ(ZUL_QEL_ReleaseMemory(cookie, block), 0);
  *value = BridgeValue{};
}

// A status as text: the number when not negative, else "error <code>: <text>" from the thread's last
// error, which must carry the same code.
std::string Outcome(int32_t status) {
  if (status >= 0) return std::to_string(status);
  int32_t code = 0;
  const char* text = ZUL_QEL_GetLastError(&code);
  return "error " + std::to_string(status) + (code == status ? "" : " (code " + std::to_string(code) + ")") +
         ": " + (text != nullptr ? text : "(none)");
}

// In the caller's open transaction, a value as the bridge hands it out, computed by a command; its
// contents are the caller's, as for any argument record a caller builds.
BridgeValue Value(int32_t cookie, const std::string& expression) {
  EXPECT_EQ(Outcome(ZUL_QEL_ExecuteString(cookie, ("v = " + expression).c_str())), "0");
  const BridgeValue* read = ZUL_QEL_GetZULVariable(cookie, "v");
  return read != nullptr ? *read : BridgeValue{};
}

// Calls a method in the caller's open transaction.
std::string Call(int32_t cookie, const char* method, std::vector<BridgeValue> args,
                 const uint32_t* flags = nullptr) {
  std::vector<BridgeValue*> pointers;
  for (BridgeValue& arg : args) pointers.push_back(&arg);
  BridgeValue* result = nullptr;
  return Outcome(
      ZUL_QEL_CallMethod(cookie, method, static_cast<int32_t>(args.size()), pointers.data(), flags, &result));
}

struct Transaction {  // of the calling thread
  explicit Transaction(int32_t c) : cookie(c) { EXPECT_EQ(ZUL_QEL_BeginTransaction(c), 0); }
  ~Transaction() { EXPECT_EQ(ZUL_QEL_EndTransaction(cookie), 0); }
  int32_t cookie;
};

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
  // Registers and, without constructor arguments, creates.
  static int32_t Create(const char* className, bool withObject = true) {
    const int32_t cookie = ZUL_QEL_RegisterWrapper(className, 0, nullptr);
    EXPECT_GT(cookie, 0) << Outcome(cookie);
    Transaction t(cookie);
    EXPECT_EQ(withObject ? Outcome(ZUL_QEL_CreateObject(cookie, 0, nullptr, nullptr, 0, 0, 0)) : "0", "0");
    return cookie;
  }
};

using V = BridgeValue;
using A = BridgeArray;

TEST_F(Bridge, RecordsThatBreakTheAbiAreRefused) {
  const int32_t echo = Create("Echo");
  Transaction t(echo);
  const std::pair<std::function<void(V&, A&)>, std::string> cases[] = {
      {[](V& v, A&) { v.type = ZUL_TYP_COMPLEX; }, "type code 6 (COMPLEX) cannot be carried in a value"},
      {[](V& v, A&) { v.value.array = nullptr; }, "the array record is null"},
      {[](V&, A& a) { a.dimensionCount = 0; }, "1 to 8 dimensions expected, not 0"},
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
    EXPECT_EQ(Call(echo, "Echo", {copy}), "error -1002: Invalid argument 1: " + detail + ".");
  }
  // [[1], [2]] with the unused dims left as a caller may leave them.
  BridgeValue column = Value(echo, "[1, 2]");
  std::fill(column.value.array->dims + 1, column.value.array->dims + 8, 1);
  column.value.array->dimensionCount = 2;
  BridgeValue* matrixArgs[] = {&column};
  const int32_t matrix = Create("Matrix", false);
  Transaction m(matrix);
  ASSERT_EQ(Outcome(ZUL_QEL_CreateObject(matrix, 1, matrixArgs, nullptr, 0, 0, 0)), "0");
  BridgeValue strings = Value(echo, "['a']");
  strings.flags = ZUL_VALUEFLAG_ARRAY;  // filling replaces its elements' blocks: they must be bridge memory
  const BridgeValue b = Value(echo, "'b'");
  BridgeValue stale = Value(matrix, "echo1");
  stale.value.objRef = 99;  // a caller only passes handles it got from the bridge
  const uint32_t byReference[] = {0x0002, 0};
  EXPECT_EQ(
      Call(echo, "Fill", {strings, b}, byReference),
      "error -1013: Echo.Fill: a string array must hold bridge memory (flag 0x10) to be filled in place.");
  EXPECT_EQ(Call(matrix, "Multiply", {stale}),
            "error -1013: Matrix.Multiply: object handle 99 names no object of the default ZUL process.");
  strings.flags |= ZUL_VALUEFLAG_BRIDGE_MEMORY;
  for (BridgeValue value : {record, column, strings, b}) ReleaseValue(echo, &value);
  BridgeValue* none[] = {nullptr};
  const BridgeNotifyCallback note = [](int32_t, const char*, const char*) {};
  const std::pair<std::function<int32_t()>, std::string> entries[] = {
      {[&] { return ZUL_QEL_CallMethod(echo, "Echo", 1, none, nullptr, nullptr); },
       "-1002: Invalid argument 1: the record is null."},
      {[&] { return ZUL_QEL_CallMethod(echo, "Echo", -1, nullptr, nullptr, nullptr); },
       "-1002: The argument count -1 is negative."},
      {[&] { return ZUL_QEL_CallMethod(echo, "Echo", 1, nullptr, nullptr, nullptr); },
       "-1002: The argument list is null."},
      {[] { return ZUL_QEL_RegisterOutputCallback(nullptr); }, "-1002: No output callback given."},
      {[] { return ZUL_QEL_UnregisterOutputCallback(+[](int32_t, const char*) {}); },
       "-1002: The output callback is not registered."},
      {[&] { return ZUL_QEL_RegisterNotifyCallback(echo, nullptr); }, "-1002: No notify callback given."},
      {[&] { return ZUL_QEL_RegisterNotifyCallback(7, note); }, "-1003: Invalid cookie 7."}};
  for (const auto& [call, expected] : entries) EXPECT_EQ(Outcome(call()), "error " + expected);
}

// A scalar string holds a block of its own exactly when not empty, an array element always; a variable
// keeps a deep copy of what it is given.
TEST_F(Bridge, RecordsHandedOutFollowTheAbiAndCopiesAreDeep) {
  const int32_t cookie = Create("Echo", false);
  Transaction t(cookie);
  BridgeValue values[] = {Value(cookie, "'h\xc3\xa9'"), Value(cookie, "''"), Value(cookie, "['ab', '']")};
  EXPECT_EQ(Outcome(ZUL_QEL_SetZULVariable(cookie, "w", &values[0])), "0");
  ReleaseValue(cookie, &values[0]);
  values[0] = *ZUL_QEL_GetZULVariable(cookie, "W");
  const BridgeArray& a = *values[2].value.array;
  const auto* elements = static_cast<const BridgeString*>(a.data);
  std::string fields;
  for (const BridgeString& s : {values[0].value.str, values[1].value.str, elements[0], elements[1]})
    fields +=
        std::to_string(s.kind) + " " + std::to_string(s.length) + " " + (s.chars ? s.chars : "null") + "; ";
  EXPECT_EQ(fields, "1 3 h\xc3\xa9; 0 0 null; 0 2 ab; 0 0 ; ");
  EXPECT_EQ(std::vector<int64_t>({values[0].flags, values[1].flags, values[2].flags, a.elementSize,
                                  a.totalBytes, a.elementCount, std::count(a.dims + 1, a.dims + 8, 0)}),
            std::vector<int64_t>({16, 0, 20, 16, 32, 2, 7}));  // unused dims 0
  for (BridgeValue& value : values) ReleaseValue(cookie, &value);
}

// Blocks count under their cookie until given back. A method result belongs to the transaction that made
// it; a value read belongs to the caller.
TEST_F(Bridge, BlocksAreAccountedToTheirCookie) {
  const int32_t a = Create("Text");
  const int32_t b = Create("Echo", false);
  void* block = ZUL_QEL_AllocateMemory(a, 100);
  void* empty = ZUL_QEL_AllocateMemory(a, 0);
  EXPECT_EQ(ZulBridge_OutstandingBlocks(a), 2);
  EXPECT_EQ(ZulBridge_OutstandingBlocks(b), 0);
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseMemory(b, block)),
            "error -1008: The block belongs to cookie 1, not to cookie 2.");
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseMemory(a, block)), "0");
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseMemory(a, empty)), "0");
  int local = 0;
  for (void* p : {block, static_cast<void*>(&local)}) {
    EXPECT_EQ(Outcome(ZUL_QEL_ReleaseMemory(a, p)),
              "error -1008: The block was not allocated by this bridge or has already been released.");
  }
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseMemory(a, nullptr)), "0");
  EXPECT_EQ(ZUL_QEL_AllocateMemory(9, 8), nullptr);
  EXPECT_EQ(Outcome(-1003), "error -1003: Invalid cookie 9.");
  EXPECT_EQ(ZUL_QEL_AllocateMemory(a, uint64_t{1} << 41), nullptr);
  EXPECT_EQ(Outcome(-1006), "error -1006: Cannot allocate 2199023255552 bytes.");
  ASSERT_EQ(ZUL_QEL_BeginTransaction(a), 0);
  BridgeValue text = Value(a, "'a,b'");
  BridgeValue separator = Value(a, "','");
  BridgeValue* args[] = {&text, &separator};  // 2 blocks
  BridgeValue* result = nullptr;
  ASSERT_EQ(ZUL_QEL_CallMethod(a, "Split", 2, args, nullptr, &result), 0);
  BridgeValue read = Value(a, "['x', 'y']");  // the record goes at the end, its contents stay
  EXPECT_EQ(ZulBridge_OutstandingBlocks(a), 2 + 4 + 4);
  ReleaseValue(a, result);  // tolerated; a later block at the same address must survive the end
  void* later = ZUL_QEL_AllocateMemory(a, 16);
  ASSERT_EQ(ZUL_QEL_EndTransaction(a), 0);
  EXPECT_EQ(ZulBridge_OutstandingBlocks(a), 2 + 4 + 1);
  for (BridgeValue* value : {&text, &separator, &read}) ReleaseValue(a, value);
  EXPECT_EQ(ZUL_QEL_ReleaseMemory(a, later), 0);
  ASSERT_NE(ZUL_QEL_AllocateMemory(b, 64), nullptr);  // left to the release of the bridge
  EXPECT_EQ(ZUL_QEL_Release(), 0);
  EXPECT_EQ(ZulBridge_OutstandingBlocks(-1), 0);
  EXPECT_EQ(Outcome(ZUL_QEL_BeginTransaction(0)),
            "error -1001: The bridge is not initialised: call ZUL_QEL_Initialize first.");
  BridgeInitRecord version2{2, 1};
  EXPECT_EQ(Outcome(ZUL_QEL_Initialize(&version2)),
            "error -1002: Unsupported interface version 2 in the initialisation record; this bridge speaks "
            "version 1.");
  SetUp();
}

// Transactions and the last failure belong to the calling thread.
TEST_F(Bridge, TransactionsAndLastErrorsArePerThread) {
  const int32_t a = Create("Echo");
  const std::string none = "error -1007: No transaction is open on cookie 1 in this thread";
  EXPECT_EQ(Call(a, "TypeName", {}), none + ": call ZUL_QEL_BeginTransaction first.");
  EXPECT_EQ(Outcome(ZUL_QEL_EndTransaction(a)), none + ".");
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseWrapper(41)), "error -1003: Invalid cookie 41.");
  Transaction t(a);
  std::thread([&] {
    int32_t code = 1;
    EXPECT_EQ(ZUL_QEL_GetLastError(&code), nullptr);  // this thread has not failed yet
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Outcome(ZUL_QEL_EndTransaction(a)), none + ".");
  }).join();
  EXPECT_EQ(Outcome(-1003), "error -1003: Invalid cookie 41.");  // kept through this thread's successes
}

// What a callback of a running call tries from inside it (without the bridge's lock held, else a deadlock).
std::string fromCallback;
void DropFromCallback(int32_t cookie, const char*) {
  if (fromCallback.empty())
    fromCallback = Outcome(ZUL_QEL_DestroyObject(cookie)) + "; " + Outcome(ZUL_QEL_Release());
}

// An object is kept while a call runs on it or its job waits; the bridge's release aborts the job.
TEST_F(Bridge, ObjectsInUseAreKept) {
  const int32_t worker = Create("Worker");
  fromCallback.clear();
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(DropFromCallback), 0);
  {
    Transaction t(worker);
    EXPECT_EQ(Call(worker, "Run", {Value(worker, "10")}), "0");
    EXPECT_EQ(
        fromCallback,
        "error -2001: worker1 is running a call.; error -2001: The bridge cannot be released while a call "
        "runs in the default ZUL process.");
    ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(DropFromCallback), 0);
    ASSERT_EQ(Call(worker, "Start", {Value(worker, "60000")}), "0");
    EXPECT_EQ(Call(worker, "Start", {Value(worker, "1")}),
              "error -2001: The default ZUL process already has a background job of worker1.");
    const std::string kept = "error -2001: worker1 has a background job; abort it first.";
    EXPECT_EQ(Outcome(ZUL_QEL_DestroyObject(worker)), kept);
    EXPECT_EQ(Outcome(ZUL_QEL_ReleaseWrapper(worker)), kept);
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ZUL_QEL_Release(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  SetUp();
}

}  // namespace
}  // namespace zul::testing

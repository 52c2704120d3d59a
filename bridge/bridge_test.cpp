// The reference bridge through its entry points, for what zul_pal_mscom never sends or cannot observe:
// records that break the ABI, the layout of the records handed out, memory accounting, per-thread state,
// background jobs and callback registrations. Classes and commands are covered end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zul/qel.h"
#include "zul_bridge.h"

namespace zul::testing {
namespace {

using namespace std::chrono_literals;

const char* const kTypeNames[] = {"UNDEF",   "BYTE",   "INT",    "LONG",     "FLOAT", "DOUBLE",
                                  "COMPLEX", "STRING", "STRUCT", "DCOMPLEX", "PTR",   "OBJREF",
                                  "UINT",    "ULONG",  "LONG64", "ULONG64"};
const int kSizes[] = {0, 1, 2, 4, 4, 8, 0, 16, 0, 0, 0, 4, 2, 4, 8, 8};

std::string Element(uint8_t type, const void* p, bool inArray) {
  if (type == ZUL_TYP_STRING) {
    const auto* s = static_cast<const BridgeString*>(p);
    const std::string chars = s->chars != nullptr ? s->chars : "";
    // Array elements always have characters; a scalar has them, with kind 1, exactly when not empty.
    const bool wellFormed =
        inArray ? s->kind == 0 && s->chars != nullptr
                : (s->kind == 1) == (s->chars != nullptr) && (s->chars != nullptr) == !chars.empty();
    return (wellFormed && s->length == static_cast<int32_t>(chars.size()) ? "'" : "bad string '") + chars +
           "'";
  }
  uint64_t bits = 0;
  std::memcpy(&bits, p, static_cast<std::size_t>(kSizes[type]));
  if (type == ZUL_TYP_FLOAT || type == ZUL_TYP_DOUBLE) {
    float f = 0;
    double d = 0;
    std::memcpy(type == ZUL_TYP_FLOAT ? static_cast<void*>(&f) : &d, &bits,
                static_cast<std::size_t>(kSizes[type]));
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", type == ZUL_TYP_FLOAT ? f : d);
    return text;
  }
  const int shift = 64 - 8 * kSizes[type];
  const bool isSigned =
      type == ZUL_TYP_INT || type == ZUL_TYP_LONG || type == ZUL_TYP_OBJREF || type == ZUL_TYP_LONG64;
  return isSigned ? std::to_string(static_cast<int64_t>(bits << shift) >> shift) : std::to_string(bits);
}

// "LONG 5", "STRING 'a'", "DOUBLE[2] 1 2" (dims[0] first, elements in storage order); where a record breaks
// the ABI's conventions (flags, string records, descriptor) the text says so.
std::string Dump(const BridgeValue& v) {
  if (v.type >= 16 || kSizes[v.type] == 0) return "type " + std::to_string(v.type);
  std::string out = kTypeNames[v.type];
  if ((v.flags & ZUL_VALUEFLAG_ARRAY) == 0) {
    const bool memory = v.type == ZUL_TYP_STRING && v.value.str.chars != nullptr;
    if (v.flags != (memory ? ZUL_VALUEFLAG_BRIDGE_MEMORY : 0)) out += " flags " + std::to_string(v.flags);
    return out + " " + Element(v.type, &v.value, false);
  }
  const BridgeArray& a = *v.value.array;
  int64_t count = 1;
  for (int k = 0; k < a.dimensionCount; ++k) {
    out += (k == 0 ? "[" : ",") + std::to_string(a.dims[k]);
    count *= a.dims[k];
  }
  out += "]";
  if (v.flags != (ZUL_VALUEFLAG_ARRAY | ZUL_VALUEFLAG_BRIDGE_MEMORY))
    out += " flags " + std::to_string(v.flags);
  if (count != a.elementCount || a.elementSize != kSizes[v.type] || a.totalBytes != a.elementSize * count ||
      !std::all_of(a.dims + a.dimensionCount, a.dims + 8, [](int64_t d) { return d == 0; }))
    out += " bad descriptor";
  for (int64_t i = 0; i < a.elementCount; ++i)
    out += " " + Element(v.type, static_cast<const char*>(a.data) + i * a.elementSize, true);
  return out;
}

// Gives back a record's contents as a caller does, and zeroes it.
void ReleaseValue(int32_t cookie, BridgeValue* value) {
  if ((value->flags & ZUL_VALUEFLAG_BRIDGE_MEMORY) == 0) return;
  if ((value->flags & ZUL_VALUEFLAG_ARRAY) != 0) {
    BridgeArray* a = value->value.array;
    for (int64_t i = 0; value->type == ZUL_TYP_STRING && i < a->elementCount; ++i)
      EXPECT_EQ(ZUL_QEL_ReleaseMemory(cookie, static_cast<BridgeString*>(a->data)[i].chars), 0);
    EXPECT_EQ(ZUL_QEL_ReleaseMemory(cookie, a->data), 0);
    EXPECT_EQ(ZUL_QEL_ReleaseMemory(cookie, a), 0);
  } else if (value->type == ZUL_TYP_STRING) {
    EXPECT_EQ(ZUL_QEL_ReleaseMemory(cookie, value->value.str.chars), 0);
  }
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

// Calls a method in the caller's open transaction, then gives back the arguments' contents.
std::string Call(int32_t cookie, const char* method, std::vector<BridgeValue> args = {},
                 std::vector<uint32_t> flags = {}) {
  std::vector<BridgeValue*> pointers;
  for (BridgeValue& arg : args) pointers.push_back(&arg);
  BridgeValue* result = nullptr;
  const int32_t status = ZUL_QEL_CallMethod(cookie, method, static_cast<int32_t>(args.size()),
                                            pointers.data(), flags.empty() ? nullptr : flags.data(), &result);
  const std::string outcome = status < 0 ? Outcome(status) : Dump(*result);
  for (BridgeValue& arg : args) ReleaseValue(cookie, &arg);
  return outcome;
}

class Transaction {
 public:
  explicit Transaction(int32_t cookie) : cookie_(cookie) { EXPECT_EQ(ZUL_QEL_BeginTransaction(cookie), 0); }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction() { EXPECT_EQ(ZUL_QEL_EndTransaction(cookie_), 0); }

 private:
  int32_t cookie_;
};

// Output lines and notifications ("first second") as the callbacks receive them, from any thread.
std::mutex recordMutex;
std::vector<std::string> recorded[2];

void Record(bool note, std::string text) {
  std::lock_guard lock(recordMutex);
  recorded[note].push_back(std::move(text));
}
void RecordOutput(int32_t, const char* text) {
  Record(false, text);
}
void RecordNote(int32_t, const char* first, const char* second) {
  Record(true, std::string(first) + " " + second);
}
std::vector<std::string> Recorded(bool notes = false) {
  std::lock_guard lock(recordMutex);
  return recorded[notes];
}
void WaitFor(bool note) {  // up to 10 s
  for (int i = 0; i < 1000 && Recorded(note).empty(); ++i) std::this_thread::sleep_for(10ms);
}

// Initialises the bridge for each test and releases it afterwards, when no block may be outstanding.
class Bridge : public ::testing::Test {
 protected:
  void SetUp() override {
    Reinitialise();
    std::lock_guard lock(recordMutex);
    recorded[0].clear();
    recorded[1].clear();
  }
  void TearDown() override {
    EXPECT_EQ(ZulBridge_OutstandingBlocks(-1), 0);
    EXPECT_EQ(ZUL_QEL_Release(), 0);
  }
  static void Reinitialise() {
    BridgeInitRecord init{1, 1};
    ASSERT_EQ(ZUL_QEL_Initialize(&init), 0);
  }
  // Registers and, without constructor arguments, creates.
  static int32_t Create(const char* className, bool withObject = true) {
    const int32_t cookie = ZUL_QEL_RegisterWrapper(className, 0, nullptr);
    EXPECT_GT(cookie, 0) << Outcome(cookie);
    Transaction t(cookie);
    if (withObject) {
      EXPECT_EQ(Outcome(ZUL_QEL_CreateObject(cookie, 0, nullptr, nullptr, 0, 0, 0)), "0");
    }
    return cookie;
  }
};

TEST_F(Bridge, RecordsThatBreakTheAbiAreRefused) {
  const int32_t echo = Create("Echo");
  Transaction t(echo);
  const std::pair<std::function<void(BridgeValue&, BridgeArray&)>, std::string> cases[] = {
      {[](BridgeValue& v, BridgeArray&) { v.type = ZUL_TYP_COMPLEX; },
       "type code 6 (COMPLEX) cannot be carried in a value"},
      {[](BridgeValue& v, BridgeArray&) { v.value.array = nullptr; }, "the array record is null"},
      {[](BridgeValue&, BridgeArray& a) { a.dimensionCount = 0; }, "1 to 8 dimensions expected, not 0"},
      {[](BridgeValue&, BridgeArray& a) { a.dimensionCount = 9; }, "1 to 8 dimensions expected, not 9"},
      {[](BridgeValue&, BridgeArray& a) { a.dims[0] = -3; }, "dims[0] is negative"},
      {[](BridgeValue&, BridgeArray& a) { a.elementCount = 5; },
       "elementCount 5 does not match the dimensions (6)"},
      {[](BridgeValue&, BridgeArray& a) { a.elementSize = 8; }, "elementSize 8 does not fit LONG (4)"},
      {[](BridgeValue&, BridgeArray& a) { a.totalBytes = 10; },
       "totalBytes 10 is not elementSize x elementCount (24)"},
      {[](BridgeValue&, BridgeArray& a) { a.data = nullptr; }, "the array data is null"},
  };
  for (const auto& [corrupt, detail] : cases) {
    BridgeValue record = Value(echo, "[1, 2, 3, 4, 5, 6]");
    BridgeValue copy = record;
    const BridgeArray array = *record.value.array;
    corrupt(copy, *record.value.array);
    BridgeValue* args[] = {&copy};
    EXPECT_EQ(Outcome(ZUL_QEL_CallMethod(echo, "Echo", 1, args, nullptr, nullptr)),
              "error -1002: Invalid argument 1: " + detail + ".");
    *record.value.array = array;
    ReleaseValue(echo, &record);
  }
  BridgeValue sloppy = Value(echo, "[1, 2]");
  std::fill(sloppy.value.array->dims + 1, sloppy.value.array->dims + 8,
            1);  // unused, as a caller may leave them
  EXPECT_EQ(Call(echo, "Echo", {sloppy}), "LONG[2] 1 2");
  BridgeValue* none[] = {nullptr};
  EXPECT_EQ(Outcome(ZUL_QEL_CallMethod(echo, "Echo", 1, none, nullptr, nullptr)),
            "error -1002: Invalid argument 1: the record is null.");
  EXPECT_EQ(Outcome(ZUL_QEL_CallMethod(echo, "Echo", -1, nullptr, nullptr, nullptr)),
            "error -1002: The argument count -1 is negative.");
  EXPECT_EQ(Outcome(ZUL_QEL_CallMethod(echo, "Echo", 1, nullptr, nullptr, nullptr)),
            "error -1002: The argument list is null.");
  // Filling a string array replaces its blocks, so they must be bridge memory.
  BridgeValue strings = Value(echo, "['a']");
  strings.flags = ZUL_VALUEFLAG_ARRAY;
  BridgeValue b = Value(echo, "'b'");
  BridgeValue* fill[] = {&strings, &b};
  const uint32_t byReference[] = {0x0002, 0};
  EXPECT_EQ(
      Outcome(ZUL_QEL_CallMethod(echo, "Fill", 2, fill, byReference, nullptr)),
      "error -1013: Echo.Fill: a string array must hold bridge memory (flag 0x10) to be filled in place.");
  strings.flags |= ZUL_VALUEFLAG_BRIDGE_MEMORY;
  ReleaseValue(echo, &strings);
  ReleaseValue(echo, &b);
  // A caller only passes handles it got from the bridge.
  const int32_t matrix = Create("Matrix", false);
  Transaction m(matrix);
  BridgeValue square = Value(matrix, "[1]");
  square.value.array->dimensionCount = 2;  // [[1]]
  square.value.array->dims[1] = 1;
  BridgeValue* create[] = {&square};
  ASSERT_EQ(ZUL_QEL_CreateObject(matrix, 1, create, nullptr, 0, 0, 0), 0);
  ReleaseValue(matrix, &square);
  BridgeValue stale = Value(matrix, "echo1");
  stale.value.objRef = 99;
  EXPECT_EQ(Call(matrix, "Multiply", {stale}),
            "error -1013: Matrix.Multiply: object handle 99 names no object of the default ZUL process.");
}

// Each kind of record the bridge hands out follows the ABI (Dump names any breach), and what a variable
// or a method gets is copied at once.
TEST_F(Bridge, RecordsHandedOutFollowTheAbiAndCopiesAreDeep) {
  const int32_t cookie = Create("Echo");
  Transaction t(cookie);
  const std::pair<const char*, const char*> cases[] = {{"-7", "LONG -7"},
                                                       {"2147483648", "LONG64 2147483648"},
                                                       {"-2.25", "DOUBLE -2.25"},
                                                       {"'h\xc3\xa9llo'", "STRING 'h\xc3\xa9llo'"},
                                                       {"''", "STRING ''"},
                                                       {"echo1", "OBJREF 1"},
                                                       {"[1, 2.5]", "DOUBLE[2] 1 2.5"},
                                                       {"['a', '', 'c d']", "STRING[3] 'a' '' 'c d'"}};
  for (const auto& [expression, dumped] : cases) {
    SCOPED_TRACE(expression);
    BridgeValue value = Value(cookie, expression);
    EXPECT_EQ(Dump(value), dumped);
    EXPECT_EQ(Outcome(ZUL_QEL_SetZULVariable(cookie, "w", &value)), "0");
    ReleaseValue(cookie, &value);
    for (int read = 0; read < 2; ++read) {  // each read is a copy of its own
      const BridgeValue* record = ZUL_QEL_GetZULVariable(cookie, "W");
      ASSERT_NE(record, nullptr);
      BridgeValue copy = *record;
      EXPECT_EQ(Dump(copy), dumped);
      ReleaseValue(cookie, &copy);
    }
    EXPECT_EQ(Call(cookie, "Echo", {Value(cookie, expression)}), dumped);
  }
}

TEST_F(Bridge, BlocksAreAccountedToTheirCookie) {
  const int32_t a = Create("Echo", false);
  const int32_t b = Create("Echo", false);
  void* block = ZUL_QEL_AllocateMemory(a, 100);
  void* empty = ZUL_QEL_AllocateMemory(a, 0);
  ASSERT_NE(empty, nullptr);
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
  ASSERT_NE(ZUL_QEL_AllocateMemory(b, 64), nullptr);  // left to the release of the bridge
  EXPECT_EQ(ZUL_QEL_Release(), 0);
  EXPECT_EQ(ZulBridge_OutstandingBlocks(-1), 0);
  Reinitialise();
}

// A method result belongs to the transaction that made it; a value read belongs to the caller.
TEST_F(Bridge, TransactionsReclaimMethodResultsButNotReadValues) {
  const int32_t cookie = Create("Text");
  ASSERT_EQ(ZUL_QEL_BeginTransaction(cookie), 0);
  BridgeValue text = Value(cookie, "'a,b'");
  BridgeValue separator = Value(cookie, "','");
  BridgeValue* args[] = {&text, &separator};  // 2 blocks
  BridgeValue* first = nullptr;
  ASSERT_EQ(ZUL_QEL_CallMethod(cookie, "Split", 2, args, nullptr, &first), 0);
  {
    Transaction inner(cookie);
    BridgeValue* second = nullptr;
    ASSERT_EQ(ZUL_QEL_CallMethod(cookie, "Split", 2, args, nullptr, &second), 0);
    EXPECT_EQ(ZulBridge_OutstandingBlocks(cookie), 2 + 4 + 4);
  }
  EXPECT_EQ(Dump(*first), "STRING[2] 'a' 'b'");    // the inner end reclaimed only its own result
  BridgeValue read = Value(cookie, "['x', 'y']");  // the record goes at the end, its contents stay
  // The caller gives a result back anyway; a later block at the same address must survive the end.
  ReleaseValue(cookie, first);
  void* later = ZUL_QEL_AllocateMemory(cookie, 16);
  ASSERT_EQ(ZUL_QEL_EndTransaction(cookie), 0);
  EXPECT_EQ(ZulBridge_OutstandingBlocks(cookie),
            2 + 4 + 1);  // the arguments, the read value, the later block
  for (BridgeValue* value : {&text, &separator, &read}) ReleaseValue(cookie, value);
  EXPECT_EQ(ZUL_QEL_ReleaseMemory(cookie, later), 0);
}

// Transactions and the last failure belong to the calling thread, which may nest them across wrappers.
TEST_F(Bridge, TransactionsAndLastErrorsArePerThread) {
  const int32_t a = Create("Echo");
  const int32_t b = Create("Echo");
  const std::string none = "error -1007: No transaction is open on cookie 1 in this thread";
  EXPECT_EQ(Call(a, "TypeName"), none + ": call ZUL_QEL_BeginTransaction first.");
  EXPECT_EQ(Outcome(ZUL_QEL_EndTransaction(a)), none + ".");
  EXPECT_EQ(Outcome(ZUL_QEL_BeginTransaction(0)), "0");  // the bracket around a registration
  EXPECT_EQ(Outcome(ZUL_QEL_EndTransaction(0)), "0");
  EXPECT_EQ(Outcome(ZUL_QEL_ReleaseWrapper(41)), "error -1003: Invalid cookie 41.");
  Transaction outer(a);
  Transaction nested(b);
  std::thread([&] {
    int32_t code = 1;
    EXPECT_EQ(ZUL_QEL_GetLastError(&code), nullptr);  // this thread has not failed yet
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Outcome(ZUL_QEL_EndTransaction(a)), none + ".");
  }).join();
  EXPECT_EQ(Outcome(-1003), "error -1003: Invalid cookie 41.");  // kept through this thread's successes
}

// A job waits for the transaction that started it and refuses what would drop its object; the bridge's
// release aborts it, and the notification comes from the job's own thread.
TEST_F(Bridge, ABackgroundJobEndsWithTheBridge) {
  const int32_t worker = Create("Worker");
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(RecordOutput), 0);
  ASSERT_EQ(ZUL_QEL_RegisterNotifyCallback(worker, RecordNote), 0);
  {
    Transaction t(worker);
    EXPECT_EQ(Call(worker, "Start", {Value(worker, "60000")}), "LONG 0");
    EXPECT_EQ(Call(worker, "Start", {Value(worker, "1")}),
              "error -2001: The default ZUL process already has a background job of worker1.");
    const std::string kept = "error -2001: worker1 has a background job; abort it first.";
    EXPECT_EQ(Outcome(ZUL_QEL_DestroyObject(worker)), kept);
    EXPECT_EQ(Outcome(ZUL_QEL_ReleaseWrapper(worker)), kept);
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(Recorded().empty());
  }
  WaitFor(false);  // the job runs
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ZUL_QEL_Release(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  WaitFor(true);
  EXPECT_EQ(Recorded(true), std::vector<std::string>{"aborted worker1"});
  Reinitialise();
}

int32_t seenCookie = 0;
void OtherOutput(int32_t cookie, const char*) {
  seenCookie = cookie;
}

// Registrations of one function are counted (the library registers one per listening wrapper); each
// distinct function hears a line once. A notify callback belongs to one wrapper.
TEST_F(Bridge, OutputRegistrationsAreCountedAndNotifyBelongsToOneWrapper) {
  const int32_t other = Create("Echo");
  const int32_t cookie = Create("Echo");
  Transaction t(other);
  Transaction u(cookie);
  for (BridgeOutputCallback f : {RecordOutput, RecordOutput, OtherOutput})
    ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(f), 0);
  const auto run = [](int32_t wrapper, const char* command) {
    EXPECT_EQ(ZUL_QEL_ExecuteString(wrapper, command), 0);
  };
  run(cookie, "print, 1");
  EXPECT_EQ(seenCookie, cookie);  // the caller's
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(RecordOutput), 0);
  run(cookie, "print, 2");
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(RecordOutput), 0);
  run(cookie, "print, 3");
  EXPECT_EQ(Recorded(), (std::vector<std::string>{"1", "2"}));
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(OtherOutput), 0);
  EXPECT_EQ(Outcome(ZUL_QEL_UnregisterOutputCallback(RecordOutput)),
            "error -1002: The output callback is not registered.");
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterOutputCallback(nullptr)), "error -1002: No output callback given.");
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterNotifyCallback(cookie, nullptr)),
            "error -1002: No notify callback given.");
  EXPECT_EQ(Outcome(ZUL_QEL_RegisterNotifyCallback(7, RecordNote)), "error -1003: Invalid cookie 7.");
  ASSERT_EQ(ZUL_QEL_RegisterNotifyCallback(cookie, RecordNote), 0);
  run(other, "notify, 'other', 0");
  run(cookie, "notify, 'sum', 1 + 1");
  ASSERT_EQ(ZUL_QEL_UnregisterNotifyCallback(cookie), 0);
  run(cookie, "notify, 'b', 'c'");
  EXPECT_EQ(Recorded(true), std::vector<std::string>{"sum 2"});
}

// Callbacks run without the bridge's lock, so they may call back in; a lock held here would deadlock.
std::string reentrantSeen;
void ReentrantOutput(int32_t cookie, const char* text) {
  BridgeValue* event = ZUL_QEL_GetProperty(cookie, "LastEvent");
  reentrantSeen += std::string(ZUL_QEL_GetObjVariableName(cookie)) + " " + (event ? Dump(*event) : "?") + ";";
  if (text[0] == 'w') reentrantSeen += Outcome(ZUL_QEL_DestroyObject(cookie)) + ";";  // progress of Run
}

TEST_F(Bridge, CallbacksMayCallTheBridge) {
  const int32_t cookie = Create("Worker");
  reentrantSeen.clear();
  ASSERT_EQ(ZUL_QEL_RegisterOutputCallback(ReentrantOutput), 0);
  {
    Transaction t(cookie);
    EXPECT_EQ(Call(cookie, "Run", {Value(cookie, "10")}), "LONG 10");  // progress from inside the call
    EXPECT_EQ(ZUL_QEL_ExecuteString(cookie, "print, 1"), 0);
  }
  EXPECT_EQ(reentrantSeen, "worker1 LONG 0;error -2001: worker1 is running a call.;worker1 LONG 0;");
  ASSERT_EQ(ZUL_QEL_UnregisterOutputCallback(ReentrantOutput), 0);
}

}  // namespace
}  // namespace zul::testing

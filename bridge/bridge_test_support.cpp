#include "bridge_test_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace zul::bridge::test {
namespace {

const char* const kTypeNames[] = {"UNDEF",   "BYTE",   "INT",    "LONG",     "FLOAT", "DOUBLE",
                                  "COMPLEX", "STRING", "STRUCT", "DCOMPLEX", "PTR",   "OBJREF",
                                  "UINT",    "ULONG",  "LONG64", "ULONG64"};
const int kSizes[] = {0, 1, 2, 4, 4, 8, 0, 16, 0, 0, 0, 4, 2, 4, 8, 8};

std::string Element(uint8_t type, const void* p, bool inArray) {
  if (type == ZUL_TYP_FLOAT || type == ZUL_TYP_DOUBLE) {
    float f = 0;
    double d = 0;
    std::memcpy(type == ZUL_TYP_FLOAT ? static_cast<void*>(&f) : &d, p,
                static_cast<std::size_t>(kSizes[type]));
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", type == ZUL_TYP_FLOAT ? f : d);
    return text;
  }
  if (type != ZUL_TYP_STRING) {
    uint64_t bits = 0;
    std::memcpy(&bits, p, static_cast<std::size_t>(kSizes[type]));
    const int shift = 64 - 8 * kSizes[type];
    const bool isSigned =
        type == ZUL_TYP_INT || type == ZUL_TYP_LONG || type == ZUL_TYP_OBJREF || type == ZUL_TYP_LONG64;
    return isSigned ? std::to_string(static_cast<int64_t>(bits << shift) >> shift) : std::to_string(bits);
  }
  const auto* s = static_cast<const BridgeString*>(p);
  const std::string text = s->chars != nullptr ? s->chars : "";
  // Array elements always have characters; a scalar has them, with kind 1, exactly when not empty.
  const bool wellFormed =
      inArray ? s->kind == 0 && s->chars != nullptr
              : (s->chars != nullptr) == (s->kind == 1) && (s->chars != nullptr) == !text.empty();
  return (wellFormed && s->length == static_cast<int32_t>(text.size()) ? "'" : "bad string '") + text + "'";
}

}  // namespace

Args::~Args() {
  for (BridgeValue* value : pointers_) ReleaseValue(cookie_, value);
}

BridgeValue& Args::Add(uint8_t type, uint8_t flags, uint32_t argFlag) {
  BridgeValue& r = records_.emplace_back();
  r.type = type;
  r.flags = flags;
  pointers_.push_back(&r);
  flags_.push_back(argFlag);
  return r;
}

void* Args::Allocate(uint64_t bytes) {
  void* block = ZUL_QEL_AllocateMemory(cookie_, bytes);
  EXPECT_NE(block, nullptr);
  return block;
}

Args& Args::String(const std::string& text, uint32_t flag) {
  BridgeValue& r = Add(ZUL_TYP_STRING, text.empty() ? 0 : ZUL_VALUEFLAG_BRIDGE_MEMORY, flag);
  r.value.str.length = static_cast<int32_t>(text.size());
  if (!text.empty()) {
    r.value.str.kind = 1;
    r.value.str.chars =
        static_cast<char*>(std::memcpy(Allocate(text.size() + 1), text.c_str(), text.size() + 1));
  }
  return *this;
}

Args& Args::Raw(uint8_t type, const std::vector<int64_t>& dims, std::size_t size, const void* data,
                std::size_t count, uint32_t flag) {
  auto* a = static_cast<BridgeArray*>(Allocate(sizeof(BridgeArray)));
  std::memset(a, 0, sizeof *a);
  a->elementSize = static_cast<int64_t>(size);
  a->elementCount = static_cast<int64_t>(count);
  a->totalBytes = a->elementSize * a->elementCount;
  a->dimensionCount = static_cast<uint8_t>(dims.size());
  std::copy(dims.begin(), dims.end(), a->dims);
  a->data = Allocate(static_cast<uint64_t>(a->totalBytes));
  if (count > 0) std::memcpy(a->data, data, size * count);
  Add(type, ZUL_VALUEFLAG_ARRAY | ZUL_VALUEFLAG_BRIDGE_MEMORY, flag).value.array = a;
  return *this;
}

Args& Args::Strings(const std::vector<int64_t>& dims, const std::vector<std::string>& elements,
                    uint32_t flag) {
  std::vector<BridgeString> strings(elements.size());
  for (std::size_t i = 0; i < elements.size(); ++i) {
    const std::string& e = elements[i];
    strings[i].length = static_cast<int32_t>(e.size());
    strings[i].chars = static_cast<char*>(std::memcpy(Allocate(e.size() + 1), e.c_str(), e.size() + 1));
  }
  return Array(ZUL_TYP_STRING, dims, strings, flag);
}

void ReleaseValue(int32_t cookie, BridgeValue* value) {
  if (value == nullptr || (value->flags & ZUL_VALUEFLAG_BRIDGE_MEMORY) == 0) return;
  if ((value->flags & ZUL_VALUEFLAG_ARRAY) != 0) {
    BridgeArray* a = value->value.array;
    for (int64_t i = 0; value->type == ZUL_TYP_STRING && i < a->elementCount; ++i) {
      EXPECT_EQ(ZUL_QEL_ReleaseMemory(cookie, static_cast<BridgeString*>(a->data)[i].chars), 0);
    }
    EXPECT_EQ(ZUL_QEL_ReleaseMemory(cookie, a->data), 0);
    EXPECT_EQ(ZUL_QEL_ReleaseMemory(cookie, a), 0);
  } else if (value->type == ZUL_TYP_STRING) {
    EXPECT_EQ(ZUL_QEL_ReleaseMemory(cookie, value->value.str.chars), 0);
  }
  *value = BridgeValue{};
}

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
  bool unusedZero = true;
  for (int k = a.dimensionCount; k < 8; ++k) unusedZero = unusedZero && a.dims[k] == 0;
  if (v.flags != (ZUL_VALUEFLAG_ARRAY | ZUL_VALUEFLAG_BRIDGE_MEMORY))
    out += " flags " + std::to_string(v.flags);
  if (count != a.elementCount || a.elementSize != kSizes[v.type] || a.totalBytes != a.elementSize * count ||
      !unusedZero)
    out += " bad descriptor";
  for (int64_t i = 0; i < a.elementCount; ++i) {
    out += " " + Element(v.type, static_cast<const char*>(a.data) + i * a.elementSize, true);
  }
  return out;
}

std::string Outcome(int32_t status) {
  if (status >= 0) return std::to_string(status);
  int32_t code = 0;
  const char* text = ZUL_QEL_GetLastError(&code);
  return "error " + std::to_string(status) + (code == status ? "" : " (code " + std::to_string(code) + ")") +
         ": " + (text != nullptr ? text : "(none)");
}

std::string Do(int32_t cookie, const std::string& what, Args& args) {
  const std::string verb = what.substr(0, 4);
  const std::string name = what.size() > 4 ? what.substr(4) : "";
  BridgeValue* value = nullptr;
  if (verb == "get " || verb == "var ") {
    value = verb == "get " ? ZUL_QEL_GetProperty(cookie, name.c_str())
                           : ZUL_QEL_GetZULVariable(cookie, name.c_str());
    if (value == nullptr) {
      int32_t code = 0;
      ZUL_QEL_GetLastError(&code);
      return Outcome(code);
    }
    const std::string text = Dump(*value);
    ReleaseValue(cookie, value);
    return text;
  }
  if (verb == "set ")
    return Outcome(ZUL_QEL_SetProperty(cookie, name.c_str(), args.Count(), args.Values(), args.Flags()));
  if (verb == "let ") return Outcome(ZUL_QEL_SetZULVariable(cookie, name.c_str(), args.Values()[0]));
  const int32_t status =
      ZUL_QEL_CallMethod(cookie, what.c_str(), args.Count(), args.Values(), args.Flags(), &value);
  return status < 0 ? Outcome(status) : value != nullptr ? Dump(*value) : "no result";
}

std::string Do(int32_t cookie, const std::string& what, const Fill& fill) {
  Args args(cookie);
  if (fill) fill(args);
  return Do(cookie, what, args);
}

template <typename T>
Fill ScalarFill(uint8_t type, T v) {
  return [=](Args& a) { a.Scalar(type, v); };
}

template <typename T>
Fill ArrayFill(uint8_t type, std::vector<int64_t> dims, std::vector<T> elements) {
  return [=](Args& a) { a.Array(type, dims, elements); };
}

std::vector<std::pair<std::string, Fill>> Samples() {
  return {
      {"BYTE 200", ScalarFill(ZUL_TYP_BYTE, uint8_t{200})},
      {"INT -3", ScalarFill(ZUL_TYP_INT, int16_t{-3})},
      {"UINT 65535", ScalarFill(ZUL_TYP_UINT, uint16_t{65535})},
      {"LONG -7", ScalarFill(ZUL_TYP_LONG, int32_t{-7})},
      {"ULONG 4000000000", ScalarFill(ZUL_TYP_ULONG, uint32_t{4000000000u})},
      {"FLOAT 1.5", ScalarFill(ZUL_TYP_FLOAT, 1.5f)},
      {"DOUBLE -2.25", ScalarFill(ZUL_TYP_DOUBLE, -2.25)},
      {"LONG64 -1099511627776", ScalarFill(ZUL_TYP_LONG64, -(int64_t{1} << 40))},
      {"ULONG64 9223372036854775813", ScalarFill(ZUL_TYP_ULONG64, (uint64_t{1} << 63) + 5)},
      {"OBJREF 3", ScalarFill(ZUL_TYP_OBJREF, int32_t{3})},
      {"STRING 'h\xc3\xa9llo'", [](Args& a) { a.String("h\xc3\xa9llo"); }},
      {"STRING ''", [](Args& a) { a.String(""); }},
      {"LONG[2,3] 1 2 3 4 5 6", ArrayFill<int32_t>(ZUL_TYP_LONG, {2, 3}, {1, 2, 3, 4, 5, 6})},
      {"BYTE[1,1,2] 0 255", ArrayFill<uint8_t>(ZUL_TYP_BYTE, {1, 1, 2}, {0, 255})},
      {"ULONG64[1] 18446744073709551615", ArrayFill<uint64_t>(ZUL_TYP_ULONG64, {1}, {~uint64_t{0}})},
      {"OBJREF[2] 1 2", ArrayFill<int32_t>(ZUL_TYP_OBJREF, {2}, {1, 2})},
      {"LONG[0]", ArrayFill<int32_t>(ZUL_TYP_LONG, {0}, {})},
      {"STRING[2,2] 'a' '' 'c'd' 'e'",
       [](Args& a) {
         a.Strings({2, 2}, {"a", "", "c'd", "e"});
       }},
  };
}

Recorder& Recorder::Get() {
  static Recorder recorder;
  return recorder;
}

void Recorder::Add(int32_t cookie, std::string text, bool note) {
  std::lock_guard lock(mutex);
  (note ? notes : outputs).emplace_back(cookie, std::move(text));
  changed.notify_all();
}

std::vector<std::string> Recorder::Lines(bool ofNotes) {
  std::lock_guard lock(mutex);
  std::vector<std::string> lines;
  for (const auto& entry : ofNotes ? notes : outputs) lines.push_back(entry.second);
  return lines;
}

std::string Recorder::WaitForNote(std::size_t n) {
  std::unique_lock lock(mutex);
  changed.wait_for(lock, std::chrono::seconds(10), [&] { return notes.size() >= n; });
  return notes.size() >= n ? notes[n - 1].second : "(timeout)";
}

void BridgeTest::SetUp() {
  BridgeInitRecord init{1, 1};
  ASSERT_EQ(ZUL_QEL_Initialize(&init), 0);
  Recorder& r = Recorder::Get();
  std::lock_guard lock(r.mutex);
  r.outputs.clear();
  r.notes.clear();
}

void BridgeTest::TearDown() {
  EXPECT_EQ(ZulBridge_OutstandingBlocks(-1), 0);
  EXPECT_EQ(ZUL_QEL_Release(), 0);
}

int32_t BridgeTest::Register(const char* className, const char* procName) {
  const int32_t cookie = ZUL_QEL_RegisterWrapper(className, 0, procName);
  EXPECT_GT(cookie, 0) << Outcome(cookie);
  return cookie;
}

int32_t BridgeTest::Create(const char* className, const char* procName) {
  const int32_t cookie = Register(className, procName);
  Transaction t(cookie);
  EXPECT_EQ(Outcome(ZUL_QEL_CreateObject(cookie, 0, nullptr, nullptr, 0, 0, 0)), "0");
  return cookie;
}

std::string BridgeTest::Execute(int32_t cookie, const std::string& command) {
  const std::size_t before = Recorder::Get().Lines().size();
  Transaction t(cookie);
  const int32_t status = ZUL_QEL_ExecuteString(cookie, command.c_str());
  if (status < 0) return Outcome(status);
  std::string printed;
  const std::vector<std::string> lines = Recorder::Get().Lines();
  for (std::size_t i = before; i < lines.size(); ++i) printed += (i > before ? "\n" : "") + lines[i];
  return printed;
}

}  // namespace zul::bridge::test

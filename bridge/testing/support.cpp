#include "support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <thread>

namespace zul::testing {
namespace {

const char* const kTypeNames[] = {"UNDEF",   "BYTE",   "INT",    "LONG",     "FLOAT", "DOUBLE",
                                  "COMPLEX", "STRING", "STRUCT", "DCOMPLEX", "PTR",   "OBJREF",
                                  "UINT",    "ULONG",  "LONG64", "ULONG64"};
const int kSizes[] = {0, 1, 2, 4, 4, 8, 0, 16, 0, 0, 0, 4, 2, 4, 8, 8};

// Stores a number as an element of the type (both targets are little-endian).
void Store(uint8_t type, const std::string& text, void* slot) {
  const double d = std::stod(text);
  const float f = static_cast<float>(d);
  const uint64_t bits = text[0] == '-' ? static_cast<uint64_t>(std::stoll(text)) : std::stoull(text);
  const void* source = type == ZUL_TYP_DOUBLE ? static_cast<const void*>(&d) : &bits;
  if (type == ZUL_TYP_FLOAT) source = &f;
  std::memcpy(slot, source, static_cast<std::size_t>(kSizes[type]));
}

std::string Element(uint8_t type, const void* p, bool inArray) {
  char text[40];
  if (type == ZUL_TYP_FLOAT || type == ZUL_TYP_DOUBLE) {
    float f = 0;
    double d = 0;
    std::memcpy(type == ZUL_TYP_FLOAT ? static_cast<void*>(&f) : &d, p,
                static_cast<std::size_t>(kSizes[type]));
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
  const std::string chars = s->chars != nullptr ? s->chars : "";
  // Array elements always have characters; a scalar has them, with kind 1, exactly when not empty.
  const bool wellFormed =
      inArray ? s->kind == 0 && s->chars != nullptr
              : (s->chars != nullptr) == (s->kind == 1) && (s->chars != nullptr) == !chars.empty();
  return (wellFormed && s->length == static_cast<int32_t>(chars.size()) ? "'" : "bad string '") + chars + "'";
}

std::mutex recordMutex;
std::vector<std::string> recorded[2];  // output lines, notes

void Record(bool note, std::string text) {
  std::lock_guard lock(recordMutex);
  recorded[note].push_back(std::move(text));
}

}  // namespace

Args::Args(int32_t cookie, const std::vector<std::string>& values) : cookie_(cookie) {
  for (const std::string& value : values) Add(value);
}

Args::~Args() {
  for (BridgeValue* value : pointers_) ReleaseValue(cookie_, value);
}

void* Args::Allocate(uint64_t bytes) {
  void* block = ZUL_QEL_AllocateMemory(cookie_, bytes);
  EXPECT_NE(block, nullptr);
  return block;
}

void Args::Add(const std::string& text) {
  const std::size_t start = text[0] == '&' ? 1 : 0;
  std::size_t pos = std::min(text.find_first_of("[ ", start), text.size());
  BridgeValue& r = records_.emplace_back();
  pointers_.push_back(&r);
  flags_.push_back(start == 1 ? 0x0002 : 0);
  const auto name = std::find(std::begin(kTypeNames), std::end(kTypeNames), text.substr(start, pos - start));
  r.type = static_cast<uint8_t>(name - std::begin(kTypeNames));
  std::vector<int64_t> dims;
  while (pos < text.size() && (text[pos] == '[' || text[pos] == ',')) {
    std::size_t used = 0;
    dims.push_back(std::stoll(text.substr(pos + 1), &used));
    pos += 1 + used;
  }
  std::vector<std::string> elements;  // numbers, or strings in quotes
  while ((pos = text.find_first_not_of(" ]", pos)) != std::string::npos) {
    const std::size_t quote = text[pos] == '\'' ? 1 : 0;
    const std::size_t end = std::min(text.find(quote ? '\'' : ' ', pos + quote), text.size());
    elements.push_back(text.substr(pos + quote, end - pos - quote));
    pos = end + quote;
  }
  const auto store = [&](const std::string& element, void* slot, bool inArray) {
    if (r.type != ZUL_TYP_STRING) return Store(r.type, element, slot);
    BridgeString s{static_cast<int32_t>(element.size()), 0, 0, nullptr};
    if (inArray || !element.empty()) {
      s.kind = inArray ? 0 : 1;
      s.chars =
          static_cast<char*>(std::memcpy(Allocate(element.size() + 1), element.c_str(), element.size() + 1));
    }
    std::memcpy(slot, &s, sizeof s);
  };
  if (dims.empty()) {
    store(elements.at(0), &r.value, false);
    r.flags = r.type == ZUL_TYP_STRING && r.value.str.chars != nullptr ? ZUL_VALUEFLAG_BRIDGE_MEMORY : 0;
    return;
  }
  auto* a = static_cast<BridgeArray*>(Allocate(sizeof(BridgeArray)));  // zero-filled
  a->elementSize = kSizes[r.type];
  a->elementCount = static_cast<int64_t>(elements.size());
  a->totalBytes = a->elementSize * a->elementCount;
  a->dimensionCount = static_cast<uint8_t>(dims.size());
  std::copy(dims.begin(), dims.end(), a->dims);
  a->data = Allocate(static_cast<uint64_t>(a->totalBytes));
  for (std::size_t i = 0; i < elements.size(); ++i) {
    store(elements[i], static_cast<char*>(a->data) + static_cast<int64_t>(i) * a->elementSize, true);
  }
  r.flags = ZUL_VALUEFLAG_ARRAY | ZUL_VALUEFLAG_BRIDGE_MEMORY;
  r.value.array = a;
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
  if (what == "new")
    return Outcome(ZUL_QEL_CreateObject(cookie, args.Count(), args.Values(), args.Flags(), 0, 0, 0));
  if (verb == "set ")
    return Outcome(ZUL_QEL_SetProperty(cookie, name.c_str(), args.Count(), args.Values(), args.Flags()));
  if (verb == "let ") return Outcome(ZUL_QEL_SetZULVariable(cookie, name.c_str(), args.Values()[0]));
  const int32_t status =
      ZUL_QEL_CallMethod(cookie, what.c_str(), args.Count(), args.Values(), args.Flags(), &value);
  return status < 0 ? Outcome(status) : value != nullptr ? Dump(*value) : "no result";
}

std::string Do(int32_t cookie, const std::string& what, const std::vector<std::string>& values) {
  Args args(cookie, values);
  return Do(cookie, what, args);
}

void RecordOutput(int32_t, const char* text) {
  Record(false, text);
}

void RecordNote(int32_t, const char* first, const char* second) {
  Record(true, std::string(first) + " " + second);
}

std::vector<std::string> Recorded(bool notes) {
  std::lock_guard lock(recordMutex);
  return recorded[notes];
}

std::string WaitForNote(std::size_t n) {
  for (int i = 0; i < 1000 && Recorded(true).size() < n; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::vector<std::string> notes = Recorded(true);
  return notes.size() >= n ? notes[n - 1] : "(timeout)";
}

void BridgeTest::SetUp() {
  BridgeInitRecord init{1, 1};
  ASSERT_EQ(ZUL_QEL_Initialize(&init), 0);
  std::lock_guard lock(recordMutex);
  recorded[0].clear();
  recorded[1].clear();
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
  EXPECT_EQ(Do(cookie, "new"), "0");
  return cookie;
}

std::string BridgeTest::Execute(int32_t cookie, const std::string& command) {
  const std::size_t before = Recorded().size();
  Transaction t(cookie);
  const int32_t status = ZUL_QEL_ExecuteString(cookie, command.c_str());
  if (status < 0) return Outcome(status);
  std::string printed;
  const std::vector<std::string> lines = Recorded();
  for (std::size_t i = before; i < lines.size(); ++i) printed += (i > before ? "\n" : "") + lines[i];
  return printed;
}

}  // namespace zul::testing

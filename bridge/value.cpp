#include "value.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "memory.h"

namespace zul::bridge {
namespace {

struct Range {
  __int128 min;
  __int128 max;
};

Range IntegerRange(uint8_t type) {
  switch (type) {
    case ZUL_TYP_BYTE:
      return {0, 255};
    case ZUL_TYP_INT:
      return {-32768, 32767};
    case ZUL_TYP_UINT:
      return {0, 65535};
    case ZUL_TYP_LONG:
      return {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
    case ZUL_TYP_ULONG:
      return {0, std::numeric_limits<uint32_t>::max()};
    case ZUL_TYP_LONG64:
      return {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()};
    default:
      return {0, std::numeric_limits<uint64_t>::max()};
  }
}

template <typename T>
T Load(const Value& value, int64_t index) {
  T v;
  std::memcpy(&v, value.bytes.data() + index * static_cast<int64_t>(sizeof(T)), sizeof(T));
  return v;
}

template <typename T>
void Put(Value& value, int64_t index, T v) {
  std::memcpy(value.bytes.data() + index * static_cast<int64_t>(sizeof(T)), &v, sizeof(T));
}

[[noreturn]] void Invalid(const std::string& what, const std::string& detail) {
  Fail(kInvalidArgument, "Invalid " + what + ": " + detail + ".");
}

std::string ReadChars(const char* chars) {
  return chars == nullptr ? std::string() : std::string(chars);
}

template <typename T>
std::string Shortest(T v) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, result.ptr);
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

void FormatLevel(const Value& value, int64_t level, int64_t base, std::string& out) {
  int64_t stride = 1;
  for (int64_t k = 0; k < level; ++k) stride *= value.dims[k];
  out += '[';
  for (int64_t i = 0; i < value.dims[level]; ++i) {
    if (i > 0) out += ", ";
    if (level == 0) {
      out += FormatElement(value, base + i, true);
    } else {
      FormatLevel(value, level - 1, base + i * stride, out);
    }
  }
  out += ']';
}

}  // namespace

int64_t Value::Count() const {
  int64_t count = 1;
  for (int64_t d : dims) count *= d;
  return count;
}

int64_t ElementSize(uint8_t type) {
  switch (type) {
    case ZUL_TYP_BYTE:
      return 1;
    case ZUL_TYP_INT:
    case ZUL_TYP_UINT:
      return 2;
    case ZUL_TYP_LONG:
    case ZUL_TYP_ULONG:
    case ZUL_TYP_FLOAT:
    case ZUL_TYP_OBJREF:
      return 4;
    case ZUL_TYP_DOUBLE:
    case ZUL_TYP_LONG64:
    case ZUL_TYP_ULONG64:
      return 8;
    case ZUL_TYP_STRING:
      return static_cast<int64_t>(sizeof(BridgeString));
    default:
      return 0;
  }
}

bool IsInteger(uint8_t type) {
  switch (type) {
    case ZUL_TYP_BYTE:
    case ZUL_TYP_INT:
    case ZUL_TYP_UINT:
    case ZUL_TYP_LONG:
    case ZUL_TYP_ULONG:
    case ZUL_TYP_LONG64:
    case ZUL_TYP_ULONG64:
      return true;
    default:
      return false;
  }
}

bool IsFloating(uint8_t type) {
  return type == ZUL_TYP_FLOAT || type == ZUL_TYP_DOUBLE;
}

bool IsNumeric(uint8_t type) {
  return IsInteger(type) || IsFloating(type);
}

std::string TypeName(uint8_t type) {
  static const char* const kNames[] = {"UNDEF",   "BYTE",   "INT",    "LONG",     "FLOAT", "DOUBLE",
                                       "COMPLEX", "STRING", "STRUCT", "DCOMPLEX", "PTR",   "OBJREF",
                                       "UINT",    "ULONG",  "LONG64", "ULONG64"};
  if (type < sizeof kNames / sizeof kNames[0]) return kNames[type];
  return "type " + std::to_string(type);
}

std::string Describe(const Value& value) {
  std::string text = TypeName(value.type);
  if (!value.IsArray()) return text;
  text += '[';
  for (std::size_t k = 0; k < value.dims.size(); ++k) {
    if (k > 0) text += ',';
    text += std::to_string(value.dims[k]);
  }
  return text + ']';
}

Value MakeLong(int32_t v) {
  Value value = MakeArray(ZUL_TYP_LONG, {});
  Put(value, 0, v);
  return value;
}

Value MakeDouble(double v) {
  Value value = MakeArray(ZUL_TYP_DOUBLE, {});
  Put(value, 0, v);
  return value;
}

Value MakeString(std::string text) {
  Value value;
  value.type = ZUL_TYP_STRING;
  value.texts.push_back(std::move(text));
  return value;
}

Value MakeObjRef(int32_t handle) {
  Value value = MakeArray(ZUL_TYP_OBJREF, {});
  Put(value, 0, handle);
  return value;
}

Value MakeArray(uint8_t type, std::vector<int64_t> dims) {
  Value value;
  value.type = type;
  value.dims = std::move(dims);
  const int64_t count = value.Count();
  if (type == ZUL_TYP_STRING) {
    value.texts.resize(static_cast<std::size_t>(count));
  } else {
    value.bytes.assign(static_cast<std::size_t>(count * ElementSize(type)), 0);
  }
  return value;
}

double RealAt(const Value& value, int64_t index) {
  switch (value.type) {
    case ZUL_TYP_FLOAT:
      return Load<float>(value, index);
    case ZUL_TYP_DOUBLE:
      return Load<double>(value, index);
    default:
      return static_cast<double>(IntegerAt(value, index));
  }
}

__int128 IntegerAt(const Value& value, int64_t index) {
  switch (value.type) {
    case ZUL_TYP_BYTE:
      return Load<uint8_t>(value, index);
    case ZUL_TYP_INT:
      return Load<int16_t>(value, index);
    case ZUL_TYP_UINT:
      return Load<uint16_t>(value, index);
    case ZUL_TYP_LONG:
      return Load<int32_t>(value, index);
    case ZUL_TYP_ULONG:
      return Load<uint32_t>(value, index);
    case ZUL_TYP_LONG64:
      return Load<int64_t>(value, index);
    case ZUL_TYP_ULONG64:
      return Load<uint64_t>(value, index);
    default:
      return 0;
  }
}

bool StoreInteger(Value& value, int64_t index, __int128 number) {
  if (IsFloating(value.type)) return StoreReal(value, index, static_cast<double>(number));
  const Range range = IntegerRange(value.type);
  if (number < range.min || number > range.max) return false;
  switch (value.type) {
    case ZUL_TYP_BYTE:
      Put(value, index, static_cast<uint8_t>(number));
      break;
    case ZUL_TYP_INT:
      Put(value, index, static_cast<int16_t>(number));
      break;
    case ZUL_TYP_UINT:
      Put(value, index, static_cast<uint16_t>(number));
      break;
    case ZUL_TYP_LONG:
      Put(value, index, static_cast<int32_t>(number));
      break;
    case ZUL_TYP_ULONG:
      Put(value, index, static_cast<uint32_t>(number));
      break;
    case ZUL_TYP_LONG64:
      Put(value, index, static_cast<int64_t>(number));
      break;
    case ZUL_TYP_ULONG64:
      Put(value, index, static_cast<uint64_t>(number));
      break;
    default:
      return false;
  }
  return true;
}

bool StoreReal(Value& value, int64_t index, double number) {
  if (value.type == ZUL_TYP_FLOAT) {
    Put(value, index, static_cast<float>(number));
    return true;
  }
  if (value.type == ZUL_TYP_DOUBLE) {
    Put(value, index, number);
    return true;
  }
  // Integer targets take only whole numbers; beyond ±2^64 no integer type fits anyway.
  constexpr double kLimit = 18446744073709551616.0;
  if (!std::isfinite(number) || number != std::trunc(number) || number <= -kLimit || number >= kLimit) {
    return false;
  }
  return StoreInteger(value, index, static_cast<__int128>(number));
}

bool StoreElement(Value& target, int64_t index, const Value& source, int64_t from) {
  if (target.type == ZUL_TYP_STRING || source.type == ZUL_TYP_STRING) {
    if (target.type != source.type) return false;
    target.texts[static_cast<std::size_t>(index)] = source.texts[static_cast<std::size_t>(from)];
    return true;
  }
  if (!IsNumeric(target.type) || !IsNumeric(source.type)) return false;
  if (IsInteger(source.type)) return StoreInteger(target, index, IntegerAt(source, from));
  return StoreReal(target, index, RealAt(source, from));
}

int32_t ObjRefAt(const Value& value, int64_t index) {
  return Load<int32_t>(value, index);
}

Value ReadValue(const BridgeValue* record, const std::string& what) {
  if (record == nullptr) Invalid(what, "the record is null");
  Value value;
  value.type = record->type;
  const int64_t size = ElementSize(record->type);
  if (size == 0) {
    Invalid(what, "type code " + std::to_string(record->type) + " (" + TypeName(record->type) +
                      ") cannot be carried in a value");
  }
  if ((record->flags & ZUL_VALUEFLAG_ARRAY) == 0) {
    if (record->type == ZUL_TYP_STRING) {
      value.texts.push_back(ReadChars(record->value.str.chars));
    } else {
      value.bytes.resize(static_cast<std::size_t>(size));
      std::memcpy(value.bytes.data(), &record->value, static_cast<std::size_t>(size));
    }
    return value;
  }
  const BridgeArray* array = record->value.array;
  if (array == nullptr) Invalid(what, "the array record is null");
  if (array->dimensionCount < 1 || array->dimensionCount > ZUL_QEL_MAX_DIMENSIONS) {
    Invalid(what, "1 to 8 dimensions expected, not " + std::to_string(array->dimensionCount));
  }
  int64_t count = 1;
  for (int64_t k = 0; k < array->dimensionCount; ++k) {
    const int64_t d = array->dims[k];
    if (d < 0) Invalid(what, "dims[" + std::to_string(k) + "] is negative");
    if (d != 0 && count > static_cast<int64_t>(kMaxBlockBytes) / d) Invalid(what, "the array is too large");
    count *= d;
    value.dims.push_back(d);
  }
  if (array->elementCount != count) {
    Invalid(what, "elementCount " + std::to_string(array->elementCount) + " does not match the dimensions (" +
                      std::to_string(count) + ")");
  }
  if (array->elementSize != size) {
    Invalid(what, "elementSize " + std::to_string(array->elementSize) + " does not fit " +
                      TypeName(record->type) + " (" + std::to_string(size) + ")");
  }
  if (count > static_cast<int64_t>(kMaxBlockBytes) / size) Invalid(what, "the array is too large");
  if (array->totalBytes != size * count) {
    Invalid(what, "totalBytes " + std::to_string(array->totalBytes) + " is not elementSize x elementCount (" +
                      std::to_string(size * count) + ")");
  }
  if (array->data == nullptr && count > 0) Invalid(what, "the array data is null");
  if (record->type == ZUL_TYP_STRING) {
    const auto* elements = static_cast<const BridgeString*>(array->data);
    value.texts.reserve(static_cast<std::size_t>(count));
    for (int64_t i = 0; i < count; ++i) value.texts.push_back(ReadChars(elements[i].chars));
  } else if (count > 0) {
    const auto* data = static_cast<const uint8_t*>(array->data);
    value.bytes.assign(data, data + size * count);
  }
  return value;
}

void WriteValue(BlockTable& table, int32_t cookie, const Value& value, BridgeValue& out,
                std::vector<BlockRef>* blocks) {
  std::vector<BlockRef> taken;
  auto allocate = [&](uint64_t bytes) {
    BlockRef ref{nullptr, 0};
    ref.block = table.Allocate(cookie, bytes, &ref.serial);
    if (ref.block == nullptr) {
      for (const BlockRef& b : taken) table.Free(cookie, b.block);
      Fail(kOutOfMemory, "Out of bridge memory for a value of " + std::to_string(bytes) + " bytes.");
    }
    taken.push_back(ref);
    return static_cast<char*>(ref.block);
  };
  auto copyText = [&](const std::string& text) {
    char* chars = allocate(text.size() + 1);
    std::memcpy(chars, text.c_str(), text.size() + 1);
    return chars;
  };

  BridgeValue record{};
  record.type = value.type;
  if (!value.IsArray()) {
    if (value.type == ZUL_TYP_STRING) {
      const std::string& text = value.texts.at(0);
      record.value.str.length = static_cast<int32_t>(text.size());
      if (!text.empty()) {
        // An empty scalar string has no characters block, as the ABI says.
        record.value.str.kind = 1;
        record.value.str.chars = copyText(text);
        record.flags = ZUL_VALUEFLAG_BRIDGE_MEMORY;
      }
    } else {
      std::memcpy(&record.value, value.bytes.data(), value.bytes.size());
    }
  } else {
    const int64_t size = ElementSize(value.type);
    const int64_t count = value.Count();
    auto* array = reinterpret_cast<BridgeArray*>(allocate(sizeof(BridgeArray)));
    array->elementSize = size;
    array->elementCount = count;
    array->totalBytes = size * count;
    array->dimensionCount = static_cast<uint8_t>(value.dims.size());
    for (std::size_t k = 0; k < value.dims.size(); ++k) array->dims[k] = value.dims[k];
    array->data = allocate(static_cast<uint64_t>(size * count));
    if (value.type == ZUL_TYP_STRING) {
      auto* elements = static_cast<BridgeString*>(array->data);
      for (int64_t i = 0; i < count; ++i) {
        const std::string& text = value.texts[static_cast<std::size_t>(i)];
        elements[i].length = static_cast<int32_t>(text.size());
        elements[i].chars = copyText(text);
      }
    } else if (count > 0) {
      std::memcpy(array->data, value.bytes.data(), value.bytes.size());
    }
    record.value.array = array;
    record.flags = ZUL_VALUEFLAG_ARRAY | ZUL_VALUEFLAG_BRIDGE_MEMORY;
  }
  out = record;
  if (blocks != nullptr) blocks->insert(blocks->end(), taken.begin(), taken.end());
}

void ReleaseRecordMemory(BlockTable& table, int32_t cookie, const BridgeValue& record) {
  if ((record.flags & ZUL_VALUEFLAG_BRIDGE_MEMORY) == 0) return;
  if ((record.flags & ZUL_VALUEFLAG_ARRAY) != 0) {
    BridgeArray* array = record.value.array;
    if (array == nullptr) return;
    if (record.type == ZUL_TYP_STRING && array->data != nullptr) {
      const auto* elements = static_cast<const BridgeString*>(array->data);
      for (int64_t i = 0; i < array->elementCount; ++i) {
        if (elements[i].chars != nullptr) table.Free(cookie, elements[i].chars);
      }
    }
    if (array->data != nullptr) table.Free(cookie, array->data);
    table.Free(cookie, array);
  } else if (record.type == ZUL_TYP_STRING && record.value.str.chars != nullptr) {
    table.Free(cookie, record.value.str.chars);
  }
}

std::string FormatElement(const Value& value, int64_t index, bool quoteStrings) {
  switch (value.type) {
    case ZUL_TYP_STRING: {
      const std::string& text = value.texts.at(static_cast<std::size_t>(index));
      return quoteStrings ? Quote(text) : text;
    }
    case ZUL_TYP_FLOAT:
      return Shortest(Load<float>(value, index));
    case ZUL_TYP_DOUBLE:
      return Shortest(Load<double>(value, index));
    case ZUL_TYP_OBJREF:
      return "<object " + std::to_string(ObjRefAt(value, index)) + ">";
    case ZUL_TYP_ULONG64:
      return std::to_string(Load<uint64_t>(value, index));
    default:
      return std::to_string(static_cast<int64_t>(IntegerAt(value, index)));
  }
}

std::string FormatValue(const Value& value) {
  if (!value.IsArray()) return FormatElement(value, 0, false);
  std::string out;
  FormatLevel(value, static_cast<int64_t>(value.dims.size()) - 1, 0, out);
  return out;
}

}  // namespace zul::bridge

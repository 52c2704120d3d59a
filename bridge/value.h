// The bridge's own values: deep copies of what the ABI carries, independent of the caller's memory.
#ifndef ZUL_BRIDGE_VALUE_H
#define ZUL_BRIDGE_VALUE_H

#include <cstdint>
#include <string>
#include <vector>

#include "errors.h"
#include "zul/qel.h"

namespace zul::bridge {

class BlockTable;

// A scalar is a value without dims. Numeric and object-reference elements are kept as the ABI lays them
// out (elementSize bytes each), string elements as byte strings.
struct Value {
  uint8_t type = ZUL_TYP_UNDEF;
  std::vector<int64_t> dims;
  std::vector<uint8_t> bytes;
  std::vector<std::string> texts;

  bool IsArray() const { return !dims.empty(); }
  int64_t Count() const;
};

// Bytes per element, or 0 for type codes the ABI cannot carry in a value.
int64_t ElementSize(uint8_t type);
bool IsNumeric(uint8_t type);
bool IsInteger(uint8_t type);
bool IsFloating(uint8_t type);
// "LONG", "STRING", ...; "type 42" for codes outside the table.
std::string TypeName(uint8_t type);
// The type and shape: "LONG", "DOUBLE[2,3]" (dims[0] first).
std::string Describe(const Value& value);

Value MakeLong(int32_t v);
Value MakeDouble(double v);
Value MakeString(std::string text);
Value MakeObjRef(int32_t handle);
Value MakeArray(uint8_t type, std::vector<int64_t> dims);  // zero-filled, empty strings

// Element access for numeric values; Integer fails for floating elements.
double RealAt(const Value& value, int64_t index);
__int128 IntegerAt(const Value& value, int64_t index);
// Stores exactly or returns false (fraction for an integer type, out of range).
bool StoreInteger(Value& value, int64_t index, __int128 number);
bool StoreReal(Value& value, int64_t index, double number);
// Stores element `from` of `source` into element `index` of `target`; false when it cannot be exact.
bool StoreElement(Value& target, int64_t index, const Value& source, int64_t from);
int32_t ObjRefAt(const Value& value, int64_t index);

// Deep copy of a record. A malformed record throws kInvalidArgument, "Invalid <what>: <detail>."
Value ReadValue(const BridgeValue* record, const std::string& what);

// Fills `out` with `value` in bridge memory of `cookie`, flagged as the ABI says. Every block goes to
// `blocks` as well when given. On failure nothing stays allocated and kOutOfMemory is thrown.
struct BlockRef {
  void* block;
  uint64_t serial;
};
void WriteValue(BlockTable& table, int32_t cookie, const Value& value, BridgeValue& out,
                std::vector<BlockRef>* blocks);
// Gives back the bridge memory of a record flagged ZUL_VALUEFLAG_BRIDGE_MEMORY, as its owner would.
void ReleaseRecordMemory(BlockTable& table, int32_t cookie, const BridgeValue& record);

// Text as the command language prints it: numbers shortest round-trip, arrays in brackets with dims[0]
// innermost, strings inside arrays quoted.
std::string FormatValue(const Value& value);
std::string FormatElement(const Value& value, int64_t index, bool quoteStrings);

}  // namespace zul::bridge

#endif

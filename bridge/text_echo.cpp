// Text works on strings; Echo hands values back and changes by-reference arguments in place.
#include <cstring>
#include <utility>

#include "classes.h"

namespace zul::bridge {
namespace {

constexpr int64_t kMaxResize = 16777216;

std::string StringArg(const CallContext& ctx, int index) {
  const Value v = ctx.Arg(index);
  if (v.type != ZUL_TYP_STRING || v.IsArray()) {
    ctx.Bad("argument " + std::to_string(index + 1) + " must be a string, not " + Describe(v));
  }
  return v.texts[0];
}

Value Upper(CallContext& ctx) {
  std::string text = StringArg(ctx, 0);
  // Only ASCII letters: the bridge does not know the caller's code page.
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return MakeString(std::move(text));
}

Value Length(CallContext& ctx) {
  return MakeLong(static_cast<int32_t>(StringArg(ctx, 0).size()));
}

Value Split(CallContext& ctx) {
  const std::string text = StringArg(ctx, 0);
  const std::string separator = StringArg(ctx, 1);
  if (separator.empty()) ctx.Bad("the separator must not be empty");
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos;
       start = at + separator.size()) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  Value result = MakeArray(ZUL_TYP_STRING, {static_cast<int64_t>(parts.size())});
  result.texts = std::move(parts);
  return result;
}

Value Join(CallContext& ctx) {
  const Value parts = ctx.Arg(0);
  if (parts.type != ZUL_TYP_STRING || !parts.IsArray()) {
    ctx.Bad("argument 1 must be a string array, not " + Describe(parts));
  }
  const std::string separator = StringArg(ctx, 1);
  std::string text;
  for (std::size_t i = 0; i < parts.texts.size(); ++i) text += (i > 0 ? separator : "") + parts.texts[i];
  return MakeString(std::move(text));
}

Value Echo(CallContext& ctx) {
  return ctx.Arg(0);
}

Value TypeNameOf(CallContext& ctx) {
  return MakeString(Describe(ctx.Arg(0)));
}

Value Swap(CallContext& ctx) {
  BridgeValue& a = ctx.ByReference(0);
  BridgeValue& b = ctx.ByReference(1);
  // Each record takes the other's memory with it, so the caller still releases every block once.
  std::swap(a, b);
  return MakeLong(0);
}

Value Fill(CallContext& ctx) {
  BridgeValue& record = ctx.ByReference(0);
  const Value target = ctx.Arg(0);
  if (!target.IsArray() || (!IsNumeric(target.type) && target.type != ZUL_TYP_STRING)) {
    ctx.Bad("argument 1 must be a numeric or string array, not " + Describe(target));
  }
  const Value fill = ctx.Arg(1);
  const bool sameKind = (fill.type == ZUL_TYP_STRING) == (target.type == ZUL_TYP_STRING);
  if (fill.IsArray() || !sameKind || (!IsNumeric(fill.type) && fill.type != ZUL_TYP_STRING)) {
    ctx.Bad("argument 2 must be a " + std::string(target.type == ZUL_TYP_STRING ? "string" : "numeric") +
            " scalar, not " + Describe(fill));
  }
  BridgeArray& array = *record.value.array;
  const int64_t count = target.Count();
  if (target.type != ZUL_TYP_STRING) {
    Value element = MakeArray(target.type, {});
    if (!StoreElement(element, 0, fill, 0)) {
      ctx.Bad(FormatValue(fill) + " cannot be stored in a " + TypeName(target.type) + " array");
    }
    auto* data = static_cast<uint8_t*>(array.data);
    for (int64_t i = 0; i < count; ++i)
      std::memcpy(data + i * array.elementSize, element.bytes.data(), element.bytes.size());
    return MakeLong(static_cast<int32_t>(count));
  }
  if ((record.flags & ZUL_VALUEFLAG_BRIDGE_MEMORY) == 0) {
    ctx.Bad("a string array must hold bridge memory (flag 0x10) to be filled in place");
  }
  // All new blocks first, so that a failure leaves the caller's array as it was. Until they are handed
  // over, their owner frees them, whatever throws; room for all is made before the first.
  struct FreshBlocks {
    BlockTable& table;
    const int32_t cookie;
    std::vector<char*> blocks;
    ~FreshBlocks() {
      for (char* block : blocks) table.Free(cookie, block);
    }
  } fresh{ctx.state.blocks, ctx.wrapper.cookie, {}};
  fresh.blocks.reserve(static_cast<std::size_t>(count));
  const std::string& text = fill.texts[0];
  for (int64_t i = 0; i < count; ++i) {
    auto* chars = static_cast<char*>(fresh.table.Allocate(fresh.cookie, text.size() + 1));
    if (chars == nullptr) Fail(kOutOfMemory, "Out of bridge memory while filling the array.");
    std::memcpy(chars, text.c_str(), text.size() + 1);
    fresh.blocks.push_back(chars);
  }
  auto* elements = static_cast<BridgeString*>(array.data);
  for (int64_t i = 0; i < count; ++i) {
    if (elements[i].chars != nullptr) fresh.table.Free(fresh.cookie, elements[i].chars);
    elements[i] =
        BridgeString{static_cast<int32_t>(text.size()), 0, 0, fresh.blocks[static_cast<std::size_t>(i)]};
  }
  fresh.blocks.clear();  // handed over
  return MakeLong(static_cast<int32_t>(count));
}

Value Resize(CallContext& ctx) {
  BridgeValue& record = ctx.ByReference(0);
  const Value old = ctx.Arg(0);
  if (old.dims.size() != 1 || (!IsNumeric(old.type) && old.type != ZUL_TYP_STRING)) {
    ctx.Bad("argument 1 must be a one-dimensional numeric or string array, not " + Describe(old));
  }
  const Value length = ctx.Arg(1);
  Value n = MakeArray(ZUL_TYP_LONG, {});
  if (length.IsArray() || !IsNumeric(length.type) || !StoreElement(n, 0, length, 0) || RealAt(n, 0) < 1 ||
      RealAt(n, 0) > kMaxResize) {
    ctx.Bad("argument 2 must be a whole number from 1 to " + std::to_string(kMaxResize) + ", not " +
            (IsNumeric(length.type) && !length.IsArray() ? FormatValue(length) : Describe(length)));
  }
  const int64_t newLength = static_cast<int64_t>(RealAt(n, 0));
  Value resized = MakeArray(old.type, {newLength});
  for (int64_t i = 0; i < newLength && i < old.Count(); ++i) StoreElement(resized, i, old, i);
  BridgeValue replacement{};
  WriteValue(ctx.state.blocks, ctx.wrapper.cookie, resized, replacement, nullptr);
  // The old blocks go back only when they are bridge memory; otherwise they were never ours.
  ReleaseRecordMemory(ctx.state.blocks, ctx.wrapper.cookie, record);
  record = replacement;
  return MakeLong(static_cast<int32_t>(old.Count()));
}

}  // namespace

const ClassInfo& TextClass() {
  static const ClassInfo info{
      ClassKind::kText,
      "Text",
      0,
      nullptr,
      {{"Upper", 1, Upper}, {"Length", 1, Length}, {"Split", 2, Split}, {"Join", 2, Join}},
      {},
      false};
  return info;
}

const ClassInfo& EchoClass() {
  static const ClassInfo info{ClassKind::kEcho,
                              "Echo",
                              0,
                              nullptr,
                              {{"Echo", 1, Echo},
                               {"TypeName", 1, TypeNameOf},
                               {"Swap", 2, Swap},
                               {"Fill", 2, Fill},
                               {"Resize", 2, Resize}},
                              {},
                              false};
  return info;
}

}  // namespace zul::bridge

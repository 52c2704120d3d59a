#include "marshal/bridge_memory.h"
#include "marshal/marshal.h"
#include "marshal/record.h"

namespace zul {

static_assert(ArgFlag::InOnly == ZUL_QEL_ARGFLAG_IN_ONLY && ArgFlag::WriteBack == ZUL_QEL_ARGFLAG_WRITE_BACK,
              "the bridge reads the low half of the caller's flag words as they are");

bool MarshalArgsIn(PalContext& context, int32_t cookie, int32_t count, VARIANT* args, uint32_t* argFlags,
                   BridgeArgList& list) {
  if (count == 0) return true;
  const auto n = static_cast<std::size_t>(count);
  list.values.reset(new BridgeValue[n]());
  list.pointers.reset(new BridgeValue*[n]());
  list.flags.reset(new uint32_t[n]());
  for (std::size_t i = 0; i < n; ++i) {
    list.pointers[i] = &list.values[i];
    // The bridge gets the word as it was before the conversion, which may make an argument in-only.
    uint32_t* flag = argFlags != nullptr ? &argFlags[i] : nullptr;
    list.flags[i] = flag != nullptr ? *flag & 0xFFFFu : 0;
    const ArgumentScope scope(static_cast<int32_t>(i) + 1);
    if (!MarshalVariantIn(context, cookie, &args[i], &list.values[i], flag)) return false;
    constexpr uint32_t kOnlyIfChanged = ArgFlag::WriteBack | ArgFlag::WriteBackChanged;
    if (flag != nullptr && (*flag & kOnlyIfChanged) == kOnlyIfChanged)
      RecordSent(list, static_cast<int32_t>(i), count);
  }
  return true;
}

void ReleaseArgList(PalContext&, int32_t cookie, int32_t count, BridgeValue* const* pointers) noexcept {
  if (count < 1 || pointers == nullptr) return;
  for (int32_t i = 0; i < count; ++i) {
    BridgeValue* value = pointers[i];
    if (value == nullptr || (value->flags & ValueFlag::BridgeMemory) == 0) continue;
    if ((value->flags & ValueFlag::Array) != 0) {
      if (BridgeArray* array = value->value.array) {
        if (value->type == ZUL_TYP_STRING && array->data != nullptr) {
          auto* elements = static_cast<BridgeString*>(array->data);
          for (int64_t k = 0; k < array->elementCount; ++k) ReleaseBridgeMemory(cookie, elements[k].chars);
        }
        ReleaseBridgeMemory(cookie, array->data);
        ReleaseBridgeMemory(cookie, array);
      }
    } else if (value->type == ZUL_TYP_STRING) {
      ReleaseBridgeMemory(cookie, value->value.str.chars);
    }
    *value = BridgeValue{};
  }
}

}  // namespace zul

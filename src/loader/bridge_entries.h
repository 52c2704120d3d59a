// The 30 entry points of the bridge library, typed: the one table (bridge_entry_list.h) that the binder,
// the stand-ins for a bridge and the tests are all generated from.
#pragma once

#include "loader/bridge_entry_list.h"
#include "zul/qel.h"

namespace zul {

enum class BridgeEntry : int {
#define ZUL_ENTRY_ENUM(index, name) k##name = index,
  ZUL_QEL_ENTRY_POINTS(ZUL_ENTRY_ENUM)
#undef ZUL_ENTRY_ENUM
};

inline constexpr int kBridgeEntryCount = 30;

inline constexpr const char* kBridgeEntryNames[kBridgeEntryCount] = {
#define ZUL_ENTRY_NAME(index, name) "ZUL_QEL_" #name,
    ZUL_QEL_ENTRY_POINTS(ZUL_ENTRY_NAME)
#undef ZUL_ENTRY_NAME
};

// The resolved entry points, one typed pointer per entry, null until resolved.
struct BridgeEntries {
#define ZUL_ENTRY_FIELD(index, name) decltype(&ZUL_QEL_##name) name = nullptr;
  ZUL_QEL_ENTRY_POINTS(ZUL_ENTRY_FIELD)
#undef ZUL_ENTRY_FIELD
};

// The indices must count 0..29 in table order.
#define ZUL_ENTRY_CHECK(index, name) \
  static_assert(static_cast<int>(BridgeEntry::k##name) == index && index < kBridgeEntryCount);
ZUL_QEL_ENTRY_POINTS(ZUL_ENTRY_CHECK)
#undef ZUL_ENTRY_CHECK

}  // namespace zul

// The 30 entry points of the bridge library: the one table that the binder, the bridge test double
// and the tests are all generated from. Order and names are binding: entries are resolved in this
// order, by these exact names.
#pragma once

#include "zul/qel.h"

// X(index, name): the entry point ZUL_QEL_<name> at position index.
#define ZUL_QEL_ENTRY_POINTS(X)   \
  X(0, Initialize)                \
  X(1, Release)                   \
  X(2, RegisterWrapper)           \
  X(3, ReleaseWrapper)            \
  X(4, BeginTransaction)          \
  X(5, EndTransaction)            \
  X(6, AllocateMemory)            \
  X(7, ReleaseMemory)             \
  X(8, CreateObject)              \
  X(9, DestroyObject)             \
  X(10, ObjRefCookie2Hvid)        \
  X(11, AttachObject)             \
  X(12, OnEvent)                  \
  X(13, CallMethod)               \
  X(14, SetProperty)              \
  X(15, GetProperty)              \
  X(16, Abort)                    \
  X(17, GetLastError)             \
  X(18, RegisterOutputCallback)   \
  X(19, UnregisterOutputCallback) \
  X(20, RegisterNotifyCallback)   \
  X(21, UnregisterNotifyCallback) \
  X(22, RegisterIMSCallback)      \
  X(23, UnregisterIMSCallback)    \
  X(24, SetZULVariable)           \
  X(25, GetZULVariable)           \
  X(26, ExecuteString)            \
  X(27, GetObjVariableName)       \
  X(28, CreateZULProcess)         \
  X(29, DestroyZULProcess)

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

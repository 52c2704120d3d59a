// The 30 entry points of the bridge library by name alone, for code that defines them without the ABI's
// declarations. Order and names are binding: entries are resolved in this order, by these exact names.
#pragma once

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

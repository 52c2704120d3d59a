/* The ABI of the bridge library zul_qel: its value records, type codes, 30 entry points and the two
 * callbacks it calls. zul_pal_mscom binds the entry points by name at run time; a bridge
 * implementation defines ZUL_QEL_BUILD and exports them.
 *
 * Texts are zero-terminated multibyte strings in the thread's ANSI code page; read them up to the NUL.
 * Texts a bridge returns stay the bridge's. Memory inside values comes from ZUL_QEL_AllocateMemory and
 * goes back through ZUL_QEL_ReleaseMemory, with the cookie of the wrapper on whose behalf the call runs;
 * a value whose blocks its owner must give back is flagged ZUL_VALUEFLAG_BRIDGE_MEMORY (0x10).
 *
 * Who owns what, entry point by entry point ("the library" is zul_pal_mscom):
 *
 * - Arguments of CreateObject, CallMethod, SetProperty: values is an array of count pointers to records
 *   that the library owns; values[0] is the first argument, in the caller's order (COM's own argument
 *   array runs the other way). Strings and arrays in them are flagged 0x10, in blocks of
 *   ZUL_QEL_AllocateMemory. After the call the library releases the blocks of every record flagged 0x10,
 *   whatever they hold then. To change a by-reference argument, change the record values[i] points to
 *   (never the pointer): give back its old blocks if it was flagged 0x10, flag the new ones 0x10.
 * - The result of CallMethod: a record the bridge owns, with its blocks; the library converts it and
 *   frees nothing. The bridge frees both once the transaction ends (ZUL_QEL_EndTransaction).
 * - The value of GetProperty and GetZULVariable: the record stays the bridge's (free it at the end of the
 *   transaction or later); its blocks, when flagged 0x10, the library gives back with
 *   ZUL_QEL_ReleaseMemory right after converting them, and then zeroes the record.
 * - The value of SetZULVariable: the library's, freed after the call; copy what you keep.
 * - Texts the bridge returns (GetLastError, GetObjVariableName) stay the bridge's; the library copies them
 *   at once. Texts passed to the callbacks stay the bridge's; the client copies what it keeps.
 * - Blocks of ZUL_QEL_AllocateMemory need not be zero-filled: the library writes every byte it uses. */
#ifndef ZUL_QEL_H
#define ZUL_QEL_H

#include <stdint.h>

#ifdef ZUL_QEL_BUILD
#ifdef _WIN32
#define ZUL_QEL_API __declspec(dllexport)
#else
#define ZUL_QEL_API __attribute__((visibility("default")))
#endif
#else
#define ZUL_QEL_API
#endif

#ifdef __cplusplus
#define ZUL_QEL_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define ZUL_QEL_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* ZUL type codes; for an array value, the type of its elements. */
enum ZulTypeCode {
  ZUL_TYP_UNDEF = 0,
  ZUL_TYP_BYTE = 1,
  ZUL_TYP_INT = 2,
  ZUL_TYP_LONG = 3,
  ZUL_TYP_FLOAT = 4,
  ZUL_TYP_DOUBLE = 5,
  ZUL_TYP_COMPLEX = 6,
  ZUL_TYP_STRING = 7,
  ZUL_TYP_STRUCT = 8,
  ZUL_TYP_DCOMPLEX = 9,
  ZUL_TYP_PTR = 10,
  ZUL_TYP_OBJREF = 11,
  ZUL_TYP_UINT = 12, /* 16-bit unsigned */
  ZUL_TYP_ULONG = 13,
  ZUL_TYP_LONG64 = 14,
  ZUL_TYP_ULONG64 = 15
};

/* Error codes of ZUL_QEL_GetLastError that callers act on; any other negative code is a plain failure. */
enum ZulQelError {
  ZUL_QEL_ERROR_BUSY = -2001,             /* the object's process is running another call */
  ZUL_QEL_ERROR_ABORTED = -2002,          /* the call was aborted */
  ZUL_QEL_ERROR_OTHER_PROCESS = -2003,    /* the object belongs to another process */
  ZUL_QEL_ERROR_NOTHING_TO_ABORT = -2004, /* an abort found no activity */
  ZUL_QEL_ERROR_ABORT_REQUESTED = -4001   /* the process stopped the call on a user's request */
};

/* Bits of BridgeValue.flags. */
#define ZUL_VALUEFLAG_ARRAY 0x04u         /* value.array points to a BridgeArray */
#define ZUL_VALUEFLAG_BRIDGE_MEMORY 0x10u /* the value holds bridge memory that its owner must give back */
#define ZUL_VALUEFLAG_SCALAR_OUT 0x20u    /* a scalar on the way out, even with ZUL_VALUEFLAG_ARRAY set */

/* Bits of the argument flag words that a bridge reads (the low 16 bits of each caller's word). Other bits
 * arrive as the caller set them (0x4000: arrays were reordered for the bridge), so test these with a mask.
 * By reference means WRITE_BACK without IN_ONLY. */
#define ZUL_QEL_ARGFLAG_IN_ONLY 0x0001u    /* the argument is constant */
#define ZUL_QEL_ARGFLAG_WRITE_BACK 0x0002u /* the caller writes the argument's record back after the call */

/* The most dimensions an array value has. */
#define ZUL_QEL_MAX_DIMENSIONS 8

/* A string value, or one element of a string array. */
typedef struct BridgeString {
  int32_t length;    /* from the library: the source text's UTF-16 code units; from a bridge: its byte count
                        will do, since the library reads the text up to its NUL */
  uint16_t kind;     /* 1: a scalar string whose characters were allocated for it; 0 otherwise */
  uint16_t reserved;
  char* chars;       /* length + 1 bytes of bridge memory; null for an empty scalar string */
} BridgeString;

/* Array descriptor (bridge memory, zero-filled). Elements are stored with dimension 0 varying fastest. */
typedef struct BridgeArray {
  int64_t elementSize;
  int64_t totalBytes;   /* elementSize * elementCount */
  int64_t elementCount; /* product of the used dimension sizes */
  void* data;           /* totalBytes bytes of bridge memory */
  uint8_t dimensionCount; /* 1 to ZUL_QEL_MAX_DIMENSIONS */
  uint8_t reserved1[7];
  /* dims[0] first; unused entries 0 (1 after a reordering walk of 2 or more dims) */
  int64_t dims[ZUL_QEL_MAX_DIMENSIONS];
  uint8_t reserved2[24];
} BridgeArray;

typedef struct BridgeValue {
  uint8_t type;  /* ZulTypeCode */
  uint8_t flags; /* ZUL_VALUEFLAG_* */
  uint8_t reserved[6];
  union {
    uint8_t byteVal;      /* ZUL_TYP_BYTE */
    int16_t intVal;       /* ZUL_TYP_INT */
    uint16_t uintVal;     /* ZUL_TYP_UINT */
    int32_t longVal;      /* ZUL_TYP_LONG */
    uint32_t ulongVal;    /* ZUL_TYP_ULONG */
    float floatVal;       /* ZUL_TYP_FLOAT */
    int32_t objRef;       /* ZUL_TYP_OBJREF: an object handle */
    double doubleVal;     /* ZUL_TYP_DOUBLE */
    int64_t long64Val;    /* ZUL_TYP_LONG64 */
    uint64_t ulong64Val;  /* ZUL_TYP_ULONG64 */
    BridgeString str;     /* ZUL_TYP_STRING */
    BridgeArray* array;   /* any type with ZUL_VALUEFLAG_ARRAY */
  } value;
} BridgeValue;

ZUL_QEL_STATIC_ASSERT(sizeof(BridgeString) == 16, "BridgeString is 16 bytes");
ZUL_QEL_STATIC_ASSERT(__builtin_offsetof(BridgeString, length) == 0, "BridgeString.length at 0");
ZUL_QEL_STATIC_ASSERT(__builtin_offsetof(BridgeString, kind) == 4, "BridgeString.kind at 4");
ZUL_QEL_STATIC_ASSERT(__builtin_offsetof(BridgeString, chars) == 8, "BridgeString.chars at 8");
ZUL_QEL_STATIC_ASSERT(sizeof(BridgeArray) == 128, "BridgeArray is 128 bytes");
ZUL_QEL_STATIC_ASSERT(__builtin_offsetof(BridgeArray, elementSize) == 0, "BridgeArray.elementSize at 0");
ZUL_QEL_STATIC_ASSERT(__builtin_offsetof(BridgeArray, totalBytes) == 8, "BridgeArray.totalBytes at 8");
ZUL_QEL_STATIC_ASSERT(__builtin_offsetof(BridgeArray, elementCount) == 16, "BridgeArray.elementCount at 16");
ZUL_QEL_STATIC_ASSERT(__builtin_offsetof(BridgeArray, data) == 24, "BridgeArray.data at 24");
ZUL_QEL_STATIC_ASSERT(__builtin_offsetof(BridgeArray, dimensionCount) == 32, "BridgeArray.dimensionCount at 32");
ZUL_QEL_STATIC_ASSERT(__builtin_offsetof(BridgeArray, dims) == 40, "BridgeArray.dims at 40");
ZUL_QEL_STATIC_ASSERT(__builtin_offsetof(BridgeArray, reserved2) == 104, "BridgeArray tail at 104");
ZUL_QEL_STATIC_ASSERT(sizeof(BridgeValue) == 24, "BridgeValue is 24 bytes");
ZUL_QEL_STATIC_ASSERT(__builtin_offsetof(BridgeValue, type) == 0, "BridgeValue.type at 0");
ZUL_QEL_STATIC_ASSERT(__builtin_offsetof(BridgeValue, flags) == 1, "BridgeValue.flags at 1");
ZUL_QEL_STATIC_ASSERT(__builtin_offsetof(BridgeValue, value) == 8, "BridgeValue.value at 8");

/* Passed to ZUL_QEL_Initialize; zul_pal_mscom always sends 1 and 1. */
typedef struct BridgeInitRecord {
  int32_t field1;
  int32_t field2;
} BridgeInitRecord;

#ifndef ZUL_EVENT_RECORD_DEFINED
#define ZUL_EVENT_RECORD_DEFINED
/* A user-interface event: the kind, then event data laid out as the caller and the bridge agree. */
typedef struct EventRecord {
  int32_t eventKind;
} EventRecord;
#endif

/* Callbacks the bridge calls, on any thread. */
typedef void (*BridgeOutputCallback)(int32_t cookie, const char* text);
typedef void (*BridgeNotifyCallback)(int32_t cookie, const char* first, const char* second);

/* The 30 entry points. Unless stated, a negative result is a failure whose code and text
 * ZUL_QEL_GetLastError reports on the same thread. Any thread may call any entry point.
 * examples/bridge_skeleton/skeleton.c implements all of them, each with its contract. */
/* A refusal is reported once, but the library stays bound: later calls and ZUL_QEL_Release still come,
 * so every entry point must survive being called without a successful Initialize. */
ZUL_QEL_API int32_t ZUL_QEL_Initialize(BridgeInitRecord* init);
ZUL_QEL_API int32_t ZUL_QEL_Release(void);
/* Returns the new cookie; below 1 is a failure. */
ZUL_QEL_API int32_t ZUL_QEL_RegisterWrapper(const char* className, uint32_t registrationValue,
                                            const char* procName);
ZUL_QEL_API int32_t ZUL_QEL_ReleaseWrapper(int32_t cookie);
/* Cookie 0 stands for no wrapper (registration). A refused Begin ends the library's call at once; End may
 * come for a cookie released within the transaction, and its result is ignored. */
ZUL_QEL_API int32_t ZUL_QEL_BeginTransaction(int32_t cookie);
ZUL_QEL_API int32_t ZUL_QEL_EndTransaction(int32_t cookie);
/* Null is a failure. */
ZUL_QEL_API void* ZUL_QEL_AllocateMemory(int32_t cookie, uint64_t byteCount);
ZUL_QEL_API int32_t ZUL_QEL_ReleaseMemory(int32_t cookie, void* block);
ZUL_QEL_API int32_t ZUL_QEL_CreateObject(int32_t cookie, int32_t count, BridgeValue** values,
                                         const uint32_t* flags, uint32_t createParam1, uint32_t createParam2,
                                         uintptr_t createParam3);
ZUL_QEL_API int32_t ZUL_QEL_DestroyObject(int32_t cookie);
/* Returns the object handle of the wrapper refCookie; below 1 is a failure. */
ZUL_QEL_API int32_t ZUL_QEL_ObjRefCookie2Hvid(int32_t cookie, int32_t refCookie);
ZUL_QEL_API int32_t ZUL_QEL_AttachObject(int32_t cookie, void* window);
ZUL_QEL_API int32_t ZUL_QEL_OnEvent(int32_t cookie, EventRecord* event);
/* When result is not null, a success stores a record there, also for a procedure (LONG 0): a null slot
 * fails the call with "Unexpected error.", and ZUL_TYP_UNDEF cannot be converted. The record stays the
 * bridge's. */
ZUL_QEL_API int32_t ZUL_QEL_CallMethod(int32_t cookie, const char* name, int32_t count, BridgeValue** values,
                                       const uint32_t* flags, BridgeValue** result);
/* values: the property's index arguments, if any, then the new value last. */
ZUL_QEL_API int32_t ZUL_QEL_SetProperty(int32_t cookie, const char* name, int32_t count, BridgeValue** values,
                                        const uint32_t* flags);
/* Null is a failure; the value's blocks go back through ZUL_QEL_ReleaseMemory, the record stays. */
ZUL_QEL_API BridgeValue* ZUL_QEL_GetProperty(int32_t cookie, const char* name);
ZUL_QEL_API int32_t ZUL_QEL_Abort(int32_t cookie);
/* Writes the last failure's code where asked (code may be null); returns its text or null. */
ZUL_QEL_API const char* ZUL_QEL_GetLastError(int32_t* code);
ZUL_QEL_API int32_t ZUL_QEL_RegisterOutputCallback(BridgeOutputCallback callback);
ZUL_QEL_API int32_t ZUL_QEL_UnregisterOutputCallback(BridgeOutputCallback callback);
ZUL_QEL_API int32_t ZUL_QEL_RegisterNotifyCallback(int32_t cookie, BridgeNotifyCallback callback);
ZUL_QEL_API int32_t ZUL_QEL_UnregisterNotifyCallback(int32_t cookie);
ZUL_QEL_API int32_t ZUL_QEL_RegisterIMSCallback(void* callback);
ZUL_QEL_API int32_t ZUL_QEL_UnregisterIMSCallback(void* callback);
ZUL_QEL_API int32_t ZUL_QEL_SetZULVariable(int32_t cookie, const char* name, BridgeValue* value);
ZUL_QEL_API BridgeValue* ZUL_QEL_GetZULVariable(int32_t cookie, const char* name);
ZUL_QEL_API int32_t ZUL_QEL_ExecuteString(int32_t cookie, const char* command);
/* Null is a failure. */
ZUL_QEL_API const char* ZUL_QEL_GetObjVariableName(int32_t cookie);
ZUL_QEL_API int32_t ZUL_QEL_CreateZULProcess(const char* procName);
ZUL_QEL_API int32_t ZUL_QEL_DestroyZULProcess(const char* procName);

#ifdef __cplusplus
} /* extern "C" */

namespace zul::ValueFlag {
inline constexpr uint8_t Array = ZUL_VALUEFLAG_ARRAY;
inline constexpr uint8_t BridgeMemory = ZUL_VALUEFLAG_BRIDGE_MEMORY;
inline constexpr uint8_t ScalarOut = ZUL_VALUEFLAG_SCALAR_OUT;
}  // namespace zul::ValueFlag
#endif

#endif /* ZUL_QEL_H */

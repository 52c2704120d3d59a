/* Control interface of the bridge test double, a zul_qel that records every call and answers as a
 * test scripts it. Tests reach these functions through the loaded module (see
 * testing/support/bridge_double_client.h). Entry numbers are the indices of the table of entry
 * points (zul::BridgeEntry). */
#ifndef ZUL_BRIDGE_DOUBLE_H
#define ZUL_BRIDGE_DOUBLE_H

#include <stdint.h>

#include "zul/qel.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One journal entry: the arguments as received, copied at call time. */
typedef struct ZulDoubleCall {
  int32_t entry;
  int32_t cookie;            /* the cookie argument; 0 for entries without one */
  int64_t args[4];           /* the other integer arguments in order (counts, ids, parameters, sizes) */
  const char* texts[2];      /* copies of the text arguments; a null text stays null */
  int32_t valueCount;        /* values received (argument lists and single values) */
  const BridgeValue* values; /* deep copies: strings and arrays point into the double's own memory */
  const uint32_t* flags;     /* copies of the flag words, or null when null was received */
  int32_t resultSlotGiven;   /* CallMethod: 1 when a result slot was passed */
  int64_t result;            /* what the double returned (pointers: 1 for non-null, 0 for null) */
} ZulDoubleCall;

ZUL_QEL_API void ZulDouble_Reset(void);
/* The integer result of an entry from now on (until reset). */
ZUL_QEL_API void ZulDouble_SetResult(int32_t entry, int32_t result);
/* The value handed back by GetProperty, GetZULVariable or CallMethod's result slot: a deep copy in
 * bridge memory of the calling cookie, made at each call; null makes the entry hand back null. */
ZUL_QEL_API void ZulDouble_SetReturnValue(int32_t entry, const BridgeValue* value);
/* The text returned by GetObjVariableName; null makes it fail. */
ZUL_QEL_API void ZulDouble_SetReturnText(int32_t entry, const char* text);
ZUL_QEL_API void ZulDouble_SetLastError(int32_t code, const char* text);
/* The nth call of AllocateMemory from now (1 = the next) returns null; 0 turns this off. */
ZUL_QEL_API void ZulDouble_FailAllocationAt(int64_t nth);
/* Adds a rule for every successful CallMethod, CreateObject and SetProperty: a deep copy of
 * argument `from`, in bridge memory of the cookie, goes into the result slot (to = -1) or replaces
 * argument `to` as a by-reference argument changed by the bridge would be (its old memory is taken
 * back). Rules apply in order; a negative `from` removes them all. */
ZUL_QEL_API void ZulDouble_EchoArgument(int32_t from, int32_t to);
/* 0 stops recording calls (for load tests), anything else resumes; a reset turns it back on. */
ZUL_QEL_API void ZulDouble_SetJournal(int32_t on);
/* Anything but 0 makes a transaction on a cookie wait while another thread has one open on it, as a
 * bridge that runs one call per object at a time; 0 (and a reset) turns this off. */
ZUL_QEL_API void ZulDouble_SerializeTransactions(int32_t on);

ZUL_QEL_API int32_t ZulDouble_CallCount(void);
ZUL_QEL_API const ZulDoubleCall* ZulDouble_Call(int32_t index);

/* Blocks handed out by AllocateMemory or inside returned values and not yet given back. */
ZUL_QEL_API int64_t ZulDouble_OutstandingBlocks(int32_t cookie);
ZUL_QEL_API int64_t ZulDouble_TotalOutstandingBlocks(void);
/* Releases of blocks that were never handed out, or under another cookie than their own. */
ZUL_QEL_API int64_t ZulDouble_BadReleases(void);
/* Transactions begun and not yet ended. */
ZUL_QEL_API int32_t ZulDouble_OpenTransactions(void);

/* Callbacks: registrations of the output callback are counted; emitting calls every registered one. */
ZUL_QEL_API int32_t ZulDouble_OutputRegistrations(void);
ZUL_QEL_API void ZulDouble_EmitOutput(int32_t cookie, const char* text);
ZUL_QEL_API void ZulDouble_EmitNotify(int32_t cookie, const char* first, const char* second);
/* The same, run on a new thread of the double's that is joined before returning. */
ZUL_QEL_API void ZulDouble_EmitOutputOnThread(int32_t cookie, const char* text);
ZUL_QEL_API void ZulDouble_EmitNotifyOnThread(int32_t cookie, const char* first, const char* second);

#ifdef __cplusplus
}
#endif

#endif /* ZUL_BRIDGE_DOUBLE_H */

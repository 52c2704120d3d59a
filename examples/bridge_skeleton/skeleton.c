/* The smallest complete zul_qel: all 30 entry points of zul/qel.h, each with its contract, over one
 * class, Greeter. Start a bridge for another runtime from here: keep the contracts, replace the bodies.
 *
 *   Greet(name)          returns the STRING "<Salutation>, <name>."
 *   Shout(text)          a procedure: upper-cases its by-reference STRING argument in place, returns LONG 0
 *   Salutation           a STRING property, "Hello" until set
 *
 * Rules every entry point follows:
 * - Any thread may call any entry point. A failure returns a negative code (or null where a pointer is
 *   returned) after BridgeFail has recorded the code and a text for the calling thread; the library at
 *   once asks ZUL_QEL_GetLastError on the same thread. Success leaves the last failure as it was.
 * - Nothing may leave an entry point: C code has no exceptions; a bridge in C++ catches everything.
 * - Texts are zero-terminated bytes in the caller's code page; read them up to the NUL.
 * - Callbacks into the client are never made with g_lock held: the client may call back in. */
#define ZUL_QEL_BUILD
#define ZUL_BRIDGE_HELPERS_DEFINE
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "bridge_helpers.h"
#include "zul/qel.h"

#ifdef _WIN32
#include <windows.h>
static SRWLOCK g_lock = SRWLOCK_INIT;
static void Lock(void) {
  AcquireSRWLockExclusive(&g_lock);
}
static void Unlock(void) {
  ReleaseSRWLockExclusive(&g_lock);
}
#else
#include <pthread.h>
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static void Lock(void) {
  pthread_mutex_lock(&g_lock);
}
static void Unlock(void) {
  pthread_mutex_unlock(&g_lock);
}
#endif

/* This bridge's error codes. Any negative code is a failure; ZulQelError's codes mean more to the caller. */
enum {
  kNotInitialised = -1001,
  kInvalidArgument = -1002,
  kUnknownCookie = -1003,
  kUnknownClass = -1004,
  kNotSupported = -1005,
  kOutOfMemory = -1006,
  kNoObject = -1010,
  kUnknownMember = -1011,
  kBadArgument = -1013
};

enum { kMaxWrappers = 256, kMaxOutputCallbacks = 8, kTextBytes = 256 };

typedef struct Wrapper {
  int registered;
  int hasObject;
  const void* transactionThread; /* the thread inside the wrapper's transaction, or null */
  int transactionDepth;
  char salutation[kTextBytes];
  char variableName[32];
  BridgeValue result;   /* a method's result: the bridge's until the transaction ends */
  BridgeValue property; /* a property read: the record stays the bridge's, its blocks go to the caller */
  BridgeNotifyCallback notify;
} Wrapper;

static int g_initialised; /* counted: each Initialize needs its Release */
static int32_t g_nextCookie = 1;
static Wrapper g_wrappers[kMaxWrappers];
static BridgeOutputCallback g_output[kMaxOutputCallbacks];
static _Thread_local char t_threadIdentity; /* its address tells threads apart */

/* The wrapper of cookie, or null with the failure recorded. Call with g_lock held. */
static Wrapper* FindWrapper(int32_t cookie) {
  if (!g_initialised) {
    BridgeFail(kNotInitialised, "The bridge is not initialised: call ZUL_QEL_Initialize first.");
    return NULL;
  }
  if (cookie < 1 || cookie >= g_nextCookie || !g_wrappers[cookie - 1].registered) {
    BridgeFail(kUnknownCookie, "Invalid cookie %d.", (int)cookie);
    return NULL;
  }
  return &g_wrappers[cookie - 1];
}

/* The wrapper of cookie with an object and a transaction of the calling thread, or null. */
static Wrapper* FindObject(int32_t cookie) {
  Wrapper* wrapper = FindWrapper(cookie);
  if (wrapper == NULL) return NULL;
  if (wrapper->transactionThread != &t_threadIdentity) {
    BridgeFail(kInvalidArgument, "No transaction is open on cookie %d in this thread.", (int)cookie);
    return NULL;
  }
  if (!wrapper->hasObject) {
    BridgeFail(kNoObject, "Wrapper %d has no object: call ZUL_QEL_CreateObject first.", (int)cookie);
    return NULL;
  }
  return wrapper;
}

/* The text of a STRING argument or value, or null with the failure recorded. A null chars is "". */
static const char* StringOf(const BridgeValue* value, const char* what) {
  if (value == NULL || value->type != ZUL_TYP_STRING || (value->flags & ZUL_VALUEFLAG_ARRAY) != 0) {
    BridgeFail(kBadArgument, "%s must be a string.", what);
    return NULL;
  }
  return value->value.str.chars != NULL ? value->value.str.chars : "";
}

/* Initialises the bridge. init->field1 is the interface version (the library sends 1 and 1). A refusal
 * is reported once by ZUL_MSCOMPAL_Initialize, but the library stays bound: later calls still arrive here,
 * and so does ZUL_QEL_Release. Every entry point must therefore survive being called uninitialised. */
ZUL_QEL_API int32_t ZUL_QEL_Initialize(BridgeInitRecord* init) {
  if (init == NULL || init->field1 != 1) {
    return BridgeFail(kInvalidArgument, "This bridge speaks interface version 1.");
  }
  Lock();
  ++g_initialised;
  Unlock();
  return 0;
}

/* Ends one Initialize; the last one forgets every wrapper and frees what they hold. A Release without a
 * successful Initialize (see above) does nothing. Called before the library unloads the bridge. */
ZUL_QEL_API int32_t ZUL_QEL_Release(void) {
  Lock();
  if (g_initialised > 0 && --g_initialised == 0) {
    for (int i = 0; i < kMaxWrappers; ++i) {
      BridgeClearValue(&g_wrappers[i].result);
      BridgeClearValue(&g_wrappers[i].property);
      memset(&g_wrappers[i], 0, sizeof g_wrappers[i]);
    }
    memset(g_output, 0, sizeof g_output);
    g_nextCookie = 1;
  }
  Unlock();
  return 0;
}

/* Registers a wrapper of className in the ZUL process procName (null or empty: the default one; this
 * bridge has only that one and ignores the name). Returns the new cookie, 1 or more; below 1 is a failure.
 * registrationValue is the caller's and is not interpreted. Runs inside BeginTransaction(0). */
ZUL_QEL_API int32_t ZUL_QEL_RegisterWrapper(const char* className, uint32_t registrationValue,
                                            const char* procName) {
  (void)registrationValue;
  (void)procName;
  if (className == NULL || strcmp(className, "Greeter") != 0) {
    return BridgeFail(kUnknownClass, "Unknown class '%s'; the class is Greeter.", className ? className : "");
  }
  Lock();
  int32_t cookie = kUnknownCookie;
  if (!g_initialised) {
    cookie = BridgeFail(kNotInitialised, "The bridge is not initialised: call ZUL_QEL_Initialize first.");
  } else if (g_nextCookie > kMaxWrappers) {
    cookie = BridgeFail(kOutOfMemory, "This bridge holds at most %d wrappers.", kMaxWrappers);
  } else {
    cookie = g_nextCookie++;
    Wrapper* wrapper = &g_wrappers[cookie - 1];
    wrapper->registered = 1;
    strcpy(wrapper->salutation, "Hello");
  }
  Unlock();
  return cookie;
}

/* Forgets the cookie and its object. The library may still end a transaction on it afterwards. */
ZUL_QEL_API int32_t ZUL_QEL_ReleaseWrapper(int32_t cookie) {
  Lock();
  Wrapper* wrapper = FindWrapper(cookie);
  if (wrapper != NULL) {
    BridgeClearValue(&wrapper->result);
    BridgeClearValue(&wrapper->property);
    memset(wrapper, 0, sizeof *wrapper);
  }
  Unlock();
  return wrapper != NULL ? 0 : kUnknownCookie;
}

/* Opens a transaction of the calling thread on cookie (0: the bracket around a registration, always
 * accepted). Nests within a thread; another thread's transaction on the same wrapper makes it busy, which
 * the library reports as E_ACCESSDENIED. A refusal ends the library's call at once (no EndTransaction). */
ZUL_QEL_API int32_t ZUL_QEL_BeginTransaction(int32_t cookie) {
  if (cookie == 0) return 0;
  Lock();
  int32_t status = 0;
  Wrapper* wrapper = FindWrapper(cookie);
  if (wrapper == NULL) {
    status = kUnknownCookie;
  } else if (wrapper->transactionDepth > 0 && wrapper->transactionThread != &t_threadIdentity) {
    status = BridgeFail(ZUL_QEL_ERROR_BUSY, "Wrapper %d is busy in another thread.", (int)cookie);
  } else {
    wrapper->transactionThread = &t_threadIdentity;
    ++wrapper->transactionDepth;
  }
  Unlock();
  return status;
}

/* Ends the transaction that BeginTransaction opened. A method's result is freed here: the library has
 * converted it by now. The cookie may have been released inside the transaction, and the library ignores
 * the result, so an unknown cookie is simply accepted. */
ZUL_QEL_API int32_t ZUL_QEL_EndTransaction(int32_t cookie) {
  Lock();
  if (cookie >= 1 && cookie < g_nextCookie && g_wrappers[cookie - 1].transactionDepth > 0) {
    Wrapper* wrapper = &g_wrappers[cookie - 1];
    if (--wrapper->transactionDepth == 0) {
      wrapper->transactionThread = NULL;
      BridgeClearValue(&wrapper->result);
    }
  }
  Unlock();
  return 0;
}

/* Memory for the values the library builds (argument strings and arrays), under the calling wrapper's
 * cookie. It need not be zero-filled (the library writes every byte it uses). Null is a failure. */
ZUL_QEL_API void* ZUL_QEL_AllocateMemory(int32_t cookie, uint64_t byteCount) {
  (void)cookie;
  void* block = BridgeAllocate(byteCount);
  if (block == NULL) BridgeFail(kOutOfMemory, "Out of memory.");
  return block;
}

/* Takes back a block of ZUL_QEL_AllocateMemory, or one the bridge handed out in a value flagged
 * ZUL_VALUEFLAG_BRIDGE_MEMORY. Null does nothing. The library ignores the result. */
ZUL_QEL_API int32_t ZUL_QEL_ReleaseMemory(int32_t cookie, void* block) {
  (void)cookie;
  BridgeFree(block);
  return 0;
}

/* Constructs the wrapper's object, inside its transaction. values is an array of count pointers to
 * records that the library owns, values[0] the first argument (COM's own argument array runs the other
 * way); flags[i] is the low 16 bits of the caller's word for argument i. createParam1 to 3 are the
 * caller's business. Greeter takes no arguments. */
ZUL_QEL_API int32_t ZUL_QEL_CreateObject(int32_t cookie, int32_t count, BridgeValue** values,
                                         const uint32_t* flags, uint32_t createParam1, uint32_t createParam2,
                                         uintptr_t createParam3) {
  (void)values, (void)flags, (void)createParam1, (void)createParam2, (void)createParam3;
  Lock();
  int32_t status = 0;
  Wrapper* wrapper = FindWrapper(cookie);
  if (wrapper == NULL) {
    status = kUnknownCookie;
  } else if (count != 0) {
    status = BridgeFail(kBadArgument, "Greeter takes 0 constructor arguments, not %d.", (int)count);
  } else {
    wrapper->hasObject = 1;
    snprintf(wrapper->variableName, sizeof wrapper->variableName, "greeter%d", (int)cookie);
  }
  Unlock();
  return status;
}

/* Destroys the wrapper's object, inside its transaction; the cookie stays registered. */
ZUL_QEL_API int32_t ZUL_QEL_DestroyObject(int32_t cookie) {
  Lock();
  Wrapper* wrapper = FindObject(cookie);
  if (wrapper != NULL) wrapper->hasObject = 0;
  Unlock();
  return wrapper != NULL ? 0 : kNoObject;
}

/* The object handle of the wrapper refCookie, for a ZUL_TYP_OBJREF argument: how a client passes one
 * object to another. Below 1 is a failure. Here the handle is the cookie. */
ZUL_QEL_API int32_t ZUL_QEL_ObjRefCookie2Hvid(int32_t cookie, int32_t refCookie) {
  (void)cookie;
  Lock();
  Wrapper* wrapper = FindWrapper(refCookie);
  const int32_t handle = wrapper == NULL ? kUnknownCookie
                         : wrapper->hasObject
                             ? refCookie
                             : BridgeFail(kNoObject, "Wrapper %d has no object.", (int)refCookie);
  Unlock();
  return handle;
}

/* Must exist; the library never calls it. */
ZUL_QEL_API int32_t ZUL_QEL_AttachObject(int32_t cookie, void* window) {
  (void)cookie, (void)window;
  return BridgeFail(kNotSupported, "Greeter objects have no window to attach.");
}

/* A user-interface event for the wrapper's object, inside its transaction. A refusal makes the library
 * raise an exception in the client, so a bridge without windows accepts events and ignores them. */
ZUL_QEL_API int32_t ZUL_QEL_OnEvent(int32_t cookie, EventRecord* event) {
  (void)event;
  Lock();
  Wrapper* wrapper = FindObject(cookie);
  Unlock();
  return wrapper != NULL ? 0 : kNoObject;
}

/* Calls a method, inside the wrapper's transaction. Arguments as for ZUL_QEL_CreateObject. When result is
 * not null the caller wants a value: store a record there on every success. A procedure stores LONG 0;
 * a null slot after success fails the call ("Unexpected error."), and ZUL_TYP_UNDEF cannot be converted.
 * The record and its blocks stay the bridge's until the transaction ends.
 *
 * An argument that the caller passes by reference has ZUL_QEL_ARGFLAG_WRITE_BACK and not
 * ZUL_QEL_ARGFLAG_IN_ONLY; test the bits, since others (0x4000, the caller's reordering) arrive too. To
 * change it, change the record that values[i] points to, never the pointer: give back its old blocks if
 * it was flagged ZUL_VALUEFLAG_BRIDGE_MEMORY, and flag the new ones so, for the library frees them. */
ZUL_QEL_API int32_t ZUL_QEL_CallMethod(int32_t cookie, const char* name, int32_t count, BridgeValue** values,
                                       const uint32_t* flags, BridgeValue** result) {
  char text[2 * kTextBytes];
  Lock();
  Wrapper* wrapper = FindObject(cookie);
  int32_t status = wrapper != NULL ? 0 : kNoObject;
  const int greet = name != NULL && strcmp(name, "Greet") == 0,
            shout = name != NULL && strcmp(name, "Shout") == 0;
  if (status == 0 && !greet && !shout) {
    status = BridgeFail(kUnknownMember, "Greeter has no method '%s'.", name != NULL ? name : "");
  } else if (status == 0 && (count != 1 || values == NULL)) {
    status = BridgeFail(kBadArgument, "Greeter.%s takes 1 argument, not %d.", name, (int)count);
  }
  const char* argument = status == 0 ? StringOf(values[0], "Argument 1") : NULL;
  if (status == 0 && argument == NULL) status = kBadArgument;
  if (status == 0 && shout) {
    const uint32_t mode =
        (flags != NULL ? flags[0] : 0) & (ZUL_QEL_ARGFLAG_IN_ONLY | ZUL_QEL_ARGFLAG_WRITE_BACK);
    if (mode != ZUL_QEL_ARGFLAG_WRITE_BACK) {
      status = BridgeFail(kBadArgument, "Greeter.Shout: argument 1 must be passed by reference.");
    } else {
      snprintf(text, sizeof text, "%s", argument);
      for (char* c = text; *c != 0; ++c) *c = (char)toupper((unsigned char)*c);
      BridgeValue changed;
      status = BridgeSetString(&changed, text);
      if (status == 0) {
        BridgeClearValue(values[0]);
        *values[0] = changed;
      }
    }
  }
  if (wrapper != NULL) BridgeClearValue(&wrapper->result);
  if (status == 0 && result != NULL) {
    if (greet) {
      snprintf(text, sizeof text, "%s, %s.", wrapper->salutation, argument);
      status = BridgeSetString(&wrapper->result, text);
    } else {
      wrapper->result.type = ZUL_TYP_LONG; /* a procedure's result */
      wrapper->result.value.longVal = 0;
    }
    *result = &wrapper->result;
  }
  Unlock();
  return status;
}

/* Sets a property, inside the wrapper's transaction: values holds the property's index arguments, if
 * any, then the new value last. Nothing is written back, whatever the flags. */
ZUL_QEL_API int32_t ZUL_QEL_SetProperty(int32_t cookie, const char* name, int32_t count, BridgeValue** values,
                                        const uint32_t* flags) {
  (void)flags;
  Lock();
  Wrapper* wrapper = FindObject(cookie);
  int32_t status = wrapper != NULL ? 0 : kNoObject;
  if (status == 0 && (name == NULL || strcmp(name, "Salutation") != 0)) {
    status = BridgeFail(kUnknownMember, "Greeter has no property '%s'.", name != NULL ? name : "");
  } else if (status == 0 && (count != 1 || values == NULL)) {
    status = BridgeFail(kBadArgument, "Greeter.Salutation takes 1 value, not %d.", (int)count);
  }
  const char* text = status == 0 ? StringOf(values[0], "Greeter.Salutation") : NULL;
  if (status == 0 && text == NULL) status = kBadArgument;
  if (status == 0) snprintf(wrapper->salutation, sizeof wrapper->salutation, "%s", text);
  Unlock();
  return status;
}

/* Reads a property, inside the wrapper's transaction. Null is a failure. The record stays the bridge's;
 * the caller gives back the blocks of a record flagged ZUL_VALUEFLAG_BRIDGE_MEMORY with
 * ZUL_QEL_ReleaseMemory and zeroes it. */
ZUL_QEL_API BridgeValue* ZUL_QEL_GetProperty(int32_t cookie, const char* name) {
  Lock();
  Wrapper* wrapper = FindObject(cookie);
  BridgeValue* value = NULL;
  if (wrapper != NULL && (name == NULL || strcmp(name, "Salutation") != 0)) {
    BridgeFail(kUnknownMember, "Greeter has no property '%s'.", name != NULL ? name : "");
  } else if (wrapper != NULL) {
    BridgeClearValue(&wrapper->property); /* the caller released its blocks, or it never got them */
    if (BridgeSetString(&wrapper->property, wrapper->salutation) == 0) value = &wrapper->property;
  }
  Unlock();
  return value;
}

/* Asks whatever runs in the cookie's process to stop; called outside any transaction, from another
 * thread than the running call. That call then fails with ZUL_QEL_ERROR_ABORTED. Nothing here runs long. */
ZUL_QEL_API int32_t ZUL_QEL_Abort(int32_t cookie) {
  (void)cookie;
  return BridgeFail(ZUL_QEL_ERROR_NOTHING_TO_ABORT, "No ZUL activity to abort.");
}

/* The calling thread's last failure: its code where asked (code may be null), its text or null. The text
 * stays valid until the thread's next failure. Must work before Initialize and after Release. */
ZUL_QEL_API const char* ZUL_QEL_GetLastError(int32_t* code) {
  return BridgeLastError(code);
}

/* Output lines of every ZUL process go to every registered output callback, with the cookie of the
 * wrapper that produced them; the library registers one function, once per client registration. */
ZUL_QEL_API int32_t ZUL_QEL_RegisterOutputCallback(BridgeOutputCallback callback) {
  if (callback == NULL) return BridgeFail(kInvalidArgument, "No output callback given.");
  Lock();
  int i = 0;
  while (i < kMaxOutputCallbacks && g_output[i] != NULL) ++i;
  if (i < kMaxOutputCallbacks) g_output[i] = callback;
  Unlock();
  return i < kMaxOutputCallbacks ? 0 : BridgeFail(kOutOfMemory, "Too many output callbacks.");
}

/* Takes back one registration of callback. */
ZUL_QEL_API int32_t ZUL_QEL_UnregisterOutputCallback(BridgeOutputCallback callback) {
  Lock();
  int i = 0;
  while (i < kMaxOutputCallbacks && g_output[i] != callback) ++i;
  if (i < kMaxOutputCallbacks) g_output[i] = NULL;
  Unlock();
  return i < kMaxOutputCallbacks ? 0 : BridgeFail(kInvalidArgument, "The output callback is not registered.");
}

/* The notify callback of one wrapper (two texts); registering again replaces it. */
ZUL_QEL_API int32_t ZUL_QEL_RegisterNotifyCallback(int32_t cookie, BridgeNotifyCallback callback) {
  if (callback == NULL) return BridgeFail(kInvalidArgument, "No notify callback given.");
  Lock();
  Wrapper* wrapper = FindWrapper(cookie);
  if (wrapper != NULL) wrapper->notify = callback;
  Unlock();
  return wrapper != NULL ? 0 : kUnknownCookie;
}

ZUL_QEL_API int32_t ZUL_QEL_UnregisterNotifyCallback(int32_t cookie) {
  Lock();
  Wrapper* wrapper = FindWrapper(cookie);
  if (wrapper != NULL) wrapper->notify = NULL;
  Unlock();
  return wrapper != NULL ? 0 : kUnknownCookie;
}

/* Must exist; the library never calls them. */
ZUL_QEL_API int32_t ZUL_QEL_RegisterIMSCallback(void* callback) {
  (void)callback;
  return 0;
}

ZUL_QEL_API int32_t ZUL_QEL_UnregisterIMSCallback(void* callback) {
  (void)callback;
  return 0;
}

/* Process variables, inside the wrapper's transaction: this bridge keeps none. SetZULVariable copies what
 * it keeps at once (the value is the library's); GetZULVariable returns a record as GetProperty does. */
ZUL_QEL_API int32_t ZUL_QEL_SetZULVariable(int32_t cookie, const char* name, BridgeValue* value) {
  (void)cookie, (void)value;
  return BridgeFail(kNotSupported, "This bridge keeps no variables: '%s' cannot be set.", name ? name : "");
}

ZUL_QEL_API BridgeValue* ZUL_QEL_GetZULVariable(int32_t cookie, const char* name) {
  (void)cookie;
  BridgeFail(kNotSupported, "This bridge keeps no variables: '%s' is undefined.", name ? name : "");
  return NULL;
}

/* Runs a command in the cookie's process, inside the wrapper's transaction. This bridge runs none: it
 * hands the command to the output callbacks, which shows how output reaches the client. The callbacks
 * are copied under the lock and called without it. */
ZUL_QEL_API int32_t ZUL_QEL_ExecuteString(int32_t cookie, const char* command) {
  BridgeOutputCallback output[kMaxOutputCallbacks];
  Lock();
  Wrapper* wrapper = FindObject(cookie);
  memcpy(output, g_output, sizeof output);
  Unlock();
  if (wrapper == NULL) return kNoObject;
  if (command == NULL) return BridgeFail(kInvalidArgument, "No command given.");
  for (int i = 0; i < kMaxOutputCallbacks; ++i) {
    if (output[i] != NULL) output[i](cookie, command);
  }
  return 0;
}

/* The name of the wrapper's object in its process; null is a failure. Valid until the object goes. */
ZUL_QEL_API const char* ZUL_QEL_GetObjVariableName(int32_t cookie) {
  Lock();
  Wrapper* wrapper = FindWrapper(cookie);
  const char* name = wrapper != NULL && wrapper->hasObject ? wrapper->variableName : NULL;
  if (wrapper != NULL && name == NULL) BridgeFail(kNoObject, "Wrapper %d has no object.", (int)cookie);
  Unlock();
  return name;
}

/* Must exist; the library never calls them: processes come into being when a registration names them. */
ZUL_QEL_API int32_t ZUL_QEL_CreateZULProcess(const char* procName) {
  (void)procName;
  return BridgeFail(kNotSupported, "This bridge has only the default ZUL process.");
}

ZUL_QEL_API int32_t ZUL_QEL_DestroyZULProcess(const char* procName) {
  (void)procName;
  return BridgeFail(kNotSupported, "This bridge has only the default ZUL process.");
}

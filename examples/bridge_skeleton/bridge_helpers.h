/* Helpers for a bridge written in C: the calling thread's last error, and values in bridge memory.
 *
 * Define ZUL_BRIDGE_HELPERS_DEFINE in exactly one source file before including this header; the others
 * include it plainly. Blocks come from calloc and go back through BridgeFree; ZUL_QEL_AllocateMemory and
 * ZUL_QEL_ReleaseMemory hand out and take back the same blocks, so a value the library built and one the
 * bridge built are freed alike. */
#ifndef ZUL_BRIDGE_HELPERS_H
#define ZUL_BRIDGE_HELPERS_H

#include <stdint.h>

#include "zul/qel.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Records code and the formatted text as the calling thread's last failure and returns code. Never
 * allocates: the failure may be that memory ran out. A text longer than 1023 bytes is cut. */
int32_t BridgeFail(int32_t code, const char* format, ...);
/* The calling thread's last failure: its text (null before any) and, where asked, its code (0 before any). */
const char* BridgeLastError(int32_t* code);

/* A zero-filled block of byteCount bytes (one of its own also for 0), or null. */
void* BridgeAllocate(uint64_t byteCount);
void BridgeFree(void* block);

/* Makes value the string text: a block of strlen(text) + 1 bytes, kind 1, flags ZUL_VALUEFLAG_BRIDGE_MEMORY;
 * the empty string is kind 0 with no block and flags 0. length is the byte count: the library reads a
 * string up to its NUL, so a bridge need not count UTF-16 units. Returns 0, or a failure recorded. */
int32_t BridgeSetString(BridgeValue* value, const char* text);
/* Gives back every block that value holds when it is flagged ZUL_VALUEFLAG_BRIDGE_MEMORY (a string's
 * characters; an array's descriptor, data and string elements), then zeroes the record itself. */
void BridgeClearValue(BridgeValue* value);

#ifdef ZUL_BRIDGE_HELPERS_DEFINE
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct BridgeErrorRecord {
  int32_t code;
  int set;
  char text[1024];
} BridgeErrorRecord;
static _Thread_local BridgeErrorRecord t_bridgeError;

int32_t BridgeFail(int32_t code, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(t_bridgeError.text, sizeof t_bridgeError.text, format, arguments);
  va_end(arguments);
  t_bridgeError.code = code;
  t_bridgeError.set = 1;
  return code;
}

const char* BridgeLastError(int32_t* code) {
  if (code != NULL) *code = t_bridgeError.code;
  return t_bridgeError.set ? t_bridgeError.text : NULL;
}

void* BridgeAllocate(uint64_t byteCount) {
  if (byteCount > ((uint64_t)1 << 40)) return NULL;
  return calloc(1, byteCount > 0 ? (size_t)byteCount : 1);
}

void BridgeFree(void* block) {
  free(block);
}

int32_t BridgeSetString(BridgeValue* value, const char* text) {
  const size_t length = strlen(text);
  memset(value, 0, sizeof *value);
  value->type = ZUL_TYP_STRING;
  if (length == 0) return 0;
  char* chars = (char*)BridgeAllocate(length + 1);
  if (chars == NULL) return BridgeFail(-1006, "Out of memory.");
  memcpy(chars, text, length + 1);
  value->flags = ZUL_VALUEFLAG_BRIDGE_MEMORY;
  value->value.str.length = (int32_t)length;
  value->value.str.kind = 1;
  value->value.str.chars = chars;
  return 0;
}

void BridgeClearValue(BridgeValue* value) {
  if ((value->flags & ZUL_VALUEFLAG_BRIDGE_MEMORY) != 0) {
    if ((value->flags & ZUL_VALUEFLAG_ARRAY) != 0 && value->value.array != NULL) {
      BridgeArray* array = value->value.array;
      if (value->type == ZUL_TYP_STRING && array->data != NULL) {
        BridgeString* elements = (BridgeString*)array->data;
        for (int64_t i = 0; i < array->elementCount; ++i) BridgeFree(elements[i].chars);
      }
      BridgeFree(array->data);
      BridgeFree(array);
    } else if ((value->flags & ZUL_VALUEFLAG_ARRAY) == 0 && value->type == ZUL_TYP_STRING) {
      BridgeFree(value->value.str.chars);
    }
  }
  memset(value, 0, sizeof *value);
}
#endif /* ZUL_BRIDGE_HELPERS_DEFINE */

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZUL_BRIDGE_HELPERS_H */

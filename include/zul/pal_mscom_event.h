/* Delivering an event from a program built with GCC: mingw-w64 on Windows, g++ on Linux.
 *
 * ZUL_MSCOMPAL_OnEvent raises a failed delivery as _com_error. On Windows it is raised as Microsoft's C++
 * runtime throws it, so that programs built with Microsoft's toolchain catch it with `catch (_com_error&)`;
 * code built with mingw-w64 cannot catch that exception, not even with `catch (...)`. ZulOnEventCaught runs
 * the call and turns the raised failure back into a result, the same way on both systems. */
#ifndef ZUL_PAL_MSCOM_EVENT_H
#define ZUL_PAL_MSCOM_EVENT_H

#include "zul/pal_mscom.h"

#if defined(_WIN32) && defined(__GNUC__) && defined(__x86_64__)
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What the filter took from the exception, for the call on the same thread. */
static __thread struct {
  int raised;
  HRESULT hr;
  IErrorInfo* errorInfo;
} ZulEventRaised;

/* Takes the library's _com_error (found by its type's name in the throw information, which refers to its
 * parts by offsets from the raising image's base) and leaves every other exception to the handlers above.
 * The exception's reference to its IErrorInfo becomes the caller's: nothing else releases it, as no C++
 * runtime takes part in the unwind. */
static LONG __attribute__((used)) ZulEventFilter(EXCEPTION_POINTERS* pointers, void* frame) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  (void)frame;
  if (record->ExceptionCode != 0xE06D7363 || record->NumberParameters != 4 ||
      record->ExceptionInformation[0] != 0x19930520)
    return EXCEPTION_CONTINUE_SEARCH;
  const char* base = (const char*)record->ExceptionInformation[3];
  const int32_t* throwInfo = (const int32_t*)record->ExceptionInformation[2];
  const int32_t* catchableTypes = (const int32_t*)(base + throwInfo[3]);
  const int32_t* firstType = (const int32_t*)(base + catchableTypes[1]);
  if (strcmp(base + firstType[1] + 16, ".?AV_com_error@@") != 0) return EXCEPTION_CONTINUE_SEARCH;
  const char* object = (const char*)record->ExceptionInformation[1];
  ZulEventRaised.raised = 1;
  memcpy(&ZulEventRaised.hr, object + 8, sizeof(HRESULT));
  memcpy(&ZulEventRaised.errorInfo, object + 16, sizeof(IErrorInfo*));
  return EXCEPTION_EXECUTE_HANDLER;
}

#ifdef __cplusplus
} /* extern "C" */
#endif
#endif

/* Runs ZUL_MSCOMPAL_OnEvent and returns its HRESULT, or for a failed delivery the raised one (E_UNEXPECTED).
 * *errorInfo receives the raised exception's error information (its source names the event and the
 * wrapper, its description is the bridge's text): a reference that the caller releases. It is null when
 * nothing was raised, or when the library could not make one. */
#if defined(_WIN32) && defined(__GNUC__) && defined(__x86_64__)
/* The call runs inside a structured-exception scope of this frame, as mingw-w64's __try1 declares one:
 * on the filter's word, the system's handler unwinds to the label after the call. */
static __attribute__((noinline, unused, section(".text$zul_event"))) HRESULT ZulOnEventCaught(
    int32_t cookie, EventRecord* event, IErrorInfo** errorInfo) {
  volatile HRESULT hr = E_UNEXPECTED;
  ZulEventRaised.raised = 0;
  __asm__ __volatile__(
      ".l_zul_event_try:\n"
      "\t.seh_handler __C_specific_handler, @except\n"
      "\t.seh_handlerdata\n"
      "\t.long 1\n"
      "\t.rva .l_zul_event_try, .l_zul_event_caught, ZulEventFilter, .l_zul_event_caught\n"
      "\t.section .text$zul_event,\"x\"\n" ::
          : "memory");
  hr = ZUL_MSCOMPAL_OnEvent(cookie, event);
  __asm__ __volatile__("\tnop\n.l_zul_event_caught:\n\tnop\n" ::: "memory");
  *errorInfo = NULL;
  if (ZulEventRaised.raised) hr = ZulEventRaised.hr, *errorInfo = ZulEventRaised.errorInfo;
  return hr;
}
#elif defined(__cplusplus) && !defined(_WIN32)
static inline HRESULT ZulOnEventCaught(int32_t cookie, EventRecord* event, IErrorInfo** errorInfo) {
  *errorInfo = nullptr;
  try {
    return ZUL_MSCOMPAL_OnEvent(cookie, event);
  } catch (const _com_error& raised) {
    *errorInfo = raised.ErrorInfo();
    return raised.Error();
  }
}
#endif

#endif /* ZUL_PAL_MSCOM_EVENT_H */

/* The client header compiles as C, and a C client links the library, which the loader has attached: the
 * gated exports work without a bridge, the context's last error starts empty, and BSTRs are made and freed
 * by their usual names. */
#include "zul/pal_mscom.h"

int main(void) {
  BSTR message = (BSTR)1;
  int failures = 0;
  failures += ZUL_MSCOMPAL_GetLastError(0, NULL) != E_POINTER;
  failures += ZUL_MSCOMPAL_GetLastError(0, &message) != S_OK || message != NULL;
  failures += ZUL_MSCOMPAL_UnregisterOutputCallback(1) != S_OK;
  failures += (ZUL_ARGFLAG_IN_ONLY | ZUL_ARGFLAG_WRITE_BACK | ZUL_ARGFLAG_REORDER) != 0x4003u;
  failures += sizeof(VARIANT) != 24 || sizeof(EventRecord) != 4;
  message = SysAllocStringLen(OLESTR("abc"), 2);
  failures += SysStringByteLen(message) != 4 || message[1] != 'b' || message[2] != 0;
  SysFreeString(message);
  return failures == 0 ? 0 : 1; /* CTest reports the exit code */
}

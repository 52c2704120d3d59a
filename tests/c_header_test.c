/* The client header compiles as C, and a C client links the library, which the loader has attached: the
 * gated exports work without a bridge, and the context's last error starts empty. */
#include "zul/pal_mscom.h"

int main(void) {
  BSTR message = (BSTR)1;
  int failures = 0;
  failures += ZUL_MSCOMPAL_GetLastError(0, NULL) != E_POINTER;
  failures += ZUL_MSCOMPAL_GetLastError(0, &message) != S_OK || message != NULL;
  failures += ZUL_MSCOMPAL_UnregisterOutputCallback(1) != S_OK;
  failures += (ZUL_ARGFLAG_IN_ONLY | ZUL_ARGFLAG_WRITE_BACK | ZUL_ARGFLAG_REORDER) != 0x4003u;
  failures += sizeof(VARIANT) != 24 || sizeof(EventRecord) != 4;
  return failures == 0 ? 0 : 1;  /* CTest reports the exit code */
}

/* Test-only hooks of libzul_platform.so (host build): fail the nth BSTR or SAFEARRAY allocation and
 * count the ones still alive. Windows' OLE Automation has nothing like them; no product code calls
 * them. */
#ifndef ZUL_HOST_TEST_HOOKS_H
#define ZUL_HOST_TEST_HOOKS_H

#include <stdint.h>

#include "zul/host/oleauto.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What is counted: every BSTR allocation (SysAllocString*, VarBstrCat) and every SAFEARRAY creation
 * (SafeArrayCreate, SafeArrayCreateEx). */
#define ZUL_HOST_TEST_BSTR 0
#define ZUL_HOST_TEST_SAFEARRAY 1

/* The nth allocation of kind from now (1 = the next) returns null; 0 turns this off. */
ZUL_HOST_API void ZulHostTest_FailAllocationAt(int32_t kind, int64_t nth);
/* Allocations of kind attempted (failed ones included), since the library was loaded. */
ZUL_HOST_API int64_t ZulHostTest_Allocations(int32_t kind);
/* Allocations of kind made and not yet freed, since the library was loaded. */
ZUL_HOST_API int64_t ZulHostTest_LiveAllocations(int32_t kind);

#ifdef __cplusplus
}
#endif

#endif /* ZUL_HOST_TEST_HOOKS_H */

// Test-only hooks of the host's OLE Automation: fail the nth BSTR or SAFEARRAY allocation and count the
// ones still alive. Only programs that link the platform statically (zul_platform_testing) have them;
// libzul_platform.so does not, nor does Windows' OLE Automation.
#pragma once

#include <cstdint>

// What is counted: every BSTR allocation (SysAllocString*, VarBstrCat) and every SAFEARRAY creation
// (SafeArrayCreate, SafeArrayCreateEx).
#define ZUL_HOST_TEST_BSTR 0
#define ZUL_HOST_TEST_SAFEARRAY 1

// The nth allocation of kind from now (1 = the next) returns null; 0 turns this off.
void ZulHostTest_FailAllocationAt(int32_t kind, int64_t nth);
// Allocations of kind attempted (failed ones included), since the program started.
int64_t ZulHostTest_Allocations(int32_t kind);
// Allocations of kind made and not yet freed, since the program started.
int64_t ZulHostTest_LiveAllocations(int32_t kind);

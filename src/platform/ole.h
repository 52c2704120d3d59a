// The one include for OLE Automation and operating-system services. On Windows these are the
// system's own; on the host, libzul_platform.so implements the same names and contracts.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <oleauto.h>
#include <comdef.h>
#else
#include "platform/host/kernel.h"
#include "platform/host/libloader.h"
#include "platform/host/process.h"
#include "zul/host/oleauto.h"
#ifndef OLESTR
#define OLESTR(str) u##str
#endif
#endif

#include <cstddef>

// Layouts the library depends on, identical on both targets.
static_assert(sizeof(OLECHAR) == 2);
static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4);
static_assert(sizeof(VARIANT) == 24);
static_assert(offsetof(VARIANT, vt) == 0);
static_assert(offsetof(VARIANT, lVal) == 8);
static_assert(offsetof(SAFEARRAY, cDims) == 0);
static_assert(offsetof(SAFEARRAY, fFeatures) == 2);
static_assert(offsetof(SAFEARRAY, cbElements) == 4);
static_assert(offsetof(SAFEARRAY, cLocks) == 8);
static_assert(offsetof(SAFEARRAY, pvData) == 16);
static_assert(offsetof(SAFEARRAY, rgsabound) == 24);
static_assert(sizeof(SAFEARRAYBOUND) == 8);
static_assert(sizeof(GUID) == 16);

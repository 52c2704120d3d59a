/* Diagnostics of the reference bridge, beyond the 30 entry points of zul/qel.h. */
#ifndef ZUL_BRIDGE_DIAGNOSTICS_H
#define ZUL_BRIDGE_DIAGNOSTICS_H

#include <stdint.h>

#include "zul/qel.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Blocks of bridge memory handed out under the cookie and not given back yet; a negative cookie counts
 * the blocks of all cookies. Method results count until the end of their transaction. */
ZUL_QEL_API int64_t ZulBridge_OutstandingBlocks(int32_t cookie);

#ifdef __cplusplus
}
#endif

#endif

#pragma once

#include "registry/pal_context.h"

namespace zul::ops {

// Hands the caller a copy of the last message of a registered wrapper (cookie > 0), or else of the
// context; null when there is none. Never clears it; never needs the bridge.
HRESULT ReadLastError(PalContext& context, int32_t cookie, BSTR* message) noexcept;

}  // namespace zul::ops

// The module's life in the client process: the one context and the attach flag.
#pragma once

#include "registry/pal_context.h"

namespace zul {

PalContext& Context() noexcept;

// Process attach: creates the registry lock if it does not exist yet, then sets the attach flag.
void ProcessAttach() noexcept;
// Process detach: deletes the registry lock, then clears the attach flag.
void ProcessDetach() noexcept;
bool IsAttached() noexcept;

}  // namespace zul

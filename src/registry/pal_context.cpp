#include "registry/pal_context.h"

#include "error/strings.h"
#include "loader/binding.h"

namespace zul {

PalContext::PalContext() {
  lastError.Set(-1, "");
  g_instanceCounter.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace zul

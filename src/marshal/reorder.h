// The reordering walk between the bridge's element order (dimension 0 fastest) and a SAFEARRAY's
// (the last stored bound's index fastest, as OLE Automation lays arrays out).
//
// Both forms pair the same elements: bridge element j = i0 + d0*(i1 + d1*(i2 + ...)) with SAFEARRAY
// element ((i0*d1 + i1)*d2 + i2)*... + i(m-1), for dims d0..d(m-1) (1 to ZUL_QEL_MAX_DIMENSIONS).
// - ForEachReordered visits the pairs one at a time in bridge order, for elements that are converted
//   one by one (strings, VARIANTs, object references) and may stop the walk.
// - CopyReordered moves plain elements (1, 2, 4 or 8 bytes) that keep their size, in cache-sized tiles.
#pragma once

#include <cstdint>

#include "zul/qel.h"

namespace zul {

// Calls visit(bridgeIndex, safeArrayIndex) for every element, in bridge order, until it returns false.
// Nothing is visited when a dimension is 0. Returns false when visit stopped the walk.
template <class Visit>
bool ForEachReordered(const int64_t* dims, int m, Visit&& visit) {
  int64_t count = 1;
  for (int k = 0; k < m; ++k) count *= dims[k];
  if (count == 0) return true;
  int64_t stride[ZUL_QEL_MAX_DIMENSIONS];
  stride[m - 1] = 1;
  for (int k = m - 2; k >= 0; --k) stride[k] = stride[k + 1] * dims[k + 1];
  int64_t index[ZUL_QEL_MAX_DIMENSIONS] = {};
  int64_t position = 0;
  for (int64_t j = 0; j < count; ++j) {
    if (!visit(j, position)) return false;
    for (int k = 0; k < m; ++k) {
      if (++index[k] < dims[k]) {
        position += stride[k];
        break;
      }
      position -= (dims[k] - 1) * stride[k];
      index[k] = 0;
    }
  }
  return true;
}

enum class ReorderDirection {
  kToBridge,     // from a SAFEARRAY's block into a bridge block: to[j] = from[p]
  kToSafeArray,  // from a bridge block into a SAFEARRAY's block: to[p] = from[j]
};

// Copies every element of elementSize bytes (1, 2, 4 or 8) between the two orders, with the result of
// ForEachReordered copying each pair. from and to hold the whole array and do not overlap.
void CopyReordered(const int64_t* dims, int m, uint32_t elementSize, const void* from, void* to,
                   ReorderDirection direction) noexcept;

}  // namespace zul

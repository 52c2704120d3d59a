#include "marshal/reorder.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define ZUL_REORDER_SSE2 1
#endif

namespace zul {

namespace {

// A tile is one cache line of elements square: every line of the source is read whole once and every
// line of the destination written whole once, whatever the strides.
constexpr int64_t kLine = 64;
// Columns of a band: the destination lines that one band keeps open stay within the TLB's reach.
constexpr int64_t kBandBytes = 16384;
// Tiles down a strip, so that each destination row is written in runs of this many lines.
constexpr int64_t kStripTiles = 2;
// Above this size the destination bypasses the caches.
constexpr int64_t kStreamBytes = 8 << 20;

#ifdef ZUL_REORDER_SSE2
template <int kWidth>
inline void UnpackPair(__m128i a, __m128i b, __m128i& lo, __m128i& hi) {
  if constexpr (kWidth == 1) {
    lo = _mm_unpacklo_epi8(a, b);
    hi = _mm_unpackhi_epi8(a, b);
  } else if constexpr (kWidth == 2) {
    lo = _mm_unpacklo_epi16(a, b);
    hi = _mm_unpackhi_epi16(a, b);
  } else if constexpr (kWidth == 4) {
    lo = _mm_unpacklo_epi32(a, b);
    hi = _mm_unpackhi_epi32(a, b);
  } else {
    lo = _mm_unpacklo_epi64(a, b);
    hi = _mm_unpackhi_epi64(a, b);
  }
}

// One round of a register transpose: lanes of kWidth bytes interleaved from rows kDistance apart.
template <int kRows, int kWidth, int kDistance>
inline void Round(__m128i (&x)[kRows]) {
  __m128i y[kRows];
  for (int g = 0; g < kRows; g += 2 * kDistance) {
    for (int i = 0; i < kDistance; ++i) {
      UnpackPair<kWidth>(x[g + i], x[g + i + kDistance], y[g + 2 * i], y[g + 2 * i + 1]);
    }
  }
  for (int i = 0; i < kRows; ++i) x[i] = y[i];
}

// Transposes the square of 16 / kSize rows of one register each.
template <int kSize>
inline void TransposeRegisters(__m128i (&x)[16 / kSize]) {
  constexpr int kRows = 16 / kSize;
  Round<kRows, kSize, 1>(x);
  if constexpr (kSize <= 4) Round<kRows, kSize * 2, 2>(x);
  if constexpr (kSize <= 2) Round<kRows, kSize * 4, 4>(x);
  if constexpr (kSize == 1) Round<kRows, 8, 8>(x);
}
#endif

// out[c][r] = in[r][c] for a tile of n x n elements of kSize bytes, each row one line.
template <int kSize>
inline void TransposeTileBuffer(const unsigned char (&in)[kLine / kSize][kLine],
                                unsigned char (&out)[kLine / kSize][kLine]) {
  constexpr int n = kLine / kSize;
#ifdef ZUL_REORDER_SSE2
  constexpr int kRows = 16 / kSize;
  for (int rb = 0; rb < n; rb += kRows) {
    for (int cb = 0; cb < n; cb += kRows) {
      __m128i x[kRows];
      for (int i = 0; i < kRows; ++i) {
        x[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(&in[rb + i][cb * kSize]));
      }
      TransposeRegisters<kSize>(x);
      for (int i = 0; i < kRows; ++i) {
        _mm_store_si128(reinterpret_cast<__m128i*>(&out[cb + i][rb * kSize]), x[i]);
      }
    }
  }
#else
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) std::memcpy(&out[c][r * kSize], &in[r][c * kSize], kSize);
  }
#endif
}

// One full tile: dst[c * dstStride + r] = src[r * srcStride + c], strides in elements. Lines move
// whole through two L1 buffers: at strides of whole pages a tile's lines would fall into one cache
// set, and loads from the source would wait behind stores to the destination that share their low
// address bits.
template <int kSize, bool kStream>
inline void TransposeTile(const unsigned char* src, int64_t srcStride, unsigned char* dst,
                          int64_t dstStride) {
  constexpr int n = kLine / kSize;
  alignas(64) unsigned char in[n][kLine];
  alignas(64) unsigned char out[n][kLine];
  for (int r = 0; r < n; ++r) std::memcpy(in[r], src + r * srcStride * kSize, kLine);
  TransposeTileBuffer<kSize>(in, out);
#ifdef ZUL_REORDER_SSE2
  if constexpr (kStream) {
    for (int c = 0; c < n; ++c) {
      auto* to = reinterpret_cast<__m128i*>(dst + c * dstStride * kSize);
      const auto* from = reinterpret_cast<const __m128i*>(out[c]);
      for (int i = 0; i < 4; ++i) _mm_stream_si128(to + i, _mm_load_si128(from + i));
    }
    return;
  }
#endif
  for (int c = 0; c < n; ++c) std::memcpy(dst + c * dstStride * kSize, out[c], kLine);
}

// Asks for the lines of the tile that comes next along these rows: each lies in a page of its own,
// where the hardware prefetcher does not look ahead.
template <int kSize>
inline void PrefetchTile(const unsigned char* src, int64_t srcStride) {
#ifdef ZUL_REORDER_SSE2
  for (int r = 0; r < kLine / kSize; ++r) {
    _mm_prefetch(reinterpret_cast<const char*>(src + r * srcStride * kSize), _MM_HINT_T0);
  }
#else
  (void)src;
  (void)srcStride;
#endif
}

template <int kSize>
inline void CopyElement(const unsigned char* from, unsigned char* to) {
  std::memcpy(to, from, kSize);
}

// dst[c * dstStride + r] = src[r * srcStride + c] for r < rows, c < cols; strides in elements.
template <int kSize, bool kStream>
void Transpose(const unsigned char* src, int64_t srcStride, unsigned char* dst, int64_t dstStride,
               int64_t rows, int64_t cols) {
  constexpr int64_t n = kLine / kSize;
  constexpr int64_t kBand = kBandBytes / kLine;  // columns of a band: one open line each
  constexpr int64_t kStripRows = n * kStripTiles;
  const int64_t fullRows = rows - rows % n;
  const int64_t fullCols = cols - cols % n;
  for (int64_t c0 = 0; c0 < fullCols; c0 += kBand) {
    const int64_t c1 = std::min(c0 + kBand, fullCols);
    for (int64_t r0 = 0; r0 < fullRows; r0 += kStripRows) {
      // Several tiles down one column of tiles: each destination row gets consecutive lines.
      const int64_t r1 = std::min(r0 + kStripRows, fullRows);
      for (int64_t c = c0; c < c1; c += n) {
        for (int64_t r = r0; r < r1; r += n) {
          if (c + n < c1) PrefetchTile<kSize>(src + (r * srcStride + c + n) * kSize, srcStride);
          TransposeTile<kSize, kStream>(src + (r * srcStride + c) * kSize, srcStride,
                                        dst + (c * dstStride + r) * kSize, dstStride);
        }
      }
    }
  }
  // The rows below the last full tile, then the columns right of it (fewer than n of each).
  for (int64_t c = 0; c < fullCols; ++c) {
    for (int64_t r = fullRows; r < rows; ++r) {
      CopyElement<kSize>(src + (r * srcStride + c) * kSize, dst + (c * dstStride + r) * kSize);
    }
  }
  for (int64_t r = 0; r < rows; ++r) {
    for (int64_t c = fullCols; c < cols; ++c) {
      CopyElement<kSize>(src + (r * srcStride + c) * kSize, dst + (c * dstStride + r) * kSize);
    }
  }
}

// Reverses the order of n dimensions (sizes above 1) as slices over the first and the last one, one
// slice per index of the ones between. A slice is streamed only when its base lies on a 16-byte
// boundary: the strides of the dimensions between need not keep one.
template <int kSize>
void CopyReorderedOfSize(bool stream, const int64_t* d, int n, const unsigned char* from, unsigned char* to,
                         ReorderDirection direction) {
  int64_t safeArrayStride[ZUL_QEL_MAX_DIMENSIONS];  // the last dimension's index fastest
  int64_t bridgeStride[ZUL_QEL_MAX_DIMENSIONS];     // dimension 0 fastest
  safeArrayStride[n - 1] = 1;
  for (int k = n - 2; k >= 0; --k) safeArrayStride[k] = safeArrayStride[k + 1] * d[k + 1];
  bridgeStride[0] = 1;
  for (int k = 1; k < n; ++k) bridgeStride[k] = bridgeStride[k - 1] * d[k - 1];

  const int last = n - 1;
  const bool toBridge = direction == ReorderDirection::kToBridge;
  const int64_t fromStride = toBridge ? safeArrayStride[0] : bridgeStride[last];
  const int64_t toStride = toBridge ? bridgeStride[last] : safeArrayStride[0];
  const int64_t rows = toBridge ? d[0] : d[last];
  const int64_t cols = toBridge ? d[last] : d[0];
  int64_t index[ZUL_QEL_MAX_DIMENSIONS] = {};
  int64_t safeArrayOffset = 0;
  int64_t bridgeOffset = 0;
  for (;;) {
    const unsigned char* source = from + (toBridge ? safeArrayOffset : bridgeOffset) * kSize;
    unsigned char* destination = to + (toBridge ? bridgeOffset : safeArrayOffset) * kSize;
    if (stream && reinterpret_cast<uintptr_t>(destination) % 16 == 0) {
      Transpose<kSize, true>(source, fromStride, destination, toStride, rows, cols);
    } else {
      Transpose<kSize, false>(source, fromStride, destination, toStride, rows, cols);
    }
    int k = 1;
    for (; k < last; ++k) {
      safeArrayOffset += safeArrayStride[k];
      bridgeOffset += bridgeStride[k];
      if (++index[k] < d[k]) break;
      safeArrayOffset -= d[k] * safeArrayStride[k];
      bridgeOffset -= d[k] * bridgeStride[k];
      index[k] = 0;
    }
    if (k >= last) return;
  }
}

}  // namespace

void CopyReordered(const int64_t* dims, int m, uint32_t elementSize, const void* from, void* to,
                   ReorderDirection direction) noexcept {
  // Dimensions of size 1 change neither order; without them the walk is a reversal of n dimensions.
  int64_t d[ZUL_QEL_MAX_DIMENSIONS];
  int n = 0;
  int64_t count = 1;
  for (int k = 0; k < m; ++k) {
    count *= dims[k];
    if (dims[k] != 1) d[n++] = dims[k];
  }
  if (count == 0) return;
  const auto* source = static_cast<const unsigned char*>(from);
  auto* destination = static_cast<unsigned char*>(to);
  if (n <= 1) {
    std::memcpy(destination, source, static_cast<std::size_t>(count) * elementSize);
    return;
  }
  // Arrays larger than the caches are written past them, in the slices where every destination line
  // of a tile starts on a 16-byte boundary: no line is read from memory only to be overwritten.
  const int64_t lineStride =
      (direction == ReorderDirection::kToBridge ? count / d[n - 1] : count / d[0]) * elementSize;
  const bool stream = count * elementSize >= kStreamBytes && lineStride % 16 == 0;
  switch (elementSize) {
    case 1:
      CopyReorderedOfSize<1>(stream, d, n, source, destination, direction);
      break;
    case 2:
      CopyReorderedOfSize<2>(stream, d, n, source, destination, direction);
      break;
    case 4:
      CopyReorderedOfSize<4>(stream, d, n, source, destination, direction);
      break;
    default:  // 8
      CopyReorderedOfSize<8>(stream, d, n, source, destination, direction);
      break;
  }
#ifdef ZUL_REORDER_SSE2
  if (stream) _mm_sfence();  // the streamed lines are visible before the caller goes on
#endif
}

}  // namespace zul

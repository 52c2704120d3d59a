#include "marshal/reorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace zul {
namespace {

// The tiled copy in both directions against the element walk, on shapes with whole tiles of every
// size, more columns than one band holds, edges of every width, all-partial tiles, an empty dimension
// (nothing to read or write: the buffers are null), and random ones.
// Sizes 1, 2, 4 and 8 take a tiled copy, 3 and 16 the element walk.
TEST(ReorderWalk, TiledCopyMatchesTheElementWalk) {
  std::mt19937 random(20241205);
  std::vector<std::vector<int64_t>> shapes = {{128, 640},   {67, 517},   {517, 67},
                                              {3, 2000},    {2000, 3},   {65, 1, 130},
                                              {17, 33, 65}, {1, 1, 300}, {2, 2, 2, 2, 2, 2, 2, 2},
                                              {4, 0, 3}};
  for (int round = 0; round < 120; ++round) {
    std::vector<int64_t> dims;  // 2 to 8 dimensions of 1 to 40, at most about 12,000 elements
    for (int64_t k = 0, count = 1; k < 2 + round % 7; ++k, count *= dims.back()) {
      const int64_t room = std::min<int64_t>(40, std::max<int64_t>(1, 12000 / count));
      dims.push_back(random() % 5 == 0 ? 1 : 1 + static_cast<int64_t>(random() % room));
    }
    shapes.push_back(dims);
  }
  for (const auto& dims : shapes) {
    for (uint32_t size : {1u, 2u, 4u, 8u, 3u, 16u}) {
      SCOPED_TRACE(::testing::Message()
                   << size << "-byte elements, " << dims.size() << " dims from " << dims[0]);
      int64_t count = 1;
      for (int64_t d : dims) count *= d;
      std::vector<unsigned char> from(static_cast<size_t>(count) * size);
      for (unsigned char& byte : from) byte = static_cast<unsigned char>(random());
      for (auto direction : {ReorderDirection::kToBridge, ReorderDirection::kToSafeArray}) {
        const bool toBridge = direction == ReorderDirection::kToBridge;
        std::vector<unsigned char> tiled(from.size(), 0xEE), walked(from.size(), 0xEE);
        CopyReordered(dims.data(), static_cast<int>(dims.size()), size, from.data(), tiled.data(), direction);
        ForEachReordered(dims.data(), static_cast<int>(dims.size()), [&](int64_t j, int64_t p) {
          std::memcpy(&walked[(toBridge ? j : p) * size], &from[(toBridge ? p : j) * size], size);
          return true;
        });
        ASSERT_EQ(tiled, walked) << (toBridge ? "to the bridge" : "to the SAFEARRAY");
      }
    }
  }
}

}  // namespace
}  // namespace zul

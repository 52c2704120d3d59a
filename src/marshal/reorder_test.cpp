#include "marshal/reorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace zul {
namespace {

// Sizes with a tiled copy, and two that take the element walk.
constexpr uint32_t kElementSizes[] = {1, 2, 4, 8, 3, 16};

std::string Describe(const std::vector<int64_t>& dims, uint32_t size) {
  std::string text = std::to_string(size) + "-byte elements, dims";
  for (int64_t d : dims) text += " " + std::to_string(d);
  return text;
}

// What the element walk makes of from, copying each pair.
std::vector<unsigned char> ByElementWalk(const std::vector<int64_t>& dims, uint32_t size,
                                         const std::vector<unsigned char>& from, ReorderDirection direction) {
  std::vector<unsigned char> to(from.size(), 0xEE);
  ForEachReordered(dims.data(), static_cast<int>(dims.size()), [&](int64_t j, int64_t p) {
    const int64_t source = direction == ReorderDirection::kToBridge ? p : j;
    const int64_t target = direction == ReorderDirection::kToBridge ? j : p;
    std::memcpy(&to[target * size], &from[source * size], size);
    return true;
  });
  return to;
}

// Both directions of the tiled copy against the element walk; every byte distinct enough that a
// misplaced element shows.
void ExpectSameAsElementWalk(const std::vector<int64_t>& dims, uint32_t size, std::mt19937& random) {
  SCOPED_TRACE(Describe(dims, size));
  int64_t count = 1;
  for (int64_t d : dims) count *= d;
  std::vector<unsigned char> from(static_cast<std::size_t>(count) * size);
  for (unsigned char& byte : from) byte = static_cast<unsigned char>(random());
  for (ReorderDirection direction : {ReorderDirection::kToBridge, ReorderDirection::kToSafeArray}) {
    std::vector<unsigned char> to(from.size(), 0xEE);
    CopyReordered(dims.data(), static_cast<int>(dims.size()), size, from.data(), to.data(), direction);
    ASSERT_EQ(to, ByElementWalk(dims, size, from, direction))
        << (direction == ReorderDirection::kToBridge ? "to the bridge" : "to the SAFEARRAY");
  }
}

TEST(ReorderWalk, TiledCopyMatchesTheElementWalkOnRandomShapes) {
  std::mt19937 random(20241205);
  for (int round = 0; round < 120; ++round) {
    const int m = 2 + round % 7;
    // Dimensions of 1 to 40 (1 now and then), at most about 12,000 elements in all.
    std::vector<int64_t> dims;
    int64_t count = 1;
    for (int k = 0; k < m; ++k) {
      const int64_t room = std::max<int64_t>(1, 12000 / count);
      const int64_t d =
          random() % 5 == 0 ? 1 : 1 + static_cast<int64_t>(random() % std::min<int64_t>(40, room));
      dims.push_back(d);
      count *= d;
    }
    for (uint32_t size : kElementSizes) ExpectSameAsElementWalk(dims, size, random);
  }
}

TEST(ReorderWalk, TiledCopyMatchesTheElementWalkAcrossBandsAndPartialTiles) {
  std::mt19937 random(7);
  // Whole tiles of every size in both directions, more columns than one band holds, edges of every
  // width, and a dimension so short that every tile is partial.
  const std::vector<std::vector<int64_t>> shapes = {{128, 640},   {67, 517},   {517, 67},
                                                    {3, 2000},    {2000, 3},   {65, 1, 130},
                                                    {17, 33, 65}, {1, 1, 300}, {2, 2, 2, 2, 2, 2, 2, 2}};
  for (const auto& dims : shapes) {
    for (uint32_t size : kElementSizes) ExpectSameAsElementWalk(dims, size, random);
  }
}

TEST(ReorderWalk, AnEmptyDimensionCopiesNothing) {
  const int64_t dims[] = {4, 0, 3};
  const unsigned char from[4] = {1, 2, 3, 4};
  unsigned char to[4] = {9, 9, 9, 9};
  CopyReordered(dims, 3, 1, from, to, ReorderDirection::kToBridge);
  EXPECT_EQ(std::vector<unsigned char>(to, to + 4), std::vector<unsigned char>(4, 9));
}

}  // namespace
}  // namespace zul

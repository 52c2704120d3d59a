// Heap allocations on the call path, counted by replacing the global allocation functions of this
// test program. They forward to malloc and free, so the sanitizers still see every block.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "bridge_double_client.h"
#include "loader/binding.h"
#include "zul/pal_mscom.h"

namespace {

thread_local bool t_counting = false;
thread_local int t_allocations = 0;

void* Allocate(std::size_t size) noexcept {
  if (t_counting) ++t_allocations;
  return std::malloc(size == 0 ? 1 : size);
}

void* AllocateOrThrow(std::size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

void* operator new(std::size_t size) {
  return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
  return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}

namespace zul {
namespace {

constexpr int32_t kCookie = 4711;

// The library's own allocations only: the bridge's entries for a call allocate nothing here.
TEST(CallAllocations, AMethodCallWithoutArgumentsAllocatesNothing) {
  const auto counted = [](auto work) {
    t_allocations = 0;
    t_counting = true;
    work();
    t_counting = false;
    return t_allocations;
  };
  // The counting sees an allocation; volatile: the pair is not optimised away.
  EXPECT_EQ(counted([] {
              int* volatile block = new int(1);
              delete block;
            }),
            1);
  testing::BoundBridgeDouble();
  ASSERT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(kCookie), S_OK);
  const BridgeEntries saved = g_bridge.entries;
  g_bridge.entries.BeginTransaction = g_bridge.entries.EndTransaction = [](int32_t) { return 0; };
  g_bridge.entries.CallMethod = [](int32_t, const char*, int32_t, BridgeValue**, const uint32_t*,
                                   BridgeValue**) { return 0; };
  for (const OLECHAR* name : {OLESTR("Method"), static_cast<const OLECHAR*>(nullptr)}) {
    // A first call may set up per-thread state.
    EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(kCookie, name, 0, nullptr, nullptr, nullptr), S_OK);
    HRESULT hr = E_FAIL;
    EXPECT_EQ(counted([&] { hr = ZUL_MSCOMPAL_CallMethod(kCookie, name, 0, nullptr, nullptr, nullptr); }), 0);
    EXPECT_EQ(hr, S_OK);
  }
  g_bridge.entries = saved;
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(kCookie), S_OK);
}

}  // namespace
}  // namespace zul

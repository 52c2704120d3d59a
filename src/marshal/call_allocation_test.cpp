// Heap allocations on the call path, counted by replacing the global allocation functions of this test
// program. They forward to malloc and free, so the sanitizers still see every block.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "fault_bridge.h"
#include "zul/pal_mscom.h"

namespace {
thread_local bool t_counting = false;
thread_local int t_allocations = 0;

void* Allocate(std::size_t size) noexcept {
  t_allocations += t_counting;
  return std::malloc(size == 0 ? 1 : size);
}
void* AllocateOrThrow(std::size_t size) {
  if (void* block = Allocate(size)) return block;
  throw std::bad_alloc();
}

}  // namespace

// Every form, so that no block of one allocator reaches another (AddressSanitizer checks the pairs).
// clang-format off
void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
// clang-format on

namespace zul::testing {
namespace {

// The library's own allocations only: the layer answers for the bridge, which allocates in its own way.
TEST(CallAllocations, AMethodCallWithoutArgumentsAllocatesNothing) {
  const auto counted = [](auto work) {
    t_allocations = 0, t_counting = true;
    work();
    t_counting = false;
    return t_allocations;
  };
  EXPECT_EQ(counted([] { delete new std::string(100, 'x'); }), 2) << "the counting sees allocations";
  FaultBridge& bridge = FaultBridge::Bound();
  for (auto entry : {BridgeEntry::kBeginTransaction, BridgeEntry::kCallMethod, BridgeEntry::kEndTransaction})
    bridge.Force(entry, 0);
  ASSERT_EQ(ZUL_MSCOMPAL_CreateProxyWrapper(4711), S_OK);
  for (const OLECHAR* name : {OLESTR("Method"), static_cast<const OLECHAR*>(nullptr)}) {
    EXPECT_EQ(ZUL_MSCOMPAL_CallMethod(4711, name, 0, nullptr, nullptr, nullptr), S_OK);  // per-thread setup
    HRESULT hr = E_FAIL;
    EXPECT_EQ(counted([&] { hr = ZUL_MSCOMPAL_CallMethod(4711, name, 0, nullptr, nullptr, nullptr); }), 0);
    EXPECT_EQ(hr, S_OK);
  }
  EXPECT_EQ(bridge.Calls(BridgeEntry::kCallMethod), 4);
  EXPECT_EQ(ZUL_MSCOMPAL_DestroyProxyWrapper(4711), S_OK);
  bridge.Reset();
}

}  // namespace
}  // namespace zul::testing

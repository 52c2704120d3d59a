#include "bench_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "loader/locator.h"
#include "pal/module.h"
#include "platform/ole.h"

// Counting replaces the C allocator, through which operator new allocates too; a sanitizer owns it
// in its own builds.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define ZUL_BENCH_COUNT_ALLOCATIONS 1
#endif

namespace zul::bench {
namespace {

// Constant-initialised, so reading them inside malloc needs no allocation.
thread_local bool t_counting = false;
thread_local int64_t t_allocations = 0;

BridgeEntries g_bridgeEntries;
BridgeEntries g_nullEntries;
BridgeValue g_nullResult{ZUL_TYP_DOUBLE, 0, {}, {}};

int32_t NullInt(int32_t) {
  return 0;
}

int32_t NullCallMethod(int32_t, const char*, int32_t, BridgeValue**, const uint32_t*, BridgeValue** result) {
  if (result != nullptr) *result = &g_nullResult;
  return 0;
}

BridgeValue* NullGetProperty(int32_t, const char*) {
  return &g_nullResult;
}

void* NullAllocate(int32_t, uint64_t bytes) {
  return std::malloc(bytes == 0 ? 1 : static_cast<std::size_t>(bytes));
}

int32_t NullRelease(int32_t, void* block) {
  std::free(block);
  return 0;
}

}  // namespace

bool BindBridge() {
  ProcessAttach();  // the core is linked statically: no loader attaches it
  if (!EnsureBridgeLoaded(Context().lastError)) {
    std::fprintf(stderr, "cannot bind the bridge %s\n", kBridgeLibraryFile);
    return false;
  }
  HMODULE module = GetModuleHandleA(kBridgeLibraryFile);
  if (module == nullptr || ResolveBridgeEntries(module, g_bridgeEntries) != -1) {
    std::fprintf(stderr, "the bridge's entry points are missing\n");
    return false;
  }
  g_nullEntries = g_bridgeEntries;
  g_nullEntries.BeginTransaction = NullInt;
  g_nullEntries.EndTransaction = NullInt;
  g_nullEntries.CallMethod = NullCallMethod;
  g_nullEntries.GetProperty = NullGetProperty;
  g_nullEntries.AllocateMemory = NullAllocate;
  g_nullEntries.ReleaseMemory = NullRelease;
  return true;
}

const BridgeEntries& BridgeDirect() {
  return g_bridgeEntries;
}

const BridgeEntries& NullEntries() {
  return g_nullEntries;
}

int32_t NewWrapper(const OLECHAR* process) {
  int32_t cookie = 0;
  SAFEARRAYBOUND bounds[2] = {{1, 0}, {1, 0}};
  VARIANT matrix;
  VariantInit(&matrix);
  matrix.vt = VT_ARRAY | VT_R8, matrix.parray = SafeArrayCreate(VT_R8, 2, bounds);
  uint32_t flag = ArgFlag::InOnly;
  const bool made = ZUL_MSCOMPAL_RegisterWrapper(OLESTR("Matrix"), 0, process, &cookie) == S_OK &&
                    ZUL_MSCOMPAL_CreateObject(cookie, 1, &matrix, &flag, 0, 0, 0) == S_OK;
  VariantClear(&matrix);
  if (made) return cookie;
  std::fprintf(stderr, "cannot register a wrapper\n");
  return 0;
}

NullBridgeScope::NullBridgeScope() : saved_(g_bridge.entries) {
  g_bridge.entries = g_nullEntries;
}

NullBridgeScope::~NullBridgeScope() {
  g_bridge.entries = saved_;
}

void StartCountingAllocations() {
  t_allocations = 0;
  t_counting = true;
}

int64_t StopCountingAllocations() {
  t_counting = false;
  return t_allocations;
}

bool CountsAllocations() {
#ifdef ZUL_BENCH_COUNT_ALLOCATIONS
  return true;
#else
  return false;
#endif
}

unsigned char* WarmBuffer(std::size_t bytes, unsigned seed) {
  struct Free {
    void operator()(unsigned char* p) const { std::free(p); }
  };
  static std::vector<std::unique_ptr<unsigned char, Free>> buffers;
  constexpr std::size_t kPage = 4096;
  const std::size_t rounded = (bytes + kPage - 1) / kPage * kPage;
  auto* buffer = static_cast<unsigned char*>(std::aligned_alloc(kPage, rounded == 0 ? kPage : rounded));
  if (buffer == nullptr) std::abort();
  uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < rounded; ++i) {
    state = state * 1664525u + 1013904223u;
    buffer[i] = static_cast<unsigned char>(state >> 24);
  }
  buffers.emplace_back(buffer);
  return buffer;
}

}  // namespace zul::bench

#ifdef ZUL_BENCH_COUNT_ALLOCATIONS
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t bytes) noexcept {
  if (zul::bench::t_counting) ++zul::bench::t_allocations;
  return __libc_malloc(bytes);
}
void* calloc(std::size_t count, std::size_t bytes) noexcept {
  if (zul::bench::t_counting) ++zul::bench::t_allocations;
  return __libc_calloc(count, bytes);
}
void* realloc(void* block, std::size_t bytes) noexcept {
  if (zul::bench::t_counting) ++zul::bench::t_allocations;
  return __libc_realloc(block, bytes);
}
void free(void* block) noexcept {
  __libc_free(block);
}
}
#endif

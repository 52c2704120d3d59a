// Shared by the benchmarks: the library core bound to the reference bridge, wrappers registered through
// the exports, a bridge that does nothing for measuring the library alone, and a count of heap
// allocations.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "loader/binding.h"
#include "zul/pal_mscom.h"

namespace zul::bench {

// Binds the library to the reference bridge next to the program; false, after printing why, when that
// fails.
bool BindBridge();

// The bridge's own entry points, resolved from its module: what a direct call costs.
const BridgeEntries& BridgeDirect();

// The method the calls call: a 1 by 1 Matrix's Total(), which takes no arguments.
inline constexpr const char* kMethodName = "Total";

// A new Matrix wrapper with its object, in process (null: the default one), through the exports; 0 after
// printing why it failed.
int32_t NewWrapper(const OLECHAR* process = nullptr);

// Swaps the bridge for one whose entries return at once (memory from malloc), while it lives.
class NullBridgeScope {
 public:
  NullBridgeScope();
  NullBridgeScope(const NullBridgeScope&) = delete;
  NullBridgeScope& operator=(const NullBridgeScope&) = delete;
  ~NullBridgeScope();

 private:
  BridgeEntries saved_;
};

// The null bridge's entries, for direct calls.
const BridgeEntries& NullEntries();

// Heap allocations (malloc family and operator new) made by this thread while counting is on.
void StartCountingAllocations();
int64_t StopCountingAllocations();
bool CountsAllocations();  // false where the allocator cannot be replaced

// Page-aligned, touched memory of bytes, filled with a pattern; freed at exit.
unsigned char* WarmBuffer(std::size_t bytes, unsigned seed);

}  // namespace zul::bench

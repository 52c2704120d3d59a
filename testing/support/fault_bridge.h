// The one bridge of the unit tests: the reference bridge beside the test program, reached through a thin
// layer over the library's own table of entry points. The layer counts calls, answers for an entry
// instead of the bridge, fails the nth allocation, checks transaction balance and releases, and captures
// the callbacks the library registers.
#pragma once

#include <cstdint>

#include "loader/bridge_entries.h"

namespace zul::testing {

class FaultBridge {
 public:
  // Binds the library to the bridge (once per process), puts the layer in and resets it.
  static FaultBridge& Bound();

  // Clears the counts, the forced answers and the allocation fault; the bridge keeps its state.
  void Reset();

  int64_t Calls(BridgeEntry entry) const;
  // From now on the entry answers result (pointer entries: null) without reaching the bridge, and the
  // next GetLastError on that thread gives code and text (null: no text).
  void Force(BridgeEntry entry, int32_t result, int32_t code = -1, const char* text = nullptr);
  void Unforce(BridgeEntry entry);
  // The nth AllocateMemory from now (1: the next) answers null; 0 turns this off.
  void FailAllocationAt(int64_t nth);

  // Transactions the bridge accepted and that were not ended yet.
  int32_t OpenTransactions() const;
  // ReleaseMemory calls the bridge refused: blocks it never handed out, or under another cookie.
  int64_t BadReleases() const;
  // The bridge's own count of blocks not given back; a negative cookie counts them all.
  int64_t OutstandingBlocks(int32_t cookie = -1) const;

  // The callbacks the library registered, called as the bridge would call them.
  void EmitOutput(int32_t cookie, const char* text) const;
  void EmitNotify(int32_t cookie, const char* first, const char* second) const;

 private:
  FaultBridge() = default;
};

}  // namespace zul::testing

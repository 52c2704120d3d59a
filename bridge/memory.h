// Bridge memory: every block handed out is accounted to a cookie until it comes back.
#ifndef ZUL_BRIDGE_MEMORY_H
#define ZUL_BRIDGE_MEMORY_H

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace zul::bridge {

inline constexpr uint64_t kMaxBlockBytes = uint64_t{1} << 40;

class BlockTable {
 public:
  enum class Release { kDone, kWrongCookie, kUnknown };

  BlockTable() = default;
  BlockTable(const BlockTable&) = delete;
  BlockTable& operator=(const BlockTable&) = delete;
  ~BlockTable();

  // Zero-filled; null when the size is refused or the heap is exhausted. The serial tells a block from
  // a later one at the same address.
  void* Allocate(int32_t cookie, uint64_t bytes, uint64_t* serial = nullptr);
  Release Free(int32_t cookie, const void* block, int32_t* owner = nullptr);
  // Frees the block only if it is still the one handed out under that serial.
  void Reclaim(const void* block, uint64_t serial);
  // A negative cookie counts the blocks of all cookies.
  int64_t Outstanding(int32_t cookie) const;
  void FreeAll();

 private:
  struct Block {
    int32_t cookie;
    uint64_t serial;
  };
  mutable std::mutex mutex_;
  std::unordered_map<const void*, Block> blocks_;
  uint64_t nextSerial_ = 1;
};

}  // namespace zul::bridge

#endif

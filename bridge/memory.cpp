#include "memory.h"

#include <cstdlib>

namespace zul::bridge {

BlockTable::~BlockTable() {
  FreeAll();
}

void* BlockTable::Allocate(int32_t cookie, uint64_t bytes, uint64_t* serial) {
  if (bytes > kMaxBlockBytes) return nullptr;
  // A zero-byte request still gets a block of its own so that it can be given back like any other.
  void* block = std::calloc(1, bytes == 0 ? 1 : static_cast<std::size_t>(bytes));
  if (block == nullptr) return nullptr;
  std::lock_guard lock(mutex_);
  const uint64_t s = nextSerial_++;
  blocks_[block] = Block{cookie, s};
  if (serial != nullptr) *serial = s;
  return block;
}

BlockTable::Release BlockTable::Free(int32_t cookie, const void* block, int32_t* owner) {
  {
    std::lock_guard lock(mutex_);
    const auto it = blocks_.find(block);
    if (it == blocks_.end()) return Release::kUnknown;
    if (it->second.cookie != cookie) {
      if (owner != nullptr) *owner = it->second.cookie;
      return Release::kWrongCookie;
    }
    blocks_.erase(it);
  }
  std::free(const_cast<void*>(block));
  return Release::kDone;
}

void BlockTable::Reclaim(const void* block, uint64_t serial) {
  {
    std::lock_guard lock(mutex_);
    const auto it = blocks_.find(block);
    if (it == blocks_.end() || it->second.serial != serial) return;
    blocks_.erase(it);
  }
  std::free(const_cast<void*>(block));
}

int64_t BlockTable::Outstanding(int32_t cookie) const {
  std::lock_guard lock(mutex_);
  if (cookie < 0) return static_cast<int64_t>(blocks_.size());
  int64_t count = 0;
  for (const auto& [block, info] : blocks_) count += info.cookie == cookie ? 1 : 0;
  return count;
}

void BlockTable::FreeAll() {
  std::unordered_map<const void*, Block> blocks;
  {
    std::lock_guard lock(mutex_);
    blocks.swap(blocks_);
  }
  for (const auto& [block, info] : blocks) std::free(const_cast<void*>(block));
}

}  // namespace zul::bridge

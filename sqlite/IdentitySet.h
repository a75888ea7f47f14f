// Sets of 64-bit identities (hashes of cells and records): a table scan
// remembers one for every live cell, and a node-based set would allocate for
// each of them.

// Insertions and questions in any order: one array with open addressing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvyn::sqlite {

class IdentitySet {
 public:
  void insert(uint64_t identity) {
    if ((size_ + 1) * 2 > slots_.size()) Grow();
    if (Place(slots_, Stored(identity))) ++size_;
  }
  std::size_t count(uint64_t identity) const {
    if (size_ == 0) return 0;
    const uint64_t stored = Stored(identity);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = Spread(stored) & mask;; i = (i + 1) & mask) {
      if (slots_[i] == stored) return 1;
      if (slots_[i] == kEmpty) return 0;
    }
  }
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  void clear() {
    slots_.clear();
    slots_.shrink_to_fit();
    size_ = 0;
  }

 private:
  static constexpr uint64_t kEmpty = 0;
  // 0 marks an empty slot: an identity of 0 is kept as another fixed value
  // (which then stands for both, as any two identities that collide do).
  static uint64_t Stored(uint64_t identity) { return identity == kEmpty ? 0x9e3779b97f4a7c15ull : identity; }
  static std::size_t Spread(uint64_t value) {
    value ^= value >> 31;
    value *= 0xbf58476d1ce4e5b9ull;
    return static_cast<std::size_t>(value ^ (value >> 29));
  }
  // True when the value was not there yet.
  static bool Place(std::vector<uint64_t>& slots, uint64_t stored) {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = Spread(stored) & mask;; i = (i + 1) & mask) {
      if (slots[i] == stored) return false;
      if (slots[i] == kEmpty) {
        slots[i] = stored;
        return true;
      }
    }
  }
  void Grow() {
    std::vector<uint64_t> larger(slots_.empty() ? 1024 : slots_.size() * 2, kEmpty);
    for (const uint64_t stored : slots_) {
      if (stored != kEmpty) Place(larger, stored);
    }
    slots_.swap(larger);
  }

  std::vector<uint64_t> slots_;
  std::size_t size_ = 0;
};

// Identities gathered in bulk and asked about afterwards (the live cells of a
// table's tree, walked before any free space is compared with them): each is
// appended, and the list is sorted once, when it is first asked. Appending
// touches memory in order, where a hash table would miss the cache on every
// insertion.
class IdentityList {
 public:
  void insert(uint64_t identity) {
    identities_.push_back(identity);
    sorted_ = false;
  }
  std::size_t count(uint64_t identity) const {
    if (!sorted_) {
      std::sort(identities_.begin(), identities_.end());
      identities_.erase(std::unique(identities_.begin(), identities_.end()), identities_.end());
      sorted_ = true;
    }
    return std::binary_search(identities_.begin(), identities_.end(), identity) ? 1 : 0;
  }
  bool empty() const { return identities_.empty(); }
  void clear() {
    identities_.clear();
    identities_.shrink_to_fit();
    sorted_ = true;
  }

 private:
  mutable std::vector<uint64_t> identities_;
  mutable bool sorted_ = true;
};

}  // namespace corvyn::sqlite

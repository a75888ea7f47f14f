// Sets of 64-bit identities (hashes of cells and records): a table scan
// remembers one for every live cell, and a node-based set would allocate for
// each of them.

// Insertions and questions in any order: one array with open addressing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace corvyn::sqlite {

// A 64-bit hash of a run of bytes (a cell's payload, a record's serial
// types or values) for the identities below. Four independent lanes take
// 32 bytes a step, so that a table's every live cell is hashed at the speed
// memory delivers it. Identities live only during one scan: the function may
// change between versions.
inline uint64_t BytesIdentity(const uint8_t* data, std::size_t size) {
  constexpr uint64_t kMultiplier = 0x9e3779b97f4a7c15ull;
  const auto load = [](const uint8_t* at) {
    uint64_t word = 0;
    std::memcpy(&word, at, 8);
    return word;
  };
  const auto step = [](uint64_t lane, uint64_t word) {
    lane = (lane ^ word) * kMultiplier;
    return lane ^ (lane >> 29);
  };
  uint64_t a = 0x243f6a8885a308d3ull ^ size, b = 0x13198a2e03707344ull, c = 0xa4093822299f31d0ull,
           d = 0x082efa98ec4e6c89ull;
  std::size_t left = size;
  for (; left >= 32; left -= 32, data += 32) {
    a = step(a, load(data));
    b = step(b, load(data + 8));
    c = step(c, load(data + 16));
    d = step(d, load(data + 24));
  }
  for (; left >= 8; left -= 8, data += 8) a = step(a, load(data));
  if (left != 0) {
    uint64_t word = 0;
    std::memcpy(&word, data, left);
    b = step(b, word);
  }
  uint64_t hash = step(step(step(a, b), c), d);
  hash ^= hash >> 32;
  hash *= 0xd6e8feb86659fd93ull;
  return hash ^ (hash >> 32);
}

inline uint64_t BytesIdentity(std::span<const uint8_t> bytes) {
  return BytesIdentity(bytes.data(), bytes.size());
}

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

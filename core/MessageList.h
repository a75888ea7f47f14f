#pragma once

#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <vector>

#include "core/Records.h"

namespace corvyn {

// The messages of one database as a scan collects them, in blocks of a fixed
// number of records: growing never moves what it holds (a heavy user's
// messages would otherwise lie in memory up to twice while a flat list
// doubles), and a block is given back as soon as the records in it have
// moved on to their conversations (ReleaseBefore).
class MessageList {
 public:
  static constexpr std::size_t kBlockRecords = 4096;

  MessageList() = default;
  MessageList(std::initializer_list<MessageRecord> messages) {
    for (const MessageRecord& message : messages) push_back(MessageRecord(message));
  }
  MessageList(MessageList&&) noexcept = default;
  MessageList& operator=(MessageList&&) noexcept = default;
  MessageList& operator=(std::initializer_list<MessageRecord> messages) {
    clear();
    for (const MessageRecord& message : messages) push_back(MessageRecord(message));
    return *this;
  }

  void push_back(MessageRecord&& message) {
    if (size_ == blocks_.size() * kBlockRecords) {
      blocks_.push_back(std::make_unique<Block>());
      blocks_.back()->reserve(kBlockRecords);
    }
    blocks_[size_ / kBlockRecords]->push_back(std::move(message));
    ++size_;
  }

  // A new empty record at the end, filled in place.
  MessageRecord& emplace_back() {
    if (size_ == blocks_.size() * kBlockRecords) {
      blocks_.push_back(std::make_unique<Block>());
      blocks_.back()->reserve(kBlockRecords);
    }
    MessageRecord& added = blocks_[size_ / kBlockRecords]->emplace_back();
    ++size_;
    return added;
  }
  void pop_back() {
    --size_;
    blocks_[size_ / kBlockRecords]->pop_back();
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  MessageRecord& operator[](std::size_t i) { return (*blocks_[i / kBlockRecords])[i % kBlockRecords]; }
  const MessageRecord& operator[](std::size_t i) const {
    return (*blocks_[i / kBlockRecords])[i % kBlockRecords];
  }

  void clear() {
    blocks_.clear();
    size_ = 0;
  }

  // Frees every block all of whose records lie before `index`; those
  // records must not be touched again.
  void ReleaseBefore(std::size_t index) {
    for (std::size_t block = 0; block < blocks_.size() && (block + 1) * kBlockRecords <= index; ++block)
      blocks_[block].reset();
  }

  template <class List, class Record>
  class Iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = MessageRecord;
    using difference_type = std::ptrdiff_t;
    using pointer = Record*;
    using reference = Record&;

    Iterator() = default;
    Iterator(List* list, std::size_t index) : list_(list), index_(index) {}
    reference operator*() const { return (*list_)[index_]; }
    pointer operator->() const { return &(*list_)[index_]; }
    reference operator[](difference_type n) const { return (*list_)[index_ + n]; }
    Iterator& operator++() {
      ++index_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator old = *this;
      ++index_;
      return old;
    }
    Iterator& operator--() {
      --index_;
      return *this;
    }
    Iterator operator--(int) {
      Iterator old = *this;
      --index_;
      return old;
    }
    Iterator& operator+=(difference_type n) {
      index_ += n;
      return *this;
    }
    Iterator& operator-=(difference_type n) {
      index_ -= n;
      return *this;
    }
    friend Iterator operator+(Iterator it, difference_type n) { return it += n; }
    friend Iterator operator+(difference_type n, Iterator it) { return it += n; }
    friend Iterator operator-(Iterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const Iterator& a, const Iterator& b) {
      return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
    }
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.index_ == b.index_; }
    friend auto operator<=>(const Iterator& a, const Iterator& b) { return a.index_ <=> b.index_; }

   private:
    List* list_ = nullptr;
    std::size_t index_ = 0;
  };
  using iterator = Iterator<MessageList, MessageRecord>;
  using const_iterator = Iterator<const MessageList, const MessageRecord>;

  iterator begin() { return {this, 0}; }
  iterator end() { return {this, size_}; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size_}; }

 private:
  using Block = std::vector<MessageRecord>;
  std::vector<std::unique_ptr<Block>> blocks_;
  std::size_t size_ = 0;
};

}  // namespace corvyn

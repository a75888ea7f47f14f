// Selection state and totals of everything a scan found.
//
// CStatisticsObj keeps one SelectionEntry per selectable item, keyed by the
// item's address (a record, a category container, or an application folder's
// file list), and one StatisticNode per category under a root node that
// stands for the whole scan.
//
// Invariants the operations keep (every operation is idempotent, so counts
// can never run below 0 or above a node's item count):
//   node.selectedCount       = checked records under the node
//   node.hiddenCount         = records under the node hidden by the filter
//   node.hiddenSelectedCount = records that are both checked and hidden
//   selectedSize             = sum of the weights of checked, visible records
//
// Not thread-safe: the scan driver guards it with its results lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Records.h"
#include "core/ScanResults.h"

namespace corvyn {

// Records weighing less than this count this much in the totals.
inline constexpr uint64_t kMinimumRecordWeight = 1024;

struct StatisticNode {
  uint64_t itemCount = 0;
  uint64_t selectedCount = 0;
  uint64_t hiddenCount = 0;
  uint64_t hiddenSelectedCount = 0;
  StatisticNode* parent = nullptr;
  std::vector<StatisticNode*> children;
};

struct SelectionEntry {
  int32_t isGroup = 0;                              // 1 for a category or application folder entry
  int32_t checked = 0;                              // selected for export
  int32_t deleted = 0;                              // the record's deleted flag (database categories only)
  int32_t hidden = 0;                               // hidden by the only-deleted filter
  RecordCategory category = RecordCategory::kNone;  // kNone for category entries
  uint64_t size = 0;                  // weight in bytes, at least 1024 for a record, 0 for a group
  std::vector<const void*> children;  // keys of the entries below a group
  StatisticNode* node = nullptr;      // the node that counts this entry
};

// Weights of records: files weigh their size; database records the length in
// UTF-16 units of their main text(s). Never below kMinimumRecordWeight.
uint64_t RecordWeight(uint64_t bytes);
uint64_t RecordWeight(const MessageRecord& conversationRow);  // text
uint64_t RecordWeight(const ContactRecord& contact);          // name + phones
uint64_t RecordWeight(const CallRecord& call);                // name + number
uint64_t RecordWeight(const NoteRecord& note);                // content
uint64_t RecordWeight(const WhatsAppRecord& chatRow);         // text

class CStatisticsObj {
 public:
  CStatisticsObj();
  CStatisticsObj(const CStatisticsObj&) = delete;
  CStatisticsObj& operator=(const CStatisticsObj&) = delete;

  // Forgets every node and entry; totals become 0.
  void Clear();

  // Registers one category: a node under the root, a checked category entry
  // keyed by `container` and a checked record entry per item. Returns the
  // category node. Records whose key is already registered are ignored.
  struct Item {
    const void* key = nullptr;
    uint64_t weight = 0;  // already at least kMinimumRecordWeight
    int32_t deleted = 0;
  };
  struct Folder {
    const void* key = nullptr;  // address of the folder's file list
    std::vector<Item> files;
  };
  StatisticNode* RegisterCategory(RecordCategory category, const void* container,
                                  const std::vector<Item>& items);
  // App Photos / App Videos: each application folder is a group entry below
  // the category entry; the files are the items.
  StatisticNode* RegisterFolders(RecordCategory category, const void* container,
                                 const std::vector<Folder>& folders);

  // Checks or unchecks a record, or every record below a group. Returns false
  // when the key is unknown.
  bool SetChecked(const void* key, bool checked);
  // Hides or shows a record, or every record below a group.
  bool SetHidden(const void* key, bool hidden);
  // The only-deleted filter of one category entry: hides (on) or shows again
  // (off) every record below it whose deleted flag is 0. Returns how many
  // records below the entry are hidden afterwards.
  uint64_t ApplyDeletedOnlyFilter(const void* categoryKey, bool on);

  const SelectionEntry* Find(const void* key) const;
  bool IsChecked(const void* key) const;

  // Item count registered for a container (0 when unknown): the tree count of
  // Camera Roll, Photo Stream, App Photos and App Videos.
  uint64_t CountOf(const void* container) const;

  // Records (not groups) that are checked and not hidden, in key order: what
  // export takes.
  std::vector<std::pair<const void*, const SelectionEntry*>> ExportEntries() const;

  const StatisticNode& Root() const { return *root_; }
  uint64_t TotalSize() const { return totalSize_; }
  uint64_t SelectedSize() const { return selectedSize_; }
  uint64_t TotalItems() const { return root_->itemCount; }
  // Checked records that are not hidden.
  uint64_t SelectedItems() const { return root_->selectedCount - root_->hiddenSelectedCount; }

 private:
  StatisticNode* NewCategoryNode(uint64_t itemCount);
  void AddRecord(const void* key, const Item& item, RecordCategory category, StatisticNode* node,
                 SelectionEntry& group);
  void CheckRecord(SelectionEntry& entry, bool checked);
  void HideRecord(SelectionEntry& entry, bool hidden);
  template <class Fn>
  void ForEachRecord(SelectionEntry& entry, Fn&& fn, int depth = 0);

  std::vector<std::unique_ptr<StatisticNode>> nodes_;
  StatisticNode* root_ = nullptr;
  std::map<const void*, uint64_t> countMap_;
  std::map<const void*, SelectionEntry> selectionMap_;
  uint64_t totalSize_ = 0;
  uint64_t selectedSize_ = 0;
};

// The statistics label: `format` (the language text "MSG0514", e.g.
// kStatisticsLabelFormat) filled in order with the selected size text, the
// number of selected items, the total size text and the number of items. Each
// printf-style conversion takes the next value ("%%" is a percent sign); the
// format is never handed to printf. A size of 0 reads "0 MB".
inline constexpr std::string_view kStatisticsLabelFormat = "You select %s in %d item(s) of %s in %d item(s)";
std::string StatisticsLabelText(std::string_view format, const CStatisticsObj& statistics);

}  // namespace corvyn

#include "core/Statistics.h"

#include <algorithm>
#include <cctype>

#include "core/TextFormat.h"
#include "core/Utf8.h"

namespace corvyn {
namespace {

// Groups nest at most category -> application folder -> record; the bound only
// guards against a cycle made through repeated registration.
constexpr int kMaxGroupDepth = 4;

void Raise(uint64_t& count, uint64_t limit) {
  if (count < limit) ++count;
}

void Lower(uint64_t& count) {
  if (count > 0) --count;
}

// Applies `change` to the node and every ancestor.
template <class Change>
void ForNodeAndAncestors(StatisticNode* node, Change&& change) {
  for (; node != nullptr; node = node->parent) change(*node);
}

}  // namespace

uint64_t RecordWeight(uint64_t bytes) {
  return std::max(bytes, kMinimumRecordWeight);
}
uint64_t RecordWeight(const MessageRecord& row) {
  return RecordWeight(Utf16Length(row.text));
}
uint64_t RecordWeight(const ContactRecord& contact) {
  return RecordWeight(Utf16Length(contact.name) + Utf16Length(contact.phones));
}
uint64_t RecordWeight(const CallRecord& call) {
  return RecordWeight(Utf16Length(call.name) + Utf16Length(call.number));
}
uint64_t RecordWeight(const NoteRecord& note) {
  return RecordWeight(Utf16Length(note.content));
}
uint64_t RecordWeight(const WhatsAppRecord& row) {
  return RecordWeight(Utf16Length(row.text));
}

CStatisticsObj::CStatisticsObj() {
  Clear();
}

void CStatisticsObj::Clear() {
  nodes_.clear();
  nodes_.push_back(std::make_unique<StatisticNode>());
  root_ = nodes_.back().get();
  countMap_.clear();
  selectionMap_.clear();
  totalSize_ = 0;
  selectedSize_ = 0;
}

StatisticNode* CStatisticsObj::NewCategoryNode(uint64_t itemCount) {
  nodes_.push_back(std::make_unique<StatisticNode>());
  StatisticNode* node = nodes_.back().get();
  node->parent = root_;
  node->itemCount = itemCount;
  node->selectedCount = itemCount;
  root_->children.push_back(node);
  root_->itemCount += itemCount;
  root_->selectedCount += itemCount;
  return node;
}

void CStatisticsObj::AddRecord(const void* key, const Item& item, RecordCategory category,
                               StatisticNode* node, SelectionEntry& group) {
  SelectionEntry entry;
  entry.checked = 1;
  entry.deleted = item.deleted;
  entry.category = category;
  entry.size = RecordWeight(item.weight);
  entry.node = node;
  // A fresh entry is checked, so its weight counts in both totals.
  totalSize_ += entry.size;
  selectedSize_ += entry.size;
  selectionMap_.emplace(key, std::move(entry));
  group.children.push_back(key);
}

StatisticNode* CStatisticsObj::RegisterCategory(RecordCategory category, const void* container,
                                                const std::vector<Item>& items) {
  std::vector<const Item*> fresh;
  for (const Item& item : items) {
    if (item.key != nullptr && item.key != container && !selectionMap_.contains(item.key))
      fresh.push_back(&item);
  }
  StatisticNode* node = NewCategoryNode(fresh.size());
  countMap_[container] = fresh.size();
  SelectionEntry group;
  group.isGroup = 1;
  group.checked = 1;
  group.node = node;
  auto [it, inserted] = selectionMap_.insert_or_assign(container, std::move(group));
  for (const Item* item : fresh) AddRecord(item->key, *item, category, node, it->second);
  (void)inserted;
  return node;
}

StatisticNode* CStatisticsObj::RegisterFolders(RecordCategory category, const void* container,
                                               const std::vector<Folder>& folders) {
  std::vector<std::pair<const Folder*, std::vector<const Item*>>> fresh;
  uint64_t fileCount = 0;
  for (const Folder& folder : folders) {
    if (folder.key == nullptr || folder.key == container || selectionMap_.contains(folder.key)) continue;
    std::vector<const Item*> files;
    for (const Item& item : folder.files) {
      if (item.key != nullptr && item.key != folder.key && item.key != container &&
          !selectionMap_.contains(item.key)) {
        files.push_back(&item);
      }
    }
    fileCount += files.size();
    fresh.emplace_back(&folder, std::move(files));
  }
  StatisticNode* node = NewCategoryNode(fileCount);
  countMap_[container] = fileCount;
  SelectionEntry categoryEntry;
  categoryEntry.isGroup = 1;
  categoryEntry.checked = 1;
  categoryEntry.node = node;
  SelectionEntry& categoryGroup =
      selectionMap_.insert_or_assign(container, std::move(categoryEntry)).first->second;
  for (const auto& [folder, files] : fresh) {
    SelectionEntry folderEntry;
    folderEntry.isGroup = 1;
    folderEntry.checked = 1;
    folderEntry.category = category;
    folderEntry.node = node;
    SelectionEntry& folderGroup = selectionMap_.emplace(folder->key, std::move(folderEntry)).first->second;
    categoryGroup.children.push_back(folder->key);
    for (const Item* item : files) AddRecord(item->key, *item, category, node, folderGroup);
  }
  return node;
}

template <class Fn>
void CStatisticsObj::ForEachRecord(SelectionEntry& entry, Fn&& fn, int depth) {
  if (!entry.isGroup) {
    fn(entry);
    return;
  }
  if (depth >= kMaxGroupDepth) return;
  for (const void* childKey : entry.children) {
    auto child = selectionMap_.find(childKey);
    if (child != selectionMap_.end() && &child->second != &entry) ForEachRecord(child->second, fn, depth + 1);
  }
}

void CStatisticsObj::CheckRecord(SelectionEntry& entry, bool checked) {
  if ((entry.checked != 0) == checked) return;
  entry.checked = checked ? 1 : 0;
  const bool hidden = entry.hidden != 0;
  ForNodeAndAncestors(entry.node, [&](StatisticNode& node) {
    if (checked) {
      Raise(node.selectedCount, node.itemCount);
      if (hidden) Raise(node.hiddenSelectedCount, node.itemCount);
    } else {
      Lower(node.selectedCount);
      if (hidden) Lower(node.hiddenSelectedCount);
    }
  });
  if (hidden) return;  // a hidden record's weight is already outside the selected size
  if (checked) {
    selectedSize_ += entry.size;
  } else {
    selectedSize_ -= std::min(selectedSize_, entry.size);
  }
}

void CStatisticsObj::HideRecord(SelectionEntry& entry, bool hidden) {
  if ((entry.hidden != 0) == hidden) return;
  entry.hidden = hidden ? 1 : 0;
  const bool checked = entry.checked != 0;
  ForNodeAndAncestors(entry.node, [&](StatisticNode& node) {
    if (hidden) {
      Raise(node.hiddenCount, node.itemCount);
      if (checked) Raise(node.hiddenSelectedCount, node.itemCount);
    } else {
      Lower(node.hiddenCount);
      if (checked) Lower(node.hiddenSelectedCount);
    }
  });
  if (!checked) return;
  if (hidden) {
    selectedSize_ -= std::min(selectedSize_, entry.size);
  } else {
    selectedSize_ += entry.size;
  }
}

bool CStatisticsObj::SetChecked(const void* key, bool checked) {
  auto it = selectionMap_.find(key);
  if (it == selectionMap_.end()) return false;
  ForEachRecord(it->second, [&](SelectionEntry& record) { CheckRecord(record, checked); });
  if (it->second.isGroup) {
    // The group's own flag and those of the groups below it follow.
    it->second.checked = checked ? 1 : 0;
    for (const void* childKey : it->second.children) {
      auto child = selectionMap_.find(childKey);
      if (child != selectionMap_.end() && child->second.isGroup) child->second.checked = checked ? 1 : 0;
    }
  }
  return true;
}

bool CStatisticsObj::SetHidden(const void* key, bool hidden) {
  auto it = selectionMap_.find(key);
  if (it == selectionMap_.end()) return false;
  ForEachRecord(it->second, [&](SelectionEntry& record) { HideRecord(record, hidden); });
  return true;
}

uint64_t CStatisticsObj::ApplyDeletedOnlyFilter(const void* categoryKey, bool on) {
  auto it = selectionMap_.find(categoryKey);
  if (it == selectionMap_.end()) return 0;
  uint64_t hiddenCount = 0;
  ForEachRecord(it->second, [&](SelectionEntry& record) {
    if (record.deleted == 0) HideRecord(record, on);
    if (record.hidden != 0) ++hiddenCount;
  });
  return hiddenCount;
}

const SelectionEntry* CStatisticsObj::Find(const void* key) const {
  auto it = selectionMap_.find(key);
  return it == selectionMap_.end() ? nullptr : &it->second;
}

bool CStatisticsObj::IsChecked(const void* key) const {
  const SelectionEntry* entry = Find(key);
  return entry != nullptr && entry->checked != 0;
}

uint64_t CStatisticsObj::CountOf(const void* container) const {
  auto it = countMap_.find(container);
  return it == countMap_.end() ? 0 : it->second;
}

std::vector<std::pair<const void*, const SelectionEntry*>> CStatisticsObj::ExportEntries() const {
  std::vector<std::pair<const void*, const SelectionEntry*>> entries;
  for (const auto& [key, entry] : selectionMap_) {
    if (!entry.isGroup && entry.checked && !entry.hidden) entries.emplace_back(key, &entry);
  }
  return entries;
}

std::string StatisticsLabelText(std::string_view format, const CStatisticsObj& statistics) {
  const auto sizeText = [](uint64_t bytes) {
    if (bytes == 0) return std::string("0 MB");
    return SizeText(static_cast<int64_t>(std::min<uint64_t>(bytes, INT64_MAX)));
  };
  const std::string values[] = {sizeText(statistics.SelectedSize()),
                                std::to_string(statistics.SelectedItems()), sizeText(statistics.TotalSize()),
                                std::to_string(statistics.TotalItems())};
  std::string text;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      text += format[i];
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      text += '%';
      ++i;
      continue;
    }
    // Skip flags, width, precision and length up to the conversion letter.
    std::size_t end = i + 1;
    while (end < format.size() && !std::isalpha(static_cast<unsigned char>(format[end]))) ++end;
    if (format.substr(end, 3) == "I64" || format.substr(end, 3) == "I32") end += 3;  // "%I64d"
    while (end < format.size() && std::string_view("hlLqjzt").find(format[end]) != std::string_view::npos)
      ++end;
    if (end >= format.size()) {
      text.append(format.substr(i));
      break;
    }
    if (next < std::size(values)) text += values[next++];
    i = end;
  }
  return text;
}

}  // namespace corvyn

// The rows of the scan page's data list: one category's container (or one
// application folder's files), a check column and the six text columns of
// the category's list layout.
//
// No text is stored: a row is the address of its record (or of the folder's
// file list) plus its deleted flag, and the cell texts come from the
// catalogue's RowTexts when a cell is drawn. Sorting and the only-deleted
// filter rearrange a vector of row numbers, so a list of a few hundred
// thousand rows re-orders and filters without copying a record.
//
// The records are borrowed from ScanResults: the caller shows only published
// categories and calls Clear before the results are cleared. The check marks
// are read and written through `isChecked` and `onCheck`, whose owner guards
// the statistics.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "core/CategoryCatalog.h"
#include "core/ScanResults.h"

namespace corvyn::app {

class DataListModel final : public QAbstractTableModel {
 public:
  static constexpr int kCheckColumn = 0;  // then Col1..Col6 in columns 1..6
  static constexpr int kColumnCount = 1 + kListColumnCount;

  explicit DataListModel(QObject* parent = nullptr);

  void Clear();
  // The category's list at its starting layout (folder level for App Photos
  // and App Videos), in container order.
  void ShowCategory(RecordCategory category, const ScanResults& results, bool onlyDeleted);
  // The files of one application folder of App Photos or App Videos.
  void ShowFolder(RecordCategory category, const std::vector<AppFileRecord>& files);

  // Hides (on) or shows again (off) the rows whose record is not deleted.
  void SetOnlyDeleted(bool on);
  bool OnlyDeleted() const { return onlyDeleted_; }
  // Rows hidden by the filter.
  int HiddenCount() const { return static_cast<int>(order_.size() - visible_.size()); }
  int TotalCount() const { return static_cast<int>(order_.size()); }

  RecordCategory Category() const { return category_; }
  ListLayout Layout() const { return layout_; }
  bool HasRows() const { return category_ != RecordCategory::kNone; }
  // Address of the row's record (or folder file list), nullptr when out of range.
  const void* KeyAt(int row) const;
  // Row of a record's address among the shown rows, or -1.
  int RowOf(const void* key) const;
  // At the folder level: the folder's file list; nullptr otherwise.
  const std::vector<AppFileRecord>* FolderAt(int row) const;
  // The check marks changed outside the list (a category box, CheckAll).
  void RefreshChecks();

  std::function<bool(const void* key)> isChecked;
  std::function<void(const void* key, bool checked)> onCheck;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  void sort(int column, Qt::SortOrder order) override;

 private:
  struct Row {
    const void* key = nullptr;
    const std::string* folderName = nullptr;  // folder level only
    bool deleted = false;
  };
  void Fill(RecordCategory category, ListLayout layout, std::vector<Row> rows, bool onlyDeleted);
  void RebuildVisible();
  const ListRowTexts& TextsOf(int sourceRow) const;
  ListRowTexts ComputeTexts(const Row& row) const;
  QIcon IconOf(const Row& row) const;
  // Orders by a number instead of the text (sizes, durations); false when
  // the column is ordered by its text.
  bool NumericKey(int column, const Row& row, int64_t& key) const;

  RecordCategory category_ = RecordCategory::kNone;
  ListLayout layout_ = ListLayout::kMediaFiles;
  std::vector<Row> rows_;     // container order
  std::vector<int> order_;    // rows_ indexes in display order (sorted)
  std::vector<int> visible_;  // order_ without the rows the filter hides
  bool onlyDeleted_ = false;
  // The texts of the row drawn last: a row's cells are drawn one after another.
  mutable int cachedRow_ = -1;
  mutable ListRowTexts cachedTexts_;
  QIcon fileIcon_, videoIcon_, folderIcon_, deletedIcon_;
};

}  // namespace corvyn::app

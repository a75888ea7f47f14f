// The category tree of the scan page: the shown groups and category nodes of
// the catalogue (hidden ones are left out), each category labelled with its
// count ("Camera Roll (12)") and its icon from the skin's sprite sheet.
//
// A category that has not been published yet ignores the mouse and shows a
// disabled, unchecked box. A published category's box is checked, unchecked
// or partly checked after its statistic node; a group's box sums up its
// published categories. Ticking a box does not change anything here: the
// model hands the wish to `onCheck`, whose owner changes the statistics and
// calls Refresh.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <array>
#include <functional>
#include <vector>

#include "core/ScanResults.h"
#include "core/Statistics.h"

namespace corvyn::app {

class CategoryTreeModel final : public QAbstractItemModel {
 public:
  explicit CategoryTreeModel(QObject* parent = nullptr);

  // Every category back to "Label (0)", unpublished and unchecked.
  void Reset();
  // Labels, published flags and check states from a scan's results; the
  // caller holds the results lock. `published` is indexed by CategoryIndex.
  void Refresh(const ScanResults& results, const CStatisticsObj& statistics,
               const std::array<bool, kCategoryCount>& published);

  QModelIndex IndexOf(RecordCategory category) const;
  // kNone for a group or an invalid index.
  RecordCategory CategoryAt(const QModelIndex& index) const;
  bool IsPublished(RecordCategory category) const;
  QString LabelOf(RecordCategory category) const;

  // The user ticked or cleared the box of these categories (one, or the
  // published categories of a group).
  std::function<void(const std::vector<RecordCategory>& categories, bool checked)> onCheck;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  struct Node {
    QString label;
    RecordCategory category = RecordCategory::kNone;  // kNone for a group
    int parent = -1;                                  // index in nodes_; -1 for a group
    int row = 0;                                      // row within its parent
    std::vector<int> children;                        // indexes in nodes_
    QIcon icon;
    bool published = false;
    Qt::CheckState check = Qt::Unchecked;
  };
  const Node* NodeAt(const QModelIndex& index) const;
  Qt::CheckState GroupCheck(const Node& group) const;
  bool GroupHasPublished(const Node& group) const;

  std::vector<Node> nodes_;
  std::vector<int> groups_;  // indexes in nodes_, in row order
};

}  // namespace corvyn::app

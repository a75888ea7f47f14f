#include "app/CategoryTreeModel.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include "core/CategoryCatalog.h"
#include "ui/SkinImage.h"

namespace corvyn::app {
namespace {

QIcon SheetIcon(const IconRect& rect) {
  const QPixmap pixmap = ui::LoadSkinImage(QStringLiteral("file='Controls.png' source='%1,%2,%3,%4'")
                                               .arg(rect.left)
                                               .arg(rect.top)
                                               .arg(rect.right)
                                               .arg(rect.bottom));
  QIcon icon;
  if (pixmap.isNull()) return icon;
  // The same picture for every state: a disabled node keeps its colours.
  for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Active, QIcon::Selected}) {
    icon.addPixmap(pixmap, mode);
  }
  return icon;
}

Qt::CheckState NodeCheck(const CStatisticsObj& statistics, const void* container) {
  const SelectionEntry* entry = statistics.Find(container);
  if (entry == nullptr || entry->node == nullptr || entry->node->itemCount == 0) return Qt::Unchecked;
  const uint64_t selected = entry->node->selectedCount;
  if (selected == 0) return Qt::Unchecked;
  return selected >= entry->node->itemCount ? Qt::Checked : Qt::PartiallyChecked;
}

}  // namespace

CategoryTreeModel::CategoryTreeModel(QObject* parent) : QAbstractItemModel(parent) {
  const auto catalogue = TreeNodes();
  std::vector<int> nodeOfCatalogue(catalogue.size(), -1);
  for (std::size_t i = 0; i < catalogue.size(); ++i) {
    const TreeNodeInfo& info = catalogue[i];
    if (!info.shown) continue;
    if (!info.isGroup && (info.parent < 0 || nodeOfCatalogue[info.parent] < 0)) continue;
    Node node;
    node.label = QString::fromStdString(InitialTreeLabel(info));
    node.category = info.isGroup ? RecordCategory::kNone : info.category;
    if (info.icon) node.icon = SheetIcon(*info.icon);
    const int index = static_cast<int>(nodes_.size());
    nodeOfCatalogue[i] = index;
    if (info.isGroup) {
      node.row = static_cast<int>(groups_.size());
      groups_.push_back(index);
    } else {
      Node& group = nodes_[nodeOfCatalogue[info.parent]];
      node.parent = nodeOfCatalogue[info.parent];
      node.row = static_cast<int>(group.children.size());
      group.children.push_back(index);
    }
    nodes_.push_back(std::move(node));
  }
}

void CategoryTreeModel::Reset() {
  for (Node& node : nodes_) {
    if (node.category == RecordCategory::kNone) continue;
    node.label = QString::fromStdString(UpdatedTreeLabel(node.label.toStdString(), 0));
    node.published = false;
    node.check = Qt::Unchecked;
  }
  if (!nodes_.empty()) emit dataChanged(index(0, 0), index(static_cast<int>(groups_.size()) - 1, 0));
  for (const int group : groups_) {
    const Node& node = nodes_[group];
    if (node.children.empty()) continue;
    const QModelIndex parentIndex = createIndex(node.row, 0, quintptr(group));
    emit dataChanged(index(0, 0, parentIndex),
                     index(static_cast<int>(node.children.size()) - 1, 0, parentIndex));
  }
}

void CategoryTreeModel::Refresh(const ScanResults& results, const CStatisticsObj& statistics,
                                const std::array<bool, kCategoryCount>& published) {
  for (Node& node : nodes_) {
    if (node.category == RecordCategory::kNone) continue;
    node.label = QString::fromStdString(
        UpdatedTreeLabel(node.label.toStdString(), TreeCount(node.category, results, statistics)));
    node.published = published[CategoryIndex(node.category)];
    node.check = node.published ? NodeCheck(statistics, results.ContainerOf(node.category)) : Qt::Unchecked;
  }
  for (const int group : groups_) {
    const Node& node = nodes_[group];
    const QModelIndex parentIndex = createIndex(node.row, 0, quintptr(group));
    emit dataChanged(parentIndex, parentIndex);
    if (!node.children.empty()) {
      emit dataChanged(index(0, 0, parentIndex),
                       index(static_cast<int>(node.children.size()) - 1, 0, parentIndex));
    }
  }
}

QModelIndex CategoryTreeModel::IndexOf(RecordCategory category) const {
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    if (nodes_[i].category == category && category != RecordCategory::kNone) {
      return createIndex(nodes_[i].row, 0, quintptr(i));
    }
  }
  return {};
}

RecordCategory CategoryTreeModel::CategoryAt(const QModelIndex& index) const {
  const Node* node = NodeAt(index);
  return node != nullptr ? node->category : RecordCategory::kNone;
}

bool CategoryTreeModel::IsPublished(RecordCategory category) const {
  const Node* node = NodeAt(IndexOf(category));
  return node != nullptr && node->published;
}

QString CategoryTreeModel::LabelOf(RecordCategory category) const {
  const Node* node = NodeAt(IndexOf(category));
  return node != nullptr ? node->label : QString();
}

const CategoryTreeModel::Node* CategoryTreeModel::NodeAt(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this || index.internalId() >= nodes_.size()) return nullptr;
  return &nodes_[index.internalId()];
}

bool CategoryTreeModel::GroupHasPublished(const Node& group) const {
  for (const int child : group.children) {
    if (nodes_[child].published) return true;
  }
  return false;
}

Qt::CheckState CategoryTreeModel::GroupCheck(const Node& group) const {
  bool any = false, all = true;
  for (const int child : group.children) {
    const Node& node = nodes_[child];
    if (!node.published) continue;
    any = any || node.check != Qt::Unchecked;
    all = all && node.check == Qt::Checked;
  }
  if (!any) return Qt::Unchecked;
  return all ? Qt::Checked : Qt::PartiallyChecked;
}

QModelIndex CategoryTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  if (!parent.isValid()) {
    if (row >= static_cast<int>(groups_.size())) return {};
    return createIndex(row, 0, quintptr(groups_[row]));
  }
  const Node* group = NodeAt(parent);
  if (group == nullptr || group->category != RecordCategory::kNone ||
      row >= static_cast<int>(group->children.size())) {
    return {};
  }
  return createIndex(row, 0, quintptr(group->children[row]));
}

QModelIndex CategoryTreeModel::parent(const QModelIndex& child) const {
  const Node* node = NodeAt(child);
  if (node == nullptr || node->parent < 0) return {};
  return createIndex(nodes_[node->parent].row, 0, quintptr(node->parent));
}

int CategoryTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return static_cast<int>(groups_.size());
  const Node* node = NodeAt(parent);
  return node != nullptr && node->category == RecordCategory::kNone ? static_cast<int>(node->children.size())
                                                                    : 0;
}

int CategoryTreeModel::columnCount(const QModelIndex&) const {
  return 1;
}

QVariant CategoryTreeModel::data(const QModelIndex& index, int role) const {
  const Node* node = NodeAt(index);
  if (node == nullptr) return {};
  const bool group = node->category == RecordCategory::kNone;
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return node->label;
    case Qt::DecorationRole:
      return group ? QVariant() : QVariant(node->icon);
    case Qt::CheckStateRole:
      return group ? GroupCheck(*node) : node->check;
    case Qt::FontRole:
      if (group) {
        QFont font;
        font.setBold(true);
        return font;
      }
      return {};
    default:
      return {};
  }
}

bool CategoryTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  const Node* node = NodeAt(index);
  if (node == nullptr || role != Qt::CheckStateRole || !onCheck) return false;
  // A partly checked box becomes checked on a click.
  const bool checked = value.toInt() != Qt::Unchecked;
  std::vector<RecordCategory> categories;
  if (node->category != RecordCategory::kNone) {
    if (!node->published) return false;
    categories.push_back(node->category);
  } else {
    for (const int child : node->children) {
      if (nodes_[child].published) categories.push_back(nodes_[child].category);
    }
  }
  if (categories.empty()) return false;
  onCheck(categories, checked);
  return true;
}

Qt::ItemFlags CategoryTreeModel::flags(const QModelIndex& index) const {
  const Node* node = NodeAt(index);
  if (node == nullptr) return Qt::NoItemFlags;
  if (node->category == RecordCategory::kNone) {
    return GroupHasPublished(*node) ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable : Qt::ItemIsEnabled;
  }
  if (!node->published) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

}  // namespace corvyn::app

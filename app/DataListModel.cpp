#include "app/DataListModel.h"

#include <QBrush>
#include <QColor>
#include <algorithm>
#include <cctype>

#include "ui/SkinImage.h"

namespace corvyn::app {
namespace {

// Centred columns are drawn centred; all other cells left-aligned.
int AlignmentOf(const ListColumn& column) {
  return column.centred ? int(Qt::AlignCenter) : int(Qt::AlignLeft | Qt::AlignVCenter);
}

constexpr QRgb kLiveRecordColour = 0xFF404040;

QIcon SheetIcon(const IconRect& rect) {
  return QIcon(ui::LoadSkinImage(QStringLiteral("file='Controls.png' source='%1,%2,%3,%4'")
                                     .arg(rect.left)
                                     .arg(rect.top)
                                     .arg(rect.right)
                                     .arg(rect.bottom)));
}

template <class Record>
void AddRecords(const std::vector<Record>& records, std::vector<const void*>& keys,
                std::vector<bool>& deleted, bool hasDeletedFlag) {
  keys.reserve(records.size());
  deleted.reserve(records.size());
  for (const Record& record : records) {
    keys.push_back(&record);
    if constexpr (requires { record.deleted; }) {
      deleted.push_back(hasDeletedFlag && record.deleted != 0);
    } else {
      deleted.push_back(false);
    }
  }
}

std::string Lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

DataListModel::DataListModel(QObject* parent)
    : QAbstractTableModel(parent),
      fileIcon_(SheetIcon(kFileIcon)),
      videoIcon_(SheetIcon(kVideoFileIcon)),
      folderIcon_(SheetIcon(kAppFolderIcon)),
      deletedIcon_(SheetIcon(kDeletedRecordIcon)) {}

void DataListModel::Clear() {
  beginResetModel();
  category_ = RecordCategory::kNone;
  layout_ = ListLayout::kMediaFiles;
  rows_.clear();
  order_.clear();
  visible_.clear();
  onlyDeleted_ = false;
  cachedRow_ = -1;
  endResetModel();
}

void DataListModel::ShowCategory(RecordCategory category, const ScanResults& results, bool onlyDeleted) {
  std::vector<Row> rows;
  const ListLayout layout = LayoutOf(category);
  if (layout == ListLayout::kAppFolders) {
    const AppFolderMap& folders =
        category == RecordCategory::kAppPhotos ? results.appPhotos : results.appVideos;
    rows.reserve(folders.size());
    for (const auto& [appName, files] : folders) rows.push_back({&files, &appName, false});
  } else {
    std::vector<const void*> keys;
    std::vector<bool> deleted;
    const bool flagged = CategoryHasDeletedFlag(category);
    switch (category) {
      case RecordCategory::kCameraRoll:
        AddRecords(results.cameraRoll, keys, deleted, flagged);
        break;
      case RecordCategory::kPhotoStream:
        AddRecords(results.photoStream, keys, deleted, flagged);
        break;
      case RecordCategory::kMessages:
        AddRecords(results.conversationRows, keys, deleted, flagged);
        break;
      case RecordCategory::kMessageAttachments:
        AddRecords(results.messageAttachments, keys, deleted, flagged);
        break;
      case RecordCategory::kContacts:
        AddRecords(results.contacts, keys, deleted, flagged);
        break;
      case RecordCategory::kCallHistory:
        AddRecords(results.calls, keys, deleted, flagged);
        break;
      case RecordCategory::kNotes:
        AddRecords(results.notes, keys, deleted, flagged);
        break;
      case RecordCategory::kWhatsApp:
        AddRecords(results.whatsAppChatRows, keys, deleted, flagged);
        break;
      case RecordCategory::kWhatsAppAttachments:
        AddRecords(results.whatsAppAttachments, keys, deleted, flagged);
        break;
      default:
        break;
    }
    rows.resize(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) rows[i] = {keys[i], nullptr, deleted[i]};
  }
  Fill(category, layout, std::move(rows), onlyDeleted && CategoryHasDeletedFlag(category));
}

void DataListModel::ShowFolder(RecordCategory category, const std::vector<AppFileRecord>& files) {
  std::vector<Row> rows;
  rows.reserve(files.size());
  for (const AppFileRecord& file : files) rows.push_back({&file, nullptr, false});
  Fill(category, ListLayout::kAppFiles, std::move(rows), false);
}

void DataListModel::Fill(RecordCategory category, ListLayout layout, std::vector<Row> rows,
                         bool onlyDeleted) {
  beginResetModel();
  category_ = category;
  layout_ = layout;
  rows_ = std::move(rows);
  order_.resize(rows_.size());
  for (std::size_t i = 0; i < order_.size(); ++i) order_[i] = static_cast<int>(i);
  onlyDeleted_ = onlyDeleted;
  cachedRow_ = -1;
  RebuildVisible();
  endResetModel();
}

void DataListModel::RebuildVisible() {
  if (!onlyDeleted_) {
    visible_ = order_;
    return;
  }
  visible_.clear();
  for (const int row : order_) {
    if (rows_[row].deleted) visible_.push_back(row);
  }
}

void DataListModel::SetOnlyDeleted(bool on) {
  on = on && CategoryHasDeletedFlag(category_) && layout_ != ListLayout::kAppFiles;
  if (on == onlyDeleted_) return;
  beginResetModel();
  onlyDeleted_ = on;
  cachedRow_ = -1;
  RebuildVisible();
  endResetModel();
}

const void* DataListModel::KeyAt(int row) const {
  if (row < 0 || row >= static_cast<int>(visible_.size())) return nullptr;
  return rows_[visible_[row]].key;
}

int DataListModel::RowOf(const void* key) const {
  for (std::size_t i = 0; i < visible_.size(); ++i) {
    if (rows_[visible_[i]].key == key) return static_cast<int>(i);
  }
  return -1;
}

const std::vector<AppFileRecord>* DataListModel::FolderAt(int row) const {
  if (layout_ != ListLayout::kAppFolders) return nullptr;
  return static_cast<const std::vector<AppFileRecord>*>(KeyAt(row));
}

void DataListModel::RefreshChecks() {
  if (visible_.empty()) return;
  emit dataChanged(index(0, kCheckColumn), index(static_cast<int>(visible_.size()) - 1, kCheckColumn),
                   {Qt::CheckStateRole});
}

ListRowTexts DataListModel::ComputeTexts(const Row& row) const {
  switch (layout_) {
    case ListLayout::kAppFolders:
      return RowTexts(*row.folderName, *static_cast<const std::vector<AppFileRecord>*>(row.key));
    case ListLayout::kAppFiles:
      return RowTexts(*static_cast<const AppFileRecord*>(row.key));
    case ListLayout::kMediaFiles:
    case ListLayout::kWhatsAppAttachments:
      return RowTexts(*static_cast<const MediaFileRecord*>(row.key));
    case ListLayout::kMessageAttachments:
      return RowTexts(*static_cast<const AttachmentRecord*>(row.key));
    case ListLayout::kMessages:
      return RowTexts(*static_cast<const MessageRecord*>(row.key));
    case ListLayout::kContacts:
      return RowTexts(*static_cast<const ContactRecord*>(row.key));
    case ListLayout::kCallHistory:
      return RowTexts(*static_cast<const CallRecord*>(row.key));
    case ListLayout::kNotes:
      return RowTexts(*static_cast<const NoteRecord*>(row.key));
    case ListLayout::kWhatsApp:
      return RowTexts(*static_cast<const WhatsAppRecord*>(row.key));
  }
  return {};
}

const ListRowTexts& DataListModel::TextsOf(int sourceRow) const {
  if (cachedRow_ != sourceRow) {
    cachedTexts_ = ComputeTexts(rows_[sourceRow]);
    cachedRow_ = sourceRow;
  }
  return cachedTexts_;
}

QIcon DataListModel::IconOf(const Row& row) const {
  if (row.deleted) return deletedIcon_;
  switch (layout_) {
    case ListLayout::kAppFolders:
      return folderIcon_;
    case ListLayout::kAppFiles: {
      const auto& file = *static_cast<const AppFileRecord*>(row.key);
      return FileRowIcon(category_, file.name) == kVideoFileIcon ? videoIcon_ : fileIcon_;
    }
    case ListLayout::kMediaFiles:
    case ListLayout::kWhatsAppAttachments: {
      const auto& file = *static_cast<const MediaFileRecord*>(row.key);
      return FileRowIcon(category_, file.name) == kVideoFileIcon ? videoIcon_ : fileIcon_;
    }
    case ListLayout::kMessageAttachments: {
      const auto& file = *static_cast<const AttachmentRecord*>(row.key);
      return FileRowIcon(category_, file.name) == kVideoFileIcon ? videoIcon_ : fileIcon_;
    }
    default:
      return {};
  }
}

int DataListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(visible_.size());
}

int DataListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant DataListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(visible_.size())) return {};
  const int sourceRow = visible_[index.row()];
  const Row& row = rows_[sourceRow];
  const int column = index.column();
  if (column == kCheckColumn) {
    if (role == Qt::CheckStateRole) return isChecked && isChecked(row.key) ? Qt::Checked : Qt::Unchecked;
    return {};
  }
  const ListColumn& layoutColumn = ColumnsOf(layout_)[column - 1];
  switch (role) {
    case Qt::DisplayRole: {
      // Cells are single lines: a note or message of several lines shows
      // them side by side (the tool tip keeps the breaks).
      QString text = QString::fromStdString(TextsOf(sourceRow)[column - 1]);
      text.replace(QLatin1String("\r\n"), QLatin1String(" "));
      text.replace(QLatin1Char('\n'), QLatin1Char(' '));
      text.replace(QLatin1Char('\r'), QLatin1Char(' '));
      return text.trimmed();
    }
    case Qt::ToolTipRole:
      return QString::fromStdString(TextsOf(sourceRow)[column - 1]);
    case Qt::DecorationRole:
      return column == 1 ? QVariant(IconOf(row)) : QVariant();
    case Qt::ForegroundRole:
      return QBrush(QColor::fromRgba(row.deleted ? kDeletedRecordColour : kLiveRecordColour));
    case Qt::TextAlignmentRole:
      return AlignmentOf(layoutColumn);
    default:
      return {};
  }
}

bool DataListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != kCheckColumn || role != Qt::CheckStateRole || !onCheck)
    return false;
  const void* key = KeyAt(index.row());
  if (key == nullptr) return false;
  onCheck(key, value.toInt() == Qt::Checked);
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

QVariant DataListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section <= kCheckColumn || section >= kColumnCount) return {};
  const ListColumn& layoutColumn = ColumnsOf(layout_)[section - 1];
  if (role == Qt::DisplayRole)
    return QString::fromUtf8(layoutColumn.header.data(), qsizetype(layoutColumn.header.size()));
  if (role == Qt::TextAlignmentRole) {
    return AlignmentOf(layoutColumn);
  }
  return {};
}

Qt::ItemFlags DataListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kCheckColumn) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

bool DataListModel::NumericKey(int column, const Row& row, int64_t& key) const {
  switch (layout_) {
    case ListLayout::kMediaFiles:
    case ListLayout::kWhatsAppAttachments:
      if (column != 2) return false;
      key = static_cast<int64_t>(static_cast<const MediaFileRecord*>(row.key)->size);
      return true;
    case ListLayout::kMessageAttachments:
      if (column != 2) return false;
      key = static_cast<int64_t>(static_cast<const AttachmentRecord*>(row.key)->size);
      return true;
    case ListLayout::kAppFiles:
      if (column != 3) return false;
      key = static_cast<int64_t>(static_cast<const AppFileRecord*>(row.key)->size);
      return true;
    case ListLayout::kCallHistory:
      if (column != 5) return false;
      key = static_cast<const CallRecord*>(row.key)->duration;
      return true;
    default:
      return false;
  }
}

void DataListModel::sort(int column, Qt::SortOrder order) {
  if (column <= kCheckColumn || column >= kColumnCount || rows_.empty()) return;
  emit layoutAboutToBeChanged();
  const QModelIndexList before = persistentIndexList();
  std::vector<const void*> keysBefore;
  keysBefore.reserve(before.size());
  for (const QModelIndex& index : before) keysBefore.push_back(KeyAt(index.row()));

  const bool descending = order == Qt::DescendingOrder;
  int64_t probe = 0;
  if (NumericKey(column, rows_.front(), probe)) {
    std::vector<int64_t> keys(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) NumericKey(column, rows_[i], keys[i]);
    std::stable_sort(order_.begin(), order_.end(),
                     [&](int a, int b) { return descending ? keys[b] < keys[a] : keys[a] < keys[b]; });
  } else {
    std::vector<std::string> keys(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) keys[i] = Lowered(ComputeTexts(rows_[i])[column - 1]);
    std::stable_sort(order_.begin(), order_.end(),
                     [&](int a, int b) { return descending ? keys[b] < keys[a] : keys[a] < keys[b]; });
  }
  cachedRow_ = -1;
  RebuildVisible();

  QModelIndexList after;
  after.reserve(before.size());
  for (std::size_t i = 0; i < keysBefore.size(); ++i) {
    const int row = RowOf(keysBefore[i]);
    after.push_back(row < 0 ? QModelIndex() : index(row, before[int(i)].column()));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged();
}

}  // namespace corvyn::app

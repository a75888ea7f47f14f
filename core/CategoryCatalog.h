// How the categories are presented: the nodes of the category tree, the
// columns of the data list per category, the icons of rows, and the texts of
// each cell. The GUI, the reports and the command-line front end all read
// these tables, so every view shows the same thing.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/Records.h"
#include "core/ScanResults.h"

namespace corvyn {

// A source rectangle in the skin image "Controls.png" (left, top, right, bottom).
struct IconRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  friend bool operator==(const IconRect&, const IconRect&) = default;
};

struct TreeNodeInfo {
  bool isGroup = false;
  std::string_view label;  // group label, or category label without the count
  int parent = -1;         // index of the group node in kTreeNodes; -1 for a group
  std::optional<IconRect> icon;
  bool shown = true;                                // hidden nodes are created but never shown
  RecordCategory category = RecordCategory::kNone;  // kNone for groups and hidden categories
};

// The 20 nodes of the category tree in creation order: three groups and
// seventeen category nodes (eleven shown, six hidden).
std::span<const TreeNodeInfo> TreeNodes();

// Index in TreeNodes() of the category's node, or -1.
int TreeNodeIndex(RecordCategory category);

// "Camera Roll (0)" for a category node, the bare label for a group.
std::string InitialTreeLabel(const TreeNodeInfo& node);

// The label cut before its first "(" and re-formed as "%s(%d)" with the count:
// "Camera Roll (0)" and 12 give "Camera Roll (12)".
std::string UpdatedTreeLabel(std::string_view currentLabel, uint64_t count);

// Number a category's tree label shows: the statistics' item count of the
// container for Camera Roll, Photo Stream, App Photos and App Videos; the size
// of the container (conversation / chat rows for Messages and WhatsApp)
// otherwise.
class CStatisticsObj;
uint64_t TreeCount(RecordCategory category, const ScanResults& results, const CStatisticsObj& statistics);

// Data list layouts: one per category, App Photos and App Videos having two.
enum class ListLayout {
  kMediaFiles,  // Camera Roll, Photo Stream
  kAppFolders,  // App Photos, App Videos: one row per application
  kAppFiles,    // App Photos, App Videos: inside a folder
  kMessages,
  kMessageAttachments,
  kContacts,
  kCallHistory,
  kNotes,
  kWhatsApp,
  kWhatsAppAttachments,
};

inline constexpr int kListColumnCount = 6;  // "Col1" to "Col6"

struct ListColumn {
  std::string_view header;  // empty: the column is hidden
  int width = 0;            // pixels; 0 takes the remaining space
  bool centred = false;
};
using ListColumns = std::array<ListColumn, kListColumnCount>;

const ListColumns& ColumnsOf(ListLayout layout);

// The layout a category's list starts with (folder level for App Photos and
// App Videos).
ListLayout LayoutOf(RecordCategory category);

// Cell texts of one row, Col1 to Col6 (empty for hidden columns).
using ListRowTexts = std::array<std::string, kListColumnCount>;
ListRowTexts RowTexts(const MediaFileRecord& file);
ListRowTexts RowTexts(const AttachmentRecord& attachment);
ListRowTexts RowTexts(std::string_view appName, const std::vector<AppFileRecord>& folder);  // folder level
ListRowTexts RowTexts(const AppFileRecord& file);
ListRowTexts RowTexts(const MessageRecord& conversationRow);
ListRowTexts RowTexts(const ContactRecord& contact);
ListRowTexts RowTexts(const CallRecord& call);
ListRowTexts RowTexts(const NoteRecord& note);
ListRowTexts RowTexts(const WhatsAppRecord& chatRow);

// Text before the first line feed of a contact's phones.
std::string_view FirstPhone(std::string_view phones);

// Row icons.
inline constexpr IconRect kVideoFileIcon{56, 465, 74, 483};
inline constexpr IconRect kFileIcon{29, 465, 47, 483};
inline constexpr IconRect kAppFolderIcon{2, 465, 20, 483};
inline constexpr IconRect kDeletedRecordIcon{182, 312, 198, 328};
inline constexpr uint32_t kDeletedRecordColour = 0xFFF37302;  // ARGB, orange

// Icon of a file row: the video icon for a name with a video extension (never
// in Camera Roll or Photo Stream), the file icon otherwise.
IconRect FileRowIcon(RecordCategory category, std::string_view name);

}  // namespace corvyn

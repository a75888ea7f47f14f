// The icons of the sprite sheet "Controls.png": every source rectangle the
// windows cut out of it (left, top, right, bottom; right and bottom
// exclusive). The sheet is drawn at build time from this table, and the
// skin tests check that every rectangle holds a drawn icon.
#pragma once

#include <array>
#include <string_view>

namespace corvyn::app::skin {

inline constexpr int kSheetWidth = 256;
inline constexpr int kSheetHeight = 512;

enum class Glyph {
  kCamera,
  kCloud,
  kPicture,
  kFilm,
  kBubble,
  kPaperclip,
  kPerson,
  kPhone,
  kNote,
  kChat,
  kFolder,
  kFile,
  kVideoFile,
  kDeleted,
  kBackup,
  kLockedBackup,
  kCheck,
};

struct SheetIcon {
  std::string_view name;
  int left, top, right, bottom;
  Glyph glyph;
};

inline constexpr std::array<SheetIcon, 18> kSheetIcons = {{
    // Category tree nodes (18 by 18).
    {"Camera Roll", 1, 410, 19, 428, Glyph::kCamera},
    {"Photo Stream", 19, 410, 37, 428, Glyph::kCloud},
    {"App Photos", 37, 410, 55, 428, Glyph::kPicture},
    {"App Videos", 55, 410, 73, 428, Glyph::kFilm},
    {"Messages", 73, 410, 91, 428, Glyph::kBubble},
    {"Attachments", 91, 410, 109, 428, Glyph::kPaperclip},
    {"Contacts", 109, 410, 127, 428, Glyph::kPerson},
    {"Call History", 127, 410, 145, 428, Glyph::kPhone},
    {"Notes", 145, 410, 163, 428, Glyph::kNote},
    {"WhatsApp", 163, 410, 181, 428, Glyph::kChat},
    // Result list rows (18 by 18) and the deleted mark (16 by 16).
    {"App Folder", 2, 465, 20, 483, Glyph::kFolder},
    {"File", 29, 465, 47, 483, Glyph::kFile},
    {"Video File", 56, 465, 74, 483, Glyph::kVideoFile},
    {"Deleted", 182, 312, 198, 328, Glyph::kDeleted},
    // Backup list rows (48 by 26).
    {"Backup", 2, 436, 50, 462, Glyph::kBackup},
    {"Encrypted Backup", 53, 436, 101, 462, Glyph::kLockedBackup},
    // Check mark of the current language in the assistant menu.
    {"Current Language", 2, 490, 18, 506, Glyph::kCheck},
    {"Check Box", 20, 490, 36, 506, Glyph::kCheck},
}};

}  // namespace corvyn::app::skin

// Images from the skin archive, described the way layouts and pages name
// them: "file='Controls.png' source='53,436,101,462' dest='0,0,48,26'".
// Rectangles are left,top,right,bottom (right and bottom exclusive).
#pragma once

#include <QPixmap>
#include <QRect>
#include <QString>
#include <optional>

namespace corvyn::ui {

struct SkinImageDescription {
  QString file;
  std::optional<QRect> source;  // the part of the file to show; whole file when absent
  std::optional<QRect> dest;    // where to draw it inside the control
};

// Parses an image description. A bare file name ("Controls.png") is accepted
// as a file without source. nullopt for text that names no file or holds a
// malformed rectangle (not four integers, or right/bottom before left/top).
std::optional<SkinImageDescription> ParseSkinImageDescription(const QString& text);

// The pixels an image description selects, from SkinArchive::Current().
// Null pixmap when the file is missing, not an image, or the source
// rectangle lies outside it. Decoded files are cached per archive file.
QPixmap LoadSkinImage(const SkinImageDescription& description);
QPixmap LoadSkinImage(const QString& text);
// Forgets cached files (after the archive changed).
void ClearSkinImageCache();

}  // namespace corvyn::ui

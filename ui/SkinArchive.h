// The skin archive: a ZIP holding the window layouts (Qt Designer ".ui"
// files), the style sheet "skin.qss" and the images ("Controls.png"). The
// program carries one as a resource; a "skin.zip" beside the program
// replaces it.
//
// Names inside the archive use '/' and are looked up ignoring case; a name
// may be given with '\' separators as the layouts are named elsewhere
// ("xml\MessageBox_Error.xml"), and a layout name ending in ".xml" finds the
// ".ui" file of the same base name.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <optional>

#include "platform/Status.h"

namespace corvyn::ui {

class SkinArchive {
 public:
  // Entries larger than this are refused (a broken or hostile archive).
  static constexpr qint64 kMaxEntryBytes = 64 * 1024 * 1024;

  // Reads every entry of the ZIP in `bytes`. kOk, or kInvalidData for bytes
  // that are no readable ZIP, hold an oversized or unreadable entry, or hold
  // no files at all. On failure the archive keeps its previous content.
  Status LoadFromBytes(const QByteArray& bytes);
  Status LoadFromFile(const std::filesystem::path& file);

  bool IsLoaded() const { return !entries_.isEmpty(); }
  // Archive names of all files, in archive order.
  QStringList FileNames() const { return names_; }
  bool Contains(const QString& name) const;
  std::optional<QByteArray> Read(const QString& name) const;
  // The archive name of a layout given by name (see above); empty when the
  // archive holds no such layout.
  QString ResolveLayout(const QString& name) const;

  // The archive the windows use.
  static SkinArchive& Current();
  // Loads Current(): `programDir`/skin.zip when that file exists, else the
  // embedded resource at `resourcePath`. Returns the load status.
  static Status LoadCurrent(const std::filesystem::path& programDir,
                            const QString& resourcePath = QStringLiteral(":/corvyn/skin.zip"));

 private:
  static QString Key(const QString& name);
  QHash<QString, QByteArray> entries_;  // by Key(name)
  QStringList names_;
};

}  // namespace corvyn::ui

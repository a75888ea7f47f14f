#include "ui/SkinArchive.h"

#include <zip.h>

#include <QFile>
#include <memory>

#include "ui/SkinImage.h"

namespace corvyn::ui {
namespace {

struct ArchiveCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

}  // namespace

QString SkinArchive::Key(const QString& name) {
  QString key = name;
  key.replace(QLatin1Char('\\'), QLatin1Char('/'));
  while (key.startsWith(QLatin1Char('/'))) key.remove(0, 1);
  return key.toLower();
}

Status SkinArchive::LoadFromBytes(const QByteArray& bytes) {
  if (bytes.isEmpty()) return kInvalidData;
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source =
      zip_source_buffer_create(bytes.constData(), static_cast<zip_uint64_t>(bytes.size()), 0, &error);
  if (source == nullptr) {
    zip_error_fini(&error);
    return kInvalidData;
  }
  std::unique_ptr<zip_t, ArchiveCloser> archive(zip_open_from_source(source, ZIP_RDONLY, &error));
  zip_error_fini(&error);
  if (!archive) {
    zip_source_free(source);
    return kInvalidData;
  }
  QHash<QString, QByteArray> entries;
  QStringList names;
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  for (zip_int64_t index = 0; index < count; ++index) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(index), 0, &stat) != 0) return kInvalidData;
    if ((stat.valid & ZIP_STAT_NAME) == 0 || (stat.valid & ZIP_STAT_SIZE) == 0) return kInvalidData;
    const QString name = QString::fromUtf8(stat.name);
    if (name.endsWith(QLatin1Char('/'))) continue;  // a folder
    if (stat.size > static_cast<zip_uint64_t>(kMaxEntryBytes)) return kInvalidData;
    std::unique_ptr<zip_file_t, EntryCloser> file(
        zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(index), 0));
    if (!file) return kInvalidData;
    QByteArray content(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < content.size()) {
      const zip_int64_t got =
          zip_fread(file.get(), content.data() + filled, static_cast<zip_uint64_t>(content.size() - filled));
      if (got <= 0) return kInvalidData;  // short or failed (also a checksum mismatch)
      filled += static_cast<qsizetype>(got);
    }
    // The checksum is verified when the end of the entry is read.
    char probe;
    if (zip_fread(file.get(), &probe, 1) != 0) return kInvalidData;
    entries.insert(Key(name), content);
    names.append(name);
  }
  if (entries.isEmpty()) return kInvalidData;
  entries_ = std::move(entries);
  names_ = std::move(names);
  ClearSkinImageCache();
  return kOk;
}

Status SkinArchive::LoadFromFile(const std::filesystem::path& file) {
  QFile input(QString::fromStdString(file.string()));
  if (!input.open(QIODevice::ReadOnly)) return kInvalidData;
  return LoadFromBytes(input.readAll());
}

bool SkinArchive::Contains(const QString& name) const {
  return entries_.contains(Key(name));
}

std::optional<QByteArray> SkinArchive::Read(const QString& name) const {
  const auto found = entries_.constFind(Key(name));
  if (found == entries_.constEnd()) return std::nullopt;
  return *found;
}

QString SkinArchive::ResolveLayout(const QString& name) const {
  QString key = Key(name);
  if (key.endsWith(QLatin1String(".xml"))) key = key.left(key.size() - 4) + QLatin1String(".ui");
  if (!key.endsWith(QLatin1String(".ui"))) key += QLatin1String(".ui");
  for (const QString& candidate : {key, QLatin1String("xml/") + key}) {
    if (entries_.contains(candidate)) {
      for (const QString& original : names_) {
        if (Key(original) == candidate) return original;
      }
    }
  }
  return {};
}

SkinArchive& SkinArchive::Current() {
  static SkinArchive archive;
  return archive;
}

Status SkinArchive::LoadCurrent(const std::filesystem::path& programDir, const QString& resourcePath) {
  if (!programDir.empty()) {
    const auto beside = programDir / "skin.zip";
    std::error_code error;
    if (std::filesystem::is_regular_file(beside, error)) return Current().LoadFromFile(beside);
  }
  QFile resource(resourcePath);
  if (!resource.open(QIODevice::ReadOnly)) return kInvalidData;
  return Current().LoadFromBytes(resource.readAll());
}

}  // namespace corvyn::ui

#include "ui/SkinImage.h"

#include <QHash>
#include <QImage>
#include <QRegularExpression>

#include "ui/SkinArchive.h"

namespace corvyn::ui {
namespace {

std::optional<QRect> ParseRect(const QString& text) {
  const QStringList parts = text.split(QLatin1Char(','));
  if (parts.size() != 4) return std::nullopt;
  int values[4];
  for (int i = 0; i < 4; ++i) {
    bool ok = false;
    values[i] = parts[i].trimmed().toInt(&ok);
    if (!ok) return std::nullopt;
  }
  if (values[2] < values[0] || values[3] < values[1]) return std::nullopt;
  return QRect(QPoint(values[0], values[1]), QSize(values[2] - values[0], values[3] - values[1]));
}

QHash<QString, QImage>& Cache() {
  static QHash<QString, QImage> cache;
  return cache;
}

}  // namespace

std::optional<SkinImageDescription> ParseSkinImageDescription(const QString& text) {
  static const QRegularExpression attribute(QStringLiteral(R"((\w+)\s*=\s*'([^']*)')"));
  SkinImageDescription description;
  bool any = false;
  auto matches = attribute.globalMatch(text);
  while (matches.hasNext()) {
    const auto match = matches.next();
    any = true;
    const QString name = match.captured(1).toLower();
    const QString value = match.captured(2);
    if (name == QLatin1String("file")) {
      description.file = value;
    } else if (name == QLatin1String("source") || name == QLatin1String("dest")) {
      const auto rect = ParseRect(value);
      if (!rect) return std::nullopt;
      (name == QLatin1String("source") ? description.source : description.dest) = rect;
    }
  }
  if (!any) description.file = text.trimmed();
  if (description.file.isEmpty() || description.file.contains(QLatin1Char('\''))) return std::nullopt;
  return description;
}

QPixmap LoadSkinImage(const SkinImageDescription& description) {
  auto& cache = Cache();
  const QString key = description.file.toLower();
  auto found = cache.find(key);
  if (found == cache.end()) {
    const auto bytes = SkinArchive::Current().Read(description.file);
    if (!bytes) return {};
    QImage image;
    if (!image.loadFromData(*bytes)) return {};
    found = cache.insert(key, image);
  }
  const QImage& image = *found;
  if (!description.source) return QPixmap::fromImage(image);
  if (description.source->isEmpty() || !image.rect().contains(*description.source)) return {};
  return QPixmap::fromImage(image.copy(*description.source));
}

QPixmap LoadSkinImage(const QString& text) {
  const auto description = ParseSkinImageDescription(text);
  return description ? LoadSkinImage(*description) : QPixmap();
}

void ClearSkinImageCache() {
  Cache().clear();
}

}  // namespace corvyn::ui

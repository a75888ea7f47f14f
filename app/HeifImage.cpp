#include "app/HeifImage.h"

#include <libheif/heif.h>

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <cstring>
#include <memory>
#include <span>

#include "core/FileType.h"

namespace corvyn::app {
namespace {

struct ContextFree {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleRelease {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageRelease {
  void operator()(heif_image* image) const { heif_image_release(image); }
};

// libheif keeps no state of its own we rely on, but its decoder plugins are
// registered by heif_init; one reference for the life of the process.
void EnsureHeifInitialised() {
  static const bool initialised = [] {
    heif_init(nullptr);
    return true;
  }();
  (void)initialised;
}

QImage NoImage(QString* error, const QString& text) {
  if (error != nullptr) *error = text;
  return {};
}

QString HeifErrorText(const heif_error& failure) {
  return QString::fromUtf8(failure.message != nullptr ? failure.message : "unknown libheif error");
}

}  // namespace

bool IsHeifFile(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("heic") || suffix == QLatin1String("heif") || suffix == QLatin1String("hif") ||
      suffix == QLatin1String("avif")) {
    return true;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray head = file.read(kSniffLength);
  const auto bytes = std::span(reinterpret_cast<const uint8_t*>(head.constData()), head.size());
  const int type = DetectTypeCode(bytes);
  return type == kFileTypeHeic || type == kFileTypeHeif || type == kFileTypeAvif;
}

QImage DecodeHeifImage(const QString& path, QString* error) {
  EnsureHeifInitialised();
  std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
  if (!context) return NoImage(error, QStringLiteral("out of memory"));
  const QByteArray name = QFile::encodeName(path);
  heif_error result = heif_context_read_from_file(context.get(), name.constData(), nullptr);
  if (result.code != heif_error_Ok) return NoImage(error, HeifErrorText(result));

  heif_image_handle* rawHandle = nullptr;
  result = heif_context_get_primary_image_handle(context.get(), &rawHandle);
  std::unique_ptr<heif_image_handle, HandleRelease> handle(rawHandle);
  if (result.code != heif_error_Ok) return NoImage(error, HeifErrorText(result));

  // Default options apply the stored rotation, mirroring and crop.
  heif_image* rawImage = nullptr;
  result =
      heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr);
  std::unique_ptr<heif_image, ImageRelease> image(rawImage);
  if (result.code != heif_error_Ok) return NoImage(error, HeifErrorText(result));

  const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  if (plane == nullptr || width <= 0 || height <= 0 || stride < width * 4) {
    return NoImage(error, QStringLiteral("the HEIF image has no readable pixels"));
  }
  QImage out(width, height, QImage::Format_RGBA8888);
  if (out.isNull()) return NoImage(error, QStringLiteral("out of memory"));
  for (int row = 0; row < height; ++row) {
    std::memcpy(out.scanLine(row), plane + static_cast<std::ptrdiff_t>(row) * stride,
                static_cast<std::size_t>(width) * 4);
  }
  return out;
}

QImage LoadPreviewImage(const QString& path, QString* error) {
  if (!QFileInfo::exists(path)) return NoImage(error, QStringLiteral("the file does not exist"));
  if (IsHeifFile(path)) return DecodeHeifImage(path, error);
  QImageReader reader(path);
  reader.setAutoTransform(true);
  QImage image = reader.read();
  if (image.isNull()) return NoImage(error, reader.errorString());
  return image;
}

QImage FitInto(const QImage& image, const QSize& box) {
  if (image.isNull() || box.isEmpty()) return image;
  if (image.width() <= box.width() && image.height() <= box.height()) return image;
  return image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace corvyn::app

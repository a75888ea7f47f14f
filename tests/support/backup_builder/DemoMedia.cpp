#include "tests/support/backup_builder/DemoMedia.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#ifdef CORVYN_DEMO_HEIC
#include <libheif/heif.h>
#endif

namespace corvyn::testsupport {
namespace {

// A landscape: sky, sun, two hills and a caption, in colours that change
// with the variant.
QImage DrawPhoto(int variant) {
  QImage image(960, 720, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const int hue = (variant * 47) % 360;
  QLinearGradient sky(0, 0, 0, 720);
  sky.setColorAt(0, QColor::fromHsv(hue, 120, 250));
  sky.setColorAt(1, QColor::fromHsv((hue + 40) % 360, 60, 255));
  painter.fillRect(image.rect(), sky);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 236, 150));
  painter.drawEllipse(QPointF(700 - variant * 13 % 300, 180), 80, 80);
  for (int hill = 0; hill < 2; ++hill) {
    QPainterPath path;
    path.moveTo(0, 720);
    const double base = 470 + hill * 90;
    for (int x = 0; x <= 960; x += 20) {
      path.lineTo(x, base - 70 * std::sin((x + variant * 37 + hill * 200) / (160.0 + hill * 40)));
    }
    path.lineTo(960, 720);
    painter.setBrush(QColor::fromHsv((hue + 120 + hill * 20) % 360, 140, 150 - hill * 40));
    painter.drawPath(path);
  }
  QFont font = painter.font();
  font.setPixelSize(44);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(QColor(255, 255, 255, 230));
  painter.drawText(QRect(0, 600, 960, 100), Qt::AlignCenter,
                   QStringLiteral("Corvyn demo photo %1").arg(variant));
  return image;
}

std::string Encode(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, format, 85)) return {};
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

#ifdef CORVYN_DEMO_HEIC
// A HEIC photo, as recent phones take them (empty when libheif has no HEVC
// encoder).
std::string EncodeHeic(const QImage& source) {
  if (!heif_have_encoder_for_format(heif_compression_HEVC)) return {};
  const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  heif_image* image = nullptr;
  heif_image_handle* handle = nullptr;
  std::string out;
  const auto scratch = std::filesystem::temp_directory_path() /
                       ("corvyn-demo-" + std::to_string(reinterpret_cast<std::uintptr_t>(context)) + ".heic");
  bool ok =
      heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code == heif_error_Ok &&
      heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image)
              .code == heif_error_Ok &&
      heif_image_add_plane(image, heif_channel_interleaved, rgb.width(), rgb.height(), 8).code ==
          heif_error_Ok;
  if (ok) {
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y) {
      std::memcpy(plane + static_cast<std::ptrdiff_t>(y) * stride, rgb.constScanLine(y),
                  static_cast<std::size_t>(rgb.width()) * 3);
    }
    heif_encoder_set_lossy_quality(encoder, 80);
    ok = heif_context_encode_image(context, image, encoder, nullptr, &handle).code == heif_error_Ok &&
         heif_context_write_to_file(context, scratch.c_str()).code == heif_error_Ok;
  }
  if (ok) {
    std::ifstream in(scratch, std::ios::binary);
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::error_code error;
  std::filesystem::remove(scratch, error);
  if (handle != nullptr) heif_image_handle_release(handle);
  if (image != nullptr) heif_image_release(image);
  if (encoder != nullptr) heif_encoder_release(encoder);
  heif_context_free(context);
  return out;
}
#endif

void PutLe(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// Two seconds of a soft chord, 16-bit mono PCM at 22050 Hz.
std::string MakeTone(int variant) {
  constexpr uint32_t kRate = 22050;
  constexpr uint32_t kSamples = kRate * 2;
  std::string out = "RIFF";
  PutLe(out, 36 + kSamples * 2, 4);
  out += "WAVEfmt ";
  PutLe(out, 16, 4);
  PutLe(out, 1, 2);          // PCM
  PutLe(out, 1, 2);          // mono
  PutLe(out, kRate, 4);      // sample rate
  PutLe(out, kRate * 2, 4);  // byte rate
  PutLe(out, 2, 2);          // block align
  PutLe(out, 16, 2);         // bits per sample
  out += "data";
  PutLe(out, kSamples * 2, 4);
  const double root = 330.0 + 20.0 * (variant % 5);
  for (uint32_t i = 0; i < kSamples; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double envelope = std::min(1.0, t * 8) * std::min(1.0, (2.0 - t) * 4);
    const double sample = envelope * 0.25 *
                          (std::sin(2 * M_PI * root * t) + std::sin(2 * M_PI * root * 1.25 * t) +
                           std::sin(2 * M_PI * root * 1.5 * t)) /
                          3.0;
    PutLe(out, static_cast<uint16_t>(static_cast<int16_t>(sample * 32767)), 2);
  }
  return out;
}

}  // namespace

std::string MakeDemoMedia(MediaKind kind, int variant) {
  switch (kind) {
    case MediaKind::kJpeg:
      return Encode(DrawPhoto(variant), "JPEG");
    case MediaKind::kPng:
      return Encode(DrawPhoto(variant).scaled(480, 360, Qt::KeepAspectRatio, Qt::SmoothTransformation),
                    "PNG");
#ifdef CORVYN_DEMO_HEIC
    case MediaKind::kHeic:
      return EncodeHeic(DrawPhoto(variant));
#endif
    case MediaKind::kWav:
      return MakeTone(variant);
    default:
      return {};
  }
}

}  // namespace corvyn::testsupport

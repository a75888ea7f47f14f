// Still images for the preview pane. Photos of recent phones are HEIC (HEVC
// in a HEIF container); libheif decodes them, every other format goes
// through Qt's image readers. The orientation stored with the picture
// (HEIF rotation and mirroring, JPEG EXIF orientation) is applied.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace corvyn::app {

// True when the file is named .heic, .heif, .hif or .avif, or when its first
// bytes carry a HEIF brand (a HEIC photo copied under another name).
bool IsHeifFile(const QString& path);

// The primary image of a HEIF file with its transformations applied. A null
// image when the file cannot be read or decoded; *error (when given) then
// says why in words.
QImage DecodeHeifImage(const QString& path, QString* error = nullptr);

// Any picture: HEIF through DecodeHeifImage, the rest through QImageReader.
// A null image when it cannot be read; *error says why.
QImage LoadPreviewImage(const QString& path, QString* error = nullptr);

// `image` scaled down (never up) to fit `box`, keeping its proportions.
QImage FitInto(const QImage& image, const QSize& box);

}  // namespace corvyn::app

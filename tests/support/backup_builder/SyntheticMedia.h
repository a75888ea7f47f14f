// Test support: small synthetic media files with the signatures real ones
// start with. `size` is the total length (at least the header's); `variant`
// changes the filler so that two files differ.
#pragma once

#include <cstddef>
#include <string>

namespace corvyn::testsupport {

std::string MakeJpegExif(std::size_t size, int variant = 0);  // FF D8 FF E1 .. "Exif"
std::string MakePng(std::size_t size, int variant = 0);       // PNG signature + IHDR
std::string MakeHeic(std::size_t size, int variant = 0);      // ftyp heic
std::string MakeMov(std::size_t size, int variant = 0);       // ftyp "qt  "
std::string MakeMp4(std::size_t size, int variant = 0);       // ftyp isom
std::string MakeWav(std::size_t size, int variant = 0);       // RIFF WAVE fmt
// Bytes no detector recognises (an XML sidecar).
std::string MakeUnknown(std::size_t size, int variant = 0);

}  // namespace corvyn::testsupport

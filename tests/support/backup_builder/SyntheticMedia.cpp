#include "tests/support/backup_builder/SyntheticMedia.h"

#include <cstdint>
#include <string_view>

namespace corvyn::testsupport {
namespace {

void PutBe32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void PutLe32(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void PutLe16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}

// Pads with a deterministic pattern up to `size`.
std::string Fill(std::string head, std::size_t size, int variant) {
  uint32_t state = 0x9E3779B9u ^ static_cast<uint32_t>(variant * 2654435761u);
  while (head.size() < size) {
    state = state * 1664525u + 1013904223u;
    head.push_back(static_cast<char>(state >> 24));
  }
  return head;
}

std::string FtypBox(std::string_view brand, std::string_view compatible) {
  std::string box;
  PutBe32(box, static_cast<uint32_t>(16 + compatible.size()));
  box.append("ftyp").append(brand);
  PutBe32(box, 0);
  box.append(compatible);
  return box;
}

}  // namespace

std::string MakeJpegExif(std::size_t size, int variant) {
  std::string head("\xFF\xD8\xFF\xE1", 4);
  head.push_back('\x00');
  head.push_back('\x22');
  head.append("Exif", 4);
  head.append(std::string_view("\0\0", 2));
  head.append("MM", 2);  // TIFF header, big-endian
  head.append(std::string_view("\0\x2A\0\0\0\x08", 6));
  std::string out = Fill(std::move(head), size < 32 ? 32 : size - 2, variant);
  out.append("\xFF\xD9", 2);
  return out;
}

std::string MakePng(std::size_t size, int variant) {
  std::string head("\x89PNG\r\n\x1A\n", 8);
  PutBe32(head, 13);
  head.append("IHDR");
  PutBe32(head, 16);
  PutBe32(head, 16);
  head.append(std::string_view("\x08\x02\0\0\0", 5));
  PutBe32(head, 0);  // CRC (not checked by anyone here)
  return Fill(std::move(head), size, variant);
}

std::string MakeHeic(std::size_t size, int variant) {
  return Fill(FtypBox("heic", "mif1heic"), size, variant);
}

std::string MakeMov(std::size_t size, int variant) {
  return Fill(FtypBox("qt  ", "qt  "), size, variant);
}

std::string MakeMp4(std::size_t size, int variant) {
  return Fill(FtypBox("isom", "isomiso2mp41"), size, variant);
}

std::string MakeWav(std::size_t size, int variant) {
  const uint32_t total = static_cast<uint32_t>(size < 44 ? 44 : size);
  std::string head("RIFF", 4);
  PutLe32(head, total - 8);
  head.append("WAVEfmt ", 8);
  PutLe32(head, 16);
  PutLe16(head, 1);      // PCM
  PutLe16(head, 1);      // mono
  PutLe32(head, 8000);   // sample rate
  PutLe32(head, 16000);  // byte rate
  PutLe16(head, 2);
  PutLe16(head, 16);
  head.append("data", 4);
  PutLe32(head, total - 44);
  return Fill(std::move(head), total, variant);
}

std::string MakeUnknown(std::size_t size, int variant) {
  return Fill("<?xml version=\"1.0\"?><adjustments/>", size, variant);
}

}  // namespace corvyn::testsupport

#include "core/FileType.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace corvyn {
namespace {

using Head = std::span<const uint8_t, kSniffLength>;

bool BytesAt(Head head, std::size_t offset, std::string_view bytes) {
  return offset + bytes.size() <= head.size() &&
         std::memcmp(head.data() + offset, bytes.data(), bytes.size()) == 0;
}

uint16_t Le16(Head head, std::size_t offset) {
  return static_cast<uint16_t>(head[offset] | (head[offset + 1] << 8));
}

uint32_t Le32(Head head, std::size_t offset) {
  return static_cast<uint32_t>(head[offset]) | static_cast<uint32_t>(head[offset + 1]) << 8 |
         static_cast<uint32_t>(head[offset + 2]) << 16 | static_cast<uint32_t>(head[offset + 3]) << 24;
}

uint32_t Be32(Head head, std::size_t offset) {
  return static_cast<uint32_t>(head[offset]) << 24 | static_cast<uint32_t>(head[offset + 1]) << 16 |
         static_cast<uint32_t>(head[offset + 2]) << 8 | static_cast<uint32_t>(head[offset + 3]);
}

bool Within(Head head, std::size_t limit, std::string_view bytes) {
  for (std::size_t offset = 0; offset + bytes.size() <= limit; ++offset) {
    if (BytesAt(head, offset, bytes)) return true;
  }
  return false;
}

// --- The classic twenty rows ---------------------------------------------

bool IsMpeg(Head head) {
  using namespace std::string_view_literals;
  return (BytesAt(head, 0, "\x00\x00\x01\xBA"sv) && Within(head, 32, "\x00\x00\x01\xBB"sv)) ||
         (BytesAt(head, 0, "\x00\x00\x01\xB3"sv) && Within(head, 32, "\x00\x00\x01\xB8"sv));
}

bool IsMp4(Head head) {
  return BytesAt(head, 4, "ftyp") && (BytesAt(head, 8, "iso") || BytesAt(head, 8, "mp42"));
}

bool IsRealMedia(Head head) {
  return BytesAt(head, 0, ".RMF");
}

bool IsAsf(Head head) {
  using namespace std::string_view_literals;
  return BytesAt(head, 0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv);
}

bool IsAvi(Head head) {
  return BytesAt(head, 0, "RIFF") && BytesAt(head, 8, "AVI ") && BytesAt(head, 12, "LIST");
}

bool Is3gp(Head head) {
  return BytesAt(head, 4, "ftyp") && BytesAt(head, 8, "3gp");
}

bool IsId3Mp3(Head head) {
  if (!BytesAt(head, 0, "ID3") || head[3] == 0xFF || head[4] == 0xFF || (head[5] & 0x1F) != 0) return false;
  return std::all_of(head.begin() + 6, head.begin() + 10, [](uint8_t byte) { return byte < 0x80; });
}

bool IsMidi(Head head) {
  return BytesAt(head, 0, "MThd") && Be32(head, 4) == 6 && BytesAt(head, 14, "MTrk");
}

bool IsWave(Head head) {
  return BytesAt(head, 0, "RIFF") && BytesAt(head, 8, "WAVE") && BytesAt(head, 12, "fmt ");
}

bool IsQuickTime(Head head) {
  return BytesAt(head, 0, "moov") || (BytesAt(head, 4, "ftyp") && BytesAt(head, 8, "qt  "));
}

bool IsGif(Head head) {
  const auto digit = [](uint8_t byte) { return byte >= '0' && byte <= '9'; };
  return BytesAt(head, 0, "GIF") && digit(head[3]) && digit(head[4]) && head[5] >= 'a' && head[5] <= 'z';
}

bool IsBmp(Head head) {
  return (BytesAt(head, 0, "BM") || BytesAt(head, 0, "BA")) && Le16(head, 6) == 0 && Le16(head, 8) == 0 &&
         Le32(head, 14) == 40;
}

// Any marker that may follow the start-of-image marker: frames and tables
// (C0-CF), quantisation tables (DB), restart interval (DD), application
// segments (E0-EF) and comments (FE). Camera files often open with DB or EE.
bool IsJpeg(Head head) {
  if (head[0] != 0xFF || head[1] != 0xD8 || head[2] != 0xFF) return false;
  const uint8_t marker = head[3];
  return (marker >= 0xC0 && marker <= 0xCF) || marker == 0xDB || marker == 0xDD ||
         (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
}

bool IsPng(Head head) {
  return BytesAt(head, 0, "\x89PNG\r\n\x1A\n");
}

bool IsIco(Head head) {
  using namespace std::string_view_literals;
  if (!BytesAt(head, 0, "\x00\x00\x01\x00"sv)) return false;
  const uint64_t count = Le16(head, 4);
  constexpr uint64_t kDirectoryStart = 6;
  constexpr uint64_t kEntrySize = 16;
  if (count == 0 || kDirectoryStart + kEntrySize * count > head.size()) return false;
  uint64_t runningOffset = kDirectoryStart + kEntrySize * count;
  for (uint64_t index = 0; index < count; ++index) {
    const std::size_t entry = static_cast<std::size_t>(kDirectoryStart + kEntrySize * index);
    if (head[entry + 3] != 0 || Le32(head, entry + 12) != runningOffset) return false;
    runningOffset += Le32(head, entry + 8);
  }
  return true;
}

// --- Rows for today's phone media ------------------------------------------

bool MajorBrandIn(Head head, std::span<const std::string_view> brands) {
  if (!BytesAt(head, 4, "ftyp")) return false;
  return std::any_of(brands.begin(), brands.end(),
                     [&](std::string_view brand) { return BytesAt(head, 8, brand); });
}

// Compatible brands of the ftyp box (from 16 up to the box's end, within the
// bytes seen).
bool CompatibleBrandIn(Head head, std::span<const std::string_view> brands) {
  if (!BytesAt(head, 4, "ftyp")) return false;
  const std::size_t boxEnd = std::min<std::size_t>(Be32(head, 0), head.size());
  for (std::size_t offset = 16; offset + 4 <= boxEnd; offset += 4) {
    for (std::string_view brand : brands) {
      if (BytesAt(head, offset, brand)) return true;
    }
  }
  return false;
}

constexpr std::string_view kHevcBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx"};
constexpr std::string_view kAvifBrands[] = {"avif", "avis"};
constexpr std::string_view kGenericHeifBrands[] = {"mif1", "msf1"};

bool IsHeic(Head head) {
  return MajorBrandIn(head, kHevcBrands) ||
         (MajorBrandIn(head, kGenericHeifBrands) && CompatibleBrandIn(head, kHevcBrands));
}

bool IsAvif(Head head) {
  return MajorBrandIn(head, kAvifBrands) ||
         (MajorBrandIn(head, kGenericHeifBrands) && CompatibleBrandIn(head, kAvifBrands));
}

// Reached only when neither the HEVC nor the AV1 row matched.
constexpr std::string_view kHeifBrands[] = {"mif1", "msf1", "heif"};
bool IsHeif(Head head) {
  return MajorBrandIn(head, kHeifBrands);
}

constexpr std::string_view kM4aBrands[] = {"M4A ", "M4B ", "M4P "};
bool IsM4a(Head head) {
  return MajorBrandIn(head, kM4aBrands);
}

constexpr std::string_view kM4vBrands[] = {"M4V ", "M4VH", "M4VP"};
bool IsM4v(Head head) {
  return MajorBrandIn(head, kM4vBrands);
}

constexpr std::string_view kMp4Brands[] = {"mp41", "avc1", "dash", "MSNV", "f4v ", "XAVC", "mmp4"};
bool IsMp4Variant(Head head) {
  return MajorBrandIn(head, kMp4Brands);
}

constexpr std::string_view k3g2Brands[] = {"3g2"};
bool Is3g2(Head head) {
  return MajorBrandIn(head, k3g2Brands);
}

// QuickTime files that open with an atom other than ftyp.
bool IsQuickTimeAtom(Head head) {
  const uint32_t atomSize = Be32(head, 0);
  if (atomSize != 0 && atomSize != 1 && atomSize < 8) return false;
  for (std::string_view atom : {"moov", "mdat", "wide", "free", "skip", "pnot"}) {
    if (BytesAt(head, 4, atom)) return true;
  }
  return false;
}

bool IsCaf(Head head) {
  using namespace std::string_view_literals;
  return BytesAt(head, 0, "caff\x00\x01"sv);
}

bool IsAmr(Head head) {
  return BytesAt(head, 0, "#!AMR");
}

// ADTS header: 12-bit sync, layer 0, a valid sampling index and a frame of at
// least its own 7-byte header.
bool IsAdtsAac(Head head) {
  if (head[0] != 0xFF || (head[1] & 0xF6) != 0xF0) return false;
  const int samplingIndex = (head[2] >> 2) & 0x0F;
  const int frameLength = ((head[3] & 0x03) << 11) | (head[4] << 3) | (head[5] >> 5);
  return samplingIndex < 13 && frameLength >= 7;
}

// MPEG audio layer III frame header without an ID3 tag before it.
bool IsMpegAudioFrame(Head head) {
  if (head[0] != 0xFF || (head[1] & 0xE0) != 0xE0) return false;
  const int version = (head[1] >> 3) & 0x03;
  const int layer = (head[1] >> 1) & 0x03;
  const int bitrateIndex = head[2] >> 4;
  const int samplingIndex = (head[2] >> 2) & 0x03;
  return version != 1 && layer == 1 && bitrateIndex != 0 && bitrateIndex != 15 && samplingIndex != 3;
}

constexpr std::array<FileTypeRow, 32> kTable = {{
    {"mpeg", 15, IsMpeg},
    {"mpg", 15, IsMpeg},
    {"vob", 15, IsMpeg},
    {"mp4", 18, IsMp4},
    {"rmvb", 23, IsRealMedia},
    {"wmv", 24, IsAsf},
    {"wma", 24, IsAsf},
    {"avi", 22, IsAvi},
    {"3gp", 16, Is3gp},
    {"mp3", 12, IsId3Mp3},
    {"mid", 13, IsMidi},
    {"wav", 21, IsWave},
    {"mov", 17, IsQuickTime},
    {"gif", 31, IsGif},
    {"bmp", 29, IsBmp},
    {"jpg", 10, IsJpeg},
    {"jpeg", 10, IsJpeg},
    {"jpe", 10, IsJpeg},
    {"png", 30, IsPng},
    {"ico", 46, IsIco},
    {"heic", kFileTypeHeic, IsHeic},
    {"avif", kFileTypeAvif, IsAvif},
    {"heif", kFileTypeHeif, IsHeif},
    {"m4a", kFileTypeM4a, IsM4a},
    {"m4v", kFileTypeM4v, IsM4v},
    {"mp4", 18, IsMp4Variant},
    {"3g2", 16, Is3g2},
    {"mov", 17, IsQuickTimeAtom},
    {"caf", kFileTypeCaf, IsCaf},
    {"amr", kFileTypeAmr, IsAmr},
    {"aac", kFileTypeAac, IsAdtsAac},
    {"mp3", 12, IsMpegAudioFrame},
}};

}  // namespace

std::span<const FileTypeRow> FileTypeTable() {
  return kTable;
}

int DetectTypeCode(std::span<const uint8_t> head) {
  std::array<uint8_t, kSniffLength> buffer{};
  std::copy_n(head.begin(), std::min(head.size(), buffer.size()), buffer.begin());
  const Head view(buffer);
  for (const FileTypeRow& row : kTable) {
    if (row.detect(view)) return row.typeCode;
  }
  return kFileTypeUnknown;
}

std::string_view ExtensionOfType(int typeCode) {
  for (const FileTypeRow& row : kTable) {
    if (row.typeCode == typeCode) return row.extension;
  }
  return {};
}

Status DetectBufferType(std::span<const uint8_t> head, std::string& name, uint64_t& counter) {
  const int typeCode = DetectTypeCode(head);
  if (typeCode == kFileTypeUnknown) return kOk;
  name = std::to_string(counter);
  name += '.';
  name += ExtensionOfType(typeCode);
  ++counter;
  return kOk;
}

Status DetectFileType(const std::filesystem::path& path, std::string& name, uint64_t& counter) {
  // Source files are only ever read: a backup must stay as it was found.
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (file == nullptr) return Status::System(errno, path.string());
  std::array<uint8_t, kSniffLength> head{};
  const std::size_t read = std::fread(head.data(), 1, head.size(), file.get());
  if (read == 0) return kShortRead;  // empty, or the first read failed
  return DetectBufferType(std::span<const uint8_t>(head.data(), read), name, counter);
}

}  // namespace corvyn

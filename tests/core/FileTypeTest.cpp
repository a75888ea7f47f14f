#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "core/FileType.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(std::initializer_list<int> values) {
  Bytes bytes;
  for (int value : values) bytes.push_back(static_cast<uint8_t>(value));
  return bytes;
}

Bytes Text(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes bytes;
  for (const Bytes& part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
  return bytes;
}

// An ISO base media file's ftyp box: size, "ftyp", major brand, minor
// version, compatible brands.
Bytes Ftyp(std::string_view major, std::initializer_list<std::string_view> compatible = {}) {
  const uint32_t size = static_cast<uint32_t>(16 + 4 * compatible.size());
  Bytes bytes = B({0, 0, static_cast<int>(size >> 8), static_cast<int>(size & 0xFF)});
  bytes = Cat({bytes, Text("ftyp"), Text(major), B({0, 0, 0, 0})});
  for (std::string_view brand : compatible) bytes = Cat({bytes, Text(brand)});
  return bytes;
}

Bytes IcoWithEntries(int count, bool contiguous) {
  Bytes bytes = B({0, 0, 1, 0, count, 0});
  uint32_t offset = static_cast<uint32_t>(6 + 16 * count);
  for (int i = 0; i < count; ++i) {
    const uint32_t size = 40;
    const uint32_t stored = contiguous || i == 0 ? offset : offset + 1;
    bytes = Cat({bytes, B({16, 16, 0, 0, 1, 0, 32, 0}), B({static_cast<int>(size), 0, 0, 0}),
                 B({static_cast<int>(stored & 0xFF), static_cast<int>(stored >> 8), 0, 0})});
    offset += size;
  }
  return bytes;
}

struct Case {
  const char* name;
  Bytes head;
  std::string_view extension;  // empty: not recognised
};

std::vector<Case> Cases() {
  const Bytes id3 = Cat({Text("ID3"), B({3, 0, 0, 0, 0, 0x10, 0x20})});
  return {
      {"MPEG program stream", Cat({B({0, 0, 1, 0xBA}), Bytes(10, 0x44), B({0, 0, 1, 0xBB})}), "mpeg"},
      {"MPEG system header past 32 bytes", Cat({B({0, 0, 1, 0xBA}), Bytes(30, 0x44), B({0, 0, 1, 0xBB})}),
       ""},
      {"MPEG video elementary stream", Cat({B({0, 0, 1, 0xB3}), Bytes(4, 1), B({0, 0, 1, 0xB8})}), "mpeg"},
      {"MP4 isom", Ftyp("isom"), "mp4"},
      {"MP4 mp42", Ftyp("mp42"), "mp4"},
      {"RealMedia", Text(".RMF"), "rmvb"},
      {"ASF (WMA named as wmv)",
       B({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}),
       "wmv"},
      {"AVI", Cat({Text("RIFF"), B({1, 2, 3, 4}), Text("AVI LIST")}), "avi"},
      {"RIFF with neither AVI nor WAVE", Cat({Text("RIFF"), B({1, 2, 3, 4}), Text("WEBPVP8 ")}), ""},
      {"3GP", Ftyp("3gp5"), "3gp"},
      {"MP3 with ID3v2", id3, "mp3"},
      {"ID3 with FF version byte", Cat({Text("ID3"), B({0xFF, 0, 0})}), ""},
      {"ID3 with a low flag bit", Cat({Text("ID3"), B({3, 0, 0x01})}), ""},
      {"ID3 with a size byte of 80", Cat({Text("ID3"), B({3, 0, 0, 0x80})}), ""},
      {"MIDI", Cat({Text("MThd"), B({0, 0, 0, 6, 0, 1, 0, 2, 0, 0x60}), Text("MTrk")}), "mid"},
      {"MIDI with header length 7", Cat({Text("MThd"), B({0, 0, 0, 7, 0, 1, 0, 2, 0, 0x60}), Text("MTrk")}),
       ""},
      {"WAVE", Cat({Text("RIFF"), B({1, 2, 3, 4}), Text("WAVEfmt ")}), "wav"},
      {"QuickTime moov at 0", Text("moov"), "mov"},
      {"QuickTime ftyp qt", Ftyp("qt  "), "mov"},
      {"GIF89a", Text("GIF89a"), "gif"},
      {"GIF with upper-case A", Text("GIF89A"), ""},
      {"BMP", Cat({Text("BM"), B({0x36, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0, 40, 0, 0, 0})}), "bmp"},
      {"BMP with reserved word set",
       Cat({Text("BM"), B({0x36, 0, 0, 0, 1, 0, 0, 0, 0x36, 0, 0, 0, 40, 0, 0, 0})}), ""},
      {"JPEG JFIF", Cat({B({0xFF, 0xD8, 0xFF, 0xE0, 0, 16}), Text("JFIF")}), "jpg"},
      {"JPEG Exif", Cat({B({0xFF, 0xD8, 0xFF, 0xE1, 0, 16}), Text("Exif")}), "jpg"},
      // Valid JPEG files that open with another marker must not be lost.
      {"JPEG opening with DQT", B({0xFF, 0xD8, 0xFF, 0xDB, 0, 0x43}), "jpg"},
      {"JPEG opening with APP14 (Adobe)", B({0xFF, 0xD8, 0xFF, 0xEE, 0, 14}), "jpg"},
      {"JPEG opening with a comment", B({0xFF, 0xD8, 0xFF, 0xFE, 0, 5}), "jpg"},
      {"JPEG opening with SOF0", B({0xFF, 0xD8, 0xFF, 0xC0}), "jpg"},
      {"JPEG APP1 with XMP instead of Exif", Cat({B({0xFF, 0xD8, 0xFF, 0xE1, 0, 16}), Text("http")}), "jpg"},
      {"SOI then a non-marker byte", B({0xFF, 0xD8, 0xFF, 0x00}), ""},
      {"SOI then EOI", B({0xFF, 0xD8, 0xFF, 0xD9}), ""},
      {"PNG", B({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}), "png"},
      {"PNG with a damaged line end", B({0x89, 'P', 'N', 'G', 0x0D, 0x0D, 0x1A, 0x0A}), ""},
      {"ICO with two contiguous images", IcoWithEntries(2, true), "ico"},
      {"ICO with a gap between images", IcoWithEntries(2, false), ""},
      {"ICO with no image", B({0, 0, 1, 0, 0, 0}), ""},
      {"ICO whose directory does not fit 512 bytes", IcoWithEntries(32, true), ""},
      {"HEIC", Ftyp("heic", {"mif1", "heic"}), "heic"},
      {"HEIC sequence (heix)", Ftyp("heix", {"mif1"}), "heic"},
      {"mif1 with a heic brand", Ftyp("mif1", {"heic"}), "heic"},
      {"msf1 with hevc", Ftyp("msf1", {"iso8", "hevc"}), "heic"},
      {"plain mif1 HEIF", Ftyp("mif1", {"mif1"}), "heif"},
      {"AVIF", Ftyp("avif", {"mif1"}), "avif"},
      {"mif1 with avif", Ftyp("mif1", {"avif"}), "avif"},
      {"M4A audio", Ftyp("M4A ", {"M4A ", "mp42", "isom"}), "m4a"},
      {"M4V video", Ftyp("M4V ", {"M4V ", "mp42", "isom"}), "m4v"},
      {"MP4 mp41", Ftyp("mp41"), "mp4"},
      {"MP4 avc1", Ftyp("avc1"), "mp4"},
      {"3G2 named as 3gp", Ftyp("3g2a"), "3gp"},
      {"QuickTime opening with wide", Cat({B({0, 0, 0, 8}), Text("wide")}), "mov"},
      {"QuickTime opening with mdat", Cat({B({0, 0x10, 0, 0}), Text("mdat")}), "mov"},
      {"atom name with an impossible size", Cat({B({0, 0, 0, 4}), Text("free")}), ""},
      {"unknown ftyp brand", Ftyp("abcd"), ""},
      {"CAF", Cat({Text("caff"), B({0, 1, 0, 0})}), "caf"},
      {"CAF version 2", Cat({Text("caff"), B({0, 2, 0, 0})}), ""},
      {"AMR", Text("#!AMR\n"), "amr"},
      {"AAC ADTS (MPEG-4)", B({0xFF, 0xF1, 0x50, 0x80, 0x2E, 0x7F, 0xFC}), "aac"},
      {"AAC ADTS (MPEG-2, no CRC)", B({0xFF, 0xF9, 0x4C, 0x80, 0x20, 0x1F, 0xFC}), "aac"},
      {"ADTS with sampling index 15", B({0xFF, 0xF1, 0x7C, 0x80, 0x2E, 0x7F}), ""},
      {"MP3 frame without a tag", B({0xFF, 0xFB, 0x90, 0x64}), "mp3"},
      {"MPEG audio layer II frame", B({0xFF, 0xFD, 0x90, 0x64}), ""},
      {"MP3 frame with a bad bitrate", B({0xFF, 0xFB, 0xF0, 0x64}), ""},
      {"all zero", Bytes(512, 0), ""},
      {"nothing at all", Bytes(), ""},
      {"text", Text("hello, world"), ""},
  };
}

TEST(FileTypeTest, DetectsByFirstBytes) {
  for (const Case& c : Cases()) {
    std::string name = "unchanged";
    uint64_t counter = 7;
    EXPECT_EQ(DetectBufferType(c.head, name, counter), kOk);
    if (c.extension.empty()) {
      EXPECT_EQ(name, "unchanged") << c.name;
      EXPECT_EQ(counter, 7u) << c.name;
    } else {
      EXPECT_EQ(name, "7." + std::string(c.extension)) << c.name;
      EXPECT_EQ(counter, 8u) << c.name;
    }
  }
}

TEST(FileTypeTest, KeepsTheClassicTwentyRowsFirstAndInOrder) {
  const auto table = FileTypeTable();
  const std::pair<std::string_view, int> classic[] = {
      {"mpeg", 15}, {"mpg", 15}, {"vob", 15},  {"mp4", 18}, {"rmvb", 23}, {"wmv", 24}, {"wma", 24},
      {"avi", 22},  {"3gp", 16}, {"mp3", 12},  {"mid", 13}, {"wav", 21},  {"mov", 17}, {"gif", 31},
      {"bmp", 29},  {"jpg", 10}, {"jpeg", 10}, {"jpe", 10}, {"png", 30},  {"ico", 46},
  };
  ASSERT_GT(table.size(), std::size(classic));
  for (std::size_t i = 0; i < std::size(classic); ++i) {
    EXPECT_EQ(table[i].extension, classic[i].first) << i;
    EXPECT_EQ(table[i].typeCode, classic[i].second) << i;
  }
  for (const FileTypeRow& row : table) EXPECT_NE(row.typeCode, kFileTypeUnknown) << row.extension;
  EXPECT_EQ(ExtensionOfType(15), "mpeg");
  EXPECT_EQ(ExtensionOfType(24), "wmv");
  EXPECT_EQ(ExtensionOfType(kFileTypeUnknown), "");
}

TEST(FileTypeTest, ShortBuffersAreJudgedZeroFilled) {
  // "RIFF....AVI " and nothing more: "LIST" at 12 reads as zeros.
  EXPECT_EQ(DetectTypeCode(Cat({Text("RIFF"), B({1, 2, 3, 4}), Text("AVI ")})), kFileTypeUnknown);
  // A bitmap header cut after the size field: the zero fill makes 14 read 0.
  EXPECT_EQ(DetectTypeCode(Cat({Text("BM"), B({0x36, 0, 0, 0, 0, 0, 0, 0})})), kFileTypeUnknown);
  // GIF cut before its version letter.
  EXPECT_EQ(DetectTypeCode(Text("GIF89")), kFileTypeUnknown);
  // Longer input is cut at 512 bytes: a system header past 32 bytes still misses.
  Bytes longer(2000, 0x11);
  longer[0] = 0x89, longer[1] = 'P', longer[2] = 'N', longer[3] = 'G';
  longer[4] = 0x0D, longer[5] = 0x0A, longer[6] = 0x1A, longer[7] = 0x0A;
  EXPECT_EQ(DetectTypeCode(longer), 30);
}

class DetectFileTypeTest : public ::testing::Test {
 protected:
  std::filesystem::path Write(const std::string& name, const Bytes& bytes) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  testing::TempFolder folder_{"filetype"};
  const std::filesystem::path dir_ = folder_.Path();
};

TEST_F(DetectFileTypeTest, NamesFilesByCounterAndReportsFailures) {
  uint64_t counter = 0;
  std::string name;
  EXPECT_EQ(
      DetectFileType(Write("a", Cat({B({0xFF, 0xD8, 0xFF, 0xE1, 0, 16}), Text("Exif")})), name, counter),
      kOk);
  EXPECT_EQ(name, "0.jpg");
  EXPECT_EQ(DetectFileType(Write("b", Ftyp("heic", {"mif1"})), name, counter), kOk);
  EXPECT_EQ(name, "1.heic");
  name.clear();
  EXPECT_EQ(DetectFileType(Write("c", Text("plain text")), name, counter), kOk);
  EXPECT_EQ(name, "");
  EXPECT_EQ(counter, 2u);
  EXPECT_EQ(DetectFileType(Write("empty", {}), name, counter), kShortRead);
  EXPECT_EQ((DetectFileType(dir_ / "missing", name, counter)).systemError(), ENOENT);
  EXPECT_NE(DetectFileType(dir_ / "c" / "under-a-file", name, counter), kOk);  // its folder is a file
  EXPECT_EQ(DetectFileType(dir_, name, counter), kShortRead);                  // a folder cannot be read
  EXPECT_EQ(name, "");
  EXPECT_EQ(counter, 2u);
}

// Detection opens files for reading only. Permission bits cannot show that
// when the tests run as root (root opens a read-only file for writing all the
// same), so the file is one nobody may open for writing: the running test
// program itself (the kernel answers "text file busy").
TEST_F(DetectFileTypeTest, ReadsFilesItCannotWrite) {
  const std::filesystem::path self = "/proc/self/exe";
  {
    std::fstream probe(self, std::ios::in | std::ios::out | std::ios::binary);
    if (probe.is_open()) GTEST_SKIP() << "this kernel lets a running program be opened for writing";
  }
  uint64_t counter = 3;
  std::string name;
  EXPECT_EQ(DetectFileType(self, name, counter), kOk);
  EXPECT_EQ(name, "");  // a program is no media file
  EXPECT_EQ(counter, 3u);
}

}  // namespace
}  // namespace corvyn

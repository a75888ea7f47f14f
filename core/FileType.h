// Content-based file type detection for media and attachment files, whose
// names say nothing about their type.
//
// A detector sees the first kSniffLength bytes of the file (zero-filled past
// the end of a shorter file). Signatures, offsets from the start:
//
//   Type (code)    Offset  Bytes / rule
//   MPEG (15)      0       00 00 01 BA and 00 00 01 BB within the first 32 bytes,
//                          or 00 00 01 B3 and 00 00 01 B8 within the first 32
//   MP4 (18)       4, 8    "ftyp", then "iso" or "mp42"
//   RealMedia (23) 0       ".RMF"
//   ASF (24)       0       30 26 B2 75 8E 66 CF 11 A6 D9 00 AA 00 62 CE 6C
//   AVI (22)       0,8,12  "RIFF", "AVI ", "LIST"
//   3GP (16)       4, 8    "ftyp", "3gp"
//   MP3 (12)       0       "ID3"; bytes 3, 4 not FF; byte 5 & 1F == 0; bytes 6-9 < 80
//   MIDI (13)      0,4,14  "MThd", big-endian 6, "MTrk"
//   WAVE (21)      0,8,12  "RIFF", "WAVE", "fmt "
//   QuickTime (17) 0 / 4,8 "moov" at 0, or "ftyp" then "qt  "
//   GIF (31)       0       "GIF", two decimal digits, a lower-case letter
//   BMP (29)       0,6,8,14 "BM" or "BA", two zero words, 32-bit LE 40
//   JPEG (10)      0       FF D8 FF, then a marker byte: C0-CF, DB, DD, E0-EF or FE
//   PNG (30)       0       89 50 4E 47 0D 0A 1A 0A
//   ICO (46)       0,4,6   00 00 01 00, count != 0, directory entries (16 bytes
//                          from 6) with reserved byte 0 and contiguous offsets
//   -- rows after the classic twenty --
//   HEIC (49)      4, 8    "ftyp", brand heic/heix/heim/heis/hevc/hevx, or
//                          mif1/msf1 with a compatible HEVC brand
//   AVIF (51)      4, 8    "ftyp", brand avif/avis, or mif1/msf1 with avif
//   HEIF (50)      4, 8    "ftyp", brand mif1/msf1/heif (no HEVC or AV1 brand)
//   M4A (53)       4, 8    "ftyp", brand "M4A " / "M4B " / "M4P "
//   M4V (52)       4, 8    "ftyp", brand "M4V " / "M4VH" / "M4VP"
//   MP4 (18)       4, 8    "ftyp", brand mp41/avc1/dash/MSNV/f4v /XAVC/mmp4
//   3G2 (16)       4, 8    "ftyp", "3g2"
//   QuickTime (17) 4       atom "moov"/"mdat"/"wide"/"free"/"skip"/"pnot" with a
//                          big-endian atom size at 0 of 0, 1 or at least 8
//   CAF (54)       0       "caff", version 00 01
//   AMR (56)       0       "#!AMR"
//   AAC (55)       0       ADTS: FF, then F0/F1/F8/F9 (layer 0), sampling index < 13
//   MP3 (12)       0       MPEG audio layer III frame header (no ID3 tag)
//
// Rows are tried in table order; the first that matches decides the type code,
// and the first row of that code gives the extension (a WMA is named .wmv).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "platform/Status.h"

namespace corvyn {

inline constexpr std::size_t kSniffLength = 512;
inline constexpr int kFileTypeUnknown = 48;

// Type codes of the rows added after the classic twenty.
inline constexpr int kFileTypeHeic = 49;
inline constexpr int kFileTypeHeif = 50;
inline constexpr int kFileTypeAvif = 51;
inline constexpr int kFileTypeM4v = 52;
inline constexpr int kFileTypeM4a = 53;
inline constexpr int kFileTypeCaf = 54;
inline constexpr int kFileTypeAac = 55;
inline constexpr int kFileTypeAmr = 56;

using FileTypeDetector = bool (*)(std::span<const uint8_t, kSniffLength> head);

struct FileTypeRow {
  std::string_view extension;  // lower case, no dot
  int typeCode = kFileTypeUnknown;
  FileTypeDetector detect = nullptr;
};

// The table in the order it is tried: the classic twenty rows first, then the
// rows for today's phone media.
std::span<const FileTypeRow> FileTypeTable();

// Type code of the bytes (kFileTypeUnknown when no row matches). `head` may be
// shorter or longer than kSniffLength; it is cut or zero-filled to it.
int DetectTypeCode(std::span<const uint8_t> head);

// Extension of the first row of the code; empty for an unknown code.
std::string_view ExtensionOfType(int typeCode);

// Detects the type of the bytes. When recognised, `name` becomes the counter
// in decimal, "." and the type's extension ("7.jpg") and the counter grows by
// 1; otherwise `name` is left as it is. Always returns kOk.
Status DetectBufferType(std::span<const uint8_t> head, std::string& name, uint64_t& counter);

// The same for a file: reads its first kSniffLength bytes (the file is opened
// read-only). Returns kOk after a read (recognised or not), kShortRead when
// the file is empty or cannot be read, and the system error when it cannot be
// opened (name left as it is in both failures).
Status DetectFileType(const std::filesystem::path& path, std::string& name, uint64_t& counter);

}  // namespace corvyn

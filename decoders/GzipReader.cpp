#include "decoders/GzipReader.h"

#include <zlib.h>

#include <climits>

namespace corvyn::decoders {

bool LooksGzipped(std::string_view bytes) {
  return bytes.size() >= 3 && static_cast<uint8_t>(bytes[0]) == 0x1F &&
         static_cast<uint8_t>(bytes[1]) == 0x8B && bytes[2] == 0x08;
}

Status Gunzip(std::string_view packed, std::string& out, std::size_t maxSize) {
  out.clear();
  if (!LooksGzipped(packed)) return Status(kInvalidData, "the data is not gzip-compressed");
  if (packed.size() > UINT_MAX) return Status(kInvalidData, "the compressed data is too large");
  z_stream stream{};
  // 16 + MAX_WBITS: a gzip header and trailer around the deflate data.
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
    return Status(kInvalidData, "the gzip decompressor could not start");
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  int result = Z_OK;
  char chunk[16384];
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    result = inflate(&stream, Z_NO_FLUSH);
    const std::size_t produced = sizeof chunk - stream.avail_out;
    if (out.size() + produced > maxSize) {
      result = Z_MEM_ERROR;
      break;
    }
    out.append(chunk, produced);
  }
  inflateEnd(&stream);
  if (result == Z_STREAM_END) return kOk;
  out.clear();
  if (result == Z_MEM_ERROR)
    return Status(kInvalidData, "the compressed data unpacks to more than the limit");
  return Status(kInvalidData, "the compressed data is damaged or cut short");
}

}  // namespace corvyn::decoders

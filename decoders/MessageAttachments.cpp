#include "decoders/MessageAttachments.h"

namespace corvyn::decoders {

std::string AttachmentBackupKey(std::string_view deviceFileName) {
  constexpr std::string_view kFolder = "Library/SMS/Attachments/";
  const std::size_t at = deviceFileName.find(kFolder);
  // A folder name alone names no file.
  if (at == std::string_view::npos || deviceFileName.size() == at + kFolder.size()) return {};
  return "MediaDomain-" + std::string(deviceFileName.substr(at));
}

}  // namespace corvyn::decoders

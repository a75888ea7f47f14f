// Where a Messages attachment lies in a backup: `attachment.filename` holds
// the device path ("~/Library/SMS/Attachments/9e/14/<GUID>/IMG_0066.HEIC", or
// "/var/mobile/Library/SMS/…"), the backup keeps the file under domain
// MediaDomain with the path from "Library/SMS/Attachments/" on.
#pragma once

#include <string>
#include <string_view>

namespace corvyn::decoders {

// The backup key ("MediaDomain-Library/SMS/Attachments/…") of an attachment's
// device path; empty when the path holds no "Library/SMS/Attachments/" part.
std::string AttachmentBackupKey(std::string_view deviceFileName);

}  // namespace corvyn::decoders

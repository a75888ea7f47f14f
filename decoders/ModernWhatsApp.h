// WhatsApp's ChatStorage.sqlite of the app's newer versions (ZWAMESSAGE with
// 30 and more columns), read by column name: messages, their chats and group
// members, members named by their push names (ZWAPROFILEPUSHNAME) when the
// group lists no name, and the local path of each message's media item.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/Records.h"
#include "platform/Status.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableScans.h"

namespace corvyn::decoders {

// The text of a media message sent without words: "[Photo: name]",
// "[Video: name]", "[Audio: name]", "[Document: name]", "[GIF: name]",
// "[Sticker: name]" by ZMESSAGETYPE, "[Attachment: name]" for other kinds;
// "[Photo]" etc. without a file name.
std::string WhatsAppMediaText(int32_t messageType, std::string_view fileName);

// True when ZWAMESSAGE declares ZTEXT and ZCHATSESSION and has another
// column count than the layouts with fixed positions (27 to 29): newer
// versions (30 and more) and cut-down stores.
bool HasNamedWhatsAppTables(const sqlite::SqliteDbReader& reader);

// The rows the WhatsApp decoder joins: messages (text, date, direction,
// chat, member; `extra` holds the media item's path under the shared
// container's "Message/" folder, e.g. "Message/Media/.../x.jpg", when there
// is one; a photo, video, place, contact... sent without words gets a text
// naming it, see WhatsAppMediaText, "[Location: lat, long]", "[Contact:
// names]"), chats and members (member names: the group's, else the push
// name, else the JID's part before '@'). Live, free-page and carved rows.
Status ScanNamedWhatsApp(sqlite::SqliteDbReader& reader, std::vector<WhatsAppRecord>& messages,
                         std::vector<sqlite::WhatsAppChatRow>& chats,
                         std::vector<sqlite::WhatsAppMemberRow>& members);

}  // namespace corvyn::decoders

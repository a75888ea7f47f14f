// Scans of the Messages tables of iOS 10 and later (sms.db with 51 to 78+
// `message` columns), every column found by its declared name in the
// table's CREATE TABLE text; the expected column count of a complete record
// (for carving) is the declared count. Live rows come with deleted 0, rows
// from free pages and carved rows with deleted 1. Each scan returns kOk or
// the first page-read error; a record its decoder rejects is skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/MessageList.h"
#include "core/Records.h"
#include "platform/Status.h"
#include "sqlite/SqliteDbReader.h"

namespace corvyn::sqlite {

// True when the `message` table's declared columns include `attributedBody`
// (the tables of iOS 10 and later, and of macOS Messages).
bool HasModernMessageTable(const SqliteDbReader& reader);

// False when the database declares a `message` table without a `date`
// column or without both `text` and `attributedBody`; true otherwise (also
// when there is no such table or its schema cannot be read).
bool HasKnownMessageColumns(const SqliteDbReader& reader);

// Turns the bytes of an `attributedBody` value into its plain text
// (std::nullopt when it holds none).
using AttributedBodyText = std::optional<std::string> (*)(std::string_view stream);

// `message`: MessageRecord with deleted, sent (is_from_me holds 1), messageId
// (rowid), handleId, date (seconds or nanoseconds since 2001, told apart per
// value), text (`text`, or when it is NULL or empty the text `bodyText` finds
// in `attributedBody`), edited (date_edited set and not unsent) and unsent
// (date_retracted set, or date_edited set with neither text nor body).
// Columns the table does not declare count as NULL. highestRowid gets the
// largest rowid decoded. kInvalidData when the schema cannot be read.
Status ScanModernMessages(SqliteDbReader& reader, AttributedBodyText bodyText,
                          std::vector<MessageRecord>& out, uint64_t& highestRowid);
Status ScanModernMessages(SqliteDbReader& reader, AttributedBodyText bodyText, MessageList& out,
                          uint64_t& highestRowid);

// `chat`: one conversation (one-to-one or group).
struct ChatRow {
  int32_t deleted = 0;
  int32_t rowId = 0;
  int32_t style = 0;        // 43: group chat, 45: one-to-one
  std::string identifier;   // chat_identifier: the address, or "chat…" for groups
  std::string displayName;  // display_name: a group's name
};

// `chat_message_join` and `chat_handle_join`: chat_id with message_id or handle_id.
struct ChatJoinRow {
  int32_t deleted = 0;
  int32_t chatId = 0;
  int32_t otherId = 0;
};

// Each is kOk with nothing read when the table does not exist.
Status ScanChats(SqliteDbReader& reader, std::vector<ChatRow>& out);
Status ScanChatMessageJoins(SqliteDbReader& reader, std::vector<ChatJoinRow>& out);
Status ScanChatHandleJoins(SqliteDbReader& reader, std::vector<ChatJoinRow>& out);
// `chat_recoverable_message_join` (iOS 16 and later): messages the owner
// deleted that the phone keeps about 30 days ("Recently Deleted").
Status ScanRecoverableMessageJoins(SqliteDbReader& reader, std::vector<ChatJoinRow>& out);

}  // namespace corvyn::sqlite

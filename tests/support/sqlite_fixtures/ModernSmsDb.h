// A small sms.db of today's Messages (iOS 16 layout: 82 `message` columns)
// with one-to-one and group chats, a text kept only in attributedBody,
// edited and unsent messages, a message in "Recently Deleted", an attachment, a date in seconds, and deleted
// messages whose bytes stay in the file. The expected messages come with it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/sqlite_fixtures/SqliteFixture.h"

namespace corvyn::testing {

// An NSArchiver typedstream of an NSMutableAttributedString holding `text`,
// laid out as Messages writes attributedBody.
std::vector<uint8_t> AttributedBodyBytes(std::string_view text);

struct ModernSmsMessage {
  int64_t rowId = 0;
  bool deleted = false;          // its row was deleted (only its bytes are left)
  bool recentlyDeleted = false;  // its row is live but in "Recently Deleted"
  std::string text;              // what a reader should show (from text or attributedBody)
  int32_t handleId = 0;
  int32_t chatId = 0;
  bool sent = false;
  bool edited = false;
  bool unsent = false;
  int64_t cocoaSeconds = 0;  // date, seconds since 2001
  std::string attachment;    // attachment.filename of its first attachment
};

struct ModernSmsTruth {
  std::vector<ModernSmsMessage> messages;  // every message ever inserted, by rowid
  int32_t groupChatId = 0;
  std::string groupName;
  std::vector<std::string> groupAddresses;   // the group's members, in join order
  std::vector<std::string> handleAddresses;  // handle rowid i + 1
};

// Builds the file at `path` (replaced); false and *error on failure.
bool BuildModernSmsDb(const std::filesystem::path& path, ModernSmsTruth& truth, std::string* error = nullptr);

// The same layout with `count` live messages, the text of every second one
// only in attributedBody (for benchmarks); no chats beyond one.
bool BuildLargeModernSmsDb(const std::filesystem::path& path, int64_t count, std::string* error = nullptr);

}  // namespace corvyn::testing

// Test support: a backup of a phone of today (iOS 16/17 layout of every
// application database) in the Manifest.db layout, with what a scan must
// find. Its databases come from the fixture builders of today's layouts:
// sms.db with chats, bodies only in attributedBody, edited, unsent and
// deleted messages and attachments (whose files the backup holds); the
// address book with ABPerson/ABMultiValue; CallHistory.storedata with the
// 21-column ZCALLRECORD; the Notes store; WhatsApp's ChatStorage.sqlite.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/Status.h"
#include "tests/support/backup_builder/BackupBuilder.h"
#include "tests/support/sqlite_fixtures/ModernSmsDb.h"
#include "tests/support/sqlite_fixtures/NoteStoreBuilder.h"

namespace corvyn::testsupport {

struct TodayBackup {
  BackupBuilder builder;
  corvyn::testing::ModernSmsTruth messages;
  std::vector<corvyn::testing::ExpectedNote> notes;
  // The databases as they were put into the backup (in the scratch folder),
  // for reading them directly.
  std::filesystem::path smsDb, addressBook, callHistory, noteStore, chatStorage;
  // Names of the message attachment files the backup holds, as the
  // Message Attachments list names them.
  std::vector<std::string> attachmentNames;
};

// Builds the backup in memory (databases made in `scratch`, a folder the
// caller owns); write it with builder.WriteNewerLayout. The phone is an
// iPhone of iOS 17.3.
Status MakeTodayBackup(const std::filesystem::path& scratch, TodayBackup& out);

}  // namespace corvyn::testsupport

// Test support: small application databases in the iOS 6 to 8 layouts the
// decoders read (the tables of tests/support/sqlite_fixtures/AppSchemas, made
// with the SQLite library), with what they hold.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Status.h"

namespace corvyn::testsupport {

struct TruthMessage {
  int32_t handleId = 0;
  std::string address;  // the handle's address
  std::string text;
  int32_t sent = 0;
};

struct TruthContact {
  std::string first;
  std::string last;
  std::string phone;
};

struct TruthCall {
  std::string number;
  int32_t duration = 0;
  int32_t incoming = 0;
};

struct TruthNote {
  std::string title;
  std::string body;
};

struct TruthWhatsApp {
  int32_t sessionId = 0;
  std::string text;
  int32_t sent = 0;
};

// The live rows the fixture databases hold (nothing deleted).
struct DatabaseTruth {
  std::vector<TruthMessage> messages;
  std::vector<TruthContact> contacts;
  std::vector<TruthCall> calls;
  std::vector<TruthNote> notes;
  std::vector<TruthWhatsApp> whatsApp;
  std::string whatsAppPartner = "Anna Berger";  // the chat's partner name (its title)
  std::string whatsAppJid = "4915112345678@s.whatsapp.net";
  // Message rows filled as a phone fills them (a UUID guid, the account and
  // its guid, read and delivered dates, version and flags) instead of only
  // the columns the program reads: databases of a real phone's size.
  bool phoneSizedMessageRows = false;
};

// The fixture contents (the same every time).
DatabaseTruth FixtureTruth();

// The same shape with hostile texts in every field a report or a path takes:
// markup and script, quotes, commas and line breaks, spreadsheet formulas,
// path separators and "..", names ending in dots and spaces, control
// characters.
DatabaseTruth HostileTruth();

// Each writes one database file (replacing it) holding the truth's rows
// (FixtureTruth() unless given). Return kOk or kInvalidData when SQLite fails.
Status WriteMessagesDb(const std::filesystem::path& path, const DatabaseTruth& truth = FixtureTruth());
Status WriteAddressBookDb(const std::filesystem::path& path, const DatabaseTruth& truth = FixtureTruth());
// table `call`
Status WriteOlderCallHistoryDb(const std::filesystem::path& path,
                               const DatabaseTruth& truth = FixtureTruth());
// table ZCALLRECORD
Status WriteCallHistoryStoreDb(const std::filesystem::path& path,
                               const DatabaseTruth& truth = FixtureTruth());
Status WriteNotesDb(const std::filesystem::path& path, const DatabaseTruth& truth = FixtureTruth());
Status WriteWhatsAppDb(const std::filesystem::path& path, const DatabaseTruth& truth = FixtureTruth());

}  // namespace corvyn::testsupport

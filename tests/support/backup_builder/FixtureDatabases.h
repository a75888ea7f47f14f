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
};

// The fixture contents (the same every time).
DatabaseTruth FixtureTruth();

// Each writes one database file (replacing it) holding FixtureTruth()'s rows.
// Return kOk or kInvalidData when SQLite fails.
Status WriteMessagesDb(const std::filesystem::path& path);
Status WriteAddressBookDb(const std::filesystem::path& path);
Status WriteOlderCallHistoryDb(const std::filesystem::path& path);  // table `call`
Status WriteCallHistoryStoreDb(const std::filesystem::path& path);  // table ZCALLRECORD
Status WriteNotesDb(const std::filesystem::path& path);
Status WriteWhatsAppDb(const std::filesystem::path& path);

}  // namespace corvyn::testsupport

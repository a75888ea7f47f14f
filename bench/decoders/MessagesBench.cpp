// Messages decoded end to end: 100,000 messages over 2,000 handles, 10,000
// attachments, named from 5,000 contacts. Prints the whole time and the share
// spent in the joins (handles, contact names, attachments). Goal: the joins
// take under a tenth of the whole, which reading dominates.
//
// Usage: corvyn_decoders_bench [work folder]   (default: the system temp folder)
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "decoders/DecoderSteps.h"
#include "decoders/Decoders.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableScans.h"

namespace {

constexpr int kMessages = 100000;
constexpr int kHandles = 2000;
constexpr int kContacts = 5000;
constexpr int kAttachments = 10000;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration elapsed) {
  return std::chrono::duration<double>(elapsed).count();
}

void Exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::fprintf(stderr, "%s: %s\n", sql.c_str(), message ? message : "?");
    sqlite3_free(message);
    std::exit(1);
  }
}

std::string Columns(int count) {
  std::string columns = "c0 INTEGER PRIMARY KEY";
  for (int column = 1; column < count; ++column) columns += ", c" + std::to_string(column);
  return columns;
}

std::string Placeholders(int count) {
  std::string text = "?";
  for (int column = 1; column < count; ++column) text += ",?";
  return text;
}

std::string HandleAddress(int handle) {
  return "+49151" + std::to_string(1000000 + handle * 37);
}

void BuildMessageDb(const std::filesystem::path& path, std::mt19937& random) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  Exec(db, "PRAGMA page_size=4096; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN");
  Exec(db, "CREATE TABLE message (" + Columns(38) + ")");
  Exec(db, "CREATE TABLE handle (" + Columns(5) + ")");
  Exec(db, "CREATE TABLE attachment (" + Columns(9) + ")");
  Exec(db, "CREATE TABLE message_attachment_join (message_id INTEGER, attachment_id INTEGER)");

  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, ("INSERT INTO handle VALUES (" + Placeholders(5) + ")").c_str(), -1, &statement,
                     nullptr);
  for (int handle = 1; handle <= kHandles; ++handle) {
    const std::string address = HandleAddress(handle);
    sqlite3_bind_int(statement, 1, handle);
    sqlite3_bind_text(statement, 2, address.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 4, "SMS", -1, SQLITE_STATIC);
    sqlite3_step(statement);
    sqlite3_reset(statement);
  }
  sqlite3_finalize(statement);

  sqlite3_prepare_v2(db, ("INSERT INTO message VALUES (" + Placeholders(38) + ")").c_str(), -1, &statement,
                     nullptr);
  const std::string filler =
      "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor.";
  for (int message = 1; message <= kMessages; ++message) {
    const std::string text = std::to_string(message) + " " + filler.substr(0, 20 + random() % 60);
    const std::string guid = "GUID-" + std::to_string(message * 7919);
    sqlite3_bind_int(statement, 1, message);
    sqlite3_bind_text(statement, 2, guid.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 3, text.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(statement, 6, 1 + static_cast<int>(random() % kHandles));
    sqlite3_bind_text(statement, 12, "SMS", -1, SQLITE_STATIC);
    sqlite3_bind_int64(statement, 16, 400000000 + static_cast<int64_t>(random() % 100000000));
    sqlite3_bind_int(statement, 22, static_cast<int>(random() % 2));
    sqlite3_step(statement);
    sqlite3_reset(statement);
  }
  sqlite3_finalize(statement);

  sqlite3_prepare_v2(db, ("INSERT INTO attachment VALUES (" + Placeholders(9) + ")").c_str(), -1, &statement,
                     nullptr);
  for (int attachment = 1; attachment <= kAttachments; ++attachment) {
    const std::string name = "~/Library/SMS/Attachments/" + std::to_string(attachment % 256) + "/IMG_" +
                             std::to_string(attachment) + ".JPG";
    sqlite3_bind_int(statement, 1, attachment);
    sqlite3_bind_text(statement, 5, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(statement);
    sqlite3_reset(statement);
  }
  sqlite3_finalize(statement);
  for (int attachment = 1; attachment <= kAttachments; ++attachment) {
    Exec(db, "INSERT INTO message_attachment_join VALUES (" + std::to_string(1 + random() % kMessages) + "," +
                 std::to_string(attachment) + ")");
  }
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

// Every other handle's number is in the address book, in three forms.
void BuildAddressBook(const std::filesystem::path& path) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  Exec(db, "PRAGMA page_size=4096; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN");
  Exec(db, "CREATE TABLE ABPersonFullTextSearch_content (" + Columns(24) + ")");
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db,
                     ("INSERT INTO ABPersonFullTextSearch_content VALUES (" + Placeholders(24) + ")").c_str(),
                     -1, &statement, nullptr);
  for (int contact = 1; contact <= kContacts; ++contact) {
    const int handle = contact * 2;
    const std::string number =
        handle <= kHandles ? HandleAddress(handle) : "+4930" + std::to_string(5000000 + contact);
    const std::string phones = number + " 0" + number.substr(3) + " " + number.substr(3) + " ";
    const std::string first = "First" + std::to_string(contact);
    sqlite3_bind_int(statement, 1, contact);
    sqlite3_bind_text(statement, 2, first.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 3, "Last", -1, SQLITE_STATIC);
    sqlite3_bind_text(statement, 17, phones.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(statement);
    sqlite3_reset(statement);
  }
  sqlite3_finalize(statement);
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace corvyn;
  const std::filesystem::path folder = argc > 1
                                           ? std::filesystem::path(argv[1])
                                           : std::filesystem::temp_directory_path() / "corvyn-decoders-bench";
  std::filesystem::create_directories(folder);
  const auto messageDb = folder / "sms.db";
  const auto addressBook = folder / "AddressBook.sqlitedb";
  std::mt19937 random(2024);
  BuildMessageDb(messageDb, random);
  BuildAddressBook(addressBook);

  constexpr int kRuns = 3;
  double bestWhole = 1e9;
  double bestJoins = 1e9;
  std::size_t delivered = 0;
  std::size_t named = 0;
  for (int run = 0; run < kRuns; ++run) {
    ConversationMap conversations;
    int64_t highest = 0;
    const auto start = Clock::now();
    const Status status = decoders::DecodeMessages(conversations, messageDb, addressBook, {}, highest);
    bestWhole = std::min(bestWhole, Seconds(Clock::now() - start));
    if (status != kOk) {
      std::fprintf(stderr, "DecodeMessages failed: %s\n", status.Message().c_str());
      return 1;
    }
    delivered = 0;
    named = 0;
    for (const auto& [handle, messages] : conversations) {
      delivered += messages.size();
      for (const auto& message : messages) named += message.name.empty() ? 0 : 1;
    }

    // The same joins on the same rows, timed alone.
    decoders::MessageTables tables;
    sqlite::SqliteDbReader reader;
    (void)reader.Open(messageDb);
    uint64_t highestRowid = 0;
    (void)sqlite::ScanMessages(reader, tables.messages, highestRowid);
    (void)sqlite::ScanHandles(reader, tables.handles);
    (void)sqlite::ScanAttachments(reader, tables.attachments);
    (void)sqlite::ScanMessageAttachmentJoins(reader, tables.joins);
    (void)reader.Open(addressBook);
    (void)sqlite::ScanContacts(reader, tables.contacts);
    const auto joinStart = Clock::now();
    decoders::JoinMessages(tables);
    bestJoins = std::min(bestJoins, Seconds(Clock::now() - joinStart));
  }

  std::printf("messages decoded: %zu (named: %zu) from %d handles, %d contacts, %d attachments\n", delivered,
              named, kHandles, kContacts, kAttachments);
  std::printf("end to end: %.3f s (best of %d)\n", bestWhole, kRuns);
  std::printf("joins:      %.3f s = %.1f%% of the whole (goal < 10%%)\n", bestJoins,
              100.0 * bestJoins / bestWhole);
  std::filesystem::remove_all(folder);
  return 0;
}

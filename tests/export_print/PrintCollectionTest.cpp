#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/ScanResults.h"
#include "core/Statistics.h"
#include "export/PrintCollection.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::exporting {
namespace {

// One scan with two records of every printable category: the first live, the
// second deleted. Every record is registered and checked.
struct Scan {
  ScanResults results;
  CStatisticsObj statistics;

  Scan() {
    MessageRecord conversation;
    conversation.handleId = 7;
    conversation.name = "Ann";
    MessageRecord deletedConversation = conversation;
    deletedConversation.handleId = 8;
    deletedConversation.deleted = 1;
    results.conversationRows = {conversation, deletedConversation};
    results.conversations[7] = {Message(1, "Ann", "+100", "2021-01-01 10:00:00", "Hi there"),
                                Message(0, "Unknown", "+100", "2021-01-01 10:01:00", "Hello")};
    results.conversations[8] = {Message(0, "", "+200", "2021-02-02 09:00:00", "Gone message")};

    results.contacts = {Contact(0, "Bob", "+1\n+2", "Acme", "bob@example.com", "http://bob.example"),
                        Contact(1, "Carl", "+3", "", "", "")};
    results.calls = {Call(0, 1, 3725, "Dana"), Call(1, 0, 125, "Eve")};
    results.notes = {Note(0, "Shopping", "Milk\nBread"), Note(1, "Secret", "Old text")};

    WhatsAppRecord chat;
    chat.sessionId = 3;
    chat.chatTitle = "Family";
    chat.senderName = "Fay";
    chat.senderId = "31600@s.whatsapp.net";
    WhatsAppRecord group = chat;
    group.sessionId = 4;
    group.deleted = 1;
    group.chatTitle = "Team";
    group.memberName = "Gus, Hal";
    group.memberPhone = "+44";
    results.whatsAppChatRows = {chat, group};
    results.whatsAppChats[3] = {Chat(1, "Me", "", "2022-03-03 08:00:00", "Morning"),
                                Chat(0, "Fay", "31600", "2022-03-03 08:05:00", "Hi")};
    results.whatsAppChats[4] = {Chat(0, "", "44@s.whatsapp.net", "2022-04-04 12:00:00", "Anyone?")};

    Register(RecordCategory::kMessages, results.conversationRows);
    Register(RecordCategory::kContacts, results.contacts);
    Register(RecordCategory::kCallHistory, results.calls);
    Register(RecordCategory::kNotes, results.notes);
    Register(RecordCategory::kWhatsApp, results.whatsAppChatRows);
  }

  template <class Record>
  void Register(RecordCategory category, const std::vector<Record>& records) {
    std::vector<CStatisticsObj::Item> items;
    for (const Record& record : records) items.push_back({&record, kMinimumRecordWeight, record.deleted});
    statistics.RegisterCategory(category, results.ContainerOf(category), items);
  }

  static MessageRecord Message(int sent, std::string name, std::string address, std::string date,
                               std::string text) {
    MessageRecord message;
    message.sent = sent;
    message.name = std::move(name);
    message.address = std::move(address);
    message.date = std::move(date);
    message.text = std::move(text);
    return message;
  }
  static ContactRecord Contact(int deleted, std::string name, std::string phones, std::string company,
                               std::string email, std::string url) {
    ContactRecord contact;
    contact.deleted = deleted;
    contact.name = std::move(name);
    contact.phones = std::move(phones);
    contact.company = std::move(company);
    contact.email = std::move(email);
    contact.url = std::move(url);
    contact.address = "never printed";
    return contact;
  }
  static CallRecord Call(int deleted, int incoming, int duration, std::string name) {
    CallRecord call;
    call.deleted = deleted;
    call.incoming = incoming;
    call.duration = duration;
    call.name = std::move(name);
    call.number = "+5" + std::to_string(duration);
    call.date = "2020-05-05 05:05:05";
    return call;
  }
  static NoteRecord Note(int deleted, std::string title, std::string content) {
    NoteRecord note;
    note.deleted = deleted;
    note.title = std::move(title);
    note.content = std::move(content);
    note.date = "2019-09-09 09:09:09";
    return note;
  }
  static WhatsAppRecord Chat(int sent, std::string senderName, std::string senderId, std::string date,
                             std::string text) {
    WhatsAppRecord message;
    message.sent = sent;
    message.senderName = std::move(senderName);
    message.senderId = std::move(senderId);
    message.date = std::move(date);
    message.text = std::move(text);
    return message;
  }
};

std::string Collect(const Scan& scan, RecordCategory category, bool onlyDeleted = false) {
  std::string body;
  const Status status = CollectPrintBody(scan.results, scan.statistics, {category, onlyDeleted}, {}, &body);
  EXPECT_EQ(status, kOk);
  return body;
}

// The exact body of every category, and of the deleted-only view of each.
TEST(PrintCollectionTest, BodiesOfEveryCategory) {
  const Scan scan;
  struct Row {
    RecordCategory category;
    bool onlyDeleted;
    std::string body;
  };
  const std::vector<Row> rows = {
      {RecordCategory::kMessages, false,
       "<div>\r\n<p><span>To:</span>Ann(+100)</p>\r\n<p><span>Date:</span>2021-01-01 10:00:00</p>\r\n"
       "<p><span>Content:</span>Hi there</p>\r\n</div>\r\n"
       "<div>\r\n<p><span>From:</span>+100</p>\r\n<p><span>Date:</span>2021-01-01 10:01:00</p>\r\n"
       "<p><span>Content:</span>Hello</p>\r\n</div>\r\n"
       "<div>\r\n<p><span>From:</span>+200</p>\r\n<p><span>Date:</span>2021-02-02 09:00:00</p>\r\n"
       "<p><span>Content:</span>Gone message</p>\r\n</div>\r\n"},
      {RecordCategory::kMessages, true,
       "<div>\r\n<p><span>From:</span>+200</p>\r\n<p><span>Date:</span>2021-02-02 09:00:00</p>\r\n"
       "<p><span>Content:</span>Gone message</p>\r\n</div>\r\n"},
      {RecordCategory::kContacts, false,
       "<div>\r\n<p><span>Name:</span>Bob</p>\r\n<p><span>Phone Number:</span>+1<br />+2</p>\r\n"
       "<p><span>Company:</span>Acme</p>\r\n<p><span>Email:</span>bob@example.com</p>\r\n"
       "<p><span>URL:</span>http://bob.example</p>\r\n</div>\r\n"
       "<div>\r\n<p><span>Name:</span>Carl</p>\r\n<p><span>Phone Number:</span>+3</p>\r\n"
       "<p><span>Company:</span></p>\r\n<p><span>Email:</span></p>\r\n<p><span>URL:</span></p>\r\n</"
       "div>\r\n"},
      {RecordCategory::kContacts, true,
       "<div>\r\n<p><span>Name:</span>Carl</p>\r\n<p><span>Phone Number:</span>+3</p>\r\n"
       "<p><span>Company:</span></p>\r\n<p><span>Email:</span></p>\r\n<p><span>URL:</span></p>\r\n</"
       "div>\r\n"},
      {RecordCategory::kCallHistory, false,
       "<div>\r\n<p><span>Name:</span>Dana</p>\r\n<p><span>Phone Number:</span>+53725</p>\r\n"
       "<p><span>Date:</span>2020-05-05 05:05:05</p>\r\n<p><span>Type:</span>Incoming</p>\r\n"
       "<p><span>Duration:</span>1 Hour 2 Min</p>\r\n</div>\r\n"
       "<div>\r\n<p><span>Name:</span>Eve</p>\r\n<p><span>Phone Number:</span>+5125</p>\r\n"
       "<p><span>Date:</span>2020-05-05 05:05:05</p>\r\n<p><span>Type:</span>Outgoing</p>\r\n"
       "<p><span>Duration:</span>2 Min 5 Sec</p>\r\n</div>\r\n"},
      {RecordCategory::kNotes, false,
       "<div>\r\n<p><span>Title:</span>Shopping</p>\r\n<p><span>Date:</span>2019-09-09 09:09:09</p>\r\n"
       "<p><span>Notes:</span>Milk<br />Bread</p>\r\n</div>\r\n"
       "<div>\r\n<p><span>Title:</span>Secret</p>\r\n<p><span>Date:</span>2019-09-09 09:09:09</p>\r\n"
       "<p><span>Notes:</span>Old text</p>\r\n</div>\r\n"},
      {RecordCategory::kNotes, true,
       "<div>\r\n<p><span>Title:</span>Secret</p>\r\n<p><span>Date:</span>2019-09-09 09:09:09</p>\r\n"
       "<p><span>Notes:</span>Old text</p>\r\n</div>\r\n"},
      {RecordCategory::kWhatsApp, false,
       "<div>\r\n<p><span>Chats:</span>Family</p>\r\n<p><span>Name:</span>Fay</p>\r\n"
       "<p><span>Phone Number:</span>31600@s.whatsapp.net</p>\r\n<p><span>Content:</span></p>\r\n"
       "<p>Me (2022-03-03 08:00:00): Morning</p>\r\n<p>Fay (2022-03-03 08:05:00): Hi</p>\r\n</div>\r\n"
       "<div>\r\n<p><span>Chats:</span>Team</p>\r\n<p><span>Name:</span>Gus, Hal</p>\r\n"
       "<p><span>Phone Number:</span>+44</p>\r\n<p><span>Content:</span></p>\r\n"
       "<p>44@s.whatsapp.net (2022-04-04 12:00:00): Anyone?</p>\r\n</div>\r\n"},
      {RecordCategory::kWhatsApp, true,
       "<div>\r\n<p><span>Chats:</span>Team</p>\r\n<p><span>Name:</span>Gus, Hal</p>\r\n"
       "<p><span>Phone Number:</span>+44</p>\r\n<p><span>Content:</span></p>\r\n"
       "<p>44@s.whatsapp.net (2022-04-04 12:00:00): Anyone?</p>\r\n</div>\r\n"},
      // Categories without a print form collect nothing.
      {RecordCategory::kCameraRoll, false, ""},
      {RecordCategory::kMessageAttachments, false, ""},
      {RecordCategory::kNone, false, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(CategoryLabel(row.category)) + (row.onlyDeleted ? " (deleted only)" : ""));
    EXPECT_EQ(Collect(scan, row.category, row.onlyDeleted), row.body);
  }
}

// Unchecked records, and records the selection does not know, are skipped;
// an unchecked conversation leaves out all its messages.
TEST(PrintCollectionTest, SkipsUncheckedRecords) {
  Scan scan;
  ASSERT_TRUE(scan.statistics.SetChecked(&scan.results.calls[0], false));
  ASSERT_TRUE(scan.statistics.SetChecked(&scan.results.conversationRows[0], false));
  ASSERT_TRUE(scan.statistics.SetChecked(&scan.results.whatsAppChatRows[1], false));
  NoteRecord stranger = scan.results.notes[0];
  stranger.title = "Stranger";
  scan.results.notes.push_back(stranger);  // never registered

  EXPECT_EQ(Collect(scan, RecordCategory::kCallHistory).find("Dana"), std::string::npos);
  EXPECT_NE(Collect(scan, RecordCategory::kCallHistory).find("Eve"), std::string::npos);
  const std::string messages = Collect(scan, RecordCategory::kMessages);
  EXPECT_EQ(messages.find("Hi there"), std::string::npos);
  EXPECT_EQ(messages.find("Hello"), std::string::npos);
  EXPECT_NE(messages.find("Gone message"), std::string::npos);
  EXPECT_EQ(Collect(scan, RecordCategory::kWhatsApp).find("Team"), std::string::npos);
  EXPECT_EQ(Collect(scan, RecordCategory::kNotes).find("Stranger"), std::string::npos);
}

// A note of the Notes store prints its folder under its title; a locked one
// says so instead of giving its text.
TEST(PrintCollectionTest, NoteFolderAndLock) {
  Scan scan;
  scan.results.notes[0].folder = "Home";
  scan.results.notes[0].locked = 1;
  const std::string body = Collect(scan, RecordCategory::kNotes);
  EXPECT_NE(body.find("<p><span>Title:</span>Shopping</p>\r\n<p><span>Folder:</span>Home</p>\r\n"),
            std::string::npos);
  EXPECT_NE(body.find("<p><span>Notes:</span>Locked: the note is protected by a password.</p>"),
            std::string::npos);
  EXPECT_EQ(body.find("Milk"), std::string::npos);
}

// A call of zero seconds is "Missed" when it came in and "Canceled" when it
// went out; other durations are the shared duration text.
TEST(PrintCollectionTest, CallDurations) {
  struct Row {
    int incoming;
    int duration;
    std::string text;
  };
  const std::vector<Row> rows = {
      {1, 0, "Missed"},       {0, 0, "Canceled"},        {1, 59, "59 Sec"},
      {0, 60, "1 Min 0 Sec"}, {1, 3600, "1 Hour 0 Min"},
  };
  for (const Row& row : rows) {
    Scan scan;
    scan.results.calls = {Scan::Call(0, row.incoming, row.duration, "X")};
    scan.Register(RecordCategory::kCallHistory, scan.results.calls);
    EXPECT_NE(
        Collect(scan, RecordCategory::kCallHistory).find("<p><span>Duration:</span>" + row.text + "</p>"),
        std::string::npos)
        << row.incoming << " " << row.duration;
  }
}

// Record texts never become markup: every field of every category escapes
// markup characters, and invalid UTF-8 is replaced.
TEST(PrintCollectionTest, EscapesHostileTexts) {
  const std::string hostile = "<script>alert(1)</script>&\"'<img src=x onerror=alert(2)>\xff";
  const std::string escaped =
      "&lt;script&gt;alert(1)&lt;/script&gt;&amp;&quot;&#39;&lt;img src=x onerror=alert(2)&gt;\xEF\xBF\xBD";
  Scan scan;
  for (auto* message : {&scan.results.conversations[7][0], &scan.results.conversations[7][1]}) {
    message->name = message->address = message->date = message->text = hostile;
  }
  for (ContactRecord& contact : scan.results.contacts) {
    contact.name = contact.phones = contact.company = contact.email = contact.url = hostile;
  }
  for (CallRecord& call : scan.results.calls) call.name = call.number = call.date = hostile;
  for (NoteRecord& note : scan.results.notes) note.title = note.date = note.content = hostile;
  for (WhatsAppRecord& chat : scan.results.whatsAppChatRows) {
    chat.chatTitle = chat.memberName = chat.memberPhone = chat.senderName = hostile;
  }
  for (WhatsAppRecord& message : scan.results.whatsAppChats[3]) {
    message.senderName = message.date = message.text = hostile;
  }

  for (RecordCategory category :
       {RecordCategory::kMessages, RecordCategory::kContacts, RecordCategory::kCallHistory,
        RecordCategory::kNotes, RecordCategory::kWhatsApp}) {
    SCOPED_TRACE(std::string(CategoryLabel(category)));
    const std::string body = Collect(scan, category);
    EXPECT_NE(body.find(escaped), std::string::npos);
    // The only tags left are the collection's own.
    std::string tags;
    for (std::size_t at = body.find('<'); at != std::string::npos; at = body.find('<', at + 1)) {
      tags += body.substr(at, body.find('>', at) - at + 1);
    }
    EXPECT_EQ(tags.find("<script"), std::string::npos);
    EXPECT_EQ(tags.find("<img"), std::string::npos);
    EXPECT_EQ(body.find('\xff'), std::string::npos);
  }
}

// The cancel check is asked before every record or message; a true answer
// stops at once with the blocks made so far.
TEST(PrintCollectionTest, CancelStopsBeforeTheNextRecord) {
  const Scan scan;
  struct Row {
    RecordCategory category;
    int units;  // records, or messages for conversations
  };
  const std::vector<Row> rows = {{RecordCategory::kMessages, 3},
                                 {RecordCategory::kContacts, 2},
                                 {RecordCategory::kCallHistory, 2},
                                 {RecordCategory::kNotes, 2}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(CategoryLabel(row.category)));
    int asked = 0;
    std::string body;
    EXPECT_EQ(CollectPrintBody(
                  scan.results, scan.statistics, {row.category, false}, [&] { return ++asked > 1; }, &body),
              kStopped);
    EXPECT_EQ(asked, 2);
    std::size_t blocks = 0;
    for (std::size_t at = body.find("<div>"); at != std::string::npos; at = body.find("<div>", at + 1))
      ++blocks;
    EXPECT_EQ(blocks, 1u);
    EXPECT_NE(body.rfind("</div>\r\n"), std::string::npos);

    asked = 0;
    body.clear();
    EXPECT_EQ(CollectPrintBody(
                  scan.results, scan.statistics, {row.category, false}, [&] { return ++asked < 0; }, &body),
              kOk);
    EXPECT_EQ(asked, row.units);
  }
  // A WhatsApp chat stopped between its messages still closes its block.
  int asked = 0;
  std::string body;
  EXPECT_EQ(CollectPrintBody(
                scan.results, scan.statistics, {RecordCategory::kWhatsApp, false},
                [&] { return ++asked > 2; }, &body),
            kStopped);
  EXPECT_EQ(body,
            "<div>\r\n<p><span>Chats:</span>Family</p>\r\n<p><span>Name:</span>Fay</p>\r\n"
            "<p><span>Phone Number:</span>31600@s.whatsapp.net</p>\r\n<p><span>Content:</span></p>\r\n"
            "<p>Me (2022-03-03 08:00:00): Morning</p>\r\n</div>\r\n");
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The page is head + body + tail of the template, in a folder made when
// missing; a template that cannot be used leaves the body alone and says why.
TEST(PrintCollectionTest, WritesThePage) {
  const testing::TempFolder temp("print");
  const Scan scan;
  WriteFile(temp / "good.html", "<html>{|content|}<p>end {|content|}</p></html>");
  WriteFile(temp / "unmarked.html", "<html></html>");
  const std::string notes = Collect(scan, RecordCategory::kNotes);

  struct Row {
    std::string templateName;
    std::string page;
    bool templateOk;
  };
  const std::vector<Row> rows = {
      {"good.html", "<html>" + notes + "<p>end {|content|}</p></html>", true},
      {"unmarked.html", notes, false},
      {"missing.html", notes, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.templateName);
    const PrintPaths paths{temp / row.templateName, temp / "Print" / "nested"};
    Status templateStatus;
    std::filesystem::path page;
    ASSERT_EQ(MakePrintPage(scan.results, scan.statistics, {RecordCategory::kNotes, false}, {}, paths,
                            &templateStatus, &page),
              kOk);
    EXPECT_EQ(templateStatus.ok(), row.templateOk) << templateStatus;
    EXPECT_EQ(page, temp / "Print" / "nested" / "page.html");
    EXPECT_EQ(ReadFile(page), row.page);
  }
  PrintTemplate loaded;
  const Status missing = LoadPrintTemplate(temp / "missing.html", &loaded);
  EXPECT_EQ(missing, Status::System(ENOENT, ""));
}

}  // namespace
}  // namespace corvyn::exporting

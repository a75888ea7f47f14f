#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/TextFormat.h"
#include "export/ConversationWriter.h"
#include "export/ExportReporter.h"
#include "export/ExportText.h"
#include "export/ReportTemplate.h"
#include "export/RowReport.h"
#include "tests/export/ExportTestSupport.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::exporting {
namespace {
namespace fs = std::filesystem;
using testing::ParseCsv;
using testing::ReadFile;

// Records what a writer reports.
class RecordingSink final : public IExportSink {
 public:
  void OnProgress(const std::string&, int percent, const ExportCounts&) override {
    percents.push_back(percent);
  }
  void OnDetail(const ExportDetail& detail, const ExportCounts&) override { details.push_back(detail); }
  std::vector<int> percents;
  std::vector<ExportDetail> details;
};

class ReportWritersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteTemplates(temp_.Path() / "template");
    for (const ReportKind kind : {ReportKind::kMessages, ReportKind::kWhatsApp, ReportKind::kCallHistory}) {
      ASSERT_EQ(
          LoadReportTemplate(temp_.Path() / "template", kind, "Dev <b>", templates_[static_cast<int>(kind)]),
          kOk);
    }
  }
  const ReportTemplate& Page(ReportKind kind) const { return templates_[static_cast<int>(kind)]; }

  corvyn::testing::TempFolder temp_{"writers"};
  ReportTemplate templates_[5];
  RecordingSink sink_;
  ExportReporter reporter_{&sink_, nullptr};
};

TEST_F(ReportWritersTest, TemplateTitleIsFilledAndAMissingMarkerIsRefused) {
  EXPECT_NE(Page(ReportKind::kMessages).head.find("<title>iPhone's Messages of Dev &lt;b&gt;</title>"),
            std::string::npos);
  EXPECT_EQ(Page(ReportKind::kMessages).head.find("{|title|}"), std::string::npos);
  std::ofstream(temp_.Path() / "template" / "Notes.html") << "<html>no marker</html>";
  ReportTemplate page;
  const Status status = LoadReportTemplate(temp_.Path() / "template", ReportKind::kNotes, "", page);
  EXPECT_EQ(status, kInvalidData);
  EXPECT_NE(status.Message().find("{|content|}"), std::string::npos);
  EXPECT_TRUE(LoadReportTemplate(temp_.Path() / "none", ReportKind::kNotes, "", page).IsSystemError());
}

TEST_F(ReportWritersTest, TableRowsOfCallsNotesAndContacts) {
  struct CallRow_ {
    int32_t duration, incoming;
    std::string expected;
  };
  const CallRow_ calls[] = {{3725, 1, "1 Hour 2 Min"}, {125, 0, "2 Min 5 Sec"}, {59, 1, "59 Sec"},
                            {0, 1, "Missed"},          {0, 0, "Canceled"},      {-5, 0, "-5 Sec"}};
  for (const auto& row : calls) {
    CallRecord call;
    call.duration = row.duration;
    call.incoming = row.incoming;
    EXPECT_EQ(CallDurationText(call), row.expected) << row.duration;
  }
  CallRecord call{0, 1, 65, "2014-05-13 18:53:20", "=1+1", "<b>Anna</b>"};
  EXPECT_EQ(CallRow(call),
            "\t<tr><td>&lt;b&gt;Anna&lt;/b&gt;</td><td>=1+1</td><td>2014-05-13 18:53:20</td><td>Incoming</td>"
            "<td>1 Min 5 Sec</td></tr>\r\n");
  call.callType = "<FaceTime Audio>";
  EXPECT_NE(CallRow(call).find("<td>Incoming (&lt;FaceTime Audio&gt;)</td>"), std::string::npos);
  ContactRecord contact;
  contact.name = "Anna";
  contact.phones = "+49 1\n<2>";
  EXPECT_NE(ContactRow(contact).find("<td>+49 1<br />&lt;2&gt;</td>"), std::string::npos);
  NoteRecord note{0, 1, "2014-01-01 00:00:00", "Title", "<div>x</div>"};
  EXPECT_EQ(NoteRow(note),
            "\t<tr><td>Title</td><td>2014-01-01 00:00:00</td><td>&lt;div&gt;x&lt;/div&gt;</td></tr>\r\n");
}

TEST_F(ReportWritersTest, NoteRowNamesItsFolderAndSaysWhenItIsLocked) {
  NoteRecord note;
  note.title = "Diary";
  note.date = "2020-01-06 10:48:20";
  note.folder = "<Private>";
  note.locked = 1;
  note.content = "never shown";
  EXPECT_EQ(NoteRow(note),
            "\t<tr><td>Diary<br />Folder: &lt;Private&gt;</td><td>2020-01-06 10:48:20</td>"
            "<td>Locked: the note is protected by a password.</td></tr>\r\n");
  note.locked = 0;
  note.folder.clear();
  EXPECT_EQ(NoteContentText(note), "never shown");
  EXPECT_EQ(NoteRow(note).find("Folder"), std::string::npos);
}

TEST_F(ReportWritersTest, MessagePageMarksSentReceivedAndDeleted) {
  MessageRecord row;
  row.name = "Anna";
  row.address = "+491";
  std::vector<MessageRecord> messages(4);
  const int flags[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};  // deleted, sent
  for (int i = 0; i < 4; ++i) {
    messages[i].deleted = flags[i][0];
    messages[i].sent = flags[i][1];
    messages[i].date = "2014-01-0" + std::to_string(i + 1) + " 10:00:00";
    messages[i].name = i == 0 ? "Unknown" : "Anna";
    messages[i].address = "+491";
    messages[i].text = "text " + std::to_string(i) + " <i>";
  }
  ASSERT_EQ(WriteMessageConversation(temp_.Path() / "Message", "20140101000000", row, &messages,
                                     Page(ReportKind::kMessages), reporter_),
            kOk);
  const fs::path folder = temp_.Path() / "Message" / "Anna-20140101000000";
  const std::string page = ReadFile(folder / "Anna(+491).html");
  EXPECT_NE(page.find("<p>Name: Anna, Phone: +491</p>"), std::string::npos);
  const char* expected[] = {
      "<div class=\"date\">Date: 2014-01-01 10:00:00 +491:</div>\r\n<div class=\"recv_msg\">text 0 "
      "&lt;i&gt;</div>",
      "<div class=\"date\">Date: 2014-01-02 10:00:00 Anna:</div>\r\n<div class=\"del_recv_msg\">text 1",
      "<div class=\"date\">Date: 2014-01-03 10:00:00 Me:</div>\r\n<div class=\"send_msg\">text 2",
      "<div class=\"date\">Date: 2014-01-04 10:00:00 Me:</div>\r\n<div class=\"del_send_msg\">text 3",
  };
  std::size_t from = 0;
  for (const char* entry : expected) {
    const std::size_t at = page.find(entry, from);
    ASSERT_NE(at, std::string::npos) << entry;
    from = at;
  }
  EXPECT_NE(page.find("</table></body></html>"), std::string::npos);
  EXPECT_EQ(sink_.percents, (std::vector<int>{25, 50, 75, 99, 100}));
  ASSERT_EQ(sink_.details.size(), 1u);
  EXPECT_EQ(sink_.details[0].path, (folder / "Anna(+491).html").string());

  const std::string transcript = ReadFile(folder / "Anna(+491).txt");
  ASSERT_EQ(transcript.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(transcript.find(
                "      From: +491\r\n      Data: 2014-01-01 10:00:00\r\n   Content: text 0 <i>\r\n\r\n"),
            std::string::npos);
  EXPECT_NE(transcript.find("        To: Anna(+491)\r\n"), std::string::npos);
  for (std::size_t at = transcript.find('\n'); at != std::string::npos; at = transcript.find('\n', at + 1)) {
    ASSERT_EQ(transcript[at - 1], '\r') << at;
  }

  // The same conversation again: same folder, files counted before the extension.
  ASSERT_EQ(WriteMessageConversation(temp_.Path() / "Message", "20140101000000", row, &messages,
                                     Page(ReportKind::kMessages), reporter_),
            kOk);
  EXPECT_TRUE(fs::exists(folder / "Anna(+491)(1).html"));
  EXPECT_TRUE(fs::exists(folder / "Anna(+491)(1).txt"));
}

TEST_F(ReportWritersTest, GroupChatPageNamesTheChatAndMarksEditedAndUnsentMessages) {
  MessageRecord row;
  row.name = "Ben";  // the last sender, not the conversation
  row.address = "+492";
  row.members = "Anna <+491>, +492";
  std::vector<MessageRecord> messages(3);
  const int marks[3][2] = {{0, 0}, {1, 0}, {1, 1}};  // edited, unsent
  for (int i = 0; i < 3; ++i) {
    messages[i] = row;
    messages[i].date = "2023-01-0" + std::to_string(i + 1) + " 10:00:00";
    messages[i].text = "text " + std::to_string(i);
    messages[i].edited = marks[i][0] != 0 && marks[i][1] == 0 ? 1 : 0;
    messages[i].unsent = marks[i][1];
  }
  EXPECT_EQ(MessageMark(messages[0]), "");
  EXPECT_EQ(MessageMark(messages[1]), "Edited");
  EXPECT_EQ(MessageMark(messages[2]), "Unsent");
  for (const std::string chatName : {"Climbing", ""}) {
    row.chatName = chatName;
    const std::string name = chatName.empty() ? "Group chat" : chatName;
    EXPECT_EQ(ConversationName(row), name);
    ASSERT_EQ(WriteMessageConversation(temp_.Path() / "Message", "1", row, &messages,
                                       Page(ReportKind::kMessages), reporter_),
              kOk);
    const fs::path folder = temp_.Path() / "Message" / (name + "-1");
    const std::string page = ReadFile(folder / (name + ".html"));
    EXPECT_NE(page.find("<p>Name: " + name + ", Members: Anna &lt;+491&gt;, +492</p>"), std::string::npos);
    EXPECT_NE(page.find("text 0</div>"), std::string::npos);
    EXPECT_NE(page.find("text 1 <span class=\"mark\">(Edited)</span></div>"), std::string::npos);
    EXPECT_NE(page.find("text 2 <span class=\"mark\">(Unsent)</span></div>"), std::string::npos);
    const std::string transcript = ReadFile(folder / (name + ".txt"));
    EXPECT_NE(transcript.find("   Content: text 0\r\n\r\n"), std::string::npos);
    EXPECT_NE(transcript.find("   Content: text 1\r\n      Note: Edited\r\n\r\n"), std::string::npos);
    EXPECT_NE(transcript.find("   Content: text 2\r\n      Note: Unsent\r\n\r\n"), std::string::npos);
  }
}

TEST_F(ReportWritersTest, WhatsAppLabelsAndCsvRowsParseBack) {
  WhatsAppRecord row;
  const struct {
    std::string memberName, memberPhone, chatTitle, expected;
  } labels[] = {{"Anna", "+491", "t", "Anna(+491)"},
                {"", "+491", "t", "+491"},
                {"Anna,Ben", "+491,+492", "Group", "Group"},
                {"", "", "", "Unknown"}};
  for (const auto& label : labels) {
    row.memberName = label.memberName;
    row.memberPhone = label.memberPhone;
    row.chatTitle = label.chatTitle;
    EXPECT_EQ(WhatsAppLabel(row), label.expected);
  }
  row.memberName = "Anna,Ben";
  row.chatTitle = "../../up";
  std::vector<WhatsAppRecord> messages(3);
  const std::string texts[] = {"\"quoted\", comma, line\nbreak", "=1+1", "<script>alert(1)</script>"};
  for (int i = 0; i < 3; ++i) {
    messages[i].text = texts[i];
    messages[i].sent = i % 2;
    messages[i].senderName = "@me";
    messages[i].senderId = "a,b";
    messages[i].date = "2014-01-01 10:00:00";
  }
  ASSERT_EQ(WriteWhatsAppConversation(temp_.Path() / "WhatsApp Message", "20140101000000", row, &messages,
                                      Page(ReportKind::kWhatsApp), reporter_),
            kOk);
  EXPECT_EQ(sink_.percents, (std::vector<int>{33, 66, 99, 100}));
  const fs::path folder = temp_.Path() / "WhatsApp Message" / "___.._up-20140101000000";
  const std::string csv = ReadFile(folder / "___.._up.csv");
  ASSERT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
  bool ok = false;
  const auto rows = ParseCsv(csv.substr(3), &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"Chats", "Name/Phone", "Date", "Type", "Content"}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"'@me", "a,b", "2014-01-01 10:00:00", "Received", texts[0]}));
  EXPECT_EQ(rows[2][3], "Send");
  EXPECT_EQ(rows[2][4], "'=1+1");
  EXPECT_EQ(rows[3][4], texts[2]);
  const std::string page = ReadFile(folder / "___.._up.html");
  EXPECT_EQ(page.find("<script>"), std::string::npos);
  EXPECT_NE(page.find("&quot;quoted&quot;, comma, line<br />break"), std::string::npos);
}

TEST_F(ReportWritersTest, ACancelKeepsTheMessagesSoFarAndTheTail) {
  ExportControl control;
  ExportReporter reporter(&sink_, &control);
  control.Cancel();
  MessageRecord row;
  row.name = "Ben";
  std::vector<MessageRecord> messages(3);
  for (auto& m : messages) m.text = "hello";
  EXPECT_EQ(
      WriteMessageConversation(temp_.Path(), "1", row, &messages, Page(ReportKind::kMessages), reporter),
      kStopped);
  const std::string page = ReadFile(temp_.Path() / "Ben-1" / "Ben.html");
  EXPECT_NE(page.find("recv_msg\">hello</div>"), std::string::npos);
  EXPECT_NE(page.find("</html>"), std::string::npos);
  EXPECT_EQ(reporter.Counts().done, 0u);
  EXPECT_TRUE(sink_.details.empty());
}

TEST_F(ReportWritersTest, WriteFailuresAreReturnedNotHidden) {
  // A conversation folder that is a file.
  std::ofstream(temp_.Path() / "Ben-1") << "in the way";
  MessageRecord row;
  row.name = "Ben";
  EXPECT_TRUE(
      WriteMessageConversation(temp_.Path(), "1", row, nullptr, Page(ReportKind::kMessages), reporter_)
          .IsSystemError());
  EXPECT_EQ(reporter_.Counts().failed, 1u);
  ASSERT_EQ(reporter_.Failures().size(), 1u);
  EXPECT_FALSE(reporter_.Failures()[0].StatusText().empty());

  // A report whose device is full: the failure shows when the file is closed.
  if (fs::exists("/dev/full")) {
    RowReport full(Page(ReportKind::kCallHistory), "/dev/full");
    full.Add("\t<tr><td>x</td></tr>\r\n");
    const Status status = full.Finish();
    EXPECT_TRUE(status.IsSystemError());
    EXPECT_EQ(status.systemError(), ENOSPC);
  }
  RowReport blocked(Page(ReportKind::kCallHistory), temp_.Path() / "Ben-1" / "CallHistory_1.html");
  blocked.Add("row");
  EXPECT_TRUE(blocked.Finish().IsSystemError());
  RowReport empty(Page(ReportKind::kCallHistory), temp_.Path() / "Ben-1" / "x.html");
  EXPECT_EQ(empty.Finish(), kOk);
}

}  // namespace
}  // namespace corvyn::exporting

namespace corvyn::exporting {
namespace {

// A message that is only a picture shows the picture's name where its text
// would be; a message with words keeps them, attachment or not.
TEST_F(ReportWritersTest, AttachmentOnlyMessagesNameTheirAttachment) {
  struct Case {
    std::string text;
    std::string attachment;
    std::string shown;
  };
  const std::string placeholder = "\xEF\xBF\xBC";  // U+FFFC
  const Case cases[] = {
      {"", "IMG_0066.HEIC", "[Attachment: IMG_0066.HEIC]"},
      {placeholder + placeholder, "IMG_0067.PNG", "[Attachment: IMG_0067.PNG]"},
      {placeholder + " Look <b>", "IMG_0068.PNG", placeholder + " Look <b>"},
      {"", "", ""},
  };
  MessageRecord row;
  row.name = "Anna";
  row.address = "+491";
  std::vector<MessageRecord> messages;
  for (const Case& c : cases) {
    MessageRecord m = row;
    m.date = "2020-01-01 10:00:00";
    m.text = c.text;
    m.attachment = c.attachment;
    EXPECT_EQ(MessageBodyText(m.text, m.attachment), c.shown) << c.attachment;
    messages.push_back(m);
  }
  ASSERT_EQ(WriteMessageConversation(temp_.Path() / "Message", "1", row, &messages,
                                     Page(ReportKind::kMessages), reporter_),
            kOk);
  const fs::path folder = temp_.Path() / "Message" / "Anna-1";
  const std::string page = ReadFile(folder / "Anna(+491).html");
  EXPECT_NE(page.find("<div class=\"recv_msg\">[Attachment: IMG_0066.HEIC]</div>"), std::string::npos);
  EXPECT_NE(page.find("<div class=\"recv_msg\">[Attachment: IMG_0067.PNG]</div>"), std::string::npos);
  EXPECT_NE(page.find("Look &lt;b&gt;</div>"), std::string::npos);
  const std::string transcript = ReadFile(folder / "Anna(+491).txt");
  EXPECT_NE(transcript.find("   Content: [Attachment: IMG_0066.HEIC]\r\n"), std::string::npos);
  EXPECT_NE(transcript.find("   Content: [Attachment: IMG_0067.PNG]\r\n"), std::string::npos);
}

}  // namespace
}  // namespace corvyn::exporting

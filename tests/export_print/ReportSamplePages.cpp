// Writes one page of every report kind from the real templates, for the
// browser check and the screenshots:
//
//   report_sample_pages hostile TEMPLATE_FOLDER OUTPUT_FOLDER
//   report_sample_pages demo    TEMPLATE_FOLDER OUTPUT_FOLDER
//
// The five report pages are filled here the way the report writers fill
// them (title and person markers replaced, values HTML-escaped, body at the
// content marker); the print pages are made by the print collection itself.
//
// hostile: every text carries markup that would become script or an image if
// it were not escaped, plus the word "sample-record-<kind>" that the check
// looks for in the rendered text. It also writes OUTPUT_FOLDER/../probe/, the
// same templates with unescaped markup, to show that the pages' policy keeps
// even that from running.
// demo: a few realistic records of each kind, one of them deleted.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/ScanResults.h"
#include "core/Statistics.h"
#include "core/TextFormat.h"
#include "export/ExportText.h"
#include "export/PrintCollection.h"

namespace {
namespace fs = std::filesystem;
using namespace corvyn;

// Escapes as a correct report writer does.
std::string Escape(const std::string& text) {
  return exporting::HtmlEscape(text, /*lineBreaks=*/true);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary);
  file << text;
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

void ReplaceAll(std::string& text, const std::string& marker, const std::string& value) {
  for (std::size_t at = text.find(marker); at != std::string::npos;
       at = text.find(marker, at + value.size())) {
    text.replace(at, marker.size(), value);
  }
}

// Head with its markers filled, then the body, then the tail.
std::string FillTemplate(const fs::path& templatePath, const std::string& title, const std::string& person,
                         const std::string& body) {
  const std::string text = ReadFile(templatePath);
  const std::size_t marker = text.find("{|content|}");
  if (marker == std::string::npos) throw std::runtime_error(templatePath.string() + " has no content marker");
  std::string head = text.substr(0, marker);
  ReplaceAll(head, "{|title|}", title);
  ReplaceAll(head, "{|person|}", person);
  return head + body + text.substr(marker + 11);
}

std::string TableRow(bool deleted, const std::vector<std::string>& values, bool escape = true) {
  std::string row = deleted ? "\t<tr class=\"deleted\">" : "\t<tr>";
  for (const std::string& value : values) row += "<td>" + (escape ? Escape(value) : value) + "</td>";
  return row + "</tr>\r\n";
}

struct ChatLine {
  bool sent;
  bool deleted;
  std::string date;
  std::string sender;
  std::string text;
};

std::string ChatBody(const std::vector<ChatLine>& lines, bool escape = true) {
  std::string body;
  for (const ChatLine& line : lines) {
    const std::string who = line.sent ? "Me" : (escape ? Escape(line.sender) : line.sender);
    body +=
        "<div class=\"date\">Date: " + (escape ? Escape(line.date) : line.date) + " " + who + ":</div>\r\n";
    const char* kind = line.sent ? (line.deleted ? "del_send_msg" : "send_msg")
                                 : (line.deleted ? "del_recv_msg" : "recv_msg");
    body +=
        std::string("<div class=\"") + kind + "\">" + (escape ? Escape(line.text) : line.text) + "</div>\r\n";
  }
  return body;
}

struct Content {
  std::string device;
  std::vector<CallRecord> calls;
  std::vector<NoteRecord> notes;
  std::vector<ContactRecord> contacts;
  std::string smsPerson;
  std::vector<ChatLine> sms;
  std::string whatsAppPerson;
  std::vector<ChatLine> whatsApp;
};

CallRecord Call(int deleted, int incoming, int duration, std::string date, std::string number,
                std::string name) {
  CallRecord call;
  call.deleted = deleted;
  call.incoming = incoming;
  call.duration = duration;
  call.date = std::move(date);
  call.number = std::move(number);
  call.name = std::move(name);
  return call;
}

NoteRecord Note(int deleted, std::string date, std::string title, std::string content) {
  NoteRecord note;
  note.deleted = deleted;
  note.date = std::move(date);
  note.title = std::move(title);
  note.content = std::move(content);
  return note;
}

ContactRecord Contact(int deleted, std::string name, std::string phones, std::string email,
                      std::string address, std::string url, std::string company) {
  ContactRecord contact;
  contact.deleted = deleted;
  contact.name = std::move(name);
  contact.phones = std::move(phones);
  contact.email = std::move(email);
  contact.address = std::move(address);
  contact.url = std::move(url);
  contact.company = std::move(company);
  return contact;
}

Content DemoContent() {
  Content content;
  content.device = "Emma's iPhone";
  content.calls = {
      Call(0, 1, 754, "2024-03-18 09:12:40", "+44 20 7946 0018", "Oliver Bennett"),
      Call(0, 0, 0, "2024-03-18 12:03:11", "+44 7700 900123", "Dr. Priya Shah"),
      Call(1, 1, 0, "2024-03-17 21:47:05", "+44 7700 900456", "Lucas Moreau"),
      Call(0, 0, 3725, "2024-03-17 18:30:22", "+33 1 70 36 39 50", "Camille Laurent"),
      Call(0, 1, 48, "2024-03-16 08:05:59", "+44 7700 900789", ""),
  };
  content.notes = {
      Note(0, "2024-03-15 19:20:04", "Groceries", "Oat milk\nSourdough\nTomatoes, basil\nCoffee beans"),
      Note(1, "2024-02-28 07:45:31", "Gate code", "Side entrance: 4812 (changed in March)"),
      Note(0, "2024-01-09 22:10:17", "Book list",
           "The Left Hand of Darkness; Piranesi; A Psalm for the Wild-Built; Klara and the Sun"),
  };
  content.contacts = {
      Contact(0, "Oliver Bennett", "+44 20 7946 0018\n+44 7700 900321", "oliver@bennett.example",
              "12 Harbour Lane, Bristol", "https://bennett.example", "Bennett & Co"),
      Contact(1, "Lucas Moreau", "+44 7700 900456", "lucas.moreau@example.org", "", "", ""),
      Contact(0, "Dr. Priya Shah", "+44 7700 900123", "p.shah@clinic.example", "3 Elm Row, Edinburgh", "",
              "Elm Row Clinic"),
      Contact(0, "Camille Laurent", "+33 1 70 36 39 50", "camille@laurent.example", "", "",
              "Atelier Laurent"),
  };
  content.smsPerson = "Name: Oliver Bennett, Phone: +44 7700 900321";
  content.sms = {
      {false, false, "2024-03-18 08:55:02", "Oliver Bennett", "Morning! Are we still on for lunch today?"},
      {true, false, "2024-03-18 08:57:40", "", "Yes, 12:30 at the usual place. I'll book a table."},
      {false, true, "2024-03-18 09:01:13", "Oliver Bennett",
       "Can you bring the printed contract? Page 4 needs a signature."},
      {true, true, "2024-03-18 09:02:50", "", "Sure, I'll print it now."},
      {false, false, "2024-03-18 12:41:07", "Oliver Bennett", "Running 10 minutes late, sorry!"},
      {true, false, "2024-03-18 12:41:55", "", "No problem, see you there."},
  };
  content.whatsAppPerson = "Name: Camille Laurent, Phone: +33 1 70 36 39 50";
  content.whatsApp = {
      {false, false, "2024-03-17 18:02:11", "Camille Laurent",
       "Bonsoir! Did the photos from Saturday come through?"},
      {true, false, "2024-03-17 18:04:36", "",
       "They did, they're lovely. The one by the river is my favourite."},
      {false, true, "2024-03-17 18:05:50", "Camille Laurent",
       "I'll send the full-resolution files tomorrow."},
      {true, false, "2024-03-17 18:07:02", "", "Perfect, merci!"},
  };
  return content;
}

Content HostileContent() {
  const std::string script = "<script>alert(1)</script>";
  const std::string image = "<img src=x onerror=alert(2)>";
  const std::string both = script + image + " & \"quoted\" 'text'";
  Content content;
  content.device = "Phone " + script;
  for (int deleted : {0, 1}) {
    content.calls.push_back(
        Call(deleted, deleted, 61, "2024-01-01 " + script, image, "sample-record-call " + both));
    content.notes.push_back(
        Note(deleted, "2024-01-02 " + image, "sample-record-note " + both, both + "\n" + both));
    content.contacts.push_back(
        Contact(deleted, "sample-record-contact " + both, both + "\n" + image, both, both, both, both));
    content.sms.push_back(
        {deleted == 1, deleted == 1, "2024-01-03 " + image, both, "sample-record-sms " + both});
    content.whatsApp.push_back(
        {deleted == 0, deleted == 1, "2024-01-04 " + script, both, "sample-record-whatsapp " + both});
  }
  content.smsPerson = "Name: " + both + ", Phone: " + image;
  content.whatsAppPerson = "Name: " + both + ", Phone: " + script;
  return content;
}

// The five report pages.
void WriteReports(const Content& content, const fs::path& templates, const fs::path& output, bool escape) {
  const auto value = [&](const std::string& text) { return escape ? Escape(text) : text; };
  std::string calls, notes, contacts;
  for (const CallRecord& call : content.calls) {
    const std::string duration =
        call.duration == 0 ? (call.incoming == 1 ? "Missed" : "Canceled") : DurationText(call.duration);
    calls += TableRow(
        call.deleted == 1,
        {call.name, call.number, call.date, call.incoming == 1 ? "Incoming" : "Outgoing", duration}, escape);
  }
  for (const NoteRecord& note : content.notes) {
    notes += TableRow(note.deleted == 1, {note.title, note.date, note.content}, escape);
  }
  for (const ContactRecord& contact : content.contacts) {
    contacts += TableRow(contact.deleted == 1,
                         {contact.name, contact.phones, contact.email, contact.address, contact.url,
                          contact.social, contact.company},
                         escape);
  }
  const std::string device = value(content.device);
  WriteFile(output / "CallHistory.html",
            FillTemplate(templates / "CallHistory.html", "iPhone's Call History of " + device, "", calls));
  WriteFile(output / "Notes.html",
            FillTemplate(templates / "Notes.html", "iPhone's Notes of " + device, "", notes));
  WriteFile(output / "contacts.html",
            FillTemplate(templates / "contacts.html", "iPhone's Contacts of " + device, "", contacts));
  WriteFile(output / "Sms.html", FillTemplate(templates / "Sms.html", "iPhone's Messages of " + device,
                                              value(content.smsPerson), ChatBody(content.sms, escape)));
  WriteFile(output / "WhatsApp.html",
            FillTemplate(templates / "WhatsApp.html", "iPhone's WhatsApp Messages of " + device,
                         value(content.whatsAppPerson), ChatBody(content.whatsApp, escape)));
}

// The scan that holds the content, every record checked.
struct Scan {
  ScanResults results;
  CStatisticsObj statistics;

  explicit Scan(const Content& content) {
    results.calls = content.calls;
    results.notes = content.notes;
    results.contacts = content.contacts;
    MessageRecord conversation;
    conversation.handleId = 1;
    results.conversationRows = {conversation};
    for (const ChatLine& line : content.sms) {
      MessageRecord message;
      message.sent = line.sent;
      message.deleted = line.deleted;
      message.date = line.date;
      message.name = line.sender;
      message.address = "+44 7700 900321";
      message.text = line.text;
      results.conversations[1].push_back(message);
    }
    WhatsAppRecord chat;
    chat.sessionId = 2;
    chat.chatTitle = content.whatsApp.empty() ? "" : content.whatsApp.front().sender;
    chat.senderName = chat.chatTitle;
    chat.senderId = "33170363950@s.whatsapp.net";
    results.whatsAppChatRows = {chat};
    for (const ChatLine& line : content.whatsApp) {
      WhatsAppRecord message;
      message.sent = line.sent;
      message.deleted = line.deleted;
      message.date = line.date;
      message.senderName = line.sent ? "Me" : line.sender;
      message.text = line.text;
      results.whatsAppChats[2].push_back(message);
    }
    Register(RecordCategory::kCallHistory, results.calls);
    Register(RecordCategory::kNotes, results.notes);
    Register(RecordCategory::kContacts, results.contacts);
    Register(RecordCategory::kMessages, results.conversationRows);
    Register(RecordCategory::kWhatsApp, results.whatsAppChatRows);
  }

  template <class Record>
  void Register(RecordCategory category, const std::vector<Record>& records) {
    std::vector<CStatisticsObj::Item> items;
    for (const Record& record : records) items.push_back({&record, kMinimumRecordWeight, record.deleted});
    statistics.RegisterCategory(category, results.ContainerOf(category), items);
  }
};

void WritePrintPage(const Scan& scan, RecordCategory category, const fs::path& templates,
                    const fs::path& folder) {
  Status templateStatus;
  const Status written = exporting::MakePrintPage(scan.results, scan.statistics, {category, false}, {},
                                                  {templates / "Print.html", folder}, &templateStatus);
  if (!templateStatus.ok()) throw std::runtime_error("print template: " + templateStatus.Message());
  if (!written.ok()) throw std::runtime_error("print page: " + written.Message());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::string(argv[1]) != "hostile" && std::string(argv[1]) != "demo")) {
    std::fprintf(stderr, "usage: %s hostile|demo TEMPLATE_FOLDER OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const bool hostile = std::string(argv[1]) == "hostile";
  const fs::path templates = argv[2];
  const fs::path output = argv[3];
  try {
    const Content content = hostile ? HostileContent() : DemoContent();
    WriteReports(content, templates, output, true);
    const Scan scan(content);
    if (hostile) {
      for (RecordCategory category :
           {RecordCategory::kMessages, RecordCategory::kContacts, RecordCategory::kCallHistory,
            RecordCategory::kNotes, RecordCategory::kWhatsApp}) {
        std::string name(CategoryLabel(category));
        for (char& c : name) c = c == ' ' ? '-' : c;
        WritePrintPage(scan, category, templates, output / ("Print-" + name));
      }
      // Unescaped markup: only the pages' policy stands between it and the browser.
      const fs::path probe = output.parent_path() / "probe";
      Content unescaped;
      unescaped.device = "probe";
      const std::string attack =
          "<script>document.title='pwned'</script><img src=x onerror=\"document.title='pwned'\">";
      unescaped.calls = {Call(0, 1, 1, attack, attack, "sample-record-probe")};
      unescaped.notes = {Note(0, attack, "sample-record-probe", attack)};
      unescaped.contacts = {Contact(0, "sample-record-probe", attack, attack, "", "", "")};
      unescaped.sms = {{false, false, "now", attack, "sample-record-probe " + attack}};
      unescaped.whatsApp = unescaped.sms;
      WriteReports(unescaped, templates, probe, false);
      std::string print = ReadFile(templates / "Print.html");
      print.replace(print.find("{|content|}"), 11, "<div><p>sample-record-probe " + attack + "</p></div>");
      WriteFile(probe / "Print" / "page.html", print);
    } else {
      WritePrintPage(scan, RecordCategory::kCallHistory, templates, output / "Print");
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "report_sample_pages: %s\n", error.what());
    return 1;
  }
  return 0;
}

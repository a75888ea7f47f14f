#include "export/PrintCollection.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>
#include <vector>

#include "core/TextFormat.h"
#include "core/Utf8.h"
#include "export/CallText.h"
#include "export/ExportText.h"
#include "platform/SpecialFolders.h"

namespace corvyn::exporting {
namespace fs = std::filesystem;
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The current errno (EIO when the call left none) for `what` on `path`.
Status LastError(std::string_view what, const fs::path& path) {
  return Status::System(errno != 0 ? errno : EIO, std::string(what) + " " + path.string());
}

// The value as page text: invalid UTF-8 replaced, & < > " ' as character
// references, each line break as "<br />".
void AppendHtmlText(std::string_view value, std::string& out) {
  out += HtmlEscape(value, /*lineBreaks=*/true);
}

// Builds the blocks of one page body.
class BodyWriter {
 public:
  explicit BodyWriter(std::string& body) : body_(body) {}

  void Open() { body_ += "<div>\r\n"; }
  void Close() { body_ += "</div>\r\n"; }

  // "<p><span>label</span>value</p>": the label is ours, the value escaped.
  void Line(std::string_view label, std::string_view value) {
    body_ += "<p><span>";
    body_ += label;
    body_ += "</span>";
    AppendHtmlText(value, body_);
    body_ += "</p>\r\n";
  }

  // One message of a WhatsApp chat: "<p>sender (date): text</p>".
  void ChatLine(std::string_view sender, std::string_view date, std::string_view text) {
    body_ += "<p>";
    AppendHtmlText(sender, body_);
    body_ += " (";
    AppendHtmlText(date, body_);
    body_ += "): ";
    AppendHtmlText(text, body_);
    body_ += "</p>\r\n";
  }

  void Raw(std::string_view markup) { body_ += markup; }

 private:
  std::string& body_;
};

bool Cancelled(const PrintCancelCheck& cancel) {
  return cancel && cancel();
}

// A row takes part when it is checked and, with the deleted-only view, deleted.
template <class Record>
bool Takes(const Record& record, const CStatisticsObj& statistics, const PrintSelection& selection) {
  if (selection.onlyDeleted && record.deleted == 0) return false;
  return statistics.IsChecked(&record);
}

// The name with its address in brackets, or the address alone when the name
// is empty or the decoders' "Unknown".
std::string MessagePartner(const MessageRecord& message) {
  if (message.name.empty() || message.name == "Unknown") return message.address;
  return message.name + "(" + message.address + ")";
}

std::string CallDuration(const CallRecord& call) {
  if (call.duration == 0) return call.incoming == 1 ? "Missed" : "Canceled";
  return DurationText(call.duration);
}

Status CollectMessages(const ScanResults& results, const CStatisticsObj& statistics,
                       const PrintSelection& selection, const PrintCancelCheck& cancel, BodyWriter& out) {
  for (const MessageRecord& row : results.conversationRows) {
    if (!Takes(row, statistics, selection)) continue;
    const auto messages = results.conversations.find(row.handleId);
    if (messages == results.conversations.end()) continue;
    for (const MessageRecord& message : messages->second) {
      if (Cancelled(cancel)) return kStopped;
      out.Open();
      out.Line(message.sent == 1 ? "To:" : "From:", MessagePartner(message));
      out.Line("Date:", message.date);
      out.Line("Content:", MessageBodyText(message.text, message.attachment));
      if (const std::string_view mark = MessageMark(message); !mark.empty()) out.Line("Note:", mark);
      out.Close();
    }
  }
  return kOk;
}

Status CollectContacts(const ScanResults& results, const CStatisticsObj& statistics,
                       const PrintSelection& selection, const PrintCancelCheck& cancel, BodyWriter& out) {
  for (const ContactRecord& contact : results.contacts) {
    if (!Takes(contact, statistics, selection)) continue;
    if (Cancelled(cancel)) return kStopped;
    out.Open();
    out.Line("Name:", contact.name);
    out.Line("Phone Number:", contact.phones);
    out.Line("Company:", contact.company);
    out.Line("Email:", contact.email);
    out.Line("URL:", contact.url);
    out.Close();
  }
  return kOk;
}

Status CollectCalls(const ScanResults& results, const CStatisticsObj& statistics,
                    const PrintSelection& selection, const PrintCancelCheck& cancel, BodyWriter& out) {
  for (const CallRecord& call : results.calls) {
    if (!Takes(call, statistics, selection)) continue;
    if (Cancelled(cancel)) return kStopped;
    out.Open();
    out.Line("Name:", call.name);
    out.Line("Phone Number:", call.number);
    out.Line("Date:", call.date);
    out.Line("Type:", CallDirectionText(call));
    out.Line("Duration:", CallDuration(call));
    out.Close();
  }
  return kOk;
}

Status CollectNotes(const ScanResults& results, const CStatisticsObj& statistics,
                    const PrintSelection& selection, const PrintCancelCheck& cancel, BodyWriter& out) {
  for (const NoteRecord& note : results.notes) {
    if (!Takes(note, statistics, selection)) continue;
    if (Cancelled(cancel)) return kStopped;
    out.Open();
    out.Line("Title:", note.title);
    if (!note.folder.empty()) out.Line("Folder:", note.folder);
    out.Line("Date:", note.date);
    out.Line("Notes:", NoteContentText(note));
    out.Close();
  }
  return kOk;
}

Status CollectWhatsApp(const ScanResults& results, const CStatisticsObj& statistics,
                       const PrintSelection& selection, const PrintCancelCheck& cancel, BodyWriter& out) {
  static const std::vector<WhatsAppRecord> kNoMessages;
  for (const WhatsAppRecord& chat : results.whatsAppChatRows) {
    if (!Takes(chat, statistics, selection)) continue;
    if (Cancelled(cancel)) return kStopped;
    out.Open();
    out.Line("Chats:", chat.chatTitle);
    out.Line("Name:", chat.memberName.empty() ? chat.senderName : chat.memberName);
    out.Line("Phone Number:", chat.memberPhone.empty() ? chat.senderId : chat.memberPhone);
    out.Raw("<p><span>Content:</span></p>\r\n");
    const auto found = results.whatsAppChats.find(chat.sessionId);
    for (const WhatsAppRecord& message : found == results.whatsAppChats.end() ? kNoMessages : found->second) {
      if (Cancelled(cancel)) {
        out.Close();
        return kStopped;
      }
      // A received message without a name still says who sent it.
      const std::string& sender = message.senderName.empty() ? message.senderId : message.senderName;
      out.ChatLine(message.sent == 1 ? std::string_view("Me") : std::string_view(sender), message.date,
                   message.text);
    }
    out.Close();
  }
  return kOk;
}

}  // namespace

fs::path DefaultPrintTemplatePath() {
  return platform::ProgramDir() / "template" / "Print.html";
}

fs::path DefaultPrintFolder() {
  return platform::ProgramDir() / "Print";
}

Status LoadPrintTemplate(const fs::path& templatePath, PrintTemplate* out) {
  *out = {};
  errno = 0;
  FileHandle file(std::fopen(templatePath.c_str(), "rb"));
  if (!file) return LastError("opening", templatePath);
  std::string text;
  char chunk[8192];
  for (;;) {
    errno = 0;
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    if (got == 0) {
      if (std::ferror(file.get())) return LastError("reading", templatePath);
      break;
    }
    text.append(chunk, got);
  }
  const std::size_t marker = text.find(kContentMarker);
  if (marker == std::string::npos) {
    return Status(kInvalidData, templatePath.string() + " has no " + std::string(kContentMarker) + " marker");
  }
  out->head = text.substr(0, marker);
  out->tail = text.substr(marker + kContentMarker.size());
  return kOk;
}

bool CategoryPrints(RecordCategory category) {
  return CategoryHasDeletedFlag(category);
}

Status CollectPrintBody(const ScanResults& results, const CStatisticsObj& statistics,
                        const PrintSelection& selection, const PrintCancelCheck& cancel, std::string* body) {
  BodyWriter out(*body);
  switch (selection.category) {
    case RecordCategory::kMessages:
      return CollectMessages(results, statistics, selection, cancel, out);
    case RecordCategory::kContacts:
      return CollectContacts(results, statistics, selection, cancel, out);
    case RecordCategory::kCallHistory:
      return CollectCalls(results, statistics, selection, cancel, out);
    case RecordCategory::kNotes:
      return CollectNotes(results, statistics, selection, cancel, out);
    case RecordCategory::kWhatsApp:
      return CollectWhatsApp(results, statistics, selection, cancel, out);
    default:
      return kOk;
  }
}

Status WritePrintPage(const fs::path& folder, const PrintTemplate& printTemplate, std::string_view body,
                      fs::path* pagePath) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return Status::System(error, "creating " + folder.string());
  const fs::path path = folder / kPrintPageName;
  if (pagePath != nullptr) *pagePath = path;
  errno = 0;
  FileHandle file(std::fopen(path.c_str(), "wb"));
  if (!file) return LastError("creating", path);
  for (std::string_view part :
       {std::string_view(printTemplate.head), body, std::string_view(printTemplate.tail)}) {
    errno = 0;
    if (std::fwrite(part.data(), 1, part.size(), file.get()) != part.size())
      return LastError("writing", path);
  }
  errno = 0;
  if (std::fclose(file.release()) != 0) return LastError("writing", path);
  return kOk;
}

Status MakePrintPage(const ScanResults& results, const CStatisticsObj& statistics,
                     const PrintSelection& selection, const PrintCancelCheck& cancel, const PrintPaths& paths,
                     Status* templateStatus, fs::path* pagePath) {
  PrintTemplate printTemplate;
  *templateStatus = LoadPrintTemplate(paths.templatePath, &printTemplate);
  std::string body;
  Status collected = CollectPrintBody(results, statistics, selection, cancel, &body);
  if (!collected.ok()) return collected;
  return WritePrintPage(paths.folder, printTemplate, body, pagePath);
}

}  // namespace corvyn::exporting

#include "export/ConversationWriter.h"

#include <initializer_list>
#include <system_error>

#include "core/TextFormat.h"
#include "export/ExportText.h"
#include "export/OutputFile.h"

namespace corvyn::exporting {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kWhatsAppCsvHeader = "Chats,Name/Phone,Date,Type,Content\r\n";

// The fields both kinds of message share.
struct ChatLine {
  int32_t deleted = 0;
  int32_t sent = 0;
  std::string_view date;
  std::string_view name;      // sender's name
  std::string_view fallback;  // sender's address or id
  std::string text;
  std::string_view mark;  // "Edited" or "Unsent" for messages changed after sending, else empty
};

ChatLine LineOf(const MessageRecord& m) {
  return {m.deleted,     m.sent, m.date, m.name, m.address, MessageBodyText(m.text, m.attachment),
          MessageMark(m)};
}
ChatLine LineOf(const WhatsAppRecord& m) {
  return {m.deleted, m.sent, m.date, m.senderName, m.senderId, m.text, {}};
}

bool IsNamed(std::string_view name) {
  return !name.empty() && name != "Unknown";
}

// "%10s: %s" with CR LF.
std::string TranscriptLine(std::string_view label, std::string_view value) {
  std::string line(label.size() < 10 ? 10 - label.size() : 0, ' ');
  line += label;
  line += ": ";
  line += WithCrLf(value);
  line += "\r\n";
  return line;
}

std::string TranscriptEntry(const ChatLine& line) {
  const std::string who = IsNamed(line.name) ? std::string(line.name) + "(" + std::string(line.fallback) + ")"
                                             : std::string(line.fallback);
  return TranscriptLine(line.sent == 1 ? "To" : "From", who) + TranscriptLine("Data", line.date) +
         TranscriptLine("Content", line.text) + (line.mark.empty() ? "" : TranscriptLine("Note", line.mark)) +
         "\r\n";
}

std::string CsvRow(const ChatLine& line) {
  return CsvField(line.name) + "," + CsvField(line.fallback) + "," + CsvField(line.date) + "," +
         (line.sent == 1 ? "Send" : "Received") + "," + CsvField(line.text) + "\r\n";
}

std::string PageEntry(const ChatLine& line) {
  std::string entry = "<div class=\"date\">Date: " + HtmlEscape(line.date) + " ";
  if (line.sent == 1) {
    entry += "Me:</div>\r\n";
    entry += line.deleted == 1 ? "<div class=\"del_send_msg\">" : "<div class=\"send_msg\">";
  } else {
    entry += HtmlEscape(IsNamed(line.name) ? line.name : line.fallback) + ":</div>\r\n";
    entry += line.deleted == 1 ? "<div class=\"del_recv_msg\">" : "<div class=\"recv_msg\">";
  }
  entry += HtmlEscape(line.text, true);
  if (!line.mark.empty()) entry += " <span class=\"mark\">(" + std::string(line.mark) + ")</span>";
  entry += "</div>\r\n";
  return entry;
}

template <class Record>
Status WriteConversation(const fs::path& folder, const std::string& base, std::string_view person,
                         const std::vector<Record>* messages, bool withCsv, const ReportTemplate& page,
                         ExportReporter& reporter) {
  const fs::path pagePath = folder / (base + ".html");
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) {
    const Status status = Status::System(error, "cannot create the folder " + folder.string());
    reporter.Finish(pagePath.string(), status);
    return status;
  }
  OutputFile transcript, csv, html;
  Status status;
  std::string failedPath;
  const auto note = [&](const Status& outcome, const OutputFile& file) {
    if (status.ok() && !outcome.ok()) {
      status = outcome;
      failedPath = file.Path().string();
    }
  };
  note(transcript.Open(UniquePath(folder / (base + ".txt"))), transcript);
  transcript.Write(kByteOrderMark);
  if (withCsv) {
    note(csv.Open(UniquePath(folder / (base + ".csv"))), csv);
    csv.Write(kByteOrderMark);
    csv.Write(kWhatsAppCsvHeader);
  }
  note(html.Open(UniquePath(pagePath)), html);
  html.Write(ReplaceAll(page.head, kPersonMarker, HtmlEscape(person)));

  bool stopped = false;
  const std::size_t count = messages ? messages->size() : 0;
  for (std::size_t i = 0; i < count; ++i) {
    const ChatLine line = LineOf((*messages)[i]);
    transcript.Write(TranscriptEntry(line));
    transcript.Flush();
    if (withCsv) {
      csv.Write(CsvRow(line));
      csv.Flush();
    }
    html.Write(PageEntry(line));
    // The page is reported closed once its tail is written.
    const int percent = static_cast<int>((i + 1) * 100 / count);
    if (!reporter.Progress(html.Path().string(), percent < 100 ? percent : 99)) {
      stopped = true;
      break;
    }
  }
  html.Write(page.tail);

  for (OutputFile* file : {&transcript, &csv, &html}) {
    if (file->IsOpen()) note(file->Close(), *file);
  }
  if (stopped) {
    reporter.Finish(html.Path().string(), kStopped);
    return kStopped;
  }
  reporter.Finish(status.ok() ? html.Path().string() : failedPath, status);
  return status;
}

}  // namespace

std::string ConversationName(const MessageRecord& conversationRow) {
  if (!conversationRow.members.empty())
    return conversationRow.chatName.empty() ? "Group chat" : conversationRow.chatName;
  return conversationRow.name.empty() ? "Unknown" : conversationRow.name;
}

std::string WhatsAppLabel(const WhatsAppRecord& chatRow) {
  std::string label;
  if (chatRow.memberName.find(',') != std::string::npos) {
    label = chatRow.chatTitle;
  } else if (!chatRow.memberName.empty()) {
    label = chatRow.memberName + "(" + chatRow.memberPhone + ")";
  } else {
    label = chatRow.memberPhone;
  }
  return label.empty() ? "Unknown" : label;
}

Status WriteMessageConversation(const fs::path& messageFolder, std::string_view stamp,
                                const MessageRecord& conversationRow,
                                const std::vector<MessageRecord>* messages, const ReportTemplate& page,
                                ExportReporter& reporter) {
  const std::string name = ConversationName(conversationRow);
  // A group chat is named after the chat; its members head the page.
  const bool group = !conversationRow.members.empty();
  const std::string base =
      group || conversationRow.address.empty() ? name : name + "(" + conversationRow.address + ")";
  const fs::path folder = messageFolder / (SafeComponent(name) + "-" + std::string(stamp));
  const std::string person = group ? "Name: " + name + ", Members: " + conversationRow.members
                                   : "Name: " + name + ", Phone: " + conversationRow.address;
  return WriteConversation(folder, SafeComponent(base), person, messages, false, page, reporter);
}

Status WriteWhatsAppConversation(const fs::path& whatsAppFolder, std::string_view stamp,
                                 const WhatsAppRecord& chatRow, const std::vector<WhatsAppRecord>* messages,
                                 const ReportTemplate& page, ExportReporter& reporter) {
  const std::string label = SafeComponent(WhatsAppLabel(chatRow));
  const fs::path folder = whatsAppFolder / (label + "-" + std::string(stamp));
  const std::string person = "Name: " + chatRow.memberName + ", Phone: " + chatRow.memberPhone;
  return WriteConversation(folder, label, person, messages, true, page, reporter);
}

}  // namespace corvyn::exporting

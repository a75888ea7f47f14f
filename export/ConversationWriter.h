// The message and WhatsApp conversation writers: one folder per conversation
// holding a transcript (.txt), for WhatsApp a .csv, and an HTML page, each
// streamed message by message.
//
// Transcript: UTF-8 with a byte-order mark, CR LF line ends, per message
//   "%10s: %s" "To"/"From" and who, "Data" and the date, "Content" and the
//   text, then an empty line.
// CSV (WhatsApp): byte-order mark, "Chats,Name/Phone,Date,Type,Content", then
//   one RFC 4180 row per message: sender name, sender id, date,
//   "Send"/"Received", text (fields made safe by CsvField).
// Page: the template head with "{|person|}" filled, per message
//   <div class="date">Date: DATE SENDER:</div> and a div of class "send_msg",
//   "recv_msg", "del_send_msg" or "del_recv_msg" holding the text, then the
//   tail. Every record text is HTML-escaped.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/Records.h"
#include "export/ExportReporter.h"
#include "export/ReportTemplate.h"
#include "platform/Status.h"

namespace corvyn::exporting {

// The conversation row's name, or "Unknown" when it is empty; for a group
// chat (members set) the chat's name, or "Group chat" when it has none.
std::string ConversationName(const MessageRecord& conversationRow);

// memberName + "(" + memberPhone + ")" when memberName is not empty, else
// memberPhone; chatTitle when memberName holds a comma (a group); "Unknown"
// when the result is empty.
std::string WhatsAppLabel(const WhatsAppRecord& chatRow);

// Writes the conversation into messageFolder / (name + "-" + stamp) with the
// file base name + "(" + address + ")" (or name), every name made a safe path
// component and each file made unique. Reports progress per message and the
// page once at the end through `reporter` (a failure names the file that
// failed). Returns what was reported: kOk, kStopped after a cancel (the page
// still gets the messages so far and the tail), or the first failure.
Status WriteMessageConversation(const std::filesystem::path& messageFolder, std::string_view stamp,
                                const MessageRecord& conversationRow,
                                const std::vector<MessageRecord>* messages, const ReportTemplate& page,
                                ExportReporter& reporter);

// The same for a WhatsApp chat: whatsAppFolder / (label + "-" + stamp), files
// label + ".txt", ".csv" and ".html".
Status WriteWhatsAppConversation(const std::filesystem::path& whatsAppFolder, std::string_view stamp,
                                 const WhatsAppRecord& chatRow, const std::vector<WhatsAppRecord>* messages,
                                 const ReportTemplate& page, ExportReporter& reporter);

}  // namespace corvyn::exporting

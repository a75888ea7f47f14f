#include "export/RowReport.h"

#include <initializer_list>
#include <system_error>

#include "core/TextFormat.h"
#include "export/CallText.h"
#include "export/ExportText.h"

namespace corvyn::exporting {
namespace fs = std::filesystem;
namespace {

std::string TableRow(std::initializer_list<std::string> escapedValues) {
  std::string row = "\t<tr>";
  for (const std::string& value : escapedValues) {
    row += "<td>";
    row += value;
    row += "</td>";
  }
  row += "</tr>\r\n";
  return row;
}

}  // namespace

std::string CallDurationText(const CallRecord& call) {
  if (call.duration == 0) return call.incoming == 1 ? "Missed" : "Canceled";
  return DurationText(call.duration);
}

std::string CallRow(const CallRecord& call) {
  return TableRow({HtmlEscape(call.name), HtmlEscape(call.number), HtmlEscape(call.date),
                   HtmlEscape(CallDirectionText(call)), CallDurationText(call)});
}

std::string NoteRow(const NoteRecord& note) {
  std::string title = HtmlEscape(note.title);
  if (!note.folder.empty()) title += "<br />Folder: " + HtmlEscape(note.folder);
  return TableRow({std::move(title), HtmlEscape(note.date), HtmlEscape(NoteContentText(note), true)});
}

std::string ContactRow(const ContactRecord& contact) {
  return TableRow({HtmlEscape(contact.name), HtmlEscape(contact.phones, true), HtmlEscape(contact.email),
                   HtmlEscape(contact.address, true), HtmlEscape(contact.url), HtmlEscape(contact.social),
                   HtmlEscape(contact.company)});
}

void RowReport::Add(std::string_view row) {
  if (rows_++ == 0) {
    std::error_code error;
    fs::create_directories(path_.parent_path(), error);
    if (error) {
      openStatus_ = Status::System(error, "cannot create the folder " + path_.parent_path().string());
      return;
    }
    openStatus_ = file_.Open(path_);
    file_.Write(page_.head);
  }
  file_.Write(row);
}

Status RowReport::Finish() {
  if (rows_ == 0) return kOk;
  if (!openStatus_.ok()) return openStatus_;
  file_.Write(page_.tail);
  return file_.Close();
}

}  // namespace corvyn::exporting

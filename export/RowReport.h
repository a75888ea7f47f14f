// The call history, notes and contacts reports: one table row per record
// between the template's head and tail, streamed to the report file as the
// rows arrive (the file is created with the first row).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/Records.h"
#include "export/OutputFile.h"
#include "export/ReportTemplate.h"
#include "platform/Status.h"

namespace corvyn::exporting {

// "Missed" (incoming) or "Canceled" (outgoing) for a call of zero seconds,
// else the duration text ("%d Hour %d Min", "%d Min %d Sec", "%d Sec").
std::string CallDurationText(const CallRecord& call);

// "\t<tr>" + "<td>value</td>" per value + "</tr>\r\n", values HTML-escaped.
// Calls: name, number, date, "Incoming"/"Outgoing", duration. Notes: title,
// date, content. Contacts: name, phones (lines joined by "<br />"), email,
// address, url, social, company.
std::string CallRow(const CallRecord& call);
// A note's title cell names its folder under the title when it has one; a
// password-protected note's text cell says so (NoteContentText).
std::string NoteRow(const NoteRecord& note);
std::string ContactRow(const ContactRecord& contact);

class RowReport {
 public:
  // `page` must outlive the report.
  RowReport(const ReportTemplate& page, std::filesystem::path path) : page_(page), path_(std::move(path)) {}

  // Appends one row; the first creates the report's folder and file and
  // writes the head. A failure is kept for Finish().
  void Add(std::string_view row);
  uint64_t Rows() const { return rows_; }
  const std::filesystem::path& Path() const { return path_; }
  // Writes the tail and closes the file: kOk (also when no row was added),
  // or the first failure to create or write it.
  Status Finish();

 private:
  const ReportTemplate& page_;
  std::filesystem::path path_;
  OutputFile file_;
  Status openStatus_;
  uint64_t rows_ = 0;
};

}  // namespace corvyn::exporting

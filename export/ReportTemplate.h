// The report templates beside the program ("template/CallHistory.html",
// "Notes.html", "contacts.html", "Sms.html", "WhatsApp.html"): byte files
// split at their "{|content|}" marker into a head, where every "{|title|}" is
// filled, and a tail. The messages and WhatsApp heads may also hold
// "{|person|}", filled per conversation.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/Status.h"

namespace corvyn::exporting {

inline constexpr std::string_view kContentMarker = "{|content|}";
inline constexpr std::string_view kTitleMarker = "{|title|}";
inline constexpr std::string_view kPersonMarker = "{|person|}";

enum class ReportKind { kCallHistory, kNotes, kContacts, kMessages, kWhatsApp };

// "CallHistory.html", "Notes.html", "contacts.html", "Sms.html", "WhatsApp.html".
std::string_view TemplateFileName(ReportKind kind);

// "iPhone's Call History of ", ... (each ends in one blank).
std::string_view ReportTitle(ReportKind kind);

// ProgramDir() / "template".
std::filesystem::path DefaultTemplateFolder();

struct ReportTemplate {
  std::string head;  // before the marker, titles filled
  std::string tail;  // after the marker
};

// Every occurrence of `marker` in `text` replaced by `value` (the value is not
// searched again).
std::string ReplaceAll(std::string_view text, std::string_view marker, std::string_view value);

// Reads folder / TemplateFileName(kind) and fills its titles with the title
// text and the device name (HTML-escaped). Returns kOk, the system error of
// the failed read, or kInvalidData (with the path) for a template without
// "{|content|}".
Status LoadReportTemplate(const std::filesystem::path& folder, ReportKind kind, std::string_view deviceName,
                          ReportTemplate& out);

}  // namespace corvyn::exporting

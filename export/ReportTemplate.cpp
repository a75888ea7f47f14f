#include "export/ReportTemplate.h"

#include <cerrno>
#include <fstream>
#include <iterator>

#include "export/ExportText.h"
#include "platform/SpecialFolders.h"

namespace corvyn::exporting {
namespace fs = std::filesystem;

std::string_view TemplateFileName(ReportKind kind) {
  switch (kind) {
    case ReportKind::kCallHistory:
      return "CallHistory.html";
    case ReportKind::kNotes:
      return "Notes.html";
    case ReportKind::kContacts:
      return "contacts.html";
    case ReportKind::kMessages:
      return "Sms.html";
    case ReportKind::kWhatsApp:
      return "WhatsApp.html";
  }
  return {};
}

std::string_view ReportTitle(ReportKind kind) {
  switch (kind) {
    case ReportKind::kCallHistory:
      return "iPhone's Call History of ";
    case ReportKind::kNotes:
      return "iPhone's Notes of ";
    case ReportKind::kContacts:
      return "iPhone's Contacts of ";
    case ReportKind::kMessages:
      return "iPhone's Messages of ";
    case ReportKind::kWhatsApp:
      return "iPhone's WhatsApp Messages of ";
  }
  return {};
}

fs::path DefaultTemplateFolder() {
  return platform::ProgramDir() / "template";
}

std::string ReplaceAll(std::string_view text, std::string_view marker, std::string_view value) {
  std::string out;
  if (marker.empty()) return std::string(text);
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(marker, from)) != std::string_view::npos; from = at + marker.size()) {
    out.append(text.substr(from, at - from));
    out.append(value);
  }
  out.append(text.substr(from));
  return out;
}

Status LoadReportTemplate(const fs::path& folder, ReportKind kind, std::string_view deviceName,
                          ReportTemplate& out) {
  const fs::path path = folder / TemplateFileName(kind);
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) return Status::System(errno, "report template " + path.string());
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) return Status::System(errno, "report template " + path.string());
  const std::size_t marker = text.find(kContentMarker);
  if (marker == std::string::npos) {
    return Status(kInvalidData, "the report template " + path.string() + " has no " +
                                    std::string(kContentMarker) + " marker");
  }
  const std::string title = std::string(ReportTitle(kind)) + HtmlEscape(deviceName);
  out.head = ReplaceAll(std::string_view(text).substr(0, marker), kTitleMarker, title);
  out.tail = text.substr(marker + kContentMarker.size());
  return kOk;
}

}  // namespace corvyn::exporting

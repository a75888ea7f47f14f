#include "export/ExportJob.h"

#include <cerrno>
#include <chrono>
#include <optional>
#include <system_error>

#include "core/TextFormat.h"
#include "export/ConversationWriter.h"
#include "export/ExportText.h"
#include "export/RowReport.h"

namespace corvyn::exporting {
namespace fs = std::filesystem;
namespace {

std::optional<ReportKind> ReportOf(RecordCategory category) {
  switch (category) {
    case RecordCategory::kMessages:
      return ReportKind::kMessages;
    case RecordCategory::kContacts:
      return ReportKind::kContacts;
    case RecordCategory::kCallHistory:
      return ReportKind::kCallHistory;
    case RecordCategory::kNotes:
      return ReportKind::kNotes;
    case RecordCategory::kWhatsApp:
      return ReportKind::kWhatsApp;
    default:
      return std::nullopt;
  }
}

// Bytes the copies of the entries take.
uint64_t BytesToCopy(const std::vector<std::pair<const void*, const SelectionEntry*>>& entries) {
  uint64_t bytes = 0;
  for (const auto& [key, entry] : entries) {
    switch (entry->category) {
      case RecordCategory::kCameraRoll:
      case RecordCategory::kPhotoStream:
      case RecordCategory::kWhatsAppAttachments:
        bytes += static_cast<const MediaFileRecord*>(key)->size;
        break;
      case RecordCategory::kAppPhotos:
      case RecordCategory::kAppVideos:
        bytes += static_cast<const AppFileRecord*>(key)->size;
        break;
      case RecordCategory::kMessageAttachments:
        bytes += static_cast<const AttachmentRecord*>(key)->size;
        break;
      default:
        break;
    }
  }
  return bytes;
}

template <class Map>
const typename Map::mapped_type* ListOf(const Map& map, int32_t key) {
  const auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

// Removes an earlier file of that name so the engine writes a fresh one.
void RemoveEarlier(const fs::path& path) {
  std::error_code ignored;  // a file that cannot be removed fails the write that follows, which is reported
  fs::remove(path, ignored);
}

}  // namespace

ExportJob::ExportJob(const ScanResults& results, const CStatisticsObj& statistics,
                     IPhoneRecoveryParse& engine, ExportRequest request, IExportSink* sink,
                     platform::IDiskSpace* disk)
    : results_(results),
      statistics_(statistics),
      engine_(engine),
      request_(std::move(request)),
      sink_(sink),
      disk_(disk ? *disk : platform::DefaultDiskSpace()),
      reporter_(sink, &control_) {}

ExportJob::~ExportJob() {
  if (worker_.joinable()) {
    control_.Cancel();
    worker_.join();
  }
}

void ExportJob::Start() {
  worker_ = std::thread([this] { summary_ = Run(); });
}

ExportSummary ExportJob::Wait() {
  if (worker_.joinable()) worker_.join();
  return summary_;
}

int ExportJob::CopyProgress(void* job, int percent) {
  auto* self = static_cast<ExportJob*>(job);
  // The copy's own 100 is not the end of the file: the job closes it once
  // the copy has returned its status.
  return self->reporter_.Progress(self->currentPath_, percent < 100 ? percent : 99) ? 0 : kStopAnswer;
}

void ExportJob::CopyFile(const std::string& sourcePath, const fs::path& destination) {
  if (reporter_.Cancelled()) return;
  const fs::path target = UniquePath(destination);
  currentPath_ = target.string();
  const Status status = engine_.CopyFileWithProgress(sourcePath, target, &ExportJob::CopyProgress, this);
  reporter_.Finish(currentPath_, status);
}

Status ExportJob::Prepare(const std::vector<std::pair<const void*, const SelectionEntry*>>& entries,
                          bool& templateUnreadable) {
  if (request_.root.empty()) return Status(kInvalidData, "no destination folder was given");
  const fs::path folder = request_.templates.empty() ? DefaultTemplateFolder() : request_.templates;
  std::array<bool, 5> loaded{};
  for (const auto& [key, entry] : entries) {
    const auto kind = ReportOf(entry->category);
    if (!kind || loaded[static_cast<int>(*kind)]) continue;
    const int index = static_cast<int>(*kind);
    if (const Status status = LoadReportTemplate(folder, *kind, request_.deviceName, templates_[index]);
        !status.ok()) {
      templateUnreadable = true;
      return status;
    }
    loaded[index] = true;
  }
  std::error_code error;
  fs::create_directories(request_.root, error);
  if (error) return Status::System(error, "cannot create the destination folder " + request_.root.string());

  const uint64_t needed = BytesToCopy(entries);
  if (needed == 0) return kOk;
  uint64_t available = 0;
  if (const Status status = disk_.FreeBytes(request_.root, &available); !status.ok()) {
    return status.WithContext("free space of the destination");
  }
  if (available < needed) {
    return Status::System(ENOSPC, "the files to export take " + SizeText(static_cast<int64_t>(needed)) +
                                      ", the destination " + request_.root.string() + " has " +
                                      SizeText(static_cast<int64_t>(available)) + " free");
  }
  return kOk;
}

ExportSummary ExportJob::Run() {
  ExportSummary summary;
  const int64_t now = request_.startTime >= 0 ? request_.startTime
                                              : std::chrono::duration_cast<std::chrono::seconds>(
                                                    std::chrono::system_clock::now().time_since_epoch())
                                                    .count();
  const std::string stamp = ExportTimeStamp(now);
  summary.stamp = stamp;
  const auto entries = statistics_.ExportEntries();
  reporter_.AddToTotal(entries.size());

  summary.status = Prepare(entries, summary.templateUnreadable);
  if (!summary.status.ok()) {
    summary.counts = reporter_.Counts();
    control_.MarkEnded();
    if (sink_) sink_->OnFinished(summary);
    return summary;
  }

  const fs::path& root = request_.root;
  const auto& page = [&](ReportKind kind) -> const ReportTemplate& {
    return templates_[static_cast<int>(kind)];
  };
  RowReport calls(page(ReportKind::kCallHistory),
                  root / kCallHistoryFolder / ("CallHistory_" + stamp + ".html"));
  RowReport notes(page(ReportKind::kNotes), root / kNotesFolder / ("Notes_" + stamp + ".html"));
  const fs::path contactsFolder = root / kContactsFolder / stamp;
  RowReport contacts(page(ReportKind::kContacts), contactsFolder / "Contacts.html");
  bool messagesExported = false;

  for (const auto& [key, entry] : entries) {
    if (reporter_.Cancelled()) break;
    switch (entry->category) {
      case RecordCategory::kCameraRoll:
      case RecordCategory::kPhotoStream:
      case RecordCategory::kWhatsAppAttachments: {
        const auto& file = *static_cast<const MediaFileRecord*>(key);
        const std::string_view folder = entry->category == RecordCategory::kCameraRoll ? kCameraRollFolder
                                        : entry->category == RecordCategory::kPhotoStream
                                            ? kPhotoStreamFolder
                                            : kWhatsAppAttachmentsFolder;
        CopyFile(file.path, root / folder / SafeComponent(file.name, "file"));
        break;
      }
      case RecordCategory::kAppPhotos:
      case RecordCategory::kAppVideos: {
        const auto& file = *static_cast<const AppFileRecord*>(key);
        const std::string_view folder =
            entry->category == RecordCategory::kAppPhotos ? kAppPhotosFolder : kAppVideosFolder;
        CopyFile(file.path,
                 root / folder / SafeComponent(file.appName, "other") / SafeComponent(file.name, "file"));
        break;
      }
      case RecordCategory::kMessageAttachments: {
        const auto& file = *static_cast<const AttachmentRecord*>(key);
        CopyFile(file.path, root / kMessageAttachmentsFolder / SafeComponent(file.name, "file"));
        break;
      }
      case RecordCategory::kMessages: {
        const auto& row = *static_cast<const MessageRecord*>(key);
        messagesExported = true;
        // The outcome has been reported by the writer.
        (void)WriteMessageConversation(root / kMessagesFolder, stamp, row,
                                       ListOf(results_.conversations, row.handleId),
                                       page(ReportKind::kMessages), reporter_);
        break;
      }
      case RecordCategory::kWhatsApp: {
        const auto& row = *static_cast<const WhatsAppRecord*>(key);
        // The outcome has been reported by the writer.
        (void)WriteWhatsAppConversation(root / kWhatsAppFolder, stamp, row,
                                        ListOf(results_.whatsAppChats, row.sessionId),
                                        page(ReportKind::kWhatsApp), reporter_);
        break;
      }
      case RecordCategory::kContacts:
        contacts.Add(ContactRow(*static_cast<const ContactRecord*>(key)));
        (void)reporter_.Progress(contacts.Path().string(), 50);  // a cancel ends the walk above
        break;
      case RecordCategory::kCallHistory:
        calls.Add(CallRow(*static_cast<const CallRecord*>(key)));
        (void)reporter_.Progress(calls.Path().string(), 50);  // a cancel ends the walk above
        break;
      case RecordCategory::kNotes:
        notes.Add(NoteRow(*static_cast<const NoteRecord*>(key)));
        (void)reporter_.Progress(notes.Path().string(), 50);  // a cancel ends the walk above
        break;
      default:
        break;  // an unknown category is skipped
    }
  }

  // The files that gather many records are written also after a cancel, so
  // that what was collected is kept.
  if (messagesExported) {
    const fs::path csv = root / kMessagesFolder / kMessagesCsvName;
    RemoveEarlier(csv);
    reporter_.AddToTotal(1);
    reporter_.Finish(csv.string(), engine_.ExportMessagesCsv(csv));
  }
  reporter_.Finish(calls.Path().string(), calls.Finish(), calls.Rows());
  reporter_.Finish(notes.Path().string(), notes.Finish(), notes.Rows());
  if (contacts.Rows() > 0) {
    const fs::path csv = contactsFolder / "Contacts.csv";
    RemoveEarlier(csv);
    reporter_.AddToTotal(1);
    reporter_.Finish(csv.string(), engine_.ExportContactsCsv(csv));
  }
  reporter_.Finish(contacts.Path().string(), contacts.Finish(), contacts.Rows());

  summary.counts = reporter_.Counts();
  summary.failures = reporter_.Failures();
  if (reporter_.Cancelled()) summary.status = kStopped;
  control_.MarkEnded();
  if (sink_) sink_->OnFinished(summary);
  return summary;
}

}  // namespace corvyn::exporting

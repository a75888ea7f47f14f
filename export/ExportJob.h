// The export job: writes the checked records of a finished scan into a
// folder the user chose.
//
// Layout under the root (stamp = local start time as 14 digits, one per job):
//   Camera Roll/NAME, Photo Stream/NAME, App Photos/APP/NAME, App Video/APP/NAME,
//   Message Attachments/NAME, WhatsApp Attachments/NAME     copied by the engine
//   Message/NAME-STAMP/BASE.txt, BASE.html                  per conversation
//   Message/sms.csv                                         by the engine
//   Contacts/STAMP/Contacts.html, Contacts.csv              (CSV by the engine)
//   CallHistory/CallHistory_STAMP.html, Notes/Notes_STAMP.html
//   WhatsApp Message/LABEL-STAMP/LABEL.txt, .csv, .html     per chat
// Every name taken from a record becomes one safe path component
// (SafeComponent), so nothing is written outside the root; a copied file
// whose name is taken gets "(1)", "(2)", ... before its extension.
//
// Selection: CStatisticsObj::ExportEntries (checked records that are not
// groups and not hidden by the only-deleted filter), in its order. Total is
// their number plus one per CSV file written at the end; each file is
// reported done or failed (with its reason) through the sink. Row reports
// (calls, notes, contacts) count their records when the report file has been
// written: a report that cannot be written counts every record in it as
// failed.
//
// Before anything is written the job loads the templates it needs and checks
// that the root's file system can hold the files to copy; either failure ends
// the job with its status and nothing written.
//
// The scan results, the statistics and the engine are borrowed and must not
// change while the job runs.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "core/IPhoneRecoveryParse.h"
#include "core/ScanResults.h"
#include "core/Statistics.h"
#include "export/ExportControl.h"
#include "export/ExportProgress.h"
#include "export/ExportReporter.h"
#include "export/ReportTemplate.h"
#include "platform/DiskSpace.h"

namespace corvyn::exporting {

// The folder literals of the layout.
inline constexpr std::string_view kCameraRollFolder = "Camera Roll";
inline constexpr std::string_view kPhotoStreamFolder = "Photo Stream";
inline constexpr std::string_view kAppPhotosFolder = "App Photos";
inline constexpr std::string_view kAppVideosFolder = "App Video";
inline constexpr std::string_view kMessagesFolder = "Message";
inline constexpr std::string_view kMessageAttachmentsFolder = "Message Attachments";
inline constexpr std::string_view kContactsFolder = "Contacts";
inline constexpr std::string_view kCallHistoryFolder = "CallHistory";
inline constexpr std::string_view kNotesFolder = "Notes";
inline constexpr std::string_view kWhatsAppFolder = "WhatsApp Message";
inline constexpr std::string_view kWhatsAppAttachmentsFolder = "WhatsApp Attachments";
inline constexpr std::string_view kMessagesCsvName = "sms.csv";

struct ExportRequest {
  std::filesystem::path root;       // created when missing
  std::string deviceName;           // goes into the report titles
  std::filesystem::path templates;  // empty: DefaultTemplateFolder()
  int64_t startTime = -1;           // seconds since 1970 for the stamp; < 0: now
};

class ExportJob {
 public:
  // Everything borrowed must outlive the job. `sink` may be null; `disk`
  // null means the system's (platform::DefaultDiskSpace()).
  ExportJob(const ScanResults& results, const CStatisticsObj& statistics, IPhoneRecoveryParse& engine,
            ExportRequest request, IExportSink* sink = nullptr, platform::IDiskSpace* disk = nullptr);
  ~ExportJob();  // cancels and joins a running worker
  ExportJob(const ExportJob&) = delete;
  ExportJob& operator=(const ExportJob&) = delete;

  // Hold / resume / cancel from another thread.
  ExportControl& Control() { return control_; }

  // Runs the job on the calling thread. Once per job.
  ExportSummary Run();
  // Runs it on a worker thread; Wait() joins it and gives the summary.
  void Start();
  ExportSummary Wait();

 private:
  static int CopyProgress(void* job, int percent);
  // `templateUnreadable` is set when the failure is a report template.
  Status Prepare(const std::vector<std::pair<const void*, const SelectionEntry*>>& entries,
                 bool& templateUnreadable);
  void CopyFile(const std::string& sourcePath, const std::filesystem::path& destination);

  const ScanResults& results_;
  const CStatisticsObj& statistics_;
  IPhoneRecoveryParse& engine_;
  ExportRequest request_;
  IExportSink* sink_;
  platform::IDiskSpace& disk_;
  ExportControl control_;
  ExportReporter reporter_;
  std::array<ReportTemplate, 5> templates_;  // by ReportKind, loaded when needed
  std::string currentPath_;
  std::thread worker_;
  ExportSummary summary_;
};

}  // namespace corvyn::exporting

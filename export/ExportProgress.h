// What an export shows while it runs, shared by the window and the command
// line: counts, the current file and its percent, and one detail row per
// finished file (failures with their reasons in words).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/Status.h"

namespace corvyn::exporting {

struct ExportCounts {
  uint64_t total = 0;   // items to export (the checked records, then each CSV written)
  uint64_t done = 0;    // items finished, successfully or not
  uint64_t failed = 0;  // finished items that could not be written
  uint64_t Succeeded() const { return done - failed; }
};

// One finished file. `status` is kOk for a success.
struct ExportDetail {
  std::string path;
  Status status;
  bool ok() const { return status.ok(); }
  // "Success", or the reason in words.
  std::string StatusText() const { return ok() ? "Success" : status.Message(); }
};

// The rows in the order a detail list shows them: each failure inserted at
// the top, each success appended at the end.
class ExportDetailRows {
 public:
  void Add(ExportDetail detail) {
    if (detail.ok()) {
      rows_.push_back(std::move(detail));
    } else {
      rows_.push_front(std::move(detail));
    }
  }
  const std::deque<ExportDetail>& Rows() const { return rows_; }

 private:
  std::deque<ExportDetail> rows_;
};

// How a job ended.
struct ExportSummary {
  // kOk; kStopped after a cancel; or why the job could not start (a template
  // that cannot be read, too little free space, a root that cannot be made),
  // in which case nothing was written.
  Status status;
  ExportCounts counts;
  std::vector<ExportDetail> failures;  // every failed file, in order
  std::string stamp;                   // the job's time stamp
  // The job could not start because a report template it needs cannot be
  // read (status says which and why).
  bool templateUnreadable = false;
  // True when every item was written.
  bool ok() const { return status.ok() && counts.failed == 0; }
};

// Receives the job's reports, always from the thread that runs the job. The
// calls must not call the job's control (Hold, Cancel, Resume) on that thread.
class IExportSink {
 public:
  virtual ~IExportSink() = default;
  // The current file and its percent (0 to 100) with the counts so far.
  virtual void OnProgress(const std::string& currentPath, int percent, const ExportCounts& counts) = 0;
  // A file finished (already counted in `counts`).
  virtual void OnDetail(const ExportDetail& detail, const ExportCounts& counts) = 0;
  // The job has ended (its last call).
  virtual void OnFinished(const ExportSummary& summary) { (void)summary; }
};

}  // namespace corvyn::exporting

// The job's side of progress: counts files, passes every report through the
// control's gate and forwards it to the sink. Writers report through it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/ExportControl.h"
#include "export/ExportProgress.h"
#include "platform/Status.h"

namespace corvyn::exporting {

class ExportReporter {
 public:
  // Both may be null (nothing shown / nothing can hold or cancel); both must
  // outlive the reporter.
  ExportReporter(IExportSink* sink, ExportControl* control) : sink_(sink), control_(control) {}

  void AddToTotal(uint64_t items);

  // The current file is at `percent`. False when the export was cancelled:
  // the writer stops.
  bool Progress(const std::string& path, int percent);

  // `items` items finished with the file at `path`: counted done, and failed
  // when the status is not kOk. A file stopped by a cancel (kStopped) is not
  // counted.
  void Finish(const std::string& path, const Status& status, uint64_t items = 1);

  bool Cancelled() const { return cancelled_; }
  const ExportCounts& Counts() const { return counts_; }
  // Every failed file, in the order they failed.
  const std::vector<ExportDetail>& Failures() const { return failures_; }

 private:
  bool Enter();
  void Leave();

  IExportSink* sink_;
  ExportControl* control_;
  ExportCounts counts_;
  std::vector<ExportDetail> failures_;
  bool cancelled_ = false;
};

}  // namespace corvyn::exporting

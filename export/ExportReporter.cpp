#include "export/ExportReporter.h"

#include <algorithm>

namespace corvyn::exporting {

void ExportReporter::AddToTotal(uint64_t items) {
  counts_.total += items;
}

bool ExportReporter::Enter() {
  if (cancelled_) return false;
  if (control_ && !control_->Enter()) {
    cancelled_ = true;
    return false;
  }
  return true;
}

void ExportReporter::Leave() {
  if (control_) control_->Leave();
}

bool ExportReporter::Progress(const std::string& path, int percent) {
  if (!Enter()) return false;
  if (sink_) sink_->OnProgress(path, std::clamp(percent, 0, 100), counts_);
  Leave();
  return true;
}

void ExportReporter::Finish(const std::string& path, const Status& status, uint64_t items) {
  if (status.IsStopped() || items == 0) return;
  // A file that was written is counted even when a cancel arrives now; the
  // gate still holds the job while a question is open.
  const bool passed = Enter();
  counts_.done += items;
  ExportDetail detail{path, status};
  if (!status.ok()) {
    counts_.failed += items;
    failures_.push_back(detail);
  }
  if (sink_) {
    sink_->OnDetail(detail, counts_);
    sink_->OnProgress(path, 100, counts_);
  }
  if (passed) Leave();
}

}  // namespace corvyn::exporting

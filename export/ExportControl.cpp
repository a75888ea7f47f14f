#include "export/ExportControl.h"

namespace corvyn::exporting {

void ExportControl::Hold() {
  std::unique_lock lock(mutex_);
  held_ = true;
  changed_.wait(lock, [&] { return !inReport_ || ended_; });
}

void ExportControl::Resume() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
  }
  changed_.notify_all();
}

void ExportControl::Cancel() {
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    held_ = false;
  }
  changed_.notify_all();
}

bool ExportControl::IsCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

bool ExportControl::IsHeld() const {
  std::lock_guard lock(mutex_);
  return held_;
}

bool ExportControl::WaitParked() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return parked_ || ended_; });
  return parked_;
}

bool ExportControl::Enter() {
  std::unique_lock lock(mutex_);
  if (held_) {
    parked_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !held_; });
    parked_ = false;
  }
  if (cancelled_) return false;
  inReport_ = true;
  return true;
}

void ExportControl::Leave() {
  {
    std::lock_guard lock(mutex_);
    inReport_ = false;
  }
  changed_.notify_all();
}

void ExportControl::MarkEnded() {
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
    inReport_ = false;
  }
  changed_.notify_all();
}

}  // namespace corvyn::exporting

// Opening files, folders and web addresses in the user's default program
// (the desktop's "xdg-open").
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Process.h"
#include "platform/Status.h"

namespace corvyn::platform {

class IDesktop {
 public:
  virtual ~IDesktop() = default;
  // Hands `target` (a path or a URL) to the default program and returns
  // without waiting for it. kOk when the opener was started, else a system error
  // (kInvalidData for an empty target).
  virtual Status OpenInDefaultProgram(std::string_view target) = 0;
};

// Runs `opener` (default "xdg-open") with the target through `launcher`,
// detached from us so that it outlives neither a zombie nor our pipes.
class XdgDesktop final : public IDesktop {
 public:
  explicit XdgDesktop(IProcessLauncher& launcher, std::string opener = "xdg-open")
      : launcher_(launcher), opener_(std::move(opener)) {}
  Status OpenInDefaultProgram(std::string_view target) override;

 private:
  IProcessLauncher& launcher_;
  std::string opener_;
};

// Records what it was asked to open; for tests.
class RecordingDesktop final : public IDesktop {
 public:
  Status OpenInDefaultProgram(std::string_view target) override {
    opened.emplace_back(target);
    return result;
  }
  std::vector<std::string> opened;
  Status result = kOk;
};

IDesktop& DefaultDesktop();

}  // namespace corvyn::platform

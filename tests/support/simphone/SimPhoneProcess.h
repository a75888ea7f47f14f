// Test support: one simulated phone (tools/simphone/simphone.py) on a usbmuxd
// socket of its own, started from a JSON profile and stopped when the object
// goes. Start() points USBMUXD_SOCKET_ADDRESS of this process at it, so the
// real libimobiledevice, and every child started afterwards, talk to it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>

namespace corvyn::testing {

class SimPhoneProcess {
 public:
  SimPhoneProcess() = default;
  ~SimPhoneProcess();
  SimPhoneProcess(const SimPhoneProcess&) = delete;
  SimPhoneProcess& operator=(const SimPhoneProcess&) = delete;

  // Starts the phone on `folder`/usbmuxd.sock; true once it listens (waits
  // at most 15 s).
  bool Start(const std::filesystem::path& folder, const std::filesystem::path& profile);
  // Sends one control line ("detach UDID", "attach UDID", "stall-backup UDID",
  // ...) and returns the first line of the answer ("ok" or "error ...").
  std::string Control(const std::string& command) const;
  // "UNIX:<socket>", the value of USBMUXD_SOCKET_ADDRESS for this phone.
  std::string SocketAddress() const { return "UNIX:" + socket_.string(); }

 private:
  pid_t pid_ = -1;
  std::filesystem::path socket_;
};

// The simulator script.
std::filesystem::path SimPhoneScript();
// True when `tool` is found on PATH.
bool ToolOnPath(const std::string& tool);
// Writes a profile for the backup folder `backup` (its device values from its
// Info.plist) to `profile`; `extraJson` (", \"key\": value, ...") is added to
// the device entry. Returns the phone's UDID, empty on failure.
std::string MakeSimPhoneProfile(const std::filesystem::path& backup, const std::filesystem::path& profile,
                                const std::string& extraJson = {});

// Files the tests put on the phone and read back.
std::string ReadWholeFile(const std::filesystem::path& path);
// Writes `data` into `path`, making its folders.
void WriteWholeFile(const std::filesystem::path& path, const std::string& data);
// `size` bytes of a fixed pseudo-random sequence: a photo whose every chunk differs.
std::string PhotoBytes(std::size_t size);

}  // namespace corvyn::testing

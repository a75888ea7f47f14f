#include "platform/SpecialFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace corvyn::platform {
namespace {

std::optional<std::filesystem::path> AbsoluteVariable(const EnvironmentLookup& environment,
                                                      const char* name) {
  const auto value = environment(name);
  if (!value || value->empty()) return std::nullopt;
  std::filesystem::path path(*value);
  if (!path.is_absolute()) return std::nullopt;
  return path;
}

}  // namespace

EnvironmentLookup ProcessEnvironment() {
  return [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  };
}

std::filesystem::path HomeDir(const EnvironmentLookup& environment) {
  if (auto home = AbsoluteVariable(environment, "HOME")) return *home;
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return "/";
}

std::filesystem::path RoamingAppDataDir(const EnvironmentLookup& environment) {
  if (auto data = AbsoluteVariable(environment, "XDG_DATA_HOME")) return *data;
  return HomeDir(environment) / ".local" / "share";
}

std::filesystem::path ConfigHomeDir(const EnvironmentLookup& environment) {
  if (auto config = AbsoluteVariable(environment, "XDG_CONFIG_HOME")) return *config;
  return HomeDir(environment) / ".config";
}

std::filesystem::path RuntimeDir(const EnvironmentLookup& environment) {
  if (auto runtime = AbsoluteVariable(environment, "XDG_RUNTIME_DIR")) return *runtime;
  std::filesystem::path base = "/tmp";
  if (auto temporary = AbsoluteVariable(environment, "TMPDIR")) base = *temporary;
  std::filesystem::path folder = base / ("corvyn-" + std::to_string(getuid()));
  if (MakePrivateFolder(folder) == kOk) return folder;
  // Someone else made (or replaced) the folder: take a fresh private one.
  std::string pattern = folder.string() + "-XXXXXX";
  if (mkdtemp(pattern.data()) != nullptr) return pattern;
  return folder;
}

const std::filesystem::path& ProgramDir() {
  static const std::filesystem::path folder = [] {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : executable.parent_path();
  }();
  return folder;
}

std::filesystem::path ScratchDir(const EnvironmentLookup& environment) {
  return RoamingAppDataDir(environment) / "CorvyniOSRecovery";
}

Status MakePrivateFolder(const std::filesystem::path& folder) {
  if (folder.empty()) return Status::System(ENOENT, "making a private folder without a name");
  if (folder.has_parent_path()) {
    std::error_code ignored;  // a parent that cannot be made fails the mkdir below
    std::filesystem::create_directories(folder.parent_path(), ignored);
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return Status::System(errno, "creating " + folder.string());
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) return Status::System(errno, folder.string());
  // Anyone else who could enter the folder could read what we put in it.
  if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
    return Status::System(EACCES, folder.string() + " is not a folder of ours that others cannot enter");
  }
  return kOk;
}

}  // namespace corvyn::platform

// Special folders of the user's session, after the XDG base-directory rules.
// Each lookup reads the environment through an EnvironmentLookup so that
// tests can supply their own; an unset or empty variable, or one holding a
// relative path (which the rules say to ignore), falls back to the default.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace corvyn::platform {

using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// Reads the process environment.
EnvironmentLookup ProcessEnvironment();

// The roaming application-data folder: $XDG_DATA_HOME, else $HOME/.local/share.
std::filesystem::path RoamingAppDataDir(const EnvironmentLookup& environment = ProcessEnvironment());
// $XDG_CONFIG_HOME, else $HOME/.config.
std::filesystem::path ConfigHomeDir(const EnvironmentLookup& environment = ProcessEnvironment());
// $XDG_RUNTIME_DIR, else a per-user folder under the temporary folder
// ("/tmp/corvyn-<uid>", created with mode 0700 when missing; when that name
// is taken by a folder that is not ours alone, a fresh private folder beside
// it is made instead).
std::filesystem::path RuntimeDir(const EnvironmentLookup& environment = ProcessEnvironment());
// $HOME, else the password database's home folder, else "/".
std::filesystem::path HomeDir(const EnvironmentLookup& environment = ProcessEnvironment());

// The folder that holds the running program (from /proc/self/exe); empty when
// it cannot be read. Taken once and kept for the rest of the run.
const std::filesystem::path& ProgramDir();

// The folder under the application-data folder that holds the preview scratch
// files and the default working root: <RoamingAppDataDir>/CorvyniOSRecovery.
std::filesystem::path ScratchDir(const EnvironmentLookup& environment = ProcessEnvironment());

}  // namespace corvyn::platform

// Special folders of the user's session, after the XDG base-directory rules.
// Each lookup reads the environment through an EnvironmentLookup so that
// tests can supply their own; an unset or empty variable, or one holding a
// relative path (which the rules say to ignore), falls back to the default.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/Status.h"

namespace corvyn::platform {

using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// Reads the process environment.
EnvironmentLookup ProcessEnvironment();

// The roaming application-data folder: $XDG_DATA_HOME, else $HOME/.local/share.
std::filesystem::path RoamingAppDataDir(const EnvironmentLookup& environment = ProcessEnvironment());
// $XDG_CONFIG_HOME, else $HOME/.config.
std::filesystem::path ConfigHomeDir(const EnvironmentLookup& environment = ProcessEnvironment());
// $XDG_RUNTIME_DIR, else a per-user folder under the temporary folder
// ("/tmp/corvyn-<uid>", made by MakePrivateFolder; when that name is taken by
// a folder that is not ours alone, a fresh private folder beside it is made
// instead).
std::filesystem::path RuntimeDir(const EnvironmentLookup& environment = ProcessEnvironment());
// $HOME, else the password database's home folder, else "/".
std::filesystem::path HomeDir(const EnvironmentLookup& environment = ProcessEnvironment());

// The folder that holds the running program (from /proc/self/exe); empty when
// it cannot be read. Taken once and kept for the rest of the run.
const std::filesystem::path& ProgramDir();

// The program's folder under the application-data folder, which holds the
// default working root: <RoamingAppDataDir>/CorvyniOSRecovery.
std::filesystem::path ScratchDir(const EnvironmentLookup& environment = ProcessEnvironment());

// Makes `folder` a folder for this user alone. A missing folder is created
// with mode 0700 (missing parents with the usual mode). An existing one is
// accepted only when it is a folder itself (not a link), owned by this
// process's user, with no permission bit for group or others; otherwise it
// is left as it is and refused with EACCES. Returns kOk, EACCES, or the
// system error of a failed creation or status read.
Status MakePrivateFolder(const std::filesystem::path& folder);

}  // namespace corvyn::platform

// What the program cleans up when its main loop has ended.
#pragma once

#include <filesystem>
#include <string_view>

#include "platform/Process.h"

namespace corvyn::app {

// The external media players that preview starts (video, audio).
inline constexpr std::string_view kVideoPlayerName = "Player";
inline constexpr std::string_view kAudioPlayerName = "Player1";
// Ends the media players still running (only those this program started),
// then deletes the working files under `workingRoot` (the preview copies and
// the decrypted copy, backup::RemoveWorkingFiles). Returns how many players
// were ended.
int EndPlayersAndDeleteScratchFiles(platform::IProcessLauncher& launcher,
                                    const std::filesystem::path& workingRoot);

}  // namespace corvyn::app

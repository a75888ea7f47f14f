// What the program cleans up when its main loop has ended.
#pragma once

#include <filesystem>
#include <string_view>

#include "platform/Process.h"

namespace corvyn::app {

// The external media players that preview starts (video, audio).
inline constexpr std::string_view kVideoPlayerName = "Player";
inline constexpr std::string_view kAudioPlayerName = "Player1";
// The preview scratch files, in the scratch folder.
inline constexpr std::string_view kScratchFileNames[] = {"tmp.jpg", "tmp.wav", "tmp.avi"};

// Ends the media players still running (only those this program started)
// and deletes the preview scratch files in `scratchDir`. Returns how many
// players were ended.
int EndPlayersAndDeleteScratchFiles(platform::IProcessLauncher& launcher,
                                    const std::filesystem::path& scratchDir);

}  // namespace corvyn::app

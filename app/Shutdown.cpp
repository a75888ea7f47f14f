#include "app/Shutdown.h"

namespace corvyn::app {

int EndPlayersAndDeleteScratchFiles(platform::IProcessLauncher& launcher,
                                    const std::filesystem::path& scratchDir) {
  const int ended =
      launcher.EndProcessesByName(kVideoPlayerName) + launcher.EndProcessesByName(kAudioPlayerName);
  for (const auto name : kScratchFileNames) {
    std::error_code ignored;  // a file that is not there is fine
    std::filesystem::remove(scratchDir / name, ignored);
  }
  return ended;
}

}  // namespace corvyn::app

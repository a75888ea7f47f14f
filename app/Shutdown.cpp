#include "app/Shutdown.h"

#include "backup/WorkingRoot.h"

namespace corvyn::app {

int EndPlayersAndDeleteScratchFiles(platform::IProcessLauncher& launcher,
                                    const std::filesystem::path& workingRoot) {
  // The players go first: they may hold the preview copies open.
  const int ended =
      launcher.EndProcessesByName(kVideoPlayerName) + launcher.EndProcessesByName(kAudioPlayerName);
  backup::RemoveWorkingFiles(workingRoot);
  return ended;
}

}  // namespace corvyn::app

#include <gtest/gtest.h>

#include <fstream>

#include "UiTestSupport.h"
#include "app/Shutdown.h"
#include "backup/WorkingRoot.h"
#include "platform/FakeProcessLauncher.h"

namespace corvyn::app {
namespace {

TEST(Shutdown, EndsOnlyThePlayersAndDeletesOnlyTheScratchFiles) {
  platform::FakeProcessLauncher launcher;
  for (const char* name : {"Player", "Player1", "tool"}) launcher.Script(name, {kOk, "", {}, true});
  std::vector<std::unique_ptr<platform::IChildProcess>> children;
  for (const char* path :
       {"/opt/corvyn/Player", "/opt/corvyn/Player1", "/opt/corvyn/Player", "/opt/corvyn/tool"}) {
    platform::ProcessSpec process;
    process.executable = path;
    children.emplace_back();
    ASSERT_EQ(launcher.Start(process, &children.back()), kOk);
  }

  testing::TempFolder folder;
  const auto preview = backup::PreviewFolder(folder.Path());
  const auto copy = backup::DecryptedCopyFolder(folder.Path());
  std::filesystem::create_directories(preview);
  std::filesystem::create_directories(copy);
  for (const char* name : {"tmp.jpg", "tmp.wav", "tmp.avi"}) std::ofstream(preview / name) << "x";
  std::ofstream(copy / "3d0d7e5fb2ce288813306e4d4636395e047a3d28") << "decrypted";
  std::ofstream(folder.Path() / "keep.txt") << "x";

  EXPECT_EQ(EndPlayersAndDeleteScratchFiles(launcher, folder.Path()), 3);
  EXPECT_FALSE(children[0]->IsRunning());
  EXPECT_FALSE(children[1]->IsRunning());
  EXPECT_FALSE(children[2]->IsRunning());
  EXPECT_TRUE(children[3]->IsRunning()) << "other children of ours are left alone";
  EXPECT_FALSE(std::filesystem::exists(preview)) << "preview copies are left behind";
  EXPECT_FALSE(std::filesystem::exists(copy)) << "the decrypted copy is left behind";
  EXPECT_TRUE(std::filesystem::exists(folder.Path() / "keep.txt"));

  // Nothing left to do is fine, also without the folder.
  EXPECT_EQ(EndPlayersAndDeleteScratchFiles(launcher, folder.Path() / "missing"), 0);
}

}  // namespace
}  // namespace corvyn::app

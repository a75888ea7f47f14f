#include <gtest/gtest.h>

#include <fstream>

#include "UiTestSupport.h"
#include "app/Shutdown.h"
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
  for (const char* name : {"tmp.jpg", "tmp.wav", "tmp.avi", "keep.txt"})
    std::ofstream(folder.Path() / name) << "x";

  EXPECT_EQ(EndPlayersAndDeleteScratchFiles(launcher, folder.Path()), 3);
  EXPECT_FALSE(children[0]->IsRunning());
  EXPECT_FALSE(children[1]->IsRunning());
  EXPECT_FALSE(children[2]->IsRunning());
  EXPECT_TRUE(children[3]->IsRunning()) << "other children of ours are left alone";
  for (const char* name : {"tmp.jpg", "tmp.wav", "tmp.avi"})
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / name));
  EXPECT_TRUE(std::filesystem::exists(folder.Path() / "keep.txt"));

  // Nothing left to do is fine, also without the folder.
  EXPECT_EQ(EndPlayersAndDeleteScratchFiles(launcher, folder.Path() / "missing"), 0);
}

}  // namespace
}  // namespace corvyn::app

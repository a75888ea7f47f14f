#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/Desktop.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::platform {
namespace {

TEST(Desktop, HandsTheTargetToTheOpenerWithoutShellInterpretation) {
  testing::TempFolder folder;
  const auto opener = folder.Path() / "opener";
  const auto received = folder.Path() / "received";
  {
    std::ofstream script(opener);
    script << "#!/bin/sh\nprintf '%s' \"$1\" > '" << received.string() << ".part' && mv '"
           << received.string() << ".part' '" << received.string() << "'\n";
  }
  std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
  auto launcher = MakePosixProcessLauncher();
  XdgDesktop desktop(*launcher, opener.string());
  const std::string target = "/tmp/My Backup $(touch pwned) `id`; echo \"x\"";
  ASSERT_EQ(desktop.OpenInDefaultProgram(target), kOk);

  for (int i = 0; i < 2000 && !std::filesystem::exists(received); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::ifstream file(received);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), target);
  EXPECT_FALSE(std::filesystem::exists("pwned"));
  EXPECT_EQ(desktop.OpenInDefaultProgram(""), kInvalidData);
}

}  // namespace
}  // namespace corvyn::platform

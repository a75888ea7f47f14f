#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>

#include "UiTestSupport.h"
#include "app/SingleInstance.h"
#include "backup/WorkingRoot.h"
#include "platform/Process.h"

namespace corvyn::app {
namespace {

TEST(SingleInstance, SecondStartAsksTheFirstToComeForward) {
  testing::TestApplication();
  testing::TempFolder folder;
  auto first = std::make_unique<SingleInstance>(folder.Path());
  ASSERT_EQ(first->Claim(), kOk);
  int broughtForward = 0;
  ASSERT_TRUE(first->Listen([&] { ++broughtForward; }));

  SingleInstance second(folder.Path());
  EXPECT_EQ((second.Claim()).systemError(), EWOULDBLOCK);
  // The second start blocks while the first answers from its event loop.
  auto answer = std::async(std::launch::async, [&] { return second.AskRunningInstanceToShow(5000); });
  ASSERT_TRUE(testing::WaitFor(
      [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_TRUE(answer.get());
  EXPECT_EQ(broughtForward, 1);

  // Once the first has gone, the next start is the first again, even with
  // the stale lock and socket files left behind.
  first.reset();
  SingleInstance third(folder.Path());
  EXPECT_EQ(third.Claim(), kOk);
  EXPECT_FALSE(SingleInstance(folder.Path()).AskRunningInstanceToShow(200)) << "nobody listens yet";
  EXPECT_TRUE(third.Listen([] {}));
}

// The program itself: a second start brings the first forward and exits.
TEST(SingleInstance, ProgramRunsOnce) {
  const std::filesystem::path program = std::filesystem::path(CORVYN_BIN_DIR) / "corvyn";
  ASSERT_TRUE(std::filesystem::exists(program));
  testing::TempFolder folder;
  platform::ProcessSpec process;
  process.executable = program;
  process.environment = {{"QT_QPA_PLATFORM", "offscreen"},
                         {"XDG_RUNTIME_DIR", folder.Path().string()},
                         {"XDG_DATA_HOME", (folder.Path() / "data").string()},
                         {"XDG_CONFIG_HOME", (folder.Path() / "config").string()}};
  auto launcher = platform::MakePosixProcessLauncher();
  std::unique_ptr<platform::IChildProcess> first;
  ASSERT_EQ(launcher->Start(process, &first), kOk);
  const auto socket = folder.Path() / "Corvyn_iOS_Recovery_2014_For_Windows.socket";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!std::filesystem::exists(socket) && first->IsRunning() &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(std::filesystem::exists(socket)) << "the first start never listened";

  std::unique_ptr<platform::IChildProcess> second;
  ASSERT_EQ(launcher->Start(process, &second), kOk);
  platform::ExitStatus exit;
  ASSERT_EQ(second->Wait(std::chrono::seconds(20), &exit), kOk) << "the second start did not end";
  EXPECT_TRUE(exit.Succeeded());
  EXPECT_TRUE(first->IsRunning());

  std::string output;
  bool ended = false;
  for (int i = 0; i < 100 && output.find("bringing it forward") == std::string::npos; ++i) {
    ASSERT_EQ(first->ReadOutput(&output, 65536, std::chrono::milliseconds(50), &ended), kOk);
  }
  EXPECT_NE(output.find("bringing it forward"), std::string::npos) << output;
  (void)first->Kill();
}

// Ended from outside (session end, Ctrl+C), the program still shuts down
// normally: it deletes the preview and decrypted copies left in the default
// working root and exits with 0.
TEST(SingleInstance, ProgramShutsDownNormallyWhenAskedToEnd) {
  const std::filesystem::path program = std::filesystem::path(CORVYN_BIN_DIR) / "corvyn";
  testing::TempFolder folder;
  const auto root = folder.Path() / "data" / backup::kProgramDataFolder / backup::kTempFolder;
  const auto preview = backup::PreviewFolder(root);
  const auto copy = backup::DecryptedCopyFolder(root);
  std::filesystem::create_directories(preview);
  std::filesystem::create_directories(copy);
  for (const char* name : {"tmp.jpg", "tmp.avi"}) std::ofstream(preview / name) << "x";
  std::ofstream(copy / "Manifest.mbdb") << "x";
  std::ofstream(root / "other.txt") << "x";
  platform::ProcessSpec process;
  process.executable = program;
  process.environment = {{"QT_QPA_PLATFORM", "offscreen"},
                         {"XDG_RUNTIME_DIR", folder.Path().string()},
                         {"XDG_DATA_HOME", (folder.Path() / "data").string()},
                         {"XDG_CONFIG_HOME", (folder.Path() / "config").string()}};
  auto launcher = platform::MakePosixProcessLauncher();
  std::unique_ptr<platform::IChildProcess> running;
  ASSERT_EQ(launcher->Start(process, &running), kOk);
  const auto socket = folder.Path() / "Corvyn_iOS_Recovery_2014_For_Windows.socket";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!std::filesystem::exists(socket) && running->IsRunning() &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(std::filesystem::exists(socket));
  ASSERT_EQ(running->Terminate(), kOk);
  platform::ExitStatus exit;
  ASSERT_EQ(running->Wait(std::chrono::seconds(20), &exit), kOk);
  EXPECT_TRUE(exit.Succeeded()) << "signal " << exit.signal;
  EXPECT_FALSE(std::filesystem::exists(preview));
  EXPECT_FALSE(std::filesystem::exists(copy));
  EXPECT_TRUE(std::filesystem::exists(root / "other.txt"));
}

}  // namespace
}  // namespace corvyn::app

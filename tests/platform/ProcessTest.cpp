#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include "platform/FakeProcessLauncher.h"
#include "platform/Process.h"

namespace corvyn::platform {
namespace {

using namespace std::chrono_literals;

// Reads until the output ends or `limit` passes; returns what was read.
std::string ReadAll(IChildProcess& child, bool* ended, std::chrono::milliseconds limit = 10s) {
  std::string text;
  *ended = false;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!*ended && std::chrono::steady_clock::now() < deadline) {
    EXPECT_EQ(child.ReadOutput(&text, 4096, 100ms, ended), kOk);
  }
  return text;
}

ProcessSpec Shell(const std::string& script) {
  ProcessSpec process;
  process.executable = "/bin/sh";
  process.arguments = {"-c", script};
  return process;
}

struct OutputCase {
  const char* name;
  const char* script;
  std::string expectedOutput;
  ExitStatus expectedExit;
};

TEST(ProcessRunner, OutputAndExitOfFinishingChildren) {
  const OutputCase cases[] = {
      {"stdout and stderr share one pipe", "printf out; printf err >&2", "outerr", {true, 0, false, 0}},
      {"exit code is passed on", "printf x; exit 3", "x", {true, 3, false, 0}},
      {"a child that prints nothing", "exit 0", "", {true, 0, false, 0}},
      {"a child ended by a signal", "kill -TERM $$", "", {false, 0, true, SIGTERM}},
      {"output larger than one pipe buffer",
       "head -c 300000 /dev/zero | tr '\\0' a",
       std::string(300000, 'a'),
       {true, 0, false, 0}},
  };
  auto launcher = MakePosixProcessLauncher();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<IChildProcess> child;
    ASSERT_EQ(launcher->Start(Shell(c.script), &child), kOk);
    bool ended = false;
    EXPECT_EQ(ReadAll(*child, &ended), c.expectedOutput);
    EXPECT_TRUE(ended);
    ExitStatus exit;
    ASSERT_EQ(child->Wait(10s, &exit), kOk);
    EXPECT_EQ(exit.exited, c.expectedExit.exited);
    EXPECT_EQ(exit.code, c.expectedExit.code);
    EXPECT_EQ(exit.signalled, c.expectedExit.signalled);
    EXPECT_EQ(exit.signal, c.expectedExit.signal);
    EXPECT_FALSE(child->IsRunning());
  }
}

TEST(ProcessRunner, SilentRunningChildTimesOutThenKillEndsItsWholeGroup) {
  auto launcher = MakePosixProcessLauncher();
  std::unique_ptr<IChildProcess> child;
  // The grandchild keeps the output pipe open; only a group kill closes it.
  ASSERT_EQ(launcher->Start(Shell("sleep 60 & wait"), &child), kOk);
  std::string text;
  bool ended = true;
  EXPECT_EQ(child->ReadOutput(&text, 100, 50ms, &ended), kOk);
  EXPECT_TRUE(text.empty());
  EXPECT_FALSE(ended);
  std::size_t waiting = 99;
  EXPECT_EQ(child->PeekOutput(&waiting), kOk);
  EXPECT_EQ(waiting, 0u);
  EXPECT_TRUE(child->IsRunning());
  ExitStatus exit;
  EXPECT_EQ((child->Wait(20ms, &exit)).systemError(), ETIMEDOUT);

  EXPECT_EQ(child->Kill(), kOk);
  EXPECT_EQ(ReadAll(*child, &ended), "");
  EXPECT_TRUE(ended) << "a descendant still holds the output pipe";
  ASSERT_EQ(child->Wait(10s, &exit), kOk);
  EXPECT_TRUE(exit.signalled);
  EXPECT_EQ(exit.signal, SIGKILL);
  EXPECT_EQ(child->Kill(), kOk) << "killing an ended child is harmless";
}

TEST(ProcessRunner, TerminateLetsTheChildCleanUp) {
  auto launcher = MakePosixProcessLauncher();
  std::unique_ptr<IChildProcess> child;
  ASSERT_EQ(launcher->Start(
                Shell("trap 'echo cleaned; exit 5' TERM; echo ready; while :; do sleep 0.01; done"), &child),
            kOk);
  std::string text;
  bool ended = false;
  while (text.find("ready") == std::string::npos && !ended) {
    ASSERT_EQ(child->ReadOutput(&text, 100, 10s, &ended), kOk);
  }
  EXPECT_EQ(child->Terminate(), kOk);
  text += ReadAll(*child, &ended);
  // The shell may also report its killed `sleep` ("Terminated") first.
  EXPECT_EQ(text.rfind("ready\n", 0), 0u) << text;
  EXPECT_NE(text.find("cleaned\n"), std::string::npos) << text;
  ExitStatus exit;
  ASSERT_EQ(child->Wait(10s, &exit), kOk);
  EXPECT_TRUE(exit.exited);
  EXPECT_EQ(exit.code, 5);
}

TEST(ProcessRunner, PeekShowsWaitingBytesWithoutConsumingThem) {
  auto launcher = MakePosixProcessLauncher();
  std::unique_ptr<IChildProcess> child;
  ASSERT_EQ(launcher->Start(Shell("printf 12345; exec sleep 60"), &child), kOk);
  std::size_t waiting = 0;
  for (int i = 0; i < 1000 && waiting < 5; ++i) {
    ASSERT_EQ(child->PeekOutput(&waiting), kOk);
    if (waiting < 5) std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(waiting, 5u);
  std::string text;
  bool ended = false;
  ASSERT_EQ(child->ReadOutput(&text, 3, 1s, &ended), kOk);
  EXPECT_EQ(text, "123") << "a read takes no more than asked";
  ASSERT_EQ(child->PeekOutput(&waiting), kOk);
  EXPECT_EQ(waiting, 2u);
}

TEST(ProcessRunner, InputPipeReachesTheChildAndItsEndIsSeen) {
  auto launcher = MakePosixProcessLauncher();
  std::unique_ptr<IChildProcess> cat;
  ASSERT_EQ(launcher->Start(Shell("cat"), &cat), kOk);
  // A second child must not inherit our end of cat's input, or cat would
  // never see end of file.
  std::unique_ptr<IChildProcess> bystander;
  ASSERT_EQ(launcher->Start(Shell("exec sleep 60"), &bystander), kOk);

  ASSERT_EQ(cat->WriteInput("password\n"), kOk);
  cat->CloseInput();
  EXPECT_EQ((cat->WriteInput("more")).systemError(), EBADF);
  bool ended = false;
  EXPECT_EQ(ReadAll(*cat, &ended), "password\n");
  EXPECT_TRUE(ended);
  ExitStatus exit;
  ASSERT_EQ(cat->Wait(10s, &exit), kOk);
  EXPECT_TRUE(exit.Succeeded());
  EXPECT_TRUE(bystander->IsRunning());
}

TEST(ProcessRunner, WritingToAChildThatStoppedReadingGivesEpipeInsteadOfDying) {
  auto launcher = MakePosixProcessLauncher();
  std::unique_ptr<IChildProcess> child;
  ASSERT_EQ(launcher->Start(Shell("exec 0<&-; exit 0"), &child), kOk);
  ExitStatus exit;
  ASSERT_EQ(child->Wait(10s, &exit), kOk);
  EXPECT_EQ((child->WriteInput(std::string(100000, 'x'))).systemError(), EPIPE);
}

TEST(ProcessRunner, StartFailuresAreReported) {
  auto launcher = MakePosixProcessLauncher();
  std::unique_ptr<IChildProcess> child;
  ProcessSpec missing;
  missing.executable = "/nonexistent/corvyn-tool";
  EXPECT_EQ((launcher->Start(missing, &child)).systemError(), ENOENT);
  EXPECT_EQ(child, nullptr);
  ProcessSpec folder;
  folder.executable = "/tmp";
  EXPECT_EQ((launcher->Start(folder, &child)).systemError(), EACCES);
  EXPECT_NE(launcher->Start(ProcessSpec{}, &child), kOk);
}

TEST(ProcessRunner, WorkingDirectoryAndEnvironmentReachTheChild) {
  auto launcher = MakePosixProcessLauncher();
  ProcessSpec process = Shell("printf '%s|%s' \"$PWD\" \"$CORVYN_PROBE\"");
  process.workingDirectory = "/";
  process.environment = {{"CORVYN_PROBE", "a b=c"}};
  std::unique_ptr<IChildProcess> child;
  ASSERT_EQ(launcher->Start(process, &child), kOk);
  bool ended = false;
  EXPECT_EQ(ReadAll(*child, &ended), "/|a b=c");
}

TEST(ProcessRunner, EndProcessesByNameEndsOnlyMatchingChildren) {
  auto launcher = MakePosixProcessLauncher();
  ProcessSpec sleeper;
  sleeper.executable = "sleep";
  sleeper.arguments = {"60"};
  sleeper.endOnRelease = false;
  std::unique_ptr<IChildProcess> released;
  ASSERT_EQ(launcher->Start(sleeper, &released), kOk);
  const int releasedPid = released->Pid();
  released.reset();  // keeps running, as a player started and left alone
  ASSERT_EQ(kill(releasedPid, 0), 0);

  std::unique_ptr<IChildProcess> other;
  ASSERT_EQ(launcher->Start(Shell("exec cat"), &other), kOk);

  EXPECT_EQ(launcher->EndProcessesByName("Player.exe"), 0);
  EXPECT_EQ(launcher->EndProcessesByName("SLEEP.EXE"), 1);
  EXPECT_NE(kill(releasedPid, 0), 0) << "ended and reaped";
  EXPECT_TRUE(other->IsRunning());
  EXPECT_EQ(launcher->EndProcessesByName("sleep"), 0);
}

TEST(ProcessRunner, ExecutableNameRule) {
  struct Case {
    const char* file;
    const char* wanted;
    bool matches;
  } cases[] = {
      {"Player", "Player.exe", true},
      {"player.EXE", "PLAYER", true},
      {"Player1", "Player.exe", false},
      {"Player", "Player1.exe", false},
      {"tool", "tool2", false},
      {".exe", ".exe", true},
      {"Player", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExecutableNameMatches(c.file, c.wanted), c.matches) << c.file << " vs " << c.wanted;
  }
}

TEST(FakeProcessLauncher, ScriptedChildrenBehaveLikeRealOnes) {
  FakeProcessLauncher launcher;
  launcher.Script("tool", {kOk, "Decrypting 50%\nDone", {true, 0, false, 0}, false});
  launcher.Script("Player", {kOk, "A: 1%", {}, true});
  std::unique_ptr<IChildProcess> tool;
  ProcessSpec process;
  process.executable = "/opt/corvyn/tool";
  process.arguments = {"-p"};
  ASSERT_EQ(launcher.Start(process, &tool), kOk);
  EXPECT_EQ(tool->WriteInput("secret"), kOk);
  bool ended = false;
  EXPECT_EQ(ReadAll(*tool, &ended), "Decrypting 50%\nDone");
  EXPECT_TRUE(ended);
  ExitStatus exit;
  EXPECT_EQ(tool->Wait(0ms, &exit), kOk);
  EXPECT_TRUE(exit.Succeeded());

  std::unique_ptr<IChildProcess> player;
  process.executable = "Player";
  ASSERT_EQ(launcher.Start(process, &player), kOk);
  EXPECT_EQ((player->Wait(0ms, &exit)).systemError(), ETIMEDOUT);
  EXPECT_EQ(launcher.EndProcessesByName("player.exe"), 1);
  EXPECT_FALSE(player->IsRunning());

  process.executable = "tool2";
  EXPECT_EQ((launcher.Start(process, &player)).systemError(), ENOENT);
  ASSERT_EQ(launcher.Started().size(), 3u);
  EXPECT_EQ(launcher.Started()[0].arguments, std::vector<std::string>{"-p"});
  EXPECT_EQ(launcher.Inputs().front(), "secret");
}

}  // namespace
}  // namespace corvyn::platform

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <map>

#include "backup/BackupContext.h"
#include "backup/CLocalBuckupRecovery.h"
#include "backup/WorkingRoot.h"
#include "platform/FakeProcessLauncher.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::backup {
namespace {
namespace fs = std::filesystem;

constexpr uint64_t kGiB = 1ull << 30;

TEST(WorkingRoot, AppDataWhenItHasRoomElseTheFileSystemWithMostFreeSpace) {
  const struct {
    const char* label;
    std::map<std::string, uint64_t> free;  // missing: unknown
    const char* expected;
  } cases[] = {
      {"room in app data",
       {{"/home/u/.local/share", 2 * kGiB}, {"/mnt/big", 900 * kGiB}},
       "/home/u/.local/share/CorvyniOSRecovery/CorvynTempFile"},
      {"exactly 1 GiB is not enough",
       {{"/home/u/.local/share", kGiB}, {"/mnt/big", 5 * kGiB}, {"/", 3 * kGiB}},
       "/mnt/big/CorvynTempFile"},
      {"app data unknown", {{"/", 3 * kGiB}, {"/mnt/big", 2 * kGiB}}, "/CorvynTempFile"},
      {"a tie keeps the earlier",
       {{"/home/u/.local/share", 10}, {"/", 7 * kGiB}, {"/mnt/big", 7 * kGiB}},
       "/CorvynTempFile"},
      {"nothing known", {}, ""},
  };
  const std::vector<fs::path> candidates = {"/", "/mnt/big"};
  for (const auto& c : cases) {
    const FreeSpaceProbe probe = [&](const fs::path& path) -> std::optional<uint64_t> {
      const auto it = c.free.find(path.string());
      if (it == c.free.end()) return std::nullopt;
      return it->second;
    };
    EXPECT_EQ(ChooseWorkingRoot("/home/u/.local/share", candidates, probe), fs::path(c.expected)) << c.label;
  }
}

TEST(WorkingRoot, RankingFallsBackInOrderOfFreeSpace) {
  const FreeSpaceProbe probe = [](const fs::path& path) -> std::optional<uint64_t> {
    if (path == "/a") return 5;
    if (path == "/b") return 9;
    if (path == "/c") return 5;
    return std::nullopt;
  };
  const auto ranked = RankWorkingRoots("/data", {"/a", "/b", "/c"}, probe);
  EXPECT_EQ(ranked, (std::vector<fs::path>{"/b/CorvynTempFile", "/a/CorvynTempFile", "/c/CorvynTempFile"}));
}

constexpr fs::perms kOpenToAll = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec;

class WorkingFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.Path();
    launcher_.Script("tool", {});
    picture_ = root_ / "picture";
    std::ofstream(picture_, std::ios::binary) << std::string("\x89PNG\r\n\x1A\n", 8) << "pixels";
  }

  void Prepare(BackupContext& context, const fs::path& workingRoot) {
    context.workingRoot = workingRoot;
    context.decryptionProgram = root_ / "bin" / "tool";
    context.launcher = &launcher_;
  }

  corvyn::testing::TempFolder temp_{"working"};
  fs::path root_, picture_;
  platform::FakeProcessLauncher launcher_;
};

// The fallback to the temporary folder once took any folder of that name.
TEST_F(WorkingFilesTest, AnOpenFolderIsPassedOverForTheNextRoot) {
  const fs::path open = root_ / "tmp" / kTempFolder;
  fs::create_directories(open);
  fs::permissions(open, kOpenToAll);
  const fs::path next = root_ / "home" / kTempFolder;
  EXPECT_EQ(FirstPrivateRoot({open, next}), next);
  EXPECT_EQ(fs::status(next).permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(open).permissions(), kOpenToAll);
  EXPECT_EQ(FirstPrivateRoot({open}), fs::path());
}

TEST_F(WorkingFilesTest, AGivenRootOthersMayEnterIsRefused) {
  const fs::path open = root_ / "open";
  fs::create_directories(open);
  fs::permissions(open, kOpenToAll);
  BackupContext context;
  Prepare(context, open);
  fs::path copy, preview;
  EXPECT_EQ((context.DecryptBackup("pw", root_ / "encrypted", copy)).systemError(), EACCES);
  EXPECT_TRUE(launcher_.Started().empty()) << "the program was started all the same";
  EXPECT_EQ((context.ExtractForPreview(picture_, preview, nullptr, nullptr)).systemError(), EACCES);
  EXPECT_TRUE(preview.empty());
  EXPECT_TRUE(fs::is_empty(open));
  EXPECT_EQ(fs::status(open).permissions(), kOpenToAll);
}

TEST_F(WorkingFilesTest, TheDecryptedCopyIsPrivateAndLeavesWithItsEngine) {
  const fs::path work = root_ / "work";
  fs::path copy;
  {
    BackupContext context;
    Prepare(context, work);
    {
      CLocalBuckupRecovery engine;
      ASSERT_EQ(engine.Attach(&context), kOk);
      ASSERT_EQ(context.DecryptBackup("pw", root_ / "encrypted", copy), kOk);
      EXPECT_EQ(copy, DecryptedCopyFolder(work));
      EXPECT_EQ(fs::status(work).permissions(), fs::perms::owner_all);
      EXPECT_EQ(fs::status(copy).permissions(), fs::perms::owner_all);
      std::ofstream(copy / kNotesStoredName) << "decrypted";
    }
    EXPECT_FALSE(fs::exists(copy)) << "released engine";
    ASSERT_EQ(context.DecryptBackup("pw", root_ / "encrypted", copy), kOk);
    std::ofstream(copy / kNotesStoredName) << "decrypted";
    context.Select({});
    EXPECT_FALSE(fs::exists(copy)) << "another backup selected";
    ASSERT_EQ(context.DecryptBackup("pw", root_ / "encrypted", copy), kOk);
    std::ofstream(copy / kNotesStoredName) << "decrypted";
  }
  EXPECT_FALSE(fs::exists(copy)) << "destroyed context";
  EXPECT_TRUE(fs::is_directory(work)) << "the root itself stays";
}

// Preview copies are written where shut-down deletes them.
TEST_F(WorkingFilesTest, PreviewCopiesLiveInThePreviewFolderUntilTheEngineEnds) {
  const fs::path work = root_ / "work";
  fs::path preview;
  {
    BackupContext context;
    Prepare(context, work);
    ASSERT_EQ(context.ExtractForPreview(picture_, preview, nullptr, nullptr), kOk);
    EXPECT_EQ(preview, PreviewFolder(work) / "tmp.jpg");
    EXPECT_EQ(fs::status(PreviewFolder(work)).permissions(), fs::perms::owner_all);
  }
  EXPECT_FALSE(fs::exists(PreviewFolder(work)));

  // Shut-down deletes the same folders of this run's root, and nothing else.
  fs::create_directories(PreviewFolder(work));
  fs::create_directories(DecryptedCopyFolder(work));
  std::ofstream(PreviewFolder(work) / "tmp.wav") << "x";
  std::ofstream(work / "other.txt") << "x";
  RemoveWorkingFiles(work);
  EXPECT_FALSE(fs::exists(PreviewFolder(work)));
  EXPECT_FALSE(fs::exists(DecryptedCopyFolder(work)));
  EXPECT_TRUE(fs::exists(work / "other.txt"));
}

}  // namespace
}  // namespace corvyn::backup

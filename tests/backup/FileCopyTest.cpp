#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backup/BackupContext.h"
#include "backup/FileCopy.h"
#include "backup/WorkingRoot.h"
#include "tests/support/backup_builder/SyntheticMedia.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::backup {
namespace {
namespace fs = std::filesystem;

struct Reports {
  std::vector<int> values;
  int stopAfter = -1;
  static int Record(void* self, int percent) {
    auto* r = static_cast<Reports*>(self);
    r->values.push_back(percent);
    return r->stopAfter >= 0 && static_cast<int>(r->values.size()) >= r->stopAfter ? kStopAnswer : 0;
  }
};

class FileCopyTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = folder_.Path(); }
  fs::path Make(const std::string& name, const std::string& bytes) {
    const fs::path path = root_ / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  }
  corvyn::testing::TempFolder folder_{"copy"};
  fs::path root_;
};

TEST_F(FileCopyTest, CopiesInChunksReportingPercentAndCreatingFolders) {
  const struct {
    std::size_t size;
    std::vector<int> reports;
  } cases[] = {
      {0, {}},
      {10, {100}},
      {kCopyChunkSize, {100}},
      {kCopyChunkSize * 2 + 1, {49, 99, 100}},
  };
  for (const auto& c : cases) {
    const std::string bytes = testsupport::MakeUnknown(c.size, static_cast<int>(c.size));
    const fs::path source = Make("source.bin", bytes.substr(0, c.size));
    const fs::path destination = root_ / "a" / "b" / "copy.bin";
    Reports reports;
    ASSERT_EQ(CopyFileWithProgress(source, destination, &Reports::Record, &reports), kOk) << c.size;
    EXPECT_EQ(Read(destination), bytes.substr(0, c.size));
    EXPECT_EQ(reports.values, c.reports) << c.size;
  }
}

TEST_F(FileCopyTest, ReplacesAnExistingDestination) {
  const fs::path source = Make("s", "new");
  const fs::path destination = Make("d", "much longer old contents");
  ASSERT_EQ(CopyFileWithProgress(source, destination, nullptr, nullptr), kOk);
  EXPECT_EQ(Read(destination), "new");
}

TEST_F(FileCopyTest, FailuresKeepTheSourceAndLeaveNoHalfCopy) {
  const fs::path source = Make("source.bin", std::string(kCopyChunkSize * 3, 'x'));
  Reports stop;
  stop.stopAfter = 1;
  EXPECT_EQ(CopyFileWithProgress(source, root_ / "stopped.bin", &Reports::Record, &stop), kStopped);
  EXPECT_FALSE(fs::exists(root_ / "stopped.bin"));

  EXPECT_EQ((CopyFileWithProgress(root_ / "missing", root_ / "x", nullptr, nullptr)).systemError(), ENOENT);
  EXPECT_EQ((CopyFileWithProgress(source, root_, nullptr, nullptr)).systemError(), EISDIR);  // a folder
  // Copying a file onto itself would empty it.
  EXPECT_EQ(CopyFileWithProgress(source, root_ / "." / "source.bin", nullptr, nullptr), kInvalidData);
  EXPECT_EQ(fs::file_size(source), kCopyChunkSize * 3);
}

TEST_F(FileCopyTest, PreviewCopiesAreNamedByDetectedType) {
  BackupContext context;
  context.workingRoot = root_ / "work";
  const struct {
    const char* label;
    std::string bytes;
    const char* copyName;  // nullptr: no copy
  } cases[] = {
      {"jpeg", testsupport::MakeJpegExif(3000), "tmp.jpg"},
      {"png", testsupport::MakePng(900), "tmp.jpg"},
      {"wav", testsupport::MakeWav(800), "tmp.wav"},
      {"mov", testsupport::MakeMov(700), "tmp.avi"},
      {"mp4", testsupport::MakeMp4(700), "tmp.avi"},
      {"unknown", testsupport::MakeUnknown(700), nullptr},
  };
  for (const auto& c : cases) {
    const fs::path source = Make("hashedname", c.bytes);
    fs::path preview;
    const Status status = context.ExtractForPreview(source, preview, nullptr, nullptr);
    if (c.copyName == nullptr) {
      EXPECT_NE(status, kOk) << c.label;
      EXPECT_TRUE(preview.empty()) << c.label;
      continue;
    }
    ASSERT_EQ(status, kOk) << c.label;
    EXPECT_EQ(preview, PreviewFolder(context.workingRoot) / c.copyName) << c.label;
    EXPECT_EQ(Read(preview), c.bytes) << c.label;
  }
}

}  // namespace
}  // namespace corvyn::backup

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "export/ReportTemplate.h"
#include "tests/cli/CliRunner.h"
#include "tests/cli/MiniJson.h"
#include "tests/support/backup_builder/ModernEncryption.h"
#include "tests/support/backup_builder/StandardBackup.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::cli {
namespace {
namespace fs = std::filesystem;

fs::path ExportRoot() {
  static const corvyn::testing::TempFolder root("cli-export-tests");
  return root.Path();
}

using ExportRun = CliRun;

class CliExportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testsupport::StandardBackup backup;
    ASSERT_EQ(testsupport::MakeStandardBackup(ExportRoot() / "scratch", backup), kOk);
    ASSERT_EQ(backup.builder.Write(Backup()), kOk);
    truth_ = new testsupport::StandardBackup(std::move(backup));
    fs::create_directories(Templates());
    for (const auto kind : {exporting::ReportKind::kCallHistory, exporting::ReportKind::kNotes,
                            exporting::ReportKind::kContacts, exporting::ReportKind::kMessages,
                            exporting::ReportKind::kWhatsApp}) {
      std::ofstream(Templates() / exporting::TemplateFileName(kind)) << "<h1>{|title|}</h1>{|content|}<hr>";
    }
  }
  static void TearDownTestSuite() {
    delete truth_;
    truth_ = nullptr;
  }
  static fs::path Backup() { return ExportRoot() / "backup"; }
  static fs::path Templates() { return ExportRoot() / "template"; }

  ExportRun Export(std::vector<std::string> options) { return ExportFrom(Backup(), std::move(options)); }
  ExportRun ExportFrom(const fs::path& folder, std::vector<std::string> options,
                       const std::string& input = {}) {
    std::vector<std::string> args = {"export", folder.string()};
    args.insert(args.end(), options.begin(), options.end());
    return RunInProcess(args, input, Templates());
  }
  fs::path Out() const { return out_.Path() / "exported"; }

  corvyn::testing::TempFolder out_{"cli-export-out"};
  static testsupport::StandardBackup* truth_;
};
testsupport::StandardBackup* CliExportTest::truth_ = nullptr;

TEST_F(CliExportTest, ExportsEverythingAndSaysSo) {
  const ExportRun run = Export({"--out", Out().string()});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  // Records plus the messages and contacts CSV files.
  const auto& t = *truth_;
  const std::size_t total = t.media.cameraRoll.size() + t.media.photoStream.size() + t.media.appFiles.size() +
                            t.media.messageAttachments.size() + t.media.whatsAppAttachments.size() + 2 +
                            t.databases.contacts.size() + t.databases.calls.size() +
                            t.databases.notes.size() + 1 + 2;
  const std::string n = std::to_string(total);
  EXPECT_EQ(run.out, "recovered: " + n + " of " + n + ", " + n + " succeeded, 0 failed\n");
  for (const char* folder :
       {"Camera Roll", "Photo Stream", "App Photos", "App Video", "Message", "Message Attachments",
        "Contacts", "CallHistory", "Notes", "WhatsApp Message", "WhatsApp Attachments"}) {
    EXPECT_TRUE(fs::is_directory(Out() / folder)) << folder;
  }
}

// Every file exported from an encrypted backup of the newer layout is the
// file of the same backup unencrypted, and the backup is only read.
TEST_F(CliExportTest, AnEncryptedNewerBackupExportsThePlainFiles) {
  const fs::path plain = out_.Path() / "plain newer";
  const fs::path encrypted = out_.Path() / "encrypted newer";
  ASSERT_EQ(truth_->builder.WriteNewerLayout(plain), kOk);
  ASSERT_EQ(testsupport::EncryptNewerLayoutFolder(plain, encrypted, "open sesame"), kOk);
  const auto before = testsupport::HashFolder(encrypted);
  const ExportRun fromPlain = ExportFrom(plain, {"--out", (out_.Path() / "from plain").string()});
  ASSERT_EQ(fromPlain.exitCode, kExitOk) << fromPlain.err;
  const ExportRun fromEncrypted = ExportFrom(
      encrypted, {"--out", (out_.Path() / "from encrypted").string(), "--password-stdin"}, "open sesame\n");
  ASSERT_EQ(fromEncrypted.exitCode, kExitOk) << fromEncrypted.err;
  EXPECT_EQ(fromEncrypted.out, fromPlain.out);
  EXPECT_EQ(fromEncrypted.err, "");
  // Media and value lists byte for byte; reports (which carry the time) by
  // name, with the export's start time in folder and file names left out:
  // the two exports may start in different seconds.
  const auto files = [](const fs::path& root) {
    std::map<std::string, std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      const std::string relative =
          std::regex_replace(fs::relative(entry.path(), root).string(), std::regex("[0-9]{14}"), "STAMP");
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string bytes{std::istreambuf_iterator<char>(in), {}};
      found[relative] = entry.path().extension() == ".html" ? std::string() : bytes;
    }
    return found;
  };
  const auto plainFiles = files(out_.Path() / "from plain");
  EXPECT_EQ(files(out_.Path() / "from encrypted"), plainFiles);
  EXPECT_GT(plainFiles.size(), 10u);
  EXPECT_EQ(testsupport::HashFolder(encrypted), before);
}

TEST_F(CliExportTest, CategoriesAndOnlyDeletedChooseWhatIsWritten) {
  ExportRun run =
      Export({"--out", Out().string(), "--category", "Camera Roll", "--category", "Notes", "--json"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  const auto parsed = testjson::Parse(run.out);
  ASSERT_TRUE(parsed.has_value()) << run.out;
  const testjson::Value& json = *parsed;
  const double total = static_cast<double>(truth_->media.cameraRoll.size() + truth_->databases.notes.size());
  EXPECT_EQ(json["total"].AsNumber(), total);
  EXPECT_EQ(json["done"].AsNumber(), total);
  EXPECT_EQ(json["succeeded"].AsNumber(), total);
  EXPECT_EQ(json["failed"].AsNumber(), 0);
  EXPECT_TRUE(json["failures"].AsArray().empty());
  std::vector<std::string> folders;
  for (const auto& entry : fs::directory_iterator(Out())) folders.push_back(entry.path().filename());
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (std::vector<std::string>{"Camera Roll", "Notes"}));

  // The built backup holds no deleted record: nothing to write.
  fs::remove_all(Out());
  run = Export({"--out", Out().string(), "--only-deleted"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.out, "recovered: 0 of 0, 0 succeeded, 0 failed\n");
  EXPECT_TRUE(fs::is_empty(Out()));
}

TEST_F(CliExportTest, AFileThatCannotBeWrittenFailsTheRun) {
  fs::create_directories(Out());
  std::ofstream(Out() / "Notes") << "a file where the folder goes";
  const ExportRun run =
      Export({"--out", Out().string(), "--category", "Notes", "--category", "Photo Stream"});
  EXPECT_EQ(run.exitCode, kExitFailed);
  const std::string notes = std::to_string(truth_->databases.notes.size());
  const std::string total = std::to_string(truth_->databases.notes.size() + 1);
  EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1),
            "recovered: " + total + " of " + total + ", 1 succeeded, " + notes + " failed\n");
  EXPECT_NE(run.out.find("failed: " + (Out() / "Notes").string() + "/Notes_"), std::string::npos) << run.out;
}

TEST_F(CliExportTest, UsageErrors) {
  const std::vector<std::vector<std::string>> rows = {
      {},                                                         // no --out
      {"--out"},                                                  // no value
      {"--out", Out().string(), "--category", "Holiday Photos"},  // unknown category
      {"--out", Out().string(), "--category"},
      {"--out", Out().string(), "--bogus"},
  };
  for (const auto& options : rows) {
    const ExportRun run = Export(options);
    EXPECT_EQ(run.exitCode, kExitUsage) << ::testing::PrintToString(options);
    EXPECT_NE(run.err.find("corvyn-cli: "), std::string::npos);
  }
  CliStreams streams;
  streams.out = std::tmpfile();
  streams.err = std::tmpfile();
  EXPECT_EQ(RunCli({"export", "--out", Out().string()}, streams), kExitUsage);
  EXPECT_EQ(RunCli({"export", (ExportRoot() / "nothing").string(), "--out", Out().string()}, streams),
            kExitUnopenable);
  std::fclose(streams.out);
  std::fclose(streams.err);
}

}  // namespace
}  // namespace corvyn::cli

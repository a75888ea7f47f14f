// The "tool" program end to end: backups encrypted by the test-support
// encryptor are decrypted by the real program, with the password on standard
// input or on the command line.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <map>
#include <regex>

#include "tests/support/backup_crypto/BackupEncryptor.h"
#include "tests/tools/BackupFolderFixture.h"
#include "tools/decrypt/BackupDecryptor.h"
#include "tools/decrypt/ToolCopy.h"

namespace corvyn::testing {
namespace {
namespace fs = std::filesystem;
namespace bc = corvyn::backupcrypto;
using testsupport::BackupEncryptOptions;
using testsupport::EncryptBackupFolder;

constexpr char kPassword[] = "s3cret pass";

std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = ReadBytes(entry.path());
  }
  return files;
}

std::vector<std::uint64_t> Counts(const std::string& output) {
  std::vector<std::uint64_t> counts;
  const std::regex line("Count: ([0-9]+)");
  for (auto it = std::sregex_iterator(output.begin(), output.end(), line); it != std::sregex_iterator();
       ++it) {
    counts.push_back(std::stoull((*it)[1]));
  }
  return counts;
}

bool ManifestPlistSaysEncrypted(const fs::path& file, bool& hasKeybag) {
  const std::string bytes = ReadBytes(file);
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
  EXPECT_NE(root, nullptr) << file;
  std::uint8_t encrypted = 0;
  if (plist_t flag = plist_dict_get_item(root, "IsEncrypted")) plist_get_bool_val(flag, &encrypted);
  hasKeybag = plist_dict_get_item(root, "BackupKeyBag") != nullptr;
  plist_free(root);
  return encrypted != 0;
}

class DecryptProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    names_.push_back(builder_.AddFile("HomeDomain", "Library/SMS/sms.db", PatternBytes(70000, 1), 3));
    names_.push_back(builder_.AddFile("HomeDomain", "Library/Notes/empty", "", 1));
    names_.push_back(
        builder_.AddFile("MediaDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", PatternBytes(16, 2), 4));
    names_.push_back(
        builder_.AddFile("CameraRollDomain", "Media/DCIM/big.MOV", PatternBytes((1 << 20) + 3, 3), 2));
    names_.push_back(builder_.AddFile("AppDomain-com.example", "Documents/noclass", PatternBytes(33, 4), 0));
    names_.push_back(builder_.AddFile("HomeDomain", "../../../../tmp/escape", "outside?", 3));
    builder_.AddDirectory("HomeDomain", "Library/SMS");
    builder_.AddMissingFile("HomeDomain", "Library/gone.db");
    builder_.Write(plain());
  }

  fs::path plain() const { return root_.Path() / "plain"; }
  fs::path encrypted() const { return root_.Path() / "encrypted"; }
  fs::path copy() const { return root_.Path() / "copy"; }

  void Encrypt(const BackupEncryptOptions& options = {.iterations = 50}) {
    ASSERT_EQ(EncryptBackupFolder(plain(), encrypted(), kPassword, options), kOk);
  }

  void ExpectCopyEqualsPlain() {
    for (const auto& name : names_)
      EXPECT_TRUE(ReadBytes(copy() / name) == ReadBytes(plain() / name)) << name;
    // The copy's manifest is the plain one again: same records, no keys.
    EXPECT_TRUE(ReadBytes(copy() / "Manifest.mbdb") == ReadBytes(plain() / "Manifest.mbdb"));
    bool hasKeybag = true;
    EXPECT_FALSE(ManifestPlistSaysEncrypted(copy() / "Manifest.plist", hasKeybag));
    EXPECT_FALSE(hasKeybag);
    EXPECT_EQ(ReadBytes(copy() / "Info.plist"), ReadBytes(plain() / "Info.plist"));
  }

  TempFolder root_;
  PlainBackupBuilder builder_;
  std::vector<std::string> names_;
};

TEST_F(DecryptProgram, RoundTripsBothKeybagKindsWithThePasswordOnStandardInput) {
  const struct {
    const char* name;
    BackupEncryptOptions options;
    std::vector<std::string> extraArgs;
    std::string input;
  } cases[] = {
      {"single stage, bare form", {.iterations = 50}, {}, std::string(kPassword) + "\n"},
      {"two stage, explicit flag",
       {.iterations = 50, .twoStageKeybag = true, .sha256Iterations = 70},
       {"--password-stdin"},
       std::string(kPassword) + "\r\n"},
      {"single stage, no line end", {.iterations = 50}, {}, kPassword},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(encrypted());
    fs::remove_all(copy());
    Encrypt(c.options);
    bool hasKeybag = false;
    ASSERT_TRUE(ManifestPlistSaysEncrypted(encrypted() / "Manifest.plist", hasKeybag));
    ASSERT_TRUE(hasKeybag);
    for (const auto& name : names_) {
      if (ReadBytes(plain() / name).size() >= 16) {
        EXPECT_NE(ReadBytes(encrypted() / name).substr(0, 16), ReadBytes(plain() / name).substr(0, 16))
            << name;
      }
    }
    const auto before = Snapshot(encrypted());

    auto args = c.extraArgs;
    args.push_back(encrypted().string());
    args.push_back(copy().string());
    const ToolRun run = RunTool(args, c.input);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::vector<std::uint64_t> expected(names_.size());
    for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = i + 1;
    EXPECT_EQ(Counts(run.output), expected) << run.output;
    EXPECT_EQ(run.output.find("Wrong password"), std::string::npos);
    EXPECT_NE(run.output.find("Missing: " + backup::StoredNameOf("HomeDomain-Library/gone.db")),
              std::string::npos)
        << run.output;
    ExpectCopyEqualsPlain();
    EXPECT_TRUE(Snapshot(encrypted()) == before) << "the backup folder was written to";
  }
  EXPECT_FALSE(fs::exists("/tmp/escape"));
}

TEST_F(DecryptProgram, AcceptsThePasswordOnTheCommandLine) {
  Encrypt();
  // As separate words (an unquoted command line) and as one argument.
  const ToolRun words = RunTool({encrypted().string(), copy().string(), "s3cret", "pass"}, "");
  EXPECT_EQ(words.exitCode, 0) << words.output;
  ExpectCopyEqualsPlain();
  fs::remove_all(copy());
  const ToolRun single = RunTool({encrypted().string(), copy().string(), kPassword}, "wrong\n");
  EXPECT_EQ(single.exitCode, 0) << single.output;
  ExpectCopyEqualsPlain();
}

TEST_F(DecryptProgram, WrongPasswordIsReportedAndNothingIsWritten) {
  Encrypt({.iterations = 50, .twoStageKeybag = true, .sha256Iterations = 30});
  for (const std::string& input :
       std::vector<std::string>{"s3cret pas\n", "\n", "S3cret pass\n", std::string(kPassword) + " \n"}) {
    const ToolRun run = RunTool({encrypted().string(), copy().string()}, input);
    EXPECT_EQ(run.exitCode, 3) << input;
    EXPECT_NE(run.output.find("Wrong password"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Count:"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(copy())) << input;
  }
}

TEST_F(DecryptProgram, RefusesCopyFoldersInsideTheBackupAndBadCommandLines) {
  Encrypt();
  const auto before = Snapshot(encrypted());
  const struct {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
  } cases[] = {
      {"copy is the backup", {encrypted().string(), encrypted().string()}, 2},
      {"copy inside the backup", {encrypted().string(), (encrypted() / "out").string()}, 2},
      {"copy inside through ..", {encrypted().string(), (copy() / ".." / "encrypted" / "x").string()}, 2},
      {"no copy folder", {encrypted().string()}, 2},
      {"flag with a password word", {"--password-stdin", encrypted().string(), copy().string(), "p"}, 2},
      {"backup folder missing", {(root_.Path() / "nope").string(), copy().string()}, 4},
      {"plain folder lacks a keybag", {(root_.Path() / "nope").string(), copy().string()}, 4},
  };
  for (const auto& c : cases) {
    const ToolRun run = RunTool(c.args, std::string(kPassword) + "\n");
    EXPECT_EQ(run.exitCode, c.exitCode) << c.name << ": " << run.output;
    EXPECT_EQ(run.output.find("Count:"), std::string::npos) << c.name;
  }
  EXPECT_TRUE(Snapshot(encrypted()) == before);
  EXPECT_FALSE(fs::exists(copy()));

  // An encrypted Manifest.plist without its keybag cannot be opened.
  fs::remove(encrypted() / "Manifest.plist");
  WriteBytes(
      encrypted() / "Manifest.plist",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>IsEncrypted</key><true/></dict></plist>");
  EXPECT_EQ(RunTool({encrypted().string(), copy().string()}, "x\n").exitCode, 4);
}

TEST_F(DecryptProgram, DamagedManifestsAndKeysFailOnlyTheirFiles) {
  Encrypt();
  const std::string mbdb = ReadBytes(encrypted() / "Manifest.mbdb");
  std::vector<backup::MbdbRecord> records;
  ASSERT_EQ(
      backup::ParseMbdb(std::span(reinterpret_cast<const std::uint8_t*>(mbdb.data()), mbdb.size()), records),
      kOk);
  auto encode = [](const std::vector<backup::MbdbRecord>& list) {
    std::string out = backup::MbdbHeader();
    for (const auto& record : list) EXPECT_EQ(backup::AppendMbdbRecord(record, out), kOk);
    return out;
  };
  auto withKey = [&](std::size_t index, std::string key) {
    auto copy = records;
    copy[index].encryptionKey = std::move(key);
    return encode(copy);
  };
  std::string firstRecord;
  ASSERT_EQ(backup::AppendMbdbRecord(records[0], firstRecord), kOk);
  std::string otherClass = *records[1].encryptionKey;
  otherClass[0] = 9;  // a class the keybag wraps with the device key too; no file uses it
  std::string tampered = *records[2].encryptionKey;
  tampered[20] ^= 1;

  const struct {
    const char* name;
    std::string manifest;
    int exitCode;
    std::size_t filesWritten;
  } cases[] = {
      {"cut inside the second record", mbdb.substr(0, 6 + firstRecord.size() + 9), 1, 1},
      {"length field claims 65534 bytes", backup::MbdbHeader() + std::string("\xff\xfe", 2) + "short", 1, 0},
      {"garbage after the header", backup::MbdbHeader() + PatternBytes(5000, 9), 1, 0},
      {"not an mbdb file", "mbdx" + mbdb.substr(4), 4, 0},
      {"key of 43 bytes", withKey(0, records[0].encryptionKey->substr(0, 43)), 1, 5},
      {"unknown protection class",
       withKey(1, std::string("\x63\0\0\0", 4) + records[1].encryptionKey->substr(4)), 1, 5},
      {"key wrapped for another class", withKey(1, otherClass), 1, 5},
      {"tampered wrapped key", withKey(2, tampered), 1, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(copy());
    fs::remove(encrypted() / "Manifest.mbdb");
    WriteBytes(encrypted() / "Manifest.mbdb", c.manifest);
    const ToolRun run = RunTool({encrypted().string(), copy().string()}, std::string(kPassword) + "\n");
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_EQ(Counts(run.output).size(), c.filesWritten) << run.output;
  }
}

TEST_F(DecryptProgram, LinksLeftInTheCopyFolderAreReplacedNotFollowed) {
  Encrypt();
  fs::create_directories(copy());
  const fs::path victim = root_.Path() / "victim";
  WriteBytes(victim, "do not touch");
  for (const auto& name : names_) fs::create_symlink(victim, copy() / name);
  fs::create_symlink(victim, copy() / "Manifest.mbdb");
  const ToolRun run = RunTool({encrypted().string(), copy().string()}, std::string(kPassword) + "\n");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(ReadBytes(victim), "do not touch");
  ExpectCopyEqualsPlain();
}

TEST_F(DecryptProgram, WorkersReportRisingCountsAndRepeatedRecordsWriteOneFile) {
  // A second record for sms.db: the later one names the stored file's real size.
  const std::string again = PatternBytes(5000, 8);
  ASSERT_EQ(builder_.AddFile("HomeDomain", "Library/SMS/sms.db", again, 3), names_[0]);
  builder_.Write(plain());
  Encrypt();
  for (unsigned workers : {1u, 4u}) {
    SCOPED_TRACE(workers);
    fs::remove_all(copy());
    std::vector<std::uint64_t> counts;
    std::vector<std::string> warnings;
    bc::DecryptObserver observer;
    observer.fileDone = [&](std::uint64_t count) { counts.push_back(count); };
    observer.warning = [&](const std::string& line) { warnings.push_back(line); };
    bc::DecryptSummary summary;
    ASSERT_EQ(
        bc::DecryptBackupFolder(encrypted(), copy(), kPassword, observer, summary, {.workers = workers}),
        kOk);
    EXPECT_EQ(summary.filesWritten, names_.size());
    EXPECT_EQ(summary.filesMissing, 1u);
    EXPECT_EQ(summary.filesFailed, 0u);
    EXPECT_FALSE(summary.manifestDamaged);
    std::vector<std::uint64_t> expected(names_.size());
    for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = i + 1;
    EXPECT_EQ(counts, expected);
    EXPECT_EQ(ReadBytes(copy() / names_[0]), again);
    // Only the missing file is worth a line; sizes and padding all agree.
    EXPECT_EQ(warnings,
              std::vector<std::string>{"Missing: " + backup::StoredNameOf("HomeDomain-Library/gone.db")});
  }
}

// pyiosbackup's Manifest.mbdb-era fixture, assembled as its own tests do:
// the older keybag, the one-record manifest and the 16-byte stored file.
TEST(DecryptProgramVectors, PyiosbackupMbdbBackupDecryptsWithItsPassword) {
  const char* env = std::getenv("CORVYN_TESTDATA");
  const fs::path data = fs::path(env ? env : CORVYN_EXTERNAL_TESTDATA) / "matan1008__pyiosbackup/extracted";
  if (!fs::exists(data)) GTEST_SKIP() << "external test data not found at " << data;
  TempFolder root;
  const fs::path backup = root.Path() / "backup";
  fs::create_directories(backup);
  const std::string keybag = ReadBytes(data / "keybag_pre_10_2.bin");
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "BackupKeyBag", plist_new_data(keybag.data(), keybag.size()));
  plist_dict_set_item(dict, "IsEncrypted", plist_new_bool(1));
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(dict, &xml, &length);
  WriteBytes(backup / "Manifest.plist", std::string(xml, length));
  plist_to_xml_free(xml);
  plist_free(dict);
  const std::string name = "5727bd1c5fa1055e15d8b4a75a74793c84b5ffdc";
  fs::copy_file(data / "Manifest.mbdb", backup / "Manifest.mbdb");
  fs::copy_file(data / ("file_" + name + ".bin"), backup / name);

  const ToolRun wrong = RunTool({backup.string(), (root.Path() / "copy").string()}, "0001\n");
  EXPECT_EQ(wrong.exitCode, 3);
  EXPECT_NE(wrong.output.find("Wrong password"), std::string::npos);
  const ToolRun run = RunTool({backup.string(), (root.Path() / "copy").string()}, "0000\n");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("Count: 1"), std::string::npos);
  EXPECT_EQ(ReadBytes(root.Path() / "copy" / name), "Test data");
}

TEST(DecryptionProgramCopy, CopyKeepsTheExecutableSignatureAndRuns) {
  TempFolder dir;
  ASSERT_TRUE(bc::HasExecutableSignature(ToolPath()));
  const fs::path target = dir.Path() / "CorvyniOSRecovery" / "tool";
  fs::create_directories(target.parent_path());
  WriteBytes(dir.Path() / "old", "stale");
  fs::create_symlink(dir.Path() / "old", target);
  ASSERT_EQ(bc::CopyDecryptionProgram(ToolPath(), target), kOk);
  EXPECT_EQ(ReadBytes(dir.Path() / "old"), "stale");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
  EXPECT_NE(fs::status(target).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_EQ(fs::status(target).permissions() & (fs::perms::group_all | fs::perms::others_all),
            fs::perms::none);
  EXPECT_EQ(std::system((target.string() + " > /dev/null 2>&1; test $? -eq 2").c_str()), 0);  // usage exit

  WriteBytes(dir.Path() / "notelf", "MZ\x90\0 not a program here");
  EXPECT_EQ(bc::CopyDecryptionProgram(dir.Path() / "notelf", dir.Path() / "copy"), kInvalidData);
  EXPECT_EQ(bc::CopyDecryptionProgram(dir.Path() / "missing", dir.Path() / "copy"), kInvalidData);
  EXPECT_FALSE(fs::exists(dir.Path() / "copy"));
}

}  // namespace
}  // namespace corvyn::testing

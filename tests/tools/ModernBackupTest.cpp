// Encrypted backups of the Manifest.db layout, read file by file: the
// pyiosbackup "0000" fixture through the whole chain, and backups written by
// the test encryptor (password checks, damaged keys, Curve25519 classes,
// byte-identical round trips).
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sqlite3.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/backup_builder/BackupBuilder.h"
#include "tests/support/backup_builder/ModernEncryption.h"
#include "tests/tools/BackupFolderFixture.h"
#include "tools/decrypt/ModernBackup.h"

namespace corvyn::testing {
namespace {
namespace fs = std::filesystem;
namespace bc = corvyn::backupcrypto;
namespace ts = corvyn::testsupport;

constexpr char kPassword[] = "correct horse";

fs::path ExternalData() {
  if (const char* env = std::getenv("CORVYN_TESTDATA")) return env;
  return CORVYN_EXTERNAL_TESTDATA;
}

bc::Bytes AsBytes(const std::string& text) {
  return bc::Bytes(text.begin(), text.end());
}
std::string AsText(const bc::Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

bc::Bytes FromHex(const std::string& hex) {
  bc::Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

struct Row {
  std::string fileId, domain, relativePath;
  int flags = 0;
  bc::Bytes blob;
};

std::vector<Row> ReadRows(const fs::path& database) {
  sqlite3* handle = nullptr;
  std::vector<Row> rows;
  EXPECT_EQ(sqlite3_open_v2(database.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(handle, sqlite3_close);
  sqlite3_stmt* query = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(handle,
                               "SELECT fileID, domain, relativePath, flags, file FROM Files ORDER BY fileID",
                               -1, &query, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(handle);
  while (query && sqlite3_step(query) == SQLITE_ROW) {
    Row row;
    auto text = [&](int column) {
      const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(query, column));
      return std::string(value ? value : "");
    };
    row.fileId = text(0);
    row.domain = text(1);
    row.relativePath = text(2);
    row.flags = sqlite3_column_int(query, 3);
    const auto* blob = static_cast<const std::uint8_t*>(sqlite3_column_blob(query, 4));
    row.blob.assign(blob, blob + sqlite3_column_bytes(query, 4));
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(query);
  return rows;
}

void WriteManifestPlist(const fs::path& folder, const bc::Bytes& keybag, const bc::Bytes& manifestKey) {
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "BackupKeyBag",
                      plist_new_data(reinterpret_cast<const char*>(keybag.data()), keybag.size()));
  if (!manifestKey.empty())
    plist_dict_set_item(
        root, "ManifestKey",
        plist_new_data(reinterpret_cast<const char*>(manifestKey.data()), manifestKey.size()));
  plist_dict_set_item(root, "IsEncrypted", plist_new_bool(1));
  char* bytes = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  WriteBytes(folder / "Manifest.plist", std::string(bytes, length));
  plist_to_bin_free(bytes);
  plist_free(root);
}

TEST(ModernBackupPyiosbackup, KeybagManifestKeyManifestDbAndAFileDecryptInOneChain) {
  const fs::path data = ExternalData() / "matan1008__pyiosbackup";
  if (!fs::exists(data / "extracted/keybag_ios10_2plus.bin")) GTEST_SKIP() << "external test data not found";
  TempFolder dir("modern-pyiosbackup");
  const bc::Bytes manifestKey = AsBytes(ReadBytes(data / "extracted/ManifestKey.bin"));
  WriteManifestPlist(dir.Path(), AsBytes(ReadBytes(data / "extracted/keybag_ios10_2plus.bin")), manifestKey);
  WriteBytes(dir / "Manifest.db", ReadBytes(data / "tests/encrypted_sqlite3_db.bin"));
  const std::string fileId = "5727bd1c5fa1055e15d8b4a75a74793c84b5ffdc";
  fs::create_directories(dir / "57");
  WriteBytes(dir / "57" / fileId, ReadBytes(data / "extracted" / ("file_" + fileId + ".bin")));

  bc::ModernBackup backup;
  ASSERT_EQ(bc::ModernBackup::Open(dir.Path(), backup), kOk);
  EXPECT_EQ(backup.ManifestKeyClass(), 2u);
  EXPECT_EQ(backup.keybag().sha256Iterations, 10'000'000u);
  // The password "0000" through both stages (the 10,000,000-round first stage
  // is checked against real-device vectors in KeyVectorsTest).
  ASSERT_EQ(backup.UnlockWithPasswordKey(
                FromHex("ec8edc160b5745ccae000bfb4787630f322821191fba7eea38feab2c6307cd9b")),
            kOk);

  const fs::path database = dir / "Manifest.plain.db";
  ASSERT_EQ(backup.DecryptManifestDb(database), kOk);
  EXPECT_EQ(fs::file_size(database), 8192u);
  const auto rows = ReadRows(database);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].fileId, fileId);
  EXPECT_EQ(rows[0].domain, "MyTestDomain");
  EXPECT_EQ(rows[0].relativePath, "Media/Test.txt");
  const auto fileKey = ts::EncryptionKeyOfFileBlob(rows[0].blob);
  ASSERT_TRUE(fileKey);
  EXPECT_EQ(*fileKey, manifestKey);
  EXPECT_EQ(backup.StoredFile(fileId), dir / "57" / fileId);
  for (const char* name : {"../../etc/passwd", "", "5727bd1c5fa1055e15d8b4a75a74793c84b5ffd/", "5727bd1c"})
    EXPECT_FALSE(backup.StoredFile(name)) << name;

  bc::FileDecryptResult result;
  ASSERT_EQ(backup.DecryptFile(*fileKey, dir / "57" / fileId, dir / "Test.txt", 9, result), kOk);
  EXPECT_EQ(ReadBytes(dir / "Test.txt"), "Test data");
  EXPECT_TRUE(result.paddingValid);
  EXPECT_FALSE(result.lengthMismatch);

  bc::Bytes prefix;
  ASSERT_EQ(backup.DecryptPrefix(*fileKey, dir / "57" / fileId, 4, prefix), kOk);
  EXPECT_EQ(AsText(prefix), "Test");
  ASSERT_EQ(backup.DecryptPrefix(*fileKey, dir / "57" / fileId, 4096, prefix), kOk);
  EXPECT_EQ(AsText(prefix), "Test data");  // the whole file, without its padding
}

// A plain backup of the Manifest.db layout and its encrypted form.
struct EncryptedFixture {
  TempFolder dir{"modern-backup"};
  ts::BackupBuilder builder;
  fs::path plain = dir / "plain";
  fs::path encrypted = dir / "encrypted";

  explicit EncryptedFixture(const ts::ModernEncryptOptions& options = {}) {
    builder.AddFile("HomeDomain", "Library/SMS/sms.db", PatternBytes(70'000, 1));    // more than a chunk
    builder.AddFile("HomeDomain", "Library/SMS/sms.db-wal", PatternBytes(4096, 2));  // a full padding block
    builder.AddFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", "\xff\xd8\xff\xe0 a photo");
    builder.AddFile("HomeDomain", "Library/empty", "");
    // Lengths around the block size: the last block alone, or with one before it.
    for (std::size_t length : {1, 15, 16, 17, 31, 32, 33})
      builder.AddFile("HomeDomain", "Library/length" + std::to_string(length), PatternBytes(length, 3));
    builder.AddDirectory("HomeDomain", "Library/SMS");
    EXPECT_EQ(builder.WriteNewerLayout(plain), kOk);
    EXPECT_EQ(ts::EncryptNewerLayoutFolder(plain, encrypted, kPassword, options), kOk);
  }

  // The encryption key of every regular file, by stored name, read from the
  // decrypted Manifest.db.
  std::map<std::string, bc::Bytes> FileKeys(const bc::ModernBackup& backup) const {
    std::map<std::string, bc::Bytes> keys;
    const fs::path database = dir / "Manifest.db";
    EXPECT_EQ(backup.DecryptManifestDb(database), kOk);
    for (const Row& row : ReadRows(database)) {
      if (auto key = ts::EncryptionKeyOfFileBlob(row.blob)) keys[row.fileId] = *key;
    }
    return keys;
  }
};

TEST(ModernBackupRoundTrip, EveryFileAndManifestDbDecryptByteIdenticalAfterOnePasswordCheck) {
  EncryptedFixture fixture;
  const auto before = ts::HashFolder(fixture.encrypted);
  bc::ModernBackup backup;
  ASSERT_EQ(bc::ModernBackup::Open(fixture.encrypted, backup), kOk);
  std::vector<bc::UnlockStep> steps;
  ASSERT_EQ(backup.Unlock(kPassword, [&](bc::UnlockStep step) { steps.push_back(step); }), kOk);
  EXPECT_EQ(steps,
            (std::vector<bc::UnlockStep>{bc::UnlockStep::kStretchingPassword, bc::UnlockStep::kDerivingKey,
                                         bc::UnlockStep::kUnwrappingClassKeys}));

  const auto keys = fixture.FileKeys(backup);
  const auto plainRows = ReadRows(fixture.plain / "Manifest.db");
  const auto decryptedRows = ReadRows(fixture.dir / "Manifest.db");
  // Whole pages: the padding the encryptor added is gone.
  EXPECT_EQ(fs::file_size(fixture.dir / "Manifest.db") % 4096, 0u);
  ASSERT_EQ(decryptedRows.size(), plainRows.size());
  for (std::size_t i = 0; i < plainRows.size(); ++i) {
    EXPECT_EQ(decryptedRows[i].fileId, plainRows[i].fileId);
    EXPECT_EQ(decryptedRows[i].relativePath, plainRows[i].relativePath);
    EXPECT_EQ(decryptedRows[i].flags, plainRows[i].flags);
  }

  ASSERT_EQ(keys.size(), fixture.builder.Records().size() - 1);  // all but the folder
  for (const auto& record : fixture.builder.Records()) {
    if (record.mode != ts::kModeRegularFile) continue;
    SCOPED_TRACE(record.path);
    const std::string name = ts::StoredNameFor(record.domain, record.path);
    const fs::path source = *backup.StoredFile(name);
    bc::FileDecryptResult result;
    ASSERT_EQ(backup.DecryptFile(keys.at(name), source, fixture.dir / "out", record.contents.size(), result),
              kOk);
    EXPECT_EQ(ReadBytes(fixture.dir / "out"), record.contents);
    EXPECT_TRUE(result.paddingValid);
    EXPECT_FALSE(result.lengthMismatch);

    for (std::size_t count : {std::size_t{0}, std::size_t{3}, std::size_t{16}, std::size_t{1000}, SIZE_MAX}) {
      bc::Bytes prefix;
      ASSERT_EQ(backup.DecryptPrefix(keys.at(name), source, count, prefix), kOk);
      EXPECT_EQ(AsText(prefix), record.contents.substr(0, count)) << count;
    }
    // The length from the last block, the head from the first ones.
    bc::ModernBackup::FileProbe probe;
    ASSERT_EQ(backup.ProbeFile(keys.at(name), source, 20, std::nullopt, probe), kOk);
    EXPECT_EQ(probe.plainLength, record.contents.size());
    EXPECT_TRUE(probe.paddingValid);
    EXPECT_EQ(AsText(probe.prefix), record.contents.substr(0, 20));
  }
  EXPECT_EQ(ts::HashFolder(fixture.encrypted), before);  // the backup is only read
}

TEST(ModernBackupPassword, WrongAndEmptyPasswordsAreRejectedAndUnlockNothing) {
  EncryptedFixture fixture;
  for (const char* password : {"correct horsE", "", "correct horse "}) {
    SCOPED_TRACE(password);
    bc::ModernBackup backup;
    ASSERT_EQ(bc::ModernBackup::Open(fixture.encrypted, backup), kOk);
    EXPECT_EQ(backup.Unlock(password), kWrongPassword);
    EXPECT_FALSE(backup.IsUnlocked());
    EXPECT_EQ(backup.DecryptManifestDb(fixture.dir / "Manifest.db").code(), kWrongPassword);
    EXPECT_FALSE(fs::exists(fixture.dir / "Manifest.db"));
  }
}

TEST(ModernBackupKeys, DamagedAndUnusableFileKeysAreReportedInWords) {
  EncryptedFixture fixture(ts::ModernEncryptOptions{.curve25519Class = 2});
  bc::ModernBackup backup;
  ASSERT_EQ(bc::ModernBackup::Open(fixture.encrypted, backup), kOk);
  ASSERT_EQ(backup.Unlock(kPassword), kOk);
  EXPECT_EQ(backup.UnsupportedClasses(), std::set<std::uint32_t>{2});
  const auto keys = fixture.FileKeys(backup);
  ASSERT_FALSE(keys.empty());
  const auto& [name, good] = *keys.begin();
  const fs::path source = fixture.encrypted / name.substr(0, 2) / name;

  bc::Bytes flipped = good;
  flipped[20] ^= 0x01;
  bc::Bytes curveClass = good;
  curveClass[0] = 2;
  bc::Bytes unknownClass = good;
  unknownClass[0] = 99;
  const struct {
    const char* name;
    bc::Bytes key;
    std::string words;
  } cases[] = {
      {"one bit flipped", flipped,
       "the file key is damaged: it does not unwrap with the key of protection class 3"},
      {"cut short", bc::Bytes(good.begin(), good.end() - 1), "the file key has 43 bytes instead of 44"},
      {"Curve25519 class", curveClass,
       "protection class 2 uses a key type this program cannot unwrap (Curve25519)"},
      {"class not in the keybag", unknownClass,
       "the file key names protection class 99, which the keybag does not hold"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bc::FileDecryptResult result;
    const Status status = backup.DecryptFile(c.key, source, fixture.dir / "out", std::nullopt, result);
    EXPECT_EQ(status.code(), kInvalidData);
    EXPECT_EQ(status.Message(), c.words);
    EXPECT_FALSE(fs::exists(fixture.dir / "out"));
    bc::Bytes prefix;
    EXPECT_EQ(backup.DecryptPrefix(c.key, source, 16, prefix).Message(), c.words);
    EXPECT_TRUE(prefix.empty());
  }
}

// A damaged last block: the length is the recorded size when it lies within
// that block, else every whole block is kept; probing and decrypting agree.
TEST(ModernBackupLength, InvalidPaddingFallsBackToTheRecordedSizeAsDecryptionDoes) {
  EncryptedFixture fixture;
  bc::ModernBackup backup;
  ASSERT_EQ(bc::ModernBackup::Open(fixture.encrypted, backup), kOk);
  ASSERT_EQ(backup.Unlock(kPassword), kOk);
  const auto keys = fixture.FileKeys(backup);
  const std::string name = ts::StoredNameFor("HomeDomain", "Library/SMS/sms.db");  // 70,000 bytes
  const fs::path damaged = fixture.dir / "damaged";
  fs::copy_file(*backup.StoredFile(name), damaged);
  std::string cipher = ReadBytes(damaged);
  cipher[cipher.size() - 17] ^= 0x01;  // the padding's last byte becomes 0x11
  std::ofstream(damaged, std::ios::binary | std::ios::trunc) << cipher;

  const struct {
    std::optional<std::uint64_t> recorded;
    std::uint64_t length;
  } cases[] = {{70'000, 70'000}, {std::nullopt, 70'016}, {1'000, 70'016}, {70'016, 70'016}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.recorded ? std::to_string(*c.recorded) : "no recorded size");
    bc::ModernBackup::FileProbe probe;
    ASSERT_EQ(backup.ProbeFile(keys.at(name), damaged, 4, c.recorded, probe), kOk);
    EXPECT_FALSE(probe.paddingValid);
    EXPECT_EQ(probe.plainLength, c.length);
    bc::FileDecryptResult result;
    ASSERT_EQ(backup.DecryptFile(keys.at(name), damaged, fixture.dir / "out", c.recorded, result), kOk);
    EXPECT_EQ(result.bytesWritten, c.length);
  }
}

TEST(ModernBackupKeys, ManifestKeyOfACurve25519ClassIsReportedInWords) {
  EncryptedFixture fixture(ts::ModernEncryptOptions{.manifestKeyClass = 2, .curve25519Class = 2});
  bc::ModernBackup backup;
  ASSERT_EQ(bc::ModernBackup::Open(fixture.encrypted, backup), kOk);
  ASSERT_EQ(backup.Unlock(kPassword), kOk);
  const Status status = backup.DecryptManifestDb(fixture.dir / "Manifest.db");
  EXPECT_EQ(status.code(), kInvalidData);
  EXPECT_NE(
      status.Message().find("protection class 2 uses a key type this program cannot unwrap (Curve25519)"),
      std::string::npos)
      << status.Message();
}

TEST(ModernBackupOpen, BackupsThatCannotBeReadAreRefusedInWords) {
  EncryptedFixture fixture;
  const std::string manifestDb = ReadBytes(fixture.encrypted / "Manifest.db");
  const struct {
    const char* name;
    std::function<void(const fs::path&)> damage;
    bool opens;
    std::string words;
  } cases[] = {
      {"no Manifest.plist", [](const fs::path& f) { fs::remove(f / "Manifest.plist"); }, false,
       "cannot read Manifest.plist"},
      {"Manifest.plist is no plist", [](const fs::path& f) { WriteBytes(f / "Manifest.plist", "hello"); },
       false, "Manifest.plist of this backup cannot be read"},
      {"no ManifestKey (an older backup)",
       [](const fs::path& f) {
         bc::Keybag keybag;
         keybag.uuid = bc::Bytes(16, 1);
         keybag.salt = bc::Bytes(20, 1);
         keybag.iterations = 10;
         keybag.classKeys.push_back({bc::Bytes(16, 2), 1, bc::kWrapPasscode, 0, bc::Bytes(40, 9)});
         WriteManifestPlist(f, AsBytes(bc::EncodeKeybag(keybag)), {});
       },
       false, "Manifest.plist of this backup has no usable ManifestKey"},
      {"keybag of other bytes", [](const fs::path& f) { WriteManifestPlist(f, AsBytes("VERS"), {}); }, false,
       "the keybag of this backup is damaged"},
      {"Manifest.db cut inside a block",
       [&](const fs::path& f) { WriteBytes(f / "Manifest.db", manifestDb.substr(0, manifestDb.size() - 5)); },
       true, "Manifest.db is not a whole number of cipher blocks"},
      {"Manifest.db of other bytes",
       [&](const fs::path& f) { WriteBytes(f / "Manifest.db", PatternBytes(manifestDb.size(), 9)); }, true,
       "Manifest.db does not decrypt to a database: the backup is damaged or its ManifestKey is wrong"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path copy = fixture.dir / "copy";
    fs::remove_all(copy);
    fs::copy(fixture.encrypted, copy, fs::copy_options::recursive);
    c.damage(copy);
    bc::ModernBackup backup;
    const Status opened = bc::ModernBackup::Open(copy, backup);
    if (!c.opens) {
      EXPECT_EQ(opened.code(), kInvalidData);
      EXPECT_EQ(opened.Message().rfind(c.words, 0), 0u) << opened.Message();
      continue;
    }
    ASSERT_EQ(opened, kOk);
    ASSERT_EQ(backup.Unlock(kPassword), kOk);
    const Status status = backup.DecryptManifestDb(fixture.dir / "Manifest.db");
    EXPECT_EQ(status.Message(), c.words);
    EXPECT_FALSE(fs::exists(fixture.dir / "Manifest.db"));
  }
}

}  // namespace
}  // namespace corvyn::testing

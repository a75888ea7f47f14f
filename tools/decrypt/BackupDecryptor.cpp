#include "tools/decrypt/BackupDecryptor.h"

#include <plist/plist.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "backup/mbdb/MbdbRecord.h"
#include "tools/decrypt/FileCipher.h"
#include "tools/decrypt/KeyWrap.h"
#include "tools/decrypt/Keybag.h"

namespace corvyn::backupcrypto {
namespace fs = std::filesystem;
using backup::AppendMbdbRecord;
using backup::kMbdbHeaderSize;
using backup::kWrappedFileKeySize;
using backup::MbdbHeader;
using backup::MbdbRecord;
using backup::ParseMbdb;
namespace {

struct PlistFree {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// Reads a regular file of at most `limit` bytes whole.
Status ReadSmallFile(const fs::path& path, std::uintmax_t limit, std::vector<std::uint8_t>& bytes) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return kInvalidData;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size > limit) return kInvalidData;
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) return kInvalidData;
  bytes.resize(static_cast<std::size_t>(size));
  if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return kInvalidData;
  return kOk;
}

Status WriteNewFile(const fs::path& path, const void* data, std::size_t size) {
  FileHandle file;
  if (Status status = CreateFreshFile(path, file); status != kOk) return status;
  errno = 0;
  if (size != 0 && std::fwrite(data, 1, size, file.get()) != size)
    return Status::System(errno, "writing " + path.string());
  if (std::fclose(file.release()) != 0) return Status::System(errno, "writing " + path.string());
  return kOk;
}

Status CopyFile(const fs::path& from, const fs::path& to) {
  FileHandle in(std::fopen(from.c_str(), "rb"));
  if (!in) return Status::System(errno, "opening " + from.string());
  FileHandle out;
  if (Status status = CreateFreshFile(to, out); status != kOk) return status;
  std::vector<char> buffer(kCipherChunkSize);
  Status status = kOk;
  for (;;) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get());
    if (got == 0) break;
    if (std::fwrite(buffer.data(), 1, got, out.get()) != got) {
      status = Status::System(errno, "writing " + to.string());
      break;
    }
  }
  if (status == kOk && std::ferror(in.get())) status = Status::System(EIO, "reading " + from.string());
  if (std::fclose(out.release()) != 0 && status == kOk)
    status = Status::System(errno, "writing " + to.string());
  if (status != kOk) {
    std::error_code ignored;
    fs::remove(to, ignored);
  }
  return status;
}

// Manifest.plist: the dictionary and the keybag bytes inside it.
Status ReadManifestPlist(const fs::path& backup, PlistPtr& root, std::optional<Keybag>& keybag) {
  std::vector<std::uint8_t> bytes;
  if (Status status = ReadSmallFile(backup / "Manifest.plist", kMaxManifestPlistSize, bytes); status != kOk) {
    return status;
  }
  plist_t node = nullptr;
  plist_from_memory(reinterpret_cast<const char*>(bytes.data()), static_cast<std::uint32_t>(bytes.size()),
                    &node);
  root.reset(node);
  if (!node || plist_get_node_type(node) != PLIST_DICT) return kInvalidData;

  bool encrypted = false;
  if (plist_t flag = plist_dict_get_item(node, "IsEncrypted");
      flag && plist_get_node_type(flag) == PLIST_BOOLEAN) {
    std::uint8_t value = 0;
    plist_get_bool_val(flag, &value);
    encrypted = value != 0;
  }
  plist_t bag = plist_dict_get_item(node, "BackupKeyBag");
  if (!bag || plist_get_node_type(bag) != PLIST_DATA) {
    return encrypted ? kInvalidData : kOk;  // a plain backup: files are copied as they are
  }
  char* data = nullptr;
  std::uint64_t length = 0;
  plist_get_data_val(bag, &data, &length);
  std::unique_ptr<char, decltype(&std::free)> owned(data, &std::free);
  keybag.emplace();
  const auto* begin = reinterpret_cast<const std::uint8_t*>(data);
  if (!data || ParseKeybag(std::span(begin, static_cast<std::size_t>(length)), *keybag) != kOk) {
    return kInvalidData;
  }
  return kOk;
}

Status WriteCopyManifestPlist(plist_t root, const fs::path& copy) {
  PlistPtr plain(plist_copy(root));
  plist_dict_remove_item(plain.get(), "BackupKeyBag");
  plist_dict_set_item(plain.get(), "IsEncrypted", plist_new_bool(0));
  char* bytes = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(plain.get(), &bytes, &length);
  if (!bytes) return kInvalidData;
  const Status status = WriteNewFile(copy / "Manifest.plist", bytes, length);
  plist_to_bin_free(bytes);
  return status;
}

// Unwraps the record's file key: 4-byte little-endian class, 40 wrapped bytes.
std::optional<Bytes> FileKeyFor(const std::string& wrapped, const std::map<std::uint32_t, Bytes>& classKeys,
                                std::string& problem) {
  if (wrapped.size() != kWrappedFileKeySize) {
    problem = "encryption key of unexpected length " + std::to_string(wrapped.size());
    return std::nullopt;
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(wrapped.data());
  const std::uint32_t protectionClass =
      bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
  const auto classKey = classKeys.find(protectionClass);
  if (classKey == classKeys.end()) {
    problem = "no key for protection class " + std::to_string(protectionClass);
    return std::nullopt;
  }
  auto fileKey = AesKeyUnwrap(classKey->second, std::span(bytes + 4, kWrappedFileKeySize - 4));
  if (!fileKey || fileKey->size() != kFileKeySize) {
    problem = "file key does not unwrap";
    return std::nullopt;
  }
  return fileKey;
}

void Warn(const DecryptObserver& observer, const std::string& line) {
  if (observer.warning) observer.warning(line);
}

struct FileJob {
  std::string name;  // stored name: 40 hex digits computed from the record
  std::optional<std::string> wrappedKey;
  std::uint64_t recordedSize = 0;
};

// Runs file jobs on a few threads: creating thousands of files costs the
// file system more time than the cipher costs the processor, and the waits of
// one worker overlap the work of another. Summary and observer calls are
// serialised, so "Count:" lines stay in rising order.
class JobRunner {
 public:
  JobRunner(const fs::path& backup, const fs::path& copy, const std::map<std::uint32_t, Bytes>& classKeys,
            const DecryptObserver& observer, DecryptSummary& summary)
      : backup_(backup), copy_(copy), classKeys_(classKeys), observer_(observer), summary_(summary) {}

  void RunAll(const std::vector<FileJob>& jobs, unsigned workers) {
    if (workers == 0) workers = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    workers = static_cast<unsigned>(std::min<std::size_t>(workers, std::max<std::size_t>(jobs.size(), 1)));
    std::atomic<std::size_t> next{0};
    auto work = [&] {
      for (std::size_t i = next++; i < jobs.size(); i = next++) Run(jobs[i]);
    };
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < workers; ++i) threads.emplace_back(work);
    work();
    for (auto& thread : threads) thread.join();
  }

 private:
  enum class Outcome { kWritten, kMissing, kFailed };

  void Run(const FileJob& job) {
    std::vector<std::string> warnings;
    const Outcome outcome = Process(job, warnings);
    std::lock_guard lock(mutex_);
    for (const auto& line : warnings) Warn(observer_, line);
    switch (outcome) {
      case Outcome::kMissing:
        ++summary_.filesMissing;
        break;
      case Outcome::kFailed:
        ++summary_.filesFailed;
        break;
      case Outcome::kWritten:
        ++summary_.filesWritten;
        if (observer_.fileDone) observer_.fileDone(summary_.filesWritten);
        break;
    }
  }

  // Only the hex name goes into output lines: names from the backup could
  // otherwise forge the "Count:" and "Wrong password" lines the engine reads.
  Outcome Process(const FileJob& job, std::vector<std::string>& warnings) const {
    const fs::path from = backup_ / job.name;
    const fs::path to = copy_ / job.name;
    std::error_code ec;
    if (!fs::is_regular_file(from, ec)) {
      fs::remove(to, ec);  // never leave an earlier run's file in its place
      warnings.push_back("Missing: " + job.name);
      return Outcome::kMissing;
    }
    Status status = kOk;
    if (job.wrappedKey) {
      std::string problem;
      const auto fileKey = FileKeyFor(*job.wrappedKey, classKeys_, problem);
      if (!fileKey) {
        fs::remove(to, ec);
        warnings.push_back("Failed: " + job.name + ": " + problem);
        return Outcome::kFailed;
      }
      FileDecryptResult result;
      status = DecryptFileCbc(from, to, *fileKey, job.recordedSize, result);
      if (status == kOk && !result.paddingValid) warnings.push_back("Padding invalid: " + job.name);
      if (status == kOk && result.lengthMismatch) {
        warnings.push_back("Size " + std::to_string(result.bytesWritten) + " differs from recorded " +
                           std::to_string(job.recordedSize) + ": " + job.name);
      }
    } else {
      status = CopyFile(from, to);
    }
    if (status != kOk) {
      warnings.push_back("Failed: " + job.name + ": " + status.Message());
      return Outcome::kFailed;
    }
    return Outcome::kWritten;
  }

  const fs::path& backup_;
  const fs::path& copy_;
  const std::map<std::uint32_t, Bytes>& classKeys_;
  const DecryptObserver& observer_;
  DecryptSummary& summary_;
  std::mutex mutex_;
};

}  // namespace

Status CheckCopyFolder(const fs::path& backup, const fs::path& copy) {
  const auto resolve = [](const fs::path& path, std::error_code& ec) {
    fs::path real = fs::weakly_canonical(fs::absolute(path, ec), ec).lexically_normal();
    if (!real.has_filename() && real.has_parent_path() && real != real.root_path()) real = real.parent_path();
    return real;
  };
  std::error_code ec;
  const fs::path backupReal = resolve(backup, ec);
  if (ec) return kInvalidData;
  const fs::path copyReal = resolve(copy, ec);
  if (ec) return kInvalidData;
  const fs::path relative = copyReal.lexically_relative(backupReal);
  if (relative.empty()) return kOk;  // different roots
  return *relative.begin() == ".." ? kOk : kInvalidData;
}

Status DecryptBackupFolder(const fs::path& backup, const fs::path& copy, std::string_view password,
                           const DecryptObserver& observer, DecryptSummary& summary,
                           const DecryptOptions& options) {
  summary = DecryptSummary{};
  std::error_code ec;
  if (!fs::is_directory(backup, ec)) return kInvalidData;
  if (Status status = CheckCopyFolder(backup, copy); status != kOk) return status;

  PlistPtr manifestPlist;
  std::optional<Keybag> keybag;
  if (Status status = ReadManifestPlist(backup, manifestPlist, keybag); status != kOk) return status;
  std::vector<std::uint8_t> mbdbBytes;
  if (ReadSmallFile(backup / "Manifest.mbdb", kMaxMbdbSize, mbdbBytes) != kOk) return kInvalidData;
  std::vector<MbdbRecord> records;
  if (ParseMbdb(mbdbBytes, records) != kOk) {
    if (mbdbBytes.size() < kMbdbHeaderSize ||
        std::string_view(reinterpret_cast<const char*>(mbdbBytes.data()), 4) != "mbdb") {
      return kInvalidData;
    }
    summary.manifestDamaged = true;
    Warn(observer, "Manifest.mbdb ends inside a record; " + std::to_string(records.size()) + " records read");
  }
  mbdbBytes = {};

  std::map<std::uint32_t, Bytes> classKeys;
  if (keybag) {
    const auto passwordKey = DerivePasswordKey(*keybag, password);
    if (!passwordKey) return kInvalidData;
    if (Status status = UnlockClassKeys(*keybag, *passwordKey, classKeys); status != kOk) return status;
  }

  fs::create_directories(copy, ec);
  if (ec) return Status::System(ec, "creating " + copy.string());

  // One job per stored name; a later record of the same name replaces an
  // earlier one, so no two workers ever write the same file.
  std::string plainManifest = MbdbHeader();
  std::vector<FileJob> jobs;
  std::map<std::string, std::size_t> jobOfName;
  for (MbdbRecord& record : records) {
    std::optional<std::string> wrappedKey = std::move(record.encryptionKey);
    record.encryptionKey.reset();
    if (AppendMbdbRecord(record, plainManifest) != kOk)
      return kInvalidData;  // cannot happen for parsed records
    if (!record.HasStoredFile()) continue;
    FileJob job{record.StoredName(), std::move(wrappedKey), record.size};
    const auto [known, inserted] = jobOfName.emplace(job.name, jobs.size());
    if (inserted) {
      jobs.push_back(std::move(job));
    } else {
      jobs[known->second] = std::move(job);
    }
  }
  records = {};

  JobRunner runner{backup, copy, classKeys, observer, summary};
  runner.RunAll(jobs, options.workers);

  if (Status status = WriteNewFile(copy / "Manifest.mbdb", plainManifest.data(), plainManifest.size());
      status != kOk) {
    return status;
  }
  if (Status status = WriteCopyManifestPlist(manifestPlist.get(), copy); status != kOk) return status;
  for (const char* name : {"Info.plist", "Status.plist"}) {
    if (fs::is_regular_file(backup / name, ec)) {
      if (Status status = CopyFile(backup / name, copy / name); status != kOk) return status;
    }
  }
  // Damaged records of the file list fail their files only: the rest is
  // written, and the run reports that not everything could be.
  if (summary.filesFailed != 0 || summary.manifestDamaged) {
    return Status::System(EIO, "decrypting the backup's files");
  }
  return kOk;
}

}  // namespace corvyn::backupcrypto

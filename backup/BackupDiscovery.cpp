#include "backup/BackupDiscovery.h"

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "core/TextFormat.h"
#include "platform/Ascii.h"
#include "platform/IniFile.h"
#include "platform/SpecialFolders.h"

namespace corvyn::backup {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kInfoLineLimit = 2048;
constexpr std::size_t kInfoPlistSizeLimit = 64 * 1024 * 1024;
constexpr int64_t kPlistDateEpoch = 978307200;  // 2001-01-01 in Unix seconds
// The two forms of the file list the phone sends.
constexpr std::string_view kManifestDbName = "Manifest.db";
constexpr std::string_view kManifestMbdbName = "Manifest.mbdb";

// The text between `open` and `close` of a value line: cut at `close`, then
// what follows `open` (empty when `open` is missing).
std::string ValueBetween(std::string_view line, std::string_view open, std::string_view close) {
  const auto end = line.find(close);
  if (end != std::string_view::npos) line = line.substr(0, end);
  const auto start = line.find(open);
  if (start == std::string_view::npos) return {};
  return std::string(line.substr(start + open.size()));
}

std::optional<int> Digits(std::string_view text, std::size_t offset, std::size_t count) {
  if (offset + count > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = offset; i < offset + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

std::optional<int64_t> ParseIsoUtc(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SS[Z]
  if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':') {
    return std::nullopt;
  }
  const auto year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  const auto hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (*hour > 23 || *minute > 59 || *second > 60) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year{*year},
                                         std::chrono::month{static_cast<unsigned>(*month)},
                                         std::chrono::day{static_cast<unsigned>(*day)}};
  if (!date.ok()) return std::nullopt;
  const auto days = std::chrono::sys_days{date}.time_since_epoch().count();
  return int64_t{days} * 86400 + *hour * 3600 + *minute * 60 + *second;
}

struct InfoValues {
  std::string displayName, lastBackupDate, phoneNumber, serialNumber, productVersion;
};

// Line form: the value sits on the line after its key.
void ReadInfoLines(const std::string& text, InfoValues& values) {
  std::istringstream lines(text);
  std::string line;
  std::string pendingKey;
  while (std::getline(lines, line)) {
    if (line.size() > kInfoLineLimit) line.resize(kInfoLineLimit);
    if (!pendingKey.empty()) {
      if (pendingKey == "Display Name") values.displayName = ValueBetween(line, "<string>", "</string>");
      if (pendingKey == "Phone Number") values.phoneNumber = ValueBetween(line, "<string>", "</string>");
      if (pendingKey == "Serial Number") values.serialNumber = ValueBetween(line, "<string>", "</string>");
      if (pendingKey == "Last Backup Date") {
        values.lastBackupDate = LocalBackupDate(ValueBetween(line, "<date>", "</date>"));
      }
      pendingKey.clear();
      continue;
    }
    for (std::string_view key : {"Display Name", "Last Backup Date", "Phone Number", "Serial Number"}) {
      if (line.find("<key>" + std::string(key) + "</key>") != std::string::npos) pendingKey = key;
    }
  }
}

std::string PlistString(plist_t dict, const char* key) {
  plist_t node = plist_dict_get_item(dict, key);
  if (!node || plist_get_node_type(node) != PLIST_STRING) return {};
  char* value = nullptr;
  plist_get_string_val(node, &value);
  std::string text = value ? value : "";
  std::free(value);
  return text;
}

// A parsed property list (binary or XML). False when the bytes are not one.
bool ReadInfoPlist(const std::string& bytes, InfoValues& values) {
  if (bytes.size() > UINT32_MAX) return false;
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  if (!root) return false;
  if (plist_get_node_type(root) != PLIST_DICT) {
    plist_free(root);
    return false;
  }
  values.displayName = PlistString(root, "Display Name");
  if (values.displayName.empty()) values.displayName = PlistString(root, "Device Name");
  values.productVersion = PlistString(root, "Product Version");
  values.phoneNumber = PlistString(root, "Phone Number");
  values.serialNumber = PlistString(root, "Serial Number");
  plist_t date = plist_dict_get_item(root, "Last Backup Date");
  if (date && plist_get_node_type(date) == PLIST_DATE) {
    int32_t seconds = 0, microseconds = 0;
    plist_get_date_val(date, &seconds, &microseconds);
    values.lastBackupDate = DateText(int64_t{seconds} + kPlistDateEpoch);
  } else if (date && plist_get_node_type(date) == PLIST_STRING) {
    values.lastBackupDate = LocalBackupDate(PlistString(root, "Last Backup Date"));
  }
  plist_free(root);
  return true;
}

std::optional<std::string> ReadWholeFile(const fs::path& path, std::size_t limit) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  const auto size = fs::file_size(path, error);
  if (error || size > limit) return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return std::nullopt;
  return bytes;
}

// A property list file's root dictionary (XML or binary); null when the file
// is missing, too large or not a dictionary. The caller frees it.
plist_t ReadPlistDict(const fs::path& path) {
  const auto bytes = ReadWholeFile(path, kInfoPlistSizeLimit);
  if (!bytes || bytes->size() > UINT32_MAX) return nullptr;
  plist_t root = nullptr;
  plist_from_memory(bytes->data(), static_cast<uint32_t>(bytes->size()), &root);
  if (root && plist_get_node_type(root) != PLIST_DICT) {
    plist_free(root);
    return nullptr;
  }
  return root;
}

struct ManifestValues {
  bool encrypted = false;
  std::string productVersion;
};

// From the folder's Manifest.plist; when it has none, from the staging
// folder's (a first backup that stopped before the phone moved its files into
// place).
ManifestValues ReadManifestPlist(const fs::path& folder) {
  ManifestValues values;
  plist_t root = ReadPlistDict(folder / kManifestPlistName);
  if (!root) root = ReadPlistDict(folder / kSnapshotFolderName / kManifestPlistName);
  if (!root) return values;
  plist_t flag = plist_dict_get_item(root, "IsEncrypted");
  if (flag && plist_get_node_type(flag) == PLIST_BOOLEAN) {
    uint8_t value = 0;
    plist_get_bool_val(flag, &value);
    values.encrypted = value != 0;
  }
  plist_t lockdown = plist_dict_get_item(root, "Lockdown");
  if (lockdown && plist_get_node_type(lockdown) == PLIST_DICT)
    values.productVersion = PlistString(lockdown, "ProductVersion");
  plist_free(root);
  return values;
}

bool ManifestSaysEncrypted(const fs::path& folder) {
  return ReadManifestPlist(folder).encrypted;
}

// Status.plist's SnapshotState is something other than "finished". Without a
// readable Status.plist (older backups have none) nothing is known: false,
// unless none of the files the phone sends is there at all (Status.plist,
// Manifest.plist, the index): the host writes Info.plist before the phone
// sends anything, so such a folder is a first backup that stopped early.
bool StatusSaysUnfinished(const fs::path& folder) {
  plist_t root = ReadPlistDict(folder / kStatusPlistName);
  if (!root) {
    std::error_code error;
    for (std::string_view name : {kStatusPlistName, kManifestPlistName, kManifestDbName, kManifestMbdbName}) {
      if (fs::exists(folder / name, error)) return false;
    }
    return true;
  }
  plist_t state = plist_dict_get_item(root, "SnapshotState");
  const bool unfinished = state && PlistString(root, "SnapshotState") != kSnapshotFinished;
  plist_free(root);
  return unfinished;
}

}  // namespace

std::string LocalBackupDate(std::string_view isoUtc) {
  if (const auto seconds = ParseIsoUtc(isoUtc)) {
    std::string local = DateText(*seconds);
    if (!local.empty()) return local;
  }
  std::string text(isoUtc);
  if (const auto z = text.find('Z'); z != std::string::npos) text.resize(z);
  if (const auto t = text.find('T'); t != std::string::npos) text[t] = ' ';
  return text;
}

Status ListFolder(const fs::path& folder, FolderListing& listing) {
  listing = {};
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) return Status::System(error.value() != 0 ? error.value() : ENOENT, "listing " + folder.string());
  std::vector<fs::path> entries;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) break;
    const std::string name = it->path().filename().string();
    if (name.empty() || name.front() == '.') continue;
    entries.push_back(it->path());
    std::error_code sizeError;
    if (it->is_regular_file(sizeError)) {
      const auto size = it->file_size(sizeError);
      if (!sizeError) listing.totalBytes += size;
    }
  }
  std::sort(entries.begin(), entries.end());
  listing.entries = std::move(entries);
  return kOk;
}

fs::path DefaultBackupRoot() {
  const fs::path appData = platform::RoamingAppDataDir();
  if (appData.empty()) return {};
  return appData / "Apple Computer" / "MobileSync" / "Backup";
}

std::vector<fs::path> ExtraBackupRoots(const fs::path& configIni) {
  std::vector<fs::path> roots;
  platform::IniFile ini;
  if (ini.Load(configIni) != kOk) return roots;
  for (const auto& line : ini.SectionLines(kBackupRootsSection)) {
    const auto [key, value] = platform::SplitAtFirstEquals(line);
    if (!value.empty()) roots.emplace_back(value);
  }
  return roots;
}

std::vector<fs::path> BackupRoots(const fs::path& configIni) {
  std::vector<fs::path> roots;
  if (auto root = DefaultBackupRoot(); !root.empty()) roots.push_back(root);
  for (auto& extra : ExtraBackupRoots(configIni)) {
    const auto normal = extra.lexically_normal();
    bool seen = false;
    for (const auto& known : roots) seen = seen || known.lexically_normal() == normal;
    if (!seen) roots.push_back(extra);
  }
  return roots;
}

namespace {

// One folder's descriptor, read from its own Info.plist only.
Status ReadOneBackupFolder(const fs::path& folder, BackupDescriptor& descriptor);

// The one backup inside `folder` (an entry holding an "Info.plist", not the
// staging folder), or nothing when there is none or more than one.
std::optional<fs::path> OnlyBackupInside(const fs::path& folder) {
  FolderListing listing;
  if (ListFolder(folder, listing) != kOk) return std::nullopt;
  std::optional<fs::path> found;
  std::error_code error;
  for (const auto& entry : listing.entries) {
    if (entry.filename() == kSnapshotFolderName || !fs::is_regular_file(entry / kInfoPlistName, error))
      continue;
    if (found) return std::nullopt;
    found = entry;
  }
  return found;
}

}  // namespace

Status ListBackups(const std::vector<fs::path>& roots, std::vector<BackupDescriptor>& descriptors) {
  if (roots.empty()) return Status(kInvalidData, "no backup folder can be named (set HOME or XDG_DATA_HOME)");
  for (const auto& root : roots) {
    FolderListing listing;
    if (ListFolder(root, listing) != kOk) continue;
    for (const auto& entry : listing.entries) {
      if (entry.filename() == kSnapshotFolderName) continue;
      BackupDescriptor descriptor;
      if (ReadOneBackupFolder(entry, descriptor) == kOk) descriptors.push_back(std::move(descriptor));
    }
  }
  return kOk;
}

Status ReadBackupFolder(const fs::path& folder, BackupDescriptor& descriptor) {
  std::error_code error;
  if (!fs::exists(folder / kInfoPlistName, error)) {
    // idevicebackup2 writes into <its folder>/<UDID>/: the folder it was
    // given stands for the one backup in it.
    if (const auto inner = OnlyBackupInside(folder)) return ReadOneBackupFolder(*inner, descriptor);
  }
  return ReadOneBackupFolder(folder, descriptor);
}

namespace {

Status ReadOneBackupFolder(const fs::path& folder, BackupDescriptor& descriptor) {
  const auto bytes = ReadWholeFile(folder / kInfoPlistName, kInfoPlistSizeLimit);
  if (!bytes) return kInvalidData;
  InfoValues values;
  if (!ReadInfoPlist(*bytes, values)) ReadInfoLines(*bytes, values);
  descriptor = {};
  descriptor.displayName = std::move(values.displayName);
  descriptor.lastBackupDate = std::move(values.lastBackupDate);
  descriptor.phoneNumber = std::move(values.phoneNumber);
  descriptor.serialNumber = std::move(values.serialNumber);
  fs::path clean = folder;
  if (!clean.has_filename() && clean.has_parent_path() && clean != clean.root_path())
    clean = clean.parent_path();
  descriptor.folder = clean;
  descriptor.encrypted = IsEncryptedBackup(clean) ? 1 : 0;
  const ManifestValues manifest = ReadManifestPlist(clean);
  descriptor.manifestEncrypted = manifest.encrypted;
  descriptor.productVersion =
      manifest.productVersion.empty() ? std::move(values.productVersion) : manifest.productVersion;
  std::error_code error;
  descriptor.snapshotUnfinished =
      StatusSaysUnfinished(clean) || fs::is_directory(clean / kSnapshotFolderName, error);
  return kOk;
}

}  // namespace

bool IsEncryptedBackup(const fs::path& folder) {
  std::ifstream file(folder / kAddressBookStoredName, std::ios::binary);
  if (!file)
    file.open(folder / (std::string(kAddressBookStoredName) + std::string(kOlderStoredNameSuffix)),
              std::ios::binary);
  // Backups of iOS 10 and later keep it in the subfolder of its first two digits.
  if (!file)
    file.open(folder / kAddressBookStoredName.substr(0, 2) / kAddressBookStoredName, std::ios::binary);
  if (file) {
    char head[512] = {};
    file.read(head, sizeof head);
    return !platform::StartsWithIgnoringCase(std::string_view(head, sizeof head), "sqlite");
  }
  // Without an address book the header test cannot tell; an encrypted backup
  // says so in its Manifest.plist.
  return ManifestSaysEncrypted(folder);
}

}  // namespace corvyn::backup

#include "cli/ScanJson.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/TextFormat.h"
#include "core/Utf8.h"

namespace corvyn::cli {
namespace {

// While a scan's JSON is streamed, the file it goes to: WriteArray hands
// each megabyte on as it is made, so the whole text never lies in memory.
thread_local std::FILE* streamSink = nullptr;
constexpr std::size_t kStreamChunk = std::size_t{1} << 20;

void HandOn(std::string& out) {
  if (streamSink != nullptr && out.size() >= kStreamChunk) {
    std::fwrite(out.data(), 1, out.size(), streamSink);
    out.clear();
  }
}

template <class Integer>
void AppendNumber(std::string& out, Integer value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

class ObjectWriter {
 public:
  explicit ObjectWriter(std::string& out) : out_(out) { out_.push_back('{'); }
  ~ObjectWriter() { out_.push_back('}'); }
  ObjectWriter(const ObjectWriter&) = delete;
  ObjectWriter& operator=(const ObjectWriter&) = delete;

  std::string& Key(std::string_view key) {
    if (!first_) out_.push_back(',');
    first_ = false;
    AppendJsonString(out_, key);
    out_.push_back(':');
    return out_;
  }
  // A key the program spells (plain ASCII, no quote or backslash), with its
  // comma and colon in one append.
  template <std::size_t N>
  std::string& Field(const char (&key)[N]) {
    char text[N + 3];
    std::size_t length = 0;
    if (!first_) text[length++] = ',';
    first_ = false;
    text[length++] = '"';
    for (std::size_t i = 0; i + 1 < N; ++i) text[length++] = key[i];
    text[length++] = '"';
    text[length++] = ':';
    out_.append(text, length);
    return out_;
  }
  void Text(std::string_view key, std::string_view value) { AppendJsonString(Key(key), value); }
  template <std::size_t N>
  void Text(const char (&key)[N], std::string_view value) {
    AppendJsonString(Field(key), value);
  }
  template <class Integer>
  void Number(std::string_view key, Integer value) {
    AppendNumber(Key(key), value);
  }
  template <std::size_t N, class Integer>
  void Number(const char (&key)[N], Integer value) {
    AppendNumber(Field(key), value);
  }

 private:
  std::string& out_;
  bool first_ = true;
};

void Write(std::string& out, const MediaFileRecord& r) {
  ObjectWriter o(out);
  o.Number("size", r.size);
  o.Text("name", r.name);
  o.Text("path", r.path);
}

void Write(std::string& out, const AttachmentRecord& r) {
  ObjectWriter o(out);
  o.Number("size", r.size);
  o.Text("name", r.name);
  o.Text("path", r.path);
}

void Write(std::string& out, const AppFileRecord& r) {
  ObjectWriter o(out);
  o.Number("size", r.size);
  o.Text("appName", r.appName);
  o.Text("name", r.name);
  o.Text("path", r.path);
}

void Write(std::string& out, const MessageRecord& r) {
  ObjectWriter o(out);
  o.Number("deleted", r.deleted);
  o.Number("sent", r.sent);
  o.Number("messageId", r.messageId);
  o.Number("handleId", r.handleId);
  o.Text("date", r.date);
  o.Text("address", r.address);
  o.Text("name", r.name);
  // The body as the windows show it; most are the text itself, written
  // without a copy.
  if (ShowsAttachmentInsteadOfText(r.text, r.attachment)) {
    o.Text("text", MessageBodyText(r.text, r.attachment));
  } else {
    o.Text("text", r.text);
  }
  o.Text("attachment", r.attachment);
  o.Number("edited", r.edited);
  o.Number("unsent", r.unsent);
  o.Number("chatId", r.chatId);
  o.Text("chatName", r.chatName);
  o.Text("members", r.members);
}

void Write(std::string& out, const ContactRecord& r) {
  ObjectWriter o(out);
  o.Number("deleted", r.deleted);
  o.Text("email", r.email);
  o.Text("address", r.address);
  o.Text("social", r.social);
  o.Text("url", r.url);
  o.Text("phones", r.phones);
  o.Text("company", r.company);
  o.Text("name", r.name);
}

void Write(std::string& out, const CallRecord& r) {
  ObjectWriter o(out);
  o.Number("deleted", r.deleted);
  o.Number("incoming", r.incoming);
  o.Number("duration", r.duration);
  o.Text("date", r.date);
  o.Text("number", r.number);
  o.Text("name", r.name);
  o.Text("callType", r.callType);
}

void Write(std::string& out, const NoteRecord& r) {
  ObjectWriter o(out);
  o.Number("deleted", r.deleted);
  o.Number("noteId", r.noteId);
  o.Text("date", r.date);
  o.Text("title", r.title);
  o.Text("content", r.content);
  o.Text("folder", r.folder);
  o.Number("locked", r.locked);
  o.Text("created", r.created);
}

void Write(std::string& out, const WhatsAppRecord& r) {
  ObjectWriter o(out);
  o.Number("deleted", r.deleted);
  o.Number("sent", r.sent);
  o.Number("messageKey", r.messageKey);
  o.Number("sessionId", r.sessionId);
  o.Number("memberKey", r.memberKey);
  o.Text("date", r.date);
  o.Text("senderName", r.senderName);
  o.Text("text", r.text);
  o.Text("senderId", r.senderId);
  o.Text("memberName", r.memberName);
  o.Text("memberPhone", r.memberPhone);
  o.Text("chatTitle", r.chatTitle);
  o.Text("extra", r.extra);
}

template <class Record>
void WriteArray(std::string& out, const std::vector<Record>& records) {
  out.push_back('[');
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (i) out.push_back(',');
    Write(out, records[i]);
    HandOn(out);
  }
  out.push_back(']');
}

template <class Map>
void WriteGroups(std::string& out, const Map& map, std::string_view idName) {
  out.push_back('[');
  bool first = true;
  for (const auto& [id, records] : map) {
    if (!first) out.push_back(',');
    first = false;
    ObjectWriter o(out);
    o.Number(idName, id);
    WriteArray(o.Key("messages"), records);
  }
  out.push_back(']');
}

void WriteFolders(std::string& out, const AppFolderMap& folders) {
  out.push_back('[');
  bool first = true;
  for (const auto& [appName, files] : folders) {
    if (!first) out.push_back(',');
    first = false;
    ObjectWriter o(out);
    o.Text("appName", appName);
    WriteArray(o.Key("files"), files);
  }
  out.push_back(']');
}

}  // namespace

namespace {

// True when every byte is printable ASCII other than '"' and '\\': the text
// goes out as it stands. Eight bytes at a time.
bool PlainJsonText(std::string_view text) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  const auto hasZeroByte = [](uint64_t x) { return ((x - kOnes) & ~x & kHigh) != 0; };
  std::size_t pos = 0;
  for (; pos + 8 <= text.size(); pos += 8) {
    uint64_t word = 0;
    std::memcpy(&word, text.data() + pos, sizeof word);
    // Bytes below 0x20 or from 0x80 up, then '"', '\\' and DEL.
    if ((word & kHigh) != 0 || ((word - 0x20 * kOnes) & kHigh) != 0 || hasZeroByte(word ^ ('"' * kOnes)) ||
        hasZeroByte(word ^ ('\\' * kOnes)) || hasZeroByte(word ^ (0x7F * kOnes)))
      return false;
  }
  for (; pos < text.size(); ++pos) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x20 || byte >= 0x7F || byte == '"' || byte == '\\') return false;
  }
  return true;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  if (PlainJsonText(text)) {
    out.push_back('"');
    out.append(text);
    out.push_back('"');
    return;
  }
  std::string repaired;
  if (!IsValidUtf8(text)) {
    repaired = ToValidUtf8(text);
    text = repaired;
  }
  out.push_back('"');
  std::size_t runStart = 0;
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte >= 0x20 && byte != '"' && byte != '\\' && byte != 0x7F) continue;
    out.append(text.substr(runStart, pos - runStart));
    runStart = pos + 1;
    switch (byte) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default: {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", byte);
        out += escape;
      }
    }
  }
  out.append(text.substr(runStart));
  out.push_back('"');
}

std::string JsonString(std::string_view text) {
  std::string out;
  AppendJsonString(out, text);
  return out;
}

namespace {

void BuildScanJson(std::string& out, const Status& status, const std::vector<CategoryError>& errors,
                   const ScanResults& results) {
  {
    ObjectWriter root(out);
    root.Number("status", static_cast<int>(status.code()));
    root.Text("message", status.Message());
    {
      std::string& errorsValue = root.Key("errors");
      ObjectWriter byLabel(errorsValue);
      for (const CategoryError& error : errors) byLabel.Text(error.label, error.message);
    }
    std::string& categories = root.Key("categories");
    ObjectWriter byLabel(categories);
    for (const RecordCategory category : kAllCategories) {
      std::string& value = byLabel.Key(CategoryLabel(category));
      switch (category) {
        case RecordCategory::kCameraRoll:
          WriteArray(value, results.cameraRoll);
          break;
        case RecordCategory::kPhotoStream:
          WriteArray(value, results.photoStream);
          break;
        case RecordCategory::kAppPhotos:
          WriteFolders(value, results.appPhotos);
          break;
        case RecordCategory::kAppVideos:
          WriteFolders(value, results.appVideos);
          break;
        case RecordCategory::kMessages:
          WriteGroups(value, results.conversations, "handleId");
          break;
        case RecordCategory::kMessageAttachments:
          WriteArray(value, results.messageAttachments);
          break;
        case RecordCategory::kContacts:
          WriteArray(value, results.contacts);
          break;
        case RecordCategory::kCallHistory:
          WriteArray(value, results.calls);
          break;
        case RecordCategory::kNotes:
          WriteArray(value, results.notes);
          break;
        case RecordCategory::kWhatsApp:
          WriteGroups(value, results.whatsAppChats, "sessionId");
          break;
        case RecordCategory::kWhatsAppAttachments:
          WriteArray(value, results.whatsAppAttachments);
          break;
        case RecordCategory::kNone:
          value += "[]";
          break;
      }
    }
  }
  out.push_back('\n');
}

}  // namespace

std::string ScanJson(const Status& status, const std::vector<CategoryError>& errors,
                     const ScanResults& results) {
  std::string out;
  BuildScanJson(out, status, errors, results);
  return out;
}

bool WriteScanJson(std::FILE* file, const Status& status, const std::vector<CategoryError>& errors,
                   const ScanResults& results) {
  std::string out;
  streamSink = file;
  BuildScanJson(out, status, errors, results);
  streamSink = nullptr;
  std::fwrite(out.data(), 1, out.size(), file);
  return std::fflush(file) == 0 && std::ferror(file) == 0;
}

}  // namespace corvyn::cli

// Recovered records: the plain values every recovery engine hands to the
// views, export and print. Text is UTF-8; integers are 32-bit, file sizes
// 64-bit. The deleted
// flag is 1 for a row carved out of free space or found on a free page.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

namespace corvyn {

// Camera Roll, Photo Stream, WhatsApp Attachments.
struct MediaFileRecord {
  uint64_t size = 0;  // file length in bytes
  std::string name;   // name shown to the user
  std::string path;   // path on this machine of the file's bytes
};

// Message Attachments.
struct AttachmentRecord {
  uint64_t size = 0;
  std::string name;  // device name without extension + detected extension, upper case
  std::string path;
};

// Files of the device's other applications (App Photos, App Videos).
struct AppFileRecord {
  uint64_t size = 0;
  std::string appName;  // from the backup domain, or "other"
  std::string name;
  std::string path;
};

struct MessageRecord {
  int32_t deleted = 0;
  int32_t sent = 0;  // 1 when the owner sent it
  int32_t messageId = 0;
  int32_t handleId = 0;  // the conversation's key: the handle rowid, or minus the chat rowid of a group chat
  std::string date;      // "%04d-%02d-%02d %02d:%02d:%02d", local time
  std::string address;
  std::string name;
  std::string text;
  std::string attachment;
  // Messages of iOS 10 and later.
  int32_t edited = 0;      // 1: changed after it was sent; text is its last version
  int32_t unsent = 0;      // 1: taken back by its sender; text is what is left (often nothing)
  int32_t chatId = 0;      // rowid of its chat, 0 when no chat names it
  std::string chatName{};  // group chats: the chat's display name (may be empty)
  std::string members{};   // group chats: every member as "name <address>" or "address", joined by ", "
};

struct ContactRecord {
  int32_t deleted = 0;
  std::string email;
  std::string address;
  std::string social;
  std::string url;
  std::string phones;  // one per line, separated by '\n'
  std::string company;
  std::string name;
};

struct CallRecord {
  int32_t deleted = 0;
  int32_t incoming = 0;
  int32_t duration = 0;  // seconds; 0 when not connected
  std::string date;
  std::string number;
  std::string name;
  // How the call was made, when the call log tells: "Phone", "FaceTime
  // Video", "FaceTime Audio" or the app that placed it; empty otherwise.
  std::string callType = {};
};

struct NoteRecord {
  int32_t deleted = 0;
  int32_t noteId = 0;
  std::string date;
  std::string title;
  std::string content;
  // Filled from the Notes store of iOS 9 and later; empty or 0 for the older
  // notes database. Each has a default so that brace lists of the first
  // fields stay complete.
  std::string folder{};   // the folder's name
  int32_t locked = 0;     // 1: protected by a password; the title is kept, content stays empty
  std::string created{};  // creation date text
};

struct WhatsAppRecord {
  int32_t deleted = 0;
  int32_t sent = 0;
  int32_t messageKey = 0;
  int32_t sessionId = 0;
  int32_t memberKey = 0;
  std::string date;
  std::string senderName;  // partner's name when received, "Me" when sent
  std::string text;
  std::string senderId;     // partner's WhatsApp id when received
  std::string memberName;   // group chats only
  std::string memberPhone;  // group chats only
  std::string chatTitle;
  std::string extra;  // free for the decoder; no consumer reads it
  // Newer stores: the message's kind (ZMESSAGETYPE: 0 text, 1 photo, 2 video,
  // ...), and for a media message sent without words the name of its file as
  // its text shows it ("[Photo: <mediaName>]"); empty otherwise.
  int32_t messageType = 0;
  std::string mediaName{};
};

// A message of a QQ or WeChat conversation (one table per conversation).
struct ChatMessageRecord {
  int32_t deleted = 0;
  int32_t sent = 0;   // 1 when the owner sent it
  int64_t rowId = 0;  // 0 for carved rows
  std::string date;
  std::string text;
  std::string contactId;  // QQ: contact id of the row (column 1)
};

using AppFolderMap = std::map<std::string, std::vector<AppFileRecord>>;
using ConversationMap = std::map<int32_t, std::vector<MessageRecord>>;
using WhatsAppChatMap = std::map<int32_t, std::vector<WhatsAppRecord>>;

// QQ: key is the friend key; WeChat: the friend's user name ("Unknown" for
// rows from free pages).
using ChatConversationMap = std::map<std::string, std::vector<ChatMessageRecord>>;

}  // namespace corvyn

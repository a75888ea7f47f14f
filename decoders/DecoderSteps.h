// The in-memory stages of the application decoders: joining, naming, pairing,
// cleaning and grouping rows that the table scans have already read. Each
// decoder in Decoders.h is "read the tables, then run these"; they are
// declared here so that tests and benchmarks can drive them on rows built in
// memory. None of them touches a file.
#pragma once

#include <vector>

#include "core/MessageList.h"
#include "core/Records.h"
#include "sqlite/TableScans.h"

namespace corvyn::decoders {

// --- Messages -------------------------------------------------------------

struct MessageTables {
  MessageList messages;  // scan order
  std::vector<sqlite::HandleRow> handles;
  std::vector<sqlite::AttachmentRow> attachments;
  std::vector<sqlite::MessageAttachmentJoinRow> joins;
  std::vector<ContactRecord> contacts;  // raw rows, without the contact clean-up
};

// Gives every attachment the message id of the first join row that names it,
// then fills each message's address (first handle with a non-zero rowid equal
// to the handle id), name (first contact whose phones contain the address) and
// attachment (first joined attachment whose message id equals the message's
// rowid). An attachment without a join row belongs to no message.
void JoinMessages(MessageTables& tables);

// Appends each message to the conversation of its handle id, creating the
// conversation when absent, each conversation's new messages in date order
// (date text ignoring case; equal dates keep scan order): the same as a
// stable sort of the whole list by date followed by the appending. Empties
// the list, giving its memory back as the messages move.
void AppendToConversations(MessageList& messages, ConversationMap& conversations);

// The grouping of messages whose database has no chats.
void SortAndGroupMessages(MessageList& messages, ConversationMap& conversations);

// --- Contacts and calls ----------------------------------------------------

// Drops contacts without phone text, names the nameless "No Name", rewrites
// the phone text one number per line, and sorts by name ignoring case.
void CleanUpContacts(std::vector<ContactRecord>& contacts);

// Names each call after the first contact whose phone text contains the
// call's number, for numbers longer than 4 UTF-16 units; others get no name.
void NameCalls(std::vector<CallRecord>& calls, const std::vector<ContactRecord>& contacts);

// --- Notes -----------------------------------------------------------------

// Pairs note bodies with note rows (first unpaired row with the same note id
// gives its title and date), appends the unpaired titled rows, drops records
// with neither title nor content and rewrites content and title as text.
std::vector<NoteRecord> PairNotes(const std::vector<sqlite::NoteBodyRow>& bodies,
                                  const std::vector<sqlite::NoteRow>& noteRows);

// --- WhatsApp --------------------------------------------------------------

// Fills each chat's member-id and member-name lists from the group members
// whose chat id is the chat's rowid, in member order.
void BuildMemberLists(std::vector<sqlite::WhatsAppChatRow>& chats,
                      const std::vector<sqlite::WhatsAppMemberRow>& members);

// Names every message from its chat and group member, keeps those with text,
// sorts them by date and appends them to their chat's conversation. Rows whose
// rowid was lost (0) never match a message.
void NameAndGroupWhatsAppMessages(std::vector<WhatsAppRecord>& messages,
                                  const std::vector<sqlite::WhatsAppChatRow>& chats,
                                  const std::vector<sqlite::WhatsAppMemberRow>& members,
                                  WhatsAppChatMap& map);

// --- QQ and WeChat ---------------------------------------------------------

// Sorts one conversation by date (when it holds more than one message) and,
// when it is not empty, makes it the map entry of `key` and empties it.
void FileConversation(std::vector<ChatMessageRecord>& working, const std::string& key,
                      ChatConversationMap& chats);

}  // namespace corvyn::decoders

// The in-memory stages of the decoders on rows built by hand: joins and their
// first-match rules, naming, pairing, member lists and grouping.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "decoders/ContactNameIndex.h"
#include "decoders/DecoderSteps.h"
#include "decoders/MessageChats.h"
#include "decoders/TextRules.h"

namespace corvyn::decoders {
namespace {

ContactRecord Contact(std::string name, std::string phones) {
  ContactRecord contact;
  contact.name = std::move(name);
  contact.phones = std::move(phones);
  return contact;
}

MessageRecord Message(int32_t rowId, int32_t handleId, std::string date, std::string text) {
  MessageRecord message;
  message.messageId = rowId;
  message.handleId = handleId;
  message.date = std::move(date);
  message.text = std::move(text);
  return message;
}

TEST(ContactNameIndex, GivesTheFirstContactALinearSearchGives) {
  // Random phone texts over a small alphabet make many overlapping grams;
  // every answer must be the first contact in order that contains the text.
  std::mt19937 random(7);
  const std::string alphabet = "0123+ ";
  std::vector<ContactRecord> contacts;
  for (int i = 0; i < 300; ++i) {
    std::string phones;
    const int length = static_cast<int>(random() % 24);
    for (int c = 0; c < length; ++c) phones += alphabet[random() % alphabet.size()];
    contacts.push_back(Contact("c" + std::to_string(i), phones));
  }
  ContactNameIndex index(contacts);
  for (int trial = 0; trial < 2000; ++trial) {
    std::string address;
    const int length = 1 + static_cast<int>(random() % 9);
    for (int c = 0; c < length; ++c) address += alphabet[random() % 5];
    int64_t expected = -1;
    for (std::size_t i = 0; i < contacts.size(); ++i) {
      if (contacts[i].phones.find(address) != std::string::npos) {
        expected = static_cast<int64_t>(i);
        break;
      }
    }
    ASSERT_EQ(index.FindContact(address), expected) << address;
    ASSERT_EQ(index.FindContact(address), expected) << "cached " << address;
  }
  EXPECT_EQ(index.FindContact(""), -1);
}

TEST(JoinMessages, FirstMatchesAndLostRowIds) {
  MessageTables tables;
  tables.messages = {
      Message(1, 10, "d", "to the first handle 10"),
      Message(2, 0, "d", "no handle"),
      Message(3, 99, "d", "unknown handle"),
      Message(0, 20, "d", "carved message"),
      Message(4, 20, "d", "two contacts contain the address"),
  };
  tables.handles = {
      {1, 0, "+000 carved"},  // rowid lost: never matches
      {0, 10, "+4915112345678"},
      {0, 10, "+49999 later duplicate"},
      {0, 20, "5551234"},
  };
  tables.contacts = {
      Contact("Nobody", "0000000 "),
      Contact("Anna", "+4915112345678 015112345678 "),
      Contact("Bert", "5551234 "),
      Contact("Carl", "5551234 0015551234 "),
  };
  tables.attachments = {
      {0, 5, 0, "first-in-scan.jpg"},  // both 5 and 6 join message 1
      {0, 6, 0, "second-in-scan.jpg"},
      {0, 7, 0, "unjoined.jpg"},  // no join row: belongs to no message
      {1, 0, 0, "carved.jpg"},    // rowid lost, no join names 0
  };
  tables.joins = {
      {0, 1, 6}, {0, 1, 5}, {0, 4, 6},  // a later join row for attachment 6 is ignored
  };
  JoinMessages(tables);

  const auto& m = tables.messages;
  EXPECT_EQ(m[0].address, "+4915112345678");
  EXPECT_EQ(m[0].name, "Anna");
  EXPECT_EQ(m[0].attachment, "first-in-scan.jpg");
  EXPECT_EQ(m[1].address, "");
  EXPECT_EQ(m[1].name, "");
  EXPECT_EQ(m[2].address, "");
  // A carved message (rowid 0) is not given an attachment that no join ties to it.
  EXPECT_EQ(m[3].attachment, "");
  EXPECT_EQ(m[3].name, "Bert");
  EXPECT_EQ(m[4].name, "Bert");
  EXPECT_EQ(m[4].attachment, "");
  EXPECT_EQ(tables.attachments[0].messageId, 1);
  EXPECT_EQ(tables.attachments[1].messageId, 1);
  EXPECT_EQ(tables.attachments[2].messageId, 0);
}

TEST(JoinMessages, CarvedMessageTakesAttachmentWhoseJoinNamesMessageZero) {
  MessageTables tables;
  tables.messages = {Message(0, 0, "d", "carved")};
  tables.attachments = {{0, 3, 0, "unjoined.jpg"}, {0, 4, 0, "joined-to-zero.jpg"}};
  tables.joins = {{1, 0, 4}};
  JoinMessages(tables);
  EXPECT_EQ(tables.messages[0].attachment, "joined-to-zero.jpg");
}

TEST(SortAndGroupMessages, DateOrderPerHandleAppendedAfterEarlierMessages) {
  ConversationMap conversations;
  conversations[7].push_back(Message(100, 7, "2030-01-01 00:00:00", "already there"));
  MessageList messages = {
      Message(1, 7, "2015-03-01 10:00:00", "b"),
      Message(2, 0, "2015-01-01 10:00:00", "orphan"),
      Message(3, 7, "2015-02-01 10:00:00", "a"),
      Message(4, 7, "2015-03-01 10:00:00", "c same date"),
  };
  SortAndGroupMessages(messages, conversations);
  ASSERT_EQ(conversations.size(), 2u);
  std::vector<std::string> texts;
  for (const auto& message : conversations[7]) texts.push_back(message.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"already there", "a", "b", "c same date"}));
  ASSERT_EQ(conversations[0].size(), 1u);
  EXPECT_EQ(conversations[0][0].text, "orphan");
}

TEST(SortAndGroupMessages, ManyBlocksGiveWhatASortThenAppendGives) {
  // Several blocks of the list, keys and dates at random (dates from a small
  // set, so many are equal, some in upper case where a letter stands), and
  // conversations that already hold messages: each conversation must be its
  // old messages, then its new ones as a stable sort of the whole list by date
  // (ignoring case) puts them. The list is filled as scans fill it: moved
  // in, or built in place, and records built in place and then refused are
  // taken back (at block boundaries too) and never show.
  std::mt19937 random(11);
  const int total = static_cast<int>(MessageList::kBlockRecords) * 3 + 17;
  std::vector<MessageRecord> reference;
  MessageList messages;
  for (int i = 0; i < total; ++i) {
    std::string date = "2015-0" + std::to_string(1 + random() % 9) + "-1" + std::to_string(random() % 10);
    if (random() % 5 == 0) date += random() % 2 ? "x" : "X";
    MessageRecord message =
        Message(i + 1, static_cast<int32_t>(random() % 40) - 5, date, "m" + std::to_string(i));
    reference.push_back(message);
    if (messages.size() % MessageList::kBlockRecords == 0 || random() % 7 == 0) {
      MessageRecord& refused = messages.emplace_back();
      refused = Message(-1, 3, "2015-01-11", "refused");
      messages.pop_back();
    }
    if (i % 2 == 0) {
      messages.push_back(std::move(message));
    } else {
      messages.emplace_back() = std::move(message);
    }
  }
  ASSERT_EQ(messages.size(), static_cast<std::size_t>(total));
  ConversationMap conversations;
  ConversationMap expected;
  for (const int32_t key : {-5, 3, 99}) {
    conversations[key].push_back(Message(-key, key, "2999-01-01", "earlier"));
    expected[key].push_back(Message(-key, key, "2999-01-01", "earlier"));
  }
  std::stable_sort(reference.begin(), reference.end(), [](const MessageRecord& a, const MessageRecord& b) {
    return CompareIgnoringCase(a.date, b.date) < 0;
  });
  for (MessageRecord& message : reference) expected[message.handleId].push_back(std::move(message));

  SortAndGroupMessages(messages, conversations);
  EXPECT_TRUE(messages.empty());
  ASSERT_EQ(conversations.size(), expected.size());
  for (const auto& [key, list] : expected) {
    std::vector<std::string> want, got;
    for (const MessageRecord& message : list) want.push_back(message.text + "@" + message.date);
    for (const MessageRecord& message : conversations[key]) got.push_back(message.text + "@" + message.date);
    EXPECT_EQ(got, want) << "conversation " << key;
  }
}

TEST(GroupMessagesByChat, EveryMessageIdFindsItsFirstJoinWhateverItsSize) {
  // Message ids small and far beyond the number of joins, a live join before
  // a carved one for the same message, and "Recently Deleted" (its messages
  // show deleted; a chat join given before it holds).
  // Chat 7 is a group (two members); chat 8 has one member, handle 2.
  MessageChatTables tables;
  tables.chats = {{0, 7, 43, "chat7", "Group"}, {0, 8, 45, "+491", ""}};
  tables.chatHandles = {{0, 7, 1}, {0, 7, 2}, {0, 8, 2}};
  tables.chatMessages = {{1, 8, 3}, {0, 7, 3}, {0, 8, 2000000000}, {0, 7, 6000}};
  tables.recoverable = {{0, 8, 9}, {0, 7, 2000000000}};
  const std::vector<sqlite::HandleRow> handles = {{0, 1, "+4911"}, {0, 2, "+4922"}};
  MessageList messages = {Message(3, 1, "2015-01-01", "three"), Message(2000000000, 0, "2015-01-02", "far"),
                          Message(6000, 1, "2015-01-03", "sixthousand"), Message(9, 0, "2015-01-04", "nine"),
                          Message(5, 1, "2015-01-05", "unjoined")};
  ConversationMap conversations;
  GroupMessagesByChat(messages, tables, handles, {}, conversations);
  struct Expected {
    int32_t key;
    int32_t chatId;
    int32_t deleted;
  };
  const std::map<std::string, Expected> expected = {
      {"three", {GroupConversationKey(7), 7, 0}},
      {"far", {2, 8, 1}},
      {"sixthousand", {GroupConversationKey(7), 7, 0}},
      {"nine", {2, 8, 1}},
      {"unjoined", {1, 0, 0}},
  };
  std::size_t seen = 0;
  for (const auto& [key, list] : conversations) {
    for (const MessageRecord& message : list) {
      ++seen;
      SCOPED_TRACE(message.text);
      const Expected& want = expected.at(message.text);
      EXPECT_EQ(key, want.key);
      EXPECT_EQ(message.chatId, want.chatId);
      EXPECT_EQ(message.deleted, want.deleted);
    }
  }
  EXPECT_EQ(seen, expected.size());
}

TEST(CleanUpContacts, DropsPhonelessNamesNamelessAndSortsIgnoringCase) {
  std::vector<ContactRecord> contacts = {
      Contact("bob", "5551234 "),  Contact("Zed", ""),         Contact("", "5559876 5559876 "),
      Contact("alice", "123456 "), Contact("Bert", "7654321"),
  };
  contacts[1].email = "zed@example.com";
  CleanUpContacts(contacts);
  std::vector<std::string> names;
  for (const auto& contact : contacts) names.push_back(contact.name + "|" + contact.phones);
  EXPECT_EQ(names, (std::vector<std::string>{"alice|", "Bert|7654321", "bob|5551234", "No Name|5559876"}));
}

TEST(NameCalls, SubstringOfMoreThanFourCharacters) {
  const std::vector<ContactRecord> contacts = {Contact("Short", "1234 "), Contact("Anna", "+4915112345678 "),
                                               Contact("Later", "+4915112345678 ")};
  std::vector<CallRecord> calls(4);
  calls[0].number = "1234";      // short code: never named
  calls[1].number = "12345678";  // part of Anna's number
  calls[2].number = "99999";
  calls[3].number = "+4915112345678";
  calls[2].name = "stale";
  NameCalls(calls, contacts);
  EXPECT_EQ(calls[0].name, "");
  EXPECT_EQ(calls[1].name, "Anna");
  EXPECT_EQ(calls[2].name, "");
  EXPECT_EQ(calls[3].name, "Anna");
}

TEST(PairNotes, TitlesAndDatesGoToTheirBodies) {
  const std::vector<sqlite::NoteBodyRow> bodies = {
      {0, 1, "<div>first</div>"},
      {0, 1, "second body of note 1"},
      {1, 9, "carved body without note"},
      {0, 2, "</div>"},  // empty only after the rules: kept
      {0, 3, ""},        // no content, and note 3 has no title: dropped
  };
  const std::vector<sqlite::NoteRow> rows = {
      {0, 1, "2014-05-01 10:00:00", "Shopping &amp; more"},
      {0, 2, "2014-05-02 10:00:00", "Empty"},
      {0, 3, "2014-05-03 10:00:00", ""},
      {1, 4, "2014-05-04 10:00:00", "Title only"},
      {0, 5, "2014-05-05 10:00:00", ""},  // unpaired, no title: dropped
  };
  const auto notes = PairNotes(bodies, rows);
  ASSERT_EQ(notes.size(), 5u);
  EXPECT_EQ(notes[0].title, "Shopping & more");
  EXPECT_EQ(notes[0].content, "\nfirst");
  EXPECT_EQ(notes[0].date, "2014-05-01 10:00:00");  // the note's only date reaches its record
  EXPECT_EQ(notes[1].title, "");                    // note 1's row was taken by the first body
  EXPECT_EQ(notes[1].date, "");
  EXPECT_EQ(notes[2].content, "carved body without note");
  EXPECT_EQ(notes[2].deleted, 1);
  EXPECT_EQ(notes[3].title, "Empty");
  EXPECT_EQ(notes[3].content, "");
  EXPECT_EQ(notes[4].title, "Title only");
  EXPECT_EQ(notes[4].date, "2014-05-04 10:00:00");
  EXPECT_EQ(notes[4].deleted, 1);
}

WhatsAppRecord WaMessage(int32_t key, int32_t chat, int32_t member, int32_t sent, std::string date,
                         std::string text) {
  WhatsAppRecord record;
  record.messageKey = key;
  record.sessionId = chat;
  record.memberKey = member;
  record.sent = sent;
  record.date = std::move(date);
  record.text = std::move(text);
  return record;
}

TEST(WhatsAppSteps, GroupChatKeepsEveryMessageAndNamesSenders) {
  std::vector<sqlite::WhatsAppChatRow> chats = {
      {0, 1, "4915112345678", "Anna", "", ""},
      {0, 2, "", "Family", "", ""},
      {1, 0, "carved", "Lost chat", "", ""},
  };
  const std::vector<sqlite::WhatsAppMemberRow> members = {
      {0, 5, 2, "4915100000001", "Mum"},
      {0, 6, 2, "4915100000002", ""},
      {0, 7, 2, "4915100000003", "Dad"},
      {1, 0, 0, "carved-member", "Ghost"},  // rowid lost: names nobody
  };
  BuildMemberLists(chats, members);
  EXPECT_EQ(chats[1].memberIds, "4915100000001,4915100000002,4915100000003");
  EXPECT_EQ(chats[1].memberNames, "Mum,Dad");
  EXPECT_EQ(chats[0].memberIds, "");

  std::vector<WhatsAppRecord> messages = {
      WaMessage(1, 2, 5, 0, "2015-01-01 10:00:03", "group first of run"),
      WaMessage(2, 2, 7, 0, "2015-01-01 10:00:04", "group second"),
      WaMessage(3, 1, 0, 0, "2015-01-01 10:00:01", "one-to-one incoming"),
      WaMessage(4, 2, 0, 1, "2015-01-01 10:00:05", "group after another chat"),
      WaMessage(5, 1, 0, 1, "2015-01-01 10:00:02", "sent by me"),
      WaMessage(6, 1, 0, 0, "2015-01-01 10:00:00", ""),  // media: no text
      WaMessage(7, 42, 0, 0, "2015-01-01 09:00:00", "chat not found"),
  };
  WhatsAppChatMap map;
  NameAndGroupWhatsAppMessages(messages, chats, members, map);

  ASSERT_EQ(map[2].size(), 3u);
  EXPECT_EQ(map[2][0].text, "group first of run");
  EXPECT_EQ(map[2][0].senderName, "Mum");
  EXPECT_EQ(map[2][0].senderId, "4915100000001");
  EXPECT_EQ(map[2][0].chatTitle, "Family");
  EXPECT_EQ(map[2][0].memberPhone, "4915100000001,4915100000002,4915100000003");
  EXPECT_EQ(map[2][0].memberName, "Mum,Dad");
  EXPECT_EQ(map[2][1].senderName, "Dad");
  EXPECT_EQ(map[2][2].senderName, "Me");
  EXPECT_EQ(map[2][2].senderId, "");

  ASSERT_EQ(map[1].size(), 2u);
  EXPECT_EQ(map[1][0].text, "one-to-one incoming");
  EXPECT_EQ(map[1][0].senderName, "Anna");  // memberKey 0 does not meet the carved member
  EXPECT_EQ(map[1][0].senderId, "4915112345678");
  EXPECT_EQ(map[1][0].memberPhone, "4915112345678");
  EXPECT_EQ(map[1][0].memberName, "Anna");
  EXPECT_EQ(map[1][1].senderName, "Me");

  ASSERT_EQ(map[42].size(), 1u);
  EXPECT_EQ(map[42][0].senderName, "");
  EXPECT_EQ(map[42][0].chatTitle, "");
  EXPECT_EQ(map.count(0), 0u);
}

TEST(FileConversation, SortsEvenTwoMessagesAndReplacesTheEntry) {
  ChatConversationMap chats;
  chats["friend"] = {ChatMessageRecord{}};
  std::vector<ChatMessageRecord> working(2);
  working[0].date = "2016-02-02 00:00:00";
  working[0].text = "later";
  working[1].date = "2016-01-01 00:00:00";
  working[1].text = "earlier";
  FileConversation(working, "friend", chats);
  EXPECT_TRUE(working.empty());
  ASSERT_EQ(chats["friend"].size(), 2u);
  EXPECT_EQ(chats["friend"][0].text, "earlier");

  FileConversation(working, "nobody", chats);
  EXPECT_EQ(chats.count("nobody"), 0u);
}

}  // namespace
}  // namespace corvyn::decoders

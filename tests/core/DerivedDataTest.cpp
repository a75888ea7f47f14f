#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/DerivedData.h"
#include "core/FileType.h"

namespace corvyn {
namespace {

using ::testing::ElementsAre;

MessageRecord Message(int deleted, int id, const char* date, const char* text) {
  MessageRecord message;
  message.deleted = deleted;
  message.messageId = id;
  message.date = date;
  message.text = text;
  return message;
}

TEST(DerivedDataTest, ExtensionMembership) {
  struct Case {
    std::string_view name;
    bool image, video, audio;
  };
  const Case cases[] = {
      {"IMG_0001.JPG", true, false, false},
      {"clip.MOV", false, true, false},
      {"song.mp3", false, false, true},
      {"stream.rm", false, true, true},  // in both the video and the audio list
      {"scan.tga", true, false, false},
      {"clip.lrv", false, true, false},
      {"memo.caf", false, false, true},
      {"IMG_0001.HEIC", true, false, false},
      {"still.heif", true, false, false},
      {"still.avif", true, false, false},
      {"voice.m4a", false, false, true},
      {"voice.AAC", false, false, true},
      {"film.mpg", false, true, false},
      {"photo.jpe", true, false, false},
      {"archive.tar.gz", false, false, false},
      {"photo.jpg.txt", false, false, false},  // only the last extension counts
      {"README", false, false, false},
      {"trailing.", false, false, false},
      {".png", true, false, false},
      {"x.pn", false, false, false},  // entries match whole, not as prefixes
      {"x.jpegx", false, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsImageName(c.name), c.image) << c.name;
    EXPECT_EQ(IsVideoName(c.name), c.video) << c.name;
    EXPECT_EQ(IsAudioName(c.name), c.audio) << c.name;
  }
  EXPECT_EQ(ExtensionOf("a.b.c"), "c");
  EXPECT_EQ(ExtensionOf("abc"), "");
  EXPECT_TRUE(ExtensionInList(".JPEG", kImageExtensions));
  EXPECT_FALSE(ExtensionInList("", kImageExtensions));
  EXPECT_FALSE(ExtensionInList("*", "*.|*.jpg"));
}

// A detected type outside every list gets no category and no preview.
TEST(DerivedDataTest, EveryDetectedTypeIsInAMediaList) {
  for (const FileTypeRow& row : FileTypeTable()) {
    const std::string name = "x." + std::string(row.extension);
    EXPECT_TRUE(IsImageName(name) || IsVideoName(name) || IsAudioName(name)) << row.extension;
  }
}

TEST(DerivedDataTest, ConversationRowIsTheLatestMessageFlaggedWhenAnyIsDeleted) {
  ConversationMap conversations;
  for (int i = 0; i < 10; ++i) {
    const std::string date = "2020-01-0" + std::to_string(i) + " 10:00:00";
    conversations[9].push_back(
        Message(i == 3 ? 1 : 0, i, date.c_str(), ("text " + std::to_string(i)).c_str()));
  }
  conversations[2] = {Message(0, 20, "2019-05-05 05:05:05", "old"),
                      Message(0, 21, "2019-06-06 06:06:06", "new")};
  conversations[5] = {Message(1, 30, "2018-01-01 00:00:00", "gone")};
  conversations[7] = {};

  const auto rows = BuildConversationRows(conversations);
  ASSERT_EQ(rows.size(), 3u);
  // Deleted rows first, each group in handle order.
  EXPECT_EQ(rows[0].messageId, 30);
  EXPECT_EQ(rows[0].deleted, 1);
  EXPECT_EQ(rows[1].messageId, 9);
  EXPECT_EQ(rows[1].deleted, 1);
  EXPECT_EQ(rows[1].text, "text 9");
  EXPECT_EQ(rows[1].date, "2020-01-09 10:00:00");
  EXPECT_EQ(rows[2].messageId, 21);
  EXPECT_EQ(rows[2].deleted, 0);
  // The conversation itself is left untouched.
  EXPECT_EQ(conversations[9].back().deleted, 0);
}

TEST(DerivedDataTest, ChatRowsFollowTheSameRule) {
  WhatsAppChatMap chats;
  WhatsAppRecord a, b, c;
  a.sessionId = 1, a.text = "first", a.deleted = 0;
  b.sessionId = 1, b.text = "second", b.deleted = 0;
  c.sessionId = 2, c.text = "only", c.deleted = 1;
  chats[1] = {a, b};
  chats[2] = {c};
  const auto rows = BuildChatRows(chats);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].text, "only");
  EXPECT_EQ(rows[1].text, "second");
  EXPECT_EQ(rows[1].deleted, 0);
}

TEST(DerivedDataTest, ApplicationFilesGoToPhotosOrVideosByExtension) {
  const std::vector<AppFileRecord> files = {
      {1, "com.a", "clip.MOV", "p1"},     {2, "com.a", "song.mp3", "p2"},  {3, "com.b", "notes.txt", "p3"},
      {4, "com.b", "README", "p4"},       {5, "com.a", "scan.tga", "p5"},  {6, "com.c", "trip.lrv", "p6"},
      {7, "com.a", "pic.png", "p7"},      {8, "com.a", "stream.rm", "p8"}, {9, "com.a", "voice.AAC", "p9"},
      {10, "com.a", "IMG_1.HEIC", "p10"},
  };
  AppFolderMap photos, videos;
  ClassifyAppFiles(files, photos, videos);
  const auto paths = [](const std::vector<AppFileRecord>& list) {
    std::vector<std::string> result;
    for (const auto& file : list) result.push_back(file.path);
    return result;
  };
  ASSERT_EQ(photos.size(), 2u);
  EXPECT_THAT(paths(photos["com.a"]), ElementsAre("p5", "p7", "p10"));
  EXPECT_THAT(paths(photos["com.b"]), ElementsAre("p3", "p4"));
  ASSERT_EQ(videos.size(), 2u);
  EXPECT_THAT(paths(videos["com.a"]), ElementsAre("p1", "p2", "p8", "p9"));
  EXPECT_THAT(paths(videos["com.c"]), ElementsAre("p6"));
}

TEST(DerivedDataTest, CallsAreDeletedFirstThenNewestFirst) {
  std::vector<CallRecord> calls = {
      {0, 1, 1, "2020-01-01 00:00:00", "a", ""}, {1, 1, 1, "2019-01-01 00:00:00", "b", ""},
      {0, 1, 1, "2021-01-01 00:00:00", "c", ""}, {1, 1, 1, "2022-01-01 00:00:00", "d", ""},
      {0, 1, 1, "2021-01-01 00:00:00", "e", ""},  // same date as c: keeps its place after c
  };
  SortCallHistory(calls);
  std::vector<std::string> order;
  for (const auto& call : calls) order.push_back(call.number);
  EXPECT_THAT(order, ElementsAre("d", "b", "c", "e", "a"));
}

TEST(DerivedDataTest, DeletedFirstIsStable) {
  std::vector<NoteRecord> notes = {
      {0, 1, "", "", ""}, {1, 2, "", "", ""}, {0, 3, "", "", ""}, {1, 4, "", "", ""}};
  SortDeletedFirst(notes);
  std::vector<int> ids;
  for (const auto& note : notes) ids.push_back(note.noteId);
  EXPECT_THAT(ids, ElementsAre(2, 4, 1, 3));
}

TEST(DerivedDataTest, MessagesSortByDateWithoutRegardToCase) {
  std::vector<MessageRecord> messages = {Message(0, 1, "2020-01-02", "b"), Message(0, 2, "2020-01-01", "a"),
                                         Message(0, 3, "2020-01-02", "c")};
  SortByDateAscending(messages);
  EXPECT_EQ(messages[0].messageId, 2);
  EXPECT_EQ(messages[1].messageId, 1);
  EXPECT_EQ(messages[2].messageId, 3);
}

}  // namespace
}  // namespace corvyn

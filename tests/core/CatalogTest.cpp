#include <gtest/gtest.h>

#include "core/CategoryCatalog.h"
#include "core/Statistics.h"

namespace corvyn {
namespace {

TEST(CatalogTest, TreeHasThreeGroupsAndSeventeenCategoryNodesInOrder) {
  const auto nodes = TreeNodes();
  ASSERT_EQ(nodes.size(), 20u);
  std::vector<std::string> labels;
  int groups = 0, shownCategories = 0;
  for (const TreeNodeInfo& node : nodes) {
    labels.push_back(InitialTreeLabel(node));
    if (node.isGroup) {
      ++groups;
      EXPECT_EQ(node.parent, -1);
      EXPECT_FALSE(node.icon.has_value());
      continue;
    }
    ASSERT_GE(node.parent, 0);
    EXPECT_TRUE(nodes[static_cast<std::size_t>(node.parent)].isGroup);
    // Every shown category node has an icon and a category; hidden ones neither.
    EXPECT_EQ(node.shown, node.icon.has_value()) << node.label;
    EXPECT_EQ(node.shown, node.category != RecordCategory::kNone) << node.label;
    if (node.shown) ++shownCategories;
  }
  EXPECT_EQ(groups, 3);
  EXPECT_EQ(shownCategories, kCategoryCount);
  const std::vector<std::string> expected = {
      "Photos & Videos", "Camera Roll (0)",          "Photo Stream (0)",    "App Photos (0)",
      "App Videos (0)",  "Messages & Call logs",     "Messages (0)",        "Messages Attachments (0)",
      "Contacts (0)",    "Call History (0)",         "Notes (0)",           "Voicemail (0)",
      "WhatsApp (0)",    "WhatsApp Attachments (0)", "Memos & Others",      "Reminders (0)",
      "Calendar (0)",    "Voice Memos (0)",          "Safari Bookmark (0)", "App Document (0)",
  };
  EXPECT_EQ(labels, expected);
  EXPECT_FALSE(nodes[14].shown);  // "Memos & Others" group is hidden too
  for (RecordCategory category : kAllCategories) {
    const int index = TreeNodeIndex(category);
    ASSERT_GE(index, 0);
    EXPECT_EQ(nodes[static_cast<std::size_t>(index)].label, CategoryLabel(category));
    EXPECT_EQ(CategoryFromLabel(CategoryLabel(category)), category);
  }
  EXPECT_EQ(nodes[static_cast<std::size_t>(TreeNodeIndex(RecordCategory::kCameraRoll))].icon,
            (IconRect{1, 410, 19, 428}));
  EXPECT_EQ(nodes[static_cast<std::size_t>(TreeNodeIndex(RecordCategory::kWhatsAppAttachments))].icon,
            nodes[static_cast<std::size_t>(TreeNodeIndex(RecordCategory::kMessageAttachments))].icon);
  EXPECT_EQ(nodes[static_cast<std::size_t>(TreeNodeIndex(RecordCategory::kWhatsApp))].icon,
            (IconRect{163, 410, 181, 428}));
  EXPECT_EQ(TreeNodeIndex(RecordCategory::kNone), -1);
}

TEST(CatalogTest, TreeLabelIsCutBeforeItsFirstParenthesis) {
  EXPECT_EQ(UpdatedTreeLabel("Camera Roll (0)", 12), "Camera Roll (12)");
  EXPECT_EQ(UpdatedTreeLabel("Camera Roll (12)", 0), "Camera Roll (0)");
  EXPECT_EQ(UpdatedTreeLabel("Notes", 3), "Notes(3)");
  EXPECT_EQ(UpdatedTreeLabel("A (b) (1)", 2), "A (2)");
}

TEST(CatalogTest, TreeCountsComeFromStatisticsForMediaAndFromContainersOtherwise) {
  ScanResults results;
  CStatisticsObj statistics;
  results.cameraRoll.resize(3);
  results.conversationRows.resize(2);
  results.conversations[1].resize(5);
  results.appPhotos["a"].resize(4);
  // Media counts follow what was registered, not the container.
  statistics.RegisterCategory(RecordCategory::kCameraRoll, results.ContainerOf(RecordCategory::kCameraRoll),
                              {{&results.cameraRoll[0], 1024, 0}});
  EXPECT_EQ(TreeCount(RecordCategory::kCameraRoll, results, statistics), 1u);
  EXPECT_EQ(TreeCount(RecordCategory::kAppPhotos, results, statistics), 0u);
  EXPECT_EQ(TreeCount(RecordCategory::kMessages, results, statistics), 2u);  // rows, not messages
  EXPECT_EQ(results.ItemCount(RecordCategory::kAppPhotos), 4u);
}

TEST(CatalogTest, ColumnsPerLayout) {
  struct Case {
    ListLayout layout;
    std::vector<std::string> headers;
    std::vector<int> widths;
    std::vector<bool> centred;
  };
  const Case cases[] = {
      {ListLayout::kMediaFiles, {"File Name", "File Size"}, {200, 0}, {false, false}},
      {ListLayout::kAppFolders, {"App Name", "Type"}, {300, 0}, {false, false}},
      {ListLayout::kAppFiles, {"File Name", "App Name", "Size"}, {200, 200, 0}, {false, false, false}},
      {ListLayout::kMessages, {"User Name", "Phone Number", "Date", "Message"}, {100, 100, 120, 0}, {}},
      {ListLayout::kMessageAttachments, {"File Name", "File Size"}, {300, 0}, {}},
      {ListLayout::kContacts,
       {"Name", "Company", "Phone", "Email", "Home Page"},
       {100, 100, 100, 100, 0},
       {true, false, true, true, false}},
      {ListLayout::kCallHistory,
       {"User Name", "Phone Number", "Date", "Call Status", "Duration", "Status"},
       {150, 150, 130, 100, 100, 0},
       {}},
      {ListLayout::kNotes, {"Title", "Date", "Note"}, {100, 110, 0}, {}},
      {ListLayout::kWhatsApp, {"Chats", "Name", "Phone"}, {150, 150, 0}, {false, true, true}},
      {ListLayout::kWhatsAppAttachments, {"File Name", "File Size"}, {300, 0}, {}},
  };
  for (const Case& c : cases) {
    const ListColumns& columns = ColumnsOf(c.layout);
    for (std::size_t i = 0; i < columns.size(); ++i) {
      SCOPED_TRACE(testing::Message() << static_cast<int>(c.layout) << " column " << i);
      if (i >= c.headers.size()) {
        EXPECT_TRUE(columns[i].header.empty());
        continue;
      }
      EXPECT_EQ(columns[i].header, c.headers[i]);
      EXPECT_EQ(columns[i].width, c.widths[i]);
      EXPECT_EQ(columns[i].centred, i < c.centred.size() && c.centred[i]);
    }
  }
  EXPECT_EQ(LayoutOf(RecordCategory::kPhotoStream), ListLayout::kMediaFiles);
  EXPECT_EQ(LayoutOf(RecordCategory::kAppVideos), ListLayout::kAppFolders);
}

TEST(CatalogTest, CallRowsShowStatusDurationAndMissedOrCanceled) {
  struct Case {
    CallRecord call;
    ListRowTexts expected;
  };
  const Case cases[] = {
      {{0, 1, 0, "d", "+1", "Ann"}, {"Ann", "+1", "d", "Incoming", "Missed", "Normal"}},
      {{1, 0, 0, "d", "+1", ""}, {"", "+1", "d", "Outgoing", "Canceled", "Deleted"}},
      {{0, 0, 3600, "d", "+1", ""}, {"", "+1", "d", "Outgoing", "1 Hour 0 Min", "Normal"}},
      {{0, 1, 59, "d", "+1", ""}, {"", "+1", "d", "Incoming", "59 Sec", "Normal"}},
      {{0, 1, 61, "d", "+1", ""}, {"", "+1", "d", "Incoming", "1 Min 1 Sec", "Normal"}},
  };
  for (const Case& c : cases) EXPECT_EQ(RowTexts(c.call), c.expected) << c.call.duration;
}

TEST(CatalogTest, ContactAndWhatsAppRowsPickTheRightFields) {
  ContactRecord contact{0, "a@b.c", "Street 1", "", "http://x", "+1 555\n+1 666", "ACME", "Ann"};
  EXPECT_EQ(RowTexts(contact), (ListRowTexts{"Ann", "ACME", "+1 555", "a@b.c", "http://x", ""}));
  EXPECT_EQ(FirstPhone(""), "");
  EXPECT_EQ(FirstPhone("\n+2"), "");

  WhatsAppRecord group;
  group.chatTitle = "Family", group.senderName = "Family", group.senderId = "123@g.us";
  group.memberName = "Bob", group.memberPhone = "+4912";
  WhatsAppRecord received;
  received.chatTitle = "Eve", received.senderName = "Eve", received.senderId = "4915@s.whatsapp.net";
  WhatsAppRecord sent;
  sent.chatTitle = "Eve", sent.senderName = "Me", sent.sent = 1;
  EXPECT_EQ(RowTexts(group), (ListRowTexts{"Family", "Bob", "+4912", "", "", ""}));
  EXPECT_EQ(RowTexts(received), (ListRowTexts{"Eve", "Eve", "4915@s.whatsapp.net", "", "", ""}));
  EXPECT_EQ(RowTexts(sent), (ListRowTexts{"Eve", "Me", "", "", "", ""}));
}

TEST(CatalogTest, ConversationRowsNameGroupChatsAndPictureOnlyMessages) {
  MessageRecord oneToOne;
  oneToOne.name = "Ann", oneToOne.address = "+1555", oneToOne.date = "d", oneToOne.text = "Hi";
  MessageRecord group;
  group.name = "Bob", group.address = "+1666", group.date = "d", group.chatName = "Family";
  group.members = "Ann <+1555>, Bob <+1666>", group.attachment = "IMG_1.HEIC";
  MessageRecord unnamedGroup = group;
  unnamedGroup.chatName.clear();
  EXPECT_EQ(RowTexts(oneToOne), (ListRowTexts{"Ann", "+1555", "d", "Hi", "", ""}));
  EXPECT_EQ(RowTexts(group),
            (ListRowTexts{"Family", "Ann <+1555>, Bob <+1666>", "d", "[Attachment: IMG_1.HEIC]", "", ""}));
  EXPECT_EQ(RowTexts(unnamedGroup).front(), "Group chat");
}

TEST(CatalogTest, FileRowsAndIcons) {
  EXPECT_EQ(RowTexts(MediaFileRecord{1536, "a.jpg", "/p"}),
            (ListRowTexts{"a.jpg", "1.50 KB", "", "", "", ""}));
  EXPECT_EQ(RowTexts(AppFileRecord{10, "com.x", "v.mov", "/p"}),
            (ListRowTexts{"v.mov", "com.x", "10 Bytes", "", "", ""}));
  EXPECT_EQ(RowTexts(AttachmentRecord{5ull << 30, "A.MOV", "/p"}),
            (ListRowTexts{"A.MOV", "5.00 GB", "", "", "", ""}));
  EXPECT_EQ(RowTexts("com.x", std::vector<AppFileRecord>{}),
            (ListRowTexts{"com.x", "Folder", "", "", "", ""}));
  EXPECT_EQ(FileRowIcon(RecordCategory::kAppVideos, "v.MOV"), kVideoFileIcon);
  EXPECT_EQ(FileRowIcon(RecordCategory::kAppVideos, "song.mp3"), kFileIcon);
  EXPECT_EQ(FileRowIcon(RecordCategory::kCameraRoll, "v.MOV"), kFileIcon);
  EXPECT_EQ(FileRowIcon(RecordCategory::kMessageAttachments, "x.mp4"), kVideoFileIcon);
}

}  // namespace
}  // namespace corvyn

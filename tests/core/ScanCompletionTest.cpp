#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <new>

#include "ScriptedEngine.h"
#include "core/ScanCompletion.h"

namespace corvyn {
namespace {

using ::testing::ElementsAre;
using testing::EngineScript;
using testing::Journal;
using testing::ScriptedEngine;

TEST(ScanCompletionTest, MessagesBecomeSortedRowsRegisteredAtTheirFinalAddresses) {
  ScanResults scratch, results;
  CStatisticsObj statistics;
  // Handle 4's messages arrive out of date order: the row must still be the latest.
  scratch.conversations[4] = {{0, 0, 2, 4, "2020-01-02 00:00:00", "", "", "late", ""},
                              {0, 0, 1, 4, "2020-01-01 00:00:00", "", "", "early", ""}};
  scratch.conversations[9] = {{1, 0, 3, 9, "2020-01-01 00:00:00", "", "", std::string(1500, 'x'), ""}};
  const auto nonEmpty = CompleteCollectStep(CollectStep::kMessages, scratch, results, statistics);

  EXPECT_THAT(nonEmpty, ElementsAre(RecordCategory::kMessages));
  EXPECT_TRUE(scratch.conversations.empty());
  ASSERT_EQ(results.conversationRows.size(), 2u);
  EXPECT_EQ(results.conversationRows[0].messageId, 3);  // deleted first
  EXPECT_EQ(results.conversationRows[1].text, "late");
  EXPECT_EQ(results.conversations.at(4).front().text, "early");
  const SelectionEntry* first = statistics.Find(&results.conversationRows[0]);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->deleted, 1);
  EXPECT_EQ(first->size, 1500u);
  EXPECT_EQ(first->category, RecordCategory::kMessages);
  EXPECT_NE(statistics.Find(&results.conversationRows[1]), nullptr);
  EXPECT_NE(statistics.Find(results.ContainerOf(RecordCategory::kMessages)), nullptr);
  EXPECT_EQ(statistics.TotalItems(), 2u);
}

TEST(ScanCompletionTest, EachStepReportsOnlyItsNonEmptyCategories) {
  struct Case {
    CollectStep step;
    void (*fill)(ScanResults&);
    std::vector<RecordCategory> nonEmpty;
  };
  const Case cases[] = {
      {CollectStep::kPhotos, [](ScanResults& s) { s.photoStream.resize(2); }, {RecordCategory::kPhotoStream}},
      {CollectStep::kPhotos, [](ScanResults& s) { s.cameraRoll.resize(1); }, {RecordCategory::kCameraRoll}},
      {CollectStep::kPhotos, [](ScanResults&) {}, {}},
      {CollectStep::kAppFiles,
       [](ScanResults& s) {
         s.appFiles = {{1, "a", "x.mp3", ""}};
       },
       {RecordCategory::kAppVideos}},
      {CollectStep::kAppFiles,
       [](ScanResults& s) {
         s.appFiles = {{1, "a", "x.txt", ""}, {1, "b", "y.mov", ""}};
       },
       {RecordCategory::kAppPhotos, RecordCategory::kAppVideos}},
      {CollectStep::kMessages,
       [](ScanResults& s) { s.conversations[1] = {}; },
       {}},  // a handle without messages
      {CollectStep::kContacts, [](ScanResults& s) { s.contacts.resize(1); }, {RecordCategory::kContacts}},
      {CollectStep::kWhatsApp,
       [](ScanResults& s) { s.whatsAppChats[3].resize(2); },
       {RecordCategory::kWhatsApp}},
      {CollectStep::kWhatsAppAttachments,
       [](ScanResults& s) { s.whatsAppAttachments.resize(1); },
       {RecordCategory::kWhatsAppAttachments}},
      {CollectStep::kNotes,
       [](ScanResults& s) { s.calls.resize(1); },
       {}},  // another step's container is ignored
  };
  for (const Case& c : cases) {
    ScanResults scratch, results;
    CStatisticsObj statistics;
    c.fill(scratch);
    EXPECT_EQ(CompleteCollectStep(c.step, scratch, results, statistics), c.nonEmpty)
        << static_cast<int>(c.step);
  }
}

TEST(ScanCompletionTest, ApplicationFoldersAreGroupsOfTheirFiles) {
  ScanResults scratch, results;
  CStatisticsObj statistics;
  scratch.appFiles = {{100, "com.a", "1.png", ""}, {5000, "com.a", "2.jpg", ""}, {70, "com.b", "3.mov", ""}};
  CompleteCollectStep(CollectStep::kAppFiles, scratch, results, statistics);
  EXPECT_EQ(statistics.CountOf(&results.appPhotos), 2u);
  EXPECT_EQ(statistics.CountOf(&results.appVideos), 1u);
  const SelectionEntry* photos = statistics.Find(&results.appPhotos);
  ASSERT_NE(photos, nullptr);
  EXPECT_THAT(photos->children, ElementsAre(&results.appPhotos.at("com.a")));
  const SelectionEntry* folder = statistics.Find(&results.appPhotos.at("com.a"));
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->isGroup, 1);
  EXPECT_THAT(folder->children,
              ElementsAre(&results.appPhotos.at("com.a")[0], &results.appPhotos.at("com.a")[1]));
  EXPECT_EQ(statistics.TotalSize(), 1024u + 5000 + 1024);
  EXPECT_EQ(results.appFiles.size(), 3u);  // the raw list is kept
}

// Throws from CollectNotes, as an engine must not but might.
class ThrowingEngine final : public IPhoneRecoveryParse {
 public:
  bool badAlloc = false;
  Status Attach(void*) override { return kOk; }
  Status SetProgressCallback(ProgressCallback, void*) override { return kOk; }
  Status Reserved(void*) override { return kOk; }
  bool IsBackupSource() const override { return true; }
  Status OpenSource(const std::string&) override { return kOk; }
  Status CollectMessages(ConversationMap&) override { return kOk; }
  Status CollectMessageAttachments(std::vector<AttachmentRecord>&) override { return kOk; }
  Status CollectContacts(std::vector<ContactRecord>&) override { return kOk; }
  Status CollectNotes(std::vector<NoteRecord>&) override {
    if (badAlloc) throw std::bad_alloc();
    throw 42;
  }
  Status CollectCallHistory(std::vector<CallRecord>&) override { return kOk; }
  Status CollectPhotos(std::vector<MediaFileRecord>&, std::vector<MediaFileRecord>&) override { return kOk; }
  Status CollectWhatsAppAttachments(std::vector<MediaFileRecord>&) override { return kOk; }
  Status CollectAppFiles(std::vector<AppFileRecord>&) override { return kOk; }
  Status CollectQQ(ChatConversationMap&) override { return kOk; }
  Status CollectWeChat(ChatConversationMap&) override { return kOk; }
  Status CollectWhatsApp(WhatsAppChatMap&) override { return kOk; }
  Status ExtractForPreview(const std::filesystem::path&, std::filesystem::path&, ProgressCallback,
                           void*) override {
    return kOk;
  }
  Status CopyFileWithProgress(const std::filesystem::path&, const std::filesystem::path&, ProgressCallback,
                              void*) override {
    return kOk;
  }
  Status ExportMessagesCsv(const std::filesystem::path&) override { return kOk; }
  Status ExportContactsCsv(const std::filesystem::path&) override { return kOk; }
  Status ExportWhatsAppText(int32_t, const std::filesystem::path&, ProgressCallback, void*) override {
    return kOk;
  }
  Status ExportQQText(const std::string&, const std::string&, const std::filesystem::path&, ProgressCallback,
                      void*) override {
    return kOk;
  }
  Status ExportWeChatText(const std::string&, const std::string&, const std::filesystem::path&,
                          ProgressCallback, void*) override {
    return kOk;
  }
};

TEST(ScanCompletionTest, AnEngineExceptionBecomesAStatus) {
  ThrowingEngine engine;
  ScanResults scratch;
  EXPECT_EQ(RunCollectStep(engine, CollectStep::kNotes, scratch), kInvalidData);
  engine.badAlloc = true;
  EXPECT_EQ((RunCollectStep(engine, CollectStep::kNotes, scratch)).systemError(), ENOMEM);
  EXPECT_EQ(RunCollectStep(engine, CollectStep::kContacts, scratch), kOk);
}

TEST(ScanCompletionTest, StepsCallTheirOperation) {
  const auto journal = std::make_shared<Journal>();
  ScriptedEngine engine(EngineScript{}, journal);
  ScanResults scratch;
  for (CollectStep step : kCollectOrder) (void)RunCollectStep(engine, step, scratch);
  EXPECT_THAT(journal->Calls(),
              ElementsAre("CollectPhotos", "CollectMessages", "CollectMessageAttachments", "CollectContacts",
                          "CollectCallHistory", "CollectNotes", "CollectAppFiles", "CollectWhatsApp",
                          "CollectWhatsAppAttachments"));
}

}  // namespace
}  // namespace corvyn

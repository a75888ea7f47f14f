#include <gtest/gtest.h>

#include "ScriptedEngine.h"
#include "core/EngineFactory.h"

namespace corvyn {
namespace {

using testing::EngineScript;
using testing::Journal;
using testing::ScriptedEngine;

// Fails Attach, to show that the factory does not hand out unattached engines.
class UnattachableEngine final : public IPhoneRecoveryParse {
 public:
  explicit UnattachableEngine(std::shared_ptr<Journal> journal)
      : inner_(EngineScript{}, std::move(journal)) {}
  Status Attach(void*) override { return kInvalidData; }
  Status SetProgressCallback(ProgressCallback c, void* u) override {
    return inner_.SetProgressCallback(c, u);
  }
  Status Reserved(void* p) override { return inner_.Reserved(p); }
  bool IsBackupSource() const override { return false; }
  Status OpenSource(const std::string& p) override { return inner_.OpenSource(p); }
  Status CollectMessages(ConversationMap& m) override { return inner_.CollectMessages(m); }
  Status CollectMessageAttachments(std::vector<AttachmentRecord>& a) override {
    return inner_.CollectMessageAttachments(a);
  }
  Status CollectContacts(std::vector<ContactRecord>& c) override { return inner_.CollectContacts(c); }
  Status CollectNotes(std::vector<NoteRecord>& n) override { return inner_.CollectNotes(n); }
  Status CollectCallHistory(std::vector<CallRecord>& c) override { return inner_.CollectCallHistory(c); }
  Status CollectPhotos(std::vector<MediaFileRecord>& a, std::vector<MediaFileRecord>& b) override {
    return inner_.CollectPhotos(a, b);
  }
  Status CollectWhatsAppAttachments(std::vector<MediaFileRecord>& a) override {
    return inner_.CollectWhatsAppAttachments(a);
  }
  Status CollectAppFiles(std::vector<AppFileRecord>& f) override { return inner_.CollectAppFiles(f); }
  Status CollectQQ(ChatConversationMap& m) override { return inner_.CollectQQ(m); }
  Status CollectWeChat(ChatConversationMap& m) override { return inner_.CollectWeChat(m); }
  Status CollectWhatsApp(WhatsAppChatMap& m) override { return inner_.CollectWhatsApp(m); }
  Status ExtractForPreview(const std::filesystem::path& s, std::filesystem::path& p, ProgressCallback c,
                           void* u) override {
    return inner_.ExtractForPreview(s, p, c, u);
  }
  Status CopyFileWithProgress(const std::filesystem::path& s, const std::filesystem::path& d,
                              ProgressCallback c, void* u) override {
    return inner_.CopyFileWithProgress(s, d, c, u);
  }
  Status ExportMessagesCsv(const std::filesystem::path& d) override { return inner_.ExportMessagesCsv(d); }
  Status ExportContactsCsv(const std::filesystem::path& d) override { return inner_.ExportContactsCsv(d); }
  Status ExportWhatsAppText(int32_t k, const std::filesystem::path& d, ProgressCallback c, void* u) override {
    return inner_.ExportWhatsAppText(k, d, c, u);
  }
  Status ExportQQText(const std::string& a, const std::string& f, const std::filesystem::path& d,
                      ProgressCallback c, void* u) override {
    return inner_.ExportQQText(a, f, d, c, u);
  }
  Status ExportWeChatText(const std::string& a, const std::string& f, const std::filesystem::path& d,
                          ProgressCallback c, void* u) override {
    return inner_.ExportWeChatText(a, f, d, c, u);
  }

 private:
  ScriptedEngine inner_;
};

class EngineFactoryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    RegisterEngineFactory(kSourceKindBackup, nullptr);
    RegisterEngineFactory(kSourceKindDevice, nullptr);
  }
  std::shared_ptr<Journal> journal_ = std::make_shared<Journal>();
};

TEST_F(EngineFactoryTest, CreatesTheRegisteredEngineOfAKindAndAttachesIt) {
  int backupCreations = 0;
  ASSERT_TRUE(RegisterEngineFactory(kSourceKindBackup, [&] {
    ++backupCreations;
    return std::make_unique<ScriptedEngine>(EngineScript{}, journal_);
  }));
  int context = 0;
  Status status = kWhatsAppQueryFailed;  // anything but kOk
  auto engine = CreateRecoveryEngine(kSourceKindBackup, &context, &status);
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(status, kOk);
  EXPECT_EQ(backupCreations, 1);
  EXPECT_EQ(static_cast<ScriptedEngine*>(engine.get())->attachedContext, &context);

  // The device kind has nothing registered; other kinds never create anything.
  for (int kind : {kSourceKindDevice, 2, -1, 31}) {
    EXPECT_EQ(CreateRecoveryEngine(kind, &context, &status), nullptr) << kind;
    EXPECT_EQ(status, kInvalidData) << kind;
  }
  EXPECT_FALSE(
      RegisterEngineFactory(2, [&] { return std::make_unique<ScriptedEngine>(EngineScript{}, journal_); }));
  EXPECT_EQ(CreateRecoveryEngine(2, &context), nullptr);
  EXPECT_EQ(backupCreations, 1);
}

TEST_F(EngineFactoryTest, FailedAttachOrEmptyCreatorGivesNoEngine) {
  RegisterEngineFactory(kSourceKindDevice, [&] { return std::make_unique<UnattachableEngine>(journal_); });
  Status status = kOk;
  EXPECT_EQ(CreateRecoveryEngine(kSourceKindDevice, nullptr, &status), nullptr);
  EXPECT_EQ(status, kInvalidData);
  EXPECT_TRUE(journal_->Destroyed());

  RegisterEngineFactory(kSourceKindBackup, [] { return std::unique_ptr<IPhoneRecoveryParse>(); });
  EXPECT_EQ(CreateRecoveryEngine(kSourceKindBackup, nullptr, &status), nullptr);
  EXPECT_EQ(status, kInvalidData);

  RegisterEngineFactory(kSourceKindBackup, nullptr);  // removed again
  EXPECT_EQ(CreateRecoveryEngine(kSourceKindBackup, nullptr, &status), nullptr);
}

}  // namespace
}  // namespace corvyn

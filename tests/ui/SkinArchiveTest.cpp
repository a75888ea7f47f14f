#include <gtest/gtest.h>

#include <fstream>

#include "UiTestSupport.h"
#include "ui/SkinArchive.h"

namespace corvyn::ui {
namespace {

using testing::MakeZip;

TEST(SkinArchive, ReadsEntriesAndResolvesLayoutNames) {
  SkinArchive archive;
  ASSERT_EQ(archive.LoadFromBytes(MakeZip({{"MainWnd.ui", "<main/>"},
                                           {"xml/MessageBox_Error.ui", "<error/>"},
                                           {"Controls.png", "png"},
                                           {"xml/", ""}})),
            kOk);
  EXPECT_EQ(archive.FileNames(), (QStringList{"MainWnd.ui", "xml/MessageBox_Error.ui", "Controls.png"}));
  struct Case {
    const char* asked;
    const char* resolved;
  } cases[] = {
      {"MainWnd", "MainWnd.ui"},
      {"MainWnd.xml", "MainWnd.ui"},
      {"mainwnd.ui", "MainWnd.ui"},
      {"xml\\MessageBox_Error.xml", "xml/MessageBox_Error.ui"},
      {"MessageBox_Error.xml", "xml/MessageBox_Error.ui"},
      {"xml/MessageBox_Error", "xml/MessageBox_Error.ui"},
      {"MessageBox_Missing.xml", ""},
      {"Controls.png", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(archive.ResolveLayout(c.asked), QString(c.resolved)) << c.asked;
  EXPECT_EQ(archive.Read("XML\\messagebox_error.UI"), QByteArray("<error/>"));
  EXPECT_EQ(archive.Read("missing.png"), std::nullopt);
}

TEST(SkinArchive, BrokenArchivesAreRefusedAndKeepThePreviousContent) {
  const QByteArray good = MakeZip({{"a.ui", "<a/>"}});
  QByteArray truncated = good.left(good.size() / 2);
  QByteArray corrupted = good;
  corrupted[corrupted.indexOf("<a/>")] = 'X';  // stored data no longer matches its checksum
  struct Case {
    const char* name;
    QByteArray bytes;
  } cases[] = {
      {"empty", QByteArray()},
      {"not a zip", QByteArray("PK\x03\x04 but nothing else")},
      {"truncated", truncated},
      {"checksum mismatch", corrupted},
      {"only folders", MakeZip({{"xml/", ""}})},
  };
  SkinArchive archive;
  ASSERT_EQ(archive.LoadFromBytes(good), kOk);
  for (const auto& c : cases) {
    EXPECT_EQ(archive.LoadFromBytes(c.bytes), kInvalidData) << c.name;
    EXPECT_EQ(archive.Read("a.ui"), QByteArray("<a/>")) << c.name;
  }
}

TEST(SkinArchive, SkinZipBesideTheProgramOverridesTheEmbeddedOne) {
  testing::TestApplication();
  testing::TempFolder folder;
  // Without a file beside the program the embedded archive is used.
  ASSERT_EQ(SkinArchive::LoadCurrent(folder.Path()), kOk);
  EXPECT_TRUE(SkinArchive::Current().Contains("Controls.png"));

  const QByteArray replacement = MakeZip({{"Override.ui", "<x/>"}});
  {
    std::ofstream file(folder.Path() / "skin.zip", std::ios::binary);
    file.write(replacement.constData(), replacement.size());
  }
  ASSERT_EQ(SkinArchive::LoadCurrent(folder.Path()), kOk);
  EXPECT_TRUE(SkinArchive::Current().Contains("Override.ui"));
  EXPECT_FALSE(SkinArchive::Current().Contains("Controls.png"));

  // A broken file beside the program is an error, not a silent fallback.
  {
    std::ofstream file(folder.Path() / "skin.zip", std::ios::binary | std::ios::trunc);
    file << "garbage";
  }
  EXPECT_EQ(SkinArchive::LoadCurrent(folder.Path()), kInvalidData);
  EXPECT_EQ(SkinArchive::LoadCurrent({}, ":/no/such/resource.zip"), kInvalidData);
  ASSERT_EQ(SkinArchive::LoadCurrent({}), kOk);  // leave the embedded skin for the other tests
}

}  // namespace
}  // namespace corvyn::ui

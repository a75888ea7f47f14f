#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include "UiTestSupport.h"
#include "ui/SkinArchive.h"
#include "ui/SkinImage.h"

namespace corvyn::ui {
namespace {

TEST(SkinImage, ParsesImageDescriptions) {
  struct Case {
    const char* text;
    bool valid;
    const char* file;
    std::optional<QRect> source;
    std::optional<QRect> dest;
  } cases[] = {
      {"file='Controls.png' source='53,436,101,462' dest='0,0,48,26'", true, "Controls.png",
       QRect(53, 436, 48, 26), QRect(0, 0, 48, 26)},
      {"file='Controls.png' source='2,436,50,462'", true, "Controls.png", QRect(2, 436, 48, 26),
       std::nullopt},
      {"Controls.png", true, "Controls.png", std::nullopt, std::nullopt},
      {"source='1,2,3,4'", false, "", std::nullopt, std::nullopt},
      {"file='a.png' source='1,2,3'", false, "", std::nullopt, std::nullopt},
      {"file='a.png' source='10,10,5,20'", false, "", std::nullopt, std::nullopt},
      {"file='a.png' source='x,2,3,4'", false, "", std::nullopt, std::nullopt},
      {"", false, "", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto description = ParseSkinImageDescription(c.text);
    ASSERT_EQ(description.has_value(), c.valid) << c.text;
    if (!description) continue;
    EXPECT_EQ(description->file, c.file) << c.text;
    EXPECT_EQ(description->source, c.source) << c.text;
    EXPECT_EQ(description->dest, c.dest) << c.text;
  }
}

TEST(SkinImage, CutsSourceRectanglesOutOfArchiveImages) {
  testing::TestApplication();
  QImage sheet(20, 10, QImage::Format_ARGB32);
  sheet.fill(Qt::transparent);
  sheet.setPixelColor(5, 5, Qt::red);
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(sheet.save(&buffer, "PNG"));
  ASSERT_EQ(SkinArchive::Current().LoadFromBytes(testing::MakeZip({{"Sheet.png", png}, {"bad.png", "nope"}})),
            kOk);

  const QPixmap part = LoadSkinImage("file='sheet.png' source='4,4,8,8'");
  ASSERT_FALSE(part.isNull());
  EXPECT_EQ(part.size(), QSize(4, 4));
  EXPECT_EQ(part.toImage().pixelColor(1, 1), QColor(Qt::red));
  EXPECT_EQ(LoadSkinImage("Sheet.png").size(), QSize(20, 10));
  EXPECT_TRUE(LoadSkinImage("file='Sheet.png' source='15,5,25,10'").isNull()) << "outside the image";
  EXPECT_TRUE(LoadSkinImage("file='Sheet.png' source='3,3,3,3'").isNull()) << "empty";
  EXPECT_TRUE(LoadSkinImage("bad.png").isNull());
  EXPECT_TRUE(LoadSkinImage("missing.png").isNull());

  // A new archive replaces cached images.
  ASSERT_EQ(SkinArchive::Current().LoadFromBytes(testing::MakeZip({{"other.png", png}})), kOk);
  EXPECT_TRUE(LoadSkinImage("Sheet.png").isNull());
  ASSERT_EQ(SkinArchive::LoadCurrent({}), kOk);
}

}  // namespace
}  // namespace corvyn::ui

#include <gtest/gtest.h>

#include "core/Statistics.h"

namespace corvyn {
namespace {

// Two categories: calls (three records, one deleted) and an app folder map
// with two folders of one and two files.
struct Fixture {
  CStatisticsObj statistics;
  int calls = 0;  // container addresses only matter as keys
  CallRecord call[3];
  int appPhotos = 0;
  int folderA = 0, folderB = 0;
  int file[3] = {};

  Fixture() {
    call[0].deleted = 1;
    call[0].name = "Ann";                   // 3 units
    call[0].number = "+15550001";           // 9 units -> 1024
    call[1].name = std::string(2000, 'x');  // 2000 + 0 units
    statistics.RegisterCategory(RecordCategory::kCallHistory, &calls,
                                {{&call[0], RecordWeight(call[0]), 1},
                                 {&call[1], RecordWeight(call[1]), 0},
                                 {&call[2], RecordWeight(call[2]), 0}});
    statistics.RegisterFolders(
        RecordCategory::kAppPhotos, &appPhotos,
        {{&folderA, {{&file[0], 5000, 0}}}, {&folderB, {{&file[1], 10, 0}, {&file[2], 4096, 0}}}});
  }

  const StatisticNode& CallsNode() const { return *statistics.Root().children.at(0); }
  const StatisticNode& PhotosNode() const { return *statistics.Root().children.at(1); }
};

constexpr uint64_t kCallsSize = 1024 + 2000 + 1024;
constexpr uint64_t kPhotosSize = 5000 + 1024 + 4096;

TEST(StatisticsTest, RegistrationChecksEverythingAndAppliesTheMinimumWeight) {
  Fixture f;
  EXPECT_EQ(f.statistics.TotalItems(), 6u);
  EXPECT_EQ(f.statistics.SelectedItems(), 6u);
  EXPECT_EQ(f.statistics.TotalSize(), kCallsSize + kPhotosSize);
  EXPECT_EQ(f.statistics.SelectedSize(), f.statistics.TotalSize());
  EXPECT_EQ(f.statistics.CountOf(&f.calls), 3u);
  EXPECT_EQ(f.statistics.CountOf(&f.appPhotos), 3u);
  EXPECT_EQ(f.statistics.CountOf(&f.folderA), 0u);  // folders are not containers
  const SelectionEntry* category = f.statistics.Find(&f.calls);
  ASSERT_NE(category, nullptr);
  EXPECT_EQ(category->isGroup, 1);
  EXPECT_EQ(category->category, RecordCategory::kNone);
  EXPECT_EQ(category->size, 0u);
  const SelectionEntry* folder = f.statistics.Find(&f.folderB);
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->isGroup, 1);
  EXPECT_EQ(folder->children.size(), 2u);
  const SelectionEntry* deletedCall = f.statistics.Find(&f.call[0]);
  ASSERT_NE(deletedCall, nullptr);
  EXPECT_EQ(deletedCall->deleted, 1);
  EXPECT_EQ(deletedCall->category, RecordCategory::kCallHistory);
  EXPECT_EQ(deletedCall->size, 1024u);
  EXPECT_EQ(f.statistics.ExportEntries().size(), 6u);
}

TEST(StatisticsTest, CheckingAndHidingKeepCountsAndSizesConsistent) {
  enum Op { kUncheck, kCheck, kHide, kShow, kFilterOn, kFilterOff };
  struct Step {
    Op op;
    const char* key;  // "call0", "call1", "calls", "folderB", "file1", "appPhotos"
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    uint64_t rootSelected, callsSelected, callsHidden, callsHiddenSelected;
    uint64_t selectedSize;
    size_t exported;
  };
  const Case cases[] = {
      {"uncheck one record", {{kUncheck, "call1"}}, 5, 2, 0, 0, kCallsSize + kPhotosSize - 2000, 5},
      {"uncheck twice counts once",
       {{kUncheck, "call1"}, {kUncheck, "call1"}},
       5,
       2,
       0,
       0,
       kCallsSize + kPhotosSize - 2000,
       5},
      {"check an already checked record", {{kCheck, "call0"}}, 6, 3, 0, 0, kCallsSize + kPhotosSize, 6},
      {"uncheck the category", {{kUncheck, "calls"}}, 3, 0, 0, 0, kPhotosSize, 3},
      {"uncheck category, then one record",
       {{kUncheck, "calls"}, {kUncheck, "call0"}},
       3,
       0,
       0,
       0,
       kPhotosSize,
       3},
      {"uncheck then recheck the category",
       {{kUncheck, "calls"}, {kCheck, "calls"}},
       6,
       3,
       0,
       0,
       kCallsSize + kPhotosSize,
       6},
      {"uncheck an app folder", {{kUncheck, "folderB"}}, 4, 3, 0, 0, kCallsSize + 5000, 4},
      {"uncheck a file then its folder",
       {{kUncheck, "file1"}, {kUncheck, "folderB"}},
       4,
       3,
       0,
       0,
       kCallsSize + 5000,
       4},
      {"hide a checked record", {{kHide, "call1"}}, 6, 3, 1, 1, kCallsSize + kPhotosSize - 2000, 5},
      {"hide then uncheck",
       {{kHide, "call1"}, {kUncheck, "call1"}},
       5,
       2,
       1,
       0,
       kCallsSize + kPhotosSize - 2000,
       5},
      {"hide, uncheck, show",
       {{kHide, "call1"}, {kUncheck, "call1"}, {kShow, "call1"}},
       5,
       2,
       0,
       0,
       kCallsSize + kPhotosSize - 2000,
       5},
      {"hide twice, show once",
       {{kHide, "call1"}, {kHide, "call1"}, {kShow, "call1"}},
       6,
       3,
       0,
       0,
       kCallsSize + kPhotosSize,
       6},
      {"uncheck hidden, recheck",
       {{kHide, "call1"}, {kUncheck, "call1"}, {kCheck, "call1"}},
       6,
       3,
       1,
       1,
       kCallsSize + kPhotosSize - 2000,
       5},
      {"deleted-only filter on", {{kFilterOn, "calls"}}, 6, 3, 2, 2, 1024 + kPhotosSize, 4},
      {"filter on and off",
       {{kFilterOn, "calls"}, {kFilterOff, "calls"}},
       6,
       3,
       0,
       0,
       kCallsSize + kPhotosSize,
       6},
      {"unknown key changes nothing",
       {{kUncheck, "nothing"}, {kHide, "nothing"}},
       6,
       3,
       0,
       0,
       kCallsSize + kPhotosSize,
       6},
  };
  for (const Case& c : cases) {
    Fixture f;
    int nothing = 0;
    const std::map<std::string, const void*> keys = {
        {"call0", &f.call[0]}, {"call1", &f.call[1]}, {"calls", &f.calls},        {"folderB", &f.folderB},
        {"file1", &f.file[1]}, {"nothing", &nothing}, {"appPhotos", &f.appPhotos}};
    for (const Step& step : c.steps) {
      const void* key = keys.at(step.key);
      switch (step.op) {
        case kUncheck:
          f.statistics.SetChecked(key, false);
          break;
        case kCheck:
          f.statistics.SetChecked(key, true);
          break;
        case kHide:
          f.statistics.SetHidden(key, true);
          break;
        case kShow:
          f.statistics.SetHidden(key, false);
          break;
        case kFilterOn:
          f.statistics.ApplyDeletedOnlyFilter(key, true);
          break;
        case kFilterOff:
          f.statistics.ApplyDeletedOnlyFilter(key, false);
          break;
      }
    }
    SCOPED_TRACE(c.name);
    EXPECT_EQ(f.statistics.Root().selectedCount, c.rootSelected);
    EXPECT_EQ(f.CallsNode().selectedCount, c.callsSelected);
    EXPECT_EQ(f.CallsNode().hiddenCount, c.callsHidden);
    EXPECT_EQ(f.CallsNode().hiddenSelectedCount, c.callsHiddenSelected);
    EXPECT_EQ(f.statistics.Root().hiddenCount, c.callsHidden);
    EXPECT_EQ(f.statistics.SelectedSize(), c.selectedSize);
    EXPECT_EQ(f.statistics.ExportEntries().size(), c.exported);
    EXPECT_EQ(f.statistics.TotalSize(), kCallsSize + kPhotosSize);  // never changes
    EXPECT_LE(f.CallsNode().selectedCount, f.CallsNode().itemCount);
    EXPECT_LE(f.PhotosNode().selectedCount, f.PhotosNode().itemCount);
  }
}

TEST(StatisticsTest, FilterReportsHowManyRowsItHides) {
  Fixture f;
  EXPECT_EQ(f.statistics.ApplyDeletedOnlyFilter(&f.calls, true), 2u);
  EXPECT_TRUE(f.statistics.Find(&f.call[1])->hidden);
  EXPECT_FALSE(f.statistics.Find(&f.call[0])->hidden);
  EXPECT_EQ(f.statistics.ApplyDeletedOnlyFilter(&f.calls, false), 0u);
}

TEST(StatisticsTest, UncheckingAGroupUnchecksItsEntries) {
  Fixture f;
  f.statistics.SetChecked(&f.appPhotos, false);
  for (const void* key : {static_cast<const void*>(&f.appPhotos), static_cast<const void*>(&f.folderA),
                          static_cast<const void*>(&f.folderB), static_cast<const void*>(&f.file[2])}) {
    EXPECT_FALSE(f.statistics.IsChecked(key));
  }
  EXPECT_TRUE(f.statistics.IsChecked(&f.call[2]));
  EXPECT_EQ(f.PhotosNode().selectedCount, 0u);
}

TEST(StatisticsTest, RecordWeightsCountUtf16UnitsWithA1024Minimum) {
  ContactRecord contact;
  contact.name = std::string(600, 'a');
  contact.phones = std::string(500, '1');
  EXPECT_EQ(RecordWeight(contact), 1100u);
  contact.phones = "1";
  EXPECT_EQ(RecordWeight(contact), 1024u);
  NoteRecord note;
  note.content = "0123456789";  // a 10-character text counts 1024
  EXPECT_EQ(RecordWeight(note), 1024u);
  // 700 characters of U+20AC (3 UTF-8 bytes, 1 UTF-16 unit each) and 200 of
  // U+1F600 (4 bytes, 2 units): 1100 units, not 2900 bytes.
  std::string text;
  for (int i = 0; i < 700; ++i) text += "\xE2\x82\xAC";
  for (int i = 0; i < 200; ++i) text += "\xF0\x9F\x98\x80";
  note.content = text;
  EXPECT_EQ(RecordWeight(note), 1100u);
  EXPECT_EQ(RecordWeight(uint64_t{0}), 1024u);
  EXPECT_EQ(RecordWeight(uint64_t{4096}), 4096u);
}

TEST(StatisticsTest, LabelFillsTheLanguageFormatInOrder) {
  Fixture f;
  struct Case {
    std::string format;
    std::string expected;
  };
  // Everything is selected after registration.
  const std::string total = "13.84 KB";  // (4048 + 10120) / 1024
  const Case cases[] = {
      {std::string(kStatisticsLabelFormat),
       "You select " + total + " in 6 item(s) of " + total + " in 6 item(s)"},
      {"%s/%d/%s/%d %%", total + "/6/" + total + "/6 %"},
      {"%-10s|%5d|%I64d", total + "|6|" + total},
      {"no conversions", "no conversions"},
      {"%s %d %s %d %s", total + " 6 " + total + " 6 "},
      {"trailing %", "trailing %"},
  };
  for (const Case& c : cases) EXPECT_EQ(StatisticsLabelText(c.format, f.statistics), c.expected) << c.format;

  CStatisticsObj empty;
  EXPECT_EQ(StatisticsLabelText(kStatisticsLabelFormat, empty),
            "You select 0 MB in 0 item(s) of 0 MB in 0 item(s)");
  f.statistics.SetChecked(&f.calls, false);
  f.statistics.SetChecked(&f.appPhotos, false);
  EXPECT_EQ(StatisticsLabelText(kStatisticsLabelFormat, f.statistics),
            "You select 0 MB in 0 item(s) of " + total + " in 6 item(s)");
}

TEST(StatisticsTest, ClearForgetsEverything) {
  Fixture f;
  f.statistics.Clear();
  EXPECT_EQ(f.statistics.TotalItems(), 0u);
  EXPECT_EQ(f.statistics.TotalSize(), 0u);
  EXPECT_EQ(f.statistics.Find(&f.call[0]), nullptr);
  EXPECT_EQ(f.statistics.CountOf(&f.calls), 0u);
  EXPECT_TRUE(f.statistics.Root().children.empty());
}

}  // namespace
}  // namespace corvyn

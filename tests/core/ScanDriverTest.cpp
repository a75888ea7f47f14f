#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "ScriptedEngine.h"
#include "core/ScanDriver.h"

namespace corvyn {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::EngineScript;
using testing::Journal;
using testing::Latch;
using ::testing::Pair;
using testing::RecordingSink;
using testing::ScriptedEngine;

const std::vector<std::string> kAllOperations = {
    "OpenSource",      "CollectPhotos",
    "CollectMessages", "CollectMessageAttachments",
    "CollectContacts", "CollectCallHistory",
    "CollectNotes",    "CollectAppFiles",
    "CollectWhatsApp", "CollectWhatsAppAttachments",
};

// A little of everything, so that every category is published.
ScanResults SampleData() {
  ScanResults data;
  data.cameraRoll = {{2048, "IMG_0001.JPG", "/b/aa"}};
  data.photoStream = {{10, "IMG_0002.JPG", "/b/bb"}};
  data.conversations[7] = {{0, 1, 1, 7, "2020-01-01 10:00:00", "+1555", "", "hello", ""},
                           {1, 0, 2, 7, "2020-01-02 10:00:00", "+1555", "", "bye", ""}};
  data.messageAttachments = {{5000, "a.JPG", "/b/cc"}};
  data.contacts = {{0, "", "", "", "", "+1555\n+1666", "", "Ann"}};
  data.calls = {{0, 1, 30, "2020-01-01 09:00:00", "+1555", "Ann"}};
  data.notes = {{1, 3, "2020-01-03 08:00:00", "Title", "Body"}};
  data.appFiles = {{100, "com.app", "clip.mov", "/b/dd"}, {200, "com.app", "pic.png", "/b/ee"}};
  WhatsAppRecord chat;
  chat.sessionId = 4;
  chat.text = "hi";
  data.whatsAppChats[4] = {chat};
  data.whatsAppAttachments = {{3000, "w.jpg", "/b/ff"}};
  return data;
}

struct Scan {
  std::shared_ptr<Journal> journal = std::make_shared<Journal>();
  RecordingSink sink;
  CScanDriver driver{sink, std::chrono::milliseconds(0)};

  void Start(EngineScript script, std::string source = "") {
    ASSERT_EQ(driver.Start(std::make_unique<ScriptedEngine>(std::move(script), journal), std::move(source)),
              kOk);
  }
};

struct Latches {
  Latch reached, proceed;
};

TEST(ScanDriverTest, RunsEveryOperationInOrderAndPublishesEachCategory) {
  Scan scan;
  EngineScript script;
  script.data = SampleData();
  script.steps["OpenSource"] = {{1, 10}, kOk};
  scan.Start(script, "secret");
  scan.driver.Wait();

  EXPECT_EQ(scan.journal->Calls(), kAllOperations);
  EXPECT_TRUE(scan.driver.IsFinished());
  EXPECT_EQ(scan.driver.FinalStatus(), kOk);
  EXPECT_EQ(static_cast<ScriptedEngine*>(scan.driver.Engine())->password, "secret");
  const auto posts = scan.sink.Posts();
  ASSERT_FALSE(posts.empty());
  EXPECT_EQ(posts.front(), std::make_pair(kMsgScanState, kScanStateBegun));
  EXPECT_EQ(posts.back(), std::make_pair(kMsgScanEnded, 0));
  EXPECT_EQ(scan.sink.Count(kMsgScanEnded, 0), 1);
  // One 1032 for the opened source and one per non-empty category.
  EXPECT_EQ(scan.sink.Count(kMsgCategoryDone, 0), 1 + kCategoryCount);
  EXPECT_EQ(scan.driver.FirstCategory(), RecordCategory::kCameraRoll);

  auto access = scan.driver.LockResults();
  for (RecordCategory category : kAllCategories) {
    EXPECT_TRUE(access.IsPublished(category)) << CategoryLabel(category);
  }
  ASSERT_EQ(access.results.conversationRows.size(), 1u);
  EXPECT_EQ(access.results.conversationRows[0].text, "bye");
  EXPECT_EQ(access.results.appVideos.at("com.app").size(), 1u);
  EXPECT_EQ(access.results.appPhotos.at("com.app").size(), 1u);
  // 11 items: two photos, one conversation, one attachment, one contact, one
  // call, one note, two app files, one chat, one WhatsApp attachment.
  EXPECT_EQ(access.statistics.TotalItems(), 11u);
  EXPECT_EQ(access.statistics.SelectedItems(), 11u);
  EXPECT_EQ(access.statistics.TotalSize(),
            2048u + 1024 + 1024 + 5000 + 1024 + 1024 + 1024 + 1024 + 1024 + 1024 + 3000);
  EXPECT_EQ(access.statistics.SelectedSize(), access.statistics.TotalSize());
}

TEST(ScanDriverTest, ShownProgressStartsAtTwoIgnoresSmallerValuesAndStopsAt99) {
  struct Case {
    std::vector<int> reports;
    std::vector<int> shown;
    int begunPosts;
  };
  const Case cases[] = {
      {{1, 5, 3, 100, 50, 120}, {2, 5, 99}, 1},
      {{0, 1, 1, 2, 3}, {2, 3}, 1},
      {{150, 1, 98}, {99}, 0},
      {{2, 1, 40}, {2, 40}, 0},
      {{-5, 0}, {}, 0},
  };
  for (const Case& c : cases) {
    Scan scan;
    EngineScript script;
    script.steps["CollectNotes"] = {c.reports, kOk};
    scan.Start(script);
    scan.driver.Wait();
    EXPECT_EQ(scan.sink.ProgressValues(), c.shown) << ::testing::PrintToString(c.reports);
    EXPECT_EQ(scan.driver.Progress(), c.shown.empty() ? 0 : c.shown.back());
    EXPECT_EQ(scan.sink.Count(kMsgScanState, kScanStateBegun), c.begunPosts);
    EXPECT_EQ(scan.driver.FinalStatus(), kOk);
  }
}

TEST(ScanDriverTest, OpenSourceResultDecidesHowTheScanEnds) {
  struct Case {
    Status openResult;
    int statePost;  // wParam of 1035, or -1 for none
    bool ended;     // 1034 posted
  };
  const Case cases[] = {
      {kWrongPassword, kScanStateWrongPassword, false},
      {kSourceUnreadable, -1, true},
      {kFileMapUnopenable, kScanStateOpenFailed, true},
      {kInvalidData, kScanStateOpenFailed, true},
      {kStopped, -1, true},
  };
  for (const Case& c : cases) {
    Scan scan;
    EngineScript script;
    script.data = SampleData();
    script.steps["OpenSource"] = {{}, c.openResult};
    scan.Start(script);
    scan.driver.Wait();
    SCOPED_TRACE(c.openResult);
    EXPECT_THAT(scan.journal->Calls(), ElementsAre("OpenSource"));
    EXPECT_EQ(scan.driver.FinalStatus(), c.openResult);
    std::vector<std::pair<int, int>> expected;
    if (c.statePost >= 0) expected.emplace_back(kMsgScanState, c.statePost);
    if (c.ended) expected.emplace_back(kMsgScanEnded, 0);
    EXPECT_EQ(scan.sink.Posts(), expected);
    auto access = scan.driver.LockResults();
    EXPECT_EQ(access.statistics.TotalItems(), 0u);
  }
}

TEST(ScanDriverTest, CategoryErrorsDoNotEndTheSequenceAndTheScanAlwaysEnds) {
  struct Case {
    std::string failing;
    Status failure;
    std::string label;
    Status finalStatus;
  };
  const Case cases[] = {
      {"CollectContacts", kInvalidData, "Contacts", kOk},
      {"CollectPhotos", kInvalidData, "Camera Roll", kOk},
      // A missing file is a system error whose number (ENOENT) is the number
      // of kStopped: it must not be taken for the user's Stop.
      {"CollectMessages", Status::System(ENOENT, "sms.db"), "Messages", kOk},
      // The last operation's status is the scan's status; the window must
      // still leave the scanning state.
      {"CollectWhatsAppAttachments", kInvalidData, "WhatsApp Attachments", kInvalidData},
  };
  for (const Case& c : cases) {
    Scan scan;
    EngineScript script;
    script.data = SampleData();
    script.steps[c.failing] = {{}, c.failure};
    scan.Start(script);
    scan.driver.Wait();
    SCOPED_TRACE(c.failing);
    EXPECT_EQ(scan.journal->Calls(), kAllOperations);
    EXPECT_EQ(scan.driver.FinalStatus(), c.finalStatus);
    const auto failures = scan.driver.CategoryFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].label, c.label);
    EXPECT_EQ(failures[0].status, c.failure);
    EXPECT_EQ(scan.sink.Posts().back(), std::make_pair(kMsgScanEnded, 0));
    // What a failing operation still handed back is kept.
    auto access = scan.driver.LockResults();
    EXPECT_EQ(access.statistics.TotalItems(), 11u);
  }
}

TEST(ScanDriverTest, EveryCategoryEmptyEndsWithNothingPublished) {
  Scan scan;
  EngineScript script;
  script.steps["OpenSource"] = {{1}, kOk};
  scan.Start(script);
  scan.driver.Wait();
  EXPECT_THAT(scan.sink.Posts(), ElementsAre(Pair(kMsgScanState, kScanStateBegun), Pair(kMsgCategoryDone, 0),
                                             Pair(kMsgScanEnded, 0)));
  EXPECT_EQ(scan.driver.FirstCategory(), RecordCategory::kNone);
  auto access = scan.driver.LockResults();
  for (RecordCategory category : kAllCategories) {
    EXPECT_FALSE(access.IsPublished(category));
    EXPECT_EQ(access.results.ItemCount(category), 0u);
  }
  EXPECT_EQ(access.statistics.TotalItems(), 0u);
  EXPECT_EQ(access.statistics.TotalSize(), 0u);
}

TEST(ScanDriverTest, FirstNonEmptyCategoryIsChosenOnlyWithoutAUserSelection) {
  for (const bool userSelects : {false, true}) {
    Latches latches;
    Scan scan;
    EngineScript script;
    script.data.calls = {{0, 1, 30, "2020-01-01 09:00:00", "+1555", "Ann"}};
    script.data.notes = {{0, 1, "2020-01-01 09:00:00", "t", "c"}};
    script.steps["OpenSource"] = {{1}, kOk};
    script.beforeReport = [&](const std::string&, int) {
      latches.reached.Open();
      latches.proceed.WaitOpen();
    };
    scan.Start(script);
    latches.reached.WaitOpen();
    if (userSelects) scan.driver.NoteTreeSelection();
    latches.proceed.Open();
    scan.driver.Wait();
    SCOPED_TRACE(userSelects);
    EXPECT_EQ(scan.driver.FirstCategory(),
              userSelects ? RecordCategory::kNone : RecordCategory::kCallHistory);
    EXPECT_EQ(scan.sink.Count(kMsgFirstCategory, 0), userSelects ? 0 : 2);  // after Call History and Notes
    EXPECT_EQ(scan.sink.Count(kMsgCategoryDone, 0), 3);
  }
}

// Holds the worker just before it reports 40 in CollectMessages, with the
// driver paused, so a test can act on a paused scan. The latches are a base so
// that they outlive the driver, which joins the worker.
struct PausedScan : Latches, Scan {
  PausedScan() {
    EngineScript script;
    script.data = SampleData();
    script.steps["CollectMessages"] = {{40}, kOk};
    script.beforeReport = [this](const std::string& operation, int) {
      if (operation != "CollectMessages") return;
      reached.Open();
      proceed.WaitOpen();
    };
    Start(script);
    reached.WaitOpen();
    driver.Pause();
    proceed.Open();  // the worker now reports 40 and waits at the gate
  }

  bool Reported40() const {
    const auto entries = journal->Entries();
    return std::find(entries.begin(), entries.end(), "CollectMessages 40 -> 0") != entries.end();
  }
};

TEST(ScanDriverTest, PauseHoldsTheWorkerUntilResume) {
  PausedScan scan;
  // Whatever the worker could do while paused, it must not get past its report.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(scan.driver.IsFinished());
  EXPECT_FALSE(scan.Reported40());
  EXPECT_EQ(scan.driver.Progress(), 0);
  EXPECT_TRUE(scan.driver.IsPaused());

  scan.driver.Resume();
  scan.driver.Wait();
  EXPECT_TRUE(scan.Reported40());
  EXPECT_EQ(scan.driver.Progress(), 40);
  EXPECT_EQ(scan.journal->Calls(), kAllOperations);
  EXPECT_EQ(scan.driver.FinalStatus(), kOk);
}

TEST(ScanDriverTest, StopConfirmedWhilePausedEndsTheCurrentOperation) {
  PausedScan scan;
  bool asked = false;
  EXPECT_TRUE(scan.driver.Stop([&] {
    asked = true;
    return true;
  }));
  EXPECT_TRUE(asked);
  EXPECT_TRUE(scan.driver.IsFinished());
  EXPECT_FALSE(scan.driver.IsPaused());
  EXPECT_THAT(scan.journal->Calls(), ElementsAre("OpenSource", "CollectPhotos", "CollectMessages"));
  const auto entries = scan.journal->Entries();
  EXPECT_NE(std::find(entries.begin(), entries.end(), "CollectMessages 40 -> 2"), entries.end());
  EXPECT_EQ(scan.driver.FinalStatus(), kStopped);
  EXPECT_EQ(scan.sink.Count(kMsgScanEnded, 0), 1);
  EXPECT_EQ(scan.sink.Posts().back(), std::make_pair(kMsgScanEnded, 0));
  // Photos were complete before the stop and stay.
  auto access = scan.driver.LockResults();
  EXPECT_TRUE(access.IsPublished(RecordCategory::kCameraRoll));
  EXPECT_FALSE(access.IsPublished(RecordCategory::kMessages));
}

TEST(ScanDriverTest, StopDeclinedWhilePausedStaysPaused) {
  PausedScan scan;
  EXPECT_FALSE(scan.driver.Stop([] { return false; }));
  EXPECT_TRUE(scan.driver.IsPaused());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(scan.Reported40());
  EXPECT_FALSE(scan.driver.IsFinished());

  scan.driver.Resume();
  scan.driver.Wait();
  EXPECT_EQ(scan.journal->Calls(), kAllOperations);
  EXPECT_EQ(scan.driver.FinalStatus(), kOk);
}

TEST(ScanDriverTest, StopHoldsARunningScanWhileAskingAndResumesWhenDeclined) {
  Latches latches;
  Scan scan;
  EngineScript script;
  script.steps["CollectNotes"] = {{50}, kOk};
  script.beforeReport = [&](const std::string&, int) {
    latches.reached.Open();
    latches.proceed.WaitOpen();
  };
  scan.Start(script);
  latches.reached.WaitOpen();
  bool pausedWhileAsking = false;
  EXPECT_FALSE(scan.driver.Stop([&] {
    pausedWhileAsking = scan.driver.IsPaused();
    return false;
  }));
  EXPECT_TRUE(pausedWhileAsking);
  EXPECT_FALSE(scan.driver.IsPaused());
  latches.proceed.Open();
  scan.driver.Wait();
  EXPECT_EQ(scan.journal->Calls(), kAllOperations);
  EXPECT_EQ(scan.driver.Progress(), 50);
}

TEST(ScanDriverTest, StopConfirmedWhileRunningIsSeenAtTheNextReport) {
  Latches latches;
  Scan scan;
  EngineScript script;
  script.steps["CollectContacts"] = {{30, 60}, kOk};
  script.steps["CollectNotes"] = {{70}, kOk};
  script.beforeReport = [&](const std::string& operation, int percent) {
    if (operation != "CollectContacts" || percent != 60) return;
    latches.reached.Open();
    latches.proceed.WaitOpen();
  };
  scan.Start(script);
  latches.reached.WaitOpen();
  // The worker reports 60 while the user is being asked.
  EXPECT_TRUE(scan.driver.Stop([&] {
    latches.proceed.Open();
    return true;
  }));
  EXPECT_TRUE(scan.driver.IsFinished());
  const auto calls = scan.journal->Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "CollectContacts");
  const auto entries = scan.journal->Entries();
  EXPECT_NE(std::find(entries.begin(), entries.end(), "CollectContacts 60 -> 2"), entries.end());
  EXPECT_EQ(scan.driver.Progress(), 30);
  EXPECT_EQ(scan.driver.FinalStatus(), kStopped);
  EXPECT_EQ(scan.sink.Count(kMsgScanEnded, 0), 1);
}

TEST(ScanDriverTest, NewScanEndsThePausedOneBeforeDestroyingItsEngine) {
  auto first = std::make_unique<PausedScan>();
  const std::shared_ptr<Journal> firstJournal = first->journal;

  const auto secondJournal = std::make_shared<Journal>();
  EngineScript second;
  second.data.notes = {{0, 9, "2021-01-01 00:00:00", "only", "note"}};
  ASSERT_EQ(first->driver.Start(std::make_unique<ScriptedEngine>(second, secondJournal), ""), kOk);
  EXPECT_TRUE(firstJournal->Destroyed());
  EXPECT_FALSE(firstJournal->DestroyedDuringOperation());
  first->driver.Wait();
  EXPECT_EQ(secondJournal->Calls(), kAllOperations);
  {
    auto access = first->driver.LockResults();
    EXPECT_TRUE(access.results.cameraRoll.empty());  // nothing of the first scan is left
    ASSERT_EQ(access.results.notes.size(), 1u);
    EXPECT_EQ(access.statistics.TotalItems(), 1u);
  }
  first.reset();
  EXPECT_TRUE(secondJournal->Destroyed());
}

TEST(ScanDriverTest, DestroyingAPausedDriverEndsTheWorkerFirst) {
  std::shared_ptr<Journal> journal;
  {
    PausedScan scan;
    journal = scan.journal;
  }
  EXPECT_TRUE(journal->Destroyed());
  EXPECT_FALSE(journal->DestroyedDuringOperation());
}

TEST(ScanDriverTest, StopAfterTheScanEndedAsksNothing) {
  Scan scan;
  scan.Start(EngineScript{});
  while (!scan.driver.IsFinished()) std::this_thread::yield();
  bool asked = false;
  EXPECT_TRUE(scan.driver.Stop([&] {
    asked = true;
    return false;
  }));
  EXPECT_FALSE(asked);
  EXPECT_EQ(scan.driver.FinalStatus(), kOk);
  EXPECT_EQ(scan.journal->Calls(), kAllOperations);
}

TEST(ScanDriverTest, StartWithoutAnEngineStartsNothing) {
  RecordingSink sink;
  CScanDriver driver(sink);
  EXPECT_EQ(driver.Start(nullptr, ""), kInvalidData);
  EXPECT_TRUE(driver.IsFinished());
  EXPECT_TRUE(driver.Stop());
  EXPECT_TRUE(sink.Posts().empty());
}

}  // namespace
}  // namespace corvyn

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/TextFormat.h"
#include "export/ExportJob.h"
#include "export/ExportText.h"
#include "tests/export/ExportTestSupport.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::exporting {
namespace {
namespace fs = std::filesystem;
using testing::FilesUnder;
using testing::FixedDiskSpace;
using testing::ParseCsv;
using testing::ReadFile;

constexpr int64_t kStart = 1400000000;

class CountingSink : public IExportSink {
 public:
  void OnProgress(const std::string&, int, const ExportCounts&) override { ++progressReports; }
  void OnDetail(const ExportDetail& detail, const ExportCounts&) override { rows.Add(detail); }
  int progressReports = 0;
  ExportDetailRows rows;
};

class ExportJobTest : public ::testing::Test {
 protected:
  void Scan(const testsupport::StandardBackupOptions& options = {}) {
    scan_ = std::make_unique<testing::ScannedBackup>(temp_.Path(), options);
    ASSERT_TRUE(scan_->ok());
    testing::WriteTemplates(temp_.Path() / "template");
  }
  ExportRequest Request() const { return {out_, scan_->DeviceName(), temp_.Path() / "template", kStart}; }
  ExportSummary Export(IExportSink* sink = nullptr, platform::IDiskSpace* disk = nullptr) {
    auto access = scan_->Driver().LockResults();
    ExportJob job(access.results, access.statistics, *scan_->Driver().Engine(), Request(), sink, disk);
    return job.Run();
  }
  // Leaves only the named categories checked.
  void CheckOnly(std::initializer_list<RecordCategory> categories) {
    auto access = scan_->Driver().LockResults();
    for (const RecordCategory category : kAllCategories) {
      (void)access.statistics.SetChecked(access.results.ContainerOf(category), false);
    }
    for (const RecordCategory category : categories) {
      ASSERT_TRUE(access.statistics.SetChecked(access.results.ContainerOf(category), true));
    }
  }
  std::string Stamp() const { return ExportTimeStamp(kStart); }

  corvyn::testing::TempFolder temp_{"export-job"};
  fs::path out_ = temp_.Path() / "out";
  std::unique_ptr<testing::ScannedBackup> scan_;
};

TEST_F(ExportJobTest, EveryCategoryGoesToItsFolder) {
  Scan();
  CountingSink sink;
  const ExportSummary summary = Export(&sink);
  ASSERT_TRUE(summary.ok()) << summary.status;
  const auto& truth = scan_->Built();
  const std::string stamp = Stamp();
  // Every checked record, plus sms.csv and Contacts.csv.
  const uint64_t records = truth.media.cameraRoll.size() + truth.media.photoStream.size() +
                           truth.media.messageAttachments.size() + truth.media.appFiles.size() +
                           truth.media.whatsAppAttachments.size() + 2 /* conversations */ +
                           truth.databases.contacts.size() + truth.databases.calls.size() +
                           truth.databases.notes.size() + 1 /* chat */;
  EXPECT_EQ(summary.counts.total, records + 2);
  EXPECT_EQ(summary.counts.done, summary.counts.total);
  EXPECT_EQ(summary.counts.failed, 0u);
  // One detail row per file: a row report is one file for all its records.
  EXPECT_EQ(sink.rows.Rows().size(), summary.counts.total - (truth.databases.contacts.size() - 1) -
                                         (truth.databases.calls.size() - 1) -
                                         (truth.databases.notes.size() - 1));

  const auto files = FilesUnder(out_);
  const auto has = [&](const std::string& file) {
    return std::find(files.begin(), files.end(), file) != files.end();
  };
  for (const auto& file : truth.media.cameraRoll) EXPECT_TRUE(has("Camera Roll/" + file.name)) << file.name;
  EXPECT_TRUE(has("Photo Stream/IMG_0100.JPG"));
  EXPECT_TRUE(has("App Photos/example.camera/shot.JPG"));
  EXPECT_TRUE(has("App Photos/other/drawing.PNG"));
  EXPECT_TRUE(has("App Video/example.camera/clip.MOV"));
  for (const auto& file : truth.media.messageAttachments)
    EXPECT_TRUE(has("Message Attachments/" + file.name));
  for (const auto& file : truth.media.whatsAppAttachments)
    EXPECT_TRUE(has("WhatsApp Attachments/" + file.name));
  EXPECT_EQ(ReadFile(out_ / "Camera Roll" / truth.media.cameraRoll[0].name),
            ReadFile(temp_.Path() / "backup" / truth.media.cameraRoll[0].path));
  EXPECT_TRUE(has("Message/sms.csv"));
  EXPECT_TRUE(has("Contacts/" + stamp + "/Contacts.csv"));

  const std::string contacts = ReadFile(out_ / "Contacts" / stamp / "Contacts.html");
  EXPECT_NE(contacts.find("iPhone's Contacts of " + scan_->DeviceName()), std::string::npos);
  for (const auto& contact : truth.databases.contacts)
    EXPECT_NE(contacts.find(contact.first), std::string::npos);
  const std::string calls = ReadFile(out_ / "CallHistory" / ("CallHistory_" + stamp + ".html"));
  EXPECT_NE(calls.find("<td>1 Min 5 Sec</td>"), std::string::npos);
  EXPECT_NE(calls.find("<td>Canceled</td>"), std::string::npos);
  const std::string notes = ReadFile(out_ / "Notes" / ("Notes_" + stamp + ".html"));
  for (const auto& note : truth.databases.notes) EXPECT_NE(notes.find(note.title), std::string::npos);

  // Messages: one folder per conversation, each with its transcript and page.
  std::string allPages, allTranscripts;
  int pages = 0;
  for (const auto& file : files) {
    if (file.rfind("Message/", 0) != 0 || file == "Message/sms.csv") continue;
    EXPECT_NE(file.find("-" + stamp + "/"), std::string::npos) << file;
    if (file.ends_with(".html")) {
      allPages += ReadFile(out_ / file);
      ++pages;
    } else {
      ASSERT_TRUE(file.ends_with(".txt")) << file;
      const std::string transcript = ReadFile(out_ / file);
      EXPECT_EQ(transcript.substr(0, 3), "\xEF\xBB\xBF");
      EXPECT_EQ(transcript.find("\n"), transcript.find("\r\n") + 1);
      allTranscripts += transcript;
    }
  }
  EXPECT_EQ(pages, 2);
  for (const auto& message : truth.databases.messages) {
    EXPECT_NE(allPages.find(message.sent ? "<div class=\"send_msg\">" + message.text
                                         : "<div class=\"recv_msg\">" + message.text),
              std::string::npos)
        << message.text;
    EXPECT_NE(allTranscripts.find("   Content: " + message.text + "\r\n"), std::string::npos);
  }
  EXPECT_NE(allTranscripts.find("      Data: "), std::string::npos);

  // WhatsApp: label + stamp, .txt/.csv/.html.
  const std::string chat = "WhatsApp Message/Anna Berger(4915112345678)-" + stamp + "/";
  EXPECT_TRUE(has(chat + "Anna Berger(4915112345678).txt"));
  EXPECT_TRUE(has(chat + "Anna Berger(4915112345678).html"));
  bool ok = false;
  const auto rows = ParseCsv(ReadFile(out_ / (chat + "Anna Berger(4915112345678).csv")).substr(3), &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(rows.size(), truth.databases.whatsApp.size() + 1);
  for (std::size_t i = 0; i < truth.databases.whatsApp.size(); ++i) {
    ASSERT_EQ(rows[i + 1].size(), 5u);
    EXPECT_EQ(rows[i + 1][4], truth.databases.whatsApp[i].text);
    EXPECT_EQ(rows[i + 1][3], truth.databases.whatsApp[i].sent ? "Send" : "Received");
  }
}

TEST_F(ExportJobTest, ASecondExportNumbersTakenNames) {
  Scan();
  CheckOnly({RecordCategory::kCameraRoll, RecordCategory::kWhatsApp});
  ASSERT_TRUE(Export().ok());
  ASSERT_TRUE(Export().ok());
  const auto files = FilesUnder(out_);
  const auto has = [&](const std::string& file) {
    return std::find(files.begin(), files.end(), file) != files.end();
  };
  EXPECT_TRUE(has("Camera Roll/IMG_0001.JPG"));
  EXPECT_TRUE(has("Camera Roll/IMG_0001(1).JPG"));
  EXPECT_TRUE(has("Camera Roll/IMG_0004(1).MOV"));
  const std::string label = "Anna Berger(4915112345678)";
  EXPECT_TRUE(has("WhatsApp Message/" + label + "-" + Stamp() + "/" + label + "(1).csv"));
  // Nothing but media and a chat: no message or contact CSV.
  EXPECT_FALSE(has("Message/sms.csv"));
  EXPECT_FALSE(fs::exists(out_ / "Contacts"));
}

TEST_F(ExportJobTest, HostileTextsStayInsideTheRootAndOutOfTheMarkup) {
  Scan({.hostileTexts = true});
  const ExportSummary summary = Export();
  ASSERT_TRUE(summary.status.ok()) << summary.status;
  // The messages CSV comes from the engine, whose fixture handles differ; the
  // files this library writes must all succeed.
  for (const auto& failure : summary.failures) ADD_FAILURE() << failure.path << ": " << failure.StatusText();

  // Nothing beside the root in its parent but what the test made.
  std::vector<std::string> siblings;
  for (const auto& entry : fs::directory_iterator(temp_.Path())) siblings.push_back(entry.path().filename());
  for (const std::string& name : siblings) {
    EXPECT_TRUE(name == "backup" || name == "out" || name == "scratch" || name == "template" ||
                name == "work")
        << name;
  }
  const fs::path root = fs::canonical(out_);
  int htmlFiles = 0;
  for (const auto& file : FilesUnder(out_)) {
    const fs::path path = fs::canonical(out_ / file);
    EXPECT_EQ(path.string().rfind(root.string() + "/", 0), 0u) << file;
    for (const auto& part : fs::path(file)) {
      const std::string name = part.string();
      EXPECT_NE(name, "..");
      EXPECT_FALSE(name.ends_with(".") || name.ends_with(" ")) << file;
      for (const char c : name) EXPECT_GE(static_cast<unsigned char>(c), 0x20u) << file;
    }
    if (file.ends_with(".html")) {
      ++htmlFiles;
      const std::string page = ReadFile(out_ / file);
      EXPECT_EQ(page.find("<script"), std::string::npos) << file;
      EXPECT_EQ(page.find("<img"), std::string::npos) << file;
    }
    if (file.ends_with(".csv") && file.find("WhatsApp Message") == 0) {
      bool ok = false;
      const auto rows = ParseCsv(ReadFile(out_ / file).substr(3), &ok);
      ASSERT_TRUE(ok) << file;
      const auto& truth = scan_->Built().databases.whatsApp;
      ASSERT_EQ(rows.size(), truth.size() + 1);
      for (std::size_t i = 0; i < truth.size(); ++i) {
        ASSERT_EQ(rows[i + 1].size(), 5u) << i;
        const std::string& text = truth[i].text;
        EXPECT_EQ(rows[i + 1][4], text[0] == '=' ? "'" + text : text);
      }
    }
  }
  EXPECT_GE(htmlFiles, 5);
  const std::string notes = ReadFile(out_ / "Notes" / ("Notes_" + Stamp() + ".html"));
  EXPECT_NE(notes.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(notes.find("&quot;quoted&quot;, comma, line<br />break"), std::string::npos);
}

// A sink that stops at its first finished file until the test lets it go.
class GateSink : public CountingSink {
 public:
  void OnDetail(const ExportDetail& detail, const ExportCounts& counts) override {
    CountingSink::OnDetail(detail, counts);
    std::unique_lock lock(mutex);
    if (reached) return;
    reached = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
  }
  void WaitReached() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return reached; });
  }
  void Release() {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
  std::mutex mutex;
  std::condition_variable changed;
  bool reached = false, released = false;
};

TEST_F(ExportJobTest, HoldThenResumeOrCancel) {
  Scan();
  CheckOnly({RecordCategory::kCameraRoll, RecordCategory::kMessageAttachments});
  for (const bool resume : {true, false}) {
    SCOPED_TRACE(resume ? "resume" : "cancel");
    fs::remove_all(out_);
    GateSink sink;
    auto access = scan_->Driver().LockResults();
    ExportJob job(access.results, access.statistics, *scan_->Driver().Engine(), Request(), &sink);
    job.Start();
    sink.WaitReached();
    auto held = std::async(std::launch::async, [&] { job.Control().Hold(); });
    while (!job.Control().IsHeld()) std::this_thread::yield();
    // Hold returns once the job has left the report it is in.
    sink.Release();
    held.get();
    ASSERT_TRUE(job.Control().WaitParked());
    const int reportsWhileHeld = sink.progressReports;
    const std::size_t rowsWhileHeld = sink.rows.Rows().size();
    EXPECT_EQ(rowsWhileHeld, 1u);
    EXPECT_EQ(sink.progressReports, reportsWhileHeld);
    if (resume) {
      job.Control().Resume();
      const ExportSummary summary = job.Wait();
      EXPECT_TRUE(summary.ok());
      EXPECT_EQ(summary.counts.done, summary.counts.total);
      EXPECT_EQ(FilesUnder(out_).size(), summary.counts.total);
    } else {
      job.Control().Cancel();
      const ExportSummary summary = job.Wait();
      EXPECT_EQ(summary.status, kStopped);
      EXPECT_EQ(summary.counts.done, 1u);
      EXPECT_LT(summary.counts.done, summary.counts.total);
      // The copy that was halted leaves no part file.
      EXPECT_EQ(FilesUnder(out_).size(), 1u);
    }
  }
}

TEST_F(ExportJobTest, FilesThatCannotBeWrittenAreCountedFailed) {
  Scan();
  CheckOnly({RecordCategory::kPhotoStream, RecordCategory::kNotes, RecordCategory::kMessages,
             RecordCategory::kCallHistory});
  fs::create_directories(out_);
  // Folders that are files.
  std::ofstream(out_ / "Notes") << "in the way";
  std::ofstream(out_ / "Message") << "in the way";
  CountingSink sink;
  const ExportSummary summary = Export(&sink);
  ASSERT_TRUE(summary.status.ok());
  EXPECT_FALSE(summary.ok());
  const auto& truth = scan_->Built().databases;
  // Notes (each record), two conversations and sms.csv failed; the photo and the calls did not.
  EXPECT_EQ(summary.counts.failed, truth.notes.size() + 2 + 1);
  EXPECT_EQ(summary.counts.done, summary.counts.total);
  EXPECT_EQ(summary.counts.Succeeded(), 1 + truth.calls.size());
  ASSERT_FALSE(sink.rows.Rows().empty());
  EXPECT_FALSE(sink.rows.Rows().front().ok());
  EXPECT_TRUE(sink.rows.Rows().back().ok());
  bool notesNamed = false;
  for (const auto& failure : summary.failures) {
    EXPECT_FALSE(failure.StatusText().empty());
    notesNamed = notesNamed || failure.path.find("Notes_") != std::string::npos;
  }
  EXPECT_TRUE(notesNamed);
  EXPECT_TRUE(fs::exists(out_ / "Photo Stream" / "IMG_0100.JPG"));
}

TEST_F(ExportJobTest, TooLittleSpaceOrAMissingTemplateStopsBeforeWriting) {
  Scan();
  FixedDiskSpace little(1000);
  ExportSummary summary = Export(nullptr, &little);
  EXPECT_TRUE(summary.status.IsSystemError());
  EXPECT_EQ(summary.status.systemError(), ENOSPC);
  EXPECT_NE(summary.status.Message().find("1000 Bytes free"), std::string::npos) << summary.status.Message();
  EXPECT_NE(summary.status.Message().find(" KB,"), std::string::npos) << summary.status.Message();
  EXPECT_TRUE(FilesUnder(out_).empty());
  EXPECT_EQ(summary.counts.done, 0u);
  EXPECT_FALSE(summary.templateUnreadable);

  fs::remove(temp_.Path() / "template" / "Sms.html");
  summary = Export();
  EXPECT_TRUE(summary.templateUnreadable);
  EXPECT_TRUE(summary.status.IsSystemError());
  EXPECT_NE(summary.status.Message().find("Sms.html"), std::string::npos);
  EXPECT_TRUE(FilesUnder(out_).empty());
  // Without messages checked the missing template is not needed.
  CheckOnly({RecordCategory::kPhotoStream});
  summary = Export();
  EXPECT_TRUE(summary.ok());
  EXPECT_FALSE(summary.templateUnreadable);
}

}  // namespace
}  // namespace corvyn::exporting

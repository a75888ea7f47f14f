// Scan page speed on a large scan. An engine that finds 200,000 messages,
// each in a conversation of its own (the worst case for the list: 200,000
// conversation rows, every fourth one deleted), runs through the real scan
// driver, so the results, the derived rows and the statistics are what a
// real scan's completion makes of them. Measured on the page, offscreen:
//   (a) from the moment the main window receives "scan ended" (1034) until
//       the list of Messages has been filled and painted, the category being
//       selected only after the end (the slow path: nothing was filled before);
//   (b) the only-deleted filter switched on, and off again, each until the
//       list has been painted;
// and, for information, one sort by a text column.
//
// With --backup the scan is a real one: a backup written by the test builder
// whose message database holds that many messages over one conversation per
// 100 messages, read by the real backup engine (the scan's own time is
// printed too).
// Usage: bench_scan_page [--backup] [messages] [repetitions]
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/AppMessages.h"
#include "app/CScanVrtWnd.h"
#include "backup/BackupDiscovery.h"
#include "backup/CLocalBuckupRecovery.h"
#include "core/CategoryCatalog.h"
#include "core/EngineFactory.h"
#include "tests/support/backup_builder/StandardBackup.h"
#include "tests/support/temp_folder/TempFolder.h"
#include "ui/SkinArchive.h"

inline void InitEmbeddedSkin() {
  Q_INIT_RESOURCE(corvyn_skin);
}

namespace corvyn::app {
namespace {

int g_messages = 200000;
bool g_realBackup = false;

// Finds only messages; reports progress like an engine walking a backup.
class MessagesOnlyEngine final : public IPhoneRecoveryParse {
 public:
  Status Attach(void*) override { return kOk; }
  Status SetProgressCallback(ProgressCallback callback, void* userValue) override {
    callback_ = callback;
    userValue_ = userValue;
    return kOk;
  }
  Status Reserved(void*) override { return kOk; }
  bool IsBackupSource() const override { return true; }
  Status OpenSource(const std::string&) override { return Report(1); }
  Status CollectMessages(ConversationMap& conversations) override {
    for (int i = 0; i < g_messages; ++i) {
      MessageRecord message;
      message.deleted = i % 4 == 0 ? 1 : 0;
      message.sent = i % 2;
      message.messageId = i + 1;
      message.handleId = i + 1;
      char date[32];
      std::snprintf(date, sizeof date, "2014-%02d-%02d %02d:%02d:%02d", 1 + i % 12, 1 + i % 28, i % 24,
                    i % 60, (i / 60) % 60);
      message.date = date;
      message.address = "+49151" + std::to_string(1000000 + i);
      message.name = "Contact " + std::to_string(i);
      message.text = "Message number " + std::to_string(i) + " with a little text to show in the list";
      conversations[message.handleId].push_back(std::move(message));
      if (i % 20000 == 0) {
        if (const Status status = Report(2 + 90 * i / g_messages); status != kOk) return status;
      }
    }
    return kOk;
  }
  Status CollectMessageAttachments(std::vector<AttachmentRecord>&) override { return kOk; }
  Status CollectContacts(std::vector<ContactRecord>&) override { return kOk; }
  Status CollectNotes(std::vector<NoteRecord>&) override { return kOk; }
  Status CollectCallHistory(std::vector<CallRecord>&) override { return kOk; }
  Status CollectPhotos(std::vector<MediaFileRecord>&, std::vector<MediaFileRecord>&) override { return kOk; }
  Status CollectWhatsAppAttachments(std::vector<MediaFileRecord>&) override { return kOk; }
  Status CollectAppFiles(std::vector<AppFileRecord>&) override { return kOk; }
  Status CollectQQ(ChatConversationMap&) override { return kOk; }
  Status CollectWeChat(ChatConversationMap&) override { return kOk; }
  Status CollectWhatsApp(WhatsAppChatMap&) override { return kOk; }
  Status ExtractForPreview(const std::filesystem::path&, std::filesystem::path&, ProgressCallback,
                           void*) override {
    return Status(kInvalidData, "no preview");
  }
  Status CopyFileWithProgress(const std::filesystem::path&, const std::filesystem::path&, ProgressCallback,
                              void*) override {
    return Status(kInvalidData, "no files");
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

 private:
  Status Report(int percent) {
    if (callback_ != nullptr && callback_(userValue_, percent) == kStopAnswer) return Status(kStopped);
    return kOk;
  }
  ProgressCallback callback_ = nullptr;
  void* userValue_ = nullptr;
};

// Routes the scan messages as the main window does, keeping 1033 back so
// that nothing is selected before the end, and timing from 1034.
class BenchMainWnd final : public ui::CLayoutWnd {
 public:
  CScanVrtWnd* page = nullptr;
  bool ended = false;
  double endToPaintMs = 0;

 protected:
  bool HandleMessage(int message, qintptr wParam, qintptr) override {
    if (message == kMsgFirstCategory || (message == kMsgScanState && wParam != kScanStateOpenFailed))
      return true;
    if (message == kMsgScanEnded) {
      QElapsedTimer timer;
      timer.start();
      page->HandleScanMessage(message, wParam);
      SelectMessages();
      PaintList();
      endToPaintMs = timer.nsecsElapsed() / 1e6;
      ended = true;
      return true;
    }
    if (message >= kMsgCategoryDone && message <= kMsgScanState) page->HandleScanMessage(message, wParam);
    return true;
  }

 public:
  QTreeView* List() const { return page->FindControl<QTreeView>("DataList"); }
  void SelectMessages() {
    auto* tree = page->FindControl<QTreeView>("NodeTree");
    QAbstractItemModel* model = tree->model();
    const QModelIndex group = model->index(1, 0);
    tree->setCurrentIndex(model->index(0, 0, group));  // Messages, first of its group
  }
  void PaintList() {
    List()->viewport()->repaint();
    List()->header()->viewport()->repaint();
  }
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int Run(int repetitions) {
  if (ui::SkinArchive::LoadCurrent({}) != kOk) {
    std::fprintf(stderr, "bench_scan_page: the skin archive does not load\n");
    return 1;
  }
  std::vector<double> endToPaint, filterOn, filterOff, sortByName, scanSeconds;
  platform::RecordingDesktop desktop;
  // The real backup, written once: one conversation per 100 messages.
  testing::TempFolder work;
  ScanRequest request;
  int expectedRows = g_messages;
  if (g_realBackup) {
    testsupport::DatabaseTruth truth = testsupport::FixtureTruth();
    truth.messages.clear();
    for (int i = 0; i < g_messages; ++i) {
      const int handle = 1 + i / 100;
      truth.messages.push_back({handle, "+4915" + std::to_string(100000 + handle),
                                "Message " + std::to_string(i) + " of a long conversation", i % 3 == 0});
    }
    testsupport::StandardBackupOptions options;
    options.truth = &truth;
    testsupport::StandardBackup backup;
    if (testsupport::MakeStandardBackup(work.Path() / "scratch", backup, options) != kOk ||
        backup.builder.Write(work.Path() / "backup") != kOk ||
        backup::ReadBackupFolder(work.Path() / "backup", request.backup) != kOk) {
      std::fprintf(stderr, "bench_scan_page: the backup cannot be written\n");
      return 1;
    }
    expectedRows = (g_messages + 99) / 100;
  }
  for (int repetition = 0; repetition < repetitions; ++repetition) {
    BenchMainWnd main;
    main.resize(1000, 590);
    CScanVrtWnd page(main, desktop);
    main.page = &page;
    if (page.Create() != kOk) return 1;
    page.Embed(&main);
    main.show();
    if (g_realBackup) {
      backup::RegisterBackupEngine();
    } else {
      RegisterEngineFactory(kSourceKindBackup, [] { return std::make_unique<MessagesOnlyEngine>(); });
    }
    QElapsedTimer scanTimer;
    scanTimer.start();
    page.StartScan(request);
    while (!main.ended) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    scanSeconds.push_back(scanTimer.nsecsElapsed() / 1e9);
    if (page.SelectedCategory() != RecordCategory::kMessages ||
        main.List()->model()->rowCount() != expectedRows) {
      std::fprintf(stderr, "bench_scan_page: the list shows %d rows, not %d\n",
                   main.List()->model()->rowCount(), expectedRows);
      return 1;
    }
    endToPaint.push_back(main.endToPaintMs);
    auto* filter = page.FindControl<QCheckBox>("OptOnOffFilter");
    for (int toggle = 0; toggle < 3; ++toggle) {
      QElapsedTimer timer;
      timer.start();
      filter->click();
      main.PaintList();
      filterOn.push_back(timer.nsecsElapsed() / 1e6);
      timer.restart();
      filter->click();
      main.PaintList();
      filterOff.push_back(timer.nsecsElapsed() / 1e6);
    }
    QElapsedTimer timer;
    timer.start();
    main.List()->sortByColumn(1, Qt::AscendingOrder);  // "User Name", as a header click does
    main.PaintList();
    sortByName.push_back(timer.nsecsElapsed() / 1e6);
  }
  if (g_realBackup) {
    std::printf(
        "bench_scan_page: a built backup of %d messages in %d conversations, read by the backup engine, "
        "%d runs\n",
        g_messages, expectedRows, repetitions);
    std::printf("  the scan itself: median %.2f s\n", Median(scanSeconds));
  } else {
    std::printf("bench_scan_page: %d messages (one conversation each, every fourth deleted), %d runs\n",
                g_messages, repetitions);
  }
  std::printf("  scan end (1034) to first painted Messages list: median %.1f ms, max %.1f ms\n",
              Median(endToPaint), *std::max_element(endToPaint.begin(), endToPaint.end()));
  std::printf("  only-deleted filter on:  median %.1f ms, max %.1f ms\n", Median(filterOn),
              *std::max_element(filterOn.begin(), filterOn.end()));
  std::printf("  only-deleted filter off: median %.1f ms, max %.1f ms\n", Median(filterOff),
              *std::max_element(filterOff.begin(), filterOff.end()));
  std::printf("  sort by user name (not a goal): median %.1f ms, max %.1f ms\n", Median(sortByName),
              *std::max_element(sortByName.begin(), sortByName.end()));
  return 0;
}

}  // namespace
}  // namespace corvyn::app

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  InitEmbeddedSkin();
  int first = 1;
  if (argc > 1 && std::string(argv[1]) == "--backup") {
    corvyn::app::g_realBackup = true;
    first = 2;
  }
  if (argc > first) corvyn::app::g_messages = std::max(1, std::atoi(argv[first]));
  const int repetitions = argc > first + 1 ? std::max(1, std::atoi(argv[first + 1])) : 3;
  return corvyn::app::Run(repetitions);
}

#include "app/Startup.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "app/CMainWnd.h"
#include "app/LanguageStore.h"
#include "app/Shutdown.h"
#include "app/SingleInstance.h"
#include "backup/WorkingRoot.h"
#include "platform/Desktop.h"
#include "platform/Process.h"
#include "platform/SpecialFolders.h"
#include "platform/TerminationSignals.h"
#include "ui/CMessageBox.h"
#include "ui/SkinArchive.h"

// The resource initialiser lives outside every namespace.
static void InitCorvynSkinResource() {
  Q_INIT_RESOURCE(corvyn_skin);
}

namespace corvyn::app {

void InitSkinResource() {
  InitCorvynSkinResource();
}

int RunCorvyn(int argc, char** argv) {
  // Handlers for requests to end from outside come first: a request that
  // arrives while the program starts waits in the pipe for the main loop
  // instead of killing the program before it can clean up.
  const int terminationDescriptor = platform::TerminationSignalDescriptor();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Corvyn"));
  QApplication::setQuitOnLastWindowClosed(false);  // the main window ends the loop itself
  InitSkinResource();

  // The skin and the texts are read first so that the "is running" box can
  // be shown skinned; a broken skin is reported after the instance check.
  const Status skinStatus = ui::SkinArchive::LoadCurrent(platform::ProgramDir());
  if (skinStatus == kOk) {
    if (const auto styleSheet = ui::SkinArchive::Current().Read(QStringLiteral("skin.qss"))) {
      application.setStyleSheet(QString::fromUtf8(*styleSheet));
    }
  }
  LanguageStore& languages = LanguageStore::Instance();
  ui::SetTextSource(&languages);

  // 1. One instance only.
  SingleInstance instance(platform::RuntimeDir());
  const Status claim = instance.Claim();
  if (claim.systemError() == EWOULDBLOCK) {
    if (!instance.AskRunningInstanceToShow()) {
      if (skinStatus == kOk) {
        ui::CMessageBox::Show(ui::kMessageBoxInformation, nullptr, std::nullopt,
                              QString::fromUtf8(kAlreadyRunningText), 350, 150);
      } else {
        QMessageBox::information(nullptr, QStringLiteral("Information"),
                                 QString::fromUtf8(kAlreadyRunningText));
      }
    }
    return 0;
  }
  if (claim != kOk) {
    std::fprintf(stderr, "corvyn: cannot use the instance lock: %s; running anyway\n",
                 claim.Message().c_str());
  }

  // 2. The skin archive must load.
  if (skinStatus != kOk) {
    QMessageBox::information(nullptr, QStringLiteral("Information"), QString::fromUtf8(kStartupFailedText));
    return 1;
  }

  // 3. Nothing to prepare beyond the toolkit on this platform.
  // 4. The main window and the loop.
  CMainWnd mainWindow(languages, platform::DefaultDesktop());
  if (mainWindow.Create() != kOk) {
    QMessageBox::information(nullptr, QStringLiteral("Information"), QString::fromUtf8(kStartupFailedText));
    return 1;
  }
  instance.Listen([&mainWindow] {
    std::fprintf(stderr, "corvyn: a second start asked for the window; bringing it forward\n");
    mainWindow.BringToFront();
  });
  // A request to end from outside (session end, Ctrl+C) takes the normal way out.
  std::unique_ptr<QSocketNotifier> termination;
  if (terminationDescriptor >= 0) {
    termination = std::make_unique<QSocketNotifier>(terminationDescriptor, QSocketNotifier::Read);
    QObject::connect(termination.get(), &QSocketNotifier::activated, &application, [] {
      platform::DrainTerminationSignals();
      QCoreApplication::quit();
    });
  }
  mainWindow.show();
  // "corvyn FOLDER" scans the backup in FOLDER (as "Select Folder" would).
  const QStringList arguments = QCoreApplication::arguments();
  if (arguments.size() > 1 && !arguments.at(1).startsWith(QLatin1Char('-'))) {
    const std::filesystem::path folder = arguments.at(1).toStdString();
    QTimer::singleShot(0, &mainWindow, [&mainWindow, folder] { mainWindow.ScanBackupFolder(folder); });
  }
  const int result = application.exec();

  // Shut-down.
  ui::SetTextSource(nullptr);
  EndPlayersAndDeleteScratchFiles(platform::DefaultProcessLauncher(), backup::ChosenWorkingRoot());
  return result;
}

}  // namespace corvyn::app

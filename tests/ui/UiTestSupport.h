// Shared pieces of the toolkit and application tests: one QApplication for
// the test process (offscreen), ZIP archives built on the fly, and waiting
// for the event loop; temporary folders come from tests/support/temp_folder.
#pragma once

#include <zip.h>

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_folder/TempFolder.h"

// The embedded skin archive lives in a static library; its initialiser must
// be named outside every namespace.
inline void InitEmbeddedSkinForTests() {
  Q_INIT_RESOURCE(corvyn_skin);
}

namespace corvyn::testing {

inline QApplication& TestApplication() {
  static int argc = 1;
  static char name[] = "corvyn-tests";
  static char* argv[] = {name, nullptr};
  static QApplication* application = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* created = new QApplication(argc, argv);  // lives until the process ends
    InitEmbeddedSkinForTests();
    return created;
  }();
  return *application;
}

// A ZIP holding `files` (name, content, stored uncompressed), as bytes.
inline QByteArray MakeZip(const std::vector<std::pair<std::string, QByteArray>>& files) {
  TempFolder folder;
  const std::string path = (folder.Path() / "archive.zip").string();
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (archive == nullptr) return {};
  std::vector<QByteArray> keep;  // buffers must live until zip_close
  keep.reserve(files.size());
  for (const auto& [name, content] : files) {
    keep.push_back(content);
    zip_source_t* source = zip_source_buffer(archive, keep.back().constData(), keep.back().size(), 0);
    const zip_int64_t index =
        source != nullptr ? zip_file_add(archive, name.c_str(), source, ZIP_FL_OVERWRITE) : -1;
    if (index < 0) {
      zip_source_free(source);
      zip_discard(archive);
      return {};
    }
    // Stored, not deflated: tests find and damage contents by their bytes.
    zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
  }
  if (zip_close(archive) != 0) return {};
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

template <class Predicate>
bool WaitFor(Predicate predicate, int timeoutMs = 5000) {
  return QTest::qWaitFor(predicate, timeoutMs);
}

// Once a modal window named `layout` (any modal window when `layout` is
// empty) is up, runs `act` on it from the event loop of whoever shows it.
inline void WhenModalShows(const QString& layout, std::function<void(QWidget*)> act) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, layout, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || (!layout.isEmpty() && modal->objectName() != layout)) return;
    poll->stop();
    poll->deleteLater();
    act(modal);
  });
  poll->start();
}

// Clicks the button `name` of `window`, which must exist.
inline void ClickButton(QWidget* window, const char* name) {
  auto* button = window->findChild<QPushButton*>(name);
  ASSERT_NE(button, nullptr) << name;
  QTest::mouseClick(button, Qt::LeftButton);
}

}  // namespace corvyn::testing

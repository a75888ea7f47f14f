// One running instance: the first start takes the lock file and listens on a
// local socket; a later start finds the lock taken and asks the first,
// through the socket, to bring its window forward.
#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/InstanceLock.h"
#include "platform/Status.h"

class QLocalServer;

namespace corvyn::app {

class SingleInstance final : public QObject {
 public:
  // Lock file and socket in `folder`, named after the program's mutex name.
  explicit SingleInstance(const std::filesystem::path& folder);
  ~SingleInstance() override;

  // kOk: this is the first instance. EWOULDBLOCK: another instance runs.
  // Other errno: the lock file cannot be used (the program then runs, as
  // the lock only exists to keep a second window away).
  Status Claim();

  // First instance: listens for later starts and calls `bringForward` on
  // the user-interface thread for each. False when the socket cannot be
  // opened (later starts then show "is running" instead).
  bool Listen(std::function<void()> bringForward);

  // Later instance: asks the running one to show its window. True when it
  // confirmed within `timeoutMs`. Usable from any thread; blocks.
  bool AskRunningInstanceToShow(int timeoutMs = 3000) const;

  const QString& SocketPath() const { return socketPath_; }
  const std::filesystem::path& LockFile() const { return lockFile_; }

 private:
  std::filesystem::path lockFile_;
  QString socketPath_;
  std::unique_ptr<platform::InstanceLock> lock_;
  QLocalServer* server_ = nullptr;
};

}  // namespace corvyn::app

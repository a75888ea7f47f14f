#include "app/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace corvyn::app {
namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kShownReply[] = "shown\n";

}  // namespace

SingleInstance::SingleInstance(const std::filesystem::path& folder)
    : lockFile_(folder / platform::LockFileNameFor(platform::kInstanceMutexName)) {
  std::filesystem::path socket = lockFile_;
  socket.replace_extension(".socket");
  socketPath_ = QString::fromStdString(socket.string());
}

SingleInstance::~SingleInstance() {
  if (server_ != nullptr) server_->close();
}

Status SingleInstance::Claim() {
  return platform::InstanceLock::Acquire(lockFile_, &lock_);
}

bool SingleInstance::Listen(std::function<void()> bringForward) {
  if (!lock_) return false;
  // We hold the lock, so a socket file left here belongs to an ended run.
  QLocalServer::removeServer(socketPath_);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(socketPath_)) return false;
  connect(server_, &QLocalServer::newConnection, this, [this, bringForward] {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
      connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
      auto serve = [client, bringForward] {
        while (client->canReadLine()) {
          if (client->readLine() == kShowRequest) {
            bringForward();
            client->write(kShownReply);
            client->flush();
          }
        }
      };
      connect(client, &QLocalSocket::readyRead, client, serve);
      serve();  // a request may already be waiting
    }
  });
  return true;
}

bool SingleInstance::AskRunningInstanceToShow(int timeoutMs) const {
  QLocalSocket socket;
  socket.connectToServer(socketPath_);
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kShowRequest);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  QByteArray reply;
  while (!reply.contains('\n')) {
    if (!socket.waitForReadyRead(timeoutMs)) return false;
    reply += socket.readAll();
    if (reply.size() > 64) return false;
  }
  return reply == kShownReply;
}

}  // namespace corvyn::app

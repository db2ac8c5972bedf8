#include "app/single_instance.h"

#include <QLocalSocket>

#include <cstdio>

namespace qc {
namespace {

constexpr char kRequest[] = "activate\n";
constexpr char kReply[] = "ok\n";
constexpr qint64 kMaxRequestLength = 64;

}  // namespace

void BringToFront(QWidget* window) {
  if (!window) return;
  if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
  window->show();
  window->raise();
  window->activateWindow();
}

InstanceServer::InstanceServer(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {
  // Only this user may ask the program to do anything.
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, &InstanceServer::onNewConnection);
}

bool InstanceServer::Listen(bool ownsName) {
  if (ownsName) QLocalServer::removeServer(name_);
  return server_.listen(name_);
}

void InstanceServer::onNewConnection() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequestLength) socket->abort();
        return;
      }
      const QByteArray line = socket->readLine(kMaxRequestLength);
      if (line != kRequest) {
        socket->abort();
        return;
      }
      const bool wasMinimized = window_ && window_->isMinimized();
      BringToFront(window_);
      ++requests_;
      std::fprintf(stderr, "quillcast: a second start asked this instance to come to the front%s\n",
                   wasMinimized ? " (restored from minimized)" : "");
      std::fflush(stderr);
      emit ActivationRequested();
      socket->write(kReply);
      socket->disconnectFromServer();
    });
  }
}

AskResult AskRunningInstanceToComeForward(const QString& name, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(timeoutMs)) return AskResult::NotReached;
  socket.write(kRequest);
  // Once written, the request waits in the socket for an instance that is busy.
  if (!socket.waitForBytesWritten(timeoutMs)) return AskResult::NotReached;
  while (!socket.canReadLine()) {
    if (!socket.waitForReadyRead(timeoutMs)) return AskResult::Sent;
  }
  return socket.readLine(kMaxRequestLength) == kReply ? AskResult::Answered : AskResult::Sent;
}

}  // namespace qc

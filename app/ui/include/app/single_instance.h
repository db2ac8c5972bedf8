// One running program per data folder. The first start holds the instance
// lock and listens on a local socket named after the folder; a later start
// asks it over that socket to come to the front and ends.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace qc {

// Shows `window` in front of the others; a minimized window is restored to
// its state before it was minimized (normal or maximized).
void BringToFront(QWidget* window);

// The running instance's side: answers each "activate" request by bringing
// the window forward, logging it and replying "ok".
class InstanceServer : public QObject {
  Q_OBJECT
 public:
  explicit InstanceServer(QString name, QObject* parent = nullptr);

  // Starts listening. With `ownsName` (the caller holds the instance lock) a
  // socket left behind by a crashed instance is removed first.
  bool Listen(bool ownsName);
  QString ErrorString() const { return server_.errorString(); }

  void SetWindow(QWidget* window) { window_ = window; }
  int RequestsHandled() const { return requests_; }

 signals:
  void ActivationRequested();

 private:
  void onNewConnection();

  QString name_;
  QLocalServer server_;
  QPointer<QWidget> window_;
  int requests_ = 0;
};

// The second start's side: true when the instance listening on `name`
// confirmed the request within `timeoutMs`.
bool AskRunningInstanceToComeForward(const QString& name, int timeoutMs);

}  // namespace qc

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

enum class AskResult {
  NotReached,  // nobody listens on the name
  Sent,        // the request went out but no answer came within the time
  Answered,    // the running instance came to the front
};

// The second start's side: sends the request to the instance listening on
// `name` and waits at most `timeoutMs` for each step.
AskResult AskRunningInstanceToComeForward(const QString& name, int timeoutMs);

}  // namespace qc

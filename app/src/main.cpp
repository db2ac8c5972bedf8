// Start of the program: one instance per data folder, then the main window.
#include <QApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/folders.h"
#include "app/instance_lock.h"
#include "app/main_screen.h"
#include "app/single_instance.h"

namespace {

// How long a second start keeps trying to reach the first one. The first
// instance takes the lock a moment before it listens, and a closing one
// still holds it a moment after it stopped listening.
constexpr int kReachWithinMs = 5000;
constexpr int kAskTimeoutMs = 2000;
constexpr unsigned long kRetryDelayMs = 100;

void Log(const char* format, const std::string& text) {
  std::fprintf(stderr, format, text.c_str());
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quillcast");

  const std::string folder = qc::ProgramFolder();
  if (!qc::ForceFolders(folder)) Log("quillcast: cannot create the data folder %s\n", folder);

  const QString serverName = QString::fromStdString(qc::InstanceServerName(folder));
  qc::InstanceLock lock;
  const QDeadlineTimer deadline(kReachWithinMs);
  for (;;) {
    const auto result = lock.TryAcquire(folder);
    if (result == qc::InstanceLock::Result::Acquired) break;
    const int wait = static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, kAskTimeoutMs));
    switch (qc::AskRunningInstanceToComeForward(serverName, wait)) {
      case qc::AskResult::Answered:
        Log("quillcast: already running on %s; asked it to come to the front\n", folder);
        return 0;
      case qc::AskResult::Sent:
        Log("quillcast: already running on %s; it will come to the front when it is free\n",
            folder);
        return 0;
      case qc::AskResult::NotReached:
        break;
    }
    if (result == qc::InstanceLock::Result::Failed) {
      // No lock can be had here (read-only folder, a file system without
      // locks) and nobody answers: run, guarded by the socket name alone.
      Log("quillcast: cannot lock %squillcast.lock; starting without the lock\n", folder);
      break;
    }
    if (deadline.hasExpired()) {
      Log("quillcast: another instance holds %squillcast.lock but does not answer\n", folder);
      return 0;
    }
    QThread::msleep(kRetryDelayMs);
  }

  qc::InstanceServer server(serverName);
  if (!server.Listen(lock.Held()))
    Log("quillcast: a second start cannot reach this instance: %s\n",
        server.ErrorString().toStdString());

  qc::InstallCovers(qc::ShareFolder(), qc::CoversFolder());

  auto window = std::make_unique<qc::TMainScreen>();
  server.SetWindow(window.get());
  window->Start();
  Log("quillcast: running on %s\n", folder);
  const int rc = app.exec();
  window.reset();
  return rc;
}

#include "app/single_instance.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QMainWindow>
#include <QProcess>

#include <atomic>
#include <filesystem>
#include <thread>

#include "app/instance_lock.h"
#include "temp_folder.h"

namespace qc {
namespace {

// Generous bounds: they only end a test that has already failed.
constexpr int kWaitMs = 30000;

void EnsureApplication() {
  if (QApplication::instance()) return;
  static int argc = 1;
  static char name[] = "app_ui_tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

// Runs `work` on another thread while this one handles events.
template <typename Work>
void RunBesideEventLoop(Work work) {
  std::atomic<bool> done{false};
  std::thread t([&] {
    work();
    done = true;
  });
  QDeadlineTimer deadline(kWaitMs);
  while (!done && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  t.join();
}

TEST(BringToFront, RestoresAMinimizedWindowToItsFormerState) {
  EnsureApplication();
  QMainWindow window;
  window.showMaximized();
  window.showMinimized();
  ASSERT_TRUE(window.isMinimized());
  BringToFront(&window);
  EXPECT_FALSE(window.isMinimized());
  EXPECT_TRUE(window.isMaximized());
  EXPECT_TRUE(window.isVisible());
}

TEST(InstanceServer, AnswersTheRequestOfASecondStart) {
  EnsureApplication();
  test::TempFolder dir;
  const QString name = QString::fromStdString(InstanceServerName(dir.path()));
  QMainWindow window;
  window.showMinimized();
  InstanceServer server(name);
  server.SetWindow(&window);
  ASSERT_TRUE(server.Listen(true)) << server.ErrorString().toStdString();

  // Anything but the request is turned away.
  RunBesideEventLoop([&] {
    QLocalSocket socket;
    socket.connectToServer(name);
    ASSERT_TRUE(socket.waitForConnected(kWaitMs));
    socket.write("raise the window please\n");
    socket.waitForBytesWritten(kWaitMs);
    EXPECT_FALSE(socket.waitForReadyRead(kWaitMs) && socket.canReadLine());
  });
  EXPECT_EQ(server.RequestsHandled(), 0);
  EXPECT_TRUE(window.isMinimized());

  AskResult answer = AskResult::NotReached;
  RunBesideEventLoop([&] { answer = AskRunningInstanceToComeForward(name, kWaitMs); });
  EXPECT_EQ(answer, AskResult::Answered);
  EXPECT_EQ(server.RequestsHandled(), 1);
  EXPECT_FALSE(window.isMinimized());
}

TEST(InstanceServer, NobodyListeningMeansNoAnswer) {
  EnsureApplication();
  test::TempFolder dir;
  EXPECT_EQ(AskRunningInstanceToComeForward(
                QString::fromStdString(InstanceServerName(dir.path())), 200),
            AskResult::NotReached);
}

// The program itself, started on one data folder.
class Quillcast {
 public:
  explicit Quillcast(const std::string& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUILLCAST_HOME", QString::fromStdString(home));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QUILLCAST_EXE, {});
  }
  ~Quillcast() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(kWaitMs);
    }
  }

  // Waits until the program's output holds `text`.
  bool WaitFor(const QByteArray& text) {
    QDeadlineTimer deadline(kWaitMs);
    for (;;) {
      output_ += process_.readAll();
      if (output_.contains(text)) return true;
      if (deadline.hasExpired()) return false;
      if (!process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
        output_ += process_.readAll();
        return output_.contains(text);
      }
    }
  }
  bool WaitForExit() {
    const bool finished = process_.waitForFinished(kWaitMs);
    output_ += process_.readAll();
    return finished;
  }
  void Kill() {
    process_.kill();
    process_.waitForFinished(kWaitMs);
  }

  QProcess& process() { return process_; }
  std::string output() const { return output_.toStdString(); }

 private:
  QProcess process_;
  QByteArray output_;
};

constexpr char kRunning[] = "quillcast: running on";
constexpr char kAskedForward[] = "a second start asked this instance to come to the front";

// The first start runs; the second asks it forward and ends with success,
// having shown no window of its own.
void ExpectSecondStartHandsOver(Quillcast& first, const std::string& home) {
  Quillcast second(home);
  ASSERT_TRUE(second.WaitForExit()) << second.output();
  EXPECT_EQ(second.process().exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.process().exitCode(), 0) << second.output();
  EXPECT_NE(second.output().find("already running"), std::string::npos) << second.output();
  EXPECT_EQ(second.output().find(kRunning), std::string::npos) << second.output();
  EXPECT_TRUE(first.WaitFor(kAskedForward)) << first.output();
  EXPECT_EQ(first.process().state(), QProcess::Running);
}

TEST(Quillcast, SecondStartOnTheSameFolderOnlyBringsTheFirstForward) {
  EnsureApplication();
  test::TempFolder home;
  Quillcast first(home.path());
  ASSERT_TRUE(first.WaitFor(kRunning)) << first.output();
  for (const char* folder : {"SEND", "Receive", "Covers"})
    EXPECT_TRUE(std::filesystem::is_directory(home / folder)) << folder;
  ExpectSecondStartHandsOver(first, home.path());
  ExpectSecondStartHandsOver(first, home.path());  // and again

  // Another data folder is another instance.
  test::TempFolder otherHome;
  Quillcast other(otherHome.path());
  EXPECT_TRUE(other.WaitFor(kRunning)) << other.output();
}

TEST(Quillcast, AKilledInstanceDoesNotBlockTheNextStart) {
  EnsureApplication();
  test::TempFolder home;
  {
    Quillcast crashed(home.path());
    ASSERT_TRUE(crashed.WaitFor(kRunning)) << crashed.output();
    crashed.Kill();  // leaves its lock file and its socket behind
  }
  Quillcast next(home.path());
  ASSERT_TRUE(next.WaitFor(kRunning)) << next.output();
  ExpectSecondStartHandsOver(next, home.path());
}

}  // namespace
}  // namespace qc

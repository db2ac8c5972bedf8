// The program itself: a first start in an empty data folder, and a second
// start that only brings the first one forward.
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <QThread>

#include <filesystem>

#include "temp_folder.h"

class GuiStart : public QObject {
  Q_OBJECT
 private slots:
  void firstStartCreatesTheFilesAndASecondStartEnds();
};

void GuiStart::firstStartCreatesTheFilesAndASecondStartEnds() {
  qc::test::TempFolder dir;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QUILLCAST_HOME", QString::fromStdString(dir.path()));
  env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir / "config"));
  env.insert("QT_QPA_PLATFORM", "offscreen");
  QProcess first;
  first.setProcessEnvironment(env);
  first.start(QUILLCAST_EXE, {});
  QVERIFY(first.waitForStarted());
  // The first start is complete once it published the printer driver's file.
  const std::string qcpd = dir / "config/quillcast/QCPD.INI";
  QDeadlineTimer deadline(30000);
  while (!std::filesystem::exists(qcpd) && !deadline.hasExpired()) QThread::msleep(20);
  QVERIFY(std::filesystem::exists(qcpd));
  for (const char* name : {"QCOUT.DBF", "QCOUT.CDX", "QCREC.DBF", "QCREC.CDX", "SEND", "Receive", "Covers"})
    QVERIFY2(std::filesystem::exists(dir / name), name);
  // The phone book is made when it is first opened, not at start.
  QVERIFY(!std::filesystem::exists(dir / "QCPB.DBF"));

  QProcess second;
  second.setProcessEnvironment(env);
  second.start(QUILLCAST_EXE, {});
  QVERIFY(second.waitForFinished(30000));
  QCOMPARE(second.exitCode(), 0);
  QVERIFY(QString::fromUtf8(second.readAllStandardError()).contains("already running"));
  QCOMPARE(first.state(), QProcess::Running);
  first.terminate();
  QVERIFY(first.waitForFinished(30000));
}

QTEST_GUILESS_MAIN(GuiStart)
#include "gui_start_test.moc"

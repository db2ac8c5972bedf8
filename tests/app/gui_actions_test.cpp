// Printer-driver jobs, the list actions, the phone book and the index
// rebuild, driven through the main window's controls and its dialogs.
#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTest>

#include <filesystem>

#include "app/dialogs.h"
#include "app/fax_editors.h"
#include "app/grid_view.h"
#include "app/main_screen.h"
#include "app/phone_book.h"
#include "app/rebuild_indexes.h"
#include "app/table_model.h"
#include "gui_support.h"

using namespace qc;
using namespace qc::test;

namespace {

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

void SetEdit(QWidget* dialog, const char* name, const QString& text) {
  auto* edit = dialog->findChild<QLineEdit*>(name);
  QVERIFY2(edit, name);
  edit->setText(text);
}

}  // namespace

class GuiActions : public QObject {
  Q_OBJECT
 private slots:
  void twoJobsAtStartOneRefresh();
  void jobWithTwoLinesStaysAndIsReportedEachActivation();
  void hostileJobNamesTouchNothing();
  void laterActivationWithoutJobsChangesNothing();
  void deleteOffersThreeChoicesAndCoverOnlyLeavesTheBody();
  void deleteWithoutCoverAsksAndRemovesRecordAndFile();
  void cloneCutsTheSubjectAndCopiesFiles();
  void cloneOfQuickFaxWithoutItsDataFileHasNoCover();
  void forwardCopiesTheReceivedFax();
  void archiveAndUnarchive();
  void editOutgoingAndReceived();
  void phoneBookBrowseAndPick();
  void rebuildPacksAndKeepsTheOrder();
};

void GuiActions::twoJobsAtStartOneRefresh() {
  GuiFolder folder;
  ForceFolders(folder / "SEND");
  WriteFile(folder / "SEND/REPORT.APF", "apf");
  WriteFile(folder / "SEND/REPORT.QCJ", "555-1234\r\nAcme\r\nQuarterly figures\r\n");
  WriteFile(folder / "SEND/second.apf", "apf");
  WriteFile(folder / "SEND/second.qcj", "777\n" + Repeat('r', 40) + "\nSecond\n");
  TMainScreen w;
  w.Start();
  QCOMPARE(w.ListRefreshes(), 1);
  QCOMPARE(w.FaxGrid->model()->rowCount(), 2);
  QVERIFY(!Exists(folder / "SEND/REPORT.QCJ"));
  QVERIFY(!Exists(folder / "SEND/second.qcj"));
  QVERIFY(Exists(folder / "SEND/REPORT.APF"));
  w.close();
  const auto records = ReadRecords("QCOUT.DBF");
  QCOMPARE(records.size(), size_t(2));
  const Fields& report = records[0];
  QCOMPARE(report.at("FAXDOC"), std::string("REPORT.APF"));
  QCOMPARE(report.at("PHONE"), std::string("555-1234"));
  QCOMPARE(report.at("RECIPIENT"), std::string("Acme"));
  QCOMPARE(report.at("SUBJECT"), std::string("Quarterly figures"));
  QCOMPARE(report.at("FAXCOVER"), std::string(""));
  QCOMPARE(report.at("ARCHIVED"), std::string("F"));
  QCOMPARE(report.at("DATESENT"), std::string(""));
  QCOMPARE(records[1].at("RECIPIENT"), Repeat('r', 35));
  QCOMPARE(records[1].at("FAXDOC"), std::string("second.apf"));
}

void GuiActions::jobWithTwoLinesStaysAndIsReportedEachActivation() {
  GuiFolder folder;
  ForceFolders(folder / "SEND");
  WriteFile(folder / "SEND/BAD.APF", "apf");
  WriteFile(folder / "SEND/BAD.QCJ", "555-1234\r\nAcme\r\n");
  WriteFile(folder / "SEND/GOOD.APF", "apf");
  WriteFile(folder / "SEND/GOOD.QCJ", "1\r\n2\r\n3\r\n");
  ModalDriver driver;
  TMainScreen w;
  w.Start();
  QCOMPARE(driver.boxes.size(), size_t(1));
  QVERIFY(driver.boxes[0].text.contains("BAD.QCJ"));
  QVERIFY(Exists(folder / "SEND/BAD.QCJ") && Exists(folder / "SEND/BAD.APF"));
  // The bad job does not keep the good one out.
  QCOMPARE(w.FaxGrid->model()->rowCount(), 1);
  QVERIFY(!Exists(folder / "SEND/GOOD.QCJ"));
  w.FormActivate();
  QCOMPARE(driver.boxes.size(), size_t(2));
  QCOMPARE(w.FaxGrid->model()->rowCount(), 1);
  w.close();
}

void GuiActions::hostileJobNamesTouchNothing() {
  GuiFolder folder;
  ForceFolders(folder / "SEND");
  WriteFile(folder / "SEND/LONGREPORTNAME.APF", "apf");
  WriteFile(folder / "SEND/LONGREPORTNAME.qcj", "1\n2\n3\n");
  WriteFile(folder / "x.APF", "outside");
  WriteFile(folder / "x.QCJ", "1\n2\n3\n");
  ModalDriver driver;
  TMainScreen w;
  w.Start();
  QCOMPARE(w.FaxGrid->model()->rowCount(), 0);
  QVERIFY(Exists(folder / "SEND/LONGREPORTNAME.qcj"));
  QVERIFY(Exists(folder / "SEND/LONGREPORTNAME.APF"));
  QVERIFY(w.Status->isVisibleTo(&w));
  QVERIFY(w.Status->text().contains("LONGREPORTNAME.APF"));
  QCOMPARE(driver.boxes.size(), size_t(0));
  // Reported once: a later activation leaves the panel alone.
  w.Status->clear();
  w.FormActivate();
  QCOMPARE(w.Status->text(), QString());
  w.ProcessPDFaxFile(SendFolder() + "../x.APF");
  QVERIFY(Exists(folder / "x.QCJ"));
  QVERIFY(w.Status->text().contains("not in the send folder"));
  QCOMPARE(w.FaxGrid->model()->rowCount(), 0);
  w.close();
  QCOMPARE(ReadRecords("QCOUT.DBF").size(), size_t(0));
}

void GuiActions::laterActivationWithoutJobsChangesNothing() {
  GuiFolder folder;
  TMainScreen w;
  w.Start();
  QCOMPARE(w.ListRefreshes(), 0);
  w.FormActivate();
  QCOMPARE(w.ListRefreshes(), 0);
  WriteFile(folder / "SEND/LATE.APF", "apf");
  WriteFile(folder / "SEND/LATE.QCJ", "1\n2\n3\n");
  w.FormActivate();
  QCOMPARE(w.ListRefreshes(), 1);
  QCOMPARE(w.FaxGrid->model()->rowCount(), 1);
  // The list has a record now: the date order is back and the grid usable.
  QVERIFY(w.FaxGrid->isEnabled());
  QCOMPARE(w.OutTable().CurrentOrder(), w.OutTable().TagNumber("DATESENT"));
  QVERIFY(w.mnuDateSent->isChecked());
  w.close();
}

void GuiActions::deleteOffersThreeChoicesAndCoverOnlyLeavesTheBody() {
  GuiFolder folder;
  ForceFolders(folder / "SEND");
  WriteFile(folder / "SEND/BODY.APF", "b");
  WriteFile(folder / "SEND/COV00000.APF", "c");
  WriteFile(folder / "SEND/COV00000.fcd", "v");
  AddRecords(true, {{{"SUBJECT", "both"}, {"FAXDOC", "BODY.APF"}, {"FAXCOVER", "COV00000.APF"}}});
  TMainScreen w;
  w.Start();
  QVERIFY(!w.AddCoverButton->isEnabled());
  ModalDriver driver;
  QStringList items;
  bool bothPreselected = false;
  // Cancel first: nothing changes.
  driver.Then([&](QWidget* d) {
    for (auto* r : d->findChildren<QRadioButton*>()) items << r->text();
    bothPreselected = d->findChild<QRadioButton*>("WhatToDelete2")->isChecked();
    ClickLater(d, "CancelButton");
  });
  QTest::mouseClick(w.DeleteButton, Qt::LeftButton);
  QCOMPARE(driver.dialogs, QStringList{"TDeleteWhat"});
  QCOMPARE(items, (QStringList{"Delete Fax Cover", "Delete Fax Body", "Delete Both Fax Cover && Fax Body"}));
  QVERIFY(bothPreselected);
  QVERIFY(Exists(folder / "SEND/COV00000.APF"));
  driver.Then([&](QWidget* d) {
    d->findChild<QRadioButton*>("WhatToDelete0")->setChecked(true);
    ClickLater(d, "OkButton");
  });
  w.mnuDelete->trigger();
  QCOMPARE(QString::fromStdString(w.OutTable().AsText("FAXCOVER")), QString());
  QCOMPARE(QString::fromStdString(w.OutTable().AsText("FAXDOC")), QString("BODY.APF"));
  QVERIFY(!Exists(folder / "SEND/COV00000.APF"));
  QVERIFY(!Exists(folder / "SEND/COV00000.fcd"));
  QVERIFY(Exists(folder / "SEND/BODY.APF"));
  QVERIFY(w.AddCoverButton->isEnabled());
  QCOMPARE(w.FaxGrid->model()->rowCount(), 1);
  w.close();
}

void GuiActions::deleteWithoutCoverAsksAndRemovesRecordAndFile() {
  GuiFolder folder;
  ForceFolders(folder / "SEND");
  WriteFile(folder / "SEND/BODY.APF", "b");
  AddRecords(true, {{{"SUBJECT", "only body"}, {"FAXDOC", "BODY.APF"}}});
  AddRecords(false, {{{"FROM", "ACME"}, {"FAXFILE", "R1.APF"}, {"DATEREC", "20260101"}}});
  ForceFolders(folder / "Receive");
  WriteFile(folder / "Receive/R1.APF", "r");
  TMainScreen w;
  w.Start();
  ModalDriver driver;
  driver.Answer(QMessageBox::No);
  w.DeleteButton->click();
  QCOMPARE(driver.boxes.back().caption, QString("Delete"));
  QCOMPARE(driver.boxes.back().text, QString("Delete the current fax?\n(subject: \"only body\")"));
  QCOMPARE(driver.boxes.back().defaultButton, QMessageBox::No);
  QCOMPARE(w.FaxGrid->model()->rowCount(), 1);
  driver.Answer(QMessageBox::Yes);
  w.DeleteButton->click();
  QCOMPARE(w.FaxGrid->model()->rowCount(), 0);
  QVERIFY(!Exists(folder / "SEND/BODY.APF"));
  QVERIFY(!w.DeleteButton->isEnabled());
  // The received page, while a fax comes in: only a beep.
  w.TabSet1Click(1);
  w.ReceivingFax = true;
  const int beeps = BeepCount();
  w.DeleteButton->click();
  QCOMPARE(BeepCount(), beeps + 1);
  w.ReceivingFax = false;
  driver.Answer(QMessageBox::Yes);
  w.DeleteButton->click();
  QCOMPARE(driver.boxes.back().text, QString("Delete the current fax?\n(from: \"ACME\")"));
  QCOMPARE(w.RecFaxGrid->model()->rowCount(), 0);
  QVERIFY(!Exists(folder / "Receive/R1.APF"));
  w.close();
  // Marked deleted, still in the file until a rebuild.
  QCOMPARE(ReadRecords("QCOUT.DBF", true).size(), size_t(1));
  QCOMPARE(ReadRecords("QCOUT.DBF").size(), size_t(0));
}

void GuiActions::cloneCutsTheSubjectAndCopiesFiles() {
  GuiFolder folder;
  ForceFolders(folder / "SEND");
  WriteFile(folder / "SEND/BODY.APF", "body");
  WriteFile(folder / "SEND/COV00000.APF", "cover");
  WriteFile(folder / "SEND/COV00000.FCD", "values");
  const std::string subject = Repeat('s', 45);
  AddRecords(true, {{{"SUBJECT", subject}, {"FAXDOC", "BODY.APF"}, {"FAXCOVER", "COV00000.APF"},
                     {"RECIPIENT", "Bob"}, {"PHONE", "123"}, {"NOTES", "mine"}, {"LASTRESULT", "Sent"}}});
  TMainScreen w;
  w.Start();
  ModalDriver driver;
  driver.Answer(QMessageBox::Yes);
  QTest::mouseClick(w.CloneButton, Qt::LeftButton);
  QCOMPARE(driver.boxes.size(), size_t(1));
  QCOMPARE(driver.boxes[0].caption, QString("Delete"));
  QCOMPARE(driver.boxes[0].text, QString::fromStdString("Clone the current fax?\n(subject: \"" + subject + "\")"));
  QCOMPARE(driver.boxes[0].defaultButton, QMessageBox::No);
  QCOMPARE(w.FaxGrid->model()->rowCount(), 2);
  QCOMPARE(w.ListRefreshes(), 1);
  w.close();
  const auto records = ReadRecords("QCOUT.DBF");
  QCOMPARE(records.size(), size_t(2));
  const Fields& clone = records[1];
  QCOMPARE(clone.at("SUBJECT"), "[clone]" + Repeat('s', 43));
  QCOMPARE(clone.at("FAXDOC"), std::string("FAX00000.APF"));
  QCOMPARE(clone.at("FAXCOVER"), std::string("COV00001.APF"));
  QCOMPARE(clone.at("RECIPIENT"), std::string("Bob"));
  QCOMPARE(clone.at("PHONE"), std::string("123"));
  QCOMPARE(clone.at("NOTES"), std::string(""));
  QCOMPARE(clone.at("LASTRESULT"), std::string(""));
  QCOMPARE(ReadFile(folder / "SEND/FAX00000.APF"), std::string("body"));
  QCOMPARE(ReadFile(folder / "SEND/COV00001.APF"), std::string("cover"));
  QCOMPARE(ReadFile(folder / "SEND/COV00001.fcd"), std::string("values"));
}

void GuiActions::cloneOfQuickFaxWithoutItsDataFileHasNoCover() {
  GuiFolder folder;
  ForceFolders(folder / "SEND");
  WriteFile(folder / "SEND/COV00000.APF", "cover");
  AddRecords(true, {{{"SUBJECT", "quick"}, {"FAXCOVER", "COV00000.APF"}}});
  TMainScreen w;
  w.Start();
  ModalDriver driver;
  driver.Answer(QMessageBox::Yes);
  w.mnuClone->trigger();
  w.close();
  const auto records = ReadRecords("QCOUT.DBF");
  QCOMPARE(records.size(), size_t(2));
  QCOMPARE(records[1].at("FAXCOVER"), std::string(""));
  QCOMPARE(records[1].at("FAXDOC"), std::string(""));
  QCOMPARE(records[1].at("SUBJECT"), std::string("[clone]quick"));
  QVERIFY(!Exists(folder / "SEND/COV00001.APF"));
}

void GuiActions::forwardCopiesTheReceivedFax() {
  GuiFolder folder;
  ForceFolders(folder / "Receive");
  WriteFile(folder / "Receive/FAX00007.APF", "received pages");
  AddRecords(false, {{{"FROM", "ACME"}, {"FAXFILE", "FAX00007.APF"}, {"DATEREC", "20260101"}, {"PAGES", "3"}}});
  TMainScreen w;
  w.Start();
  QTest::keyClick(w.FaxGrid, Qt::Key_Tab, Qt::ControlModifier);
  QVERIFY(w.ForwardButton->isEnabled());
  ModalDriver driver;
  QString caption;
  driver.Answer(QMessageBox::Yes);
  driver.Then([&](QWidget* d) {
    caption = d->windowTitle();
    SetEdit(d, "Recipient", "Carol");
    SetEdit(d, "FaxNumber", "555-9999");
    SetEdit(d, "Subject", "Fwd: offer");
    SetEdit(d, "Notes", "n");
    SetEdit(d, "Codes", "c");
    ClickLater(d, "OkButton");
  });
  QTest::mouseClick(w.ForwardButton, Qt::LeftButton);
  QCOMPARE(driver.boxes[0].text, QString("Forward the current fax to be sent?\n(from: ACME)"));
  QCOMPARE(caption, QString("Forward fax from: ACME"));
  QCOMPARE(w.NoteBook->currentIndex(), 0);
  QCOMPARE(w.TabSet1->currentIndex(), 0);
  QCOMPARE(w.FaxGrid->model()->rowCount(), 1);
  QCOMPARE(ReadFile(folder / "SEND/FWD00000.APF"), std::string("received pages"));
  QVERIFY(Exists(folder / "Receive/FAX00007.APF"));
  w.close();
  const auto records = ReadRecords("QCOUT.DBF");
  QCOMPARE(records.size(), size_t(1));
  QCOMPARE(records[0].at("FAXDOC"), std::string("FWD00000.APF"));
  QCOMPARE(records[0].at("RECIPIENT"), std::string("Carol"));
  QCOMPARE(records[0].at("PHONE"), std::string("555-9999"));
  QCOMPARE(records[0].at("SUBJECT"), std::string("Fwd: offer"));
  QCOMPARE(records[0].at("CODES"), std::string("c"));
  QCOMPARE(ReadRecords("QCREC.DBF").size(), size_t(1));
}

void GuiActions::archiveAndUnarchive() {
  GuiFolder folder;
  AddRecords(true, {{{"SUBJECT", "report"}, {"FAXDOC", "A.APF"}}});
  AddRecords(false, {{{"FROM", "ACME"}, {"FAXFILE", "R.APF"}, {"DATEREC", "20260101"}}});
  TMainScreen w;
  w.Start();
  ModalDriver driver;
  driver.Answer(QMessageBox::Yes);
  w.Archivebutton->click();
  QCOMPARE(driver.boxes[0].caption, QString("Archive"));
  QCOMPARE(driver.boxes[0].text, QString("Archive the current fax?\n(subject: report)"));
  QCOMPARE(driver.boxes[0].defaultButton, QMessageBox::No);
  QCOMPARE(w.FaxGrid->model()->rowCount(), 0);
  QVERIFY(!w.Archivebutton->isEnabled());
  w.mnuShowArchives->trigger();
  QCOMPARE(w.FaxGrid->model()->rowCount(), 1);
  QCOMPARE(w.Archivebutton->text(), QString("Un&Archive"));
  driver.Answer(QMessageBox::Yes);
  w.mnuArchive->trigger();
  QCOMPARE(driver.boxes[1].text, QString("UnArchive the current fax?\n(subject: report)"));
  QCOMPARE(w.Archivebutton->text(), QString("&Archive"));
  // Received page: beeps while a fax comes in.
  w.TabSet1Click(1);
  w.ReceivingFax = true;
  const int beeps = BeepCount();
  w.Archivebutton->click();
  QCOMPARE(BeepCount(), beeps + 1);
  QCOMPARE(driver.boxes.size(), size_t(2));
  w.ReceivingFax = false;
  driver.Answer(QMessageBox::Yes);
  w.Archivebutton->click();
  QCOMPARE(driver.boxes[2].text, QString("Archive the current fax?\n(from: ACME)"));
  QCOMPARE(w.Archivebutton->text(), QString("Un&Archive"));
  w.close();
  QCOMPARE(ReadRecords("QCOUT.DBF")[0].at("ARCHIVED"), std::string("F"));
  QCOMPARE(ReadRecords("QCREC.DBF")[0].at("ARCHIVED"), std::string("T"));
}

void GuiActions::editOutgoingAndReceived() {
  GuiFolder folder;
  AddRecords(true, {{{"SUBJECT", "old"}, {"RECIPIENT", "Ann"}, {"PHONE", "1"}, {"FAXDOC", "A.APF"}}});
  AddRecords(false, {{{"FROM", "ACME"}, {"FAXFILE", "R.APF"}, {"DATEREC", "20260101"}, {"NOTES", "n0"}}});
  TMainScreen w;
  w.Start();
  ModalDriver driver;
  QString recipient;
  driver.Then([&](QWidget* d) {
    recipient = d->findChild<QLineEdit*>("Recipient")->text();
    QCOMPARE(d->windowTitle(), QString("Fax Information Editor"));
    SetEdit(d, "Subject", QString::fromStdString(Repeat('x', 60)));
    SetEdit(d, "Codes", "K1");
    ClickLater(d, "OkButton");
  });
  // A double click on the outgoing grid edits.
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  const QModelIndex cell = w.FaxGrid->model()->index(0, 0);
  const QPoint at = w.FaxGrid->visualRect(cell).center();
  QTest::mousePress(w.FaxGrid->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(w.FaxGrid->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(w.FaxGrid->viewport(), Qt::LeftButton, {}, at);
  QCOMPARE(driver.dialogs, QStringList{"TFaxEditor"});
  QCOMPARE(recipient, QString("Ann"));
  QCOMPARE(QString::fromStdString(w.OutTable().AsText("SUBJECT")), QString::fromStdString(Repeat('x', 50)));
  QCOMPARE(QString::fromStdString(w.OutTable().AsText("CODES")), QString("K1"));
  w.TabSet1Click(1);
  QString descript;
  driver.Then([&](QWidget* d) {
    QCOMPARE(d->windowTitle(), QString("Received Fax Notes"));
    descript = d->findChild<QLabel*>("Descript")->text();
    SetEdit(d, "Notes", "call back");
    ClickLater(d, "OkButton");
  });
  w.EditButton->click();
  QCOMPARE(descript, QString("From: ACME"));
  QCOMPARE(QString::fromStdString(w.RecTable().AsText("NOTES")), QString("call back"));
  w.close();
  QCOMPARE(ReadRecords("QCREC.DBF")[0].at("NOTES"), std::string("call back"));
}

void GuiActions::phoneBookBrowseAndPick() {
  GuiFolder folder;
  TMainScreen w;
  w.Start();
  ModalDriver driver;
  bool editEnabled = true, deleteEnabled = true, closeVisible = false, acceptVisible = true;
  QPointer<QWidget> browser;
  // Browse: the first opening creates the table; an empty list cannot be edited.
  driver.Then([&](QWidget* d) {
    browser = d;
    editEnabled = d->findChild<QPushButton*>("Modifybutton")->isEnabled();
    deleteEnabled = d->findChild<QPushButton*>("Deletebutton")->isEnabled();
    closeVisible = d->findChild<QPushButton*>("Closebutton")->isVisible();
    acceptVisible = d->findChild<QPushButton*>("OKButton")->isVisible();
    ClickLater(d, "Addbutton");
  });
  driver.Then([&](QWidget* e) {
    QCOMPARE(e->windowTitle(), QString("Phone Book Editor"));
    SetEdit(e, "Name", "adam");
    SetEdit(e, "Number", "111");
    ClickLater(e, "OkButton");
    QTimer::singleShot(100, browser, [&] { ClickLater(browser, "Closebutton"); });
  });
  w.mnuPhoneBook->trigger();
  QVERIFY(Exists(folder / "QCPB.DBF") && Exists(folder / "QCPB.CDX"));
  QVERIFY(!editEnabled && !deleteEnabled && closeVisible && !acceptVisible);
  QCOMPARE(ReadRecords("QCPB.DBF").size(), size_t(1));

  // Pick from the fax information editor: Zoe sorts before adam.
  w.OutTable().Append();
  w.OutTable().SetText("SUBJECT", "s");
  w.OutTable().SetText("FAXDOC", "A.APF");
  QCOMPARE(w.OutTable().Post(), 0);
  w.FaxTableCloseAndOpen();
  w.SetButtons();
  {
    TTable pb;
    QVERIFY(OpenPhoneBookDBF(pb, ProgramFolder(), false));
    pb.Append();
    pb.SetText("NAME", "Zoe");
    pb.SetText("PHONE", "");
    QVERIFY(pb.Post() == 0);
    pb.Close();
  }
  QString firstRow, pickedName, pickedNumber;
  QPointer<QWidget> editor;
  driver.Then([&](QWidget* d) {
    editor = d;
    SetEdit(d, "FaxNumber", "to be replaced");
    ClickLater(d, "AddressButton");
  });
  driver.Then([&](QWidget* book) {
    auto* grid = book->findChild<DataGrid*>("PhoneGrid");
    firstRow = grid->model()->index(0, 0).data().toString();
    QVERIFY(book->findChild<QPushButton*>("OKButton")->isEnabled());
    QVERIFY(!book->findChild<QPushButton*>("Closebutton")->isVisible());
    ClickLater(book, "OKButton");
    QTimer::singleShot(100, editor, [&] {
      pickedName = editor->findChild<QLineEdit*>("Recipient")->text();
      pickedNumber = editor->findChild<QLineEdit*>("FaxNumber")->text();
      ClickLater(editor, "CancelButton");
    });
  });
  w.EditButton->click();
  QCOMPARE(firstRow, QString("Zoe"));
  QCOMPARE(pickedName, QString("Zoe"));
  QCOMPARE(pickedNumber, QString(""));

  // Deleting an entry asks first.
  driver.Then([&](QWidget* d) {
    browser = d;
    ClickLater(d, "Deletebutton");
  });
  driver.Then([&](QWidget* box) {
    QMetaObject::invokeMethod(qobject_cast<QMessageBox*>(box)->button(QMessageBox::Yes), "click",
                              Qt::QueuedConnection);
    QTimer::singleShot(100, browser, [&] { ClickLater(browser, "Closebutton"); });
  });
  w.mnuPhoneBook->trigger();
  QCOMPARE(driver.boxes.size(), size_t(1));
  QCOMPARE(driver.boxes[0].text, QString("Delete the current phone book entry?:\nZoe"));
  QCOMPARE(driver.boxes[0].defaultButton, QMessageBox::No);
  QCOMPARE(ReadRecords("QCPB.DBF").size(), size_t(1));
  w.close();
}

void GuiActions::rebuildPacksAndKeepsTheOrder() {
  GuiFolder folder;
  std::vector<Fields> records;
  for (int i = 0; i < 6; ++i) records.push_back({{"SUBJECT", "fax " + std::to_string(i)}, {"FAXDOC", "A.APF"}});
  records.push_back({{"SUBJECT", "archived"}, {"ARCHIVED", "T"}});
  AddRecords(true, records);
  TMainScreen w;
  w.Start();
  ModalDriver driver;
  for (int i = 0; i < 3; ++i) {
    driver.Answer(QMessageBox::Yes);
    w.DeleteButton->click();
  }
  QCOMPARE(w.FaxGrid->model()->rowCount(), 3);
  w.mnuSubject->trigger();
  QVERIFY(!Exists(folder / "QCPB.DBF"));
  QStringList steps;
  int gaugeMax = -1;
  driver.Then([&](QWidget* d) {
    auto* rebuild = qobject_cast<TRebuildInd*>(d);
    QVERIFY(rebuild);
    QCOMPARE(rebuild->windowTitle(), QString("Rebuild Indexes"));
    gaugeMax = rebuild->Gauge1->maximum();
    // It closes itself; record what it showed once it is done.
    QObject::connect(rebuild, &QDialog::finished, rebuild, [&, rebuild] {
      for (const auto& s : rebuild->StepsShown()) steps << QString::fromStdString(s);
    });
  });
  w.mnuRebuildIndexes->trigger();
  QCOMPARE(gaugeMax, 100);
  QCOMPARE(steps, (QStringList{"Removing FAX file records marked for deletion", "Rebuilding FAX file indexes",
                               "Removing RECEIVE file records marked for deletion",
                               "Rebuilding RECEIVE file indexes", "Removing PHONE file records marked for deletion",
                               "Rebuilding PHONE file indexes"}));
  QVERIFY(Exists(folder / "QCPB.DBF") && Exists(folder / "QCPB.CDX"));
  QCOMPARE(w.OutTable().CurrentOrder(), w.OutTable().TagNumber("SUBJECT"));
  QCOMPARE(w.OutTable().RecordCount(), 4u);
  // The archived fax stays hidden.
  QCOMPARE(w.FaxGrid->model()->rowCount(), 3);
  w.mnuShowArchives->trigger();
  QCOMPARE(static_cast<std::uint32_t>(w.OutTable().QueryRecordCount()), w.OutTable().RecordCount());
  w.close();
  QCOMPARE(ReadRecords("QCOUT.DBF", true).size(), size_t(4));
}

QTEST_MAIN(GuiActions)
#include "gui_actions_test.moc"

// The main window driven through its controls on a data folder of its own:
// first start, enable rules, tabs and keys, sorting, archived rows, the grid
// layout files, hints and closing.
#include <QHeaderView>
#include <QMenu>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTest>

#include <filesystem>

#include "app/button_rules.h"
#include "app/dialogs.h"
#include "app/grid_view.h"
#include "app/ini_file.h"
#include "app/main_screen.h"
#include "app/settings.h"
#include "app/table_model.h"
#include "gui_support.h"

using namespace qc;
using namespace qc::test;

namespace {

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// What a test expects of the bar and the grids.
struct Expect {
  bool clone, cloneVisible, forward, forwardVisible, send, newFax, addCover, edit, del, view, archive, faxGrid,
      recFaxGrid, fileMenu;
};

void CheckControls(TMainScreen& w, const Expect& e, const char* what) {
  const std::string where = std::string(" (") + what + ")";
  QVERIFY2(w.OrderButton->isEnabled(), where.c_str());
  QVERIFY2(w.ReceiveButton->isEnabled() && w.Exitbutton->isEnabled(), where.c_str());
  QCOMPARE(w.CloneButton->isEnabled(), e.clone);
  QCOMPARE(w.CloneButton->isVisibleTo(&w), e.cloneVisible);
  QCOMPARE(w.ForwardButton->isEnabled(), e.forward);
  QCOMPARE(w.ForwardButton->isVisibleTo(&w), e.forwardVisible);
  QCOMPARE(w.SendButton->isEnabled(), e.send);
  QCOMPARE(w.Newbutton->isEnabled(), e.newFax);
  QCOMPARE(w.AddCoverButton->isEnabled(), e.addCover);
  QCOMPARE(w.EditButton->isEnabled(), e.edit);
  QCOMPARE(w.DeleteButton->isEnabled(), e.del);
  QCOMPARE(w.ButtonviewPrint->isEnabled(), e.view);
  QCOMPARE(w.Archivebutton->isEnabled(), e.archive);
  QCOMPARE(w.FaxGrid->isEnabled(), e.faxGrid);
  QCOMPARE(w.RecFaxGrid->isEnabled(), e.recFaxGrid);
  QCOMPARE(w.mnuFile->isEnabled(), e.fileMenu);
  // The menu items follow their buttons.
  QCOMPARE(w.mnuClone->isEnabled(), e.clone);
  QCOMPARE(w.mnuForward->isEnabled(), e.forward);
  QCOMPARE(w.mnuSendFax->isEnabled(), e.send);
  QCOMPARE(w.mnuNew->isEnabled(), e.newFax);
  QCOMPARE(w.mnuAddCover->isEnabled(), e.addCover);
  QCOMPARE(w.mnuEdit->isEnabled(), e.edit);
  QCOMPARE(w.mnuDelete->isEnabled(), e.del);
  QCOMPARE(w.mnuViewPrint->isEnabled(), e.view);
  QCOMPARE(w.mnuArchive->isEnabled(), e.archive);
  QCOMPARE(w.mnuRebuildIndexes->isEnabled(), e.fileMenu);
  QCOMPARE(w.mnuPreferences->isEnabled(), e.fileMenu);
}

Fields Out(const std::string& subject, const std::string& date = "", const std::string& time = "",
           const std::string& cover = "", bool archived = false) {
  Fields f{{"SUBJECT", subject}, {"RECIPIENT", "R " + subject}, {"PHONE", "555-0100"}, {"FAXDOC", "BODY.APF"}};
  if (!date.empty()) f["DATESENT"] = date;
  if (!time.empty()) f["TIMESENT"] = time;
  if (!cover.empty()) f["FAXCOVER"] = cover;
  if (archived) f["ARCHIVED"] = "T";
  return f;
}

Fields Rec(const std::string& from, const std::string& date, const std::string& time, bool archived = false) {
  Fields f{{"FROM", from}, {"DATEREC", date}, {"TIMEREC", time}, {"PAGES", "2"}, {"FAXFILE", "FAX00001.APF"}};
  if (archived) f["ARCHIVED"] = "T";
  return f;
}

std::vector<QString> Column(DataGrid* grid, int column) {
  std::vector<QString> values;
  for (int r = 0; r < grid->model()->rowCount(); ++r)
    values.push_back(grid->model()->index(r, column).data().toString());
  return values;
}

}  // namespace

class GuiMainWindow : public QObject {
  Q_OBJECT
 private slots:
  void firstStartInAnEmptyFolder();
  void enableTablesOfBothPages();
  void ctrlTabSwitchesPagesAndCtrlShiftTabDoesNot();
  void sortMenusSelectTheirOrders();
  void fromOrderOnlyBeepsWhileAFaxComesIn();
  void archivedRowsAreRedAndHiddenAgain();
  void gridLayoutFilesAreReadAndWritten();
  void showHintsIsSaved();
  void closingWhileReceivingAsksFirst();
  void aboutAndHelp();
  void aTableThatCannotBeOpenedClosesTheWindow();
  void shortcutsRunTheirActions();
};

void GuiMainWindow::aTableThatCannotBeOpenedClosesTheWindow() {
  GuiFolder folder;
  WriteFile(folder / "QCOUT.DBF", "this is not a table");
  ModalDriver driver;
  TMainScreen w;
  QVERIFY(!w.TablesOpen());
  QCOMPARE(driver.boxes.size(), size_t(1));
  QCOMPARE(driver.boxes[0].caption, QString("Information"));
  QCOMPARE(driver.boxes[0].text, QString("Unable to open/create the FAX datafile - closing program"));
  w.Start();
  QVERIFY(w.isVisible());
  // The close request waits in the queue until creation is over.
  QTRY_VERIFY(!w.isVisible());
  QCOMPARE(ReadFile(folder / "QCOUT.DBF"), std::string("this is not a table"));
}

void GuiMainWindow::shortcutsRunTheirActions() {
  GuiFolder folder;
  AddRecords(true, {Out("one", "20260101", "10:00")});
  TMainScreen w;
  w.Start();
  w.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  w.FaxGrid->setFocus();
  ModalDriver driver;
  driver.Answer(QMessageBox::No);
  QTest::keyClick(w.FaxGrid, Qt::Key_C, Qt::ControlModifier);
  QCOMPARE(driver.boxes.size(), size_t(1));
  QVERIFY(driver.boxes[0].text.startsWith("Clone the current fax?"));
  // The box took the activation with it.
  w.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  driver.Answer(QMessageBox::No);
  QTest::keyClick(w.FaxGrid, Qt::Key_D, Qt::ControlModifier);
  QCOMPARE(driver.boxes.size(), size_t(2));
  QVERIFY(driver.boxes[1].text.startsWith("Delete the current fax?"));
  QCOMPARE(w.mnuSendFax->shortcut(), QKeySequence("Ctrl+S"));
  QCOMPARE(w.mnuNew->shortcut(), QKeySequence("Ctrl+N"));
  QCOMPARE(w.mnuExit->shortcut(), QKeySequence("Ctrl+X"));
  QCOMPARE(w.mnuArchive->shortcut(), QKeySequence("Ctrl+A"));
  w.close();
}

void GuiMainWindow::firstStartInAnEmptyFolder() {
  GuiFolder folder;
  TMainScreen w;
  w.Start();
  QVERIFY(w.TablesOpen());
  for (const char* name : {"QCOUT.DBF", "QCOUT.CDX", "QCREC.DBF", "QCREC.CDX", "SEND", "Receive"})
    QVERIFY2(Exists(folder / name), name);
  QVERIFY(w.PromptForPreferences);
  QCOMPARE(Settings.Modem.ComPort, 0);
  QCOMPARE(w.FaxGrid->model()->rowCount(), 0);
  QCOMPARE(w.windowTitle(), QString("Quillcast"));
  // Only New, Sort, Receive and Exit of the bar can be used.
  CheckControls(w, {false, true, false, false, false, true, false, false, false, false, false, false, false, true},
                "empty lists");
  QVERIFY(Exists(folder / "config/quillcast/QCPD.INI"));
  IniFile qcpd(folder / "config/quillcast/QCPD.INI");
  QCOMPARE(qcpd.ReadString("Location", "QCOutPath", ""), SendFolder());
  QVERIFY(!qcpd.ReadString("Location", "QCExecutable", "").empty());
  QVERIFY(!w.FirstActivation);
  w.close();
  // The outgoing layout is stored on closing.
  QVERIFY(Exists(folder / "Out.gco"));
  QVERIFY(Exists(folder / "Out.gcs"));
}

void GuiMainWindow::enableTablesOfBothPages() {
  GuiFolder folder;
  AddRecords(true, {Out("with cover", "20260101", "10:00", "COV00000.APF"), Out("plain", "20260102", "11:00")});
  TMainScreen w;
  w.Start();
  // The newest sent first: "plain", which has no cover.
  QCOMPARE(QString::fromStdString(w.OutTable().AsText("SUBJECT")), QString("plain"));
  CheckControls(w, {true, true, false, false, true, true, true, true, true, true, true, true, false, true},
                "outgoing, records");
  w.InReceiveMode = true;
  w.SetButtons();
  CheckControls(w, {true, true, false, false, false, true, false, true, true, true, true, true, false, false},
                "outgoing, receive mode");
  // Moving through the list may still enable Add Cover in receive mode.
  w.FaxGrid->setCurrentIndex(w.FaxGrid->model()->index(1, 0));
  QCOMPARE(QString::fromStdString(w.OutTable().AsText("SUBJECT")), QString("with cover"));
  QVERIFY(!w.AddCoverButton->isEnabled());
  w.FaxGrid->setCurrentIndex(w.FaxGrid->model()->index(0, 0));
  QVERIFY(w.AddCoverButton->isEnabled());
  w.InReceiveMode = false;

  w.TabSet1Click(1);
  QCOMPARE(w.OrderButton->menu(), w.RecSortMenu);
  CheckControls(w, {false, false, false, true, false, false, false, false, false, false, false, true, false, true},
                "received, empty");
  w.close();

  AddRecords(false, {Rec("ACME", "20260103", "09:00")});
  TMainScreen w2;
  w2.Start();
  w2.TabSet1Click(1);
  CheckControls(w2, {false, false, true, true, false, false, false, true, true, true, true, true, true, true},
                "received, records");
  w2.InReceiveMode = true;
  w2.SetButtons();
  CheckControls(w2, {false, false, true, true, false, false, false, true, true, true, true, true, true, false},
                "received, receive mode");
  w2.InReceiveMode = false;
  w2.close();
}

void GuiMainWindow::ctrlTabSwitchesPagesAndCtrlShiftTabDoesNot() {
  GuiFolder folder;
  TMainScreen w;
  w.Start();
  QCOMPARE(w.NoteBook->currentIndex(), 0);
  QTest::keyClick(w.FaxGrid, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  QCOMPARE(w.NoteBook->currentIndex(), 0);
  QTest::keyClick(w.FaxGrid, Qt::Key_Tab, Qt::ControlModifier);
  QCOMPARE(w.NoteBook->currentIndex(), 1);
  QCOMPARE(w.TabSet1->currentIndex(), 1);
  QVERIFY(w.ForwardButton->isVisibleTo(&w));
  QTest::keyClick(w.RecFaxGrid, Qt::Key_Tab, Qt::ControlModifier);
  QCOMPARE(w.NoteBook->currentIndex(), 0);
  QCOMPARE(w.TabSet1->currentIndex(), 0);
  QVERIFY(w.CloneButton->isVisibleTo(&w));
  // Clicking the tab does the same.
  w.TabSet1->setCurrentIndex(1);
  QCOMPARE(w.NoteBook->currentIndex(), 1);
  w.close();
}

void GuiMainWindow::sortMenusSelectTheirOrders() {
  GuiFolder folder;
  AddRecords(true, {Out("beta", "20260101", "10:00"), Out("Alpha", "20260103", "10:00"), Out("gamma", "20260102")});
  AddRecords(false, {Rec("BRAVO", "20260101", "10:00"), Rec("ALPHA", "20260102", "10:00"), Rec("CHARLIE", "20260103", "10:00")});
  TMainScreen w;
  w.Start();
  const int subject = 4;  // Date Sent, Time Sent, Fax#, Recipient, Subject ...
  QCOMPARE(Column(w.FaxGrid, subject), (std::vector<QString>{"Alpha", "gamma", "beta"}));
  QVERIFY(w.mnuDateSent->isChecked());
  w.mnuSubject->trigger();
  QCOMPARE(Column(w.FaxGrid, subject), (std::vector<QString>{"Alpha", "beta", "gamma"}));
  QVERIFY(w.mnuSubject->isChecked() && !w.mnuDateSent->isChecked());
  w.mnuRecipient->trigger();
  QVERIFY(w.mnuRecipient->isChecked() && !w.mnuSubject->isChecked());
  w.mnuDateSent->trigger();
  QCOMPARE(Column(w.FaxGrid, subject), (std::vector<QString>{"Alpha", "gamma", "beta"}));

  w.TabSet1Click(1);
  QCOMPARE(Column(w.RecFaxGrid, 2), (std::vector<QString>{"CHARLIE", "ALPHA", "BRAVO"}));
  w.mnuSortFrom->trigger();
  // From runs Z to A.
  QCOMPARE(Column(w.RecFaxGrid, 2), (std::vector<QString>{"CHARLIE", "BRAVO", "ALPHA"}));
  QVERIFY(w.mnuSortFrom->isChecked() && !w.mnuSortDateReceived->isChecked());
  w.close();
}

void GuiMainWindow::fromOrderOnlyBeepsWhileAFaxComesIn() {
  GuiFolder folder;
  AddRecords(false, {Rec("BRAVO", "20260101", "10:00"), Rec("ALPHA", "20260102", "10:00")});
  TMainScreen w;
  w.Start();
  w.TabSet1Click(1);
  const int order = w.RecTable().CurrentOrder();
  const int beeps = BeepCount();
  w.ReceivingFax = true;
  w.mnuSortFrom->trigger();
  QCOMPARE(BeepCount(), beeps + 1);
  QCOMPARE(w.RecTable().CurrentOrder(), order);
  QVERIFY(w.mnuSortDateReceived->isChecked());
  QVERIFY(!w.mnuSortFrom->isChecked());
  w.ReceivingFax = false;
  w.close();
}

void GuiMainWindow::archivedRowsAreRedAndHiddenAgain() {
  GuiFolder folder;
  AddRecords(true, {Out("kept", "20260102", "10:00"), Out("old", "20260101", "10:00", "", true)});
  TMainScreen w;
  w.Start();
  QCOMPARE(w.FaxGrid->model()->rowCount(), 1);
  QCOMPARE(w.Archivebutton->text(), QString("&Archive"));
  w.mnuShowArchives->trigger();
  QVERIFY(w.mnuShowArchives->isChecked());
  QCOMPARE(w.FaxGrid->model()->rowCount(), 2);
  const QModelIndex archived = w.FaxGrid->model()->index(1, 4);
  QCOMPARE(archived.data().toString(), QString("old"));
  QVERIFY(archived.data(TableModel::ArchivedRole).toBool());
  QVERIFY(!w.FaxGrid->model()->index(0, 4).data(TableModel::ArchivedRole).toBool());
  // Red in the list, white when selected; other rows keep the grid's colours.
  auto* delegate = qobject_cast<ArchivedRowDelegate*>(w.FaxGrid->itemDelegate());
  QVERIFY(delegate);
  QStyleOptionViewItem option;
  option.initFrom(w.FaxGrid);
  const QColor normalText = option.palette.color(QPalette::Text);
  delegate->initStyleOption(&option, archived);
  QCOMPARE(option.palette.color(QPalette::Text), QColor(Qt::red));
  QStyleOptionViewItem selected;
  selected.initFrom(w.FaxGrid);
  selected.state |= QStyle::State_Selected;
  delegate->initStyleOption(&selected, archived);
  QCOMPARE(selected.palette.color(QPalette::HighlightedText), QColor(Qt::white));
  QStyleOptionViewItem plain;
  plain.initFrom(w.FaxGrid);
  delegate->initStyleOption(&plain, w.FaxGrid->model()->index(0, 4));
  QCOMPARE(plain.palette.color(QPalette::Text), normalText);
  // Selecting the archived fax offers to unarchive it.
  w.FaxGrid->setCurrentIndex(archived);
  QCOMPARE(w.Archivebutton->text(), QString("Un&Archive"));
  QCOMPARE(w.mnuArchive->text(), QString("Un&Archive"));
  w.mnuShowArchives->trigger();
  QVERIFY(!w.mnuShowArchives->isChecked());
  QCOMPARE(ArchiveFilter, std::string(".not. ARCHIVED"));
  QCOMPARE(w.FaxGrid->model()->rowCount(), 1);
  w.close();
}

void GuiMainWindow::gridLayoutFilesAreReadAndWritten() {
  GuiFolder folder;
  AddRecords(true, {Out("one", "20260101", "10:00")});
  // A field that no longer exists is skipped; the others move.
  WriteFile(folder / "Out.gco", "NOTES\r\nNOSUCHFIELD\r\nSUBJECT\r\n");
  WriteFile(folder / "Out.gcs", "20\r\n111\r\nwide\r\n133\r\n");
  TMainScreen w;
  w.Start();
  TableModel* model = w.FaxGrid->Model();
  const std::vector<std::string> order = model->FieldOrder();
  QCOMPARE(order.size(), size_t(11));
  QCOMPARE(order[0], std::string("NOTES"));
  QCOMPARE(order[2], std::string("SUBJECT"));
  QCOMPARE(model->ColumnField(0), std::string("NOTES"));
  QCOMPARE(model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Notes"));
  QCOMPARE(model->index(0, 0).data().toString(), QString(""));
  QCOMPARE(w.FaxGrid->verticalHeader()->width(), 20);
  QCOMPARE(w.FaxGrid->columnWidth(0), 111);
  QCOMPARE(w.FaxGrid->columnWidth(2), 133);
  w.FaxGrid->setColumnWidth(1, 77);
  w.close();
  std::vector<std::string> lines = SplitLinesOf(ReadFile(folder / "Out.gco"));
  QCOMPARE(lines.size(), size_t(11));
  QCOMPARE(lines[0], std::string("NOTES"));
  lines = SplitLinesOf(ReadFile(folder / "Out.gcs"));
  QCOMPARE(lines.size(), size_t(9));  // the row indicator and eight columns
  QCOMPARE(lines[0], std::string("20"));
  QCOMPARE(lines[1], std::string("111"));
  QCOMPARE(lines[2], std::string("77"));
}

void GuiMainWindow::showHintsIsSaved() {
  GuiFolder folder;
  TMainScreen w;
  w.Start();
  QVERIFY(w.mnuShowHint->isChecked());
  QVERIFY(HintsEnabled());
  w.mnuShowHint->trigger();
  QVERIFY(!HintsEnabled());
  QCOMPARE(IniFile(folder / "QC.INI").ReadInteger("Hints", "On", 1), 0);
  w.mnuShowHint->trigger();
  QCOMPARE(IniFile(folder / "QC.INI").ReadInteger("Hints", "On", 0), 1);
  w.close();
}

void GuiMainWindow::closingWhileReceivingAsksFirst() {
  GuiFolder folder;
  TMainScreen w;
  w.Start();
  ModalDriver driver;
  w.ReceivingFax = true;
  driver.Answer(QMessageBox::No);
  QVERIFY(!w.close());
  QCOMPARE(driver.boxes.size(), size_t(1));
  QCOMPARE(driver.boxes[0].caption, QString("ALERT!"));
  QCOMPARE(driver.boxes[0].text, QString("You are recieving a fax. Close the program?"));
  QVERIFY(w.OutTable().Active());
  w.InReceiveMode = true;
  driver.Answer(QMessageBox::Yes);
  QVERIFY(w.close());
  QVERIFY(!w.InReceiveMode);
  QCOMPARE(w.ReceiveButton->text(), QString("Receive"));
  QVERIFY(!w.OutTable().Active());
  // The placement is kept for the next start.
  QVERIFY(IniFile(folder / "QC.INI").SectionExists("TMainScreen_Placement"));
}

void GuiMainWindow::aboutAndHelp() {
  GuiFolder folder;
  TMainScreen w;
  w.Start();
  ModalDriver driver;
  QStringList texts;
  driver.Then([&](QWidget* about) {
    texts << about->windowTitle();
    for (auto* label : about->findChildren<QLabel*>()) texts << label->text();
    ClickLater(about, "OkButton");
  });
  w.mnuAbout->trigger();
  QVERIFY(texts.contains("About Quillcast"));
  QVERIFY(texts.contains("Version 2.7m"));
  QVERIFY(texts.contains("64-bit version for Linux"));
  for (int topic : {1009, 1015, 1016, 1019, 1020, 1021, 1022, 1027, 1029, 1030, 1031, 1032})
    QVERIFY2(!HelpPage(topic).isEmpty(), std::to_string(topic).c_str());
  w.mnuTroubleshooting->trigger();
  QVERIFY(HelpWindow() && HelpWindow()->isVisible());
  QCOMPARE(HelpWindow()->property("topic").toInt(), 1032);
  w.mnuContents->trigger();
  QCOMPARE(HelpWindow()->property("topic").toInt(), 1009);
  HelpWindow()->close();
  w.close();
}

QTEST_MAIN(GuiMainWindow)
#include "gui_main_window_test.moc"

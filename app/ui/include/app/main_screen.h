// The program's only top-level window: the outgoing and received fax lists
// on two pages, the button bar and the menus, the enable rules, sorting,
// archived faxes, the printer-driver hand-off and the list actions.
#pragma once

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QStackedWidget>
#include <QTabBar>
#include <QToolButton>

#include <memory>
#include <set>
#include <string>

#include "app/button_rules.h"

namespace qc {

class DataGrid;
class TTable;
class TableModel;

class TMainScreen : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainScreen(QWidget* parent = nullptr);
  ~TMainScreen() override;

  // Shows the window and runs the first activation.
  void Start();
  // Runs at every later activation of the window or the program.
  void FormActivate();

  bool FirstActivation = true;
  // ComPort was -1 at start: no port was ever configured.
  bool PromptForPreferences = false;
  bool InReceiveMode = false;
  bool ReceivingFax = false;
  // False when a table could not be opened; the window then closes itself.
  bool TablesOpen() const { return tablesOpen_; }

  // --- controls -------------------------------------------------------------
  QWidget* ButtonBar;
  QToolButton* Newbutton;
  QToolButton* AddCoverButton;
  QToolButton* EditButton;
  QToolButton* CloneButton;
  QToolButton* ForwardButton;
  QToolButton* DeleteButton;
  QToolButton* Archivebutton;
  QToolButton* OrderButton;
  QToolButton* SendButton;
  QToolButton* ReceiveButton;
  QToolButton* ButtonviewPrint;
  QToolButton* Exitbutton;
  QStackedWidget* NoteBook;
  DataGrid* FaxGrid = nullptr;
  DataGrid* RecFaxGrid = nullptr;
  QTabBar* TabSet1;
  QLabel* Status;

  QMenu* mnuFile;
  QMenu* mnuHelp;
  QAction* mnuNew;
  QAction* mnuAddCover;
  QAction* mnuEdit;
  QAction* mnuClone;
  QAction* mnuDelete;
  QAction* mnuArchive;
  QAction* mnuForward;
  QAction* mnuShowArchives;
  QAction* mnuSendFax;
  QAction* mnuReceiveFax;
  QAction* mnuViewPrint;
  QAction* mnuModemReset;
  QAction* mnuPhoneBook;
  QAction* mnuRebuildIndexes;
  QAction* mnuPreferences;
  QAction* mnuExit;
  QAction* mnuContents;
  QAction* mnuAbout;
  QAction* mnuTroubleshooting;
  QAction* mnuShowHint;

  QMenu* FaxSortMenu;
  QAction* mnuDateSent;
  QAction* mnuSubject;
  QAction* mnuRecipient;
  QMenu* RecSortMenu;
  QAction* mnuSortDateReceived;
  QAction* mnuSortFrom;

  TTable& OutTable() { return *outTable_; }
  TTable& RecTable() { return *recTable_; }

  // --- the window's operations ------------------------------------------------
  void SetButtons();
  void SetArchiveCaptions();
  void FaxDataSourceDataChange();
  void TabSet1Click(int tab);
  void FaxGridDblClick();
  void SaveGridOrders(TTable& table, DataGrid* grid, const std::string& base);
  void LoadGridOrders(TTable& table, DataGrid* grid, const std::string& base);
  // Refreshes the outgoing list after records were added behind its back.
  void FaxTableCloseAndOpen();

  // Printer-driver hand-off.
  void WriteQCPDINI();
  bool ProcessExtraPDFaxFiles();
  void ProcessPDFaxFile(const std::string& apfName);
  // Times the outgoing list was refreshed by FaxTableCloseAndOpen (tests).
  int ListRefreshes() const { return listRefreshes_; }

  // Handlers.
  void EditButtonClick();
  void CloneButtonClick();
  void DeleteButtonClick();
  void ArchivebuttonClick();
  void ForwardButtonClick();
  void mnuViewPrintClick();
  void mnuDateSentClick();
  void mnuSubjectClick();
  void mnuRecipientClick();
  void mnuSortDateReceivedClick();
  void mnuSortFromClick();
  void mnuShowArchivesClick();
  void mnuShowHintClick();
  void mnuRebuildIndexesClick();
  void mnuPhoneBookClick();
  void mnuAboutClick();
  void OrderButtonClick();

  void EditAPFFax();
  void EditReceivedFax();
  void CloneAPFFax(const std::string& body, const std::string& cover, const std::string& phone,
                   const std::string& recipient, const std::string& subject);
  void DeleteFromSend();
  void DeleteFromRec();

  // The two messages of the program's queue.
  void PostCloseRequest();
  void PostFaxReceivedSound();

  int Page() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void BuildControls();
  void BuildMenus();
  void FirstActivate();
  bool FormCloseQuery();
  void FormClose();
  void FaxReceivedSound();
  void ShowStatus(const QString& text);
  void ReloadOutList();
  void ReloadRecList();
  void SelectOutTag(const char* tag, QAction* tick);
  void SelectRecTag(const char* tag, QAction* tick);
  void ApplyArchiveFilter();
  bool OutSelected() const;
  bool RecSelected() const;

  std::unique_ptr<TTable> outTable_;
  std::unique_ptr<TTable> recTable_;
  std::unique_ptr<TTable> phoneTable_;
  TableModel* faxModel_ = nullptr;
  TableModel* recModel_ = nullptr;
  bool tablesOpen_ = false;
  bool closing_ = false;
  bool closed_ = false;
  bool activating_ = false;
  int listRefreshes_ = 0;
  // Printer jobs already reported as refused, so each is reported once.
  std::set<std::string> refusedJobs_;
};

}  // namespace qc

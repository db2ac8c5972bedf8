#include "app/main_screen.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMetaObject>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <filesystem>

#include "app/about_box.h"
#include "app/dialogs.h"
#include "app/folders.h"
#include "app/grid_orders.h"
#include "app/grid_view.h"
#include "app/ini_file.h"
#include "app/window_placement.h"
#include "app/phone_book.h"
#include "app/placement.h"
#include "app/rebuild_indexes.h"
#include "app/settings.h"
#include "app/sound.h"
#include "app/table_model.h"
#include "store/fax_tables.h"
#include "store/table.h"

namespace qc {
namespace {

const std::vector<GridColumn> kFaxColumns = {
    {"DATESENT", "Date Sent", 0},  {"TIMESENT", "Time Sent", 0}, {"PHONE", "Fax#", 15},
    {"RECIPIENT", "Recipient", 20}, {"SUBJECT", "Subject", 20},  {"LASTRESULT", "Last Attempt", 20},
    {"NOTES", "Notes", 25},        {"CODES", "Codes", 15},
};

const std::vector<GridColumn> kRecColumns = {
    {"DATEREC", "Date Rec'd", 0}, {"TIMEREC", "Time Rec'd", 0}, {"FROM", "From", 0},
    {"PAGES", "Pages", 0},        {"NOTES", "Notes", 60},
};

}  // namespace

TMainScreen::TMainScreen(QWidget* parent)
    : QMainWindow(parent),
      outTable_(std::make_unique<TTable>()),
      recTable_(std::make_unique<TTable>()),
      phoneTable_(std::make_unique<TTable>()) {
  setObjectName("TMainScreen");
  setWindowTitle("Quillcast");
  QFont::insertSubstitution("Arial", "Liberation Sans");
  QFont font("Arial");
  font.setPointSize(9);
  QApplication::setFont(font);
  resize(880, 540);
  SetMainWindow(this);
  FormCreate();
}

TMainScreen::~TMainScreen() {
  if (!closed_) {
    outTable_->Close();
    recTable_->Close();
  }
  if (MainWindow() == this) SetMainWindow(nullptr);
}

void TMainScreen::FormCreate() {
  FirstActivation = true;
  ArchiveFilter = ".not. archived";
  BuildControls();
  BuildMenus();
  NoteBook->setCurrentIndex(0);

  bool outOk = OpenOutFaxDBF(*outTable_, ProgramFolder());
  if (outOk) {
    outTable_->SetOrder(outTable_->TagNumber("DATESENT"));
    outTable_->First();
  } else {
    ShowInformation("Unable to open/create the FAX datafile - closing program");
    PostCloseRequest();
  }
  const bool recOk = OpenRecFaxDBF(*recTable_, ProgramFolder());
  if (!recOk) {
    ShowInformation("Unable to open/create the FAX RECEIVE datafile - closing program");
    PostCloseRequest();
  }
  tablesOpen_ = outOk && recOk;

  // The grids exist either way, so that the window can close in order.
  faxModel_ = new TableModel(*outTable_, kFaxColumns, this);
  recModel_ = new TableModel(*recTable_, kRecColumns, this);
  FaxGrid = new DataGrid(faxModel_, NoteBook);
  FaxGrid->setObjectName("FaxGrid");
  RecFaxGrid = new DataGrid(recModel_, NoteBook);
  RecFaxGrid->setObjectName("RecFaxGrid");
  NoteBook->addWidget(FaxGrid);
  NoteBook->addWidget(RecFaxGrid);
  NoteBook->setCurrentIndex(0);
  FaxGrid->OnRecordChange = [this] { FaxDataSourceDataChange(); };
  RecFaxGrid->OnRecordChange = [this] { SetArchiveCaptions(); };
  connect(FaxGrid, &QAbstractItemView::doubleClicked, this, [this] { Guarded([this] { FaxGridDblClick(); }); });
  if (!tablesOpen_) return;

  ApplyArchiveFilter();

  PromptForPreferences = false;
  LoadSettings();
  if (Settings.Modem.ComPort == -1) {
    PromptForPreferences = true;
    Settings.Modem.ComPort = 0;
  }
  ReceivingFax = false;
  InReceiveMode = false;
  // Forward shares Clone's place in the bar: only one of them is ever visible.
  ForwardButton->setVisible(false);
  // A folder that cannot be made shows up later, when a file in it cannot be written.
  ForceFolders(SendFolder());
  ForceFolders(ReceiveFolder());

  mnuShowHint->setChecked(Settings.Hints.On);
  SetHintsEnabled(Settings.Hints.On);
  FaxGrid->Reload();
  RecFaxGrid->Reload();
}

void TMainScreen::BuildControls() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  ButtonBar = new QWidget(central);
  ButtonBar->setObjectName("ButtonBar");
  auto* bar = new QHBoxLayout(ButtonBar);
  bar->setContentsMargins(6, 4, 6, 4);
  bar->setSpacing(2);
  auto button = [&](QToolButton*& b, const char* name, const char* caption, const char* hint,
                    QStyle::StandardPixmap icon) {
    b = new QToolButton(ButtonBar);
    b->setObjectName(name);
    b->setText(caption);
    b->setToolTip(Q(hint));
    b->setIcon(style()->standardIcon(icon));
    b->setIconSize(QSize(24, 24));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setMinimumWidth(62);
    b->setAutoRaise(true);
    bar->addWidget(b);
  };
  button(Newbutton, "Newbutton", "&New",
         "Create a new stand-alone fax cover sheet for\ra quick one page fax message", QStyle::SP_FileIcon);
  button(AddCoverButton, "AddCoverButton", "Add C&over", "Add a fax cover sheet to the existing fax",
         QStyle::SP_FileDialogNewFolder);
  button(EditButton, "EditButton", "&Edit",
         "Edit the currently selected fax [CTRL+E]\r\rOutgoing faxes: If the fax has a cover sheet, the "
         "cover sheet \reditor will be used, otherwise the fax \rinformation editor will be used.)\r\r"
         "Incoming faxes: You be able to edit your notes about the fax.",
         QStyle::SP_FileDialogDetailedView);
  button(CloneButton, "CloneButton", "&Clone", "Clone the currently selected fax [CTRL+C]",
         QStyle::SP_FileDialogListView);
  button(ForwardButton, "ForwardButton", "For&ward",
         "Forward the current received fax to the Outgoing Faxes tab", QStyle::SP_ArrowForward);
  button(DeleteButton, "DeleteButton", "&Delete",
         "Delete  the currently selected fax [CTRL+D]\r(If the fax has both a cover sheet and a fax\rbody, "
         "you will be given the option to delete\ronly the cover sheet or only the body of the\rfax.)",
         QStyle::SP_TrashIcon);
  button(Archivebutton, "Archivebutton", "&Archive", ArchiveCaptions(false).hint.c_str(),
         QStyle::SP_DialogSaveButton);
  button(OrderButton, "OrderButton", "Sor&t", "Change the sort order of the faxes",
         QStyle::SP_ToolBarVerticalExtensionButton);
  bar->addSpacing(10);
  button(SendButton, "SendButton", "&Send", "Send the currently selected fax [CTRL+S]",
         QStyle::SP_ArrowRight);
  button(ReceiveButton, "ReceiveButton", "&Receive", "Go into Fax Receive mode [CTRL+R]",
         QStyle::SP_ArrowLeft);
  button(ButtonviewPrint, "ButtonviewPrint", "&View", "View or print the current fax [CTRL+V]",
         QStyle::SP_FileDialogContentsView);
  bar->addStretch();
  button(Exitbutton, "Exitbutton", "E&xit", "Exit the program [CTRL+X]", QStyle::SP_DialogCloseButton);
  OrderButton->setPopupMode(QToolButton::InstantPopup);

  auto* line = new QFrame(central);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);

  NoteBook = new QStackedWidget(central);
  NoteBook->setObjectName("NoteBook");
  TabSet1 = new QTabBar(central);
  TabSet1->setObjectName("TabSet1");
  TabSet1->setShape(QTabBar::RoundedSouth);
  TabSet1->setDrawBase(false);
  TabSet1->setExpanding(false);
  TabSet1->addTab("Out&going Faxes");
  TabSet1->addTab("&Incoming Faxes");
  TabSet1->setFocusPolicy(Qt::NoFocus);
  Status = new QLabel(central);
  Status->setObjectName("Status");
  Status->setFrameShape(QFrame::StyledPanel);
  Status->setFrameShadow(QFrame::Sunken);
  Status->setContentsMargins(6, 2, 6, 2);
  Status->setVisible(false);

  layout->addWidget(ButtonBar);
  layout->addWidget(line);
  layout->addWidget(NoteBook, 1);
  auto* tabs = new QHBoxLayout;
  tabs->setContentsMargins(4, 0, 4, 2);
  tabs->addWidget(TabSet1);
  tabs->addStretch();
  layout->addLayout(tabs);
  layout->addWidget(Status);
  setCentralWidget(central);

  connect(TabSet1, &QTabBar::tabBarClicked, this, [this](int tab) {
    if (tab >= 0) Guarded([this, tab] { TabSet1Click(tab); });
  });
  connect(TabSet1, &QTabBar::currentChanged, this, [this](int tab) {
    if (tab >= 0 && NoteBook->currentIndex() != tab) Guarded([this, tab] { TabSet1Click(tab); });
  });
  connect(Newbutton, &QToolButton::clicked, this, [] { /* quick fax: its own window, not yet here */ });
  connect(AddCoverButton, &QToolButton::clicked, this, [] { /* cover sheet editor: not yet here */ });
  connect(EditButton, &QToolButton::clicked, this, [this] { Guarded([this] { EditButtonClick(); }); });
  connect(CloneButton, &QToolButton::clicked, this, [this] { Guarded([this] { CloneButtonClick(); }); });
  connect(ForwardButton, &QToolButton::clicked, this, [this] { Guarded([this] { ForwardButtonClick(); }); });
  connect(DeleteButton, &QToolButton::clicked, this, [this] { Guarded([this] { DeleteButtonClick(); }); });
  connect(Archivebutton, &QToolButton::clicked, this, [this] { Guarded([this] { ArchivebuttonClick(); }); });
  connect(SendButton, &QToolButton::clicked, this, [] { /* send window: not yet here */ });
  connect(ReceiveButton, &QToolButton::clicked, this, [] { /* receive mode: not yet here */ });
  connect(ButtonviewPrint, &QToolButton::clicked, this, [this] { Guarded([this] { mnuViewPrintClick(); }); });
  connect(Exitbutton, &QToolButton::clicked, this, &QWidget::close);
  qApp->installEventFilter(this);
}

void TMainScreen::BuildMenus() {
  auto action = [this](QMenu* menu, const char* name, const char* text, const QKeySequence& keys = {}) {
    QAction* a = menu->addAction(text);
    a->setObjectName(name);
    if (!keys.isEmpty()) a->setShortcut(keys);
    return a;
  };
  mnuFile = menuBar()->addMenu("&File");
  mnuFile->setObjectName("mnuFile");
  mnuFile->setToolTipsVisible(true);
  mnuNew = action(mnuFile, "mnuNew", "&New Cover Sheet", QKeySequence("Ctrl+N"));
  mnuAddCover = action(mnuFile, "mnuAddCover", "Add C&over Sheet", QKeySequence("Ctrl+O"));
  mnuEdit = action(mnuFile, "mnuEdit", "&Edit", QKeySequence("Ctrl+E"));
  mnuClone = action(mnuFile, "mnuClone", "&Clone", QKeySequence("Ctrl+C"));
  mnuDelete = action(mnuFile, "mnuDelete", "&Delete", QKeySequence("Ctrl+D"));
  mnuArchive = action(mnuFile, "mnuArchive", "&Archive", QKeySequence("Ctrl+A"));
  mnuForward = action(mnuFile, "mnuForward", "For&ward Received Fax");
  mnuFile->addSeparator();
  mnuShowArchives = action(mnuFile, "mnuShowArchives", "S&how Archived Faxes");
  mnuShowArchives->setCheckable(true);
  mnuShowArchives->setChecked(false);
  mnuFile->addSeparator();
  mnuSendFax = action(mnuFile, "mnuSendFax", "&Send Fax", QKeySequence("Ctrl+S"));
  mnuReceiveFax = action(mnuFile, "mnuReceiveFax", "&Receive Fax", QKeySequence("Ctrl+R"));
  mnuViewPrint = action(mnuFile, "mnuViewPrint", "&View/Print Fax", QKeySequence("Ctrl+V"));
  mnuModemReset = action(mnuFile, "mnuModemReset", "&Modem Reset");
  mnuFile->addSeparator();
  mnuPhoneBook = action(mnuFile, "mnuPhoneBook", "&Phone Book");
  mnuFile->addSeparator();
  mnuRebuildIndexes = action(mnuFile, "mnuRebuildIndexes", "Rebuild &Indexes");
  mnuRebuildIndexes->setToolTip("Do this every 2 weeks ");
  mnuPreferences = action(mnuFile, "mnuPreferences", "P&references");
  mnuFile->addSeparator();
  mnuExit = action(mnuFile, "mnuExit", "E&xit", QKeySequence("Ctrl+X"));

  mnuHelp = menuBar()->addMenu("&Help");
  mnuHelp->setObjectName("mnuHelp");
  mnuContents = action(mnuHelp, "mnuContents", "&Contents");
  mnuAbout = action(mnuHelp, "mnuAbout", "&About");
  mnuTroubleshooting = action(mnuHelp, "mnuTroubleshooting", "&Troubleshooting Tips");
  mnuHelp->addSeparator();
  mnuShowHint = action(mnuHelp, "mnuShowHint", "&Show Hints");
  mnuShowHint->setCheckable(true);

  FaxSortMenu = new QMenu(this);
  FaxSortMenu->setObjectName("FaxSortMenu");
  mnuDateSent = action(FaxSortMenu, "mnuDateSent", "&Date Sent");
  mnuSubject = action(FaxSortMenu, "mnuSubject", "&Subject");
  mnuRecipient = action(FaxSortMenu, "mnuRecipient", "&Recipient");
  RecSortMenu = new QMenu(this);
  RecSortMenu->setObjectName("RecSortMenu");
  mnuSortDateReceived = action(RecSortMenu, "mnuSortDateReceived", "Date Received");
  mnuSortFrom = action(RecSortMenu, "mnuSortFrom", "From");
  for (QAction* a : {mnuDateSent, mnuSubject, mnuRecipient, mnuSortDateReceived, mnuSortFrom})
    a->setCheckable(true);
  mnuDateSent->setChecked(true);
  mnuSortDateReceived->setChecked(true);
  OrderButton->setMenu(FaxSortMenu);

  auto on = [this](QAction* a, void (TMainScreen::*handler)()) {
    connect(a, &QAction::triggered, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  // The menu items that mirror a button run the button.
  connect(mnuNew, &QAction::triggered, Newbutton, &QToolButton::click);
  connect(mnuAddCover, &QAction::triggered, AddCoverButton, &QToolButton::click);
  connect(mnuEdit, &QAction::triggered, EditButton, &QToolButton::click);
  connect(mnuClone, &QAction::triggered, CloneButton, &QToolButton::click);
  connect(mnuDelete, &QAction::triggered, DeleteButton, &QToolButton::click);
  connect(mnuSendFax, &QAction::triggered, SendButton, &QToolButton::click);
  connect(mnuReceiveFax, &QAction::triggered, ReceiveButton, &QToolButton::click);
  on(mnuArchive, &TMainScreen::ArchivebuttonClick);
  on(mnuForward, &TMainScreen::ForwardButtonClick);
  on(mnuViewPrint, &TMainScreen::mnuViewPrintClick);
  on(mnuShowArchives, &TMainScreen::mnuShowArchivesClick);
  on(mnuPhoneBook, &TMainScreen::mnuPhoneBookClick);
  on(mnuRebuildIndexes, &TMainScreen::mnuRebuildIndexesClick);
  connect(mnuModemReset, &QAction::triggered, this, [] { /* modem reset window: not yet here */ });
  connect(mnuPreferences, &QAction::triggered, this, [] { /* preferences window: not yet here */ });
  connect(mnuExit, &QAction::triggered, this, &QWidget::close);
  connect(mnuContents, &QAction::triggered, this, [] { ShowHelpTopic(1009); });
  connect(mnuTroubleshooting, &QAction::triggered, this, [] { ShowHelpTopic(1032); });
  on(mnuAbout, &TMainScreen::mnuAboutClick);
  on(mnuShowHint, &TMainScreen::mnuShowHintClick);
  on(mnuDateSent, &TMainScreen::mnuDateSentClick);
  on(mnuSubject, &TMainScreen::mnuSubjectClick);
  on(mnuRecipient, &TMainScreen::mnuRecipientClick);
  on(mnuSortDateReceived, &TMainScreen::mnuSortDateReceivedClick);
  on(mnuSortFrom, &TMainScreen::mnuSortFromClick);
}

// --- activation ---------------------------------------------------------------

void TMainScreen::Start() {
  if (!tablesOpen_) {
    show();
    return;
  }
  FirstActivate();
}

void TMainScreen::FirstActivate() {
  Guarded([this] { RestorePlacement(*this); });
  show();
  std::uint32_t remembered = 0;
  Guarded([&] {
    if (ProcessExtraPDFaxFiles() && outTable_->HasRecord()) remembered = outTable_->RecNo();
  });
  // There is no start-up show command on this platform: the window comes up in front.
  raise();
  activateWindow();
  ProcessMessages();
  // PromptForPreferences: the Preferences window shows its first-run prompt
  // once it exists; the flag stays set for it.
  if (remembered != 0 && outTable_->GoTo(remembered) == 0) FaxGrid->Sync();
  SetButtons();
  LoadGridOrders(*outTable_, FaxGrid, "Out");
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive) FormActivate();
  });
  Guarded([this] { WriteQCPDINI(); });
  FirstActivation = false;
}

void TMainScreen::FormActivate() {
  if (FirstActivation || activating_ || closed_ || !tablesOpen_) return;
  activating_ = true;
  Guarded([this] { ProcessExtraPDFaxFiles(); });
  SetButtons();
  activating_ = false;
}

// --- enable rules -----------------------------------------------------------------

int TMainScreen::Page() const { return NoteBook->currentIndex() == 1 ? 1 : 0; }

bool TMainScreen::OutSelected() const { return outTable_->Active() && outTable_->HasRecord(); }
bool TMainScreen::RecSelected() const { return recTable_->Active() && recTable_->HasRecord(); }

void TMainScreen::SetButtons() {
  if (outTable_->Active() && outTable_->State() == TableState::tsBrowse) {
    const int order = outTable_->CurrentOrder();
    if (ApplyOrderRule(*outTable_, "DATESENT")) {
      mnuDateSent->setChecked(true);
      mnuSubject->setChecked(false);
      mnuRecipient->setChecked(false);
    }
    if (order != outTable_->CurrentOrder()) FaxGrid->Reload();
  }
  if (recTable_->Active() && recTable_->State() == TableState::tsBrowse) {
    const int order = recTable_->CurrentOrder();
    if (ApplyOrderRule(*recTable_, "DATETIME")) {
      mnuSortDateReceived->setChecked(true);
      mnuSortFrom->setChecked(false);
    }
    if (order != recTable_->CurrentOrder()) RecFaxGrid->Reload();
  }
  ButtonInputs in;
  in.page = Page() == 1 ? TFaxPage::fpReceived : TFaxPage::fpOutgoing;
  in.outSelected = OutSelected();
  in.recSelected = RecSelected();
  in.inReceiveMode = InReceiveMode;
  in.outCoverEmpty = in.outSelected && outTable_->AsText("FAXCOVER").empty();
  const ButtonStates s = ComputeButtonStates(in);

  OrderButton->setEnabled(s.sort);
  CloneButton->setVisible(s.cloneVisible);
  CloneButton->setEnabled(s.clone);
  ForwardButton->setVisible(s.forwardVisible);
  ForwardButton->setEnabled(s.forward);
  SendButton->setEnabled(s.send);
  Newbutton->setEnabled(s.newFax);
  AddCoverButton->setEnabled(s.addCover);
  EditButton->setEnabled(s.edit);
  DeleteButton->setEnabled(s.del);
  ButtonviewPrint->setEnabled(s.view);
  Archivebutton->setEnabled(s.archive);

  mnuForward->setEnabled(ForwardButton->isEnabled());
  mnuNew->setEnabled(Newbutton->isEnabled());
  mnuAddCover->setEnabled(AddCoverButton->isEnabled());
  mnuViewPrint->setEnabled(ButtonviewPrint->isEnabled());
  mnuDelete->setEnabled(DeleteButton->isEnabled());
  mnuEdit->setEnabled(EditButton->isEnabled());
  mnuArchive->setEnabled(Archivebutton->isEnabled());
  mnuClone->setEnabled(CloneButton->isEnabled());
  mnuSendFax->setEnabled(SendButton->isEnabled());
  mnuRebuildIndexes->setEnabled(s.rebuildIndexes);
  mnuPreferences->setEnabled(s.preferences);
  mnuFile->setEnabled(s.fileMenu);
  mnuFile->menuAction()->setEnabled(s.fileMenu);
  SetArchiveCaptions();
  FaxGrid->setEnabled(s.faxGrid);
  RecFaxGrid->setEnabled(s.recFaxGrid);
}

void TMainScreen::SetArchiveCaptions() {
  TTable& table = Page() == 1 ? *recTable_ : *outTable_;
  const bool archived = table.Active() && table.HasRecord() && table.AsLogical("ARCHIVED");
  const ArchiveCaption c = ArchiveCaptions(archived);
  Archivebutton->setText(QString::fromStdString(c.caption));
  Archivebutton->setToolTip(Q(c.hint));
  mnuArchive->setText(QString::fromStdString(c.caption));
}

void TMainScreen::FaxDataSourceDataChange() {
  SetArchiveCaptions();
  if (FirstActivation) return;
  const bool selected = OutSelected();
  AddCoverButton->setEnabled(AddCoverOnDataChange(selected, selected && outTable_->AsText("FAXCOVER").empty()));
  mnuAddCover->setEnabled(AddCoverButton->isEnabled());
}

// --- pages, keys, sorting -------------------------------------------------------------

void TMainScreen::TabSet1Click(int tab) {
  const int page = tab == 1 ? 1 : 0;
  if (TabSet1->currentIndex() != page) {
    const QSignalBlocker block(TabSet1);
    TabSet1->setCurrentIndex(page);
  }
  NoteBook->setCurrentIndex(page);
  SetButtons();
  OrderButton->setMenu(page == 1 ? RecSortMenu : FaxSortMenu);
}

bool TMainScreen::eventFilter(QObject* watched, QEvent* event) {
  // The window sees keys before its controls do.
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::ControlModifier && widget &&
        widget->window() == this && !QApplication::activeModalWidget()) {
      Guarded([this] { TabSet1Click(TabSet1->currentIndex() == 0 ? 1 : 0); });
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainScreen::FaxGridDblClick() {
  if (EditButton->isEnabled()) EditButtonClick();
}

void TMainScreen::SelectOutTag(const char* tag, QAction* tick) {
  if (!outTable_->Active()) return;
  const int number = outTable_->TagNumber(tag);
  if (number == 0 || outTable_->SetOrder(number) != 0) throw std::runtime_error(outTable_->LastError());
  for (QAction* a : {mnuDateSent, mnuSubject, mnuRecipient}) a->setChecked(a == tick);
  FaxGrid->Reload();
  FaxDataSourceDataChange();
}

void TMainScreen::SelectRecTag(const char* tag, QAction* tick) {
  if (!recTable_->Active()) return;
  if (ReceivingFax) {
    // The action ticked itself: put the ticks back on the order in use.
    const int order = recTable_->CurrentOrder();
    mnuSortDateReceived->setChecked(order == recTable_->TagNumber("DATETIME"));
    mnuSortFrom->setChecked(order == recTable_->TagNumber("FROM"));
    Beep();
    return;
  }
  const int number = recTable_->TagNumber(tag);
  if (number == 0 || recTable_->SetOrder(number) != 0) throw std::runtime_error(recTable_->LastError());
  for (QAction* a : {mnuSortDateReceived, mnuSortFrom}) a->setChecked(a == tick);
  RecFaxGrid->Reload();
}

void TMainScreen::mnuDateSentClick() { SelectOutTag("DATESENT", mnuDateSent); }
void TMainScreen::mnuSubjectClick() { SelectOutTag("SUBJECT", mnuSubject); }
void TMainScreen::mnuRecipientClick() { SelectOutTag("RECIPIENT", mnuRecipient); }
void TMainScreen::mnuSortDateReceivedClick() { SelectRecTag("DATETIME", mnuSortDateReceived); }
void TMainScreen::mnuSortFromClick() { SelectRecTag("FROM", mnuSortFrom); }

void TMainScreen::OrderButtonClick() { OrderButton->showMenu(); }

void TMainScreen::ApplyArchiveFilter() {
  if (outTable_->Active() && outTable_->Query(ArchiveFilter) != 0)
    throw std::runtime_error(outTable_->LastError());
  if (recTable_->Active() && recTable_->Query(ArchiveFilter) != 0)
    throw std::runtime_error(recTable_->LastError());
  if (FaxGrid) FaxGrid->Reload();
  if (RecFaxGrid) RecFaxGrid->Reload();
}

void TMainScreen::mnuShowArchivesClick() {
  // The action toggled its own tick already.
  ArchiveFilter = mnuShowArchives->isChecked() ? "" : ".not. ARCHIVED";
  ApplyArchiveFilter();
  SetButtons();
}

void TMainScreen::mnuShowHintClick() {
  Settings.Hints.On = mnuShowHint->isChecked();
  SetHintsEnabled(Settings.Hints.On);
  SaveSettings();
}

void TMainScreen::mnuAboutClick() {
  TSplashform about(this);
  CenterDialog(&about);
  about.exec();
}

void TMainScreen::mnuPhoneBookClick() { BrowsePhoneBook(); }

void TMainScreen::mnuRebuildIndexesClick() {
  FaxGrid->setUpdatesEnabled(false);
  struct Resume {
    TMainScreen* w;
    ~Resume() {
      w->FaxGrid->setUpdatesEnabled(true);
    }
  } resume{this};
  {
    TRebuildInd rebuild(*outTable_, *recTable_, *phoneTable_, this);
    CenterDialog(&rebuild);
    rebuild.exec();
  }
  ApplyArchiveFilter();
  SetButtons();
}

// --- grid layout ------------------------------------------------------------------------

void TMainScreen::SaveGridOrders(TTable&, DataGrid* grid, const std::string& base) {
  const std::string folder = ProgramFolder();
  WriteTextLines(folder + base + ".gco", grid->Model()->FieldOrder());
  std::vector<std::string> widths{std::to_string(grid->verticalHeader()->width())};
  for (int c = 0; c < grid->Model()->columnCount(); ++c) widths.push_back(std::to_string(grid->columnWidth(c)));
  WriteTextLines(folder + base + ".gcs", widths);
}

void TMainScreen::LoadGridOrders(TTable&, DataGrid* grid, const std::string& base) {
  const std::string folder = ProgramFolder();
  std::vector<std::string> lines;
  if (ReadTextLines(folder + base + ".gco", lines)) {
    std::vector<std::string> fields = grid->Model()->FieldOrder();
    ApplyFieldOrder(fields, lines);
    grid->Model()->SetFieldOrder(fields);
    grid->SizeColumns();
    grid->Sync();
  }
  if (ReadTextLines(folder + base + ".gcs", lines)) {
    const std::vector<int> widths = ParseColumnWidths(lines);
    for (size_t i = 0; i < widths.size(); ++i) {
      if (widths[i] < 0) continue;
      // Column 0 is the row indicator.
      if (i == 0)
        grid->verticalHeader()->setFixedWidth(std::max(widths[i], 8));
      else if (static_cast<int>(i) - 1 < grid->Model()->columnCount())
        grid->setColumnWidth(static_cast<int>(i) - 1, widths[i]);
    }
  }
}

// --- closing and the program's messages ----------------------------------------------

void TMainScreen::PostCloseRequest() { QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection); }

void TMainScreen::PostFaxReceivedSound() {
  QMetaObject::invokeMethod(this, [this] { FaxReceivedSound(); }, Qt::QueuedConnection);
}

void TMainScreen::FaxReceivedSound() {
  if (!Settings.Receive.Wav.empty()) PlayWaveAsync(Settings.Receive.Wav);
}

bool TMainScreen::FormCloseQuery() {
  if (ReceivingFax && !AskYesNo("You are recieving a fax. Close the program?", "ALERT!")) return false;
  if (InReceiveMode) {
    {
      BusyCursor busy;
      // The receive component and its port come with receive mode.
      ProcessMessages();
    }
    InReceiveMode = false;
    ReceiveButton->setText("Receive");
    ReceiveButton->setToolTip("Start receiving faxes");
  }
  if (tablesOpen_) Guarded([this] { SaveGridOrders(*outTable_, FaxGrid, "Out"); });
  ProcessMessages();
  outTable_->Close();
  recTable_->Close();
  faxModel_->Reload();
  recModel_->Reload();
  ProcessMessages();
  return true;
}

void TMainScreen::FormClose() {
  if (tablesOpen_) Guarded([this] { SavePlacement(*this); });
  SetButtons();
}

void TMainScreen::closeEvent(QCloseEvent* event) {
  if (closed_) {
    event->accept();
    return;
  }
  if (closing_) {
    event->ignore();
    return;
  }
  closing_ = true;
  const bool may = FormCloseQuery();
  closing_ = false;
  if (!may) {
    event->ignore();
    return;
  }
  closed_ = true;
  FormClose();
  qApp->removeEventFilter(this);
  event->accept();
}

void TMainScreen::ShowStatus(const QString& text) {
  Status->setText(text);
  Status->setVisible(!text.isEmpty());
  // A report, not a progress text: it goes again after a while.
  if (!text.isEmpty())
    QTimer::singleShot(15000, Status, [this, text] {
      if (Status->text() == text) ShowStatus({});
    });
}

namespace {

// A record that the filter or the order no longer shows stops being current.
void KeepCurrentVisible(TTable& table) {
  if (!table.Active() || !table.HasRecord() || table.State() != TableState::tsBrowse) return;
  if (table.GoTo(table.RecNo()) != 0) table.First();
}

}  // namespace

void TMainScreen::ReloadOutList() {
  KeepCurrentVisible(*outTable_);
  FaxGrid->Reload();
  FaxDataSourceDataChange();
}

void TMainScreen::ReloadRecList() {
  KeepCurrentVisible(*recTable_);
  RecFaxGrid->Reload();
}

void TMainScreen::FaxTableCloseAndOpen() {
  FaxGrid->setUpdatesEnabled(false);
  qc::FaxTableCloseAndOpen(*outTable_, [] { ProcessMessages(); });
  FaxGrid->setUpdatesEnabled(true);
  ++listRefreshes_;
  ReloadOutList();
}

}  // namespace qc

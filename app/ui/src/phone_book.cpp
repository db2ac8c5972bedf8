#include "app/phone_book.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "app/dialogs.h"
#include "app/folders.h"
#include "app/grid_view.h"
#include "app/table_model.h"
#include "store/fax_tables.h"
#include "store/table.h"

namespace qc {
namespace {

constexpr int kNameWidth = 35;
constexpr int kNumberWidth = 25;

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

}  // namespace

TPhoneBookEditor::TPhoneBookEditor(QWidget* parent) : QDialog(parent) {
  setObjectName("TPhoneBookEditor");
  setWindowTitle("Phone Book Editor");
  Name = new QLineEdit(this);
  Name->setObjectName("Name");
  Name->setMaxLength(kNameWidth);
  Name->setMinimumWidth(300);
  Number = new QLineEdit(this);
  Number->setObjectName("Number");
  Number->setMaxLength(kNumberWidth);
  auto* form = new QFormLayout;
  form->addRow("Name", Name);
  form->addRow("Fax Number", Number);
  OkButton = MakeButton(this, "OkButton", "&Accept");
  OkButton->setDefault(true);
  CancelButton = MakeButton(this, "CancelButton", "Cance&l");
  HelpButton = MakeButton(this, "HelpButton", "&Help");
  auto* row = new QHBoxLayout;
  row->addWidget(HelpButton);
  row->addStretch();
  row->addWidget(OkButton);
  row->addWidget(CancelButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addSpacing(8);
  layout->addLayout(row);
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(HelpButton, &QPushButton::clicked, this, [] { ShowHelpTopic(1020); });
  adjustSize();
}

TPhoneBook::TPhoneBook(TMode mode, QWidget* parent)
    : QDialog(parent), mode_(mode), table_(std::make_unique<TTable>()) {
  setObjectName("TPhoneBook");
  setWindowTitle("Phone Book Browser");
  Addbutton = MakeButton(this, "Addbutton", "&New");
  Modifybutton = MakeButton(this, "Modifybutton", "&Edit");
  Deletebutton = MakeButton(this, "Deletebutton", "&Delete");
  HelpButton = MakeButton(this, "HelpButton", "&Help");
  Closebutton = MakeButton(this, "Closebutton", "C&lose");
  Cancelbutton = MakeButton(this, "Cancelbutton", "Cance&l");
  Cancelbutton->setToolTip("Cancel - do not use any of these phone book entries");
  OKButton = MakeButton(this, "OKButton", "&Accept");
  OKButton->setToolTip("Use this phone book entry");
  OKButton->setDefault(true);

  const bool pick = mode_ == TMode::pbPick;
  Closebutton->setVisible(!pick);
  Cancelbutton->setVisible(pick);
  OKButton->setVisible(pick);

  connect(Addbutton, &QPushButton::clicked, this, [this] { Guarded([this] { AddbuttonClick(); }); });
  connect(Modifybutton, &QPushButton::clicked, this, [this] { Guarded([this] { ModifyButtonClick(); }); });
  connect(Deletebutton, &QPushButton::clicked, this, [this] { Guarded([this] { DeleteButtonClick(); }); });
  connect(OKButton, &QPushButton::clicked, this, [this] { Guarded([this] { AcceptbuttonClick(); }); });
  connect(Closebutton, &QPushButton::clicked, this, &QDialog::reject);
  connect(Cancelbutton, &QPushButton::clicked, this, &QDialog::reject);
  connect(HelpButton, &QPushButton::clicked, this, [] { ShowHelpTopic(1019); });
}

TPhoneBook::~TPhoneBook() {
  delete PhoneGrid;
  PhoneGrid = nullptr;
  table_->Close();
}

bool TPhoneBook::Open() {
  if (!OpenPhoneBookDBF(*table_, ProgramFolder(), false)) return false;
  model_ = new TableModel(*table_, {{"NAME", "Name", 50}, {"PHONE", "Fax #", 0}}, this);
  PhoneGrid = new DataGrid(model_, this);
  PhoneGrid->setObjectName("PhoneGrid");
  PhoneGrid->horizontalHeader()->setStretchLastSection(true);
  PhoneGrid->setMinimumSize(600, 300);
  connect(PhoneGrid, &QAbstractItemView::doubleClicked, this, [this] {
    if (mode_ == TMode::pbPick && OKButton->isEnabled()) Guarded([this] { AcceptbuttonClick(); });
  });

  auto* buttons = new QVBoxLayout;
  for (auto* b : {Addbutton, Modifybutton, Deletebutton}) buttons->addWidget(b);
  buttons->addSpacing(12);
  for (auto* b : {OKButton, Cancelbutton, Closebutton}) buttons->addWidget(b);
  buttons->addStretch();
  buttons->addWidget(HelpButton);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(PhoneGrid, 1);
  layout->addLayout(buttons);
  PhoneGrid->Sync();
  UpdateButtons();
  adjustSize();
  return true;
}

void TPhoneBook::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  UpdateButtons();
}

void TPhoneBook::UpdateButtons() {
  ProcessMessages();
  const bool any = table_->Active() && table_->QueryRecordCount() > 0;
  Modifybutton->setEnabled(any);
  Deletebutton->setEnabled(any);
  if (OKButton->isVisible() || mode_ == TMode::pbPick) OKButton->setEnabled(any);
}

void TPhoneBook::AddbuttonClick() {
  TPhoneBookEditor editor(this);
  CenterDialog(&editor);
  if (editor.exec() == QDialog::Accepted) {
    table_->Append();
    table_->SetText("NAME", editor.Name->text().toStdString());
    table_->SetText("PHONE", editor.Number->text().toStdString());
    if (table_->Post() != 0) {
      table_->Cancel();
      PhoneGrid->Reload();
      throw std::runtime_error(table_->LastError());
    }
    PhoneGrid->Reload();
  }
  UpdateButtons();
}

void TPhoneBook::ModifyButtonClick() {
  if (!table_->HasRecord() || table_->QueryRecordCount() <= 0) {
    Beep();
    return;
  }
  const std::uint32_t recno = table_->RecNo();
  TPhoneBookEditor editor(this);
  editor.Name->setText(QString::fromStdString(table_->AsText("NAME")));
  editor.Number->setText(QString::fromStdString(table_->AsText("PHONE")));
  CenterDialog(&editor);
  if (editor.exec() != QDialog::Accepted) return;
  table_->GoTo(recno);
  if (table_->Edit() != 0) throw std::runtime_error(table_->LastError());
  table_->SetText("NAME", editor.Name->text().toStdString());
  table_->SetText("PHONE", editor.Number->text().toStdString());
  const int rc = table_->Post();
  if (rc != 0) table_->Cancel();
  PhoneGrid->Reload();
  if (rc != 0) throw std::runtime_error(table_->LastError());
}

void TPhoneBook::DeleteButtonClick() {
  if (!table_->HasRecord() || table_->QueryRecordCount() <= 0) {
    Beep();
    return;
  }
  const std::uint32_t recno = table_->RecNo();
  if (AskYesNoDefaultNo("Delete the current phone book entry?:\r" + table_->AsText("NAME"), "Delete")) {
    table_->GoTo(recno);
    table_->Delete();
  }
  PhoneGrid->Reload();
  UpdateButtons();
}

void TPhoneBook::AcceptbuttonClick() {
  if (!table_->HasRecord()) return;
  ChosenName = table_->AsText("NAME");
  ChosenNumber = table_->AsText("PHONE");
  accept();
}

void BrowsePhoneBook() {
  TPhoneBook book(TPhoneBook::TMode::pbBrowse, MainWindow());
  if (!book.Open()) return;
  CenterDialog(&book);
  book.exec();
}

bool PickFromPhoneBook(std::string& name, std::string& number) {
  TPhoneBook book(TPhoneBook::TMode::pbPick, QApplication::activeModalWidget() ? QApplication::activeModalWidget() : MainWindow());
  if (!book.Open()) return false;
  CenterDialog(&book);
  if (book.exec() != QDialog::Accepted) return false;
  name = book.ChosenName;
  number = book.ChosenNumber;
  return true;
}

}  // namespace qc

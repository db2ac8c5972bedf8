#include "app/fax_editors.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "app/dialogs.h"
#include "app/list_actions.h"
#include "app/phone_book.h"

namespace qc {

void TEnterEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    focusNextChild();
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

namespace {

TEnterEdit* MakeEdit(QWidget* parent, const char* name, int maxLength, const char* hint) {
  auto* edit = new TEnterEdit(parent);
  edit->setObjectName(name);
  edit->setMaxLength(maxLength);
  edit->setToolTip(hint);
  return edit;
}

QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> left, std::initializer_list<QPushButton*> right) {
  auto* row = new QHBoxLayout;
  for (auto* b : left) row->addWidget(b);
  row->addStretch();
  for (auto* b : right) row->addWidget(b);
  return row;
}

}  // namespace

TFaxEditor::TFaxEditor(QWidget* parent) : QDialog(parent) {
  setObjectName("TFaxEditor");
  setWindowTitle("Fax Information Editor");
  Recipient = MakeEdit(this, "Recipient", kRecipientWidth, "Enter recipient name here");
  FaxNumber = MakeEdit(this, "FaxNumber", kPhoneWidth, "Enter recipient fax number here");
  Subject = MakeEdit(this, "Subject", kSubjectWidth, "Enter subject (topic) of fax here");
  Notes = MakeEdit(this, "Notes", kOutNotesWidth,
                   "Your own notes about this fax, for your reference only\r(they are never sent)");
  Codes = MakeEdit(this, "Codes", kCodesWidth,
                   "Your own codes for this fax (for instance a client or\rbilling code), for your reference only");
  Notes->setToolTip(Q(Notes->toolTip().toStdString()));
  Codes->setToolTip(Q(Codes->toolTip().toStdString()));
  for (auto* e : {Recipient, FaxNumber, Subject, Notes, Codes}) e->setMinimumWidth(320);

  auto* form = new QFormLayout;
  form->addRow("Recipient", Recipient);
  form->addRow("Recipient Fax#", FaxNumber);
  form->addRow("Regarding", Subject);
  form->addRow("Notes", Notes);
  form->addRow("Codes", Codes);

  AddressButton = new QPushButton("&Phonebook", this);
  AddressButton->setObjectName("AddressButton");
  AddressButton->setAutoDefault(false);
  OkButton = new QPushButton("&Accept", this);
  OkButton->setObjectName("OkButton");
  OkButton->setDefault(true);
  CancelButton = new QPushButton("Cance&l", this);
  CancelButton->setObjectName("CancelButton");
  CancelButton->setAutoDefault(false);
  HelpButton = new QPushButton("&Help", this);
  HelpButton->setObjectName("HelpButton");
  HelpButton->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addSpacing(8);
  layout->addLayout(ButtonRow({AddressButton, HelpButton}, {OkButton, CancelButton}));

  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(HelpButton, &QPushButton::clicked, this, [] { ShowHelpTopic(1015); });
  connect(AddressButton, &QPushButton::clicked, this, [this] { Guarded([this] { AddressButtonClick(); }); });
  adjustSize();
  CenterDialog(this);
}

void TFaxEditor::AddressButtonClick() {
  std::string name, number;
  if (PickFromPhoneBook(name, number)) {
    Recipient->setText(QString::fromStdString(name));
    FaxNumber->setText(QString::fromStdString(number));
  }
}

TEditReceiveNotes::TEditReceiveNotes(QWidget* parent) : QDialog(parent) {
  setObjectName("TEditReceiveNotes");
  setWindowTitle("Received Fax Notes");
  Descript = new QLabel(this);
  Descript->setObjectName("Descript");
  Notes = new TEnterEdit(this);
  Notes->setObjectName("Notes");
  Notes->setMaxLength(kRecNotesWidth);
  Notes->setMinimumWidth(420);
  auto* form = new QFormLayout;
  form->addRow(Descript);
  form->addRow("Notes", Notes);
  OkButton = new QPushButton("&Accept", this);
  OkButton->setObjectName("OkButton");
  OkButton->setDefault(true);
  CancelButton = new QPushButton("Cance&l", this);
  CancelButton->setObjectName("CancelButton");
  CancelButton->setAutoDefault(false);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addSpacing(8);
  layout->addLayout(ButtonRow({}, {OkButton, CancelButton}));
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

TDeleteWhat::TDeleteWhat(QWidget* parent) : QDialog(parent) {
  setObjectName("TDeleteWhat");
  setWindowTitle("Delete Fax");
  WhatToDelete = new QGroupBox(this);
  WhatToDelete->setObjectName("WhatToDelete");
  group_ = new QButtonGroup(this);
  auto* box = new QVBoxLayout(WhatToDelete);
  const char* texts[3] = {"Delete Fax Cover", "Delete Fax Body", "Delete Both Fax Cover && Fax Body"};
  for (int i = 0; i < 3; ++i) {
    Items[i] = new QRadioButton(texts[i], WhatToDelete);
    Items[i]->setObjectName(QString("WhatToDelete%1").arg(i));
    group_->addButton(Items[i], i);
    box->addWidget(Items[i]);
  }
  Items[2]->setChecked(true);
  OkButton = new QPushButton("&Ok", this);
  OkButton->setObjectName("OkButton");
  OkButton->setDefault(true);
  CancelButton = new QPushButton("Cance&l", this);
  CancelButton->setObjectName("CancelButton");
  CancelButton->setAutoDefault(false);
  HelpButton = new QPushButton("&Help", this);
  HelpButton->setObjectName("HelpButton");
  HelpButton->setAutoDefault(false);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(WhatToDelete);
  layout->addLayout(ButtonRow({HelpButton}, {OkButton, CancelButton}));
  connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(HelpButton, &QPushButton::clicked, this, [] { ShowHelpTopic(1031); });
  adjustSize();
}

int TDeleteWhat::Choose() {
  CenterDialog(this);
  if (exec() != QDialog::Accepted) return -1;
  return group_->checkedId();
}

}  // namespace qc

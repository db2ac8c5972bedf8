// The small dialogs of the list actions: the fax information editor, the
// received-fax notes editor and the delete choice.
#pragma once

#include <QButtonGroup>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace qc {

// An edit in which Enter moves on to the next field instead of closing the dialog.
class TEnterEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit TEnterEdit(QWidget* parent = nullptr) : QLineEdit(parent) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

class TFaxEditor : public QDialog {
  Q_OBJECT
 public:
  explicit TFaxEditor(QWidget* parent = nullptr);

  TEnterEdit* Recipient;
  TEnterEdit* FaxNumber;
  TEnterEdit* Subject;
  TEnterEdit* Notes;
  TEnterEdit* Codes;
  QPushButton* AddressButton;
  QPushButton* OkButton;
  QPushButton* CancelButton;
  QPushButton* HelpButton;

 private:
  void AddressButtonClick();
};

class TEditReceiveNotes : public QDialog {
  Q_OBJECT
 public:
  explicit TEditReceiveNotes(QWidget* parent = nullptr);

  QLabel* Descript;
  QLineEdit* Notes;
  QPushButton* OkButton;
  QPushButton* CancelButton;
};

class TDeleteWhat : public QDialog {
  Q_OBJECT
 public:
  explicit TDeleteWhat(QWidget* parent = nullptr);

  // 0 cover, 1 body, 2 both; -1 for Cancel.
  int Choose();

  QGroupBox* WhatToDelete;
  QRadioButton* Items[3];
  QPushButton* OkButton;
  QPushButton* CancelButton;
  QPushButton* HelpButton;

 private:
  QButtonGroup* group_;
};

}  // namespace qc

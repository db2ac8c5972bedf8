// The phone book browser (browse from the File menu, pick from the fax
// editors) and its entry editor.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include <memory>
#include <string>

namespace qc {

class DataGrid;
class TTable;
class TableModel;

class TPhoneBookEditor : public QDialog {
  Q_OBJECT
 public:
  explicit TPhoneBookEditor(QWidget* parent = nullptr);
  QLineEdit* Name;
  QLineEdit* Number;
  QPushButton* OkButton;
  QPushButton* CancelButton;
  QPushButton* HelpButton;
};

class TPhoneBook : public QDialog {
  Q_OBJECT
 public:
  enum class TMode { pbBrowse, pbPick };
  // The window opens its own data-set on QCPB (shared); Open() says whether
  // that worked.
  TPhoneBook(TMode mode, QWidget* parent = nullptr);
  ~TPhoneBook() override;
  bool Open();

  DataGrid* PhoneGrid = nullptr;
  QPushButton* Addbutton;
  QPushButton* Modifybutton;
  QPushButton* Deletebutton;
  QPushButton* HelpButton;
  QPushButton* Closebutton;
  QPushButton* Cancelbutton;
  QPushButton* OKButton;

  // The entry accepted in pick mode.
  std::string ChosenName;
  std::string ChosenNumber;

  TTable& Table() { return *table_; }

  void AddbuttonClick();
  void ModifyButtonClick();
  void DeleteButtonClick();
  void AcceptbuttonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void UpdateButtons();

  TMode mode_;
  std::unique_ptr<TTable> table_;
  TableModel* model_ = nullptr;
};

// Browse mode: File menu "&Phone Book".
void BrowsePhoneBook();
// Pick mode: true with the entry's name and number when the user accepted one.
bool PickFromPhoneBook(std::string& name, std::string& number);

}  // namespace qc

// The program's only top-level window. For now it shows the data folder;
// the fax lists and their actions come later.
#pragma once

#include <QMainWindow>

namespace qc {

class TMainScreen : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainScreen(QWidget* parent = nullptr);

  bool FirstActivation = true;
  // ComPort was -1 at start: no port was ever configured.
  bool PromptForPreferences = false;
  bool InReceiveMode = false;
  bool ReceivingFax = false;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void FormActivate();
};

}  // namespace qc

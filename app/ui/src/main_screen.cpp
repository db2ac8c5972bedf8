#include "app/main_screen.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QShowEvent>

#include "app/folders.h"
#include "app/ini_file.h"
#include "app/settings.h"
#include "app/window_placement.h"

namespace qc {

TMainScreen::TMainScreen(QWidget* parent) : QMainWindow(parent) {
  setObjectName("TMainScreen");
  setWindowTitle("Quillcast");
  resize(800, 560);
  SetMainWindow(this);
  FormCreate();
}

void TMainScreen::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (FirstActivation) FormActivate();
}

void TMainScreen::FormActivate() {
  RestorePlacement(*this);
  FirstActivation = false;
}

void TMainScreen::closeEvent(QCloseEvent* event) {
  try {
    SavePlacement(*this);
  } catch (const EIniFileException& e) {
    QMessageBox::critical(this, "Quillcast", QString::fromStdString(e.what()));
  }
  event->accept();
}

void TMainScreen::FormCreate() {
  FirstActivation = true;
  PromptForPreferences = false;
  LoadSettings();
  if (Settings.Modem.ComPort == -1) {
    PromptForPreferences = true;
    Settings.Modem.ComPort = 0;
  }
  ReceivingFax = false;
  InReceiveMode = false;
  // A folder that cannot be made shows up later, when a file in it cannot be written.
  ForceFolders(SendFolder());
  ForceFolders(ReceiveFolder());

  auto* label = new QLabel(this);
  label->setAlignment(Qt::AlignCenter);
  label->setText(QString("Quillcast\n\nData folder: %1").arg(QString::fromStdString(ProgramFolder())));
  setCentralWidget(label);
}

}  // namespace qc

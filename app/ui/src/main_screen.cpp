#include "app/main_screen.h"

#include <QLabel>

#include "app/folders.h"
#include "app/settings.h"

namespace qc {

TMainScreen::TMainScreen(QWidget* parent) : QMainWindow(parent) {
  setObjectName("TMainScreen");
  setWindowTitle("Quillcast");
  resize(800, 560);
  FormCreate();
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

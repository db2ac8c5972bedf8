// Placement of the program's windows on the screen: the stored place of the
// windows that keep one (in QC.INI), and the centring of dialogs.
#pragma once

#include <QWidget>

namespace qc {

// The main window dialogs are centred over; TMainScreen registers itself.
void SetMainWindow(QWidget* window);
QWidget* MainWindow();

// The window's class name without namespace ("TMainScreen"): the name of its
// placement section.
QString WindowClassName(const QWidget& window);

// Gives `window` the rectangle stored for its class (moved into the screen),
// or centres it when none is stored; maximizes it when it was maximized.
void RestorePlacement(QWidget& window);
// Stores the window's normal rectangle and whether it is maximized. Raises
// EIniFileException ("Unable to write to <file>") when QC.INI cannot be written.
void SavePlacement(const QWidget& window);

// Centres `window` on the screen when it is the main window or the main
// window is maximized, otherwise over the main window.
void CenterDialog(QWidget& window);

}  // namespace qc

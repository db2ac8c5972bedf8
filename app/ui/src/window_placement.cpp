#include "app/window_placement.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <cmath>

#include "app/folders.h"
#include "app/ini_file.h"
#include "app/placement.h"

namespace qc {
namespace {

QPointer<QWidget> theMainWindow;

QScreen* ScreenOf(const QWidget& window) {
  QScreen* screen = window.screen();
  return screen ? screen : QGuiApplication::primaryScreen();
}

Size ScreenSize(const QWidget& window) {
  const QRect g = ScreenOf(window)->geometry();
  return {g.width(), g.height()};
}

int ScreenDpi(const QWidget& window) {
  return static_cast<int>(std::lround(ScreenOf(window)->logicalDotsPerInch()));
}

}  // namespace

void SetMainWindow(QWidget* window) { theMainWindow = window; }
QWidget* MainWindow() { return theMainWindow; }

QString WindowClassName(const QWidget& window) {
  QString name = QString::fromLatin1(window.metaObject()->className());
  const qsizetype colons = name.lastIndexOf("::");
  return colons < 0 ? name : name.mid(colons + 2);
}

void RestorePlacement(QWidget& window) {
  IniFile ini(SettingsFileName());
  const PlacementPlan plan = ReadPlacement(ini, WindowClassName(window).toStdString(),
                                           ScreenDpi(window), ScreenSize(window),
                                           window.isMaximized());
  if (plan.Center) {
    CenterDialog(window);
  } else {
    const Rect& r = plan.Bounds;
    window.setGeometry(r.Left, r.Top, r.Width(), r.Height());
  }
  if (plan.Maximized) window.setWindowState(window.windowState() | Qt::WindowMaximized);
}

void SavePlacement(const QWidget& window) {
  IniFile ini(SettingsFileName());
  // The normal rectangle is the one the window returns to, also while it is
  // maximized or minimized.
  const QRect g = window.isMaximized() || window.isMinimized() ? window.normalGeometry()
                                                               : window.geometry();
  WritePlacement(ini, WindowClassName(window).toStdString(), ScreenDpi(window),
                 {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()},
                 window.isMaximized());
}

void CenterDialog(QWidget& window) {
  QWidget* main = theMainWindow;
  const bool isMain = main == nullptr || main == &window;
  Rect mainRect;
  if (main) {
    const QRect g = main->geometry();
    mainRect = {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
  }
  const QRect screen = ScreenOf(window)->geometry();
  Point p = CenterDialogPosition({window.width(), window.height()}, isMain,
                                 main && main->isMaximized(), mainRect,
                                 {screen.width(), screen.height()});
  if (isMain || main->isMaximized()) p = {p.X + screen.left(), p.Y + screen.top()};
  window.move(p.X, p.Y);
}

}  // namespace qc

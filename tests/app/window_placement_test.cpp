#include "app/window_placement.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>

#include "app/ini_file.h"
#include "app/placement.h"
#include "temp_folder.h"

namespace qc {
namespace {

void EnsureApplication() {
  if (QApplication::instance()) return;
  static int argc = 1;
  static char name[] = "app_ui_tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

class WindowPlacement : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    screen_ = QGuiApplication::primaryScreen()->geometry();
    dpi_ = static_cast<int>(QGuiApplication::primaryScreen()->logicalDotsPerInch());
  }
  void TearDown() override { SetMainWindow(nullptr); }
  std::string section() const {
    return "QMainWindow_Placement" + (dpi_ > 96 ? std::to_string(dpi_) : std::string());
  }

  test::TempFolder dir;
  test::ScopedEnv home{"QUILLCAST_HOME", dir.path().c_str()};
  QRect screen_;
  int dpi_ = 96;
};

TEST_F(WindowPlacement, SavedPlacementComesBack) {
  QMainWindow window;
  window.setGeometry(40, 30, 300, 200);
  SavePlacement(window);
  IniFile ini(dir / "QC.INI");
  EXPECT_EQ(ini.ReadInteger(section(), "Left", -1), 40);
  EXPECT_EQ(ini.ReadInteger(section(), "Right", -1), 340);
  EXPECT_EQ(ini.ReadInteger(section(), "Bottom", -1), 230);
  EXPECT_EQ(ini.ReadString(section(), "Maximized", ""), "0");

  QMainWindow again;
  again.resize(100, 100);
  RestorePlacement(again);
  EXPECT_EQ(again.geometry(), QRect(40, 30, 300, 200));
  EXPECT_FALSE(again.isMaximized());
}

TEST_F(WindowPlacement, AStoredPlaceOffTheScreenIsMovedOntoIt) {
  IniFile ini(dir / "QC.INI");
  const int w = screen_.width() / 2, h = screen_.height() / 2;
  WritePlacement(ini, "QMainWindow", dpi_,
                 {screen_.width(), screen_.height(), screen_.width() + w, screen_.height() + h},
                 true);
  QMainWindow window;
  RestorePlacement(window);
  EXPECT_EQ(window.normalGeometry().size(), QSize(w, h));
  EXPECT_EQ(window.normalGeometry().topLeft(), QPoint(screen_.width() - w, screen_.height() - h));
  EXPECT_TRUE(window.windowState() & Qt::WindowMaximized);
}

TEST_F(WindowPlacement, NothingStoredCentresTheWindow) {
  QMainWindow window;
  window.resize(301, 201);
  SetMainWindow(&window);
  RestorePlacement(window);
  EXPECT_EQ(window.pos(), QPoint(screen_.left() + (screen_.width() - 301) / 2,
                                 screen_.top() + (screen_.height() - 201) / 2));

  QDialog dialog;
  dialog.resize(101, 51);
  window.setGeometry(10, 20, 400, 300);
  CenterDialog(dialog);
  EXPECT_EQ(dialog.pos(), QPoint(10 + (400 - 101) / 2, 20 + (300 - 51) / 2));
}

}  // namespace
}  // namespace qc

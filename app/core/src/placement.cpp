#include "app/placement.h"

#include "app/ini_file.h"

namespace qc {

std::string PlacementSection(const std::string& className, int dpi) {
  std::string section = className + "_Placement";
  if (dpi > 96) section += std::to_string(dpi);
  return section;
}

Rect MoveIntoScreen(Rect r, Size screen) {
  if (screen.Width < r.Right) {
    r.Left -= r.Right - screen.Width;
    r.Right = screen.Width;
  }
  if (screen.Height < r.Bottom) {
    r.Top -= r.Bottom - screen.Height;
    r.Bottom = screen.Height;
  }
  return r;
}

PlacementPlan PlanPlacement(Rect stored, bool maximized, Size screen) {
  PlacementPlan plan;
  plan.Bounds = MoveIntoScreen(stored, screen);
  plan.Center = plan.Bounds.Bottom == 0;
  plan.Maximized = maximized;
  return plan;
}

PlacementPlan ReadPlacement(const IniFile& ini, const std::string& className, int dpi,
                            Size screen, bool maximizedNow) {
  const std::string section = PlacementSection(className, dpi);
  Rect stored;
  stored.Left = ini.ReadInteger(section, "Left", 0);
  stored.Top = ini.ReadInteger(section, "Top", 0);
  stored.Right = ini.ReadInteger(section, "Right", 0);
  stored.Bottom = ini.ReadInteger(section, "Bottom", 0);
  bool maximized = ini.ReadBool(section, "Maximized", maximizedNow);
  return PlanPlacement(stored, maximized, screen);
}

void WritePlacement(IniFile& ini, const std::string& className, int dpi, Rect normal,
                    bool maximized) {
  const std::string section = PlacementSection(className, dpi);
  ini.WriteInteger(section, "Left", normal.Left);
  ini.WriteInteger(section, "Top", normal.Top);
  ini.WriteInteger(section, "Right", normal.Right);
  ini.WriteInteger(section, "Bottom", normal.Bottom);
  ini.WriteBool(section, "Maximized", maximized);
}

Point CenterDialogPosition(Size size, bool isMainWindow, bool mainMaximized, Rect mainWindow,
                           Size screen) {
  if (isMainWindow || mainMaximized)
    return {(screen.Width - size.Width) / 2, (screen.Height - size.Height) / 2};
  return {mainWindow.Left + (mainWindow.Width() - size.Width) / 2,
          mainWindow.Top + (mainWindow.Height() - size.Height) / 2};
}

}  // namespace qc

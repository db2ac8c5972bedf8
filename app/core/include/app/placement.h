// Where windows go: the stored placement of the windows that keep their
// place, and the centring of dialogs. Pure arithmetic over rectangles and
// screen sizes; the windows apply the results.
#pragma once

#include <string>

namespace qc {

class IniFile;

// A screen rectangle with an exclusive right and bottom edge (width = Right - Left).
struct Rect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

struct Size {
  int Width = 0;
  int Height = 0;
};

struct Point {
  int X = 0;
  int Y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// "<className>_Placement", followed by the dots per inch when above 96.
std::string PlacementSection(const std::string& className, int dpi);

// Moves `r` left and up until its right and bottom edges lie on the screen;
// the size never changes, so a window larger than the screen ends at a
// negative position.
Rect MoveIntoScreen(Rect r, Size screen);

struct PlacementPlan {
  bool Center = false;  // nothing stored: centre the window (CenterDialog)
  Rect Bounds;          // otherwise the window's rectangle
  bool Maximized = false;
};

// What RestorePlacement does with the stored values.
PlacementPlan PlanPlacement(Rect stored, bool maximized, Size screen);

// Reads the placement section of `className` (Left/Top/Right/Bottom default 0,
// Maximized defaulting to `maximizedNow`) and plans it for `screen`.
PlacementPlan ReadPlacement(const IniFile& ini, const std::string& className, int dpi,
                            Size screen, bool maximizedNow);
// Writes the window's normal rectangle and whether it is maximized.
// Raises EIniFileException when a key cannot be written.
void WritePlacement(IniFile& ini, const std::string& className, int dpi, Rect normal,
                    bool maximized);

// The top-left corner CenterDialog gives a window of `size`:
// the main window itself, or any dialog while the main window is maximized,
// is centred on the screen; any other dialog over the main window.
// Divisions truncate toward zero.
Point CenterDialogPosition(Size size, bool isMainWindow, bool mainMaximized, Rect mainWindow,
                           Size screen);

}  // namespace qc

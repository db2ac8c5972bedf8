// Message boxes, dialog placement, the busy pointer, the beep and the help
// window shared by every window of the program.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <string>

#include "app/window_placement.h"

namespace qc {

// Box captioned "Information" with an OK button. "\r" in a text breaks the line.
void ShowInformation(const std::string& text);
// Yes/No question, Yes the default button; true for Yes.
bool AskYesNo(const std::string& text, const std::string& caption);
// The same with No as the default button: every destructive or list-changing question.
bool AskYesNoDefaultNo(const std::string& text, const std::string& caption);
// The application's general error box, for failures no window handles itself.
void ShowErrorBox(const std::string& text);

// Runs `action`; an exception it raises ends in the general error box and the
// program goes on.
void Guarded(const std::function<void()>& action);

// CenterDialog for a dialog held by pointer.
inline void CenterDialog(QWidget* window) {
  if (window) CenterDialog(*window);
}

// The system's default beep for an action that cannot run now.
void Beep();
// Beeps sounded so far (tests read it; a headless system has no speaker).
int BeepCount();

// The hourglass pointer for the lifetime of the object, restored however the
// work ends.
class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

// Lets pending window events run.
void ProcessMessages();

// Opens the help window at a topic number (resources/help/<topic>.html).
void ShowHelpTopic(int topic);
// The open help window, or null (tests look at it).
QWidget* HelpWindow();
// The help page of a topic; empty when it is not installed.
QString HelpPage(int topic);

// Switches pop-up hints on or off for the whole program; the delay before a
// hint shows is 1200 ms.
void SetHintsEnabled(bool on);
bool HintsEnabled();

// "&Accept"-style caption with "\r" breaks turned into line breaks.
QString Q(const std::string& text);

}  // namespace qc

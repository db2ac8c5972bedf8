// Which buttons and menu items of the main window can be used, from the
// shown page, the current records and the receive state.
#pragma once

#include <string>

namespace qc {

enum class TFaxPage { fpOutgoing = 0, fpReceived = 1 };

struct ButtonInputs {
  TFaxPage page = TFaxPage::fpOutgoing;
  bool outSelected = false;    // the outgoing table has a current record
  bool recSelected = false;    // the received table has a current record
  bool inReceiveMode = false;
  bool outCoverEmpty = false;  // FAXCOVER of the current outgoing record is empty
};

struct ButtonStates {
  // The button bar. Receive and Exit are always usable.
  bool sort = true;
  bool clone = false, cloneVisible = true;
  bool forward = false, forwardVisible = false;
  bool send = false, newFax = false, addCover = false;
  bool edit = false, del = false, view = false, archive = false;
  // Menu items that are not mirrors of a button.
  bool rebuildIndexes = true, preferences = true, fileMenu = true;
  // The grids.
  bool faxGrid = false, recFaxGrid = false;
  friend bool operator==(const ButtonStates&, const ButtonStates&) = default;
};

// The enable table of SetButtons; the menu items Forward, New Cover Sheet,
// Add Cover Sheet, View/Print, Delete, Edit, Archive, Clone and Send Fax take
// the state of their buttons.
ButtonStates ComputeButtonStates(const ButtonInputs& in);

// Add Cover while the outgoing list moves: only the record counts, not the
// receive state.
inline bool AddCoverOnDataChange(bool outSelected, bool coverEmpty) {
  return outSelected && coverEmpty;
}

struct ArchiveCaption {
  std::string caption;
  std::string hint;
};
ArchiveCaption ArchiveCaptions(bool archived);

}  // namespace qc

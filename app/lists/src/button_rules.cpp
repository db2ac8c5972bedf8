#include "app/button_rules.h"

namespace qc {

ButtonStates ComputeButtonStates(const ButtonInputs& in) {
  ButtonStates s;
  s.sort = true;
  if (in.page == TFaxPage::fpOutgoing) {
    s.cloneVisible = true;
    s.clone = in.outSelected;
    s.forwardVisible = false;
    s.forward = false;
    s.send = in.outSelected && !in.inReceiveMode;
    s.newFax = true;
    s.del = s.edit = s.view = in.outSelected;
    s.addCover = in.outSelected && !in.inReceiveMode && in.outCoverEmpty;
    s.archive = s.del;
  } else {
    s.cloneVisible = false;
    s.clone = false;
    s.forwardVisible = true;
    s.forward = in.recSelected;
    s.send = s.newFax = s.addCover = false;
    s.edit = s.del = s.view = in.recSelected;
    s.archive = s.del;
  }
  s.rebuildIndexes = s.preferences = s.fileMenu = !in.inReceiveMode;
  s.faxGrid = in.outSelected;
  s.recFaxGrid = in.recSelected;
  return s;
}

ArchiveCaption ArchiveCaptions(bool archived) {
  if (archived) return {"Un&Archive", "Unarchive this fax [CTRL+A]"};
  return {"&Archive",
          "Archive this fax [CTRL+A]\r(This makes the fax invisible, but does not\rdelete it. "
          "You can view archived faxes by\rtoggling the File..Show Archived Faxes menu)"};
}

}  // namespace qc

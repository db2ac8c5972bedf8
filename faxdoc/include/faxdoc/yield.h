// The hook through which long document work (conversion, unpacking) keeps the
// user interface alive: the caller installs a callback that processes one
// pending event of its event loop.
#pragma once

#include <functional>

#include "control/error_codes.h"

namespace qc {

// Processes at most one pending event. Returns false when the program is
// quitting; the hook must keep answering false from then on (the quit request
// stays pending for the event loop), and the work in progress ends with
// ecGotQuitMsg (-1003).
using TYieldCallback = std::function<bool()>;

// Runs the hook once when one is installed: 0, or ecGotQuitMsg when quitting.
inline int ProcessPendingMessage(const TYieldCallback& hook) {
  if (hook && !hook()) return ecGotQuitMsg;
  return ecOK;
}

}  // namespace qc

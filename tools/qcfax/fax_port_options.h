// What the modem commands share: the port options (--com N | --device PATH),
// the --class values, and running a fax until it finishes or is interrupted.
#pragma once

#include <string>

#include "command.h"
#include "engine/fax_components.h"
#include "engine/owner_loop.h"
#include "serial/com_port.h"

namespace qc::qcfax {

// Points `port` at the device the options name (Com1 when neither is given).
// Returns false (after printing why) for a bad value.
bool SelectPort(TQcComPort& port, const std::string& com, const std::string& device);

// --class auto|1|2|2.0 (empty is auto); false for any other text.
bool ParseFaxClass(const std::string& text, TFaxClass& c);

// Runs the owner loop until `finished` is set. SIGINT or SIGTERM meanwhile
// aborts the fax once (it then finishes through its own abort path).
// Returns true when the run was interrupted.
bool RunUntilFinished(QueuedOwnerLoop& loop, TQcAbstractFax& fax, const bool& finished);

}  // namespace qc::qcfax

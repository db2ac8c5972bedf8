// The port options of the modem commands (--com N | --device PATH).
#pragma once

#include <string>

#include "command.h"
#include "serial/com_port.h"

namespace qc::qcfax {

// Points `port` at the device the options name (Com1 when neither is given).
// Returns false (after printing why) for a bad value.
bool SelectPort(TQcComPort& port, const std::string& com, const std::string& device);

}  // namespace qc::qcfax

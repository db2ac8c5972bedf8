// The fax session's port interface over TQcComPort.
#pragma once

#include <memory>

#include "fax_port.h"

namespace qc {

class TQcComPort;
std::shared_ptr<FaxPort> MakeComPortLink(TQcComPort& port);

}  // namespace qc

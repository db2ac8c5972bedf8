#include "fax_port_options.h"

#include "serial/port_names.h"

namespace qc::qcfax {

bool SelectPort(TQcComPort& port, const std::string& com, const std::string& device) {
  if (!device.empty()) {
    port.SetDeviceName(device);
    return true;
  }
  unsigned long n = 1;
  if (!com.empty() && !ParseCount(com, kMaxComNumber, n)) {
    FailText("--com takes a port number from 1 to " + std::to_string(kMaxComNumber));
    return false;
  }
  port.SetComNumber(static_cast<int>(n));
  return true;
}

}  // namespace qc::qcfax

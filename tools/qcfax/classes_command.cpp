// qcfax classes [--com N | --device PATH]: the fax classes the modem reports.
#include <cstdio>

#include "command.h"
#include "engine/fax_components.h"
#include "fax_port_options.h"

namespace qc::qcfax {

int Run_classes(const Args& args) {
  const ParsedArgs p = ParseArgs(args, {"com", "device"});
  if (!p.error.empty()) return FailText(p.error);
  if (!p.operands.empty()) return Usage("classes");
  std::string com, device;
  for (const auto& [name, value] : p.options) {
    if (name == "com") com = value;
    else if (name == "device") device = value;
    else return Usage("classes");
  }
  QueuedOwnerLoop loop;
  TQcComPort port;
  TQcSendFax fax(loop);
  if (!SelectPort(port, com, device)) return kExitFailed;
  fax.SetComPort(&port);
  if (const int rc = port.OpenPort(); rc != 0) return Fail(port.ResolvedDeviceName(), rc);
  const TFaxClasses found = fax.ModemClasses();
  port.ClosePort();
  if (found.Empty()) return FailText("no fax class reported by the modem on " + port.ResolvedDeviceName());
  if (found.Contains(fcClass1)) std::printf("Class 1\n");
  if (found.Contains(fcClass2)) std::printf("Class 2\n");
  if (found.Contains(fcClass2_0)) std::printf("Class 2.0\n");
  return kExitOk;
}

}  // namespace qc::qcfax

// qcfax send [options] NUMBER FILE.APF: sends one fax through the modem and
// prints each status change.
#include <cstdio>

#include "command.h"
#include "control/errors.h"
#include "engine/fax_components.h"
#include "fax_port_options.h"

namespace qc::qcfax {

int Run_send(const Args& args) {
  const ParsedArgs p = ParseArgs(args, {"com", "device", "class", "bps", "station", "header", "cover", "attempts",
                                        "retry-wait", "dial-wait", "prefix", "init", "trace"});
  if (!p.error.empty()) return FailText(p.error);
  if (p.operands.size() != 2) return Usage("send");

  QueuedOwnerLoop loop;
  TQcComPort port;
  TQcSendFax fax(loop);
  std::string com, device, trace;
  for (const auto& [name, value] : p.options) {
    unsigned long n = 0;
    if (name == "com") com = value;
    else if (name == "device") device = value;
    else if (name == "trace") trace = value;
    else if (name == "class") {
      TFaxClass c = fcUnknown;
      if (!ParseFaxClass(value, c)) return FailText("--class takes auto, 1, 2 or 2.0");
      fax.SetFaxClass(c);
    } else if (name == "bps") {
      if (!ParseCount(value, 14400, n) || n < 2400) return FailText("--bps takes a rate from 2400 to 14400");
      fax.SetDesiredBPS(static_cast<uint16_t>(n));
    } else if (name == "station") fax.SetStationID(value);
    else if (name == "header") fax.SetHeaderLine(value);
    else if (name == "cover") fax.SetCoverFile(value);
    else if (name == "attempts") {
      if (value == "0") n = 0;
      else if (!ParseCount(value, 65535, n)) return FailText("--attempts takes a number (0 = no limit)");
      fax.SetDialAttempts(static_cast<uint16_t>(n));
    } else if (name == "retry-wait" || name == "dial-wait") {
      if (!ParseCount(value, 3600, n)) return FailText("--" + name + " takes seconds from 1 to 3600");
      if (name == "retry-wait") fax.SetDialRetryWait(static_cast<uint16_t>(n));
      else fax.SetDialWait(static_cast<uint16_t>(n));
    } else if (name == "prefix") fax.SetDialPrefix(value);
    else if (name == "pulse") fax.SetToneDial(false);
    else if (name == "blind") fax.SetBlindDial(true);
    else if (name == "init") fax.SetModemInit(value);
    else return Usage("send");
  }
  if (!SelectPort(port, com, device)) return kExitFailed;
  fax.SetPhoneNumber(p.operands[0]);
  fax.SetFaxFile(p.operands[1]);

  if (!trace.empty()) {
    port.SetTraceName(trace);
    port.SetTracing(tlOn);
  }
  fax.SetComPort(&port);
  if (const int rc = port.OpenPort(); rc != 0) return Fail(port.ResolvedDeviceName(), rc);

  int lastStatus = -1;
  bool finished = false;
  int result = 0;
  fax.OnFaxStatus = [&](TQcAbstractFax& f, bool, bool) {
    if (f.ProgressCode() == lastStatus) return;
    lastStatus = f.ProgressCode();
    std::printf("%s  page %d/%d  bytes %d  remote \"%s\"\n", f.ProgressText(lastStatus).c_str(), f.PageNumber(),
                f.DocumentPages(), f.PageBytes(), f.RemoteStationID().c_str());
    std::fflush(stdout);
  };
  fax.OnFaxFinish = [&](TQcAbstractFax&, int code) {
    result = code;
    finished = true;
  };

  fax.BeginTransmit();
  RunUntilFinished(loop, fax, finished);
  port.ClosePort();  // writes the trace

  if (result == 0) {
    std::printf("Sent\n");
    return kExitOk;
  }
  const std::string text = ErrorText(result);
  std::printf("%s\n", text.empty() ? ("error " + std::to_string(result)).c_str() : text.c_str());
  return kExitFailed;
}

}  // namespace qc::qcfax

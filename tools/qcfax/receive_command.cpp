// qcfax receive [options]: waits for calls, answers them and stores each fax
// as an APF file; prints each status change and one line per received file.
#include <cstdio>

#include "command.h"
#include "control/error_codes.h"
#include "control/errors.h"
#include "engine/fax_components.h"
#include "fax_port_options.h"
#include "faxdoc/apf.h"

namespace qc::qcfax {

namespace {

// "Received NAME  pages N  remote "ID"" (with "(incomplete)" for a call that
// failed after its file was made).
void PrintFile(const std::string& name, const std::string& remoteId, bool complete) {
  TApfFileHeader header;
  const int rc = ReadApfHeader(name, header);
  std::printf("Received%s %s  pages %d  remote \"%s\"\n", complete ? "" : " (incomplete)", name.c_str(),
              rc == 0 ? static_cast<int>(header.PageCount) : 0, remoteId.c_str());
  std::fflush(stdout);
}

}  // namespace

int Run_receive(const Args& args) {
  const ParsedArgs p = ParseArgs(args, {"com", "device", "class", "rings", "station", "dir", "trace"});
  if (!p.error.empty()) return FailText(p.error);
  if (!p.operands.empty()) return Usage("receive");

  QueuedOwnerLoop loop;
  TQcComPort port;
  TQcReceiveFax fax(loop);
  std::string com, device, trace;
  bool one = false;
  for (const auto& [name, value] : p.options) {
    unsigned long n = 0;
    if (name == "com") com = value;
    else if (name == "device") device = value;
    else if (name == "trace") trace = value;
    else if (name == "class") {
      TFaxClass c = fcUnknown;
      if (!ParseFaxClass(value, c)) return FailText("--class takes auto, 1, 2 or 2.0");
      fax.SetFaxClass(c);
    } else if (name == "rings") {
      if (!ParseCount(value, 255, n)) return FailText("--rings takes a number from 1 to 255");
      fax.SetAnswerOnRing(static_cast<uint16_t>(n));
    } else if (name == "station") fax.SetStationID(value);
    else if (name == "dir") fax.SetDestinationDir(value);
    else if (name == "one") one = true;
    else return Usage("receive");
  }
  if (!SelectPort(port, com, device)) return kExitFailed;
  // With --one any end of the first call ends the command, a failed one too.
  fax.SetOneFax(one);
  fax.SetExitOnError(one);
  // The waiting between calls is shown as well.
  fax.SetConstantStatus(true);

  if (!trace.empty()) {
    port.SetTraceName(trace);
    port.SetTracing(tlOn);
  }
  fax.SetComPort(&port);
  if (const int rc = port.OpenPort(); rc != 0) return Fail(port.ResolvedDeviceName(), rc);

  int lastStatus = -1;
  bool finished = false;
  int result = 0;
  int failedCalls = 0;
  fax.OnFaxStatus = [&](TQcAbstractFax& f, bool, bool) {
    if (f.ProgressCode() == lastStatus || f.ProgressCode() == 0) return;
    lastStatus = f.ProgressCode();
    std::printf("%s  page %d  bytes %d  remote \"%s\"\n", f.ProgressText(lastStatus).c_str(), f.PageNumber(),
                f.PageBytes(), f.RemoteStationID().c_str());
    std::fflush(stdout);
  };
  fax.OnFaxLog = [&](TQcAbstractFax& f, int code) {
    // The file name is still set while the log event runs.
    if (code == lcReceiveFinished) PrintFile(f.FaxFile(), f.RemoteStationID(), true);
    if (code == lcReceiveFailed) {
      ++failedCalls;
      PrintFile(f.FaxFile(), f.RemoteStationID(), false);
    }
    if (code == lcReceiveSkipped) {
      std::printf("Skipped call from \"%s\"\n", f.RemoteStationID().c_str());
      std::fflush(stdout);
    }
  };
  fax.OnFaxFinish = [&](TQcAbstractFax&, int code) {
    result = code;
    finished = true;
  };

  fax.BeginReceive();
  const bool abortSent = RunUntilFinished(loop, fax, finished);
  port.ClosePort();  // writes the trace

  if (result == 0 || (abortSent && result == ecCancelRequested)) {
    std::printf("%s\n", abortSent ? "Stopped" : "Done");
    // A call cut by the stop still counts as failed.
    return failedCalls == 0 ? kExitOk : kExitFailed;
  }
  const std::string text = ErrorText(result);
  std::printf("%s\n", text.empty() ? ("error " + std::to_string(result)).c_str() : text.c_str());
  return kExitFailed;
}

}  // namespace qc::qcfax

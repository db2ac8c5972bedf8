// One whole call: our TQcSendFax on a real serial port opened on the line's
// soft modem, the far fax terminal receiving into a TIFF file. Records what
// the component reported; the line's report holds what the terminal saw.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/fax_components.h"
#include "line_sim.h"
#include "serial/com_port.h"
#include "support/test_pages.h"

namespace qc::linesim {

struct SendCall {
  explicit SendCall(LineConfig config) : line(InDir(std::move(config), dir)), fax(loop) {
    port.SetDeviceName(line.OurDevice());
    fax.SetComPort(&port);
    history.SetFaxHistoryName(dir.Path("QCFAX.HIS"));
    fax.SetFaxLog(&history);
    fax.SetFaxClass(fcClass1);
    fax.OnFaxError = [this](TQcAbstractFax&, int code) { errors.push_back(code); };
    fax.OnFaxLog = [this](TQcAbstractFax&, int code) { logs.push_back(code); };
    fax.OnFaxFinish = [this](TQcAbstractFax&, int code) {
      finishCode = code;
      finished = true;
    };
    // The engine logs from the port's threads as well.
    fax.OnEngineLog = [this](std::string_view text) {
      std::lock_guard<std::mutex> lock(logMutex);
      engineLog.emplace_back(text);
    };
  }
  static LineConfig InDir(LineConfig config, const test::TempDir& dir) {
    if (config.terminal.tiffPath.empty()) config.terminal.tiffPath = dir.Path("received.tif");
    return config;
  }
  ~SendCall() { port.ClosePort(); }

  // Sends, waits for the finish event and for the line to see the call end.
  bool Run(std::chrono::milliseconds limit = std::chrono::minutes(5)) {
    if (port.OpenPort() != 0) return false;
    fax.BeginTransmit();
    const bool done = loop.RunUntil([this] { return finished; }, limit);
    port.ClosePort();
    line.WaitCallEnd(std::chrono::seconds(10));
    return done;
  }

  // The line's log and the engine's, for a failure message.
  std::string Diagnostics() const {
    std::string text = "--- line ---\n" + line.LogText() + "--- engine ---\n";
    std::lock_guard<std::mutex> lock(logMutex);
    for (const std::string& l : engineLog) text += l + '\n';
    return text;
  }

  test::TempDir dir;
  LineSim line;
  QueuedOwnerLoop loop;
  TQcComPort port;
  TQcFaxLog history;
  TQcSendFax fax;
  std::vector<int> errors, logs;
  mutable std::mutex logMutex;
  std::vector<std::string> engineLog;
  bool finished = false;
  int finishCode = 1;
};

}  // namespace qc::linesim

// Our TQcReceiveFax (Class 1) waiting for calls on the line's soft modem; the
// caller is the far fax terminal sending a TIFF file, or our own TQcSendFax
// on the second soft modem. Records what both components reported.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/fax_components.h"
#include "line_sim.h"
#include "serial/com_port.h"
#include "support/test_pages.h"

namespace qc::linesim {

struct ReceiveCall {
  explicit ReceiveCall(LineConfig config) : line(InDir(std::move(config), dir)), fax(loop), sender(loop) {
    port.SetDeviceName(line.OurDevice());
    fax.SetComPort(&port);
    fax.SetFaxClass(fcClass1);
    fax.SetDestinationDir(dir.Path("rx"));
    std::filesystem::create_directories(dir.Path("rx"));
    fax.OnFaxError = [this](TQcAbstractFax&, int code) { errors.push_back(code); };
    fax.OnFaxLog = [this](TQcAbstractFax&, int code) { logs.push_back(code); };
    fax.OnFaxFinish = [this](TQcAbstractFax&, int code) {
      finishCode = code;
      finished = true;
    };
    fax.OnEngineLog = [this](std::string_view text) { Trace("rx: ", text); };
    if (!line.FarDevice().empty()) {
      senderPort.SetDeviceName(line.FarDevice());
      sender.SetComPort(&senderPort);
      sender.SetFaxClass(fcClass1);
      sender.OnFaxFinish = [this](TQcAbstractFax&, int code) {
        senderFinishCode = code;
        senderFinished = true;
      };
      sender.OnEngineLog = [this](std::string_view text) { Trace("tx: ", text); };
    }
  }
  // The terminal reads its TIFF only when it calls: tests write it to
  // TiffPath() after construction.
  static LineConfig InDir(LineConfig config, const test::TempDir& dir) {
    if (config.terminal.tiffPath.empty()) config.terminal.tiffPath = dir.Path("send.tif");
    return config;
  }
  std::string TiffPath() const { return dir.Path("send.tif"); }
  std::string RxPath(const std::string& name) const { return dir.Path("rx/" + name); }

  ~ReceiveCall() {
    senderPort.ClosePort();
    port.ClosePort();
  }

  void Trace(const char* who, std::string_view text) {
    std::lock_guard<std::mutex> lock(logMutex);
    engineLog.push_back(who + std::string(text));
  }

  // Opens our port and starts receiving; true once the engine waits for a call.
  bool Begin() {
    if (port.OpenPort() != 0) return false;
    fax.BeginReceive();
    return WaitForCallState();
  }
  // The engine reports its waiting between calls only with ConstantStatus,
  // so its progress code is looked at.
  bool WaitForCallState(std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      loop.RunUntil([this] { return finished; }, std::chrono::milliseconds(100));
      if (finished) return false;
      if (fax.ProgressCode() == fsWaitingForCall) return true;
    }
    return false;
  }
  // Runs the owner loop until `done` or `limit`.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::minutes(5)) {
    return loop.RunUntil(done, limit);
  }

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
  TQcReceiveFax fax;
  TQcComPort senderPort;
  TQcSendFax sender;
  std::vector<int> errors, logs;
  bool finished = false;
  int finishCode = 1;
  bool senderFinished = false;
  int senderFinishCode = 1;
  mutable std::mutex logMutex;
  std::vector<std::string> engineLog;
};

}  // namespace qc::linesim

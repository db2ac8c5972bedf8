// A send component wired to a Class 2 / 2.0 modem emulator over a simulated
// line, with everything it reports recorded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "class2_modem.h"
#include "engine/fax_components.h"
#include "engine/owner_loop.h"
#include "sim_line.h"

namespace qc::test {

struct SendRig {
  explicit SendRig(Class2Script script)
      : modem(std::move(script)), line(std::make_shared<SimLine>(modem)), fax(loop) {
    fax.SetPortLink(line);
    line->onStep = [this] { loop.ProcessPending(); };
    fax.OnFaxStatus = [this](TQcAbstractFax& f, bool first, bool last) {
      statuses.push_back(f.ProgressCode());
      if (first) ++firsts;
      if (last) ++lasts;
      if (onStatus) onStatus(f);
    };
    fax.OnFaxError = [this](TQcAbstractFax&, int code) { errors.push_back(code); };
    fax.OnFaxLog = [this](TQcAbstractFax&, int code) { logs.push_back(code); };
    fax.OnFaxFinish = [this](TQcAbstractFax&, int code) {
      finished = true;
      finishCode = code;
    };
    fax.OnEngineLog = [this](std::string_view text) { trace.emplace_back(text); };
  }

  // Starts the component and runs the line until the finish event.
  bool Run(int64_t limitMs = 30 * 60 * 1000) {
    fax.BeginTransmit();
    return line->RunUntil([this] { return finished; }, limitMs);
  }

  bool SawStatus(int code) const {
    for (int s : statuses)
      if (s == code) return true;
    return false;
  }
  bool SentCommand(const std::string& cmd) const {
    for (const std::string& c : modem.Commands())
      if (c == cmd) return true;
    return false;
  }
  int CountCommands(const std::string& prefix) const {
    int n = 0;
    for (const std::string& c : modem.Commands()) n += c.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }

  QueuedOwnerLoop loop;
  Class2Modem modem;
  std::shared_ptr<SimLine> line;
  TQcSendFax fax;
  std::vector<int> statuses, errors, logs;
  std::vector<std::string> trace;
  std::function<void(TQcAbstractFax&)> onStatus;
  int firsts = 0, lasts = 0;
  bool finished = false;
  int finishCode = 1;
};

}  // namespace qc::test

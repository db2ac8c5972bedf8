// A send component wired to the scripted Class 1 modem over a simulated
// line, with everything it reports recorded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "class1_modem.h"
#include "engine/fax_components.h"
#include "engine/owner_loop.h"
#include "sim_line.h"

namespace qc::test {

struct Class1Rig {
  explicit Class1Rig(std::vector<Step> steps, Class1Setup setup = {})
      : modem(std::move(steps), std::move(setup)), line(std::make_shared<SimLine>(modem)), fax(loop) {
    fax.SetPortLink(line);
    line->onStep = [this] { loop.ProcessPending(); };
    fax.OnFaxStatus = [this](TQcAbstractFax& f, bool, bool) { statuses.push_back(f.ProgressCode()); };
    fax.OnFaxError = [this](TQcAbstractFax&, int code) { errors.push_back(code); };
    fax.OnFaxLog = [this](TQcAbstractFax&, int code) { logs.push_back(code); };
    fax.OnFaxFinish = [this](TQcAbstractFax&, int code) {
      finished = true;
      finishCode = code;
    };
    fax.OnEngineLog = [this](std::string_view text) { trace.emplace_back(text); };
  }

  bool Run(int64_t limitMs = 30 * 60 * 1000) {
    fax.BeginTransmit();
    return line->RunUntil([this] { return finished; }, limitMs);
  }

  bool SawStatus(int code) const {
    for (int s : statuses)
      if (s == code) return true;
    return false;
  }
  int CountActions(const std::string& action) const {
    int n = 0;
    for (const std::string& a : modem.Actions()) n += a == action ? 1 : 0;
    return n;
  }
  std::string Trace() const {
    std::string text = modem.Transcript();
    for (const std::string& t : trace) text += "    " + t + "\n";
    return text;
  }

  QueuedOwnerLoop loop;
  Class1Modem modem;
  std::shared_ptr<SimLine> line;
  TQcSendFax fax;
  std::vector<int> statuses, errors, logs;
  std::vector<std::string> trace;
  bool finished = false;
  int finishCode = 1;
};

}  // namespace qc::test

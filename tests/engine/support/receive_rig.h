// A receive component wired to a Class 2 / 2.0 modem emulator over a
// simulated line, with everything it reports recorded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "class2_modem.h"
#include "engine/fax_components.h"
#include "engine/owner_loop.h"
#include "test_pages.h"
#include "sim_line.h"

namespace qc::test {

struct ReceiveRig {
  explicit ReceiveRig(Class2Script script)
      : modem(std::move(script)), line(std::make_shared<SimLine>(modem)), fax(loop) {
    fax.SetPortLink(line);
    fax.SetFaxClass(modem.Dialect());
    line->onStep = [this] { loop.ProcessPending(); };
    fax.OnFaxStatus = [this](TQcAbstractFax& f, bool first, bool last) {
      statuses.push_back(f.ProgressCode());
      if (first) ++firsts;
      if (last) ++lasts;
    };
    fax.OnFaxError = [this](TQcAbstractFax&, int code) { errors.push_back(code); };
    fax.OnFaxLog = [this](TQcAbstractFax& f, int code) {
      logs.push_back(code);
      if (code == 4) files.push_back(f.FaxFile());
    };
    fax.OnFaxFinish = [this](TQcAbstractFax&, int code) {
      finished = true;
      finishCode = code;
    };
    fax.OnEngineLog = [this](std::string_view text) { trace.emplace_back(text); };
  }

  void Begin() { fax.BeginReceive(); }
  // Runs the line until `done` (or the finish event) or `limitMs`.
  bool RunUntil(const std::function<bool()>& done, int64_t limitMs = 10 * 60 * 1000) {
    return line->RunUntil([&] { return finished || done(); }, limitMs);
  }
  bool Run(int64_t limitMs = 10 * 60 * 1000) {
    Begin();
    return line->RunUntil([this] { return finished; }, limitMs);
  }
  size_t CountLogs(int code) const {
    size_t n = 0;
    for (int l : logs) n += l == code ? 1 : 0;
    return n;
  }
  std::string Trace() const {
    std::string all;
    for (const auto& t : trace) all += "  " + t + "\n";
    return all;
  }

  QueuedOwnerLoop loop;
  Class2Modem modem;
  std::shared_ptr<SimLine> line;
  TQcReceiveFax fax;
  std::vector<int> statuses, errors, logs;
  std::vector<std::string> files;  // FaxFile at each log 4
  std::vector<std::string> trace;
  int firsts = 0, lasts = 0;
  bool finished = false;
  int finishCode = 1;
};


}  // namespace qc::test

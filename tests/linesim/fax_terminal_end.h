// A spandsp T.30 fax terminal as the far end: it answers after its rings and
// receives into a TIFF file, or calls and sends one. Each call gets a fresh
// terminal; what it reports at the end of each page and of the call is kept
// for the call's report.
#pragma once

#include <vector>

#include "line_end.h"
#include "spandsp_log.h"

struct fax_state_s;
struct t30_state_s;

namespace qc::linesim {

class FaxTerminalEnd final : public LineEnd {
 public:
  FaxTerminalEnd(std::string name, LineEvents& events, TerminalConfig config, bool spandspLog);
  ~FaxTerminalEnd() override;

  const TerminalConfig& Config() const { return config_; }

  void Tx(int16_t* amp, int n) override;
  void Rx(int16_t* amp, int n) override;

  void Ring() override;
  void Connect(bool answered) override;
  void Drop() override;
  void Busy() override;
  void NoAnswer() override;
  bool Finished() const override { return finished_; }
  void AddResults(CallReport& report) const override;

  // spandsp call-backs.
  void PhaseE(t30_state_s* t30, int completion);
  void PhaseD(t30_state_s* t30);
  void FrameSeen(bool incoming, const uint8_t* msg, int len);

 private:
  void Capture(t30_state_s* t30);
  void Release();

  TerminalConfig config_;
  bool spandspLog_;
  fax_state_s* fax_ = nullptr;
  int rings_ = 0;
  bool finished_ = false;
  // Results of the current call.
  int completion_ = -1;
  std::string remoteId_;
  int bitRate_ = 0, xRes_ = 0, yRes_ = 0, width_ = 0, pagesRx_ = 0, pagesTx_ = 0;
  std::vector<TerminalPage> pages_;
  SpandspLogFn spandspSink_ = [this](const std::string& s) { Log("spandsp: " + s); };
};

}  // namespace qc::linesim

#include "fax_terminal_end.h"

#include <spandsp.h>

#include <algorithm>

namespace qc::linesim {

namespace {
void PhaseEThunk(t30_state_t* s, void* user, int completion) {
  static_cast<FaxTerminalEnd*>(user)->PhaseE(s, completion);
}

int PhaseDThunk(t30_state_t* s, void* user, int) {
  static_cast<FaxTerminalEnd*>(user)->PhaseD(s);
  return T30_ERR_OK;
}

void FrameThunk(t30_state_t*, void* user, int direction, const uint8_t msg[], int len) {
  static_cast<FaxTerminalEnd*>(user)->FrameSeen(direction != 0, msg, len);
}
}  // namespace

FaxTerminalEnd::FaxTerminalEnd(std::string name, LineEvents& events, TerminalConfig config, bool spandspLog)
    : LineEnd(std::move(name), events), config_(std::move(config)), spandspLog_(spandspLog) {}

FaxTerminalEnd::~FaxTerminalEnd() { Release(); }

void FaxTerminalEnd::Release() {
  SpandspLogScope scope(&spandspSink_);
  if (fax_ != nullptr) fax_free(fax_);
  fax_ = nullptr;
}

void FaxTerminalEnd::Tx(int16_t* amp, int n) {
  int made = 0;
  if (fax_ != nullptr) {
    SpandspLogScope scope(&spandspSink_);
    made = std::max(fax_tx(fax_, amp, n), 0);
  }
  std::fill(amp + made, amp + n, int16_t{0});
}

void FaxTerminalEnd::Rx(int16_t* amp, int n) {
  if (fax_ == nullptr) return;
  SpandspLogScope scope(&spandspSink_);
  fax_rx(fax_, amp, n);
}

void FaxTerminalEnd::Ring() {
  ++rings_;
  Log("rings (" + std::to_string(rings_) + ")");
  if (rings_ >= config_.answerAfterRings) events_.Answer(*this);
}

void FaxTerminalEnd::Connect(bool answered) {
  SpandspLogScope scope(&spandspSink_);
  Release();
  rings_ = 0;
  finished_ = false;
  completion_ = -1;
  remoteId_.clear();
  bitRate_ = xRes_ = yRes_ = width_ = pagesRx_ = pagesTx_ = 0;
  pages_.clear();

  fax_ = fax_init(nullptr, answered ? 0 : 1);
  fax_set_transmit_on_idle(fax_, 1);
  t30_state_t* t30 = fax_get_t30_state(fax_);
  RouteSpandspLog(fax_get_logging_state(fax_), spandspLog_);
  RouteSpandspLog(t30_get_logging_state(t30), spandspLog_);
  t30_set_tx_ident(t30, config_.stationId.c_str());
  int modems = 0;
  if (config_.v27ter) modems |= T30_SUPPORT_V27TER;
  if (config_.v29) modems |= T30_SUPPORT_V29;
  if (config_.v17) modems |= T30_SUPPORT_V17;
  t30_set_supported_modems(t30, modems);
  int resolutions = T30_SUPPORT_STANDARD_RESOLUTION;
  if (config_.fine) resolutions |= T30_SUPPORT_FINE_RESOLUTION;
  if (config_.superfine) resolutions |= T30_SUPPORT_SUPERFINE_RESOLUTION;
  t30_set_supported_resolutions(t30, resolutions);
  int sizes = T30_SUPPORT_215MM_WIDTH | T30_SUPPORT_UNLIMITED_LENGTH | T30_SUPPORT_A4_LENGTH |
              T30_SUPPORT_B4_LENGTH | T30_SUPPORT_US_LETTER_LENGTH | T30_SUPPORT_US_LEGAL_LENGTH;
  if (config_.wide) sizes |= T30_SUPPORT_255MM_WIDTH;
  t30_set_supported_image_sizes(t30, sizes);
  t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION |
                                          (config_.twoD ? T30_SUPPORT_T4_2D_COMPRESSION : 0));
  t30_set_ecm_capability(t30, config_.ecm ? 1 : 0);
  if (config_.role == TerminalRole::Receive) {
    t30_set_rx_file(t30, config_.tiffPath.c_str(), -1);
  } else {
    t30_set_tx_file(t30, config_.tiffPath.c_str(), -1, -1);
  }
  t30_set_phase_e_handler(t30, PhaseEThunk, this);
  t30_set_phase_d_handler(t30, PhaseDThunk, this);
  t30_set_real_time_frame_handler(t30, FrameThunk, this);
  Log(std::string("terminal starts, ") + (answered ? "answering" : "calling") + ", " +
      (config_.role == TerminalRole::Receive ? "receiving into " : "sending ") + config_.tiffPath);
}

void FaxTerminalEnd::Drop() {
  if (fax_ != nullptr && !finished_) {
    SpandspLogScope scope(&spandspSink_);
    Log("line dropped under the terminal");
    t30_terminate(fax_get_t30_state(fax_));
  }
  // Closes the TIFF file, so that it is complete once the call has ended.
  Release();
}

void FaxTerminalEnd::Busy() { Log("busy"); }
void FaxTerminalEnd::NoAnswer() { Log("no answer"); }

void FaxTerminalEnd::Capture(t30_state_t* t30) {
  t30_stats_t stats{};
  t30_get_transfer_statistics(t30, &stats);
  const int done = std::max(stats.pages_rx, stats.pages_tx);
  while (static_cast<int>(pages_.size()) < done) {
    TerminalPage page;
    page.bitRate = stats.bit_rate;
    page.xResolution = stats.x_resolution;
    page.yResolution = stats.y_resolution;
    page.width = stats.width;
    page.length = stats.length;
    page.badRows = stats.bad_rows;
    pages_.push_back(page);
  }
  bitRate_ = stats.bit_rate;
  xRes_ = stats.x_resolution;
  yRes_ = stats.y_resolution;
  width_ = stats.width;
  pagesRx_ = stats.pages_rx;
  pagesTx_ = stats.pages_tx;
  if (const char* id = t30_get_rx_ident(t30)) remoteId_ = id;
}

void FaxTerminalEnd::PhaseD(t30_state_t* t30) { Capture(t30); }

void FaxTerminalEnd::PhaseE(t30_state_t* t30, int completion) {
  Capture(t30);
  completion_ = completion;
  finished_ = true;
  Log("terminal finished: " + std::to_string(completion) + " " + t30_completion_code_to_str(completion) +
      ", remote \"" + remoteId_ + "\", " + std::to_string(bitRate_) + " bit/s, pages rx " +
      std::to_string(pagesRx_) + " tx " + std::to_string(pagesTx_));
}

void FaxTerminalEnd::FrameSeen(bool incoming, const uint8_t* msg, int len) {
  events_.Frame(*this, !incoming, msg, len);
}

void FaxTerminalEnd::AddResults(CallReport& report) const {
  report.completionCode = completion_;
  report.completionText = completion_ >= 0 ? t30_completion_code_to_str(completion_) : "";
  report.remoteId = remoteId_;
  report.bitRate = bitRate_;
  report.xResolution = xRes_;
  report.yResolution = yRes_;
  report.width = width_;
  report.pagesReceived = pagesRx_;
  report.pagesSent = pagesTx_;
  report.pages = pages_;
  report.tiffPath = config_.tiffPath;
}

}  // namespace qc::linesim

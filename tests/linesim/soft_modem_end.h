// A spandsp T.31 soft fax modem served on the master side of a pseudo-
// terminal. The program under test opens the slave as its modem. Closing the
// slave (the only "DTR drop" a pseudo-terminal has) resets the modem; nothing
// is written to a closed slave, so a RING reaches only a program that has the
// port open. While the modem's transmit buffer is full the pseudo-terminal is
// not read (and with xonXoff an XOFF is sent), as a modem's flow control
// would hold the program back.
#pragma once

#include <string>

#include "dte_stream.h"
#include "line_end.h"
#include "spandsp_log.h"

struct t31_state_s;

namespace qc::linesim {

class SoftModemEnd final : public LineEnd {
 public:
  // Throws std::runtime_error when no pseudo-terminal can be had.
  SoftModemEnd(std::string name, LineEvents& events, std::string link, bool xonXoff, bool spandspLog);
  ~SoftModemEnd() override;

  // The slave's path, or the link to it.
  std::string Device() const { return link_.empty() ? slavePath_ : link_; }
  bool PortOpen() const { return portOpen_; }

  void Tx(int16_t* amp, int n) override;
  void Rx(int16_t* amp, int n) override;
  void Service() override;
  int PollFd() const override;
  short PollEvents() const override;

  void Ring() override;
  void Connect(bool answered) override;
  void Drop() override;
  void Busy() override;
  void NoAnswer() override;

  // Page data bytes the program sent in its current (or last) transmission.
  long ProgramDataBytes() const { return stream_.ProgramDataBytes(); }

  // spandsp call-backs.
  int AtTx(const uint8_t* buf, size_t len);
  int ModemControl(int op, const char* num);

 private:
  void CreateModem();
  void FreeModem();
  void Flush();
  void ReadProgram();
  void QueueToProgram(const uint8_t* buf, size_t len);

  std::string slavePath_;
  std::string link_;
  int master_ = -1;
  bool xonXoff_;
  bool spandspLog_;
  bool portOpen_ = false;
  bool holding_ = false;  // the modem's buffer is full
  t31_state_s* t31_ = nullptr;
  std::string toProgram_;
  SpandspLogFn spandspSink_ = [this](const std::string& s) { Log("spandsp: " + s); };
  DteStream stream_;
};

}  // namespace qc::linesim

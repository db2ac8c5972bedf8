// A virtual telephone line for whole-call tests: spandsp's T.31 soft fax
// modem (Class 1) served on a pseudo-terminal is the modem our engine opens;
// the far end is either a spandsp T.30 fax terminal (answering and receiving
// into a TIFF file, or calling and sending one) or a second soft modem on a
// second pseudo-terminal. The ends hear each other's audio, 160 samples per
// 20 ms step in real time, with a one-way delay.
//
// Everything spandsp does runs on the line's own thread; the methods below
// may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qc::linesim {

enum class FarKind {
  Terminal,   // a spandsp T.30 fax terminal
  SoftModem,  // a second T.31 soft modem on its own pseudo-terminal
};

enum class TerminalRole {
  Receive,  // answers our call and writes what it receives to `tiffPath`
  Send,     // calls us (PlaceCall) and sends `tiffPath`
};

// What the far terminal is and offers in its DIS.
struct TerminalConfig {
  TerminalRole role = TerminalRole::Receive;
  std::string stationId = "LINESIM";
  std::string tiffPath;  // written (Receive) or read (Send)
  // Modems offered: V.27 ter (2400/4800), V.29 (7200/9600), V.17 (up to 14400).
  bool v27ter = true;
  bool v29 = true;
  bool v17 = true;
  bool fine = true;       // 7.7 lines/mm besides standard
  bool superfine = false;
  bool wide = false;      // 255 mm (2048 pixel) lines besides 215 mm
  bool twoD = false;      // offer T.4 two-dimensional coding besides MH
  bool ecm = false;
  int answerAfterRings = 1;  // rings the terminal lets pass before it answers
};

struct LineConfig {
  FarKind far = FarKind::Terminal;
  TerminalConfig terminal;
  // Self-check of the line: our end is a second fax terminal instead of the
  // soft modem (there is no device then).
  bool ourTerminal = false;
  TerminalConfig ourTerminalConfig;
  // Optional symbolic links made to the pseudo-terminals (removed again), so
  // that a fixed device name can be given to a program.
  std::string ourLink;
  std::string farLink;
  int delayMs = 50;           // one way
  int ringIntervalMs = 4000;  // from one RING to the next
  int maxRings = 10;          // the caller gives up after these (NO ANSWER)
  // Soft modem ends: besides no longer reading the pseudo-terminal while the
  // modem's transmit buffer is full, send XOFF / XON to the program.
  bool xonXoff = false;
  // When the far terminal has finished its call, the line drops after this
  // long unless our end hung up first.
  int farHangupGraceMs = 3000;
  // Cut the line once this many pages were confirmed (MCF seen on the line)
  // and then `cutDelayMs` more have passed; -1 = never.
  int cutAfterPages = -1;
  int cutDelayMs = 0;
  bool spandspLog = false;  // add spandsp's own protocol log to the log
  std::string logPath;      // also append every log line to this file
};

// One HDLC frame as an end saw it.
struct FrameRecord {
  int64_t ms = 0;      // since the line started
  std::string end;     // "our", "far"
  bool sent = false;   // sent by that end (else received)
  std::string name;    // "DIS", "DCS", "MCF" ...
  // Address, control, FCF, info; a frame a soft modem delivered to its
  // program also carries the two FCS octets the modem passes on.
  std::vector<uint8_t> bytes;
};

// A page as the far terminal reports it at the end of the page.
struct TerminalPage {
  int bitRate = 0;
  int xResolution = 0;  // pixels per metre
  int yResolution = 0;  // 3850 standard, 7700 fine
  int width = 0;        // pixels
  int length = 0;       // rows
  int badRows = 0;
};

struct CallReport {
  bool connected = false;
  bool ended = false;
  std::string endReason;  // "our end hung up", "far end hung up", "far end finished", "cut", "no answer", "port closed"
  // Far terminal only.
  int completionCode = -1;  // T.30 completion code (0 = OK)
  std::string completionText;
  std::string remoteId;     // the identifier our end sent (TSI or CSI)
  int bitRate = 0;
  int xResolution = 0;
  int yResolution = 0;
  int width = 0;
  int pagesReceived = 0;
  int pagesSent = 0;
  std::vector<TerminalPage> pages;
  std::string tiffPath;
  // Every frame of the call, both ends.
  std::vector<FrameRecord> frames;
  // The DCS frames the far end saw (terminal) or the receiving end got.
  std::vector<std::vector<uint8_t>> dcs;
};

class LineSim {
 public:
  // Opens the pseudo-terminals and starts the line's thread. Throws
  // std::runtime_error when that cannot be done.
  explicit LineSim(LineConfig config);
  ~LineSim();
  LineSim(const LineSim&) = delete;
  LineSim& operator=(const LineSim&) = delete;

  // The device our engine opens (the link when one was asked for).
  std::string OurDevice() const;
  // The second soft modem's device (FarKind::SoftModem), else empty.
  std::string FarDevice() const;

  // The far terminal (TerminalRole::Send) calls our end: rings it until its
  // modem answers or `maxRings` have gone by. With a terminal at our end,
  // that terminal calls the far end.
  void PlaceCall();
  // Drops the line now, in both directions (a cut).
  void Cut();
  // Changes cutAfterPages / cutDelayMs for the calls that follow.
  void SetCut(int afterPages, int delayMs);

  // Whether a program has our end's device open (a RING reaches only such).
  bool OurPortOpen() const;
  bool WaitOurPortOpen(std::chrono::milliseconds limit) const;
  // Waits until `calls` calls (connected or not) have ended.
  bool WaitCallsEnded(int calls, std::chrono::milliseconds limit) const;
  bool WaitCallEnd(std::chrono::milliseconds limit) const { return WaitCallsEnded(1, limit); }
  int CallsEnded() const;
  // Ringing or connected.
  bool CallInProgress() const;

  // The call in progress or the last one; reports of every call so far.
  CallReport Report() const;
  std::vector<CallReport> Reports() const;

  // The log: AT dialogue of each soft modem end (commands, responses,
  // frames, page data byte counts), frames the terminal saw, call events.
  std::vector<std::string> Log() const;
  std::string LogText() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// The T.30 completion code's text, as spandsp names it.
std::string CompletionText(int code);

}  // namespace qc::linesim

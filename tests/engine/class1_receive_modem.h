// An answering Class 1 fax modem (T.31 command set) as the host sees it,
// with the calling station behind it played from a script.
//
// The modem side is fixed behaviour: RING while the line rings, "ATA" and
// "AT+FTH=3" give CONNECT and take HDLC frames from the host (CONNECT after a
// frame that is not final, OK after the final one), "AT+FRH=3" and "AT+FRM="
// hand the host the next transmission of the caller, a byte from the host
// while the modem is still listening aborts that reception (as real modems
// do), "ATH" and a DTR drop end the call.
//
// The caller is a queue of transmissions, each taken by one listening
// command: a V.21 frame, a high-speed burst (training check or page data)
// at a modulation, raw text (e.g. "+FCERROR"), or silence. A listening
// command that does not fit the next transmission is noted as a mismatch,
// so that tests see a dialogue going wrong instead of hanging.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "support/modem_emulator.h"

namespace qc::test {

struct CallerItem {
  enum class Kind { Frame, HighSpeed, Text, Silence };
  Kind kind = Kind::Silence;
  // Frame: control byte 0x13 (final) or 0x03, the FCF and the information.
  uint8_t fcf = 0;
  bool final = true;
  std::vector<uint8_t> info;
  bool badFcs = false;  // the modem ends the frame with ERROR instead of OK
  // HighSpeed: the modulation code it is sent with and its unstuffed bytes.
  std::string modulation;
  std::vector<uint8_t> data;
  // Text: sent as is when the host listens.
  std::string text;
  // From the listening command to the first byte.
  int delayMs = 300;
};

// Builders for the caller's transmissions.
CallerItem Frame(uint8_t fcf, std::vector<uint8_t> info = {}, bool final = true);
// TSI (or CSI) for `id`: right-aligned in 20 positions, sent last digit first.
CallerItem IdFrame(uint8_t fcf, const std::string& id, bool final = false);
// DCS choosing a speed (index 1..6), resolution and width; the scan-time
// bits are those of 20 ms at normal resolution.
CallerItem Dcs(int speedIndex, bool fine, bool wide = false);
// DCS with the rate bits 11 to 14 (mask 0x3C of octet 2) given as they are.
CallerItem DcsWithRate(uint8_t rateBits, bool fine, bool wide = false);
// A training check of `bytes` bytes of which `nonZero` are not zero.
CallerItem Training(const std::string& modulation, int bytes, int nonZero);
CallerItem Page(const std::string& modulation, std::vector<uint8_t> data);
CallerItem Text(const std::string& text, int delayMs = 100);
CallerItem Silence();

// The modulation code of a speed index (1..6).
std::string ModulationOf(int speedIndex);

// A frame the host sent (after "ATA" or "AT+FTH=3"), unstuffed.
struct HostFrame {
  uint8_t control = 0;
  uint8_t fcf = 0;
  std::vector<uint8_t> info;
};

struct Class1Script {
  std::string classAnswer = "0,1";
  std::string speedAnswer = "24,48,72,96,121,145";  // "AT+FRM=?"
  int ringsBeforeSilence = 8;  // the caller gives up after this many rings
  int ringIntervalMs = 6000;
  int connectDelayMs = 2000;   // "ATA" to CONNECT
  bool answerConnects = true;  // false: "ATA" gets no answer at all
  // Split the caller's frames into pieces this many bytes long, delivered
  // 15 ms apart, and hold back the ETX of a high-speed burst's closing DLE
  // ETX for 30 ms (0: frames at once, DLE ETX together).
  int splitBytes = 0;
  std::vector<std::string> errorCommands;  // command prefixes answered ERROR
  std::string silentPrefix;                // commands with this prefix get no answer
  std::vector<CallerItem> caller;
};

class Class1Modem final : public ModemEmulator {
 public:
  explicit Class1Modem(Class1Script script);

  void FromHost(const uint8_t* data, size_t n, int64_t nowMs) override;
  std::string TakeOutput(int64_t nowMs) override;
  bool Carrier() const override { return inCall_; }
  void DtrChanged(bool on, int64_t nowMs) override;

  const std::vector<std::string>& Commands() const { return commands_; }
  const std::vector<HostFrame>& Frames() const { return frames_; }
  // FCFs of the host's frames in order.
  std::vector<uint8_t> FrameFcfs() const;
  // Listening commands that did not fit the caller's next transmission.
  const std::vector<std::string>& Mismatches() const { return mismatches_; }
  // Receptions the host cut short by writing while the modem listened.
  int Aborts() const { return aborts_; }
  int Rings() const { return rings_; }
  bool HungUp() const { return hungUp_; }
  size_t CallerLeft() const { return caller_.size(); }

 private:
  enum class Mode { Command, HdlcTransmit, Listening };
  void Command(const std::string& cmd, int64_t now);
  void Listen(bool hdlc, const std::string& modulation, int64_t now);
  void HostFrameByte(uint8_t b, int64_t now);
  void EndCall();
  // Queues bytes for the host at `at`, split when the script asks.
  void Emit(const std::string& bytes, int64_t at, bool split);
  void Line(const std::string& text, int64_t at) { Emit("\r\n" + text + "\r\n", at, false); }

  Class1Script s_;
  std::deque<CallerItem> caller_;
  Mode mode_ = Mode::Command;
  bool inCall_ = false;
  bool hungUp_ = false;
  bool ringing_ = true;
  int rings_ = 0;
  int64_t lastHostByte_ = 0;
  int64_t nextRing_ = 0;
  int64_t listenEnds_ = 0;  // listening ends when the reply is out
  bool listenForever_ = false;
  std::string command_;
  std::vector<uint8_t> frame_;
  bool frameDle_ = false;
  std::deque<std::pair<int64_t, std::string>> out_;
  int64_t lastDue_ = 0;
  std::vector<std::string> commands_;
  std::vector<HostFrame> frames_;
  std::vector<std::string> mismatches_;
  int aborts_ = 0;
};

}  // namespace qc::test

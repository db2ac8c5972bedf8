// A scripted Class 1 (T.31) fax modem for the send machine's tests. Before
// the first dial it answers the preparation on its own (the class query, the
// modulation list, OK to everything else). From the dial on, the dialogue is
// a table of steps: each names what the host does next and what the modem
// then says. The host's actions are named
//   a command as sent ("AT+FRH=3", "ATDT5550100"; a trailing '*' in the step
//     matches any rest),
//   "frame:XXX" for an HDLC frame the host sends after "AT+FTH=3" (XXX the
//     FCF name with the X bit ignored: "frame:TSI", "frame:DCS", ...),
//   "train" for a block of zeros after "AT+FTM=", "page" for other data,
//   "abort" for a byte that arrives while the modem listens for frames or
//     dials (T.31: any character ends that reception).
// A host action that is not the next step is recorded as a mismatch and
// answered ERROR. After the last step commands get OK and are recorded as
// extras. Every page is decoded with the MH decoder, and the bit length of
// each coded line is measured, so that tests compare rasters and padding.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include "faxdoc/t4.h"
#include "modem_emulator.h"

namespace qc::test {

// What the modem says, in order; each item waits `delayMs` after the one
// before it (the first after the host's action).
struct ModemOut {
  int delayMs;
  std::string bytes;
};
using ModemReply = std::vector<ModemOut>;
ModemReply operator+(ModemReply a, const ModemReply& b);

// A result line ("\r\nOK\r\n").
ModemReply Say(const std::string& text, int delayMs = 20);
// A received HDLC frame as the modem delivers it: DLE doubled, DLE ETX
// after the frame, then "OK" (or the given result).
ModemReply Frame(const std::vector<uint8_t>& bytes, int delayMs = 20, const std::string& result = "OK");
ModemReply Pause(int ms);
inline ModemReply Silence() { return {}; }

struct Step {
  std::string expect;
  ModemReply reply;
};

// The remote station's frames, written out by hand (not with the engine's
// builders) so that the tests do not check the engine against itself.
std::vector<uint8_t> RemoteIdFrame(uint8_t fcf, const std::string& number, bool final = false);
std::vector<uint8_t> RemoteDis(uint8_t octet2, uint8_t octet3, bool final = true);
std::vector<uint8_t> RemoteShort(uint8_t fcf);

struct Class1Setup {
  std::string classAnswer = "0,1,1.0";  // as a T.31 soft modem answers
  std::string ftmAnswer = "24,48,72,73,74,96,97,98,121,122,145,146";
  int replyDelayMs = 20;
};

struct DataBlock {
  std::string modulation;  // of the "AT+FTM=" before it
  std::vector<uint8_t> bytes;  // after unstuffing, without DLE ETX
};

struct Class1Page {
  std::vector<std::vector<uint8_t>> rows;  // 216 bytes each, set bit = black
  std::vector<int> lineBits;               // bits from one EOL end to the next, RTC left out
  uint64_t badCodes = 0;
};

class Class1Modem final : public ModemEmulator {
 public:
  Class1Modem(std::vector<Step> steps, Class1Setup setup = {});

  void FromHost(const uint8_t* data, size_t n, int64_t nowMs) override;
  std::string TakeOutput(int64_t nowMs) override;

  const std::vector<std::string>& Actions() const { return actions_; }
  const std::vector<std::string>& Commands() const { return commands_; }
  const std::vector<std::string>& Mismatches() const { return mismatches_; }
  const std::vector<std::string>& Extras() const { return extras_; }
  size_t StepsLeft() const { return steps_.size() - next_; }
  const std::vector<std::vector<uint8_t>>& HostFrames() const { return hostFrames_; }
  const std::vector<DataBlock>& Trainings() const { return trainings_; }
  const std::vector<DataBlock>& PageData() const { return pageData_; }
  std::vector<Class1Page> Pages() const;
  // The dialogue as a readable list, for failure messages.
  std::string Transcript() const;

 private:
  enum class Mode { Command, HdlcSend, DataSend };
  void Command(const std::string& cmd, int64_t now);
  bool Act(const std::string& action, int64_t now, bool listenAfter = false);
  void Queue(const ModemReply& reply, int64_t now, int tag);
  void EndFrame(int64_t now);
  void EndData(int64_t now);

  std::vector<Step> steps_;
  Class1Setup setup_;
  size_t next_ = 0;
  bool dialled_ = false;
  Mode mode_ = Mode::Command;
  bool dle_ = false;
  std::string command_;
  std::vector<uint8_t> block_;
  std::string modulation_;
  ModemReply lastReply_;
  struct Pending {
    int64_t due;
    std::string bytes;
    int tag;
  };
  std::deque<Pending> out_;
  int64_t lastDue_ = 0;
  int listenTag_ = -1;  // replies of a listening step still to come
  int tags_ = 0;
  std::vector<std::string> actions_, commands_, mismatches_, extras_;
  std::vector<std::vector<uint8_t>> hostFrames_;
  std::vector<DataBlock> trainings_, pageData_;
};

}  // namespace qc::test

// A Class 2 (EIA-592 draft, "+FCLASS=2") or Class 2.0 (T.32) fax modem as
// the host sees it. While the host sends: the class query, the setup commands, dialing
// with the connection and the remote's reports, "AT+FDT" with CONNECT (and XON
// in Class 2), DLE-stuffed page data up to DLE ETX (Class 2) or DLE ',' /
// DLE '.' (Class 2.0), "AT+FET=", the page-status reports and the hang-up
// report. The remote station and the faults are set by a script. Every page
// received is decoded with the MH decoder so that tests compare rasters.
// While the host receives: incoming calls announced by RING (and other
// lines), "ATA" with the connection report, the caller's ID and parameters,
// "AT+FDR" answered with CONNECT, page data after the host's DC2 (DLE
// stuffed, ended by DLE ETX; bit order reversed in Class 2, as such modems
// deliver it), the page-status and end-of-page reports, and the hangup
// report once the caller's pages are done.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "engine/fax_types.h"
#include "faxdoc/t4.h"
#include "modem_emulator.h"

namespace qc::test {

enum class DialOutcome { Connect, Busy, NoDialTone, Voice, NoCarrier, Error, Silence };

// One page a caller sends: `data` in file order (first bit in bit 0); the
// modem delivers it bit-reversed in Class 2 and as is in 2.0.
struct CallerPage {
  std::vector<uint8_t> data;
  // Off: `data` goes to the host exactly as given (no reversal, no DLE
  // stuffing), followed by DLE ETX.
  bool stuff = true;
  // "+FET" value after the page; 0 = 0 for a middle page, 2 for the last.
  char fet = 0;
  // The page-status value per attempt ("1", "2" ... or "ERROR" for the ERROR
  // result instead of the reports); missing = "1". The page is sent again
  // at the next "AT+FDR" until a value of 1, 3 or 5.
  std::vector<std::string> verdicts;
  // The line drops after this many bytes of the page: with `cutReports` the
  // modem ends the data with DLE ETX and reports the hangup, otherwise the
  // data just stop.
  long cutAfter = -1;
  bool cutReports = true;
};

struct IncomingCall {
  // What the modem reports as the call arrives, one line every ringGapMs.
  std::vector<std::string> ringLines = {"RING"};
  std::string callerId = "CALLER 1";  // empty: no transmitter-ID report
  std::string params = "1,3,0,2,0,0,0,0";
  std::vector<CallerPage> pages;
};

struct Class2Script {
  TFaxClass dialect = fcClass2;            // fcClass2 or fcClass2_0
  std::string classAnswer = "0,1,2,2.0";  // the list after "AT+FCLASS=?"
  bool echoAtStart = true;                 // as after power-up; "E0" turns it off
  std::string remoteId = "REMOTE FAX 1";
  std::string remoteCaps = "1,5,0,2,0,0,0,0";  // vr,br,wd,ln,df,ec,bf,st
  std::string negotiated = "1,3,0,2,0,0,0,0";  // the parameters report after AT+FDT
  DialOutcome dial = DialOutcome::Connect;
  int busyDials = 0;                  // dials answered BUSY before the outcome above
  std::vector<int> verdicts;          // per page sent, in order; missing = 1 (MCF)
  long hangupAfterPageBytes = -1;     // drop the call this far into the first page
  std::vector<std::string> silentCommands;  // command prefixes that get no answer
  std::vector<std::string> errorCommands;   // command prefixes answered ERROR
  std::string ftmAnswer = "24,48,72,96";  // answer to "AT+FTM=?" / "AT+FRM=?"
  int replyDelayMs = 30;
  int connectDelayMs = 3000;

  // Receiving: calls in order; each starts ringing ringDelayMs after the host
  // has set its receive capabilities, and once the previous one is over.
  std::vector<IncomingCall> calls;
  int ringDelayMs = 1000;
  int ringGapMs = 2000;
  int pageChunkBytes = 120;  // page data reach the host in chunks ...
  int pageChunkMs = 100;     // ... this far apart (9600 bit/s)
};

// What happened to an incoming call.
struct CallRecord {
  int ringsBeforeAnswer = -1;  // RING lines reported before "ATA" (-1: not answered)
  bool refused = false;        // the host sent "AT+FKS"
  int pagesDelivered = 0;      // page transmissions ended by DLE ETX or a cut
  bool dc2Seen = false;
  int64_t lastDataMs = -1;     // when the last page byte reached the line
};

struct ReceivedPage {
  std::vector<std::vector<uint8_t>> rows;  // 216 bytes each, set bit = black
  char terminator = 0;                     // 'E' (DLE ETX), ',' or '.'
  uint64_t badCodes = 0;
  size_t bytes = 0;                        // page data bytes after unstuffing
};

class Class2Modem final : public ModemEmulator {
 public:
  explicit Class2Modem(Class2Script script);

  void FromHost(const uint8_t* data, size_t n, int64_t nowMs) override;
  std::string TakeOutput(int64_t nowMs) override;
  bool Carrier() const override { return connected_; }
  // Dropping DTR ends a call, in data mode too.
  void DtrChanged(bool on, int64_t nowMs) override;

  const std::vector<std::string>& Commands() const { return commands_; }
  const std::vector<ReceivedPage>& Pages() const { return pages_; }
  int Dials() const { return dials_; }
  const std::vector<CallRecord>& Calls() const { return callRecords_; }
  TFaxClass Dialect() const { return s_.dialect; }
  // Bytes the modem put on the line for the host (page data included).
  const std::string& ToHost() const { return toHost_; }
  bool HungUp() const { return hungUp_; }

 private:
  enum class Mode { Command, Data, Dead, WaitDc2 };
  void Command(const std::string& cmd, int64_t now);
  void Dial(int64_t now);
  void PageData(uint8_t b);
  void EndPage(char terminator, int64_t now);
  int NextVerdict();
  void Reply(const std::string& text, int64_t at);
  void Line(const std::string& text, int64_t at) { Reply("\r\n" + text + "\r\n", at); }
  bool Matches(const std::vector<std::string>& prefixes, const std::string& cmd) const;
  // Receiving.
  void ScheduleCall(int64_t now);
  void Answer(int64_t now);
  void PageRequest(int64_t now);
  void DeliverPage(int64_t now);
  void EndCall();
  IncomingCall* Call() { return callIndex_ < s_.calls.size() ? &s_.calls[callIndex_] : nullptr; }

  Class2Script s_;
  Mode mode_ = Mode::Command;
  bool echo_;
  bool connected_ = false;
  bool lastPageSent_ = false;
  bool dle_ = false;
  std::string command_;
  std::deque<std::pair<int64_t, std::string>> out_;
  int64_t lastDue_ = 0;
  std::vector<std::string> commands_;
  std::vector<ReceivedPage> pages_;
  ReceivedPage page_;
  TFaxLineDecoder decoder_;
  int dials_ = 0;
  size_t verdictIndex_ = 0;
  int lastVerdict_ = 1;
  bool hungUp_ = false;
  // Receiving.
  size_t callIndex_ = 0;
  bool callRinging_ = false, callActive_ = false;
  std::deque<std::pair<int64_t, std::string>> ringQueue_;
  size_t pageIndex_ = 0;
  size_t attempt_ = 0;
  int ringsEmitted_ = 0;
  std::vector<CallRecord> callRecords_;
  std::string toHost_;
};

}  // namespace qc::test

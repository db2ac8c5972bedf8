// The fax components: TQcSendFax sends the jobs it is given through a fax
// session, TQcReceiveFax answers calls and stores what arrives;
// TQcAbstractFaxStatus (a status display) and TQcFaxLog (the fax
// history file) follow a component. Events run on the owner's loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/fax_types.h"
#include "engine/owner_loop.h"

namespace qc {

class TQcComPort;
class FaxPort;
class FaxSession;
class SendSession;
class ReceiveSession;
class TQcAbstractFax;

// A status display following one fax component.
class TQcAbstractFaxStatus {
 public:
  TQcAbstractFaxStatus();
  TQcAbstractFaxStatus(const TQcAbstractFaxStatus&) = delete;
  TQcAbstractFaxStatus& operator=(const TQcAbstractFaxStatus&) = delete;
  // A display that goes away is unlinked from its component.
  virtual ~TQcAbstractFaxStatus();
  TQcAbstractFax* Fax() const { return fax_; }
  void SetFax(TQcAbstractFax* fax) { fax_ = fax; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  virtual void CreateDisplay() {}
  virtual void DestroyDisplay() {}
  virtual void UpdateDisplay(bool first, bool last) = 0;

 private:
  TQcAbstractFax* fax_ = nullptr;
  bool visible_ = false;
};

// The fax history: one entry per log code, appended to FaxHistoryName.
class TQcFaxLog {
 public:
  TQcFaxLog() = default;
  TQcFaxLog(const TQcFaxLog&) = delete;
  TQcFaxLog& operator=(const TQcFaxLog&) = delete;
  // A log that goes away is unlinked from its component.
  virtual ~TQcFaxLog();
  const std::string& FaxHistoryName() const { return historyName_; }
  void SetFaxHistoryName(std::string name) { historyName_ = std::move(name); }
  TQcAbstractFax* Fax() const { return fax_; }
  void SetFax(TQcAbstractFax* fax) { fax_ = fax; }
  // Appends the entry of `logCode`; throws EInOutError when the file exists
  // but cannot be opened (or cannot be created).
  virtual void WriteLogEntry(int logCode);

 private:
  std::string historyName_ = "QCFAX.HIS";
  TQcAbstractFax* fax_ = nullptr;
};

// What both directions share.
class TQcAbstractFax {
 public:
  using StatusEvent = std::function<void(TQcAbstractFax& sender, bool first, bool last)>;
  using CodeEvent = std::function<void(TQcAbstractFax& sender, int code)>;

  virtual ~TQcAbstractFax();
  TQcAbstractFax(const TQcAbstractFax&) = delete;
  TQcAbstractFax& operator=(const TQcAbstractFax&) = delete;

  // --- published ---
  int InitBaud() const { return initBaud_; }
  void SetInitBaud(int baud) { initBaud_ = baud; }
  int NormalBaud() const { return normalBaud_; }
  void SetNormalBaud(int baud) { normalBaud_ = baud; }
  TFaxClass FaxClass() const { return faxClass_; }
  void SetFaxClass(TFaxClass c) { faxClass_ = c; }
  const std::string& ModemInit() const { return modemInit_; }
  void SetModemInit(const std::string& text);  // upper case, "AT" in front, 40 characters
  const std::string& StationID() const { return stationId_; }
  void SetStationID(const std::string& id) { stationId_ = id.substr(0, 20); }
  TQcComPort* ComPort() const { return comPort_; }
  // Assigning a port sets it to 19200 baud 8N1, 8192-byte buffers and
  // hardware flow control, as a fax session needs.
  void SetComPort(TQcComPort* port);
  // The session's line itself (tests, or a port layer of the caller's own);
  // takes the place of ComPort.
  void SetPortLink(std::shared_ptr<FaxPort> link);
  TQcAbstractFaxStatus* StatusDisplay() const { return statusDisplay_; }
  void SetStatusDisplay(TQcAbstractFaxStatus* display);
  TQcFaxLog* FaxLog() const { return faxLog_; }
  void SetFaxLog(TQcFaxLog* log);
  const std::string& FaxFile() const { return faxFile_; }
  void SetFaxFile(const std::string& name) { faxFile_ = name.substr(0, 255); }
  bool AbortNoConnect() const { return abortNoConnect_; }
  void SetAbortNoConnect(bool on) { abortNoConnect_ = on; }
  bool ExitOnError() const { return exitOnError_; }
  void SetExitOnError(bool on) { exitOnError_ = on; }
  bool SoftwareFlow() const { return softwareFlow_; }
  void SetSoftwareFlow(bool on) { softwareFlow_ = on; }
  uint16_t StatusInterval() const { return statusInterval_; }
  void SetStatusInterval(uint16_t seconds) { statusInterval_ = seconds; }
  uint16_t DesiredBPS() const { return desiredBps_; }
  void SetDesiredBPS(uint16_t bps) { desiredBps_ = bps; }
  bool DesiredECM() const { return desiredEcm_; }
  void SetDesiredECM(bool on) { desiredEcm_ = on; }
  const std::string& FaxFileExt() const { return faxFileExt_; }
  void SetFaxFileExt(const std::string& ext) { faxFileExt_ = ext; }
  StatusEvent OnFaxStatus;
  CodeEvent OnFaxLog;
  CodeEvent OnFaxError;
  CodeEvent OnFaxFinish;

  // --- public ---
  void AbortFax();
  // While a session is prepared: the set found last. Otherwise the port
  // checks of BeginTransmit (raising their exceptions) and a class query
  // without reset; empty when the modem does not answer.
  TFaxClasses ModemClasses();
  std::string ProgressText(int code) const { return qc::ProgressText(code); }
  int ProgressCode() const;
  int SessionError() const;
  std::string RemoteStationID() const;
  int LineRate() const;
  bool FineMode() const;
  bool WidePage() const;
  bool ErrorCorrection() const;
  int HangupResult() const;
  virtual int DocumentPages() const = 0;
  virtual int PageNumber() const = 0;
  virtual int PageBytes() const = 0;
  virtual int PageSize() const = 0;
  virtual bool IsSender() const = 0;
  bool Busy() const;  // a session is running
  OwnerLoop& Loop() const { return loop_; }
  // Engine events (state transitions, commands, responses) for diagnostics.
  std::function<void(std::string_view)> OnEngineLog;

 protected:
  explicit TQcAbstractFax(OwnerLoop& loop);
  // The checks before a session starts: -1005 without a port, -3006 when its
  // output buffer is below 8192 bytes. Raises the code's exception.
  void CheckPort();
  void ApplyCommonSettings(FaxSession& session);
  virtual FaxSession& Session() const = 0;

  // Notification mapping (called on the owner's thread).
  void DoStatus(bool first, bool last);
  void DoLog(int code);
  void DoError(int code);
  void DoFinish(int code);

  OwnerLoop& loop_;
  std::shared_ptr<FaxPort> link_;
  TFaxClasses lastClasses_;

 private:
  int initBaud_ = 0;
  int normalBaud_ = 0;
  TFaxClass faxClass_ = fcUnknown;
  std::string modemInit_;
  std::string stationId_;
  TQcComPort* comPort_ = nullptr;
  TQcAbstractFaxStatus* statusDisplay_ = nullptr;
  TQcFaxLog* faxLog_ = nullptr;
  std::string faxFile_;
  bool abortNoConnect_ = false;
  bool exitOnError_ = false;
  bool softwareFlow_ = false;
  uint16_t statusInterval_ = 1;
  uint16_t desiredBps_ = 9600;
  bool desiredEcm_ = false;
  std::string faxFileExt_ = "APF";
};

class TQcSendFax : public TQcAbstractFax {
 public:
  using NextEvent = std::function<void(TQcSendFax& sender, std::string& phoneNumber,
                                       std::string& faxFile, std::string& coverFile)>;

  explicit TQcSendFax(OwnerLoop& loop);
  ~TQcSendFax() override;

  // --- published ---
  bool BlindDial() const { return blindDial_; }
  void SetBlindDial(bool on) { blindDial_ = on; }
  bool DetectBusy() const { return detectBusy_; }
  void SetDetectBusy(bool on) { detectBusy_ = on; }
  bool ToneDial() const { return toneDial_; }
  void SetToneDial(bool on) { toneDial_ = on; }
  const std::string& DialPrefix() const { return dialPrefix_; }
  void SetDialPrefix(const std::string& p) { dialPrefix_ = p.substr(0, 40); }
  // Seconds; kept as ticks.
  uint16_t DialWait() const { return static_cast<uint16_t>(TicksToSeconds(dialWaitTicks_)); }
  void SetDialWait(uint16_t seconds) { dialWaitTicks_ = SecondsToTicks(seconds); }
  uint16_t DialAttempts() const { return dialAttempts_; }
  void SetDialAttempts(uint16_t n) { dialAttempts_ = n; }
  uint16_t DialRetryWait() const { return static_cast<uint16_t>(TicksToSeconds(retryWaitTicks_)); }
  void SetDialRetryWait(uint16_t seconds) { retryWaitTicks_ = SecondsToTicks(seconds); }
  uint16_t MaxSendCount() const { return maxSendCount_; }
  void SetMaxSendCount(uint16_t n) { maxSendCount_ = n; }
  uint16_t BufferMinimum() const { return bufferMinimum_; }
  void SetBufferMinimum(uint16_t n) { bufferMinimum_ = n; }
  const std::string& HeaderLine() const { return headerLine_; }
  void SetHeaderLine(const std::string& s) { headerLine_ = s.substr(0, 255); }
  const std::string& HeaderSender() const { return headerSender_; }
  void SetHeaderSender(const std::string& s) { headerSender_ = s.substr(0, 255); }
  const std::string& HeaderRecipient() const { return headerRecipient_; }
  void SetHeaderRecipient(const std::string& s) { headerRecipient_ = s.substr(0, 255); }
  const std::string& HeaderTitle() const { return headerTitle_; }
  void SetHeaderTitle(const std::string& s) { headerTitle_ = s.substr(0, 255); }
  const std::string& CoverFile() const { return coverFile_; }
  void SetCoverFile(const std::string& s) { coverFile_ = s.substr(0, 255); }
  const std::string& PhoneNumber() const { return phoneNumber_; }
  void SetPhoneNumber(const std::string& s) { phoneNumber_ = s; }
  uint16_t DialAttempt() const;
  NextEvent OnFaxNext;

  // Starts sending; raises -1005 / -3006 for a missing or unfit port. Errors
  // after that arrive as OnFaxError and OnFaxFinish.
  void BeginTransmit();

  int DocumentPages() const override;
  int PageNumber() const override;
  int PageBytes() const override;
  int PageSize() const override;
  bool IsSender() const override { return true; }

  // The header line as it is stamped on the page being sent.
  std::string ExpandHeader(std::string_view text) const;

 protected:
  FaxSession& Session() const override;

 private:
  class Target;
  bool DoNextFax();

  std::unique_ptr<SendSession> session_;
  std::shared_ptr<Target> target_;
  bool singleJobGiven_ = false;
  bool blindDial_ = false;
  bool detectBusy_ = true;
  bool toneDial_ = true;
  std::string dialPrefix_;
  uint32_t dialWaitTicks_ = 1092;
  uint16_t dialAttempts_ = 3;
  uint32_t retryWaitTicks_ = 1092;
  uint16_t maxSendCount_ = 50;
  uint16_t bufferMinimum_ = 1000;
  std::string headerLine_, headerSender_, headerRecipient_, headerTitle_;
  std::string coverFile_, phoneNumber_;
};

// The receiving component: waits for rings, answers, asks its owner whether
// to take the call and what to name the file, and stores the pages raw.
class TQcCustomReceiveFax : public TQcAbstractFax {
 public:
  using AcceptEvent = std::function<void(TQcCustomReceiveFax& sender, bool& accept)>;
  using NameEvent = std::function<void(TQcCustomReceiveFax& sender, std::string& name)>;

  explicit TQcCustomReceiveFax(OwnerLoop& loop);
  ~TQcCustomReceiveFax() override;

  uint16_t AnswerOnRing() const { return answerOnRing_; }
  void SetAnswerOnRing(uint16_t rings) { answerOnRing_ = rings; }
  bool FaxAndData() const { return faxAndData_; }
  void SetFaxAndData(bool on) { faxAndData_ = on; }
  bool OneFax() const { return oneFax_; }
  void SetOneFax(bool on) { oneFax_ = on; }
  bool ConstantStatus() const { return constantStatus_; }
  void SetConstantStatus(bool on) { constantStatus_ = on; }
  const std::string& DestinationDir() const { return destinationDir_; }
  void SetDestinationDir(const std::string& dir) { destinationDir_ = dir; }
  // 1: FAX0001.APF ...; 2: MMDD0001.APF ...; anything else: noname.apf.
  int NamingScheme() const { return namingScheme_; }
  void SetNamingScheme(int scheme) { namingScheme_ = scheme; }
  AcceptEvent OnFaxAccept;
  NameEvent OnFaxName;

  // Starts waiting for calls; raises -1005 / -1009 / -3006 for a missing or
  // unfit port. Errors after that arrive as OnFaxError and OnFaxFinish.
  void BeginReceive();

  // The name a received file gets without OnFaxName: the scheme's first
  // free name in DestinationDir (compared without regard to case).
  std::string DefaultFaxName() const;

  int DocumentPages() const override { return 0; }
  int PageNumber() const override;
  int PageBytes() const override;
  int PageSize() const override { return 0; }
  bool IsSender() const override { return false; }

 protected:
  FaxSession& Session() const override;
  // The accept and name operations; the defaults call the events.
  virtual void FaxAccept(bool& accept);
  virtual void FaxName(std::string& name);

 private:
  class Target;
  int DoAccept();
  void DoName();

  std::unique_ptr<ReceiveSession> session_;
  std::shared_ptr<Target> target_;
  uint16_t answerOnRing_ = 1;
  bool faxAndData_ = false;
  bool oneFax_ = false;
  bool constantStatus_ = false;
  std::string destinationDir_;
  int namingScheme_ = 1;
};

class TQcReceiveFax final : public TQcCustomReceiveFax {
 public:
  using TQcCustomReceiveFax::TQcCustomReceiveFax;
};

}  // namespace qc

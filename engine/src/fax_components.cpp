// What the send and receive components share: settings, the port checks,
// read-only session values and the mapping of notifications to events.
#include <cstring>

#include "control/errors.h"
#include "engine/fax_components.h"
#include "fax_session.h"
#include "modem_text.h"

namespace qc {

TQcAbstractFaxStatus::TQcAbstractFaxStatus() = default;
TQcAbstractFaxStatus::~TQcAbstractFaxStatus() {
  if (fax_ && fax_->StatusDisplay() == this) fax_->SetStatusDisplay(nullptr);
}

TQcFaxLog::~TQcFaxLog() {
  if (fax_ && fax_->FaxLog() == this) fax_->SetFaxLog(nullptr);
}

TQcAbstractFax::TQcAbstractFax(OwnerLoop& loop) : loop_(loop) {}

TQcAbstractFax::~TQcAbstractFax() {
  if (statusDisplay_ && statusDisplay_->Fax() == this) statusDisplay_->SetFax(nullptr);
  if (faxLog_ && faxLog_->Fax() == this) faxLog_->SetFax(nullptr);
}

void TQcAbstractFax::SetModemInit(const std::string& text) { modemInit_ = NormalizeModemInit(text); }

void TQcAbstractFax::SetPortLink(std::shared_ptr<FaxPort> link) { link_ = std::move(link); }

void TQcAbstractFax::SetStatusDisplay(TQcAbstractFaxStatus* display) {
  statusDisplay_ = display;
  if (display && !display->Fax()) display->SetFax(this);
}

void TQcAbstractFax::SetFaxLog(TQcFaxLog* log) {
  faxLog_ = log;
  if (log && !log->Fax()) log->SetFax(this);
}

void TQcAbstractFax::CheckPort() {
  if (!link_) RaiseForCode(ecPortNotAssigned);
  if (link_->IsNetworkLayer()) RaiseForCode(ecCannotUseWithWinSock);
  if (link_->OutputBufferSize() < 8192) RaiseForCode(ecOutputBufferTooSmall);
}

void TQcAbstractFax::ApplyCommonSettings(FaxSession& s) {
  SessionData& d = s.Data();
  ClassData& c = s.Cls();
  s.SetPort(link_.get());
  d.statusInterval = statusInterval_;
  d.options = static_cast<uint16_t>((abortNoConnect_ ? foAbortNoConnect : 0) |
                                    (exitOnError_ ? foExitOnError : 0) |
                                    (softwareFlow_ ? foSoftwareFlow : 0));
  d.faxClass = faxClass_;
  d.stationId = stationId_;
  d.faxFileExt = faxFileExt_;
  c.desiredBps = desiredBps_;
  c.ecmDigit = desiredEcm_ ? '1' : '0';
  c.modemInit = modemInit_;
  s.SetLogSink(OnEngineLog);
}

void TQcAbstractFax::AbortFax() {
  FaxSession& s = Session();
  if (s.Running()) s.Abort();
}

TFaxClasses TQcAbstractFax::ModemClasses() {
  FaxSession& s = Session();
  if (s.Data().prepared) {
    // The set the session's own detection found, if it ran one.
    const FaxSession::DetectedClasses found = s.LastDetected();
    if (!found.ok) return lastClasses_;
    TFaxClasses set;
    if (found.class1) set.Include(fcClass1);
    if (found.class2) set.Include(fcClass2);
    if (found.class2_0) set.Include(fcClass2_0);
    return set;
  }
  CheckPort();
  s.SetPort(link_.get());
  const FaxSession::DetectedClasses found = s.DetectClasses(false);
  TFaxClasses set;
  if (found.ok) {
    if (found.class1) set.Include(fcClass1);
    if (found.class2) set.Include(fcClass2);
    if (found.class2_0) set.Include(fcClass2_0);
  }
  lastClasses_ = set;
  return set;
}

int TQcAbstractFax::ProgressCode() const { return Session().Data().status; }
int TQcAbstractFax::SessionError() const { return Session().Data().error; }
std::string TQcAbstractFax::RemoteStationID() const { return Session().Data().remoteId.substr(0, 20); }
int TQcAbstractFax::LineRate() const { return static_cast<int>(Session().Cls().bitRate); }
bool TQcAbstractFax::FineMode() const { return Session().Cls().sessionFine; }
bool TQcAbstractFax::WidePage() const { return Session().Cls().sessionWide; }
bool TQcAbstractFax::ErrorCorrection() const { return Session().Cls().sessionEcm; }
int TQcAbstractFax::HangupResult() const { return Session().Cls().hangupCode; }
bool TQcAbstractFax::Busy() const { return Session().Running(); }

void TQcAbstractFax::DoStatus(bool first, bool last) {
  if (statusDisplay_) statusDisplay_->UpdateDisplay(first, last);
  if (OnFaxStatus) OnFaxStatus(*this, first, last);
}

void TQcAbstractFax::DoLog(int code) {
  if (faxLog_) {
    try {
      faxLog_->WriteLogEntry(code);
    } catch (const std::exception& e) {
      // The history is the owner's affair; the session goes on.
      if (OnEngineLog) OnEngineLog(std::string("fax log: ") + e.what());
    }
  }
  if (OnFaxLog) OnFaxLog(*this, code);
  if (code == lcReceiveFinished || code == lcReceiveSkipped || code == lcReceiveFailed) faxFile_.clear();
}

void TQcAbstractFax::DoError(int code) {
  if (OnFaxError) OnFaxError(*this, code);
}

void TQcAbstractFax::DoFinish(int code) {
  if (OnFaxFinish) OnFaxFinish(*this, code);
}

}  // namespace qc

#include "control/errors.h"
#include "engine/fax_components.h"
#include "header_macros.h"
#include "modem_text.h"
#include "send_session.h"

namespace qc {

// The component's notification target: lives as long as a session may still
// post to it, and forgets the component when it goes.
class TQcSendFax::Target final : public SessionOwner {
 public:
  explicit Target(TQcSendFax* fax) : fax_(fax) {}
  void Unbind() { fax_ = nullptr; }
  bool NextFaxQuery(SessionHandle&) override { return fax_ && fax_->DoNextFax(); }
  void StatusNotice(int which) override {
    if (fax_) fax_->DoStatus(which == 1, which == 2);
  }
  void LogNotice(int code) override {
    if (fax_) fax_->DoLog(code);
  }
  void ErrorNotice(int code) override {
    if (fax_) fax_->DoError(code);
  }
  void FinishNotice(int code) override {
    if (fax_) fax_->DoFinish(code);
  }

 private:
  TQcSendFax* fax_;
};

TQcSendFax::TQcSendFax(OwnerLoop& loop)
    : TQcAbstractFax(loop), session_(std::make_unique<SendSession>()),
      target_(std::make_shared<Target>(this)) {
  if (int rc = session_->Create(); rc != 0) RaiseForCode(rc);
  session_->SetOwner(target_, &loop_);
}

TQcSendFax::~TQcSendFax() {
  target_->Unbind();
  session_.reset();
}

FaxSession& TQcSendFax::Session() const { return *session_; }

uint16_t TQcSendFax::DialAttempt() const {
  return static_cast<uint16_t>(session_->Data().attemptsMade + 1);
}

void TQcSendFax::BeginTransmit() {
  CheckPort();
  SendSession& s = *session_;
  if (s.Running()) return;
  ApplyCommonSettings(s);
  SessionData& d = s.Data();
  ClassData& c = s.Cls();
  SessionHandle& h = s.Handle();
  d.dialAttempts = dialAttempts_;
  d.retryWaitTicks = static_cast<uint16_t>(std::min<uint32_t>(retryWaitTicks_, 0xFFFF));
  d.headerSender = HeaderSender();
  d.headerRecipient = HeaderRecipient();
  d.headerTitle = HeaderTitle();
  c.toneDial = toneDial_;
  c.blindDial = blindDial_;
  c.detectBusy = detectBusy_;
  c.initString = std::string(InitStringFor(detectBusy_, blindDial_));
  c.dialWaitTicks = dialWaitTicks_;
  c.dialPrefix = dialPrefix_;
  h.maxSendCount = maxSendCount_;
  h.bufferMinimum = bufferMinimum_;
  h.headerLine = headerLine_;
  if (InitBaud() != 0) s.SetBaudPair(static_cast<uint32_t>(InitBaud()), static_cast<uint32_t>(NormalBaud()), true);
  singleJobGiven_ = false;
  s.Start();
}

bool TQcSendFax::DoNextFax() {
  std::string phone, fax, cover;
  if (OnFaxNext) {
    OnFaxNext(*this, phone, fax, cover);
    SetPhoneNumber(phone);
    SetFaxFile(fax);
    SetCoverFile(cover);
  } else if (!singleJobGiven_) {
    singleJobGiven_ = true;
    phone = PhoneNumber();
    fax = FaxFile();
    cover = CoverFile();
  }
  if (phone.empty()) return false;
  // File names stay as given: on this system their case matters.
  SessionData& d = session_->Data();
  d.phoneNumber = phone.substr(0, 40);
  d.faxFile = fax.substr(0, 255);
  d.coverFile = cover.substr(0, 255);
  return true;
}

int TQcSendFax::DocumentPages() const { return session_->Data().pageCount; }

int TQcSendFax::PageNumber() const {
  const SessionData& d = session_->Data();
  return d.coverPending ? 0 : d.currentPage;
}

int TQcSendFax::PageBytes() const {
  const SessionData& d = session_->Data();
  int waiting = link_ ? link_->OutputWaiting() : 0;
  if (waiting == 1) waiting = 0;
  return std::max(0, d.pageBytes - waiting);
}

int TQcSendFax::PageSize() const { return session_->Data().pageLength; }

std::string TQcSendFax::ExpandHeader(std::string_view text) const {
  HeaderMacroValues v;
  v.stationId = StationID();
  v.sender = headerSender_;
  v.recipient = headerRecipient_;
  v.title = headerTitle_;
  v.page = session_->HeaderPageNumber();
  v.totalPages = session_->HeaderTotalPages();
  v.now = std::time(nullptr);
  return ExpandHeaderMacros(text, v);
}

}  // namespace qc

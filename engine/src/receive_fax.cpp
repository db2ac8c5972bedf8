#include <dirent.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <set>

#include "control/errors.h"
#include "engine/fax_components.h"
#include "receive_session.h"

namespace qc {

// The component's notification target: lives as long as a session may still
// post to it, and forgets the component when it goes.
class TQcCustomReceiveFax::Target final : public SessionOwner {
 public:
  explicit Target(TQcCustomReceiveFax* fax) : fax_(fax) {}
  void Unbind() { fax_ = nullptr; }
  bool NextFaxQuery(SessionHandle&) override { return false; }
  void StatusNotice(int which) override {
    if (fax_) fax_->DoStatus(which == 1, which == 2);
  }
  void LogNotice(int code) override {
    if (fax_) fax_->DoLog(code);
  }
  void NameQuery(SessionHandle&) override {
    if (fax_) fax_->DoName();
  }
  int AcceptQuery(SessionHandle&) override { return fax_ ? fax_->DoAccept() : 1; }
  void ErrorNotice(int code) override {
    if (fax_) fax_->DoError(code);
  }
  void FinishNotice(int code) override {
    if (fax_) fax_->DoFinish(code);
  }

 private:
  TQcCustomReceiveFax* fax_;
};

TQcCustomReceiveFax::TQcCustomReceiveFax(OwnerLoop& loop)
    : TQcAbstractFax(loop), session_(std::make_unique<ReceiveSession>()),
      target_(std::make_shared<Target>(this)) {
  SetFaxClass(fcDetect);
  session_->SetOwner(target_, &loop_);
}

TQcCustomReceiveFax::~TQcCustomReceiveFax() {
  target_->Unbind();
  session_.reset();
}

FaxSession& TQcCustomReceiveFax::Session() const { return *session_; }

void TQcCustomReceiveFax::BeginReceive() {
  CheckPort();
  ReceiveSession& s = *session_;
  if (s.Running()) return;
  ApplyCommonSettings(s);
  SessionData& d = s.Data();
  ClassData& c = s.Cls();
  SessionHandle& h = s.Handle();
  d.destinationDir = destinationDir_;
  c.answerOnRing = answerOnRing_;
  c.dataAnswerDigit = faxAndData_ ? '1' : '0';
  h.oneFax = oneFax_;
  h.constantStatus = constantStatus_;
  if (InitBaud() != 0) s.SetBaudPair(static_cast<uint32_t>(InitBaud()), static_cast<uint32_t>(NormalBaud()), true);
  s.Start();
}

int TQcCustomReceiveFax::PageNumber() const { return session_->Data().currentPage; }
int TQcCustomReceiveFax::PageBytes() const { return session_->Data().pageBytes; }

void TQcCustomReceiveFax::FaxAccept(bool& accept) {
  if (OnFaxAccept) OnFaxAccept(*this, accept);
}

void TQcCustomReceiveFax::FaxName(std::string& name) {
  if (OnFaxName)
    OnFaxName(*this, name);
  else
    name = DefaultFaxName();
}

int TQcCustomReceiveFax::DoAccept() {
  bool accept = true;
  FaxAccept(accept);
  return accept ? 1 : 0;
}

void TQcCustomReceiveFax::DoName() {
  std::string name;
  FaxName(name);
  SetFaxFile(name);
  session_->Data().faxFile = FaxFile();
}

namespace {

std::string Upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

// Upper-cased names in `dir` ("" is the current folder).
std::set<std::string> NamesIn(const std::string& dir) {
  std::set<std::string> names;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return names;
  while (const dirent* e = ::readdir(d)) names.insert(Upper(e->d_name));
  ::closedir(d);
  return names;
}

}  // namespace

std::string TQcCustomReceiveFax::DefaultFaxName() const {
  if (namingScheme_ != 1 && namingScheme_ != 2) return "noname.apf";
  std::string dir = destinationDir_;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  std::string prefix = "FAX";
  if (namingScheme_ == 2) {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char md[32];
    std::snprintf(md, sizeof md, "%02d%02d", tm.tm_mon + 1, tm.tm_mday);
    prefix = md;
  }
  // Anything of that name already there (a file or a folder) takes the number.
  const std::set<std::string> taken = NamesIn(destinationDir_);
  for (int n = 1; n <= 9999; ++n) {
    char number[16];
    std::snprintf(number, sizeof number, "%04d", n);
    const std::string name = prefix + number + "." + FaxFileExt();
    if (!taken.count(Upper(name))) return dir + name;
  }
  return dir + "NONAME.APF";
}

}  // namespace qc

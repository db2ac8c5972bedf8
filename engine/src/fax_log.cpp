#include <cerrno>
#include <cstdio>
#include <cstring>

#include "control/errors.h"
#include "engine/fax_components.h"
#include "fax_log_entry.h"

namespace qc {

void TQcFaxLog::WriteLogEntry(int logCode) {
  if (historyName_.empty() || !fax_) return;
  FaxLogFacts facts;
  facts.sender = fax_->IsSender();
  facts.faxFile = fax_->FaxFile();
  if (facts.sender) facts.phoneNumber = static_cast<TQcSendFax*>(fax_)->PhoneNumber();
  facts.remoteId = fax_->RemoteStationID();
  facts.hangupResult = fax_->HangupResult();
  facts.sessionError = fax_->SessionError();
  const std::string entry = FaxLogEntry(logCode, facts, std::time(nullptr));
  if (entry.empty()) return;
  std::FILE* f = std::fopen(historyName_.c_str(), "ab");
  if (!f) {
    const int err = errno;
    throw EInOutError(historyName_ + ": " + std::strerror(err), err);
  }
  const bool ok = std::fwrite(entry.data(), 1, entry.size(), f) == entry.size();
  const bool closed = std::fclose(f) == 0;
  if (!ok || !closed) throw EInOutError(historyName_ + ": write failed", EIO);
}

}  // namespace qc

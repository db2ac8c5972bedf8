#include "fax_log_entry.h"

#include "control/errors.h"
#include "header_macros.h"

namespace qc {

std::string FaxLogEntry(int code, const FaxLogFacts& f, std::time_t now) {
  const bool transmitCode = code >= 1 && code <= 3;
  const bool receiveCode = code >= 4 && code <= 7;
  if (!(transmitCode && f.sender) && !(receiveCode && !f.sender)) return {};
  const std::string when = ShortDateText(now) + " " + LongTimeText(now);
  const std::string hangup = std::to_string(f.hangupResult);
  const std::string crlf = "\r\n";
  std::string s = transmitCode ? "Transmit " : "Receive ";
  switch (code) {
    case 1: s += f.faxFile + " to " + f.phoneNumber + " started at " + when + crlf; break;
    case 2: s += "to " + f.remoteId + " finished OK at " + when + " " + hangup + crlf + crlf; break;
    case 3:
      s += "failed at " + when + crlf + "  (" + ErrorText(f.sessionError) + ") " + hangup + crlf + crlf;
      break;
    case 4: s += f.faxFile + " from " + f.remoteId + " started at " + when + crlf; break;
    case 5: s += "finished OK at " + when + crlf + crlf; break;
    case 6: s += "skipped at " + when + crlf + crlf; break;
    case 7: s += "failed at " + when + crlf + "  (" + ErrorText(f.sessionError) + ")" + crlf + crlf; break;
  }
  return s;
}

}  // namespace qc

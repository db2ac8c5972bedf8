// The entries of the fax history file.
#pragma once

#include <ctime>
#include <string>

namespace qc {

struct FaxLogFacts {
  bool sender = true;  // a send component writes codes 1..3, a receive one 4..7
  std::string faxFile;
  std::string phoneNumber;
  std::string remoteId;
  int hangupResult = 0;
  int sessionError = 0;
};

// The text written for `code`, CRLF line ends; empty when the component
// does not write that code.
std::string FaxLogEntry(int code, const FaxLogFacts& facts, std::time_t now);

}  // namespace qc

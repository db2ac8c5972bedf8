// The program's side of the fax printer driver: the job files the driver
// drops into SEND beside its fax file, and QCPD.INI, which tells the driver
// where to drop them and which program to start.
#pragma once

#include <string>
#include <vector>

namespace qc {

// Widest fax file name a record can hold (FAXDOC, 8.3).
inline constexpr int kMaxFaxFileName = 12;

// One line each in the job file, in this order.
struct PrinterJob {
  std::string phone;
  std::string recipient;
  std::string subject;
};

// Names (without folder) of the entries of `sendFolder` ending in ".qcj",
// letter case ignored, hidden files included; sorted so that jobs are taken
// in a stable order.
std::vector<std::string> FindJobFiles(const std::string& sendFolder);

// `name` with its extension (the part from the last dot) replaced by `ext`;
// a name without a dot gets `ext` appended.
std::string ChangeExtension(const std::string& name, const std::string& ext);

enum class TJobNameFault {
  jnOk,
  jnOutsideSendFolder,  // the fax file does not lie directly in SEND
  jnNameTooLong,        // the fax file name does not fit FAXDOC
};

// Checks a job's fax file name before anything is touched: it must name a
// file directly inside `sendFolder` (no other folder, no "..") whose name
// fits the 12 characters of FAXDOC.
TJobNameFault CheckJobFaxFile(const std::string& sendFolder, const std::string& apfPath);
// The status panel text for a rejected job.
std::string JobNameFaultText(TJobNameFault fault, const std::string& apfPath);

// Reads the three lines of a job file (Windows-1252 or UTF-8, LF or CRLF).
// False with `error` set when the file cannot be read or has fewer than
// three lines.
bool ReadJobFile(const std::string& path, PrinterJob& job, std::string& error);

// $XDG_CONFIG_HOME/quillcast/QCPD.INI, default ~/.config/quillcast/QCPD.INI.
std::string QcpdIniFileName();

// Writes [Location] QCOutPath = `sendFolder` and QCExecutable = `executable`
// into QCPD.INI, creating its folder. Raises EIniFileException
// ("Unable to write to <file>") when it cannot be written.
void WriteQCPDINI(const std::string& sendFolder, const std::string& executable);

}  // namespace qc

#include "app/printer_jobs.h"

#include <dirent.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/folders.h"
#include "app/ini_file.h"
#include "app/text_fields.h"

namespace qc {

std::vector<std::string> FindJobFiles(const std::string& sendFolder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(sendFolder.c_str());
  if (!dir) return names;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() > 4 && EndsWithIgnoreCase(name, ".qcj")) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::string ChangeExtension(const std::string& name, const std::string& ext) {
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + ext;
  return name.substr(0, dot) + ext;
}

TJobNameFault CheckJobFaxFile(const std::string& sendFolder, const std::string& apfPath) {
  if (apfPath.size() <= sendFolder.size() || apfPath.compare(0, sendFolder.size(), sendFolder) != 0)
    return TJobNameFault::jnOutsideSendFolder;
  const std::string name = apfPath.substr(sendFolder.size());
  if (name.find('/') != std::string::npos || name == "." || name == "..")
    return TJobNameFault::jnOutsideSendFolder;
  if (static_cast<int>(name.size()) > kMaxFaxFileName) return TJobNameFault::jnNameTooLong;
  return TJobNameFault::jnOk;
}

std::string JobNameFaultText(TJobNameFault fault, const std::string& apfPath) {
  const std::string name = std::filesystem::path(apfPath).filename().string();
  switch (fault) {
    case TJobNameFault::jnOk:
      return {};
    case TJobNameFault::jnOutsideSendFolder:
      return "Printer job ignored: " + apfPath + " is not in the send folder";
    case TJobNameFault::jnNameTooLong:
      return "Printer job ignored: the fax file name " + name + " is longer than 12 characters";
  }
  return {};
}

bool ReadJobFile(const std::string& path, PrinterJob& job, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "Cannot open file \"" + path + "\"";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    error = "Cannot read file \"" + path + "\"";
    return false;
  }
  const std::vector<std::string> lines = SplitLines(AsUtf8(text.str()));
  if (lines.size() < 3) {
    error = "Read beyond end of file \"" + path + "\"";
    return false;
  }
  job.phone = lines[0];
  job.recipient = lines[1];
  job.subject = lines[2];
  return true;
}

std::string QcpdIniFileName() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (home && home[0] != '\0') {
      base = home;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
      base = pw->pw_dir;
    } else {
      base = "/tmp";
    }
    if (base.back() != '/') base += '/';
    base += ".config";
  }
  if (base.back() != '/') base += '/';
  return base + "quillcast/QCPD.INI";
}

void WriteQCPDINI(const std::string& sendFolder, const std::string& executable) {
  const std::string file = QcpdIniFileName();
  ForceFolders(std::filesystem::path(file).parent_path().string());
  IniFile ini(file);
  ini.WriteString("Location", "QCOutPath", sendFolder);
  ini.WriteString("Location", "QCExecutable", executable);
}

}  // namespace qc

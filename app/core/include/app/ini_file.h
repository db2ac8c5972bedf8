// QC.INI-style initialisation files: "[Section]" lines and "Key=Value" lines.
//
// Sections and keys match without regard to ASCII letter case; values are
// returned as written (only the blanks around them are trimmed, quotes are
// kept). Writing a key replaces only that key: every other line of the file
// (other sections, unknown keys, comments, blank lines, their order and the
// file's line ending) stays as it was. Each write replaces the file
// atomically through a temporary file in the same folder, so a crash leaves
// either the old or the new file, never a half-written one.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qc {

// Raised when an initialisation file cannot be written. The message is
// "Unable to write to <file name>"; keys written before the failure stay written.
class EIniFileException : public std::runtime_error {
 public:
  EIniFileException(const std::string& fileName, int systemError);
  const std::string& FileName() const noexcept { return fileName_; }
  // The errno of the failed operation (0 when none applies).
  int SystemError() const noexcept { return systemError_; }

 private:
  std::string fileName_;
  int systemError_;
};

class IniFile {
 public:
  // Reads `fileName` if it exists; a missing or unreadable file reads as empty.
  explicit IniFile(std::string fileName);
  // An initialisation file whose present text is `text`; nothing is read.
  static IniFile FromText(std::string fileName, std::string_view text);

  const std::string& FileName() const noexcept { return fileName_; }

  // The value of the first matching key, or `defaultValue` when the key is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // Decimal integer (optional sign, surrounding blanks); a missing key, an
  // empty value or anything else that is not a number in range gives the default.
  int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
  // Read as an integer: non-zero is true.
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;

  // Sets one key and writes the file. Line breaks in `value` would split the
  // line and plant foreign keys, so they are written as blanks.
  // Raises EIniFileException on failure; the file on disk is then unchanged.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  // The same change in memory only; the file is not written.
  void SetString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int value);
  // Written as "0" or "1".
  void WriteBool(std::string_view section, std::string_view key, bool value);

  // The file's text as it would be written now.
  std::string Text() const;

 private:
  struct Found {
    int sectionLine = -1;  // -1: no such section
    int keyLine = -1;      // -1: no such key in it
    int lastKeyLine = -1;  // last "Key=Value" line of the section, -1 when none
  };
  IniFile() = default;
  void parse(std::string_view text);
  Found find(std::string_view section, std::string_view key) const;
  void store() const;

  std::string fileName_;
  std::vector<std::string> lines_;  // without line terminators
  std::string lineEnd_ = "\n";
  bool bom_ = false;
};

// Parses a decimal integer the way initialisation files hold them; false when
// `text` is not one.
bool ParseIniInteger(std::string_view text, int& value);

}  // namespace qc

// One open DBF table file: header, field list and record I/O, the advisory
// lock that makes an exclusive open exclusive, and pack.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dbf_format.h"

namespace qc {

class DbfFile {
 public:
  DbfFile() = default;
  ~DbfFile();
  DbfFile(const DbfFile&) = delete;
  DbfFile& operator=(const DbfFile&) = delete;

  // Writes a new empty table (replacing any file of that name).
  static int Create(const std::string& path, const std::vector<dbf::Field>& fields, std::string& message);

  // Opens and locks: exclusive fails while any other open of the file holds a
  // lock; shared fails while an exclusive one does. A record count that
  // disagrees with the file size is replaced by the number of complete records
  // (and the header mended when the table is open for writing exclusively).
  int Open(const std::string& path, bool exclusive, bool readOnly, std::string& message);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  const std::string& Path() const { return path_; }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return readOnly_; }
  const dbf::Header& Header() const { return header_; }
  const std::vector<dbf::Field>& Fields() const { return fields_; }
  int FieldIndex(std::string_view name) const;  // -1 when unknown; case ignored
  std::uint32_t RecordCount() const { return header_.recordCount; }
  int RecordLength() const { return header_.recordLength; }
  // True when Open found a record count that disagreed with the size.
  bool CountMended() const { return countMended_; }

  // Re-reads the count after another process may have appended (shared use).
  int Refresh();

  int Read(std::uint32_t recno, std::uint8_t* buf) const;
  // `count` records from `first` into `buf` (count * RecordLength bytes).
  int ReadRange(std::uint32_t first, std::uint32_t count, std::uint8_t* buf) const;
  int Write(std::uint32_t recno, const std::uint8_t* buf);
  // Writes the record and the end byte after the last record first, and only
  // then the header's count, so that a crash leaves either the old table or
  // the new one.
  int Append(const std::uint8_t* buf, std::uint32_t& recno);
  int SetDeleteFlag(std::uint32_t recno, bool deleted);
  int SetProductionIndexFlag(bool on);

  // Removes the records marked deleted: the live ones are written to a new
  // file which then replaces the table, so a crash leaves one whole table.
  // `progress` gets 0..100.
  int Pack(const std::function<void(int)>& progress, std::string& message);

  // Serialises writers of a shared table (no-op when exclusive).
  int LockForWrite();
  void UnlockForWrite();

 private:
  int ReadHeader(std::string& message);
  int TouchHeader();

  int fd_ = -1;
  std::string path_;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool countMended_ = false;
  bool dateTouched_ = false;
  dbf::Header header_;
  std::vector<std::uint8_t> headerBytes_;
  std::vector<dbf::Field> fields_;
};

// Today's date as header bytes want it.
void TodayYmd(int& year, int& month, int& day);

}  // namespace qc

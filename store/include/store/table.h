// The record store's data-set: one xBase table (.DBF) with its production
// compound index (.CDX of the same base name), a current order, a filter and
// a current record with an edit buffer.
//
// Every operation returns 0 or a negative code (store_errors.h and the shared
// file-layer codes); LastError() then holds a one-line message. Texts cross
// this interface as UTF-8 and are stored in Windows-1252.
//
// Records marked deleted are hidden in every order unless SetShowDeleted(true).
// Post, AppendBlank and Delete change the files before they return, and every
// open tag (FOR condition included) is kept right on each of them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qc {

namespace dbf {
struct Field;
}

struct FieldDef {
  std::string name;
  char type = 'C';  // C, D, N or L
  int width = 0;
  int decimals = 0;
};

// A calendar date; year 0 is the blank date.
struct Date {
  int year = 0, month = 0, day = 0;
  bool IsBlank() const { return year == 0; }
  bool operator==(const Date&) const = default;
};

struct TagDescription {
  int number = 0;  // 1-based, creation order
  std::string name;
  std::string keyExpr;
  std::string forExpr;  // empty when the tag has no FOR condition
  bool descending = false;
  std::uint32_t keyCount = 0;
};

// "create new table", "create field", "execute creation".
class TableCreator {
 public:
  // tableType 2 is the FoxPro-compatible table with a compound index, the only
  // type this engine writes.
  bool CreateNewTable(const std::string& path, int tableType, int fieldCount);
  bool CreateField(const std::string& name, char type, int width, int decimals);
  // True when the file was written; the definition is closed either way.
  bool ExecuteCreation();
  int LastCode() const { return code_; }
  const std::string& LastError() const { return error_; }

 private:
  bool defining_ = false;
  std::string path_;
  int fieldCount_ = 0;
  std::vector<FieldDef> fields_;
  int code_ = 0;
  std::string error_;
};

enum class TableState { tsInactive, tsBrowse, tsEdit, tsInsert };
inline constexpr const char* kTableStateNames[] = {"Inactive", "Browse", "Edit", "Insert"};

// Progress of pack and tag building, 0..100 per step.
using ProgressHook = std::function<void(int percent)>;

class TTable {
 public:
  TTable();
  ~TTable();
  TTable(const TTable&) = delete;
  TTable& operator=(const TTable&) = delete;

  // --- data-set settings, then Open --------------------------------------
  void SetFolder(const std::string& folder) { folder_ = folder; }
  void SetTableName(const std::string& name) { tableName_ = name; }
  void SetExclusive(bool exclusive) { exclusive_ = exclusive; }
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  const std::string& Folder() const { return folder_; }
  const std::string& TableName() const { return tableName_; }
  bool Exclusive() const { return exclusive_; }
  std::string TablePath() const;  // folder + table name
  std::string IndexPath() const;  // the same with the extension CDX

  // Opens the table and, when it exists, its .CDX. An index that disagrees
  // with the table (key counts, damaged pages, keys of other records) is
  // rebuilt here; IndexRebuilt() tells afterwards.
  int Open();
  void Close();
  bool Active() const;
  bool IndexRebuilt() const { return indexRebuilt_; }

  // --- structure -----------------------------------------------------------
  int FieldCount() const;
  FieldDef Field(int index) const;
  int FieldIndex(std::string_view name) const;  // -1 when unknown; case ignored

  // --- indexes ---------------------------------------------------------------
  // Creates a tag in the production index (the file is created with the first
  // tag) and makes it the current order. option: 0 (no unique tags).
  int IndexTag(const std::string& name, const std::string& keyExpr, int option, bool descending,
               const std::string& forExpr);
  int TagCount() const;
  int TagNumber(std::string_view name) const;  // 0 when none
  int GetTagDescription(int number, TagDescription& out);
  int SetOrder(int number);                    // 0 = physical order
  int CurrentOrder() const { return order_; }
  // Releases the .CDX so that it can be deleted; the order becomes physical.
  int CloseIndexes();
  // Builds every tag afresh from the records.
  int RecreateTags();

  // --- filter and counts -------------------------------------------------------
  // Only matching records are visible; empty = no filter. Replaces the
  // previous filter and moves to the first visible record.
  int Query(const std::string& filter);
  const std::string& Filter() const { return filterText_; }
  // Records visible in the current order under the filter; negative on error.
  std::int64_t QueryRecordCount();
  // Every record of the file, deleted ones included.
  std::uint32_t RecordCount() const;
  // The current record's number, or RecordCount() + 1 when there is none.
  std::uint32_t RecNo() const;
  void SetShowDeleted(bool show) { showDeleted_ = show; }

  // --- navigation -------------------------------------------------------------
  int First();
  int Last();
  int Next();
  int Prior();
  // Fails (position unchanged) when the record is not visible.
  int GoTo(std::uint32_t recno);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool HasRecord() const { return recno_ != 0; }
  // Re-reads the current record (and the record count of a shared table).
  int Refresh();

  // --- records ------------------------------------------------------------------
  TableState State() const { return state_; }
  int Append();       // a blank record in the edit buffer; Post writes it
  int AppendBlank();  // Append and Post
  int Edit();
  int Post();
  int Cancel();
  int Delete();  // marks the current record deleted and moves on
  bool IsDeleted() const;

  // Field values. Getters return the empty/zero value (and set LastError) for an
  // unknown field; setters need the Edit or Insert state.
  std::string AsText(int field) const;  // C: trailing blanks trimmed; D: YYYYMMDD or ""; L: T/F
  std::string AsText(std::string_view field) const;
  Date AsDate(int field) const;
  Date AsDate(std::string_view field) const;
  int AsSmallInt(int field) const;
  int AsSmallInt(std::string_view field) const;
  bool AsLogical(int field) const;
  bool AsLogical(std::string_view field) const;
  int SetText(int field, std::string_view utf8);
  int SetText(std::string_view field, std::string_view utf8);
  int SetDate(int field, const Date& date);
  int SetDate(std::string_view field, const Date& date);
  int SetSmallInt(int field, int value);
  int SetSmallInt(std::string_view field, int value);
  int SetLogical(int field, bool value);
  int SetLogical(std::string_view field, bool value);

  // --- maintenance ----------------------------------------------------------------
  // Removes the records marked deleted (exclusive use) and rebuilds every tag.
  int Pack();
  void SetProgressHook(ProgressHook hook) { progress_ = std::move(hook); }

  int LastCode() const { return lastCode_; }
  const std::string& LastError() const { return lastError_; }

  struct Impl;

 private:
  int Fail(int code, const std::string& message) const;
  int Ok() const;
  bool ValidateIndex();
  int RebuildIndex();
  int IndexFault(const std::string& what);
  int CheckBrowse();
  bool Visible(const std::uint8_t* rec, std::uint32_t recno, bool checkTag) const;
  void SetCurrent(std::uint32_t recno, const std::uint8_t* rec);
  void SetNoRecord(bool eof, bool bof);
  int ScanFrom(std::int64_t start, int dir, bool& found);
  int WalkCursor(int dir, bool& found);
  int SyncCursor(bool& exact);
  int ChangeRecord(std::uint32_t target, const std::uint8_t* oldRec, const std::uint8_t* newRec,
                   const std::function<int()>& write);
  const std::uint8_t* FieldBytes(int field, const dbf::Field** info) const;
  std::uint8_t* WritableField(int field, const dbf::Field** info);
  int NamedField(std::string_view name) const;
  int StoreNumber(const dbf::Field& f, std::uint8_t* p, double v);

  std::string folder_;
  std::string tableName_;
  bool exclusive_ = true;
  bool readOnly_ = false;
  bool showDeleted_ = false;
  bool indexRebuilt_ = false;
  int order_ = 0;
  std::string filterText_;
  std::uint32_t recno_ = 0;
  std::uint32_t savedRecno_ = 0;
  bool eof_ = true;
  bool bof_ = true;
  TableState state_ = TableState::tsInactive;
  ProgressHook progress_;
  mutable int lastCode_ = 0;
  mutable std::string lastError_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qc

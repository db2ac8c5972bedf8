#include "store/table.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cdx_file.h"
#include "codepage_1252.h"
#include "control/error_codes.h"
#include "dbf_file.h"
#include "expression.h"
#include "file_io.h"
#include "store/store_errors.h"

namespace qc {
namespace {

// Records read per call when a whole table is scanned.
constexpr std::uint32_t kScanChunk = 2048;
// Entries compared with their records at each end of every tag when a table opens.
constexpr int kSampledEntries = 8;

std::string Trimmed(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return std::string(s.substr(0, n));
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

struct TagState {
  std::string name;
  std::string keySource;
  std::string forSource;
  bool descending = false;
  Expression key;
  Expression cond;
  bool hasFor = false;
  // A FOR condition that reads nothing but the delete flag has two answers,
  // worked out once.
  bool forByFlag = false;
  bool forLive = true, forDeleted = true;
  CdxKeyType type = CdxKeyType::Character;
  int length = 0;
};

}  // namespace

struct TTable::Impl {
  DbfFile dbf;
  std::unique_ptr<CdxFile> cdx;
  std::vector<TagState> tags;
  std::unique_ptr<CdxCursor> cursor;
  Expression filter;
  std::vector<std::uint8_t> buffer;    // current record, or the one being edited
  std::vector<std::uint8_t> scratch;   // records read while moving
  std::vector<std::uint8_t> chunk;     // records read while scanning

  const std::vector<dbf::Field>& Fields() const { return dbf.Fields(); }

  std::vector<std::uint8_t> BlankRecord() const {
    std::vector<std::uint8_t> r(static_cast<std::size_t>(dbf.RecordLength()), ' ');
    for (const dbf::Field& f : Fields())
      if (f.type == 'L') r[static_cast<std::size_t>(f.offset)] = 'F';
    return r;
  }

  bool InTag(const TagState& t, const std::uint8_t* rec, std::uint32_t recno) const {
    if (!t.hasFor) return true;
    if (t.forByFlag) return rec[0] == static_cast<std::uint8_t>(dbf::kDeleted) ? t.forDeleted : t.forLive;
    return t.cond.EvaluateLogical(rec, recno);
  }

  std::string KeyOf(const TagState& t, const std::uint8_t* rec, std::uint32_t recno) const {
    ExprValue v;
    t.key.Evaluate(rec, recno, v);
    switch (t.type) {
      case CdxKeyType::Character: return CdxEncodeCharKey(v.text, t.length);
      case CdxKeyType::Logical: return CdxEncodeLogicalKey(v.logical);
      case CdxKeyType::Numeric: return CdxEncodeNumericKey(v.number);
      case CdxKeyType::Date: return CdxEncodeDateKey(static_cast<int32_t>(v.number));
    }
    return {};
  }

  // Compiles a tag's expressions against the table; false with a message.
  bool CompileTag(TagState& t, std::string& message) const {
    if (!t.key.Compile(t.keySource, Fields(), message)) {
      message = "tag " + t.name + ": key " + message;
      return false;
    }
    t.hasFor = !Trimmed(t.forSource).empty();
    if (t.hasFor) {
      if (!t.cond.Compile(t.forSource, Fields(), message)) {
        message = "tag " + t.name + ": FOR condition " + message;
        return false;
      }
      if (t.cond.Type() != ExprType::Logical) {
        message = "tag " + t.name + ": FOR condition is not a logical expression";
        return false;
      }
      t.forByFlag = t.cond.OnlyDeleteFlag();
      if (t.forByFlag) {
        std::vector<std::uint8_t> probe = BlankRecord();
        t.forLive = t.cond.EvaluateLogical(probe.data(), 1);
        probe[0] = static_cast<std::uint8_t>(dbf::kDeleted);
        t.forDeleted = t.cond.EvaluateLogical(probe.data(), 1);
      }
    }
    switch (t.key.Type()) {
      case ExprType::Character:
        t.type = CdxKeyType::Character;
        t.length = t.key.Width();
        break;
      case ExprType::Logical:
        t.type = CdxKeyType::Logical;
        t.length = 1;
        break;
      case ExprType::Numeric:
        t.type = CdxKeyType::Numeric;
        t.length = 8;
        break;
      case ExprType::Date:
        t.type = CdxKeyType::Date;
        t.length = 8;
        break;
    }
    if (t.length < 1 || t.length > kCdxMaxKeyLength) {
      message = "tag " + t.name + ": key length " + std::to_string(t.length) + " is outside 1.." +
                std::to_string(kCdxMaxKeyLength);
      return false;
    }
    return true;
  }

  // Calls `fn(rec, recno)` for every record, reading in chunks. (A mapping of
  // the file measured slower than chunked reads, and a file cut short behind
  // it would fault.)
  template <typename Fn>
  int Scan(Fn&& fn, const ProgressHook* progress = nullptr) {
    const std::uint32_t count = dbf.RecordCount();
    const std::size_t len = static_cast<std::size_t>(dbf.RecordLength());
    auto report = [&](std::uint32_t done) {
      if (progress && *progress) (*progress)(count == 0 ? 100 : static_cast<int>(done * 100ull / count));
    };
    report(0);
    chunk.resize(kScanChunk * len);
    for (std::uint32_t first = 1; first <= count && first != 0; first += kScanChunk) {
      const std::uint32_t n = std::min(kScanChunk, count - first + 1);
      if (const int rc = dbf.ReadRange(first, n, chunk.data()); rc != 0) return rc;
      for (std::uint32_t i = 0; i < n; ++i) fn(chunk.data() + i * len, first + i);
      if (first + n - 1 < count) report(first + n - 1);
    }
    report(count);
    return 0;
  }
};

// ---------------------------------------------------------------------------
// TableCreator

bool TableCreator::CreateNewTable(const std::string& path, int tableType, int fieldCount) {
  defining_ = false;
  fields_.clear();
  code_ = 0;
  error_.clear();
  if (tableType != 2) {
    code_ = seBadTable;
    error_ = "only table type 2 (FoxPro with compound index) is supported";
    return false;
  }
  if (path.empty() || fieldCount < 1 || fieldCount > 2046) {
    code_ = ecBadArgument;
    error_ = "a table needs a file name and 1 to 2046 fields";
    return false;
  }
  path_ = path;
  fieldCount_ = fieldCount;
  defining_ = true;
  return true;
}

bool TableCreator::CreateField(const std::string& name, char type, int width, int decimals) {
  if (!defining_) {
    code_ = seWrongState;
    error_ = "no table is being defined";
    return false;
  }
  if (static_cast<int>(fields_.size()) >= fieldCount_) {
    code_ = ecBadArgument;
    error_ = "more fields than the table was created with";
    return false;
  }
  FieldDef f;
  for (char c : name) f.name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(type)));
  f.width = width;
  f.decimals = decimals;
  dbf::Field check{f.name, f.type, f.width, f.decimals, 0};
  if (!dbf::ValidField(check, error_)) {
    code_ = seBadValue;
    return false;
  }
  fields_.push_back(std::move(f));
  return true;
}

bool TableCreator::ExecuteCreation() {
  if (!defining_) {
    code_ = seWrongState;
    error_ = "no table is being defined";
    return false;
  }
  defining_ = false;
  if (static_cast<int>(fields_.size()) != fieldCount_) {
    code_ = ecBadArgument;
    error_ = "the table was created with " + std::to_string(fieldCount_) + " fields but " +
             std::to_string(fields_.size()) + " were defined";
    return false;
  }
  std::vector<dbf::Field> fields;
  for (const FieldDef& f : fields_) fields.push_back(dbf::Field{f.name, f.type, f.width, f.decimals, 0});
  code_ = DbfFile::Create(path_, fields, error_);
  return code_ == 0 && FileExists(path_);
}

// ---------------------------------------------------------------------------
// TTable: opening and structure

TTable::TTable() : impl_(std::make_unique<Impl>()) {}
TTable::~TTable() { Close(); }

int TTable::Fail(int code, const std::string& message) const {
  lastCode_ = code;
  lastError_ = message.empty() ? StoreErrorText(code) : message;
  return code;
}

int TTable::Ok() const {
  lastCode_ = 0;
  lastError_.clear();
  return 0;
}

std::string TTable::TablePath() const {
  if (impl_->dbf.IsOpen()) return impl_->dbf.Path();
  return PathNoCase(folder_, tableName_);
}

std::string TTable::IndexPath() const {
  // The table's name with the extension CDX, in the case of the table's own
  // extension (QCOUT.DBF -> QCOUT.CDX, mail.dbf -> mail.cdx); an existing
  // index whose name differs in case is found too.
  std::string name = TablePath();
  std::string folder;
  if (const std::size_t slash = name.find_last_of('/'); slash != std::string::npos) {
    folder = name.substr(0, slash + 1);
    name = name.substr(slash + 1);
  }
  const bool lower = !name.empty() && std::islower(static_cast<unsigned char>(name.back()));
  if (const std::size_t dot = name.find_last_of('.'); dot != std::string::npos) name.resize(dot);
  return PathNoCase(folder, name + (lower ? ".cdx" : ".CDX"));
}

bool TTable::Active() const { return impl_->dbf.IsOpen(); }

int TTable::Open() {
  Close();
  indexRebuilt_ = false;
  Impl& m = *impl_;
  std::string message;
  const std::string path = TablePath();
  if (const int rc = m.dbf.Open(path, exclusive_, readOnly_, message); rc != 0) return Fail(rc, message);
  const bool writable = !readOnly_;

  const std::string indexPath = IndexPath();
  if (FileExists(indexPath)) {
    std::unique_ptr<CdxFile> cdx;
    const int rc = CdxFile::Open(indexPath, readOnly_, cdx);
    if (rc != 0) {
      // Not even its tag list can be read: nothing in it can be kept. A
      // writable table drops it, so that its owner creates the tags afresh.
      if (writable && exclusive_) ::unlink(indexPath.c_str());
    } else {
      std::vector<TagState> tags;
      for (int n = 1; n <= cdx->TagCount(); ++n) {
        const CdxTagInfo* info = cdx->Tag(n);
        TagState t;
        t.name = info->name;
        t.keySource = info->keyExpr;
        t.forSource = info->forExpr;
        t.descending = info->descending;
        if (!m.CompileTag(t, message)) {
          m.dbf.Close();
          return Fail(seBadExpression, indexPath + ": " + message);
        }
        tags.push_back(std::move(t));
      }
      m.cdx = std::move(cdx);
      m.tags = std::move(tags);
      bool sound = true;
      for (int n = 1; n <= static_cast<int>(m.tags.size()); ++n) {
        const TagState& t = m.tags[n - 1];
        const CdxTagInfo* info = m.cdx->Tag(n);
        if (info->keyLength != t.length) sound = false;
        m.cdx->SetKeyType(n, t.type);
      }
      if (!sound || !ValidateIndex()) {
        if (!writable) {
          // A wrong list is worse than none: read the table in physical order.
          m.cdx.reset();
          m.tags.clear();
        } else {
          if (const int r = RebuildIndex(); r != 0) {
            const std::string why = lastError_;
            Close();
            return Fail(r, why);
          }
          indexRebuilt_ = true;
        }
      }
    }
  }
  if (writable && exclusive_) {
    // Keep byte 28 telling other engines whether a production index exists.
    if (const int rc = m.dbf.SetProductionIndexFlag(m.cdx != nullptr); rc != 0) {
      Close();
      return Fail(rc, "cannot write the header of " + path);
    }
  }
  state_ = TableState::tsBrowse;
  order_ = 0;
  First();
  return Ok();
}

void TTable::Close() {
  Impl& m = *impl_;
  m.cursor.reset();
  m.cdx.reset();
  m.tags.clear();
  m.filter = Expression();
  m.dbf.Close();
  filterText_.clear();
  order_ = 0;
  recno_ = 0;
  eof_ = bof_ = true;
  state_ = TableState::tsInactive;
}

int TTable::FieldCount() const { return static_cast<int>(impl_->Fields().size()); }

FieldDef TTable::Field(int index) const {
  if (index < 0 || index >= FieldCount()) return {};
  const dbf::Field& f = impl_->Fields()[static_cast<std::size_t>(index)];
  return FieldDef{f.name, f.type, f.length, f.decimals};
}

int TTable::FieldIndex(std::string_view name) const { return impl_->dbf.FieldIndex(name); }

std::uint32_t TTable::RecordCount() const { return impl_->dbf.IsOpen() ? impl_->dbf.RecordCount() : 0; }

std::uint32_t TTable::RecNo() const { return recno_ != 0 ? recno_ : RecordCount() + 1; }

// ---------------------------------------------------------------------------
// Index validation and rebuilding

bool TTable::ValidateIndex() {
  Impl& m = *impl_;
  if (!m.cdx) return true;
  // Keys each tag must hold: one per record whose FOR condition holds.
  std::vector<std::int64_t> expected(m.tags.size(), 0);
  const int rc = m.Scan([&](const std::uint8_t* rec, std::uint32_t recno) {
    for (std::size_t i = 0; i < m.tags.size(); ++i)
      if (m.InTag(m.tags[i], rec, recno)) ++expected[i];
  });
  if (rc != 0) return false;
  std::vector<std::uint8_t> rec(static_cast<std::size_t>(m.dbf.RecordLength()));
  for (int n = 1; n <= static_cast<int>(m.tags.size()); ++n) {
    if (m.cdx->QuickCheck(n, expected[static_cast<std::size_t>(n - 1)]) != 0) return false;
    // Entries at both ends must be the keys of their records: this catches a
    // table replaced behind its index with the same number of records.
    const TagState& t = m.tags[static_cast<std::size_t>(n - 1)];
    for (int end = 0; end < 2; ++end) {
      CdxCursor c(*m.cdx, n);
      if ((end == 0 ? c.First() : c.Last()) != 0) return false;
      for (int k = 0; k < kSampledEntries && c.Valid(); ++k) {
        const std::uint32_t r = c.RecNo();
        if (r < 1 || r > m.dbf.RecordCount()) return false;
        if (m.dbf.Read(r, rec.data()) != 0) return false;
        if (!m.InTag(t, rec.data(), r) || m.KeyOf(t, rec.data(), r) != c.Key()) return false;
        if ((end == 0 ? c.Next() : c.Prior()) != 0) return false;
      }
    }
  }
  return true;
}

int TTable::RebuildIndex() {
  Impl& m = *impl_;
  if (m.tags.empty()) return Ok();
  if (m.dbf.ReadOnly()) return Fail(seReadOnly, "the table is open for reading only");
  const std::string path = IndexPath();
  const std::string temp = path + ".new";
  m.cursor.reset();
  m.cdx.reset();
  std::unique_ptr<CdxFile> cdx;
  if (const int rc = CdxFile::Create(temp, cdx); rc != 0) return Fail(rc, "cannot create " + temp);
  std::vector<std::vector<CdxEntry>> entries(m.tags.size());
  for (std::size_t i = 0; i < m.tags.size(); ++i) {
    const TagState& t = m.tags[i];
    CdxTagSpec def{t.name, t.keySource, t.forSource, t.descending, t.length, t.type};
    if (const int rc = cdx->AddTag(def); rc != 0) {
      ::unlink(temp.c_str());
      return Fail(rc, "cannot add tag " + t.name + " to " + temp);
    }
  }
  const int scan = m.Scan(
      [&](const std::uint8_t* rec, std::uint32_t recno) {
        for (std::size_t i = 0; i < m.tags.size(); ++i)
          if (m.InTag(m.tags[i], rec, recno)) entries[i].push_back(CdxEntry{m.KeyOf(m.tags[i], rec, recno), recno});
      },
      &progress_);
  if (scan != 0) {
    ::unlink(temp.c_str());
    return Fail(scan, "cannot read " + TablePath());
  }
  for (std::size_t i = 0; i < m.tags.size(); ++i) {
    if (const int rc = cdx->BulkBuild(static_cast<int>(i + 1), std::move(entries[i])); rc != 0) {
      ::unlink(temp.c_str());
      return Fail(rc, "cannot build tag " + m.tags[i].name);
    }
  }
  cdx.reset();
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int rc = CodeForErrno(errno);
    ::unlink(temp.c_str());
    return Fail(rc, "cannot replace " + path);
  }
  if (const int rc = CdxFile::Open(path, false, m.cdx); rc != 0) return Fail(rc, "cannot reopen " + path);
  for (int n = 1; n <= static_cast<int>(m.tags.size()); ++n) m.cdx->SetKeyType(n, m.tags[n - 1].type);
  if (order_ > 0) m.cursor = std::make_unique<CdxCursor>(*m.cdx, order_);
  return Ok();
}

int TTable::RecreateTags() {
  if (!Active()) return Fail(seNotOpen, "");
  if (state_ != TableState::tsBrowse) return Fail(seWrongState, "post or cancel the edit first");
  return RebuildIndex();
}

// ---------------------------------------------------------------------------
// Tags and order

int TTable::IndexTag(const std::string& name, const std::string& keyExpr, int option, bool descending,
                     const std::string& forExpr) {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (m.dbf.ReadOnly()) return Fail(seReadOnly, "the table is open for reading only");
  if (state_ != TableState::tsBrowse) return Fail(seWrongState, "post or cancel the edit first");
  if (option != 0) return Fail(ecBadArgument, "only option 0 (a tag that allows repeated keys) is supported");
  if (name.empty() || name.size() > static_cast<std::size_t>(kCdxMaxTagName))
    return Fail(ecBadArgument, "a tag name has 1 to 10 characters");
  for (char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
      return Fail(ecBadArgument, "tag name " + name + " holds an invalid character");
  TagState t;
  for (char c : name) t.name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  t.keySource = keyExpr;
  t.forSource = forExpr;
  t.descending = descending;
  std::string message;
  if (!m.CompileTag(t, message)) return Fail(seBadExpression, message);
  if (TagNumber(t.name) != 0) return Fail(seTagExists, "tag " + t.name + " exists already");

  if (!m.cdx) {
    std::unique_ptr<CdxFile> cdx;
    if (const int rc = CdxFile::Create(IndexPath(), cdx); rc != 0)
      return Fail(rc, "cannot create " + IndexPath());
    m.cdx = std::move(cdx);
    if (const int rc = m.dbf.SetProductionIndexFlag(true); rc != 0)
      return Fail(rc, "cannot write the header of " + TablePath());
  }
  CdxTagSpec def{t.name, t.keySource, t.forSource, t.descending, t.length, t.type};
  int number = 0;
  if (const int rc = m.cdx->AddTag(def, &number); rc != 0) return Fail(rc, "cannot add tag " + t.name);
  m.cdx->SetKeyType(number, t.type);
  std::vector<CdxEntry> entries;
  const int scan = m.Scan(
      [&](const std::uint8_t* rec, std::uint32_t recno) {
        if (m.InTag(t, rec, recno)) entries.push_back(CdxEntry{m.KeyOf(t, rec, recno), recno});
      },
      &progress_);
  m.tags.push_back(std::move(t));
  if (scan != 0) return Fail(scan, "cannot read " + TablePath());
  if (const int rc = m.cdx->BulkBuild(number, std::move(entries)); rc != 0)
    return Fail(rc, "cannot build tag " + m.tags.back().name);
  return SetOrder(number);
}

int TTable::TagCount() const { return static_cast<int>(impl_->tags.size()); }

int TTable::TagNumber(std::string_view name) const {
  for (std::size_t i = 0; i < impl_->tags.size(); ++i)
    if (EqualNoCase(impl_->tags[i].name, name)) return static_cast<int>(i + 1);
  return 0;
}

int TTable::GetTagDescription(int number, TagDescription& out) {
  Impl& m = *impl_;
  if (number < 1 || number > TagCount() || !m.cdx) return Fail(seUnknownTag, "no tag " + std::to_string(number));
  const TagState& t = m.tags[static_cast<std::size_t>(number - 1)];
  out.number = number;
  out.name = t.name;
  out.keyExpr = t.keySource;
  out.forExpr = t.forSource;
  out.descending = t.descending;
  if (const int rc = m.cdx->KeyCount(number, out.keyCount); rc != 0)
    return Fail(rc, "cannot count the keys of tag " + t.name);
  return Ok();
}

int TTable::SetOrder(int number) {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (number < 0 || number > TagCount()) return Fail(seUnknownTag, "no tag " + std::to_string(number));
  if (const int rc = CheckBrowse(); rc != 0) return rc;
  order_ = number;
  m.cursor.reset();
  if (number > 0) m.cursor = std::make_unique<CdxCursor>(*m.cdx, number);
  // The current record stays current when the new order shows it.
  if (recno_ != 0 && Visible(m.buffer.data(), recno_, true)) return Ok();
  const int rc = First();
  return rc != 0 ? rc : Ok();
}

int TTable::CloseIndexes() {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (const int rc = CheckBrowse(); rc != 0) return rc;
  m.cursor.reset();
  m.cdx.reset();
  m.tags.clear();
  order_ = 0;
  return Ok();
}

// ---------------------------------------------------------------------------
// Filter and counts

int TTable::Query(const std::string& filter) {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (const int rc = CheckBrowse(); rc != 0) return rc;
  if (Trimmed(filter).empty()) {
    m.filter = Expression();
    filterText_.clear();
  } else {
    Expression e;
    std::string message;
    if (!e.Compile(filter, m.Fields(), message)) return Fail(seBadExpression, "filter: " + message);
    if (e.Type() != ExprType::Logical) return Fail(seBadExpression, "filter is not a logical expression");
    m.filter = std::move(e);
    filterText_ = filter;
  }
  const int rc = First();
  return rc != 0 ? rc : Ok();
}

std::int64_t TTable::QueryRecordCount() {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  // The current tag holds exactly the records its FOR condition accepts, so a
  // scan in file order counts what a walk of the tag would, only faster.
  std::int64_t count = 0;
  const int rc = m.Scan([&](const std::uint8_t* rec, std::uint32_t recno) {
    if (Visible(rec, recno, true)) ++count;
  });
  if (rc != 0) return Fail(rc, "cannot read " + TablePath());
  Ok();
  return count;
}

bool TTable::Visible(const std::uint8_t* rec, std::uint32_t recno, bool checkTag) const {
  const Impl& m = *impl_;
  if (!showDeleted_ && rec[0] == static_cast<std::uint8_t>(dbf::kDeleted)) return false;
  if (checkTag && order_ > 0 && !m.InTag(m.tags[static_cast<std::size_t>(order_ - 1)], rec, recno)) return false;
  return !m.filter.Valid() || m.filter.EvaluateLogical(rec, recno);
}

// ---------------------------------------------------------------------------
// Navigation

int TTable::CheckBrowse() {
  if (state_ == TableState::tsEdit || state_ == TableState::tsInsert) return Post();
  return 0;
}

void TTable::SetCurrent(std::uint32_t recno, const std::uint8_t* rec) {
  Impl& m = *impl_;
  m.buffer.assign(rec, rec + m.dbf.RecordLength());
  recno_ = recno;
  eof_ = bof_ = false;
}

void TTable::SetNoRecord(bool eof, bool bof) {
  recno_ = 0;
  eof_ = eof;
  bof_ = bof;
}

// Moves through the file from `start` in direction `dir` to the first visible
// record. False when there is none.
int TTable::ScanFrom(std::int64_t start, int dir, bool& found) {
  Impl& m = *impl_;
  found = false;
  m.scratch.resize(static_cast<std::size_t>(m.dbf.RecordLength()));
  for (std::int64_t r = start; r >= 1 && r <= static_cast<std::int64_t>(m.dbf.RecordCount()); r += dir) {
    const auto recno = static_cast<std::uint32_t>(r);
    if (const int rc = m.dbf.Read(recno, m.scratch.data()); rc != 0) return Fail(rc, "cannot read " + TablePath());
    if (Visible(m.scratch.data(), recno, false)) {
      SetCurrent(recno, m.scratch.data());
      found = true;
      return 0;
    }
  }
  return 0;
}

// From the cursor's entry on, in direction `dir`, to the first visible record.
int TTable::WalkCursor(int dir, bool& found) {
  Impl& m = *impl_;
  found = false;
  m.scratch.resize(static_cast<std::size_t>(m.dbf.RecordLength()));
  CdxCursor& c = *m.cursor;
  while (c.Valid()) {
    const std::uint32_t recno = c.RecNo();
    if (recno < 1 || recno > m.dbf.RecordCount()) return IndexFault("tag points past the last record");
    if (const int rc = m.dbf.Read(recno, m.scratch.data()); rc != 0) return Fail(rc, "cannot read " + TablePath());
    if (Visible(m.scratch.data(), recno, false)) {
      SetCurrent(recno, m.scratch.data());
      found = true;
      return 0;
    }
    if (const int rc = dir > 0 ? c.Next() : c.Prior(); rc != 0) return IndexFault("cannot walk the tag");
  }
  return 0;
}

// A tag that cannot be walked is rebuilt once; the caller then starts over.
int TTable::IndexFault(const std::string& what) {
  const std::string message = IndexPath() + ": " + what;
  if (impl_->dbf.ReadOnly() || RebuildIndex() != 0) return Fail(seBadIndex, message);
  indexRebuilt_ = true;
  return Fail(seBadIndex, message + " (the index was rebuilt)");
}

// Puts the cursor on the current record's entry, or where it would be.
int TTable::SyncCursor(bool& exact) {
  Impl& m = *impl_;
  const TagState& t = m.tags[static_cast<std::size_t>(order_ - 1)];
  const std::string key = m.KeyOf(t, m.buffer.data(), recno_);
  if (m.cursor->Seek(key, recno_) != 0) return IndexFault("cannot search the tag");
  exact = m.cursor->Valid() && m.cursor->RecNo() == recno_ && m.cursor->Key() == key;
  return 0;
}

int TTable::First() {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (const int rc = CheckBrowse(); rc != 0) return rc;
  bool found = false;
  if (order_ == 0) {
    if (const int rc = ScanFrom(1, +1, found); rc != 0) return rc;
  } else {
    if (m.cursor->First() != 0) return IndexFault("cannot read the first entry");
    if (const int rc = WalkCursor(+1, found); rc != 0) return rc;
  }
  if (!found) SetNoRecord(true, true);
  return Ok();
}

int TTable::Last() {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (const int rc = CheckBrowse(); rc != 0) return rc;
  bool found = false;
  if (order_ == 0) {
    if (const int rc = ScanFrom(m.dbf.RecordCount(), -1, found); rc != 0) return rc;
  } else {
    if (m.cursor->Last() != 0) return IndexFault("cannot read the last entry");
    if (const int rc = WalkCursor(-1, found); rc != 0) return rc;
  }
  if (!found) SetNoRecord(true, true);
  return Ok();
}

int TTable::Next() {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (const int rc = CheckBrowse(); rc != 0) return rc;
  if (recno_ == 0) {
    eof_ = true;
    return Ok();
  }
  bool found = false;
  if (order_ == 0) {
    if (const int rc = ScanFrom(static_cast<std::int64_t>(recno_) + 1, +1, found); rc != 0) return rc;
  } else {
    bool exact = false;
    if (const int rc = SyncCursor(exact); rc != 0) return rc;
    if (exact && m.cursor->Next() != 0) return IndexFault("cannot walk the tag");
    if (const int rc = WalkCursor(+1, found); rc != 0) return rc;
  }
  if (!found) SetNoRecord(true, false);
  return Ok();
}

int TTable::Prior() {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (const int rc = CheckBrowse(); rc != 0) return rc;
  if (recno_ == 0) return Last();
  bool found = false;
  if (order_ == 0) {
    if (const int rc = ScanFrom(static_cast<std::int64_t>(recno_) - 1, -1, found); rc != 0) return rc;
  } else {
    bool exact = false;
    if (const int rc = SyncCursor(exact); rc != 0) return rc;
    if (m.cursor->Prior() != 0) return IndexFault("cannot walk the tag");
    if (const int rc = WalkCursor(-1, found); rc != 0) return rc;
  }
  if (!found) {
    bof_ = true;  // the current record stays current, as at the top of a list
    eof_ = false;
  }
  return Ok();
}

int TTable::GoTo(std::uint32_t recno) {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (const int rc = CheckBrowse(); rc != 0) return rc;
  if (recno < 1 || recno > m.dbf.RecordCount())
    return Fail(seNoRecord, "there is no record " + std::to_string(recno));
  m.scratch.resize(static_cast<std::size_t>(m.dbf.RecordLength()));
  if (const int rc = m.dbf.Read(recno, m.scratch.data()); rc != 0) return Fail(rc, "cannot read " + TablePath());
  if (!Visible(m.scratch.data(), recno, true))
    return Fail(seNoRecord, "record " + std::to_string(recno) + " is hidden by the order, the filter or deletion");
  SetCurrent(recno, m.scratch.data());
  return Ok();
}

int TTable::Refresh() {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (state_ != TableState::tsBrowse) return Fail(seWrongState, "post or cancel the edit first");
  if (!m.dbf.Exclusive())
    if (const int rc = m.dbf.Refresh(); rc != 0) return Fail(rc, "cannot read " + TablePath());
  if (recno_ != 0) {
    if (recno_ > m.dbf.RecordCount()) return First();
    if (const int rc = m.dbf.Read(recno_, m.buffer.data()); rc != 0) return Fail(rc, "cannot read " + TablePath());
  }
  return Ok();
}

// ---------------------------------------------------------------------------
// Changing records

bool TTable::IsDeleted() const {
  return !impl_->buffer.empty() && (recno_ != 0 || state_ == TableState::tsInsert) &&
         impl_->buffer[0] == static_cast<std::uint8_t>(dbf::kDeleted);
}

int TTable::Append() {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (m.dbf.ReadOnly()) return Fail(seReadOnly, "the table is open for reading only");
  if (const int rc = CheckBrowse(); rc != 0) return rc;
  savedRecno_ = recno_;
  m.buffer = m.BlankRecord();
  recno_ = 0;
  state_ = TableState::tsInsert;
  return Ok();
}

int TTable::AppendBlank() {
  if (const int rc = Append(); rc != 0) return rc;
  return Post();
}

int TTable::Edit() {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (m.dbf.ReadOnly()) return Fail(seReadOnly, "the table is open for reading only");
  if (state_ == TableState::tsEdit) return Ok();
  if (state_ == TableState::tsInsert) return Fail(seWrongState, "a new record is being appended");
  if (recno_ == 0) return Fail(seNoRecord, "there is no current record");
  if (const int rc = m.dbf.Read(recno_, m.buffer.data()); rc != 0) return Fail(rc, "cannot read " + TablePath());
  state_ = TableState::tsEdit;
  return Ok();
}

int TTable::Cancel() {
  Impl& m = *impl_;
  if (state_ == TableState::tsEdit) {
    state_ = TableState::tsBrowse;
    if (const int rc = m.dbf.Read(recno_, m.buffer.data()); rc != 0) return Fail(rc, "cannot read " + TablePath());
  } else if (state_ == TableState::tsInsert) {
    state_ = TableState::tsBrowse;
    if (savedRecno_ == 0 || GoTo(savedRecno_) != 0) return First();
  }
  return Ok();
}

int TTable::Post() {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (state_ != TableState::tsEdit && state_ != TableState::tsInsert)
    return Fail(seWrongState, std::string("post in the ") + kTableStateNames[static_cast<int>(state_)] + " state");
  if (const int rc = m.dbf.LockForWrite(); rc != 0) return Fail(rc, "cannot lock " + TablePath());
  int rc = 0;
  if (state_ == TableState::tsInsert) {
    std::uint32_t recno = 0;
    rc = ChangeRecord(m.dbf.RecordCount() + 1, nullptr, m.buffer.data(),
                      [&] { return m.dbf.Append(m.buffer.data(), recno); });
    if (rc == 0) {
      recno_ = recno;
      eof_ = bof_ = false;
    }
  } else {
    std::vector<std::uint8_t> old(m.buffer.size());
    rc = m.dbf.Read(recno_, old.data());
    if (rc != 0) {
      Fail(rc, "cannot read " + TablePath());
    } else {
      rc = ChangeRecord(recno_, old.data(), m.buffer.data(), [&] { return m.dbf.Write(recno_, m.buffer.data()); });
    }
  }
  m.dbf.UnlockForWrite();
  if (rc != 0) return rc;
  state_ = TableState::tsBrowse;
  return Ok();
}

// Writes one record change through `write` and brings every tag in line. The
// keys that go away are removed before the table changes and the new ones
// inserted after it, so that a crash at any point leaves some tag with a key
// count that no longer matches the table (and the next open rebuilds the
// index); it never leaves a tag that looks right but is not. `target` is the
// record's number (for an append, the number it will get).
int TTable::ChangeRecord(std::uint32_t target, const std::uint8_t* oldRec, const std::uint8_t* newRec,
                         const std::function<int()>& write) {
  Impl& m = *impl_;
  struct Change {
    bool remove = false, insert = false;
    std::string oldKey, newKey;
  };
  std::vector<Change> changes(m.cdx ? m.tags.size() : 0);
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const TagState& t = m.tags[i];
    Change& c = changes[i];
    const bool oldIn = oldRec && m.InTag(t, oldRec, target);
    const bool newIn = m.InTag(t, newRec, target);
    if (oldIn) c.oldKey = m.KeyOf(t, oldRec, target);
    if (newIn) c.newKey = m.KeyOf(t, newRec, target);
    c.remove = oldIn && (!newIn || c.oldKey != c.newKey);
    c.insert = newIn && (!oldIn || c.oldKey != c.newKey);
  }
  bool indexFault = false;
  for (std::size_t i = 0; i < changes.size(); ++i)
    if (changes[i].remove && m.cdx->Remove(static_cast<int>(i + 1), changes[i].oldKey, target) != 0)
      indexFault = true;
  if (const int rc = write(); rc != 0) {
    // The table is unchanged: put back what was taken out of the tags.
    for (std::size_t i = 0; i < changes.size(); ++i)
      if (changes[i].remove && m.cdx->Insert(static_cast<int>(i + 1), changes[i].oldKey, target) != 0)
        indexFault = true;
    if (indexFault) RebuildIndex();
    return Fail(rc, "cannot write " + TablePath());
  }
  for (std::size_t i = 0; i < changes.size(); ++i)
    if (changes[i].insert && m.cdx->Insert(static_cast<int>(i + 1), changes[i].newKey, target) != 0)
      indexFault = true;
  if (indexFault) {
    if (const int r = RebuildIndex(); r != 0) return r;
    indexRebuilt_ = true;
  }
  return 0;
}

int TTable::Delete() {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (m.dbf.ReadOnly()) return Fail(seReadOnly, "the table is open for reading only");
  if (state_ == TableState::tsInsert) return Cancel();
  if (state_ == TableState::tsEdit)
    if (const int rc = Cancel(); rc != 0) return rc;
  if (recno_ == 0) return Fail(seNoRecord, "there is no current record");
  if (const int rc = m.dbf.LockForWrite(); rc != 0) return Fail(rc, "cannot lock " + TablePath());
  std::vector<std::uint8_t> old(m.buffer.size());
  int rc = m.dbf.Read(recno_, old.data());
  if (rc != 0) {
    m.dbf.UnlockForWrite();
    return Fail(rc, "cannot read " + TablePath());
  }
  std::vector<std::uint8_t> marked = old;
  marked[0] = static_cast<std::uint8_t>(dbf::kDeleted);
  if (old[0] != marked[0])
    rc = ChangeRecord(recno_, old.data(), marked.data(), [&] { return m.dbf.SetDeleteFlag(recno_, true); });
  m.dbf.UnlockForWrite();
  if (rc != 0) return rc;
  m.buffer = marked;
  if (showDeleted_) return Ok();
  // On to the next visible record, or the last one when it was the last.
  bool found = false;
  if (order_ == 0) {
    rc = ScanFrom(static_cast<std::int64_t>(recno_) + 1, +1, found);
  } else {
    bool exact = false;
    rc = SyncCursor(exact);
    if (rc == 0 && exact && m.cursor->Next() != 0) rc = IndexFault("cannot walk the tag");
    if (rc == 0) rc = WalkCursor(+1, found);
  }
  if (rc != 0) return rc;
  if (!found) {
    SetNoRecord(true, true);
    if (const int r = Last(); r != 0) return r;
  }
  return Ok();
}

int TTable::Pack() {
  Impl& m = *impl_;
  if (!Active()) return Fail(seNotOpen, "");
  if (m.dbf.ReadOnly()) return Fail(seReadOnly, "the table is open for reading only");
  if (const int rc = CheckBrowse(); rc != 0) return rc;
  std::string message;
  if (const int rc = m.dbf.Pack(progress_, message); rc != 0) return Fail(rc, message);
  SetNoRecord(true, true);
  if (m.cdx)
    if (const int rc = RebuildIndex(); rc != 0) return rc;
  return First();
}

// ---------------------------------------------------------------------------
// Field values

const std::uint8_t* TTable::FieldBytes(int field, const dbf::Field** info) const {
  const Impl& m = *impl_;
  if (!Active() || field < 0 || field >= FieldCount()) {
    Fail(seUnknownField, "no field number " + std::to_string(field));
    return nullptr;
  }
  if (recno_ == 0 && state_ != TableState::tsInsert) {
    Fail(seNoRecord, "there is no current record");
    return nullptr;
  }
  const dbf::Field& f = m.Fields()[static_cast<std::size_t>(field)];
  if (info) *info = &f;
  return m.buffer.data() + f.offset;
}

int TTable::NamedField(std::string_view name) const {
  const int index = FieldIndex(name);
  if (index < 0) Fail(seUnknownField, "no field " + std::string(name));
  return index;
}

std::string TTable::AsText(int field) const {
  const dbf::Field* f = nullptr;
  const std::uint8_t* p = FieldBytes(field, &f);
  if (!p) return {};
  const std::string_view raw(reinterpret_cast<const char*>(p), static_cast<std::size_t>(f->length));
  switch (f->type) {
    case 'L':
      if (raw[0] == 'T' || raw[0] == 't' || raw[0] == 'Y' || raw[0] == 'y') return "T";
      if (raw[0] == 'F' || raw[0] == 'f' || raw[0] == 'N' || raw[0] == 'n') return "F";
      return {};
    case 'N':
    case 'F':
    case 'D': {
      const std::size_t first = raw.find_first_not_of(' ');
      return first == std::string_view::npos ? std::string() : Trimmed(raw.substr(first));
    }
    default:
      return Cp1252ToUtf8(Trimmed(raw));
  }
}

std::string TTable::AsText(std::string_view field) const { return AsText(NamedField(field)); }

Date TTable::AsDate(int field) const {
  const dbf::Field* f = nullptr;
  const std::uint8_t* p = FieldBytes(field, &f);
  if (!p) return {};
  if (f->type != 'D') {
    Fail(seBadValue, "field " + f->name + " is not a date");
    return {};
  }
  const std::int64_t jd = JulianFromDtos(std::string_view(reinterpret_cast<const char*>(p), 8));
  if (jd == 0) return {};
  Date d;
  CivilFromJulian(jd, d.year, d.month, d.day);
  return d;
}

Date TTable::AsDate(std::string_view field) const { return AsDate(NamedField(field)); }

int TTable::AsSmallInt(int field) const {
  const dbf::Field* f = nullptr;
  const std::uint8_t* p = FieldBytes(field, &f);
  if (!p) return 0;
  if (f->type != 'N' && f->type != 'F') {
    Fail(seBadValue, "field " + f->name + " is not numeric");
    return 0;
  }
  const std::string text = Trimmed(std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(f->length)));
  const double v = std::strtod(text.c_str(), nullptr);
  if (!std::isfinite(v)) return 0;
  return static_cast<int>(std::clamp(std::lround(v), -32768L, 32767L));
}

int TTable::AsSmallInt(std::string_view field) const { return AsSmallInt(NamedField(field)); }

bool TTable::AsLogical(int field) const {
  const dbf::Field* f = nullptr;
  const std::uint8_t* p = FieldBytes(field, &f);
  if (!p) return false;
  if (f->type != 'L') {
    Fail(seBadValue, "field " + f->name + " is not logical");
    return false;
  }
  return p[0] == 'T' || p[0] == 't' || p[0] == 'Y' || p[0] == 'y';
}

bool TTable::AsLogical(std::string_view field) const { return AsLogical(NamedField(field)); }

// The bytes of a field that may be changed now.
std::uint8_t* TTable::WritableField(int field, const dbf::Field** info) {
  if (!Active()) {
    Fail(seNotOpen, "");
    return nullptr;
  }
  if (field < 0 || field >= FieldCount()) {
    Fail(seUnknownField, "no field number " + std::to_string(field));
    return nullptr;
  }
  if (state_ != TableState::tsEdit && state_ != TableState::tsInsert) {
    Fail(seWrongState, "call Edit or Append before changing a field");
    return nullptr;
  }
  const dbf::Field& f = impl_->Fields()[static_cast<std::size_t>(field)];
  *info = &f;
  return impl_->buffer.data() + f.offset;
}

int TTable::SetText(int field, std::string_view utf8) {
  const dbf::Field* f = nullptr;
  std::uint8_t* p = WritableField(field, &f);
  if (!p) return lastCode_;
  const auto width = static_cast<std::size_t>(f->length);
  const std::string trimmed = Trimmed(utf8);
  switch (f->type) {
    case 'D': {
      std::string digits;
      for (char c : trimmed)
        if (c != '-') digits += c;
      if (digits.empty()) {
        std::memset(p, ' ', 8);
        return Ok();
      }
      if (digits.size() != 8 || JulianFromDtos(digits) == 0)
        return Fail(seBadValue, "field " + f->name + ": \"" + std::string(utf8) + "\" is not a date YYYYMMDD");
      std::memcpy(p, digits.data(), 8);
      return Ok();
    }
    case 'L': {
      std::string v;
      for (char c : trimmed) v += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (v == "T" || v == ".T." || v == "Y" || v == "TRUE" || v == "1") {
        p[0] = 'T';
      } else if (v.empty() || v == "F" || v == ".F." || v == "N" || v == "FALSE" || v == "0") {
        p[0] = 'F';
      } else {
        return Fail(seBadValue, "field " + f->name + ": \"" + std::string(utf8) + "\" is not T or F");
      }
      return Ok();
    }
    case 'N':
    case 'F': {
      const std::size_t first = trimmed.find_first_not_of(' ');
      if (first == std::string::npos) {
        std::memset(p, ' ', width);
        return Ok();
      }
      const std::string text = trimmed.substr(first);
      char* end = nullptr;
      const double v = std::strtod(text.c_str(), &end);
      if (end != text.c_str() + text.size() || !std::isfinite(v))
        return Fail(seBadValue, "field " + f->name + ": \"" + text + "\" is not a number");
      return StoreNumber(*f, p, v);
    }
    case 'C':
    default: {
      std::string bytes;
      std::string bad;
      if (!Utf8ToCp1252(utf8, bytes, &bad))
        return Fail(seCodePage, "field " + f->name + ": " +
                                    (bad == "invalid UTF-8" ? std::string("the text is not valid UTF-8")
                                                            : "\"" + bad + "\" cannot be stored in the table's code page (Windows-1252)"));
      if (bytes.size() > width) bytes.resize(width);
      bytes.resize(width, ' ');
      std::memcpy(p, bytes.data(), width);
      return Ok();
    }
  }
}

int TTable::SetText(std::string_view field, std::string_view utf8) {
  const int index = NamedField(field);
  return index < 0 ? lastCode_ : SetText(index, utf8);
}

int TTable::StoreNumber(const dbf::Field& f, std::uint8_t* p, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%*.*f", f.length, f.decimals, v);
  if (std::strlen(buf) > static_cast<std::size_t>(f.length))
    return Fail(seBadValue, "field " + f.name + ": " + Trimmed(buf) + " does not fit " + std::to_string(f.length) +
                                " digits");
  std::memcpy(p, buf, static_cast<std::size_t>(f.length));
  return Ok();
}

int TTable::SetDate(int field, const Date& date) {
  const dbf::Field* f = nullptr;
  std::uint8_t* p = WritableField(field, &f);
  if (!p) return lastCode_;
  if (f->type != 'D') return Fail(seBadValue, "field " + f->name + " is not a date");
  if (date.IsBlank()) {
    std::memset(p, ' ', 8);
    return Ok();
  }
  if (JulianDay(date.year, date.month, date.day) == 0)
    return Fail(seBadValue, "field " + f->name + ": not a valid date");
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", date.year, date.month, date.day);
  std::memcpy(p, buf, 8);
  return Ok();
}

int TTable::SetDate(std::string_view field, const Date& date) {
  const int index = NamedField(field);
  return index < 0 ? lastCode_ : SetDate(index, date);
}

int TTable::SetSmallInt(int field, int value) {
  const dbf::Field* f = nullptr;
  std::uint8_t* p = WritableField(field, &f);
  if (!p) return lastCode_;
  if (f->type != 'N' && f->type != 'F') return Fail(seBadValue, "field " + f->name + " is not numeric");
  if (value < -32768 || value > 32767) return Fail(seBadValue, "field " + f->name + ": not a small integer");
  return StoreNumber(*f, p, value);
}

int TTable::SetSmallInt(std::string_view field, int value) {
  const int index = NamedField(field);
  return index < 0 ? lastCode_ : SetSmallInt(index, value);
}

int TTable::SetLogical(int field, bool value) {
  const dbf::Field* f = nullptr;
  std::uint8_t* p = WritableField(field, &f);
  if (!p) return lastCode_;
  if (f->type != 'L') return Fail(seBadValue, "field " + f->name + " is not logical");
  p[0] = value ? 'T' : 'F';
  return Ok();
}

int TTable::SetLogical(std::string_view field, bool value) {
  const int index = NamedField(field);
  return index < 0 ? lastCode_ : SetLogical(index, value);
}

// ---------------------------------------------------------------------------

}  // namespace qc

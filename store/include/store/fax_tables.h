// The program's three record tables: outgoing faxes (QCOUT), received faxes
// (QCREC) and the phone book (QCPB), with their fields, index tags, filters
// and the functions that create and open them.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "store/table.h"

namespace qc {

struct FieldSpec {
  const char* name;
  char type;
  int width;
  int decimals;
};

struct TagSpec {
  const char* name;
  const char* key;
  bool descending;
  const char* condition;
};

struct TableSchema {
  const char* fileName;   // "QCOUT.DBF"
  const char* indexName;  // "QCOUT.CDX"
  std::span<const FieldSpec> fields;
  std::span<const TagSpec> tags;  // in creation order: tag numbers 1, 2, ...
};

extern const TableSchema kOutFaxSchema;
extern const TableSchema kRecFaxSchema;
extern const TableSchema kPhoneBookSchema;

// Condition every tag carries: deleted records are in no index.
inline constexpr const char* kNotDeleted = ".not. deleted()";

// The filter both fax lists share: ".not. archived" at start, empty while
// archived faxes are shown, ".not. ARCHIVED" after that is switched off again.
extern std::string ArchiveFilter;

// Create the table file with its fields in `folder`; true when the .DBF
// exists afterwards.
bool MakeOutFaxDBF(const std::string& folder);
bool MakeRecFaxDBF(const std::string& folder);
bool MakePhoneBookDBF(const std::string& folder);

// Create when missing, open, create the tags when the .CDX is missing, set
// order and filter. False on any failure (table.LastError() says why).
bool OpenOutFaxDBF(TTable& table, const std::string& folder);
bool OpenRecFaxDBF(TTable& table, const std::string& folder);
bool OpenPhoneBookDBF(TTable& table, const std::string& folder, bool exclusive);

// Creates every tag of `schema` in order; 0 or the first failure's code.
int CreateTags(TTable& table, const TableSchema& schema);

// The record side of refreshing the outgoing list after records were added
// behind its back: close, let pending events run, open, apply ArchiveFilter
// and go back to the remembered record (ignoring failure, e.g. when it is
// now hidden). The order in use is kept.
bool FaxTableCloseAndOpen(TTable& table, const std::function<void()>& processEvents = {});

// The order rule while the lists change: no current record -> physical order;
// a current record and no order -> the date tag again, at the first record.
// True when the date order was selected again (the caller ticks its menu).
bool ApplyOrderRule(TTable& table, const char* dateTag);

}  // namespace qc

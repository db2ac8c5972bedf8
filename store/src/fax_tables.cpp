#include "store/fax_tables.h"

#include <string>

#include "file_io.h"

namespace qc {
namespace {

constexpr FieldSpec kOutFaxFields[] = {
    {"SUBJECT", 'C', 50, 0},  {"DATESENT", 'D', 8, 0},    {"TIMESENT", 'C', 5, 0},
    {"RECIPIENT", 'C', 35, 0}, {"PHONE", 'C', 25, 0},      {"LASTRESULT", 'C', 100, 0},
    {"FAXDOC", 'C', 12, 0},   {"FAXCOVER", 'C', 12, 0},   {"NOTES", 'C', 50, 0},
    {"CODES", 'C', 25, 0},    {"ARCHIVED", 'L', 1, 0},
};

constexpr TagSpec kOutFaxTags[] = {
    {"DATESENT", "DTOS(DATESENT)+TIMESENT", true, kNotDeleted},
    {"SUBJECT", "UPPER(SUBJECT)", false, kNotDeleted},
    {"RECIPIENT", "UPPER(RECIPIENT)", false, kNotDeleted},
    {"CODES", "UPPER(CODES)", false, kNotDeleted},
    {"ARCHIVED", "ARCHIVED", false, kNotDeleted},
};

constexpr FieldSpec kRecFaxFields[] = {
    {"DATEREC", 'D', 8, 0}, {"TIMEREC", 'C', 5, 0}, {"FROM", 'C', 20, 0},     {"PAGES", 'N', 2, 0},
    {"FAXFILE", 'C', 12, 0}, {"NOTES", 'C', 60, 0}, {"ARCHIVED", 'L', 1, 0},
};

constexpr TagSpec kRecFaxTags[] = {
    {"DATETIME", "DTOS(DATEREC)+TIMEREC", true, kNotDeleted},
    {"FROM", "UPPER(FROM)", true, kNotDeleted},
    {"ARCHIVED", "ARCHIVED", false, kNotDeleted},
};

constexpr FieldSpec kPhoneBookFields[] = {
    {"NAME", 'C', 35, 0},
    {"PHONE", 'C', 25, 0},
};

constexpr TagSpec kPhoneBookTags[] = {
    {"NAME", "NAME", false, kNotDeleted},
};

std::string InFolder(const std::string& folder, const char* name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool MakeTable(const std::string& folder, const TableSchema& schema) {
  const std::string path = InFolder(folder, schema.fileName);
  TableCreator creator;
  if (!creator.CreateNewTable(path, 2, static_cast<int>(schema.fields.size()))) return false;
  for (const FieldSpec& f : schema.fields)
    if (!creator.CreateField(f.name, f.type, f.width, f.decimals)) return false;
  return creator.ExecuteCreation() && FileExists(path);
}

// Steps 1 to 4 shared by the three Open functions.
bool OpenTable(TTable& table, const std::string& folder, const TableSchema& schema,
               bool (*make)(const std::string&)) {
  table.Close();
  table.SetFolder(folder);
  table.SetTableName(schema.fileName);
  if (!FileExists(table.TablePath()) && !make(folder)) return false;
  if (table.Open() != 0) return false;
  if (!FileExists(table.IndexPath())) {
    if (CreateTags(table, schema) != 0) return false;
    // Physical order, as with an index that was there: the order rule and the
    // list's own order choice take it from here.
    if (table.SetOrder(0) != 0) return false;
  }
  return true;
}

}  // namespace

const TableSchema kOutFaxSchema{"QCOUT.DBF", "QCOUT.CDX", kOutFaxFields, kOutFaxTags};
const TableSchema kRecFaxSchema{"QCREC.DBF", "QCREC.CDX", kRecFaxFields, kRecFaxTags};
const TableSchema kPhoneBookSchema{"QCPB.DBF", "QCPB.CDX", kPhoneBookFields, kPhoneBookTags};

std::string ArchiveFilter = ".not. archived";

bool MakeOutFaxDBF(const std::string& folder) { return MakeTable(folder, kOutFaxSchema); }
bool MakeRecFaxDBF(const std::string& folder) { return MakeTable(folder, kRecFaxSchema); }
bool MakePhoneBookDBF(const std::string& folder) { return MakeTable(folder, kPhoneBookSchema); }

int CreateTags(TTable& table, const TableSchema& schema) {
  for (const TagSpec& t : schema.tags)
    if (const int rc = table.IndexTag(t.name, t.key, 0, t.descending, t.condition); rc != 0) return rc;
  return 0;
}

bool OpenOutFaxDBF(TTable& table, const std::string& folder) {
  table.SetExclusive(true);
  if (!OpenTable(table, folder, kOutFaxSchema, MakeOutFaxDBF)) return false;
  return table.First() == 0 && table.Query(ArchiveFilter) == 0;
}

bool OpenRecFaxDBF(TTable& table, const std::string& folder) {
  table.SetExclusive(true);
  if (!OpenTable(table, folder, kRecFaxSchema, MakeRecFaxDBF)) return false;
  return table.Query(kNotDeleted) == 0;
}

bool OpenPhoneBookDBF(TTable& table, const std::string& folder, bool exclusive) {
  table.Close();
  table.SetExclusive(exclusive);
  if (!OpenTable(table, folder, kPhoneBookSchema, MakePhoneBookDBF)) return false;
  const int name = table.TagNumber("NAME");
  if (name == 0 || table.SetOrder(name) != 0) return false;
  return table.Query(kNotDeleted) == 0;
}

bool FaxTableCloseAndOpen(TTable& table, const std::function<void()>& processEvents) {
  const std::uint32_t recno = table.RecNo();
  const int order = table.CurrentOrder();
  table.Close();
  if (processEvents) processEvents();
  if (table.Open() != 0) return false;
  if (order <= table.TagCount() && table.SetOrder(order) != 0) return false;
  if (table.Query(ArchiveFilter) != 0) return false;
  table.GoTo(recno);  // may be hidden now: stay on the first record then
  return true;
}

bool ApplyOrderRule(TTable& table, const char* dateTag) {
  if (!table.Active()) return false;
  if (!table.HasRecord()) {
    if (table.CurrentOrder() != 0) table.SetOrder(0);
    return false;
  }
  if (table.CurrentOrder() != 0) return false;
  const int tag = table.TagNumber(dateTag);
  if (tag == 0 || table.SetOrder(tag) != 0) return false;
  table.First();
  return true;
}

}  // namespace qc

// qcdb: the record store's maintenance tool.
//
//   qcdb create DIR
//   qcdb dump TABLE.DBF [--tag NAME] [--filter EXPR] [--deleted]
//   qcdb tags TABLE.DBF
//   qcdb append TABLE.DBF FIELD=VALUE ...
//   qcdb set TABLE.DBF RECNO FIELD=VALUE ...
//   qcdb delete TABLE.DBF RECNO
//   qcdb pack TABLE.DBF
//
// Values are written and printed as stored: dates YYYYMMDD (empty when
// blank), logicals T or F, numbers in decimal, texts as UTF-8. Errors are one
// line on stderr and a non-zero exit status.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "store/fax_tables.h"
#include "store/store_errors.h"
#include "store/table.h"

namespace {

using qc::TTable;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: qcdb create DIR\n"
    "       qcdb dump TABLE.DBF [--tag NAME] [--filter EXPR] [--deleted]\n"
    "       qcdb tags TABLE.DBF\n"
    "       qcdb append TABLE.DBF FIELD=VALUE ...\n"
    "       qcdb set TABLE.DBF RECNO FIELD=VALUE ...\n"
    "       qcdb delete TABLE.DBF RECNO\n"
    "       qcdb pack TABLE.DBF\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "qcdb: %s\n", message.c_str());
  return kExitFailure;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "qcdb: %s\n%s", message.c_str(), kUsage);
  return kExitUsage;
}

int TableFail(const TTable& t) {
  return Fail(t.LastError().empty() ? qc::StoreErrorText(t.LastCode()) : t.LastError());
}

// Opens for writing, exclusively; tools that only read fall back to a shared
// read-only open while the program holds the table.
int OpenTable(TTable& t, const std::string& path, bool write) {
  const std::filesystem::path p(path);
  t.SetFolder(p.has_parent_path() ? p.parent_path().string() : ".");
  t.SetTableName(p.filename().string());
  t.SetExclusive(true);
  t.SetReadOnly(false);
  int rc = t.Open();
  if (rc == qc::seTableInUse && !write) {
    t.SetExclusive(false);
    t.SetReadOnly(true);
    rc = t.Open();
  }
  return rc;
}

bool ParseRecno(const std::string& text, std::uint32_t& recno) {
  char* end = nullptr;
  const unsigned long v = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != 0 || v == 0 || v > 0xFFFFFFFFul) return false;
  recno = static_cast<std::uint32_t>(v);
  return true;
}

int SetFields(TTable& t, const std::vector<std::string>& assignments) {
  for (const std::string& a : assignments) {
    const std::size_t eq = a.find('=');
    if (eq == std::string::npos || eq == 0) return Usage("expected FIELD=VALUE, not \"" + a + "\"");
    if (t.SetText(a.substr(0, eq), a.substr(eq + 1)) != 0) {
      const std::string message = t.LastError();
      t.Cancel();
      return Fail(message);
    }
  }
  return 0;
}

int Create(const std::string& dir) {
  if (!std::filesystem::is_directory(dir)) return Fail(dir + " is not a folder");
  const struct {
    const qc::TableSchema& schema;
    bool (*open)(TTable&, const std::string&);
  } tables[] = {
      {qc::kOutFaxSchema, [](TTable& t, const std::string& d) { return qc::OpenOutFaxDBF(t, d); }},
      {qc::kRecFaxSchema, [](TTable& t, const std::string& d) { return qc::OpenRecFaxDBF(t, d); }},
      {qc::kPhoneBookSchema, [](TTable& t, const std::string& d) { return qc::OpenPhoneBookDBF(t, d, true); }},
  };
  for (const auto& entry : tables) {
    const bool existed = std::filesystem::exists(std::filesystem::path(dir) / entry.schema.fileName);
    TTable t;
    if (!entry.open(t, dir)) return Fail(std::string(entry.schema.fileName) + ": " + t.LastError());
    std::printf("%s: %s, %d tags\n", entry.schema.fileName, existed ? "exists" : "created", t.TagCount());
  }
  return 0;
}

int Dump(const std::string& path, const std::vector<std::string>& options) {
  std::string tag, filter;
  bool deleted = false;
  for (std::size_t i = 0; i < options.size(); ++i) {
    if (options[i] == "--deleted") {
      deleted = true;
    } else if ((options[i] == "--tag" || options[i] == "--filter") && i + 1 < options.size()) {
      (options[i] == "--tag" ? tag : filter) = options[i + 1];
      ++i;
    } else {
      return Usage("unknown option " + options[i]);
    }
  }
  TTable t;
  if (OpenTable(t, path, false) != 0) return TableFail(t);
  t.SetShowDeleted(deleted);
  if (!tag.empty()) {
    const int n = t.TagNumber(tag);
    if (n == 0) return Fail("no tag " + tag + " in " + path);
    if (t.SetOrder(n) != 0) return TableFail(t);
  }
  if (t.Query(filter) != 0) return TableFail(t);
  std::string line = "RECNO";
  for (int i = 0; i < t.FieldCount(); ++i) line += "|" + t.Field(i).name;
  std::printf("%s\n", line.c_str());
  if (t.First() != 0) return TableFail(t);
  while (!t.Eof()) {
    line = std::to_string(t.RecNo()) + (t.IsDeleted() ? "*" : "");
    for (int i = 0; i < t.FieldCount(); ++i) line += "|" + t.AsText(i);
    std::printf("%s\n", line.c_str());
    if (t.Next() != 0) return TableFail(t);
  }
  return 0;
}

int Tags(const std::string& path) {
  TTable t;
  if (OpenTable(t, path, false) != 0) return TableFail(t);
  for (int n = 1; n <= t.TagCount(); ++n) {
    qc::TagDescription d;
    if (t.GetTagDescription(n, d) != 0) return TableFail(t);
    std::printf("%d|%s|%s|%s|%s|%u\n", d.number, d.name.c_str(), d.keyExpr.c_str(), d.forExpr.c_str(),
                d.descending ? "descending" : "ascending", d.keyCount);
  }
  return 0;
}

int Append(const std::string& path, const std::vector<std::string>& assignments) {
  TTable t;
  if (OpenTable(t, path, true) != 0) return TableFail(t);
  if (t.Append() != 0) return TableFail(t);
  if (const int rc = SetFields(t, assignments); rc != 0) return rc;
  if (t.Post() != 0) return TableFail(t);
  std::printf("%u\n", t.RecNo());
  return 0;
}

int Set(const std::string& path, const std::string& recnoText, const std::vector<std::string>& assignments) {
  std::uint32_t recno = 0;
  if (!ParseRecno(recnoText, recno)) return Usage("not a record number: " + recnoText);
  TTable t;
  if (OpenTable(t, path, true) != 0) return TableFail(t);
  if (t.GoTo(recno) != 0 || t.Edit() != 0) return TableFail(t);
  if (const int rc = SetFields(t, assignments); rc != 0) return rc;
  if (t.Post() != 0) return TableFail(t);
  return 0;
}

int Delete(const std::string& path, const std::string& recnoText) {
  std::uint32_t recno = 0;
  if (!ParseRecno(recnoText, recno)) return Usage("not a record number: " + recnoText);
  TTable t;
  if (OpenTable(t, path, true) != 0) return TableFail(t);
  if (t.GoTo(recno) != 0 || t.Delete() != 0) return TableFail(t);
  return 0;
}

int Pack(const std::string& path) {
  TTable t;
  if (OpenTable(t, path, true) != 0) return TableFail(t);
  const std::uint32_t before = t.RecordCount();
  // Pack reports two steps, each from 0 to 100: removing, then the tags.
  int step = 0;
  const int tags = t.TagCount();
  t.SetProgressHook([&](int percent) {
    if (percent != 100) return;
    ++step;
    if (step == 1) {
      std::printf("removing records marked for deletion: done\n");
    } else if (step == 2) {
      std::printf("rebuilding %d index tag%s: done\n", tags, tags == 1 ? "" : "s");
    }
    std::fflush(stdout);
  });
  if (t.Pack() != 0) return TableFail(t);
  std::printf("%u records kept, %u removed\n", t.RecordCount(), before - t.RecordCount());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command");
  const std::string& cmd = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (cmd == "create" && rest.size() == 1) return Create(rest[0]);
  if (cmd == "dump" && !rest.empty()) return Dump(rest[0], std::vector<std::string>(rest.begin() + 1, rest.end()));
  if (cmd == "tags" && rest.size() == 1) return Tags(rest[0]);
  if (cmd == "append" && !rest.empty()) return Append(rest[0], std::vector<std::string>(rest.begin() + 1, rest.end()));
  if (cmd == "set" && rest.size() >= 2)
    return Set(rest[0], rest[1], std::vector<std::string>(rest.begin() + 2, rest.end()));
  if (cmd == "delete" && rest.size() == 2) return Delete(rest[0], rest[1]);
  if (cmd == "pack" && rest.size() == 1) return Pack(rest[0]);
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    std::printf("%s", kUsage);
    return 0;
  }
  return Usage("unknown command or wrong arguments: " + cmd);
}

// The qcdb tool end to end: each command's output and its errors.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "store_test_util.h"

namespace qc {
namespace {

using storetest::ScratchDir;

struct Result {
  int status;
  std::string out;
};

Result Qcdb(const std::string& args) {
  Result r{-1, {}};
  FILE* p = ::popen((std::string(QC_QCDB) + " " + args + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

TEST(Qcdb, CommandsWorkOnTheFaxTables) {
  ScratchDir dir;
  const std::string out = "'" + dir.File("QCOUT.DBF") + "'";
  const struct {
    std::string args;
    int status;
    std::string output;  // exact, or a part of it for errors
  } steps[] = {
      {"create '" + dir.Path() + "'", 0,
       "QCOUT.DBF: created, 5 tags\nQCREC.DBF: created, 3 tags\nQCPB.DBF: created, 1 tags\n"},
      {"create '" + dir.Path() + "'", 0,
       "QCOUT.DBF: exists, 5 tags\nQCREC.DBF: exists, 3 tags\nQCPB.DBF: exists, 1 tags\n"},
      {"append " + out + " SUBJECT='Grüße €' DATESENT=20240312 TIMESENT=17:40", 0, "1\n"},
      {"append " + out + " subject=alpha archived=T", 0, "2\n"},
      {"append " + out + " SUBJECT=gone", 0, "3\n"},
      {"set " + out + " 2 NOTES='a note'", 0, ""},
      {"delete " + out + " 3", 0, ""},
      {"dump " + out + " --tag DATESENT", 0,
       "RECNO|SUBJECT|DATESENT|TIMESENT|RECIPIENT|PHONE|LASTRESULT|FAXDOC|FAXCOVER|NOTES|CODES|ARCHIVED\n"
       "1|Grüße €|20240312|17:40||||||||F\n"
       "2|alpha||||||||a note||T\n"},
      {"dump " + out + " --filter '.not. archived' --deleted", 0,
       "RECNO|SUBJECT|DATESENT|TIMESENT|RECIPIENT|PHONE|LASTRESULT|FAXDOC|FAXCOVER|NOTES|CODES|ARCHIVED\n"
       "1|Grüße €|20240312|17:40||||||||F\n"
       "3*|gone||||||||||F\n"},
      {"tags " + out, 0,
       "1|DATESENT|DTOS(DATESENT)+TIMESENT|.not. deleted()|descending|2\n"
       "2|SUBJECT|UPPER(SUBJECT)|.not. deleted()|ascending|2\n"
       "3|RECIPIENT|UPPER(RECIPIENT)|.not. deleted()|ascending|2\n"
       "4|CODES|UPPER(CODES)|.not. deleted()|ascending|2\n"
       "5|ARCHIVED|ARCHIVED|.not. deleted()|ascending|2\n"},
      {"pack " + out, 0,
       "removing records marked for deletion: done\nrebuilding 5 index tags: done\n2 records kept, 1 removed\n"},
      {"dump " + out + " --deleted", 0,
       "RECNO|SUBJECT|DATESENT|TIMESENT|RECIPIENT|PHONE|LASTRESULT|FAXDOC|FAXCOVER|NOTES|CODES|ARCHIVED\n"
       "1|Grüße €|20240312|17:40||||||||F\n"
       "2|alpha||||||||a note||T\n"},
      // Errors: one line, non-zero status.
      {"set " + out + " 9 NOTES=x", 1, "qcdb: there is no record 9\n"},
      {"set " + out + " 1 SUBJECT=日本", 1, "cannot be stored in the table's code page"},
      {"set " + out + " 1 DATESENT=20241340", 1, "is not a date"},
      {"set " + out + " 1 NOSUCH=1", 1, "qcdb: no field NOSUCH\n"},
      {"dump " + out + " --filter 'foo(1)'", 1, "qcdb: filter: unknown function FOO"},
      {"dump " + out + " --tag NOSUCH", 1, "qcdb: no tag NOSUCH"},
      {"dump '" + dir.File("MISSING.DBF") + "'", 1, "cannot open"},
      {"frobnicate", 2, "qcdb: unknown command"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.args);
    const Result r = Qcdb(s.args);
    EXPECT_EQ(r.status, s.status) << r.out;
    if (s.status == 0) {
      EXPECT_EQ(r.out, s.output);
    } else {
      EXPECT_NE(r.out.find(s.output), std::string::npos) << r.out;
      if (s.status == 1) EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line: " << r.out;
    }
  }
}

}  // namespace
}  // namespace qc

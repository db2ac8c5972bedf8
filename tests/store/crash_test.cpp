// A child process appends and edits records and is killed at random points,
// many times over; after each kill every record whose post had returned must
// be intact and every tag must agree with the table.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "store/fax_tables.h"
#include "store_test_util.h"

namespace qc {
namespace {

using storetest::ScratchDir;
using storetest::Walk;

// The other fields of a record follow from its subject, so that one text
// tells whether the whole record is intact.
struct Derived {
  std::string date, time, codes;
  bool archived;
};

Derived From(const std::string& subject) {
  const std::size_t h = std::hash<std::string>{}(subject);
  char date[16], time[8];
  std::snprintf(date, sizeof date, "2024%02zu%02zu", 1 + h % 12, 1 + (h / 12) % 28);
  std::snprintf(time, sizeof time, "%02zu:%02zu", (h / 336) % 24, (h / 8064) % 60);
  return {h % 5 == 0 ? std::string() : std::string(date), time, "C" + std::to_string(h % 97), (h / 7) % 3 == 0};
}

void Say(int fd, const std::string& line) {
  const std::string l = line + "\n";
  (void)!::write(fd, l.data(), l.size());
}

[[noreturn]] void Child(const std::string& folder, int fd, unsigned seed) {
  TTable t;
  if (!OpenOutFaxDBF(t, folder)) ::_exit(2);
  t.Query("");
  Say(fd, "R");
  std::mt19937 rng(seed);
  for (int i = 0;; ++i) {
    const std::string subject = "s" + std::to_string(seed) + "-" + std::to_string(i);
    const Derived d = From(subject);
    const bool append = t.RecordCount() == 0 || rng() % 3 != 0;
    if (append) {
      Say(fd, "T 0 " + subject);
      if (t.Append() != 0) ::_exit(3);
    } else {
      const std::uint32_t r = 1 + rng() % t.RecordCount();
      if (t.GoTo(r) != 0) ::_exit(4);
      Say(fd, "T " + std::to_string(r) + " " + subject);
      if (t.Edit() != 0) ::_exit(5);
    }
    t.SetText("SUBJECT", subject);
    t.SetText("DATESENT", d.date);
    t.SetText("TIMESENT", d.time);
    t.SetText("CODES", d.codes);
    t.SetLogical("ARCHIVED", d.archived);
    if (t.Post() != 0) ::_exit(6);
    Say(fd, "P " + std::to_string(t.RecNo()) + " " + subject);
  }
}

TEST(Crash, KilledWritersNeverDamageCommittedRecordsOrTags) {
  ScratchDir dir;
  {
    TTable t;
    ASSERT_TRUE(OpenOutFaxDBF(t, dir.Path()));
  }
  std::map<std::uint32_t, std::string> committed;  // recno -> subject
  std::mt19937 rng(7);
  constexpr int kRuns = 40;
  int rebuilds = 0;
  for (int run = 0; run < kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      Child(dir.Path(), fds[1], static_cast<unsigned>(run));
    }
    ::close(fds[1]);
    char ready = 0;
    ASSERT_EQ(::read(fds[0], &ready, 1), 1);
    const timespec pause{0, static_cast<long>(rng() % 15000000)};
    ::nanosleep(&pause, nullptr);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child ended by itself with " << WEXITSTATUS(status);
    std::string log;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) log.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);

    // What had returned, and the one change that may have been under way.
    std::istringstream in(log);
    std::string line, pendingSubject;
    std::uint32_t pendingRecno = 0;
    bool pending = false;
    while (std::getline(in, line)) {
      if (line.empty() || line == "\n") continue;
      std::istringstream words(line);
      char kind;
      std::uint32_t recno;
      std::string subject;
      if (!(words >> kind >> recno >> subject)) continue;  // the last line may be cut
      if (kind == 'T') {
        pending = true;
        pendingRecno = recno;
        pendingSubject = subject;
      } else if (kind == 'P') {
        committed[recno] = subject;
        pending = false;
      }
    }

    TTable t;
    ASSERT_TRUE(OpenOutFaxDBF(t, dir.Path())) << t.LastError();
    if (t.IndexRebuilt()) ++rebuilds;
    ASSERT_EQ(t.Query(""), 0);
    const std::uint32_t count = t.RecordCount();
    ASSERT_GE(count, committed.empty() ? 0u : committed.rbegin()->first);
    ASSERT_LE(count, (committed.empty() ? 0u : committed.rbegin()->first) + 1);
    if (count > (committed.empty() ? 0u : committed.rbegin()->first)) {
      // An append that had not returned made it to the file: it counts from now on.
      ASSERT_TRUE(pending && pendingRecno == 0);
      committed[count] = pendingSubject;
      pending = false;
    }
    for (auto& [recno, subject] : committed) {
      ASSERT_EQ(t.GoTo(recno), 0) << t.LastError();
      const std::string got = t.AsText("SUBJECT");
      if (got != subject && pending && pendingRecno == recno && got == pendingSubject) subject = got;
      ASSERT_EQ(got, subject) << "record " << recno;
      const Derived d = From(subject);
      EXPECT_EQ(t.AsText("DATESENT"), d.date);
      EXPECT_EQ(t.AsText("TIMESENT"), d.time);
      EXPECT_EQ(t.AsText("CODES"), d.codes);
      EXPECT_EQ(t.AsLogical("ARCHIVED"), d.archived);
    }
    // Every tag holds each record once, in its key order.
    for (int tag = 1; tag <= 5; ++tag) {
      TagDescription desc;
      ASSERT_EQ(t.GetTagDescription(tag, desc), 0);
      EXPECT_EQ(desc.keyCount, count) << desc.name;
    }
    ASSERT_EQ(t.SetOrder(1), 0);
    std::vector<std::pair<std::string, std::uint32_t>> keys;
    for (const auto& [recno, subject] : committed) {
      const Derived d = From(subject);
      keys.emplace_back((d.date.empty() ? std::string(8, ' ') : d.date) + d.time, recno);
    }
    std::sort(keys.rbegin(), keys.rend());
    std::vector<std::uint32_t> expected;
    for (const auto& k : keys) expected.push_back(k.second);
    ASSERT_EQ(Walk(t), expected);
    ASSERT_EQ(t.SetOrder(2), 0);
    ASSERT_EQ(Walk(t).size(), count);
  }
  EXPECT_GT(committed.size(), 100u);  // the children got real work done
  RecordProperty("index_rebuilds", rebuilds);
}

}  // namespace
}  // namespace qc

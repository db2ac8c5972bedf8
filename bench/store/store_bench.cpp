// The record store at the size of a long-used fax list: 100,000 outgoing
// records with the five tags of QCOUT.
//   Append       - append with all five tags maintained (goal >= 20,000 records/s)
//   OpenFirst50  - open with an existing CDX, the first 50 rows in date order (goal < 20 ms)
//   CountVisible - count under ".not. archived"
//   PackRebuild  - pack (10% deleted) and rebuild every tag (goal < 1 s)
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "store/fax_tables.h"
#include "store/table.h"

namespace {

constexpr int kRecords = 100000;

std::string Scratch() {
  static std::string dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qc_store_bench_XXXXXX").string();
    return std::string(::mkdtemp(tmpl.data()));
  }();
  return dir;
}

void AppendOne(qc::TTable& t, std::mt19937& rng, int i) {
  static const char* words[] = {"Invoice", "quote", "Order", "delivery", "Contract", "meeting", "Offer", "reply"};
  char date[16], time[8];
  std::snprintf(date, sizeof date, "%04d%02d%02d", 2015 + static_cast<int>(rng() % 10), 1 + static_cast<int>(rng() % 12),
                1 + static_cast<int>(rng() % 28));
  std::snprintf(time, sizeof time, "%02d:%02d", static_cast<int>(rng() % 24), static_cast<int>(rng() % 60));
  t.Append();
  t.SetText("SUBJECT", std::string(words[rng() % 8]) + " " + std::to_string(rng() % 100000));
  if (rng() % 20 != 0) {
    t.SetText("DATESENT", date);
    t.SetText("TIMESENT", time);
  }
  t.SetText("RECIPIENT", std::string(words[rng() % 8]) + " Ltd " + std::to_string(i % 977));
  t.SetText("PHONE", "+49 30 " + std::to_string(1000000 + rng() % 9000000));
  t.SetText("LASTRESULT", "Sent");
  t.SetText("FAXDOC", "FAX" + std::to_string(10000 + i % 90000) + ".APF");
  t.SetText("CODES", std::string(words[rng() % 8]).substr(0, 3));
  t.SetLogical("ARCHIVED", rng() % 4 == 0);
  if (t.Post() != 0) std::abort();
}

// The 100,000-record table the other benchmarks read, built once.
const std::string& BuiltTable() {
  static std::string dir = [] {
    const std::string d = Scratch() + "/built";
    std::filesystem::create_directories(d);
    qc::TTable t;
    if (!qc::OpenOutFaxDBF(t, d)) std::abort();
    std::mt19937 rng(1);
    for (int i = 0; i < kRecords; ++i) AppendOne(t, rng, i);
    return d;
  }();
  return dir;
}

void Append(benchmark::State& state) {
  for (auto _ : state) {
    const std::string d = Scratch() + "/append";
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
    qc::TTable t;
    if (!qc::OpenOutFaxDBF(t, d)) std::abort();
    std::mt19937 rng(1);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRecords; ++i) AppendOne(t, rng, i);
    const std::chrono::duration<double> s = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(s.count());
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(Append)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void OpenFirst50(benchmark::State& state) {
  const std::string& d = BuiltTable();
  for (auto _ : state) {
    qc::TTable t;
    if (!qc::OpenOutFaxDBF(t, d)) std::abort();
    if (t.IndexRebuilt()) std::abort();
    t.SetOrder(t.TagNumber("DATESENT"));
    t.First();
    std::size_t bytes = 0;
    for (int row = 0; row < 50 && !t.Eof(); ++row) {
      for (int f = 0; f < t.FieldCount(); ++f) bytes += t.AsText(f).size();
      t.Next();
    }
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(OpenFirst50)->Unit(benchmark::kMillisecond);

void CountVisible(benchmark::State& state) {
  qc::TTable t;
  if (!qc::OpenOutFaxDBF(t, BuiltTable())) std::abort();
  t.SetOrder(1);
  for (auto _ : state) {
    if (t.Query(".not. archived") != 0) std::abort();
    benchmark::DoNotOptimize(t.QueryRecordCount());
  }
}
BENCHMARK(CountVisible)->Unit(benchmark::kMillisecond);

void PackRebuild(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    const std::string d = Scratch() + "/pack";
    std::filesystem::remove_all(d);
    std::filesystem::copy(BuiltTable(), d);
    qc::TTable t;
    if (!qc::OpenOutFaxDBF(t, d)) std::abort();
    t.Query("");
    t.SetOrder(0);
    for (std::uint32_t r = 1; r <= t.RecordCount(); r += 10) {
      t.GoTo(r);
      t.Delete();
    }
    state.ResumeTiming();
    if (t.Pack() != 0) std::abort();
  }
}
BENCHMARK(PackRebuild)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

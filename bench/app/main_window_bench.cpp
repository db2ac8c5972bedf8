// Start of the main window over large lists, and scrolling through them.
// Run headless: QT_QPA_PLATFORM=offscreen bench_app
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/grid_view.h"
#include "app/main_screen.h"
#include "app/table_model.h"
#include "store/fax_tables.h"
#include "store/table.h"

namespace {

std::string MakeFolder(const char* name) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string() + "/";
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
  return path;
}

void Fill(bool outgoing, const std::string& folder, int count) {
  qc::TTable t;
  const bool ok = outgoing ? qc::OpenOutFaxDBF(t, folder) : qc::OpenRecFaxDBF(t, folder);
  if (!ok) std::abort();
  for (int i = 0; i < count; ++i) {
    t.Append();
    const qc::Date day{2020 + i % 6, 1 + i % 12, 1 + i % 28};
    const std::string n = std::to_string(i);
    if (outgoing) {
      if (i % 3) t.SetDate("DATESENT", day);
      t.SetText("TIMESENT", "10:" + std::to_string(10 + i % 50));
      t.SetText("SUBJECT", "Subject of fax " + n);
      t.SetText("RECIPIENT", "Recipient " + n);
      t.SetText("PHONE", "555-" + n);
      t.SetText("FAXDOC", "FAX" + n + ".APF");
      t.SetText("LASTRESULT", i % 3 ? "Sent" : "");
      t.SetLogical("ARCHIVED", i % 10 == 0);
    } else {
      t.SetDate("DATEREC", day);
      t.SetText("TIMEREC", "09:" + std::to_string(10 + i % 50));
      t.SetText("FROM", "STATION " + n);
      t.SetSmallInt("PAGES", 1 + i % 9);
      t.SetText("FAXFILE", "R" + n + ".APF");
    }
    if (t.Post() != 0) std::abort();
  }
  t.Close();
}

void BM_StartToShownMainWindow(benchmark::State& state) {
  static const std::string folder = [] {
    const std::string f = MakeFolder("qc-bench-start");
    Fill(true, f, 10000);
    Fill(false, f, 10000);
    return f;
  }();
  ::setenv("QUILLCAST_HOME", folder.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (folder + "config").c_str(), 1);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto w = std::make_unique<qc::TMainScreen>();
    w->Start();
    // Shown: laid out and painted once with its first rows.
    w->repaint();
    w->FaxGrid->viewport()->repaint();
    QCoreApplication::processEvents();
    const auto end = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    state.counters["rows_read"] = static_cast<double>(w->FaxGrid->Model()->RowsRead());
    w->close();
  }
}
BENCHMARK(BM_StartToShownMainWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

qc::TMainScreen* ScrollWindow() {
  static const std::string folder = [] {
    const std::string f = MakeFolder("qc-bench-scroll");
    Fill(true, f, 100000);
    return f;
  }();
  static qc::TMainScreen* w = [] {
    ::setenv("QUILLCAST_HOME", folder.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (folder + "config").c_str(), 1);
    auto* window = new qc::TMainScreen;
    window->Start();
    window->mnuShowArchives->trigger();  // all 100,000 rows
    return window;
  }();
  return w;
}

// The reads a scroll through the whole list makes: page by page, the cells
// of the rows on the screen, as the grid asks for them.
void BM_ScrollThrough100000(benchmark::State& state) {
  qc::TMainScreen* w = ScrollWindow();
  QAbstractItemModel* model = w->FaxGrid->model();
  const int rows = model->rowCount();
  const int columns = model->columnCount();
  const int page = 20;
  for (auto _ : state) {
    w->FaxGrid->Reload();
    for (int top = 0; top < rows; top += page)
      for (int r = top; r < std::min(rows, top + page); ++r)
        for (int c = 0; c < columns; ++c) benchmark::DoNotOptimize(model->index(r, c).data());
  }
  state.counters["rows"] = rows;
  state.counters["rows_read"] = static_cast<double>(w->FaxGrid->Model()->RowsRead());
}
BENCHMARK(BM_ScrollThrough100000)->Unit(benchmark::kMillisecond)->Iterations(3);

// One screen of the grid painted at a place spread through the list:
// what one step of a scroll costs on the screen.
void BM_PaintOnePageIn100000(benchmark::State& state) {
  qc::TMainScreen* w = ScrollWindow();
  QScrollBar* bar = w->FaxGrid->verticalScrollBar();
  int step = 0;
  for (auto _ : state) {
    step = (step + 7919) % std::max(1, bar->maximum());
    bar->setValue(step);
    w->FaxGrid->viewport()->repaint();
  }
}
BENCHMARK(BM_PaintOnePageIn100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

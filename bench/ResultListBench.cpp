// A search streaming 10,000 results, a page of 20 at a time, into the visible result list grouped by price
// and sorted by price: the Qt model and a tree view on the window's thread, beside the same stream into the
// result view without a window. Reports the longest time one page keeps the window's thread busy and the
// ratio of the totals.
#ifdef VANDREL_BENCH_GUI

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "currency/CurrencyConverters.h"
#include "presentation/ResultGroups.h"
#include "presentation/ResultViewFrames.h"
#include "storage/SearchStorage.h"
#include "storage/SearchTypeStorage.h"
#include "ui/ResultListModel.h"

namespace vandrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kResults = 10000;
constexpr int kPerPage = 20;

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// One application for the whole run, whichever benchmark of the run made it first; never destroyed,
// since tearing the display connection down from a static destructor at exit crashes the xcb platform.
QApplication& App() {
  if (auto* running = qobject_cast<QApplication*>(QCoreApplication::instance())) return *running;
  static int argc = 1;
  static char name[] = "vandrel_bench";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class TNoWidget : public IResultListWidget {
 public:
  void SetRowCount(size_t) override {}
  void RedrawAll() override {}
  void RedrawRow(size_t) override {}
  void ScrollIntoView(size_t) override {}
  void SetBusy(bool) override {}
};

class TStreamItem : public ISearchHistoryResultItemIntf {
 public:
  TStreamItem(TResultStorageList& results, TSearchTypeStorageItem& type) : Results_(results), Type_(type) {}
  TResultStorageList& GetResults() override { return Results_; }
  TSearchTypeStorageItem* GetSearchType() override { return &Type_; }
  TSearchStorageItem* GetSearch() override { return &Search_; }
  void BeginBatch() override {}
  void MarkDeleted(TResultStorageItem*) override {}
  void Commit() override {}

 private:
  TResultStorageList& Results_;
  TSearchTypeStorageItem& Type_;
  TSearchStorageItem Search_;
};

// One stream: a result list shown by a result view grouped and sorted by price.
struct TStream {
  explicit TStream(IResultListWidget& widget) : Frame(widget) {
    RegisterPresentationClasses();
    for (auto* d : {&Type.OutputFieldDefinitions, &Results.OutputFieldDefinitions()}) {
      d->Clear();
      d->AddOutput("title", TStorageFieldType::ftString)->DisplayName = "Title";
      auto* price = d->AddOutput("price", TStorageFieldType::ftMoney);
      price->DisplayName = "Price";
      price->Layout.Sort = true;
      d->AddOutput("url", TStorageFieldType::ftString)->IsUrl = true;
    }
    Item = std::make_shared<TStreamItem>(Results, Type);
    Frame.SetResultItem(Item);
    Menu.Attach(Frame.View(), &Type, {});
    Menu.GroupBy("price", TStorageFieldType::ftMoney);
  }

  void AddPage(int page) {
    Results.BeginTransaction(lsAdding);
    for (int i = 0; i < kPerPage; ++i) {
      const int n = page * kPerPage + i;
      TResultStorageItem* r = Results.NewResult();
      TCurrencyMap map;
      map.FromAmount = {"USD", static_cast<float>((n * 7919) % 10000) / 10.0f + 1.0f};
      r->ResultFields()->AddResultField("title", TDynamicValue("Result " + std::to_string(n)));
      r->ResultFields()->AddResultField("price", TDynamicValue(map.Serialize()));
      r->ResultFields()->AddResultField("url", TDynamicValue("http://127.0.0.1:1/item/" + std::to_string(n)));
    }
    Results.EndTransaction();
  }

  TResultStorageList Results;
  TSearchTypeStorageItem Type;
  std::shared_ptr<TStreamItem> Item;
  TResultViewFrame Frame;
  TGroupByMenuManager Menu;
};

struct TTimes {
  double TotalCpu = 0, TotalWall = 0, LongestCpu = 0, LongestWall = 0;
};

TTimes StreamWithoutWindow() {
  TNoWidget widget;
  TStream stream(widget);
  TTimes t;
  for (int page = 0; page < kResults / kPerPage; ++page) {
    const double cpu = CpuMs();
    const auto wall = Clock::now();
    stream.AddPage(page);
    const double c = CpuMs() - cpu, w = Ms(Clock::now() - wall);
    t.TotalCpu += c;
    t.TotalWall += w;
    t.LongestCpu = std::max(t.LongestCpu, c);
    t.LongestWall = std::max(t.LongestWall, w);
  }
  return t;
}

TTimes StreamIntoWindow(int& rows) {
  App();
  TResultListModel model;
  TStream stream(model);
  model.SetViewFrame(&stream.Frame);
  QTreeView view;
  view.setUniformRowHeights(true);
  view.setRootIsDecorated(false);
  view.setModel(&model);
  view.resize(900, 600);
  view.show();
  QCoreApplication::processEvents();
  TTimes t;
  // Each page is one turn of the window's event loop: the page arrives, then the model and the view catch
  // up and paint.
  for (int page = 0; page < kResults / kPerPage; ++page) {
    const double cpu = CpuMs();
    const auto wall = Clock::now();
    stream.AddPage(page);
    QCoreApplication::processEvents();
    const double c = CpuMs() - cpu, w = Ms(Clock::now() - wall);
    t.TotalCpu += c;
    t.TotalWall += w;
    t.LongestCpu = std::max(t.LongestCpu, c);
    t.LongestWall = std::max(t.LongestWall, w);
  }
  QCoreApplication::processEvents();
  rows = model.rowCount();
  if (model.Resets() != 1 || static_cast<size_t>(rows) != stream.Frame.RowCount())
    std::fprintf(stderr, "result list bench: the model lost step with the view (%zu resets)\n",
                 model.Resets());
  return t;
}

void BM_StreamIntoGroupedResultList(benchmark::State& state) {
  TTimes window, plain;
  int rows = 0;
  for (auto _ : state) {
    plain = StreamWithoutWindow();
    window = StreamIntoWindow(rows);
    state.SetIterationTime((window.TotalWall + plain.TotalWall) / 1000.0);
  }
  state.counters["results"] = kResults;
  state.counters["rows"] = rows;
  state.counters["window_total_cpu_ms"] = window.TotalCpu;
  state.counters["plain_total_cpu_ms"] = plain.TotalCpu;
  state.counters["ratio_window_to_plain_cpu"] = plain.TotalCpu > 0 ? window.TotalCpu / plain.TotalCpu : 0;
  state.counters["ratio_window_to_plain_wall"] = plain.TotalWall > 0 ? window.TotalWall / plain.TotalWall : 0;
  state.counters["longest_busy_cpu_ms"] = window.LongestCpu;
  state.counters["longest_busy_wall_ms"] = window.LongestWall;
  std::printf(
      "result list: %d results in %d rows; window %.0f ms CPU (%.0f wall), without %.0f ms CPU (%.0f wall), "
      "ratio %.2f CPU (%.2f wall); longest busy %.1f ms CPU (%.1f wall)\n",
      kResults, rows, window.TotalCpu, window.TotalWall, plain.TotalCpu, plain.TotalWall,
      plain.TotalCpu > 0 ? window.TotalCpu / plain.TotalCpu : 0,
      plain.TotalWall > 0 ? window.TotalWall / plain.TotalWall : 0, window.LongestCpu, window.LongestWall);
}

BENCHMARK(BM_StreamIntoGroupedResultList)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace vandrel

#endif  // VANDREL_BENCH_GUI

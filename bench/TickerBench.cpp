// The progress window's ticker while it scrolls: the share of one core its timer and painting take, beside
// a plain widget repainting at the same rate (the least any animation at 20 frames a second costs). The
// ticker draws its text once into a strip and copies that strip each step, so it should sit near the peer.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <ctime>
#include <memory>
#include <string>

#include "ui/ScrollingTicker.h"

namespace vandrel {
namespace {

constexpr int kRunMs = 3000;  // per side; the 1.5 s start pause is excluded by starting after it

double ProcessCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

QApplication& App() {
  // The result list benchmark may have made the run's application already.
  if (auto* running = qobject_cast<QApplication*>(QCoreApplication::instance())) return *running;
  static int argc = 1;
  static char name[] = "vandrel_bench";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never destroyed: tearing down the display connection from a static destructor at exit crashes the
  // xcb platform, and the process ends right after anyway.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// The peer: a widget of the ticker's size that repaints its background every 50 ms.
class TRepaintingWidget : public QWidget {
 public:
  TRepaintingWidget() {
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&timer_, &QTimer::timeout, this, [this] { update(); });
    timer_.start(kTickerIntervalMs);
  }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Qt::black); }

 private:
  QTimer timer_;
};

// Percent of one core spent while `widget` runs for kRunMs, after `settleMs` of running unmeasured.
double CpuPercentWhileShown(QWidget& widget, int settleMs) {
  widget.resize(301, 21);
  widget.show();
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < settleMs) App().processEvents(QEventLoop::AllEvents, 10);
  const double cpu = ProcessCpuMs();
  clock.restart();
  QTimer::singleShot(kRunMs, &App(), [] { App().exit(); });
  App().exec();
  const double wall = static_cast<double>(clock.elapsed());
  widget.hide();
  return wall > 0 ? 100.0 * (ProcessCpuMs() - cpu) / wall : 0;
}

void BM_TickerScrollingCpu(benchmark::State& state) {
  App();
  double ticker = 0, peer = 0;
  for (auto _ : state) {
    TScrollingTicker scrolling;
    std::string error;
    if (!scrolling.LoadScript(std::string(VANDREL_BENCH_BIN_DIR) + "/Data/" + kTickerScriptName, &error)) {
      state.SkipWithError(("ticker script: " + error).c_str());
      return;
    }
    scrolling.SetRunning(true);
    ticker = CpuPercentWhileShown(scrolling, kTickerStartPauseMs + 200);
    TRepaintingWidget plain;
    peer = CpuPercentWhileShown(plain, 200);
    state.SetIterationTime(kRunMs / 1000.0);
  }
  state.counters["ticker_cpu_pct"] = ticker;
  state.counters["peer_cpu_pct"] = peer;
  state.counters["ratio_ticker_to_peer"] = peer > 0 ? ticker / peer : 0;
  state.counters["target_pct"] = 2.0;
}
BENCHMARK(BM_TickerScrollingCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vandrel

// What the result-view benchmarks share: a side-by-side timer for ours against a peer that also counts
// our side's allocations, the filter they apply, and the three-currency table their prices are in.
#pragma once

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <string>

#include "currency/CurrencyConverters.h"
#include "storage/ResultStorage.h"

namespace vandrel::bench {

// Every allocation of the program (the benchmark binary replaces the global operator new).
std::atomic<uint64_t>& Allocations();

// Hides every result whose number is a multiple of `Modulo`.
class TSkipEveryFilter : public TStorageDataFilterItem {
  VANDREL_PERSISTENT(TSkipEveryFilter)
 public:
  int Modulo = 7;
  bool Accepts(const TStorageDataItem& item) const override { return item.Index() % Modulo != 0; }
};

inline const TClassInfo& TSkipEveryFilter::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TSkipEveryFilter>("TSkipEveryFilter", TStorageDataFilterItem::StaticClass()).Build();
  return info;
}

constexpr const char* kBenchCurrencies[] = {"USD", "EUR", "CAD"};
constexpr float kBenchRates[] = {1.0f, 0.9f, 1.35f};  // units of each per dollar

// USD, EUR and CAD at the rates above, converting to `target`.
inline void InstallBenchCurrencies(const std::string& target) {
  TCurrencyConverter& converter = CurrencyConverter();
  converter.Definitions().Clear();
  converter.Definitions().Add({"USD", kBenchRates[0], "USD", "$"});
  converter.Definitions().Add({"EUR", kBenchRates[1], "EUR", "E"});
  converter.Definitions().Add({"CAD", kBenchRates[2], "CAD", "C"});
  converter.AxisCode = "USD";
  converter.TargetCode = target;
}

// Times our side and the peer's in turn, by the wall clock and by this thread's CPU time (on a shared
// machine the wall clock mostly measures the others), and reports both with their ratios.
class TSideBySide {
 public:
  void StartOurs() {
    Mark();
    AllocationsAtStart_ = Allocations().load(std::memory_order_relaxed);
  }
  void StartPeer() {
    OursAllocations_ += Allocations().load(std::memory_order_relaxed) - AllocationsAtStart_;
    LastOurs_ = Lap(Ours_, OursCpu_) / 1000.0;
  }
  // Ends the peer's lap; the iteration's manual time is our side's.
  void Stop(benchmark::State& state) {
    Lap(Peer_, PeerCpu_);
    ++Runs_;
    state.SetIterationTime(LastOurs_);
  }
  void Report(benchmark::State& state) const {
    const double n = Runs_ > 0 ? static_cast<double>(Runs_) : 1.0;
    state.counters["ours_ms"] = Ours_ / n;
    state.counters["peer_ms"] = Peer_ / n;
    state.counters["ratio_ours_to_peer"] = Peer_ > 0 ? Ours_ / Peer_ : 0;
    state.counters["ours_cpu_ms"] = OursCpu_ / n;
    state.counters["peer_cpu_ms"] = PeerCpu_ / n;
    state.counters["cpu_ratio_ours_to_peer"] = PeerCpu_ > 0 ? OursCpu_ / PeerCpu_ : 0;
    // Tens of thousands of comparisons a run: this stays far below them when none allocates.
    state.counters["ours_allocs"] = static_cast<double>(OursAllocations_) / n;
  }
  double OursMsPerRun() const { return Runs_ > 0 ? Ours_ / static_cast<double>(Runs_) : 0; }

 private:
  using Clock = std::chrono::steady_clock;
  static double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
  }
  void Mark() {
    Wall_ = Clock::now();
    Cpu_ = CpuMs();
  }
  // Adds the time since the last mark to `wall` and `cpu`, marks again, and returns the wall lap in ms.
  double Lap(double& wall, double& cpu) {
    const auto now = Clock::now();
    const double nowCpu = CpuMs();
    const double lap = std::chrono::duration<double, std::milli>(now - Wall_).count();
    wall += lap;
    cpu += nowCpu - Cpu_;
    Wall_ = now;
    Cpu_ = nowCpu;
    return lap;
  }

  Clock::time_point Wall_;
  double Cpu_ = 0;
  double Ours_ = 0, Peer_ = 0, OursCpu_ = 0, PeerCpu_ = 0;  // milliseconds, summed over the runs
  double LastOurs_ = 0;                                     // seconds, the last run of our side
  int64_t Runs_ = 0;
  uint64_t AllocationsAtStart_ = 0, OursAllocations_ = 0;
};

}  // namespace vandrel::bench

// Our locale-free Format against snprintf on the same numbers.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "platform/Format.h"

static void BM_FormatOwn(benchmark::State& state) {
  double v = 1234.5678;
  for (auto _ : state) benchmark::DoNotOptimize(vandrel::Format("%0:s costs %1:.2f", {"item", v}));
}
BENCHMARK(BM_FormatOwn);

static void BM_FormatSnprintf(benchmark::State& state) {
  double v = 1234.5678;
  char buf[64];
  for (auto _ : state) {
    std::snprintf(buf, sizeof buf, "%s costs %.2f", "item", v);
    benchmark::DoNotOptimize(std::string(buf));
  }
}
BENCHMARK(BM_FormatSnprintf);

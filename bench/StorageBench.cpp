// Result views at search size: regrouping, refiltering and resorting 10,000 results, and a money sort,
// each side by side with a plain std::map / std::sort peer on the same values.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "currency/CurrencyConverters.h"
#include "storage/ResultStorage.h"

namespace vandrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kResults = 10000;
constexpr int kGroups = 1000;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// CPU time of this thread in milliseconds: on a shared machine the wall clock mostly measures the others.
double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Hides every result whose number is a multiple of `Modulo`.
class TSkipEveryFilter : public TStorageDataFilterItem {
  VANDREL_PERSISTENT(TSkipEveryFilter)
 public:
  int Modulo = 7;
  bool Accepts(const TStorageDataItem& item) const override { return item.Index() % Modulo != 0; }
};

const TClassInfo& TSkipEveryFilter::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TSkipEveryFilter>("TSkipEveryFilter", TStorageDataFilterItem::StaticClass()).Build();
  return info;
}

struct TRow {
  std::string Store;
  std::string Money;
  float Price;  // in USD, for the peer
};

std::vector<TRow> MakeRows() {
  const char* codes[] = {"USD", "EUR", "CAD"};
  const float rates[] = {1.0f, 0.9f, 1.35f};
  std::vector<TRow> rows;
  uint32_t seed = 12345;
  for (int i = 0; i < kResults; ++i) {
    seed = seed * 1103515245u + 12345u;
    int c = static_cast<int>(seed >> 16) % 3;
    float value = static_cast<float>((seed >> 8) % 100000) / 100.0f;
    TCurrencyMap map;
    map.FromAmount = {codes[c], value};
    rows.push_back({"Store " + std::to_string((i * 7919) % kGroups), map.Serialize(), value / rates[c]});
  }
  return rows;
}

struct TFixture {
  TFixture() {
    TCurrencyConverter& converter = CurrencyConverter();
    converter.Definitions().Clear();
    TCurrencyDefinitionItem usd{"USD", 1.0f, "USD", "$"}, eur{"EUR", 0.9f, "EUR", "E"},
        cad{"CAD", 1.35f, "CAD", "C"};
    converter.Definitions().Add(usd);
    converter.Definitions().Add(eur);
    converter.Definitions().Add(cad);
    converter.TargetCode = "EUR";
    auto& definitions = Results.OutputFieldDefinitions();
    definitions.AddOutput("title", TStorageFieldType::ftString);
    definitions.AddOutput("price", TStorageFieldType::ftMoney);
    definitions.AddOutput("store", TStorageFieldType::ftString);
    Rows = MakeRows();
    Results.BeginTransaction(lsRewriting);
    for (int i = 0; i < kResults; ++i) {
      TResultStorageItem* item = Results.NewResult();
      auto* fields = item->ResultFields();
      fields->AddResultField("title", TDynamicValue("Result " + std::to_string(i)));
      fields->AddResultField("price", TDynamicValue(Rows[static_cast<size_t>(i)].Money));
      fields->AddResultField("store", TDynamicValue(Rows[static_cast<size_t>(i)].Store),
                             Rows[static_cast<size_t>(i)].Store);
    }
    Results.EndTransaction();
    View = Results.GetResultView("Default");
    Keys.AddKey("title", TSortKeySortDirection::ksdAscending);
  }

  TResultStorageList Results;
  TResultStorageListView* View = nullptr;
  std::vector<TRow> Rows;
  storage::TSortKeyList Keys;
};

// The peer: group the same store names in a map, drop the filtered rows, sort by price.
void PeerRegroup(const std::vector<TRow>& rows, int modulo) {
  std::map<std::string, std::vector<int>> groups;
  for (int i = 0; i < kResults; ++i)
    if (modulo == 0 || i % modulo != 0) groups[rows[static_cast<size_t>(i)].Store].push_back(i);
  std::vector<int> order;
  for (int i = 0; i < kResults; ++i)
    if (modulo == 0 || i % modulo != 0) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&rows](int a, int b) {
    return rows[static_cast<size_t>(a)].Price < rows[static_cast<size_t>(b)].Price;
  });
  benchmark::DoNotOptimize(groups.size());
  benchmark::DoNotOptimize(order.data());
}

// Grouping 10,000 results 1,000 ways, then a filter on and off, then a sort by price.
void BM_RegroupRefilterResort(benchmark::State& state) {
  TFixture f;
  double ours = 0, peer = 0, oursCpu = 0, peerCpu = 0;
  int64_t n = 0;
  for (auto _ : state) {
    f.View->SetGrouped(false);
    double ca = CpuMs();
    auto a = Clock::now();
    auto definition = std::make_unique<TResultStorageGroupDefinition>();
    definition->GroupField = "store";
    f.View->SetGroupDefinition(std::move(definition));
    f.View->SetGrouped(true);
    TStorageDataFilterItem* filter = f.View->AddFilter(std::make_unique<TSkipEveryFilter>());
    f.View->SortResults("price", true, &f.Keys, false);
    auto b = Clock::now();
    double cb = CpuMs();
    PeerRegroup(f.Rows, 7);
    auto c = Clock::now();
    double cc = CpuMs();
    oursCpu += cb - ca;
    peerCpu += cc - cb;
    if (f.View->GroupCount() != kGroups) state.SkipWithError("wrong group count");
    f.View->RemoveFilter(filter);
    ours += Ms(b - a);
    peer += Ms(c - b);
    ++n;
    state.SetIterationTime(std::chrono::duration<double>(b - a).count());
  }
  state.counters["ours_ms"] = ours / static_cast<double>(n);
  state.counters["peer_ms"] = peer / static_cast<double>(n);
  state.counters["ratio_ours_to_peer"] = peer > 0 ? ours / peer : 0;
  state.counters["ours_cpu_ms"] = oursCpu / static_cast<double>(n);
  state.counters["peer_cpu_ms"] = peerCpu / static_cast<double>(n);
  state.counters["cpu_ratio_ours_to_peer"] = peerCpu > 0 ? oursCpu / peerCpu : 0;
}
BENCHMARK(BM_RegroupRefilterResort)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// Sorting 10,000 results by a price in three currencies.
void BM_MoneySort(benchmark::State& state) {
  TFixture f;
  std::vector<int> order(kResults);
  double ours = 0, peer = 0, oursCpu = 0, peerCpu = 0;
  int64_t n = 0;
  bool ascending = true;
  for (auto _ : state) {
    ascending = !ascending;
    double ca = CpuMs();
    auto a = Clock::now();
    f.View->SortResults("price", ascending, nullptr, false);
    auto b = Clock::now();
    double cb = CpuMs();
    for (int i = 0; i < kResults; ++i) order[static_cast<size_t>(i)] = i;
    std::stable_sort(order.begin(), order.end(), [&f, ascending](int x, int y) {
      float px = f.Rows[static_cast<size_t>(x)].Price, py = f.Rows[static_cast<size_t>(y)].Price;
      return ascending ? px < py : py < px;
    });
    auto c = Clock::now();
    double cc = CpuMs();
    oursCpu += cb - ca;
    peerCpu += cc - cb;
    benchmark::DoNotOptimize(order.data());
    ours += Ms(b - a);
    peer += Ms(c - b);
    ++n;
    state.SetIterationTime(std::chrono::duration<double>(b - a).count());
  }
  state.counters["ours_ms"] = ours / static_cast<double>(n);
  state.counters["peer_ms"] = peer / static_cast<double>(n);
  state.counters["ratio_ours_to_peer"] = peer > 0 ? ours / peer : 0;
  state.counters["ours_cpu_ms"] = oursCpu / static_cast<double>(n);
  state.counters["peer_cpu_ms"] = peerCpu / static_cast<double>(n);
  state.counters["cpu_ratio_ours_to_peer"] = peerCpu > 0 ? oursCpu / peerCpu : 0;
}
BENCHMARK(BM_MoneySort)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
}  // namespace vandrel

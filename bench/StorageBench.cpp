// Result views at search size: regrouping, refiltering and resorting 10,000 results, and a money sort,
// each side by side with a plain std::map / std::sort peer on the same values.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "ResultViewBench.h"

// Counts every allocation, so the result-view benchmarks can show how many their side makes.
std::atomic<uint64_t>& vandrel::bench::Allocations() {
  static std::atomic<uint64_t> count{0};
  return count;
}

// The replacement pair is malloc and free by design; the compiler sees only the delete-expression side.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  vandrel::bench::Allocations().fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

namespace vandrel {
namespace {

using bench::TSideBySide;

constexpr int kResults = 10000;
constexpr int kGroups = 1000;

struct TRow {
  std::string Store;
  std::string Money;
  float Price;  // in USD, for the peer
};

std::vector<TRow> MakeRows() {
  std::vector<TRow> rows;
  uint32_t seed = 12345;
  for (int i = 0; i < kResults; ++i) {
    seed = seed * 1103515245u + 12345u;
    int c = static_cast<int>(seed >> 16) % 3;
    float value = static_cast<float>((seed >> 8) % 100000) / 100.0f;
    TCurrencyMap map;
    map.FromAmount = {bench::kBenchCurrencies[c], value};
    rows.push_back(
        {"Store " + std::to_string((i * 7919) % kGroups), map.Serialize(), value / bench::kBenchRates[c]});
  }
  return rows;
}

struct TFixture {
  TFixture() {
    bench::InstallBenchCurrencies("EUR");
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
  TSideBySide timer;
  for (auto _ : state) {
    f.View->SetGrouped(false);
    timer.StartOurs();
    auto definition = std::make_unique<TResultStorageGroupDefinition>();
    definition->GroupField = "store";
    f.View->SetGroupDefinition(std::move(definition));
    f.View->SetGrouped(true);
    TStorageDataFilterItem* filter = f.View->AddFilter(std::make_unique<bench::TSkipEveryFilter>());
    f.View->SortResults("price", true, &f.Keys, false);
    timer.StartPeer();
    PeerRegroup(f.Rows, 7);
    timer.Stop(state);
    if (f.View->GroupCount() != kGroups) state.SkipWithError("wrong group count");
    f.View->RemoveFilter(filter);
  }
  timer.Report(state);
}
BENCHMARK(BM_RegroupRefilterResort)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// Sorting 10,000 results by a price in three currencies.
void BM_MoneySort(benchmark::State& state) {
  TFixture f;
  std::vector<int> order(kResults);
  TSideBySide timer;
  bool ascending = true;
  for (auto _ : state) {
    ascending = !ascending;
    timer.StartOurs();
    f.View->SortResults("price", ascending, nullptr, false);
    timer.StartPeer();
    for (int i = 0; i < kResults; ++i) order[static_cast<size_t>(i)] = i;
    std::stable_sort(order.begin(), order.end(), [&f, ascending](int x, int y) {
      float px = f.Rows[static_cast<size_t>(x)].Price, py = f.Rows[static_cast<size_t>(y)].Price;
      return ascending ? px < py : py < px;
    });
    timer.Stop(state);
    benchmark::DoNotOptimize(order.data());
  }
  timer.Report(state);
}
BENCHMARK(BM_MoneySort)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
}  // namespace vandrel

// Result groupings at search size: 10,000 results regrouped by price into about 1,000 groups and by
// similar titles, refiltered and resorted, each side by side with the plain map-and-sort peer the storage
// benchmark uses; similar titles at three sizes to show the regroup grows linearly.
#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "ResultViewBench.h"
#include "platform/TextUtils.h"
#include "presentation/ResultGroups.h"

namespace vandrel {
namespace {

constexpr int kResults = 10000;
constexpr int kPriceRange = 10;  // 10,000 prices below 10,000 dollars: about 1,000 groups

struct TRow {
  std::string Title;
  std::string Money;
  double Usd;       // the price in dollars, for the peer
  int32_t Key = 0;  // the result's record key, which the filter tests
};

const char* const kWords[] = {"blue",   "ocean",  "part",   "glass", "harbour", "river", "stone", "night",
                              "garden", "winter", "silver", "north", "light",   "song",  "road",  "fire"};

// Titles of three words out of sixteen, in a varying order and case: several spellings per group.
std::string TitleOf(uint32_t seed, int i) {
  const int a = i % 16, b = (i / 16) % 16, c = (i / 256) % 16;
  std::string words[3] = {kWords[a], kWords[b], kWords[c]};
  std::rotate(words, words + seed % 3, words + 3);
  std::string title = words[0] + (seed & 4 ? " - " : " ") + words[1] + (seed & 8 ? ": " : " ") + words[2];
  if (seed & 16) title[0] = AsciiUpper(title[0]);
  return title;
}

std::vector<TRow> MakeRows(int count) {
  std::vector<TRow> rows;
  uint32_t seed = 12345;
  for (int i = 0; i < count; ++i) {
    seed = seed * 1103515245u + 12345u;
    const int c = static_cast<int>(seed >> 16) % 3;
    const float usd = static_cast<float>((seed >> 4) % 1000000) / 100.0f;
    TCurrencyMap map;
    map.FromAmount = {bench::kBenchCurrencies[c], usd * bench::kBenchRates[c]};
    rows.push_back({TitleOf(seed >> 8, (i * 7919) % (count / 4 + 1)), map.Serialize(), usd});
  }
  return rows;
}

struct TFixture {
  explicit TFixture(int count) {
    RegisterPresentationClasses();
    bench::InstallBenchCurrencies("USD");
    auto& definitions = Results.OutputFieldDefinitions();
    definitions.AddOutput("title", TStorageFieldType::ftString);
    definitions.AddOutput("price", TStorageFieldType::ftMoney);
    Rows = MakeRows(count);
    Results.BeginTransaction(lsRewriting);
    for (TRow& row : Rows) {
      TResultStorageItem* item = Results.NewResult();
      row.Key = item->Index();
      item->ResultFields()->AddResultField("title", TDynamicValue(row.Title), row.Title);
      item->ResultFields()->AddResultField("price", TDynamicValue(row.Money));
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

// The peer: the same keys into a map of buckets, the filtered rows dropped, a sort by price.
template <class Key>
size_t PeerRegroup(const std::vector<TRow>& rows, Key key) {
  std::map<decltype(key(rows[0])), std::vector<int>> groups;
  std::vector<int> order;
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    if (rows[static_cast<size_t>(i)].Key % 7 == 0) continue;
    groups[key(rows[static_cast<size_t>(i)])].push_back(i);
    order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(), [&rows](int a, int b) {
    return rows[static_cast<size_t>(a)].Usd < rows[static_cast<size_t>(b)].Usd;
  });
  benchmark::DoNotOptimize(order.data());
  return groups.size();
}

std::string SimilarKey(const TRow& row) {
  std::vector<std::string> words = SimilarWords(row.Title);
  for (std::string& w : words) w = AsciiLowerCase(w);
  std::sort(words.begin(), words.end());
  std::string key;
  for (const std::string& w : words) key += w + '\x1f';
  return key;
}

// Groups the view with `make`'s definition, filters every seventh result out, sorts by price; then the
// peer on the same rows. Counters: both times, their ratio, and the group counts of both.
template <class Make, class Key>
void RunRegroup(benchmark::State& state, TFixture& f, Make make, Key key) {
  bench::TSideBySide timer;
  size_t groups = 0, peerGroups = 0;
  for (auto _ : state) {
    f.View->SetGrouped(false);
    timer.StartOurs();
    f.View->SetGroupDefinition(make());
    f.View->SetGrouped(true);
    TStorageDataFilterItem* filter = f.View->AddFilter(std::make_unique<bench::TSkipEveryFilter>());
    f.View->SortResults("price", true, &f.Keys, false);
    timer.StartPeer();
    peerGroups = PeerRegroup(f.Rows, key);
    timer.Stop(state);
    groups = f.View->GroupCount();
    f.View->RemoveFilter(filter);
  }
  if (groups != peerGroups) state.SkipWithError("the grouping and its peer disagree on the group count");
  timer.Report(state);
  state.counters["results"] = static_cast<double>(f.Rows.size());
  state.counters["groups"] = static_cast<double>(groups);
  state.counters["ours_us_per_result"] = timer.OursMsPerRun() * 1000.0 / static_cast<double>(f.Rows.size());
}

void BM_PriceRegroupRefilterResort(benchmark::State& state) {
  TFixture f(kResults);
  RunRegroup(
      state, f,
      [] {
        auto price = std::make_unique<TPriceGroupDefinition>();
        price->GroupField = "price";
        price->CurrencyCode = "USD";
        price->PriceRange = kPriceRange;
        return price;
      },
      // Converted through float as the money strings hold it, then truncated, as the groups do.
      [](const TRow& row) {
        TCurrencyMap map;
        map.Parse(row.Money, "USD");
        double usd = map.FromAmount.Value;
        if (map.FromAmount.Code == "EUR") usd /= 0.9f;
        if (map.FromAmount.Code == "CAD") usd /= 1.35f;
        return static_cast<int64_t>(std::trunc(usd)) / kPriceRange;
      });
}
BENCHMARK(BM_PriceRegroupRefilterResort)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_SimilarRegroupRefilterResort(benchmark::State& state) {
  TFixture f(static_cast<int>(state.range(0)));
  RunRegroup(
      state, f,
      [] {
        auto similar = std::make_unique<TSimilarGroupDefinition>();
        similar->FieldName = "title";
        return similar;
      },
      SimilarKey);
}
BENCHMARK(BM_SimilarRegroupRefilterResort)
    ->Arg(2500)
    ->Arg(5000)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace
}  // namespace vandrel

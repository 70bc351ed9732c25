// Result groupings at search size: 10,000 results regrouped by price into about 1,000 groups and by
// similar titles, refiltered and resorted, each side by side with the plain map-and-sort peer the storage
// benchmark uses; similar titles at three sizes to show the regroup grows linearly.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "currency/CurrencyConverters.h"
#include "platform/TextUtils.h"
#include "presentation/ResultGroups.h"
#include "storage/ResultStorage.h"

namespace vandrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kResults = 10000;
constexpr int kPriceRange = 10;  // 10,000 prices below 10,000 dollars: about 1,000 groups

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// CPU time of this thread: on a shared machine the wall clock mostly measures the others.
double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

class TSkipEveryFilter : public TStorageDataFilterItem {
  VANDREL_PERSISTENT(TSkipEveryFilter)
 public:
  bool Accepts(const TStorageDataItem& item) const override { return item.Index() % 7 != 0; }
};

const TClassInfo& TSkipEveryFilter::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TSkipEveryFilter>("TPresentationSkipEveryFilter", TStorageDataFilterItem::StaticClass())
          .Build();
  return info;
}

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
  const char* codes[] = {"USD", "EUR", "CAD"};
  const float rates[] = {1.0f, 0.9f, 1.35f};
  std::vector<TRow> rows;
  uint32_t seed = 12345;
  for (int i = 0; i < count; ++i) {
    seed = seed * 1103515245u + 12345u;
    const int c = static_cast<int>(seed >> 16) % 3;
    const float usd = static_cast<float>((seed >> 4) % 1000000) / 100.0f;
    TCurrencyMap map;
    map.FromAmount = {codes[c], usd * rates[c]};
    rows.push_back({TitleOf(seed >> 8, (i * 7919) % (count / 4 + 1)), map.Serialize(), usd});
  }
  return rows;
}

struct TFixture {
  explicit TFixture(int count) {
    RegisterPresentationClasses();
    TCurrencyConverter& converter = CurrencyConverter();
    converter.Definitions().Clear();
    converter.Definitions().Add({"USD", 1.0f, "USD", "$"});
    converter.Definitions().Add({"EUR", 0.9f, "EUR", "E"});
    converter.Definitions().Add({"CAD", 1.35f, "CAD", "C"});
    converter.AxisCode = "USD";
    converter.TargetCode = "USD";
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
  double ours = 0, peer = 0, oursCpu = 0, peerCpu = 0;
  int64_t n = 0;
  size_t groups = 0, peerGroups = 0;
  for (auto _ : state) {
    f.View->SetGrouped(false);
    const double ca = CpuMs();
    const auto a = Clock::now();
    f.View->SetGroupDefinition(make());
    f.View->SetGrouped(true);
    TStorageDataFilterItem* filter = f.View->AddFilter(std::make_unique<TSkipEveryFilter>());
    f.View->SortResults("price", true, &f.Keys, false);
    const auto b = Clock::now();
    const double cb = CpuMs();
    peerGroups = PeerRegroup(f.Rows, key);
    const auto c = Clock::now();
    const double cc = CpuMs();
    groups = f.View->GroupCount();
    f.View->RemoveFilter(filter);
    ours += Ms(b - a);
    peer += Ms(c - b);
    oursCpu += cb - ca;
    peerCpu += cc - cb;
    ++n;
    state.SetIterationTime(std::chrono::duration<double>(b - a).count());
  }
  if (groups != peerGroups) state.SkipWithError("the grouping and its peer disagree on the group count");
  const double count = static_cast<double>(n);
  state.counters["results"] = static_cast<double>(f.Rows.size());
  state.counters["groups"] = static_cast<double>(groups);
  state.counters["ours_ms"] = ours / count;
  state.counters["peer_ms"] = peer / count;
  state.counters["ratio_ours_to_peer"] = peer > 0 ? ours / peer : 0;
  state.counters["ours_cpu_ms"] = oursCpu / count;
  state.counters["peer_cpu_ms"] = peerCpu / count;
  state.counters["cpu_ratio_ours_to_peer"] = peerCpu > 0 ? oursCpu / peerCpu : 0;
  state.counters["ours_us_per_result"] = ours / count * 1000.0 / static_cast<double>(f.Rows.size());
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

// Record cutting: 500 records out of a 1 MB store page, and how the cost grows with the page size. The
// peer is gumbo building the tree of the same page, the least a tree-based cutter would pay.
#include <benchmark/benchmark.h>

#include <time.h>

#include <memory>
#include <string>

#include "engines/ResultsParserEx.h"
#include "engines/SearchResults.h"
#include "engines/SearchTypeCompiler.h"

#ifdef VANDREL_HAVE_GUMBO
#include <gumbo.h>
#endif

namespace {

using namespace vandrel;

// One product row as stores print them, with the item's filler (descriptions, scripts, ads).
std::string Row(int id, size_t filler) {
  std::string n = std::to_string(id);
  std::string row = "<li class=\"item\"><a href=\"/item.asp?id=" + n + "&amp;ref=s\"><b>The Garden of " + n +
                    " Paths</b></a> by A. Writer<br>Our price: $" + std::to_string(10 + id % 9) + ".99\n";
  row += "<small>Ships in 24 hours</small>\n<p class=\"blurb\">";
  while (row.size() < filler) row += "A quiet book about gardens, walls and the paths between them. ";
  return row + "</p></li>\n";
}

// A page of `bytes` bytes holding `records` items inside the results range.
std::string Page(size_t bytes, int records) {
  std::string head = "<html><head><title>Search results</title></head><body>\n<!-- results -->\n";
  std::string tail = "<!-- /results -->\n</body></html>";
  size_t each = (bytes - head.size() - tail.size()) / static_cast<size_t>(records);
  std::string page = head;
  for (int i = 1; i <= records; ++i) page += Row(i, each);
  return page + tail;
}

struct TSetup {
  TSearchTypeReader Type;
  std::unique_ptr<TSearchTypeInstance> Instance;
  TSetup() {
    Type.OutputFields->AddField("title");
    Type.OutputFields->AddField("price")->SetDeclaredType(dtMoney);
    Type.OutputFields->AddField("url")->IsUrl = true;
    Type.OutputFields->AddField("shipping");
    Type.SetUniqueKey("url");
    Instance = std::make_unique<TSearchTypeInstance>(&Type);
  }
};

int Cut(TSetup& s, const std::string& page) {
  TResultsParserEx p;
  p.SetInstance(s.Instance.get());
  p.ParseType = PT_EXPRESSION;
  p.ParseExpression = "<li class=\"item\">";
  p.ParseIncompleteLinks = true;
  p.BaseLink = "http://www.store.test";
  p.Rules->FindOrAdd("Range")->StartMarker = "<!-- results -->";
  p.Rules->FindOrAdd("Range")->EndMarker = "<!-- /results -->";
  TSearchRule& url = *p.Rules->FindOrAdd("url");
  url.SetKey(true);
  url.StartMarker = "href=\"";
  url.EndMarker = "\"";
  p.Rules->FindOrAdd("title")->StartMarker = "<b>";
  p.Rules->FindOrAdd("title")->EndMarker = "</b>";
  p.Rules->FindOrAdd("price")->StartMarker = "$";
  p.Rules->FindOrAdd("price")->EndMarker = "\n";
  p.Rules->FindOrAdd("shipping")->StartLine = 1;
  p.Rules->FindOrAdd("shipping")->StartMarker = "Ships ";
  p.Rules->FindOrAdd("shipping")->EndMarker = "<";
  p.SetPageText(page);
  p.SetDocumentAddress("http://www.store.test/search");
  p.PrepareRules();
  return p.Parse();
}

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// range(0): page size in KB; the record count grows with the page (500 per MB).
void CutRecords(benchmark::State& state) {
  size_t kb = static_cast<size_t>(state.range(0));
  int records = static_cast<int>(kb * 500 / 1024);
  std::string page = Page(kb * 1024, records);
  TSetup setup;
  double ours = 0, peer = 0;
  int cut = 0;
  for (auto _ : state) {
    double t0 = Now();
    cut = Cut(setup, page);
    double t1 = Now();
#ifdef VANDREL_HAVE_GUMBO
    GumboOutput* out = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
    benchmark::DoNotOptimize(out);
    gumbo_destroy_output(&kGumboDefaultOptions, out);
#endif
    double t2 = Now();
    ours += t1 - t0;
    peer += t2 - t1;
  }
  if (cut != records) state.SkipWithError("wrong record count");
  double mb = static_cast<double>(page.size()) * static_cast<double>(state.iterations()) / 1e6;
  state.counters["records"] = cut;
  state.counters["ours_MBps"] = mb / ours;
  state.counters["ms_per_MB"] = ours * 1000 / mb;
#ifdef VANDREL_HAVE_GUMBO
  state.counters["gumbo_MBps"] = mb / peer;
  state.counters["ratio"] = peer / ours;
#endif
}

}  // namespace

// Equal MB/s (ms_per_MB) across the sizes means the cost is linear in the page size.
BENCHMARK(CutRecords)
    ->Name("ResultsParser_vs_Gumbo")
    ->Arg(256)
    ->Arg(512)
    ->Arg(1024)
    ->Arg(2048)
    ->Unit(benchmark::kMillisecond);

// A bundled engine's AfterParse over 1,000 cut records against the same loop written in Lua 5.4 over a
// table of 1,000 records.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "engines/EngineCompiler.h"
#include "engines/SearchResults.h"
#include "engines/SearchTypeCompiler.h"
#include "engines/SearchTypeInstance.h"
#include "platform/SourceDir.h"

namespace {

using namespace vandrel;

constexpr int kRecords = 1000;
constexpr int kRuns = 20;  // procedure runs per measure, so one measure is long enough to time

// The store's results table as its site prints it; every tenth row has no price.
std::string StorePage() {
  std::string page = "<html><body><table class=\"results\">\n";
  for (int i = 1; i <= kRecords; ++i) {
    const std::string n = std::to_string(i);
    page += "<tr class=\"result\"><td><a href=\"http://127.0.0.1:8642/bookbarn/item/" + n + "\">x</a></td>";
    page += "<td class=\"title\">The Garden of " + n + " Paths</td><td class=\"maker\">A. Writer</td>";
    page += "<td class=\"detail\">97800000" + n + "</td>";
    page += "<td class=\"price\">" +
            (i % 10 == 0 ? std::string("n/a") : "&pound;" + std::to_string(5 + i % 40) + ".99") +
            "</td><td class=\"ship\">Free &amp; fast</td></tr>\n";
  }
  return page + "</table></body></html>";
}

// The bundled book search type and The Book Barn's engine, run up to its cut records as a search would.
struct TEngineBox {
  TSearchTypeReader Type;
  std::unique_ptr<TSearchTypeInstance> Instance;
  TEngineReader Reader;
  bool Ready = false;

  TEngineBox() {
    if (!Type.Load(std::string(VANDREL_SOURCE_DIR) + "/Data/books.sst")) return;
    Instance = std::make_unique<TSearchTypeInstance>(&Type);
    Instance->InputFields.RecomputeFields();
    if (!Reader.Load(std::string(VANDREL_SOURCE_DIR) + "/Data/buybooks/bookbarn.sen", Instance.get())) return;
    TEngineCompiler& engine = Reader.Compiler();
    engine.ResetEngineVariables();
    engine.ResultsParser.Reset();
    engine.SetInstance(Instance.get());
    if (engine.ExecuteProcedure("Init") != 0 || engine.ExecuteProcedure("BeforeDownload") != 0) return;
    engine.ApplyPageSettings();
    engine.ResultsParser.SetPageText(StorePage());
    engine.ResultsParser.SetDocumentAddress("http://127.0.0.1:8642/bookbarn/search");
    if (engine.ExecuteProcedure("AfterDownload") != 0) return;
    engine.ApplyParseSettings();
    engine.ResultsParser.PrepareRules();
    engine.ResultsParser.Parse();
    Ready = engine.ResultsParser.Results().Count() == kRecords;
  }
  // The procedure only stamps the store and marks missing prices, so every run does the same work.
  bool Run() { return Reader.Compiler().ExecuteProcedure("AfterParse") == 0; }
  // The records the procedure marked as having no price.
  int Unpriced() {
    TSearchResultList& results = Reader.Compiler().ResultsParser.Results();
    int n = 0;
    for (size_t i = 0; i < results.Count(); ++i) {
      const TResultField* price = results.At(i).FindField("price");
      if (price && price->Number < 0) ++n;
    }
    return n;
  }
};

const char* const kLua =
    "function AfterParse(Results)\n"
    "  for i = 1, #Results do\n"
    "    Results[i].store = 'The Book Barn'\n"
    "    if Results[i].price <= 0 then\n"
    "      Results[i].price = -1\n"
    "    end\n"
    "  end\n"
    "end\n"
    "Results = {}\n"
    "for i = 1, 1000 do\n"
    "  Results[i] = {title = 'The Garden of ' .. i .. ' Paths', author = 'A. Writer',\n"
    "                isbn = '97800000' .. i, price = (i % 10 == 0) and 0 or 5 + i % 40 + 0.99,\n"
    "                shipping = 'Free & fast', url = 'http://127.0.0.1:8642/bookbarn/item/' .. i}\n"
    "end\n";

bool RunLua(lua_State* L) {
  lua_getglobal(L, "AfterParse");
  lua_getglobal(L, "Results");
  return lua_pcall(L, 1, 0, 0) == LUA_OK;
}

double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Seconds(const std::function<void()>& f) {
  const double t0 = CpuNow();
  f();
  return CpuNow() - t0;
}

// Both in one run, best of five in thread CPU time, with the ratio as the figure to watch.
void BM_EngineAfterParseVsLuaRatio(benchmark::State& state) {
  TEngineBox box;
  if (!box.Ready) {
    state.SkipWithError("the bundled engine did not cut its records");
    return;
  }
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  if (luaL_dostring(L, kLua) != LUA_OK) {
    lua_close(L);
    state.SkipWithError("the Lua peer did not load");
    return;
  }
  double ours = 1e9, lua = 1e9;
  bool ok = true;
  for (auto _ : state) {
    for (int k = 0; k < 5; ++k) {
      ours = std::min(ours, Seconds([&] {
                        for (int r = 0; r < kRuns; ++r) ok = box.Run() && ok;
                      }));
      lua = std::min(lua, Seconds([&] {
                       for (int r = 0; r < kRuns; ++r) ok = RunLua(L) && ok;
                     }));
    }
  }
  lua_close(L);
  if (!ok) state.SkipWithError("a procedure run failed");
  state.counters["records"] = kRecords;
  state.counters["ours_us_per_run"] = ours * 1e6 / kRuns;
  state.counters["lua_us_per_run"] = lua * 1e6 / kRuns;
  state.counters["ratio"] = ours / lua;
  std::printf("AfterParse over %d records: ours %.1f us, Lua %.1f us, ratio %.2f (%d without a price)\n",
              kRecords, ours * 1e6 / kRuns, lua * 1e6 / kRuns, ours / lua, box.Unpriced());
}
BENCHMARK(BM_EngineAfterParseVsLuaRatio)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

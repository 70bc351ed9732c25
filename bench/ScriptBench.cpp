// The script interpreter against Lua 5.4 on the same loop-and-string workload, and its memory over long
// loops.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "script/BaseCompiler.h"

namespace {

using namespace vandrel;

constexpr int kPasses = 100000;

// Builds, cuts and searches short texts and does integer arithmetic, as engine scripts do.
const char* const kScript =
    "Procedure Main\n"
    "  n = 0\n"
    "  s = \"\"\n"
    "  For i = 1 to passes\n"
    "    n = n + i mod 7\n"
    "    s = StrCopy(\"abcdefghij\", i mod 10 + 1, 3)\n"
    "    If StrFind(\"d\", s) > 0\n"
    "      n = n + 1\n"
    "    EndIf\n"
    "    t = \"item \" + s\n"
    "  EndFor\n"
    "EndProcedure\n";

const char* const kLua =
    "n = 0\n"
    "s = ''\n"
    "for i = 1, passes do\n"
    "  n = n + i % 7\n"
    "  s = string.sub('abcdefghij', i % 10 + 1, i % 10 + 3)\n"
    "  if string.find(s, 'd', 1, true) then\n"
    "    n = n + 1\n"
    "  end\n"
    "  t = 'item ' .. s\n"
    "end\n";

struct TScriptBox {
  TBaseCompiler Compiler;
  TScriptBox() {
    Compiler.ResetVariables();
    Compiler.LoadFromStream(kScript);
    Compiler.Compile();
  }
  double Run(int passes) {
    Compiler.Variables().SetInteger("passes", passes);
    Compiler.ExecuteProcedure("Main");
    return Compiler.Variables().GetInteger("n", -1);
  }
};

double RunLua(lua_State* L, int passes) {
  lua_pushinteger(L, passes);
  lua_setglobal(L, "passes");
  if (luaL_dostring(L, kLua) != LUA_OK) return -1;
  lua_getglobal(L, "n");
  double n = lua_tonumber(L, -1);
  lua_pop(L, 1);
  return n;
}

// Thread CPU time: the machine is shared, and wall time would measure the neighbours.
double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Seconds(const std::function<void()>& f) {
  double t0 = CpuNow();
  f();
  return CpuNow() - t0;
}

long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void BM_ScriptLoop(benchmark::State& state) {
  TScriptBox box;
  for (auto _ : state) benchmark::DoNotOptimize(box.Run(kPasses));
  state.SetItemsProcessed(state.iterations() * kPasses);
}
BENCHMARK(BM_ScriptLoop)->Unit(benchmark::kMillisecond);

void BM_LuaLoop(benchmark::State& state) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  for (auto _ : state) benchmark::DoNotOptimize(RunLua(L, kPasses));
  state.SetItemsProcessed(state.iterations() * kPasses);
  lua_close(L);
}
BENCHMARK(BM_LuaLoop)->Unit(benchmark::kMillisecond);

// Both in one run, best of five in thread CPU time, with the ratio as the figure to watch.
void BM_ScriptVsLuaRatio(benchmark::State& state) {
  TScriptBox box;
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  double script = 1e9, lua = 1e9;
  double scriptN = 0, luaN = 0;
  for (auto _ : state) {
    for (int k = 0; k < 5; ++k) {
      script = std::min(script, Seconds([&] { scriptN = box.Run(kPasses); }));
      lua = std::min(lua, Seconds([&] { luaN = RunLua(L, kPasses); }));
    }
  }
  lua_close(L);
  if (scriptN != luaN) state.SkipWithError("the two workloads disagree");
  state.counters["script_ms"] = script * 1000;
  state.counters["lua_ms"] = lua * 1000;
  state.counters["ratio"] = script / lua;
  std::printf("script %.1f ms, Lua %.1f ms, ratio %.2f (n = %.0f)\n", script * 1000, lua * 1000, script / lua,
              scriptN);
}
BENCHMARK(BM_ScriptVsLuaRatio)->Iterations(1)->Unit(benchmark::kMillisecond);

// Resident memory must not grow with the number of loop passes.
void BM_ScriptMemoryOverMillionPasses(benchmark::State& state) {
  TScriptBox box;
  long before = 0, after = 0;
  for (auto _ : state) {
    box.Run(1000);
    before = ResidentKb();
    box.Run(1000000);
    after = ResidentKb();
  }
  state.counters["rss_before_kb"] = static_cast<double>(before);
  state.counters["rss_after_kb"] = static_cast<double>(after);
  state.counters["rss_growth_kb"] = static_cast<double>(after - before);
  std::printf("resident memory over 10^6 passes: %ld kB -> %ld kB\n", before, after);
}
BENCHMARK(BM_ScriptMemoryOverMillionPasses)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

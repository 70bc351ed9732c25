// The search-history storage over the xBase kernel, side by side with SQLite on the same rows: a stored
// history of 100 searches x 1,000 results, each found by 3 engines; rewriting one result list of 5,000
// results, loading one search, the first open (which rebuilds every index) and compaction.
//
// Both sides do the same work. Tables: results (two 4-digit keys, two dates, four small counts, a
// file-name memo, a ~110-byte field-values blob) with a unique index on (search, result), and found-by
// rows (search, result, engine name) with a unique index on all three. SQLite keeps the same columns in
// two tables with the same primary keys, PRAGMA synchronous=FULL, rollback journal (its default
// DELETE mode), each operation in one transaction. The xBase side commits through its rollback journal.
// Times are wall-clock per side in the same iteration (means); the CPU time of each side is reported too,
// since wall-clock on a shared machine includes waiting for others.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "storage/DbKernel.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSearches = 100;
constexpr int kResults = 1000;  // per stored search
constexpr int kEngines = 3;     // found-by rows per result
constexpr int kRewrite = 5000;  // results in the rewritten list
constexpr int kRewriteSearch = kSearches + 1;
const char* const kEngineNames[kEngines] = {"Engine Alpha", "Engine Beta", "Engine Gamma"};

// Counts fsyncs on the way to the real file system.
class TCountingFs final : public IXbFileSystem {
 public:
  class File final : public IXbFile {
   public:
    File(std::unique_ptr<IXbFile> f, int& syncs) : f_(std::move(f)), syncs_(syncs) {}
    bool ReadAt(uint64_t o, void* b, size_t n, size_t& g) override { return f_->ReadAt(o, b, n, g); }
    bool WriteAt(uint64_t o, const void* d, size_t n) override { return f_->WriteAt(o, d, n); }
    bool Size(uint64_t& s) override { return f_->Size(s); }
    bool Truncate(uint64_t s) override { return f_->Truncate(s); }
    bool Sync() override {
      ++syncs_;
      return f_->Sync();
    }
    bool TryLock() override { return f_->TryLock(); }
    bool TryLockShared() override { return f_->TryLockShared(); }

   private:
    std::unique_ptr<IXbFile> f_;
    int& syncs_;
  };
  std::unique_ptr<IXbFile> Open(const std::string& p, TXbOpenMode m, int& e) override {
    auto f = real_->Open(p, m, e);
    return f ? std::make_unique<File>(std::move(f), Syncs) : nullptr;
  }
  bool Exists(const std::string& p) override { return real_->Exists(p); }
  bool Remove(const std::string& p) override { return real_->Remove(p); }
  bool Rename(const std::string& a, const std::string& b) override { return real_->Rename(a, b); }
  bool SyncDir(const std::string& d) override {
    ++Syncs;
    return real_->SyncDir(d);
  }
  std::string Canonical(const std::string& p) override { return real_->Canonical(p); }
  int Syncs = 0;

 private:
  std::shared_ptr<IXbFileSystem> real_ = CreatePosixFileSystem();
};

// The values of one result; the same on both sides.
struct Row {
  double Date;
  int Occurrences;
  int State;
  std::string FileName;
  std::string Values;
};

Row MakeRow(int search, int result, int gen) {
  Row r;
  r.Date = 46000.25 + search + result / 10000.0;
  r.Occurrences = 1 + result % kEngines;
  r.State = (result + gen) % 7;
  r.FileName =
      result % 10 == 0 ? "cache/" + std::to_string(search) + "-" + std::to_string(result) + ".htm" : "";
  r.Values = std::string("\x01", 1) + "Result title number " + std::to_string(result) + " generation " +
             std::to_string(gen) + std::string("\x01", 1) +
             "http://shop.example/item?s=" + std::to_string(search) + "&r=" + std::to_string(result) +
             std::string("\x01\x00", 2) + "EUR 12.34" + std::string(24, static_cast<char>(result & 0x7F));
  return r;
}

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Wall and CPU time of one side, summed over the iterations; Last is the latest run's wall time.
struct Timer {
  double Wall = 0, Cpu = 0, Last = 0;
  template <class F>
  void Run(F&& f) {
    double c = ThreadCpuMs();
    auto a = Clock::now();
    f();
    Last = std::chrono::duration<double, std::milli>(Clock::now() - a).count();
    Wall += Last;
    Cpu += ThreadCpuMs() - c;
  }
};

struct Xbase {
  fs::path Dir;
  std::shared_ptr<TCountingFs> Fs = std::make_shared<TCountingFs>();
  std::unique_ptr<TDatabase> Db;
  TTable* R = nullptr;  // results
  TTable* C = nullptr;  // found-by rows

  explicit Xbase(fs::path dir) : Dir(std::move(dir)) {}
  bool Open() {
    Db = std::make_unique<TDatabase>(Fs);
    Db->SetPath(Dir.string());
    Db->SetMemoBlockSize(64);
    if (!Db->OpenDictionary()) return false;
    R = Db->DefineTable("Result1", "Result.ctb");
    R->SetPath(Dir.string());
    auto& f = R->Fields();
    f.AddInteger("SrhNum", "", 4);
    f.AddInteger("ResNum", "", 4);
    f.AddDateTime("ResDate", "ResDt");
    f.AddDateTime("ResVisitedDate", "ResVisDt");
    f.AddShort("ResNbOccurence", "ResNbOcc");
    f.AddShort("ResState", "");
    f.AddShort("ResFlags", "");
    f.AddMemo("ResFileName", "ResFName");
    f.AddBlob("ResFieldValues", "ResFldVal");
    f.AddShort("ResUserState", "ResUsrStat");
    TIndex* x = R->Indexes().AddIndex("Primary", "ResPrim", 0);
    x->Fields().AddIndexField(f.Find("SrhNum"), true);
    x->Fields().AddIndexField(f.Find("ResNum"), true);
    C = Db->DefineTable("ResultC1", "RChannel.ctb");
    C->SetPath(Dir.string());
    auto& g = C->Fields();
    g.AddInteger("SrhNum", "", 4);
    g.AddInteger("ResNum", "", 4);
    g.AddString("EngName", "", 50);
    TIndex* y = C->Indexes().AddIndex("Primary", "REPrim", 0);
    for (const char* n : {"SrhNum", "ResNum", "EngName"}) y->Fields().AddIndexField(g.Find(n), true);
    return (R->Open() || R->Create()) && (C->Open() || C->Create());
  }
  bool Add(int search, int result, int gen) {
    Row v = MakeRow(search, result, gen);
    auto& f = R->Fields();
    bool ok = R->AppendStart() && f[0]->SetAsInteger(search) && f[1]->SetAsInteger(result) &&
              f[2]->SetAsDateTime(v.Date) && f[3]->SetAsDateTime(0) && f[4]->SetAsShort(v.Occurrences) &&
              f[5]->SetAsShort(v.State) && f[6]->SetAsShort(0) && f[7]->SetAsString(v.FileName) &&
              f[8]->SetAsStream(v.Values) && f[9]->SetAsShort(0) && R->Append();
    for (int e = 0; ok && e < kEngines; ++e) {
      auto& g = C->Fields();
      ok = C->AppendStart() && g[0]->SetAsInteger(search) && g[1]->SetAsInteger(result) &&
           g[2]->SetAsString(kEngineNames[e]) && C->Append();
    }
    return ok;
  }
  bool Fill() {
    Db->BeginBatch();
    bool ok = true;
    for (int s = 1; ok && s <= kSearches; ++s) {
      for (int r = 1; ok && r <= kResults; ++r) ok = Add(s, r, 0);
    }
    return Db->CommitBatch() && ok;
  }
  // The list-level rewrite of one search: delete every row of it, then add the new list; one batch.
  bool Rewrite(int search, int rows, int gen) {
    Db->BeginBatch();
    bool ok = true;
    for (TTable* t : {R, C}) {
      for (bool more = t->Seek({search}, 0); ok && more; more = t->SeekNext()) ok = t->Delete();
    }
    for (int r = 1; ok && r <= rows; ++r) ok = Add(search, r, gen);
    if (!ok) {
      Db->RollbackBatch();
      return false;
    }
    return Db->CommitBatch();
  }
  // Every result of one search with all its columns and its found-by engines.
  size_t Load(int search) {
    size_t n = 0;
    auto& f = R->Fields();
    for (bool ok = R->Seek({search}, 0); ok; ok = R->SeekNext()) {
      int64_t result = f[1]->AsInteger();
      n += static_cast<size_t>(f[2]->AsDateTime() + f[3]->AsDateTime());
      n += static_cast<size_t>(f[4]->AsShort() + f[5]->AsShort() + f[6]->AsShort() + f[9]->AsShort());
      n += f[7]->AsString().size() + f[8]->AsStream().size();
      for (bool e = C->Seek({search, result}, 1); e; e = C->SeekNext())
        n += C->Fields()[2]->AsString().size();
    }
    return n;
  }
};

struct Sqlite {
  sqlite3* Db = nullptr;
  sqlite3_stmt* AddR = nullptr;
  sqlite3_stmt* AddC = nullptr;

  explicit Sqlite(const fs::path& file) {
    sqlite3_open(file.string().c_str(), &Db);
    sqlite3_exec(Db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    sqlite3_exec(Db,
                 "CREATE TABLE IF NOT EXISTS Result(SrhNum INTEGER, ResNum INTEGER, ResDate REAL, ResVisDate "
                 "REAL, ResNbOcc INTEGER, ResState INTEGER, ResFlags INTEGER, ResFName TEXT, ResFldVal BLOB, "
                 "ResUsrStat INTEGER, PRIMARY KEY(SrhNum, ResNum));"
                 "CREATE TABLE IF NOT EXISTS ResultC(SrhNum INTEGER, ResNum INTEGER, EngName TEXT, "
                 "PRIMARY KEY(SrhNum, ResNum, EngName));",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(Db, "INSERT INTO Result VALUES(?, ?, ?, 0, ?, ?, 0, ?, ?, 0)", -1, &AddR, nullptr);
    sqlite3_prepare_v2(Db, "INSERT INTO ResultC VALUES(?, ?, ?)", -1, &AddC, nullptr);
  }
  ~Sqlite() {
    sqlite3_finalize(AddR);
    sqlite3_finalize(AddC);
    sqlite3_close(Db);
  }
  bool Exec(const char* sql) { return sqlite3_exec(Db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
  bool Add(int search, int result, int gen) {
    Row v = MakeRow(search, result, gen);
    sqlite3_bind_int(AddR, 1, search);
    sqlite3_bind_int(AddR, 2, result);
    sqlite3_bind_double(AddR, 3, v.Date);
    sqlite3_bind_int(AddR, 4, v.Occurrences);
    sqlite3_bind_int(AddR, 5, v.State);
    sqlite3_bind_text(AddR, 6, v.FileName.data(), static_cast<int>(v.FileName.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(AddR, 7, v.Values.data(), static_cast<int>(v.Values.size()), SQLITE_TRANSIENT);
    bool ok = sqlite3_step(AddR) == SQLITE_DONE;
    sqlite3_reset(AddR);
    for (int e = 0; ok && e < kEngines; ++e) {
      sqlite3_bind_int(AddC, 1, search);
      sqlite3_bind_int(AddC, 2, result);
      sqlite3_bind_text(AddC, 3, kEngineNames[e], -1, SQLITE_STATIC);
      ok = sqlite3_step(AddC) == SQLITE_DONE;
      sqlite3_reset(AddC);
    }
    return ok;
  }
  bool Fill() {
    bool ok = Exec("BEGIN");
    for (int s = 1; ok && s <= kSearches; ++s) {
      for (int r = 1; ok && r <= kResults; ++r) ok = Add(s, r, 0);
    }
    return Exec("COMMIT") && ok;
  }
  bool DeleteSearch(int search) {
    std::string n = std::to_string(search);
    return Exec(("DELETE FROM Result WHERE SrhNum=" + n + "; DELETE FROM ResultC WHERE SrhNum=" + n).c_str());
  }
  bool Rewrite(int search, int rows, int gen) {
    bool ok = Exec("BEGIN") && DeleteSearch(search);
    for (int r = 1; ok && r <= rows; ++r) ok = Add(search, r, gen);
    return Exec(ok ? "COMMIT" : "ROLLBACK") && ok;
  }
  size_t Load(int search) {
    size_t n = 0;
    sqlite3_stmt* st = nullptr;
    sqlite3_stmt* eng = nullptr;
    sqlite3_prepare_v2(
        Db,
        "SELECT ResNum, ResDate, ResVisDate, ResNbOcc, ResState, ResFlags, ResFName, ResFldVal, "
        "ResUsrStat FROM Result WHERE SrhNum=? ORDER BY ResNum",
        -1, &st, nullptr);
    sqlite3_prepare_v2(Db, "SELECT EngName FROM ResultC WHERE SrhNum=? AND ResNum=? ORDER BY EngName", -1,
                       &eng, nullptr);
    sqlite3_bind_int(st, 1, search);
    while (sqlite3_step(st) == SQLITE_ROW) {
      int result = sqlite3_column_int(st, 0);
      n += static_cast<size_t>(sqlite3_column_double(st, 1) + sqlite3_column_double(st, 2));
      n += static_cast<size_t>(sqlite3_column_int(st, 3) + sqlite3_column_int(st, 4) +
                               sqlite3_column_int(st, 5) + sqlite3_column_int(st, 8));
      n += std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 6))).size();
      const void* blob = sqlite3_column_blob(st, 7);
      n += std::string(static_cast<const char*>(blob), static_cast<size_t>(sqlite3_column_bytes(st, 7)))
               .size();
      sqlite3_bind_int(eng, 1, search);
      sqlite3_bind_int(eng, 2, result);
      while (sqlite3_step(eng) == SQLITE_ROW) {
        n += std::string(reinterpret_cast<const char*>(sqlite3_column_text(eng, 0))).size();
      }
      sqlite3_reset(eng);
    }
    sqlite3_finalize(eng);
    sqlite3_finalize(st);
    return n;
  }
};

// The stored history is built once per run and copied for each benchmark.
const fs::path& Template() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("vandrel-bench-db-" + std::to_string(::getpid()));
    fs::remove_all(d);
    fs::create_directories(d / "xbase");
    Xbase x(d / "xbase");
    bool ok = x.Open() && x.Fill();
    Sqlite q(d / "bench.sqlite");
    ok = q.Fill() && ok;
    if (!ok) fs::remove_all(d);
    return d;
  }();
  return dir;
}

fs::path FreshCopy(const char* name) {
  fs::path dir = Template().string() + "-" + name;
  fs::remove_all(dir);
  if (fs::exists(Template())) fs::copy(Template(), dir, fs::copy_options::recursive);
  return dir;
}

void Report(benchmark::State& state, const Timer& xbase, const Timer& sqlite, int64_t n) {
  auto d = static_cast<double>(n);
  state.counters["xbase_ms"] = xbase.Wall / d;
  state.counters["sqlite_ms"] = sqlite.Wall / d;
  state.counters["ratio_xbase_to_sqlite"] = sqlite.Wall > 0 ? xbase.Wall / sqlite.Wall : 0;
  state.counters["xbase_cpu_ms"] = xbase.Cpu / d;
  state.counters["sqlite_cpu_ms"] = sqlite.Cpu / d;
  state.counters["cpu_ratio"] = sqlite.Cpu > 0 ? xbase.Cpu / sqlite.Cpu : 0;
}

// The list-level rewrite of a 5,000-result search (delete all of it, add all), one batch each side.
void BM_RewriteCommit(benchmark::State& state) {
  fs::path dir = FreshCopy("commit");
  Xbase x(dir / "xbase");
  Sqlite q(dir / "bench.sqlite");
  // A first rewrite, so every timed one also deletes a full list.
  if (!x.Open() || !x.Rewrite(kRewriteSearch, kRewrite, 0) || !q.Rewrite(kRewriteSearch, kRewrite, 0)) {
    state.SkipWithError("cannot set up the rewrite");
  }
  Timer xt, qt;
  int gen = 0, syncs = 0;
  for (auto _ : state) {
    ++gen;
    int before = x.Fs->Syncs;
    bool ok = true;
    xt.Run([&] { ok = x.Rewrite(kRewriteSearch, kRewrite, gen); });
    qt.Run([&] { ok = q.Rewrite(kRewriteSearch, kRewrite, gen) && ok; });
    if (!ok) state.SkipWithError("a rewrite failed");
    syncs = x.Fs->Syncs - before;
    state.SetIterationTime(xt.Last / 1e3);
  }
  Report(state, xt, qt, gen);
  state.counters["xbase_fsyncs"] = syncs;
  x.Db.reset();
  fs::remove_all(dir);
}
BENCHMARK(BM_RewriteCommit)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

// Reading one stored search back: its results in key order, each with its found-by engines.
void BM_Load(benchmark::State& state) {
  fs::path dir = FreshCopy("load");
  Xbase x(dir / "xbase");
  Sqlite q(dir / "bench.sqlite");
  if (!x.Open()) state.SkipWithError("cannot open the xBase tables");
  Timer xt, qt;
  int64_t n = 0;
  size_t xs = 0, qs = 0;
  for (auto _ : state) {
    int search = 1 + static_cast<int>(n * 37 % kSearches);
    xt.Run([&] { xs = x.Load(search); });
    qt.Run([&] { qs = q.Load(search); });
    if (xs != qs || xs == 0) state.SkipWithError("the two sides read different data");
    ++n;
    state.SetIterationTime(xt.Last / 1e3);
  }
  Report(state, xt, qt, n);
  x.Db.reset();
  fs::remove_all(dir);
}
BENCHMARK(BM_Load)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

// Opening the database and both tables, which rebuilds their indexes over all 400,000 rows, then finding
// one row.
void BM_FirstOpen(benchmark::State& state) {
  fs::path dir = FreshCopy("open");
  Timer xt, qt;
  int64_t n = 0;
  for (auto _ : state) {
    xt.Run([&] {
      Xbase x(dir / "xbase");
      if (!x.Open() || !x.R->Seek({kSearches / 2, kResults / 2}, 1)) state.SkipWithError("xBase open failed");
    });
    qt.Run([&] {
      Sqlite q(dir / "bench.sqlite");
      sqlite3_stmt* st = nullptr;
      sqlite3_prepare_v2(q.Db, "SELECT ResFldVal FROM Result WHERE SrhNum=50 AND ResNum=500", -1, &st,
                         nullptr);
      if (sqlite3_step(st) != SQLITE_ROW) state.SkipWithError("SQLite open failed");
      sqlite3_finalize(st);
    });
    ++n;
    state.SetIterationTime(xt.Last / 1e3);
  }
  Report(state, xt, qt, n);
  fs::remove_all(dir);
}
BENCHMARK(BM_FirstOpen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// Compaction after one search was deleted: pack with memo compaction (results) and pack (found-by
// rows) against VACUUM.
void BM_Compact(benchmark::State& state) {
  fs::path dir = FreshCopy("compact");
  Xbase x(dir / "xbase");
  Sqlite q(dir / "bench.sqlite");
  if (!x.Open()) state.SkipWithError("cannot open the xBase tables");
  Timer xt, qt;
  int64_t n = 0;
  for (auto _ : state) {
    ++n;
    int search = static_cast<int>(n);
    if (!x.Rewrite(search, 0, 0) || !q.Rewrite(search, 0, 0)) state.SkipWithError("cannot delete a search");
    bool ok = true;
    xt.Run([&] { ok = x.R->Pack(true) && x.C->Pack(false); });
    qt.Run([&] { ok = q.Exec("VACUUM") && ok; });
    if (!ok) state.SkipWithError("compaction failed");
    state.SetIterationTime(xt.Last / 1e3);
  }
  Report(state, xt, qt, n);
  x.Db.reset();
  fs::remove_all(dir);
}
BENCHMARK(BM_Compact)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// Removes the stored history when the run ends.
struct Cleanup {
  ~Cleanup() {
    std::error_code ec;
    fs::remove_all(fs::temp_directory_path() / ("vandrel-bench-db-" + std::to_string(::getpid())), ec);
  }
} cleanup;

}  // namespace
}  // namespace vandrel

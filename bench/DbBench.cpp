// Storage commits, loads and first opens of the xBase kernel, side by side with SQLite on the same rows.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "storage/DbKernel.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRows = 5000;

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

std::string Title(int row, int gen) {
  return "result " + std::to_string(row) + " gen " + std::to_string(gen);
}
std::string Note(int row, int gen) {
  return "http://shop.example/item?id=" + std::to_string(row) + "&g=" + std::to_string(gen);
}

struct Xbase {
  fs::path Dir;
  std::shared_ptr<TCountingFs> Fs = std::make_shared<TCountingFs>();
  std::unique_ptr<TDatabase> Db;
  TTable* T = nullptr;

  explicit Xbase(const fs::path& dir) : Dir(dir) {}
  bool Open() {
    Db = std::make_unique<TDatabase>(Fs);
    Db->SetPath(Dir.string());
    Db->SetMemoBlockSize(64);
    if (!Db->OpenDictionary()) return false;
    T = Db->DefineTable("Result", "Result.ctb");
    T->SetPath(Dir.string());
    auto& f = T->Fields();
    f.AddInteger("SrhNum", "", 4);
    f.AddInteger("ResNum", "", 4);
    f.AddString("ResTitle", "", 64);
    f.AddShort("ResState", "");
    f.AddMemo("ResNote", "");
    TIndex* x = T->Indexes().AddIndex("Primary", "ResPrim", 0);
    x->Fields().AddIndexField(f.Find("SrhNum"), true);
    x->Fields().AddIndexField(f.Find("ResNum"), true);
    return T->Open() || T->Create();
  }
  void Fill() {
    Db->BeginBatch();
    for (int r = 1; r <= kRows; ++r) {
      T->AppendStart();
      T->Fields()[0]->SetAsInteger(1);
      T->Fields()[1]->SetAsInteger(r);
      T->Fields()[2]->SetAsString(Title(r, 0));
      T->Fields()[3]->SetAsShort(r % 7);
      T->Fields()[4]->SetAsString(Note(r, 0));
      T->Append();
    }
    Db->CommitBatch();
  }
  bool Rewrite(int gen) {
    Db->BeginBatch();
    for (int r = 1; r <= kRows; ++r) {
      if (!T->Seek({int64_t{1}, int64_t{r}}, 1)) return false;
      T->Fields()[2]->SetAsString(Title(r, gen));
      T->Fields()[3]->SetAsShort(gen % 7);
      T->Fields()[4]->SetAsString(Note(r, gen % 3));
      T->Flush();
    }
    return Db->CommitBatch();
  }
  size_t Load() {
    size_t bytes = 0;
    for (bool ok = T->Seek({int64_t{1}}, 0); ok; ok = T->SeekNext()) {
      bytes += T->Fields()[2]->AsString().size() + T->Fields()[4]->AsString().size();
      bytes += static_cast<size_t>(T->Fields()[3]->AsShort());
    }
    return bytes;
  }
};

struct Sqlite {
  sqlite3* Db = nullptr;
  explicit Sqlite(const fs::path& file) {
    sqlite3_open(file.string().c_str(), &Db);
    sqlite3_exec(Db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    sqlite3_exec(Db,
                 "CREATE TABLE IF NOT EXISTS Result(SrhNum INTEGER, ResNum INTEGER, ResTitle TEXT, ResState "
                 "INTEGER, ResNote TEXT, PRIMARY KEY(SrhNum, ResNum))",
                 nullptr, nullptr, nullptr);
  }
  ~Sqlite() { sqlite3_close(Db); }
  void Fill() {
    sqlite3_exec(Db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(Db, "INSERT INTO Result VALUES(1, ?, ?, ?, ?)", -1, &st, nullptr);
    for (int r = 1; r <= kRows; ++r) {
      std::string t = Title(r, 0), n = Note(r, 0);
      sqlite3_bind_int(st, 1, r);
      sqlite3_bind_text(st, 2, t.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(st, 3, r % 7);
      sqlite3_bind_text(st, 4, n.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(Db, "COMMIT", nullptr, nullptr, nullptr);
  }
  bool Rewrite(int gen) {
    sqlite3_exec(Db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(Db, "UPDATE Result SET ResTitle=?, ResState=?, ResNote=? WHERE SrhNum=1 AND ResNum=?",
                       -1, &st, nullptr);
    for (int r = 1; r <= kRows; ++r) {
      std::string t = Title(r, gen), n = Note(r, gen % 3);
      sqlite3_bind_text(st, 1, t.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(st, 2, gen % 7);
      sqlite3_bind_text(st, 3, n.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(st, 4, r);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    return sqlite3_exec(Db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  size_t Load() {
    size_t bytes = 0;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(Db, "SELECT ResTitle, ResState, ResNote FROM Result WHERE SrhNum=1 ORDER BY ResNum",
                       -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
      bytes += static_cast<size_t>(sqlite3_column_bytes(st, 0) + sqlite3_column_bytes(st, 2));
      bytes += static_cast<size_t>(sqlite3_column_int(st, 1));
    }
    sqlite3_finalize(st);
    return bytes;
  }
};

fs::path FreshDir(const char* name) {
  fs::path dir =
      fs::temp_directory_path() / (std::string("vandrel-bench-") + name + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void Report(benchmark::State& state, double xbase, double sqlite, int64_t n) {
  state.counters["xbase_ms"] = xbase / static_cast<double>(n);
  state.counters["sqlite_ms"] = sqlite / static_cast<double>(n);
  state.counters["ratio_xbase_to_sqlite"] = sqlite > 0 ? xbase / sqlite : 0;
}

// A 5,000-row rewrite committed as one batch.
void BM_RewriteCommit(benchmark::State& state) {
  fs::path dir = FreshDir("commit");
  Xbase x(dir);
  if (!x.Open()) state.SkipWithError("cannot open the xBase table");
  x.Fill();
  Sqlite q(dir / "bench.sqlite");
  q.Fill();
  double xt = 0, qt = 0;
  int gen = 0, syncs = 0;
  for (auto _ : state) {
    ++gen;
    int before = x.Fs->Syncs;
    auto a = Clock::now();
    bool ok = x.Rewrite(gen);
    auto b = Clock::now();
    ok = q.Rewrite(gen) && ok;
    auto c = Clock::now();
    if (!ok) state.SkipWithError("a rewrite failed");
    syncs = x.Fs->Syncs - before;
    xt += Ms(b - a);
    qt += Ms(c - b);
    state.SetIterationTime(std::chrono::duration<double>(b - a).count());
  }
  Report(state, xt, qt, gen);
  state.counters["xbase_fsyncs"] = syncs;
  x.Db.reset();
  fs::remove_all(dir);
}
BENCHMARK(BM_RewriteCommit)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// Reading every row of one search back, in key order.
void BM_Load(benchmark::State& state) {
  fs::path dir = FreshDir("load");
  Xbase x(dir);
  if (!x.Open()) state.SkipWithError("cannot open the xBase table");
  x.Fill();
  Sqlite q(dir / "bench.sqlite");
  q.Fill();
  double xt = 0, qt = 0;
  int64_t n = 0;
  for (auto _ : state) {
    auto a = Clock::now();
    benchmark::DoNotOptimize(x.Load());
    auto b = Clock::now();
    benchmark::DoNotOptimize(q.Load());
    auto c = Clock::now();
    xt += Ms(b - a);
    qt += Ms(c - b);
    ++n;
    state.SetIterationTime(std::chrono::duration<double>(b - a).count());
  }
  Report(state, xt, qt, n);
  x.Db.reset();
  fs::remove_all(dir);
}
BENCHMARK(BM_Load)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// Opening the database and the table, which rebuilds its index, then finding one row.
void BM_FirstOpen(benchmark::State& state) {
  fs::path dir = FreshDir("open");
  {
    Xbase x(dir);
    if (!x.Open()) state.SkipWithError("cannot open the xBase table");
    x.Fill();
    Sqlite q(dir / "bench.sqlite");
    q.Fill();
  }
  double xt = 0, qt = 0;
  int64_t n = 0;
  for (auto _ : state) {
    auto a = Clock::now();
    {
      Xbase x(dir);
      bool ok = x.Open() && x.T->Seek({int64_t{1}, int64_t{kRows / 2}}, 1);
      if (!ok) state.SkipWithError("xBase open failed");
    }
    auto b = Clock::now();
    {
      Sqlite q(dir / "bench.sqlite");
      sqlite3_stmt* st = nullptr;
      sqlite3_prepare_v2(q.Db, "SELECT ResTitle FROM Result WHERE SrhNum=1 AND ResNum=2500", -1, &st,
                         nullptr);
      if (sqlite3_step(st) != SQLITE_ROW) state.SkipWithError("SQLite open failed");
      sqlite3_finalize(st);
    }
    auto c = Clock::now();
    xt += Ms(b - a);
    qt += Ms(c - b);
    ++n;
    state.SetIterationTime(std::chrono::duration<double>(b - a).count());
  }
  Report(state, xt, qt, n);
  fs::remove_all(dir);
}
BENCHMARK(BM_FirstOpen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
}  // namespace vandrel

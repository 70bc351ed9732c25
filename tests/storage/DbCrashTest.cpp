// Crash safety of batch commits: every crash point inside a commit, and real kills of a writing process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "platform/xbase/XbFormat.h"
#include "platform/xbase/XbMemFileSystem.h"
#include "storage/DbKernel.h"

extern char** environ;

namespace vandrel {
namespace {

constexpr int kRows = 30;

struct Row {
  int64_t Value;
  std::string Memo;
  std::string Blob;
  bool operator==(const Row&) const = default;
};
using State = std::map<int64_t, Row>;  // by key

TTable* DefineRows(TDatabase& db, const std::string& dir) {
  TTable* t = db.FindTable("Rows");
  if (t != nullptr) return t;
  t = db.DefineTable("Rows", "Rows.ctb");
  t->SetPath(dir);
  t->Fields().AddInteger("Key", "", 4);
  t->Fields().AddInteger("Value", "", 8);
  t->Fields().AddMemo("Text", "");
  t->Fields().AddBlob("Data", "");
  t->Indexes().AddIndex("Primary", "RowPrim", 0)->Fields().AddIndexField(t->Fields().Find("Key"), true);
  return t;
}

std::string MemoFor(int64_t gen, int64_t key) {
  // Lengths vary with the generation so memos are sometimes rewritten in place and sometimes moved.
  return "gen " + std::to_string(gen) + " key " + std::to_string(key) +
         std::string(static_cast<size_t>((gen * 37 + key * 11) % 150), '.');
}

void WriteRow(TTable* t, int64_t key, int64_t gen) {
  t->Fields().Find("Key")->SetAsInteger(key);
  t->Fields().Find("Value")->SetAsInteger(gen);
  t->Fields().Find("Text")->SetAsString(MemoFor(gen, key));
  t->Fields().Find("Data")->SetAsStream(
      std::string(static_cast<size_t>(key % 5 + 1), static_cast<char>(gen)));
}

State Expected(int64_t gen) {
  State s;
  for (int64_t k = 1; k <= kRows; ++k) {
    s[k] = {gen, MemoFor(gen, k), std::string(static_cast<size_t>(k % 5 + 1), static_cast<char>(gen))};
  }
  return s;
}

// One generation: every row rewritten, one row deleted and appended again under the same key.
bool RewriteAll(TDatabase& db, TTable* t, int64_t gen) {
  db.BeginBatch();
  for (int64_t k = 1; k <= kRows; ++k) {
    if (!t->Seek({k}, 0)) {
      db.RollbackBatch();
      return false;
    }
    if (k == gen % kRows + 1) {
      t->Delete();
      t->AppendStart();
    }
    WriteRow(t, k, gen);
    if (k == gen % kRows + 1) {
      t->Append();
    } else {
      t->Flush();
    }
  }
  return db.CommitBatch();
}

// Reads every live row in record order, checking keys are unique, memos are intact and the header agrees
// with the file. Failures are reported through gtest.
State ReadState(TDatabase& db, TTable* t, const std::vector<unsigned char>* dbfBytes) {
  State s;
  EXPECT_TRUE(t->SelectIndex(nullptr));
  for (bool ok = t->First(); ok; ok = t->Next()) {
    int64_t key = t->Fields().Find("Key")->AsInteger();
    db.ClearError();
    Row row{t->Fields().Find("Value")->AsInteger(), t->Fields().Find("Text")->AsString(),
            t->Fields().Find("Data")->AsStream()};
    EXPECT_EQ(db.LastErrorCode(), 0) << db.LastErrorMessage();
    EXPECT_TRUE(s.emplace(key, row).second) << "duplicate live key " << key;
  }
  t->SelectIndex(t->Indexes().Default());
  if (dbfBytes != nullptr) {
    std::string bytes(dbfBytes->begin(), dbfBytes->end());
    TXbHeader h;
    std::string why;
    EXPECT_TRUE(ParseDbfHeader(bytes, h, why)) << why;
    EXPECT_EQ(bytes.size(), h.HeaderLength + static_cast<size_t>(h.RecordCount) * h.RecordLength + 1);
  }
  return s;
}

std::unique_ptr<TDatabase> OpenDb(std::shared_ptr<IXbFileSystem> fs, const std::string& dir, TTable*& t) {
  auto db = std::make_unique<TDatabase>(std::move(fs));
  db->SetPath(dir);
  db->SetMemoBlockSize(64);
  t = nullptr;
  if (!db->OpenDictionary()) return db;
  t = DefineRows(*db, dir);
  if (!t->Open() && !t->Create()) t = nullptr;
  return db;
}

std::shared_ptr<TXbMemFileSystem> CopyOf(const TXbMemFileSystem& from) {
  auto fs = std::make_shared<TXbMemFileSystem>();
  for (const auto& p : from.List()) fs->SetContents(p, from.Contents(p));
  return fs;
}

// Every mutating file call of the operation is, in turn, the one at which the machine stops: with the
// bytes written so far kept, and with every unsynced byte lost. Reopening must show the old or the new
// state, nothing in between.
void EnumerateCrashes(const std::function<bool(TDatabase&, TTable*)>& op, const State& before,
                      const State& after, bool* sawAfter) {
  const std::string dir = "/db";
  auto base = std::make_shared<TXbMemFileSystem>();
  {
    TTable* t = nullptr;
    auto db = OpenDb(base, dir, t);
    ASSERT_NE(t, nullptr);
    db->BeginBatch();
    for (int64_t k = 1; k <= kRows; ++k) {
      t->AppendStart();
      WriteRow(t, k, 0);
      t->Append();
    }
    ASSERT_TRUE(db->CommitBatch());
    // Leave garbage memo blocks and one deleted row behind for pack to work on.
    ASSERT_TRUE(t->AppendStart());
    WriteRow(t, 99, 0);
    ASSERT_TRUE(t->Append());
    ASSERT_TRUE(t->Delete());
  }
  int total = 0;
  {
    auto fs = CopyOf(*base);
    TTable* t = nullptr;
    auto db = OpenDb(fs, dir, t);
    int start = fs->MutatingCalls();
    ASSERT_TRUE(op(*db, t)) << db->LastErrorMessage();
    total = fs->MutatingCalls() - start;
    ASSERT_EQ(ReadState(*db, t, nullptr), after);
  }
  ASSERT_GT(total, 3);
  for (int k = 1; k <= total + 1; ++k) {
    for (bool drop : {false, true}) {
      SCOPED_TRACE("crash at call " + std::to_string(k) + (drop ? ", unsynced writes lost" : ""));
      auto fs = CopyOf(*base);
      bool reported = false;
      {
        TTable* t = nullptr;
        auto db = OpenDb(fs, dir, t);
        ASSERT_NE(t, nullptr);
        fs->FailFrom(fs->MutatingCalls() + k);
        reported = op(*db, t);
      }
      fs->Crash(drop);
      TTable* t = nullptr;
      auto db = OpenDb(fs, dir, t);
      ASSERT_NE(t, nullptr) << db->LastErrorMessage();
      State s = ReadState(*db, t, nullptr);
      auto bytes = fs->Contents(dir + "/Rows.ctb");
      ReadState(*db, t, &bytes);
      EXPECT_TRUE(s == before || s == after);
      if (reported) {
        EXPECT_EQ(s, after) << "a commit reported as done was lost";
      }
      if (s == after && sawAfter != nullptr) *sawAfter = true;
      EXPECT_FALSE(fs->Exists(dir + "/DB.jnl"));
      // Nothing beside the tables survives: no replacement, backup or moved-aside file.
      for (const auto& p : fs->List()) {
        EXPECT_TRUE(p == dir + "/Rows.ctb" || p == dir + "/Rows.fpt" || p.find("/Rows") == std::string::npos)
            << p;
        EXPECT_EQ(p.find(".bak"), std::string::npos) << p;
        EXPECT_EQ(p.find("damaged"), std::string::npos) << p;
      }
    }
  }
}

TEST(DbCrash, EveryCrashPointInABatchCommitLeavesTheOldOrTheNewState) {
  bool sawAfter = false;
  EnumerateCrashes([](TDatabase& db, TTable* t) { return RewriteAll(db, t, 1); }, Expected(0), Expected(1),
                   &sawAfter);
  EXPECT_TRUE(sawAfter);
}

TEST(DbCrash, EveryCrashPointInAPackKeepsEveryLiveRowAndMemo) {
  EnumerateCrashes([](TDatabase&, TTable* t) { return t->Pack(true); }, Expected(0), Expected(0), nullptr);
}

TEST(DbCrash, EveryCrashPointInMemoCompactionKeepsEveryMemo) {
  EnumerateCrashes([](TDatabase&, TTable* t) { return t->CompactMemo() == 0; }, Expected(0), Expected(0),
                   nullptr);
}

// The writer for the kill test: rewrites every row, generation after generation, until it is killed.
TEST(DbCrashIntegration, DISABLED_Writer) {
  const char* dir = std::getenv("VANDREL_DBCRASH_DIR");
  ASSERT_NE(dir, nullptr);
  TTable* t = nullptr;
  auto db = OpenDb(nullptr, dir, t);
  ASSERT_NE(t, nullptr) << db->LastErrorMessage();
  ASSERT_TRUE(t->Seek({int64_t{1}}, 0));
  int64_t gen = t->Fields().Find("Value")->AsInteger();
  const char* ready = std::getenv("VANDREL_DBCRASH_READY");
  for (;;) {
    ++gen;
    ASSERT_TRUE(RewriteAll(*db, t, gen)) << db->LastErrorMessage();
    // Tell the killer that a generation landed, so its random delay starts from a running writer
    // rather than from a process that is still starting up on a busy machine.
    if (ready != nullptr) {
      std::ofstream(ready) << gen;
      ready = nullptr;
    }
    if (gen % 5 == 0) {
      ASSERT_TRUE(t->Pack(true)) << db->LastErrorMessage();
    }
  }
}

TEST(DbCrashIntegration, KilledWritersLeaveWholeGenerations) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("vandrel-kill-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::string folder = dir.string() + "/";
  {
    TTable* t = nullptr;
    auto db = OpenDb(nullptr, folder, t);
    ASSERT_NE(t, nullptr);
    db->BeginBatch();
    for (int64_t k = 1; k <= kRows; ++k) {
      t->AppendStart();
      WriteRow(t, k, 0);
      t->Append();
    }
    ASSERT_TRUE(db->CommitBatch());
  }
  std::string self = fs::read_symlink("/proc/self/exe").string();
  std::string env = "VANDREL_DBCRASH_DIR=" + folder;
  fs::path readyMarker = dir.string() + ".ready";
  std::vector<std::string> envs{env, "VANDREL_DBCRASH_READY=" + readyMarker.string()};
  for (char** e = environ; *e != nullptr; ++e) envs.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : envs) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string a0 = self, a1 = "--gtest_filter=DbCrashIntegration.DISABLED_Writer",
              a2 = "--gtest_also_run_disabled_tests";
  char* argv[] = {a0.data(), a1.data(), a2.data(), nullptr};

  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  std::mt19937 rng(12345);
  int64_t last = 0;
  int progressed = 0;
  for (int round = 0; round < 100; ++round) {
    pid_t pid = 0;
    fs::remove(readyMarker);
    ASSERT_EQ(posix_spawn(&pid, self.c_str(), &quiet, nullptr, argv, envp.data()), 0);
    for (int wait = 0; wait < 3000 && !fs::exists(readyMarker); ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(20, 400)(rng)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own in round " << round;

    TTable* t = nullptr;
    auto db = OpenDb(nullptr, folder, t);
    ASSERT_NE(t, nullptr) << db->LastErrorMessage();
    std::ifstream in(folder + "Rows.ctb", std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    State s = ReadState(*db, t, &bytes);
    ASSERT_EQ(s.size(), static_cast<size_t>(kRows)) << "round " << round;
    int64_t gen = s.begin()->second.Value;
    ASSERT_EQ(s, Expected(gen)) << "round " << round << ": rows from different generations";
    ASSERT_GE(gen, last);
    if (gen > last) ++progressed;
    last = gen;
    for (const auto& e : fs::directory_iterator(dir)) {
      std::string name = e.path().filename().string();
      EXPECT_TRUE(name == "Rows.ctb" || name == "Rows.fpt" || name.find(".dbf") != std::string::npos) << name;
    }
  }
  posix_spawn_file_actions_destroy(&quiet);
  EXPECT_GT(progressed, 20);
  std::cout << "generations committed: " << last << ", rounds with progress: " << progressed << "\n";
  fs::remove_all(dir);
  fs::remove(readyMarker);
}

}  // namespace
}  // namespace vandrel

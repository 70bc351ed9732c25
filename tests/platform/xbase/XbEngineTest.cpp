#include "platform/xbase/XbEngine.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/xbase/XbMemFileSystem.h"
#include "platform/xbase/XbPagedFile.h"
#include "platform/xbase/XbTag.h"

namespace vandrel {
namespace {

const std::vector<TXbFieldDef> kFields = {
    {"KEY", 'N', 4, 0, 0}, {"NAME", 'C', 10, 0, 0}, {"NOTE", 'M', 10, 0, 0}};

struct Fixture {
  std::shared_ptr<TXbMemFileSystem> fs = std::make_shared<TXbMemFileSystem>();
  std::unique_ptr<IXbEngine> engine = CreateXbEngine(fs);

  Fixture() { engine->SetJournalPath("/d/DB.jnl"); }

  std::unique_ptr<IXbTable> Make(int rows) {
    auto t = engine->Create("/d/T.dbf", kFields);
    EXPECT_TRUE(t);
    EXPECT_TRUE(t->CreateTags({{"K", "KEY", ".NOT. DELETED()", true}}));
    engine->BeginBatch();
    for (int i = 1; i <= rows; ++i) {
      t->AppendStart();
      t->AssignDouble(0, i);
      t->Assign(1, "n" + std::to_string(i));
      t->AssignMemo(2, "memo " + std::to_string(i), false);
      EXPECT_TRUE(t->Append());
    }
    EXPECT_TRUE(engine->CommitBatch());
    return t;
  }

  // A fresh engine over the same files, as after a restart.
  std::unique_ptr<IXbTable> Reopen() {
    engine = CreateXbEngine(fs);
    engine->SetJournalPath("/d/DB.jnl");
    auto t = engine->Open("/d/T.dbf");
    if (t) t->CreateTags({{"K", "KEY", ".NOT. DELETED()", true}});
    return t;
  }
};

std::string HeaderWith(const std::vector<TXbFieldDef>& fields) {
  std::vector<TXbFieldDef> f = fields;
  TXbHeader h;
  std::string why;
  EXPECT_TRUE(LayoutFields(f, h, why)) << why;
  return BuildDbfHeader(h, 126, 12, 9);
}

TEST(XbFormat, DamagedHeadersAreRefusedWithoutReadingPastTheBytes) {
  const std::string good = HeaderWith(kFields);
  TXbHeader h;
  std::string why;
  ASSERT_TRUE(ParseDbfHeader(good, h, why)) << why;
  EXPECT_EQ(h.Version, kDbfWithMemo);
  EXPECT_EQ(h.RecordLength, 1 + 4 + 10 + 10);
  EXPECT_EQ(h.Fields[2].Offset, 15);

  struct Case {
    const char* What;
    size_t At;
    char Byte;
  } cases[] = {
      {"version byte", 0, '\x30'},        {"header length beyond the bytes", 9, '\x7f'},
      {"record length", 10, '\x05'},      {"field type", 32 + 11, 'X'},
      {"numeric width", 32 + 16, '\x40'}, {"memo width", 96 + 16, '\x04'},
      {"empty field name", 32, '\0'},     {"terminator", 32 * 4, ' '},
  };
  for (const auto& c : cases) {
    std::string bad = good;
    bad[c.At] = c.Byte;
    EXPECT_FALSE(ParseDbfHeader(bad, h, why)) << c.What;
  }
  for (size_t n = 0; n < good.size(); ++n) {
    EXPECT_FALSE(ParseDbfHeader(good.substr(0, n), h, why)) << n;
  }
  // Names are cut to ten characters and upper-cased; widths outside the type's range are refused.
  std::vector<TXbFieldDef> f = {{"CatLstUpdDate", 'C', 8, 0, 0}};
  ASSERT_TRUE(LayoutFields(f, h, why));
  EXPECT_EQ(h.Fields[0].Name, "CATLSTUPDD");
  f = {{"X", 'N', 25, 0, 0}};
  EXPECT_FALSE(LayoutFields(f, h, why));

  uint32_t block = 0;
  EXPECT_TRUE(ParseMemoPointer("        12", block));
  EXPECT_EQ(block, 12u);
  EXPECT_FALSE(ParseMemoPointer("  1x      ", block));
  EXPECT_EQ(FormatMemoPointer(8), "         8");
}

TEST(XbTag, KeysFollowTheExpression) {
  std::vector<TXbFieldDef> fields = {{"A", 'N', 4, 0, 1}, {"B", 'C', 3, 0, 5}};
  std::string rec = "   42xy ";
  TXbKeyExpression e;
  std::string why;
  ASSERT_TRUE(e.Parse("STR(A, 6, 1) + B", fields, why)) << why;
  EXPECT_EQ(e.Evaluate(rec), "  42.0xy ");
  ASSERT_TRUE(e.Parse("descend(a)", fields, why));
  std::string expect;
  for (char c : std::string("0042")) expect += static_cast<char>(256 - static_cast<unsigned char>(c));
  EXPECT_EQ(e.Evaluate(rec), expect);
  EXPECT_FALSE(e.Parse("C", fields, why));
  EXPECT_FALSE(e.Parse("STR(A, 0, 0)", fields, why));
  EXPECT_FALSE(e.Parse("A +", fields, why));

  TXbTag unique;
  ASSERT_TRUE(unique.Define({"U", "B", ".NOT. DELETED()", true}, fields, why));
  unique.Insert(" 1  xy ", 1);
  unique.Insert(" 2  xy ", 2);  // same key: left out
  unique.Insert("*3  zz ", 3);  // deleted: filtered
  ASSERT_EQ(unique.Items().size(), 1u);
  EXPECT_EQ(unique.Items().begin()->second, 1u);
  TXbTag bad;
  EXPECT_FALSE(bad.Define({"F", "A", "A > 1", false}, fields, why));
}

// Numbers stored the way other writers may store them still give the key STR() formats.
TEST(XbTag, NumberKeysAreFormattedWhateverTheStoredSpelling) {
  std::vector<TXbFieldDef> fields = {{"A", 'N', 4, 0, 1}, {"B", 'N', 4, 0, 5}};
  TXbKeyExpression e;
  std::string why;
  ASSERT_TRUE(e.Parse("STR(A, 4, 0) + STR(B, 4, 0)", fields, why)) << why;
  struct Case {
    const char* Record;
    const char* Key;
  } cases[] = {
      {"   42   7", "  42   7"}, {" 0042  -3", "  42  -3"}, {"    9 4.0", "   9   4"},
      {"   -5  00", "  -5   0"}, {" 12  9999", "  129999"}, {"  1 2   1", "   1   1"},
  };
  for (const auto& c : cases) EXPECT_EQ(e.Evaluate(c.Record), c.Key) << c.Record;

  // A rebuilt unique tag keeps the first record of every key, as inserting one by one does.
  TXbTag one, bulk;
  ASSERT_TRUE(one.Define({"U", "STR(A, 4, 0)", ".NOT. DELETED()", true}, fields, why));
  ASSERT_TRUE(bulk.Define(one.Definition(), fields, why));
  const char* records[] = {"    5    ", "    3    ", "*   1    ", " 0005    ", "    3    ", "    1    "};
  std::vector<TXbTag::Entry> entries;
  for (uint32_t r = 1; r <= 6; ++r) {
    one.Insert(records[r - 1], r);
    std::string key;
    if (bulk.KeyOf(records[r - 1], key)) entries.emplace_back(key, r);
  }
  std::reverse(entries.begin(), entries.end());
  bulk.Assign(entries);
  EXPECT_EQ(bulk.Items(), one.Items());
  EXPECT_EQ(one.Items().size(), 3u);
}

TEST(XbEngine, RecordsMemosAndTagsSurviveARestart) {
  Fixture fx;
  auto t = fx.Make(20);
  ASSERT_TRUE(t->SelectTag("K"));
  ASSERT_TRUE(t->Seek("   7"));
  EXPECT_EQ(t->Memo(2), "memo 7");
  t->AssignMemo(2, std::string(500, 'x'), true);  // grows: moves to new blocks
  ASSERT_TRUE(t->Flush());
  ASSERT_TRUE(t->Seek("   8"));
  ASSERT_TRUE(t->Delete());
  t.reset();
  t = fx.Reopen();
  ASSERT_TRUE(t);
  ASSERT_TRUE(t->SelectTag("K"));
  ASSERT_TRUE(t->Seek("   7"));
  EXPECT_EQ(t->Memo(2), std::string(500, 'x'));
  EXPECT_FALSE(t->Seek("   8"));
  EXPECT_EQ(t->RecordCount(), 20u);
  int live = 0;
  for (bool ok = t->Top(); ok; ok = t->Skip()) ++live;
  EXPECT_EQ(live, 19);
  // A second handle on the same file shares it (one lock) and sees the same records.
  auto u = fx.engine->Open("/d/T.dbf");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->RecordCount(), 20u);
}

TEST(XbEngine, ARolledBackBatchLeavesNoTrace) {
  Fixture fx;
  auto t = fx.Make(5);
  auto before = fx.fs->Contents("/d/T.dbf");
  auto memoBefore = fx.fs->Contents("/d/T.fpt");
  fx.engine->BeginBatch();
  t->SelectTag("K");
  ASSERT_TRUE(t->Seek("   2"));
  t->Assign(1, "changed");
  t->AssignMemo(2, "changed memo", false);
  ASSERT_TRUE(t->Flush());
  t->AppendStart();
  t->AssignDouble(0, 6);
  ASSERT_TRUE(t->Append());
  EXPECT_EQ(t->RecordCount(), 6u);
  fx.engine->RollbackBatch();
  EXPECT_EQ(t->RecordCount(), 5u);
  EXPECT_FALSE(t->Seek("   6"));
  ASSERT_TRUE(t->Seek("   2"));
  EXPECT_EQ(t->Raw(1), "n2        ");
  EXPECT_EQ(t->Memo(2), "memo 2");
  EXPECT_EQ(fx.fs->Contents("/d/T.dbf"), before);
  EXPECT_EQ(fx.fs->Contents("/d/T.fpt"), memoBefore);
}

TEST(XbEngine, CutShortFilesKeepTheirWholeRecords) {
  Fixture fx;
  fx.Make(10);
  fx.engine.reset();
  auto bytes = fx.fs->Contents("/d/T.dbf");
  size_t header = DbfHeaderLength(std::string(bytes.begin(), bytes.begin() + 32));
  const size_t rl = 25;

  // Without the end-of-file byte every record is still there.
  bytes.pop_back();
  fx.fs->SetContents("/d/T.dbf", bytes);
  auto t = fx.Reopen();
  ASSERT_TRUE(t);
  EXPECT_EQ(t->RecordCount(), 10u);
  ASSERT_TRUE(t->SelectTag("K") && t->Seek("  10"));
  EXPECT_EQ(t->Memo(2), "memo 10");
  t.reset();

  // Cut inside record 7: records 1-6 remain and a new record goes where 7 began.
  bytes.resize(header + 6 * rl + 3);
  fx.fs->SetContents("/d/T.dbf", bytes);
  t = fx.Reopen();
  ASSERT_TRUE(t);
  EXPECT_EQ(t->RecordCount(), 6u);
  ASSERT_TRUE(t->AppendStart());
  t->AssignDouble(0, 70);
  ASSERT_TRUE(t->Append());
  t.reset();
  t = fx.Reopen();
  EXPECT_EQ(t->RecordCount(), 7u);
  ASSERT_TRUE(t->SelectTag("K") && t->Seek("  70") && t->Seek("   6"));
  EXPECT_EQ(fx.fs->Contents("/d/T.dbf").size(), header + 7 * rl + 1);

  // A memo file cut short: the lost memo reads as empty with an error, the others as written.
  t.reset();
  auto memo = fx.fs->Contents("/d/T.fpt");
  memo.resize(13 * 64 + 4);  // inside the block header of key 6's memo
  fx.fs->SetContents("/d/T.fpt", memo);
  t = fx.Reopen();
  ASSERT_TRUE(t && t->SelectTag("K"));
  ASSERT_TRUE(t->Seek("   6"));
  fx.engine->ClearError();
  EXPECT_EQ(t->Memo(2), "");
  EXPECT_EQ(fx.engine->ErrorCode(), xbeMemo);
  ASSERT_TRUE(t->Seek("   1"));
  EXPECT_EQ(t->Memo(2), "memo 1");
  // Compaction drops the pointer into nothing and keeps the rest.
  EXPECT_EQ(t->CompactMemo(), 0);
  ASSERT_TRUE(t->Seek("   6"));
  fx.engine->ClearError();
  EXPECT_EQ(t->Memo(2), "");
  EXPECT_EQ(fx.engine->ErrorCode(), 0);
  EXPECT_EQ(t->Raw(2), "          ");
  ASSERT_TRUE(t->Seek("   5"));
  EXPECT_EQ(t->Memo(2), "memo 5");
}

TEST(XbEngine, DamagedMemoBlocksReadAsEmpty) {
  Fixture fx;
  auto t = fx.Make(3);
  t.reset();
  fx.engine.reset();
  auto memo = fx.fs->Contents("/d/T.fpt");
  // Length of the first memo block set to 2^32-1.
  for (int i = 4; i < 8; ++i) memo[512 + i] = 0xFF;
  fx.fs->SetContents("/d/T.fpt", memo);
  auto bytes = fx.fs->Contents("/d/T.dbf");
  size_t header = DbfHeaderLength(std::string(bytes.begin(), bytes.begin() + 32));
  std::string huge = "4000000000";  // record 2 points far past the end
  std::copy(huge.begin(), huge.end(), bytes.begin() + static_cast<long>(header + 25 + 15));
  fx.fs->SetContents("/d/T.dbf", bytes);
  t = fx.Reopen();
  ASSERT_TRUE(t && t->SelectTag("K"));
  for (const char* key : {"   1", "   2"}) {
    ASSERT_TRUE(t->Seek(key));
    fx.engine->ClearError();
    EXPECT_EQ(t->Memo(2), "");
    EXPECT_EQ(fx.engine->ErrorCode(), xbeMemo);
  }
  ASSERT_TRUE(t->Seek("   3"));
  EXPECT_EQ(t->Memo(2), "memo 3");
  // A damaged memo is not reused when the record gets a new one.
  ASSERT_TRUE(t->Seek("   1"));
  ASSERT_TRUE(t->AssignMemo(2, "fresh", false));
  ASSERT_TRUE(t->Flush());
  ASSERT_TRUE(t->Seek("   1"));
  EXPECT_EQ(t->Memo(2), "fresh");
}

// A crash while the journal is being written leaves a torn journal over untouched files; whatever part
// of it survives, recovery must leave the files exactly as they were.
TEST(XbJournal, TornJournalTailsLeaveTheFilesAsTheyWere) {
  Fixture fx;
  auto t = fx.Make(8);
  t->SelectTag("K");
  const auto before = fx.fs->Contents("/d/T.dbf");
  const auto memoBefore = fx.fs->Contents("/d/T.fpt");
  // Stop at the first write to a data file: the journal is complete and synced, the data untouched.
  int start = fx.fs->MutatingCalls();
  fx.engine->BeginBatch();
  for (const char* key : {"   1", "   4", "   8"}) {
    t->Seek(key);
    t->Assign(1, "zz");
    t->AssignMemo(2, std::string(90, 'q'), false);
  }
  fx.fs->FailFrom(start + 5);  // create, write, sync, folder sync of the journal; then the data
  EXPECT_FALSE(fx.engine->CommitBatch());
  t.reset();
  fx.fs->Crash(false);
  const auto journal = fx.fs->Contents("/d/DB.jnl");
  ASSERT_GT(journal.size(), 100u);
  for (size_t cut = 0; cut <= journal.size(); cut += 7) {
    fx.fs->SetContents("/d/T.dbf", before);
    fx.fs->SetContents("/d/T.fpt", memoBefore);
    fx.fs->SetContents("/d/DB.jnl", std::vector<unsigned char>(journal.begin(), journal.begin() + cut));
    auto r = fx.Reopen();
    ASSERT_TRUE(r) << cut;
    EXPECT_EQ(fx.fs->Contents("/d/T.dbf"), before) << cut;
    EXPECT_EQ(fx.fs->Contents("/d/T.fpt"), memoBefore) << cut;
    EXPECT_FALSE(fx.fs->Exists("/d/DB.jnl"));
  }
}

TEST(XbJournal, RecoveryWaitsForFilesHeldElsewhere) {
  Fixture fx;
  auto t = fx.Make(2);
  // Another engine (another process) finds a journal while this one holds the table.
  TXbJournal j(7);
  j.AddFile(1, 10, "/d/T.dbf");
  std::string bytes = j.Bytes();
  fx.fs->SetContents("/d/DB.jnl", std::vector<unsigned char>(bytes.begin(), bytes.end()));
  auto other = CreateXbEngine(fx.fs);
  other->SetJournalPath("/d/DB.jnl");
  EXPECT_FALSE(other->Recover());
  EXPECT_EQ(other->ErrorCode(), xbeJournal);
  EXPECT_TRUE(fx.fs->Exists("/d/DB.jnl"));
  EXPECT_GT(fx.fs->Contents("/d/T.dbf").size(), 10u);
}

}  // namespace
}  // namespace vandrel

namespace vandrel {
namespace {

// A second process must not undo the swap of a commit still running in the first.
TEST(XbJournal, RecoveryLeavesALiveSwapAlone) {
  Fixture fx;
  auto t = fx.Make(2);
  fx.fs->SetContents("/d/T(1).dbf", fx.fs->Contents("/d/T.dbf"));
  TXbJournal j(9);
  j.AddSwap("/d/T.dbf", "/d/T(1).dbf", "/d/T.dbf.bak");
  std::string bytes = j.Bytes();
  fx.fs->SetContents("/d/DB.jnl", std::vector<unsigned char>(bytes.begin(), bytes.end()));
  auto other = CreateXbEngine(fx.fs);
  other->SetJournalPath("/d/DB.jnl");
  EXPECT_FALSE(other->Recover());
  EXPECT_TRUE(fx.fs->Exists("/d/T(1).dbf"));
  EXPECT_TRUE(fx.fs->Exists("/d/DB.jnl"));
  // Once the holder is gone the leftover replacement is removed and the table stays.
  t.reset();
  fx.engine.reset();
  EXPECT_TRUE(other->Recover());
  EXPECT_FALSE(fx.fs->Exists("/d/T(1).dbf"));
  EXPECT_TRUE(other->Open("/d/T.dbf"));
}

// Logs each file operation the engine makes, in order, on the way to the memory file system.
class TRecordingFs final : public IXbFileSystem {
 public:
  explicit TRecordingFs(std::shared_ptr<TXbMemFileSystem> real) : real_(std::move(real)) {}
  class File final : public IXbFile {
   public:
    File(std::unique_ptr<IXbFile> f, std::string path, std::vector<std::string>& log, bool& crash,
         TXbMemFileSystem& real)
        : f_(std::move(f)), path_(std::move(path)), log_(log), crash_(crash), real_(real) {}
    bool ReadAt(uint64_t o, void* b, size_t n, size_t& g) override { return f_->ReadAt(o, b, n, g); }
    bool WriteAt(uint64_t o, const void* d, size_t n) override {
      log_.push_back("write " + path_);
      return f_->WriteAt(o, d, n);
    }
    bool Size(uint64_t& s) override { return f_->Size(s); }
    bool Truncate(uint64_t s) override { return f_->Truncate(s); }
    bool Sync() override {
      log_.push_back("sync " + path_);
      if (crash_ && path_.rfind("/d/T.", 0) == 0) {
        // The process dies here: every write so far stays visible, nothing more gets through.
        real_.Crash(false);
        return false;
      }
      return f_->Sync();
    }
    bool StartSync() override { return f_->StartSync(); }
    bool TryLock() override { return f_->TryLock(); }
    bool TryLockShared() override { return f_->TryLockShared(); }

   private:
    std::unique_ptr<IXbFile> f_;
    std::string path_;
    std::vector<std::string>& log_;
    bool& crash_;
    TXbMemFileSystem& real_;
  };
  std::unique_ptr<IXbFile> Open(const std::string& p, TXbOpenMode m, int& e) override {
    auto f = real_->Open(p, m, e);
    return f ? std::make_unique<File>(std::move(f), p, Log, CrashAtDataSync, *real_) : nullptr;
  }
  bool Exists(const std::string& p) override { return real_->Exists(p); }
  bool Remove(const std::string& p) override {
    Log.push_back("remove " + p);
    return real_->Remove(p);
  }
  bool Rename(const std::string& a, const std::string& b) override { return real_->Rename(a, b); }
  bool SyncDir(const std::string& d) override {
    Log.push_back("folder " + d);
    return real_->SyncDir(d);
  }
  std::string Canonical(const std::string& p) override { return real_->Canonical(p); }
  std::vector<std::string> Log;
  bool CrashAtDataSync = false;  // the first sync of a table file ends the simulated process

 private:
  std::shared_ptr<TXbMemFileSystem> real_;
};

// A commit writes every data file before it waits for any of them. That is safe only because the
// journal is durable before the first data write and dropped only after the last data sync; a process
// that dies with every file written but none synced must come back to the old rows.
TEST(XbJournal, DataFilesAreAllWrittenBeforeAnySyncAndTheJournalCoversThem) {
  Fixture fx;
  auto t = fx.Make(8);
  t->SelectTag("K");
  t.reset();
  fx.engine.reset();
  auto recording = std::make_shared<TRecordingFs>(fx.fs);
  auto engine = CreateXbEngine(recording);
  engine->SetJournalPath("/d/DB.jnl");
  auto table = engine->Open("/d/T.dbf");
  ASSERT_TRUE(table);
  ASSERT_TRUE(table->CreateTags({{"K", "KEY", ".NOT. DELETED()", true}}));
  table->SelectTag("K");
  const auto before = fx.fs->Contents("/d/T.dbf");
  const auto memoBefore = fx.fs->Contents("/d/T.fpt");
  auto change = [&] {
    engine->BeginBatch();
    for (const char* key : {"   2", "   7"}) {
      table->Seek(key);
      table->Assign(1, "yy");
      table->AssignMemo(2, std::string(120, 'r'), false);
    }
  };
  change();
  recording->Log.clear();
  ASSERT_TRUE(engine->CommitBatch());
  const std::vector<std::string>& log = recording->Log;
  auto first = [&](const std::string& entry) {
    return std::find(log.begin(), log.end(), entry) - log.begin();
  };
  auto last = [&](const std::string& entry) {
    return log.rend() - std::find(log.rbegin(), log.rend(), entry) - 1;
  };
  const auto journalDurable = std::max(first("sync /d/DB.jnl"), first("folder /d"));
  const auto removed = first("remove /d/DB.jnl");
  ASSERT_LT(removed, static_cast<long>(log.size()));
  for (const char* file : {"/d/T.dbf", "/d/T.fpt"}) {
    const std::string name = file;
    ASSERT_LT(first("write " + name), static_cast<long>(log.size())) << name;
    EXPECT_LT(journalDurable, first("write " + name)) << name;
    EXPECT_LT(last("write " + name), std::min(first("sync /d/T.dbf"), first("sync /d/T.fpt"))) << name;
    EXPECT_LT(first("sync " + name), removed) << name;
  }
  EXPECT_EQ(log.back(), "folder /d");
  EXPECT_EQ(removed, static_cast<long>(log.size()) - 2);

  // The same change again, stopped at the first data sync: both files hold new bytes, nothing of them
  // is synced, and the journal must put both back.
  const auto committed = fx.fs->Contents("/d/T.dbf");
  const auto memoCommitted = fx.fs->Contents("/d/T.fpt");
  EXPECT_NE(committed, before);
  EXPECT_NE(memoCommitted, memoBefore);
  change();
  table->Seek("   3");
  table->Assign(1, "ww");
  table->AssignMemo(2, std::string(200, 's'), false);
  recording->Log.clear();
  recording->CrashAtDataSync = true;
  EXPECT_FALSE(engine->CommitBatch());
  EXPECT_EQ(std::count_if(recording->Log.begin(), recording->Log.end(),
                          [](const std::string& e) { return e.rfind("sync /d/T.", 0) == 0; }),
            1);
  table.reset();
  engine.reset();
  fx.fs->Crash(false);
  EXPECT_NE(fx.fs->Contents("/d/T.dbf"), committed);
  auto r = fx.Reopen();
  ASSERT_TRUE(r);
  EXPECT_EQ(fx.fs->Contents("/d/T.dbf"), committed);
  EXPECT_EQ(fx.fs->Contents("/d/T.fpt"), memoCommitted);
  EXPECT_FALSE(fx.fs->Exists("/d/DB.jnl"));
  r->SelectTag("K");
  ASSERT_TRUE(r->Seek("   3"));
  EXPECT_EQ(r->Memo(2), "memo 3");
}

}  // namespace
}  // namespace vandrel

namespace vandrel {
namespace {

// Compaction walks the header's record count, not the bytes up to the last one, so a table whose
// end-of-file byte was lost keeps its last record and that record's memo.
TEST(XbEngine, CompactionWithoutTheEndOfFileByteKeepsTheLastRecord) {
  Fixture fx;
  fx.Make(6);
  fx.engine.reset();
  auto bytes = fx.fs->Contents("/d/T.dbf");
  ASSERT_EQ(bytes.back(), kDbfEof);
  bytes.pop_back();
  fx.fs->SetContents("/d/T.dbf", bytes);
  for (bool pack : {false, true}) {
    SCOPED_TRACE(pack ? "pack" : "memo compaction");
    auto t = fx.Reopen();
    ASSERT_TRUE(t);
    if (pack) {
      ASSERT_TRUE(t->Pack(true));
    } else {
      ASSERT_EQ(t->CompactMemo(), 0);
    }
    t.reset();
    t = fx.Reopen();
    ASSERT_TRUE(t && t->SelectTag("K"));
    EXPECT_EQ(t->RecordCount(), 6u);
    ASSERT_TRUE(t->Seek("   6"));
    EXPECT_EQ(t->Memo(2), "memo 6");
    EXPECT_EQ(fx.engine->ErrorCode(), 0);
  }
}

// A memo file that vanished: the records stay readable, their memos read as empty with an error, and
// compaction clears the pointers instead of leaving them aimed into a new empty file.
TEST(XbEngine, AMissingMemoFileLeavesNoDanglingPointers) {
  Fixture fx;
  fx.Make(4);
  fx.engine.reset();
  ASSERT_TRUE(fx.fs->Remove("/d/T.fpt"));
  auto t = fx.Reopen();
  ASSERT_TRUE(t && t->SelectTag("K"));
  EXPECT_TRUE(fx.fs->Exists("/d/T.fpt"));
  ASSERT_TRUE(t->Seek("   3"));
  EXPECT_EQ(t->Raw(1), "n3        ");
  fx.engine->ClearError();
  EXPECT_EQ(t->Memo(2), "");
  EXPECT_EQ(fx.engine->ErrorCode(), xbeMemo);
  ASSERT_EQ(t->CompactMemo(), 0);
  for (const char* key : {"   1", "   4"}) {
    ASSERT_TRUE(t->Seek(key));
    EXPECT_EQ(t->Raw(2), "          ");
  }
  // New memos land in the fresh file and survive a restart.
  ASSERT_TRUE(t->Seek("   2"));
  ASSERT_TRUE(t->AssignMemo(2, "again", false));
  ASSERT_TRUE(t->Flush());
  t.reset();
  t = fx.Reopen();
  ASSERT_TRUE(t && t->SelectTag("K") && t->Seek("   2"));
  fx.engine->ClearError();
  EXPECT_EQ(t->Memo(2), "again");
  EXPECT_EQ(fx.engine->ErrorCode(), 0);
}

// Walking a tag while records change under the walk: each record is met once, in key order.
TEST(XbEngine, TagWalksFollowChangesMadeDuringTheWalk) {
  Fixture fx;
  auto t = fx.Make(10);
  auto other = fx.engine->Open("/d/T.dbf");
  ASSERT_TRUE(t->SelectTag("K") && other->SelectTag("K"));
  std::vector<int> seen;
  for (bool ok = t->Top(); ok; ok = t->Skip()) {
    int key = static_cast<int>(t->Double(0));
    seen.push_back(key);
    if (key == 3) {
      // The next record goes away through another handle, and one is added ahead of the walk.
      ASSERT_TRUE(other->Seek("   4") && other->Delete());
      ASSERT_TRUE(other->AppendStart());
      other->AssignDouble(0, 11);
      ASSERT_TRUE(other->Append());
    }
    if (key == 6) {
      // A change of this record that keeps its key, then another handle deletes the record after next.
      ASSERT_TRUE(t->Assign(1, "six"));
      ASSERT_TRUE(t->Flush());
      ASSERT_TRUE(other->Seek("   8") && other->Delete());
    }
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 5, 6, 7, 9, 10, 11}));
  ASSERT_TRUE(t->Seek("   6"));
  EXPECT_EQ(t->Raw(1), "six       ");
}

}  // namespace
}  // namespace vandrel

namespace vandrel {
namespace {

// A journal that names a file number twice (never written by a commit) must not aim one file's old bytes
// at another: recovery stops reading at the repeated entry.
TEST(XbJournal, ARepeatedFileEntryEndsTheJournal) {
  auto mem = std::make_shared<TXbMemFileSystem>();
  TXbMemFileSystem& fs = *mem;
  fs.SetContents("/d/T.dbf", std::vector<unsigned char>(100, 'x'));
  fs.SetContents("/d/U.dbf", std::vector<unsigned char>(200, 'u'));
  TXbJournal j(3);
  j.AddFile(1, 100, "/d/T.dbf");
  const unsigned char old[4] = {'A', 'B', 'C', 'D'};
  j.AddPage(1, 0, old, 4);
  j.AddFile(1, 200, "/d/U.dbf");
  std::string bytes = j.Bytes();
  fs.SetContents("/d/DB.jnl", std::vector<unsigned char>(bytes.begin(), bytes.end()));
  std::string why;
  ASSERT_TRUE(XbRecoverJournal(fs, "/d/DB.jnl", nullptr, nullptr, true, why)) << why;
  EXPECT_EQ(fs.Contents("/d/U.dbf"), std::vector<unsigned char>(200, 'u'));
  auto t = fs.Contents("/d/T.dbf");
  ASSERT_EQ(t.size(), 100u);
  EXPECT_EQ(std::string(t.begin(), t.begin() + 5), "ABCDx");
  EXPECT_FALSE(fs.Exists("/d/DB.jnl"));
}

}  // namespace
}  // namespace vandrel

namespace vandrel {
namespace {

// A memo header whose free-block pointer runs far past the file: new memos still go at the file's end.
TEST(XbEngine, ADamagedFreePointerNeitherBloatsNorFillsTheMemoFile) {
  for (uint32_t damaged : {0x00100000u, 0xFFFFFFF0u}) {
    SCOPED_TRACE(damaged);
    Fixture fx;
    fx.Make(2);
    fx.engine.reset();
    auto memo = fx.fs->Contents("/d/T.fpt");
    const size_t size = memo.size();
    WriteBe32(memo.data(), damaged);
    fx.fs->SetContents("/d/T.fpt", memo);
    auto t = fx.Reopen();
    ASSERT_TRUE(t && t->SelectTag("K") && t->Seek("   1"));
    ASSERT_TRUE(t->AssignMemo(2, std::string(300, 'm'), false));
    ASSERT_TRUE(t->Flush());
    EXPECT_LE(fx.fs->Contents("/d/T.fpt").size(), size + 6 * 64);
    t.reset();
    t = fx.Reopen();
    ASSERT_TRUE(t && t->SelectTag("K") && t->Seek("   1"));
    EXPECT_EQ(t->Memo(2), std::string(300, 'm'));
    ASSERT_TRUE(t->Seek("   2"));
    EXPECT_EQ(t->Memo(2), "memo 2");
  }
}

}  // namespace
}  // namespace vandrel

namespace vandrel {
namespace {

// With the memo header unreadable every memo reads as damaged; compaction must not turn that into the
// loss of every memo. The records are still packed.
TEST(XbEngine, CompactionKeepsAMemoFileWhoseHeaderIsDamaged) {
  Fixture fx;
  auto t = fx.Make(4);
  ASSERT_TRUE(t->SelectTag("K") && t->Seek("   2") && t->Delete());
  t.reset();
  fx.engine.reset();
  auto memo = fx.fs->Contents("/d/T.fpt");
  memo[6] = memo[7] = 0;  // block size
  fx.fs->SetContents("/d/T.fpt", memo);
  t = fx.Reopen();
  ASSERT_TRUE(t);
  EXPECT_EQ(t->CompactMemo(), -4);
  EXPECT_EQ(fx.engine->ErrorCode(), xbeMemo);
  fx.engine->ClearError();
  EXPECT_FALSE(t->Pack(true));
  EXPECT_EQ(fx.engine->ErrorCode(), xbeMemo);
  EXPECT_EQ(t->RecordCount(), 3u);
  EXPECT_EQ(fx.fs->Contents("/d/T.fpt"), memo);
  ASSERT_TRUE(t->SelectTag("K") && t->Seek("   4"));
  EXPECT_NE(t->Raw(2), "          ");
  // Once the header is repaired the memos are all there.
  t.reset();
  fx.engine.reset();
  memo[7] = 64;
  fx.fs->SetContents("/d/T.fpt", memo);
  t = fx.Reopen();
  ASSERT_TRUE(t && t->SelectTag("K") && t->Seek("   4"));
  EXPECT_EQ(t->Memo(2), "memo 4");
}

}  // namespace
}  // namespace vandrel

// Tables opened for reading only (what a read-only mount allows, and nothing more), and what a commit
// that cannot write says.
#include <gtest/gtest.h>

#include "platform/xbase/XbEngine.h"
#include "platform/xbase/XbMemFileSystem.h"
#include "platform/xbase/XbPagedFile.h"

namespace vandrel {
namespace {

const std::vector<TXbFieldDef> kFields = {{"KEY", 'N', 4, 0, 0}, {"NOTE", 'M', 10, 0, 0}};
const TXbTagDef kTag = {"K", "KEY", ".NOT. DELETED()", true};

std::unique_ptr<IXbEngine> Engine(const std::shared_ptr<TXbMemFileSystem>& fs, bool readOnly) {
  auto engine = CreateXbEngine(fs);
  engine->SetJournalPath("/d/DB.jnl");
  engine->SetReadOnly(readOnly);
  return engine;
}

// Three rows written and the writer gone; the files are then made read-only.
std::shared_ptr<TXbMemFileSystem> ReadOnlyFiles() {
  auto fs = std::make_shared<TXbMemFileSystem>();
  auto writer = Engine(fs, false);
  auto t = writer->Create("/d/T.dbf", kFields);
  EXPECT_TRUE(t);
  for (int i = 1; i <= 3; ++i) {
    t->AppendStart();
    t->AssignDouble(0, i);
    t->AssignMemo(1, "memo " + std::to_string(i), false);
    EXPECT_TRUE(t->Append());
  }
  t.reset();
  fs->SetReadOnly(true);
  return fs;
}

TEST(XbReadOnly, RowsMemosAndTagsReadWhileEveryChangeIsRefusedAndTheFilesStayAsTheyWere) {
  auto fs = ReadOnlyFiles();
  const auto dbf = fs->Contents("/d/T.dbf"), fpt = fs->Contents("/d/T.fpt");

  // A writer is told why it cannot open the files, not that they are unreadable.
  auto writer = Engine(fs, false);
  EXPECT_FALSE(writer->Open("/d/T.dbf"));
  EXPECT_EQ(writer->ErrorCode(), xbeReadOnly) << writer->ErrorText();

  auto reader = Engine(fs, true);
  auto t = reader->Open("/d/T.dbf");
  ASSERT_TRUE(t) << reader->ErrorText();
  ASSERT_TRUE(t->CreateTags({kTag}));
  ASSERT_TRUE(t->SelectTag("K"));
  ASSERT_TRUE(t->Seek("   2"));
  EXPECT_EQ(t->Memo(1), "memo 2");

  struct Change {
    const char* What;
    std::function<bool()> Run;
  };
  const std::vector<Change> changes = {
      {"append", [&] { return t->AppendStart() && t->AssignDouble(0, 9) && t->Append(); }},
      {"rewrite", [&] { return t->Seek("   1") && t->AssignMemo(1, "changed", false) && t->Flush(); }},
      {"delete", [&] { return t->Seek("   3") && t->Delete(); }},
      {"pack", [&] { return t->Pack(true); }},
      {"batch",
       [&] {
         reader->BeginBatch();
         const bool changed = t->Seek("   2") && t->AssignDouble(0, 7);
         return reader->CommitBatch() && changed;
       }},
      {"create", [&] { return reader->Create("/d/U.dbf", kFields) != nullptr; }},
  };
  for (const Change& c : changes) {
    reader->ClearError();
    EXPECT_FALSE(c.Run()) << c.What;
    EXPECT_EQ(reader->ErrorCode(), xbeReadOnly) << c.What << ": " << reader->ErrorText();
  }
  // Nothing half-done lingers in memory either.
  ASSERT_TRUE(t->Seek("   1"));
  EXPECT_EQ(t->Memo(1), "memo 1");
  EXPECT_EQ(t->RecordCount(), 3u);
  EXPECT_EQ(fs->Contents("/d/T.dbf"), dbf);
  EXPECT_EQ(fs->Contents("/d/T.fpt"), fpt);
  EXPECT_FALSE(fs->Exists("/d/DB.jnl"));
}

TEST(XbReadOnly, ReadersShareTheFilesAndKeepWritersOut) {
  auto fs = ReadOnlyFiles();
  fs->SetReadOnly(false);
  auto first = Engine(fs, true), second = Engine(fs, true), writer = Engine(fs, false);
  auto a = first->Open("/d/T.dbf");
  auto b = second->Open("/d/T.dbf");
  ASSERT_TRUE(a) << first->ErrorText();
  ASSERT_TRUE(b) << second->ErrorText();
  EXPECT_FALSE(writer->Open("/d/T.dbf"));
  EXPECT_EQ(writer->ErrorCode(), xbeLocked);
  a.reset();
  b.reset();
  auto w = writer->Open("/d/T.dbf");
  ASSERT_TRUE(w) << writer->ErrorText();
  // And a writer keeps readers out.
  EXPECT_FALSE(first->Open("/d/T.dbf"));
  EXPECT_EQ(first->ErrorCode(), xbeLocked);
}

TEST(XbReadOnly, AnInterruptedCommitIsNeitherRolledBackNorReadAsIfItHadNotHappened) {
  auto fs = ReadOnlyFiles();
  const auto dbf = fs->Contents("/d/T.dbf");
  // A journal whose commit was cut off: the files may hold half of it.
  TXbJournal pending(7);
  pending.AddFile(1, dbf.size(), "/d/T.dbf");
  const std::string bytes = pending.Bytes();
  fs->SetContents("/d/DB.jnl", std::vector<unsigned char>(bytes.begin(), bytes.end()));
  auto reader = Engine(fs, true);
  EXPECT_FALSE(reader->Open("/d/T.dbf"));
  EXPECT_EQ(reader->ErrorCode(), xbeReadOnly) << reader->ErrorText();
  EXPECT_TRUE(fs->Exists("/d/DB.jnl"));
  EXPECT_EQ(fs->Contents("/d/T.dbf"), dbf);

  // A journal torn before its first record asks for nothing: the files are as the last commit left them.
  const std::string torn = bytes.substr(0, 6);
  fs->SetContents("/d/DB.jnl", std::vector<unsigned char>(torn.begin(), torn.end()));
  auto again = Engine(fs, true);
  EXPECT_TRUE(again->Open("/d/T.dbf")) << again->ErrorText();
}

TEST(XbCommitFailure, AFailedCommitSaysWhyAndNeverClaimsARollbackThatFailedToo) {
  auto fs = std::make_shared<TXbMemFileSystem>();
  auto engine = Engine(fs, false);
  auto t = engine->Create("/d/T.dbf", kFields);
  ASSERT_TRUE(t);
  ASSERT_TRUE(t->AppendStart() && t->AssignDouble(0, 1) && t->Append());
  // The journal is written (create, write, sync, folder sync); the data write fails, and so does every
  // call after it, the rollback's included.
  fs->FailFrom(fs->MutatingCalls() + 5);
  ASSERT_TRUE(t->AppendStart() && t->AssignDouble(0, 2));
  EXPECT_FALSE(t->Append());
  EXPECT_EQ(engine->ErrorCode(), xbeJournal);
  EXPECT_NE(engine->ErrorText().find("No space left on device"), std::string::npos) << engine->ErrorText();
  EXPECT_EQ(engine->ErrorText().find("they were rolled back"), std::string::npos) << engine->ErrorText();
  t.reset();
  engine.reset();

  // What the next start finds is the last commit.
  fs->Crash(false);
  auto restarted = Engine(fs, false);
  auto again = restarted->Open("/d/T.dbf");
  ASSERT_TRUE(again) << restarted->ErrorText();
  EXPECT_EQ(again->RecordCount(), 1u);
}

}  // namespace
}  // namespace vandrel

#include "storage/DbKernel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/xbase/XbMemFileSystem.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    path_ =
        fs::temp_directory_path() / ("vandrel-db-" + std::to_string(::getpid()) + "-" + std::to_string(++n_));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string str() const { return path_.string() + "/"; }
  std::set<std::string> Files() const {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(path_)) out.insert(e.path().filename().string());
    return out;
  }

 private:
  fs::path path_;
  static inline int n_ = 0;
};

// A result-like table: two numeric key columns, raw binary columns and memos.
TTable* DefineResults(TDatabase& db, const std::string& name, const std::string& folder) {
  TTable* t = db.DefineTable(name, "Result.ctb");
  t->SetPath(folder);
  auto& f = t->Fields();
  f.AddInteger("SrhNum", "", 4);
  f.AddInteger("ResNum", "", 4);
  f.AddDateTime("ResDate", "ResDt");
  f.AddShort("ResState", "");
  f.AddLong("ResWidth", "");
  f.AddString("ResTitle", "", 40);
  f.AddMemo("ResFileName", "ResFName");
  f.AddBlob("ResFieldValues", "ResFldVal");
  TIndex* x = t->Indexes().AddIndex("Primary", "ResPrim", 0);
  x->Fields().AddIndexField(f.Find("SrhNum"), true);
  x->Fields().AddIndexField(f.Find("ResNum"), true);
  return t;
}

TEST(DbKernel, FirstOpenInAnEmptyFolderCreatesExactlyTheDictionary) {
  TempDir dir;
  {
    TDatabase db;
    db.SetPath(dir.str());
    ASSERT_TRUE(db.OpenDictionary()) << db.LastErrorMessage();
    EXPECT_FALSE(db.OpenDictionary());  // already open
    ASSERT_TRUE(db.DbTable()->First());
    EXPECT_EQ(db.DbTable()->Fields().Find("DbVersion")->AsString(), "1000");
    // Every dictionary table describes itself.
    for (const char* name : {"_Db", "_Table", "_Field", "_Index", "_IndexField"}) {
      TTable* t = db.OpenDefinedTable(std::string("copy") + name, "x.dbf", true, name);
      ASSERT_NE(t, nullptr) << name;
      EXPECT_EQ(t->Fields().Count(), db.FindTable(name)->Fields().Count());
    }
    EXPECT_EQ(db.OpenDefinedTable("u", "x.dbf", false, "_Field"), nullptr);
    EXPECT_EQ(db.LastErrorCode(), dbeSystemTable);
    EXPECT_EQ(db.LastErrorMessage(), "User cannot access system tables");
    EXPECT_EQ(db.OpenDefinedTable("u", "x.dbf", true, "Nothing"), nullptr);
  }
  EXPECT_EQ(dir.Files(), (std::set<std::string>{"DB.dbf", "TBL.dbf", "FLD.dbf", "IDX.dbf", "IDXFLD.dbf"}));

  // A second start reads the same dictionary and adds no second version record.
  TDatabase db;
  db.SetPath(dir.str());
  ASSERT_TRUE(db.OpenDictionary());
  EXPECT_EQ(db.DbTable()->RecordCount(), 1u);
  TTable* idx = db.OpenDefinedTable("i", "IDXFLD.dbf", true, "_IndexField");
  ASSERT_NE(idx, nullptr);
  ASSERT_EQ(idx->Indexes().Count(), 2);
  EXPECT_EQ(idx->Indexes()[1]->KeyExpression(), "TblName + IdxName + STR(IdxfOrder, 5, 0) + FldName");
  EXPECT_TRUE(idx->Indexes()[1]->Unique());
}

TEST(DbKernel, SeekKeysAreFormattedToTheFieldWidth) {
  TDatabase db;
  TTable* t = db.DefineTable("T", "t.dbf");
  t->Fields().AddInteger("N", "", 5);
  t->Fields().AddString("S", "", 6);
  TIndex* up = t->Indexes().AddIndex("Up", "Up", 1);
  up->Fields().AddIndexField(t->Fields().Find("N"), true);
  up->Fields().AddIndexField(t->Fields().Find("S"), true);
  TIndex* down = t->Indexes().AddIndex("Down", "Down", 1);
  down->Fields().AddIndexField(t->Fields().Find("N"), false);
  EXPECT_EQ(up->KeyExpression(), "STR(N, 5, 0) + S");
  EXPECT_EQ(down->KeyExpression(), "DESCEND(N)");

  t->SelectIndex(nullptr);
  std::string key;
  EXPECT_FALSE(t->BuildKey({int64_t{42}}, 0, key));  // no index selected
  // Selecting needs an open table; set the index the way a bound table would have it.
  TempDir dir;
  t->SetPath(dir.str());
  ASSERT_TRUE(t->Create()) << db.LastErrorMessage();
  ASSERT_TRUE(t->BuildKey({int64_t{42}, std::string("ab")}, 1, key));
  EXPECT_EQ(key, "   42ab    ");
  EXPECT_TRUE(t->BuildKey({std::string("toolongvalue")}, 0, key));
  EXPECT_EQ(key, "toolongvalue");  // not cut
  EXPECT_FALSE(t->BuildKey({1.5}, 0, key));
  EXPECT_FALSE(t->BuildKey({int64_t{123456}}, 0, key));  // wider than the column
  EXPECT_FALSE(t->BuildKey({int64_t{1}}, 2, key));       // more positions than the index has
  ASSERT_TRUE(t->SelectIndex(down));
  ASSERT_TRUE(t->BuildKey({int64_t{42}}, 0, key));
  std::string expect;
  for (char c : std::string("00042")) expect += static_cast<char>(256 - static_cast<unsigned char>(c));
  EXPECT_EQ(key, expect);

  // Descending keys find their rows and order from high to low.
  for (int v : {7, 42, 300}) {
    ASSERT_TRUE(t->AppendStart());
    ASSERT_TRUE(t->Fields().Find("N")->SetAsInteger(v));
    ASSERT_TRUE(t->Append());
  }
  ASSERT_TRUE(t->Seek({int64_t{42}}, 0));
  EXPECT_EQ(t->Fields().Find("N")->AsInteger(), 42);
  ASSERT_TRUE(t->First());
  std::vector<int64_t> order;
  do order.push_back(t->Fields().Find("N")->AsInteger());
  while (t->Next());
  EXPECT_EQ(order, (std::vector<int64_t>{300, 42, 7}));
  ASSERT_TRUE(t->SelectIndex(up));
  EXPECT_FALSE(t->Seek({std::string("toolongvalue")}, 0));
}

TEST(DbKernel, TypedFieldsRoundTripAndRefuseOtherTypes) {
  TempDir dir;
  TDatabase db;
  db.SetMemoBlockSize(64);
  TTable* t = DefineResults(db, "Result1", dir.str());
  ASSERT_TRUE(t->Create()) << db.LastErrorMessage();
  auto* f = &t->Fields();
  std::string blob("\x00\x01\xff\x1a\r\n", 6);
  ASSERT_TRUE(t->AppendStart());
  EXPECT_EQ(f->Find("ResState")->AsShort(), 0);  // a new record's raw columns read as 0
  EXPECT_TRUE(f->Find("SrhNum")->SetAsInteger(3));
  EXPECT_TRUE(f->Find("ResNum")->SetAsInteger(9999));
  EXPECT_TRUE(f->Find("ResDate")->SetAsDateTime(45000.25));
  EXPECT_TRUE(f->Find("ResState")->SetAsShort(70000));  // clamped
  EXPECT_TRUE(f->Find("ResWidth")->SetAsLong(-123456));
  EXPECT_TRUE(f->Find("ResTitle")->SetAsString("  abc  "));
  EXPECT_TRUE(f->Find("ResFileName")->SetAsString("page.html"));
  EXPECT_TRUE(f->Find("ResFieldValues")->SetAsStream(blob));
  ASSERT_TRUE(t->Append()) << db.LastErrorMessage();

  ASSERT_TRUE(t->Seek({3, 9999}, 1));
  EXPECT_DOUBLE_EQ(f->Find("ResDate")->AsDateTime(), 45000.25);
  EXPECT_EQ(f->Find("ResState")->AsShort(), 32767);
  EXPECT_EQ(f->Find("ResWidth")->AsLong(), -123456);
  EXPECT_EQ(f->Find("ResTitle")->AsString(), "abc");
  EXPECT_EQ(f->Find("ResFileName")->AsString(), "page.html");
  EXPECT_EQ(f->Find("ResFieldValues")->AsStream(), blob);
  EXPECT_TRUE(f->Find("SrhNum")->AsBoolean());

  db.ClearError();
  EXPECT_EQ(f->Find("ResTitle")->AsInteger(), 0);
  EXPECT_EQ(db.LastErrorCode(), dbeWrongType);
  EXPECT_EQ(db.LastErrorMessage(), "Cannot access value: wrong data type");
  EXPECT_FALSE(f->Find("SrhNum")->SetAsString("1"));
  EXPECT_EQ(f->Find("ResFieldValues")->AsString(), "");

  // A key that does not fit its column is refused; the row is not stored and nothing unfindable appears.
  ASSERT_TRUE(t->AppendStart());
  f->Find("SrhNum")->SetAsInteger(3);
  EXPECT_FALSE(f->Find("ResNum")->SetAsInteger(10000));
  EXPECT_FALSE(t->Append());
  EXPECT_EQ(t->RecordCount(), 1u);
  EXPECT_FALSE(t->Seek({int64_t{3}, int64_t{10000}}, 1));
  // The same on a rewrite: the record keeps its old values.
  ASSERT_TRUE(t->Seek({3, 9999}, 1));
  EXPECT_FALSE(f->Find("ResNum")->SetAsInteger(12345));
  EXPECT_FALSE(t->Flush());
  ASSERT_TRUE(t->Seek({3, 9999}, 1));
}

TEST(DbKernel, TablesOpenFromTheDictionaryUnderOtherNames) {
  TempDir dir;
  TDatabase db;
  db.SetPath(dir.str());
  db.SetMemoBlockSize(64);
  ASSERT_TRUE(db.OpenDictionary());
  TTable* t = DefineResults(db, "Result", dir.str());
  ASSERT_TRUE(t->RegisterInDictionary()) << db.LastErrorMessage();
  ASSERT_TRUE(t->Create());
  for (int r = 1; r <= 3; ++r) {
    t->AppendStart();
    t->Fields().Find("SrhNum")->SetAsInteger(1);
    t->Fields().Find("ResNum")->SetAsInteger(r);
    t->Fields().Find("ResFileName")->SetAsString("f" + std::to_string(r));
    ASSERT_TRUE(t->Append());
  }
  // Re-registering a changed definition overwrites the entry in place.
  ASSERT_TRUE(t->RegisterInDictionary());

  TTable* a = db.OpenDefinedTable("Result1", dir.str() + "Result.ctb", false, "Result");
  TTable* b = db.OpenDefinedTable("Result2", dir.str() + "Result.ctb", false, "Result");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->FileName(), dir.str() + "Result.ctb");
  a->SetPath(dir.str());
  b->SetPath(dir.str());
  ASSERT_EQ(a->Fields().Count(), 8);
  EXPECT_EQ(a->Fields()[6]->DataType(), TDbDataType::dtMemo);
  EXPECT_EQ(a->Indexes()[0]->KeyExpression(), "STR(SrhNum, 4, 0) + STR(ResNum, 4, 0)");
  // Two logical tables share the one open file, each with its own position.
  db.ForgetTable("Result1");
  db.ForgetTable("Result2");
  EXPECT_EQ(db.FindTable("Result1"), nullptr);
  TTable* x = db.OpenDefinedTable("X", "Result.ctb", false, "Result");
  x->SetPath(dir.str());
  TTable* y = db.OpenDefinedTable("Y", "Result.ctb", false, "Result");
  y->SetPath(dir.str());
  ASSERT_TRUE(x->Open()) << db.LastErrorMessage();
  ASSERT_TRUE(y->Open()) << db.LastErrorMessage();
  int count = 0;
  for (bool ok = x->Seek({1}, 0); ok; ok = x->SeekNext()) ++count;
  EXPECT_EQ(count, 3);
  ASSERT_TRUE(y->Seek({int64_t{1}, int64_t{2}}, 1));
  ASSERT_TRUE(y->Delete());
  count = 0;
  for (bool ok = x->Seek({1}, 0); ok; ok = x->SeekNext()) ++count;
  EXPECT_EQ(count, 2);  // deleted rows leave every index at once
  EXPECT_FALSE(x->SetPath("/elsewhere"));
  EXPECT_EQ(db.LastErrorCode(), dbeTableOpened);
}

TEST(DbKernel, ATableThatFailsToOpenIsNeverReplaced) {
  TempDir dir;
  TDatabase db;
  db.SetMemoBlockSize(64);
  TTable* t = DefineResults(db, "Result", dir.str());
  ASSERT_TRUE(t->Create());
  t->AppendStart();
  t->Fields().Find("SrhNum")->SetAsInteger(1);
  ASSERT_TRUE(t->Append());
  t->Close();

  // One field more in the definition than in the file: the open fails and a create is refused.
  TTable* wider = DefineResults(db, "Wider", dir.str());
  wider->Fields().AddShort("Extra", "");
  EXPECT_FALSE(wider->Open());
  EXPECT_EQ(db.LastErrorCode(), dbeStructureMismatch);
  EXPECT_FALSE(wider->Create());
  EXPECT_EQ(db.LastErrorCode(), xbeExists);
  ASSERT_TRUE(t->Open());
  EXPECT_EQ(t->RecordCount(), 1u);

  // Held by another process (here: another engine): neither opened nor replaced.
  TDatabase other;
  TTable* o = DefineResults(other, "Result", dir.str());
  EXPECT_FALSE(o->Open());
  EXPECT_EQ(other.LastErrorCode(), xbeLocked);
  EXPECT_FALSE(o->Create());
  t->Close();

  // An unreadable header: moved aside under a numbered name, then a new table is created.
  {
    std::fstream f(dir.str() + "Result.ctb", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0);
    f.put('\x77');
  }
  EXPECT_FALSE(t->Open());
  EXPECT_EQ(db.LastErrorCode(), xbeDamaged);
  ASSERT_TRUE(t->Create()) << db.LastErrorMessage();
  EXPECT_EQ(t->RecordCount(), 0u);
  auto files = dir.Files();
  EXPECT_TRUE(files.count("Result.damaged-1.ctb"));
  EXPECT_TRUE(files.count("Result.damaged-1.fpt"));
}

TEST(DbKernel, DictionaryWithMissingFilesKeepsTheOthers) {
  TempDir dir;
  {
    TDatabase db;
    db.SetPath(dir.str());
    ASSERT_TRUE(db.OpenDictionary());
    TTable* t = DefineResults(db, "Result", dir.str());
    ASSERT_TRUE(t->RegisterInDictionary());
  }
  fs::remove(dir.str() + "IDX.dbf");
  TDatabase db;
  db.SetPath(dir.str());
  ASSERT_TRUE(db.OpenDictionary()) << db.LastErrorMessage();
  EXPECT_EQ(db.DbTable()->RecordCount(), 1u);
  TTable* t = db.OpenDefinedTable("R", "Result.ctb", false, "Result");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Fields().Count(), 8);

  // A dictionary file held elsewhere fails the open with -3001 and is left as it is.
  db.CloseAll();
  TDatabase holder;
  holder.SetPath(dir.str());
  ASSERT_TRUE(holder.OpenDictionary());
  TDatabase second;
  second.SetPath(dir.str());
  EXPECT_FALSE(second.OpenDictionary());
  EXPECT_EQ(second.LastErrorCode(), dbeCannotCreateDictionary);
  // The engine's reason stays with it, so a refusal can say the files are in use.
  EXPECT_EQ(second.LastCauseCode(), xbeLocked);
  EXPECT_EQ(second.LastErrorMessage().rfind("Cannot create dictionary tables: ", 0), 0u)
      << second.LastErrorMessage();
  EXPECT_NE(second.LastErrorMessage().find("DB.dbf"), std::string::npos);
}

TEST(DbKernel, PackAndMemoCompactionKeepEveryLiveMemo) {
  TempDir dir;
  TDatabase db;
  db.SetMemoBlockSize(64);
  TTable* t = DefineResults(db, "Result", dir.str());
  ASSERT_TRUE(t->Create());
  db.BeginBatch();
  for (int r = 1; r <= 50; ++r) {
    t->AppendStart();
    t->Fields().Find("SrhNum")->SetAsInteger(1);
    t->Fields().Find("ResNum")->SetAsInteger(r);
    t->Fields().Find("ResFileName")->SetAsString(std::string(static_cast<size_t>(r * 7), 'a' + r % 26));
    t->Fields().Find("ResFieldValues")->SetAsStream(std::string(static_cast<size_t>(r), '\x01'));
    ASSERT_TRUE(t->Append());
  }
  ASSERT_TRUE(db.CommitBatch());
  for (int r = 1; r <= 50; r += 2) {
    ASSERT_TRUE(t->Seek({int64_t{1}, int64_t{r}}, 1));
    // Rewriting a memo with longer text moves it; the old blocks become garbage.
    t->Fields().Find("ResFileName")->SetAsString(std::string(200, 'z'));
    ASSERT_TRUE(t->Flush());
    ASSERT_TRUE(t->Delete());
  }
  auto before = fs::file_size(dir.str() + "Result.fpt");
  ASSERT_TRUE(t->Pack(true)) << db.LastErrorMessage();
  EXPECT_LT(fs::file_size(dir.str() + "Result.fpt"), before);
  EXPECT_EQ(t->RecordCount(), 25u);
  EXPECT_EQ(t->CompactMemo(), 0);
  for (int r = 2; r <= 50; r += 2) {
    ASSERT_TRUE(t->Seek({int64_t{1}, int64_t{r}}, 1)) << r;
    EXPECT_EQ(t->Fields().Find("ResFileName")->AsString(),
              std::string(static_cast<size_t>(r * 7), 'a' + r % 26));
    EXPECT_EQ(t->Fields().Find("ResFieldValues")->AsStream(), std::string(static_cast<size_t>(r), '\x01'));
  }
  EXPECT_EQ(dir.Files(), (std::set<std::string>{"Result.ctb", "Result.fpt"}));  // no journal, no leftovers

  // Without memo fields compaction succeeds without touching any file.
  TTable* plain = db.DefineTable("Plain", "Plain.ctb");
  plain->SetPath(dir.str());
  plain->Fields().AddInteger("N", "", 4);
  ASSERT_TRUE(plain->Create());
  auto stamp = fs::last_write_time(dir.str() + "Plain.ctb");
  EXPECT_EQ(plain->CompactMemo(), 0);
  EXPECT_EQ(fs::last_write_time(dir.str() + "Plain.ctb"), stamp);
}

}  // namespace
}  // namespace vandrel

namespace vandrel {
namespace {

TEST(DbKernel, TablesReadWithoutDictionaryTakeTheirFieldsFromTheFile) {
  auto mem = std::make_shared<TXbMemFileSystem>();
  TDatabase db(mem);
  db.SetPath("/d");
  ASSERT_TRUE(db.OpenDictionary()) << db.LastErrorMessage();
  TTable* t = db.DefineTable("W", "W.dbf");
  t->SetPath("/d");
  t->Fields().AddString("Name", "", 12);
  t->Fields().AddInteger("Count", "", 6);
  t->Fields().AddMemo("Text", "");
  t->Fields().AddDateTime("When", "");
  ASSERT_TRUE(t->Create());
  t->AppendStart();
  t->Fields().Find("Name")->SetAsString("x");
  t->Fields().Find("Count")->SetAsInteger(-17);
  t->Fields().Find("Text")->SetAsString("memo");
  ASSERT_TRUE(t->Append());
  t->Close();

  TTable* raw = db.DefineTable("Raw", "W.dbf");
  raw->SetPath("/d");
  raw->SetFieldsFromFile(true);
  ASSERT_TRUE(raw->Open());
  ASSERT_EQ(raw->Fields().Count(), 4);
  EXPECT_EQ(raw->Fields()[0]->DataType(), TDbDataType::dtString);
  EXPECT_EQ(raw->Fields()[1]->DataType(), TDbDataType::dtFileNumber);
  EXPECT_EQ(raw->Fields()[2]->DataType(), TDbDataType::dtMemo);
  EXPECT_EQ(raw->Fields()[3]->DataType(), TDbDataType::dtString);
  ASSERT_TRUE(raw->First());
  EXPECT_EQ(raw->Fields().Find("COUNT")->AsInteger(), -17);
  EXPECT_EQ(raw->Fields().Find("text")->AsString(), "memo");

  // A dictionary file whose header is unreadable is moved aside and made anew; the rest is kept.
  db.CloseAll();
  auto bytes = mem->Contents("/d/TBL.dbf");
  bytes[10] = 0x7F;
  mem->SetContents("/d/TBL.dbf", bytes);
  TDatabase again(mem);
  again.SetPath("/d");
  ASSERT_TRUE(again.OpenDictionary()) << again.LastErrorMessage();
  EXPECT_TRUE(mem->Exists("/d/TBL.damaged-1.dbf"));
  EXPECT_EQ(again.DbTable()->RecordCount(), 1u);
  EXPECT_NE(again.OpenDefinedTable("f", "FLD.dbf", true, "_Field"), nullptr);
}

}  // namespace
}  // namespace vandrel

namespace vandrel {
namespace {

// A damaged memo block costs only that value: it reads as empty with the engine's error raised through
// the kernel, and the rest of the row and the following rows read as written.
TEST(DbKernel, ADamagedMemoReadsAsEmptyWithAnError) {
  auto mem = std::make_shared<TXbMemFileSystem>();
  {
    TDatabase db(mem);
    db.SetPath("/d");
    db.SetMemoBlockSize(64);
    ASSERT_TRUE(db.OpenDictionary());
    TTable* t = DefineResults(db, "Result", "/d");
    ASSERT_TRUE(t->Create());
    for (int r = 1; r <= 3; ++r) {
      t->AppendStart();
      t->Fields().Find("SrhNum")->SetAsInteger(1);
      t->Fields().Find("ResNum")->SetAsInteger(r);
      t->Fields().Find("ResTitle")->SetAsString("title " + std::to_string(r));
      t->Fields().Find("ResFileName")->SetAsString("file " + std::to_string(r));
      ASSERT_TRUE(t->Append());
    }
  }
  // The first memo block claims to run far past the end of the memo file.
  auto memo = mem->Contents("/d/Result.fpt");
  ASSERT_GT(memo.size(), 520u);
  for (int i = 4; i < 8; ++i) memo[512 + i] = 0x7F;
  mem->SetContents("/d/Result.fpt", memo);

  TDatabase db(mem);
  db.SetPath("/d");
  ASSERT_TRUE(db.OpenDictionary());
  int raised = 0;
  db.OnError = [&] { ++raised; };
  TTable* t = DefineResults(db, "Result", "/d");
  ASSERT_TRUE(t->Open());
  std::vector<std::string> titles, files;
  for (bool ok = t->Seek({1}, 0); ok; ok = t->SeekNext()) {
    titles.push_back(t->Fields().Find("ResTitle")->AsString());
    files.push_back(t->Fields().Find("ResFileName")->AsString());
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"title 1", "title 2", "title 3"}));
  EXPECT_EQ(files, (std::vector<std::string>{"", "file 2", "file 3"}));
  EXPECT_EQ(raised, 1);
  EXPECT_EQ(db.LastErrorCode(), xbeMemo);
}

}  // namespace
}  // namespace vandrel

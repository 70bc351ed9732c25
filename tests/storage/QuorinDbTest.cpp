// The shared database, the application tables and the login over numbered tables.
#include "storage/QuorinDb.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "storage/CodebaseStorage.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;

// The smallest back end: search rows and their filter blobs, nothing of its own beyond the base.
class TProbeStorage : public TCodebaseStorage {
 public:
  TProbeStorage() : TCodebaseStorage("Probe", {"Search", "SearchFilterManagersData"}) {}
  bool AddItems(const TBytes&) override { return false; }
  bool UpdateItems(const TBytes&, int) override { return false; }
  bool LoadItems(const TBytes&, TBytes&) override { return false; }
  bool DeleteItems(const TBytes&) override { return false; }
  bool DeleteAllItems(const TBytes&) override { return false; }
  bool SetItemsField(const TBytes&, const TDynamicValue&) override { return false; }

  using TCodebaseStorage::ReadBlobRow;
  using TCodebaseStorage::StoreBlobRow;
  using TCodebaseStorage::Table;
};

class QuorinDb : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vandrel-qdb-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "history");
    folder_ = dir_.string() + "/";
  }
  void TearDown() override { fs::remove_all(dir_); }

  TBytes LoginInfo(const std::string& data) const {
    TCodebaseStorageLoginInfo info;
    info.SystemPath = folder_;
    info.DataPath = data;
    TBytes out;
    info.SaveToStream(out);
    return out;
  }
  std::set<std::string> Files(const fs::path& dir) const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.is_regular_file()) names.insert(e.path().filename().string());
    return names;
  }

  fs::path dir_;
  std::string folder_;
};

TEST_F(QuorinDb, EveryTableHasOneUniquePrimaryIndexOverItsOwnColumns) {
  ASSERT_EQ(SchemaTables().size(), 15u);
  for (const auto& t : SchemaTables()) {
    auto db = TQuorinDb::Acquire();
    TTable* table = db->DefineTable(t.DictionaryName, t.FileName);
    DefineSchemaTable(*table, t);
    ASSERT_EQ(table->Indexes().Count(), 1) << t.DictionaryName;
    TIndex* x = table->Indexes()[0];
    EXPECT_EQ(x->Name(), "Primary");
    EXPECT_TRUE(x->Unique());
    EXPECT_EQ(x->Fields().Count(), static_cast<int>(t.IndexFields.size())) << t.DictionaryName;
    db->ForgetTable(t.DictionaryName);
  }
  auto db = TQuorinDb::Acquire();
  TTable* result = db->DefineTable("Result", "Result.ctb");
  DefineSchemaTable(*result, *FindSchemaTable("result"));
  EXPECT_EQ(result->Indexes()[0]->KeyExpression(), "STR(SrhNum, 4, 0) + STR(ResNum, 4, 0)");
  TTable* search = db->DefineTable("Search", "Search.ctb");
  DefineSchemaTable(*search, *FindSchemaTable("Search"));
  EXPECT_EQ(search->Indexes()[0]->KeyExpression(), "SrhNum");
  EXPECT_EQ(search->Fields().Find("SrhSearchValues")->DataType(), TDbDataType::dtBlob);
  EXPECT_EQ(search->Fields().Find("SrhMatches")->DataType(), TDbDataType::dtShort);
}

TEST_F(QuorinDb, FirstLoginCreatesTheDictionaryAndItsOwnTablesOnly) {
  {
    TProbeStorage probe;
    ASSERT_TRUE(probe.Login(LoginInfo(folder_ + "history")));
    EXPECT_TRUE(TQuorinDb::Exists());
    EXPECT_EQ(probe.Database()->MemoBlockSize(), 64);
  }
  EXPECT_FALSE(TQuorinDb::Exists());  // the last logout destroys the shared database
  EXPECT_EQ(Files(dir_), (std::set<std::string>{"DB.dbf", "TBL.dbf", "FLD.dbf", "IDX.dbf", "IDXFLD.dbf"}));
  EXPECT_EQ(Files(dir_ / "history"),
            (std::set<std::string>{"Search.ctb", "Search.fpt", "Sfm.ctb", "Sfm.fpt"}));

  // The dictionary describes itself only: numbered logical names never equal a dictionary name.
  TDatabase db;
  db.SetPath(folder_);
  ASSERT_TRUE(db.OpenDictionary());
  EXPECT_EQ(db.TableTable()->RecordCount(), 5u);
  ASSERT_TRUE(db.DbTable()->First());
  EXPECT_EQ(db.DbTable()->Fields().Find("DbVersion")->AsString(), "1000");
}

TEST_F(QuorinDb, TwoLoginsOfOneKindUseTheirOwnNumbersOverTheSameFiles) {
  TProbeStorage a, b;
  ASSERT_TRUE(a.Login(LoginInfo(folder_)));
  ASSERT_TRUE(b.Login(LoginInfo(folder_)));
  EXPECT_EQ(b.LoginNumber(), a.LoginNumber() + 1);
  EXPECT_EQ(a.TableNames()[0], "Search" + std::to_string(a.LoginNumber()));
  EXPECT_EQ(b.TableNames()[1], "Sfm" + std::to_string(b.LoginNumber()));
  EXPECT_EQ(a.Database(), b.Database());

  // What one writes, the other reads: one file object under both handles.
  ASSERT_TRUE(a.StoreBlobRow(a.Table(1), 1, "SfmData", TBytes{1, 2, 3}));
  EXPECT_EQ(b.ReadBlobRow(b.Table(1), 1, "SfmData"), (TBytes{1, 2, 3}));
  ASSERT_TRUE(b.StoreBlobRow(b.Table(1), 1, "SfmData", TBytes{4}));
  EXPECT_EQ(a.ReadBlobRow(a.Table(1), 1, "SfmData"), (TBytes{4}));
  EXPECT_EQ(a.Table(1)->RecordCount(), 1u);  // replaced, not appended
}

TEST_F(QuorinDb, KeysBeyondFourDigitsAreRefusedInsteadOfStoredUnfindable) {
  TProbeStorage probe;
  ASSERT_TRUE(probe.Login(LoginInfo(folder_)));
  EXPECT_TRUE(probe.StoreBlobRow(probe.Table(1), 9999, "SfmData", TBytes{9}));
  EXPECT_FALSE(probe.StoreBlobRow(probe.Table(1), 10000, "SfmData", TBytes{9}));
  EXPECT_FALSE(probe.StoreBlobRow(probe.Table(1), -1, "SfmData", TBytes{9}));
  EXPECT_EQ(probe.Table(1)->RecordCount(), 1u);
  EXPECT_EQ(probe.ReadBlobRow(probe.Table(1), 9999, "SfmData"), (TBytes{9}));
  EXPECT_TRUE(probe.ReadBlobRow(probe.Table(1), 10000, "SfmData").empty());
}

TEST_F(QuorinDb, ATableThatExistsButCannotBeOpenedFailsTheLoginAndStaysUntouched) {
  // Another structure under the search table's name.
  {
    TDatabase other;
    other.SetPath(folder_);
    TTable* t = other.DefineTable("Odd", "Search.ctb");
    t->SetPath(folder_);
    t->Fields().AddString("Something", "", 10);
    ASSERT_TRUE(t->Create());
    ASSERT_TRUE(t->AppendStart());
    ASSERT_TRUE(t->Fields()[0]->SetAsString("keep me"));
    ASSERT_TRUE(t->Append());
  }
  auto before = fs::file_size(dir_ / "Search.ctb");
  int firstNumber;
  {
    TProbeStorage probe;
    EXPECT_FALSE(probe.Login(LoginInfo(folder_)));
    EXPECT_FALSE(probe.LoggedIn());
    firstNumber = TQuorinDb::TakeLoginNumber("Probe");
    TQuorinDb::GiveBackLoginNumber("Probe");
  }
  EXPECT_EQ(fs::file_size(dir_ / "Search.ctb"), before);
  {
    TProbeStorage probe;
    EXPECT_FALSE(probe.Login(LoginInfo(folder_)));
  }
  // A failed login gives its number back.
  EXPECT_EQ(TQuorinDb::TakeLoginNumber("Probe"), firstNumber);
  TQuorinDb::GiveBackLoginNumber("Probe");

  // Held by another open file: refused as well, never replaced.
  fs::remove(dir_ / "Search.ctb");
  {
    TProbeStorage probe;
    ASSERT_TRUE(probe.Login(LoginInfo(folder_)));
  }
  int fd = ::open((dir_ / "Sfm.ctb").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  auto sfmBefore = fs::file_size(dir_ / "Sfm.ctb");
  {
    TProbeStorage probe;
    EXPECT_FALSE(probe.Login(LoginInfo(folder_)));
  }
  ::close(fd);
  EXPECT_EQ(fs::file_size(dir_ / "Sfm.ctb"), sfmBefore);
}

TEST_F(QuorinDb, MissingEmptyOrUnreadableTablesAreMadeAfreshKeepingTheUnreadableAside) {
  { std::ofstream(dir_ / "Search.ctb"); }                                  // empty
  { std::ofstream(dir_ / "Sfm.ctb") << "not a table at all, just text"; }  // unreadable header
  TProbeStorage probe;
  ASSERT_TRUE(probe.Login(LoginInfo(folder_)));
  EXPECT_TRUE(probe.StoreBlobRow(probe.Table(1), 1, "SfmData", TBytes{1}));
  bool keptAside = false;
  for (const auto& name : Files(dir_)) {
    if (name != "Sfm.ctb" && name.rfind("Sfm", 0) == 0 && name.find(".ctb") != std::string::npos) {
      std::ifstream in(dir_ / name);
      std::string text((std::istreambuf_iterator<char>(in)), {});
      keptAside = text == "not a table at all, just text";
    }
  }
  EXPECT_TRUE(keptAside);
}

}  // namespace
}  // namespace vandrel

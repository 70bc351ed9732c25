// Files written by the kernel, read back by independent xBase readers (dbfread, pgdbf).
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "storage/DbKernel.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;

std::string Capture(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) return out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe.get())) > 0) out.append(buf.data(), n);
  return out;
}

class DbKernelIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vandrel-oracle-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    folder_ = dir_.string() + "/";
    db_.SetPath(folder_);
    db_.SetMemoBlockSize(64);
    ASSERT_TRUE(db_.OpenDictionary()) << db_.LastErrorMessage();
    TTable* t = db_.DefineTable("Category", "Category.ctb");
    t->SetPath(folder_);
    t->Fields().AddString("CatName", "", 50);
    t->Fields().AddInteger("CatPriority", "CatPriorityLong", 4);  // physical name cut to 10
    t->Fields().AddFlag("CatEnabled", "");
    t->Fields().AddMemo("CatDescription", "CatDescr");
    t->Fields().AddBlob("CatData", "");
    t->Indexes().AddIndex("Primary", "CatPrim", 0)->Fields().AddIndexField(t->Fields().Find("CatName"), true);
    ASSERT_TRUE(t->RegisterInDictionary());
    ASSERT_TRUE(t->Create());
    struct {
      const char* Name;
      int Priority;
      bool Enabled;
      std::string Memo;
    } rows[] = {{"books", 7, true, "Books and more"},
                {"music", -12, false, std::string(300, 'm')},
                {"films", 9999, true, ""},
                {"gone", 1, true, "deleted"}};
    db_.BeginBatch();
    for (const auto& r : rows) {
      t->AppendStart();
      t->Fields().Find("CatName")->SetAsString(r.Name);
      t->Fields().Find("CatPriority")->SetAsInteger(r.Priority);
      t->Fields().Find("CatEnabled")->SetAsBoolean(r.Enabled);
      t->Fields().Find("CatDescription")->SetAsString(r.Memo);
      t->Fields().Find("CatData")->SetAsStream(std::string("\x01\x02\x00\xff", 4));
      ASSERT_TRUE(t->Append());
    }
    ASSERT_TRUE(db_.CommitBatch());
    ASSERT_TRUE(t->Seek({std::string("gone")}, 0));
    ASSERT_TRUE(t->Delete());
    db_.CloseAll();
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  std::string folder_;
  TDatabase db_;
};

TEST_F(DbKernelIntegration, DbfreadReadsTablesAndMemos) {
  // The system interpreter: that is where the distribution's dbfread lives.
  std::string script =
      "import dbfread, sys\n"
      "t = dbfread.DBF(sys.argv[1] + 'Category.ctb', encoding='latin1', load=True)\n"
      "print([f.name for f in t.fields])\n"
      "for r in t.records: print(r['CATNAME'], r['CATPRIORIT'], r['CATENABLED'], repr(r['CATDESCR'])[:40],"
      " bytes(r['CATDATA']).hex())\n"
      "print('deleted', len(t.deleted))\n"
      "for r in dbfread.DBF(sys.argv[1] + 'TBL.dbf', load=True).records: print('TBL', r['TBLNAME'], "
      "r['TBLORDER'])\n"
      "for r in dbfread.DBF(sys.argv[1] + 'DB.dbf', load=True).records: print('DB', r['DBVERSION'])\n";
  std::string file = folder_ + "read.py";
  {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(file.c_str(), "w"), std::fclose);
    std::fputs(script.c_str(), f.get());
  }
  std::string out = Capture("/usr/bin/python3 " + file + " " + folder_ + " 2>&1");
  EXPECT_NE(out.find("['CATNAME', 'CATPRIORIT', 'CATENABLED', 'CATDESCR', 'CATDATA']"), std::string::npos)
      << out;
  EXPECT_NE(out.find("books 7 1 'Books and more' 010200ff"), std::string::npos) << out;
  EXPECT_NE(out.find("music -12 0 'mmmmmmm"), std::string::npos) << out;
  EXPECT_NE(out.find("films 9999 1 None 010200ff"), std::string::npos) << out;
  EXPECT_NE(out.find("deleted 1"), std::string::npos) << out;
  EXPECT_EQ(out.find("gone"), std::string::npos) << out;
  EXPECT_NE(out.find("TBL Category 5"), std::string::npos) << out;
  EXPECT_NE(out.find("TBL _IndexField 4"), std::string::npos) << out;
  EXPECT_NE(out.find("DB 1000"), std::string::npos) << out;
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;
}

TEST_F(DbKernelIntegration, PgdbfReadsTablesAndMemos) {
  std::string out = Capture("pgdbf -m " + folder_ + "Category.fpt " + folder_ + "Category.ctb 2>&1");
  EXPECT_NE(out.find("CREATE TABLE"), std::string::npos) << out;
  EXPECT_NE(out.find("catpriorit"), std::string::npos) << out;
  EXPECT_NE(out.find("books\t7\t1\tBooks and more"), std::string::npos) << out;
  EXPECT_NE(out.find("music\t-12\t0\t" + std::string(300, 'm')), std::string::npos) << out;
  EXPECT_NE(out.find("films\t9999\t1\t"), std::string::npos) << out;
  EXPECT_EQ(out.find("gone"), std::string::npos) << out;
  std::string dict = Capture("pgdbf " + folder_ + "FLD.dbf 2>&1");
  EXPECT_NE(dict.find("Category\tCatPriority\tCatPriorit\t1\t6\t4\t0"), std::string::npos) << dict;
}

}  // namespace
}  // namespace vandrel

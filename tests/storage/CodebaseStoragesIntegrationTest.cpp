// Tables and memos written by the back ends, read back by independent xBase readers (dbfread, pgdbf).
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "storage/CategoryStorage.h"
#include "storage/CodebaseStorageManager.h"
#include "storage/ResultStorage.h"
#include "storage/SearchStorage.h"
#include "storage/SearchTypeStorage.h"

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

class CodebaseStoragesIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vandrel-cbsi-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "Compare");
    history_ = (dir_ / "Compare").string() + "/";
    TCodebaseStorageManager manager(dir_.string());
    ASSERT_TRUE(manager.Open());
    auto login = [&](TStorageDataList& list, const char* classId, bool history) {
      ASSERT_TRUE(list.AttachStorage(classId));
      if (history) {
        list.OnBeforeLogin = [this](TStorageDataList*, TStorageLoginInfo* info) {
          static_cast<TCodebaseStorageLoginInfo*>(info)->DataPath = history_;
        };
      }
      list.AddObserver(&manager);
      ASSERT_TRUE(list.Login(TCodebaseStorageLoginInfo::StaticClass()));
    };
    TCategoryStorageList cats;
    login(cats, kCategoryStorageCodebase, false);
    cats.BeginTransaction(lsAdding);
    TCategoryStorageItem* c = cats.NewCategory();
    c->CatName = "books";
    c->Description = "Paper and ink";
    c->Priority = 3;
    c->LastUpdateDate = 1.5;
    c->LastSearchDate = 2.5;
    cats.EndTransaction();

    TSearchStorageList searches;
    login(searches, kSearchStorageCodebase, true);
    ASSERT_TRUE(searches.Load());
    searches.BeginTransaction(lsAdding);
    TSearchStorageItem* s = searches.NewSearch();
    s->Notes = "keep";
    s->Engines.Lines = {"one", "two"};
    s->MatchCount = 3;
    searches.EndTransaction();

    TResultStorageList results;
    login(results, kResultStorageCodebase, true);
    results.OutputFieldDefinitions().AddOutput("Title", TStorageFieldType::ftString);
    ASSERT_TRUE(results.LoadSearch(s->Index()));
    results.BeginTransaction(lsAdding);
    TResultStorageItem* r = results.NewResult();
    r->ResultFields()->AddResultField("Title", TDynamicValue("Dune"), "Dune");
    r->FoundBy.Lines = {"beta", "alpha"};
    r->FileName = "page.htm";
    results.EndTransaction();
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  std::string history_;
};

// Every row of every ".ctb" table in `folders` as read by dbfread, one line per row. Character fields
// come back raw, so the binary short, long and date columns can be checked too.
std::string ReadWithDbfread(const fs::path& scratch, const std::vector<std::string>& folders) {
  std::string script =
      "import dbfread, sys, os, struct\n"
      "class Raw(dbfread.FieldParser):\n"
      "  def parseC(self, field, data): return data\n"
      "def show(v):\n"
      "  if isinstance(v, bytes) and len(v) == 2: return 'short:%d' % struct.unpack('<h', v)[0]\n"
      "  if isinstance(v, bytes) and len(v) == 8 and v != b' ' * 8: return 'date:%g' % struct.unpack('<d', "
      "v)[0]\n"
      "  if isinstance(v, bytes) and (b'\\x00' in v or b'\\x01' in v): return v.hex()\n"
      "  if isinstance(v, bytes): return v.rstrip(b' ').decode('latin1')\n"
      "  return repr(v)\n"
      "for folder in sys.argv[1:]:\n"
      "  for name in sorted(os.listdir(folder)):\n"
      "    if not name.endswith('.ctb'): continue\n"
      "    t = dbfread.DBF(folder + name, parserclass=Raw, recfactory=list, load=True)\n"
      "    for r in t.records: print(name, ' '.join('%s=%s' % (k, show(v)) for k, v in r))\n";
  std::string file = (scratch / "read.py").string();
  {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(file.c_str(), "w"), std::fclose);
    std::fputs(script.c_str(), f.get());
  }
  std::string command = "/usr/bin/python3 " + file;
  for (const auto& folder : folders) command += " " + folder;
  return Capture(command + " 2>&1");
}

TEST_F(CodebaseStoragesIntegration, DbfreadReadsEveryTableAndMemo) {
  std::string out = ReadWithDbfread(dir_, {dir_.string() + "/", history_});
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;
  EXPECT_NE(out.find("Category.ctb CATNAME=books"), std::string::npos) << out;
  EXPECT_NE(out.find("CATDESCR='Paper and ink'"), std::string::npos) << out;
  EXPECT_NE(out.find("CATPRIORIT=short:3"), std::string::npos) << out;
  EXPECT_NE(out.find("CATLSTUPDD=date:1.5 CATLSTUPDD=date:2.5"), std::string::npos) << out;
  EXPECT_NE(out.find("Search.ctb SRHNUM=1 "), std::string::npos) << out;
  EXPECT_NE(out.find("SRHMATCH=short:3"), std::string::npos) << out;
  EXPECT_NE(out.find("SRHNOTES='keep'"), std::string::npos) << out;
  EXPECT_NE(out.find("SRHENGINES='one\\r\\ntwo'"), std::string::npos) << out;
  // The result blob: present, length 4, "Dune", display length 0.
  EXPECT_NE(out.find("Result.ctb SRHNUM=1 RESNUM=1 "), std::string::npos) << out;
  EXPECT_NE(out.find("RESFNAME='page.htm' RESFLDVAL=010400000044756e6500000000"), std::string::npos) << out;
  EXPECT_NE(out.find("RChannel.ctb SRHNUM=1 RESNUM=1 ENGNAME=alpha"), std::string::npos) << out;
  EXPECT_NE(out.find("RChannel.ctb SRHNUM=1 RESNUM=1 ENGNAME=beta"), std::string::npos) << out;
  EXPECT_NE(out.find("Rfm.ctb SRHNUM=1"), std::string::npos) << out;
  EXPECT_NE(out.find("Sfm.ctb SFMNUM=1"), std::string::npos) << out;
}

TEST_F(CodebaseStoragesIntegration, PgdbfReadsEveryTableAndMemo) {
  int tables = 0;
  for (const auto& folder : {dir_, dir_ / "Compare"}) {
    for (const auto& e : fs::directory_iterator(folder)) {
      if (e.path().extension() != ".ctb") continue;
      ++tables;
      fs::path memo = e.path();
      memo.replace_extension(".fpt");
      std::string command =
          "pgdbf " + (fs::exists(memo) ? "-m " + memo.string() + " " : "") + e.path().string();
      std::string out = Capture(command + " 2>&1; echo status=$?");
      EXPECT_NE(out.find("CREATE TABLE"), std::string::npos) << command << "\n" << out;
      EXPECT_NE(out.find("status=0"), std::string::npos) << command << "\n" << out;
      std::string name = e.path().filename().string();
      std::string expected = name == "Search.ctb"     ? "keep"
                             : name == "Category.ctb" ? "books\t\tPaper and ink"
                             : name == "Result.ctb"   ? "page.htm"
                             : name == "RChannel.ctb" ? "1\t1\talpha"
                                                      : "";
      EXPECT_NE(out.find(expected), std::string::npos) << out;
    }
  }
  EXPECT_EQ(tables,
            8);  // category, engine-less: Category; history: Search, Sfm, Sgm, Result, Rfm, Rgm, RChannel
}

TEST(CodebaseStoragesOracle, InputFieldLayoutColumnsHoldZeroNotBlanks) {
  fs::path dir = fs::temp_directory_path() / ("vandrel-cbso-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  {
    TCodebaseStorageManager manager(dir.string());
    ASSERT_TRUE(manager.Open());
    TSearchTypeStorageList types;
    ASSERT_TRUE(types.AttachStorage(kSearchTypeStorageCodebase));
    types.AddObserver(&manager);
    ASSERT_TRUE(types.Login(TCodebaseStorageLoginInfo::StaticClass()));
    ASSERT_TRUE(types.Load());
    types.BeginTransaction(lsAdding);
    TSearchTypeStorageItem* t = types.NewSearchType();
    t->SrtName = "books";
    t->InputFieldDefinitions.AddInput("Author", TStorageFieldType::ftString);
    types.EndTransaction();
  }
  std::string out = ReadWithDbfread(dir, {dir.string() + "/"});
  EXPECT_NE(out.find("Sif.ctb SRTNAME=books SIFNUM=1 SIFNAME=Author"), std::string::npos) << out;
  EXPECT_NE(out.find("SIFLAYPOS=short:0 SIFLAYWID=00000000 SIFLAYALIG=short:0 SIFLAYFLG=short:0"),
            std::string::npos)
      << out;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace vandrel

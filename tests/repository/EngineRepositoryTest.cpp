#include "search/QuorinEngineRepository.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "DataFolderUtil.h"
#include "engines/SearchTypeCompiler.h"
#include "storage/PropertyStream.h"
#include "storage/StorageDataViews.h"

namespace vandrel {
namespace {

using testing::TDataFolder;

const char* kBooksType =
    "DisplayName = \"Books\"\nAddInputField(\"Keywords\")\nf = AddOutputField(\"title\")\n"
    "f = AddOutputField(\"price\")\nf.datatype = DT_MONEY\nAddSortKey \"price\", SK_ASCENDING\n"
    "UniqueKey = \"title\"\nSearchFrame = \"BookSearch\"";

std::string CategoryBody(const std::string& displayName, int priority = 1) {
  return "DisplayName = \"" + displayName + "\"\nPriority = " + std::to_string(priority) +
         "\nSearchType = \"books\"\nResultsPerEngine = 20\nTotalResults = 100";
}

std::string EngineBody(const std::string& displayName, bool enabled = true) {
  return "DisplayName = \"" + displayName +
         "\"\nHomePage = \"http://shop.test/\"\nEnabled = " + (enabled ? "True" : "False") +
         "\nUserName = \"guest\"";
}

// An engine table kept in memory the way a database back end keeps it: one row per engine, by category.
class TEngineTable : public IStorageManager {
 public:
  struct TRow {
    std::string CatName;
    int32_t Key;
    TBytes Properties;
  };
  std::vector<TRow> Rows;
  std::vector<std::string> Ops;
  IStorageProgress* Sink = nullptr;

  size_t RowsOf(const std::string& category) const {
    return static_cast<size_t>(
        std::count_if(Rows.begin(), Rows.end(), [&](const TRow& r) { return r.CatName == category; }));
  }
  bool Login(const TBytes&) override { return true; }
  void Logout() override {}
  bool AddItems(const TBytes& items) override {
    TEngineStorageTransactionList t;
    ReadObjectStream(items, t);
    for (size_t i = 0; i < t.Count(); ++i)
      if (auto* engine = t.ItemAs<TEngineStorageItem>(i)) {
        TRow row{t.CatName, engine->Index(), {}};
        WritePropertyList(row.Properties, *engine);
        Rows.push_back(std::move(row));
      }
    if (Sink) Sink->Progress(50);
    Ops.push_back("add " + t.CatName);
    return true;
  }
  bool UpdateItems(const TBytes&, int) override { return false; }
  bool LoadItems(const TBytes& selection, TBytes& result) override {
    TEngineStorageTransactionList s, r;
    ReadObjectStream(selection, s);
    r.CatName = s.CatName;
    for (const TRow& row : Rows)
      if (row.CatName == s.CatName) {
        auto engine = std::make_unique<TEngineStorageItem>();
        ReadPropertyList(row.Properties, *engine);
        r.Add(std::move(engine));
      }
    WriteObjectStream(result, r);
    Ops.push_back("load " + s.CatName);
    return true;
  }
  bool DeleteItems(const TBytes&) override { return false; }
  bool DeleteAllItems(const TBytes& selection) override {
    TEngineStorageTransactionList s;
    ReadObjectStream(selection, s);
    std::erase_if(Rows, [&](const TRow& r) { return r.CatName == s.CatName; });
    Ops.push_back("deleteAll " + s.CatName);
    return true;
  }
  bool SetItemsField(const TBytes&, const TDynamicValue&) override { return false; }
  bool GetNextKey(const TBytes&, int32_t& key) override {
    key = 0;
    for (const TRow& row : Rows) key = std::max(key, row.Key + 1);
    return true;
  }
  bool EmptyStorage() override {
    Rows.clear();
    return true;
  }
  bool Compact() override { return true; }
  IStorageProgress* GetProgress() override { return Sink; }
  void SetProgress(IStorageProgress* progress) override { Sink = progress; }
};

class EngineRepositoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Data.WriteCompiledSearchType("books.cst", kBooksType, 1));
    ASSERT_TRUE(Data.WriteCompiledEngine("buybooks.cca", CategoryBody("Books"), 1));
    ASSERT_TRUE(Data.WriteCompiledEngine("reviewbooks.cca", CategoryBody("Book reviews"), 1));
    ASSERT_TRUE(Data.WriteCompiledEngine("buybooks/bookbarn.cen", EngineBody("Book Barn"), 1));
    ASSERT_TRUE(Data.WriteCompiledEngine("buybooks/linkmart.cen", EngineBody("Link Mart", false), 1));
    Repository.SetDataFolder(Data.Path());
  }

  TEngineStorageList& Engines(const std::string& category) {
    TEngineStorageList* list = Repository.EngineLists().EngineList(category);
    EXPECT_NE(list, nullptr);
    return *list;
  }
  TEngineStorageItem* Engine(const std::string& category, const std::string& name) {
    return static_cast<TEngineStorageItem*>(Engines(category).FindByName(name));
  }
  TCategoryStorageItem* Category(const std::string& name) { return Repository.Categories().FindByName(name); }

  std::vector<int> Refresh(TQuorinUpdateReport* report = nullptr) {
    std::vector<int> progress;
    Repository.Refresh(report, [&progress](int p) { progress.push_back(p); });
    return progress;
  }

  TDataFolder Data;
  TEngineRepository Repository;
};

TEST_F(EngineRepositoryTest, FirstRefreshBuildsTheCatalogueWithDefaults) {
  std::vector<int> progress = Refresh();
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front(), 0);
  EXPECT_EQ(progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

  ASSERT_EQ(Repository.SearchTypes().Count(), 1u);
  auto* books = Repository.SearchTypes().FindByName("books");
  ASSERT_NE(books, nullptr);
  EXPECT_EQ(books->Version, 1);
  EXPECT_EQ(books->DisplayName, "Books");
  EXPECT_EQ(books->SearchFrame, "booksearch");
  EXPECT_EQ(books->UniqueKey, "title");
  ASSERT_EQ(books->OutputFieldDefinitions.Count(), 2u);
  EXPECT_EQ(books->OutputFieldDefinitions.Output(1)->FieldType, TStorageFieldType::ftMoney);
  ASSERT_EQ(books->SortKeys.Count(), 1u);

  ASSERT_EQ(Repository.Categories().Count(), 2u);
  TCategoryStorageItem* buy = Category("buybooks");
  ASSERT_NE(buy, nullptr);
  EXPECT_EQ(buy->DisplayName, "Books");
  EXPECT_EQ(buy->SrtName, "books");
  EXPECT_EQ(buy->FileName, "buybooks.cca");
  // A new category starts with its defaults as the user's limits.
  EXPECT_EQ(buy->ResultsPerEngine, 20);
  EXPECT_EQ(buy->TotalResults, 100);

  ASSERT_EQ(Engines("buybooks").Count(), 2u);
  EXPECT_EQ(Engines("reviewbooks").Count(), 0u);
  TEngineStorageItem* barn = Engine("buybooks", "bookbarn");
  ASSERT_NE(barn, nullptr);
  EXPECT_EQ(barn->Version, 1);
  EXPECT_EQ(barn->DisplayName, "Book Barn");
  EXPECT_TRUE(barn->Enabled);
  EXPECT_EQ(barn->DefaultUserName, "guest");
  EXPECT_EQ(barn->UserName, "");  // no credentials until the user gives some
  TEngineStorageItem* mart = Engine("buybooks", "linkmart");
  ASSERT_NE(mart, nullptr);
  EXPECT_FALSE(mart->Enabled);  // from its default

  // The cached list shows its engines by display name.
  TStorageDataListView& sorted = TEngineListCache::Sorted(Engines("buybooks"));
  ASSERT_EQ(sorted.Count(), 2u);
  EXPECT_EQ(static_cast<TEngineStorageItem*>(sorted.Item(0))->EngName, "bookbarn");

  // Nothing differs any more.
  TQuorinUpdateReport again;
  Repository.MakeDiskReport(again);
  EXPECT_EQ(again.Count(), 0u);
}

TEST_F(EngineRepositoryTest, ChangedDefinitionsKeepTheUsersSettings) {
  Refresh();
  TEngineStorageItem* barn = Engine("buybooks", "bookbarn");
  barn->Enabled = false;
  barn->UserName = "me";
  barn->Password = "secret";
  TCategoryStorageItem* buy = Category("buybooks");
  buy->ResultsPerEngine = 7;
  buy->Enabled = false;

  ASSERT_TRUE(Data.WriteCompiledEngine("buybooks/bookbarn.cen", EngineBody("Book Barn II"), 2));
  ASSERT_TRUE(Data.WriteCompiledEngine("buybooks.cca", CategoryBody("All books"), 2));
  TQuorinUpdateReport report;
  Repository.MakeDiskReport(report);
  ASSERT_EQ(report.Count(), 2u);
  Refresh();

  barn = Engine("buybooks", "bookbarn");
  ASSERT_NE(barn, nullptr);
  EXPECT_EQ(barn->Version, 2);
  EXPECT_EQ(barn->DisplayName, "Book Barn II");
  EXPECT_FALSE(barn->Enabled);
  EXPECT_EQ(barn->UserName, "me");
  EXPECT_EQ(barn->Password, "secret");
  buy = Category("buybooks");
  EXPECT_EQ(buy->Version, 2);
  EXPECT_EQ(buy->DisplayName, "All books");
  EXPECT_EQ(buy->ResultsPerEngine, 7);
  EXPECT_FALSE(buy->Enabled);
}

TEST_F(EngineRepositoryTest, RemovedAndDamagedDefinitionsLeaveTheCatalogue) {
  Refresh();
  Data.Remove("buybooks/linkmart.cen");
  Data.WriteText("buybooks/broken.cen", "Procedure Register\nIf\nEndProcedure\n");  // does not compile
  ASSERT_TRUE(Data.WriteCompiledEngine("buybooks/newshop.cen", EngineBody("New Shop"), 1));
  Refresh();
  EXPECT_EQ(Engine("buybooks", "linkmart"), nullptr);
  EXPECT_EQ(Engine("buybooks", "broken"), nullptr);
  EXPECT_NE(Engine("buybooks", "newshop"), nullptr);
  EXPECT_EQ(Engines("buybooks").Count(), 2u);

  // A known engine that no longer loads is dropped as well.
  Data.WriteText("buybooks/bookbarn.cen", "garbage that is no script");
  std::string compiled = test::ReadWholeFile(Data.Path() + "buybooks/newshop.cen");
  Data.WriteText("buybooks/newshop.cen", compiled.substr(0, 12));  // cut short inside its header
  Refresh();
  EXPECT_EQ(Engines("buybooks").Count(), 0u);

  // Deleting a category file removes the category and every engine of it.
  ASSERT_TRUE(Data.WriteCompiledEngine("buybooks/bookbarn.cen", EngineBody("Book Barn"), 3));
  Refresh();
  ASSERT_EQ(Engines("buybooks").Count(), 1u);
  Data.Remove("buybooks.cca");
  Refresh();
  EXPECT_EQ(Category("buybooks"), nullptr);
  EXPECT_EQ(Repository.Categories().Count(), 1u);
  EXPECT_EQ(Engines("buybooks").Count(), 0u);
  EXPECT_EQ(Repository.EngineLists().Template().Count(), 0u);
}

TEST_F(EngineRepositoryTest, ReportItemsOfARemovedCategoryFindNothingToTouch) {
  Refresh();
  // An update may remove a category and still name its engines; the engines go with the category.
  TQuorinUpdateReport report;
  report.AddChanged(ukEngine, *Engine("buybooks", "bookbarn"), "buybooks");
  report.AddRemoved(ukEngine, *Engine("buybooks", "linkmart"), "buybooks");
  report.AddRemoved(ukCategory, *Category("buybooks"));
  report.AddAdded(ukEngine, "buybooks/newshop");
  Refresh(&report);
  EXPECT_EQ(Category("buybooks"), nullptr);
  EXPECT_EQ(Engines("buybooks").Count(), 0u);
  EXPECT_EQ(Category("reviewbooks")->CatName, "reviewbooks");
}

TEST_F(EngineRepositoryTest, FullRebuildStartsFromEmptyLists) {
  Refresh();
  Engine("buybooks", "bookbarn")->Enabled = false;
  TQuorinUpdateReport report;
  report.FullRebuild = true;
  report.AddAdded(ukSearchType, "books");
  report.AddAdded(ukCategory, "buybooks");
  report.AddAdded(ukEngine, "buybooks/bookbarn");
  Refresh(&report);
  EXPECT_EQ(Repository.Categories().Count(), 1u);
  ASSERT_EQ(Engines("buybooks").Count(), 1u);
  EXPECT_TRUE(Engine("buybooks", "bookbarn")->Enabled);  // a rebuilt engine starts from its defaults
}

TEST_F(EngineRepositoryTest, ConstantsReachSearchTypeScripts) {
  ASSERT_TRUE(Data.WriteCompiledEngine("constants.ccs", "Global BOOKS_NAME = \"Livres\"", 1));
  // Saving runs the script too, so the name must exist then as well.
  TVariableList saving;
  saving.SetString("BOOKS_NAME", "");
  ASSERT_TRUE(Data.WriteCompiledSearchType("books.cst", "DisplayName = BOOKS_NAME", 2, &saving));
  Refresh();
  EXPECT_EQ(Repository.Constants().GetString("BOOKS_NAME", ""), "Livres");
  auto* books = Repository.SearchTypes().FindByName("books");
  ASSERT_NE(books, nullptr);
  EXPECT_EQ(books->DisplayName, "Livres");
}

TEST_F(EngineRepositoryTest, SourceFilesInDebugModeAndFoldersInAnyCase) {
  TDataFolder debug;
  debug.WriteText("Books.SST", testing::RegisterBody(kBooksType));
  debug.WriteText("BuyBooks.sca", testing::RegisterBody(CategoryBody("Books")));
  debug.WriteText("BuyBooks/BookBarn.sen", testing::RegisterBody(EngineBody("Book Barn")));
  TEngineRepository repository;
  // Nothing stored yet: start-up refreshes from the files even when not asked to.
  repository.Start(debug.Path(), /*debugMode=*/true, /*refresh=*/false, {});
  EXPECT_EQ(repository.EngineExt, ".sen");
  EXPECT_NE(repository.SearchTypes().FindByName("books"), nullptr);
  ASSERT_NE(repository.Categories().FindByName("buybooks"), nullptr);
  TEngineStorageList* engines = repository.EngineLists().EngineList("buybooks");
  ASSERT_NE(engines, nullptr);
  ASSERT_EQ(engines->Count(), 1u);
  EXPECT_EQ(engines->Engine(0)->EngName, "bookbarn");
  EXPECT_EQ(engines->Engine(0)->Version, -1);  // a source text has no header
}

TEST_F(EngineRepositoryTest, SearchesFindTheirDefinitionsThroughTheCatalogue) {
  Refresh();
  TRepositorySearchCatalogue catalogue(Repository);
  EXPECT_EQ(catalogue.Constants(), nullptr);  // no constants script here
  EXPECT_NE(LoadSearchType(catalogue, "books"), nullptr);
  ASSERT_NE(catalogue.CategoryEngines("buybooks"), nullptr);
  EXPECT_EQ(catalogue.CategoryEngines("buybooks")->Count(), 2u);
  EXPECT_EQ(catalogue.CategoryEngines("reviewbooks"), nullptr);
  EXPECT_TRUE(std::filesystem::exists(catalogue.EngineFile("buybooks", "bookbarn")));
  TCategoryStorageItem* buy = catalogue.FindCategory("buybooks");
  ASSERT_NE(buy, nullptr);
  buy->LastSearchDate = 46000;
  catalogue.SaveCategory(*buy);
  EXPECT_EQ(catalogue.FindCategory("buybooks")->LastSearchDate, 46000);
}

TEST_F(EngineRepositoryTest, EngineListsAreStoredPerCategory) {
  auto table = std::make_shared<TEngineTable>();
  Repository.SetStorage(nullptr, nullptr, table);
  std::vector<int> progress = Refresh();
  EXPECT_EQ(table->RowsOf("buybooks"), 2u);
  // The table's half-way mark of the only engine list's commit lands half-way through 60..100.
  EXPECT_NE(std::find(progress.begin(), progress.end(), 80), progress.end());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

  Engine("buybooks", "bookbarn")->Enabled = false;
  ASSERT_TRUE(Data.WriteCompiledEngine("buybooks/bookbarn.cen", EngineBody("Book Barn II"), 2));
  Refresh();
  EXPECT_EQ(table->RowsOf("buybooks"), 2u);  // rewritten, not doubled

  // Another catalogue over the same table sees the stored engines with the user's setting.
  TEngineRepository other;
  other.SetDataFolder(Data.Path());
  other.SetStorage(nullptr, nullptr, table);
  TEngineStorageList* engines = other.EngineLists().EngineList("buybooks");
  ASSERT_NE(engines, nullptr);
  ASSERT_EQ(engines->Count(), 2u);
  auto* barn = static_cast<TEngineStorageItem*>(engines->FindByName("bookbarn"));
  ASSERT_NE(barn, nullptr);
  EXPECT_EQ(barn->DisplayName, "Book Barn II");
  EXPECT_FALSE(barn->Enabled);

  Data.Remove("buybooks.cca");
  Refresh();
  EXPECT_EQ(table->RowsOf("buybooks"), 0u);
}

}  // namespace
}  // namespace vandrel

// The five database back ends under their typed lists, through a real database in a temporary folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "storage/CategoryStorage.h"
#include "storage/CodebaseDefinitionStorages.h"
#include "storage/CodebaseHistoryStorages.h"
#include "storage/CodebaseStorageManager.h"
#include "storage/EngineStorage.h"
#include "storage/QuorinDb.h"
#include "storage/ResultStorage.h"
#include "storage/SearchStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;
using FT = TStorageFieldType;

class CodebaseStorages : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vandrel-cbs-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "Compare");
    manager_ = std::make_unique<TCodebaseStorageManager>(dir_.string());
    ASSERT_TRUE(manager_->Open());
  }
  void TearDown() override {
    manager_.reset();
    fs::remove_all(dir_);
  }

  // Attaches a fresh back end of `classId` and logs the list in; history lists live in "Compare/".
  bool Open(TStorageDataList& list, const char* classId, bool history) {
    if (!list.AttachStorage(classId)) return false;
    if (history) {
      std::string folder = (dir_ / "Compare").string();
      list.OnBeforeLogin = [folder](TStorageDataList*, TStorageLoginInfo* info) {
        static_cast<TCodebaseStorageLoginInfo*>(info)->DataPath = folder;
      };
    }
    list.AddObserver(manager_.get());
    // Named definitions have no numeric keys, so every add reports a failed key request; count writes only.
    list.OnStorageError = [this](TStorageDataList*, bool writing) { errors_ += writing ? 1 : 0; };
    return list.Login(TCodebaseStorageLoginInfo::StaticClass());
  }

  static void OutputDefinitions(TSearchTypeStorageOutputFieldDefinitionList& defs) {
    defs.AddOutput("Title", FT::ftString);
    defs.AddOutput("InStock", FT::ftBoolean);
    defs.AddOutput("Rank", FT::ftInteger);
    defs.AddOutput("Weight", FT::ftDouble);
  }

  // Opens the results of search `srhNum` in a fresh list and loads them.
  std::unique_ptr<TResultStorageList> Results(int32_t srhNum) {
    auto list = std::make_unique<TResultStorageList>();
    EXPECT_TRUE(Open(*list, kResultStorageCodebase, true));
    OutputDefinitions(list->OutputFieldDefinitions());
    EXPECT_TRUE(list->LoadSearch(srhNum));
    return list;
  }

  // Rows not marked deleted, read through the shared database (the files are held by its back ends).
  size_t LiveRows(const std::string& file) {
    TQuorinDb& db = *manager_->Database();
    TTable* t = db.DefineTable("Probe", file);
    t->SetFieldsFromFile(true);
    t->SetPath((dir_ / "Compare").string());
    if (!t->Open()) return 0;
    size_t n = 0;
    for (bool found = t->First(); found; found = t->Next()) ++n;
    db.ForgetTable("Probe");
    return n;
  }

  // Appends a row of (search, result, engine) straight into the engine table, as an older version could
  // leave one behind.
  void AppendEngineRow(int32_t srhNum, int32_t resNum, const std::string& engine) {
    TQuorinDb& db = *manager_->Database();
    TTable* t = db.DefineTable("Probe", "RChannel.ctb");
    t->SetFieldsFromFile(true);
    t->SetPath((dir_ / "Compare").string());
    ASSERT_TRUE(t->Open());
    ASSERT_TRUE(t->AppendStart());
    t->Fields()[0]->SetAsInteger(srhNum);
    t->Fields()[1]->SetAsInteger(resNum);
    t->Fields()[2]->SetAsString(engine);
    ASSERT_TRUE(t->Append());
    db.ForgetTable("Probe");
  }

  // Adds a result found by `engines` to search `srhNum`; answers its number.
  int32_t AddResult(int32_t srhNum, std::vector<std::string> engines) {
    TResultStorageList results;
    EXPECT_TRUE(Open(results, kResultStorageCodebase, true));
    OutputDefinitions(results.OutputFieldDefinitions());
    EXPECT_TRUE(results.LoadSearch(srhNum));
    results.BeginTransaction(lsAdding);
    TResultStorageItem* r = results.NewResult();
    r->FoundBy.Lines = std::move(engines);
    results.EndTransaction();
    return r->Index();
  }

  fs::path dir_;
  std::unique_ptr<TCodebaseStorageManager> manager_;
  int errors_ = 0;
};

TEST_F(CodebaseStorages, ResultsRoundTripWithTheirEnginesFlagsAndFieldValues) {
  TSearchStorageList searches;
  ASSERT_TRUE(Open(searches, kSearchStorageCodebase, true));
  ASSERT_TRUE(searches.Load());
  searches.BeginTransaction(lsAdding);
  TSearchStorageItem* s = searches.NewSearch();
  s->CatName = "books";
  searches.EndTransaction();
  EXPECT_EQ(s->Index(), 1);  // the first search in an empty folder

  TResultStorageList results;
  ASSERT_TRUE(Open(results, kResultStorageCodebase, true));
  OutputDefinitions(results.OutputFieldDefinitions());
  ASSERT_TRUE(results.LoadSearch(1));
  results.BeginTransaction(lsAdding);
  TResultStorageItem* first = results.NewResult();
  first->ResultFields()->AddResultField("Title", TDynamicValue("Dune"), "Dune");
  first->ResultFields()->AddResultField("InStock", TDynamicValue(false), "no");
  first->ResultFields()->AddResultField("Rank", TDynamicValue(int64_t{70000}), "70000");
  first->ResultFields()->AddResultField("Weight", TDynamicValue(0.5), "500 g");
  first->FoundBy.Lines = {"zeta", "alpha", "mid"};
  first->Occurences = 100000;  // kept in a 16-bit column: clamped, not wrapped
  first->New = true;
  first->Date = 45000.25;
  TResultStorageItem* second = results.NewResult();
  second->ResultFields()->AddResultField("Title", TDynamicValue("Emma"), "Emma (1815)");
  second->FoundBy.Lines = {"alpha"};
  second->FileName = "page.htm";
  results.EndTransaction();
  ASSERT_EQ(errors_, 0);
  EXPECT_EQ(first->Index(), 1);  // the first result of a search with none
  EXPECT_EQ(LiveRows("RChannel.ctb"), 4u);

  auto loaded = Results(1);
  ASSERT_EQ(loaded->Count(), 2u);
  TResultStorageItem* r = loaded->Result(0);
  EXPECT_EQ(r->Index(), 1);
  EXPECT_EQ(r->FoundBy.Lines, (std::vector<std::string>{"alpha", "mid", "zeta"}));  // index order
  EXPECT_EQ(r->Occurences, 32767);
  EXPECT_TRUE(r->New);
  EXPECT_DOUBLE_EQ(r->Date, 45000.25);
  EXPECT_FALSE(r->Downloaded);
  ASSERT_EQ(r->ResultFields()->Count(), 4u);
  EXPECT_EQ(r->ResultFields()->ResultField(0)->DisplayValue(), "Dune");
  EXPECT_EQ(r->ResultFields()->ResultField(1)->Value(), TDynamicValue(false));
  EXPECT_EQ(r->ResultFields()->ResultField(2)->Value(), TDynamicValue(int64_t{70000}));
  EXPECT_EQ(r->ResultFields()->ResultField(3)->DisplayValue(), "500 g");
  EXPECT_EQ(loaded->Result(1)->ResultFields()->ResultField(0)->DisplayValue(), "Emma (1815)");
  EXPECT_TRUE(loaded->Result(1)->Downloaded);

  // Single fields, through the list's own transactions.
  TResultStorageItem* one = loaded->Result(0);
  one->Visited = true;
  one->VisitedDate = 46000.5;
  one->RunTransaction(lsUpdating, kResultUpdateVisited);
  one->Validated = true;
  one->FilterState = rfsOutdated;
  one->FileName = "copy.htm";
  one->RunTransaction(lsUpdating, kResultUpdateState);
  loaded->PendingValue = true;
  one->RunTransaction(lsSettingField, kResultSetChecked);
  loaded->Result(1)->RunTransaction(lsSettingField, kResultSetDeleted);
  EXPECT_EQ(errors_, 0);
  one->RunTransaction(lsUpdating, 0);  // no columns belong to field index 0
  EXPECT_EQ(errors_, 1);

  auto again = Results(1);
  ASSERT_EQ(again->Count(), 2u);
  EXPECT_TRUE(again->Result(0)->Visited);
  EXPECT_DOUBLE_EQ(again->Result(0)->VisitedDate, 46000.5);
  EXPECT_TRUE(again->Result(0)->Validated);
  EXPECT_TRUE(again->Result(0)->HasFilterState(rfsOutdated));
  EXPECT_TRUE(again->Result(0)->Checked);
  EXPECT_EQ(again->Result(0)->FileName, "copy.htm");
  EXPECT_TRUE(again->Result(1)->HasFilterState(rfsDeleted));

  // Deleting a result takes its engine rows along.
  again->BeginTransaction(lsDeleting);
  again->Result(0)->Delete();
  again->EndTransaction();
  EXPECT_EQ(LiveRows("RChannel.ctb"), 1u);
  EXPECT_EQ(Results(1)->Count(), 1u);
}

TEST_F(CodebaseStorages, RewritingReplacesTheStoredResultsWithTheList) {
  TResultStorageList results;
  ASSERT_TRUE(Open(results, kResultStorageCodebase, true));
  OutputDefinitions(results.OutputFieldDefinitions());
  ASSERT_TRUE(results.LoadSearch(7));
  results.BeginTransaction(lsAdding);
  for (const char* title : {"a", "b", "c"}) {
    results.NewResult()->ResultFields()->AddResultField("Title", TDynamicValue(title), title);
    results.Result(results.Count() - 1)->FoundBy.Lines = {"e1", "e2"};
  }
  results.EndTransaction();

  results.BeginTransaction(lsRewriting);
  results.Result(1)->Delete();
  results.Result(0)->Occurences = 5;
  TResultStorageItem* added = results.NewResult();
  added->ResultFields()->AddResultField("Title", TDynamicValue("d"), "d");
  results.EndTransaction();
  EXPECT_EQ(errors_, 0);

  auto loaded = Results(7);
  ASSERT_EQ(loaded->Count(), 3u);
  std::vector<std::string> titles;
  for (size_t i = 0; i < loaded->Count(); ++i)
    titles.push_back(loaded->Result(i)->ResultFields()->ResultField(0)->Value().AsString());
  EXPECT_EQ(titles, (std::vector<std::string>{"a", "c", "d"}));
  EXPECT_EQ(loaded->Result(0)->Occurences, 5);
  EXPECT_EQ(LiveRows("RChannel.ctb"), 4u);  // the deleted result's engine rows went with it
  EXPECT_EQ(Results(8)->Count(), 0u);       // another search sees nothing of these
}

// Writes the new rows, then reports a failure: what a crash or a full disk after the adds looks like.
class TFailingAddResultStorage : public TResultStorage_Codebase {
 public:
  bool AddItems(const TBytes& items) override {
    const bool ok = TResultStorage_Codebase::AddItems(items);
    return Fail ? false : ok;
  }
  bool Fail = false;
};

TEST_F(CodebaseStorages, AFailedRewriteKeepsTheOldRowsAndKeys) {
  auto failing = std::make_shared<TFailingAddResultStorage>();
  // Held weakly: a back end that outlived the test would keep its database open for the next one.
  RegisterStorageManagerClass(
      "TFailingAddResultStorage",
      [weak = std::weak_ptr<TFailingAddResultStorage>(failing)] { return weak.lock(); });
  TResultStorageList results;
  ASSERT_TRUE(Open(results, "TFailingAddResultStorage", true));
  OutputDefinitions(results.OutputFieldDefinitions());
  ASSERT_TRUE(results.LoadSearch(7));
  results.BeginTransaction(lsAdding);
  for (const char* title : {"a", "b"}) {
    results.NewResult()->ResultFields()->AddResultField("Title", TDynamicValue(title), title);
    results.Result(results.Count() - 1)->FoundBy.Lines = {"e1"};
  }
  results.EndTransaction();
  const int32_t firstKey = results.Result(0)->Index();

  failing->Fail = true;
  results.BeginTransaction(lsRewriting);
  results.Result(1)->Delete();
  results.NewResult()->ResultFields()->AddResultField("Title", TDynamicValue("c"), "c");
  results.EndTransaction();
  EXPECT_EQ(errors_, 1);
  // Nothing of the rewrite reached the files, and the surviving item still names its stored row.
  EXPECT_EQ(results.Result(0)->Index(), firstKey);
  auto loaded = Results(7);
  ASSERT_EQ(loaded->Count(), 2u);
  EXPECT_EQ(loaded->Result(0)->ResultFields()->ResultField(0)->Value().AsString(), "a");
  EXPECT_EQ(loaded->Result(1)->ResultFields()->ResultField(0)->Value().AsString(), "b");
  EXPECT_EQ(loaded->Result(0)->Index(), firstKey);
  EXPECT_EQ(LiveRows("RChannel.ctb"), 2u);

  // The database is usable afterwards: the same rewrite, now succeeding, lands whole.
  failing->Fail = false;
  results.BeginTransaction(lsRewriting);
  results.EndTransaction();
  EXPECT_EQ(errors_, 1);
  EXPECT_EQ(Results(7)->Count(), 2u);
  results.DetachStorage();
}

TEST_F(CodebaseStorages, DeletingASearchDeletesItsResultsSoItsNumberStartsEmpty) {
  TSearchStorageList searches;
  ASSERT_TRUE(Open(searches, kSearchStorageCodebase, true));
  ASSERT_TRUE(searches.Load());
  searches.BeginTransaction(lsAdding);
  TSearchStorageItem* s = searches.NewSearch();
  s->FieldDefinitions.Add();
  static_cast<TStorageFieldDefinitionItem*>(s->FieldDefinitions.Item(0))->Name = "Title";
  static_cast<TStorageFieldDefinitionItem*>(s->FieldDefinitions.Item(0))->FieldType = FT::ftString;
  s->GetFields()->AddField("Title", TDynamicValue("dune"));
  s->Engines.Lines = {"one", "two"};
  s->MatchCount = 3;
  s->Flagged = true;
  s->Notes = "keep";
  searches.EndTransaction();
  ASSERT_EQ(s->Index(), 1);
  {
    TResultStorageList results;
    ASSERT_TRUE(Open(results, kResultStorageCodebase, true));
    OutputDefinitions(results.OutputFieldDefinitions());
    ASSERT_TRUE(results.LoadSearch(1));
    results.BeginTransaction(lsAdding);
    results.NewResult()->FoundBy.Lines = {"one"};
    results.EndTransaction();
  }
  TSearchStorageList reloaded;
  ASSERT_TRUE(Open(reloaded, kSearchStorageCodebase, true));
  ASSERT_TRUE(reloaded.Load());
  ASSERT_EQ(reloaded.Count(), 1u);
  TSearchStorageItem* r = reloaded.Search(0);
  EXPECT_EQ(r->Engines.Lines, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(r->GetFields()->Find("title")->Value(), TDynamicValue("dune"));
  EXPECT_TRUE(r->Flagged);
  EXPECT_EQ(r->MatchCount, 3);
  EXPECT_EQ(r->Notes, "keep");

  reloaded.BeginTransaction(lsDeleting);
  r->Delete();
  reloaded.EndTransaction();
  EXPECT_EQ(errors_, 0);
  reloaded.BeginTransaction(lsAdding);
  TSearchStorageItem* next = reloaded.NewSearch();
  reloaded.EndTransaction();
  EXPECT_EQ(next->Index(), 1);
  EXPECT_EQ(Results(1)->Count(), 0u);
  EXPECT_EQ(LiveRows("RChannel.ctb"), 0u);
}

TEST_F(CodebaseStorages, SearchTypesRoundTripWithTheirDefinitionsAndLayouts) {
  TSearchTypeStorageList types;
  ASSERT_TRUE(Open(types, kSearchTypeStorageCodebase, false));
  ASSERT_TRUE(types.Load());
  types.BeginTransaction(lsAdding);
  TSearchTypeStorageItem* t = types.NewSearchType();
  t->SrtName = "book";
  t->DisplayName = "Books";
  t->FilterClasses.Lines = {"TPriceFilter", "TDelayFilter"};
  t->Version = 3;
  t->InputFieldDefinitions.AddInput("Author", FT::ftString)->IsFormula = true;
  OutputDefinitions(t->OutputFieldDefinitions);
  t->OutputFieldDefinitions.Output(0)->Layout.Width = 120;
  t->OutputFieldDefinitions.Output(0)->IsUrl = true;
  t->SortKeys.AddKey("Title", TSortKeySortDirection::ksdDescending);
  t->OutputFieldLayout.AddLayout("Title", FT::ftString)->Layout.Flags = lfHidden;
  types.EndTransaction();
  types.InputFieldLayout().AddLayout("Author", FT::ftString)->Layout.Width = 77;
  types.RunTransaction(lsUpdating, kSearchTypeUpdateInputLayout);
  t->OutputFieldLayout.AddLayout("Rank", FT::ftInteger);
  t->RunTransaction(lsUpdating, kSearchTypeUpdateOutputLayout);
  EXPECT_EQ(errors_, 0);

  TSearchTypeStorageList again;
  ASSERT_TRUE(Open(again, kSearchTypeStorageCodebase, false));
  ASSERT_TRUE(again.Load());
  ASSERT_EQ(again.Count(), 1u);
  TSearchTypeStorageItem* a = again.SearchType(0);
  EXPECT_EQ(a->FilterClasses.Lines, (std::vector<std::string>{"TPriceFilter", "TDelayFilter"}));
  EXPECT_EQ(a->Version, 3);
  ASSERT_EQ(a->InputFieldDefinitions.Count(), 1u);
  EXPECT_TRUE(a->InputFieldDefinitions.Input(0)->IsFormula);
  ASSERT_EQ(a->OutputFieldDefinitions.Count(), 4u);
  EXPECT_EQ(a->OutputFieldDefinitions.Output(0)->Layout.Width, 120);
  EXPECT_TRUE(a->OutputFieldDefinitions.Output(0)->IsUrl);
  EXPECT_EQ(a->OutputFieldDefinitions.Output(3)->FieldType, FT::ftDouble);
  ASSERT_EQ(a->SortKeys.Count(), 1u);
  EXPECT_EQ(a->SortKeys.Key(0)->SortDirection, TSortKeySortDirection::ksdDescending);
  ASSERT_EQ(a->OutputFieldLayout.Count(), 2u);
  EXPECT_EQ(a->OutputFieldLayout.LayoutItem(0)->Layout.Flags, lfHidden);
  ASSERT_EQ(again.InputFieldLayout().Count(), 1u);
  EXPECT_EQ(again.InputFieldLayout().LayoutItem(0)->Layout.Width, 77);
}

TEST_F(CodebaseStorages, CategoriesRoundTripInKeyOrderWithTheirFlagAndDates) {
  TCategoryStorageList cats;
  ASSERT_TRUE(Open(cats, kCategoryStorageCodebase, false));
  ASSERT_TRUE(cats.Load());
  cats.BeginTransaction(lsAdding);
  for (const char* name : {"music", "books"}) {
    TCategoryStorageItem* c = cats.NewCategory();
    c->CatName = name;
    c->LastUpdateDate = 1.5;
    c->LastSearchDate = 2.5;  // shares its physical column name with the date before it
    c->Priority = 4;
  }
  cats.EndTransaction();
  cats.Category(0)->Description = "Records";
  cats.Category(0)->RunTransaction(lsUpdating, 0);
  cats.PendingValue = true;
  cats.Category(1)->RunTransaction(lsSettingField, kCategorySetEnabled);
  TCategoryStorageList catsAgain;
  ASSERT_TRUE(Open(catsAgain, kCategoryStorageCodebase, false));
  ASSERT_TRUE(catsAgain.Load());
  ASSERT_EQ(catsAgain.Count(), 2u);
  EXPECT_EQ(catsAgain.Category(0)->CatName, "books");  // index order
  EXPECT_TRUE(catsAgain.Category(0)->Enabled);
  EXPECT_EQ(catsAgain.Category(1)->Description, "Records");
  EXPECT_DOUBLE_EQ(catsAgain.Category(1)->LastUpdateDate, 1.5);
  EXPECT_DOUBLE_EQ(catsAgain.Category(1)->LastSearchDate, 2.5);
}

TEST_F(CodebaseStorages, EnginesOfOneCategoryRoundTripAndAreNeverDeletedOneByOne) {
  TEngineStorageList engines;
  ASSERT_TRUE(Open(engines, kEngineStorageCodebase, false));
  engines.SetCatName("books");
  ASSERT_TRUE(engines.Load());
  engines.BeginTransaction(lsAdding);
  TEngineStorageItem* e = engines.NewEngine();
  e->EngName = "shop";
  e->SrtNames.Lines = {"book", "album"};
  e->State = esAuthorizationRequired;
  e->Enabled = false;
  engines.EndTransaction();
  engines.BeginTransaction(lsDeleting);
  e->Delete();
  engines.EndTransaction();
  EXPECT_EQ(errors_, 1);  // single engines are never deleted
  TEngineStorageList enginesAgain;
  ASSERT_TRUE(Open(enginesAgain, kEngineStorageCodebase, false));
  enginesAgain.SetCatName("books");
  ASSERT_TRUE(enginesAgain.Load());
  ASSERT_EQ(enginesAgain.Count(), 1u);
  EXPECT_EQ(enginesAgain.Engine(0)->SrtNames.Lines, (std::vector<std::string>{"album", "book"}));
  EXPECT_EQ(enginesAgain.Engine(0)->State, esAuthorizationRequired);
  EXPECT_FALSE(enginesAgain.Engine(0)->Enabled);
  TEngineStorageList other;
  ASSERT_TRUE(Open(other, kEngineStorageCodebase, false));
  other.SetCatName("music");
  ASSERT_TRUE(other.Load());
  EXPECT_EQ(other.Count(), 0u);
}

TEST_F(CodebaseStorages, EachEngineOfAResultIsOneRowAndAHiddenLeftoverNeverJoinsALaterResult) {
  ASSERT_EQ(AddResult(1, {"alpha", "Alpha", "beta", "alpha"}), 1);
  EXPECT_EQ(LiveRows("RChannel.ctb"), 2u) << "engine names are matched without regard to case";
  AppendEngineRow(1, 1, "beta");
  ASSERT_EQ(LiveRows("RChannel.ctb"), 3u);
  {
    auto loaded = Results(1);
    EXPECT_EQ(LiveRows("RChannel.ctb"), 2u) << "the hidden row went at login";
    ASSERT_EQ(loaded->Count(), 1u);
    EXPECT_EQ(loaded->Result(0)->FoundBy.Lines, (std::vector<std::string>{"alpha", "beta"}));
    loaded->BeginTransaction(lsDeleting);
    loaded->Result(0)->Delete();
    loaded->EndTransaction();
  }
  EXPECT_EQ(LiveRows("RChannel.ctb"), 0u) << "every row of the deleted result's key";
  // The next result takes the freed number and names only the engine that found it.
  ASSERT_EQ(AddResult(1, {"gamma"}), 1);
  auto again = Results(1);
  ASSERT_EQ(again->Count(), 1u);
  EXPECT_EQ(again->Result(0)->FoundBy.Lines, (std::vector<std::string>{"gamma"}));
}

TEST_F(CodebaseStorages, ASearchTableSetAsideAfterDamageNeverHandsOutANumberWhoseResultsAreStored) {
  {
    TSearchStorageList searches;
    ASSERT_TRUE(Open(searches, kSearchStorageCodebase, true));
    ASSERT_TRUE(searches.Load());
    searches.BeginTransaction(lsAdding);
    searches.NewSearch();
    searches.NewSearch();
    searches.EndTransaction();
  }
  AddResult(1, {"alpha"});
  AddResult(2, {"beta"});
  TQuorinDb::TakeSetAside();
  {
    std::fstream f(dir_ / "Compare" / "Search.ctb", std::ios::in | std::ios::out | std::ios::binary);
    f.write("\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 12);
  }

  TSearchStorageList searches;
  ASSERT_TRUE(Open(searches, kSearchStorageCodebase, true));
  ASSERT_TRUE(searches.Load());
  EXPECT_EQ(searches.Count(), 0u);
  std::vector<TQuorinDb::TSetAside> aside = TQuorinDb::TakeSetAside();
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_NE(aside[0].File.find("Search.ctb"), std::string::npos);
  EXPECT_TRUE(TQuorinDb::TakeSetAside().empty()) << "told once";
  searches.BeginTransaction(lsAdding);
  TSearchStorageItem* fresh = searches.NewSearch();
  searches.EndTransaction();
  EXPECT_EQ(fresh->Index(), 3) << "past the numbers the result tables still hold";
  EXPECT_EQ(Results(3)->Count(), 0u);
  EXPECT_EQ(Results(1)->Count(), 1u) << "the results were kept";
  int setAside = 0;
  for (const auto& e : fs::directory_iterator(dir_ / "Compare"))
    setAside += e.path().filename().string().find("damaged") != std::string::npos;
  EXPECT_GE(setAside, 1);
}

TEST_F(CodebaseStorages, ADamagedBlobCostsOneResultItsFieldsNotTheList) {
  {
    TResultStorageList results;
    ASSERT_TRUE(Open(results, kResultStorageCodebase, true));
    OutputDefinitions(results.OutputFieldDefinitions());
    ASSERT_TRUE(results.LoadSearch(2));
    results.BeginTransaction(lsAdding);
    for (const char* title : {"first", "second"})
      results.NewResult()->ResultFields()->AddResultField("Title", TDynamicValue(title), "");
    results.EndTransaction();
  }
  // Claim an enormous length in the first result's memo block.
  fs::path memo = dir_ / "Compare" / "Result.fpt";
  std::fstream f(memo, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(512 + 4);
  f.write("\x7f\xff\xff\xff", 4);
  f.close();

  auto loaded = Results(2);
  ASSERT_EQ(loaded->Count(), 2u);
  EXPECT_EQ(loaded->Result(0)->ResultFields()->Count(), 0u);
  EXPECT_EQ(loaded->Result(1)->ResultFields()->ResultField(0)->Value(), TDynamicValue("second"));
  EXPECT_NE(manager_->Database()->LastErrorCode(), 0);
}

TEST_F(CodebaseStorages, CompactionDropsDeletedRowsAndKeepsTheRest) {
  TResultStorageList results;
  ASSERT_TRUE(Open(results, kResultStorageCodebase, true));
  OutputDefinitions(results.OutputFieldDefinitions());
  ASSERT_TRUE(results.LoadSearch(3));
  results.BeginTransaction(lsAdding);
  for (int i = 0; i < 20; ++i) {
    TResultStorageItem* r = results.NewResult();
    r->ResultFields()->AddResultField("Title", TDynamicValue(std::string(200, static_cast<char>('a' + i))),
                                      "");
    r->FoundBy.Lines = {"e"};
  }
  results.EndTransaction();
  results.BeginTransaction(lsDeleting);
  for (size_t i = 0; i + 1 < results.Count(); ++i) results.Result(i)->Delete();
  results.EndTransaction();
  fs::path data = dir_ / "Compare" / "Result.ctb", memo = dir_ / "Compare" / "Result.fpt";
  auto dataBefore = fs::file_size(data), memoBefore = fs::file_size(memo);

  EXPECT_TRUE(CompactLists({&results}));
  EXPECT_LT(fs::file_size(data), dataBefore);
  EXPECT_LT(fs::file_size(memo), memoBefore);
  auto loaded = Results(3);
  ASSERT_EQ(loaded->Count(), 1u);
  EXPECT_EQ(loaded->Result(0)->ResultFields()->ResultField(0)->Value(), TDynamicValue(std::string(200, 't')));
  EXPECT_EQ(loaded->Result(0)->FoundBy.Lines, (std::vector<std::string>{"e"}));
}

TEST(CodebaseStorageManager, CompactionIsDueAfterTheDelayInWholeDaysEitherWay) {
  const double now = 46000.75;
  EXPECT_TRUE(IsCompactionDue(0, now, 15));  // never compacted
  EXPECT_FALSE(IsCompactionDue(now - 14.9, now, 15));
  EXPECT_TRUE(IsCompactionDue(now - 15, now, 15));
  EXPECT_TRUE(IsCompactionDue(now + 15.2, now, 15));  // a clock set back
  EXPECT_FALSE(IsCompactionDue(now, now, 15));
}

// Holds an exclusive lock on `file` in a child process until killed; answers the child once it holds it.
pid_t HoldLockInChild(const fs::path& file) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(file.c_str(), O_RDWR);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) ::_exit(1);
    char c = 1;
    if (::write(ready[1], &c, 1) != 1) ::_exit(1);
    for (int i = 0; i < 300; ++i) ::usleep(100000);  // at most 30 s, should the parent never kill it
    ::_exit(0);
  }
  char c = 0;
  ::close(ready[1]);
  if (::read(ready[0], &c, 1) != 1) c = 0;
  ::close(ready[0]);
  return c == 1 ? pid : -1;
}

TEST(CodebaseStorageManagerIntegration, ADatabaseInUseElsewhereIsWaitedForThenRefusedSayingSo) {
  const fs::path dir = fs::temp_directory_path() / ("vandrel-cbsl-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  {
    TCodebaseStorageManager manager(dir.string());
    ASSERT_TRUE(manager.Open());
  }
  // Let go of within the wait: the open succeeds.
  pid_t holder = HoldLockInChild(dir / "DB.dbf");
  ASSERT_GT(holder, 0);
  std::thread release([holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(holder, SIGKILL);
  });
  {
    TCodebaseStorageManager manager(dir.string());
    EXPECT_TRUE(manager.Open()) << manager.RefusalText();
  }
  release.join();
  ::waitpid(holder, nullptr, 0);

  // Held past the wait: refused, and the refusal says why.
  holder = HoldLockInChild(dir / "DB.dbf");
  ASSERT_GT(holder, 0);
  {
    TCodebaseStorageManager manager(dir.string());
    manager.LockWait = std::chrono::milliseconds(200);
    EXPECT_FALSE(manager.Open());
    EXPECT_NE(manager.RefusalText().find("in use by another process"), std::string::npos)
        << manager.RefusalText();
  }
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace vandrel

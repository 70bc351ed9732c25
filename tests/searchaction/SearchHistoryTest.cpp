#include <gtest/gtest.h>

#include "SearchTestWorld.h"
#include "engines/SearchResults.h"
#include "storage/ResultStorage.h"

namespace vandrel::searchtest {
namespace {

class THistoryLog : public IAppSearchHistoryObserver {
 public:
  void SearchChanging(TAppSearchHistory&) override { Events.push_back("changing"); }
  void SearchChanged(TAppSearchHistory&, TSearchStorageItem* search) override {
    Events.push_back(search ? "changed " + search->DisplayValue : "changed none");
  }
  void SearchAdded(TAppSearchHistory&, TSearchStorageItem* search) override {
    Events.push_back("added " + search->DisplayValue);
  }
  void ResultsReloading(TAppSearchHistory&) override { Events.push_back("reloading"); }
  void ResultsReloaded(TAppSearchHistory&) override { Events.push_back("reloaded"); }
  std::vector<std::string> Events;
};

TResultStorageItem* AddResult(TResultStorageList& results, const std::string& url, uint8_t filterState) {
  results.BeginTransaction(lsAdding);
  TResultStorageItem* result = results.NewResult();
  result->ResultFields()->AddResultField("title", TDynamicValue("T " + url));
  result->ResultFields()->AddResultField("price", TDynamicValue());
  result->ResultFields()->AddResultField("url", TDynamicValue(url));
  result->FilterState = filterState;
  results.EndTransaction();
  return result;
}

TEST(SearchHistory, NewSearchIsNormalisedByItsSearchTypeAndOpensResultsWithTheDefaultFilter) {
  TSearchWorld world;
  TSearchStorageItem* search = world.NewSearch("forking paths", {"alpha"});
  ASSERT_NE(search, nullptr);
  EXPECT_EQ(search->SrtName, "books");
  EXPECT_EQ(search->CatName, "buybooks");
  EXPECT_EQ(search->DisplayValue, "forking paths");
  EXPECT_GT(search->CreationDate, 0);
  ASSERT_EQ(search->FieldDefinitions.Count(), 2u);
  EXPECT_EQ(static_cast<TStorageFieldDefinitionItem*>(search->FieldDefinitions.Item(1))->FieldType,
            TStorageFieldType::ftInteger);

  auto item = world.Compare->Item()->GetResultItem(search);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(world.Compare->Item()->GetResultItem(search), item) << "an opened search is reused";
  EXPECT_GT(search->AccessDate, 0);
  TResultStorageList& results = item->GetResults();
  EXPECT_EQ(results.SrhNum(), search->Index());
  ASSERT_EQ(results.OutputFieldDefinitions().Count(), 3u);
  EXPECT_EQ(item->GetSearchType(), world.Catalogue.FindSearchType("books"));

  AddResult(results, "http://shop.test/item/1", 0);
  TResultStorageItem* outdated = AddResult(results, "http://shop.test/item/2", rfsOutdated);
  AddResult(results, "http://shop.test/item/3", rfsRemains);
  TResultStorageItem* doomed = AddResult(results, "http://shop.test/item/4", 0);
  TStorageDataListView* view = results.FindView(kDefaultViewName);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->Count(), 3u);
  EXPECT_FALSE(view->IsVisible(outdated));

  item->BeginBatch();
  item->MarkDeleted(doomed);
  item->Commit();
  EXPECT_TRUE(doomed->HasFilterState(rfsDeleted));
  EXPECT_EQ(view->Count(), 2u);

  // A search that goes takes its opened results along.
  world.Compare->Item()->DeleteSearch(search);
  EXPECT_EQ(world.Compare->Item()->ResultItemCount(), 0u);
  EXPECT_EQ(world.Compare->Item()->GetSearches().Count(), 0u);
}

TEST(SearchHistory, OpenPurgesWholeDaysAndNeverEverythingOnAWrongSetting) {
  TSearchWorld world;
  const TDateTime today = EncodeDate(2026, 12, 9);
  TSearchStorageItem* old = world.NewSearch("old", {"alpha"});
  TSearchStorageItem* young = world.NewSearch("young", {"alpha"});
  TSearchStorageItem* fresh = world.NewSearch("fresh", {"alpha"});
  old->CreationDate = today - 15;
  young->CreationDate = today - 15 + EncodeTime(10, 0, 0);
  fresh->CreationDate = today - 1;

  TAppSearchHistory wrong(*world.History, "Compare", world.Runner.get());
  ASSERT_TRUE(wrong.Open(0, today + EncodeTime(9, 0, 0)));
  EXPECT_EQ(wrong.Item()->GetSearches().Count(), 2u) << "0 days counts as 15";

  TAppSearchHistory reopened(*world.History, "Compare", world.Runner.get());
  ASSERT_TRUE(reopened.Open(15, today + 1));
  ASSERT_EQ(reopened.Item()->GetSearches().Count(), 1u);
  EXPECT_EQ(reopened.Item()->GetSearches().Search(0), fresh);
}

TEST(SearchHistory, CurrentSearchAndReloadTellTheWindows) {
  TSearchWorld world;
  THistoryLog log;
  world.Compare->AddObserver(&log);
  TSearchStorageItem* one = world.NewSearch("one", {"alpha"});
  TSearchStorageItem* two = world.NewSearch("two", {"alpha"});

  world.Compare->SetCurrentSearch(one);
  world.Compare->SetCurrentSearch(one);
  world.Compare->NotifySearchAdded(two);
  world.Compare->SetCurrentSearch(two);
  world.Compare->ReloadResults();
  world.Compare->SetCurrentSearch(nullptr);
  world.Compare->ReloadResults();
  EXPECT_EQ(log.Events,
            (std::vector<std::string>{"changing", "changed one", "added two", "changing", "changed two",
                                      "reloading", "reloaded", "changing", "changed none"}));
  EXPECT_EQ(world.Compare->CurrentResults(), nullptr);
  world.Compare->RemoveObserver(&log);
}

TEST(SearchHistory, TheRunnerFindsAStoredSearchByFolderAndNumber) {
  TSearchWorld world;
  TSearchStorageItem* search = world.NewSearch("bound", {"alpha"});
  auto binding = TSearchHistory::Bind(world.History, "Compare/", search->Index());
  ASSERT_TRUE(binding.has_value());
  EXPECT_EQ(binding->Result->GetSearch(), search);
  EXPECT_FALSE(TSearchHistory::Bind(world.History, "Compare/", search->Index() + 7).has_value());
  EXPECT_FALSE(TSearchHistory::Bind(world.History, "Elsewhere", search->Index()).has_value());
  EXPECT_FALSE(TSearchHistory::Bind(nullptr, "Compare", 0).has_value());
}

TEST(SearchConverters, StoredResultAndRecordCarryValuesAndPricesBothWays) {
  TSearchWorld world;
  TSearchTypeReader reader;
  ASSERT_TRUE(reader.Load(world.Catalogue.SearchTypeFile("books")));
  TSearchTypeInstance instance(&reader);
  TResultRecord record(&instance, "EUR");
  record.FindField("title")->SetString("Paths");
  record.FindField("price")->SetMoneyValue(12.5);
  record.FindField("url")->SetString("http://shop.test/item/9");

  TResultStorageList results;
  results.OutputFieldDefinitions().Assign(world.Catalogue.FindSearchType("books")->OutputFieldDefinitions);
  results.BeginTransaction(lsAdding);
  TResultStorageItem* stored = results.NewResult();
  Convert(*stored, record);
  results.EndTransaction();
  ASSERT_EQ(stored->GetFields()->Count(), 3u);
  EXPECT_EQ(stored->FindField("title")->Value().AsString(), "Paths");

  TResultRecord back(&instance, "USD");
  Convert(back, *stored);
  EXPECT_EQ(back.FindField("title")->AsString(), "Paths");
  EXPECT_EQ(back.FindField("url")->AsString(), "http://shop.test/item/9");
  EXPECT_FLOAT_EQ(static_cast<float>(back.FindField("price")->AsFloat()), 12.5f);
  EXPECT_EQ(back.FindField("price")->MoneyCode, "EUR") << "a price without its own code takes the record's";
}

TEST(SearchConverters, SearchTypeIsStoredWithItsDefinitionsAndFailuresNameTheConverter) {
  TSearchWorld world;
  TSearchTypeStorageItem* stored = world.Catalogue.FindSearchType("books");
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->DisplayName, "Books");
  EXPECT_EQ(stored->SearchFrame, "booksearch");
  EXPECT_EQ(stored->UniqueKey, "url");
  ASSERT_EQ(stored->SortKeys.Count(), 1u);
  EXPECT_EQ(stored->SortKeys.Key(0)->Field, "price");
  EXPECT_EQ(stored->InputFieldDefinitions.Count(), 2u);
  ASSERT_EQ(stored->OutputFieldDefinitions.Count(), 3u);
  EXPECT_EQ(stored->OutputFieldDefinitions.Output(1)->FieldType, TStorageFieldType::ftMoney);
  EXPECT_TRUE(stored->OutputFieldDefinitions.Output(2)->IsUrl);

  TSearchTypeInstance bare;
  TSearchTypeStorageItem target;
  try {
    Convert(target, bare);
    FAIL() << "an instance without a search type cannot be stored";
  } catch (const ESearchConvertError& e) {
    EXPECT_EQ(std::string(e.what()), "SearchTypeToSearchTypeStorage error: no search type");
  }
}

}  // namespace
}  // namespace vandrel::searchtest

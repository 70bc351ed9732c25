#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "storage/CategoryStorage.h"
#include "storage/EngineStorage.h"
#include "storage/MemoryBackend.h"
#include "storage/ResultStorage.h"
#include "storage/SearchStorage.h"
#include "storage/SearchTypeStorage.h"
#include "storage/TypedStorage.h"

namespace vandrel {
namespace {

using storagetest::TMemoryBackend;
using ::testing::ElementsAre;

TBytes Listed(const TPersistent& object) {
  TBytes bytes;
  TPropertyWriter writer(bytes);
  WriteListedObject(writer, object);
  return bytes;
}

// Writes the object, reads it back by its class name and checks that writing the copy gives the same bytes.
template <class T>
std::unique_ptr<T> RoundTrip(const T& original) {
  RegisterTypedStorageClasses();
  TBytes bytes = Listed(original);
  TPropertyReader reader(bytes);
  std::unique_ptr<TPersistent> copy = ReadListedObject(reader, nullptr);
  EXPECT_EQ(reader.Remaining(), 0u);
  auto* typed = dynamic_cast<T*>(copy.get());
  EXPECT_NE(typed, nullptr) << copy->ClassName();
  if (!typed) return nullptr;
  EXPECT_EQ(Listed(*typed), bytes) << original.ClassName() << " does not round-trip byte for byte";
  copy.release();
  return std::unique_ptr<T>(typed);
}

std::string Text(const TBytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(TypedStorageStreamTest, SearchTypeWithDefinitionsLayoutsAndSortKeysRoundTrips) {
  TSearchTypeStorageItem item;
  item.SetIndex(4);
  item.Version = 12;
  item.SrtName = "Books";
  item.DisplayName = "Buy books";
  item.SearchFrame = "BookFrame";
  item.AllowedResultOperations.Lines = {"check", "delete"};
  item.FilterClasses.Lines = {"TPriceRangeFilter"};
  item.UniqueKey = "url";
  auto* in = item.InputFieldDefinitions.AddInput("title", TStorageFieldType::ftString);
  in->DisplayName = "Title";
  in->HighlightSource = true;
  item.InputFieldDefinitions.AddInput("isbn", TStorageFieldType::ftString)->IsFormula = true;
  auto* out = item.OutputFieldDefinitions.AddOutput("price", TStorageFieldType::ftMoney);
  out->Layout.Alignment = TAlignment::taRightJustify;
  out->Layout.Width = 80;
  out->Layout.Sort = true;
  out->Layout.SortDirection = TStorageLayoutSortDirection::sdDescending;
  out->Layout.Flags = lfSummary | lfInternal;
  out->BoldIfNew = true;
  item.OutputFieldDefinitions.AddOutput("url", TStorageFieldType::ftString)->IsDomain = true;
  item.SortKeys.AddKey("title", TSortKeySortDirection::ksdDescending);
  item.OutputFieldLayout.AddLayout("price", TStorageFieldType::ftMoney)->Layout.Width = 120;

  // Writing the copy gives the same bytes, so every value survived; a few spot checks of where they went.
  auto copy = RoundTrip(item);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->GetName(), "Books");
  EXPECT_TRUE(copy->InputFieldDefinitions.FindInput("TITLE")->HighlightSource);
  const auto* price = copy->OutputFieldDefinitions.FindOutput("Price");
  ASSERT_NE(price, nullptr);
  EXPECT_EQ(price->Layout.Flags, lfSummary | lfInternal);
  EXPECT_EQ(copy->SortKeys.Key(0)->SortDirection, TSortKeySortDirection::ksdDescending);

  // Nested layout values are named through their owner, string lists through "Strings".
  std::string text = Text(Listed(item));
  EXPECT_NE(text.find("Layout.Width"), std::string::npos);
  EXPECT_NE(text.find("AllowedResultOperations.Strings"), std::string::npos);
  EXPECT_NE(text.find("lfSummary"), std::string::npos);
}

TEST(TypedStorageStreamTest, CategoryEngineAndSearchRoundTrip) {
  TCategoryStorageItem category;
  category.CatName = "Books";
  category.Enabled = true;
  category.Priority = 3;
  category.LastUpdateDate = 46000.5;
  category.LastSearchDate = 46001.25;
  category.SrtName = "BookSearch";
  category.Language = "ENG";
  category.DefaultResultsPerEngine = 20;
  category.TotalResults = 200;
  category.Version = 2;
  auto cat = RoundTrip(category);
  ASSERT_TRUE(cat);
  EXPECT_DOUBLE_EQ(cat->LastSearchDate, 46001.25);

  TEngineStorageItem engine;
  engine.EngName = "shopA";
  engine.Flags = efSupportsNew;
  engine.State = esAlwaysEnabled | esAuthorizationRequired;
  engine.SrtNames.Lines = {"BookSearch", "MusicSearch"};
  engine.Enabled = false;
  engine.Password = "secret";
  auto eng = RoundTrip(engine);
  ASSERT_TRUE(eng);
  EXPECT_EQ(eng->Flags, efSupportsNew);
  EXPECT_EQ(eng->State, esAlwaysEnabled | esAuthorizationRequired);
  EXPECT_EQ(eng->SrtNames.Lines, engine.SrtNames.Lines);
  EXPECT_TRUE(eng->DefaultEnabled);  // true by default, so absent and still true
  EXPECT_FALSE(eng->Enabled);
  EXPECT_EQ(eng->Password, "secret");

  TSearchStorageItem search;
  search.SetIndex(9);
  search.CatName = "Books";
  search.CreationDate = 46000.125;
  search.MatchCount = 17;
  search.Flagged = true;
  search.RefineWholeWords = true;
  search.Engines.Lines = {"shopA"};
  search.FieldDefinitions.Add();
  search.GetFields()->AddField("title", TDynamicValue("Dune"));
  search.GetFields()->AddField("year", TDynamicValue(1965));
  search.Flags.Lines = {"compare"};
  search.View = "Default";
  auto srh = RoundTrip(search);
  ASSERT_TRUE(srh);
  EXPECT_EQ(srh->Index(), 9);
  EXPECT_EQ(srh->MatchCount, 17);
  EXPECT_TRUE(srh->Flagged);
  ASSERT_EQ(srh->GetFields()->Count(), 2u);
  EXPECT_EQ(srh->FindField("YEAR")->Value(), TDynamicValue(1965));
  EXPECT_EQ(srh->View, "Default");
}

TEST(TypedStorageStreamTest, ResultAndTransactionListsRoundTrip) {
  TResultStorageItem result;
  result.SetIndex(0);  // key 0 must still be written
  result.Date = 46000.75;
  result.Occurences = 2;
  result.FoundBy.Lines = {"shopA", "shopB"};
  result.FilterState = rfsOutdated | rfsRemains;
  result.New = true;
  result.Checked = true;
  result.UserState = 5;
  result.VisitedDate = 46001;
  result.FileName = "cache/1.htm";
  result.ResultFields()->AddResultField("title", TDynamicValue("Dune"), "Dune (1965)");
  auto copy = RoundTrip(result);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->Index(), 0);
  EXPECT_EQ(copy->FilterState, rfsOutdated | rfsRemains);
  EXPECT_EQ(copy->FoundBy.Lines, result.FoundBy.Lines);
  EXPECT_EQ(copy->ResultFields()->FindResultField("title")->DisplayValue(), "Dune (1965)");
  EXPECT_EQ(copy->ResultFields()->Owner, copy.get());

  TResultStorageTransactionList transaction;
  TBytes plain;
  WriteObjectStream(plain, transaction);
  EXPECT_EQ(Text(plain).find("SrhNum"), std::string::npos) << "-1 is the declared default";
  transaction.SrhNum = 7;
  transaction.OutputFieldDefinitions.AddOutput("price", TStorageFieldType::ftMoney);
  TBytes selected;
  WriteObjectStream(selected, transaction);
  auto read = storagetest::ReadTransaction(selected);
  auto* typed = dynamic_cast<TResultStorageTransactionList*>(read.get());
  ASSERT_NE(typed, nullptr);
  EXPECT_EQ(typed->SrhNum, 7);
  EXPECT_EQ(typed->OutputFieldDefinitions.Output(0)->FieldType, TStorageFieldType::ftMoney);

  TEngineStorageTransactionList engines;
  engines.CatName = "Books";
  TBytes engineBytes;
  WriteObjectStream(engineBytes, engines);
  EXPECT_EQ(static_cast<TEngineStorageTransactionList&>(*storagetest::ReadTransaction(engineBytes)).CatName,
            "Books");
}

TEST(TypedStorageStreamTest, KeyItemsAndDefaultsHaveTheseBytes) {
  RegisterTypedStorageClasses();
  TCategoryStorageKeyItem key;
  key.CatName = "Books";
  const std::string expected = std::string(
      "\x06\x17TCategoryStorageKeyItem\x01\x07"
      "CatName\x06\x05"
      "Books\x00",
      42);
  EXPECT_EQ(Text(Listed(key)), expected);

  // An engine switched off is the one case where Enabled is written: its declared default is true.
  TEngineStorageItem engine;
  engine.SetIndex(1);
  EXPECT_EQ(Text(Listed(engine)).find("Enabled"), std::string::npos);
  engine.Enabled = false;
  std::string off = Text(Listed(engine));
  EXPECT_NE(off.find(std::string("\x07"
                                 "Enabled\x08",
                                 9)),
            std::string::npos);
}

TEST(TypedStorageStreamTest, EveryTypedClassIsKnownToTheReader) {
  RegisterTypedStorageClasses();
  for (const char* name :
       {"TSearchTypeStorageItem", "TSearchTypeStorageKeyItem", "TSearchStorageItem", "TResultStorageItem",
        "TCategoryStorageItem", "TCategoryStorageKeyItem", "TEngineStorageItem", "TEngineStorageKeyItem",
        "TResultStorageTransactionList", "TStorageDataFieldGroupDefinition", "TStorageDataFieldGroupItem",
        "TResultStorageGroupDefinition", "TResultStorageGroupItem"})
    EXPECT_NE(FindClass(name), nullptr) << name;
  EXPECT_EQ(FindGroupItemClass(TResultStorageGroupDefinition::StaticClass()),
            &TResultStorageGroupItem::StaticClass());
  EXPECT_EQ(FindGroupItemClass(TStorageDataFieldGroupDefinition::StaticClass()),
            &TStorageDataFieldGroupItem::StaticClass());
}

// ---- typed lists over a back end ----

TEST(TypedStorageListTest, CategoriesAndEnginesStoreReloadAndFindByExactName) {
  auto backend = std::make_shared<TMemoryBackend>();
  {
    TCategoryStorageList categories;
    categories.AttachStorage(backend);
    categories.BeginTransaction(lsAdding);
    auto* books = categories.NewCategory();
    books->CatName = "Books";
    books->DisplayName = "Buy books";
    categories.NewCategory()->CatName = "Music";
    categories.EndTransaction();
  }
  TCategoryStorageList reloaded;
  reloaded.AttachStorage(backend);
  ASSERT_TRUE(reloaded.Load());
  ASSERT_EQ(reloaded.Count(), 2u);
  ASSERT_NE(reloaded.FindByName("Books"), nullptr);
  EXPECT_EQ(reloaded.FindByName("Books")->DisplayName, "Buy books");
  EXPECT_EQ(reloaded.FindByName("books"), nullptr);

  // Enabled is set on both in memory and handed to the back end by key name.
  reloaded.PendingValue = TDynamicValue(true);
  reloaded.BeginTransaction(lsSettingField, kCategorySetEnabled);
  reloaded.Category(0)->Changed();
  reloaded.Category(1)->Changed();
  reloaded.EndTransaction();
  EXPECT_TRUE(reloaded.Category(0)->Enabled);
  EXPECT_TRUE(reloaded.Category(1)->Enabled);
  EXPECT_EQ(backend->SetFieldIndex, kCategorySetEnabled);
  EXPECT_THAT(backend->SetKeys, ElementsAre("Books", "Music"));

  auto engineBackend = std::make_shared<TMemoryBackend>();
  TEngineStorageList engines;
  engines.AttachStorage(engineBackend);
  engines.SetCatName("Books");
  engines.BeginTransaction(lsAdding);
  const std::pair<const char*, const char*> shops[] = {{"a", "Shop A"}, {"b", "Shop B"}, {"c", "Shop C"}};
  for (const auto& [name, display] : shops) {
    auto* engine = engines.NewEngine();
    engine->EngName = name;
    engine->DisplayName = display;
  }
  engines.EndTransaction();
  EXPECT_EQ(engines.DisplayNames({"c", "x", "a"}, ", "), "Shop C, Shop A");
  EXPECT_EQ(engines.DisplayNames({"x"}, ", "), "");

  engines.BeginTransaction(lsDeleting);
  engines.FindByName("b")->Delete();
  engines.EndTransaction();
  EXPECT_THAT(engineBackend->DeletedKeys, ElementsAre("b"));
  EXPECT_EQ(engines.FindByName("b"), nullptr);
  ASSERT_TRUE(engines.Load());
  EXPECT_EQ(engines.Count(), 2u);
  auto* selection = dynamic_cast<TEngineStorageTransactionList*>(engineBackend->LastSelection.get());
  ASSERT_NE(selection, nullptr);
  EXPECT_EQ(selection->CatName, "Books");
}

TEST(TypedStorageListTest, SearchTypesKeepTheGlobalInputLayoutAndEntryLayouts) {
  auto backend = std::make_shared<TMemoryBackend>();
  TSearchTypeStorageList types;
  types.AttachStorage(backend);
  types.BeginTransaction(lsAdding);
  auto* books = types.NewSearchType();
  books->SrtName = "Books";
  books->OutputFieldDefinitions.AddOutput("price", TStorageFieldType::ftMoney);
  types.EndTransaction();

  types.InputFieldLayout().AddLayout("title", TStorageFieldType::ftString)->Layout.Width = 240;
  books->OutputFieldDefinitions.Output(0)->Layout.Width = 90;
  books->RunTransaction(lsUpdating, kSearchTypeUpdateOutputLayout);
  EXPECT_THAT(backend->UpdateFieldIndexes, ElementsAre(kSearchTypeUpdateOutputLayout));

  types.RunTransaction(lsUpdating, kSearchTypeUpdateInputLayout);
  auto* update = dynamic_cast<TSearchTypeStorageTransactionList*>(backend->LastUpdate.get());
  ASSERT_NE(update, nullptr);
  ASSERT_EQ(update->InputFieldLayout.Count(), 1u);
  EXPECT_EQ(update->InputFieldLayout.LayoutItem(0)->Layout.Width, 240);

  TSearchTypeStorageList reloaded;
  reloaded.AttachStorage(backend);
  ASSERT_TRUE(reloaded.Load());
  ASSERT_NE(reloaded.FindByName("Books"), nullptr);
  EXPECT_EQ(reloaded.FindByName("Books")->OutputFieldDefinitions.Output(0)->Layout.Width, 90);
  EXPECT_EQ(reloaded.FindByName("BOOKS"), nullptr);
}

TEST(TypedStorageListTest, SearchesAreFoundByKeyAndFlaggedThroughASettingFieldTransaction) {
  auto backend = std::make_shared<TMemoryBackend>();
  TSearchStorageList searches;
  searches.AttachStorage(backend);
  searches.BeginTransaction(lsAdding);
  auto* first = searches.NewSearch();
  auto* second = searches.NewSearch();
  searches.EndTransaction();
  ASSERT_EQ(first->Index(), 1);  // GetNextKey of an empty store
  EXPECT_EQ(searches.ItemByKey(2), second);
  EXPECT_EQ(searches.ItemByKey(7), nullptr);
  EXPECT_NE(dynamic_cast<TSearchStorageListView*>(searches.GetView("History")), nullptr);

  first->MatchCount = 42;
  first->RunTransaction(lsUpdating, kSearchUpdateMatchCount);
  EXPECT_THAT(backend->UpdateFieldIndexes, ElementsAre(kSearchUpdateMatchCount));
  auto stored = backend->Record(1);
  EXPECT_EQ(static_cast<TSearchStorageItem&>(*stored).MatchCount, 42);

  searches.PendingValue = TDynamicValue(true);
  second->RunTransaction(lsSettingField, kSearchSetFlagged);
  EXPECT_TRUE(second->Flagged);
  EXPECT_FALSE(first->Flagged);
  EXPECT_THAT(backend->SetKeys, ElementsAre("2"));
}

TEST(TypedStorageListTest, ResultsCheckedAndDeletedThroughSettingFieldTransactions) {
  auto backend = std::make_shared<TMemoryBackend>();
  TResultStorageList results;
  results.AttachStorage(backend);
  results.SetSrhNum(3);
  results.BeginTransaction(lsAdding);
  auto* a = results.NewResult();
  auto* b = results.NewResult();
  auto* c = results.NewResult();
  results.EndTransaction();

  results.PendingValue = TDynamicValue(true);
  results.BeginTransaction(lsSettingField, kResultSetChecked);
  a->Changed();
  b->Changed();
  results.EndTransaction();
  EXPECT_TRUE(a->Checked);
  EXPECT_TRUE(b->Checked);
  EXPECT_FALSE(c->Checked);
  EXPECT_EQ(backend->SetFieldIndex, kResultSetChecked);
  EXPECT_EQ(backend->SetValueArg, TDynamicValue(true));
  EXPECT_THAT(backend->SetKeys, ElementsAre("1", "2"));

  b->FilterState = rfsOutdated;
  b->RunTransaction(lsSettingField, kResultSetDeleted);
  EXPECT_EQ(b->FilterState, rfsOutdated | rfsDeleted);
  results.PendingValue = TDynamicValue(false);
  b->RunTransaction(lsSettingField, kResultSetDeleted);
  EXPECT_EQ(b->FilterState, rfsOutdated);
  EXPECT_TRUE(b->Checked) << "another field index leaves Checked alone";
}

TEST(TypedStorageListTest, LoadingResultsSelectsTheSearchAndMarksDownloadedPages) {
  auto backend = std::make_shared<TMemoryBackend>();
  {
    TResultStorageList results;
    results.AttachStorage(backend);
    results.BeginTransaction(lsAdding);
    results.NewResult()->FileName = "cache/1.htm";
    results.NewResult()->Downloaded = true;  // stale flag without a file
    results.EndTransaction();
  }
  TResultStorageList results;
  results.AttachStorage(backend);
  ASSERT_TRUE(results.LoadSearch(11));
  auto* selection = dynamic_cast<TResultStorageTransactionList*>(backend->LastSelection.get());
  ASSERT_NE(selection, nullptr);
  EXPECT_EQ(selection->SrhNum, 11);
  ASSERT_EQ(results.Count(), 2u);
  EXPECT_TRUE(results.Result(0)->Downloaded);
  EXPECT_FALSE(results.Result(1)->Downloaded);
  EXPECT_EQ(results.ItemByKey(results.Result(1)->Index()), results.Result(1));
}

}  // namespace
}  // namespace vandrel

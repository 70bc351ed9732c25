#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <map>

#include "currency/CurrencyConverters.h"
#include "storage/MemoryBackend.h"
#include "storage/ResultStorage.h"
#include "storage/StorageTestSupport.h"

namespace vandrel {
namespace {

using storagetest::TRecordingObserver;
using ::testing::ElementsAre;
using Strings = std::vector<std::string>;

std::string Money(const char* code, float value) {
  TCurrencyMap map;
  map.FromAmount = {code, value};
  return map.Serialize();
}

TCurrencyDefinitionItem Currency(const char* code, float rate, const char* symbol) {
  TCurrencyDefinitionItem item;
  item.Code = code;
  item.ExchangeRate = rate;
  item.DisplayName = code;
  item.CurrencyString = symbol;
  return item;
}

// Hides results the user deleted.
class TNotDeletedFilter : public TStorageDataFilterItem {
  VANDREL_PERSISTENT(TNotDeletedFilter)
 public:
  bool Accepts(const TStorageDataItem& item) const override {
    return !static_cast<const TResultStorageItem&>(item).HasFilterState(rfsDeleted);
  }
};

const TClassInfo& TNotDeletedFilter::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TNotDeletedFilter>("TNotDeletedFilter", TStorageDataFilterItem::StaticClass()).Build();
  return info;
}

// Places every result by asking each group, as the view does without an index.
class TAskEveryGroupDefinition : public TResultStorageGroupDefinition {
  VANDREL_PERSISTENT(TAskEveryGroupDefinition)
 public:
  int FindAcceptingGroup(const TStorageDataItem&) override { return kAskEveryGroup; }
};

const TClassInfo& TAskEveryGroupDefinition::StaticClass() {
  static const TClassInfo info = TClassBuilder<TAskEveryGroupDefinition>(
                                     "TAskEveryGroupDefinition", TResultStorageGroupDefinition::StaticClass())
                                     .Build();
  return info;
}

class ResultStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TCurrencyConverter& converter = CurrencyConverter();
    Saved_ = converter.Definitions();
    SavedTarget_ = converter.TargetCode;
    SavedShow_ = converter.ShowConverted;
    converter.Definitions().Clear();
    converter.Definitions().Add(Currency("USD", 1.0f, "$"));
    converter.Definitions().Add(Currency("EUR", 0.9f, "E"));
    converter.Definitions().Add(Currency("CAD", 1.35f, "C$"));
    converter.AxisCode = "USD";
    converter.TargetCode = "USD";
    converter.ShowConverted = false;

    auto& definitions = Results.OutputFieldDefinitions();
    definitions.AddOutput("title", TStorageFieldType::ftString);
    definitions.AddOutput("price", TStorageFieldType::ftMoney);
    definitions.AddOutput("rating", TStorageFieldType::ftDouble);
    definitions.AddOutput("store", TStorageFieldType::ftString);
  }
  void TearDown() override {
    TCurrencyConverter& converter = CurrencyConverter();
    converter.Definitions() = Saved_;
    converter.TargetCode = SavedTarget_;
    converter.ShowConverted = SavedShow_;
  }

  // Adds one result; an empty store leaves the field out.
  TResultStorageItem* Add(const std::string& title, const std::string& price, double rating = 0,
                          const std::string& store = "Shop A") {
    bool own = !Results.InTransaction();
    if (own) Results.BeginTransaction(lsAdding);
    TResultStorageItem* item = Results.NewResult();
    auto* fields = item->ResultFields();
    fields->AddResultField("title", TDynamicValue(title), title);
    fields->AddResultField("price", TDynamicValue(price));
    fields->AddResultField("rating", TDynamicValue(rating));
    if (!store.empty()) fields->AddResultField("store", TDynamicValue(store), store);
    if (own) Results.EndTransaction();
    return item;
  }

  std::vector<std::string> Titles(TStorageDataListView& view) {
    std::vector<std::string> titles;
    for (size_t i = 0; i < view.Count(); ++i)
      titles.push_back(
          static_cast<TResultStorageItem*>(view.Item(i))->FindField("title")->Value().AsString());
    return titles;
  }

  std::vector<std::string> Captions(TStorageDataListView& view) {
    std::vector<std::string> captions;
    for (size_t i = 0; i < view.GroupCount(); ++i) captions.push_back(view.Group(i)->GetCaption());
    return captions;
  }

  void GroupBy(TStorageDataListView& view, const std::string& field) {
    auto definition = std::make_unique<TResultStorageGroupDefinition>();
    definition->GroupField = field;
    view.SetGroupDefinition(std::move(definition));
    view.SetGrouped(true);
  }

  TResultStorageList Results;

 private:
  TCurrencyDefinitionList Saved_;
  std::string SavedTarget_;
  bool SavedShow_ = false;
};

TEST_F(ResultStorageTest, MoneyFieldsAreConvertedToTheTargetAndShownFormatted) {
  CurrencyConverter().TargetCode = "EUR";
  TResultStorageItem* item = Add("Dune", Money("USD", 10.0f));
  const auto* price = item->ResultFields()->FindResultField("price");
  ASSERT_TRUE(price->IsMoney());
  TCurrencyMap map;
  map.Parse(price->Value().AsString(), "USD");
  EXPECT_EQ(map.FromAmount, (TAmount{"USD", 10.0f}));
  EXPECT_EQ(map.ToAmount.Code, "EUR");
  EXPECT_FLOAT_EQ(map.ToAmount.Value, 9.0f);
  EXPECT_EQ(price->DisplayValue(), "$10.00 (USD)") << "the given display text is replaced";
  EXPECT_EQ(item->ResultFields()->FindResultField("title")->DisplayValue(), "Dune");

  // A price the map cannot read keeps its text, so it still shows and sorts as no price.
  TResultStorageItem* broken = Add("Broken", "abc");
  const auto* brokenPrice = broken->ResultFields()->FindResultField("price");
  EXPECT_EQ(brokenPrice->Value().AsString(), "abc");
  EXPECT_EQ(brokenPrice->DisplayValue(), "(n/a)");
  EXPECT_LT(TResultStorageCompare::AxisValue(brokenPrice->Value().AsString()), 0);
}

TEST_F(ResultStorageTest, StoredPricesAreConvertedAgainWithTheCurrentTargetWhenLoaded) {
  auto backend = std::make_shared<storagetest::TMemoryBackend>();
  Results.AttachStorage(backend);
  Add("Dune", Money("USD", 20.0f));

  CurrencyConverter().TargetCode = "CAD";
  CurrencyConverter().ShowConverted = true;
  ASSERT_TRUE(Results.LoadSearch(1));
  ASSERT_EQ(Results.Count(), 1u);
  const auto* price = Results.Result(0)->ResultFields()->FindResultField("price");
  TCurrencyMap map;
  map.Parse(price->Value().AsString(), "USD");
  EXPECT_EQ(map.ToAmount.Code, "CAD");
  EXPECT_FLOAT_EQ(map.ToAmount.Value, 27.0f);
  EXPECT_EQ(price->DisplayValue(), "C$27.00");
}

TEST_F(ResultStorageTest, MoneyComparesToTheCentWhileDoublesRoundToWholeNumbers) {
  TResultStorageItem* a = Add("a", Money("USD", 10.40f), 10.40);
  TResultStorageItem* b = Add("b", Money("USD", 10.00f), 10.00);
  TResultStorageItem* c = Add("c", Money("USD", 10.00f), 11.00);
  const auto& definitions = Results.OutputFieldDefinitions();
  EXPECT_GT(TResultStorageCompare(definitions, "price", true, nullptr, false)(a, b), 0);
  EXPECT_EQ(TResultStorageCompare(definitions, "price", true, nullptr, false)(b, c), 0);
  EXPECT_EQ(TResultStorageCompare(definitions, "rating", true, nullptr, false)(a, b), 0);
  EXPECT_LT(TResultStorageCompare(definitions, "rating", true, nullptr, false)(b, c), 0);
  EXPECT_GT(TResultStorageCompare(definitions, "Rating", false, nullptr, false)(b, c), 0);
  EXPECT_LT(TResultStorageCompare(definitions, "title", true, nullptr, false)(a, b), 0);
  EXPECT_EQ(TResultStorageCompare(definitions, "nosuchfield", true, nullptr, false)(a, b), 0);
}

TEST_F(ResultStorageTest, ResultsWithoutPriceSortLastBothWays) {
  Add("cheap", Money("USD", 5.0f));
  Add("none", Money("USD", TCurrencyMap::kNoPrice));
  Add("dear", Money("USD", 50.0f));
  Add("broken", "xyz");
  auto* view = Results.GetResultView("Default");
  view->SortResults("price", true, nullptr, false);
  EXPECT_THAT(Titles(*view), ElementsAre("cheap", "dear", "none", "broken"));
  view->SortResults("price", false, nullptr, false);
  EXPECT_THAT(Titles(*view), ElementsAre("dear", "cheap", "none", "broken"));
}

TEST_F(ResultStorageTest, SortKeysBreakTiesAndFollowTheColumnDirection) {
  Add("Beta", Money("USD", 7.0f));
  Add("alpha", Money("USD", 7.0f));
  Add("Gamma", Money("USD", 3.0f));
  storage::TSortKeyList keys;
  keys.AddKey("TITLE", TSortKeySortDirection::ksdAscending);
  auto* view = Results.GetResultView("Default");

  view->SortResults("price", true, &keys, false);
  EXPECT_THAT(Titles(*view), ElementsAre("Gamma", "alpha", "Beta"));
  view->SortResults("price", false, &keys, false);
  EXPECT_THAT(Titles(*view), ElementsAre("Beta", "alpha", "Gamma"));

  // A key running against the column's layout direction is turned round.
  Results.OutputFieldDefinitions().FindOutput("price")->Layout.SortDirection =
      TStorageLayoutSortDirection::sdDescending;
  view->SortResults("price", true, &keys, false);
  EXPECT_THAT(Titles(*view), ElementsAre("Gamma", "Beta", "alpha"));

  // With the keys first, the title decides and the price only breaks ties.
  Results.OutputFieldDefinitions().FindOutput("price")->Layout.SortDirection =
      TStorageLayoutSortDirection::sdAscending;
  view->SortResults("price", true, &keys, true);
  EXPECT_THAT(Titles(*view), ElementsAre("alpha", "Beta", "Gamma"));
}

// A full sort reads each result's values once and sorts on them; it must order the view and every group
// exactly as a stable sort asking the comparison about each pair would, ties included.
TEST_F(ResultStorageTest, FullSortsMatchAStableSortByTheComparison) {
  const char* codes[] = {"USD", "EUR", "CAD"};
  const char* words[] = {"Lamp", "lamp", "Desk", "chair", "Chair", "shelf"};
  uint32_t seed = 11;
  Results.BeginTransaction(lsAdding);
  for (int i = 0; i < 400; ++i) {
    seed = seed * 1103515245u + 12345u;
    const uint32_t r = seed >> 8;
    std::string price = r % 17 == 0   ? Money("USD", TCurrencyMap::kNoPrice)
                        : r % 23 == 0 ? std::string("xyz")
                                      : Money(codes[r % 3], static_cast<float>((r >> 4) % 12));
    Add(words[(r >> 9) % 6], price, static_cast<double>((r >> 12) % 5) / 2,
        "Shop " + std::to_string((r >> 15) % 9));
  }
  // Titles held as numbers compare by their text, as the column shows them.
  for (int64_t n : {7, 10, 7, 123}) {
    TResultStorageItem* item = Results.NewResult();
    item->ResultFields()->AddResultField("title", TDynamicValue(n));
    item->ResultFields()->AddResultField("price", TDynamicValue(Money("EUR", 3.0f)));
    item->ResultFields()->AddResultField("rating", TDynamicValue(1.5));
    item->ResultFields()->AddResultField("store", TDynamicValue(std::string("Shop 1")), "Shop 1");
  }
  Results.EndTransaction();
  auto* view = Results.GetResultView("Default");
  GroupBy(*view, "store");
  storage::TSortKeyList keys;
  keys.AddKey("title", TSortKeySortDirection::ksdDescending);
  keys.AddKey("rating", TSortKeySortDirection::ksdAscending);

  auto stable = [](std::vector<TStorageDataItem*> items, const TResultStorageCompare& compare) {
    std::stable_sort(items.begin(), items.end(),
                     [&compare](TStorageDataItem* a, TStorageDataItem* b) { return compare(a, b) < 0; });
    return items;
  };
  for (const char* field : {"price", "title", "rating", "nothing"})
    for (bool ascending : {true, false})
      for (const storage::TSortKeyList* sortKeys :
           std::initializer_list<const storage::TSortKeyList*>{nullptr, &keys})
        for (bool keysFirst : {false, true}) {
          SCOPED_TRACE(std::string(field) + (ascending ? " up" : " down") + (sortKeys ? " keys" : "") +
                       (keysFirst ? " first" : ""));
          // Not prepared: every comparison reads the two results afresh.
          TResultStorageCompare compare(Results.OutputFieldDefinitions(), field, ascending, sortKeys,
                                        keysFirst);
          std::vector<TStorageDataItem*> visible;
          for (size_t i = 0; i < view->Count(); ++i) visible.push_back(view->Item(i));
          const std::vector<TStorageDataItem*> expected = stable(visible, compare);
          std::map<const TStorageDataGroupItem*, std::vector<TStorageDataItem*>> groups;
          for (size_t g = 0; g < view->GroupCount(); ++g)
            groups[view->Group(g)] = stable(view->Group(g)->Items, compare);

          view->SortResults(field, ascending, sortKeys, keysFirst);
          std::vector<TStorageDataItem*> sorted;
          for (size_t i = 0; i < view->Count(); ++i) sorted.push_back(view->Item(i));
          EXPECT_TRUE(sorted == expected);
          ASSERT_EQ(view->GroupCount(), groups.size());
          for (size_t g = 0; g < view->GroupCount(); ++g)
            EXPECT_TRUE(view->Group(g)->Items == groups[view->Group(g)]);
          // The groups follow their first results in the view.
          for (size_t g = 1; g < view->GroupCount(); ++g)
            EXPECT_LT(view->IndexOf(view->Group(g - 1)->Items.front()),
                      view->IndexOf(view->Group(g)->Items.front()));
        }
}

TEST_F(ResultStorageTest, PricesInTheTargetCurrencyCompareInTheAxisCurrency) {
  // 10 EUR is 11.11 USD; stored with target EUR it carries no axis amount of its own.
  CurrencyConverter().TargetCode = "EUR";
  Add("euro", Money("EUR", 10.0f));
  Add("dollar", Money("USD", 10.5f));
  Add("canadian", Money("CAD", 14.0f));  // 10.37 USD
  auto* view = Results.GetResultView("Default");
  view->SortResults("price", true, nullptr, false);
  EXPECT_THAT(Titles(*view), ElementsAre("canadian", "dollar", "euro"));
}

TEST_F(ResultStorageTest, RepositionMovesOneChangedResult) {
  Add("a", Money("USD", 1.0f));
  TResultStorageItem* b = Add("b", Money("USD", 2.0f));
  Add("c", Money("USD", 3.0f));
  auto* view = Results.GetResultView("Default");
  view->SortResults("price", true, nullptr, false);
  b->ResultFields()->FindResultField("price")->SetValue(TDynamicValue(Money("USD", 9.0f)));
  TRecordingObserver observer;
  view->AddObserver(&observer);
  view->SortResults("price", true, nullptr, false, b);
  EXPECT_THAT(Titles(*view), ElementsAre("a", "c", "b"));
  EXPECT_THAT(observer.Take("V:sorted"), ElementsAre("V:sorted " + std::to_string(b->Index())));
}

TEST_F(ResultStorageTest, GroupsByFieldValueWithCaptionsInViewOrder) {
  Add("one", Money("USD", 9.0f), 0, "Shop A");
  Add("two", Money("USD", 1.0f), 0, "shop b");
  Add("three", Money("USD", 5.0f), 0, "SHOP A");
  Add("four", Money("USD", 7.0f), 0, "Shop A");
  auto* view = Results.GetResultView("Default");
  GroupBy(*view, "Store");
  EXPECT_THAT(Captions(*view), ElementsAre("Shop A (3 items)", "shop b (1 item)"));

  // After a sort the group of the best-placed result leads.
  view->SortResults("price", true, nullptr, false);
  EXPECT_THAT(Captions(*view), ElementsAre("shop b (1 item)", "Shop A (3 items)"));
  view->SortResults("price", false, nullptr, false);
  EXPECT_THAT(Captions(*view), ElementsAre("Shop A (3 items)", "shop b (1 item)"));
}

TEST_F(ResultStorageTest, ViewsRegroupAndRefilterAsResultsChange) {
  auto* view = Results.GetResultView("Default");
  GroupBy(*view, "store");
  TResultStorageItem* a = Add("a", Money("USD", 1.0f), 0, "Shop A");
  TResultStorageItem* b = Add("b", Money("USD", 2.0f), 0, "Shop B");
  Add("c", Money("USD", 3.0f), 0, "Shop B");
  ASSERT_THAT(Captions(*view), ElementsAre("Shop A (1 item)", "Shop B (2 items)"));
  TRecordingObserver observer;
  view->AddObserver(&observer);

  // Moving the only result of a group removes the group.
  a->ResultFields()->FindResultField("store")->SetValue(TDynamicValue("shop b"));
  a->Changed();
  EXPECT_THAT(Captions(*view), ElementsAre("Shop B (3 items)"));
  EXPECT_THAT(observer.Take("V:groupRemoved"), ElementsAre("V:groupRemoved Shop A (0 items)"));

  // A new value makes a new group at the end.
  b->ResultFields()->FindResultField("store")->SetValue(TDynamicValue("Shop C"));
  b->ResultFields()->FindResultField("store")->SetDisplayValue("Shop C");
  b->Changed();
  EXPECT_THAT(Captions(*view), ElementsAre("Shop B (2 items)", "Shop C (1 item)"));

  // A result without the field joins the last group.
  Add("d", Money("USD", 4.0f), 0, "");
  EXPECT_THAT(Captions(*view), ElementsAre("Shop B (2 items)", "Shop C (2 items)"));

  // Deleting through a setting-field transaction refilters the view and its groups.
  view->AddFilter(std::make_unique<TNotDeletedFilter>());
  Results.PendingValue = TDynamicValue(true);
  b->RunTransaction(lsSettingField, kResultSetDeleted);
  EXPECT_FALSE(view->IsVisible(b));
  EXPECT_EQ(view->Count(), 3u);
  EXPECT_THAT(Captions(*view), ElementsAre("Shop B (2 items)", "Shop C (1 item)"));
}

TEST_F(ResultStorageTest, IndexedPlacementMatchesAskingEveryGroup) {
  // Letter cases, numbers of several kinds, signed zeros, NaN and missing fields: the definition's index
  // must place every result where asking each group from the last would.
  RegisterGroupDefinition(TAskEveryGroupDefinition::StaticClass(), TResultStorageGroupItem::StaticClass());
  const std::vector<std::vector<TDynamicValue>> cases = {
      {TDynamicValue("a"), TDynamicValue("A"), TDynamicValue("b"), TDynamicValue("B"), TDynamicValue("c"),
       TDynamicValue("")},
      {TDynamicValue(1), TDynamicValue(2), TDynamicValue(2.0), TDynamicValue(-0.0), TDynamicValue(0.0),
       TDynamicValue(std::nan("")), TDynamicValue(true), TDynamicValue(false), TDynamicValue()},
      {TDynamicValue(3), TDynamicValue("x"), TDynamicValue(4.5), TDynamicValue("X"), TDynamicValue()},
  };
  for (const auto& values : cases) {
    TResultStorageList list;
    uint32_t seed = 7;
    list.BeginTransaction(lsAdding);
    for (int i = 0; i < 300; ++i) {
      seed = seed * 1103515245u + 12345u;
      TResultStorageItem* item = list.NewResult();
      size_t pick = (seed >> 16) % (values.size() + 1);
      if (pick < values.size()) item->ResultFields()->AddResultField("store", values[pick]);
    }
    list.EndTransaction();
    auto* indexed = list.GetResultView("Indexed");
    GroupBy(*indexed, "store");
    auto* asking = list.GetResultView("Asking");
    auto definition = std::make_unique<TAskEveryGroupDefinition>();
    definition->GroupField = "store";
    asking->SetGroupDefinition(std::move(definition));
    asking->SetGrouped(true);
    ASSERT_EQ(indexed->GroupCount(), asking->GroupCount());
    for (size_t g = 0; g < indexed->GroupCount(); ++g)
      EXPECT_EQ(indexed->Group(g)->Items, asking->Group(g)->Items) << g;
  }
}

TEST_F(ResultStorageTest, MoneyGroupsShowThePriceAndNeverMergeDifferentPrices) {
  // Two floats whose bytes differ only in a letter's case: 10.0 (0x41200000) and 0x61200000.
  const float tiny = std::bit_cast<float>(uint32_t{0x61200000});
  Add("a", Money("USD", 10.0f));
  Add("b", Money("USD", tiny));
  Add("c", Money("USD", 10.0f));
  Add("d", Money("USD", TCurrencyMap::kNoPrice));
  auto* view = Results.GetResultView("Default");
  GroupBy(*view, "price");
  ASSERT_EQ(view->GroupCount(), 3u);
  EXPECT_EQ(view->Group(0)->GetCaption(), "$10.00 (2 items)");
  EXPECT_EQ(view->Group(2)->GetCaption(), "(n/a) (1 item)");
  EXPECT_EQ(view->Group(1)->Items.size(), 1u);
}

TEST_F(ResultStorageTest, GroupsWithoutDisplayTextAreCalledNotAvailable) {
  Results.BeginTransaction(lsAdding);
  Results.NewResult()->ResultFields()->AddResultField("store", TDynamicValue("x"));  // no display value
  Results.EndTransaction();
  auto* view = Results.GetResultView("Default");
  GroupBy(*view, "store");
  EXPECT_THAT(Captions(*view), ElementsAre("n/a (1 item)"));
}

TEST_F(ResultStorageTest, StoredGroupingComesBackAfterALoad) {
  auto backend = std::make_shared<storagetest::TMemoryBackend>();
  Results.AttachStorage(backend);
  auto* view = Results.GetResultView("Default");
  view->SaveGroups = true;
  Add("a", Money("USD", 1.0f), 0, "Shop A");
  Add("b", Money("USD", 2.0f), 0, "Shop B");
  GroupBy(*view, "store");
  view->Group(1)->SetExpanded(true);
  ASSERT_FALSE(backend->GroupBlob.empty());

  TResultStorageList reloaded;
  reloaded.OutputFieldDefinitions().AddOutput("title", TStorageFieldType::ftString);
  reloaded.AttachStorage(backend);
  ASSERT_TRUE(reloaded.Load());
  auto* again = reloaded.GetResultView("Default");
  ASSERT_TRUE(again->Grouped());
  auto* definition = dynamic_cast<TResultStorageGroupDefinition*>(again->GroupDefinition());
  ASSERT_NE(definition, nullptr);
  EXPECT_EQ(definition->GroupField, "store");
  again->Refill();
  EXPECT_THAT(Captions(*again), ElementsAre("Shop A (1 item)", "Shop B (1 item)"));
}

}  // namespace
}  // namespace vandrel

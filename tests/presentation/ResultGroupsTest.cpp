// The six groupings of result views and the group-by menu: ranges, captions, keyed placement against
// asking every group, re-basing, and storing a grouping with the search.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>

#include "presentation/PresentationTestSupport.h"
#include "presentation/ResultGroups.h"
#include "search/SearchCatalogue.h"
#include "storage/EngineStorage.h"
#include "storage/MemoryBackend.h"

namespace vandrel {
namespace {

using presentationtest::Money;
using presentationtest::NoPrice;
using presentationtest::PresentationTest;

TEST(RoundedWidthTest, PicksTheNearestOfOneTwoFiveTimesAPowerOfTenTheSmallerOnATie) {
  const std::vector<std::pair<int64_t, int32_t>> cases = {
      {0, 1},   {1, 1},   {3, 2},   {4, 5},     {7, 5},       {9, 5}, {10, 10},
      {15, 10}, {35, 20}, {36, 50}, {350, 200}, {3500, 2000}, {-4, 1}};
  for (const auto& [b, width] : cases) EXPECT_EQ(RoundedWidth(b), width) << b;
  EXPECT_EQ(FloorDiv(-5, 10), -1);
  EXPECT_EQ(FloorDiv(-10, 10), -1);
  EXPECT_EQ(FloorDiv(5, 10), 0);
}

class ResultGroupsTest : public PresentationTest {
 protected:
  TResultStorageListView& View() { return *Results.GetResultView("Grouped"); }
  void GroupBy(std::unique_ptr<TStorageDataGroupDefinition> definition) {
    View().SetGroupDefinition(std::move(definition));
    View().SetGrouped(true);
  }
  TPriceGroupDefinition* GroupByPrice() {
    TGroupByMenuManager menu;
    menu.Attach(&View(), nullptr, "buybooks");
    menu.GroupBy("PRICE", TStorageFieldType::ftMoney);
    return dynamic_cast<TPriceGroupDefinition*>(View().GroupDefinition());
  }
};

TEST_F(ResultGroupsTest, PriceRangeFollowsTheAverageAndCaptionsShowBothBounds) {
  AddPriced("a", "USD", 36.01f);
  AddPriced("b", "USD", 37.99f);
  AddPriced("c", "USD", 37.00f);
  TPriceGroupDefinition* price = GroupByPrice();
  ASSERT_NE(price, nullptr);
  EXPECT_EQ(price->PriceRange, 2) << "average 37.00: b = 3, so 2 is the nearest of 1, 2, 5";
  EXPECT_EQ(price->CurrencyCode, "USD");
  ASSERT_EQ(View().GroupCount(), 1u);
  auto* group = dynamic_cast<TPriceDataGroupItem*>(View().Group(0));
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->LowerBound, 36);
  EXPECT_EQ(group->GetCaption(), "$36.00 to $38.00 (3 items)");

  Results.ClearItems();
  AddPriced("d", "USD", 300.0f);
  AddPriced("e", "USD", 400.0f);
  EXPECT_EQ(GroupByPrice()->PriceRange, 20) << "average 350: b = 35 lies as far from 20 as from 50";
  EXPECT_EQ(Captions(View()),
            (std::vector<std::string>{"$300.00 to $320.00 (1 item)", "$400.00 to $420.00 (1 item)"}));

  Results.ClearItems();
  AddPriced("f", "USD", 5.0f);
  EXPECT_EQ(GroupByPrice()->PriceRange, 1);
}

TEST_F(ResultGroupsTest, ResultsWithoutAPriceShareOneGroupOrderedLast) {
  Add({.Title = "none 1", .Price = NoPrice()});
  AddPriced("cheap", "USD", 10.0f);
  Add({.Title = "none 2", .Price = NoPrice()});
  Add({.Title = "broken", .Price = std::string("\x01gar")});
  AddPriced("dear", "USD", 90.0f);
  TPriceGroupDefinition* price = GroupByPrice();
  ASSERT_NE(price, nullptr);
  // Without a price nothing drags the average below the real prices: (10 + 90) / 2 = 50, range 5.
  EXPECT_EQ(price->PriceRange, 5);
  const std::vector<std::string> captions = Captions(View());
  ASSERT_EQ(captions.size(), 3u);
  EXPECT_EQ(captions.back(), "n/a (3 items)");
  EXPECT_EQ(Members(View())["n/a (3 items)"], (std::vector<std::string>{"none 1", "none 2", "broken"}));
}

TEST_F(ResultGroupsTest, AFirstResultWithoutAPriceLeavesTheTargetCurrencyToPriceGroups) {
  CurrencyConverter().TargetCode = "EUR";
  Add({.Title = "none", .Price = NoPrice()});
  AddPriced("pounds", "GBP", 8.0f);
  TPriceGroupDefinition* price = GroupByPrice();
  ASSERT_NE(price, nullptr);
  EXPECT_EQ(price->CurrencyCode, "EUR");
  // 8 pounds = 16 dollars = 14.40 euros; shown in the target, so without the code.
  EXPECT_EQ(Captions(View()).front(), "E14.00 to E15.00 (1 item)");

  // A priced first result names its own currency; the captions then carry the code.
  Results.ClearItems();
  AddPriced("pounds", "GBP", 8.0f);
  EXPECT_EQ(GroupByPrice()->CurrencyCode, "GBP");
  EXPECT_EQ(Captions(View()).front(), "L8.00 (GBP) to L9.00 (GBP) (1 item)");
}

TEST_F(ResultGroupsTest, ChangingTheCurrencyReBasesTheRangeAndRebuildsTheGroups) {
  AddPriced("a", "USD", 300.0f);
  AddPriced("b", "USD", 400.0f);
  TGroupByMenuManager menu;
  menu.Attach(&View(), nullptr, "");
  menu.GroupBy("PRICE", TStorageFieldType::ftMoney);
  auto* price = dynamic_cast<TPriceGroupDefinition*>(View().GroupDefinition());
  ASSERT_EQ(price->PriceRange, 20);

  CurrencyConverter().TargetCode = "JPY";
  CurrencyConverter().ShowConverted = true;
  menu.TargetCurrencyChanged();
  EXPECT_EQ(price->CurrencyCode, "JPY");
  // 20 dollars are 3000 yen; the rounded width of 3000 is 2000.
  EXPECT_EQ(price->PriceRange, 2000);
  EXPECT_EQ(Captions(View()),
            (std::vector<std::string>{"Y44,000 to Y46,000 (1 item)", "Y60,000 to Y62,000 (1 item)"}));
}

TEST_F(ResultGroupsTest, KeyedPlacementGivesTheGroupsAskingEveryGroupWould) {
  // An independent model: each price's group from the rule alone, every no-price result in one group.
  std::mt19937 random(7);
  std::map<std::string, std::vector<std::string>> expected;
  const char* codes[] = {"USD", "EUR", "GBP"};
  std::vector<std::pair<std::string, float>> prices;
  for (int i = 0; i < 400; ++i) {
    const std::string title = "r" + std::to_string(i);
    if (i % 37 == 0) {
      Add({.Title = title, .Price = NoPrice()});
      continue;
    }
    const std::string code = codes[random() % 3];
    const float value = static_cast<float>(random() % 20000) / 100.0f;
    AddPriced(title, code, value);
    prices.emplace_back(code, value);
  }
  TPriceGroupDefinition* price = GroupByPrice();
  ASSERT_NE(price, nullptr);
  ASSERT_GT(price->PriceRange, 0);
  size_t grouped = 0;
  for (size_t g = 0; g < View().GroupCount(); ++g) {
    auto* group = dynamic_cast<TPriceDataGroupItem*>(View().Group(g));
    ASSERT_NE(group, nullptr);
    for (const TStorageDataItem* item : group->Items) {
      ++grouped;
      std::optional<int64_t> s = price->PriceOf(*item);
      if (!s) {
        EXPECT_TRUE(group->NoPrice) << Title(item);
        continue;
      }
      EXPECT_FALSE(group->NoPrice);
      EXPECT_LE(group->LowerBound, *s) << Title(item);
      EXPECT_LT(*s, group->LowerBound + price->PriceRange) << Title(item);
    }
  }
  EXPECT_EQ(grouped, Results.Count());
  // Each bound appears once: no second group was opened for a value an existing one accepts.
  std::set<std::pair<bool, int32_t>> bounds;
  for (size_t g = 0; g < View().GroupCount(); ++g) {
    auto* group = static_cast<TPriceDataGroupItem*>(View().Group(g));
    EXPECT_TRUE(bounds.insert({group->NoPrice, group->LowerBound}).second) << group->GetCaption();
  }
  // A result added later lands by the groups' own test too.
  TResultStorageItem* late = AddPriced("late", "USD", 1.0f);
  TStorageDataGroupItem* owner = View().GroupOf(late);
  ASSERT_NE(owner, nullptr);
  EXPECT_TRUE(owner->Accepts(*late));
}

TEST_F(ResultGroupsTest, ScoresFallIntoTenPercentRangesAndOddValuesStaySafe) {
  Add({.Title = "a", .Score = 57});
  Add({.Title = "b", .Score = 50});
  Add({.Title = "c", .Score = -5});
  Add({.Title = "d"});  // no score: counts as 0
  TGroupByMenuManager menu;
  menu.Attach(&View(), nullptr, "");
  menu.GroupBy("SCORE", TStorageFieldType::ftInteger);
  ASSERT_NE(dynamic_cast<TRangeGroupDefinition*>(View().GroupDefinition()), nullptr);
  EXPECT_EQ(
      Members(View()),
      (std::map<std::string, std::vector<std::string>>{
          {"50% - 60% (2 items)", {"a", "b"}}, {"-10% - 0% (1 item)", {"c"}}, {"0% - 10% (1 item)", {"d"}}}));

  // A field holding text that is no number, and a range of 0, neither throw nor divide by zero.
  auto range = std::make_unique<TRangeGroupDefinition>();
  range->FieldName = "TITLE";
  range->Range = 0;
  range->DisplayNamePattern = "%0:d..%1:d";
  GroupBy(std::move(range));
  EXPECT_EQ(Captions(View()), (std::vector<std::string>{"0..1 (4 items)"}));
}

TEST_F(ResultGroupsTest, SimilarTitlesShareAGroupWhateverTheirOrderCaseAndPunctuation) {
  Add({.Title = "Blue Ocean - Part 1"});
  Add({.Title = "part 1: blue ocean"});
  Add({.Title = "Blue Ocean Part 2"});
  Add({.Title = "Blue Ocean Part 1 Extra"});
  TGroupByMenuManager menu;
  menu.Attach(&View(), nullptr, "");
  menu.GroupBy("TITLE", TStorageFieldType::ftString);
  auto* similar = dynamic_cast<TSimilarGroupDefinition*>(View().GroupDefinition());
  ASSERT_NE(similar, nullptr);
  EXPECT_EQ(similar->FieldName, "TITLE");
  EXPECT_EQ(Members(View()),
            (std::map<std::string, std::vector<std::string>>{
                {"Blue Ocean - Part 1 (2 items)", {"Blue Ocean - Part 1", "part 1: blue ocean"}},
                {"Blue Ocean Part 2 (1 item)", {"Blue Ocean Part 2"}},
                {"Blue Ocean Part 1 Extra (1 item)", {"Blue Ocean Part 1 Extra"}}}));
  auto* first = static_cast<TSimilarGroupItem*>(View().Group(0));
  EXPECT_EQ(first->ShortLength, 14);
  EXPECT_EQ(first->SortedWords(), (std::vector<std::string>{"1", "blue", "ocean", "part"}));
}

TEST_F(ResultGroupsTest, CheckGroupsCaptionOneAndManyResults) {
  for (int i = 0; i < 4; ++i) Add({.Title = "c" + std::to_string(i), .Checked = true});
  Add({.Title = "u", .Checked = false});
  TGroupByMenuManager menu;
  menu.Attach(&View(), nullptr, "");
  menu.GroupBy("CHECK", TStorageFieldType::ftBoolean);
  EXPECT_EQ(Captions(View()),
            (std::vector<std::string>{"Checked items (4 items)", "Unchecked item (1 item)"}));
  Results.ClearItems();
  Add({.Title = "one", .Checked = true});
  Add({.Title = "u1"});
  Add({.Title = "u2"});
  View().Refill();
  EXPECT_EQ(Captions(View()),
            (std::vector<std::string>{"Checked item (1 item)", "Unchecked items (2 items)"}));
}

class TOneCategoryCatalogue : public ISearchCatalogue {
 public:
  TOneCategoryCatalogue() {
    Engines.BeginTransaction(lsAdding);
    TEngineStorageItem* engine = Engines.NewEngine();
    engine->EngName = "pageturner";
    engine->DisplayName = "PageTurner Books";
    Engines.EndTransaction();
  }
  std::string SearchTypeFile(const std::string&) const override { return {}; }
  std::string EngineFile(const std::string&, const std::string&) const override { return {}; }
  TVariableList* Constants() override { return nullptr; }
  TSearchTypeStorageItem* FindSearchType(const std::string&) override { return nullptr; }
  TCategoryStorageItem* FindCategory(const std::string&) override { return nullptr; }
  TEngineStorageList* CategoryEngines(const std::string& catName) override {
    return catName == "buybooks" ? &Engines : nullptr;
  }
  void SaveCategory(TCategoryStorageItem&) override {}
  TEngineStorageList Engines;
};

TEST_F(ResultGroupsTest, StoreGroupsUseTheFirstFinderAndTheEnginesDisplayName) {
  TOneCategoryCatalogue catalogue;
  SetGroupCatalogue(&catalogue);
  Add({.Title = "a", .FoundBy = {"pageturner", "bookbarn"}});
  Add({.Title = "b", .FoundBy = {"bookbarn", "pageturner"}});
  Add({.Title = "c", .FoundBy = {}});
  Add({.Title = "d", .FoundBy = {"pageturner"}});
  TGroupByMenuManager menu;
  menu.Attach(&View(), nullptr, "buybooks");
  menu.GroupBy("Engine", TStorageFieldType::ftString);
  SetGroupCatalogue(nullptr);
  // "bookbarn" is an engine the category does not list; "c" was found by nobody and is a group of its own.
  EXPECT_EQ(Captions(View()),
            (std::vector<std::string>{"PageTurner Books (2 items)", "n/a (1 item)", "n/a (1 item)"}));
  ASSERT_EQ(View().GroupCount(), 3u);
  EXPECT_EQ(Title(View().Group(0)->Items[1]), "d");
  EXPECT_EQ(Title(View().Group(1)->Items[0]), "b");
  EXPECT_EQ(Title(View().Group(2)->Items[0]), "c");
}

TEST_F(ResultGroupsTest, UrlGroupsGatherOneAddressUnderTheFirstFieldsText) {
  Add({.Title = "Dune", .Address = "http://a/1"});
  Add({.Title = "Dune (paper)", .Address = "http://a/1"});
  Add({.Title = "Emma", .Address = "http://a/2"});
  GroupBy(std::make_unique<TUrlGroupDefinition>());
  EXPECT_EQ(Captions(View()), (std::vector<std::string>{"Dune", "Emma"}));
  EXPECT_EQ(View().Group(0)->Items.size(), 2u);
}

TEST_F(ResultGroupsTest, TheMenuListsVisibleFieldsWithRadioStateAndNoGroup) {
  TSearchTypeStorageItem type;
  PresentationTest::DefineFields(type.OutputFieldDefinitions);
  type.OutputFieldDefinitions.FindOutput("SUMMARY")->Layout.Flags = lfSummary;
  TGroupByMenuManager menu;
  menu.Attach(nullptr, &type, "");
  std::vector<TGroupByMenuEntry> entries = menu.Entries();
  std::vector<std::string> captions;
  for (const auto& e : entries) captions.push_back(e.Caption);
  EXPECT_EQ(captions, (std::vector<std::string>{"Title", "Price", "Score", "Address", "-", "No Group"}));
  for (const auto& e : entries) EXPECT_FALSE(e.Enabled) << "no view attached: " << e.Caption;

  AddPriced("a", "USD", 10.0f);
  menu.Attach(&View(), &type, "");
  EXPECT_TRUE(menu.Entries().back().Checked) << "No Group while ungrouped";
  ASSERT_TRUE(menu.Choose(2));  // Score
  entries = menu.Entries();
  EXPECT_TRUE(entries[2].Checked);
  EXPECT_FALSE(entries[0].Checked);
  EXPECT_FALSE(entries.back().Checked);
  EXPECT_FALSE(menu.Choose(4)) << "the separator does nothing";
  ASSERT_TRUE(menu.ChooseByName("price"));
  EXPECT_NE(dynamic_cast<TPriceGroupDefinition*>(View().GroupDefinition()), nullptr);
  EXPECT_TRUE(menu.Entries()[1].Checked);
  ASSERT_TRUE(menu.ChooseByName("none"));
  EXPECT_FALSE(View().Grouped());
  EXPECT_FALSE(menu.ChooseByName("nothing"));
}

TEST_F(ResultGroupsTest, AStoredGroupingComesBackWithTheSearch) {
  auto backend = std::make_shared<storagetest::TMemoryBackend>();
  Results.AttachStorage(backend);
  Results.SetSrhNum(1);
  AddPriced("a", "USD", 300.0f);
  AddPriced("b", "USD", 400.0f);
  TResultStorageListView* view = Results.GetResultView("ResultViewFrame");
  view->SaveGroups = true;
  TGroupByMenuManager menu;
  menu.Attach(view, nullptr, "");
  menu.GroupBy("PRICE", TStorageFieldType::ftMoney);

  TResultStorageList again;
  presentationtest::PresentationTest::DefineFields(again.OutputFieldDefinitions());
  again.AttachStorage(backend);
  ASSERT_TRUE(again.LoadSearch(1));
  TResultStorageListView* restored = again.GetResultView("ResultViewFrame");
  ASSERT_TRUE(restored->Grouped()) << again.LastReadError();
  auto* price = dynamic_cast<TPriceGroupDefinition*>(restored->GroupDefinition());
  ASSERT_NE(price, nullptr);
  EXPECT_EQ(price->PriceRange, 20);
  EXPECT_EQ(price->GroupField, "PRICE");
  EXPECT_EQ(price->CurrencyCode, "USD");
  EXPECT_EQ(Captions(*restored),
            (std::vector<std::string>{"$300.00 to $320.00 (1 item)", "$400.00 to $420.00 (1 item)"}));
}

}  // namespace
}  // namespace vandrel

// Price and delivery filters and the filter panel: bounds, currencies, descriptions, the panel's delays on
// a manual clock, and filters stored with the search.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "presentation/FakeDesktopPorts.h"
#include "presentation/PresentationTestSupport.h"
#include "search/SearchHistory.h"
#include "storage/MemoryBackend.h"

namespace vandrel {
namespace {

using presentationtest::Money;
using presentationtest::NoPrice;
using presentationtest::PresentationTest;

using test::TManualScheduler;

class TRefilterCounter : public IStorageDataListViewObserver {
 public:
  void Refiltered(TStorageDataListView*) override { ++Count; }
  int Count = 0;
};

class ResultFiltersTest : public PresentationTest {
 protected:
  TResultStorageListView& View() { return *Results.GetResultView("Filtered"); }
  TPriceFilter* AddPriceFilter(float min, float max, const std::string& code = "USD") {
    auto filter = std::make_unique<TPriceFilter>();
    filter->SmallestMinPrice.Code = filter->BiggestMaxPrice.Code = code;
    filter->MinPrice = {code, min};
    filter->MaxPrice = {code, max};
    return static_cast<TPriceFilter*>(View().AddFilter(std::move(filter)));
  }
};

TEST_F(ResultFiltersTest, BoundsOfZeroAreNoBoundsAndAMinimumRefusesResultsWithoutAPrice) {
  AddPriced("ten", "USD", 10.0f);
  AddPriced("twenty", "USD", 20.0f);
  AddPriced("thirty", "USD", 30.0f);
  Add({.Title = "none", .Price = NoPrice()});
  Add({.Title = "no field"});

  TPriceFilter* filter = AddPriceFilter(20, 0);
  EXPECT_EQ(Titles(View()), (std::vector<std::string>{"twenty", "thirty", "no field"}));
  EXPECT_EQ(filter->GetDescription(), "Min $20.00");
  filter->SetMinPrice({"USD", 0});
  filter->SetMaxPrice({"USD", 20});
  EXPECT_EQ(Titles(View()), (std::vector<std::string>{"ten", "twenty", "none", "no field"}))
      << "a maximum alone lets a result without a price pass";
  EXPECT_EQ(filter->GetDescription(), "Max $20.00");
  filter->SetMinPrice({"USD", 15});
  EXPECT_EQ(filter->GetDescription(), "$15.00 - $20.00");
  filter->BeginUpdate();
  filter->SetMinPrice({"USD", 0});
  filter->SetMaxPrice({"USD", 0});
  EXPECT_EQ(Titles(View()).size(), 2u) << "a batch reports its change at its end";
  filter->EndUpdate();
  EXPECT_EQ(Titles(View()).size(), 5u);
  EXPECT_EQ(filter->GetDescription(), "Any");
  filter->SetMinPrice({"EUR", 9});
  EXPECT_EQ(filter->GetDescription(), "Min E9.00 (EUR)");
}

TEST_F(ResultFiltersTest, TwoCurrenciesAreComparedConvertedWithoutARefilterFromInsideTheRefilter) {
  CurrencyConverter().TargetCode = "EUR";
  AddPriced("dollars", "USD", 10.0f);
  TPriceFilter* filter = AddPriceFilter(13, 0);
  EXPECT_FALSE(filter->HasDifferentsCurrencies);
  // The euro result is tested on its own as it arrives: its conversion must not set off a refilter.
  TRefilterCounter counter;
  View().AddObserver(&counter);
  AddPriced("euros", "EUR", 12.0f);
  View().RemoveObserver(&counter);
  EXPECT_TRUE(filter->HasDifferentsCurrencies);
  EXPECT_EQ(Titles(View()), (std::vector<std::string>{"euros"}));
  EXPECT_EQ(counter.Count, 0) << "converting the bounds while accepting reported a change";
  // The bounds moved into the target currency: 13 dollars are 11.70 euros.
  EXPECT_EQ(filter->MinPrice.Code, "EUR");
  EXPECT_NEAR(filter->MinPrice.Value, 11.7, 0.01);

  TPriceFilter range;
  Results.GetResultView("All")->Refill();
  range.ComputeRange(*Results.GetResultView("All"));
  EXPECT_TRUE(range.HasDifferentsCurrencies);
  EXPECT_EQ(range.SmallestMinPrice.Code, "EUR");
  EXPECT_NEAR(range.SmallestMinPrice.Value, 9.0, 0.01);
  EXPECT_NEAR(range.BiggestMaxPrice.Value, 12.0, 0.01);
}

TEST_F(ResultFiltersTest, DeliveryModesKeepTheMatchingShippingBits) {
  Add({.Title = "fast", .Shipping = 1});
  Add({.Title = "normal", .Shipping = 2});
  Add({.Title = "see site", .Shipping = 4});
  Add({.Title = "unknown"});
  auto* filter = static_cast<TShippingFilter*>(View().AddFilter(std::make_unique<TShippingFilter>()));
  EXPECT_EQ(filter->Mode(), TShippingFilterMode::smFastestShipping);
  EXPECT_EQ(filter->SeeSiteMask, 4u);
  EXPECT_EQ(Titles(View()), (std::vector<std::string>{"fast", "see site", "unknown"}));
  EXPECT_EQ(filter->GetDescription(), "Fastest delivery");
  filter->SetMode(TShippingFilterMode::smBestDeals);
  EXPECT_EQ(Titles(View()), (std::vector<std::string>{"normal", "see site", "unknown"}));
  EXPECT_EQ(filter->GetDescription(), "Normal delivery");
  filter->SetMode(TShippingFilterMode::smDontFilter);
  EXPECT_EQ(Titles(View()).size(), 4u);
  EXPECT_EQ(filter->GetDescription(), "All");

  filter->SetMode(TShippingFilterMode::smFastestShipping);
  AddPriceFilter(10, 0);
  EXPECT_EQ(FilterDescription(View()), "Min $10.00; Fastest delivery");
}

TEST_F(ResultFiltersTest, FiltersAreStoredWithTheSearch) {
  auto backend = std::make_shared<storagetest::TMemoryBackend>();
  Results.AttachStorage(backend);
  Results.SetSrhNum(1);
  AddPriced("ten", "USD", 10.0f);
  AddPriced("thirty", "USD", 30.0f);
  TResultStorageListView* view = Results.GetResultView("ResultViewFrame");
  view->SaveFilters = true;
  auto shipping = std::make_unique<TShippingFilter>();
  shipping->SetMode(TShippingFilterMode::smBestDeals);
  view->AddFilter(std::move(shipping));
  auto price = std::make_unique<TPriceFilter>();
  price->InitForView(*view);
  price->MinPrice = {"USD", 20};
  view->AddFilter(std::move(price));

  TResultStorageList again;
  PresentationTest::DefineFields(again.OutputFieldDefinitions());
  again.AttachStorage(backend);
  ASSERT_TRUE(again.LoadSearch(1));
  TResultStorageListView* restored = again.GetResultView("ResultViewFrame");
  EXPECT_EQ(Titles(*restored), (std::vector<std::string>{"thirty"})) << again.LastReadError();
  TPriceFilter* loaded = FindFilter<TPriceFilter>(*restored);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->MinPrice, (TAmount{"USD", 20}));
  EXPECT_EQ(loaded->Currency(), "USD");
  EXPECT_EQ(FilterDescription(*restored), "Min $20.00; Normal delivery");
}

class FilterPanelTest : public ResultFiltersTest {
 protected:
  void SetUp() override {
    ResultFiltersTest::SetUp();
    AddPriced("a", "USD", 10.40f);
    AddPriced("b", "USD", 25.0f);
    AddPriced("c", "USD", 49.20f);
    Add({.Title = "none", .Price = NoPrice()});
    Default = Results.GetResultView("Default");
    Main = Results.GetResultView("ResultViewFrame");
    Combo = Results.GetResultView("ResultComboView");
    Type.OutputFieldDefinitions.AddOutput("SHIPPINGATTRIBUTE", TStorageFieldType::ftInteger);
    Panel.Open(Default, {Main, Combo}, &Type);
  }
  TManualScheduler Clock;
  TCompareFilterPanel Panel{Clock};
  TSearchTypeStorageItem Type;
  TResultStorageListView *Default = nullptr, *Main = nullptr, *Combo = nullptr;
};

TEST_F(FilterPanelTest, LimitsAndPositionsComeFromTheViewsPrices) {
  EXPECT_EQ(Panel.MinRow().Low, 10);
  EXPECT_EQ(Panel.MinRow().High, 50);
  EXPECT_EQ(Panel.MinRow().Position, 10);
  EXPECT_EQ(Panel.MaxRow().Position, 50);
  EXPECT_EQ(Panel.MaxRow().Label, "$50.00");
  EXPECT_TRUE(Panel.DeliveryEnabled());
  EXPECT_EQ(Panel.DeliverySelection(), -1);
}

TEST_F(FilterPanelTest, SliderMovesApplyAfterAQuarterSecondTypingAfterOneSecond) {
  Panel.MoveMax(30);
  Clock.Advance(200);
  Panel.MoveMax(40);  // restarts the wait
  Clock.Advance(200);
  EXPECT_EQ(FindFilter<TPriceFilter>(*Main), nullptr) << "applied before 250 ms of rest";
  Clock.Advance(50);
  for (TResultStorageListView* view : {Main, Combo}) {
    TPriceFilter* filter = FindFilter<TPriceFilter>(*view);
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(filter->MaxPrice, (TAmount{"USD", 40}));
    EXPECT_EQ(filter->MinPrice.Value, 0) << "the min slider rests at its left end";
    EXPECT_EQ(Titles(*view), (std::vector<std::string>{"a", "b", "none"}));
  }
  Panel.TypeMin(20);
  Clock.Advance(999);
  EXPECT_EQ(FindFilter<TPriceFilter>(*Main)->MinPrice.Value, 0);
  Clock.Advance(1);
  EXPECT_EQ(FindFilter<TPriceFilter>(*Main)->MinPrice, (TAmount{"USD", 20}));
  EXPECT_EQ(Titles(*Combo), (std::vector<std::string>{"b"}));
  EXPECT_EQ(Panel.Description(), "$20.00 - $40.00");
}

TEST_F(FilterPanelTest, MinAndMaxPushEachOtherAndTheEndsRemoveTheFilters) {
  Panel.MoveMax(20);
  Panel.MoveMin(30);
  EXPECT_EQ(Panel.MaxRow().Position, 30) << "min dragged above max takes max along";
  Panel.MoveMax(15);
  EXPECT_EQ(Panel.MinRow().Position, 15);
  Clock.Advance(250);
  ASSERT_NE(FindFilter<TPriceFilter>(*Main), nullptr);
  Panel.MoveMax(50);
  Clock.Advance(250);
  EXPECT_EQ(FindFilter<TPriceFilter>(*Main)->MaxPrice.Value, 0) << "the right end is no upper bound";
  Panel.MoveMin(10);
  Clock.Advance(250);
  EXPECT_EQ(FindFilter<TPriceFilter>(*Main), nullptr);
  EXPECT_EQ(FindFilter<TPriceFilter>(*Combo), nullptr);
}

TEST_F(FilterPanelTest, DeliveryAndResetKeepBothViewsInStep) {
  Panel.SetDelivery(TShippingFilterMode::smFastestShipping);
  EXPECT_EQ(Panel.DeliverySelection(), 1);
  ASSERT_NE(FindFilter<TShippingFilter>(*Combo), nullptr);
  Panel.MoveMin(20);
  Clock.Advance(250);
  EXPECT_EQ(Panel.Description(), "Min $20.00; Fastest delivery");
  Panel.SetDelivery(TShippingFilterMode::smDontFilter);
  EXPECT_EQ(FindFilter<TShippingFilter>(*Main), nullptr);
  EXPECT_EQ(Panel.DeliverySelection(), -1);

  Panel.MoveMax(30);
  Panel.Reset();
  EXPECT_EQ(Clock.Pending(), 0u) << "a pending move is dropped by the reset";
  EXPECT_EQ(FindFilter<TPriceFilter>(*Main), nullptr);
  EXPECT_EQ(Panel.DeliverySelection(), 0) << "normal delivery when it can be chosen";
  EXPECT_EQ(Panel.Description(), "Normal delivery");

  // A search type without a shipping attribute offers no delivery: reset removes the filter.
  TSearchTypeStorageItem plain;
  Panel.Open(Default, {Main, Combo}, &plain);
  EXPECT_FALSE(Panel.DeliveryEnabled());
  Panel.Reset();
  EXPECT_EQ(FindFilter<TShippingFilter>(*Combo), nullptr);
  EXPECT_EQ(Panel.Description(), "");
}

}  // namespace
}  // namespace vandrel

// A result list in memory with a small currency table, for the group, filter, view and find tests.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "currency/CurrencyConverters.h"
#include "presentation/ResultFilters.h"
#include "presentation/ResultGroups.h"
#include "storage/ResultStorage.h"
#include "storage/SearchTypeStorage.h"

// Results are described with designated initializers naming only what a test cares about; the rest keep
// their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace vandrel::presentationtest {

inline std::string Money(const std::string& code, float value) {
  TCurrencyMap map;
  map.FromAmount = {code, value};
  return map.Serialize();
}

// A result without a price, as the searcher stores one.
inline std::string NoPrice() {
  return Money("USD", TCurrencyMap::kNoPrice);
}

struct TSampleResult {
  std::string Title;
  std::optional<std::string> Price;  // a money string; none: no PRICE field at all
  std::optional<int64_t> Score;
  std::vector<std::string> FoundBy;
  bool Checked = false;
  std::optional<int64_t> Shipping;
  std::string Address;
  std::string Summary;
};

// Currency table USD 1, EUR 0.9, JPY 150, GBP 0.5 against the dollar, target USD, shown as found.
class PresentationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPresentationClasses();
    TCurrencyConverter& converter = CurrencyConverter();
    Saved_ = converter.Definitions();
    SavedTarget_ = converter.TargetCode;
    SavedShow_ = converter.ShowConverted;
    SavedAxis_ = converter.AxisCode;
    converter.Definitions().Clear();
    converter.Definitions().Add({"USD", 1.0f, "US Dollar", "$"});
    converter.Definitions().Add({"EUR", 0.9f, "Euro", "E"});
    converter.Definitions().Add({"JPY", 150.0f, "Yen", "Y", 0, ',', '.', 0});
    converter.Definitions().Add({"GBP", 0.5f, "Pound", "L"});
    converter.AxisCode = "USD";
    converter.TargetCode = "USD";
    converter.ShowConverted = false;
    DefineFields(Results.OutputFieldDefinitions());
  }
  void TearDown() override {
    TCurrencyConverter& converter = CurrencyConverter();
    converter.Definitions() = Saved_;
    converter.TargetCode = SavedTarget_;
    converter.ShowConverted = SavedShow_;
    converter.AxisCode = SavedAxis_;
  }

  static void DefineFields(TSearchTypeStorageOutputFieldDefinitionList& d) {
    d.Clear();
    d.AddOutput("TITLE", TStorageFieldType::ftString)->DisplayName = "Title";
    d.AddOutput("PRICE", TStorageFieldType::ftMoney)->DisplayName = "Price";
    d.AddOutput("SCORE", TStorageFieldType::ftInteger)->DisplayName = "Score";
    d.AddOutput("SHIPPINGATTRIBUTE", TStorageFieldType::ftInteger)->Layout.Flags = lfHidden | lfInternal;
    d.AddOutput("ADDRESS", TStorageFieldType::ftString)->DisplayName = "Address";
    d.AddOutput("SUMMARY", TStorageFieldType::ftString)->DisplayName = "Summary";
  }

  // Fields stand at the positions of their definitions (money handling goes by position); a field the
  // sample leaves out is written under another name, so that looking it up by name finds nothing.
  TResultStorageItem* Add(const TSampleResult& sample) {
    const bool own = !Results.InTransaction();
    if (own) Results.BeginTransaction(lsAdding);
    TResultStorageItem* item = Results.NewResult();
    auto* fields = item->ResultFields();
    fields->AddResultField("TITLE", TDynamicValue(sample.Title), sample.Title);
    if (sample.Price)
      fields->AddResultField("PRICE", TDynamicValue(*sample.Price));
    else
      fields->AddResultField("-PRICE", TDynamicValue(std::string()));
    if (sample.Score)
      fields->AddResultField("SCORE", TDynamicValue(*sample.Score), std::to_string(*sample.Score));
    else
      fields->AddResultField("-SCORE", TDynamicValue());
    if (sample.Shipping)
      fields->AddResultField("SHIPPINGATTRIBUTE", TDynamicValue(*sample.Shipping));
    else
      fields->AddResultField("-SHIPPINGATTRIBUTE", TDynamicValue());
    fields->AddResultField("ADDRESS", TDynamicValue(sample.Address), sample.Address);
    fields->AddResultField("SUMMARY", TDynamicValue(sample.Summary), sample.Summary);
    item->FoundBy.Lines = sample.FoundBy;
    item->Checked = sample.Checked;
    if (own) Results.EndTransaction();
    return item;
  }
  TResultStorageItem* AddPriced(const std::string& title, const std::string& code, float value) {
    return Add({.Title = title, .Price = Money(code, value)});
  }

 public:
  static std::string Title(const TStorageDataItem* item) {
    return static_cast<const TResultStorageItem*>(item)->FindField("TITLE")->Value().AsString();
  }
  static std::vector<std::string> Titles(const TStorageDataListView& view) {
    std::vector<std::string> titles;
    for (size_t i = 0; i < view.Count(); ++i) titles.push_back(Title(view.Item(i)));
    return titles;
  }
  static std::vector<std::string> Captions(const TStorageDataListView& view) {
    std::vector<std::string> captions;
    for (size_t i = 0; i < view.GroupCount(); ++i) captions.push_back(view.Group(i)->GetCaption());
    return captions;
  }
  // Group captions with their members' titles, in view order.
  static std::map<std::string, std::vector<std::string>> Members(const TStorageDataListView& view) {
    std::map<std::string, std::vector<std::string>> members;
    for (size_t i = 0; i < view.GroupCount(); ++i)
      for (const TStorageDataItem* item : view.Group(i)->Items)
        members[view.Group(i)->GetCaption()].push_back(Title(item));
    return members;
  }

  TResultStorageList Results;

 private:
  TCurrencyDefinitionList Saved_;
  std::string SavedTarget_, SavedAxis_;
  bool SavedShow_ = false;
};

}  // namespace vandrel::presentationtest

// The six ways a result view can be grouped, and the group-by menu that creates them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "storage/ResultStorage.h"

namespace vandrel {

class ISearchCatalogue;
class TSearchTypeStorageItem;

// Gives the store groups the engines' display names. Main thread only; null: every store shows "n/a"
// unless the engine is unknown anyway.
void SetGroupCatalogue(ISearchCatalogue* catalogue);

// Makes the group definitions, group items and result filters known to the stream readers, so that a
// search's stored groups and filters load. Idempotent; call before any result list loads.
void RegisterPresentationClasses();

// The rounded width for `value`: b = max(1, value); of 1p, 2p and 5p (p the power of ten at or below b)
// the one closest to b, the smaller on a tie.
int32_t RoundedWidth(int64_t value);
// Floor division: -5 div 10 is -1, so negative values fall into the group below zero.
int64_t FloorDiv(int64_t value, int64_t divisor);

// What a keyed grouping files a group under: a number, or a text.
struct TGroupKey {
  int64_t Number = 0;
  std::string Text;
  bool Textual = false;

  void SetNumber(int64_t number) {
    Number = number;
    Text.clear();
    Textual = false;
  }
  void SetText(std::string text) {
    Number = 0;
    Text = std::move(text);
    Textual = true;
  }
  bool operator==(const TGroupKey&) const = default;
};

struct TGroupKeyHash {
  size_t operator()(const TGroupKey& key) const {
    return key.Textual ? std::hash<std::string>()(key.Text) ^ 1 : std::hash<int64_t>()(key.Number);
  }
};

// Groups that answer "which group takes this item" from a key, so placing 10,000 items in 1,000 groups
// does not ask every group. A group's acceptance must be exactly "same key" for the index to be used.
class TKeyedGroupDefinition : public TResultStorageGroupDefinition {
  VANDREL_PERSISTENT(TKeyedGroupDefinition)
 public:
  int FindAcceptingGroup(const TStorageDataItem& item) override;
  void GroupsInvalidated() override;
  void GroupAppended(TStorageDataGroupItem& group) override;

 protected:
  // False: this item or group cannot be keyed, so every group is asked.
  virtual bool ItemKey(const TStorageDataItem& item, TGroupKey& key) = 0;
  virtual bool GroupKey(const TStorageDataGroupItem& group, TGroupKey& key) const = 0;

 private:
  void RebuildKeys();
  int Lookup(const TGroupKey& key) const;
  bool KeysValid_ = false;
  size_t KeyedCount_ = 0;                                       // groups indexed: positions 0..KeyedCount_-1
  std::unordered_map<TGroupKey, int, TGroupKeyHash> LastWith_;  // key -> last group position with it
};

// ---- store ----

class TStoreGroupDefinition : public TKeyedGroupDefinition {
  VANDREL_PERSISTENT(TStoreGroupDefinition)
 public:
  std::string CatName;  // the category whose engine list names the stores

 protected:
  bool ItemKey(const TStorageDataItem& item, TGroupKey& key) override;
  bool GroupKey(const TStorageDataGroupItem& group, TGroupKey& key) const override;
};

class TStoreDataGroupItem : public TStorageDataGroupItem {
  VANDREL_PERSISTENT(TStoreDataGroupItem)
 public:
  std::string StoreName;    // first engine that found the group's results; empty: found by none
  std::string DisplayName;  // that engine's display name, or "n/a"

  std::string GetCaption() const override;
  bool Accepts(const TStorageDataItem& item) const override;
  void Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) override;
};

// ---- price ----

class TPriceGroupDefinition : public TKeyedGroupDefinition {
  VANDREL_PERSISTENT(TPriceGroupDefinition)
 public:
  int32_t PriceRange = 0;  // width of each group in whole units of CurrencyCode; 0: not computed yet
  std::string CurrencyCode;

  // Re-bases the range into `code` and drops the groups so that they are rebuilt.
  void SetCurrencyCode(const std::string& code);
  // Computes PriceRange from the average price of the view's visible results; leaves 0 for an empty view.
  void ComputePriceRange(const TStorageDataListView& view);

  // A result's price in CurrencyCode, truncated; nullopt for a result without a price.
  std::optional<int64_t> PriceOf(const TStorageDataItem& item) const;
  // Results without a price gather in one group that comes after every priced one.
  int Compare(const TStorageDataGroupItem& a, const TStorageDataGroupItem& b) const override;
  bool OrderKey(const TStorageDataGroupItem& group, int64_t& key) const override;

 protected:
  bool ItemKey(const TStorageDataItem& item, TGroupKey& key) override;
  bool GroupKey(const TStorageDataGroupItem& group, TGroupKey& key) const override;

 private:
  mutable int FieldIndex_ = -1;  // position of GroupField in the results' fields, from the first result
};

class TPriceDataGroupItem : public TStorageDataGroupItem {
  VANDREL_PERSISTENT(TPriceDataGroupItem)
 public:
  int32_t LowerBound = 0;
  std::string DisplayName;
  bool NoPrice = false;  // the group of the results without a price

  std::string GetCaption() const override;
  bool Accepts(const TStorageDataItem& item) const override;
  void Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) override;
};

// ---- check mark ----

class TCheckGroupDefinition : public TKeyedGroupDefinition {
  VANDREL_PERSISTENT(TCheckGroupDefinition)
 protected:
  bool ItemKey(const TStorageDataItem& item, TGroupKey& key) override;
  bool GroupKey(const TStorageDataGroupItem& group, TGroupKey& key) const override;
};

class TCheckGroupItem : public TStorageDataGroupItem {
  VANDREL_PERSISTENT(TCheckGroupItem)
 public:
  bool CheckedItemGroup = false;

  std::string GetCaption() const override;
  bool Accepts(const TStorageDataItem& item) const override;
  void Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) override;
};

// ---- numeric range ----

class TRangeGroupDefinition : public TKeyedGroupDefinition {
  VANDREL_PERSISTENT(TRangeGroupDefinition)
 public:
  int32_t Range = 1;  // never below 1 when used
  std::string FieldName;
  std::string DisplayNamePattern;  // formatted with the lower and the upper bound

  int32_t EffectiveRange() const { return Range < 1 ? 1 : Range; }
  // The field as a whole number; text that is no number counts as 0.
  int64_t ValueOf(const TStorageDataItem& item) const;

 protected:
  bool ItemKey(const TStorageDataItem& item, TGroupKey& key) override;
  bool GroupKey(const TStorageDataGroupItem& group, TGroupKey& key) const override;

 private:
  mutable int FieldIndex_ = -1;
};

class TRangeGroupItem : public TStorageDataGroupItem {
  VANDREL_PERSISTENT(TRangeGroupItem)
 public:
  int32_t LowerBound = 0;

  std::string DisplayName() const;
  std::string GetCaption() const override;
  bool Accepts(const TStorageDataItem& item) const override;
  void Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) override;
};

// ---- similar texts ----

// True for the blank and the printable ASCII characters that are neither letters nor digits.
bool IsSimilarSeparator(char c);
// The maximal runs of non-separators.
std::vector<std::string> SimilarWords(std::string_view text);

class TSimilarGroupDefinition : public TKeyedGroupDefinition {
  VANDREL_PERSISTENT(TSimilarGroupDefinition)
 public:
  std::string FieldName;

  // The field's display value (its value when nothing is displayed).
  std::string TextOf(const TStorageDataItem& item) const;

 protected:
  bool ItemKey(const TStorageDataItem& item, TGroupKey& key) override;
  bool GroupKey(const TStorageDataGroupItem& group, TGroupKey& key) const override;

 private:
  mutable int FieldIndex_ = -1;
};

class TSimilarGroupItem : public TStorageDataGroupItem {
  VANDREL_PERSISTENT(TSimilarGroupItem)
 public:
  std::string DisplayName;
  int32_t ShortLength = 0;  // characters of DisplayName that are not separators

  std::string GetCaption() const override;
  bool Accepts(const TStorageDataItem& item) const override;
  void Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) override;
  // The words of DisplayName sorted ignoring letter case and folded; built once.
  const std::vector<std::string>& SortedWords() const;

 private:
  mutable std::optional<std::vector<std::string>> Words_;
};

// ---- address ----
// The address a result opens: its "ADDRESS" field, else the first field whose definition is an address.
std::string ResultAddress(const TResultStorageItem& result);

class TUrlGroupDefinition : public TKeyedGroupDefinition {
  VANDREL_PERSISTENT(TUrlGroupDefinition)
 protected:
  bool ItemKey(const TStorageDataItem& item, TGroupKey& key) override;
  bool GroupKey(const TStorageDataGroupItem& group, TGroupKey& key) const override;
};

class TUrlGroupItem : public TStorageDataGroupItem {
  VANDREL_PERSISTENT(TUrlGroupItem)
 public:
  std::string Url;
  std::string DisplayName;

  std::string GetCaption() const override { return DisplayName; }
  bool Accepts(const TStorageDataItem& item) const override;
  void Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) override;
};

// ---- the group-by menu ----

struct TGroupByMenuEntry {
  std::string Caption;  // "-" for the separator
  std::string FieldName;
  TStorageFieldType FieldType = TStorageFieldType::ftString;
  bool IsSeparator = false;
  bool IsNoGroup = false;
  bool Enabled = false;
  bool Checked = false;
};

// The "Group by" menu of a result view as a model: its entries and radio state, and what choosing one does.
// Main thread only.
class TGroupByMenuManager {
 public:
  // The view and the search type whose output layout lists the entries; either may be null.
  void Attach(TResultStorageListView* view, const TSearchTypeStorageItem* searchType, std::string catName);
  TResultStorageListView* View() const { return View_; }

  std::vector<TGroupByMenuEntry> Entries() const;
  // Chooses entry `index` of Entries(); false when it is disabled, a separator or out of range.
  bool Choose(size_t index);
  // Groups by the entry of that name ("none": no group); false when no entry has that name.
  bool ChooseByName(const std::string& name);
  // Groups the view by a field of that name and type, by the menu's rules.
  void GroupBy(const std::string& fieldName, TStorageFieldType fieldType);
  void Ungroup();

  // The definition the menu's rules make for a field; needs the view for a price grouping's range.
  std::unique_ptr<TStorageDataGroupDefinition> CreateDefinition(const std::string& fieldName,
                                                                TStorageFieldType fieldType) const;
  // Re-chooses a price grouping's currency after the target currency changed.
  void TargetCurrencyChanged();
  // The currency a price grouping on `fieldName` counts in: the target currency when prices are shown
  // converted or the view is empty, else the currency of the first visible result's price.
  std::string PriceCurrency(const std::string& fieldName) const;

 private:
  bool IsCurrent(const std::string& fieldName) const;

  TResultStorageListView* View_ = nullptr;
  const TSearchTypeStorageItem* SearchType_ = nullptr;
  std::string CatName_;
};

}  // namespace vandrel

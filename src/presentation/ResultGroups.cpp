#include "presentation/ResultGroups.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <typeinfo>

#include "currency/CurrencyConverters.h"
#include "platform/Format.h"
#include "platform/TextUtils.h"
#include "presentation/ResultFilters.h"
#include "search/SearchCatalogue.h"
#include "search/SearchHistory.h"
#include "storage/EngineStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {

namespace {

ISearchCatalogue* GroupCatalogue = nullptr;

const TResultStorageItem* AsResult(const TStorageDataItem& item) {
  // Every item of a result list is exactly a result: spare the dynamic_cast the grouping of thousands.
  if (typeid(item) == typeid(TResultStorageItem)) return static_cast<const TResultStorageItem*>(&item);
  return dynamic_cast<const TResultStorageItem*>(&item);
}

// The field named `name`, looked up by name once and then by the position remembered in `index`.
const TResultStorageFieldItem* CachedField(const TStorageDataItem& item, const std::string& name,
                                           int& index) {
  const TResultStorageItem* result = AsResult(item);
  if (!result) return nullptr;
  const TResultStorageFieldList* fields = result->ResultFields();
  if (index >= 0 && static_cast<size_t>(index) < fields->Count()) {
    TResultStorageFieldItem* field = fields->ResultField(static_cast<size_t>(index));
    // Records of older definitions may hold their fields elsewhere: trust the position only when it fits.
    if (SameText(field->Name, name)) return field;
  }
  TResultStorageFieldItem* field = fields->FindResultField(name);
  if (field) index = field->Index();
  return field;
}

std::string FieldText(const TResultStorageFieldItem* field) {
  if (!field) return {};
  return field->DisplayValue().empty() ? field->Value().AsString() : field->DisplayValue();
}

std::string CountCaption(const std::string& name, size_t count) {
  if (count == 1) return Format("%s (1 item)", {name});
  return Format("%s (%d items)", {name, count});
}

template <class D>
D* DefinitionOf(const TStorageDataGroupItem& group) {
  return group.Manager ? dynamic_cast<D*>(group.Manager->Definition()) : nullptr;
}

double RateOf(const std::string& code) {
  const auto* definition = CurrencyConverter().Definitions().Find(code);
  return definition ? static_cast<double>(definition->ExchangeRate) : 0.0;
}

double ConvertInto(const TCurrencyMap& map, const std::string& code) {
  return ConvertAmountInto(map, code);
}

int64_t ClampToInt32Range(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLimit = 2147483647.0;
  return static_cast<int64_t>(std::clamp(std::trunc(value), -kLimit, kLimit));
}

std::string AmountText(int64_t value, const std::string& code) {
  const TCurrencyConverter& converter = CurrencyConverter();
  std::string text = converter.FormatAmount({code, static_cast<float>(value)},
                                            !code.empty() && code != converter.TargetCode);
  return text.empty() ? std::to_string(value) + (code.empty() ? "" : " " + code) : text;
}

}  // namespace

void SetGroupCatalogue(ISearchCatalogue* catalogue) {
  GroupCatalogue = catalogue;
}

int64_t FloorDiv(int64_t value, int64_t divisor) {
  int64_t q = value / divisor;
  if ((value % divisor != 0) && ((value < 0) != (divisor < 0))) --q;
  return q;
}

int32_t RoundedWidth(int64_t value) {
  const int64_t b = std::clamp<int64_t>(value, 1, 1000000000);
  int64_t p = 1;
  while (p * 10 <= b) p *= 10;
  int64_t best = p;
  for (int64_t c : {2 * p, 5 * p})
    if (std::llabs(b - c) < std::llabs(b - best)) best = c;
  return static_cast<int32_t>(best);
}

// ---- keyed placement ----

const TClassInfo& TKeyedGroupDefinition::StaticClass() {
  static const TClassInfo info = TClassBuilder<TKeyedGroupDefinition>(
                                     "TKeyedGroupDefinition", TResultStorageGroupDefinition::StaticClass())
                                     .Build();
  return info;
}

void TKeyedGroupDefinition::RebuildKeys() {
  LastWith_.clear();
  KeysValid_ = false;
  KeyedCount_ = 0;
  if (!Manager) return;
  LastWith_.reserve(Manager->Count());
  TGroupKey key;
  for (size_t i = 0; i < Manager->Count(); ++i) {
    const TStorageDataGroupItem* group = Manager->Group(i);
    if (!group || !GroupKey(*group, key)) {
      LastWith_.clear();
      return;
    }
    LastWith_[key] = static_cast<int>(i);
  }
  KeyedCount_ = Manager->Count();
  KeysValid_ = true;
}

int TKeyedGroupDefinition::Lookup(const TGroupKey& key) const {
  auto it = LastWith_.find(key);
  return it == LastWith_.end() ? -1 : it->second;
}

int TKeyedGroupDefinition::FindAcceptingGroup(const TStorageDataItem& item) {
  if (!Manager) return kAskEveryGroup;
  if (!KeysValid_ || KeyedCount_ != Manager->Count()) RebuildKeys();
  if (!KeysValid_) return kAskEveryGroup;
  TGroupKey key;
  if (!ItemKey(item, key)) return kAskEveryGroup;
  return Lookup(key);
}

void TKeyedGroupDefinition::GroupsInvalidated() {
  TResultStorageGroupDefinition::GroupsInvalidated();
  KeysValid_ = false;
}

void TKeyedGroupDefinition::GroupAppended(TStorageDataGroupItem& group) {
  TResultStorageGroupDefinition::GroupAppended(group);
  TGroupKey key;
  if (!KeysValid_ || !Manager || Manager->Count() != KeyedCount_ + 1 || !GroupKey(group, key)) {
    KeysValid_ = false;
    return;
  }
  LastWith_[std::move(key)] = static_cast<int>(KeyedCount_++);
}

// ---- store ----

const TClassInfo& TStoreGroupDefinition::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStoreGroupDefinition>("TStoreGroupDefinition", TKeyedGroupDefinition::StaticClass())
          .String("CatName", &TStoreGroupDefinition::CatName)
          .Build();
  return info;
}

namespace {
const std::string& FirstFinder(const TStorageDataItem& item) {
  static const std::string none;
  const TResultStorageItem* result = AsResult(item);
  return result && !result->FoundBy.Lines.empty() ? result->FoundBy.Lines.front() : none;
}
}  // namespace

bool TStoreGroupDefinition::ItemKey(const TStorageDataItem& item, TGroupKey& key) {
  key.SetText(FirstFinder(item));
  return true;
}

bool TStoreGroupDefinition::GroupKey(const TStorageDataGroupItem& group, TGroupKey& key) const {
  const auto* store = dynamic_cast<const TStoreDataGroupItem*>(&group);
  if (!store) return false;
  key.SetText(store->StoreName);
  return true;
}

const TClassInfo& TStoreDataGroupItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStoreDataGroupItem>("TStoreDataGroupItem", TStorageDataGroupItem::StaticClass())
          .String("StoreName", &TStoreDataGroupItem::StoreName)
          .String("DisplayName", &TStoreDataGroupItem::DisplayName)
          .Build();
  return info;
}

std::string TStoreDataGroupItem::GetCaption() const {
  if (Items.size() == 1) return Format("%s (1 item)", {DisplayName});
  return Format("%0:s (%1:d items)", {DisplayName, Items.size()});
}

bool TStoreDataGroupItem::Accepts(const TStorageDataItem& item) const {
  return FirstFinder(item) == StoreName;
}

void TStoreDataGroupItem::Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) {
  TStorageDataGroupItem::Initialize(manager, firstItem);
  StoreName = FirstFinder(firstItem);
  DisplayName.clear();
  const auto* definition = DefinitionOf<TStoreGroupDefinition>(*this);
  if (GroupCatalogue && definition && !StoreName.empty())
    if (TEngineStorageList* engines = GroupCatalogue->CategoryEngines(definition->CatName))
      if (TEngineStorageItem* engine = engines->FindByName(StoreName)) DisplayName = engine->DisplayName;
  if (DisplayName.empty()) DisplayName = "n/a";
}

// ---- price ----

const TClassInfo& TPriceGroupDefinition::StaticClass() {
  using C = TPriceGroupDefinition;
  static const TClassInfo info =
      TClassBuilder<C>("TPriceGroupDefinition", TKeyedGroupDefinition::StaticClass())
          .Integer("PriceRange", &C::PriceRange)
          // Kept for blobs that name the field this way: it reads as empty and writes GroupField.
          .String(
              "FieldName", [](const C&) { return std::string(); },
              [](C& c, std::string v) {
                if (!v.empty()) c.GroupField = std::move(v);
              })
          .String("CurrencyCode", &C::CurrencyCode)
          .Build();
  return info;
}

std::optional<int64_t> TPriceGroupDefinition::PriceOf(const TStorageDataItem& item) const {
  const TResultStorageFieldItem* field = CachedField(item, GroupField, FieldIndex_);
  if (!field) return std::nullopt;
  const std::string* text = field->Value().StringPtr();
  if (!text || text->empty()) return std::nullopt;
  // Read in place: a regroup reads every visible price, some of them twice.
  const TMoneyView::TAmountView from = TMoneyView(*text).FromAmount;
  if (from.Code.empty() || !(from.Value >= 0)) return std::nullopt;
  return ClampToInt32Range(ConvertAmountInto(from.Code, from.Value, CurrencyCode));
}

void TPriceGroupDefinition::ComputePriceRange(const TStorageDataListView& view) {
  if (view.Count() == 0) return;
  FieldIndex_ = -1;
  // Averaged in cents of the axis currency, so the rule's 10 % cut is an integer division.
  const std::string& axisCode = CurrencyConverter().AxisCode;
  int64_t sumCents = 0;
  int64_t priced = 0;
  for (size_t i = 0; i < view.Count(); ++i) {
    const TResultStorageFieldItem* field = CachedField(*view.Item(i), GroupField, FieldIndex_);
    if (!field) continue;
    const std::string* text = field->Value().StringPtr();
    if (!text) continue;
    double axis = TResultStorageCompare::AxisValue(*text);
    // Results without a price would drag the average below every real price.
    if (!(axis >= 0)) continue;
    sumCents += std::min<int64_t>(std::llround(std::min(axis, 1e12) * 100.0), int64_t{1} << 50);
    ++priced;
    if (sumCents > (int64_t{1} << 60)) break;
  }
  if (priced == 0) return;
  double average = static_cast<double>(sumCents / priced) / 100.0;
  if (axisCode != CurrencyCode)
    if (double rate = RateOf(CurrencyCode); rate > 0) average *= rate;
  const int64_t averageCents = std::llround(std::min(average, 1e15) * 100.0);
  PriceRange = RoundedWidth(averageCents / 1000);
}

void TPriceGroupDefinition::SetCurrencyCode(const std::string& code) {
  if (code == CurrencyCode) return;
  const std::string old = CurrencyCode;
  CurrencyCode = code;
  if (PriceRange > 0 && !old.empty()) {
    TCurrencyMap map;
    map.FromAmount = {old, static_cast<float>(PriceRange)};
    PriceRange = RoundedWidth(std::llround(ConvertInto(map, code)));
  }
  TStorageDataListView* view = Manager ? Manager->View : nullptr;
  if (!view) return;
  view->DropGroups();
  if (view->Grouped()) view->Refill();
  view->StoreGroups();
}

int TPriceGroupDefinition::Compare(const TStorageDataGroupItem& a, const TStorageDataGroupItem& b) const {
  // Called some ten thousand times to order a thousand groups: spare the dynamic_cast for exact matches.
  auto price = [](const TStorageDataGroupItem& g) {
    return typeid(g) == typeid(TPriceDataGroupItem) ? static_cast<const TPriceDataGroupItem*>(&g)
                                                    : dynamic_cast<const TPriceDataGroupItem*>(&g);
  };
  const auto* pa = price(a);
  const auto* pb = price(b);
  const bool na = pa && pa->NoPrice, nb = pb && pb->NoPrice;
  if (na != nb) return na ? 1 : -1;
  return TKeyedGroupDefinition::Compare(a, b);
}

bool TPriceGroupDefinition::OrderKey(const TStorageDataGroupItem& group, int64_t& key) const {
  // As Compare: the group without a price after every other, then by first position (at least -1).
  const auto* price = typeid(group) == typeid(TPriceDataGroupItem)
                          ? static_cast<const TPriceDataGroupItem*>(&group)
                          : dynamic_cast<const TPriceDataGroupItem*>(&group);
  if (!TKeyedGroupDefinition::OrderKey(group, key)) return false;
  if (price && price->NoPrice) key += int64_t{1} << 40;
  return true;
}

namespace {
// The key of the group that gathers the results without a price; no priced key is a text.
void SetNoPriceKey(TGroupKey& key) {
  key.SetText("n/a");
}
}  // namespace

bool TPriceGroupDefinition::ItemKey(const TStorageDataItem& item, TGroupKey& key) {
  std::optional<int64_t> s = PriceOf(item);
  if (!s) {
    SetNoPriceKey(key);
    return true;
  }
  if (PriceRange <= 0) return false;
  key.SetNumber(FloorDiv(*s, PriceRange));
  return true;
}

bool TPriceGroupDefinition::GroupKey(const TStorageDataGroupItem& group, TGroupKey& key) const {
  const auto* price = dynamic_cast<const TPriceDataGroupItem*>(&group);
  if (!price) return false;
  if (price->NoPrice) {
    SetNoPriceKey(key);
    return true;
  }
  if (PriceRange <= 0 || price->LowerBound % PriceRange != 0) return false;
  key.SetNumber(price->LowerBound / PriceRange);
  return true;
}

const TClassInfo& TPriceDataGroupItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TPriceDataGroupItem>("TPriceDataGroupItem", TStorageDataGroupItem::StaticClass())
          .Integer("LowerBound", &TPriceDataGroupItem::LowerBound)
          .String("DisplayName", &TPriceDataGroupItem::DisplayName)
          .Boolean("NoPrice", &TPriceDataGroupItem::NoPrice)
          .Build();
  return info;
}

std::string TPriceDataGroupItem::GetCaption() const {
  return CountCaption(DisplayName, Items.size());
}

bool TPriceDataGroupItem::Accepts(const TStorageDataItem& item) const {
  const auto* definition = DefinitionOf<TPriceGroupDefinition>(*this);
  if (!definition) return false;
  std::optional<int64_t> s = definition->PriceOf(item);
  if (!s) return NoPrice;
  if (NoPrice) return false;
  return LowerBound <= *s && *s < static_cast<int64_t>(LowerBound) + definition->PriceRange;
}

void TPriceDataGroupItem::Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) {
  TStorageDataGroupItem::Initialize(manager, firstItem);
  auto* definition = DefinitionOf<TPriceGroupDefinition>(*this);
  std::optional<int64_t> s = definition ? definition->PriceOf(firstItem) : std::nullopt;
  if (!definition || !s) {
    NoPrice = true;
    LowerBound = 0;
    DisplayName = "n/a";
    return;
  }
  if (definition->PriceRange <= 0) definition->PriceRange = RoundedWidth(*s / 10);
  const int64_t range = definition->PriceRange;
  const int64_t lower = FloorDiv(*s, range) * range;
  LowerBound = static_cast<int32_t>(
      std::clamp<int64_t>(lower, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
  DisplayName = Format("%0:s to %1:s", {AmountText(lower, definition->CurrencyCode),
                                        AmountText(lower + range, definition->CurrencyCode)});
}

// ---- check mark ----

const TClassInfo& TCheckGroupDefinition::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TCheckGroupDefinition>("TCheckGroupDefinition", TKeyedGroupDefinition::StaticClass())
          .Build();
  return info;
}

bool TCheckGroupDefinition::ItemKey(const TStorageDataItem& item, TGroupKey& key) {
  const TResultStorageItem* result = AsResult(item);
  key.SetNumber(result && result->Checked ? 1 : 0);
  return true;
}

bool TCheckGroupDefinition::GroupKey(const TStorageDataGroupItem& group, TGroupKey& key) const {
  const auto* check = dynamic_cast<const TCheckGroupItem*>(&group);
  if (!check) return false;
  key.SetNumber(check->CheckedItemGroup ? 1 : 0);
  return true;
}

const TClassInfo& TCheckGroupItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TCheckGroupItem>("TCheckGroupItem", TStorageDataGroupItem::StaticClass())
          .Boolean("CheckedItemGroup", &TCheckGroupItem::CheckedItemGroup)
          .Build();
  return info;
}

std::string TCheckGroupItem::GetCaption() const {
  if (CheckedItemGroup)
    return Items.size() == 1 ? "Checked item (1 item)" : Format("Checked items (%0:d items)", {Items.size()});
  return Items.size() == 1 ? "Unchecked item (1 item)"
                           : Format("Unchecked items (%0:d items)", {Items.size()});
}

bool TCheckGroupItem::Accepts(const TStorageDataItem& item) const {
  const TResultStorageItem* result = AsResult(item);
  return (result && result->Checked) == CheckedItemGroup;
}

void TCheckGroupItem::Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) {
  TStorageDataGroupItem::Initialize(manager, firstItem);
  const TResultStorageItem* result = AsResult(firstItem);
  CheckedItemGroup = result && result->Checked;
}

// ---- numeric range ----

const TClassInfo& TRangeGroupDefinition::StaticClass() {
  using C = TRangeGroupDefinition;
  static const TClassInfo info =
      TClassBuilder<C>("TRangeGroupDefinition", TKeyedGroupDefinition::StaticClass())
          .Integer("Range", &C::Range, 1)
          .String("FieldName", &C::FieldName)
          .String("DisplayNamePattern", &C::DisplayNamePattern)
          .Build();
  return info;
}

int64_t TRangeGroupDefinition::ValueOf(const TStorageDataItem& item) const {
  const TResultStorageFieldItem* field = CachedField(item, FieldName, FieldIndex_);
  if (!field) return 0;
  const TDynamicValue& value = field->Value();
  switch (value.Kind()) {
    case TDynamicValue::TKind::Boolean:
    case TDynamicValue::TKind::Integer:
      return value.AsInteger();
    case TDynamicValue::TKind::Double:
      return ClampToInt32Range(value.AsDouble());
    case TDynamicValue::TKind::String: {
      std::string_view text = Trim(*value.StringPtr());
      double number = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
      if (ec != std::errc() || end != text.data() + text.size()) return 0;
      return ClampToInt32Range(number);
    }
    case TDynamicValue::TKind::Empty:
      break;
  }
  return 0;
}

bool TRangeGroupDefinition::ItemKey(const TStorageDataItem& item, TGroupKey& key) {
  key.SetNumber(FloorDiv(ValueOf(item), EffectiveRange()));
  return true;
}

bool TRangeGroupDefinition::GroupKey(const TStorageDataGroupItem& group, TGroupKey& key) const {
  const auto* range = dynamic_cast<const TRangeGroupItem*>(&group);
  if (!range || range->LowerBound % EffectiveRange() != 0) return false;
  key.SetNumber(range->LowerBound / EffectiveRange());
  return true;
}

const TClassInfo& TRangeGroupItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TRangeGroupItem>("TRangeGroupItem", TStorageDataGroupItem::StaticClass())
          .Integer("LowerBound", &TRangeGroupItem::LowerBound)
          .Build();
  return info;
}

std::string TRangeGroupItem::DisplayName() const {
  const auto* definition = DefinitionOf<TRangeGroupDefinition>(*this);
  if (!definition) return std::to_string(LowerBound);
  const int64_t upper = static_cast<int64_t>(LowerBound) + definition->EffectiveRange();
  return Format(definition->DisplayNamePattern, {static_cast<int64_t>(LowerBound), upper});
}

std::string TRangeGroupItem::GetCaption() const {
  return CountCaption(DisplayName(), Items.size());
}

bool TRangeGroupItem::Accepts(const TStorageDataItem& item) const {
  const auto* definition = DefinitionOf<TRangeGroupDefinition>(*this);
  if (!definition) return false;
  const int64_t value = definition->ValueOf(item);
  return LowerBound <= value && value < static_cast<int64_t>(LowerBound) + definition->EffectiveRange();
}

void TRangeGroupItem::Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) {
  TStorageDataGroupItem::Initialize(manager, firstItem);
  const auto* definition = DefinitionOf<TRangeGroupDefinition>(*this);
  if (!definition) return;
  const int64_t range = definition->EffectiveRange();
  LowerBound = static_cast<int32_t>(FloorDiv(definition->ValueOf(firstItem), range) * range);
}

// ---- similar texts ----

bool IsSimilarSeparator(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 32 && u <= 47) || (u >= 58 && u <= 64) || (u >= 91 && u <= 96) || (u >= 123 && u <= 126);
}

std::vector<std::string> SimilarWords(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsSimilarSeparator(text[i])) ++i;
    size_t start = i;
    while (i < text.size() && !IsSimilarSeparator(text[i])) ++i;
    if (i > start) words.emplace_back(text.substr(start, i - start));
  }
  return words;
}

namespace {

// Words folded to lower case and sorted: two texts are similar exactly when these lists are equal.
std::vector<std::string> FoldedSortedWords(std::string_view text) {
  std::vector<std::string> words = SimilarWords(text);
  for (std::string& w : words) w = AsciiLowerCase(w);
  std::sort(words.begin(), words.end());
  return words;
}

std::string JoinWords(const std::vector<std::string>& words) {
  std::string key;
  for (const std::string& w : words) {
    key += w;
    key += '\x1f';  // a control byte: never part of a word of printable text
  }
  return key;
}

}  // namespace

const TClassInfo& TSimilarGroupDefinition::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TSimilarGroupDefinition>("TSimilarGroupDefinition", TKeyedGroupDefinition::StaticClass())
          .String("FieldName", &TSimilarGroupDefinition::FieldName)
          .Build();
  return info;
}

std::string TSimilarGroupDefinition::TextOf(const TStorageDataItem& item) const {
  return FieldText(CachedField(item, FieldName, FieldIndex_));
}

bool TSimilarGroupDefinition::ItemKey(const TStorageDataItem& item, TGroupKey& key) {
  key.SetText(JoinWords(FoldedSortedWords(TextOf(item))));
  return true;
}

bool TSimilarGroupDefinition::GroupKey(const TStorageDataGroupItem& group, TGroupKey& key) const {
  const auto* similar = dynamic_cast<const TSimilarGroupItem*>(&group);
  if (!similar) return false;
  key.SetText(JoinWords(similar->SortedWords()));
  return true;
}

const TClassInfo& TSimilarGroupItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TSimilarGroupItem>("TSimilarGroupItem", TStorageDataGroupItem::StaticClass())
          .String(
              "DisplayName", [](const TSimilarGroupItem& g) { return g.DisplayName; },
              [](TSimilarGroupItem& g, std::string v) {
                g.DisplayName = std::move(v);
                g.Words_.reset();
              })
          .Integer("ShortLength", &TSimilarGroupItem::ShortLength)
          .Build();
  return info;
}

const std::vector<std::string>& TSimilarGroupItem::SortedWords() const {
  if (!Words_) Words_ = FoldedSortedWords(DisplayName);
  return *Words_;
}

std::string TSimilarGroupItem::GetCaption() const {
  return CountCaption(DisplayName.empty() ? "n/a" : DisplayName, Items.size());
}

bool TSimilarGroupItem::Accepts(const TStorageDataItem& item) const {
  const auto* definition = DefinitionOf<TSimilarGroupDefinition>(*this);
  if (!definition) return false;
  const std::string text = definition->TextOf(item);
  int32_t length = 0;
  for (char c : text) length += IsSimilarSeparator(c) ? 0 : 1;
  if (length != ShortLength) return false;
  const std::vector<std::string>& mine = SortedWords();
  std::vector<std::string> theirs;
  for (std::string& w : SimilarWords(text)) {
    // A text with more words than the group's can never match: stop reading it one word past.
    if (theirs.size() > mine.size()) return false;
    theirs.push_back(AsciiLowerCase(w));
  }
  if (theirs.size() != mine.size()) return false;
  std::sort(theirs.begin(), theirs.end());
  return theirs == mine;
}

void TSimilarGroupItem::Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) {
  TStorageDataGroupItem::Initialize(manager, firstItem);
  const auto* definition = DefinitionOf<TSimilarGroupDefinition>(*this);
  DisplayName = definition ? definition->TextOf(firstItem) : std::string();
  Words_.reset();
  ShortLength = 0;
  for (char c : DisplayName) ShortLength += IsSimilarSeparator(c) ? 0 : 1;
}

// ---- address ----

std::string ResultAddress(const TResultStorageItem& result) {
  const TResultStorageFieldList* fields = result.ResultFields();
  if (const TResultStorageFieldItem* field = fields->FindResultField("ADDRESS"))
    return field->Value().AsString();
  // Search types name their address field themselves ("url"); its definition marks it as an address.
  // Fields stand at the positions of their definitions.
  auto* list = dynamic_cast<TResultStorageList*>(result.Owner());
  if (!list) return {};
  const auto& definitions = list->OutputFieldDefinitions();
  for (size_t i = 0; i < definitions.Count() && i < fields->Count(); ++i)
    if (definitions.Output(i)->IsUrl) return fields->ResultField(i)->Value().AsString();
  return {};
}

namespace {
std::string AddressOf(const TStorageDataItem& item) {
  const TResultStorageItem* result = AsResult(item);
  return result ? ResultAddress(*result) : std::string();
}
}  // namespace

const TClassInfo& TUrlGroupDefinition::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TUrlGroupDefinition>("TUrlGroupDefinition", TKeyedGroupDefinition::StaticClass()).Build();
  return info;
}

bool TUrlGroupDefinition::ItemKey(const TStorageDataItem& item, TGroupKey& key) {
  key.SetText(AddressOf(item));
  return true;
}

bool TUrlGroupDefinition::GroupKey(const TStorageDataGroupItem& group, TGroupKey& key) const {
  const auto* url = dynamic_cast<const TUrlGroupItem*>(&group);
  if (!url) return false;
  key.SetText(url->Url);
  return true;
}

const TClassInfo& TUrlGroupItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TUrlGroupItem>("TUrlGroupItem", TStorageDataGroupItem::StaticClass())
          .String("Url", &TUrlGroupItem::Url)
          .String("DisplayName", &TUrlGroupItem::DisplayName)
          .Build();
  return info;
}

bool TUrlGroupItem::Accepts(const TStorageDataItem& item) const {
  return AddressOf(item) == Url;
}

void TUrlGroupItem::Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) {
  TStorageDataGroupItem::Initialize(manager, firstItem);
  Url = AddressOf(firstItem);
  const TResultStorageItem* result = AsResult(firstItem);
  const TResultStorageFieldList* fields = result ? result->ResultFields() : nullptr;
  DisplayName = fields && fields->Count() > 0 ? FieldText(fields->ResultField(0)) : std::string();
  if (DisplayName.empty()) DisplayName = "n/a";
}

// ---- registration ----

void RegisterPresentationClasses() {
  static const bool done = [] {
    RegisterGroupDefinition(TStoreGroupDefinition::StaticClass(), TStoreDataGroupItem::StaticClass());
    RegisterGroupDefinition(TPriceGroupDefinition::StaticClass(), TPriceDataGroupItem::StaticClass());
    RegisterGroupDefinition(TCheckGroupDefinition::StaticClass(), TCheckGroupItem::StaticClass());
    RegisterGroupDefinition(TRangeGroupDefinition::StaticClass(), TRangeGroupItem::StaticClass());
    RegisterGroupDefinition(TSimilarGroupDefinition::StaticClass(), TSimilarGroupItem::StaticClass());
    RegisterGroupDefinition(TUrlGroupDefinition::StaticClass(), TUrlGroupItem::StaticClass());
    RegisterClass(TPriceFilter::StaticClass());
    RegisterClass(TShippingFilter::StaticClass());
    RegisterClass(TResultStorageDefaultFilterItem::StaticClass());
    return true;
  }();
  (void)done;
}

// ---- the group-by menu ----

void TGroupByMenuManager::Attach(TResultStorageListView* view, const TSearchTypeStorageItem* searchType,
                                 std::string catName) {
  View_ = view;
  SearchType_ = searchType;
  CatName_ = std::move(catName);
}

namespace {

// The entries' source: the user's layout, or the definitions it is made from while there is none.
template <class F>
void ForEachLayoutEntry(const TSearchTypeStorageItem& type, F&& visit) {
  if (type.OutputFieldLayout.Count() > 0) {
    for (size_t i = 0; i < type.OutputFieldLayout.Count(); ++i) {
      const TStorageFieldDefinitionLayoutItem& item = *type.OutputFieldLayout.LayoutItem(i);
      visit(item.Name, item.DisplayName, item.FieldType, item.Layout.Flags);
    }
    return;
  }
  for (size_t i = 0; i < type.OutputFieldDefinitions.Count(); ++i) {
    const TSearchTypeStorageOutputFieldDefinitionItem& item = *type.OutputFieldDefinitions.Output(i);
    visit(item.Name, item.DisplayName, item.FieldType, item.Layout.Flags);
  }
}

}  // namespace

bool TGroupByMenuManager::IsCurrent(const std::string& fieldName) const {
  if (!View_ || !View_->Grouped()) return false;
  const TStorageDataGroupDefinition* definition = View_->GroupDefinition();
  if (!definition) return false;
  if (dynamic_cast<const TStoreGroupDefinition*>(definition)) return SameText(fieldName, "Engine");
  if (dynamic_cast<const TCheckGroupDefinition*>(definition)) return SameText(fieldName, "CHECK");
  if (dynamic_cast<const TRangeGroupDefinition*>(definition)) return SameText(fieldName, "SCORE");
  if (const auto* similar = dynamic_cast<const TSimilarGroupDefinition*>(definition))
    return SameText(similar->FieldName, fieldName);
  if (const auto* field = dynamic_cast<const TStorageDataFieldGroupDefinition*>(definition))
    return SameText(field->GroupField, fieldName);
  return false;
}

std::vector<TGroupByMenuEntry> TGroupByMenuManager::Entries() const {
  std::vector<TGroupByMenuEntry> entries;
  if (SearchType_)
    ForEachLayoutEntry(*SearchType_, [&](const std::string& name, const std::string& displayName,
                                         TStorageFieldType type, uint8_t flags) {
      if (displayName.empty() || (flags & (lfSummary | lfHidden | lfInternal))) return;
      TGroupByMenuEntry entry;
      entry.Caption = displayName;
      entry.FieldName = name;
      entry.FieldType = type;
      entry.Enabled = View_ != nullptr;
      entry.Checked = IsCurrent(name);
      entries.push_back(std::move(entry));
    });
  if (!entries.empty()) {
    TGroupByMenuEntry separator;
    separator.Caption = "-";
    separator.IsSeparator = true;
    entries.push_back(separator);
  }
  TGroupByMenuEntry none;
  none.Caption = "No Group";
  none.IsNoGroup = true;
  none.Enabled = View_ != nullptr;
  none.Checked = !View_ || !View_->Grouped();
  entries.push_back(none);
  return entries;
}

bool TGroupByMenuManager::Choose(size_t index) {
  std::vector<TGroupByMenuEntry> entries = Entries();
  if (index >= entries.size() || !entries[index].Enabled || entries[index].IsSeparator) return false;
  if (entries[index].IsNoGroup)
    Ungroup();
  else
    GroupBy(entries[index].FieldName, entries[index].FieldType);
  return true;
}

bool TGroupByMenuManager::ChooseByName(const std::string& name) {
  std::vector<TGroupByMenuEntry> entries = Entries();
  for (size_t i = 0; i < entries.size(); ++i)
    if (!entries[i].IsSeparator && !entries[i].IsNoGroup && SameText(entries[i].FieldName, name))
      return Choose(i);
  if (SameText(name, "none") || SameText(name, "No Group")) {
    if (!View_) return false;
    Ungroup();
    return true;
  }
  return false;
}

std::string TGroupByMenuManager::PriceCurrency(const std::string& fieldName) const {
  const TCurrencyConverter& converter = CurrencyConverter();
  if (converter.ShowConverted || !View_ || View_->Count() == 0) return converter.TargetCode;
  const TResultStorageItem* first = AsResult(*View_->Item(0));
  const TResultStorageFieldItem* field = first ? first->ResultFields()->FindResultField(fieldName) : nullptr;
  const std::string* text = field ? field->Value().StringPtr() : nullptr;
  if (!text) return converter.TargetCode;
  TCurrencyMap map;
  map.Parse(*text, converter.AxisCode);
  // A first result without a price has no currency to offer.
  if (map.FromAmount.Code.empty() || map.FromAmount.Value < 0) return converter.TargetCode;
  return map.FromAmount.Code;
}

std::unique_ptr<TStorageDataGroupDefinition> TGroupByMenuManager::CreateDefinition(
    const std::string& fieldName, TStorageFieldType fieldType) const {
  if (SameText(fieldName, "Engine")) {
    auto store = std::make_unique<TStoreGroupDefinition>();
    store->CatName = CatName_;
    return store;
  }
  if (SameText(fieldName, "CHECK")) return std::make_unique<TCheckGroupDefinition>();
  if (fieldType == TStorageFieldType::ftMoney) {
    auto price = std::make_unique<TPriceGroupDefinition>();
    price->GroupField = fieldName;
    price->CurrencyCode = PriceCurrency(fieldName);
    if (View_) price->ComputePriceRange(*View_);
    return price;
  }
  if (!SameText(fieldName, "SCORE")) {
    auto similar = std::make_unique<TSimilarGroupDefinition>();
    similar->FieldName = fieldName;
    return similar;
  }
  auto range = std::make_unique<TRangeGroupDefinition>();
  range->FieldName = "SCORE";
  range->Range = 10;
  range->DisplayNamePattern = "%0:d%% - %1:d%%";
  return range;
}

void TGroupByMenuManager::GroupBy(const std::string& fieldName, TStorageFieldType fieldType) {
  if (!View_) return;
  View_->SetGroupDefinition(CreateDefinition(fieldName, fieldType));
  if (!View_->Grouped()) View_->SetGrouped(true);
}

void TGroupByMenuManager::Ungroup() {
  if (View_) View_->SetGrouped(false);
}

void TGroupByMenuManager::TargetCurrencyChanged() {
  if (!View_ || !View_->Grouped()) return;
  auto* price = dynamic_cast<TPriceGroupDefinition*>(View_->GroupDefinition());
  if (!price) return;
  const std::string code = PriceCurrency(price->GroupField);
  price->SetCurrencyCode(code);
}

}  // namespace vandrel

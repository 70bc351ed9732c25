#include "storage/ResultStorage.h"

#include <cmath>
#include <deque>
#include <limits>
#include <typeinfo>

#include "currency/CurrencyConverters.h"
#include "platform/Format.h"
#include "storage/TypedStorage.h"

namespace vandrel {

namespace {

// What the user's locale would do for plain Latin text: letters first compared without case, then a
// lower-case letter before its capital.
int CompareDisplayText(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  const size_t n = std::min(a.size(), b.size());
  int tie = 0;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    char lx = lower(x), ly = lower(y);
    if (lx != ly) return static_cast<unsigned char>(lx) < static_cast<unsigned char>(ly) ? -1 : 1;
    if (tie == 0 && x != y) tie = (x >= 'a' && x <= 'z') ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return tie;
}

// dynamic_cast to Base, without its cost when the object is exactly an Exact (as the items of a result
// list are).
template <class Base, class Exact, class U>
Base* CastVia(U* object) {
  if (object && typeid(*object) == typeid(Exact)) return static_cast<Exact*>(object);
  return dynamic_cast<Base*>(object);
}

const TStorageFieldItem* FieldAt(TStorageDataItem* item, int index) {
  auto* fieldItem = CastVia<TStorageDataFieldItem, TResultStorageItem>(item);
  if (!fieldItem || index < 0) return nullptr;
  TStorageFieldList* fields = fieldItem->GetFields();
  return static_cast<size_t>(index) < fields->Count() ? fields->Field(static_cast<size_t>(index)) : nullptr;
}

// A money text the currency map cannot read: it parses to a cleared amount of -1.
bool Unreadable(const TCurrencyMap& map) {
  return map.FromAmount.Code.empty() && map.FromAmount.Value == TCurrencyMap::kNoPrice;
}

}  // namespace

// ---- fields ----

const TClassInfo& TResultStorageFieldItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TResultStorageFieldItem>("TResultStorageFieldItem", TStorageFieldItem::StaticClass())
          .String("DisplayValue", &TResultStorageFieldItem::DisplayValue,
                  &TResultStorageFieldItem::SetDisplayValue)
          .Build();
  return info;
}

TResultStorageItem* TResultStorageFieldItem::Owner() const {
  auto* list = CastVia<TResultStorageFieldList, TResultStorageFieldList>(Collection());
  return list ? list->Owner : nullptr;
}

const TSearchTypeStorageOutputFieldDefinitionItem* TResultStorageFieldItem::Definition() const {
  TResultStorageItem* item = Owner();
  TStorageDataList* list = item ? item->Owner() : nullptr;
  auto* transaction =
      list ? CastVia<TResultStorageTransactionList, TResultStorageTransactionList>(&list->Transaction())
           : nullptr;
  if (!transaction) return nullptr;
  int index = Index();
  const auto& definitions = transaction->OutputFieldDefinitions;
  if (index < 0 || static_cast<size_t>(index) >= definitions.Count()) return nullptr;
  return definitions.Output(static_cast<size_t>(index));
}

bool TResultStorageFieldItem::IsMoney() const {
  const auto* definition = Definition();
  return definition && definition->FieldType == TStorageFieldType::ftMoney;
}

void TResultStorageFieldItem::SetValue(const TDynamicValue& value) {
  if (!IsMoney()) {
    TStorageFieldItem::SetValue(value);
    return;
  }
  TCurrencyConverter& converter = CurrencyConverter();
  TCurrencyMap& map = CurrencyMap();
  map.Parse(value.AsString(), converter.AxisCode);
  // An unreadable price keeps its text: its canonical form would drop the mark that it has no price.
  if (Unreadable(map)) {
    TStorageFieldItem::SetValue(value);
    return;
  }
  converter.Convert(map);
  TStorageFieldItem::SetValue(TDynamicValue(map.Serialize()));
}

void TResultStorageFieldItem::SetDisplayValue(const std::string& text) {
  if (!IsMoney()) {
    DisplayValue_ = text;
    return;
  }
  TCurrencyConverter& converter = CurrencyConverter();
  TCurrencyMap& map = CurrencyMap();
  map.Parse(Value_.AsString(), converter.AxisCode);
  DisplayValue_ = converter.DisplayText(map);
}

const TClassInfo& TResultStorageFieldList::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo i;
    i.Name = "TResultStorageFieldList";
    i.Parent = &TStorageFieldList::StaticClass();
    return i;
  }();
  return info;
}

TResultStorageFieldItem* TResultStorageFieldList::AddResultField(const std::string& name,
                                                                 const TDynamicValue& value,
                                                                 const std::string& displayValue) {
  auto* field = static_cast<TResultStorageFieldItem*>(Add());
  field->Name = name;
  field->SetValue(value);
  field->SetDisplayValue(displayValue);
  return field;
}

// ---- the result ----

const TClassInfo& TResultStorageItem::StaticClass() {
  using C = TResultStorageItem;
  static const TClassInfo info =
      TClassBuilder<C>("TResultStorageItem", TStorageDataFieldItem::StaticClass())
          .Float("Date", &C::Date)
          .Integer("Occurences", &C::Occurences)
          .Object("FoundBy", &C::FoundBy)
          .Set("FilterState", &C::FilterState, {"rfsDeleted", "rfsOutdated", "rfsRemains"})
          .Boolean("New", &C::New)
          .Boolean("Checked", &C::Checked)
          .Integer("UserState", &C::UserState)
          .Boolean("Visited", &C::Visited)
          .Float("VisitedDate", &C::VisitedDate)
          .Boolean("Validated", &C::Validated)
          .Boolean("Valid", &C::Valid)
          .Boolean("Skipped", &C::Skipped)
          .Boolean("IsHtml", &C::IsHtml)
          .Boolean("Refined", &C::Refined)
          .Boolean("Downloaded", &C::Downloaded)
          .String("FileName", &C::FileName)
          .Build();
  return info;
}

TResultStorageItem::TResultStorageItem()
    : TStorageDataFieldItem(std::make_unique<TResultStorageFieldList>(this)) {}

void TResultStorageItem::Changed() {
  TStorageDataList* list = Owner();
  if (list && list->State() == lsSettingField) {
    const bool value = list->PendingValue.AsBoolean();
    switch (list->Transaction().FieldIndex) {
      case kResultSetDeleted:
        FilterState = static_cast<uint8_t>(value ? (FilterState | rfsDeleted) : (FilterState & ~rfsDeleted));
        break;
      case kResultSetChecked:
        Checked = value;
        break;
      default:
        break;
    }
  }
  TStorageDataFieldItem::Changed();
}

void TResultStorageItem::Loaded() {
  Downloaded = !FileName.empty();
  TResultStorageFieldList* fields = ResultFields();
  for (size_t i = 0; i < fields->Count(); ++i) {
    TResultStorageFieldItem* field = fields->ResultField(i);
    if (!field->IsMoney()) continue;
    field->SetValue(TDynamicValue(field->Value()));
    field->SetDisplayValue(field->DisplayValue());
  }
}

const TClassInfo& TResultStorageTransactionList::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TResultStorageTransactionList>("TResultStorageTransactionList",
                                                   TStorageTransactionList::StaticClass())
          .Integer("SrhNum", &TResultStorageTransactionList::SrhNum, -1)
          .Object("OutputFieldDefinitions", &TResultStorageTransactionList::OutputFieldDefinitions)
          .Build();
  return info;
}

// ---- sorting ----

TResultStorageCompare::TResultStorageCompare(const TSearchTypeStorageOutputFieldDefinitionList& definitions,
                                             const std::string& fieldName, bool ascending,
                                             const storage::TSortKeyList* sortKeys, bool sortKeysFirst)
    : Ascending_(ascending), SortKeysFirst_(sortKeysFirst) {
  auto resolve = [&definitions](const std::string& name, TSortKeySortDirection direction) {
    TResolved r{definitions.IndexOfName(name), TStorageFieldType::ftBoolean, direction};
    if (r.Index >= 0) r.Type = definitions.Output(static_cast<size_t>(r.Index))->FieldType;
    return r;
  };
  Column_ = resolve(fieldName, TSortKeySortDirection::ksdAscending);
  ColumnDirection_ = Column_.Index >= 0
                         ? definitions.Output(static_cast<size_t>(Column_.Index))->Layout.SortDirection
                         : TStorageLayoutSortDirection::sdAscending;
  if (sortKeys)
    for (size_t i = 0; i < sortKeys->Count(); ++i) {
      const storage::TSortKeyItem* key = sortKeys->Key(i);
      // A key naming no output field cannot be resolved; it takes no part rather than reading past a record.
      TResolved r = resolve(key->Field, key->SortDirection);
      if (r.Index >= 0) Keys_.push_back(r);
    }
}

double TResultStorageCompare::AxisValue(const std::string& moneyString) {
  const TCurrencyConverter& converter = CurrencyConverter();
  TCurrencyMap map;
  map.Parse(moneyString, converter.AxisCode);
  if (!map.AxisAmount.Code.empty()) return map.AxisAmount.Value;
  const TAmount& from = map.FromAmount;
  // A price already in the target currency carries no axis amount: convert it here, or it would be
  // compared in the wrong currency against every other price.
  if (!from.Code.empty())
    if (const auto* definition = converter.Definitions().Find(from.Code))
      return static_cast<double>(from.Value) / static_cast<double>(definition->ExchangeRate);
  return from.Value;
}

TResultStorageCompare::TKeyValue TResultStorageCompare::Extract(const TResolved& on, TStorageDataItem* item,
                                                                std::string& made) const {
  TKeyValue value;
  const TStorageFieldItem* field = FieldAt(item, on.Index);
  static const TDynamicValue kEmpty;
  const TDynamicValue& v = field ? field->Value() : kEmpty;
  switch (on.Type) {
    case TStorageFieldType::ftBoolean:
    case TStorageFieldType::ftDouble:
    case TStorageFieldType::ftInteger:
      value.Number = v.AsDouble();
      break;
    case TStorageFieldType::ftString:
      if (const std::string* text = v.StringPtr()) {
        value.Text = *text;
      } else {
        made = v.AsString();
        value.Text = made;
      }
      break;
    case TStorageFieldType::ftMoney: {
      const std::string* text = v.StringPtr();
      value.Number = AxisValue(text ? *text : v.AsString());
      // No price sorts last both ways: the final negation of a descending sort turns -1 into the end.
      if (value.Number < 0) value.Number = Ascending_ ? 2147483647.0 : -1.0;
      break;
    }
  }
  return value;
}

int TResultStorageCompare::CompareValues(const TResolved& on, const TKeyValue& a, const TKeyValue& b) const {
  switch (on.Type) {
    case TStorageFieldType::ftBoolean:
    case TStorageFieldType::ftDouble:
    case TStorageFieldType::ftInteger: {
      double d = std::nearbyint(a.Number - b.Number);
      if (std::isnan(d)) return 0;
      if (d >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
      if (d <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min() + 1;
      return static_cast<int>(d);
    }
    case TStorageFieldType::ftString:
      return CompareDisplayText(a.Text, b.Text);
    case TStorageFieldType::ftMoney:
      return a.Number < b.Number ? -1 : (a.Number > b.Number ? 1 : 0);
  }
  return 0;
}

template <class F>
int TResultStorageCompare::Combine(F&& compareOn) const {
  int r = 0;
  if (!SortKeysFirst_) r = compareOn(Column_, 0);
  if (r == 0)
    for (size_t k = 0; k < Keys_.size(); ++k) {
      int c = compareOn(Keys_[k], k + 1);
      if (c == 0) continue;
      const bool keyDescending = Keys_[k].Direction == TSortKeySortDirection::ksdDescending;
      const bool columnDescending = ColumnDirection_ == TStorageLayoutSortDirection::sdDescending;
      r = keyDescending != columnDescending ? -c : c;
      break;
    }
  if (SortKeysFirst_ && r == 0) r = compareOn(Column_, 0);
  // Negating INT_MIN would overflow; the comparisons never return it.
  return Ascending_ ? r : -r;
}

namespace {

// AxisValue of canonical money texts, read in place, with each currency's rate looked up once: a sort
// reads thousands of prices. Texts of any other form go through AxisValue itself.
class TAxisReader {
 public:
  TAxisReader() : converter_(CurrencyConverter()), axis_(converter_.AxisCode) {}
  double Value(std::string_view s) {
    const TMoneyView money(s);
    if (money.Cut) return TCurrencyMap::kNoPrice;
    const TMoneyView::TAmountView& from = money.FromAmount;
    if (from.Code == axis_) return from.Value;
    if (!money.AxisAmount.Code.empty()) return money.AxisAmount.Value;
    if (!from.Code.empty())
      if (const float* rate = RateOf(from.Code))
        return static_cast<double>(from.Value) / static_cast<double>(*rate);
    return from.Value;
  }

 private:
  struct TRate {
    std::string Code;
    bool Known;
    float Rate;
  };
  const float* RateOf(std::string_view code) {
    for (const TRate& r : rates_)
      if (r.Code == code) return r.Known ? &r.Rate : nullptr;
    const auto* definition = converter_.Definitions().Find(code);
    rates_.push_back(
        {std::string(code), definition != nullptr, definition ? definition->ExchangeRate : 0.0f});
    return rates_.back().Known ? &rates_.back().Rate : nullptr;
  }
  const TCurrencyConverter& converter_;
  const std::string& axis_;
  std::vector<TRate> rates_;
};

}  // namespace

// The values of the prepared items, in buffers kept from one sort to the next: a fresh table of ten
// thousand results would fault in its memory page by page at every sort.
struct TResultStorageCompare::TTable {
  struct TBuffers {
    std::vector<TKeyValue> Values;         // per row: the column, then each key
    std::vector<TStorageDataItem*> Items;  // per row
    std::deque<std::string> Made;          // texts no field holds as such; Values see them in place
    TItemIndex Rows;
    bool Indexed = false;
  };
  TTable() {
    std::swap(Data, Spare());
    Data.Values.clear();
    Data.Items.clear();
    Data.Made.clear();
    Data.Indexed = false;
  }
  ~TTable() {
    Data.Values.clear();
    Data.Made.clear();
    std::swap(Data, Spare());
  }
  TTable(const TTable&) = delete;
  TTable& operator=(const TTable&) = delete;
  // Built on the first look-up: a full sort of the view needs none.
  const TItemIndex& Rows() {
    if (!Data.Indexed) {
      Data.Rows.Reset(Data.Items.size());
      for (size_t i = 0; i < Data.Items.size(); ++i)
        Data.Rows.Insert(Data.Items[i], static_cast<uint32_t>(i));
      Data.Indexed = true;
    }
    return Data.Rows;
  }
  static TBuffers& Spare() {
    thread_local TBuffers spare;
    return spare;
  }
  TBuffers Data;
};

void TResultStorageCompare::Prepare(const std::vector<TStorageDataItem*>& items) {
  auto table = std::make_shared<TTable>();
  const size_t stride = Keys_.size() + 1;
  table->Data.Values.reserve(items.size() * stride);
  table->Data.Items.assign(items.begin(), items.end());
  TAxisReader axis;
  auto price = [&](const std::string& text) {
    TKeyValue value;
    value.Number = axis.Value(text);
    // As Extract: no price sorts last both ways.
    if (value.Number < 0) value.Number = Ascending_ ? 2147483647.0 : -1.0;
    return value;
  };
  auto moneyText = [](TStorageDataItem* item, int index) {
    const TStorageFieldItem* field = FieldAt(item, index);
    return field ? field->Value().StringPtr() : nullptr;
  };
  auto extract = [&](const TResolved& on, TStorageDataItem* item) {
    if (on.Type == TStorageFieldType::ftMoney)
      if (const std::string* text = moneyText(item, on.Index)) return price(*text);
    std::string made;
    TKeyValue value = Extract(on, item, made);
    if (!made.empty()) value.Text = table->Data.Made.emplace_back(std::move(made));
    return value;
  };
  // A price column is read in two passes, first where each price is and then the prices: each pass is a
  // short loop whose loads do not wait on one another, so the memory of many results is fetched at once
  // rather than one result's chain of pointers at a time. Most of a sort's time is this reading.
  const bool priceColumn = Column_.Index >= 0 && Column_.Type == TStorageFieldType::ftMoney;
  std::vector<const std::string*> prices;
  if (priceColumn) {
    prices.resize(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
      prices[i] = moneyText(items[i], Column_.Index);
      if (prices[i]) __builtin_prefetch(prices[i]->data());
    }
  }
  for (size_t i = 0; i < items.size(); ++i) {
    TStorageDataItem* item = items[i];
    if (priceColumn && prices[i])
      table->Data.Values.push_back(price(*prices[i]));
    else
      table->Data.Values.push_back(Column_.Index >= 0 ? extract(Column_, item) : TKeyValue());
    for (const TResolved& key : Keys_) table->Data.Values.push_back(extract(key, item));
  }
  Table_ = std::move(table);
}

int TResultStorageCompare::CompareRows(const TKeyValue* a, const TKeyValue* b) const {
  return Combine([&](const TResolved& on, size_t slot) {
    return on.Index < 0 ? 0 : CompareValues(on, a[slot], b[slot]);
  });
}

int TResultStorageCompare::operator()(TStorageDataItem* a, TStorageDataItem* b) const {
  if (Table_) {
    const TItemIndex& rows = Table_->Rows();
    const uint32_t* ra = rows.Find(a);
    const uint32_t* rb = ra ? rows.Find(b) : nullptr;
    if (rb) {
      const size_t stride = Keys_.size() + 1;
      return CompareRows(&Table_->Data.Values[*ra * stride], &Table_->Data.Values[*rb * stride]);
    }
  }
  return Combine([&](const TResolved& on, size_t) {
    if (on.Index < 0) return 0;
    std::string madeA, madeB;
    return CompareValues(on, Extract(on, a, madeA), Extract(on, b, madeB));
  });
}

void TResultStorageCompare::SortPrepared(std::vector<TStorageDataItem*>& items) const {
  if (items.size() < 2) return;
  TTable* table = Table_.get();
  std::vector<uint32_t> rows;
  if (table) {
    rows.reserve(items.size());
    // A full sort hands back the very sequence that was prepared: its rows need no look-up.
    if (items == table->Data.Items) {
      for (size_t i = 0; i < items.size(); ++i) rows.push_back(static_cast<uint32_t>(i));
    } else {
      const TItemIndex& index = table->Rows();
      for (TStorageDataItem* item : items) {
        const uint32_t* row = index.Find(item);
        if (!row) break;
        rows.push_back(*row);
      }
    }
  }
  if (rows.size() != items.size()) {
    std::stable_sort(items.begin(), items.end(),
                     [this](TStorageDataItem* a, TStorageDataItem* b) { return (*this)(a, b) < 0; });
    return;
  }
  const size_t stride = Keys_.size() + 1;
  const TKeyValue* values = table->Data.Values.data();
  TStorageDataItem* const* rowItems = table->Data.Items.data();
  if (!SortKeysFirst_ && Column_.Index >= 0 && Column_.Type == TStorageFieldType::ftMoney) {
    // A price column: the plain order of the axis values, turned round when descending; only equal prices
    // go on to the keys. Sorting the values beside their rows keeps the comparisons in one cache line.
    struct TKeyed {
      double Value;
      uint32_t Row;
    };
    std::vector<TKeyed> keyed;
    keyed.reserve(rows.size());
    for (uint32_t row : rows) keyed.push_back({values[row * stride].Number, row});
    auto sortBy = [this, &keyed](auto tie) {
      if (Ascending_)
        std::stable_sort(keyed.begin(), keyed.end(), [&tie](const TKeyed& a, const TKeyed& b) {
          return a.Value < b.Value || (!(b.Value < a.Value) && tie(a, b));
        });
      else
        std::stable_sort(keyed.begin(), keyed.end(), [&tie](const TKeyed& a, const TKeyed& b) {
          return a.Value > b.Value || (!(b.Value > a.Value) && tie(a, b));
        });
    };
    if (Keys_.empty())
      sortBy([](const TKeyed&, const TKeyed&) { return false; });
    else
      sortBy([this, values, stride](const TKeyed& a, const TKeyed& b) {
        return CompareRows(values + a.Row * stride, values + b.Row * stride) < 0;
      });
    for (size_t i = 0; i < keyed.size(); ++i) items[i] = rowItems[keyed[i].Row];
    return;
  }
  std::stable_sort(rows.begin(), rows.end(), [this, values, stride](uint32_t a, uint32_t b) {
    return CompareRows(values + a * stride, values + b * stride) < 0;
  });
  for (size_t i = 0; i < rows.size(); ++i) items[i] = rowItems[rows[i]];
}

void TResultStorageListView::SortResults(const std::string& fieldName, bool ascending,
                                         const storage::TSortKeyList* sortKeys, bool sortKeysFirst,
                                         TStorageDataItem* changed) {
  auto* list = dynamic_cast<TResultStorageList*>(&List());
  if (!list) return;
  TResultStorageCompare compare(list->OutputFieldDefinitions(), fieldName, ascending, sortKeys,
                                sortKeysFirst);
  if (changed) {
    Reposition(changed, compare);
    return;
  }
  std::vector<TStorageDataItem*> items;
  items.reserve(Count());
  for (size_t i = 0; i < Count(); ++i) items.push_back(Item(i));
  compare.Prepare(items);
  class TPrepared final : public IItemSequenceSorter {
   public:
    explicit TPrepared(const TResultStorageCompare& compare) : Compare_(compare) {}
    void SortItems(std::vector<TStorageDataItem*>& items) const override { Compare_.SortPrepared(items); }

   private:
    const TResultStorageCompare& Compare_;
  };
  Sort(TPrepared(compare));
}

// ---- groups ----

const TClassInfo& TResultStorageGroupDefinition::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TResultStorageGroupDefinition>("TResultStorageGroupDefinition",
                                                   TStorageDataFieldGroupDefinition::StaticClass())
          .Build();
  return info;
}

bool TResultStorageGroupDefinition::ExactMatch(const TStorageFieldItem& field) const {
  const auto* result = CastVia<const TResultStorageFieldItem, const TResultStorageFieldItem>(&field);
  return result && result->IsMoney();
}

bool TResultStorageGroupDefinition::Indexable(const TStorageDataGroupItem& group) const {
  return &group.ClassType() == &TResultStorageGroupItem::StaticClass();
}

const TClassInfo& TResultStorageGroupItem::StaticClass() {
  static const TClassInfo info = TClassBuilder<TResultStorageGroupItem>(
                                     "TResultStorageGroupItem", TStorageDataFieldGroupItem::StaticClass())
                                     .String("DisplayName", &TResultStorageGroupItem::DisplayName)
                                     .Build();
  return info;
}

std::string TResultStorageGroupItem::GetCaption() const {
  if (Items.size() == 1) return Format("%s (1 item)", {DisplayName});
  return Format("%0:s (%1:d items)", {DisplayName, Items.size()});
}

bool TResultStorageGroupItem::Accepts(const TStorageDataItem& item) const {
  const auto* result = dynamic_cast<const TResultStorageItem*>(&item);
  const TResultStorageFieldItem* field =
      result ? result->ResultFields()->FindResultField(GroupField()) : nullptr;
  const auto* definition =
      Manager ? dynamic_cast<const TResultStorageGroupDefinition*>(Manager->Definition()) : nullptr;
  if (field && definition && field->Value().Kind() == TDynamicValue::TKind::String &&
      Value.Kind() == TDynamicValue::TKind::String && definition->ExactMatch(*field))
    return field->Value() == Value;
  return TStorageDataFieldGroupItem::Accepts(item);
}

void TResultStorageGroupItem::Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) {
  TStorageDataFieldGroupItem::Initialize(manager, firstItem);
  auto* result = dynamic_cast<TResultStorageItem*>(&firstItem);
  const TResultStorageFieldItem* field =
      result ? result->ResultFields()->FindResultField(GroupField()) : nullptr;
  if (field && field->IsMoney()) {
    TCurrencyConverter& converter = CurrencyConverter();
    TCurrencyMap& map = CurrencyMap();
    map.Parse(field->Value().AsString(), converter.AxisCode);
    DisplayName = converter.DisplayText(map);
  } else {
    DisplayName = field ? field->DisplayValue() : std::string();
  }
  if (DisplayName.empty()) DisplayName = "n/a";
}

// ---- the list ----

TResultStorageList::TResultStorageList()
    : TStorageDataList(
          (RegisterTypedStorageClasses(), TResultStorageTransactionList::StaticClass()),
          [](TStorageDataList& list, const std::string& name) -> std::unique_ptr<TStorageDataListView> {
            return std::make_unique<TResultStorageListView>(list, name);
          },
          TDefaultKeyItem::StaticClass(), TResultStorageItem::StaticClass()) {}

TResultStorageItem* TResultStorageList::ItemByKey(int32_t key) const {
  for (size_t i = 0; i < Count(); ++i)
    if (Result(i)->Index() == key) return Result(i);
  return nullptr;
}

bool TResultStorageList::LoadSearch(int32_t srhNum) {
  SetSrhNum(srhNum);
  return Load();
}

}  // namespace vandrel

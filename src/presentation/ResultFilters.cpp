#include "presentation/ResultFilters.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/Format.h"
#include "platform/TextUtils.h"
#include "storage/ResultStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {

namespace {

const TResultStorageFieldItem* CachedField(const TStorageDataItem& item, std::string_view name, int& index) {
  const auto* result = dynamic_cast<const TResultStorageItem*>(&item);
  if (!result) return nullptr;
  const TResultStorageFieldList* fields = result->ResultFields();
  if (index >= 0 && static_cast<size_t>(index) < fields->Count()) {
    TResultStorageFieldItem* field = fields->ResultField(static_cast<size_t>(index));
    if (SameText(field->Name, name)) return field;
  }
  TResultStorageFieldItem* field = fields->FindResultField(name);
  if (field) index = field->Index();
  return field;
}

bool HasPrice(const TCurrencyMap& map) {
  return !map.FromAmount.Code.empty() && map.FromAmount.Value >= 0;
}

std::string BoundText(const TAmount& amount) {
  const TCurrencyConverter& converter = CurrencyConverter();
  std::string text = converter.FormatAmount(amount, amount.Code != converter.TargetCode);
  return text.empty() ? FormatFixed(amount.Value, 2) : text;
}

}  // namespace

double ConvertAmountInto(const TCurrencyMap& map, const std::string& code) {
  return ConvertAmountInto(map.FromAmount.Code, map.FromAmount.Value, code);
}

double ConvertAmountInto(std::string_view fromCode, float value, std::string_view code) {
  if (fromCode == code) return value;
  const TCurrencyDefinitionList& table = CurrencyConverter().Definitions();
  double axis = value;
  // An unknown currency is taken to be the axis currency, as the converter does.
  if (const auto* d = table.Find(fromCode)) axis = value / static_cast<double>(d->ExchangeRate);
  if (const auto* d = table.Find(code)) return axis * static_cast<double>(d->ExchangeRate);
  return axis;
}

// ---- amounts in streams ----

const TClassInfo& TStoredAmount::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStoredAmount>("TStoredAmount", TPersistent::StaticClass())
          .String(
              "Code", [](const TStoredAmount& a) { return a.Amount ? a.Amount->Code : std::string(); },
              [](TStoredAmount& a, std::string v) {
                if (a.Amount) a.Amount->Code = v.substr(0, 3);
              })
          .Float(
              "Value", [](const TStoredAmount& a) { return a.Amount ? a.Amount->Value : 0.0f; },
              [](TStoredAmount& a, double v) {
                if (a.Amount) a.Amount->Value = std::isfinite(v) ? static_cast<float>(v) : 0.0f;
              })
          .Build();
  return info;
}

// ---- price ----

const TClassInfo& TPriceFilter::StaticClass() {
  using C = TPriceFilter;
  static const TClassInfo info = TClassBuilder<C>("TPriceFilter", TStorageDataFilterItem::StaticClass())
                                     .Object("MaxPrice", &C::MaxBox_)
                                     .Object("MinPrice", &C::MinBox_)
                                     .Object("SmallestMinPrice", &C::SmallestBox_)
                                     .Object("BiggestMaxPrice", &C::BiggestBox_)
                                     .Boolean("HasDifferentsCurrencies", &C::HasDifferentsCurrencies)
                                     .Build();
  return info;
}

void TPriceFilter::SetBound(TAmount& bound, const TAmount& amount) {
  if (bound == amount) return;
  bound = amount;
  if (Batch_ > 0)
    BatchChanged_ = true;
  else
    Changed();
}

void TPriceFilter::SetMaxPrice(const TAmount& amount) {
  SetBound(MaxPrice, amount);
}

void TPriceFilter::SetMinPrice(const TAmount& amount) {
  SetBound(MinPrice, amount);
}

void TPriceFilter::EndUpdate() {
  if (Batch_ > 0) --Batch_;
  if (Batch_ == 0 && BatchChanged_) {
    BatchChanged_ = false;
    Changed();
  }
}

void TPriceFilter::ConvertSilently(const std::string& code) const {
  auto* self = const_cast<TPriceFilter*>(this);
  for (TAmount* amount :
       {&self->MaxPrice, &self->MinPrice, &self->SmallestMinPrice, &self->BiggestMaxPrice}) {
    if (amount->Code.empty() || amount->Code == code) {
      if (amount->Code.empty() && amount != &self->MaxPrice && amount != &self->MinPrice) amount->Code = code;
      continue;
    }
    TCurrencyMap map;
    map.FromAmount = *amount;
    *amount = {code, static_cast<float>(ConvertAmountInto(map, code))};
  }
}

void TPriceFilter::ConvertAmounts(const std::string& code) {
  BeginUpdate();
  const TAmount max = MaxPrice, min = MinPrice;
  ConvertSilently(code);
  // The bounds went through the setters' rule: a different amount is a change.
  if (!(max == MaxPrice) || !(min == MinPrice)) BatchChanged_ = true;
  EndUpdate();
}

double TPriceFilter::PriceOf(const TStorageDataItem& item) const {
  const TResultStorageFieldItem* field = CachedField(item, "PRICE", PriceIndex_);
  const std::string* text = field ? field->Value().StringPtr() : nullptr;
  if (!text) return -1;
  const TCurrencyConverter& converter = CurrencyConverter();
  TCurrencyMap map;
  map.Parse(*text, converter.AxisCode);
  if (!HasPrice(map)) return -1;
  if (converter.ShowConverted || HasDifferentsCurrencies) return ConvertAmountInto(map, converter.TargetCode);
  if (map.FromAmount.Code != Currency()) {
    // Found while the view refilters: converting must not report a change, or the refilter would restart
    // from inside itself.
    const_cast<TPriceFilter*>(this)->HasDifferentsCurrencies = true;
    ConvertSilently(converter.TargetCode);
    return ConvertAmountInto(map, converter.TargetCode);
  }
  return map.FromAmount.Value;
}

bool TPriceFilter::Accepts(const TStorageDataItem& item) const {
  const auto* result = dynamic_cast<const TResultStorageItem*>(&item);
  if (!result || !CachedField(item, "PRICE", PriceIndex_)) return true;
  const double price = PriceOf(item);
  if (MaxPrice.Value != 0 && price > MaxPrice.Value) return false;
  return MinPrice.Value == 0 || price >= MinPrice.Value;
}

std::string TPriceFilter::GetDescription() const {
  const bool hasMin = MinPrice.Value != 0, hasMax = MaxPrice.Value != 0;
  if (hasMin && hasMax) return Format("%0:s - %1:s", {BoundText(MinPrice), BoundText(MaxPrice)});
  if (hasMax) return Format("Max %0:s", {BoundText(MaxPrice)});
  if (hasMin) return Format("Min %0:s", {BoundText(MinPrice)});
  return "Any";
}

void TPriceFilter::ComputeRange(const TStorageDataListView& view) {
  const TCurrencyConverter& converter = CurrencyConverter();
  struct TPrice {
    TAmount From;
    double To;
  };
  std::vector<TPrice> prices;
  prices.reserve(view.Count());
  int index = PriceIndex_;
  for (size_t i = 0; i < view.Count(); ++i) {
    const TResultStorageFieldItem* field = CachedField(*view.Item(i), "PRICE", index);
    const std::string* text = field ? field->Value().StringPtr() : nullptr;
    if (!text) continue;
    TCurrencyMap map;
    map.Parse(*text, converter.AxisCode);
    // Results without a price would make -1 the lowest price of every view.
    if (!HasPrice(map)) continue;
    prices.push_back({map.FromAmount, ConvertAmountInto(map, converter.TargetCode)});
  }
  PriceIndex_ = index;
  if (prices.empty()) {
    SmallestMinPrice = {converter.ShowConverted ? converter.TargetCode : Currency(), 0};
    BiggestMaxPrice = SmallestMinPrice;
    return;
  }
  auto range = [&](auto value, const std::string& code) {
    double lo = std::numeric_limits<double>::max(), hi = std::numeric_limits<double>::lowest();
    for (const TPrice& p : prices) {
      lo = std::min(lo, value(p));
      hi = std::max(hi, value(p));
    }
    SmallestMinPrice = {code, static_cast<float>(lo)};
    BiggestMaxPrice = {code, static_cast<float>(hi)};
  };
  auto to = [](const TPrice& p) { return p.To; };
  if (converter.ShowConverted) {
    range(to, converter.TargetCode);
    MinPrice.Code = MaxPrice.Code = converter.TargetCode;
    return;
  }
  const std::string& first = prices.front().From.Code;
  HasDifferentsCurrencies =
      std::any_of(prices.begin(), prices.end(), [&](const TPrice& p) { return p.From.Code != first; });
  if (HasDifferentsCurrencies)
    range(to, converter.TargetCode);
  else
    range([](const TPrice& p) { return static_cast<double>(p.From.Value); }, first);
}

void TPriceFilter::InitForView(const TStorageDataListView& view) {
  BeginUpdate();
  ComputeRange(view);
  if (Currency().empty()) SmallestMinPrice.Code = BiggestMaxPrice.Code = "USD";
  TAmount max = MaxPrice, min = MinPrice;
  if (max.Code.empty()) max.Code = Currency();
  if (min.Code.empty()) min.Code = Currency();
  for (TAmount* bound : {&max, &min})
    if (bound->Code != Currency()) {
      TCurrencyMap map;
      map.FromAmount = *bound;
      *bound = {Currency(), static_cast<float>(ConvertAmountInto(map, Currency()))};
    }
  SetMaxPrice(max);
  SetMinPrice(min);
  EndUpdate();
}

void TPriceFilter::Loaded() {
  const TCurrencyConverter& converter = CurrencyConverter();
  if (converter.ShowConverted || HasDifferentsCurrencies) {
    if (!MaxPrice.Code.empty() && MaxPrice.Code != converter.TargetCode)
      ConvertSilently(converter.TargetCode);
    return;
  }
  // Restored before the view holds its results: the range can only be taken from a filled view.
  TStorageDataListView* view = Manager ? Manager->View : nullptr;
  if (!HistoryActive || !view || view->Count() == 0) return;
  ComputeRange(*view);
  ConvertSilently(Currency());
}

// ---- delivery ----

uint32_t ShippingModeMask(TShippingFilterMode mode) {
  switch (mode) {
    case TShippingFilterMode::smFastestShipping:
      return kShippingFastMask;
    case TShippingFilterMode::smBestDeals:
      return kShippingNormalMask;
    case TShippingFilterMode::smDontFilter:
      break;
  }
  return kShippingAllMask;
}

const TClassInfo& TShippingFilter::StaticClass() {
  using C = TShippingFilter;
  static const TClassInfo info =
      TClassBuilder<C>("TShippingFilter", TStorageDataFilterItem::StaticClass())
          .Enum("Mode", &C::Mode_, {"smFastestShipping", "smBestDeals", "smDontFilter"})
          .Integer(
              "SeeSiteMask", [](const C& c) { return static_cast<int32_t>(c.SeeSiteMask); },
              [](C& c, int32_t v) { c.SeeSiteMask = static_cast<uint32_t>(v); }, 4)
          .Build();
  return info;
}

void TShippingFilter::SetMode(TShippingFilterMode mode) {
  if (mode == Mode_) return;
  Mode_ = mode;
  Changed();
}

std::string TShippingFilter::GetDescription() const {
  switch (Mode_) {
    case TShippingFilterMode::smFastestShipping:
      return "Fastest delivery";
    case TShippingFilterMode::smBestDeals:
      return "Normal delivery";
    case TShippingFilterMode::smDontFilter:
      break;
  }
  return "All";
}

bool TShippingFilter::Accepts(const TStorageDataItem& item) const {
  const TResultStorageFieldItem* field = CachedField(item, "SHIPPINGATTRIBUTE", AttributeIndex_);
  if (!field) return true;
  const uint64_t value = static_cast<uint64_t>(field->Value().AsInteger());
  return (value & (ShippingModeMask(Mode_) | SeeSiteMask)) != 0;
}

std::string FilterDescription(TStorageDataListView& view) {
  std::string text;
  for (const TStorageDataFilterItem* filter :
       {static_cast<const TStorageDataFilterItem*>(FindFilter<TPriceFilter>(view)),
        static_cast<const TStorageDataFilterItem*>(FindFilter<TShippingFilter>(view))}) {
    std::string part = filter ? filter->GetDescription() : std::string();
    if (part.empty()) continue;
    text += (text.empty() ? "" : "; ") + part;
  }
  return text;
}

// ---- the panel ----

TCompareFilterPanel::TCompareFilterPanel(IScheduler& scheduler) : Scheduler_(scheduler) {}

TCompareFilterPanel::~TCompareFilterPanel() {
  if (Pending_) Scheduler_.Cancel(Pending_);
}

namespace {
int Floor(double v) {
  return static_cast<int>(std::clamp(std::floor(v), -2e9, 2e9));
}
int Ceil(double v) {
  return static_cast<int>(std::clamp(std::ceil(v), -2e9, 2e9));
}
}  // namespace

std::string TCompareFilterPanel::AmountLabel(int value) const {
  return BoundText({Currency_, static_cast<float>(value)});
}

void TCompareFilterPanel::Open(TStorageDataListView* defaultView, std::vector<TStorageDataListView*> views,
                               const TSearchTypeStorageItem* searchType) {
  if (Pending_) Scheduler_.Cancel(Pending_);
  Pending_ = 0;
  DefaultView_ = defaultView;
  Views_ = std::move(views);
  TPriceFilter probe;
  TPriceFilter* existing = Views_.empty() ? nullptr : FindFilter<TPriceFilter>(*Views_.front());
  if (existing) {
    probe.MinPrice = existing->MinPrice;
    probe.MaxPrice = existing->MaxPrice;
  }
  if (defaultView) probe.InitForView(*defaultView);
  Currency_ = probe.Currency();
  const int low = std::max(0, Floor(probe.SmallestMinPrice.Value));
  const int high = std::max(1, Ceil(probe.BiggestMaxPrice.Value));
  for (TPriceControlRow* row : {&Min_, &Max_}) {
    row->Low = low;
    row->High = std::max(low, high);
  }
  Max_.Position = probe.MaxPrice.Value != 0 ? Ceil(probe.MaxPrice.Value) : Ceil(probe.BiggestMaxPrice.Value);
  Min_.Position =
      probe.MinPrice.Value != 0 ? Floor(probe.MinPrice.Value) : Floor(probe.SmallestMinPrice.Value);
  for (TPriceControlRow* row : {&Min_, &Max_}) {
    row->Position = std::clamp(row->Position, row->Low, row->High);
    row->Label = AmountLabel(row->Position);
  }
  DeliveryEnabled_ = searchType && searchType->OutputFieldDefinitions.Find("SHIPPINGATTRIBUTE") != nullptr;
}

void TCompareFilterPanel::Moved(TPriceControlRow& row, int position, bool isMin, int delayMs) {
  row.Position = std::clamp(position, row.Low, row.High);
  row.Label = AmountLabel(row.Position);
  TPriceControlRow& other = isMin ? Max_ : Min_;
  if (isMin ? other.Position < row.Position : other.Position > row.Position) {
    other.Position = row.Position;
    other.Label = row.Label;
  }
  if (Pending_) Scheduler_.Cancel(Pending_);
  Pending_ = Scheduler_.Schedule(delayMs, [this] {
    Pending_ = 0;
    ApplyPrices();
  });
}

void TCompareFilterPanel::MoveMin(int position) {
  Moved(Min_, position, true, kSliderDelayMs);
}
void TCompareFilterPanel::MoveMax(int position) {
  Moved(Max_, position, false, kSliderDelayMs);
}
void TCompareFilterPanel::TypeMin(int position) {
  Moved(Min_, position, true, kTypingDelayMs);
}
void TCompareFilterPanel::TypeMax(int position) {
  Moved(Max_, position, false, kTypingDelayMs);
}

void TCompareFilterPanel::Flush() {
  if (!Pending_) return;
  Scheduler_.Cancel(Pending_);
  Pending_ = 0;
  ApplyPrices();
}

void TCompareFilterPanel::ApplyPrices() {
  // The end of a track bar means "no bound" there.
  const float max = Max_.Position >= Max_.High ? 0.0f : static_cast<float>(Max_.Position);
  const float min = Min_.Position <= Min_.Low ? 0.0f : static_cast<float>(Min_.Position);
  for (TStorageDataListView* view : Views_) {
    if (max == 0 && min == 0) {
      while (TPriceFilter* filter = FindFilter<TPriceFilter>(*view)) view->RemoveFilter(filter);
      continue;
    }
    // One refilter per view: the new filter and its bounds arrive together.
    view->FilterManager().BeginUpdate();
    TPriceFilter* filter = FindFilter<TPriceFilter>(*view);
    if (!filter) {
      filter = static_cast<TPriceFilter*>(view->AddFilter(std::make_unique<TPriceFilter>()));
      filter->InitForView(*view);
    }
    filter->BeginUpdate();
    filter->SetMaxPrice({Currency_, max});
    filter->SetMinPrice({Currency_, min});
    filter->EndUpdate();
    view->FilterManager().EndUpdate(true);
  }
  if (OnChanged) OnChanged();
}

const std::vector<std::string>& TCompareFilterPanel::DeliveryItems() {
  static const std::vector<std::string> items = {"Normal", "Fastest"};
  return items;
}

int TCompareFilterPanel::DeliverySelection() const {
  TShippingFilter* filter = Views_.empty() ? nullptr : FindFilter<TShippingFilter>(*Views_.front());
  if (!filter) return -1;
  switch (filter->Mode()) {
    case TShippingFilterMode::smBestDeals:
      return 0;
    case TShippingFilterMode::smFastestShipping:
      return 1;
    case TShippingFilterMode::smDontFilter:
      break;
  }
  return -1;
}

void TCompareFilterPanel::SetDelivery(TShippingFilterMode mode) {
  for (TStorageDataListView* view : Views_) {
    if (mode == TShippingFilterMode::smDontFilter) {
      while (TShippingFilter* filter = FindFilter<TShippingFilter>(*view)) view->RemoveFilter(filter);
      continue;
    }
    if (TShippingFilter* filter = FindFilter<TShippingFilter>(*view)) {
      filter->SetMode(mode);
      continue;
    }
    auto filter = std::make_unique<TShippingFilter>();
    filter->SetMode(mode);
    view->AddFilter(std::move(filter));
  }
  if (OnChanged) OnChanged();
}

void TCompareFilterPanel::Reset() {
  if (Pending_) Scheduler_.Cancel(Pending_);
  Pending_ = 0;
  for (TStorageDataListView* view : Views_)
    while (TPriceFilter* filter = FindFilter<TPriceFilter>(*view)) view->RemoveFilter(filter);
  Min_.Position = Min_.Low;
  Max_.Position = Max_.High;
  Min_.Label = AmountLabel(Min_.Position);
  Max_.Label = AmountLabel(Max_.Position);
  SetDelivery(DeliveryEnabled_ ? TShippingFilterMode::smBestDeals : TShippingFilterMode::smDontFilter);
}

std::string TCompareFilterPanel::Description() const {
  return Views_.empty() ? std::string() : FilterDescription(*Views_.front());
}

}  // namespace vandrel

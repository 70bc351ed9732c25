// The price and delivery filters of result views, and the filter panel that sets them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "currency/CurrencyConverters.h"
#include "presentation/DesktopPorts.h"
#include "storage/StorageDataViews.h"

namespace vandrel {

class TSearchTypeStorageItem;

// `map`'s From amount in `code`, converted through the axis currency the way the process's converter
// would with `code` as its target, without changing that target.
double ConvertAmountInto(const TCurrencyMap& map, const std::string& code);
// The same for an amount seen in place.
double ConvertAmountInto(std::string_view fromCode, float value, std::string_view code);

// Streams one amount as the nested properties "Code" and "Value" of its owner's property.
class TStoredAmount : public TPersistent {
  VANDREL_PERSISTENT(TStoredAmount)
 public:
  explicit TStoredAmount(TAmount* amount = nullptr) : Amount(amount) {}
  TAmount* Amount;  // not owned
};

// Keeps a result's price within bounds; a bound of value 0 is no bound.
class TPriceFilter : public TStorageDataFilterItem {
  VANDREL_PERSISTENT(TPriceFilter)
 public:
  TAmount MaxPrice;
  TAmount MinPrice;
  TAmount SmallestMinPrice;  // lowest price in the view; its code is the filter's currency
  TAmount BiggestMaxPrice;
  bool HasDifferentsCurrencies = false;  // the view's prices are in more than one currency

  const std::string& Currency() const { return SmallestMinPrice.Code; }
  void SetMaxPrice(const TAmount& amount);
  void SetMinPrice(const TAmount& amount);
  // Setters inside a batch report one change at its end, if any.
  void BeginUpdate() { ++Batch_; }
  void EndUpdate();

  // The view's lowest and highest price (SmallestMinPrice, BiggestMaxPrice).
  void ComputeRange(const TStorageDataListView& view);
  // Range, currency and bounds for a view, as a new filter starts.
  void InitForView(const TStorageDataListView& view);
  // Converts the four amounts into `code` through the axis currency, in one batch.
  void ConvertAmounts(const std::string& code);

  void Loaded() override;
  std::string GetDescription() const override;
  bool Accepts(const TStorageDataItem& item) const override;

  // Whether a search history is active, so that a restored filter recomputes its range from the view.
  static inline bool HistoryActive = true;

 private:
  // The amounts of the price, in the currency the bounds are compared in; -1 for no price.
  double PriceOf(const TStorageDataItem& item) const;
  void SetBound(TAmount& bound, const TAmount& amount);
  // Replaces the four amounts by their value in `code`; reports nothing.
  void ConvertSilently(const std::string& code) const;

  TStoredAmount MaxBox_{&MaxPrice}, MinBox_{&MinPrice}, SmallestBox_{&SmallestMinPrice},
      BiggestBox_{&BiggestMaxPrice};
  mutable int PriceIndex_ = -1;
  int Batch_ = 0;
  bool BatchChanged_ = false;
};

// ORDER: stored in the filter blob by name.
enum class TShippingFilterMode : uint8_t { smFastestShipping, smBestDeals, smDontFilter };

constexpr uint32_t kShippingFastMask = 0x00000001;
constexpr uint32_t kShippingNormalMask = 0x00000002;
constexpr uint32_t kShippingAllMask = 0xFFFFFFFF;
uint32_t ShippingModeMask(TShippingFilterMode mode);

// Keeps results whose delivery matches the mode; results without a shipping attribute always pass.
class TShippingFilter : public TStorageDataFilterItem {
  VANDREL_PERSISTENT(TShippingFilter)
 public:
  TShippingFilterMode Mode() const { return Mode_; }
  void SetMode(TShippingFilterMode mode);
  uint32_t SeeSiteMask = 4;  // results whose delivery terms are only on the site pass every mode

  std::string GetDescription() const override;
  bool Accepts(const TStorageDataItem& item) const override;

 private:
  friend class TClassBuilder<TShippingFilter>;
  TShippingFilterMode Mode_ = TShippingFilterMode::smFastestShipping;
  mutable int AttributeIndex_ = -1;
};

// The first filter of that class in the view, or null.
template <class F>
F* FindFilter(TStorageDataListView& view) {
  return static_cast<F*>(view.FindNextFilter(F::StaticClass(), nullptr));
}

// The price and delivery descriptions joined by "; ", leaving out empty ones.
std::string FilterDescription(TStorageDataListView& view);

// One row of the panel: a track bar, a number field and an up-down that always show the same value.
struct TPriceControlRow {
  int Low = 0;
  int High = 1;
  int Position = 0;
  std::string Label;  // the amount, formatted in the filter's currency
};

// The filter panel of the compare pages as a model: price bounds and delivery for two views kept in step.
// Main thread only.
class TCompareFilterPanel {
 public:
  static constexpr int kSliderDelayMs = 250;
  static constexpr int kTypingDelayMs = 1000;
  // The panel's texts; the reviews page offers no filter.
  static constexpr const char* kMinPriceHeader = "Min price";
  static constexpr const char* kMaxPriceHeader = "Max price";
  static constexpr const char* kDeliveryHeader = "Delivery";
  static constexpr const char* kNoReviewFilter = "No filter reviews";
  static constexpr const char* kCloseButton = "&Close";
  static constexpr const char* kResetButton = "&Reset";

  explicit TCompareFilterPanel(IScheduler& scheduler);
  ~TCompareFilterPanel();

  // `defaultView` gives the price range; `views` receive every change (result and combo view).
  void Open(TStorageDataListView* defaultView, std::vector<TStorageDataListView*> views,
            const TSearchTypeStorageItem* searchType);

  const TPriceControlRow& MinRow() const { return Min_; }
  const TPriceControlRow& MaxRow() const { return Max_; }
  // Moving a track bar or an up-down: applied 250 ms after the last move.
  void MoveMin(int position);
  void MoveMax(int position);
  // Typing a number into a field: applied one second after typing stops.
  void TypeMin(int position);
  void TypeMax(int position);

  bool DeliveryEnabled() const { return DeliveryEnabled_; }
  // -1: no selection (no shipping filter), 0 "Normal", 1 "Fastest".
  int DeliverySelection() const;
  static const std::vector<std::string>& DeliveryItems();
  void SetDelivery(TShippingFilterMode mode);

  // "&Reset": no price bounds; delivery back to normal when it can be chosen, else no delivery filter.
  void Reset();
  std::string Description() const;
  // Applies pending price moves at once (the panel closes).
  void Flush();

  std::function<void()> OnChanged;  // after a change reached the views

 private:
  void Moved(TPriceControlRow& row, int position, bool isMin, int delayMs);
  void ApplyPrices();
  std::string AmountLabel(int value) const;

  IScheduler& Scheduler_;
  std::vector<TStorageDataListView*> Views_;
  TStorageDataListView* DefaultView_ = nullptr;
  TPriceControlRow Min_, Max_;
  std::string Currency_;
  bool DeliveryEnabled_ = false;
  IScheduler::TTimerId Pending_ = 0;  // 0: nothing waits
};

}  // namespace vandrel

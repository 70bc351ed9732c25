// The category window's model: per category and tab (review sites or stores) the engine list, whose check
// marks switch engines on and off and are saved at once, never leaving a category without an engine.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "presentation/DesktopPorts.h"
#include "search/CategoryList.h"
#include "search/SearchCatalogue.h"
#include "storage/EngineStorage.h"

namespace vandrel {

namespace category_text {
inline constexpr std::string_view kCaption = "Categories";
inline constexpr std::string_view kReviewsTab = "Reviews";
inline constexpr std::string_view kPricesTab = "Prices";
inline constexpr std::string_view kReviewSiteLabel = "Review &site:";
inline constexpr std::string_view kStoreLabel = "&Store:";
inline constexpr std::string_view kEngineColumn = "Engine";
inline constexpr std::string_view kHomePageColumn = "Home Page";
inline constexpr std::string_view kCheckAll = "&Check All";
inline constexpr std::string_view kUncheckAll = "&Uncheck All";
inline constexpr std::string_view kOpenHomePage = "Open Home Page";
inline constexpr std::string_view kLastReviewSite =
    "To perform your search, at least one review site must be active in the selected category.";
inline constexpr std::string_view kLastStore =
    "To perform your search, at least one store must be active in the selected category.";
}  // namespace category_text

// One category as the window lists it.
struct TCategoryEntry {
  std::string BaseName;
  std::string DisplayName;
  std::string PriceCategory;   // "buy" + base name, as stored
  std::string ReviewCategory;  // "review" + base name
  std::string LargeIcon;       // the 32-pixel picture's file
};
std::vector<TCategoryEntry> CategoryEntries(const TCategoryList& list);

// Main thread only. The engine lists belong to the catalogue and must outlive the controller.
class TCategoryWindowController {
 public:
  using TOpenUrl = std::function<void(const std::string& address)>;
  using TSaveEngine = std::function<void(TEngineStorageItem& engine)>;

  // `save` writes one engine back; empty: the engine's own list stores it as one update.
  TCategoryWindowController(std::vector<TCategoryEntry> categories, ISearchCatalogue& catalogue,
                            IUserPrompts& prompts, TOpenUrl openUrl, TSaveEngine save = {});

  const std::vector<TCategoryEntry>& Categories() const { return categories_; }
  int CategoryIndex() const { return category_; }
  void SelectCategory(int index);  // out of range: none
  // Selects by base name or a stored category name; false when there is none such.
  bool SelectCategory(const std::string& name);

  bool Reviews() const { return reviews_; }
  void SetReviews(bool reviews) { reviews_ = reviews; }
  void SwitchTab() { reviews_ = !reviews_; }
  std::string_view EngineLabel() const;

  // The engines of the chosen category and tab; null when there are none.
  TEngineStorageList* Engines() const;
  size_t EngineCount() const;
  TEngineStorageItem* Engine(size_t row) const;
  size_t EnabledCount() const;

  // A click on a check mark, or Space on the selected rows: each row is switched and saved in turn; the
  // row that would switch off the last enabled engine is refused with a message and ends the run.
  // Returns false when something was refused.
  bool Toggle(const std::vector<size_t>& rows);
  // Every engine of the list, the minimum not applying.
  void SetAll(bool enabled);
  bool CanOpenHomePage(const std::vector<size_t>& rows) const;
  void OpenHomePage(const std::vector<size_t>& rows);

 private:
  void Save(TEngineStorageItem& engine);

  std::vector<TCategoryEntry> categories_;
  ISearchCatalogue& catalogue_;
  IUserPrompts& prompts_;
  TOpenUrl openUrl_;
  TSaveEngine save_;
  int category_ = -1;
  bool reviews_ = false;
};

}  // namespace vandrel

#include "presentation/CategoryWindowController.h"

#include "platform/TextUtils.h"

namespace vandrel {

std::vector<TCategoryEntry> CategoryEntries(const TCategoryList& list) {
  std::vector<TCategoryEntry> entries;
  for (size_t i = 0; i < list.Count(); ++i) {
    const TCategoryItem& item = list.Items(i);
    TCategoryEntry entry;
    entry.BaseName = item.BaseName;
    entry.DisplayName = item.DisplayName();
    if (item.PriceCategory) entry.PriceCategory = item.PriceCategory->CatName;
    if (item.ReviewCategory) entry.ReviewCategory = item.ReviewCategory->CatName;
    entry.LargeIcon = list.IconPath(item, TCategoryList::kIconSuffixes[2]);
    entries.push_back(std::move(entry));
  }
  return entries;
}

TCategoryWindowController::TCategoryWindowController(std::vector<TCategoryEntry> categories,
                                                     ISearchCatalogue& catalogue, IUserPrompts& prompts,
                                                     TOpenUrl openUrl, TSaveEngine save)
    : categories_(std::move(categories)),
      catalogue_(catalogue),
      prompts_(prompts),
      openUrl_(std::move(openUrl)),
      save_(std::move(save)) {
  if (!categories_.empty()) category_ = 0;
}

void TCategoryWindowController::SelectCategory(int index) {
  category_ = index >= 0 && static_cast<size_t>(index) < categories_.size() ? index : -1;
}

bool TCategoryWindowController::SelectCategory(const std::string& name) {
  const std::string wanted = AsciiLowerCase(name);
  for (size_t i = 0; i < categories_.size(); ++i) {
    const TCategoryEntry& c = categories_[i];
    if (c.BaseName == wanted || AsciiLowerCase(c.PriceCategory) == wanted ||
        AsciiLowerCase(c.ReviewCategory) == wanted) {
      category_ = static_cast<int>(i);
      return true;
    }
  }
  return false;
}

std::string_view TCategoryWindowController::EngineLabel() const {
  return reviews_ ? category_text::kReviewSiteLabel : category_text::kStoreLabel;
}

TEngineStorageList* TCategoryWindowController::Engines() const {
  if (category_ < 0) return nullptr;
  const TCategoryEntry& c = categories_[category_];
  const std::string& name = reviews_ ? c.ReviewCategory : c.PriceCategory;
  return name.empty() ? nullptr : catalogue_.CategoryEngines(name);
}

size_t TCategoryWindowController::EngineCount() const {
  TEngineStorageList* engines = Engines();
  return engines ? engines->Count() : 0;
}

TEngineStorageItem* TCategoryWindowController::Engine(size_t row) const {
  TEngineStorageList* engines = Engines();
  return engines && row < engines->Count() ? engines->Engine(row) : nullptr;
}

size_t TCategoryWindowController::EnabledCount() const {
  size_t count = 0;
  for (size_t i = 0; i < EngineCount(); ++i) count += Engine(i)->Enabled ? 1 : 0;
  return count;
}

void TCategoryWindowController::Save(TEngineStorageItem& engine) {
  if (save_) {
    save_(engine);
    return;
  }
  if (engine.Owner() && !engine.Owner()->InTransaction()) engine.RunTransaction(lsUpdating, 0);
}

bool TCategoryWindowController::Toggle(const std::vector<size_t>& rows) {
  for (size_t row : rows) {
    TEngineStorageItem* engine = Engine(row);
    if (!engine) continue;
    if (engine->Enabled && EnabledCount() <= 1) {
      TPrompt prompt;
      prompt.Caption = "Information";
      prompt.Text = reviews_ ? category_text::kLastReviewSite : category_text::kLastStore;
      prompts_.Ask(prompt);
      return false;
    }
    engine->Enabled = !engine->Enabled;
    Save(*engine);
  }
  return true;
}

void TCategoryWindowController::SetAll(bool enabled) {
  for (size_t i = 0; i < EngineCount(); ++i) {
    TEngineStorageItem* engine = Engine(i);
    if (engine->Enabled == enabled) continue;
    engine->Enabled = enabled;
    Save(*engine);
  }
}

bool TCategoryWindowController::CanOpenHomePage(const std::vector<size_t>& rows) const {
  return rows.size() == 1 && Engine(rows[0]) && !Engine(rows[0])->HomePage.empty();
}

void TCategoryWindowController::OpenHomePage(const std::vector<size_t>& rows) {
  if (CanOpenHomePage(rows) && openUrl_) openUrl_(Engine(rows[0])->HomePage);
}

}  // namespace vandrel

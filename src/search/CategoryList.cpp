#include "search/CategoryList.h"

#include <algorithm>
#include <filesystem>

#include "actions/AppErrors.h"
#include "platform/TextUtils.h"
#include "search/DefinitionFiles.h"

namespace vandrel {

std::string TCategoryItem::DisplayName() const {
  return PriceCategory ? PriceCategory->DisplayName : "";
}

std::string TCategoryItem::Description() const {
  return PriceCategory ? PriceCategory->Description : "";
}

TCategoryList::TCategoryList(TCategoryStorageList& categories, std::string dataFolder)
    : Categories_(categories), DataFolder_(std::move(dataFolder)) {
  if (!DataFolder_.empty() && DataFolder_.back() != '/') DataFolder_ += '/';
  Categories_.AddObserver(this);
}

TCategoryList::~TCategoryList() {
  Categories_.RemoveObserver(this);
}

bool TCategoryList::Load() {
  Items_.clear();
  auto itemFor = [this](std::string baseName) -> TCategoryItem& {
    baseName = AsciiLowerCase(baseName);
    for (auto& item : Items_)
      if (item->BaseName == baseName) return *item;
    Items_.push_back(std::make_unique<TCategoryItem>());
    Items_.back()->BaseName = std::move(baseName);
    return *Items_.back();
  };
  for (size_t i = 0; i < Categories_.Count(); ++i) {
    auto* stored = static_cast<TCategoryStorageItem*>(Categories_.Item(i));
    const std::string& name = stored->CatName;
    if (StartsWithText(name, "buy"))
      itemFor(name.substr(3)).PriceCategory = stored;
    else if (StartsWithText(name, "review"))
      itemFor(name.substr(6)).ReviewCategory = stored;
  }

  auto priority = [](const TCategoryItem& item) {
    return item.PriceCategory ? item.PriceCategory->Priority : item.ReviewCategory->Priority;
  };
  auto displayName = [](const TCategoryItem& item) {
    return item.PriceCategory ? item.PriceCategory->DisplayName : item.ReviewCategory->DisplayName;
  };
  std::stable_sort(Items_.begin(), Items_.end(), [&](const auto& a, const auto& b) {
    if (priority(*a) != priority(*b)) return priority(*a) < priority(*b);
    return displayName(*a) < displayName(*b);
  });

  for (size_t i = 0; i < Items_.size(); ++i) {
    TCategoryItem& item = *Items_[i];
    item.Position = static_cast<int>(i);
    if (!item.PriceCategory) {
      ShowAppError(aePriceEnginesNotFound, {item.BaseName});
      return false;
    }
    for (const char* suffix : kIconSuffixes) {
      std::string path = IconPath(item, suffix);
      std::error_code ec;
      if (!std::filesystem::is_regular_file(path, ec)) {
        ShowAppError(aeOpenFailedFatal, {path});
        return false;
      }
    }
    if (!item.ReviewCategory) {
      ShowAppError(aeReviewEnginesNotFound, {item.BaseName});
      return false;
    }
  }
  for (ICategoryListObserver* observer : std::vector<ICategoryListObserver*>(Observers_))
    observer->CategoriesChanged(*this);
  return true;
}

TCategoryItem* TCategoryList::Find(const std::string& name) const {
  std::string lower = AsciiLowerCase(name);
  for (const auto& item : Items_)
    if (item->BaseName == lower) return item.get();
  for (const auto& item : Items_)
    if (item->PriceCategory && SameText(item->PriceCategory->CatName, lower)) return item.get();
  for (const auto& item : Items_)
    if (item->ReviewCategory && SameText(item->ReviewCategory->CatName, lower)) return item.get();
  return nullptr;
}

bool TCategoryList::IsReviewCategory(const std::string& name) const {
  TCategoryItem* item = Find(name);
  return item && item->ReviewCategory && SameText(item->ReviewCategory->CatName, name);
}

std::string TCategoryList::IconPath(const TCategoryItem& item, const char* suffix) const {
  return FindPathIgnoringCase(DataFolder_, item.BaseName + suffix);
}

void TCategoryList::AddObserver(ICategoryListObserver* observer) {
  if (std::find(Observers_.begin(), Observers_.end(), observer) == Observers_.end())
    Observers_.push_back(observer);
}

void TCategoryList::RemoveObserver(ICategoryListObserver* observer) {
  std::erase(Observers_, observer);
}

void TCategoryList::ItemChanged(TStorageNotifier*, TStorageDataItem* item) {
  if (!item) Load();
}

void TCategoryList::ItemDeleted(TStorageNotifier*, TStorageDataItem* item) {
  for (auto& entry : Items_) {
    if (entry->PriceCategory == item) entry->PriceCategory = nullptr;
    if (entry->ReviewCategory == item) entry->ReviewCategory = nullptr;
  }
}

void TCategoryList::StorageError(TStorageDataList*, bool) {
  ShowAppError(aeDatabaseAccess);
}

}  // namespace vandrel

// The categories as the windows offer them: each "buy" category paired with its "review" category.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "storage/CategoryStorage.h"

namespace vandrel {

class TCategoryList;

// One category as the user sees it. The stored categories it points at belong to the stored list; the
// category list drops an item's reference when that stored category is deleted.
struct TCategoryItem {
  std::string BaseName;                            // lower case, without "buy" or "review"
  TCategoryStorageItem* PriceCategory = nullptr;   // the "buy…" category
  TCategoryStorageItem* ReviewCategory = nullptr;  // the "review…" category
  int Position = 0;

  // Those of the price category (empty without one).
  std::string DisplayName() const;
  std::string Description() const;
};

class ICategoryListObserver {
 public:
  virtual ~ICategoryListObserver() = default;
  virtual void CategoriesChanged(TCategoryList& list) = 0;
};

// Rebuilt whenever the stored categories are reloaded. Main thread only.
class TCategoryList : private IStorageDataListObserver {
 public:
  // The icon files every category needs, after its base name.
  static constexpr const char* kIconSuffixes[4] = {"16ImageIcon.bmp", "16AlphaIcon.bmp", "32ImageIcon.bmp",
                                                   "32AlphaIcon.bmp"};

  // `dataFolder` holds the icons. Must not outlive `categories`, which it observes.
  TCategoryList(TCategoryStorageList& categories, std::string dataFolder);
  ~TCategoryList() override;
  TCategoryList(const TCategoryList&) = delete;
  TCategoryList& operator=(const TCategoryList&) = delete;

  // Pairs the stored categories and checks every pair; a category without its price or review half, or
  // with an icon file missing, is a fatal application error. Returns false at the first one.
  bool Load();

  size_t Count() const { return Items_.size(); }
  TCategoryItem& Items(size_t index) const { return *Items_[index]; }
  // By base name, then by the price category's name, then by the review category's name.
  TCategoryItem* Find(const std::string& name) const;
  bool IsReviewCategory(const std::string& name) const;
  // The icon file of `item` with one of kIconSuffixes.
  std::string IconPath(const TCategoryItem& item, const char* suffix) const;

  void AddObserver(ICategoryListObserver* observer);
  void RemoveObserver(ICategoryListObserver* observer);

 private:
  void ItemChanged(TStorageNotifier* sender, TStorageDataItem* item) override;
  void ItemDeleted(TStorageNotifier* sender, TStorageDataItem* item) override;
  void StorageError(TStorageDataList* list, bool writing) override;

  TCategoryStorageList& Categories_;
  std::string DataFolder_;  // ends with "/"
  std::vector<std::unique_ptr<TCategoryItem>> Items_;
  std::vector<ICategoryListObserver*> Observers_;  // not owned, registration order
};

}  // namespace vandrel

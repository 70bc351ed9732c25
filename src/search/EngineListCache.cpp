#include "search/EngineListCache.h"

#include "platform/TextUtils.h"
#include "storage/StorageDataViews.h"

namespace vandrel {

namespace {

int CompareDisplayNames(TStorageDataItem* a, TStorageDataItem* b) {
  int r = CompareText(static_cast<TEngineStorageItem*>(a)->DisplayName,
                      static_cast<TEngineStorageItem*>(b)->DisplayName);
  if (r != 0) return r;
  return CompareText(static_cast<TEngineStorageItem*>(a)->EngName,
                     static_cast<TEngineStorageItem*>(b)->EngName);
}

}  // namespace

// Keeps the sorted view in order as the list changes.
struct TEngineListCache::TCacheItem : IStorageDataListObserver {
  TCacheItem(std::string category, std::unique_ptr<TEngineStorageList> list)
      : Category(std::move(category)), List(std::move(list)) {
    List->AddObserver(this);
  }
  ~TCacheItem() override { List->RemoveObserver(this); }

  void ItemChanged(TStorageNotifier*, TStorageDataItem* item) override {
    TStorageDataListView& view = *List->GetView(kSortedView);
    if (item)
      view.Reposition(item, CompareDisplayNames);
    else
      view.Sort(CompareDisplayNames);
  }

  std::string Category;
  std::unique_ptr<TEngineStorageList> List;
};

TEngineListCache::TEngineListCache() : Template_(std::make_unique<TEngineStorageList>()) {}

TEngineListCache::~TEngineListCache() = default;

void TEngineListCache::SetStorage(std::shared_ptr<IStorageManager> storage) {
  Clear();
  if (storage)
    Template_->AttachStorage(std::move(storage));
  else
    Template_->DetachStorage();
}

TEngineStorageList* TEngineListCache::FindEngineList(const std::string& category) const {
  for (const auto& item : Items_)
    if (SameText(item->Category, category)) return item->List.get();
  return nullptr;
}

TEngineStorageList* TEngineListCache::EngineList(const std::string& category) {
  if (TEngineStorageList* list = FindEngineList(category)) return list;
  auto list = std::make_unique<TEngineStorageList>(*Template_);
  list->SetCatName(category);
  list->GetView(kSortedView);
  if (!list->Load()) return nullptr;
  Items_.push_back(std::make_unique<TCacheItem>(category, std::move(list)));
  Sorted(*Items_.back()->List);
  return Items_.back()->List.get();
}

void TEngineListCache::Drop(const std::string& category) {
  for (size_t i = 0; i < Items_.size(); ++i)
    if (SameText(Items_[i]->Category, category)) {
      Items_.erase(Items_.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
}

void TEngineListCache::Clear() {
  Items_.clear();
}

const std::string& TEngineListCache::CategoryName(size_t index) const {
  return Items_[index]->Category;
}

TEngineStorageList& TEngineListCache::List(size_t index) const {
  return *Items_[index]->List;
}

TStorageDataListView& TEngineListCache::Sorted(TEngineStorageList& list) {
  TStorageDataListView& view = *list.GetView(kSortedView);
  view.Sort(CompareDisplayNames);
  return view;
}

}  // namespace vandrel

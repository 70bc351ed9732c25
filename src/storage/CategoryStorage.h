// Stored category definitions.
#pragma once

#include <string>

#include "storage/StorageDataLists.h"

namespace vandrel {

class TCategoryStorageItem : public TVersionStorageDataItem {
  VANDREL_PERSISTENT(TCategoryStorageItem)
 public:
  std::string CatName;
  std::string DisplayName;
  std::string Description;
  bool Enabled = false;
  std::string FileName;
  int32_t Priority = 0;
  double LastUpdateDate = 0;  // date-time
  double LastSearchDate = 0;  // date-time
  std::string SrtName;        // the category's search type
  std::string SearchFrame;
  std::string Language;
  int32_t DefaultResultsPerEngine = 0;
  int32_t DefaultTotalResults = 0;
  int32_t ResultsPerEngine = 0;
  int32_t TotalResults = 0;

  std::string GetName() const override { return CatName; }
  // Inside an lsSettingField transaction the pending value lands in memory before the key is taken.
  void Changed() override;
};

class TCategoryStorageKeyItem : public TStorageKeyItem {
  VANDREL_PERSISTENT(TCategoryStorageKeyItem)
 public:
  std::string CatName;
  void TakeKey() override;
};

class TCategoryStorageTransactionList : public TStorageTransactionList {
  VANDREL_PERSISTENT(TCategoryStorageTransactionList)
};

// lsSettingField field index of the category list.
constexpr int kCategorySetEnabled = 1;

class TCategoryStorageList : public TVersionStorageDataList {
 public:
  TCategoryStorageList();

  TCategoryStorageItem* NewCategory() { return static_cast<TCategoryStorageItem*>(NewItem()); }
  TCategoryStorageItem* Category(size_t index) const {
    return static_cast<TCategoryStorageItem*>(Item(index));
  }
  // Letter case counts.
  TCategoryStorageItem* FindByName(const std::string& name) const override;
};

}  // namespace vandrel

// Stored search-type definitions: their input and output field definitions, sort keys and column layouts.
#pragma once

#include <string>

#include "storage/StorageFields.h"

namespace vandrel {

class TSearchTypeStorageInputFieldDefinitionItem : public TStorageFieldDefinitionItem {
  VANDREL_PERSISTENT(TSearchTypeStorageInputFieldDefinitionItem)
 public:
  bool IsFormula = false;
  bool HighlightSource = false;
};

class TSearchTypeStorageInputFieldDefinitionList : public TStorageFieldDefinitionList {
  VANDREL_PERSISTENT(TSearchTypeStorageInputFieldDefinitionList)
 public:
  TSearchTypeStorageInputFieldDefinitionList()
      : TStorageFieldDefinitionList(TSearchTypeStorageInputFieldDefinitionItem::StaticClass()) {}
  TSearchTypeStorageInputFieldDefinitionItem* Input(size_t i) const {
    return static_cast<TSearchTypeStorageInputFieldDefinitionItem*>(Item(i));
  }
  TSearchTypeStorageInputFieldDefinitionItem* FindInput(std::string_view name) const {
    return static_cast<TSearchTypeStorageInputFieldDefinitionItem*>(Find(name));
  }
  TSearchTypeStorageInputFieldDefinitionItem* AddInput(const std::string& name, TStorageFieldType type);
};

class TSearchTypeStorageOutputFieldDefinitionItem : public TStorageFieldDefinitionLayoutItem {
  VANDREL_PERSISTENT(TSearchTypeStorageOutputFieldDefinitionItem)
 public:
  bool BoldIfNew = false;
  bool HighlightTarget = false;
  bool IsUrl = false;
  bool IsDomain = false;
};

class TSearchTypeStorageOutputFieldDefinitionList : public TStorageFieldDefinitionList {
  VANDREL_PERSISTENT(TSearchTypeStorageOutputFieldDefinitionList)
 public:
  TSearchTypeStorageOutputFieldDefinitionList()
      : TStorageFieldDefinitionList(TSearchTypeStorageOutputFieldDefinitionItem::StaticClass()) {}
  TSearchTypeStorageOutputFieldDefinitionItem* Output(size_t i) const {
    return static_cast<TSearchTypeStorageOutputFieldDefinitionItem*>(Item(i));
  }
  TSearchTypeStorageOutputFieldDefinitionItem* FindOutput(std::string_view name) const {
    return static_cast<TSearchTypeStorageOutputFieldDefinitionItem*>(Find(name));
  }
  TSearchTypeStorageOutputFieldDefinitionItem* AddOutput(const std::string& name, TStorageFieldType type);
  // Replaces the content with a copy of `source`.
  void CopyFrom(const TSearchTypeStorageOutputFieldDefinitionList& source) { Assign(source); }
};

class TSearchTypeStorageItem : public TVersionStorageDataItem {
  VANDREL_PERSISTENT(TSearchTypeStorageItem)
 public:
  std::string SrtName;
  std::string DisplayName;
  std::string SearchFrame;  // name of the search form to show
  TStrings AllowedResultOperations;
  TStrings FilterClasses;  // class names of the result filters this type offers
  std::string UniqueKey;
  TSearchTypeStorageInputFieldDefinitionList InputFieldDefinitions;
  TSearchTypeStorageOutputFieldDefinitionList OutputFieldDefinitions;
  storage::TSortKeyList SortKeys;                       // tie-break keys of result views
  TStorageFieldDefinitionLayoutList OutputFieldLayout;  // the user's result columns for this type

  std::string GetName() const override { return SrtName; }
};

class TSearchTypeStorageKeyItem : public TStorageKeyItem {
  VANDREL_PERSISTENT(TSearchTypeStorageKeyItem)
 public:
  std::string SrtName;
  void TakeKey() override;
};

class TSearchTypeStorageTransactionList : public TStorageTransactionList {
  VANDREL_PERSISTENT(TSearchTypeStorageTransactionList)
 public:
  TStorageFieldDefinitionLayoutList InputFieldLayout;  // the one global layout of search input fields
};

// lsUpdating field indexes of the search-type list.
constexpr int kSearchTypeUpdateInputLayout = 1;   // save the global input-field layout
constexpr int kSearchTypeUpdateOutputLayout = 2;  // save each entry's output layout

class TSearchTypeStorageList : public TVersionStorageDataList {
 public:
  TSearchTypeStorageList();

  TSearchTypeStorageItem* NewSearchType() { return static_cast<TSearchTypeStorageItem*>(NewItem()); }
  TSearchTypeStorageItem* SearchType(size_t index) const {
    return static_cast<TSearchTypeStorageItem*>(Item(index));
  }
  // Letter case counts.
  TSearchTypeStorageItem* FindByName(const std::string& name) const override;
  TSearchTypeStorageTransactionList& SearchTypeTransaction() {
    return static_cast<TSearchTypeStorageTransactionList&>(Transaction());
  }
  TStorageFieldDefinitionLayoutList& InputFieldLayout() { return SearchTypeTransaction().InputFieldLayout; }
};

}  // namespace vandrel

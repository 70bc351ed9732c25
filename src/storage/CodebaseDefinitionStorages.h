// The database back ends of the definition lists: search types, categories and engines.
#pragma once

#include "storage/CategoryStorage.h"
#include "storage/CodebaseStorage.h"
#include "storage/EngineStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {

// Search types with their input and output field definitions and the column layouts.
class TSearchTypeStorage_Codebase
    : public TCodebaseRowStorage<TSearchTypeStorage_Codebase, TSearchTypeStorageTransactionList,
                                 TSearchTypeStorageItem> {
 public:
  TSearchTypeStorage_Codebase();
  bool SetItemsField(const TBytes&, const TDynamicValue&) override { return false; }

 private:
  using TList = TSearchTypeStorageTransactionList;
  VANDREL_CODEBASE_ROWS(TList, TSearchTypeStorageItem);
  bool WriteDependents(const TList&, const TSearchTypeStorageItem& item);
  bool DeleteDependents(const TList&, const TDbKey& key);
  // Layouts are the only parts written apart: the input layout of the whole list, or each entry's
  // output layout; any other field index writes nothing.
  std::optional<bool> UpdateOther(const TList& list, int fieldIndex);
  void AfterLoad(const TList& selection, TList& out);
  bool WriteOutputLayout(const TSearchTypeStorageItem& item);
};

class TCategoryStorage_Codebase
    : public TCodebaseRowStorage<TCategoryStorage_Codebase, TCategoryStorageTransactionList,
                                 TCategoryStorageItem> {
 public:
  TCategoryStorage_Codebase();

 private:
  using TList = TCategoryStorageTransactionList;
  VANDREL_CODEBASE_ROWS(TList, TCategoryStorageItem);
  std::optional<bool> UpdateOther(const TList&, int fieldIndex);
  std::optional<std::pair<const char*, int>> FlagOf(int fieldIndex) const;
};

// Engines of one category at a time (the transaction's CatName); replaced only as a whole.
class TEngineStorage_Codebase
    : public TCodebaseRowStorage<TEngineStorage_Codebase, TEngineStorageTransactionList, TEngineStorageItem> {
 public:
  TEngineStorage_Codebase();
  bool DeleteItems(const TBytes&) override { return false; }
  bool SetItemsField(const TBytes&, const TDynamicValue&) override { return false; }

 private:
  using TList = TEngineStorageTransactionList;
  VANDREL_CODEBASE_ROWS(TList, TEngineStorageItem);
  TDbKey SelectionKey(const TList& list) const { return {list.CatName}; }
  bool WriteDependents(const TList& list, const TEngineStorageItem& item);
  std::optional<bool> UpdateOther(const TList&, int fieldIndex);
  void AfterLoad(const TList& selection, TList& out) { out.CatName = selection.CatName; }
};

}  // namespace vandrel

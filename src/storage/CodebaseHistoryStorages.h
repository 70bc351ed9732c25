// The database back ends of a search history: its searches and the results of each search.
#pragma once

#include "storage/CodebaseStorage.h"

namespace vandrel {

class TSearchStorageItem;
class TResultStorageItem;
class TResultStorageTransactionList;

// Searches of one history folder, keyed by their number, with the folder's filter and group blobs.
class TSearchStorage_Codebase : public TCodebaseStorage {
 public:
  TSearchStorage_Codebase();
  bool AddItems(const TBytes& items) override;
  bool UpdateItems(const TBytes& items, int fieldIndex) override;
  bool LoadItems(const TBytes& selection, TBytes& result) override;
  // A deleted search takes its stored results along, so a later search given its number starts empty.
  bool DeleteItems(const TBytes& keys) override;
  bool DeleteAllItems(const TBytes& selection) override;
  bool SetItemsField(const TBytes& keys, const TDynamicValue& value) override;
  bool GetNextKey(const TBytes& selection, int32_t& key) override;
  bool EmptyStorage() override;

 private:
  void WriteColumns(TTable* t, const TSearchStorageItem& s);
  void ReadColumns(TTable* t, TSearchStorageItem& s);
  // Every row of search `srhNum` (every search's when empty) in the four result tables of the folder.
  bool DeleteResultsOf(const std::vector<TDbKeyValue>& srhNum);
};

// Results of one search at a time (the transaction's SrhNum), keyed by their number within it.
class TResultStorage_Codebase : public TCodebaseStorage {
 public:
  TResultStorage_Codebase();
  bool AddItems(const TBytes& items) override;
  bool UpdateItems(const TBytes& items, int fieldIndex) override;
  bool LoadItems(const TBytes& selection, TBytes& result) override;
  bool DeleteItems(const TBytes& keys) override;
  bool DeleteAllItems(const TBytes& selection) override;
  bool SetItemsField(const TBytes& keys, const TDynamicValue& value) override;
  bool GetNextKey(const TBytes& selection, int32_t& key) override;

 private:
  void ReadResult(TResultStorageItem& r, const TResultStorageTransactionList& selection);
};

}  // namespace vandrel

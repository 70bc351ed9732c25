// The database back ends of the definition lists: search types, categories and engines.
#pragma once

#include "storage/CodebaseStorage.h"

namespace vandrel {

class TSearchTypeStorageItem;

// Search types with their input and output field definitions and the column layouts.
class TSearchTypeStorage_Codebase : public TCodebaseStorage {
 public:
  TSearchTypeStorage_Codebase();
  bool AddItems(const TBytes& items) override;
  bool UpdateItems(const TBytes& items, int fieldIndex) override;
  bool LoadItems(const TBytes& selection, TBytes& result) override;
  bool DeleteItems(const TBytes& keys) override;
  bool DeleteAllItems(const TBytes& selection) override;
  bool SetItemsField(const TBytes&, const TDynamicValue&) override { return false; }

 private:
  bool WriteSearchType(const TSearchTypeStorageItem& item);
  bool WriteOutputLayout(const TSearchTypeStorageItem& item);
  void ReadSearchType(TSearchTypeStorageItem& item);
  bool DeleteSearchType(const std::string& srtName);
};

class TCategoryStorage_Codebase : public TCodebaseStorage {
 public:
  TCategoryStorage_Codebase();
  bool AddItems(const TBytes& items) override;
  bool UpdateItems(const TBytes& items, int fieldIndex) override;
  bool LoadItems(const TBytes& selection, TBytes& result) override;
  bool DeleteItems(const TBytes& keys) override;
  bool DeleteAllItems(const TBytes& selection) override;
  bool SetItemsField(const TBytes& keys, const TDynamicValue& value) override;
};

// Engines of one category at a time (the transaction's CatName); replaced only as a whole.
class TEngineStorage_Codebase : public TCodebaseStorage {
 public:
  TEngineStorage_Codebase();
  bool AddItems(const TBytes& items) override;
  bool UpdateItems(const TBytes& items, int fieldIndex) override;
  bool LoadItems(const TBytes& selection, TBytes& result) override;
  bool DeleteItems(const TBytes&) override { return false; }
  bool DeleteAllItems(const TBytes& selection) override;
  bool SetItemsField(const TBytes&, const TDynamicValue&) override { return false; }
};

}  // namespace vandrel

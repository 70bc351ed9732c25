// A back end that keeps the records of one typed list in memory, reading every stream by its own class.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "storage/StorageDataLists.h"

namespace vandrel::storagetest {

class TMemoryBackend : public IStorageManager {
 public:
  std::map<int32_t, TBytes> Records;  // key -> the record written as a listed object
  TBytes FilterBlob, GroupBlob;
  std::vector<std::string> Ops;
  std::vector<int> UpdateFieldIndexes;  // UpdateItems arguments, in call order
  // The last SetItemsField call: its FieldIndex, value and keys.
  int SetFieldIndex = -1;
  TDynamicValue SetValueArg;
  std::vector<std::string> SetKeys;
  std::vector<std::string> DeletedKeys;
  std::unique_ptr<TStorageTransactionList> LastSelection;  // what the last LoadItems was asked for
  std::unique_ptr<TStorageTransactionList> LastUpdate;     // the last UpdateItems stream

  // The stored record of that key, read back.
  std::unique_ptr<TStorageDataItem> Record(int32_t key) const;

  bool Login(const TBytes&) override { return Log("Login"); }
  void Logout() override { Log("Logout"); }
  bool AddItems(const TBytes& items) override;
  bool UpdateItems(const TBytes& items, int fieldIndex) override;
  bool LoadItems(const TBytes& selection, TBytes& result) override;
  bool DeleteItems(const TBytes& keys) override;
  bool DeleteAllItems(const TBytes& selection) override;
  bool SetItemsField(const TBytes& keys, const TDynamicValue& value) override;
  bool GetNextKey(const TBytes& selection, int32_t& key) override;
  bool EmptyStorage() override;
  bool Compact() override { return Log("Compact"); }
  IStorageProgress* GetProgress() override { return Progress_; }
  void SetProgress(IStorageProgress* progress) override { Progress_ = progress; }

 private:
  bool Log(const std::string& op) {
    Ops.push_back(op);
    return true;
  }
  void Store(const TStorageTransactionList& transaction);
  IStorageProgress* Progress_ = nullptr;
};

// Reads a whole object stream into a new object of the class its header names.
std::unique_ptr<TStorageTransactionList> ReadTransaction(const TBytes& stream);
// The name a key entry stands for: its typed name, or its Index as text.
std::string KeyText(TPersistent* entry);

}  // namespace vandrel::storagetest

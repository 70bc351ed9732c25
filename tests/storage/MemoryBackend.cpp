#include "storage/MemoryBackend.h"

#include "storage/CategoryStorage.h"
#include "storage/EngineStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel::storagetest {

std::unique_ptr<TStorageTransactionList> ReadTransaction(const TBytes& stream) {
  TPropertyReader reader(stream);
  reader.ReadSignature();
  const TClassInfo* cls = FindClass(reader.ReadShortString());
  if (!cls || !cls->Create) throw EReadError("unknown transaction class");
  std::unique_ptr<TPersistent> object = cls->Create();
  auto* transaction = dynamic_cast<TStorageTransactionList*>(object.get());
  if (!transaction) throw EReadError("not a transaction");
  object.release();
  std::unique_ptr<TStorageTransactionList> owned(transaction);
  ReadObjectStream(stream, *owned);
  return owned;
}

std::string KeyText(TPersistent* entry) {
  if (auto* k = dynamic_cast<TDefaultKeyItem*>(entry)) return std::to_string(k->Index);
  if (auto* k = dynamic_cast<TSearchTypeStorageKeyItem*>(entry)) return k->SrtName;
  if (auto* k = dynamic_cast<TCategoryStorageKeyItem*>(entry)) return k->CatName;
  if (auto* k = dynamic_cast<TEngineStorageKeyItem*>(entry)) return k->EngName;
  return "?";
}

std::unique_ptr<TStorageDataItem> TMemoryBackend::Record(int32_t key) const {
  auto it = Records.find(key);
  if (it == Records.end()) return nullptr;
  TPropertyReader reader(it->second);
  auto object = ReadListedObject(reader, nullptr);
  return std::unique_ptr<TStorageDataItem>(static_cast<TStorageDataItem*>(object.release()));
}

void TMemoryBackend::Store(const TStorageTransactionList& transaction) {
  for (size_t i = 0; i < transaction.Count(); ++i)
    if (auto* item = transaction.ItemAs<TStorageDataItem>(i)) {
      TBytes bytes;
      TPropertyWriter writer(bytes);
      WriteListedObject(writer, *item);
      Records[item->Index()] = std::move(bytes);
    }
}

bool TMemoryBackend::AddItems(const TBytes& items) {
  Log("AddItems");
  auto transaction = ReadTransaction(items);
  Store(*transaction);
  FilterBlob = transaction->FilterManagersData.Data;
  GroupBlob = transaction->GroupManagersData.Data;
  return true;
}

bool TMemoryBackend::UpdateItems(const TBytes& items, int fieldIndex) {
  Log("UpdateItems");
  UpdateFieldIndexes.push_back(fieldIndex);
  auto transaction = ReadTransaction(items);
  if (fieldIndex == kStoreFilterManagers) {
    FilterBlob = transaction->FilterManagersData.Data;
  } else if (fieldIndex == kStoreGroupManagers) {
    GroupBlob = transaction->GroupManagersData.Data;
  } else {
    Store(*transaction);
  }
  LastUpdate = std::move(transaction);
  return true;
}

bool TMemoryBackend::LoadItems(const TBytes& selection, TBytes& result) {
  Log("LoadItems");
  LastSelection = ReadTransaction(selection);
  auto answer = ReadTransaction(selection);
  for (const auto& [key, bytes] : Records) {
    TPropertyReader reader(bytes);
    answer->Add(ReadListedObject(reader, nullptr));
  }
  answer->FilterManagersData.Data = FilterBlob;
  answer->GroupManagersData.Data = GroupBlob;
  result.clear();
  WriteObjectStream(result, *answer);
  return true;
}

bool TMemoryBackend::DeleteItems(const TBytes& keys) {
  Log("DeleteItems");
  auto transaction = ReadTransaction(keys);
  for (size_t i = 0; i < transaction->Count(); ++i) {
    std::string key = KeyText(transaction->Item(i));
    DeletedKeys.push_back(key);
    for (auto it = Records.begin(); it != Records.end(); ++it) {
      auto record = Record(it->first);
      auto* named = dynamic_cast<TVersionStorageDataItem*>(record.get());
      if ((named && named->GetName() == key) || (!named && std::to_string(it->first) == key)) {
        Records.erase(it);
        break;
      }
    }
  }
  return true;
}

bool TMemoryBackend::DeleteAllItems(const TBytes& selection) {
  Log("DeleteAllItems");
  ReadTransaction(selection);
  Records.clear();
  return true;
}

bool TMemoryBackend::SetItemsField(const TBytes& keys, const TDynamicValue& value) {
  Log("SetItemsField");
  auto transaction = ReadTransaction(keys);
  SetFieldIndex = transaction->FieldIndex;
  SetValueArg = value;
  SetKeys.clear();
  for (size_t i = 0; i < transaction->Count(); ++i) SetKeys.push_back(KeyText(transaction->Item(i)));
  return true;
}

bool TMemoryBackend::GetNextKey(const TBytes& selection, int32_t& key) {
  Log("GetNextKey");
  ReadTransaction(selection);
  key = Records.empty() ? 1 : Records.rbegin()->first + 1;
  return true;
}

bool TMemoryBackend::EmptyStorage() {
  Log("EmptyStorage");
  Records.clear();
  return true;
}

}  // namespace vandrel::storagetest

#include "storage/StorageTestSupport.h"

#include <mutex>

namespace vandrel::storagetest {

const TClassInfo& TTestItem::StaticClass() {
  static const TClassInfo info = TClassBuilder<TTestItem>("TTestItem", TStorageDataItem::StaticClass())
                                     .String("Title", &TTestItem::Title, &TTestItem::SetTitle)
                                     .Integer("Price", &TTestItem::Price, &TTestItem::SetPrice)
                                     .Build();
  return info;
}

const TClassInfo& TTestLoginInfo::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TTestLoginInfo>("TTestLoginInfo", TStorageLoginInfo::StaticClass())
          .String("Folder", &TTestLoginInfo::Folder)
          .Build();
  return info;
}

void RegisterTestStorageClasses() {
  RegisterStorageClasses();
  RegisterClass(TTestItem::StaticClass());
  RegisterClass(TTestLoginInfo::StaticClass());
}

std::unique_ptr<TStorageDataList> MakeTestList() {
  RegisterTestStorageClasses();
  return std::make_unique<TStorageDataList>(TStorageTransactionList::StaticClass(), nullptr,
                                            TDefaultKeyItem::StaticClass(), TTestItem::StaticClass());
}

std::vector<std::string> TRecordingBackend::Ops() const {
  std::vector<std::string> ops;
  for (const auto& c : Calls) ops.push_back(c.Op);
  return ops;
}

bool TRecordingBackend::Record(const std::string& op, const TBytes& stream, int fieldIndex) {
  TBackendCall call;
  call.Op = op;
  if (!stream.empty()) {
    TStorageTransactionList transaction;
    ReadObjectStream(stream, transaction);
    call.FieldIndex = fieldIndex >= 0 ? fieldIndex : transaction.FieldIndex;
    for (size_t i = 0; i < transaction.Count(); ++i) {
      if (auto* item = transaction.ItemAs<TStorageDataItem>(i)) call.Keys.push_back(item->Index());
      if (auto* item = transaction.ItemAs<TTestItem>(i)) call.Titles.push_back(item->Title());
      if (auto* key = transaction.ItemAs<TDefaultKeyItem>(i)) call.Keys.push_back(key->Index);
    }
    call.FilterBlob = transaction.FilterManagersData.Data;
    call.GroupBlob = transaction.GroupManagersData.Data;
  }
  Calls.push_back(call);
  return !Fails[op];
}

bool TRecordingBackend::Login(const TBytes& loginInfo) {
  TTestLoginInfo info;
  info.LoadFromStream(loginInfo);
  LoginFolder = info.Folder;
  return Record("Login", {});
}

bool TRecordingBackend::AddItems(const TBytes& items) {
  bool ok = Record("AddItems", items);
  if (ok) {
    StoredFilterBlob = Calls.back().FilterBlob;
    StoredGroupBlob = Calls.back().GroupBlob;
  }
  return ok;
}

bool TRecordingBackend::UpdateItems(const TBytes& items, int fieldIndex) {
  bool ok = Record("UpdateItems", items, fieldIndex);
  if (ok && fieldIndex == kStoreFilterManagers) StoredFilterBlob = Calls.back().FilterBlob;
  if (ok && fieldIndex == kStoreGroupManagers) StoredGroupBlob = Calls.back().GroupBlob;
  return ok;
}

bool TRecordingBackend::LoadItems(const TBytes& selection, TBytes& result) {
  result = LoadResult;
  return Record("LoadItems", selection);
}

bool TRecordingBackend::SetItemsField(const TBytes& keys, const TDynamicValue& value) {
  bool ok = Record("SetItemsField", keys);
  Calls.back().Value = value;
  return ok;
}

bool TRecordingBackend::GetNextKey(const TBytes& selection, int32_t& key) {
  if (!Record("GetNextKey", selection)) return false;
  key = NextKey;
  return true;
}

TBytes MakeLoadResult(const std::vector<TLoadedItem>& items, const TBytes& filterBlob,
                      const TBytes& groupBlob) {
  TStorageTransactionList transaction;
  for (const auto& loaded : items) {
    auto item = std::make_unique<TTestItem>();
    item->SetIndex(loaded.Key);
    item->SetTitle(loaded.Title);
    item->SetPrice(loaded.Price);
    transaction.Add(std::move(item));
  }
  transaction.FilterManagersData.Data = filterBlob;
  transaction.GroupManagersData.Data = groupBlob;
  TBytes out;
  WriteObjectStream(out, transaction);
  return out;
}

std::string Describe(const TStorageDataItem* item) {
  if (!item) return "*";
  if (auto* t = dynamic_cast<const TTestItem*>(item); t && !t->Title().empty()) return t->Title();
  return std::to_string(item->Index());
}

namespace {
const char* SenderTag(TStorageNotifier* sender) {
  return dynamic_cast<TStorageDataListView*>(sender) ? "V:" : "L:";
}
}  // namespace

void TRecordingObserver::ItemChanged(TStorageNotifier* sender, TStorageDataItem* item) {
  Log.push_back(std::string(SenderTag(sender)) + "changed " + Describe(item));
}

void TRecordingObserver::ItemDeleted(TStorageNotifier* sender, TStorageDataItem* item) {
  Log.push_back(std::string(SenderTag(sender)) + "deleted " + Describe(item));
}

void TRecordingObserver::BeforeLogin(TStorageDataList*, TStorageLoginInfo* info) {
  Log.push_back("L:beforeLogin");
  if (auto* test = dynamic_cast<TTestLoginInfo*>(info)) test->Folder = Folder;
}

void TRecordingObserver::ItemFilteredOut(TStorageDataListView*, TStorageDataItem* item) {
  Log.push_back("V:filteredOut " + Describe(item));
}

void TRecordingObserver::GroupRemoved(TStorageDataListView*, TStorageDataGroupItem* group) {
  Log.push_back("V:groupRemoved " + group->GetCaption());
}

void TRecordingObserver::Sorted(TStorageDataListView*, TStorageDataItem* item) {
  Log.push_back("V:sorted " + Describe(item));
}

std::vector<std::string> TRecordingObserver::Take(const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& entry : Log)
    if (entry.compare(0, prefix.size(), prefix) == 0) out.push_back(entry);
  Log.clear();
  return out;
}

}  // namespace vandrel::storagetest

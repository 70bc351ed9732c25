#include "storage/StorageDataLists.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

#include "storage/StorageDataViews.h"

namespace vandrel {

// ---- records ----

const TClassInfo& TStorageDataItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStorageDataItem>("TStorageDataItem", TPersistentEx::StaticClass())
          .Integer("Index", &TStorageDataItem::Index, &TStorageDataItem::SetIndex)
          // A new item's key starts at -1, so key 0 must be written to survive.
          .AlwaysWritten()
          .Build();
  return info;
}

void TStorageDataItem::SetIndex(int32_t index) {
  Index_ = index;
  Changed();
}

void TStorageDataItem::Changed() {
  if (Owner_) Owner_->ItemReportsChange(this);
}

void TStorageDataItem::Delete() {
  if (Owner_ && Owner_->State() == lsRewriting)
    Owner_->DestroyItem(this);
  else
    Changed();
}

void TStorageDataItem::RunTransaction(TStorageDataListState kind, int parameter) {
  if (!Owner_) return;
  TStorageDataList* list = Owner_;
  list->BeginTransaction(kind, parameter);
  Changed();
  list->EndTransaction(false);
}

const TClassInfo& TVersionStorageDataItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TVersionStorageDataItem>("TVersionStorageDataItem", TStorageDataItem::StaticClass())
          .Integer("Version", &TVersionStorageDataItem::Version)
          .Build();
  return info;
}

const TClassInfo& TStorageKeyItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStorageKeyItem>("TStorageKeyItem", TPersistentEx::StaticClass()).Build();
  return info;
}

const TClassInfo& TDefaultKeyItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TDefaultKeyItem>("TDefaultKeyItem", TStorageKeyItem::StaticClass())
          .Integer("Index", &TDefaultKeyItem::Index)
          .Build();
  return info;
}

// ---- fields ----

const TClassInfo& TStorageFieldDefinitionItem::StaticClass() {
  static const TClassInfo info = TClassBuilder<TStorageFieldDefinitionItem>("TStorageFieldDefinitionItem",
                                                                            TCollectionItem::StaticClass())
                                     .String("Name", &TStorageFieldDefinitionItem::Name)
                                     .String("DisplayName", &TStorageFieldDefinitionItem::DisplayName)
                                     .Enum("FieldType", &TStorageFieldDefinitionItem::FieldType,
                                           {"ftBoolean", "ftDouble", "ftInteger", "ftString", "ftMoney"})
                                     .Build();
  return info;
}

const TClassInfo& TStorageFieldDefinitionList::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo i;
    i.Name = "TStorageFieldDefinitionList";
    i.Parent = &TCollection::StaticClass();
    return i;
  }();
  return info;
}

int TStorageFieldDefinitionList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < Count(); ++i)
    if (SameName(Definition(i)->Name, name)) return static_cast<int>(i);
  return -1;
}

TStorageFieldDefinitionItem* TStorageFieldDefinitionList::Find(std::string_view name) const {
  int i = IndexOfName(name);
  return i < 0 ? nullptr : Definition(static_cast<size_t>(i));
}

const TClassInfo& TStorageFieldItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStorageFieldItem>("TStorageFieldItem", TCollectionItem::StaticClass())
          .String("Name", &TStorageFieldItem::Name)
          .Variant("Value", &TStorageFieldItem::Value, &TStorageFieldItem::SetValue)
          .Build();
  return info;
}

void TStorageFieldItem::SetValue(const TDynamicValue& value) {
  Value_ = value;
  if (Notifying_) return;
  Notifying_ = true;
  Changed();
  Notifying_ = false;
}

const TClassInfo& TStorageFieldList::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo i;
    i.Name = "TStorageFieldList";
    i.Parent = &TCollection::StaticClass();
    return i;
  }();
  return info;
}

TStorageFieldItem* TStorageFieldList::Find(std::string_view name) const {
  for (size_t i = 0; i < Count(); ++i)
    if (SameName(Field(i)->Name, name)) return Field(i);
  return nullptr;
}

TStorageFieldItem* TStorageFieldList::AddField(const std::string& name, const TDynamicValue& value) {
  auto* field = static_cast<TStorageFieldItem*>(Add());
  field->Name = name;
  field->SetValue(value);
  return field;
}

const TClassInfo& storage::TSortKeyItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TSortKeyItem>("TSortKeyItem", TCollectionItem::StaticClass())
          .String("Field", &TSortKeyItem::Field)
          .Enum("SortDirection", &TSortKeyItem::SortDirection, {"ksdAscending", "ksdDescending"})
          .Build();
  return info;
}

const TClassInfo& storage::TSortKeyList::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo i;
    i.Name = "TSortKeyList";
    i.Parent = &TCollection::StaticClass();
    return i;
  }();
  return info;
}

storage::TSortKeyItem* storage::TSortKeyList::AddKey(const std::string& field,
                                                     TSortKeySortDirection direction) {
  auto* key = static_cast<TSortKeyItem*>(Add());
  key->Field = field;
  key->SortDirection = direction;
  return key;
}

const TClassInfo& TStorageTransactionList::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStorageTransactionList>("TStorageTransactionList", TPersistentList::StaticClass())
          .Integer("FieldIndex", &TStorageTransactionList::FieldIndex)
          .Object("FilterManagersData", &TStorageTransactionList::FilterManagersData)
          .Object("GroupManagersData", &TStorageTransactionList::GroupManagersData)
          .Build();
  return info;
}

const TClassInfo& TStorageLoginInfo::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStorageLoginInfo>("TStorageLoginInfo", TStreamingPersistent::StaticClass()).Build();
  return info;
}

// ---- registries ----

namespace {

std::map<std::string, TStorageManagerFactory>& StorageFactories() {
  static std::map<std::string, TStorageManagerFactory> factories;
  return factories;
}

}  // namespace

void RegisterStorageManagerClass(const std::string& classId, TStorageManagerFactory factory) {
  StorageFactories()[classId] = std::move(factory);
}

void RegisterStorageClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const TClassInfo* c :
         {&TStorageDataItem::StaticClass(), &TVersionStorageDataItem::StaticClass(),
          &TStorageKeyItem::StaticClass(), &TDefaultKeyItem::StaticClass(),
          &TStorageDataFilterManager::StaticClass(), &TStorageDataFilterItem::StaticClass(),
          &TStorageDataGroupManager::StaticClass(), &TPersistentMemoryStream::StaticClass(),
          &TStorageTransactionList::StaticClass(), &TStorageDataFilterManagerList::StaticClass(),
          &TStorageDataGroupManagerList::StaticClass(), &TPersistentList::StaticClass(),
          &TStorageLoginInfo::StaticClass()})
      RegisterClass(*c);
    RegisterGroupDefinition(TStorageDataGroupDefinition::StaticClass(), TStorageDataGroupItem::StaticClass());
  });
}

// ---- the list ----

TStorageDataList::TStorageDataList(const TClassInfo& transactionClass, TViewFactory viewFactory,
                                   const TClassInfo& keyItemClass, const TClassInfo& itemClass)
    : TransactionClass_(&transactionClass),
      ViewFactory_(std::move(viewFactory)),
      KeyItemClass_(&keyItemClass),
      ItemClass_(&itemClass) {
  Init();
}

TStorageDataList::TStorageDataList(const TStorageDataList& other)
    : OnBeforeLogin(other.OnBeforeLogin),
      OnProgress(other.OnProgress),
      OnStorageError(other.OnStorageError),
      OnItemChanged(other.OnItemChanged),
      OnItemDeleted(other.OnItemDeleted),
      TransactionClass_(other.TransactionClass_),
      ViewFactory_(other.ViewFactory_),
      KeyItemClass_(other.KeyItemClass_),
      ItemClass_(other.ItemClass_),
      Storage_(other.Storage_),
      LoggedIn_(other.LoggedIn_),
      ProgressLow_(other.ProgressLow_),
      ProgressHigh_(other.ProgressHigh_) {
  Init();
}

void TStorageDataList::Init() {
  RegisterStorageClasses();
  if (!ViewFactory_)
    ViewFactory_ = [](TStorageDataList& list, const std::string& name) {
      return std::make_unique<TStorageDataListView>(list, name);
    };
  StoredFilters_ = std::make_unique<TStorageDataFilterManagerList>();
  StoredGroups_ = std::make_unique<TStorageDataGroupManagerList>();
  std::unique_ptr<TPersistent> transaction =
      TransactionClass_->Create ? TransactionClass_->Create() : nullptr;
  if (!dynamic_cast<TStorageTransactionList*>(transaction.get()))
    transaction = std::make_unique<TStorageTransactionList>();
  Transaction_.reset(static_cast<TStorageTransactionList*>(transaction.release()));
}

TStorageDataList::~TStorageDataList() {
  // Views refer to items; they go first. Nobody is notified while the list dies.
  Views_.clear();
  DetachStorage();
  Transaction_->Clear();
  Items_.clear();
}

bool TStorageDataList::AttachStorage(const std::string& classId) {
  DetachStorage();
  auto it = StorageFactories().find(classId);
  if (it == StorageFactories().end()) return false;
  Storage_ = it->second();
  return Storage_ != nullptr;
}

void TStorageDataList::AttachStorage(std::shared_ptr<IStorageManager> storage) {
  DetachStorage();
  Storage_ = std::move(storage);
}

void TStorageDataList::DetachStorage() {
  // The back end may be shared and outlive this list: it must not keep reporting into our sink.
  if (Storage_ && Storage_->GetProgress() == &ProgressSink_) Storage_->SetProgress(nullptr);
  Storage_.reset();
  LoggedIn_ = false;
}

bool TStorageDataList::Login(const TClassInfo& loginInfoClass) {
  if (!Storage_) {
    LoggedIn_ = true;
    return true;
  }
  std::unique_ptr<TPersistent> object = loginInfoClass.Create ? loginInfoClass.Create() : nullptr;
  auto* info = dynamic_cast<TStorageLoginInfo*>(object.get());
  std::unique_ptr<TStorageLoginInfo> fallback;
  if (!info) {
    fallback = std::make_unique<TStorageLoginInfo>();
    info = fallback.get();
  }
  if (OnBeforeLogin) OnBeforeLogin(this, info);
  for (size_t i = 0; i < Observers_.size(); ++i) Observers_[i]->BeforeLogin(this, info);
  TBytes stream;
  info->SaveToStream(stream);
  LoggedIn_ = Storage_->Login(stream);
  return LoggedIn_;
}

void TStorageDataList::Logout() {
  if (Storage_) Storage_->Logout();
  LoggedIn_ = false;
}

TBytes TStorageDataList::SerializeTransaction() const {
  TBytes bytes;
  WriteObjectStream(bytes, *Transaction_);
  return bytes;
}

void TStorageDataList::StorageError(bool writing) {
  if (OnStorageError) OnStorageError(this, writing);
  for (size_t i = 0; i < Observers_.size(); ++i) Observers_[i]->StorageError(this, writing);
}

bool TStorageDataList::Load() {
  State_ = lsLoading;
  Transaction_->Clear();
  LastReadError_.clear();
  if (!Storage_) {
    ClearItems();
    State_ = lsIdle;
    return true;
  }
  Transaction_->FilterManagersData.Clear();
  Transaction_->GroupManagersData.Clear();
  TBytes selection = SerializeTransaction();
  Storage_->SetProgress(&ProgressSink_);
  TBytes result;
  bool ok = Storage_->LoadItems(selection, result);
  if (ok) {
    try {
      ReadObjectStream(result, *Transaction_);
    } catch (const EReadError& e) {
      // What the back end returned cannot be trusted: keep the list as it was.
      LastReadError_ = e.what();
      ok = false;
    }
  }
  if (!ok) {
    Transaction_->Clear();
    State_ = lsIdle;
    StorageError(false);
    return false;
  }
  std::vector<std::unique_ptr<TPersistent>> entries = Transaction_->ExtractAll();
  BeginUpdate();
  ClearItems();
  for (auto& entry : entries) {
    if (!dynamic_cast<TStorageDataItem*>(entry.get())) continue;
    auto* item = static_cast<TStorageDataItem*>(entry.release());
    item->Owner_ = this;
    Items_.emplace_back(item);
    item->Loaded();
  }
  ReadStoredManagers();
  EndUpdate(true);
  State_ = lsIdle;
  Transaction_->Clear();
  return true;
}

void TStorageDataList::ReadStoredManagers() {
  StoredFilters_->Clear();
  StoredGroups_->Clear();
  // A damaged manager blob costs the stored filters or groups, not the loaded items.
  try {
    if (!Transaction_->FilterManagersData.Empty())
      ReadObjectStream(Transaction_->FilterManagersData.Data, *StoredFilters_);
  } catch (const EReadError& e) {
    StoredFilters_->Clear();
    LastReadError_ = e.what();
  }
  try {
    if (!Transaction_->GroupManagersData.Empty())
      ReadObjectStream(Transaction_->GroupManagersData.Data, *StoredGroups_);
  } catch (const EReadError& e) {
    StoredGroups_->Clear();
    LastReadError_ = e.what();
  }
  for (size_t v = 0; v < Views_.size(); ++v) Views_[v]->TakeStoredManagers();
}

void TStorageDataList::ClearItems() {
  BeginUpdate();
  StoredGroups_->Clear();
  for (size_t v = 0; v < Views_.size(); ++v) Views_[v]->DropGroups();
  StoredFilters_->Clear();
  for (size_t v = 0; v < Views_.size(); ++v) Views_[v]->ClearFilters();
  for (size_t v = 0; v < Views_.size(); ++v) Views_[v]->ClearVisible();
  // The views hold none of the items any more, so their destruction needs no per-item notification.
  Entered_.clear();
  Transaction_->Clear();
  Items_.clear();
  EndUpdate(true);
}

bool TStorageDataList::DeleteAll() {
  State_ = lsDeletingAll;
  Transaction_->Clear();
  TBytes stream;
  if (Storage_) stream = SerializeTransaction();
  BeginUpdate();
  bool ok = true;
  if (Storage_) {
    Storage_->SetProgress(&ProgressSink_);
    ok = Storage_->DeleteAllItems(stream);
  }
  if (ok) ClearItems();
  EndUpdate(true);
  State_ = lsIdle;
  return ok;
}

bool TStorageDataList::Empty() {
  State_ = lsEmptying;
  bool ok = !Storage_ || Storage_->EmptyStorage();
  if (ok) ClearItems();
  State_ = lsIdle;
  return ok;
}

void TStorageDataList::Compact() {
  if (!Storage_) return;
  State_ = lsCompacting;
  Storage_->SetProgress(&ProgressSink_);
  Storage_->Compact();
  State_ = lsIdle;
}

int TStorageDataList::IndexOf(const TStorageDataItem* item) const {
  for (size_t i = 0; i < Items_.size(); ++i)
    if (Items_[i].get() == item) return static_cast<int>(i);
  return -1;
}

TStorageDataItem* TStorageDataList::NewItem() {
  if (!InTransaction()) return nullptr;
  std::unique_ptr<TPersistent> object = ItemClass_->Create ? ItemClass_->Create() : nullptr;
  if (!dynamic_cast<TStorageDataItem*>(object.get())) return nullptr;
  auto* item = static_cast<TStorageDataItem*>(object.release());
  item->Owner_ = this;
  // The key is set without reporting a change: the item enters the transaction exactly once, here.
  item->Index_ = NextKey_++;
  if (State_ != lsRewriting) {
    Transaction_->AddRef(item);
    Entered_.insert(item);
  }
  Items_.emplace_back(item);
  return item;
}

void TStorageDataList::ItemReportsChange(TStorageDataItem* item) {
  if (State_ == lsRewriting) return;
  if (InTransaction()) {
    if (State_ == lsSettingField || State_ == lsDeleting) {
      // A second Delete of the same item must not register (and later destroy) it twice.
      if (State_ == lsDeleting && !Entered_.insert(item).second) return;
      std::unique_ptr<TPersistent> object = KeyItemClass_->Create ? KeyItemClass_->Create() : nullptr;
      if (auto* key = dynamic_cast<TStorageKeyItem*>(object.get())) {
        key->Item = item;
        Transaction_->Add(std::move(object));
        key->TakeKey();
      }
    } else if (State_ != lsAdding || Entered_.insert(item).second) {
      // A new item is written once per transaction however often it changes before the commit.
      Transaction_->AddRef(item);
    }
  }
  if (State_ != lsDeleting) NotifyItemChanged(item);
}

void TStorageDataList::NotifyItemChanged(TStorageDataItem* item) {
  // By index: an observer may create a view while it is told.
  for (size_t v = 0; v < Views_.size(); ++v) {
    if (item)
      Views_[v]->TestItem(item);
    else
      Views_[v]->Refill();
  }
  if (LockCount_ != 0) return;
  if (OnItemChanged) OnItemChanged(this, item);
  for (size_t i = 0; i < Observers_.size(); ++i) Observers_[i]->ItemChanged(this, item);
  for (size_t v = 0; v < Views_.size(); ++v) Views_[v]->PassItemChanged(item);
}

void TStorageDataList::NotifyItemDeleted(TStorageDataItem* item) {
  if (LockCount_ <= 0) {
    if (OnItemDeleted) OnItemDeleted(this, item);
    for (size_t i = 0; i < Observers_.size(); ++i) Observers_[i]->ItemDeleted(this, item);
  }
  for (size_t v = 0; v < Views_.size(); ++v) Views_[v]->RemoveItem(item);
}

void TStorageDataList::DestroyItem(TStorageDataItem* item) {
  int index = IndexOf(item);
  if (index < 0) return;
  std::unique_ptr<TStorageDataItem> owned = std::move(Items_[static_cast<size_t>(index)]);
  Items_.erase(Items_.begin() + index);
  NotifyItemDeleted(item);
  Entered_.erase(item);
}

void TStorageDataList::BeginTransaction(TStorageDataListState kind, int parameter) {
  State_ = kind;
  if (kind == lsSettingField)
    Transaction_->FieldIndex = parameter;
  else
    UpdateFieldIndex_ = parameter;
  Transaction_->Clear();
  Entered_.clear();
  if (kind == lsAdding && Storage_) {
    int32_t key = NextKey_;
    if (Storage_->GetNextKey(SerializeTransaction(), key))
      NextKey_ = key;
    else
      StorageError(false);
  }
}

void TStorageDataList::EndTransaction(bool cancel) {
  if (!InTransaction()) return;
  if (cancel)
    Rollback();
  else
    Commit();
  State_ = lsIdle;
  Transaction_->FieldIndex = 0;
  Transaction_->Clear();
  Entered_.clear();
}

void TStorageDataList::RunTransaction(TStorageDataListState kind, int parameter) {
  BeginTransaction(kind, parameter);
  EndTransaction(false);
}

std::vector<TStorageDataItem*> TStorageDataList::TransactionItems() const {
  std::vector<TStorageDataItem*> items;
  std::unordered_set<TStorageDataItem*> seen;
  for (size_t i = 0; i < Transaction_->Count(); ++i) {
    TPersistent* entry = Transaction_->Item(i);
    TStorageDataItem* item = dynamic_cast<TStorageDataItem*>(entry);
    if (!item)
      if (auto* key = dynamic_cast<TStorageKeyItem*>(entry)) item = key->Item;
    if (item && seen.insert(item).second) items.push_back(item);
  }
  return items;
}

void TStorageDataList::Rollback() {
  // Only additions are undone; every other change stays in memory, unwritten.
  if (State_ != lsAdding) return;
  std::vector<TStorageDataItem*> added = TransactionItems();
  Transaction_->Clear();
  for (auto* item : added) DestroyItem(item);
}

namespace {

template <class TManagerList, class TManager>
void WriteManagers(const TManagerList& stored,
                   const std::vector<std::pair<std::string, TManager*>>& fromViews,
                   TPersistentMemoryStream& target) {
  // Managers of views not created since the load are kept: they belong to views that will ask later.
  TManagerList merged;
  for (size_t i = 0; i < stored.Count(); ++i) {
    auto copy = CreateObject(stored.Item(i)->ClassType(), nullptr);
    AssignByStream(*stored.Item(i), *copy);
    merged.Add(std::move(copy));
  }
  for (const auto& [name, manager] : fromViews) {
    auto copy = CreateObject(manager->ClassType(), nullptr);
    AssignByStream(*manager, *copy);
    static_cast<TManager*>(copy.get())->Name = name;
    if (TManager* old = merged.Find(name)) merged.Remove(old);
    merged.Add(std::move(copy));
  }
  target.Clear();
  if (!merged.Empty()) WriteObjectStream(target.Data, merged);
}

}  // namespace

void TStorageDataList::SaveViewManagers() {
  std::vector<std::pair<std::string, TStorageDataFilterManager*>> filters;
  std::vector<std::pair<std::string, TStorageDataGroupManager*>> groups;
  for (auto& view : Views_) {
    if (view->SaveFilters) filters.emplace_back(view->Name(), &view->FilterManager());
    if (view->SaveGroups && view->Grouped() && view->GroupDefinition())
      groups.emplace_back(view->Name(), &view->GroupManager());
  }
  WriteManagers(*StoredFilters_, filters, Transaction_->FilterManagersData);
  WriteManagers(*StoredGroups_, groups, Transaction_->GroupManagersData);
}

void TStorageDataList::Commit() {
  SaveViewManagers();
  TBytes stream;
  if (Storage_) {
    Storage_->SetProgress(&ProgressSink_);
    stream = SerializeTransaction();
  }
  switch (State_) {
    case lsAdding:
      if (Storage_ && !Storage_->AddItems(stream)) StorageError(true);
      NotifyItemChanged(nullptr);
      break;
    case lsUpdating: {
      if (Storage_ && !Storage_->UpdateItems(stream, UpdateFieldIndex_)) StorageError(true);
      std::vector<TStorageDataItem*> entries;
      for (size_t i = 0; i < Transaction_->Count(); ++i)
        if (auto* item = dynamic_cast<TStorageDataItem*>(Transaction_->Item(i))) entries.push_back(item);
      for (auto* item : entries)
        if (IndexOf(item) >= 0) NotifyItemChanged(item);
      break;
    }
    case lsRewriting:
      if (!Storage_) {
        for (size_t i = 0; i < Items_.size(); ++i) Items_[i]->Index_ = static_cast<int32_t>(i);
        NotifyItemChanged(nullptr);
        break;
      }
      // Deleting the old rows and adding the new ones is one unit: a failure between them must not
      // leave the stored list empty.
      Storage_->BeginBatch();
      if (!Storage_->DeleteAllItems(stream)) {
        Storage_->EndBatch(false);
        StorageError(true);
        break;
      }
      {
        Transaction_->Clear();
        int32_t key = -1;
        if (!Storage_->GetNextKey(SerializeTransaction(), key)) key = -1;
        std::vector<int32_t> oldKeys;
        oldKeys.reserve(Items_.size());
        for (auto& item : Items_) {
          oldKeys.push_back(item->Index_);
          if (key >= 0) item->Index_ = key++;
          Transaction_->AddRef(item.get());
        }
        const bool added = Storage_->AddItems(SerializeTransaction());
        if (!Storage_->EndBatch(added)) {
          // The stored rows keep their old keys; so must the items that stand for them.
          for (size_t i = 0; i < Items_.size(); ++i) Items_[i]->Index_ = oldKeys[i];
          StorageError(true);
        }
        NotifyItemChanged(nullptr);
      }
      break;
    case lsSettingField: {
      if (Storage_ && !Storage_->SetItemsField(stream, PendingValue)) StorageError(true);
      for (auto* item : TransactionItems()) NotifyItemChanged(item);
      break;
    }
    case lsDeleting: {
      if (Storage_ && !Storage_->DeleteItems(stream)) StorageError(true);
      std::vector<TStorageDataItem*> doomed = TransactionItems();
      Transaction_->Clear();
      for (auto* item : doomed) DestroyItem(item);
      break;
    }
    default:
      break;
  }
  Transaction_->Clear();
}

void TStorageDataList::EndUpdate(bool notify) {
  if (LockCount_ > 0) --LockCount_;
  if (LockCount_ == 0 && notify) NotifyItemChanged(nullptr);
}

void TStorageDataList::AddObserver(IStorageDataListObserver* observer) {
  if (observer && std::find(Observers_.begin(), Observers_.end(), observer) == Observers_.end())
    Observers_.push_back(observer);
}

void TStorageDataList::RemoveObserver(IStorageDataListObserver* observer) {
  Observers_.erase(std::remove(Observers_.begin(), Observers_.end(), observer), Observers_.end());
}

void TStorageDataList::SetProgressRange(int low, int high) {
  ProgressLow_ = low;
  ProgressHigh_ = high;
}

void TStorageDataList::TProgressSink::Progress(int percent) {
  List_.ReportProgress(percent);
}

void TStorageDataList::ReportProgress(int percent) {
  if (LockCount_ != 0 || (!OnProgress && Observers_.empty())) return;
  // Round half to even, as the position has always been rounded.
  double exact = ProgressLow_ + (ProgressHigh_ - ProgressLow_) * static_cast<double>(percent) / 100.0;
  int position = static_cast<int>(std::nearbyint(exact));
  if (OnProgress) OnProgress(this, position);
  for (size_t i = 0; i < Observers_.size(); ++i) Observers_[i]->Progress(this, position);
}

TStorageDataListView* TStorageDataList::GetView(const std::string& name) {
  if (auto* view = FindView(name)) return view;
  Views_.push_back(ViewFactory_(*this, name));
  TStorageDataListView* view = Views_.back().get();
  view->TakeStoredManagers();
  // A view made after the load shows the items straight away.
  if (!Items_.empty()) view->Refill();
  return view;
}

TStorageDataListView* TStorageDataList::FindView(const std::string& name) const {
  for (const auto& view : Views_)
    if (view->Name() == name) return view.get();
  return nullptr;
}

}  // namespace vandrel

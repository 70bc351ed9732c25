// In-memory storage data lists of records, their transactions and the back-end interface they write through.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "storage/DynamicValue.h"
#include "storage/PersistentLists.h"

namespace vandrel {

class TStorageDataList;
class TStorageDataListView;
class TStorageDataFilterManagerList;
class TStorageDataGroupManagerList;

// ORDER: callers pass these numbers to BeginTransaction; never renumber.
enum TStorageDataListState : uint8_t {
  lsIdle = 0,
  lsLoading = 1,
  lsAdding = 2,
  lsUpdating = 3,
  lsRewriting = 4,
  lsSettingField = 5,
  lsDeleting = 6,
  lsDeletingAll = 7,
  lsEmptying = 8,
  lsCompacting = 9,
};

// Field indexes of lsUpdating transactions that store only a view manager blob.
constexpr int kStoreFilterManagers = 240;
constexpr int kStoreGroupManagers = 241;

// One record of a storage data list.
class TStorageDataItem : public TPersistentEx {
  VANDREL_PERSISTENT(TStorageDataItem)
 public:
  TStorageDataItem() = default;
  TStorageDataItem(const TStorageDataItem&) = delete;
  TStorageDataItem& operator=(const TStorageDataItem&) = delete;

  TStorageDataList* Owner() const { return Owner_; }
  int32_t Index() const { return Index_; }
  // Reports a change, so inside a transaction the new key is written.
  void SetIndex(int32_t index);

  // Reports this item to its list: entered into the open transaction and notified (see the list).
  virtual void Changed();
  // Called once for each item after a load.
  virtual void Loaded() {}
  // Inside lsDeleting registers the key; in lsRewriting removes and destroys the item at once.
  void Delete();
  // Writes this one item: begins a transaction of `kind` on the owner, reports a change and commits.
  void RunTransaction(TStorageDataListState kind, int parameter);

 private:
  friend class TStorageDataList;
  TStorageDataList* Owner_ = nullptr;
  int32_t Index_ = -1;  // record key; -1 until the list gives one (0 is the stream default)
};

// A record with a definition version and a key name.
class TVersionStorageDataItem : public TStorageDataItem {
  VANDREL_PERSISTENT(TVersionStorageDataItem)
 public:
  int32_t Version = 0;
  virtual std::string GetName() const { return {}; }
};

// A transaction entry that stands for an item by its key only.
class TStorageKeyItem : public TPersistentEx {
  VANDREL_PERSISTENT(TStorageKeyItem)
 public:
  TStorageDataItem* Item = nullptr;  // the item the key was taken from; not owned
  virtual void TakeKey() = 0;
};

class TDefaultKeyItem : public TStorageKeyItem {
  VANDREL_PERSISTENT(TDefaultKeyItem)
 public:
  int32_t Index = 0;
  void TakeKey() override { Index = Item ? Item->Index() : 0; }
};

// ORDER: stored in field definitions.
enum class TStorageFieldType : uint8_t { ftBoolean, ftDouble, ftInteger, ftString, ftMoney };

class TStorageFieldDefinitionItem : public TCollectionItem {
  VANDREL_PERSISTENT(TStorageFieldDefinitionItem)
 public:
  std::string Name;
  std::string DisplayName;
  TStorageFieldType FieldType = TStorageFieldType::ftBoolean;
};

class TStorageFieldDefinitionList : public TCollection {
  VANDREL_PERSISTENT(TStorageFieldDefinitionList)
 public:
  TStorageFieldDefinitionList() : TCollection(TStorageFieldDefinitionItem::StaticClass()) {}
  explicit TStorageFieldDefinitionList(const TClassInfo& itemClass) : TCollection(itemClass) {}
  TStorageFieldDefinitionItem* Definition(size_t i) const {
    return static_cast<TStorageFieldDefinitionItem*>(Item(i));
  }
  // First definition of that name, letter case ignored; -1 when absent.
  int IndexOfName(std::string_view name) const;
  TStorageFieldDefinitionItem* Find(std::string_view name) const;
};

class TStorageFieldItem : public TCollectionItem {
  VANDREL_PERSISTENT(TStorageFieldItem)
 public:
  std::string Name;
  const TDynamicValue& Value() const { return Value_; }
  // Copies the value, then notifies the owning collection once (a nested notification is not repeated).
  virtual void SetValue(const TDynamicValue& value);

 protected:
  TDynamicValue Value_;

 private:
  bool Notifying_ = false;
};

class TStorageFieldList : public TCollection {
  VANDREL_PERSISTENT(TStorageFieldList)
 public:
  TStorageFieldList() : TCollection(TStorageFieldItem::StaticClass()) {}
  explicit TStorageFieldList(const TClassInfo& itemClass) : TCollection(itemClass) {}
  TStorageFieldItem* Field(size_t i) const { return static_cast<TStorageFieldItem*>(Item(i)); }
  // Letter case ignored; null when absent.
  TStorageFieldItem* Find(std::string_view name) const;
  // Always appends, even when a field of that name exists.
  TStorageFieldItem* AddField(const std::string& name, const TDynamicValue& value);
};

// ORDER: stored in sort keys.
enum class TSortKeySortDirection : uint8_t { ksdAscending, ksdDescending };

// The script language has a sort key list of its own under the same name; the stored one lives apart.
namespace storage {

class TSortKeyItem : public TCollectionItem {
  VANDREL_PERSISTENT(TSortKeyItem)
 public:
  std::string Field;
  TSortKeySortDirection SortDirection = TSortKeySortDirection::ksdAscending;
};

class TSortKeyList : public TCollection {
  VANDREL_PERSISTENT(TSortKeyList)
 public:
  TSortKeyList() : TCollection(TSortKeyItem::StaticClass()) {}
  TSortKeyItem* Key(size_t i) const { return static_cast<TSortKeyItem*>(Item(i)); }
  TSortKeyItem* AddKey(const std::string& field, TSortKeySortDirection direction);
};

}  // namespace storage

// The entries of one transaction: items themselves or key items made for it (then owned).
class TStorageTransactionList : public TPersistentList {
  VANDREL_PERSISTENT(TStorageTransactionList)
 public:
  int32_t FieldIndex = 0;
  TPersistentMemoryStream FilterManagersData;
  TPersistentMemoryStream GroupManagersData;
};

// Login information handed to a back end as a bare property list.
class TStorageLoginInfo : public TStreamingPersistent {
  VANDREL_PERSISTENT(TStorageLoginInfo)
};

class IStorageProgress {
 public:
  virtual ~IStorageProgress() = default;
  virtual void Progress(int percent) = 0;  // 0..100
};

// A storage back end. Streams hold a whole object stream of the list's own transaction class. Results are
// true on success; a back end catches its own failures and returns false. Runs on the calling thread.
class IStorageManager {
 public:
  virtual ~IStorageManager() = default;
  virtual bool Login(const TBytes& loginInfo) = 0;
  virtual void Logout() = 0;
  virtual bool AddItems(const TBytes& items) = 0;
  // fieldIndex 240: store only FilterManagersData; 241: only GroupManagersData.
  virtual bool UpdateItems(const TBytes& items, int fieldIndex) = 0;
  virtual bool LoadItems(const TBytes& selection, TBytes& result) = 0;
  virtual bool DeleteItems(const TBytes& keys) = 0;
  virtual bool DeleteAllItems(const TBytes& selection) = 0;
  virtual bool SetItemsField(const TBytes& keys, const TDynamicValue& value) = 0;
  virtual bool GetNextKey(const TBytes& selection, int32_t& key) = 0;
  virtual bool EmptyStorage() = 0;
  virtual bool Compact() = 0;
  virtual IStorageProgress* GetProgress() = 0;
  virtual void SetProgress(IStorageProgress* progress) = 0;
  // Groups the calls up to EndBatch so that they reach storage together or not at all. A back end
  // without such grouping keeps each call on its own.
  virtual void BeginBatch() {}
  // `keep` false, or a failed call inside the group, discards the whole group. True when it was kept.
  virtual bool EndBatch(bool keep) { return keep; }
};

// Lists and views send their notifications as this.
class TStorageNotifier {
 public:
  virtual ~TStorageNotifier() = default;
};

// `item` is null when the whole list (or view) changed.
class IStorageDataListItemObserver {
 public:
  virtual ~IStorageDataListItemObserver() = default;
  virtual void ItemChanged(TStorageNotifier* sender, TStorageDataItem* item) {}
  virtual void ItemDeleted(TStorageNotifier* sender, TStorageDataItem* item) {}
};

class IStorageDataListObserver : public IStorageDataListItemObserver {
 public:
  // Fills in the login information (e.g. folders) before it goes to the back end.
  virtual void BeforeLogin(TStorageDataList* list, TStorageLoginInfo* loginInfo) {}
  virtual void Progress(TStorageDataList* list, int position) {}
  virtual void StorageError(TStorageDataList* list, bool writing) {}
};

using TStorageManagerFactory = std::function<std::shared_ptr<IStorageManager>()>;
// Back ends that AttachStorage can create by class identifier.
void RegisterStorageManagerClass(const std::string& classId, TStorageManagerFactory factory);

using TViewFactory =
    std::function<std::unique_ptr<TStorageDataListView>(TStorageDataList&, const std::string&)>;

// Makes the generic storage, manager and group classes known to the stream readers. Idempotent.
void RegisterStorageClasses();

// An ordered list of records with views, loaded from and written to a back end inside transactions.
// Main thread only; the lock count suppresses notifications and is no thread lock.
class TStorageDataList : public TStorageNotifier {
 public:
  TStorageDataList(const TClassInfo& transactionClass, TViewFactory viewFactory,
                   const TClassInfo& keyItemClass, const TClassInfo& itemClass);
  // Takes the other list's classes, back end, logged-in flag, handlers and progress range; starts empty.
  explicit TStorageDataList(const TStorageDataList& other);
  TStorageDataList& operator=(const TStorageDataList&) = delete;
  ~TStorageDataList() override;

  // Events, called before the observers.
  std::function<void(TStorageDataList*, TStorageLoginInfo*)> OnBeforeLogin;
  std::function<void(TStorageDataList*, int)> OnProgress;
  std::function<void(TStorageDataList*, bool)> OnStorageError;
  std::function<void(TStorageDataList*, TStorageDataItem*)> OnItemChanged;
  std::function<void(TStorageDataList*, TStorageDataItem*)> OnItemDeleted;

  TDynamicValue PendingValue;  // what an lsSettingField transaction writes

  // Back end.
  bool AttachStorage(const std::string& classId);
  void AttachStorage(std::shared_ptr<IStorageManager> storage);
  void DetachStorage();
  IStorageManager* Storage() const { return Storage_.get(); }
  bool Login(const TClassInfo& loginInfoClass);
  void Logout();
  bool LoggedIn() const { return LoggedIn_; }
  bool Load();
  bool DeleteAll();
  bool Empty();
  void Compact();
  // The reader's message when the last load could not read what the back end returned.
  const std::string& LastReadError() const { return LastReadError_; }

  // Items.
  size_t Count() const { return Items_.size(); }
  TStorageDataItem* Item(size_t index) const { return Items_[index].get(); }
  int IndexOf(const TStorageDataItem* item) const;
  // Only inside an open transaction; null otherwise.
  TStorageDataItem* NewItem();
  // Memory only: drops items, views' groups and filters, stored managers.
  void ClearItems();
  int32_t NextKey() const { return NextKey_; }

  // Transactions.
  TStorageDataListState State() const { return State_; }
  bool InTransaction() const { return State_ != lsIdle; }
  void BeginTransaction(TStorageDataListState kind, int parameter = 0);
  void EndTransaction(bool cancel = false);
  void RunTransaction(TStorageDataListState kind, int parameter = 0);
  TStorageTransactionList& Transaction() { return *Transaction_; }
  size_t TransactionCount() const { return Transaction_->Count(); }
  int UpdateFieldIndex() const { return UpdateFieldIndex_; }

  // Notifications.
  void BeginUpdate() { ++LockCount_; }
  void EndUpdate(bool notify = true);
  bool Locked() const { return LockCount_ > 0; }
  void AddObserver(IStorageDataListObserver* observer);
  void RemoveObserver(IStorageDataListObserver* observer);
  // Re-tests the item in every view (the whole list when null) and tells the observers.
  void NotifyItemChanged(TStorageDataItem* item);
  void SetProgressRange(int low, int high);

  // Views.
  TStorageDataListView* GetView(const std::string& name);
  TStorageDataListView* FindView(const std::string& name) const;
  size_t ViewCount() const { return Views_.size(); }
  TStorageDataListView* View(size_t index) const { return Views_[index].get(); }
  TStorageDataFilterManagerList& StoredFilterManagers() { return *StoredFilters_; }
  TStorageDataGroupManagerList& StoredGroupManagers() { return *StoredGroups_; }

  const TClassInfo& ItemClass() const { return *ItemClass_; }

 protected:
  // Removes the item from Items, tells observers and views, then destroys it.
  void DestroyItem(TStorageDataItem* item);

 private:
  friend class TStorageDataItem;
  class TProgressSink : public IStorageProgress {
   public:
    explicit TProgressSink(TStorageDataList& list) : List_(list) {}
    void Progress(int percent) override;

   private:
    TStorageDataList& List_;
  };

  void Init();
  void ItemReportsChange(TStorageDataItem* item);
  void NotifyItemDeleted(TStorageDataItem* item);
  void StorageError(bool writing);
  void ReportProgress(int percent);
  TBytes SerializeTransaction() const;
  void SaveViewManagers();
  void Commit();
  void Rollback();
  void ReadStoredManagers();
  // Items of the transaction entries (key items stand for theirs), each once, in entry order.
  std::vector<TStorageDataItem*> TransactionItems() const;

  const TClassInfo* TransactionClass_;
  TViewFactory ViewFactory_;
  const TClassInfo* KeyItemClass_;
  const TClassInfo* ItemClass_;

  std::vector<std::unique_ptr<TStorageDataItem>> Items_;
  std::vector<std::unique_ptr<TStorageDataListView>> Views_;
  std::unique_ptr<TStorageDataFilterManagerList> StoredFilters_;  // read from the back end, not yet taken
  std::unique_ptr<TStorageDataGroupManagerList> StoredGroups_;
  std::vector<IStorageDataListObserver*> Observers_;  // not owned, registration order
  std::shared_ptr<IStorageManager> Storage_;          // shared with lists copied from this one
  std::unique_ptr<TStorageTransactionList> Transaction_;
  std::unordered_set<const TStorageDataItem*> Entered_;  // items already entered (adding) or keyed (deleting)
  TProgressSink ProgressSink_{*this};
  bool LoggedIn_ = false;
  TStorageDataListState State_ = lsIdle;
  int UpdateFieldIndex_ = 0;  // field index of an lsUpdating transaction
  int32_t NextKey_ = 0;       // key given to the next new item
  int LockCount_ = 0;
  int ProgressLow_ = 0;
  int ProgressHigh_ = 100;
  std::string LastReadError_;
};

// A list of named, versioned definitions.
class TVersionStorageDataList : public TStorageDataList {
 public:
  using TStorageDataList::TStorageDataList;
  virtual TVersionStorageDataItem* FindByName(const std::string& name) const { return nullptr; }
  TVersionStorageDataItem* VersionItem(size_t index) const {
    return static_cast<TVersionStorageDataItem*>(Item(index));
  }
};

}  // namespace vandrel

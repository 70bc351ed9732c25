// Test records, a recording back end and a recording observer for the storage list and view tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "storage/StorageDataLists.h"
#include "storage/StorageDataViews.h"

namespace vandrel::storagetest {

class TTestItem : public TStorageDataItem {
  VANDREL_PERSISTENT(TTestItem)
 public:
  std::string Title() const { return Title_; }
  void SetTitle(std::string title) {
    Title_ = std::move(title);
    Changed();
  }
  int32_t Price() const { return Price_; }
  void SetPrice(int32_t price) {
    Price_ = price;
    Changed();
  }

 private:
  std::string Title_;
  int32_t Price_ = 0;
};

class TTestLoginInfo : public TStorageLoginInfo {
  VANDREL_PERSISTENT(TTestLoginInfo)
 public:
  std::string Folder;
};

// One back-end call with what its stream held.
struct TBackendCall {
  std::string Op;
  int FieldIndex = 0;               // the UpdateItems argument or the stream's FieldIndex
  std::vector<int32_t> Keys;        // Index of each entry (items and default key items)
  std::vector<std::string> Titles;  // Title of each item entry
  TBytes FilterBlob, GroupBlob;
  TDynamicValue Value;
};

// Records every call and decodes every stream it is given.
class TRecordingBackend : public IStorageManager {
 public:
  std::vector<TBackendCall> Calls;
  std::map<std::string, bool> Fails;  // op name -> fail
  int32_t NextKey = 100;
  TBytes LoadResult;
  TBytes StoredFilterBlob, StoredGroupBlob;  // what AddItems / UpdateItems(240/241) stored
  IStorageProgress* ProgressSink = nullptr;

  std::vector<std::string> Ops() const;
  bool Login(const TBytes& loginInfo) override;
  void Logout() override { Record("Logout", {}); }
  bool AddItems(const TBytes& items) override;
  bool UpdateItems(const TBytes& items, int fieldIndex) override;
  bool LoadItems(const TBytes& selection, TBytes& result) override;
  bool DeleteItems(const TBytes& keys) override { return Record("DeleteItems", keys); }
  bool DeleteAllItems(const TBytes& selection) override { return Record("DeleteAllItems", selection); }
  bool SetItemsField(const TBytes& keys, const TDynamicValue& value) override;
  bool GetNextKey(const TBytes& selection, int32_t& key) override;
  bool EmptyStorage() override { return Record("EmptyStorage", {}); }
  bool Compact() override { return Record("Compact", {}); }
  IStorageProgress* GetProgress() override { return ProgressSink; }
  void SetProgress(IStorageProgress* progress) override { ProgressSink = progress; }

  std::string LoginFolder;

 private:
  bool Record(const std::string& op, const TBytes& stream, int fieldIndex = -1);
};

struct TLoadedItem {
  int32_t Key;
  std::string Title;
  int32_t Price = 0;
};

// Writes the stream a back end returns from LoadItems.
TBytes MakeLoadResult(const std::vector<TLoadedItem>& items, const TBytes& filterBlob = {},
                      const TBytes& groupBlob = {});

// Logs every notification as text, e.g. "L:changed 3", "V:deleted 1", "V:groupRemoved a".
class TRecordingObserver : public IStorageDataListObserver, public IStorageDataListViewObserver {
 public:
  std::vector<std::string> Log;
  std::string Folder = "/data";  // filled into the login information

  void ItemChanged(TStorageNotifier* sender, TStorageDataItem* item) override;
  void ItemDeleted(TStorageNotifier* sender, TStorageDataItem* item) override;
  void BeforeLogin(TStorageDataList*, TStorageLoginInfo* info) override;
  void Progress(TStorageDataList*, int position) override {
    Log.push_back("L:progress " + std::to_string(position));
  }
  void StorageError(TStorageDataList*, bool writing) override {
    Log.push_back(std::string("L:error ") + (writing ? "write" : "read"));
  }
  void FiltersLoaded(TStorageDataListView*) override { Log.push_back("V:filtersLoaded"); }
  void Refiltered(TStorageDataListView*) override { Log.push_back("V:refiltered"); }
  void ItemFilteredOut(TStorageDataListView*, TStorageDataItem* item) override;
  void Refilled(TStorageDataListView*) override { Log.push_back("V:refilled"); }
  void GroupsLoaded(TStorageDataListView*) override { Log.push_back("V:groupsLoaded"); }
  void GroupExpansionChanged(TStorageDataListView*) override { Log.push_back("V:expansion"); }
  void GroupRemoved(TStorageDataListView*, TStorageDataGroupItem* group) override;
  void GroupsRebuilt(TStorageDataListView*) override { Log.push_back("V:groupsRebuilt"); }
  void Sorted(TStorageDataListView*, TStorageDataItem* item) override;

  // The log entries that start with `prefix`, then the log is cleared.
  std::vector<std::string> Take(const std::string& prefix = "");
};

std::string Describe(const TStorageDataItem* item);

// A list of TTestItem with plain views and default key items.
std::unique_ptr<TStorageDataList> MakeTestList();

void RegisterTestStorageClasses();

}  // namespace vandrel::storagetest

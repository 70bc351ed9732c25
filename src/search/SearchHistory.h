// The search history: folders of stored searches, the opened searches and their stored results, and the
// two histories the windows work with (prices and reviews).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "actions/QuorinApplications.h"
#include "search/SearchCatalogue.h"
#include "search/SearchFolders.h"
#include "storage/ResultStorage.h"
#include "storage/SearchStorage.h"
#include "storage/StorageDataViews.h"

namespace vandrel {

class TSearchHistory;
class TSearchTypeStorageItem;
class TCategoryStorageItem;

// The view every stored list opens with, and whose count is a search's match count.
inline constexpr char kDefaultViewName[] = "Default";

// Shows a result unless the user deleted it or a later run found it outdated.
class TResultStorageDefaultFilterItem : public TStorageDataFilterItem {
  VANDREL_PERSISTENT(TResultStorageDefaultFilterItem)
 public:
  bool Accepts(const TStorageDataItem& item) const override;
};

// The results of one opened stored search.
class ISearchHistoryResultItemIntf {
 public:
  virtual ~ISearchHistoryResultItemIntf() = default;
  virtual TResultStorageList& GetResults() = 0;
  // Null when the catalogue does not know the search's type.
  virtual TSearchTypeStorageItem* GetSearchType() = 0;
  virtual TSearchStorageItem* GetSearch() = 0;
  // Marks the user's deletions: BeginBatch, MarkDeleted for each, Commit writes them at once.
  virtual void BeginBatch() = 0;
  virtual void MarkDeleted(TResultStorageItem* result) = 0;
  virtual void Commit() = 0;
};

// Writes a search form's values (fields, engines, results per engine) into a stored search.
using TSearchFiller = std::function<void(TSearchStorageItem& search)>;

// One opened history folder: its stored searches and their opened results.
class ISearchHistoryItemIntf {
 public:
  virtual ~ISearchHistoryItemIntf() = default;
  virtual TFolderItem* GetFolder() = 0;
  virtual TSearchStorageList& GetSearches() = 0;
  // Opens the search's results, or returns those already open.
  virtual std::shared_ptr<ISearchHistoryResultItemIntf> GetResultItem(TSearchStorageItem* search) = 0;
  virtual std::shared_ptr<ISearchHistoryResultItemIntf> GetResultItemByIndex(size_t index) = 0;
  virtual size_t ResultItemCount() const = 0;
  // Null when the category's search type is unknown, or when the search could not be stored (the back
  // end's last error says why).
  virtual TSearchStorageItem* NewSearch(const TCategoryStorageItem& category,
                                        const TSearchFiller& filler) = 0;
  virtual bool UpdateSearch(TSearchStorageItem* search, const TSearchFiller& filler) = 0;
  virtual void BeginDelete() = 0;
  virtual void DeleteSearch(TSearchStorageItem* search) = 0;
  virtual void EndDelete() = 0;
  virtual void Pack() = 0;
};

// Where the history's lists keep their records. Either may be empty: lists then live in memory only.
struct THistoryStorage {
  std::function<std::shared_ptr<IStorageManager>(const TFolderItem& folder)> Searches;
  std::function<std::shared_ptr<IStorageManager>(const TFolderItem& folder)> Results;
  // What the lists log in with; null: a plain TStorageLoginInfo.
  const TClassInfo* LoginInfoClass = nullptr;
  // Fills the login information of a list kept in the folder `folderPath` (ends with "/").
  std::function<void(const std::string& folderPath, TStorageLoginInfo& info)> BeforeLogin = nullptr;
  // The back ends only read: opening a search's results does not write its access date.
  bool ReadOnly = false;
};

// The user's history: the folder tree and the opened history items. Owned by the action runner. Main
// thread only.
class TSearchHistory {
 public:
  explicit TSearchHistory(ISearchCatalogue* catalogue = nullptr);
  ~TSearchHistory();
  TSearchHistory(const TSearchHistory&) = delete;
  TSearchHistory& operator=(const TSearchHistory&) = delete;

  // The history's folder on disk; rebuilds the tree from it.
  void SetFolder(const std::string& folder);
  TFolderItem* Root() const { return Root_.get(); }
  void Rescan();

  void SetCatalogue(ISearchCatalogue* catalogue) { Catalogue_ = catalogue; }
  ISearchCatalogue* Catalogue() const { return Catalogue_; }
  void SetStorage(THistoryStorage storage) { Storage_ = std::move(storage); }
  const THistoryStorage& Storage() const { return Storage_; }

  // The item of that folder, opened on first use; null when the folder does not exist.
  std::shared_ptr<ISearchHistoryItemIntf> OpenItem(TFolderItem* folder);
  std::shared_ptr<ISearchHistoryItemIntf> OpenItem(const std::string& path);
  size_t ItemCount() const { return Items_.size(); }

  // Told when a history item opens a list (its searches or a search's results).
  std::function<void(const void* owner, TStorageDataList* list)> OnListOpened;

  // What the runner uses to open an operation's stored search.
  static std::optional<TStoredSearchBinding> Bind(TSearchHistory* history, const std::string& folder,
                                                  int srhNum);

 private:
  friend class TSearchHistoryItem;
  std::unique_ptr<TFolderItem> Root_;
  ISearchCatalogue* Catalogue_;
  THistoryStorage Storage_;
  std::vector<std::shared_ptr<ISearchHistoryItemIntf>> Items_;
};

class TAppSearchHistory;

// The windows that follow one application history.
class IAppSearchHistoryObserver {
 public:
  virtual ~IAppSearchHistoryObserver() = default;
  virtual void SearchChanging(TAppSearchHistory& history) {}
  virtual void SearchChanged(TAppSearchHistory& history, TSearchStorageItem* search) {}
  virtual void SearchAdded(TAppSearchHistory& history, TSearchStorageItem* search) {}
  virtual void ResultsReloading(TAppSearchHistory& history) {}
  virtual void ResultsReloaded(TAppSearchHistory& history) {}
};

// The price or review history: one folder of the user's history, its current search and that search's
// results. Owned by the kernel. Main thread only.
class TAppSearchHistory {
 public:
  // `folderName` ("Compare", "Reviews") is made under the history's root when missing. `runner` tells
  // which results a running search writes.
  TAppSearchHistory(TSearchHistory& history, const std::string& folderName, const TQuorinApplication* runner);
  ~TAppSearchHistory();

  void AddObserver(IAppSearchHistoryObserver* observer);
  void RemoveObserver(IAppSearchHistoryObserver* observer);

  // Opens the folder's history item and purges the searches older than `daysToKeepSearches` at `now`.
  bool Open(int32_t daysToKeepSearches, TDateTime now);
  void SetCurrentSearch(TSearchStorageItem* search);
  void NotifySearchAdded(TSearchStorageItem* search);
  // Reloads the current results, unless a running search writes them.
  void ReloadResults();

  // The folder relative to the history root, as operations name it ("Compare/").
  std::string Folder() const;
  ISearchHistoryItemIntf* Item() const { return Item_.get(); }
  TSearchStorageItem* CurrentSearch() const { return Current_; }
  ISearchHistoryResultItemIntf* CurrentResults() const { return CurrentResults_.get(); }

 private:
  template <class F>
  void Tell(F&& call);

  TSearchHistory& History_;
  std::string FolderName_;
  const TQuorinApplication* Runner_;
  std::shared_ptr<ISearchHistoryItemIntf> Item_;
  TSearchStorageItem* Current_ = nullptr;
  std::shared_ptr<ISearchHistoryResultItemIntf> CurrentResults_;
  std::vector<IAppSearchHistoryObserver*> Observers_;  // not owned
};

// What the user is told, once, about stored tables that could not be read and were set aside (a new,
// empty table took each one's place): one line each, saying which file and what was kept. Empty when
// nothing was set aside since the last call.
std::vector<std::string> TakeStorageDamageNotices();

// Said when the results of an opened search cannot all be read: how many could not, and which file is
// damaged; empty when every result the search counts was read whole.
std::string ResultsDamageText(ISearchHistoryResultItemIntf& item);

}  // namespace vandrel

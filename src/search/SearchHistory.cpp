#include "search/SearchHistory.h"

#include <algorithm>

#include "engines/SearchTypeCompiler.h"
#include "engines/SearchTypeInstance.h"
#include "platform/DateTime.h"
#include "platform/Format.h"
#include "platform/TextUtils.h"
#include "search/SearchConverters.h"
#include "storage/CategoryStorage.h"
#include "storage/CodebaseHistoryStorages.h"
#include "storage/PropertyStream.h"
#include "storage/QuorinDb.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {

const TClassInfo& TResultStorageDefaultFilterItem::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo built = TClassBuilder<TResultStorageDefaultFilterItem>("TResultStorageDefaultFilterItem",
                                                                      TStorageDataFilterItem::StaticClass())
                           .Build();
    return built;
  }();
  return info;
}

bool TResultStorageDefaultFilterItem::Accepts(const TStorageDataItem& item) const {
  const auto* result = dynamic_cast<const TResultStorageItem*>(&item);
  return !result || (result->FilterState & (rfsDeleted | rfsOutdated)) == 0;
}

namespace {

void RegisterHistoryClasses() {
  static const bool done = [] {
    RegisterClass(TResultStorageDefaultFilterItem::StaticClass());
    return true;
  }();
  (void)done;
}

// Stores a view with the default filter unless the stored filters already brought one.
void EnsureDefaultFilter(TStorageDataListView& view) {
  if (!view.FindNextFilter(TResultStorageDefaultFilterItem::StaticClass(), nullptr))
    view.AddFilter(std::make_unique<TResultStorageDefaultFilterItem>());
}

// Attaches the history's back end for `folder` to `list` and logs it in.
void LoginHistoryList(const TSearchHistory& history, const TFolderItem& folder, TStorageDataList& list,
                      const std::function<std::shared_ptr<IStorageManager>(const TFolderItem&)>& make) {
  const THistoryStorage& storage = history.Storage();
  if (make) {
    if (auto manager = make(folder)) list.AttachStorage(std::move(manager));
  }
  if (storage.BeforeLogin)
    list.OnBeforeLogin = [hook = storage.BeforeLogin, path = folder.Path()](
                             TStorageDataList*, TStorageLoginInfo* info) { hook(path, *info); };
  list.Login(storage.LoginInfoClass ? *storage.LoginInfoClass : TStorageLoginInfo::StaticClass());
}

class TSearchHistoryResultItem : public ISearchHistoryResultItemIntf, public IStorageDataListObserver {
 public:
  // `folder` is the history folder of the search: its results are kept beside its searches.
  TSearchHistoryResultItem(TSearchHistory& history, const TFolderItem& folder, const void* owner,
                           TSearchStorageItem* search)
      : Search_(search) {
    ISearchCatalogue* catalogue = history.Catalogue();
    SearchType_ = catalogue ? catalogue->FindSearchType(search->SrtName) : nullptr;
    if (SearchType_) Results_.OutputFieldDefinitions().Assign(SearchType_->OutputFieldDefinitions);
    Results_.SetSrhNum(search->Index());
    LoginHistoryList(history, folder, Results_, history.Storage().Results);
    Results_.Load();
    EnsureDefaultFilter(*Results_.GetView(kDefaultViewName));
    Results_.AddObserver(this);
    if (history.OnListOpened) history.OnListOpened(owner, &Results_);
  }
  ~TSearchHistoryResultItem() override { Results_.RemoveObserver(this); }

  // A reload takes every view's filters away; the default one must come back or hidden results show.
  void ItemChanged(TStorageNotifier*, TStorageDataItem* item) override {
    if (item) return;
    if (TStorageDataListView* view = Results_.FindView(kDefaultViewName)) EnsureDefaultFilter(*view);
  }

  TResultStorageList& GetResults() override { return Results_; }
  TSearchTypeStorageItem* GetSearchType() override { return SearchType_; }
  TSearchStorageItem* GetSearch() override { return Search_; }

  void BeginBatch() override {
    if (Results_.InTransaction()) return;
    Results_.PendingValue = TDynamicValue(true);
    Results_.BeginTransaction(lsSettingField, kResultSetDeleted);
    Batch_ = true;
  }
  void MarkDeleted(TResultStorageItem* result) override {
    if (!result || result->Owner() != &Results_) return;
    if (Batch_) {
      result->Changed();
    } else if (Results_.InTransaction()) {
      // A running search holds the list in a rewrite: a transaction of our own would end it and drop
      // the rest of the run. The mark joins the open one, whose commit writes the whole list.
      result->FilterState |= rfsDeleted;
      if (Results_.State() == lsRewriting)
        Results_.NotifyItemChanged(result);
      else
        result->Changed();
    } else {
      Results_.PendingValue = TDynamicValue(true);
      result->RunTransaction(lsSettingField, kResultSetDeleted);
    }
  }
  void Commit() override {
    if (!Batch_) return;
    Batch_ = false;
    Results_.EndTransaction();
  }

  void Forget() { Search_ = nullptr; }

 private:
  TSearchStorageItem* Search_;  // owned by the history item's list
  TSearchTypeStorageItem* SearchType_ = nullptr;
  TResultStorageList Results_;
  bool Batch_ = false;
};

}  // namespace

class TSearchHistoryItem : public ISearchHistoryItemIntf, public IStorageDataListObserver {
 public:
  TSearchHistoryItem(TSearchHistory& history, TFolderItem& folder) : History_(history), Folder_(folder) {
    LoginHistoryList(history, folder, Searches_, history.Storage().Searches);
    Searches_.Load();
    Searches_.GetView(kDefaultViewName);
    Searches_.AddObserver(this);
    if (history.OnListOpened) history.OnListOpened(this, &Searches_);
  }
  ~TSearchHistoryItem() override { Searches_.RemoveObserver(this); }

  TFolderItem* GetFolder() override { return &Folder_; }
  TSearchStorageList& GetSearches() override { return Searches_; }

  std::shared_ptr<ISearchHistoryResultItemIntf> GetResultItem(TSearchStorageItem* search) override {
    if (!search || search->Owner() != &Searches_) return nullptr;
    std::shared_ptr<ISearchHistoryResultItemIntf> item;
    for (const auto& opened : Results_)
      if (opened->GetSearch() == search) item = opened;
    if (!item) {
      item = std::make_shared<TSearchHistoryResultItem>(History_, Folder_, this, search);
      Results_.push_back(item);
    }
    if (!History_.Storage().ReadOnly) {
      search->AccessDate = Now();
      if (!Searches_.InTransaction()) search->RunTransaction(lsUpdating, kSearchUpdateAccessDate);
    }
    return item;
  }
  std::shared_ptr<ISearchHistoryResultItemIntf> GetResultItemByIndex(size_t index) override {
    return index < Results_.size() ? Results_[index] : nullptr;
  }
  size_t ResultItemCount() const override { return Results_.size(); }

  TSearchStorageItem* NewSearch(const TCategoryStorageItem& category, const TSearchFiller& filler) override {
    TSearchTypeStorageItem* type = FindType(category.SrtName);
    if (!type || Searches_.InTransaction()) return nullptr;
    Searches_.BeginTransaction(lsAdding);
    TSearchStorageItem* search = Searches_.NewSearch();
    if (!search) {
      Searches_.EndTransaction(true);
      return nullptr;
    }
    search->CreationDate = Now();
    Fill(*search, *type, category.CatName, filler);
    WriteFailed_ = false;
    Searches_.EndTransaction();
    if (WriteFailed_) {
      // A search the files do not hold would run, and its results be stored, under a number no list
      // shows: it goes again at once.
      Searches_.BeginTransaction(lsDeleting);
      search->Delete();
      Searches_.EndTransaction();
      return nullptr;
    }
    return search;
  }

  bool UpdateSearch(TSearchStorageItem* search, const TSearchFiller& filler) override {
    if (!search || search->Owner() != &Searches_ || Searches_.InTransaction()) return false;
    TSearchTypeStorageItem* type = FindType(search->SrtName);
    if (!type) return false;
    Searches_.BeginTransaction(lsUpdating);
    Fill(*search, *type, search->CatName, filler);
    search->Changed();
    Searches_.EndTransaction();
    return true;
  }

  void BeginDelete() override {
    if (!Searches_.InTransaction()) Searches_.BeginTransaction(lsDeleting);
  }
  void DeleteSearch(TSearchStorageItem* search) override {
    if (!search || search->Owner() != &Searches_) return;
    DropResults(search);
    if (Searches_.State() == lsDeleting) {
      search->Delete();
    } else {
      Searches_.BeginTransaction(lsDeleting);
      search->Delete();
      Searches_.EndTransaction();
    }
  }
  void EndDelete() override {
    if (Searches_.State() == lsDeleting) Searches_.EndTransaction();
  }
  void Pack() override {
    Searches_.Compact();
    for (const auto& item : Results_) item->GetResults().Compact();
  }

  // A stored search that goes takes its opened results with it.
  void ItemDeleted(TStorageNotifier*, TStorageDataItem* item) override {
    if (auto* search = dynamic_cast<TSearchStorageItem*>(item)) DropResults(search);
  }
  void StorageError(TStorageDataList*, bool writing) override {
    if (writing) WriteFailed_ = true;
  }

 private:
  TSearchTypeStorageItem* FindType(const std::string& srtName) const {
    ISearchCatalogue* catalogue = History_.Catalogue();
    return catalogue ? catalogue->FindSearchType(srtName) : nullptr;
  }

  void DropResults(TSearchStorageItem* search) {
    std::erase_if(Results_, [search](const auto& item) {
      if (item->GetSearch() != search) return false;
      static_cast<TSearchHistoryResultItem&>(*item).Forget();
      return true;
    });
  }

  void Fill(TSearchStorageItem& search, const TSearchTypeStorageItem& type, const std::string& catName,
            const TSearchFiller& filler) {
    search.SrtName = type.SrtName;
    search.FieldDefinitions.Clear();
    for (size_t i = 0; i < type.InputFieldDefinitions.Count(); ++i) {
      const auto* source = type.InputFieldDefinitions.Input(i);
      auto* def = static_cast<TStorageFieldDefinitionItem*>(search.FieldDefinitions.Add());
      def->Name = source->Name;
      def->DisplayName = source->DisplayName;
      def->FieldType = source->FieldType;
    }
    search.CatName = catName;
    search.GetFields()->Clear();
    if (filler) filler(search);
    Normalise(search, type);
  }

  // The search type has the last word on the values: formula fields are computed, and the text shown
  // for the search is the type's.
  void Normalise(TSearchStorageItem& search, const TSearchTypeStorageItem& type) {
    ISearchCatalogue* catalogue = History_.Catalogue();
    if (!catalogue) return;
    std::unique_ptr<TSearchTypeReader> reader = LoadSearchType(*catalogue, search.SrtName);
    if (!reader) return;
    TSearchTypeInstance instance(reader.get());
    try {
      Convert(instance, search);
    } catch (const ESearchConvertError&) {
      return;
    }
    instance.InputFields.RecomputeFields();
    TStorageFieldList& fields = *search.GetFields();
    for (size_t i = 0; i < fields.Count(); ++i) {
      TStorageFieldItem* field = fields.Field(i);
      const auto* def = type.InputFieldDefinitions.FindInput(field->Name);
      TSearchInputField* live = instance.InputFields.Find(field->Name);
      if (def && def->IsFormula && live) field->SetValue(StoredValueOf(*live));
    }
    search.DisplayValue = instance.InputDisplayText();
  }

  TSearchHistory& History_;
  TFolderItem& Folder_;
  TSearchStorageList Searches_;
  std::vector<std::shared_ptr<ISearchHistoryResultItemIntf>> Results_;
  bool WriteFailed_ = false;  // the searches' back end failed a write since NewSearch began its commit
};

TSearchHistory::TSearchHistory(ISearchCatalogue* catalogue) : Catalogue_(catalogue) {
  RegisterHistoryClasses();
}

TSearchHistory::~TSearchHistory() = default;

void TSearchHistory::SetFolder(const std::string& folder) {
  Items_.clear();
  Root_ = std::make_unique<TFolderItem>(folder, nullptr);
  Root_->Rescan(true);
}

void TSearchHistory::Rescan() {
  if (Root_) Root_->Rescan(true);
}

std::shared_ptr<ISearchHistoryItemIntf> TSearchHistory::OpenItem(TFolderItem* folder) {
  if (!folder) return nullptr;
  for (const auto& item : Items_)
    if (item->GetFolder() == folder) return item;
  auto item = std::make_shared<TSearchHistoryItem>(*this, *folder);
  Items_.push_back(item);
  return item;
}

std::shared_ptr<ISearchHistoryItemIntf> TSearchHistory::OpenItem(const std::string& path) {
  return Root_ ? OpenItem(Root_->FindByPath(path)) : nullptr;
}

std::optional<TStoredSearchBinding> TSearchHistory::Bind(TSearchHistory* history, const std::string& folder,
                                                         int srhNum) {
  if (!history) return std::nullopt;
  try {
    TStoredSearchBinding binding;
    binding.Item = history->OpenItem(folder);
    if (!binding.Item) return std::nullopt;
    TSearchStorageItem* search = binding.Item->GetSearches().ItemByKey(srhNum);
    if (!search) return std::nullopt;
    binding.Result = binding.Item->GetResultItem(search);
    if (!binding.Result) return std::nullopt;
    return binding;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

TAppSearchHistory::TAppSearchHistory(TSearchHistory& history, const std::string& folderName,
                                     const TQuorinApplication* runner)
    : History_(history), FolderName_(folderName), Runner_(runner) {}

TAppSearchHistory::~TAppSearchHistory() = default;

template <class F>
void TAppSearchHistory::Tell(F&& call) {
  const std::vector<IAppSearchHistoryObserver*> observers = Observers_;
  for (IAppSearchHistoryObserver* o : observers)
    if (std::find(Observers_.begin(), Observers_.end(), o) != Observers_.end()) call(*o);
}

void TAppSearchHistory::AddObserver(IAppSearchHistoryObserver* observer) {
  if (observer && std::find(Observers_.begin(), Observers_.end(), observer) == Observers_.end())
    Observers_.push_back(observer);
}

void TAppSearchHistory::RemoveObserver(IAppSearchHistoryObserver* observer) {
  std::erase(Observers_, observer);
}

std::string TAppSearchHistory::Folder() const {
  return Item_ ? Item_->GetFolder()->RelativePath() : FolderName_ + "/";
}

bool TAppSearchHistory::Open(int32_t daysToKeepSearches, TDateTime now) {
  if (!History_.Root()) return false;
  TFolderItem* folder = History_.Root()->CreateChild(FolderName_);
  Item_ = History_.OpenItem(folder);
  if (!Item_) return false;
  TSearchStorageList& searches = Item_->GetSearches();
  std::vector<TSearchStorageItem*> expired;
  for (size_t i = 0; i < searches.Count(); ++i)
    if (SearchExpired(searches.Search(i)->CreationDate, now, daysToKeepSearches))
      expired.push_back(searches.Search(i));
  if (!expired.empty()) {
    Item_->BeginDelete();
    for (TSearchStorageItem* search : expired) {
      if (search == Current_) SetCurrentSearch(nullptr);
      Item_->DeleteSearch(search);
    }
    Item_->EndDelete();
  }
  return true;
}

void TAppSearchHistory::SetCurrentSearch(TSearchStorageItem* search) {
  if (search == Current_) return;
  CurrentResults_.reset();
  Tell([&](IAppSearchHistoryObserver& o) { o.SearchChanging(*this); });
  Current_ = search;
  if (search && Item_) CurrentResults_ = Item_->GetResultItem(search);
  Tell([&](IAppSearchHistoryObserver& o) { o.SearchChanged(*this, search); });
}

void TAppSearchHistory::NotifySearchAdded(TSearchStorageItem* search) {
  Tell([&](IAppSearchHistoryObserver& o) { o.SearchAdded(*this, search); });
}

void TAppSearchHistory::ReloadResults() {
  if (!CurrentResults_) return;
  if (Runner_ && Runner_->CurrentResultItem() == CurrentResults_.get()) return;
  Tell([&](IAppSearchHistoryObserver& o) { o.ResultsReloading(*this); });
  TResultStorageList& results = CurrentResults_->GetResults();
  results.Load();
  if (TStorageDataListView* view = results.FindView(kDefaultViewName)) view->Refill();
  Tell([&](IAppSearchHistoryObserver& o) { o.ResultsReloaded(*this); });
}

std::vector<std::string> TakeStorageDamageNotices() {
  std::vector<std::string> notices;
  for (const TQuorinDb::TSetAside& table : TQuorinDb::TakeSetAside()) {
    const size_t slash = table.File.find_last_of('/');
    const std::string name = slash == std::string::npos ? table.File : table.File.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? std::string() : table.File.substr(0, slash + 1);
    std::string kept = "a new, empty table took its place";
    if (SameText(name, "Search.ctb"))
      kept = "the stored results were kept, and new searches are numbered after them";
    else if (SameText(name, "Result.ctb"))
      kept = "the stored searches were kept without their results";
    notices.push_back(
        Format("The history in %0:s was damaged: %1:s could not be read (%2:s) and was set aside "
               "beside it; %3:s.",
               {folder, name, table.Reason, kept}));
  }
  return notices;
}

std::string ResultsDamageText(ISearchHistoryResultItemIntf& item) {
  TResultStorageList& results = item.GetResults();
  TSearchStorageItem* search = item.GetSearch();
  // The stored count is written with the rows in one commit, so rows short of it were lost to damage.
  const int missing = search ? std::max(0, search->MatchCount - static_cast<int>(results.Count())) : 0;
  int fieldless = 0;
  std::string file = "Result.ctb";
  if (auto* codebase = dynamic_cast<TResultStorage_Codebase*>(results.Storage())) {
    fieldless = codebase->DamagedOnLoad();
    file = codebase->DataPath() + file;
  }
  if (missing == 0 && fieldless == 0) return {};
  std::string text = Format("%0:d result(s) of search %1:d could not be read",
                            {missing + fieldless, search ? search->Index() : 0});
  if (fieldless > 0) text += Format(" (%0:d shown without their fields)", {fieldless});
  return text + ": " + file + " is damaged";
}

}  // namespace vandrel

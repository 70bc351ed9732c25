#include "search/QuorinEngineRepository.h"

#include <filesystem>
#include <unordered_set>

#include "search/DefinitionConverters.h"
#include "search/DefinitionFiles.h"
#include "search/DefinitionReaders.h"
#include "storage/StorageDataViews.h"

namespace vandrel {

TEngineRepository::TEngineRepository()
    : SearchTypes_(std::make_unique<TSearchTypeStorageList>()),
      Categories_(std::make_unique<TCategoryStorageList>()) {}

TEngineRepository::~TEngineRepository() = default;

void TEngineRepository::SetDebugMode(bool debug) {
  SearchTypeExt = debug ? ".sst" : ".cst";
  CategoryExt = debug ? ".sca" : ".cca";
  EngineExt = debug ? ".sen" : ".cen";
  ScriptExt = debug ? ".scs" : ".ccs";
}

void TEngineRepository::SetStorage(std::shared_ptr<IStorageManager> searchTypeStorage,
                                   std::shared_ptr<IStorageManager> categoryStorage,
                                   std::shared_ptr<IStorageManager> engineStorage) {
  if (searchTypeStorage)
    SearchTypes_->AttachStorage(std::move(searchTypeStorage));
  else
    SearchTypes_->DetachStorage();
  if (categoryStorage)
    Categories_->AttachStorage(std::move(categoryStorage));
  else
    Categories_->DetachStorage();
  EngineLists_.SetStorage(std::move(engineStorage));
}

void TEngineRepository::Close() {
  EngineLists_.Clear();
  for (TStorageDataList* list : std::initializer_list<TStorageDataList*>{
           SearchTypes_.get(), Categories_.get(), &EngineLists_.Template()}) {
    list->Logout();
    list->DetachStorage();
  }
}

bool TEngineRepository::Login(const TClassInfo& loginInfoClass) {
  bool ok = SearchTypes_->Login(loginInfoClass) && Categories_->Login(loginInfoClass) &&
            EngineLists_.Template().Login(loginInfoClass);
  return ok && Open();
}

bool TEngineRepository::Open() {
  bool ok = SearchTypes_->Load();
  ok = Categories_->Load() && ok;
  LoadConstants();
  return ok;
}

void TEngineRepository::SetDataFolder(const std::string& path) {
  DataFolder_ = path;
  if (!DataFolder_.empty() && DataFolder_.back() != '/') DataFolder_ += '/';
  EngineLists_.Clear();
}

std::string TEngineRepository::CategoryFolder(const std::string& category) const {
  return FindPathIgnoringCase(DataFolder_, category) + "/";
}

std::string TEngineRepository::SearchTypePath(const std::string& name) const {
  return FindPathIgnoringCase(DataFolder_, name + SearchTypeExt);
}

std::string TEngineRepository::CategoryPath(const std::string& name) const {
  return FindPathIgnoringCase(DataFolder_, name + CategoryExt);
}

std::string TEngineRepository::EnginePath(const std::string& category, const std::string& engine) const {
  return FindPathIgnoringCase(CategoryFolder(category), engine + EngineExt);
}

std::string TEngineRepository::ConstantsPath() const {
  return FindPathIgnoringCase(DataFolder_, ConstantsName + ScriptExt);
}

void TEngineRepository::LoadConstants() {
  RunConstantsScript(Constants_, ConstantsPath());
  for (const auto& [name, value] : Defines) Constants_.SetString(name, value);
}

void TEngineRepository::MakeDiskReport(TQuorinUpdateReport& report) {
  // Marks a stored item seen, or reports the file as added; reports a changed version.
  auto compare = [&report](int kind, const TDefinitionFile& file, TVersionStorageDataList* list,
                           const std::string& category, std::unordered_set<const void*>& seen) {
    TVersionStorageDataItem* stored = list ? list->FindByName(file.Name) : nullptr;
    if (!stored) return report.AddAdded(kind, kind == ukEngine ? category + "/" + file.Name : file.Name);
    seen.insert(stored);
    if (ReadDefinitionVersion(file.Path) != stored->Version) report.AddChanged(kind, *stored, category);
  };
  auto removeUnseen = [&report](int kind, TVersionStorageDataList& list, const std::string& category,
                                const std::unordered_set<const void*>& seen) {
    for (size_t i = 0; i < list.Count(); ++i)
      if (!seen.count(list.VersionItem(i))) report.AddRemoved(kind, *list.VersionItem(i), category);
  };

  std::unordered_set<const void*> seen;
  for (const TDefinitionFile& file : ListDefinitionFiles(DataFolder_, SearchTypeExt))
    compare(ukSearchType, file, SearchTypes_.get(), {}, seen);
  removeUnseen(ukSearchType, *SearchTypes_, {}, seen);

  seen.clear();
  std::vector<TDefinitionFile> categories = ListDefinitionFiles(DataFolder_, CategoryExt);
  for (const TDefinitionFile& file : categories) compare(ukCategory, file, Categories_.get(), {}, seen);
  removeUnseen(ukCategory, *Categories_, {}, seen);

  for (const TDefinitionFile& category : categories) {
    // A category new to the catalogue has no stored engines yet: all of its files are added.
    TEngineStorageList* engines =
        Categories_->FindByName(category.Name) ? EngineLists_.EngineList(category.Name) : nullptr;
    seen.clear();
    for (const TDefinitionFile& file : ListDefinitionFiles(CategoryFolder(category.Name), EngineExt))
      compare(ukEngine, file, engines, category.Name, seen);
    if (engines) removeUnseen(ukEngine, *engines, category.Name, seen);
  }
}

void TEngineRepository::Refresh(TQuorinUpdateReport* report, const TRefreshProgress& progress,
                                const TLoadedDefinitions* loaded) {
  TQuorinUpdateReport disk;
  if (!report) {
    MakeDiskReport(disk);
    report = &disk;
  }
  // The definitions are loaded with the constants script that is installed now: an update may have
  // delivered both a new constant and a definition that uses it.
  LoadConstants();
  TEngineRepositoryBuilder(*this, progress, loaded).Apply(*report);
  LoadConstants();
}

void TEngineRepository::Start(const std::string& dataFolder, bool debugMode, bool refresh,
                              const TRefreshProgress& progress) {
  SetDebugMode(debugMode);
  SetDataFolder(dataFolder);
  Open();
  if (refresh || Categories_->Count() == 0) Refresh(nullptr, progress);
}

std::unique_ptr<TEngineRepository, void (*)(TEngineRepository*)> NewEngineRepository() {
  return {new TEngineRepository(), [](TEngineRepository* repository) { delete repository; }};
}

std::string TRepositorySearchCatalogue::SearchTypeFile(const std::string& srtName) const {
  return Repository_.SearchTypePath(srtName);
}

std::string TRepositorySearchCatalogue::EngineFile(const std::string& catName,
                                                   const std::string& engName) const {
  return Repository_.EnginePath(catName, engName);
}

TVariableList* TRepositorySearchCatalogue::Constants() {
  return Repository_.Constants().Count() ? &Repository_.Constants() : nullptr;
}

TSearchTypeStorageItem* TRepositorySearchCatalogue::FindSearchType(const std::string& srtName) {
  return Repository_.SearchTypes().FindByName(srtName);
}

TCategoryStorageItem* TRepositorySearchCatalogue::FindCategory(const std::string& catName) {
  return Repository_.Categories().FindByName(catName);
}

TEngineStorageList* TRepositorySearchCatalogue::CategoryEngines(const std::string& catName) {
  TEngineStorageList* engines = Repository_.EngineLists().EngineList(catName);
  return engines && engines->Count() ? engines : nullptr;
}

void TRepositorySearchCatalogue::SaveCategory(TCategoryStorageItem& category) {
  if (category.Owner() == &Repository_.Categories() && !Repository_.Categories().InTransaction())
    category.RunTransaction(lsUpdating, 0);
}

// ---------------------------------------------------------------------------------------------------

namespace {

// The definition at `path` as `loaded` has it, else as its file says.
template <class TSummary, class TReader>
bool Load(const std::unordered_map<std::string, TLoadedDefinitions::TLoaded<TSummary>>* loaded,
          const std::string& path, TReader read, TSummary& summary, int32_t& version) {
  if (loaded) {
    if (auto it = loaded->find(path); it != loaded->end()) {
      summary = it->second.Summary;
      version = it->second.Version;
      return true;
    }
  }
  std::string error;
  if (!read(path, summary, error)) return false;
  version = ReadDefinitionVersion(path);
  return true;
}

}  // namespace

// Passes a list's mapped back-end progress on to the refresh's callback while the list commits.
class TEngineRepositoryBuilder::TProgressRelay : public IStorageDataListObserver {
 public:
  TProgressRelay(TStorageDataList& list, TEngineRepositoryBuilder& builder) : List_(list), Builder_(builder) {
    List_.AddObserver(this);
  }
  ~TProgressRelay() override { List_.RemoveObserver(this); }
  void Progress(TStorageDataList*, int position) override { Builder_.Report(position); }

 private:
  TStorageDataList& List_;
  TEngineRepositoryBuilder& Builder_;
};

TEngineRepositoryBuilder::TEngineRepositoryBuilder(TEngineRepository& repository, TRefreshProgress progress,
                                                   const TLoadedDefinitions* loaded)
    : Repository_(repository), Progress_(std::move(progress)), Loaded_(loaded) {}

void TEngineRepositoryBuilder::Report(int percent) {
  if (Progress_) Progress_(percent);
}

TVersionStorageDataList* TEngineRepositoryBuilder::TargetList(const TQuorinUpdateReportItem& item) {
  switch (item.Kind) {
    case ukSearchType:
      return &Repository_.SearchTypes();
    case ukCategory:
      return &Repository_.Categories();
    case ukEngine:
      return Repository_.EngineLists().EngineList(item.Category);
    default:
      return nullptr;
  }
}

void TEngineRepositoryBuilder::Open(TVersionStorageDataList& list) {
  if (list.InTransaction()) return;
  // One rewrite per list: additions, changes and deletions act in memory and the commit stores the list.
  list.BeginTransaction(lsRewriting);
  OpenLists_.push_back(&list);
}

void TEngineRepositoryBuilder::Apply(TQuorinUpdateReport& report) {
  TEngineRepository& repo = Repository_;
  if (report.FullRebuild) {
    repo.SearchTypes().Empty();
    repo.Categories().Empty();
    repo.EngineLists().Clear();
    repo.EngineLists().Template().Empty();
  }
  report.SortByKind();
  const size_t n = report.Count();
  for (size_t i = 0; i < n; ++i) {
    Report(static_cast<int>(i * 100 / n / 2));
    const TQuorinUpdateReportItem& item = report.Items(i);
    if (item.Kind == ukSharedScript) continue;
    // Engines of a category that is not (or no longer) in the catalogue have no list to go to.
    if (item.Kind == ukEngine && !repo.Categories().FindByName(item.Category)) continue;
    TVersionStorageDataList* list = TargetList(item);
    if (!list) break;
    Open(*list);
    ApplyItem(item, *list);
  }

  Report(50);
  if (repo.SearchTypes().InTransaction()) Commit(repo.SearchTypes(), 50, 55);
  Report(55);
  if (repo.Categories().InTransaction()) Commit(repo.Categories(), 55, 60);
  Report(60);
  std::vector<TVersionStorageDataList*> engineLists;
  for (TVersionStorageDataList* list : OpenLists_)
    if (list != &repo.SearchTypes() && list != &repo.Categories()) engineLists.push_back(list);
  for (size_t i = 0; i < engineLists.size(); ++i) {
    int low = 60 + static_cast<int>(40 * i / engineLists.size());
    int high = 60 + static_cast<int>(40 * (i + 1) / engineLists.size());
    Commit(*engineLists[i], low, high);
    Report(high);
  }
  OpenLists_.clear();
  Report(100);
}

void TEngineRepositoryBuilder::Commit(TVersionStorageDataList& list, int low, int high) {
  TProgressRelay relay(list, *this);
  list.SetProgressRange(low, high);
  list.EndTransaction();
  list.SetProgressRange(0, 100);
}

void TEngineRepositoryBuilder::ApplyItem(const TQuorinUpdateReportItem& item, TVersionStorageDataList& list) {
  TVersionStorageDataItem* stored = nullptr;
  bool added = item.Action == uaAdded;
  if (added) {
    stored = static_cast<TVersionStorageDataItem*>(list.NewItem());
    if (!stored) return;
  } else {
    stored = list.FindByName(item.Name);
    if (!stored) return;  // already gone: nothing to change or remove
  }

  if (item.Action == uaRemoved) {
    if (item.Kind == ukCategory)
      RemoveCategory(*static_cast<TCategoryStorageItem*>(stored));
    else
      stored->Delete();
    return;
  }

  bool loaded = false;
  switch (item.Kind) {
    case ukSearchType: {
      auto& st = *static_cast<TSearchTypeStorageItem*>(stored);
      if (added) st.SrtName = item.Name;
      loaded = LoadSearchType(st);
      break;
    }
    case ukCategory: {
      auto& cat = *static_cast<TCategoryStorageItem*>(stored);
      if (added) cat.CatName = item.Name;
      loaded = LoadCategory(cat, added);
      if (!loaded) return RemoveCategory(cat);
      break;
    }
    case ukEngine: {
      auto& engine = *static_cast<TEngineStorageItem*>(stored);
      if (added) engine.EngName = item.Name;
      loaded = LoadEngine(engine, item.Category, added);
      break;
    }
    default:
      break;
  }
  // A damaged definition leaves the catalogue instead of failing the refresh.
  if (!loaded) stored->Delete();
}

void TEngineRepositoryBuilder::RemoveCategory(TCategoryStorageItem& stored) {
  std::string name = stored.CatName;
  TEngineListCache& cache = Repository_.EngineLists();
  if (TEngineStorageList* engines = cache.EngineList(name)) {
    std::erase(OpenLists_, static_cast<TVersionStorageDataList*>(engines));
    if (engines->InTransaction()) engines->EndTransaction(true);
    engines->DeleteAll();
  }
  cache.Drop(name);
  stored.Delete();
}

bool TEngineRepositoryBuilder::LoadSearchType(TSearchTypeStorageItem& stored) {
  std::string path = Repository_.SearchTypePath(stored.SrtName);
  TSearchTypeSummary summary;
  std::string error;
  if (!ReadSearchTypeDefinition(path, stored.SrtName, &Repository_.Constants(), summary, error)) return false;
  ConvertSearchType(stored, summary);
  stored.Version = ReadDefinitionVersion(path);
  return true;
}

bool TEngineRepositoryBuilder::LoadCategory(TCategoryStorageItem& stored, bool added) {
  std::string path = Repository_.CategoryPath(stored.CatName);
  TCategorySummary summary;
  int32_t version = 0;
  if (!Load(Loaded_ ? &Loaded_->Categories : nullptr, path, ReadCategoryDefinition, summary, version))
    return false;
  bool userEnabled = stored.Enabled;
  ConvertCategory(stored, summary);
  stored.FileName = std::filesystem::path(path).filename().string();
  if (added) {
    // Existing categories keep the limits the user chose.
    stored.ResultsPerEngine = stored.DefaultResultsPerEngine;
    stored.TotalResults = stored.DefaultTotalResults;
  } else {
    stored.Enabled = userEnabled;  // the user switches categories on and off
  }
  stored.Version = version;
  return true;
}

bool TEngineRepositoryBuilder::LoadEngine(TEngineStorageItem& stored, const std::string& category,
                                          bool added) {
  std::string path = Repository_.EnginePath(category, stored.EngName);
  TEngineSummary summary;
  int32_t version = 0;
  if (!Load(Loaded_ ? &Loaded_->Engines : nullptr, path, ReadEngineDefinition, summary, version))
    return false;
  ConvertEngine(stored, summary, SearchTypeOf(category));
  stored.FileName = std::filesystem::path(path).filename().string();
  if (added) {
    // Existing engines keep the user's choice and credentials.
    stored.UserName.clear();
    stored.Password.clear();
    stored.Enabled = stored.DefaultEnabled;
  }
  stored.Version = version;
  return true;
}

std::string TEngineRepositoryBuilder::SearchTypeOf(const std::string& category) const {
  auto* stored = static_cast<TCategoryStorageItem*>(Repository_.Categories().FindByName(category));
  return stored ? stored->SrtName : std::string();
}

}  // namespace vandrel

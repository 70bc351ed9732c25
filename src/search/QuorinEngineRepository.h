// The stored catalogue of search types, categories and engines, refreshed from the data folder's files.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "script/Variables.h"
#include "search/DefinitionReaders.h"
#include "search/EngineListCache.h"
#include "search/QuorinUpdateReport.h"
#include "search/SearchCatalogue.h"
#include "storage/CategoryStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {

class IStorageManager;

// Progress of a refresh, 0 to 100.
using TRefreshProgress = std::function<void(int percent)>;

// Definitions already loaded from exactly the bytes now at these paths (an update checks each file it
// installs), so the refresh that follows need not read and run them again.
struct TLoadedDefinitions {
  template <class TSummary>
  struct TLoaded {
    TSummary Summary;
    int32_t Version = -1;
  };
  std::unordered_map<std::string, TLoaded<TCategorySummary>> Categories;
  std::unordered_map<std::string, TLoaded<TEngineSummary>> Engines;
};

// Owned by the action runner; lives as long as the program. Main thread only.
class TEngineRepository {
 public:
  TEngineRepository();
  ~TEngineRepository();
  TEngineRepository(const TEngineRepository&) = delete;
  TEngineRepository& operator=(const TEngineRepository&) = delete;

  // Extensions of the definition files in the current mode (compiled, or sources in debug mode).
  std::string SearchTypeExt = ".cst";
  std::string CategoryExt = ".cca";
  std::string EngineExt = ".cen";
  std::string ScriptExt = ".ccs";
  // What the update site delivers.
  std::string CompressedSearchTypeExt = ".zst";
  std::string CompressedCategoryExt = ".zca";
  std::string CompressedEngineExt = ".zen";
  std::string CompressedScriptExt = ".zcs";
  std::string ConstantsName = "constants";
  // Sets the four extensions of the current mode: script sources in debug mode, compiled files otherwise.
  void SetDebugMode(bool debug);

  // Connects the three lists to their back ends (none: memory only); Close detaches them.
  void SetStorage(std::shared_ptr<IStorageManager> searchTypeStorage,
                  std::shared_ptr<IStorageManager> categoryStorage,
                  std::shared_ptr<IStorageManager> engineStorage);
  void Close();
  // Logs the three lists in with `loginInfoClass`; on success opens them.
  bool Login(const TClassInfo& loginInfoClass);
  // Loads the search types and categories and the constants.
  bool Open();

  void SetDataFolder(const std::string& path);
  const std::string& DataFolder() const { return DataFolder_; }
  // DataFolder + category + "/".
  std::string CategoryFolder(const std::string& category) const;
  std::string SearchTypePath(const std::string& name) const;
  std::string CategoryPath(const std::string& name) const;
  std::string EnginePath(const std::string& category, const std::string& engine) const;
  std::string ConstantsPath() const;

  // Empties Constants, then fills it from the constants script when there is one that compiles, then
  // sets Defines over it.
  void LoadConstants();
  // Constants the program was started with; they outlast every reload of the constants script (an update
  // delivers a new one).
  std::vector<std::pair<std::string, std::string>> Defines;

  // What differs between the data folder and the catalogue.
  void MakeDiskReport(TQuorinUpdateReport& report);
  // Applies `report` (an update's), or without one what the data folder holds that the catalogue does
  // not; then reloads the constants. `progress` may be empty; `loaded` (may be null) stands in for reading
  // the files it names.
  void Refresh(TQuorinUpdateReport* report, const TRefreshProgress& progress,
               const TLoadedDefinitions* loaded = nullptr);

  // Start-up: the mode's extensions, the data folder and the stored lists; then a refresh from the files
  // when `refresh` asks for one or no category is stored yet.
  void Start(const std::string& dataFolder, bool debugMode, bool refresh, const TRefreshProgress& progress);

  TSearchTypeStorageList& SearchTypes() { return *SearchTypes_; }
  TCategoryStorageList& Categories() { return *Categories_; }
  TEngineListCache& EngineLists() { return EngineLists_; }
  TVariableList& Constants() { return Constants_; }

 private:
  friend class TEngineRepositoryBuilder;
  std::string DataFolder_;  // ends with "/"
  TVariableList Constants_;
  std::unique_ptr<TSearchTypeStorageList> SearchTypes_;
  std::unique_ptr<TCategoryStorageList> Categories_;
  TEngineListCache EngineLists_;
};

// What a search needs from a repository.
class TRepositorySearchCatalogue : public ISearchCatalogue {
 public:
  explicit TRepositorySearchCatalogue(TEngineRepository& repository) : Repository_(repository) {}
  std::string SearchTypeFile(const std::string& srtName) const override;
  std::string EngineFile(const std::string& catName, const std::string& engName) const override;
  TVariableList* Constants() override;
  TSearchTypeStorageItem* FindSearchType(const std::string& srtName) override;
  TCategoryStorageItem* FindCategory(const std::string& catName) override;
  TEngineStorageList* CategoryEngines(const std::string& catName) override;
  void SaveCategory(TCategoryStorageItem& category) override;

 private:
  TEngineRepository& Repository_;
};

// A repository for the action runner's parts.
std::unique_ptr<TEngineRepository, void (*)(TEngineRepository*)> NewEngineRepository();

// Applies an update report to the catalogue of a repository.
class TEngineRepositoryBuilder {
 public:
  TEngineRepositoryBuilder(TEngineRepository& repository, TRefreshProgress progress,
                           const TLoadedDefinitions* loaded = nullptr);
  void Apply(TQuorinUpdateReport& report);

 private:
  class TProgressRelay;
  TVersionStorageDataList* TargetList(const TQuorinUpdateReportItem& item);
  void Open(TVersionStorageDataList& list);
  void ApplyItem(const TQuorinUpdateReportItem& item, TVersionStorageDataList& list);
  bool LoadSearchType(TSearchTypeStorageItem& stored);
  bool LoadCategory(TCategoryStorageItem& stored, bool added);
  bool LoadEngine(TEngineStorageItem& stored, const std::string& category, bool added);
  void RemoveCategory(TCategoryStorageItem& stored);
  std::string SearchTypeOf(const std::string& category) const;
  void Commit(TVersionStorageDataList& list, int low, int high);
  void Report(int percent);

  TEngineRepository& Repository_;
  TRefreshProgress Progress_;
  const TLoadedDefinitions* Loaded_;
  std::vector<TVersionStorageDataList*> OpenLists_;  // lists with a transaction this builder began
};

}  // namespace vandrel

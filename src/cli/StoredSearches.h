// The command line's view of the user's stored searches: the database under the root folder, a catalogue
// read from a data folder, the two histories and the action runner that runs their searches.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "actions/QuorinActions.h"
#include "actions/QuorinApplications.h"
#include "kernel/AppFolders.h"
#include "search/SearchCatalogue.h"
#include "search/SearchHistory.h"
#include "storage/CategoryStorage.h"
#include "storage/EngineStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {
class TCodebaseStorageManager;
class TQuorinSearchAction;
class TVariableList;
}  // namespace vandrel

namespace vandrel::cli {

std::string Lower(std::string s);
// A definition of the data folder: the compiled form an installation ships, else its source. Names are
// matched without regard to case, as the folder may come from a system that ignores it.
std::string FindDefinition(const std::string& folder, const std::string& name, const std::string& compiledExt,
                           const std::string& sourceExt);
// The engines of a category folder by lower-cased name; compiled files win over sources of the same name.
std::map<std::string, std::string> EngineFiles(const std::string& folder);
// A JSON string of the display form of `text`.
std::string JsonString(std::string_view text);
// The constants script's variables of the data folder, then each definition; false with `error` set when
// the script does not run.
bool LoadConstants(const std::string& dataFolder,
                   const std::vector<std::pair<std::string, std::string>>& defines, TVariableList& constants,
                   std::string& error);
// The history folders under the user's folder.
inline constexpr const char* kCompareFolder = "Compare";
inline constexpr const char* kReviewsFolder = "Reviews";

// Review categories are named "review..."; every other one is a price category.
bool IsReviewCategory(const std::string& catName);

// Definitions are read from the data folder on first use and kept in memory. Main thread only.
class TCliCatalogue : public ISearchCatalogue {
 public:
  TCliCatalogue(std::string dataFolder, TVariableList* constants);

  std::string SearchTypeFile(const std::string& srtName) const override;
  std::string EngineFile(const std::string& catName, const std::string& engName) const override;
  TVariableList* Constants() override { return Constants_; }
  TSearchTypeStorageItem* FindSearchType(const std::string& srtName) override;
  TCategoryStorageItem* FindCategory(const std::string& catName) override;
  TEngineStorageList* CategoryEngines(const std::string& catName) override;
  void SaveCategory(TCategoryStorageItem&) override {}

 private:
  std::string Data_;
  TVariableList* Constants_;  // not owned; may be null
  TSearchTypeStorageList SearchTypes_;
  TCategoryStorageList Categories_;
  std::map<std::string, std::unique_ptr<TEngineStorageList>> Engines_;  // by lower-cased category
};

// Database, catalogue, runner and one history opened together. Main thread only.
class TStoredSearches : public IQuorinApplicationObserver {
 public:
  TStoredSearches();
  ~TStoredSearches() override;

  // Opens the database under `root` (empty: the program's own rules) and the compare or reviews history;
  // false with `error` set when the database cannot be accessed.
  bool Open(const std::string& root, const std::string& dataFolder, TVariableList* constants, bool reviews,
            std::string& error);

  TAppSearchHistory& History() { return *History_; }
  TCliCatalogue& Catalogue() { return *Catalogue_; }
  TQuorinApplication& Runner() { return *Runner_; }
  TSearchStorageList& Searches() { return History_->Item()->GetSearches(); }
  const TAppFolders& Folders() const { return *Folders_; }

  // Runs `search` on the runner and pumps until it is idle again; false when it was refused or hung.
  bool Run(TSearchStorageItem* search);

  // Told of each search action before it starts and when it finishes (the searcher still exists then).
  std::function<void(TQuorinSearchAction&)> OnStarting;
  std::function<void(TQuorinSearchAction&)> OnFinished;

  void ActionStarting(TQuorinAction& action) override;
  void ActionFinished(TQuorinAction& action) override;

  // Packs the search and result tables of both history folders; false when any failed.
  static bool Compact(const TAppFolders& folders, std::string& error);

 private:
  // The database side lives apart: its headers and the script's cannot meet in one unit.
  bool OpenDatabase(std::string& error);
  THistoryStorage HistoryStorage() const;

  std::unique_ptr<TAppFolders> Folders_;
  std::unique_ptr<TCodebaseStorageManager> Storage_;
  std::unique_ptr<TCliCatalogue> Catalogue_;
  TQuorinActionRepository Actions_;
  std::unique_ptr<TQuorinApplication> Runner_;
  std::unique_ptr<TAppSearchHistory> History_;
};

}  // namespace vandrel::cli

// The search action: runs one stored search through the Http searcher and turns what it finds into
// stored results.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "actions/QuorinActions.h"
#include "actions/QuorinOperations.h"
#include "platform/DateTime.h"
#include "search/HttpSearcher.h"
#include "search/SearchCatalogue.h"
#include "search/SearchOutcome.h"

namespace vandrel {

class TQuorinApplication;
class TEngineStorageItem;
class TEngineStorageList;
class TResultStorageItem;
class TResultStorageList;
class TSearchStorageItem;
class TStorageDataList;
class ISearchHistoryResultItemIntf;

// Asks for a run of the stored search SrhNum of the history folder Folder.
class TQuorinSearchOperation : public TQuorinOperation {
  VANDREL_PERSISTENT(TQuorinSearchOperation)
};

// The windows' view of a running search. `engine` is the category's stored engine of that name, or null
// when the catalogue no longer has it. Main thread only.
class ISearchActionObserver : public IQuorinAsynchronousActionObserver {
 public:
  virtual void ConnectionDetectStart() {}
  // 0: connected.
  virtual void ConnectionDetectDone(int result) {}
  // Set `stop` to skip an engine that needs credentials it does not have.
  virtual void EngineAuthorize(TEngineStorageItem* engine, bool& stop) {}
  virtual void SearchStatus(int code, const std::string& text) {}
  virtual void EngineStarted(TEngineStorageItem* engine) {}
  // Not told after a script error.
  virtual void EngineDone(TEngineStorageItem* engine) {}
  virtual void EngineError(TEngineStorageItem* engine, const std::string& text) {}
  virtual void EngineProgress(TEngineStorageItem* engine, int percent) {}
  // `count`: the records this engine has brought in this run so far.
  virtual void EngineResults(TEngineStorageItem* engine, int count) {}
  virtual void ResultAdded(TResultStorageItem* result) {}
  virtual void ResultUpdated(TResultStorageItem* result) {}
};

// Runs one stored search. Created by the runner for a search operation, after the runner opened the
// stored search's result item; lives until the runner disposes of it after ActionFinished. Main thread
// only.
class TQuorinSearchAction : public TQuorinAsynchronousAction {
 public:
  using TSearcherFactory = std::function<std::unique_ptr<THttpSearchManager>(TSearchTypeReader* searchType)>;

  // `runner` supplies the opened result item; `catalogue` the definitions (both outlive the action).
  TQuorinSearchAction(TQuorinApplication& runner, ISearchCatalogue& catalogue,
                      TSearcherFactory searcherClass);
  ~TQuorinSearchAction() override;

  // Loads the search type and creates the searcher; false when the search type cannot be loaded.
  bool Prepare(TEngineRepository* repository, TSearchHistory* history) override;
  // True when the search's category has stored engines.
  bool Bind(const TQuorinOperation& operation) override;
  // Picks the engines, seeds the master list with the stored results and starts the searcher. False
  // when no engine is left, an engine failed while the searcher prepared, or the run did not begin.
  bool Start() override;
  void Stop() override;

  // Copied into the searcher at Start; the main window sets them from the configuration before.
  bool Debug = false;
  bool DetectConnection = false;
  int MaxThreads = 8;
  int EngineTimeLimit = 60000;  // milliseconds per request

  bool Failed() const { return Failed_; }
  // Records the engines brought in this run; only its being zero or not means anything.
  int TotalResults() const { return TotalResults_; }
  // The last connection test's answer; 0: connected.
  int ConnectionResult() const { return ConnectionResult_; }
  THttpSearchManager* Searcher() const { return Searcher_.get(); }
  TSearchTypeReader* SearchTypeReader() const { return SearchType_.get(); }
  TSearchStorageItem* Search() const { return Search_; }
  TResultStorageList* Results() const { return Results_; }
  TEngineStorageList* CategoryEngines() const { return CategoryEngines_; }
  // Why the run's results could not be written (a full disk, a write error), for the user; empty when
  // they were. Read it when the action finishes.
  std::string StorageFailure() const;
  const std::vector<TEngineStorageItem*>& SelectedEngines() const { return Selected_; }
  // The stored result a master of this run was written to; null when it has none (yet).
  TResultStorageItem* StoredResultOf(const TMasterResult& master) const;

 private:
  bool Validates(TEngineStorageItem& engine, TSearchTypeReader& validationType);
  void SelectEngines();
  TEngineStorageItem* EngineItem(const TSearchEngine& engine) const;
  void ReloadResults();
  void SearchGone();
  void UpdateMatchCount();
  void SaveSearch(int fieldIndex);
  void Finish();
  void ConnectSearcher();

  void SearchStarted();
  void NewResults();
  void UpdatedResults();
  void SearchEnded();

  template <class F>
  void Tell(F&& call) {
    ForEachObserver<ISearchActionObserver>(std::forward<F>(call));
  }

  TQuorinApplication& Runner_;
  ISearchCatalogue& Catalogue_;
  TSearcherFactory SearcherClass_;
  ISearchHistoryResultItemIntf* ResultItem_ = nullptr;  // the runner keeps it open while we run
  std::unique_ptr<TSearchTypeReader> SearchType_;
  std::unique_ptr<THttpSearchManager> Searcher_;
  TSearchStorageItem* Search_ = nullptr;           // owned by its history item; null once deleted
  TStorageDataList* SearchList_ = nullptr;         // the list that owns Search_
  TResultStorageList* Results_ = nullptr;          // owned by the result item
  TEngineStorageList* CategoryEngines_ = nullptr;  // owned by the catalogue
  std::vector<TEngineStorageItem*> Selected_;
  TSearchRunEngines RunEngines_;
  class TResultsWatch;
  // The stored result each master of this run is written to; re-linked by key after a reload.
  std::unordered_map<const TMasterResult*, TResultStorageItem*> Links_;
  // Stored results whose keys now coincide with an earlier stored result's: one result with it, so they
  // are deleted when the run starts writing.
  std::vector<int32_t> Coinciding_;
  std::unique_ptr<TResultsWatch> Watch_;
  int ConnectionResult_ = 0;  // of the last connection test; 0: connected
  bool Failed_ = false;
  bool StorageFailed_ = false;  // a write of the results or of the search failed during this run
  int TotalResults_ = 0;
  TDateTime UpdateDate_ = 0;      // when this run began
  bool HadResults_ = false;       // the search had stored results before this run
  int32_t MatchCountBefore_ = 0;  // the stored count when this run began
  bool InStart_ = false;          // inside Start(): a failure there is reported by its answer
  bool SearchStartSeen_ = false;  // the searcher began the run
  bool Finished_ = false;         // ActionFinished was told
};

// The registered kind: runs searches with THttpSearchManager.
class TQuorinHttpSearchAction : public TQuorinSearchAction {
 public:
  TQuorinHttpSearchAction(TQuorinApplication& runner, ISearchCatalogue& catalogue);
};

// Registers TQuorinHttpSearchAction for TQuorinSearchOperation with `actions`.
void RegisterSearchAction(TQuorinActionRepository& actions, TQuorinApplication& runner,
                          ISearchCatalogue& catalogue);

}  // namespace vandrel

// Runs one search over many engines: page after page per engine, at most MaxThreads engines at once,
// every page parsed and merged on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engines/EngineCompiler.h"
#include "engines/SearchTypeCompiler.h"
#include "engines/SearchTypeInstance.h"
#include "http/ConnectionDetector.h"
#include "http/HttpDownloader.h"
#include "platform/MainDispatcher.h"
#include "search/ResultManager.h"

namespace vandrel {

class THttpSearcher;

// ORDER/VALUES: owners compare these by number; never renumber.
enum TSearcherState : uint8_t {
  ssIdle = 0,       // no run
  ssDetecting = 1,  // connection test in progress
  ssPreparing = 2,  // run accepted, engines being prepared
  ssRunning = 3,    // engines are being started and run
  ssStopping = 4,   // a stop was requested
};

// Searcher status codes, for THttpSearcher::ErrorCode and engine errors the searcher raises.
// ORDER/VALUES: shown to users and stored with engine errors; never renumber.
enum THttpSearcherError : int {
  hseNone = 0,
  hseNoEngine = 100,
  hseNoDefaultInputField = 101,
  hseNoHttpItem = 102,
  hseNoThread = 103,
  hseEmptySourceUrl = 104,
};
// The text of a searcher status code; "()" for any other code.
std::string HttpSearcherErrorText(int code);

// How a search reads an engine's pages, and so `fetch`: one by one, kept whole in memory as they came
// (never taken apart for frames or pictures), error pages included, since an engine may ignore a status
// code and parse what came with it.
void ReadPagesAsSearches(THttpDownloaderSettings& s);

// ORDER/VALUES: read by the progress window by number.
enum TEngineRunState : uint8_t {
  ersReset = 0,
  ersDownloading = 1,  // started, or waiting for its page
  ersProcessing = 2,   // a downloaded page is being processed
  ersFinished = 3,
};

// One engine of a search. Created by the engine list; main thread only.
class TSearchEngine {
 public:
  TSearchEngine(THttpSearcher& searcher, std::string name, std::string fileName);
  ~TSearchEngine();
  TSearchEngine(const TSearchEngine&) = delete;
  TSearchEngine& operator=(const TSearchEngine&) = delete;

  // The engine's script with its results parser; loaded and compiled on the first Prepare.
  TEngineCompiler& Compiler();
  // The loaded definition (settings read back after "Register").
  TEngineReader& Reader() { return *reader_; }
  bool Loaded() const { return loaded_; }
  // The response of the page being processed or last processed; null before the first page.
  const IHttpResultPtr& Response() const { return response_; }

  std::string Name;                      // key in the engine list
  std::string OriginalName;              // the first name given
  std::string FileName;                  // the engine definition file
  TSearchResultList PageResults;         // not owning: the accepted records of the page being processed
  TEngineResults* AllResults = nullptr;  // this engine's accumulated records (its list in EngineResults)
  int Index = 0;                         // position in the searcher's engine list
  int Page = 1;                          // page being fetched, from 1, counting the pages of every sub-engine
  int PageCount = 1;                     // pages to fetch at most; never below 1
  TEngineRunState State = ersReset;
  bool Done = false;           // no further page will be fetched
  bool Stopped = false;        // ended because the search was stopped
  bool ErrorReported = false;  // the script reported an error; no "done" event follows
  int ErrorCode = 0;
  std::string ErrorText;
  int ErrorLine = 0;
  bool AuthorizationRequired = false;  // needs UserName and Password
  std::string UserName, Password;      // sent with each request
  std::string Url, PostData;           // the request being made
  int TransferMethod = 0;              // TM_GET 0, TM_HEADERS 1, TM_POST 2
  THttpSearcher* Searcher;             // the owner

 private:
  friend class THttpSearcher;
  // Back to the state before a run; the compiled script is kept.
  void Reset();
  bool Load();
  void Fail(int code, const std::string& text, int line);

  std::unique_ptr<TEngineReader> reader_;
  bool loaded_ = false;
  bool loadFailed_ = false;
  TCompilerMsgItem loadError_;  // why the load failed; a run resets the error fields, not this
  bool errorPending_ = false;   // an error found while preparing, raised when the engine starts
  int scriptErrors_ = 0;        // script errors reported since the last reset
  IHttpResultPtr response_;
};

// A lock-protected list of engines, optionally indexed by name (case-insensitive). Does not own them.
class TIndexedEngineList {
 public:
  explicit TIndexedEngineList(bool indexed = false) : indexed_(indexed) {}
  size_t Count() const;
  // Null when out of range.
  TSearchEngine* At(size_t i) const;
  // By name without regard to case; null when absent.
  TSearchEngine* Find(std::string_view name) const;
  // Appends at the end.
  void Add(TSearchEngine* engine);
  // Takes the first engine out; null when empty.
  TSearchEngine* TakeFirst();
  // Takes `engine` out; the index is rebuilt from its position onward.
  void Remove(TSearchEngine* engine);
  // Forgets every engine (frees none).
  void Clear();
  // A copy of the list, in order.
  std::vector<TSearchEngine*> Items() const;

 protected:
  mutable std::mutex lock_;  // guards items_ and index_
  std::vector<TSearchEngine*> items_;
  std::map<std::string, size_t> index_;  // lower-cased name -> position; only when indexed
  bool indexed_;

 private:
  void RebuildIndexFrom(size_t position);
};

// The engines of a search, indexed by name; owns them and attaches each to the searcher.
class TEngineList : public TIndexedEngineList {
 public:
  explicit TEngineList(THttpSearcher& searcher) : TIndexedEngineList(true), searcher_(searcher) {}
  ~TEngineList();
  // The engine called `name`, added with `fileName` when there is none. Only while the searcher is idle.
  TSearchEngine& FindOrAdd(const std::string& name, const std::string& fileName);
  // Removes and frees every engine. Only while the searcher is idle.
  void DeleteAll();

 private:
  THttpSearcher& searcher_;
  std::vector<std::unique_ptr<TSearchEngine>> owned_;
};

// The engine-running core. Main thread only, unless a member says otherwise.
class THttpSearcher {
 public:
  // `searchType` (not owned) may be null and set later.
  explicit THttpSearcher(TSearchTypeReader* searchType = nullptr,
                         MainDispatcher& dispatcher = MainDispatcher::Default());
  virtual ~THttpSearcher();
  THttpSearcher(const THttpSearcher&) = delete;
  THttpSearcher& operator=(const THttpSearcher&) = delete;

  // Replaces the instance by a new one of `reader` and re-attaches the engines and their results.
  // Ignored while a run is in progress.
  virtual void SetSearchType(TSearchTypeReader* reader);
  TSearchTypeReader* SearchType() const { return searchType_; }
  // The search's field values; fill the input fields before Execute.
  TSearchTypeInstance& Instance() { return *instance_; }
  TEngineList& Engines() { return engines_; }
  TEngineResultList& EngineResults() { return engineResults_; }
  THttpDownloader& Downloader() { return *downloader_; }
  TConnectionDetector& Detector() { return *detector_; }
  // Engines that have finished in this run, in finishing order.
  TIndexedEngineList& FinishedEngines() { return finished_; }
  // Engines of this run not yet started.
  TIndexedEngineList& PendingEngines() { return pending_; }

  // Each setting updates the instance variable of the same name (and MaxThreads the downloader).
  void SetEngineTimeLimit(int milliseconds);
  void SetMaxThreads(int count);
  void SetResultsPerEngine(int count);
  int EngineTimeLimit() const { return engineTimeLimit_; }
  int MaxThreads() const { return maxThreads_; }
  int ResultsPerEngine() const { return resultsPerEngine_; }

  // Resets the engines and loads those not loaded yet; Execute runs it when not already done.
  virtual void Prepare();
  // Starts a run from ssIdle; returns once the first engines have been started. The run goes on while
  // the main thread pumps the dispatcher; Running() turns false (after OnSearchEnd) when it is over.
  void Execute();
  // Stops a run: engines end as their pages come back.
  void Stop();

  TSearcherState State() const { return state_; }
  bool Running() const { return running_; }
  bool Prepared() const { return prepared_; }
  // Engines with an outstanding request. May run on any thread.
  int GetActiveCount() const;
  void SetActiveCount(int count);

  bool Debug = false;             // kept for the engine scripts' debugging aids
  bool DetectConnection = false;  // test the connection before a run
  int ErrorCode = 0;              // last searcher status (THttpSearcherError or a downloader error)
  std::string ErrorText;

  // Events; each optional, all raised on the main thread.
  std::function<void(THttpSearcher&)> OnStatus;  // ErrorCode/ErrorText changed
  std::function<void(THttpSearcher&)> OnSearchStart, OnSearchEnd;
  // The owner may fill UserName/Password or set `stop` to skip the engine.
  std::function<void(TSearchEngine&, bool& stop)> OnEngineAuthorize;
  std::function<void(TSearchEngine&)> OnEngineStarted, OnEngineError, OnEngineDone;
  // PageResults holds the page's accepted records during this event.
  std::function<void(TSearchEngine&)> OnEngineResults;
  std::function<void(TSearchEngine&, int percent)> OnEngineProgress;
  std::function<void(TConnectionDetector&)> OnDetectStart;
  std::function<void(TConnectionDetector&, int status)> OnDetectDone;

 protected:
  // Empties the engine's PageResults (the records belong to AllResults by then).
  virtual void ClearPageResults(TSearchEngine& engine);
  // Called with each page's accepted records in PageResults, already appended to AllResults.
  virtual void ProcessPageResults(TSearchEngine& engine);
  virtual void BeforeSearch();
  virtual void AfterSearch();
  MainDispatcher& Dispatcher() { return dispatcher_; }

 private:
  friend class TSearchEngine;
  friend class TEngineList;
  void Status(int code, const std::string& text = {});
  void ApplyDownloaderSettings();
  void PublishSettings();
  void StartNextEngine();
  void InitEngine(TSearchEngine& engine);
  void RequestPage(TSearchEngine& engine);
  void ProcessPage(TSearchEngine& engine, const IHttpResultPtr& result);
  // Parses the page, merges its records and decides whether another page follows (sets Done if not).
  void ParsePage(TSearchEngine& engine);
  void ReportProgress(TSearchEngine& engine, const IHttpResult* result);
  void PostEngineFinished(TSearchEngine& engine);
  void EngineFinished(TSearchEngine& engine);
  void PostCheckCompletion();
  void CheckCompletion();
  void EngineScriptError(TSearchEngine& engine, const TCompilerMsgItem& error);
  void EngineError(TSearchEngine& engine, int code, const std::string& text, int line = 0);
  // Runs one of the engine's procedures with the input values in their variables; false on a script error.
  bool RunProcedure(TSearchEngine& engine, const std::string& name);
  void ItemDone(const IHttpResultPtr& result);
  void ItemProgress(const IHttpResultPtr& result);
  TSearchEngine* EngineOfItem(int uniqueId, bool release);

  MainDispatcher& dispatcher_;
  std::shared_ptr<bool> alive_;  // posted tasks hold a weak reference: none runs after destruction
  TSearchTypeReader* searchType_ = nullptr;
  std::unique_ptr<TSearchTypeInstance> instance_;
  TEngineResultList engineResults_;
  TEngineList engines_;
  TIndexedEngineList pending_, finished_;
  std::unique_ptr<TConnectionDetector> detector_;
  std::unique_ptr<THttpDownloader> downloader_;
  std::map<int, TSearchEngine*> items_;  // download item id -> engine waiting for it
  mutable std::mutex lock_;              // guards activeCount_
  int activeCount_ = 0;
  int engineTimeLimit_ = 10000;
  int maxThreads_ = 10;
  int resultsPerEngine_ = 10;
  TSearcherState state_ = ssIdle;
  bool running_ = false;
  bool prepared_ = false;
  bool checkPosted_ = false;
  int detectStatus_ = 0;
  bool detectDone_ = false;
};

// The searcher with the master result list: what a search action runs. Typical use: construct with the
// search type, add engines with Engines().FindOrAdd, fill Instance().InputFields, optionally hand earlier
// results to ResultManager().StoredRecords(), then Execute() and pump the dispatcher until !Running();
// the merged list is ResultManager().SortedMasters(), with OldResults() holding stored ones not found again.
class THttpSearchManager : public THttpSearcher {
 public:
  explicit THttpSearchManager(TSearchTypeReader* searchType = nullptr,
                              MainDispatcher& dispatcher = MainDispatcher::Default());
  ~THttpSearchManager() override;

  void SetSearchType(TSearchTypeReader* reader) override;
  // Also resets the master list (seeding it from StoredRecords).
  void Prepare() override;
  TResultManager& ResultManager() { return *results_; }

  // Raised after each page with the masters created (NewResults) or found again (UpdatedResults)
  // since the last report; the lists are emptied after the event.
  std::function<void(THttpSearchManager&)> OnNewResults, OnUpdatedResults;

 protected:
  void ProcessPageResults(TSearchEngine& engine) override;
  void AfterSearch() override;

 private:
  std::unique_ptr<TResultManager> results_;
};

}  // namespace vandrel

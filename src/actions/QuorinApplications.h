// The action runner: queues operations, runs one action at a time and tells its observers about each step.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "actions/AppErrors.h"
#include "actions/QuorinActions.h"
#include "actions/QuorinOperations.h"
#include "platform/MainDispatcher.h"

namespace vandrel {

class TStorageDataList;
class ISearchHistoryItemIntf;        // an opened history item of the search history
class ISearchHistoryResultItemIntf;  // the opened results of one stored search

// The program's version as the packaging states it: "version|build|language|edition".
struct TQuorinVersionInfo {
  std::string Version;      // "0.95"
  std::string BuildNumber;  // "0957"
  std::string Language;     // "ENG"
  std::string Edition;      // "DAZUZIREDA"

  // Anything but exactly four parts leaves all four empty.
  static TQuorinVersionInfo Parse(const std::string& productVersion);
  // The values this program was built with.
  static TQuorinVersionInfo FromBuild();
};

// VALUES: observers and the front ends compare these numbers.
enum TQuorinApplicationState : uint8_t {
  asIdle = 0,
  asPreparing = 1,  // an action was created and is being prepared and bound
  asStarting = 2,   // its Start() is running
  asRunning = 3,    // it reported ActionStarted
  asStopping = 4,   // a stop was asked for while it ran
  asFinished = 5,   // it reported ActionFinished; its disposal is pending
};

class TQuorinApplication;

// The runner's observers (windows, the storage manager). Main thread only.
class IQuorinApplicationObserver {
 public:
  virtual ~IQuorinApplicationObserver() = default;
  virtual void StorageProgress(const void* sender, int percent) {}
  // `owner` is the history item that opened `list`, for identity only.
  virtual void ListOpened(const void* owner, TStorageDataList* list) {}
  // The action exists, is prepared and bound, and has not started: the time to configure it.
  virtual void ActionStarting(TQuorinAction& action) {}
  virtual void ActionStarted(TQuorinAction& action) {}
  virtual void ActionFinished(TQuorinAction& action) {}
  // Once at the start and once at the end of a run of queued actions.
  virtual void Busy() {}
  virtual void Idle() {}
  virtual void Error(TQuorinActionResult code) {}
};

// What the runner opens for an operation on a stored search; both are current while its action runs.
struct TStoredSearchBinding {
  std::shared_ptr<ISearchHistoryItemIntf> Item;
  std::shared_ptr<ISearchHistoryResultItemIntf> Result;
};

// Finds `folder` in the history, opens its item and the results of stored search `srhNum`; nullopt when
// any of them cannot be found or opened. Must not throw.
using TStoredSearchBinder = std::function<std::optional<TStoredSearchBinding>(
    TSearchHistory* history, const std::string& folder, int srhNum)>;

// Creates and owns the objects the runner lives with; the units that define them supply it.
struct TQuorinApplicationParts {
  std::unique_ptr<TEngineRepository, void (*)(TEngineRepository*)> Repository{nullptr, nullptr};
  std::unique_ptr<TSearchHistory, void (*)(TSearchHistory*)> History{nullptr, nullptr};
  TStoredSearchBinder BindStoredSearch;  // empty: an operation naming a folder cannot start
};

// Runs queued operations one after another. Everything here is main thread only; a finished action is
// freed from a message posted to `dispatcher`, never inside one of its own calls.
class TQuorinApplication {
 public:
  // The program's runner, over the global action repository and the process's dispatcher.
  static TQuorinApplication& Instance();

  TQuorinApplication(TQuorinActionRepository& actions, MainDispatcher& dispatcher,
                     TQuorinApplicationParts parts = {});
  ~TQuorinApplication();
  TQuorinApplication(const TQuorinApplication&) = delete;
  TQuorinApplication& operator=(const TQuorinApplication&) = delete;

  // Hands the runner the catalogue, the history and the binder it owns from then on; the previous ones
  // are freed. Only while idle: a running action refers to them. Returns whether they were taken.
  bool InstallParts(TQuorinApplicationParts parts);

  // The queue owns it from here.
  void Enqueue(std::unique_ptr<TQuorinOperation> operation);
  // arBusy while an action is under way; otherwise RunNext(). A failure is also told through Error,
  // except arBusy: the queued operations will still run.
  TQuorinActionResult Run();
  // arQueueEmpty, or runs the first queued operation.
  TQuorinActionResult RunNext();
  // Queues `operation` and runs it when nothing else is under way; behind a running action it waits and
  // the answer is arOk.
  TQuorinActionResult Submit(std::unique_ptr<TQuorinOperation> operation);
  // Asks the current action to stop (an asynchronous one also while it is starting); with `clearQueue`,
  // what waits in the queue is dropped first.
  TQuorinActionResult Stop(bool clearQueue);

  // `first`: notified before every other observer (the storage manager).
  void AddObserver(IQuorinApplicationObserver* observer, bool first = false);
  void RemoveObserver(IQuorinApplicationObserver* observer);
  // Relayed from the storage manager and the search history.
  void NotifyStorageProgress(const void* sender, int percent);
  void NotifyListOpened(const void* owner, TStorageDataList* list);

  TQuorinApplicationState State() const { return State_; }
  bool IsBusy() const { return Busy_; }
  TQuorinAction* CurrentAction() const { return Current_.get(); }
  ISearchHistoryItemIntf* CurrentHistoryItem() const { return Binding_.Item.get(); }
  ISearchHistoryResultItemIntf* CurrentResultItem() const { return Binding_.Result.get(); }
  const TQuorinOperationQueue& Queue() const { return Queue_; }
  TEngineRepository* Repository() const { return Parts_.Repository.get(); }
  TSearchHistory* History() const { return Parts_.History.get(); }
  const TQuorinVersionInfo& VersionInfo() const { return Version_; }

 private:
  class TActionObserver;
  class TActionCall;
  friend class TActionObserver;

  void ActionStarted();
  void ActionFinished();
  void PostDisposal();
  void DisposeFinished(uint64_t serial);
  void EndRun();
  void ForEachObserver(const std::function<void(IQuorinApplicationObserver&)>& callback);

  TQuorinActionRepository& Actions_;
  MainDispatcher& Dispatcher_;
  TQuorinApplicationParts Parts_;
  TQuorinVersionInfo Version_;
  TQuorinOperationQueue Queue_;
  TQuorinApplicationState State_ = asIdle;
  bool Busy_ = false;  // from the first started action of a run until the queue runs dry
  std::unique_ptr<TQuorinAction> Current_;
  uint64_t CurrentSerial_ = 0;  // tells a pending disposal whether its action is still the current one
  int ActionCallDepth_ = 0;     // nesting of the runner's own calls into the current action
  bool DisposalDue_ = false;    // the action finished inside such a call; post its disposal on return
  TStoredSearchBinding Binding_;
  std::vector<IQuorinApplicationObserver*> Observers_;  // not owned
  std::unique_ptr<TActionObserver> ActionObserver_;
  // Posted disposals hold a weak reference, so one that arrives after the runner is gone does nothing.
  std::shared_ptr<TQuorinApplication*> Self_;
};

}  // namespace vandrel

// Actions: the objects that carry out queued operations, their observers, and the registry that says which
// action serves which operation.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "actions/AppErrors.h"
#include "actions/QuorinOperations.h"

namespace vandrel {

class TEngineRepository;  // the catalogue of engines, categories and search types
class TSearchHistory;     // the user's stored searches and results

// Told by an action when it has really started and when it has finished. Main thread only.
class IQuorinActionObserver {
 public:
  virtual ~IQuorinActionObserver() = default;
  virtual void ActionStarted() {}
  virtual void ActionFinished() {}
};

class IQuorinAsynchronousActionObserver : public IQuorinActionObserver {
 public:
  virtual void ProgressChanged(int percent) {}
};

// One piece of long-running work. Created by the runner for an operation, then prepared, bound and
// started; it reports back through its observers and is disposed of by the runner after it finished.
// Main thread only.
class TQuorinAction {
 public:
  TQuorinAction() = default;
  virtual ~TQuorinAction() = default;
  TQuorinAction(const TQuorinAction&) = delete;
  TQuorinAction& operator=(const TQuorinAction&) = delete;

  virtual void NotifyStarted(IQuorinActionObserver& observer) { observer.ActionStarted(); }
  virtual void NotifyFinished(IQuorinActionObserver& observer) { observer.ActionFinished(); }
  // Takes the shared catalogue and history; subclasses load what they need. Either may be null.
  virtual bool Prepare(TEngineRepository* repository, TSearchHistory* history);
  // Copies what the action needs: the operation is freed right after.
  virtual bool Bind(const TQuorinOperation& operation) { return true; }
  // Registration order is notification order; adding an observer twice keeps one entry.
  virtual void AddObserver(IQuorinActionObserver* observer);
  virtual void RemoveObserver(IQuorinActionObserver* observer);
  // False: the action did not start and will report nothing more.
  virtual bool Start() = 0;

  TEngineRepository* Repository() const { return Repository_; }
  TSearchHistory* History() const { return History_; }

 protected:
  // Calls `callback` for each observer that implements I, in registration order. Walks a copy and skips
  // observers removed meanwhile, so one may remove itself or another while it is told without the next
  // one being missed or a removed one being called.
  template <class I>
  void ForEachObserver(const std::function<void(I&)>& callback) {
    const std::vector<IQuorinActionObserver*> observers = Observers_;
    for (IQuorinActionObserver* observer : observers)
      if (IsObserver(observer))
        if (auto* o = dynamic_cast<I*>(observer)) callback(*o);
  }
  bool IsObserver(const IQuorinActionObserver* observer) const;
  void NotifyAllStarted();
  void NotifyAllFinished();

  TEngineRepository* Repository_ = nullptr;
  TSearchHistory* History_ = nullptr;

 private:
  std::vector<IQuorinActionObserver*> Observers_;  // not owned
};

// An action whose work goes on after Start() returned; it can report progress and be asked to stop.
class TQuorinAsynchronousAction : public TQuorinAction {
 public:
  virtual void NotifyProgress(IQuorinAsynchronousActionObserver& observer) {
    observer.ProgressChanged(Progress_);
  }
  // Asks the work to end; the action still finishes through ActionFinished.
  virtual void Stop() = 0;

  int Progress() const { return Progress_; }
  // A changed value is told to every asynchronous-action observer.
  void SetProgress(int percent);

 private:
  int Progress_ = 0;  // percent
};

using TQuorinActionFactory = std::function<std::unique_ptr<TQuorinAction>()>;

// One registration: how to create the action, and the class name of the operation it serves.
struct TActionItem {
  TQuorinActionFactory CreateAction;
  std::string OperationClassName;
};

// Which action serves which operation. One global instance; main thread only.
class TQuorinActionRepository {
 public:
  static constexpr int kCategoryCount = 4;
  // ORDER: category numbers; searches are looked up before updates.
  static constexpr int kSearchCategory = 0;
  static constexpr int kUpdateCategory = 2;

  static TQuorinActionRepository& Instance();

  // Also makes the operation class known to stream readers.
  void Register(int category, TQuorinActionFactory createAction, const TClassInfo& operationClass);
  void RegisterSearchAction(TQuorinActionFactory createAction, const TClassInfo& operationClass) {
    Register(kSearchCategory, std::move(createAction), operationClass);
  }
  void RegisterUpdateAction(TQuorinActionFactory createAction, const TClassInfo& operationClass) {
    Register(kUpdateCategory, std::move(createAction), operationClass);
  }
  // The first registration, categories in order, whose operation class name equals the operation's.
  const TActionItem* FindActionClass(const TQuorinOperation& operation) const;
  void Clear();

 private:
  std::array<std::vector<TActionItem>, kCategoryCount> Categories_;
};

}  // namespace vandrel

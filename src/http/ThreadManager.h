// Runs work items on a bounded pool of worker threads, with time limits, cancellation, two priorities and
// callbacks delivered on the main thread; one manager thread takes every control decision in event order.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/MainDispatcher.h"

namespace vandrel {

// ORDER/VALUES: the states are compared by number by callers; never renumber.
enum TThreadManagerState : uint8_t { tmsIdle = 0, tmsInitializing = 1, tmsRunning = 2, tmsStopping = 3 };
enum TThreadItemState : uint8_t {
  tisWaiting = 0,
  tisRunning = 1,
  tisDone = 2,
  tisCanceled = 3,
  tisTimedOut = 4
};

// An operation that did not fit the manager's state. Operation: 2 Start, 3 run one item, 4 Stop.
struct TThreadError {
  enum Operation : int { opStart = 2, opRunItem = 3, opStop = 4 };
  enum Reason : int {
    reAlreadyRunning = 1,
    reNotRunning = 2,
    reNothingToDo = 3,
    reInvalidControlMode = 4,
    reAlreadyStopping = 5,
    reInvalidUniqueId = 6,
  };
  int Operation = 0;
  int Reason = 0;
  std::string Text() const;
};

// The work of one item; implemented by its owner (a download item).
class IClientItem {
 public:
  virtual ~IClientItem() = default;
  // The work itself. Runs on a worker thread; an exception is contained by the manager.
  virtual void Execute() = 0;
  // Runs on the manager thread just before the item starts.
  virtual void Prepare() = 0;
  // Cancels the work. Runs on a short-lived stop thread, concurrently with Execute.
  virtual void Stop() = 0;
};

// A call to be run on the main thread while the calling thread waits.
class IClientEvent {
 public:
  virtual ~IClientEvent() = default;
  virtual void Execute() = 0;
};

class TThreadManagerCore;

// One unit of work as the owner sees it. Reference-counted; thread-safe.
class IThreadItem {
 public:
  virtual ~IThreadItem() = default;
  virtual TThreadItemState GetState() const = 0;
  virtual int GetTag() const = 0;
  virtual std::shared_ptr<IClientItem> GetClient() const = 0;
  virtual int GetUniqueId() const = 0;
  virtual int GetTimeLimit() const = 0;  // milliseconds, 0 = none
  virtual void Run() = 0;                // starts this item by id (item-by-item mode)
  virtual void RunPriority() = 0;
  virtual void SetTag(int tag) = 0;
  virtual void SetTimeLimit(int ms) = 0;
  // Runs `event` on the main thread and waits for it; exceptions inside it are ignored.
  virtual void Synchronize(IClientEvent& event) = 0;
};

using TThreadItemPtr = std::shared_ptr<IThreadItem>;

// The pool. Owned by one object on the main thread; every public call may come from any thread except
// the destructor, which must run on the thread that pumps the dispatcher (or one that never needs it).
class TThreadManager {
 public:
  using TRunEvent = std::function<void()>;
  using TItemEvent = std::function<void(int uniqueId, const TThreadItemPtr& item)>;
  using TErrorEvent = std::function<void(const TThreadError& error)>;

  // Control modes.
  static constexpr int kBatchMode = 0;       // Start runs every added item
  static constexpr int kItemByItemMode = 1;  // each item is started by its unique id
  static constexpr int kDefaultMaxThreads = 10;
  // How long ending a thread may take before it is abandoned to finish on its own.
  static constexpr int kEndWaitMs = 5000;

  explicit TThreadManager(MainDispatcher& dispatcher = MainDispatcher::Default());
  ~TThreadManager();
  TThreadManager(const TThreadManager&) = delete;
  TThreadManager& operator=(const TThreadManager&) = delete;

  // A new item bound to this manager, running `client`.
  TThreadItemPtr CreateItem(std::shared_ptr<IClientItem> client);
  // Appends to the added list (batch mode's Start picks them up; item-by-item mode starts them by id).
  void AddItem(const TThreadItemPtr& item);
  // Queues the item for a priority start, in either mode; this is how follow-up work joins a run.
  void AddAndRun(const TThreadItemPtr& item);
  void Start();
  void Stop();
  void RunItem(int uniqueId);
  void RunItemPriority(int uniqueId);

  // Each of these only acts while idle.
  void SetMaxThreads(int value);  // values below 1 are ignored
  int GetMaxThreads() const;
  // Answers the current state instead of changing anything when not idle.
  TThreadManagerState SetControlMode(int mode);
  int GetControlMode() const;
  void SetUseTimeLimit(bool value);
  bool GetUseTimeLimit() const;

  // How long shutting down waits for each of its threads before abandoning it.
  void SetEndWaitLimit(std::chrono::milliseconds limit);

  TThreadManagerState GetState() const;
  bool IsRunning() const { return GetState() == tmsRunning; }
  int RunningCount() const;

  // Callbacks, all optional, all delivered on the main thread.
  void SetOnRunStarted(TRunEvent handler);
  void SetOnRunDone(TRunEvent handler);
  void SetOnItemStarted(TItemEvent handler);
  void SetOnItemDone(TItemEvent handler);
  void SetOnError(TErrorEvent handler);

 private:
  std::shared_ptr<TThreadManagerCore> core_;
};

}  // namespace vandrel

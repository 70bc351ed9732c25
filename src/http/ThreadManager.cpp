#include "http/ThreadManager.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>

#include "platform/Format.h"
#include "platform/Guarded.h"

namespace vandrel {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Manager event kinds (code kMsgThreadEvent). VALUES: kept as the manager has always numbered them.
enum ManagerEventKind : int {
  mekNextItem = 1,
  mekNextPriorityItem = 2,
  mekStart = 4,
  mekStop = 5,
  mekItemDone = 6,
};
// Time-limit event kinds (code kMsgTimeLimit).
enum TimeLimitEventKind : int { tlkArm = 1, tlkDisarm = 2 };
// Code 1, kind 1 ends any event queue.
constexpr int kQuitCode = 1;
constexpr int kQuitKind = 1;

void NameThisThread(const char* name) {
  pthread_setname_np(pthread_self(), name);
}

// Workers yield to the main and manager threads; failing to renice is harmless.
void LowerThisThreadsPriority() {
  auto tid = static_cast<id_t>(::gettid());
  errno = 0;
  int current = ::getpriority(PRIO_PROCESS, tid);
  if (errno == 0) (void)::setpriority(PRIO_PROCESS, tid, current + 1);
}

void Trace(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
}

// A thread that tells when it has ended, so waits for it can be bounded and then abandon it.
class TEndableThread {
 public:
  template <class F>
  void Launch(F body) {
    auto ended = ended_;
    thread_ = std::thread([ended, body = std::move(body)]() mutable {
      {
        auto run = std::move(body);  // its captures are dropped before the end is announced
        run();
      }
      std::lock_guard<std::mutex> g(ended->lock);
      ended->flag = true;
      ended->cv.notify_all();
    });
  }
  bool Started() const { return thread_.joinable(); }
  bool HasEnded() const {
    std::lock_guard<std::mutex> g(ended_->lock);
    return ended_->flag;
  }
  // Waits up to `limit`; on the dispatcher's main thread the wait keeps pumping it, because the thread
  // may itself be waiting for the main thread. A thread that does not end in time is detached: nothing
  // is ever killed.
  bool EndOrAbandon(MainDispatcher& dispatcher, milliseconds limit) {
    if (!thread_.joinable()) return true;
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
      return false;
    }
    bool ended;
    if (dispatcher.IsMainThread()) {
      ended = dispatcher.RunUntil([this] { return HasEnded(); }, limit, milliseconds(2));
    } else {
      std::unique_lock<std::mutex> g(ended_->lock);
      ended = ended_->cv.wait_for(g, limit, [this] { return ended_->flag; });
    }
    if (ended) {
      thread_.join();
    } else {
      thread_.detach();
    }
    return ended;
  }
  ~TEndableThread() {
    if (thread_.joinable()) thread_.detach();
  }

 private:
  struct Ended {
    std::mutex lock;
    std::condition_variable cv;
    bool flag = false;
  };
  std::shared_ptr<Ended> ended_ = std::make_shared<Ended>();
  std::thread thread_;
};

struct TEventObj {
  int Code = 0;
  int Kind = 0;
  int Param = 0;
  int Param2 = 0;  // time-limit arm: the interval in milliseconds
};

// A thread consuming a queue of events in order. A subclass handles them; it may also ask to be woken
// at a deadline (timers).
class TEventQueue {
 public:
  // `code`: the one event code this queue handles; any other is traced and dropped.
  explicit TEventQueue(int code) : code_(code) {}
  virtual ~TEventQueue() = default;

  void Post(int code, int kind, int param = 0, int param2 = 0) {
    {
      std::lock_guard<std::mutex> g(lock_);
      events_.push_back(TEventObj{code, kind, param, param2});
    }
    hasEvents_.notify_all();
  }
  size_t Count() const {
    std::lock_guard<std::mutex> g(lock_);
    return events_.size();
  }

  // `keepAlive` is held by the thread for its whole life, so an abandoned thread never outlives what it
  // touches.
  void StartThread(const char* name, std::shared_ptr<void> keepAlive) {
    thread_.Launch([this, name, keepAlive] {
      NameThisThread(name);
      Loop();
    });
  }
  bool End(MainDispatcher& dispatcher, milliseconds limit) {
    if (!thread_.Started()) return true;
    Post(kQuitCode, kQuitKind);
    return thread_.EndOrAbandon(dispatcher, limit);
  }

 protected:
  virtual void Handle(const TEventObj& event) = 0;
  // The next time OnWake should run; Clock::time_point::max() for none. Called on the queue's thread.
  virtual Clock::time_point NextWake() { return Clock::time_point::max(); }
  virtual void OnWake() {}

 private:
  void Loop() {
    for (;;) {
      TEventObj event;
      {
        std::unique_lock<std::mutex> g(lock_);
        auto wake = NextWake();
        if (events_.empty()) {
          if (wake == Clock::time_point::max()) {
            hasEvents_.wait(g, [this] { return !events_.empty(); });
          } else {
            hasEvents_.wait_until(g, wake, [this] { return !events_.empty(); });
          }
        }
        if (events_.empty()) {
          g.unlock();
          OnWake();
          continue;
        }
        event = events_.front();
        events_.pop_front();
      }
      if (event.Code == kQuitCode && event.Kind == kQuitKind) return;
      if (event.Code != code_) {
        Trace(Format("Unhandled event %d %d", {event.Code, event.Kind}));
        continue;
      }
      try {
        Handle(event);
      } catch (const std::exception& e) {
        Trace(Format("Exception handling event %d %d %s", {event.Code, event.Kind, e.what()}));
      } catch (...) {
        Trace(Format("Exception handling event %d %d %s", {event.Code, event.Kind, "unknown"}));
      }
    }
  }

  const int code_;
  mutable std::mutex lock_;  // guards events_
  std::condition_variable hasEvents_;
  std::deque<TEventObj> events_;
  TEndableThread thread_;
};

}  // namespace

class TThreadItem;
class TRunThread;
using TThreadItemImplPtr = std::shared_ptr<TThreadItem>;

// Counts stop threads still running so that shutting down can wait for them.
struct TStopThreadCount {
  std::mutex lock;
  std::condition_variable cv;
  int count = 0;
};

// ---------------------------------------------------------------------------------------------------
// One work item.

class TThreadItem : public IThreadItem, public std::enable_shared_from_this<TThreadItem> {
 public:
  TThreadItem(std::weak_ptr<TThreadManagerCore> manager, int uniqueId, std::shared_ptr<IClientItem> client)
      : manager_(std::move(manager)), uniqueId_(uniqueId), client_(std::move(client)) {}

  TThreadItemState GetState() const override { return ReadLocked(lock_, state_); }
  int GetTag() const override { return ReadLocked(lock_, tag_); }
  std::shared_ptr<IClientItem> GetClient() const override { return ReadLocked(lock_, client_); }
  int GetUniqueId() const override { return uniqueId_; }
  int GetTimeLimit() const override { return ReadLocked(lock_, timeLimit_); }
  void Run() override;
  void RunPriority() override;
  void SetTag(int tag) override { WriteLocked(lock_, tag_, tag); }
  void SetTimeLimit(int ms) override { WriteLocked(lock_, timeLimit_, std::max(0, ms)); }
  void Synchronize(IClientEvent& event) override;

  void SetState(TThreadItemState state) { WriteLocked(lock_, state_, state); }
  // Sets tisDone unless the item was canceled or timed out meanwhile.
  void MarkDone() {
    std::lock_guard<std::mutex> g(lock_);
    if (state_ == tisRunning) state_ = tisDone;
  }
  void SetClient(std::shared_ptr<IClientItem> client) { WriteLocked(lock_, client_, std::move(client)); }
  int GetSlotIndex() const { return ReadLocked(lock_, slotIndex_); }
  void SetSlotIndex(int index) { WriteLocked(lock_, slotIndex_, index); }
  void SetThread(std::shared_ptr<TRunThread> thread) { WriteLocked(lock_, thread_, std::move(thread)); }
  void ClearThread() { SetThread(nullptr); }
  void ClearStopThread() { WriteLocked(lock_, stopThreadLaunched_, false); }

  // Manager thread: prepares the client, marks the item running, then wakes its worker. The state is
  // set before the worker wakes, because the worker only executes a running item.
  void Start();
  // Runs the client's work on the worker thread; nothing escapes.
  void Execute() {
    auto client = GetClient();
    if (!client) return;
    try {
      client->Execute();
    } catch (...) {
    }
  }
  // Cancel and TimeOut act only on a running item; each hands the client's Stop to a stop thread so
  // that the caller never blocks on a transfer. Answers whether the item was stopped.
  bool Cancel(const std::shared_ptr<TStopThreadCount>& stopThreads) {
    return StopAs(tisCanceled, stopThreads);
  }
  bool TimeOut(const std::shared_ptr<TStopThreadCount>& stopThreads) {
    return StopAs(tisTimedOut, stopThreads);
  }

 private:
  bool StopAs(TThreadItemState state, const std::shared_ptr<TStopThreadCount>& stopThreads);

  std::weak_ptr<TThreadManagerCore> manager_;  // weak: the manager's lists hold the items
  const int uniqueId_;
  std::mutex startStopLock_;  // serialises Start against Cancel/TimeOut
  mutable std::mutex lock_;   // guards the fields below
  TThreadItemState state_ = tisWaiting;
  int timeLimit_ = 0;  // milliseconds, 0 = none
  int tag_ = 0;
  int slotIndex_ = -1;
  std::shared_ptr<IClientItem> client_;  // cleared once the item is done, which breaks the owner's cycle
  std::shared_ptr<TRunThread> thread_;   // the worker while the item occupies a slot
  bool stopThreadLaunched_ = false;
};

// ---------------------------------------------------------------------------------------------------
// The worker of one slot; it stays with its slot for the whole run.

class TRunThread : public std::enable_shared_from_this<TRunThread> {
 public:
  explicit TRunThread(int slot) : slot_(slot) {}

  void Resume(std::shared_ptr<TThreadManagerCore> manager);
  void SetItem(TThreadItemImplPtr item) { WriteLocked(lock_, item_, std::move(item)); }
  void Run() { Signal(runSignal_); }
  void Terminate() { Signal(terminateSignal_); }
  bool WaitFor(MainDispatcher& dispatcher, milliseconds limit) {
    return thread_.EndOrAbandon(dispatcher, limit);
  }

 private:
  void Signal(bool& flag) {
    {
      std::lock_guard<std::mutex> g(lock_);
      flag = true;
    }
    cv_.notify_all();
  }
  void Loop(const std::shared_ptr<TThreadManagerCore>& manager);

  const int slot_;
  std::mutex lock_;  // guards the signals and item_
  std::condition_variable cv_;
  bool runSignal_ = false;        // auto-reset
  bool terminateSignal_ = false;  // auto-reset
  TThreadItemImplPtr item_;
  TEndableThread thread_;
};

struct TRunningItem {
  TThreadItemImplPtr Item;             // none while the slot is free
  std::shared_ptr<TRunThread> Thread;  // created on first use, reused afterwards
};

// A list with its own lock; every access locks it.
class TSafeThreadItemList {
 public:
  void Add(TThreadItemImplPtr item) {
    std::lock_guard<std::mutex> g(lock_);
    items_.push_back(std::move(item));
  }
  void AddFront(std::vector<TThreadItemImplPtr> items) {
    std::lock_guard<std::mutex> g(lock_);
    items_.insert(items_.begin(), items.begin(), items.end());
  }
  TThreadItemImplPtr TakeFirst() {
    std::lock_guard<std::mutex> g(lock_);
    if (items_.empty()) return nullptr;
    auto item = std::move(items_.front());
    items_.pop_front();
    return item;
  }
  TThreadItemImplPtr TakeById(int uniqueId) {
    std::lock_guard<std::mutex> g(lock_);
    for (auto it = items_.begin(); it != items_.end(); ++it) {
      if ((*it)->GetUniqueId() != uniqueId) continue;
      auto item = std::move(*it);
      items_.erase(it);
      return item;
    }
    return nullptr;
  }
  std::vector<TThreadItemImplPtr> TakeAll() {
    std::lock_guard<std::mutex> g(lock_);
    std::vector<TThreadItemImplPtr> all(items_.begin(), items_.end());
    items_.clear();
    return all;
  }
  bool Empty() const {
    std::lock_guard<std::mutex> g(lock_);
    return items_.empty();
  }

 private:
  mutable std::mutex lock_;
  std::deque<TThreadItemImplPtr> items_;
};

// ---------------------------------------------------------------------------------------------------
// The manager's state, shared with its threads so that an abandoned thread never touches freed memory.

class TTimeLimitThread;

class TThreadManagerCore : public std::enable_shared_from_this<TThreadManagerCore> {
 public:
  explicit TThreadManagerCore(MainDispatcher& dispatcher) : dispatcher_(dispatcher) {}
  ~TThreadManagerCore();

  void Open();
  void Shutdown();

  int NextUniqueId() {
    std::lock_guard<std::mutex> g(idLock_);
    return ++lastUniqueId_;
  }
  TThreadManagerState GetState() const { return ReadLocked(stateLock_, state_); }
  void SetState(TThreadManagerState state) { WriteLocked(stateLock_, state_, state); }

  void PostEvent(int kind, int param = 0);
  void AddItem(const TThreadItemPtr& item) {
    if (auto own = Own(item)) added_.Add(std::move(own));
  }
  void AddAndRun(const TThreadItemPtr& item) {
    auto own = Own(item);
    if (!own) return;
    priorityStartQueue_.Add(std::move(own));
    ++pendingStarts_;
    PostEvent(mekNextPriorityItem);
  }
  void RunItem(int uniqueId, bool priority);
  void Synchronize(IClientEvent& event);
  // Time-limit thread: a timer of a running item fired.
  void TimeLimitReached(int uniqueId);

  bool SetMaxThreads(int value) {
    std::lock_guard<std::mutex> g(stateLock_);
    if (state_ != tmsIdle || value < 1) return false;
    maxThreads_ = value;
    return true;
  }
  int GetMaxThreads() const { return ReadLocked(stateLock_, maxThreads_); }
  TThreadManagerState SetControlMode(int mode) {
    std::lock_guard<std::mutex> g(stateLock_);
    if (state_ == tmsIdle) controlMode_ = mode;
    return state_;
  }
  int GetControlMode() const { return ReadLocked(stateLock_, controlMode_); }
  void SetUseTimeLimit(bool value);
  bool GetUseTimeLimit() const { return ReadLocked(stateLock_, useTimeLimit_); }
  int RunningCount() const { return runningCount_.load(); }
  void SetEndWait(milliseconds limit) { endWait_ = limit; }
  MainDispatcher& Dispatcher() { return dispatcher_; }
  const std::shared_ptr<TStopThreadCount>& StopThreads() const { return stopThreads_; }

  struct Callbacks {
    TThreadManager::TRunEvent runStarted, runDone;
    TThreadManager::TItemEvent itemStarted, itemDone;
    TThreadManager::TErrorEvent error;
  };
  template <class F>
  void EditCallbacks(F edit) {
    std::lock_guard<std::mutex> g(callbackLock_);
    edit(callbacks_);
  }

  // Worker threads: the item of `slot` has finished.
  void PostItemDone(int slot) { PostEvent(mekItemDone, slot); }
  void HandleEvent(const TEventObj& event);

 private:
  TThreadItemImplPtr Own(const TThreadItemPtr& item) {
    auto own = std::dynamic_pointer_cast<TThreadItem>(item);
    return own;
  }
  Callbacks CopyCallbacks() {
    std::lock_guard<std::mutex> g(callbackLock_);
    return callbacks_;
  }
  // Runs `call` on the main thread while this thread waits. After the owner let go of the manager
  // nothing more reaches it, even from a thread that was abandoned.
  void DeliverOnMain(const std::function<void()>& call) {
    ++synchronizeCount_;
    auto self = shared_from_this();
    dispatcher_.InvokeAndWait(
        [self, &call] {
          if (self->closed_) return;
          try {
            call();
          } catch (...) {
          }
        },
        kMsgThreadEvent);
    --synchronizeCount_;
  }
  void ReportError(int operation, int reason) {
    auto cb = CopyCallbacks().error;
    if (!cb) return;
    TThreadError error{operation, reason};
    DeliverOnMain([&] { cb(error); });
  }

  void HandleStart();
  void HandleStop();
  void HandleNextItem(bool priority);
  void HandleItemDone(int slot);
  void BeginRun();
  void Dispatch(const TThreadItemImplPtr& item, bool priority);
  void PutInSlot(int index, const TThreadItemImplPtr& item);
  void StartSlot(int index);
  void FillSlot(int index);
  void EndRunIfFinished();
  void NotifyStarted(const TThreadItemImplPtr& item);
  void NotifyDone(const TThreadItemImplPtr& item);
  void ReleaseWorkers(MainDispatcher& dispatcher);
  // Items that will never run let go of their clients, which usually hold the items in turn.
  static void ReleaseAll(TSafeThreadItemList& list) {
    for (auto& item : list.TakeAll()) item->SetClient(nullptr);
  }

  MainDispatcher& dispatcher_;
  std::atomic<milliseconds> endWait_{
      milliseconds(TThreadManager::kEndWaitMs)};  // set by the owner before shutting down
  mutable std::mutex stateLock_;                  // guards state_ and the settings below
  TThreadManagerState state_ = tmsIdle;
  int controlMode_ = TThreadManager::kBatchMode;
  int maxThreads_ = TThreadManager::kDefaultMaxThreads;
  bool useTimeLimit_ = false;

  std::mutex idLock_;
  int lastUniqueId_ = 0;  // ids start at 1

  TSafeThreadItemList added_, startQueue_, priorityStartQueue_, waiting_, priorityWaiting_;
  mutable std::mutex slotsLock_;  // guards slots_
  std::vector<TRunningItem> slots_;
  std::mutex dispatchLock_;

  std::atomic<int> runningCount_{0};
  std::atomic<int> pendingStarts_{0};
  std::atomic<int> synchronizeCount_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> closed_{false};  // main thread only: the owner has let go

  std::mutex callbackLock_;
  Callbacks callbacks_;

  std::shared_ptr<TStopThreadCount> stopThreads_ = std::make_shared<TStopThreadCount>();
  std::unique_ptr<TEventQueue> managerThread_;
  std::mutex timeLimitLock_;  // guards timeLimitThread_
  std::unique_ptr<TTimeLimitThread> timeLimitThread_;
};

// ---------------------------------------------------------------------------------------------------

namespace {

class TManagerThread : public TEventQueue {
 public:
  explicit TManagerThread(TThreadManagerCore& core) : TEventQueue(kMsgThreadEvent), core_(core) {}

 protected:
  void Handle(const TEventObj& event) override { core_.HandleEvent(event); }

 private:
  TThreadManagerCore& core_;
};

}  // namespace

// Repeating timers, one per running item with a time limit, keyed by the item's unique id. A timer is
// only removed on disarm, so a tick for an item that already stopped finds it no longer running.
class TTimeLimitThread : public TEventQueue {
 public:
  explicit TTimeLimitThread(TThreadManagerCore& core) : TEventQueue(kMsgTimeLimit), core_(core) {}

 protected:
  void Handle(const TEventObj& event) override {
    if (event.Kind == tlkArm) {
      if (event.Param2 > 0)
        timers_[event.Param] = Timer{milliseconds(event.Param2), Clock::now() + milliseconds(event.Param2)};
    } else if (event.Kind == tlkDisarm) {
      timers_.erase(event.Param);
    } else {
      Trace(Format("Unhandled event %d %d", {event.Code, event.Kind}));
    }
  }
  Clock::time_point NextWake() override {
    auto next = Clock::time_point::max();
    for (auto& [id, timer] : timers_) next = std::min(next, timer.due);
    return next;
  }
  void OnWake() override {
    auto now = Clock::now();
    std::vector<int> fired;
    for (auto& [id, timer] : timers_) {
      if (timer.due > now) continue;
      fired.push_back(id);
      timer.due = now + timer.interval;
    }
    for (int id : fired) core_.TimeLimitReached(id);
  }

 private:
  struct Timer {
    milliseconds interval;
    Clock::time_point due;
  };
  TThreadManagerCore& core_;
  std::map<int, Timer> timers_;  // this thread only
};

// ---------------------------------------------------------------------------------------------------

std::string TThreadError::Text() const {
  switch (Reason) {
    case reAlreadyRunning:
      return "Already running";
    case reNotRunning:
      return "Not running";
    case reNothingToDo:
      return "Nothing to do";
    case reInvalidControlMode:
      return "Invalid control mode";
    case reAlreadyStopping:
      return "Already stopping";
    case reInvalidUniqueId:
      return "Invalid UniqueId";
    default:
      return "()";
  }
}

void TThreadItem::Run() {
  if (auto manager = manager_.lock()) manager->RunItem(uniqueId_, false);
}

void TThreadItem::RunPriority() {
  if (auto manager = manager_.lock()) manager->RunItem(uniqueId_, true);
}

void TThreadItem::Synchronize(IClientEvent& event) {
  if (auto manager = manager_.lock()) manager->Synchronize(event);
}

void TThreadItem::Start() {
  std::lock_guard<std::mutex> g(startStopLock_);
  if (auto client = GetClient()) {
    try {
      client->Prepare();
    } catch (...) {
    }
  }
  std::shared_ptr<TRunThread> worker;
  {
    std::lock_guard<std::mutex> l(lock_);
    state_ = tisRunning;
    worker = thread_;
  }
  if (worker) worker->Run();
}

bool TThreadItem::StopAs(TThreadItemState state, const std::shared_ptr<TStopThreadCount>& stopThreads) {
  std::lock_guard<std::mutex> g(startStopLock_);
  std::shared_ptr<IClientItem> client;
  {
    std::lock_guard<std::mutex> l(lock_);
    if (state_ != tisRunning) return false;
    state_ = state;
    stopThreadLaunched_ = true;
    client = client_;
  }
  if (!client) return true;
  {
    std::lock_guard<std::mutex> l(stopThreads->lock);
    ++stopThreads->count;
  }
  std::thread([client, stopThreads] {
    NameThisThread("vandrel-stop");
    try {
      client->Stop();
    } catch (...) {
    }
    std::lock_guard<std::mutex> l(stopThreads->lock);
    --stopThreads->count;
    stopThreads->cv.notify_all();
  }).detach();
  return true;
}

void TRunThread::Resume(std::shared_ptr<TThreadManagerCore> manager) {
  auto self = shared_from_this();
  thread_.Launch([self, manager] {
    NameThisThread("vandrel-worker");
    LowerThisThreadsPriority();
    self->Loop(manager);
  });
}

void TRunThread::Loop(const std::shared_ptr<TThreadManagerCore>& manager) {
  for (;;) {
    TThreadItemImplPtr item;
    {
      std::unique_lock<std::mutex> g(lock_);
      cv_.wait(g, [this] { return runSignal_ || terminateSignal_; });
      if (terminateSignal_) {
        terminateSignal_ = false;
        item_.reset();
        return;
      }
      runSignal_ = false;
      item = item_;
    }
    if (item && item->GetState() == tisRunning) item->Execute();
    // Posted also when Execute failed or the item was stopped before it ran: the manager counts on
    // exactly one done event per started item.
    manager->PostItemDone(slot_);
  }
}

// ---------------------------------------------------------------------------------------------------

TThreadManagerCore::~TThreadManagerCore() = default;

void TThreadManagerCore::Open() {
  managerThread_ = std::make_unique<TManagerThread>(*this);
  managerThread_->StartThread("vandrel-manager", shared_from_this());
}

void TThreadManagerCore::PostEvent(int kind, int param) {
  managerThread_->Post(kMsgThreadEvent, kind, param);
}

void TThreadManagerCore::SetUseTimeLimit(bool value) {
  {
    std::lock_guard<std::mutex> g(stateLock_);
    if (state_ != tmsIdle) return;
    useTimeLimit_ = value;
  }
  std::lock_guard<std::mutex> g(timeLimitLock_);
  if (value && !timeLimitThread_) {
    timeLimitThread_ = std::make_unique<TTimeLimitThread>(*this);
    timeLimitThread_->StartThread("vandrel-timelimit", shared_from_this());
  }
}

void TThreadManagerCore::Shutdown() {
  // Running items are canceled first so that their workers can end within the wait below.
  {
    std::lock_guard<std::mutex> g(slotsLock_);
    stopping_ = true;
    for (auto& slot : slots_)
      if (slot.Item) slot.Item->Cancel(stopThreads_);
  }
  if (managerThread_) managerThread_->End(dispatcher_, endWait_.load());
  {
    std::lock_guard<std::mutex> g(timeLimitLock_);
    if (timeLimitThread_) timeLimitThread_->End(dispatcher_, endWait_.load());
  }
  for (auto* list : {&added_, &startQueue_, &priorityStartQueue_, &waiting_, &priorityWaiting_})
    ReleaseAll(*list);
  ReleaseWorkers(dispatcher_);
  {
    auto done = [this] {
      std::lock_guard<std::mutex> g(stopThreads_->lock);
      return stopThreads_->count == 0;
    };
    if (dispatcher_.IsMainThread()) {
      dispatcher_.RunUntil(done, endWait_.load(), milliseconds(2));
    } else {
      std::unique_lock<std::mutex> g(stopThreads_->lock);
      stopThreads_->cv.wait_for(g, endWait_.load(), [this] { return stopThreads_->count == 0; });
    }
  }
  closed_ = true;
  EditCallbacks([](Callbacks& c) { c = Callbacks{}; });
}

void TThreadManagerCore::ReleaseWorkers(MainDispatcher& dispatcher) {
  std::vector<TRunningItem> slots;
  {
    std::lock_guard<std::mutex> g(slotsLock_);
    slots.swap(slots_);
  }
  for (auto& slot : slots) {
    if (slot.Thread) slot.Thread->Terminate();
    // A worker still executing keeps its own reference to the client.
    if (slot.Item) slot.Item->SetClient(nullptr);
  }
  auto deadline = Clock::now() + endWait_.load();
  for (auto& slot : slots) {
    if (!slot.Thread) continue;
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    slot.Thread->WaitFor(dispatcher, std::max(left, milliseconds(1)));
  }
}

void TThreadManagerCore::RunItem(int uniqueId, bool priority) {
  if (GetControlMode() != TThreadManager::kItemByItemMode) {
    ReportError(TThreadError::opRunItem, TThreadError::reInvalidControlMode);
    return;
  }
  auto item = added_.TakeById(uniqueId);
  if (!item) {
    ReportError(TThreadError::opRunItem, TThreadError::reInvalidUniqueId);
    return;
  }
  (priority ? priorityStartQueue_ : startQueue_).Add(std::move(item));
  ++pendingStarts_;
  PostEvent(priority ? mekNextPriorityItem : mekNextItem);
}

void TThreadManagerCore::Synchronize(IClientEvent& event) {
  ++synchronizeCount_;
  auto self = shared_from_this();
  dispatcher_.InvokeAndWait(
      [self, &event] {
        if (self->closed_) return;
        try {
          event.Execute();
        } catch (...) {
        }
      },
      kMsgThreadEvent);
  --synchronizeCount_;
}

void TThreadManagerCore::TimeLimitReached(int uniqueId) {
  if (GetState() != tmsRunning) return;
  std::lock_guard<std::mutex> g(slotsLock_);
  for (auto& slot : slots_) {
    if (slot.Item && slot.Item->GetUniqueId() == uniqueId) {
      slot.Item->TimeOut(stopThreads_);
      return;
    }
  }
}

void TThreadManagerCore::HandleEvent(const TEventObj& event) {
  switch (event.Kind) {
    case mekNextItem:
      HandleNextItem(false);
      break;
    case mekNextPriorityItem:
      HandleNextItem(true);
      break;
    case mekStart:
      HandleStart();
      break;
    case mekStop:
      HandleStop();
      break;
    case mekItemDone:
      HandleItemDone(event.Param);
      break;
    default:
      Trace(Format("Unhandled event %d %d", {event.Code, event.Kind}));
  }
}

void TThreadManagerCore::HandleStart() {
  if (GetControlMode() == TThreadManager::kItemByItemMode) {
    ReportError(TThreadError::opStart, TThreadError::reInvalidControlMode);
  } else if (GetState() != tmsIdle) {
    ReportError(TThreadError::opStart, TThreadError::reAlreadyRunning);
  } else if (added_.Empty()) {
    ReportError(TThreadError::opStart, TThreadError::reNothingToDo);
  } else {
    auto items = added_.TakeAll();
    size_t count = items.size();
    startQueue_.AddFront(std::move(items));
    for (size_t i = 0; i < count; ++i) {
      ++pendingStarts_;
      PostEvent(mekNextItem);
    }
  }
}

void TThreadManagerCore::HandleStop() {
  switch (GetState()) {
    case tmsIdle:
      ReportError(TThreadError::opStop, TThreadError::reNotRunning);
      return;
    case tmsStopping:
      ReportError(TThreadError::opStop, TThreadError::reAlreadyStopping);
      return;
    default:
      break;
  }
  SetState(tmsStopping);
  stopping_ = true;
  std::lock_guard<std::mutex> g(slotsLock_);
  for (auto& slot : slots_)
    if (slot.Item && slot.Item->GetState() == tisRunning) slot.Item->Cancel(stopThreads_);
}

void TThreadManagerCore::HandleNextItem(bool priority) {
  auto item = (priority ? priorityStartQueue_ : startQueue_).TakeFirst();
  if (item) {
    if (GetState() != tmsIdle) {
      Dispatch(item, priority);
    } else {
      SetState(tmsInitializing);
      waiting_.Add(item);
      BeginRun();
    }
  }
  --pendingStarts_;
  // Only a stopping run can be left with nothing running here; it ends now rather than never.
  if (GetState() == tmsStopping) EndRunIfFinished();
}

void TThreadManagerCore::BeginRun() {
  stopping_ = false;
  runningCount_ = 0;
  {
    std::lock_guard<std::mutex> g(slotsLock_);
    slots_.assign(static_cast<size_t>(GetMaxThreads()), TRunningItem{});
  }
  SetState(tmsRunning);
  if (auto cb = CopyCallbacks().runStarted) DeliverOnMain(cb);
  FillSlot(0);
}

void TThreadManagerCore::Dispatch(const TThreadItemImplPtr& item, bool priority) {
  std::lock_guard<std::mutex> g(dispatchLock_);
  auto state = GetState();
  int running = runningCount_.load();
  // Once stopping, nothing new starts: waiting items are dropped when the run ends.
  bool start =
      state != tmsStopping &&
      ((running < GetMaxThreads() && item->GetState() == tisWaiting && state == tmsRunning) || running == 0);
  if (start) {
    int freeSlot = -1;
    {
      std::lock_guard<std::mutex> l(slotsLock_);
      for (size_t i = 0; i < slots_.size(); ++i) {
        if (!slots_[i].Item) {
          freeSlot = static_cast<int>(i);
          break;
        }
      }
    }
    if (freeSlot >= 0) {
      PutInSlot(freeSlot, item);
      return;
    }
  }
  (priority ? priorityWaiting_ : waiting_).Add(item);
}

void TThreadManagerCore::PutInSlot(int index, const TThreadItemImplPtr& item) {
  std::shared_ptr<TRunThread> worker;
  bool created = false;
  {
    std::lock_guard<std::mutex> g(slotsLock_);
    auto& slot = slots_[static_cast<size_t>(index)];
    if (!slot.Thread) {
      slot.Thread = std::make_shared<TRunThread>(index);
      created = true;
    }
    slot.Item = item;
    worker = slot.Thread;
  }
  if (created) worker->Resume(shared_from_this());
  item->SetThread(worker);
  worker->SetItem(item);
  StartSlot(index);
}

void TThreadManagerCore::StartSlot(int index) {
  TThreadItemImplPtr item;
  {
    std::lock_guard<std::mutex> g(slotsLock_);
    item = slots_[static_cast<size_t>(index)].Item;
  }
  if (!item) return;
  ++runningCount_;
  item->SetSlotIndex(index);
  item->Start();
  NotifyStarted(item);
  if (GetUseTimeLimit() && item->GetTimeLimit() > 0) {
    std::lock_guard<std::mutex> g(timeLimitLock_);
    if (timeLimitThread_)
      timeLimitThread_->Post(kMsgTimeLimit, tlkArm, item->GetUniqueId(), item->GetTimeLimit());
  }
}

void TThreadManagerCore::FillSlot(int index) {
  auto item = priorityWaiting_.TakeFirst();
  if (!item) item = waiting_.TakeFirst();
  if (item) {
    PutInSlot(index, item);
    return;
  }
  std::lock_guard<std::mutex> g(slotsLock_);
  slots_[static_cast<size_t>(index)].Item.reset();
}

void TThreadManagerCore::HandleItemDone(int slot) {
  TThreadItemImplPtr item;
  {
    std::lock_guard<std::mutex> g(slotsLock_);
    if (slot < 0 || static_cast<size_t>(slot) >= slots_.size()) return;
    item = slots_[static_cast<size_t>(slot)].Item;
  }
  if (!item) return;
  item->ClearThread();
  item->ClearStopThread();
  item->MarkDone();
  NotifyDone(item);
  if (!stopping_) {
    FillSlot(slot);
  } else {
    std::lock_guard<std::mutex> g(slotsLock_);
    slots_[static_cast<size_t>(slot)].Item.reset();
  }
  item->SetClient(nullptr);
  --runningCount_;
  EndRunIfFinished();
}

void TThreadManagerCore::EndRunIfFinished() {
  if (GetState() == tmsIdle || runningCount_.load() != 0 || pendingStarts_.load() != 0) return;
  ReleaseAll(waiting_);
  ReleaseAll(priorityWaiting_);
  ReleaseWorkers(dispatcher_);
  SetState(tmsIdle);
  if (auto cb = CopyCallbacks().runDone) DeliverOnMain(cb);
}

void TThreadManagerCore::NotifyStarted(const TThreadItemImplPtr& item) {
  auto cb = CopyCallbacks().itemStarted;
  if (!cb) return;
  TThreadItemPtr pub = item;
  int id = item->GetUniqueId();
  DeliverOnMain([&] { cb(id, pub); });
}

void TThreadManagerCore::NotifyDone(const TThreadItemImplPtr& item) {
  if (GetUseTimeLimit() && item->GetTimeLimit() > 0) {
    std::lock_guard<std::mutex> g(timeLimitLock_);
    if (timeLimitThread_) timeLimitThread_->Post(kMsgTimeLimit, tlkDisarm, item->GetUniqueId());
  }
  auto cb = CopyCallbacks().itemDone;
  if (!cb) return;
  TThreadItemPtr pub = item;
  int id = item->GetUniqueId();
  DeliverOnMain([&] { cb(id, pub); });
}

// ---------------------------------------------------------------------------------------------------

TThreadManager::TThreadManager(MainDispatcher& dispatcher)
    : core_(std::make_shared<TThreadManagerCore>(dispatcher)) {
  core_->Open();
}

TThreadManager::~TThreadManager() {
  core_->Shutdown();
}

TThreadItemPtr TThreadManager::CreateItem(std::shared_ptr<IClientItem> client) {
  return std::make_shared<TThreadItem>(core_, core_->NextUniqueId(), std::move(client));
}

void TThreadManager::AddItem(const TThreadItemPtr& item) {
  core_->AddItem(item);
}
void TThreadManager::AddAndRun(const TThreadItemPtr& item) {
  core_->AddAndRun(item);
}
void TThreadManager::Start() {
  core_->PostEvent(mekStart);
}
void TThreadManager::Stop() {
  core_->PostEvent(mekStop);
}
void TThreadManager::RunItem(int uniqueId) {
  core_->RunItem(uniqueId, false);
}
void TThreadManager::RunItemPriority(int uniqueId) {
  core_->RunItem(uniqueId, true);
}
void TThreadManager::SetMaxThreads(int value) {
  core_->SetMaxThreads(value);
}
int TThreadManager::GetMaxThreads() const {
  return core_->GetMaxThreads();
}
TThreadManagerState TThreadManager::SetControlMode(int mode) {
  return core_->SetControlMode(mode);
}
int TThreadManager::GetControlMode() const {
  return core_->GetControlMode();
}
void TThreadManager::SetUseTimeLimit(bool value) {
  core_->SetUseTimeLimit(value);
}
bool TThreadManager::GetUseTimeLimit() const {
  return core_->GetUseTimeLimit();
}
TThreadManagerState TThreadManager::GetState() const {
  return core_->GetState();
}
int TThreadManager::RunningCount() const {
  return core_->RunningCount();
}
void TThreadManager::SetEndWaitLimit(milliseconds limit) {
  core_->SetEndWait(limit);
}

void TThreadManager::SetOnRunStarted(TRunEvent handler) {
  core_->EditCallbacks([&](auto& c) { c.runStarted = std::move(handler); });
}
void TThreadManager::SetOnRunDone(TRunEvent handler) {
  core_->EditCallbacks([&](auto& c) { c.runDone = std::move(handler); });
}
void TThreadManager::SetOnItemStarted(TItemEvent handler) {
  core_->EditCallbacks([&](auto& c) { c.itemStarted = std::move(handler); });
}
void TThreadManager::SetOnItemDone(TItemEvent handler) {
  core_->EditCallbacks([&](auto& c) { c.itemDone = std::move(handler); });
}
void TThreadManager::SetOnError(TErrorEvent handler) {
  core_->EditCallbacks([&](auto& c) { c.error = std::move(handler); });
}

}  // namespace vandrel

// Runs work on the main thread: tasks other threads post to it, and waits that keep them running.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vandrel {

// Message ids that cross between threads. VALUES: traces and tests compare these numbers; never renumber.
enum DispatchMessage : int {
  kMsgNone = 0,
  kMsgPageArrived = 1026,      // searcher: a page of an engine was downloaded
  kMsgEngineFinished = 1027,   // searcher: an engine has no more pages
  kMsgSearchProgress = 1028,   // searcher: progress to report
  kMsgCheckCompletion = 1029,  // searcher: see whether every engine has finished
  kMsgThreadEvent = 1644,      // thread manager: one of its events
  kMsgTimeLimit = 1684,        // thread manager: the time limit ran out
};

class MainDispatcher {
 public:
  using Task = std::function<void()>;

  // The process's dispatcher; its main thread is the first thread that asked for it.
  static MainDispatcher& Default();

  MainDispatcher();  // the constructing thread becomes the main thread
  ~MainDispatcher();
  MainDispatcher(const MainDispatcher&) = delete;
  MainDispatcher& operator=(const MainDispatcher&) = delete;

  // Makes the calling thread the main thread (the GUI calls this from its event-loop thread).
  void AdoptCurrentThread();
  bool IsMainThread() const;

  // Queues `task` to run on the main thread. May run on any thread.
  void Post(Task task, int message = kMsgNone);
  // Runs `task` on the main thread and returns when it has run: inline when called on the main thread,
  // else queued and waited for. Returns false when the dispatcher shut down before running it.
  // May run on any thread; the main thread must be pumping or this waits until Shutdown.
  bool InvokeAndWait(Task task, int message = kMsgNone);
  // Runs every task queued so far. Main thread only. Returns how many ran.
  size_t ProcessPending();
  // Pumps until `done` answers true or `timeout` passes; sleeps on the queue between checks, at most
  // `poll` at a time. Main thread only. Returns `done()`'s last answer.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                std::chrono::milliseconds poll = std::chrono::milliseconds(55));
  // Called (on the posting thread) after each Post, so an event loop can schedule ProcessPending.
  void SetWakeHandler(std::function<void()> wake);
  // Drops queued tasks and releases every waiting InvokeAndWait; later posts are ignored.
  void Shutdown();
  size_t PendingCount() const;

 private:
  struct Entry {
    Task task;
    int message;
    std::shared_ptr<struct InvokeState> invoke;  // set for InvokeAndWait
  };

  mutable std::mutex lock_;  // guards queue_, shutdown_, wake_ and mainThread_
  std::condition_variable posted_;
  std::deque<Entry> queue_;
  bool shutdown_ = false;
  std::function<void()> wake_;
  std::thread::id mainThread_;
};

}  // namespace vandrel

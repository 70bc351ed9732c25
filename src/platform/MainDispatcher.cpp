#include "platform/MainDispatcher.h"

namespace vandrel {

struct InvokeState {
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  bool ran = false;
};

MainDispatcher& MainDispatcher::Default() {
  static MainDispatcher instance;
  return instance;
}

MainDispatcher::MainDispatcher() : mainThread_(std::this_thread::get_id()) {}

MainDispatcher::~MainDispatcher() {
  Shutdown();
}

void MainDispatcher::AdoptCurrentThread() {
  std::lock_guard<std::mutex> g(lock_);
  mainThread_ = std::this_thread::get_id();
}

bool MainDispatcher::IsMainThread() const {
  std::lock_guard<std::mutex> g(lock_);
  return mainThread_ == std::this_thread::get_id();
}

void MainDispatcher::Post(Task task, int message) {
  std::function<void()> wake;
  {
    std::lock_guard<std::mutex> g(lock_);
    if (shutdown_) return;
    queue_.push_back(Entry{std::move(task), message, nullptr});
    wake = wake_;
  }
  posted_.notify_all();
  if (wake) wake();
}

bool MainDispatcher::InvokeAndWait(Task task, int message) {
  if (IsMainThread()) {
    task();
    return true;
  }
  auto state = std::make_shared<InvokeState>();
  std::function<void()> wake;
  {
    std::lock_guard<std::mutex> g(lock_);
    if (shutdown_) return false;
    queue_.push_back(Entry{std::move(task), message, state});
    wake = wake_;
  }
  posted_.notify_all();
  if (wake) wake();
  std::unique_lock<std::mutex> g(state->lock);
  state->done.wait(g, [&] { return state->finished; });
  return state->ran;
}

size_t MainDispatcher::ProcessPending() {
  std::deque<Entry> batch;
  {
    std::lock_guard<std::mutex> g(lock_);
    batch.swap(queue_);
  }
  size_t count = 0;
  for (auto& entry : batch) {
    if (entry.task) entry.task();
    ++count;
    if (entry.invoke) {
      std::lock_guard<std::mutex> g(entry.invoke->lock);
      entry.invoke->ran = true;
      entry.invoke->finished = true;
      entry.invoke->done.notify_all();
    }
  }
  return count;
}

bool MainDispatcher::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                              std::chrono::milliseconds poll) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    ProcessPending();
    if (done()) return true;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    auto wait = std::min<std::chrono::steady_clock::duration>(deadline - now, poll);
    std::unique_lock<std::mutex> g(lock_);
    posted_.wait_for(g, wait, [&] { return !queue_.empty() || shutdown_; });
    if (shutdown_) return done();
  }
}

void MainDispatcher::SetWakeHandler(std::function<void()> wake) {
  std::lock_guard<std::mutex> g(lock_);
  wake_ = std::move(wake);
}

void MainDispatcher::Shutdown() {
  std::deque<Entry> dropped;
  {
    std::lock_guard<std::mutex> g(lock_);
    shutdown_ = true;
    dropped.swap(queue_);
    wake_ = nullptr;
  }
  posted_.notify_all();
  for (auto& entry : dropped) {
    if (!entry.invoke) continue;
    std::lock_guard<std::mutex> g(entry.invoke->lock);
    entry.invoke->finished = true;
    entry.invoke->done.notify_all();
  }
}

size_t MainDispatcher::PendingCount() const {
  std::lock_guard<std::mutex> g(lock_);
  return queue_.size();
}

}  // namespace vandrel

#include "http/ThreadManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace vandrel {
namespace {

using namespace std::chrono_literals;

// A work item whose Execute can be held until it is released or stopped.
class FakeClient : public IClientItem {
 public:
  explicit FakeClient(std::string name, bool hold = false) : name_(std::move(name)), hold_(hold) {}

  void Execute() override {
    ++executed_;
    if (throws_) throw std::runtime_error("boom");
    std::unique_lock<std::mutex> g(lock_);
    cv_.wait(g, [this] { return !hold_ || released_ || (stopped_ && !ignoreStop_); });
  }
  void Prepare() override {
    if (auto item = item_.lock()) item->SetTimeLimit(timeLimit_);
  }
  void Stop() override {
    std::lock_guard<std::mutex> g(lock_);
    stopped_ = true;
    cv_.notify_all();
  }
  void Release() {
    std::lock_guard<std::mutex> g(lock_);
    released_ = true;
    cv_.notify_all();
  }

  std::string name_;
  bool hold_;
  bool throws_ = false;
  bool ignoreStop_ = false;
  int timeLimit_ = 0;
  std::weak_ptr<IThreadItem> item_;
  std::atomic<int> executed_{0};
  std::mutex lock_;
  std::condition_variable cv_;
  bool released_ = false;
  bool stopped_ = false;
};

// Records every callback, checking that each arrives on the main thread.
struct Recorder {
  explicit Recorder(TThreadManager& m) {
    auto main = std::this_thread::get_id();
    m.SetOnRunStarted([this, main] {
      EXPECT_EQ(std::this_thread::get_id(), main);
      ++runStarted;
    });
    m.SetOnRunDone([this, main] {
      EXPECT_EQ(std::this_thread::get_id(), main);
      ++runDone;
    });
    m.SetOnItemStarted([this, main](int id, const TThreadItemPtr& item) {
      EXPECT_EQ(std::this_thread::get_id(), main);
      EXPECT_EQ(id, item->GetUniqueId());
      started.push_back(id);
    });
    m.SetOnItemDone([this, main](int id, const TThreadItemPtr& item) {
      EXPECT_EQ(std::this_thread::get_id(), main);
      done.push_back(id);
      doneStates[id] = item->GetState();
    });
    m.SetOnError([this, main](const TThreadError& e) {
      EXPECT_EQ(std::this_thread::get_id(), main);
      errors.push_back(e.Text());
    });
  }
  int runStarted = 0, runDone = 0;
  std::vector<int> started, done;
  std::map<int, TThreadItemState> doneStates;
  std::vector<std::string> errors;
};

struct Fixture {
  MainDispatcher dispatcher;
  TThreadManager manager{dispatcher};
  Recorder rec{manager};

  std::pair<TThreadItemPtr, std::shared_ptr<FakeClient>> Make(const std::string& name, bool hold = false) {
    auto client = std::make_shared<FakeClient>(name, hold);
    auto item = manager.CreateItem(client);
    client->item_ = item;
    return {item, client};
  }
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    return dispatcher.RunUntil(done, limit, 2ms);
  }
};

TEST(ThreadManager, StateErrorsAreReportedWithTheirTexts) {
  Fixture f;
  f.manager.Start();
  f.manager.Stop();
  f.manager.RunItem(1);
  // RunItem answers on the calling thread; Start and Stop go through the manager thread.
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.errors.size() == 3; }));
  EXPECT_EQ(f.rec.errors[0], "Invalid control mode");
  EXPECT_EQ(f.rec.errors[1], "Nothing to do");
  EXPECT_EQ(f.rec.errors[2], "Not running");

  auto [a, ca] = f.Make("a", true);
  f.manager.AddItem(a);
  f.manager.Start();
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.started.size() == 1; }));
  f.manager.Start();
  f.manager.Stop();
  f.manager.Stop();
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.runDone == 1; }));
  EXPECT_EQ(f.rec.errors[3], "Already running");
  EXPECT_EQ(f.rec.errors[4], "Already stopping");
  EXPECT_EQ(f.rec.doneStates[a->GetUniqueId()], tisCanceled);

  EXPECT_EQ(f.manager.SetControlMode(TThreadManager::kItemByItemMode), tmsIdle);
  f.manager.Start();
  f.manager.RunItem(999);
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.errors.size() == 7; }));
  EXPECT_EQ(f.rec.errors[5], "Invalid UniqueId");  // answered at once, on this thread
  EXPECT_EQ(f.rec.errors[6], "Invalid control mode");
  EXPECT_EQ((TThreadError{4, 99}.Text()), "()");
}

TEST(ThreadManager, NeverRunsMoreThanMaxThreadsAndEachItemIsDoneOnce) {
  Fixture f;
  f.manager.SetMaxThreads(2);
  std::atomic<int> now{0}, peak{0};
  struct Counting : FakeClient {
    Counting(std::atomic<int>& n, std::atomic<int>& p) : FakeClient("c"), n_(n), p_(p) {}
    void Execute() override {
      int v = ++n_;
      int seen = p_.load();
      while (v > seen && !p_.compare_exchange_weak(seen, v)) {
      }
      std::this_thread::sleep_for(20ms);
      --n_;
    }
    std::atomic<int>&n_, &p_;
  };
  std::vector<int> ids;
  for (int i = 0; i < 7; ++i) {
    auto item = f.manager.CreateItem(std::make_shared<Counting>(now, peak));
    ids.push_back(item->GetUniqueId());
    f.manager.AddItem(item);
  }
  f.manager.Start();
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.runDone == 1; }));
  EXPECT_EQ(peak.load(), 2);
  EXPECT_EQ(f.rec.runStarted, 1);
  EXPECT_EQ(f.rec.started, ids);  // batch order is kept
  auto done = f.rec.done;
  std::sort(done.begin(), done.end());
  EXPECT_EQ(done, ids);
  for (int id : ids) EXPECT_EQ(f.rec.doneStates[id], tisDone);
  EXPECT_EQ(f.manager.GetState(), tmsIdle);
  EXPECT_TRUE(f.rec.errors.empty());

  // The pool runs again after a run has ended.
  auto [again, c] = f.Make("again");
  f.manager.AddItem(again);
  f.manager.Start();
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.runDone == 2; }));
  EXPECT_EQ(f.rec.done.back(), again->GetUniqueId());
}

TEST(ThreadManager, PriorityItemsAreTakenBeforeWaitingOnes) {
  Fixture f;
  f.manager.SetMaxThreads(1);
  auto [a, ca] = f.Make("a", true);
  auto [b, cb] = f.Make("b");
  auto [c, cc] = f.Make("c");
  for (auto& item : {a, b, c}) f.manager.AddItem(item);
  f.manager.Start();
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.started.size() == 1; }));
  auto [p, cp] = f.Make("p");
  f.manager.AddAndRun(p);
  // Let the manager queue everything before the first item finishes.
  f.PumpUntil([] { return false; }, 50ms);
  ca->Release();
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.runDone == 1; }));
  EXPECT_EQ(f.rec.started,
            (std::vector<int>{a->GetUniqueId(), p->GetUniqueId(), b->GetUniqueId(), c->GetUniqueId()}));
}

TEST(ThreadManager, StopCancelsRunningItemsAndWaitingOnesNeverStart) {
  Fixture f;
  f.manager.SetMaxThreads(2);
  auto [a, ca] = f.Make("a", true);
  auto [b, cb] = f.Make("b", true);
  auto [c, cc] = f.Make("c");
  auto [d, cd] = f.Make("d");
  for (auto& item : {a, b, c, d}) f.manager.AddItem(item);
  f.manager.Start();
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.started.size() == 2; }));
  f.PumpUntil([] { return false; }, 30ms);
  f.manager.Stop();
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.runDone == 1; }));
  f.PumpUntil([] { return false; }, 30ms);
  EXPECT_EQ(f.rec.runDone, 1);
  EXPECT_EQ(f.rec.done.size(), 2u);
  EXPECT_EQ(a->GetState(), tisCanceled);
  EXPECT_EQ(b->GetState(), tisCanceled);
  EXPECT_EQ(cc->executed_.load(), 0);
  EXPECT_EQ(cd->executed_.load(), 0);
  EXPECT_EQ(c->GetState(), tisWaiting);
}

TEST(ThreadManager, TimeLimitStopsTheItemWhichIsDoneExactlyOnce) {
  Fixture f;
  f.manager.SetUseTimeLimit(true);
  auto [slow, cs] = f.Make("slow", true);
  cs->timeLimit_ = 40;
  auto [fast, cf] = f.Make("fast");
  cf->timeLimit_ = 5000;
  f.manager.AddItem(slow);
  f.manager.AddItem(fast);
  f.manager.Start();
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.runDone == 1; }));
  // Ticks of a timer whose item has finished must change nothing.
  f.PumpUntil([] { return false; }, 100ms);
  EXPECT_EQ(slow->GetState(), tisTimedOut);
  EXPECT_EQ(slow->GetTimeLimit(), 40);
  EXPECT_TRUE(cs->stopped_);
  EXPECT_EQ(fast->GetState(), tisDone);
  EXPECT_EQ(f.rec.done.size(), 2u);
  EXPECT_EQ(f.rec.runDone, 1);
}

TEST(ThreadManager, FailingWorkStillEndsItsItem) {
  Fixture f;
  auto [a, ca] = f.Make("a");
  ca->throws_ = true;
  f.manager.AddItem(a);
  f.manager.Start();
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.runDone == 1; }));
  EXPECT_EQ(f.rec.doneStates[a->GetUniqueId()], tisDone);
  // The item lets go of its client once done, so the owner's cycle is broken.
  EXPECT_EQ(a->GetClient(), nullptr);
}

TEST(ThreadManager, ItemByItemModeStartsOnlyTheNamedItems) {
  Fixture f;
  f.manager.SetControlMode(TThreadManager::kItemByItemMode);
  auto [a, ca] = f.Make("a");
  auto [b, cb] = f.Make("b");
  f.manager.AddItem(a);
  f.manager.AddItem(b);
  b->RunPriority();
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.runDone == 1; }));
  EXPECT_EQ(f.rec.started, std::vector<int>{b->GetUniqueId()});
  EXPECT_EQ(ca->executed_.load(), 0);
  a->Run();
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.runDone == 2; }));
  EXPECT_EQ(ca->executed_.load(), 1);
  // Settings only change while idle.
  auto [h, ch] = f.Make("h", true);
  f.manager.AddItem(h);
  h->Run();
  ASSERT_TRUE(f.PumpUntil([&] { return f.manager.IsRunning(); }));
  f.manager.SetMaxThreads(3);
  EXPECT_EQ(f.manager.GetMaxThreads(), TThreadManager::kDefaultMaxThreads);
  EXPECT_EQ(f.manager.SetControlMode(TThreadManager::kBatchMode), tmsRunning);
  EXPECT_EQ(f.manager.GetControlMode(), TThreadManager::kItemByItemMode);
  ch->Release();
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.runDone == 3; }));
}

TEST(ThreadManager, WorkerSynchronizeRunsOnTheMainThread) {
  Fixture f;
  struct Event : IClientEvent {
    void Execute() override { ranOn = std::this_thread::get_id(); }
    std::thread::id ranOn;
  };
  struct Syncing : FakeClient {
    Syncing() : FakeClient("s") {}
    void Execute() override {
      if (auto item = item_.lock()) item->Synchronize(event);
    }
    Event event;
  };
  auto client = std::make_shared<Syncing>();
  auto item = f.manager.CreateItem(client);
  client->item_ = item;
  f.manager.AddItem(item);
  f.manager.Start();
  ASSERT_TRUE(f.PumpUntil([&] { return f.rec.runDone == 1; }));
  EXPECT_EQ(client->event.ranOn, std::this_thread::get_id());
}

TEST(ThreadManager, DestroyingAbandonsAWorkerThatWillNotStop) {
  auto client = std::make_shared<FakeClient>("stuck", true);
  client->ignoreStop_ = true;
  {
    MainDispatcher dispatcher;
    auto start = std::chrono::steady_clock::now();
    {
      TThreadManager manager(dispatcher);
      manager.SetEndWaitLimit(100ms);
      auto item = manager.CreateItem(client);
      manager.AddItem(item);
      manager.Start();
      ASSERT_TRUE(dispatcher.RunUntil([&] { return client->executed_.load() == 1; }, 10s, 2ms));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_TRUE(client->stopped_);
  }
  // The abandoned worker finishes on its own once its work returns.
  client->Release();
  std::this_thread::sleep_for(50ms);
}

TEST(ThreadManager, DestroyingCancelsRunningWork) {
  MainDispatcher dispatcher;
  auto client = std::make_shared<FakeClient>("held", true);
  {
    TThreadManager manager(dispatcher);
    auto item = manager.CreateItem(client);
    manager.AddItem(item);
    manager.Start();
    ASSERT_TRUE(dispatcher.RunUntil([&] { return client->executed_.load() == 1; }, 10s, 2ms));
  }
  EXPECT_TRUE(client->stopped_);
}

}  // namespace
}  // namespace vandrel

#include "platform/MainDispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace vandrel {
namespace {

using namespace std::chrono_literals;

TEST(MainDispatcher, PostedTasksRunOnTheMainThreadInOrder) {
  MainDispatcher d;
  std::vector<int> seen;
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i) d.Post([&seen, i] { seen.push_back(i); }, kMsgPageArrived);
  });
  worker.join();
  EXPECT_EQ(d.ProcessPending(), 100u);
  ASSERT_EQ(seen.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
}

TEST(MainDispatcher, InvokeAndWaitRunsInlineOnTheMainThreadAndWaitsElsewhere) {
  MainDispatcher d;
  bool inlineRan = false;
  EXPECT_TRUE(d.InvokeAndWait([&] { inlineRan = true; }));
  EXPECT_TRUE(inlineRan);

  std::atomic<int> value{0};
  std::thread::id ranOn;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    d.InvokeAndWait([&] {
      ranOn = std::this_thread::get_id();
      value = 7;
    });
    returned = true;
  });
  EXPECT_TRUE(d.RunUntil([&] { return returned.load(); }, 5s, 5ms));
  worker.join();
  EXPECT_EQ(value.load(), 7);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(MainDispatcher, RunUntilGivesUpAfterItsTimeout) {
  MainDispatcher d;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(d.RunUntil([] { return false; }, 120ms, 10ms));
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 120ms);
  EXPECT_LT(took, 3s);
}

TEST(MainDispatcher, ShutdownReleasesWaitingInvokers) {
  MainDispatcher d;
  std::atomic<bool> result{true};
  std::thread worker([&] { result = d.InvokeAndWait([] {}); });
  while (d.PendingCount() == 0) std::this_thread::sleep_for(1ms);
  d.Shutdown();
  worker.join();
  EXPECT_FALSE(result.load());
  d.Post([] { FAIL() << "posted after shutdown"; });
  EXPECT_EQ(d.ProcessPending(), 0u);
}

TEST(MainDispatcher, WakeHandlerHearsEveryPost) {
  MainDispatcher d;
  std::atomic<int> wakes{0};
  d.SetWakeHandler([&] { ++wakes; });
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t)
    workers.emplace_back([&] {
      for (int i = 0; i < 25; ++i) d.Post([] {});
    });
  for (auto& w : workers) w.join();
  EXPECT_EQ(wakes.load(), 100);
  EXPECT_EQ(d.ProcessPending(), 100u);
}

}  // namespace
}  // namespace vandrel

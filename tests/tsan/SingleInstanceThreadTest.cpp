#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/SingleInstance.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;

std::string TempFolder() {
  char pattern[] = "/tmp/vandrel-instance-tsan-XXXXXX";
  return mkdtemp(pattern) ? std::string(pattern) + "/" : std::string();
}

TEST(SingleInstance, ConcurrentLaterStartsAllArriveOnTheMainThread) {
  std::string folder = TempFolder();
  ASSERT_FALSE(folder.empty());
  MainDispatcher dispatcher;
  std::vector<std::string> got;
  TSingleInstance first(folder);
  ASSERT_EQ(first.Claim(), TInstanceRole::irFirst);
  ASSERT_TRUE(first.Listen(
      [&](const TForwardedRequest& r) {
        EXPECT_TRUE(dispatcher.IsMainThread());
        got.push_back(r.CommandLine);
      },
      dispatcher));

  std::atomic<int> delivered{0};
  std::vector<std::thread> starts;
  for (int i = 0; i < 8; ++i) {
    starts.emplace_back([&, i] {
      TSingleInstance later(folder);
      if (later.Claim() == TInstanceRole::irOther &&
          later.Forward({false, "prices " + std::to_string(i)}, 3s))
        ++delivered;
    });
  }
  dispatcher.RunUntil([&] { return got.size() == 8; }, 10s, 5ms);
  for (auto& t : starts) t.join();
  EXPECT_EQ(delivered.load(), 8);
  EXPECT_EQ(got.size(), 8u);
  std::filesystem::remove_all(folder);
}

TEST(SingleInstance, EndingWhileLaterStartsKnockIsClean) {
  std::string folder = TempFolder();
  ASSERT_FALSE(folder.empty());
  MainDispatcher dispatcher;
  std::atomic<bool> stop{false};
  std::thread knocker;
  {
    TSingleInstance first(folder);
    ASSERT_EQ(first.Claim(), TInstanceRole::irFirst);
    ASSERT_TRUE(first.Listen([](const TForwardedRequest&) {}, dispatcher));
    knocker = std::thread([&] {
      while (!stop) {
        TSingleInstance later(folder);
        if (later.Claim() != TInstanceRole::irOther) break;  // the first has ended
        later.Forward({true, ""}, 100ms);
      }
    });
    std::this_thread::sleep_for(50ms);
  }
  stop = true;
  knocker.join();
  dispatcher.ProcessPending();
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace vandrel

#include "http/ConnectionDetector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace vandrel {
namespace {

using namespace std::chrono_literals;

struct Watch {
  explicit Watch(TConnectionDetector& d) {
    d.OnDetectStart = [this](TConnectionDetector&) { ++starts; };
    d.OnDetectDone = [this](TConnectionDetector& sender, int status) {
      EXPECT_FALSE(sender.Running());
      statuses.push_back(status);
    };
  }
  int starts = 0;
  std::vector<int> statuses;
};

TEST(ConnectionDetector, ResolvableHostIsConnectedAndUnknownHostGivesTheLookupError) {
  MainDispatcher dispatcher;
  TConnectionDetector detector(dispatcher);
  Watch watch(detector);
  detector.SetLink("http://localhost:8080/probe");
  detector.Start();
  EXPECT_TRUE(detector.Running());
  ASSERT_TRUE(dispatcher.RunUntil([&] { return !watch.statuses.empty(); }, 10s, 2ms));
  EXPECT_EQ(watch.statuses[0], 0);
  EXPECT_EQ(detector.Status(), 0);

  detector.SetLink("no-such-host.invalid");
  detector.Start();
  ASSERT_TRUE(dispatcher.RunUntil([&] { return watch.statuses.size() == 2; }, 30s, 2ms));
  // The resolver's own code, never the "could not start" status.
  EXPECT_GE(watch.statuses[1], 11001);
  EXPECT_LE(watch.statuses[1], 11004);
  EXPECT_EQ(watch.starts, 2);
}

// A resolver that hangs until the test lets it go.
struct Gate {
  std::mutex lock;
  std::condition_variable cv;
  bool open = false;
  std::atomic<int> entered{0};
  void Open() {
    std::lock_guard<std::mutex> g(lock);
    open = true;
    cv.notify_all();
  }
};

TEST(ConnectionDetector, CancelEndsOnlyItsOwnLookUpAndReportsOnce) {
  MainDispatcher dispatcher;
  auto gate = std::make_shared<Gate>();
  auto hanging = [gate](const std::string&) {
    ++gate->entered;
    std::unique_lock<std::mutex> g(gate->lock);
    gate->cv.wait(g, [&] { return gate->open; });
    return 0;
  };
  TConnectionDetector first(dispatcher), second(dispatcher);
  first.SetResolver(hanging);
  second.SetResolver(hanging);
  Watch w1(first), w2(second);
  first.Start();
  second.Start();
  ASSERT_TRUE(dispatcher.RunUntil([&] { return gate->entered == 2; }, 10s, 2ms));
  first.Cancel();
  ASSERT_TRUE(dispatcher.RunUntil([&] { return !w1.statuses.empty(); }, 10s, 2ms));
  EXPECT_EQ(w1.statuses, std::vector<int>{10004});
  EXPECT_TRUE(second.Running());
  EXPECT_TRUE(w2.statuses.empty());

  gate->Open();
  ASSERT_TRUE(dispatcher.RunUntil([&] { return !w2.statuses.empty(); }, 10s, 2ms));
  EXPECT_EQ(w2.statuses, std::vector<int>{0});
  // The abandoned look-up finishing later must not report again.
  dispatcher.RunUntil([] { return false; }, 50ms, 5ms);
  EXPECT_EQ(w1.statuses.size(), 1u);
}

TEST(ConnectionDetector, ProbeHostIsTheHostPartOfTheLink) {
  EXPECT_EQ(TConnectionDetector::ProbeHost("www.example.com"), "www.example.com");
  EXPECT_EQ(TConnectionDetector::ProbeHost("http://u:p@shop.example.org:81/a?b"), "shop.example.org");
}

}  // namespace
}  // namespace vandrel

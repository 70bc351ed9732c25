#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "http/HttpDownloader.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;

// Answers "/fast/..." at once, "/slow/..." after 30 ms and lets "/stall/..." hang until the client goes.
class LoopbackServer {
 public:
  LoopbackServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(::listen(fd_, 64), 0);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] {
      for (;;) {
        int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        std::lock_guard<std::mutex> g(lock_);
        workers_.emplace_back([c] { Serve(c); });
      }
    });
  }
  ~LoopbackServer() {
    ::shutdown(fd_, SHUT_RDWR);
    acceptor_.join();
    ::close(fd_);
    for (auto& w : workers_) w.join();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  static void Serve(int c) {
    std::string head;
    char buf[2048];
    while (head.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      head.append(buf, static_cast<size_t>(n));
    }
    if (head.find(" /stall/") != std::string::npos) {
      while (::recv(c, buf, sizeof buf, 0) > 0) {
      }
    } else {
      if (head.find(" /slow/") != std::string::npos) std::this_thread::sleep_for(30ms);
      std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 4\r\n\r\npage";
      ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
    }
    ::close(c);
  }

  int fd_ = -1;
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::mutex lock_;
  std::vector<std::thread> workers_;
};

struct Counter : IHttpDownloaderObserver {
  void ItemDone(const IHttpResultPtr& r) override { ++done[r->UniqueId()]; }
  void ItemHeaders(const IHttpResultPtr&) override { ++headers; }
  void ItemProgress(const IHttpResultPtr&) override { ++progress; }
  std::map<int, int> done;
  std::atomic<int> headers{0};
  int progress = 0;
};

TEST(HttpDownloaderThreads, ManyTransfersWithTimeLimitsAndAStopReportEachItemOnce) {
  LoopbackServer server;
  MainDispatcher dispatcher;
  Counter counter;
  {
    THttpDownloader downloader(dispatcher);
    auto s = downloader.Settings();
    s.StoreInMemory = true;
    s.ParsePages = false;
    s.KeepResults = true;
    s.MaxDownloadThreads = 4;
    s.UseTimeLimit = true;
    ASSERT_TRUE(downloader.SetSettings(s));
    downloader.AddObserver(&counter);
    std::vector<IHttpItemPtr> items;
    for (int i = 0; i < 24; ++i) {
      const char* kind = i % 6 == 0 ? "/stall/" : i % 2 ? "/slow/" : "/fast/";
      auto item = downloader.AddItem(server.Url(kind + std::to_string(i)));
      if (i % 6 == 0) item->Params().TimeLimit.Set(60);
      items.push_back(item);
    }
    downloader.Start();
    ASSERT_TRUE(dispatcher.RunUntil([&] { return counter.done.size() == items.size(); }, 30s, 2ms));
    for (auto& item : items) {
      auto r = item->Result();
      EXPECT_EQ(counter.done[item->UniqueId()], 1);
      if (r->Url().find("/stall/") != std::string::npos) {
        EXPECT_EQ(r->State(), hisTimedOut) << r->Url();
      } else {
        EXPECT_EQ(r->State(), hisDonePage) << r->Url();
        EXPECT_EQ(r->Content().Text, "page");
      }
    }
    EXPECT_GE(counter.progress, 1);

    // A second run stopped while transfers hang: every started item still ends once.
    Counter second;
    downloader.RemoveObserver(&counter);
    downloader.AddObserver(&second);
    std::vector<IHttpItemPtr> hanging;
    for (int i = 0; i < 6; ++i)
      hanging.push_back(downloader.AddItem(server.Url("/stall/h" + std::to_string(i))));
    ASSERT_TRUE(dispatcher.RunUntil([&] { return downloader.IsIdle(); }, 10s, 2ms));
    downloader.Start();
    ASSERT_TRUE(dispatcher.RunUntil([&] { return !downloader.IsIdle(); }, 10s, 2ms));
    dispatcher.RunUntil([] { return false; }, 50ms, 5ms);
    downloader.Stop();
    ASSERT_TRUE(dispatcher.RunUntil([&] { return downloader.IsIdle(); }, 10s, 2ms));
    EXPECT_EQ(second.done.size(), 4u);  // the two that waited never started
    for (auto& [id, n] : second.done) EXPECT_EQ(n, 1);
    downloader.RemoveObserver(&second);
  }
}

TEST(HttpDownloaderThreads, DestroyingTheDownloaderMidTransferCancelsAndReturns) {
  LoopbackServer server;
  MainDispatcher dispatcher;
  IHttpResultPtr result;
  {
    THttpDownloader downloader(dispatcher);
    auto s = downloader.Settings();
    s.StoreInMemory = true;
    s.CruncherMode = true;
    ASSERT_TRUE(downloader.SetSettings(s));
    auto item = downloader.AddItem(server.Url("/stall/x"));
    result = item->Result();
    item->Run();
    ASSERT_TRUE(dispatcher.RunUntil([&] { return result->State() == hisRunning; }, 10s, 2ms));
  }
  EXPECT_EQ(result->State(), hisCanceled);
}

}  // namespace
}  // namespace vandrel

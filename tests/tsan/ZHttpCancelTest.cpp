// Cancelling transfers from other threads while their workers are blocked in connect, send or receive.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "http/HttpErrors.h"
#include "http/ZHttp.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;

// Accepts connections on 127.0.0.1 and never answers, until destroyed.
class TSilentServer {
 public:
  TSilentServer() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 16);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) accepted_.push_back(accept(fd_, nullptr, nullptr));
      }
    });
  }
  ~TSilentServer() {
    stop_ = true;
    thread_.join();
    for (int fd : accepted_) close(fd);
    close(fd_);
  }
  std::string Url(const std::string& host = "127.0.0.1") const {
    return "http://" + host + ":" + std::to_string(port_) + "/";
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::vector<int> accepted_;  // touched by the accept thread only until it is joined
  std::thread thread_;
};

TEST(ZHttpCancel, CancelFromAnotherThreadEndsOnlyThatTransfer) {
  TSilentServer server;
  TZHttp first, second;
  std::atomic<int> canceledEvents{0};
  for (TZHttp* http : {&first, &second}) {
    http->Storage = hsMemory;
    http->TimeOut = 10;
    http->OnCancel = [&] { ++canceledEvents; };
    http->SetURL(server.Url());
  }
  std::atomic<int> firstDone{0}, secondDone{0};
  auto run = [](TZHttp& http, std::atomic<int>& done) {
    try {
      http.Execute();
      done = 1;
    } catch (const ECanceledError&) {
      done = 2;
    } catch (const std::exception&) {
      done = 3;
    }
  };
  std::thread a(run, std::ref(first), std::ref(firstDone));
  std::thread b(run, std::ref(second), std::ref(secondDone));
  std::this_thread::sleep_for(200ms);
  first.Cancel();
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (firstDone == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(firstDone, 2);
  EXPECT_EQ(secondDone, 0);
  second.Cancel();
  a.join();
  b.join();
  EXPECT_EQ(secondDone, 2);
  EXPECT_EQ(canceledEvents, 2);
  EXPECT_FALSE(first.Succeeded);
}

TEST(ZHttpCancel, CancelRacingTheWholeTransfer) {
  // Cancels land at every stage of Execute, the name look-up included; each ends the transfer.
  TSilentServer server;
  for (int i = 0; i < 20; ++i) {
    TZHttp http;
    http.Storage = hsMemory;
    http.TimeOut = 5;
    http.SetURL(server.Url(i % 2 ? "localhost" : "127.0.0.1"));
    std::thread worker([&] {
      try {
        http.Execute();
      } catch (const std::exception&) {
      }
    });
    std::this_thread::sleep_for(std::chrono::microseconds(i * 150));
    http.Cancel();
    worker.join();
    EXPECT_TRUE(http.Canceled());
  }
}

}  // namespace
}  // namespace vandrel

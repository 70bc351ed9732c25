// A small HTTP/1.1 server on the loopback address that answers with the demo store pages.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vandrel::cli {

class TDemoStoreServer {
 public:
  TDemoStoreServer() = default;
  ~TDemoStoreServer();
  TDemoStoreServer(const TDemoStoreServer&) = delete;
  TDemoStoreServer& operator=(const TDemoStoreServer&) = delete;

  // Binds 127.0.0.1:`port` (0 picks a free port); false with `error` set when that fails.
  bool Listen(uint16_t port, std::string& error);
  uint16_t Port() const { return Port_; }
  // Serves until `stopFd` becomes readable, then waits for the connections in progress. Main thread only.
  void Run(int stopFd);

  static constexpr size_t kMaxConnections = 16;

 private:
  struct TWorker {
    std::thread Thread;
    std::atomic<bool> Done{false};
  };

  void Accept();
  void ReapFinished(bool all);

  int ListenFd_ = -1;
  uint16_t Port_ = 0;
  std::list<std::unique_ptr<TWorker>> Workers_;  // touched by the thread in Run only
};

}  // namespace vandrel::cli

// A small HTTP/1.1 server for the update site: the update exchange is a POST at any path.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>

namespace vandrel::site {

struct TSiteRequest {
  std::string Method;
  std::string Target;
  std::string Body;
  std::string Peer;  // the client's address, for the log
};

struct TSiteResponse {
  int Status = 200;
  std::string ContentType = "application/octet-stream";
  std::string Body;
  std::string LogNote;  // appended to the request's log line
};

// Answers one request; called on a connection's thread, so it must be safe from any thread.
using TSiteHandler = std::function<TSiteResponse(const TSiteRequest& request)>;

class TUpdateSiteServer {
 public:
  explicit TUpdateSiteServer(TSiteHandler handler) : Handler_(std::move(handler)) {}
  ~TUpdateSiteServer();
  TUpdateSiteServer(const TUpdateSiteServer&) = delete;
  TUpdateSiteServer& operator=(const TUpdateSiteServer&) = delete;

  // Binds `address` (an IPv4 or IPv6 literal) and `port` (0 picks a free one); false with `error` set.
  bool Listen(const std::string& address, uint16_t port, std::string& error);
  uint16_t Port() const { return Port_; }
  // Serves until `stopFd` becomes readable, then waits for the connections in progress. One thread only.
  void Run(int stopFd);

  static constexpr size_t kMaxConnections = 32;
  static constexpr size_t kMaxRequestHead = 16 * 1024;
  static constexpr size_t kMaxRequestBody = 1024 * 1024;

 private:
  struct TWorker {
    std::thread Thread;
    std::atomic<bool> Done{false};
  };
  void Accept();
  void Serve(int fd, const std::string& peer);
  void ReapFinished(bool all);

  TSiteHandler Handler_;
  int ListenFd_ = -1;
  uint16_t Port_ = 0;
  std::list<std::unique_ptr<TWorker>> Workers_;  // touched by the thread in Run only
};

}  // namespace vandrel::site

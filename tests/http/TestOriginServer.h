// A scripted HTTP origin server on 127.0.0.1 for tests: records raw requests and misbehaves on cue.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vandrel::test {

struct TRecordedRequest {
  std::string Raw;     // every byte read for this request: head and body
  std::string Head;    // request line and header lines, up to and including the empty line
  std::string Body;    // the Content-Length bytes that followed the head
  std::string Method;  // from the request line
  std::string Target;  // from the request line, as sent (origin or absolute form)

  // The value of the first header line called `name` (case-insensitive), trimmed; empty when absent.
  std::string Header(std::string_view name) const;
  // The target's path and query, also when the target was in absolute form.
  std::string PathAndQuery() const;
};

// One accepted connection, handed to a script after its request was read.
class TOriginConnection {
 public:
  TOriginConnection(int fd, int stopFd) : fd_(fd), stopFd_(stopFd) {}
  const TRecordedRequest& Request() const { return request_; }

  // False once the client is gone (or the server stops).
  bool Send(std::string_view bytes);
  // Sends `bytes` in pieces of `step` bytes with `gap` between them.
  void Drip(std::string_view bytes, std::chrono::milliseconds gap, size_t step = 1);
  // Sends nothing until the client closes, the server stops or `limit` passes.
  void Stall(std::chrono::milliseconds limit = std::chrono::seconds(30));
  // Aborts the connection with a TCP reset once the script returns.
  void Reset();
  void Close();

  bool ReadRequest();  // used by the server before the script runs
  bool ResetRequested() const { return reset_; }

 private:
  int fd_;
  int stopFd_;
  bool reset_ = false;
  TRecordedRequest request_;
};

using TOriginScript = std::function<void(TOriginConnection&)>;

class TestOriginServer {
 public:
  // Listens on an ephemeral port of 127.0.0.1; throws std::runtime_error when it cannot.
  TestOriginServer();
  ~TestOriginServer();
  TestOriginServer(const TestOriginServer&) = delete;
  TestOriginServer& operator=(const TestOriginServer&) = delete;

  uint16_t Port() const { return port_; }
  std::string HostPort() const;                          // "127.0.0.1:port"
  std::string Url(std::string_view pathAndQuery) const;  // "http://127.0.0.1:port" + pathAndQuery

  // The script for requests whose path (query left out) is `path`; unrouted requests get the fallback,
  // by default a 404 answer.
  void Route(const std::string& path, TOriginScript script);
  void SetFallback(TOriginScript script);

  std::vector<TRecordedRequest> Requests() const;
  bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;
  void Stop();

  // Sends `raw` as it stands, then closes.
  static TOriginScript Respond(std::string raw);
  // A complete answer with a status line, the extra header lines, Content-Length and `body`.
  static TOriginScript Reply(int status, std::string body, std::vector<std::string> headers = {});

 private:
  void AcceptLoop();
  void Serve(int fd);

  int listenFd_ = -1;
  int stopFd_ = -1;  // eventfd, readable once the server stops
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::map<std::string, TOriginScript> routes_;
  TOriginScript fallback_;
  std::vector<TRecordedRequest> requests_;
  std::vector<int> openFds_;  // connections being served, so Stop can shut them down
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

}  // namespace vandrel::test

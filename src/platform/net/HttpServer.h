// A small threaded HTTP/1.1 server for the programs' own sites (the demo stores, the update site): one answer
// per connection, bounded in connections, request size and time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>

namespace vandrel {

struct THttpServerRequest {
  std::string Method;
  std::string Target;  // as sent: a path with its query, or an absolute address from a proxy-style client
  std::string Body;    // POST only
  std::string Peer;    // the client's address, for logs
};

struct THttpServerResponse {
  int Status = 200;
  std::string ContentType = "text/plain; charset=utf-8";
  std::string Body;
  std::string Location;  // sent as the Location header when not empty (redirections)
  std::string LogNote;   // handed to the log callback, never sent
};

// Answers one request. Called on a connection's thread, so it must be safe from any thread.
using THttpServerHandler = std::function<THttpServerResponse(const THttpServerRequest& request)>;
// Sees every answered request, including the server's own refusals. May run on any connection's thread.
using THttpServerLog =
    std::function<void(const THttpServerRequest& request, const THttpServerResponse& response)>;

struct THttpServerLimits {
  std::string ServerName;      // the Server header
  size_t MaxConnections = 16;  // further clients get 503 at once instead of costing a thread each
  size_t MaxRequestHead = 16 * 1024;
  size_t MaxRequestBody = 0;  // 0: POST is refused with 405
  int IoTimeoutSeconds = 10;  // per read or write of a connection
};

const char* HttpReasonPhrase(int status);
// A plain-text answer that repeats the reason phrase.
THttpServerResponse HttpErrorResponse(int status);

class THttpServer {
 public:
  THttpServer(THttpServerHandler handler, THttpServerLimits limits, THttpServerLog log = {});
  ~THttpServer();
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  // Binds `address` (an IPv4 or IPv6 literal) and `port` (0 picks a free one); false with `error` set.
  bool Listen(const std::string& address, uint16_t port, std::string& error);
  uint16_t Port() const { return Port_; }
  // Serves until `stopFd` becomes readable, then waits for the connections in progress. One thread only.
  void Run(int stopFd);

 private:
  struct TWorker {
    std::thread Thread;
    std::atomic<bool> Done{false};
  };
  void Accept();
  void Serve(int fd, const std::string& peer);
  void Answer(int fd, const THttpServerRequest& request, const THttpServerResponse& response);
  void ReapFinished(bool all);

  THttpServerHandler Handler_;
  THttpServerLimits Limits_;
  THttpServerLog Log_;
  int ListenFd_ = -1;
  uint16_t Port_ = 0;
  std::list<std::unique_ptr<TWorker>> Workers_;  // touched by the thread in Run only
};

struct TServeSettings {
  std::string Program;                // prefixes the messages on stderr
  std::string Address = "127.0.0.1";  // the sites are test fixtures and local tools unless told otherwise
  uint16_t Port = 0;
  std::string ReadyFile;                        // receives the port once listening, when not empty
  std::function<void(uint16_t port)> Announce;  // tells the user where the site is, once listening
};

// Runs a site for a program's whole life: serves until SIGINT or SIGTERM. Blocks both signals for the
// process, so it must be called before any other thread starts. Returns the exit status: 0 after a signal,
// 1 when the site could not start (said on stderr).
int ServeUntilSignal(THttpServer& server, const TServeSettings& settings);

}  // namespace vandrel

// Keeps one running program per user: a lock file claims the role, a local socket takes later starts'
// command lines to the running one.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/MainDispatcher.h"

namespace vandrel {

// What a later start asks of the running program.
struct TForwardedRequest {
  bool Restore = false;     // no command line: bring the window to the front
  std::string CommandLine;  // the later start's arguments joined by single blanks
};

enum class TInstanceRole {
  irFirst,        // this process holds the lock
  irOther,        // another process holds it; Forward to it
  irUnavailable,  // no safe folder or the lock could not be taken; run on alone
};

class TSingleInstance {
 public:
  using TRequestHandler = std::function<void(const TForwardedRequest& request)>;

  // The folder for the lock and the socket: $XDG_RUNTIME_DIR when it is a private folder of this user,
  // else /tmp/vandrelshopper-<uid>, created with mode 0700. Empty (with `error` set) when neither is
  // safe: a folder another user owns or can enter must not carry our socket.
  static std::string ResolveFolder(std::string* error);

  explicit TSingleInstance(std::string folder);
  ~TSingleInstance();
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // Takes the lock without waiting. Call once.
  TInstanceRole Claim();
  // First instance: listens for later starts; each request runs `handler` on `dispatcher`'s main thread.
  bool Listen(TRequestHandler handler, MainDispatcher& dispatcher);
  // Other instance: hands `request` over and waits until the running program has taken it, at most
  // `timeout` (which also covers a running program that holds the lock but is not listening yet).
  bool Forward(const TForwardedRequest& request, std::chrono::milliseconds timeout);

  const std::string& Error() const { return error_; }
  std::string SocketPath() const;

  // Largest command line accepted; more is refused, not cut.
  static constexpr size_t kMaxCommandLine = 64 * 1024;

 private:
  void Serve();
  void ServeOne(int client);

  std::string folder_;  // ends with "/"
  std::string error_;
  int lockFd_ = -1;
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};  // writing to [1] stops Serve
  bool bound_ = false;         // we created the socket file and remove it
  TRequestHandler handler_;
  MainDispatcher* dispatcher_ = nullptr;
  std::thread server_;
};

}  // namespace vandrel

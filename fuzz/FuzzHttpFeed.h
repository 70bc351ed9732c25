// Feeds fuzz input to the HTTP client through one end of a socketpair.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "http/ZHttp.h"

namespace vandrel {

class TFuzzHttp : public TZHttp {
 public:
  using TZHttp::ReadBody;
  using TZHttp::ReadHeaders;

  // Connects this client to a peer that sends `bytes` and closes; false if no socketpair could be made.
  bool Feed(std::string bytes) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
    TimeOut = 5;
    AdoptConnection(fds[0]);
    writer_ = std::thread([fd = fds[1], bytes = std::move(bytes)] {
      size_t sent = 0;
      while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      close(fd);
    });
    return true;
  }

  ~TFuzzHttp() override {
    Close();
    if (writer_.joinable()) writer_.join();
  }

 private:
  std::thread writer_;
};

}  // namespace vandrel

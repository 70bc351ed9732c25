#include "platform/net/TcpTransport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/net/NetError.h"

namespace vandrel {

TWakeUp::TWakeUp() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TWakeUp::~TWakeUp() {
  if (fd_ >= 0) close(fd_);
}

void TWakeUp::Signal() {
  if (fd_ < 0) return;
  uint64_t one = 1;
  // Never read back: the counter stays non-zero, so the fd stays readable for every later poll.
  [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
}

bool TWakeUp::Signaled() const {
  if (fd_ < 0) return false;
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

namespace {

// Waits for `events` on `fd` or for the wake-up; 0, kNetTimedOut, kNetInterrupted or a poll error.
int WaitFor(int fd, short events, const TWakeUp& wake, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd fds[2] = {{fd, events, 0}, {wake.Fd(), POLLIN, 0}};
    const int count = wake.Fd() >= 0 ? 2 : 1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) return kNetTimedOut;
    const int rc = poll(fds, count, static_cast<int>(left));
    if (rc < 0) {
      if (errno == EINTR) continue;
      return NetErrorFromErrno(errno);
    }
    if (count == 2 && (fds[1].revents & POLLIN)) return kNetInterrupted;
    if (rc == 0) return kNetTimedOut;
    // Errors and hang-ups are reported by the call that follows.
    if (fds[0].revents != 0) return kNetOk;
  }
}

// Outcome of one name look-up, shared with the helper thread, which may outlive the caller's wait.
struct TLookup {
  std::mutex Lock;
  int Code = 0;
  in_addr Address{};
  int DoneFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  ~TLookup() {
    if (DoneFd >= 0) close(DoneFd);
  }
};

void RunLookup(const std::shared_ptr<TLookup>& lookup, const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &list);
  const int err = errno;
  {
    std::lock_guard<std::mutex> guard(lookup->Lock);
    if (rc != 0) {
      lookup->Code = NetErrorFromEai(rc, err);
    } else if (list == nullptr) {
      lookup->Code = kNetHostNotFound;
    } else {
      lookup->Address = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr;
    }
  }
  if (list) freeaddrinfo(list);
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(lookup->DoneFd, &one, sizeof one);
}

}  // namespace

int ResolveIPv4(const std::string& host, in_addr& address, const TWakeUp& wake, int timeoutMs) {
  if (host.empty()) return kNetHostNotFound;
  if (inet_pton(AF_INET, host.c_str(), &address) == 1) return kNetOk;
  auto lookup = std::make_shared<TLookup>();
  if (lookup->DoneFd < 0) return NetErrorFromErrno(errno);
  try {
    std::thread(RunLookup, lookup, host).detach();
  } catch (const std::system_error&) {
    return 10067;  // "Too many processes"
  }
  const int rc = WaitFor(lookup->DoneFd, POLLIN, wake, timeoutMs);
  if (rc != kNetOk) return rc;
  std::lock_guard<std::mutex> guard(lookup->Lock);
  if (lookup->Code == kNetOk) address = lookup->Address;
  return lookup->Code;
}

TTcpTransport::TTcpTransport(const TWakeUp& wake, int timeoutMs) : wake_(wake), timeoutMs_(timeoutMs) {}

TTcpTransport::~TTcpTransport() {
  if (fd_ >= 0) close(fd_);
}

int TTcpTransport::Connect(const in_addr& address, uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return NetErrorFromErrno(errno);
  fd_ = fd;
  int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) return NetErrorFromErrno(errno);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr = address;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) return kNetOk;
  if (errno != EINPROGRESS) return NetErrorFromErrno(errno);
  const int rc = WaitFor(fd, POLLOUT, wake_, timeoutMs_);
  if (rc != kNetOk) return rc;
  int soError = 0;
  socklen_t len = sizeof soError;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) return NetErrorFromErrno(errno);
  return NetErrorFromErrno(soError);
}

void TTcpTransport::Adopt(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  fd_ = fd;
}

int TTcpTransport::Wait(bool forWrite) {
  return WaitFor(fd_, forWrite ? POLLOUT : POLLIN, wake_, timeoutMs_);
}

template <class Call>
int TTcpTransport::Transfer(Call call, bool writing, size_t& moved) {
  moved = 0;
  if (fd_ < 0) return 10057;
  for (;;) {
    if (wake_.Signaled()) return kNetInterrupted;
    const ssize_t n = call();
    if (n >= 0) {
      moved = static_cast<size_t>(n);
      return kNetOk;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return NetErrorFromErrno(errno);
    if (const int rc = Wait(writing); rc != kNetOk) return rc;
  }
}

int TTcpTransport::Send(const char* data, size_t size, size_t& sent) {
  return Transfer([&] { return send(fd_, data, size, MSG_NOSIGNAL); }, true, sent);
}

int TTcpTransport::Receive(char* data, size_t size, size_t& received) {
  return Transfer([&] { return recv(fd_, data, size, 0); }, false, received);
}

void TTcpTransport::Abandon() {
  // shutdown, never close: the owner may be inside a call on this descriptor right now.
  const int fd = fd_;
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

}  // namespace vandrel

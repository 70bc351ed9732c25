#include "cli/DemoStoreServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "cli/DemoStoreCatalog.h"

namespace vandrel::cli {
namespace {

constexpr size_t kMaxRequestHead = 16 * 1024;
constexpr int kIoTimeoutSeconds = 10;

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 302:
      return "Found";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
  }
  return "Unknown";
}

void SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data.remove_prefix(static_cast<size_t>(n));
  }
}

// Every answer closes the connection, so a client never has to guess where a body ends.
void SendResponse(int fd, const TDemoResponse& response, bool withBody) {
  std::string head = "HTTP/1.1 " + std::to_string(response.Status) + " " + ReasonPhrase(response.Status) +
                     "\r\nServer: vandrel-demo-stores\r\nContent-Type: " + response.ContentType +
                     (response.Location.empty() ? "" : "\r\nLocation: " + response.Location) +
                     "\r\nContent-Length: " + std::to_string(response.Body.size()) +
                     "\r\nConnection: close\r\n\r\n";
  SendAll(fd, withBody ? head + response.Body : head);
}

TDemoResponse SimpleError(int status) {
  return {status, "text/plain; charset=utf-8", std::string(ReasonPhrase(status)) + "\n"};
}

void ServeConnection(int fd) {
  timeval timeout{kIoTimeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  std::string head;
  char buffer[4096];
  size_t end = std::string::npos;
  while ((end = head.find("\r\n\r\n")) == std::string::npos) {
    if (head.size() > kMaxRequestHead) {
      SendResponse(fd, SimpleError(431), true);
      return;
    }
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the client went away or stalled
    head.append(buffer, static_cast<size_t>(n));
  }
  const std::string_view line = std::string_view(head).substr(0, head.find("\r\n"));
  const size_t sp1 = line.find(' ');
  const size_t sp2 = sp1 == line.npos ? line.npos : line.find(' ', sp1 + 1);
  if (sp2 == line.npos || line.substr(sp2 + 1).substr(0, 5) != "HTTP/") {
    SendResponse(fd, SimpleError(400), true);
    return;
  }
  const std::string_view method = line.substr(0, sp1);
  std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  // A proxy-style absolute address names the same page.
  if (const size_t scheme = target.find("://"); scheme != target.npos && target.substr(0, 4) == "http") {
    const size_t path = target.find('/', scheme + 3);
    target = path == target.npos ? std::string_view("/") : target.substr(path);
  }
  if (method != "GET" && method != "HEAD") {
    SendResponse(fd, SimpleError(405), true);
    return;
  }
  SendResponse(fd, DemoStoreResponse(target), method == "GET");
}

// Closing with unread request bytes would reset the connection and could destroy the answer before the client
// reads it, so the rest of what the client sent is drained first, within limits. The accept loop must not
// wait on a client (`mayWait` false): it only takes what has already arrived.
void CloseGently(int fd, bool mayWait) {
  shutdown(fd, SHUT_WR);
  timeval timeout{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  char buffer[4096];
  size_t drained = 0;
  ssize_t n;
  while (drained < 256 * 1024 && (n = recv(fd, buffer, sizeof buffer, mayWait ? 0 : MSG_DONTWAIT)) > 0)
    drained += static_cast<size_t>(n);
  close(fd);
}

}  // namespace

TDemoStoreServer::~TDemoStoreServer() {
  ReapFinished(true);
  if (ListenFd_ >= 0) close(ListenFd_);
}

bool TDemoStoreServer::Listen(uint16_t port, std::string& error) {
  ListenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (ListenFd_ < 0) {
    error = std::strerror(errno);
    return false;
  }
  const int one = 1;
  setsockopt(ListenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  // The site is a test fixture; it must never be reachable from another machine.
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(ListenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(ListenFd_, 64) != 0 ||
      getsockname(ListenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    error = std::strerror(errno);
    close(ListenFd_);
    ListenFd_ = -1;
    return false;
  }
  Port_ = ntohs(address.sin_port);
  return true;
}

void TDemoStoreServer::Run(int stopFd) {
  if (ListenFd_ < 0) return;
  pollfd fds[2] = {{ListenFd_, POLLIN, 0}, {stopFd, POLLIN, 0}};
  for (;;) {
    const int ready = poll(fds, 2, 1000);
    if (ready < 0 && errno != EINTR) break;
    ReapFinished(false);
    if (ready <= 0) continue;
    if (fds[1].revents != 0) break;
    if (fds[0].revents & POLLIN) Accept();
  }
  ReapFinished(true);
}

void TDemoStoreServer::Accept() {
  const int fd = accept4(ListenFd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  if (Workers_.size() >= kMaxConnections) {
    // Refusing outright keeps a flood of clients from costing a thread each.
    SendResponse(fd, SimpleError(503), true);
    CloseGently(fd, false);
    return;
  }
  auto worker = std::make_unique<TWorker>();
  TWorker* raw = worker.get();
  Workers_.push_back(std::move(worker));
  raw->Thread = std::thread([fd, raw] {
    ServeConnection(fd);
    CloseGently(fd, true);
    raw->Done = true;
  });
}

void TDemoStoreServer::ReapFinished(bool all) {
  for (auto it = Workers_.begin(); it != Workers_.end();) {
    if (all || (*it)->Done) {
      if ((*it)->Thread.joinable()) (*it)->Thread.join();
      it = Workers_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace vandrel::cli

#include "http/TestOriginServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <stdexcept>

namespace vandrel::test {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\r')) --e;
  return std::string(text.substr(b, e - b));
}

}  // namespace

std::string TRecordedRequest::Header(std::string_view name) const {
  const std::string wanted = Lower(name) + ":";
  size_t pos = Head.find("\r\n");
  while (pos != std::string::npos && pos + 2 < Head.size()) {
    const size_t start = pos + 2;
    const size_t end = Head.find("\r\n", start);
    const std::string line = Head.substr(start, end - start);
    if (Lower(line.substr(0, wanted.size())) == wanted) return Trim(line.substr(wanted.size()));
    pos = end;
  }
  return "";
}

std::string TRecordedRequest::PathAndQuery() const {
  const size_t scheme = Target.find("://");
  if (scheme == std::string::npos) return Target;
  const size_t slash = Target.find('/', scheme + 3);
  return slash == std::string::npos ? "/" : Target.substr(slash);
}

bool TOriginConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void TOriginConnection::Drip(std::string_view bytes, std::chrono::milliseconds gap, size_t step) {
  while (!bytes.empty()) {
    const size_t n = std::min(step, bytes.size());
    Send(bytes.substr(0, n));
    bytes.remove_prefix(n);
    if (!bytes.empty()) {
      pollfd p{stopFd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(gap.count())) > 0) return;
    }
  }
}

void TOriginConnection::Stall(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    if (fds[1].revents) return;
    char buf[512];
    if (recv(fd_, buf, sizeof buf, 0) <= 0) return;  // the client went away
  }
}

void TOriginConnection::Reset() {
  linger l{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  reset_ = true;  // the close that follows the script sends the reset
}

void TOriginConnection::Close() {
  shutdown(fd_, SHUT_RDWR);
}

bool TOriginConnection::ReadRequest() {
  std::string data;
  char buf[4096];
  size_t headEnd = std::string::npos;
  while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return false;
    data.append(buf, static_cast<size_t>(n));
  }
  request_.Head = data.substr(0, headEnd + 4);
  const std::string line = request_.Head.substr(0, request_.Head.find("\r\n"));
  const size_t sp1 = line.find(' ');
  const size_t sp2 = line.find(' ', sp1 + 1);
  request_.Method = line.substr(0, sp1);
  if (sp1 != std::string::npos) request_.Target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  size_t length = 0;
  const std::string lengthText = request_.Header("Content-Length");
  std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length);
  while (data.size() < headEnd + 4 + length) {
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  request_.Body = data.substr(headEnd + 4);
  request_.Raw = data;
  return true;
}

TestOriginServer::TestOriginServer() {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listenFd_ < 0 || stopFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listenFd_, 64) != 0 || getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (listenFd_ >= 0) close(listenFd_);
    if (stopFd_ >= 0) close(stopFd_);
    throw std::runtime_error("test origin server cannot listen");
  }
  port_ = ntohs(addr.sin_port);
  fallback_ = Reply(404, "not found");
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

TestOriginServer::~TestOriginServer() {
  Stop();
  close(listenFd_);
  close(stopFd_);
}

std::string TestOriginServer::HostPort() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::string TestOriginServer::Url(std::string_view pathAndQuery) const {
  return "http://" + HostPort() + std::string(pathAndQuery);
}

void TestOriginServer::Route(const std::string& path, TOriginScript script) {
  std::lock_guard<std::mutex> guard(lock_);
  routes_[path] = std::move(script);
}

void TestOriginServer::SetFallback(TOriginScript script) {
  std::lock_guard<std::mutex> guard(lock_);
  fallback_ = std::move(script);
}

std::vector<TRecordedRequest> TestOriginServer::Requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

bool TestOriginServer::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, timeout, [&] { return requests_.size() >= count; });
}

void TestOriginServer::Stop() {
  if (stopping_.exchange(true)) return;
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(stopFd_, &one, sizeof one);
  shutdown(listenFd_, SHUT_RDWR);
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (int fd : openFds_) shutdown(fd, SHUT_RDWR);
    workers.swap(workers_);
  }
  for (auto& worker : workers) worker.join();
}

void TestOriginServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents || stopping_) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> guard(lock_);
    openFds_.push_back(fd);
    workers_.emplace_back([this, fd] { Serve(fd); });
  }
}

void TestOriginServer::Serve(int fd) {
  TOriginConnection connection(fd, stopFd_);
  if (connection.ReadRequest()) {
    TOriginScript script;
    {
      std::lock_guard<std::mutex> guard(lock_);
      requests_.push_back(connection.Request());
      std::string path = connection.Request().PathAndQuery();
      auto exact = routes_.find(path);
      if (exact == routes_.end()) exact = routes_.find(path.substr(0, path.find('?')));
      script = exact != routes_.end() ? exact->second : fallback_;
    }
    changed_.notify_all();
    if (script) script(connection);
  }
  std::lock_guard<std::mutex> guard(lock_);
  openFds_.erase(std::find(openFds_.begin(), openFds_.end(), fd));
  if (!connection.ResetRequested()) shutdown(fd, SHUT_RDWR);
  close(fd);
}

TOriginScript TestOriginServer::Respond(std::string raw) {
  return [raw = std::move(raw)](TOriginConnection& c) { c.Send(raw); };
}

TOriginScript TestOriginServer::Reply(int status, std::string body, std::vector<std::string> headers) {
  std::string raw = "HTTP/1.1 " + std::to_string(status) + " Test\r\n";
  for (const auto& h : headers) raw += h + "\r\n";
  raw += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  return Respond(std::move(raw));
}

}  // namespace vandrel::test

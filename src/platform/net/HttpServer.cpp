#include "platform/net/HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "platform/CommandLineOptions.h"
#include "platform/TextUtils.h"

namespace vandrel {
namespace {

void SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data.remove_prefix(static_cast<size_t>(n));
  }
}

// Every answer closes the connection, so a client never has to guess where a body ends.
void SendResponse(int fd, const std::string& serverName, const THttpServerResponse& response, bool withBody) {
  const std::string head =
      "HTTP/1.1 " + std::to_string(response.Status) + " " + HttpReasonPhrase(response.Status) +
      "\r\nServer: " + serverName + "\r\nContent-Type: " + response.ContentType +
      (response.Location.empty() ? "" : "\r\nLocation: " + response.Location) +
      "\r\nContent-Length: " + std::to_string(response.Body.size()) + "\r\nConnection: close\r\n\r\n";
  SendAll(fd, head);
  if (withBody) SendAll(fd, response.Body);
}

// The value of header `name` in `head` (the lines after the request line), trimmed; empty when absent.
std::string HeaderValue(std::string_view head, std::string_view name) {
  size_t pos = head.find("\r\n");
  while (pos != std::string_view::npos && pos + 2 < head.size()) {
    const size_t start = pos + 2;
    const size_t end = head.find("\r\n", start);
    const std::string_view line = head.substr(start, end == std::string_view::npos ? head.npos : end - start);
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos && SameText(Trim(line.substr(0, colon)), name))
      return std::string(Trim(line.substr(colon + 1)));
    pos = end;
  }
  return {};
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

std::string PeerName(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
  else if (address.ss_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text, sizeof text);
  return text;
}

// Written through a rename so a waiting reader never sees a half-written port.
bool WriteReadyFile(const std::string& path, uint16_t port) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << port << "\n";
    if (!out.flush()) return false;
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  return !ec;
}

}  // namespace

const char* HttpReasonPhrase(int status) {
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
    case 411:
      return "Length Required";
    case 413:
      return "Content Too Large";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
  }
  return "Unknown";
}

THttpServerResponse HttpErrorResponse(int status) {
  THttpServerResponse response;
  response.Status = status;
  response.Body = std::string(HttpReasonPhrase(status)) + "\n";
  return response;
}

THttpServer::THttpServer(THttpServerHandler handler, THttpServerLimits limits, THttpServerLog log)
    : Handler_(std::move(handler)), Limits_(std::move(limits)), Log_(std::move(log)) {}

THttpServer::~THttpServer() {
  ReapFinished(true);
  if (ListenFd_ >= 0) close(ListenFd_);
}

void THttpServer::Answer(int fd, const THttpServerRequest& request, const THttpServerResponse& response) {
  SendResponse(fd, Limits_.ServerName, response, request.Method != "HEAD");
  if (Log_) Log_(request, response);
}

void THttpServer::Serve(int fd, const std::string& peer) {
  timeval timeout{Limits_.IoTimeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  THttpServerRequest request;
  request.Peer = peer;
  auto refuse = [&](int status) { Answer(fd, request, HttpErrorResponse(status)); };
  std::string data;
  char buffer[16384];
  size_t end = std::string::npos;
  while ((end = data.find("\r\n\r\n")) == std::string::npos) {
    if (data.size() > Limits_.MaxRequestHead) return refuse(431);
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the client went away or stalled
    data.append(buffer, static_cast<size_t>(n));
  }
  // A whole head may arrive in one read, so its size is checked again once its end is known.
  if (end > Limits_.MaxRequestHead) return refuse(431);
  const std::string_view head = std::string_view(data).substr(0, end + 2);
  const std::string_view line = head.substr(0, head.find("\r\n"));
  const size_t sp1 = line.find(' ');
  const size_t sp2 = sp1 == line.npos ? line.npos : line.find(' ', sp1 + 1);
  if (sp2 == line.npos || line.substr(sp2 + 1).substr(0, 5) != "HTTP/") return refuse(400);
  request.Method = std::string(line.substr(0, sp1));
  request.Target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
  if (request.Method == "POST" && Limits_.MaxRequestBody > 0) {
    // Only a declared length is taken: a chunked upload could not be bounded before it is read.
    if (!HeaderValue(head, "Transfer-Encoding").empty()) return refuse(411);
    const std::string lengthText = HeaderValue(head, "Content-Length");
    if (lengthText.empty()) return refuse(411);
    // A signed length is malformed, not large.
    if (lengthText[0] == '-' || lengthText[0] == '+') return refuse(400);
    int64_t length = 0;
    std::string error;
    if (!ParseIntegerArg(lengthText, 0, static_cast<int64_t>(Limits_.MaxRequestBody), length, error))
      return refuse(error == "out of range" ? 413 : 400);
    request.Body = data.substr(end + 4);
    while (request.Body.size() < static_cast<size_t>(length)) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      request.Body.append(buffer, static_cast<size_t>(n));
    }
    request.Body.resize(static_cast<size_t>(length));
  } else if (request.Method != "GET" && request.Method != "HEAD") {
    return refuse(405);
  }
  Answer(fd, request, Handler_(request));
}

bool THttpServer::Listen(const std::string& address, uint16_t port, std::string& error) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    length = sizeof *v4;
  } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    length = sizeof *v6;
  } else {
    error = "not an IP address: " + address;
    return false;
  }
  ListenFd_ = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (ListenFd_ < 0) {
    error = std::strerror(errno);
    return false;
  }
  const int one = 1;
  setsockopt(ListenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(ListenFd_, reinterpret_cast<sockaddr*>(&storage), length) != 0 || listen(ListenFd_, 64) != 0 ||
      getsockname(ListenFd_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    error = std::strerror(errno);
    close(ListenFd_);
    ListenFd_ = -1;
    return false;
  }
  Port_ = ntohs(storage.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
  return true;
}

void THttpServer::Run(int stopFd) {
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

void THttpServer::Accept() {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int fd = accept4(ListenFd_, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  if (fd < 0) return;
  if (Workers_.size() >= Limits_.MaxConnections) {
    THttpServerRequest request;
    request.Peer = PeerName(address);
    Answer(fd, request, HttpErrorResponse(503));
    CloseGently(fd, false);
    return;
  }
  auto worker = std::make_unique<TWorker>();
  TWorker* raw = worker.get();
  Workers_.push_back(std::move(worker));
  raw->Thread = std::thread([this, fd, raw, peer = PeerName(address)] {
    Serve(fd, peer);
    CloseGently(fd, true);
    raw->Done = true;
  });
}

void THttpServer::ReapFinished(bool all) {
  for (auto it = Workers_.begin(); it != Workers_.end();) {
    if (all || (*it)->Done) {
      if ((*it)->Thread.joinable()) (*it)->Thread.join();
      it = Workers_.erase(it);
    } else {
      ++it;
    }
  }
}

int ServeUntilSignal(THttpServer& server, const TServeSettings& settings) {
  const char* program = settings.Program.c_str();
  // Blocked before any worker starts so every thread inherits the mask and the signals reach only the fd.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
    std::fprintf(stderr, "%s: cannot block the stop signals\n", program);
    return 1;
  }
  const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (stopFd < 0) {
    std::fprintf(stderr, "%s: signalfd: %s\n", program, std::strerror(errno));
    return 1;
  }
  int status = 1;
  std::string error;
  if (!server.Listen(settings.Address, settings.Port, error)) {
    std::fprintf(stderr, "%s: cannot listen on %s port %u: %s\n", program, settings.Address.c_str(),
                 static_cast<unsigned>(settings.Port), error.c_str());
  } else {
    if (settings.Announce) settings.Announce(server.Port());
    if (!settings.ReadyFile.empty() && !WriteReadyFile(settings.ReadyFile, server.Port())) {
      std::fprintf(stderr, "%s: cannot write %s\n", program, settings.ReadyFile.c_str());
    } else {
      server.Run(stopFd);
      status = 0;
    }
  }
  close(stopFd);
  return status;
}

}  // namespace vandrel

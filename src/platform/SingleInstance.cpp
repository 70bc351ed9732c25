#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vandrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kMagic[4] = {'V', 'S', 'I', '1'};
constexpr size_t kHeaderSize = 9;  // magic, kind ('R' restore or 'C' command line), 4-byte big-endian length
constexpr char kReceipt = 'K';
constexpr auto kServeTimeout = std::chrono::milliseconds(1000);  // a silent client cannot hold the server

bool IsPrivateFolder(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

bool FitsSocketPath(const std::string& folder) {
  return folder.size() + std::strlen("VandrelShopper.sock") < sizeof(sockaddr_un{}.sun_path);
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Reads exactly `size` bytes before `deadline`.
bool ReadAll(int fd, char* data, size_t size, Clock::time_point deadline) {
  while (size > 0) {
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t n = recv(fd, data, size, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const char* data, size_t size, Clock::time_point deadline) {
  while (size > 0) {
    pollfd p{fd, POLLOUT, 0};
    int ready = poll(&p, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool PeerIsThisUser(int fd) {
  ucred cred{};
  socklen_t len = sizeof(cred);
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && len == sizeof(cred) &&
         cred.uid == getuid();
}

sockaddr_un SocketAddress(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);  // length checked by ResolveFolder
  return addr;
}

}  // namespace

std::string TSingleInstance::ResolveFolder(std::string* error) {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
    std::string folder = runtime;
    if (folder.back() != '/') folder += '/';
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    bool usable = fd >= 0 && IsPrivateFolder(fd) && FitsSocketPath(folder);
    if (fd >= 0) close(fd);
    if (usable) return folder;
  }
  std::string folder = "/tmp/vandrelshopper-" + std::to_string(getuid()) + "/";
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    if (error) *error = "cannot create " + folder + ": " + std::strerror(errno);
    return {};
  }
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st {};
  bool ours = fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid();
  // Our own folder left with a loose mode (an old umask) is tightened; anyone else's is refused.
  if (ours && (st.st_mode & 077) != 0 && fchmod(fd, 0700) != 0) ours = false;
  if (fd >= 0) close(fd);
  if (!ours) {
    if (error) *error = folder + " is not a private folder of this user";
    return {};
  }
  return folder;
}

TSingleInstance::TSingleInstance(std::string folder) : folder_(std::move(folder)) {
  if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

TSingleInstance::~TSingleInstance() {
  if (server_.joinable()) {
    char stop = 0;
    while (write(wakeFds_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    server_.join();
  }
  if (listenFd_ >= 0) close(listenFd_);
  // Removed while the lock is still held, so a newer first instance never loses its socket to us.
  if (bound_) unlink(SocketPath().c_str());
  for (int fd : wakeFds_)
    if (fd >= 0) close(fd);
  if (lockFd_ >= 0) close(lockFd_);
}

std::string TSingleInstance::SocketPath() const {
  return folder_ + "VandrelShopper.sock";
}

TInstanceRole TSingleInstance::Claim() {
  if (folder_.empty() || !FitsSocketPath(folder_)) {
    error_ = "no folder for the single-instance lock";
    return TInstanceRole::irUnavailable;
  }
  std::string path = folder_ + "VandrelShopper.lock";
  lockFd_ = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  struct stat st {};
  if (lockFd_ < 0 || fstat(lockFd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid()) {
    error_ = "cannot open " + path + (lockFd_ < 0 ? std::string(": ") + std::strerror(errno) : "");
    return TInstanceRole::irUnavailable;
  }
  while (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return TInstanceRole::irOther;
    error_ = "cannot lock " + path + ": " + std::strerror(errno);
    return TInstanceRole::irUnavailable;
  }
  return TInstanceRole::irFirst;
}

bool TSingleInstance::Listen(TRequestHandler handler, MainDispatcher& dispatcher) {
  std::string path = SocketPath();
  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    error_ = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  // We hold the lock, so a socket file left here belongs to a program that has ended.
  unlink(path.c_str());
  sockaddr_un addr = SocketAddress(path);
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    error_ = "bind " + path + ": " + std::strerror(errno);
    return false;
  }
  bound_ = true;
  chmod(path.c_str(), 0600);
  if (listen(listenFd_, 8) != 0 || pipe2(wakeFds_, O_CLOEXEC) != 0) {
    error_ = std::string("listen: ") + std::strerror(errno);
    return false;
  }
  handler_ = std::move(handler);
  dispatcher_ = &dispatcher;
  server_ = std::thread([this] { Serve(); });
  return true;
}

void TSingleInstance::Serve() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    int ready = poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ServeOne(client);
    close(client);
  }
}

void TSingleInstance::ServeOne(int client) {
  if (!PeerIsThisUser(client)) return;
  auto deadline = Clock::now() + kServeTimeout;
  char header[kHeaderSize];
  if (!ReadAll(client, header, sizeof(header), deadline)) return;
  if (std::memcmp(header, kMagic, sizeof(kMagic)) != 0 || (header[4] != 'R' && header[4] != 'C')) return;
  size_t length = 0;
  for (int i = 5; i < 9; ++i) length = (length << 8) | static_cast<unsigned char>(header[i]);
  if (length > kMaxCommandLine) return;
  TForwardedRequest request;
  request.Restore = header[4] == 'R';
  request.CommandLine.resize(length);
  if (!ReadAll(client, request.CommandLine.data(), length, deadline)) return;
  // The line was a NUL-terminated text: whatever follows a NUL is not part of it.
  if (size_t nul = request.CommandLine.find('\0'); nul != std::string::npos) request.CommandLine.resize(nul);
  dispatcher_->Post([handler = handler_, request] { handler(request); });
  WriteAll(client, &kReceipt, 1, deadline);
}

bool TSingleInstance::Forward(const TForwardedRequest& request, std::chrono::milliseconds timeout) {
  if (request.CommandLine.size() > kMaxCommandLine) {
    error_ = "command line too long";
    return false;
  }
  auto deadline = Clock::now() + timeout;
  sockaddr_un addr = SocketAddress(SocketPath());
  for (;;) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      error_ = std::string("socket: ") + std::strerror(errno);
      return false;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
      if (!PeerIsThisUser(fd)) {
        close(fd);
        error_ = "the running program belongs to another user";
        return false;
      }
      std::string message(kMagic, sizeof(kMagic));
      message += request.Restore ? 'R' : 'C';
      size_t length = request.Restore ? 0 : request.CommandLine.size();
      for (int shift = 24; shift >= 0; shift -= 8) message += static_cast<char>((length >> shift) & 0xFF);
      if (!request.Restore) message += request.CommandLine;
      char receipt = 0;
      bool ok = WriteAll(fd, message.data(), message.size(), deadline) &&
                ReadAll(fd, &receipt, 1, deadline) && receipt == kReceipt;
      close(fd);
      if (!ok) error_ = "the running program did not take the command line";
      return ok;
    }
    int err = errno;
    close(fd);
    // The running program may hold the lock and not listen yet.
    if ((err != ENOENT && err != ECONNREFUSED && err != EAGAIN && err != EINTR) ||
        Clock::now() + std::chrono::milliseconds(20) >= deadline) {
      error_ = std::string("cannot reach the running program: ") + std::strerror(err);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace vandrel

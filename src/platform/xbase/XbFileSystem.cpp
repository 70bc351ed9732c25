#include "platform/xbase/XbFileSystem.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/xbase/XbIoError.h"

namespace vandrel {

namespace {
thread_local int lastIoError = 0;
}  // namespace

int XbLastIoError() {
  return lastIoError;
}
void XbSetIoError(int error) {
  lastIoError = error;
}
void XbClearIoError() {
  lastIoError = 0;
}
std::string XbIoErrorSuffix() {
  return lastIoError == 0 ? std::string() : std::string(": ") + std::strerror(lastIoError);
}

std::string XbDirName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

namespace {

class TPosixFile final : public IXbFile {
 public:
  explicit TPosixFile(int fd) : fd_(fd) {}
  ~TPosixFile() override { ::close(fd_); }

  bool ReadAt(uint64_t offset, void* buffer, size_t n, size_t& got) override {
    got = 0;
    auto* out = static_cast<char*>(buffer);
    while (got < n) {
      ssize_t r = ::pread(fd_, out + got, n - got, static_cast<off_t>(offset + got));
      if (r < 0) {
        if (errno == EINTR) continue;
        return Failed();
      }
      if (r == 0) break;
      got += static_cast<size_t>(r);
    }
    return true;
  }

  bool WriteAt(uint64_t offset, const void* data, size_t n) override {
    const auto* in = static_cast<const char*>(data);
    size_t done = 0;
    while (done < n) {
      ssize_t w = ::pwrite(fd_, in + done, n - done, static_cast<off_t>(offset + done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return Failed();
      }
      done += static_cast<size_t>(w);
    }
    return true;
  }

  bool Size(uint64_t& size) override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
  }

  bool Truncate(uint64_t size) override {
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 || Failed();
  }
  // The length is data here: fdatasync writes it when it changed, and skips only the times.
  bool Sync() override { return ::fdatasync(fd_) == 0 || Failed(); }
  bool StartSync() override {
    return ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE) == 0 || errno == ENOSYS || errno == EINVAL ||
           Failed();
  }
  bool TryLock() override { return ::flock(fd_, LOCK_EX | LOCK_NB) == 0; }
  bool TryLockShared() override { return ::flock(fd_, LOCK_SH | LOCK_NB) == 0; }

 private:
  static bool Failed() {
    XbSetIoError(errno);
    return false;
  }

  int fd_;
};

class TPosixFileSystem final : public IXbFileSystem {
 public:
  std::unique_ptr<IXbFile> Open(const std::string& path, TXbOpenMode mode, int& error) override {
    int flags = (mode == TXbOpenMode::xomReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC;
    if (mode == TXbOpenMode::xomCreateNew) flags |= O_CREAT | O_EXCL;
    if (mode == TXbOpenMode::xomReplace) flags |= O_CREAT | O_TRUNC;
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
      error = errno;
      XbSetIoError(error);
      return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      error = EISDIR;
      ::close(fd);
      return nullptr;
    }
    error = 0;
    return std::make_unique<TPosixFile>(fd);
  }

  bool Exists(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
  }
  bool Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }
  bool Rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    XbSetIoError(errno);
    return false;
  }

  bool SyncDir(const std::string& dir) override {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
  }

  std::string Canonical(const std::string& path) override {
    std::string dir = XbDirName(path);
    char resolved[PATH_MAX];
    if (::realpath(dir.c_str(), resolved) == nullptr) return path;
    size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string out = resolved;
    if (out.empty() || out.back() != '/') out += '/';
    return out + name;
  }
};

}  // namespace

std::shared_ptr<IXbFileSystem> CreatePosixFileSystem() {
  return std::make_shared<TPosixFileSystem>();
}

}  // namespace vandrel

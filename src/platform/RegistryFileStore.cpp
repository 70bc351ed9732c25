#include "platform/RegistryFileStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace vandrel {
namespace {

// ORDER: indexed by TRegRoot.
constexpr const char* kFileNames[kRegRootCount] = {"user.reg", "machine.reg", "classes.reg"};
constexpr const char* kPartNames[kRegRootCount] = {"current user's", "machine-wide", "classes"};
constexpr off_t kMaxFileSize = 64 << 20;  // far beyond any real store; guards against reading a stray file
constexpr auto kLockWait = std::chrono::seconds(10);

int Index(TRegRoot root) {
  return static_cast<int>(root);
}

bool MakeFolders(const std::string& folder) {
  for (size_t pos = 1; pos <= folder.size(); ++pos) {
    if (pos < folder.size() && folder[pos] != '/') continue;
    const std::string part = folder.substr(0, pos);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, off_t size, std::string& data) {
  data.clear();
  data.reserve(static_cast<size_t>(size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    data.append(buffer, static_cast<size_t>(n));
    if (data.size() > static_cast<size_t>(kMaxFileSize)) return false;
  }
}

}  // namespace

std::string DefaultRegistryFolder() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    std::string homeDir = home != nullptr ? home : "";
    if (homeDir.empty()) {
      struct passwd pw {};
      struct passwd* found = nullptr;
      char buffer[4096];
      if (getpwuid_r(geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found != nullptr && pw.pw_dir)
        homeDir = pw.pw_dir;
    }
    if (homeDir.empty()) homeDir = "/tmp";
    base = homeDir + "/.config";
  }
  if (!base.ends_with('/')) base += '/';
  return base + "VandrelSoft/";
}

TRegistryFileStore::TRegistryFileStore(std::string folder) : folder_(std::move(folder)) {
  if (folder_.empty()) folder_ = "./";
  if (!folder_.ends_with('/')) folder_ += '/';
}

std::string TRegistryFileStore::FilePath(TRegRoot root) const {
  return folder_ + kFileNames[Index(root)];
}

int TRegistryFileStore::AcquireFileLock() {
  if (!MakeFolders(folder_)) return -1;
  const std::string path = folder_ + "registry.lock";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  // Bounded, so that a process hung while holding the lock costs a lost write rather than a hang.
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline) {
      close(fd);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return fd;
}

bool TRegistryFileStore::MoveAside(TRegRoot root) {
  const std::string path = FilePath(root);
  for (int n = 1; n < 10000; ++n) {
    const std::string target = path + ".damaged-" + std::to_string(n);
    struct stat st {};
    if (lstat(target.c_str(), &st) == 0) continue;
    if (errno != ENOENT) return false;
    return rename(path.c_str(), target.c_str()) == 0;
  }
  return false;
}

bool TRegistryFileStore::Refresh(TRegRoot root, bool locked) {
  TPart& part = parts_[Index(root)];
  const std::string path = FilePath(root);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // never hang on a planted FIFO
  if (fd < 0) {
    const bool missing = errno == ENOENT;
    part = TPart{};
    part.Loaded = missing;
    return missing;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
    close(fd);
    part = TPart{};
    return false;
  }
  const TFileId id{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
  if (part.Loaded && part.Exists && part.Id == id && !(part.Damaged && locked)) {
    close(fd);
    return !part.Damaged;
  }
  std::string text;
  const bool read = ReadAll(fd, st.st_size, text);
  close(fd);
  if (!read) {
    part = TPart{};
    return false;
  }
  if (auto tree = ParseRegistry(text)) {
    part = TPart{true, true, false, id, std::move(*tree)};
    return true;
  }
  if (!locked) {
    // Moving the file aside must not race a writer that is just replacing it with a good one.
    const int lock = AcquireFileLock();
    if (lock >= 0) {
      const bool ok = Refresh(root, true);
      close(lock);
      return ok;
    }
  } else if (MoveAside(root)) {
    part = TPart{};
    part.Loaded = true;
    return true;
  }
  // Kept in place: reads give defaults, and writes fail rather than overwrite what the user may rescue.
  part = TPart{true, true, true, id, {}};
  return false;
}

bool TRegistryFileStore::WriteFile(TRegRoot root, const TRegNode& tree, TFileId& id) {
  const std::string path = FilePath(root);
  const std::string temp = path + ".tmp";
  const std::string text = SerializeRegistry(tree, std::string("The ") + kPartNames[Index(root)] +
                                                       " settings of Vandrel Shopper; the last line marks a "
                                                       "complete file.");
  unlink(temp.c_str());  // whatever a crashed writer left there
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fchmod(fd, 0600) == 0 && WriteAll(fd, text) && fsync(fd) == 0 && fstat(fd, &st) == 0;
  ok = close(fd) == 0 && ok;
  if (ok && beforeReplace_) beforeReplace_();
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  id = TFileId{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
  // The rename itself must reach the disk before the change counts as written.
  if (const int dir = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

bool TRegistryFileStore::Modify(TRegRoot root, const std::function<TChange(TRegNode&)>& change) {
  std::lock_guard guard(mutex_);
  const int lock = AcquireFileLock();
  if (lock < 0) return false;
  bool ok = false;
  if (Refresh(root, true)) {
    TPart& part = parts_[Index(root)];
    TRegNode tree = part.Tree;
    switch (change(tree)) {
      case TChange::chFailed:
        break;
      case TChange::chUnchanged:
        ok = true;
        break;
      case TChange::chChanged: {
        TFileId id;
        if (WriteFile(root, tree, id)) {
          part = TPart{true, true, false, id, std::move(tree)};
          ok = true;
        }
        break;
      }
    }
  }
  close(lock);
  return ok;
}

template <typename F>
auto TRegistryFileStore::Read(TRegRoot root, F&& read) {
  std::lock_guard guard(mutex_);
  Refresh(root, false);
  return read(parts_[Index(root)].Tree);
}

bool TRegistryFileStore::KeyExists(TRegRoot root, std::string_view path) {
  const auto names = SplitRegPath(path);
  return names && Read(root, [&](TRegNode& tree) { return FindRegKey(tree, *names) != nullptr; });
}

bool TRegistryFileStore::CreateKey(TRegRoot root, std::string_view path) {
  const auto names = SplitRegPath(path);
  if (!names) return false;
  return Modify(root, [&](TRegNode& tree) {
    if (FindRegKey(tree, *names) != nullptr) return TChange::chUnchanged;
    CreateRegKey(tree, *names);
    return TChange::chChanged;
  });
}

bool TRegistryFileStore::DeleteKey(TRegRoot root, std::string_view path) {
  const auto names = SplitRegPath(path);
  if (!names || names->empty()) return false;
  return Modify(root, [&](TRegNode& tree) {
    return DeleteRegKey(tree, *names) ? TChange::chChanged : TChange::chFailed;
  });
}

bool TRegistryFileStore::HasSubKeys(TRegRoot root, std::string_view path) {
  const auto names = SplitRegPath(path);
  return names && Read(root, [&](TRegNode& tree) {
           const TRegNode* key = FindRegKey(tree, *names);
           return key != nullptr && !key->SubKeys.empty();
         });
}

std::vector<std::string> TRegistryFileStore::SubKeyNames(TRegRoot root, std::string_view path) {
  const auto names = SplitRegPath(path);
  if (!names) return {};
  return Read(root, [&](TRegNode& tree) {
    std::vector<std::string> result;
    if (const TRegNode* key = FindRegKey(tree, *names))
      for (const auto& sub : key->SubKeys) result.push_back(sub.Name);
    return result;
  });
}

std::vector<std::string> TRegistryFileStore::ValueNames(TRegRoot root, std::string_view path) {
  const auto names = SplitRegPath(path);
  if (!names) return {};
  return Read(root, [&](TRegNode& tree) {
    std::vector<std::string> result;
    if (const TRegNode* key = FindRegKey(tree, *names))
      for (const auto& v : key->Values) result.push_back(v.Name);
    return result;
  });
}

std::optional<TRegValue> TRegistryFileStore::ReadValue(TRegRoot root, std::string_view path,
                                                       std::string_view name) {
  const auto names = SplitRegPath(path);
  if (!names) return std::nullopt;
  return Read(root, [&](TRegNode& tree) -> std::optional<TRegValue> {
    TRegNode* key = FindRegKey(tree, *names);
    const TRegNamedValue* value = key != nullptr ? FindRegValue(*key, name) : nullptr;
    if (value == nullptr) return std::nullopt;
    return value->Value;
  });
}

bool TRegistryFileStore::WriteValue(TRegRoot root, std::string_view path, std::string_view name,
                                    const TRegValue& value) {
  const auto names = SplitRegPath(path);
  if (!names || value.Type == TRegDataType::rdNone) return false;
  return Modify(root, [&](TRegNode& tree) {
    TRegNode* key = FindRegKey(tree, *names);
    if (key == nullptr) return TChange::chFailed;
    if (const TRegNamedValue* old = FindRegValue(*key, name); old != nullptr && old->Value == value)
      return TChange::chUnchanged;
    SetRegValue(*key, name, value);
    return TChange::chChanged;
  });
}

bool TRegistryFileStore::DeleteValue(TRegRoot root, std::string_view path, std::string_view name) {
  const auto names = SplitRegPath(path);
  if (!names) return false;
  return Modify(root, [&](TRegNode& tree) {
    TRegNode* key = FindRegKey(tree, *names);
    return key != nullptr && DeleteRegValue(*key, name) ? TChange::chChanged : TChange::chFailed;
  });
}

bool TRegistryFileStore::CopyKey(TRegRoot fromRoot, std::string_view fromPath, TRegRoot toRoot,
                                 std::string_view toPath) {
  const auto from = SplitRegPath(fromPath);
  const auto to = SplitRegPath(toPath);
  if (!from || !to) return false;
  const auto source = Read(fromRoot, [&](TRegNode& tree) -> std::optional<TRegNode> {
    const TRegNode* key = FindRegKey(tree, *from);
    if (key == nullptr) return std::nullopt;
    return *key;
  });
  if (!source || to->size() + RegKeyHeight(*source) > kMaxRegKeyDepth) return false;
  return Modify(toRoot, [&](TRegNode& tree) {
    MergeRegKey(*CreateRegKey(tree, *to), *source);
    return TChange::chChanged;
  });
}

}  // namespace vandrel

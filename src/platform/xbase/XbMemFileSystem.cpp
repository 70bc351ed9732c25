#include "platform/xbase/XbMemFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/xbase/XbIoError.h"

namespace vandrel {

namespace {

class TMemFile final : public IXbFile {
 public:
  TMemFile(std::shared_ptr<TXbMemFileSystem> fs, std::shared_ptr<TXbMemFileSystem::Node> node, int id,
           bool readOnly)
      : fs_(std::move(fs)),
        node_(std::move(node)),
        id_(id),
        generation_(fs_->generation()),
        readOnly_(readOnly) {}
  ~TMemFile() override {
    if (node_->LockedBy == id_) node_->LockedBy = 0;
    node_->SharedBy.erase(id_);
  }

  bool ReadAt(uint64_t offset, void* buffer, size_t n, size_t& got) override {
    got = 0;
    if (!Alive()) return false;
    const auto& d = node_->Data;
    if (offset >= d.size()) return true;
    got = static_cast<size_t>(std::min<uint64_t>(n, d.size() - offset));
    std::memcpy(buffer, d.data() + offset, got);
    return true;
  }

  bool WriteAt(uint64_t offset, const void* data, size_t n) override {
    if (!Alive() || readOnly_) return false;
    bool ok = fs_->Mutate();
    size_t land = ok ? n : n / 2;
    auto& d = node_->Data;
    if (land > 0) {
      if (d.size() < offset + land) d.resize(offset + land, 0);
      std::memcpy(d.data() + offset, data, land);
    }
    return ok;
  }

  bool Size(uint64_t& size) override {
    if (!Alive()) return false;
    size = node_->Data.size();
    return true;
  }
  bool Truncate(uint64_t size) override {
    if (!Alive() || readOnly_ || !fs_->Mutate()) return false;
    node_->Data.resize(size, 0);
    return true;
  }
  bool Sync() override {
    if (!Alive() || !fs_->Mutate()) return false;
    node_->Durable = node_->Data;
    return true;
  }
  bool TryLock() override {
    if (!Alive()) return false;
    if (node_->LockedBy != 0 && node_->LockedBy != id_) return false;
    if (std::any_of(node_->SharedBy.begin(), node_->SharedBy.end(), [this](int id) { return id != id_; }))
      return false;
    node_->SharedBy.erase(id_);
    node_->LockedBy = id_;
    return true;
  }
  bool TryLockShared() override {
    if (!Alive()) return false;
    if (node_->LockedBy != 0 && node_->LockedBy != id_) return false;
    if (node_->LockedBy == id_) node_->LockedBy = 0;
    node_->SharedBy.insert(id_);
    return true;
  }

 private:
  bool Alive() const { return generation_ == fs_->generation(); }

  std::shared_ptr<TXbMemFileSystem> fs_;
  std::shared_ptr<TXbMemFileSystem::Node> node_;
  int id_;
  int generation_;
  bool readOnly_;  // opened for reading only
};

}  // namespace

bool TXbMemFileSystem::Mutate() {
  ++calls_;
  if (!Failed()) return true;
  XbSetIoError(ENOSPC);
  return false;
}

std::unique_ptr<IXbFile> TXbMemFileSystem::Open(const std::string& path, TXbOpenMode mode, int& error) {
  auto it = files_.find(path);
  if (readOnly_ && mode != TXbOpenMode::xomReadOnly) {
    error = it == files_.end() && mode == TXbOpenMode::xomExisting ? ENOENT : EROFS;
    return nullptr;
  }
  if (mode == TXbOpenMode::xomExisting || mode == TXbOpenMode::xomReadOnly) {
    if (it == files_.end()) {
      error = ENOENT;
      return nullptr;
    }
  } else {
    if (mode == TXbOpenMode::xomCreateNew && it != files_.end()) {
      error = EEXIST;
      return nullptr;
    }
    if (!Mutate()) {
      error = EIO;
      return nullptr;
    }
    if (it == files_.end()) {
      it = files_.emplace(path, std::make_shared<Node>()).first;
    } else {
      it->second->Data.clear();
    }
  }
  error = 0;
  return std::make_unique<TMemFile>(shared_from_this(), it->second, nextId_++,
                                    mode == TXbOpenMode::xomReadOnly);
}

bool TXbMemFileSystem::Exists(const std::string& path) {
  return files_.count(path) != 0;
}

bool TXbMemFileSystem::Remove(const std::string& path) {
  if (readOnly_ || !Mutate()) return false;
  files_.erase(path);
  return true;
}

bool TXbMemFileSystem::Rename(const std::string& from, const std::string& to) {
  if (readOnly_ || !Mutate()) return false;
  auto it = files_.find(from);
  if (it == files_.end()) return false;
  auto node = it->second;
  files_.erase(it);
  files_[to] = node;
  return true;
}

bool TXbMemFileSystem::SyncDir(const std::string& dir) {
  if (!Mutate()) return false;
  for (auto it = durable_.begin(); it != durable_.end();) {
    if (XbDirName(it->first) == dir) {
      it = durable_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& [path, node] : files_) {
    if (XbDirName(path) == dir) durable_[path] = node;
  }
  return true;
}

void TXbMemFileSystem::Crash(bool dropUnsynced) {
  ++generation_;
  failFrom_ = 0;
  if (dropUnsynced) {
    files_ = durable_;
    for (auto& [path, node] : files_) node->Data = node->Durable;
  }
  for (auto& [path, node] : files_) {
    node->LockedBy = 0;
    node->SharedBy.clear();
  }
}

std::vector<unsigned char> TXbMemFileSystem::Contents(const std::string& path) const {
  auto it = files_.find(path);
  return it == files_.end() ? std::vector<unsigned char>{} : it->second->Data;
}

void TXbMemFileSystem::SetContents(const std::string& path, const std::vector<unsigned char>& data) {
  auto& node = files_[path];
  if (!node) node = std::make_shared<Node>();
  node->Data = data;
  node->Durable = data;
  durable_[path] = node;
}

std::vector<std::string> TXbMemFileSystem::List() const {
  std::vector<std::string> out;
  for (const auto& [path, node] : files_) out.push_back(path);
  return out;
}

}  // namespace vandrel

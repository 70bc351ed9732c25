#include "platform/xbase/XbPagedFile.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace vandrel {

namespace {

constexpr size_t kMaxCleanPages = 16384;  // clean pages kept before the cache is trimmed
constexpr char kJournalMagic[4] = {'V', 'X', 'J', '1'};

void PutLe(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
uint64_t GetLe(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}
void PutString(std::string& out, const std::string& s) {
  PutLe(out, s.size(), 4);
  out += s;
}
bool GetString(const unsigned char*& p, const unsigned char* end, std::string& s) {
  if (end - p < 4) return false;
  uint64_t n = GetLe(p, 4);
  p += 4;
  if (static_cast<uint64_t>(end - p) < n) return false;
  s.assign(reinterpret_cast<const char*>(p), n);
  p += n;
  return true;
}

uint32_t Checksum(uint32_t salt, const char* data, size_t n) {
  unsigned char s[4];
  for (int i = 0; i < 4; ++i) s[i] = static_cast<unsigned char>(salt >> (8 * i));
  uLong c = crc32(0L, s, 4);
  return static_cast<uint32_t>(crc32(c, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(n)));
}

}  // namespace

TXbPagedFile::TXbPagedFile(std::string path, std::unique_ptr<IXbFile> file)
    : path_(std::move(path)), file_(std::move(file)) {}

bool TXbPagedFile::Load() {
  ForgetLast();
  pages_.clear();
  before_.clear();
  dirtyPages_ = 0;
  if (!file_->Size(diskSize_)) return false;
  size_ = diskSize_;
  return true;
}

TXbPagedFile::Page* TXbPagedFile::GetPage(uint64_t number) {
  if (last_ != nullptr && lastNumber_ == number) return last_;
  auto it = pages_.find(number);
  if (it != pages_.end()) {
    last_ = &it->second;
    lastNumber_ = number;
    return last_;
  }
  if (pages_.size() - dirtyPages_ > kMaxCleanPages) {
    ForgetLast();
    for (auto p = pages_.begin(); p != pages_.end();) p = p->second.Dirty ? std::next(p) : pages_.erase(p);
  }
  Page page;
  page.Data.assign(kPageSize, 0);
  uint64_t offset = number * kPageSize;
  if (offset < diskSize_) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kPageSize, diskSize_ - offset));
    size_t got = 0;
    if (!file_->ReadAt(offset, page.Data.data(), want, got)) return nullptr;
  }
  last_ = &pages_.emplace(number, std::move(page)).first->second;
  lastNumber_ = number;
  return last_;
}

bool TXbPagedFile::Read(uint64_t offset, void* buffer, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  auto* out = static_cast<unsigned char*>(buffer);
  while (n > 0) {
    Page* page = GetPage(offset / kPageSize);
    if (page == nullptr) return false;
    size_t in = static_cast<size_t>(offset % kPageSize);
    size_t take = std::min<size_t>(n, kPageSize - in);
    std::memcpy(out, page->Data.data() + in, take);
    out += take;
    offset += take;
    n -= take;
  }
  return true;
}

bool TXbPagedFile::Read(uint64_t offset, std::string& out, size_t n) {
  out.resize(n);
  return Read(offset, out.data(), n);
}

bool TXbPagedFile::Write(uint64_t offset, const void* data, size_t n) {
  const auto* in = static_cast<const unsigned char*>(data);
  uint64_t end = offset + n;
  while (n > 0) {
    uint64_t number = offset / kPageSize;
    Page* page = GetPage(number);
    if (page == nullptr) return false;
    if (!page->Dirty) {
      uint64_t start = number * kPageSize;
      if (start < diskSize_ && before_.count(number) == 0) {
        size_t keep = static_cast<size_t>(std::min<uint64_t>(kPageSize, diskSize_ - start));
        before_[number].assign(page->Data.begin(), page->Data.begin() + keep);
      }
      page->Dirty = true;
      ++dirtyPages_;
    }
    size_t at = static_cast<size_t>(offset % kPageSize);
    size_t take = std::min<size_t>(n, kPageSize - at);
    std::memcpy(page->Data.data() + at, in, take);
    in += take;
    offset += take;
    n -= take;
  }
  size_ = std::max(size_, end);
  return true;
}

void TXbPagedFile::AddToJournal(TXbJournal& journal, uint32_t id) const {
  journal.AddFile(id, diskSize_, path_);
  for (const auto& [number, bytes] : before_)
    journal.AddPage(id, number * kPageSize, bytes.data(), bytes.size());
}

bool TXbPagedFile::WriteOut() {
  for (auto& [number, page] : pages_) {
    if (!page.Dirty) continue;
    uint64_t start = number * kPageSize;
    if (start >= size_) continue;
    size_t n = static_cast<size_t>(std::min<uint64_t>(kPageSize, size_ - start));
    if (!file_->WriteAt(start, page.Data.data(), n)) return false;
  }
  uint64_t onDisk = 0;
  if (!file_->Size(onDisk)) return false;
  if (onDisk > size_ && !file_->Truncate(size_)) return false;
  return file_->StartSync();
}

bool TXbPagedFile::Settle() {
  if (!file_->Sync()) return false;
  ForgetLast();
  for (auto it = pages_.begin(); it != pages_.end();) {
    it->second.Dirty = false;
    it = it->first * kPageSize >= size_ ? pages_.erase(it) : std::next(it);
  }
  dirtyPages_ = 0;
  before_.clear();
  diskSize_ = size_;
  return true;
}

void TXbPagedFile::Discard() {
  ForgetLast();
  for (auto it = pages_.begin(); it != pages_.end();)
    it = it->second.Dirty ? pages_.erase(it) : std::next(it);
  // A clean page may hold bytes read after the length shrank within the batch; drop those too.
  for (auto it = pages_.begin(); it != pages_.end();) {
    it = it->first * kPageSize + kPageSize > diskSize_ ? pages_.erase(it) : std::next(it);
  }
  dirtyPages_ = 0;
  before_.clear();
  size_ = diskSize_;
}

bool TXbPagedFile::Adopt(std::unique_ptr<IXbFile> file) {
  file_ = std::move(file);
  return Load();
}

TXbJournal::TXbJournal(uint32_t salt) : salt_(salt) {
  bytes_.append(kJournalMagic, 4);
  PutLe(bytes_, salt, 4);
  PutLe(bytes_, Checksum(salt, bytes_.data(), 8), 4);
}

void TXbJournal::AddRecord(char type, const std::string& payload) {
  size_t start = bytes_.size();
  bytes_.push_back(type);
  PutLe(bytes_, payload.size(), 4);
  bytes_ += payload;
  PutLe(bytes_, Checksum(salt_, bytes_.data() + start, bytes_.size() - start), 4);
}

void TXbJournal::AddFile(uint32_t id, uint64_t oldSize, const std::string& path) {
  std::string p;
  PutLe(p, id, 4);
  PutLe(p, oldSize, 8);
  p += path;
  AddRecord('F', p);
}

void TXbJournal::AddPage(uint32_t id, uint64_t offset, const unsigned char* data, size_t n) {
  std::string p;
  PutLe(p, id, 4);
  PutLe(p, offset, 8);
  p.append(reinterpret_cast<const char*>(data), n);
  AddRecord('P', p);
}

void TXbJournal::AddSwap(const std::string& target, const std::string& replacement,
                         const std::string& backup) {
  std::string p;
  PutString(p, target);
  PutString(p, replacement);
  PutString(p, backup);
  AddRecord('S', p);
}

namespace {

// What an intact prefix of a journal asks to be put back.
struct TJournalContent {
  struct TFileEntry {
    std::string Path;
    uint64_t OldSize = 0;
    std::vector<std::pair<uint64_t, std::string>> Pages;  // offset, old bytes
  };
  struct TSwap {
    std::string Target, Replacement, Backup;
  };
  std::map<uint32_t, TFileEntry> Files;
  std::vector<TSwap> Swaps;
};

// The whole journal; false with `error` set when it exists but cannot be read.
bool ReadJournal(IXbFileSystem& fs, const std::string& journalPath, bool& exists, std::string& bytes,
                 std::string& error, TXbOpenMode mode = TXbOpenMode::xomExisting) {
  int err = 0;
  auto journal = fs.Open(journalPath, mode, err);
  exists = journal != nullptr || fs.Exists(journalPath);
  if (!journal) {
    if (!exists) return true;
    error = "cannot open the journal";
    return false;
  }
  uint64_t size = 0;
  size_t got = 0;
  if (!journal->Size(size)) {
    error = "cannot read the journal";
    return false;
  }
  bytes.resize(static_cast<size_t>(size));
  if (!journal->ReadAt(0, bytes.data(), bytes.size(), got)) {
    error = "cannot read the journal";
    return false;
  }
  bytes.resize(got);
  return true;
}

// Data files are only written after the whole journal is synced, so a torn journal means untouched
// files: whatever prefix is intact is enough.
TJournalContent ParseJournal(const std::string& bytes) {
  TJournalContent content;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  if (bytes.size() < 12 || std::memcmp(p, kJournalMagic, 4) != 0) return content;
  uint32_t salt = static_cast<uint32_t>(GetLe(p + 4, 4));
  if (GetLe(p + 8, 4) != Checksum(salt, bytes.data(), 8)) return content;
  p += 12;
  while (end - p >= 9) {
    char type = static_cast<char>(p[0]);
    uint64_t len = GetLe(p + 1, 4);
    if (static_cast<uint64_t>(end - p) < 9 + len) break;
    uint32_t sum = static_cast<uint32_t>(GetLe(p + 5 + len, 4));
    if (sum != Checksum(salt, reinterpret_cast<const char*>(p), 5 + len)) break;
    const unsigned char* q = p + 5;
    const unsigned char* qend = q + len;
    if (type == 'F' && len >= 12) {
      // Each file is named once; a second entry under its number would aim its pages at another file.
      auto [slot, fresh] = content.Files.try_emplace(static_cast<uint32_t>(GetLe(q, 4)));
      if (!fresh) break;
      auto& f = slot->second;
      f.OldSize = GetLe(q + 4, 8);
      f.Path.assign(reinterpret_cast<const char*>(q + 12), len - 12);
    } else if (type == 'P' && len >= 12) {
      // Old bytes only ever come from inside a file's old length; anything else is not ours.
      auto it = content.Files.find(static_cast<uint32_t>(GetLe(q, 4)));
      uint64_t offset = GetLe(q + 4, 8);
      if (it == content.Files.end() || offset > it->second.OldSize || len - 12 > it->second.OldSize - offset)
        break;
      it->second.Pages.emplace_back(offset, std::string(reinterpret_cast<const char*>(q + 12), len - 12));
    } else if (type == 'S') {
      TJournalContent::TSwap s;
      if (!GetString(q, qend, s.Target) || !GetString(q, qend, s.Replacement) ||
          !GetString(q, qend, s.Backup))
        break;
      content.Swaps.push_back(std::move(s));
    }
    p += 9 + len;
  }
  return content;
}

// Locks every file the journal names that nobody in this process holds, so no other process writes it
// while it is put back.
bool LockJournalFiles(IXbFileSystem& fs, const TJournalContent& content, TXbHeldFile held, void* context,
                      std::map<std::string, std::unique_ptr<IXbFile>>& locked, std::string& error) {
  std::set<std::string> paths;
  for (const auto& [id, f] : content.Files) paths.insert(f.Path);
  for (const auto& s : content.Swaps) paths.insert({s.Target, s.Replacement, s.Backup});
  for (const auto& path : paths) {
    if (path.empty() || (held != nullptr && held(context, path) != nullptr) || !fs.Exists(path)) continue;
    int err = 0;
    auto file = fs.Open(path, TXbOpenMode::xomExisting, err);
    if (!file || !file->TryLock()) {
      error = path + " is in use by another process";
      return false;
    }
    locked[path] = std::move(file);
  }
  return true;
}

// Swaps first: afterwards every target path names the file the page images belong to.
bool UndoSwaps(IXbFileSystem& fs, const TJournalContent& content, std::string& error) {
  std::set<std::string> dirs;
  for (const auto& s : content.Swaps) {
    if (fs.Exists(s.Backup) && !fs.Rename(s.Backup, s.Target)) {
      error = "cannot restore " + s.Target;
      return false;
    }
    if (fs.Exists(s.Replacement) && !fs.Remove(s.Replacement)) {
      error = "cannot remove " + s.Replacement;
      return false;
    }
    dirs.insert(XbDirName(s.Target));
  }
  for (const auto& d : dirs) {
    if (!fs.SyncDir(d)) {
      error = "cannot sync folder " + d;
      return false;
    }
  }
  return true;
}

// Writes the old page images back and cuts each file to its old length.
bool RestorePages(IXbFileSystem& fs, const TJournalContent& content, TXbHeldFile held, void* context,
                  std::map<std::string, std::unique_ptr<IXbFile>>& locked, std::string& error) {
  for (const auto& [id, f] : content.Files) {
    if (f.Path.empty()) continue;
    std::unique_ptr<IXbFile> own;
    IXbFile* file = held != nullptr ? held(context, f.Path) : nullptr;
    // After a swap was undone the path names the restored file, which was locked under its backup name.
    for (const auto& s : content.Swaps) {
      if (file == nullptr && s.Target == f.Path && locked.count(s.Backup) != 0) file = locked[s.Backup].get();
    }
    if (file == nullptr && locked.count(f.Path) != 0) file = locked[f.Path].get();
    if (file == nullptr) {
      int err = 0;
      own = fs.Open(f.Path, TXbOpenMode::xomExisting, err);
      if (!own) {
        if (!fs.Exists(f.Path)) continue;  // nothing left to put back
        error = "cannot open " + f.Path;
        return false;
      }
      if (!own->TryLock()) {
        error = f.Path + " is in use by another process";
        return false;
      }
      file = own.get();
    }
    for (const auto& [offset, data] : f.Pages) {
      if (!file->WriteAt(offset, data.data(), data.size())) {
        error = "cannot write " + f.Path;
        return false;
      }
    }
    uint64_t now = 0;
    if (!file->Size(now) || (now > f.OldSize && !file->Truncate(f.OldSize)) || !file->Sync()) {
      error = "cannot restore " + f.Path;
      return false;
    }
  }
  return true;
}

}  // namespace

bool XbJournalPending(IXbFileSystem& fs, const std::string& journalPath, bool& pending, std::string& error) {
  pending = false;
  bool exists = false;
  std::string bytes;
  if (!ReadJournal(fs, journalPath, exists, bytes, error, TXbOpenMode::xomReadOnly)) return false;
  if (!exists) return true;
  const TJournalContent content = ParseJournal(bytes);
  pending = !content.Files.empty() || !content.Swaps.empty();
  return true;
}

bool XbRecoverJournal(IXbFileSystem& fs, const std::string& journalPath, TXbHeldFile held, void* context,
                      bool lockFirst, std::string& error) {
  bool exists = false;
  std::string bytes;
  if (!ReadJournal(fs, journalPath, exists, bytes, error)) return false;
  if (!exists) return true;
  const TJournalContent content = ParseJournal(bytes);
  std::map<std::string, std::unique_ptr<IXbFile>> locked;  // files this recovery opened and locked
  if (lockFirst && !LockJournalFiles(fs, content, held, context, locked, error)) return false;
  if (!UndoSwaps(fs, content, error) || !RestorePages(fs, content, held, context, locked, error))
    return false;
  std::string dir = XbDirName(journalPath);
  if (!fs.Remove(journalPath) || !fs.SyncDir(dir)) {
    error = "cannot remove the journal";
    return false;
  }
  return true;
}

}  // namespace vandrel

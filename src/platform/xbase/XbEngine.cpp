#include "platform/xbase/XbEngine.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "platform/Format.h"
#include "platform/xbase/XbDataFile.h"
#include "platform/xbase/XbIoError.h"

namespace vandrel {

namespace {

constexpr const char* kBackupSuffix = ".bak";  // an old file waiting for its commit to finish

// "dir/NAME.ext" -> ("dir/NAME", ".ext")
std::pair<std::string, std::string> SplitExtension(const std::string& path) {
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {path, ""};
  return {path.substr(0, dot), path.substr(dot)};
}

std::string MemoPathOf(const std::string& dbfPath) {
  auto [base, ext] = SplitExtension(dbfPath);
  bool upper = !ext.empty() && std::isupper(static_cast<unsigned char>(ext.back()));
  return base + (upper ? ".FPT" : ".fpt");
}

class TXbEngineImpl;

class TXbTableImpl final : public IXbTable {
 public:
  TXbTableImpl(TXbEngineImpl& engine, std::shared_ptr<TXbDataFile> file);
  ~TXbTableImpl() override;

  int FieldCount() const override { return static_cast<int>(file_->Header().Fields.size()); }
  const TXbFieldDef& Field(int j) const override { return file_->Header().Fields[static_cast<size_t>(j)]; }
  uint32_t RecordCount() override { return file_->Count(); }
  uint32_t RecNo() const override { return recno_; }
  bool Eof() const override { return recno_ == 0 && !appending_; }

  bool CreateTags(const std::vector<TXbTagDef>& tags) override;
  bool SelectTag(const std::string& name) override;
  bool Top() override;
  bool Skip() override;
  bool Seek(std::string_view key) override;
  bool SeekNext(std::string_view key) override;
  bool AppendStart() override;
  bool Append() override;
  bool Delete() override;
  bool Flush() override;

  std::string_view Raw(int j) const override;
  bool Assign(int j, std::string_view text) override;
  bool AssignRaw(int j, std::string_view bytes) override;
  double Double(int j) const override;
  bool AssignDouble(int j, double value) override;
  std::string Memo(int j) override;
  bool AssignMemo(int j, std::string_view data, bool binary) override;
  bool Pack(bool compactMemo) override;
  int CompactMemo() override;

  // Writes a changed record (inside the caller's batch). Used by navigation and by commits.
  bool FlushRecord();
  bool Pending() const { return changed_ && !appending_; }

 private:
  void Refresh();  // catches up after a rollback or a swap
  void SetEof();
  bool Go(uint32_t recno, const std::string* key);
  // Moves to a tag entry and remembers it, so stepping on needs no search.
  bool GoEntry(const TXbTag& tag, TXbTag::Entries::const_iterator it);
  // The entry after the current one in `tag`.
  TXbTag::Entries::const_iterator NextEntry(const TXbTag& tag) const;
  bool Writable(int j, const char* types);
  bool StoreRecord();
  int Rebuild(bool dropDeleted, bool compactMemo);

  TXbEngineImpl& engine_;
  std::shared_ptr<TXbDataFile> file_;
  std::string record_;                                 // record buffer, deletion flag first
  uint32_t recno_ = 0;                                 // current record, 0 at end of file
  std::string key_;                                    // key of the current record in the selected tag
  int tag_ = -1;                                       // selected tag, -1 for record order
  bool changed_ = false;                               // record_ differs from the file
  bool appending_ = false;                             // record_ is a new record not yet stored
  bool assignFailed_ = false;                          // a value did not fit: the record must not be stored
  std::map<int, std::pair<std::string, bool>> memos_;  // pending memo values (data, binary)
  uint64_t generation_ = 0;
  TXbTag::Entries::const_iterator pos_;  // entry of the current record in the selected tag
  uint64_t posVersion_ = 0;              // the tag's version when pos_ was taken
  bool posValid_ = false;
};

class TXbEngineImpl final : public IXbEngine {
 public:
  explicit TXbEngineImpl(std::shared_ptr<IXbFileSystem> fs) : fs_(std::move(fs)) {
    std::random_device rd;
    salt_ = rd();
  }
  ~TXbEngineImpl() override {
    if (depth_ > 0) RollbackBatch();
  }

  void SetJournalPath(const std::string& path) override { journalPath_ = path; }
  void SetReadOnly(bool on) override { readOnly_ = on; }
  bool ReadOnly() const override { return readOnly_; }
  bool Recover() override;
  void SetMemoBlockSize(uint32_t size) override {
    if (size > 0 && size <= 0xFFFF) blockSize_ = size;
  }
  std::unique_ptr<IXbTable> Open(const std::string& path) override;
  std::unique_ptr<IXbTable> Create(const std::string& path, const std::vector<TXbFieldDef>& fields) override;

  void BeginBatch() override { ++depth_; }
  bool CommitBatch() override;
  void RollbackBatch() override;
  bool InBatch() const override { return depth_ > 0; }

  int ErrorCode() const override { return error_; }
  const std::string& ErrorText() const override { return errorText_; }
  void ClearError() override {
    error_ = 0;
    errorText_.clear();
  }

  bool Fail(int code, const std::string& text) {
    error_ = code;
    errorText_ = text;
    return false;
  }

  // Runs a change inside the open batch, or as a batch of its own.
  bool Change(const std::shared_ptr<TXbDataFile>& file, const std::function<bool()>& op);
  // Swaps freshly built files in for a table's files; commits on its own.
  struct Swap {
    std::string Target;
    std::string Replacement;
    std::unique_ptr<IXbFile> File;  // the replacement, open and locked
    bool Memo = false;
  };
  bool CommitSwaps(const std::shared_ptr<TXbDataFile>& file, std::vector<Swap>& swaps);
  // Journals the files about to be built, so a crash while building them leaves nothing behind.
  bool AnnounceSwaps(const std::vector<std::pair<std::string, std::string>>& targetAndReplacement);
  void Unannounce() {
    announced_ = false;
    fs_->Remove(journalPath_);
    fs_->SyncDir(XbDirName(journalPath_));
  }

  IXbFileSystem& Fs() { return *fs_; }
  void Register(TXbTableImpl* t) { handles_.insert(t); }
  void Unregister(TXbTableImpl* t) { handles_.erase(t); }
  std::string FreeName(const std::string& base, const std::vector<std::string>& exts, const char* form);
  bool Broken() {
    return broken_ ? Fail(xbeJournal, "an interrupted commit could not be rolled back") : false;
  }
  bool RefuseWrite() { return Fail(xbeReadOnly, "The database is open for reading only"); }
  bool IsReadOnly() const { return readOnly_; }

 private:
  bool Commit(std::vector<Swap>* swaps, const std::shared_ptr<TXbDataFile>& swapped);
  void Discard();
  bool RecoverIfNeeded();
  std::string JournalPath(const std::string& forTable);
  static IXbFile* Held(void* context, const std::string& path);
  std::unique_ptr<IXbTable> Attach(const std::string& canonical);
  // Loads the opened data and memo files as the table of `canonical` and shares it; on failure the
  // error is `failCode` with `failText` and the reason.
  std::unique_ptr<IXbTable> Install(const std::string& canonical, const std::string& memoPath,
                                    std::unique_ptr<IXbFile> dbf, std::unique_ptr<IXbFile> fpt, int failCode,
                                    const std::string& failText);

  std::shared_ptr<IXbFileSystem> fs_;
  std::string journalPath_;
  uint32_t blockSize_ = 64;
  uint32_t salt_ = 0;
  int depth_ = 0;
  bool announced_ = false;  // the journal on disk already lists the swaps of the coming commit
  bool broken_ = false;     // a commit failed and its rollback too: only a restart can recover
  bool readOnly_ = false;   // see SetReadOnly
  int error_ = 0;
  std::string errorText_;
  std::map<std::string, std::weak_ptr<TXbDataFile>> files_;  // by canonical path
  std::set<std::shared_ptr<TXbDataFile>> batch_;             // files changed in the open batch
  std::set<TXbTableImpl*> handles_;
};

// ---- engine ----

std::string TXbEngineImpl::JournalPath(const std::string& forTable) {
  if (journalPath_.empty()) journalPath_ = XbDirName(forTable) + "/DB.jnl";
  return journalPath_;
}

IXbFile* TXbEngineImpl::Held(void* context, const std::string& path) {
  auto* self = static_cast<TXbEngineImpl*>(context);
  for (auto& [p, weak] : self->files_) {
    auto f = weak.lock();
    if (!f) continue;
    if (f->Dbf().Path() == path) return &f->Dbf().File();
    if (f->Fpt() && f->Fpt()->Path() == path) return &f->Fpt()->File();
  }
  return nullptr;
}

bool TXbEngineImpl::Recover() {
  if (depth_ > 0) return Fail(xbeBatch, "cannot recover while a batch is open");
  if (journalPath_.empty()) return true;
  std::string why;
  if (readOnly_) {
    // The files as they are may hold half a commit; reading them without the rollback would show it.
    bool pending = false;
    if (!XbJournalPending(*fs_, journalPath_, pending, why))
      return Fail(xbeRead, "Cannot read the journal " + journalPath_ + ": " + why);
    if (pending)
      return Fail(
          xbeReadOnly,
          "An interrupted commit must be rolled back, which a database open for reading only cannot do");
    return true;
  }
  if (!XbRecoverJournal(*fs_, journalPath_, &TXbEngineImpl::Held, this, true, why)) {
    return Fail(xbeJournal, "Cannot roll back an interrupted commit: " + why);
  }
  broken_ = false;
  for (auto& [p, weak] : files_) {
    if (auto f = weak.lock()) {
      std::string ignored;
      f->Load(ignored);
    }
  }
  return true;
}

bool TXbEngineImpl::RecoverIfNeeded() {
  if (depth_ > 0 || journalPath_.empty() || !fs_->Exists(journalPath_)) return true;
  return Recover();
}

std::string TXbEngineImpl::FreeName(const std::string& base, const std::vector<std::string>& exts,
                                    const char* form) {
  for (int n = 1;; ++n) {
    std::string stem = Format(form, {base, n});
    bool used =
        std::any_of(exts.begin(), exts.end(), [&](const std::string& e) { return fs_->Exists(stem + e); });
    if (!used) return stem;
  }
}

std::unique_ptr<IXbTable> TXbEngineImpl::Attach(const std::string& canonical) {
  auto it = files_.find(canonical);
  if (it == files_.end()) return nullptr;
  auto file = it->second.lock();
  if (!file) return nullptr;
  return std::make_unique<TXbTableImpl>(*this, file);
}

std::unique_ptr<IXbTable> TXbEngineImpl::Open(const std::string& path) {
  if (broken_) {
    Broken();
    return nullptr;
  }
  JournalPath(path);
  if (!RecoverIfNeeded()) return nullptr;
  std::string canonical = fs_->Canonical(path);
  if (auto shared = Attach(canonical)) return shared;

  const TXbOpenMode mode = readOnly_ ? TXbOpenMode::xomReadOnly : TXbOpenMode::xomExisting;
  int err = 0;
  auto dbf = fs_->Open(canonical, mode, err);
  if (!dbf) {
    if (err == ENOENT)
      Fail(xbeMissing, "Cannot open " + path);
    else if (!readOnly_ && (err == EROFS || err == EACCES))
      Fail(xbeReadOnly, "Cannot open " + path + " for writing: " + std::strerror(err));
    else
      Fail(xbeRead, "Cannot open " + path + ": " + std::strerror(err));
    return nullptr;
  }
  if (!(readOnly_ ? dbf->TryLockShared() : dbf->TryLock())) {
    Fail(xbeLocked, "The file is in use: " + path);
    return nullptr;
  }
  uint64_t size = 0;
  if (!dbf->Size(size)) {
    Fail(xbeRead, "Cannot read " + path);
    return nullptr;
  }
  if (size == 0) {
    Fail(xbeEmpty, "The file is empty: " + path);
    return nullptr;
  }
  std::string memoPath = MemoPathOf(canonical);
  // Old files left by a swap whose commit had already finished.
  if (!readOnly_ && fs_->Exists(canonical + kBackupSuffix)) fs_->Remove(canonical + kBackupSuffix);
  if (!readOnly_ && fs_->Exists(memoPath + kBackupSuffix)) fs_->Remove(memoPath + kBackupSuffix);

  std::string head(static_cast<size_t>(std::min<uint64_t>(size, 65536)), '\0');
  size_t got = 0;
  TXbHeader header;
  std::string why;
  if (!dbf->ReadAt(0, head.data(), head.size(), got)) {
    Fail(xbeRead, "Cannot read " + path);
    return nullptr;
  }
  head.resize(got);
  if (!ParseDbfHeader(head, header, why)) {
    Fail(xbeDamaged, "Damaged table " + path + ": " + why);
    return nullptr;
  }
  std::unique_ptr<IXbFile> fpt;
  if (header.HasMemo()) {
    fpt = fs_->Open(memoPath, mode, err);
    if (fpt && !(readOnly_ ? fpt->TryLockShared() : fpt->TryLock())) {
      Fail(xbeLocked, "The file is in use: " + memoPath);
      return nullptr;
    }
    if (!fpt && !readOnly_ && err != ENOENT) {
      Fail(err == EROFS || err == EACCES ? xbeReadOnly : xbeRead,
           "Cannot open " + memoPath + ": " + std::strerror(err));
      return nullptr;
    }
    // Read-only, a missing memo file leaves the memos reading as damaged.
    if (!fpt && !readOnly_) {
      // Keep the records readable; their memos read as damaged until the table is compacted.
      fpt = fs_->Open(memoPath, TXbOpenMode::xomCreateNew, err);
      TXbMemoHeader mh{static_cast<uint32_t>((kFptHeaderSize + blockSize_ - 1) / blockSize_), blockSize_};
      std::string memoHead = BuildFptHeader(mh);
      if (!fpt || !fpt->TryLock() || !fpt->WriteAt(0, memoHead.data(), memoHead.size()) || !fpt->Sync() ||
          !fs_->SyncDir(XbDirName(memoPath))) {
        Fail(xbeCreate, "Cannot create the memo file " + memoPath);
        return nullptr;
      }
    }
  }
  return Install(canonical, memoPath, std::move(dbf), std::move(fpt), xbeDamaged, "Damaged table " + path);
}

std::unique_ptr<IXbTable> TXbEngineImpl::Create(const std::string& path,
                                                const std::vector<TXbFieldDef>& fields) {
  if (broken_) {
    Broken();
    return nullptr;
  }
  if (readOnly_) {
    RefuseWrite();
    return nullptr;
  }
  JournalPath(path);
  if (!RecoverIfNeeded()) return nullptr;
  std::string canonical = fs_->Canonical(path);
  if (auto it = files_.find(canonical); it != files_.end() && !it->second.expired()) {
    Fail(xbeLocked, "The table is open: " + path);
    return nullptr;
  }
  TXbHeader header;
  std::vector<TXbFieldDef> defs = fields;
  std::string why;
  if (!LayoutFields(defs, header, why)) {
    Fail(xbeField, "Cannot create " + path + ": " + why);
    return nullptr;
  }
  std::string memoPath = MemoPathOf(canonical);
  auto [base, ext] = SplitExtension(canonical);
  std::string memoExt = SplitExtension(memoPath).second;
  std::string dir = XbDirName(canonical);

  int err = 0;
  if (auto old = fs_->Open(canonical, TXbOpenMode::xomExisting, err)) {
    if (!old->TryLock()) {
      Fail(xbeLocked, "The file is in use: " + path);
      return nullptr;
    }
    uint64_t size = 0;
    if (!old->Size(size)) {
      Fail(xbeRead, "Cannot read " + path);
      return nullptr;
    }
    if (size > 0) {
      std::string bytes(static_cast<size_t>(std::min<uint64_t>(size, 65536)), '\0');
      size_t got = 0;
      TXbHeader existing;
      if (!old->ReadAt(0, bytes.data(), bytes.size(), got)) {
        Fail(xbeRead, "Cannot read " + path);
        return nullptr;
      }
      bytes.resize(got);
      if (ParseDbfHeader(bytes, existing, why)) {
        Fail(xbeExists, "A table with data already exists: " + path);
        return nullptr;
      }
      // Unreadable: keep it for whoever wants to look at it, under a name nothing else uses.
      std::string aside = FreeName(base, {ext, memoExt}, "%s.damaged-%d");
      old.reset();
      if (!fs_->Rename(canonical, aside + ext) ||
          (fs_->Exists(memoPath) && !fs_->Rename(memoPath, aside + memoExt)) || !fs_->SyncDir(dir)) {
        Fail(xbeCreate, "Cannot move the damaged table aside: " + path);
        return nullptr;
      }
    }
  }

  // Built under a temporary name and renamed into place, so a crash never leaves half a header.
  std::string temp = FreeName(base, {ext, memoExt}, "%s(%d)");
  int y, m, d;
  XbToday(y, m, d);
  std::string bytes = BuildDbfHeader(header, y, m, d);
  bytes.push_back(static_cast<char>(kDbfEof));
  std::unique_ptr<IXbFile> fpt;
  XbClearIoError();
  auto dbf = fs_->Open(temp + ext, TXbOpenMode::xomCreateNew, err);
  bool ok = dbf && dbf->TryLock() && dbf->WriteAt(0, bytes.data(), bytes.size()) && dbf->Sync();
  if (ok && header.HasMemo()) {
    fpt = fs_->Open(temp + memoExt, TXbOpenMode::xomCreateNew, err);
    TXbMemoHeader mh{static_cast<uint32_t>((kFptHeaderSize + blockSize_ - 1) / blockSize_), blockSize_};
    std::string head = BuildFptHeader(mh);
    ok = fpt && fpt->TryLock() && fpt->WriteAt(0, head.data(), head.size()) && fpt->Sync() &&
         fs_->Rename(temp + memoExt, memoPath);
  }
  ok = ok && fs_->Rename(temp + ext, canonical) && fs_->SyncDir(dir);
  if (!ok) {
    const std::string reason = XbIoErrorSuffix();
    dbf.reset();
    fpt.reset();
    fs_->Remove(temp + ext);
    fs_->Remove(temp + memoExt);
    Fail(xbeCreate, "Cannot create " + path + reason);
    return nullptr;
  }
  return Install(canonical, memoPath, std::move(dbf), std::move(fpt), xbeCreate, "Cannot create " + path);
}

std::unique_ptr<IXbTable> TXbEngineImpl::Install(const std::string& canonical, const std::string& memoPath,
                                                 std::unique_ptr<IXbFile> dbf, std::unique_ptr<IXbFile> fpt,
                                                 int failCode, const std::string& failText) {
  auto file = std::make_shared<TXbDataFile>(
      canonical, memoPath, std::make_unique<TXbPagedFile>(canonical, std::move(dbf)),
      fpt ? std::make_unique<TXbPagedFile>(memoPath, std::move(fpt)) : nullptr);
  std::string why;
  if (!file->Load(why)) {
    Fail(failCode, failText + ": " + why);
    return nullptr;
  }
  files_[canonical] = file;
  return std::make_unique<TXbTableImpl>(*this, file);
}

bool TXbEngineImpl::Change(const std::shared_ptr<TXbDataFile>& file, const std::function<bool()>& op) {
  if (broken_) return Broken();
  if (readOnly_) return RefuseWrite();
  bool implicit = depth_ == 0;
  batch_.insert(file);
  if (implicit) depth_ = 1;
  bool ok = op();
  if (implicit) {
    depth_ = 0;
    if (ok) {
      ok = Commit(nullptr, nullptr);
    } else {
      Discard();
    }
  }
  return ok;
}

bool TXbEngineImpl::CommitBatch() {
  if (depth_ == 0) return Fail(xbeBatch, "no batch is open");
  if (depth_ > 1) {
    --depth_;
    return true;
  }
  bool ok = true;
  for (auto* h : handles_) {
    if (h->Pending()) ok = h->FlushRecord() && ok;
  }
  depth_ = 0;
  if (!ok) {
    Discard();
    return false;
  }
  return Commit(nullptr, nullptr);
}

void TXbEngineImpl::RollbackBatch() {
  if (depth_ == 0) return;
  depth_ = 0;
  Discard();
}

void TXbEngineImpl::Discard() {
  for (const auto& f : batch_) {
    f->Dbf().Discard();
    if (f->Fpt()) f->Fpt()->Discard();
    std::string ignored;
    f->Load(ignored);
  }
  batch_.clear();
}

bool TXbEngineImpl::AnnounceSwaps(
    const std::vector<std::pair<std::string, std::string>>& targetAndReplacement) {
  if (depth_ > 0) return Fail(xbeBatch, "cannot rebuild a table while a batch is open");
  if (readOnly_) return RefuseWrite();
  TXbJournal journal(++salt_);
  for (const auto& [target, replacement] : targetAndReplacement) {
    journal.AddSwap(target, replacement, target + kBackupSuffix);
  }
  int err = 0;
  XbClearIoError();
  auto j = fs_->Open(journalPath_, TXbOpenMode::xomReplace, err);
  const std::string& bytes = journal.Bytes();
  if (!j || !j->WriteAt(0, bytes.data(), bytes.size()) || !j->Sync() ||
      !fs_->SyncDir(XbDirName(journalPath_))) {
    const std::string reason = XbIoErrorSuffix();
    j.reset();
    Unannounce();
    return Fail(xbeWrite, "Cannot write the journal " + journalPath_ + reason);
  }
  announced_ = true;
  return true;
}

bool TXbEngineImpl::CommitSwaps(const std::shared_ptr<TXbDataFile>& file, std::vector<Swap>& swaps) {
  if (depth_ > 0) return Fail(xbeBatch, "cannot rebuild a table while a batch is open");
  return Commit(&swaps, file);
}

// Order of a commit: journal (old bytes, lengths, swaps) written, synced and its folder synced; data of
// every file written, then each file synced; swaps renamed and their folders synced; journal deleted and
// its folder synced - the commit point; old files removed. Any failure before the journal is gone is rolled
// back from the journal, here or at the next start.
bool TXbEngineImpl::Commit(std::vector<Swap>* swaps, const std::shared_ptr<TXbDataFile>& swapped) {
  std::vector<TXbPagedFile*> dirty;
  for (const auto& f : batch_) {
    if (f->Dbf().IsDirty()) dirty.push_back(&f->Dbf());
    if (f->Fpt() && f->Fpt()->IsDirty()) dirty.push_back(f->Fpt());
  }
  bool hasSwaps = swaps != nullptr && !swaps->empty();
  if (dirty.empty() && !hasSwaps) {
    batch_.clear();
    return true;
  }
  if (readOnly_) {
    Discard();
    return RefuseWrite();
  }
  std::string journalPath = journalPath_;
  if (journalPath.empty()) journalPath = JournalPath(dirty.empty() ? (*swaps)[0].Target : dirty[0]->Path());
  std::string journalDir = XbDirName(journalPath);

  TXbJournal journal(++salt_);
  uint32_t id = 0;
  if (hasSwaps) {
    for (const auto& s : *swaps) journal.AddSwap(s.Target, s.Replacement, s.Target + kBackupSuffix);
  }
  for (auto* p : dirty) p->AddToJournal(journal, ++id);
  int err = 0;
  bool rewrite = !(announced_ && dirty.empty());
  announced_ = false;
  XbClearIoError();
  if (rewrite) {
    auto j = fs_->Open(journalPath, TXbOpenMode::xomReplace, err);
    const std::string& bytes = journal.Bytes();
    if (!j || !j->WriteAt(0, bytes.data(), bytes.size()) || !j->Sync() || !fs_->SyncDir(journalDir)) {
      const std::string reason = XbIoErrorSuffix();
      j.reset();
      // The data files are untouched; a journal left behind only puts back what is already there.
      fs_->Remove(journalPath);
      Discard();
      if (hasSwaps) {
        for (auto& s : *swaps) {
          s.File.reset();
          fs_->Remove(s.Replacement);
        }
      }
      return Fail(xbeWrite, "Cannot write the journal " + journalPath + reason);
    }
  }

  // Every file's writes go out together, then each is waited for: the journal is already durable, so
  // the order among the data files does not matter, only that all are durable before the journal goes.
  bool ok = true;
  for (auto* p : dirty) {
    if (!(ok = p->WriteOut())) break;
  }
  for (auto* p : dirty) {
    if (!(ok = ok && p->Settle())) break;
  }
  std::set<std::string> dirs;
  if (ok && hasSwaps) {
    for (const auto& s : *swaps) {
      ok = (!fs_->Exists(s.Target) || fs_->Rename(s.Target, s.Target + kBackupSuffix)) &&
           fs_->Rename(s.Replacement, s.Target);
      dirs.insert(XbDirName(s.Target));
      if (!ok) break;
    }
    for (const auto& d : dirs) ok = ok && fs_->SyncDir(d);
  }
  ok = ok && fs_->Remove(journalPath) && fs_->SyncDir(journalDir);
  if (!ok) {
    const std::string reason = XbIoErrorSuffix();
    std::string why;
    if (!XbRecoverJournal(*fs_, journalPath, &TXbEngineImpl::Held, this, false, why)) broken_ = true;
    for (const auto& f : batch_) {
      f->Dbf().Load();
      if (f->Fpt()) f->Fpt()->Load();
    }
    Discard();
    if (hasSwaps) {
      for (auto& s : *swaps) s.File.reset();
    }
    if (broken_)
      return Fail(xbeJournal, "Cannot commit the changes" + reason + "; rolling them back failed as well (" +
                                  why + "), which the next start does");
    return Fail(xbeWrite, "Cannot commit the changes" + reason + "; they were rolled back");
  }
  batch_.clear();
  if (hasSwaps) {
    for (auto& s : *swaps) {
      fs_->Remove(s.Target + kBackupSuffix);
      TXbPagedFile* target = s.Memo ? swapped->Fpt() : &swapped->Dbf();
      if (target != nullptr) target->Adopt(std::move(s.File));
    }
    std::string why;
    swapped->Load(why);
  }
  return true;
}

// ---- table handle ----

TXbTableImpl::TXbTableImpl(TXbEngineImpl& engine, std::shared_ptr<TXbDataFile> file)
    : engine_(engine), file_(std::move(file)) {
  engine_.Register(this);
  generation_ = file_->Generation();
  SetEof();
}

TXbTableImpl::~TXbTableImpl() {
  if (changed_) engine_.Change(file_, [this] { return StoreRecord(); });
  engine_.Unregister(this);
}

void TXbTableImpl::SetEof() {
  recno_ = 0;
  key_.clear();
  record_ = file_->BlankRecord();
  changed_ = appending_ = assignFailed_ = false;
  memos_.clear();
  posValid_ = false;
}

// Reads straight into the record buffer: loading a result list steps through thousands of records.
bool TXbTableImpl::Go(uint32_t recno, const std::string* key) {
  changed_ = appending_ = assignFailed_ = false;
  memos_.clear();
  posValid_ = false;
  if (!file_->ReadRecord(recno, record_)) {
    SetEof();
    return engine_.Fail(xbeRead, "Cannot read record " + std::to_string(recno));
  }
  recno_ = recno;
  key_.clear();
  if (key != nullptr) {
    key_ = *key;
  } else if (tag_ >= 0) {
    file_->Tags()[static_cast<size_t>(tag_)]->KeyOf(record_, key_);
  }
  return true;
}

bool TXbTableImpl::GoEntry(const TXbTag& tag, TXbTag::Entries::const_iterator it) {
  if (!Go(it->second, &it->first)) return false;
  pos_ = it;
  posVersion_ = tag.Version();
  posValid_ = true;
  return true;
}

TXbTag::Entries::const_iterator TXbTableImpl::NextEntry(const TXbTag& tag) const {
  if (posValid_ && posVersion_ == tag.Version()) return std::next(pos_);
  return tag.UpperBound(key_, recno_);
}

void TXbTableImpl::Refresh() {
  if (generation_ == file_->Generation()) return;
  generation_ = file_->Generation();
  if (tag_ >= static_cast<int>(file_->Tags().size())) tag_ = -1;
  uint32_t at = recno_;
  SetEof();
  if (at != 0 && at <= file_->Count()) Go(at, nullptr);
}

bool TXbTableImpl::StoreRecord() {
  std::string old;
  if (!file_->ReadRecord(recno_, old)) return engine_.Fail(xbeRead, "Cannot read the record to rewrite it");
  std::string record = record_;
  if (!memos_.empty()) {
    for (const auto& [j, memo] : memos_) {
      const auto& f = Field(j);
      uint32_t oldBlock = 0, block = 0;
      std::string why;
      ParseMemoPointer(std::string_view(old).substr(static_cast<size_t>(f.Offset), kMemoWidth), oldBlock);
      if (!file_->WriteMemo(oldBlock, memo.first, memo.second ? kFptTypeBinary : kFptTypeText, block, why)) {
        return engine_.Fail(xbeMemo, why);
      }
      record.replace(static_cast<size_t>(f.Offset), kMemoWidth, FormatMemoPointer(block));
    }
  }
  if (!file_->WriteRecord(recno_, old, record)) return engine_.Fail(xbeWrite, "Cannot write the record");
  record_ = record;
  memos_.clear();
  changed_ = false;
  if (tag_ >= 0) file_->Tags()[static_cast<size_t>(tag_)]->KeyOf(record_, key_);
  generation_ = file_->Generation();
  return true;
}

bool TXbTableImpl::FlushRecord() {
  Refresh();
  if (appending_) {
    SetEof();  // a started record that was never appended is dropped
    return true;
  }
  if (!changed_) return true;
  if (engine_.IsReadOnly()) {
    // Only a deletion mark gets this far; it is dropped, as a refused value would be.
    uint32_t at = recno_;
    SetEof();
    if (at != 0) Go(at, nullptr);
    return engine_.RefuseWrite();
  }
  if (assignFailed_) {
    uint32_t at = recno_;
    SetEof();
    if (at != 0) Go(at, nullptr);
    return engine_.Fail(xbeOverflow, "A value did not fit its field; the record was not changed");
  }
  return engine_.Change(file_, [this] { return StoreRecord(); });
}

bool TXbTableImpl::Flush() {
  return FlushRecord();
}

bool TXbTableImpl::CreateTags(const std::vector<TXbTagDef>& tags) {
  if (!FlushRecord()) return false;
  auto& have = file_->Tags();
  bool rebuilt = false;
  for (const auto& def : tags) {
    int i = file_->FindTag(def.Name);
    if (i >= 0) {
      const auto& d = have[static_cast<size_t>(i)]->Definition();
      if (d.Expression == def.Expression && d.Filter == def.Filter && d.Unique == def.Unique) continue;
    }
    auto tag = std::make_unique<TXbTag>();
    std::string why;
    if (!tag->Define(def, file_->Header().Fields, why)) {
      return engine_.Fail(xbeTag, "Bad tag " + def.Name + ": " + why);
    }
    if (i >= 0) {
      have[static_cast<size_t>(i)] = std::move(tag);
    } else {
      have.push_back(std::move(tag));
    }
    rebuilt = true;
  }
  if (rebuilt) {
    file_->RebuildTags();
    file_->BumpGeneration();
  }
  return true;
}

bool TXbTableImpl::SelectTag(const std::string& name) {
  Refresh();
  posValid_ = false;
  if (name.empty()) {
    tag_ = -1;
    key_.clear();
    return true;
  }
  int i = file_->FindTag(name);
  if (i < 0) return engine_.Fail(xbeTag, "No tag named " + name);
  tag_ = i;
  if (recno_ != 0) file_->Tags()[static_cast<size_t>(i)]->KeyOf(record_, key_);
  return true;
}

bool TXbTableImpl::Top() {
  if (!FlushRecord()) return false;
  if (tag_ >= 0) {
    const TXbTag& tag = *file_->Tags()[static_cast<size_t>(tag_)];
    if (tag.Items().empty()) {
      SetEof();
      return false;
    }
    return GoEntry(tag, tag.Items().begin());
  }
  std::string record;
  for (uint32_t r = 1; r <= file_->Count(); ++r) {
    if (!file_->ReadRecord(r, record)) break;
    if (record[0] != '*') return Go(r, nullptr);
  }
  SetEof();
  return false;
}

bool TXbTableImpl::Skip() {
  if (!FlushRecord()) return false;
  if (recno_ == 0) return false;
  if (tag_ >= 0) {
    const TXbTag& tag = *file_->Tags()[static_cast<size_t>(tag_)];
    auto it = NextEntry(tag);
    if (it == tag.Items().end()) {
      SetEof();
      return false;
    }
    return GoEntry(tag, it);
  }
  std::string record;
  for (uint32_t r = recno_ + 1; r <= file_->Count(); ++r) {
    if (!file_->ReadRecord(r, record)) break;
    if (record[0] != '*') return Go(r, nullptr);
  }
  SetEof();
  return false;
}

bool TXbTableImpl::Seek(std::string_view key) {
  if (!FlushRecord()) return false;
  if (tag_ < 0) return engine_.Fail(xbeTag, "Seek needs a selected tag");
  const TXbTag& tag = *file_->Tags()[static_cast<size_t>(tag_)];
  auto it = tag.LowerBound(key, 0);
  if (it == tag.Items().end() || it->first.compare(0, key.size(), key) != 0) {
    SetEof();
    return false;
  }
  return GoEntry(tag, it);
}

bool TXbTableImpl::SeekNext(std::string_view key) {
  if (!FlushRecord()) return false;
  if (tag_ < 0) return engine_.Fail(xbeTag, "Seek needs a selected tag");
  if (recno_ == 0) return false;
  const TXbTag& tag = *file_->Tags()[static_cast<size_t>(tag_)];
  auto it = NextEntry(tag);
  if (it == tag.Items().end() || it->first.compare(0, key.size(), key) != 0) {
    SetEof();
    return false;
  }
  return GoEntry(tag, it);
}

bool TXbTableImpl::AppendStart() {
  if (!FlushRecord()) return false;
  SetEof();
  appending_ = true;
  return true;
}

bool TXbTableImpl::Append() {
  Refresh();
  if (!appending_) return engine_.Fail(xbeNoRecord, "Append without AppendStart");
  if (assignFailed_) {
    SetEof();
    return engine_.Fail(xbeOverflow, "A value did not fit its field; the record was not added");
  }
  uint32_t recno = 0;
  bool ok = engine_.Change(file_, [&] {
    std::string record = record_;
    for (const auto& [j, memo] : memos_) {
      uint32_t block = 0;
      std::string why;
      if (!file_->WriteMemo(0, memo.first, memo.second ? kFptTypeBinary : kFptTypeText, block, why)) {
        return engine_.Fail(xbeMemo, why);
      }
      record.replace(static_cast<size_t>(Field(j).Offset), kMemoWidth, FormatMemoPointer(block));
    }
    if (!file_->AppendRecord(record, recno)) return engine_.Fail(xbeWrite, "Cannot append the record");
    return true;
  });
  SetEof();
  generation_ = file_->Generation();
  if (!ok) return false;
  return Go(recno, nullptr);
}

bool TXbTableImpl::Delete() {
  Refresh();
  if (recno_ == 0) return engine_.Fail(xbeNoRecord, "No current record to delete");
  record_[0] = '*';
  changed_ = true;
  return FlushRecord();
}

std::string_view TXbTableImpl::Raw(int j) const {
  if (j < 0 || j >= FieldCount()) return {};
  const auto& f = Field(j);
  return std::string_view(record_).substr(static_cast<size_t>(f.Offset), static_cast<size_t>(f.Length));
}

bool TXbTableImpl::Writable(int j, const char* types) {
  Refresh();
  if (engine_.IsReadOnly()) return engine_.RefuseWrite();
  if (j < 0 || j >= FieldCount()) return engine_.Fail(xbeField, "No such field");
  if (std::string_view(types).find(Field(j).Type) == std::string_view::npos) {
    return engine_.Fail(xbeField, "The field " + Field(j).Name + " does not take this kind of value");
  }
  if (recno_ == 0 && !appending_) return engine_.Fail(xbeNoRecord, "No current record");
  if (!appending_) changed_ = true;
  return true;
}

bool TXbTableImpl::Assign(int j, std::string_view text) {
  if (!Writable(j, "CNFLD")) return false;
  const auto& f = Field(j);
  size_t w = static_cast<size_t>(f.Length);
  std::string value(text.substr(0, w));
  if (f.Type == 'N' || f.Type == 'F') {
    if (text.size() > w) {
      assignFailed_ = true;
      return engine_.Fail(xbeOverflow, "The value does not fit the field " + f.Name);
    }
    value = std::string(w - value.size(), ' ') + value;
  } else {
    value.resize(w, ' ');
  }
  record_.replace(static_cast<size_t>(f.Offset), w, value);
  return true;
}

bool TXbTableImpl::AssignRaw(int j, std::string_view bytes) {
  if (!Writable(j, "CNFLD")) return false;
  const auto& f = Field(j);
  std::string value(bytes.substr(0, static_cast<size_t>(f.Length)));
  value.resize(static_cast<size_t>(f.Length), ' ');
  record_.replace(static_cast<size_t>(f.Offset), value.size(), value);
  return true;
}

double TXbTableImpl::Double(int j) const {
  return XbNumberOf(Raw(j));
}

bool TXbTableImpl::AssignDouble(int j, double value) {
  if (!Writable(j, "NF")) return false;
  const auto& f = Field(j);
  std::string text = std::isfinite(value) ? FormatFixed(value, f.Decimals) : std::string();
  if (text == "-0") text = "0";
  if (text.empty() || text.size() > static_cast<size_t>(f.Length)) {
    // Storing asterisks, as other xBase writers do, would leave a row no key can find.
    assignFailed_ = true;
    return engine_.Fail(xbeOverflow, "The value does not fit the field " + f.Name);
  }
  record_.replace(static_cast<size_t>(f.Offset), static_cast<size_t>(f.Length),
                  std::string(static_cast<size_t>(f.Length) - text.size(), ' ') + text);
  return true;
}

std::string TXbTableImpl::Memo(int j) {
  Refresh();
  if (j < 0 || j >= FieldCount() || Field(j).Type != 'M') {
    engine_.Fail(xbeField, "Not a memo field");
    return {};
  }
  if (auto it = memos_.find(j); it != memos_.end()) return it->second.first;
  uint32_t block = 0;
  std::string data, why;
  if (!ParseMemoPointer(Raw(j), block)) {
    engine_.Fail(xbeMemo, "Damaged memo pointer in field " + Field(j).Name);
    return {};
  }
  if (!file_->ReadMemo(block, data, why)) {
    engine_.Fail(xbeMemo, "Damaged memo in field " + Field(j).Name + ": " + why);
    return {};
  }
  return data;
}

bool TXbTableImpl::AssignMemo(int j, std::string_view data, bool binary) {
  if (!Writable(j, "M")) return false;
  memos_[j] = {std::string(data), binary};
  return true;
}

bool TXbTableImpl::Pack(bool compactMemo) {
  int code = Rebuild(true, compactMemo);
  return code == 0;
}

int TXbTableImpl::CompactMemo() {
  if (!file_->Header().HasMemo()) return 0;
  return Rebuild(false, true);
}

// Writes the table anew beside the old files and swaps the new files in under the journal.
int TXbTableImpl::Rebuild(bool dropDeleted, bool compactMemo) {
  if (engine_.InBatch()) {
    engine_.Fail(xbeBatch, "cannot rebuild a table while a batch is open");
    return -4;
  }
  if (!FlushRecord()) return -4;
  TXbDataFile& f = *file_;
  compactMemo = compactMemo && f.Header().HasMemo() && f.Fpt() != nullptr;
  int code = 0;
  if (compactMemo && f.MemoHeaderDamaged()) {
    // Every memo would read as damaged and be dropped for good; the file stays as it is for whoever can
    // repair it, and only the records are packed.
    engine_.Fail(xbeMemo, "The memo file header is damaged; the memo file was left as it is");
    compactMemo = false;
    code = -4;
  }
  std::vector<std::string> records;
  std::string record;
  for (uint32_t r = 1; r <= f.Count(); ++r) {
    if (!f.ReadRecord(r, record)) {
      engine_.Fail(xbeRead, "Cannot read the data file");
      return -2;
    }
    if (dropDeleted && record[0] == '*') continue;
    records.push_back(record);
  }
  if (!compactMemo && records.size() == f.Count()) return code;  // nothing to remove

  TXbHeader header = f.Header();
  header.RecordCount = static_cast<uint32_t>(records.size());
  const uint32_t bs = compactMemo ? f.MemoBlockSize() : 0;
  std::string memo;
  if (compactMemo) {
    TXbMemoHeader mh{0, bs};
    memo = BuildFptHeader(mh);
    memo.resize(static_cast<size_t>((kFptHeaderSize + bs - 1) / bs * bs), '\0');
    for (auto& rec : records) {
      for (const auto& fd : header.Fields) {
        if (fd.Type != 'M') continue;
        std::string_view ptr = std::string_view(rec).substr(static_cast<size_t>(fd.Offset), kMemoWidth);
        uint32_t block = 0, type = kFptTypeText;
        std::string data, why;
        bool good = ParseMemoPointer(ptr, block);
        if (good && block != 0) {
          unsigned char head[kFptBlockHeader];
          good = f.ReadMemo(block, data, why) &&
                 f.Fpt()->Read(static_cast<uint64_t>(block) * bs, head, kFptBlockHeader);
          if (good) type = ReadBe32(head);
        }
        // A damaged memo becomes empty rather than a pointer into nothing.
        uint32_t newBlock = 0;
        if (good && !data.empty()) {
          newBlock = static_cast<uint32_t>(memo.size() / bs);
          std::string chunk(kFptBlockHeader, '\0');
          WriteBe32(reinterpret_cast<unsigned char*>(chunk.data()), type);
          WriteBe32(reinterpret_cast<unsigned char*>(chunk.data()) + 4, static_cast<uint32_t>(data.size()));
          chunk += data;
          chunk.resize((chunk.size() + bs - 1) / bs * bs, '\0');
          memo += chunk;
        }
        rec.replace(static_cast<size_t>(fd.Offset), kMemoWidth, FormatMemoPointer(newBlock));
      }
    }
    WriteBe32(reinterpret_cast<unsigned char*>(memo.data()), static_cast<uint32_t>(memo.size() / bs));
  }
  int y, m, d;
  XbToday(y, m, d);
  std::string data = BuildDbfHeader(header, y, m, d);
  for (const auto& rec : records) data += rec;
  data.push_back(static_cast<char>(kDbfEof));

  auto& fs = engine_.Fs();
  auto [base, ext] = SplitExtension(f.Path());
  std::string memoExt = SplitExtension(f.MemoPath()).second;
  std::string stem = engine_.FreeName(base, {ext, memoExt}, "%s(%d)");
  std::vector<TXbEngineImpl::Swap> swaps;
  std::vector<std::pair<std::string, std::string>> planned{{f.Path(), stem + ext}};
  if (compactMemo) planned.emplace_back(f.MemoPath(), stem + memoExt);
  if (!engine_.AnnounceSwaps(planned)) return -4;
  auto build = [&](const std::string& target, const std::string& name, const std::string& bytes,
                   bool isMemo) {
    int err = 0;
    auto file = fs.Open(name, TXbOpenMode::xomCreateNew, err);
    if (!file || !file->TryLock() || !file->WriteAt(0, bytes.data(), bytes.size()) || !file->Sync())
      return false;
    swaps.push_back({target, name, std::move(file), isMemo});
    return true;
  };
  XbClearIoError();
  bool ok = build(f.Path(), stem + ext, data, false);
  if (ok && compactMemo) ok = build(f.MemoPath(), stem + memoExt, memo, true);
  ok = ok && fs.SyncDir(XbDirName(f.Path()));
  if (!ok) {
    const std::string reason = XbIoErrorSuffix();
    for (auto& s : swaps) s.File.reset();
    fs.Remove(stem + ext);
    fs.Remove(stem + memoExt);
    engine_.Unannounce();
    engine_.Fail(xbeWrite, "Cannot write the rebuilt table" + reason);
    return -4;
  }
  if (!engine_.CommitSwaps(file_, swaps)) return -5;
  f.BumpGeneration();
  Refresh();
  SetEof();
  return code;
}

}  // namespace

std::unique_ptr<IXbEngine> CreateXbEngine(std::shared_ptr<IXbFileSystem> fs) {
  if (!fs) fs = CreatePosixFileSystem();
  return std::make_unique<TXbEngineImpl>(std::move(fs));
}

}  // namespace vandrel

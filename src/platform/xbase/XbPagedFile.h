// One physical file seen through a write-back page cache: changes stay in memory until a batch commits.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/xbase/XbFileSystem.h"

namespace vandrel {

class TXbJournal;

class TXbPagedFile {
 public:
  static constexpr uint64_t kPageSize = 4096;

  TXbPagedFile(std::string path, std::unique_ptr<IXbFile> file);

  // Reads the size from the disk; false on an I/O error.
  bool Load();
  // False when the range is beyond the file or the disk read fails.
  bool Read(uint64_t offset, void* buffer, size_t n);
  bool Read(uint64_t offset, std::string& out, size_t n);
  bool Write(uint64_t offset, const void* data, size_t n);
  bool Write(uint64_t offset, const std::string& data) { return Write(offset, data.data(), data.size()); }
  uint64_t Size() const { return size_; }

  bool IsDirty() const { return dirtyPages_ > 0 || size_ != diskSize_; }
  // Adds the file's length before the batch and the old bytes of every page changed within it.
  void AddToJournal(TXbJournal& journal, uint32_t id) const;
  // Writes the changed pages, cuts the file to its new length and starts writing them out.
  bool WriteOut();
  // Waits until what WriteOut wrote is durable; the pages are clean afterwards.
  bool Settle();
  // Forgets every change since the last write-back.
  void Discard();
  // Takes over a file that replaced this one on disk.
  bool Adopt(std::unique_ptr<IXbFile> file);

  const std::string& Path() const { return path_; }
  IXbFile& File() { return *file_; }

 private:
  struct Page {
    std::vector<unsigned char> Data;
    bool Dirty = false;
  };
  Page* GetPage(uint64_t number);
  void ForgetLast() { last_ = nullptr; }

  std::string path_;
  std::unique_ptr<IXbFile> file_;
  std::map<uint64_t, Page> pages_;
  std::map<uint64_t, std::vector<unsigned char>> before_;  // old bytes of pages inside the old length
  Page* last_ = nullptr;  // the page found last (records are mostly read in runs); reset on any erase
  uint64_t lastNumber_ = 0;
  size_t dirtyPages_ = 0;
  uint64_t size_ = 0;      // length as the batch sees it
  uint64_t diskSize_ = 0;  // length on disk, also the length when the batch began
};

// A rollback journal: checksummed records of what the files held before a batch.
class TXbJournal {
 public:
  explicit TXbJournal(uint32_t salt);
  void AddFile(uint32_t id, uint64_t oldSize, const std::string& path);
  void AddPage(uint32_t id, uint64_t offset, const unsigned char* data, size_t n);
  // `target` is replaced by `replacement`; its old file waits under `backup` until the commit is done.
  void AddSwap(const std::string& target, const std::string& replacement, const std::string& backup);
  const std::string& Bytes() const { return bytes_; }

 private:
  void AddRecord(char type, const std::string& payload);
  uint32_t salt_;
  std::string bytes_;
};

// Resolves a path to a file this process already holds open (nullptr when it does not).
using TXbHeldFile = IXbFile* (*)(void* context, const std::string& path);

// Puts back what a journal recorded, then deletes it. A torn tail ends the journal. With `lockFirst`
// (another process may have written the journal) every file it names is locked before anything is
// touched, and one held elsewhere stops the recovery. Missing journal: success.
// Whether a journal asks for anything to be put back, read without touching a file. Missing or torn
// before its first record: nothing pending.
bool XbJournalPending(IXbFileSystem& fs, const std::string& journalPath, bool& pending, std::string& error);

bool XbRecoverJournal(IXbFileSystem& fs, const std::string& journalPath, TXbHeldFile held, void* context,
                      bool lockFirst, std::string& error);

}  // namespace vandrel

// The file operations the xBase engine performs, behind one seam so a test can count and cut them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vandrel {

// One open file. Offsets are absolute; nothing is buffered below this layer.
class IXbFile {
 public:
  virtual ~IXbFile() = default;
  // Reads up to n bytes; `got` is short at the end of the file.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t n, size_t& got) = 0;
  virtual bool WriteAt(uint64_t offset, const void* data, size_t n) = 0;
  virtual bool Size(uint64_t& size) = 0;
  virtual bool Truncate(uint64_t size) = 0;
  // Makes the bytes written so far and the length durable (not the times).
  virtual bool Sync() = 0;
  // Starts writing the bytes out without waiting, so several files' writes overlap before each Sync.
  virtual bool StartSync() { return true; }
  // Exclusive and non-blocking: false when another open file holds the lock.
  virtual bool TryLock() = 0;
  // Shared and non-blocking: readers hold it together; false while another open file holds it exclusively.
  virtual bool TryLockShared() = 0;
};

enum class TXbOpenMode {
  xomExisting,   // fails when the file is missing
  xomCreateNew,  // fails when the file exists
  xomReplace,    // creates or truncates
  xomReadOnly,   // an existing file, for reading only
};

class IXbFileSystem {
 public:
  virtual ~IXbFileSystem() = default;
  // On failure returns nullptr and sets `error` to an errno value.
  virtual std::unique_ptr<IXbFile> Open(const std::string& path, TXbOpenMode mode, int& error) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual bool Remove(const std::string& path) = 0;
  // Replaces `to` atomically when it exists.
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  // Makes creations, renames and removals inside `dir` durable.
  virtual bool SyncDir(const std::string& dir) = 0;
  // One spelling per physical file, so two opens of the same file share one object.
  virtual std::string Canonical(const std::string& path) = 0;
};

std::shared_ptr<IXbFileSystem> CreatePosixFileSystem();

// The folder part of a path ("." when there is none).
std::string XbDirName(const std::string& path);

}  // namespace vandrel

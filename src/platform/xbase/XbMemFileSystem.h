// An in-memory file system that models what survives a crash: file contents last synced and folder entries
// last synced. It counts mutating calls and can fail every call from the k-th on.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/xbase/XbFileSystem.h"

namespace vandrel {

class TXbMemFileSystem final : public IXbFileSystem, public std::enable_shared_from_this<TXbMemFileSystem> {
 public:
  struct Node {
    std::vector<unsigned char> Data;     // what a running process sees
    std::vector<unsigned char> Durable;  // what survives a crash that drops unsynced writes
    int LockedBy = 0;                    // id of the open file holding the lock, 0 when none
    std::set<int> SharedBy;              // ids of the open files holding it shared
  };

  std::unique_ptr<IXbFile> Open(const std::string& path, TXbOpenMode mode, int& error) override;
  bool Exists(const std::string& path) override;
  bool Remove(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool SyncDir(const std::string& dir) override;
  std::string Canonical(const std::string& path) override { return path; }

  // Mutating calls (write, truncate, sync, create, remove, rename, folder sync) made so far.
  int MutatingCalls() const { return calls_; }
  // From the k-th mutating call on (1-based), every mutating call fails; 0 never fails. The failing write
  // lands half of its bytes, as a torn write would.
  void FailFrom(int k) { failFrom_ = k; }
  bool Failed() const { return failFrom_ > 0 && calls_ >= failFrom_; }
  // Ends the simulated process: open files are cut off, locks released; with `dropUnsynced` every file and
  // folder goes back to its last synced state. Calls succeed again afterwards.
  void Crash(bool dropUnsynced);

  // Direct access for tests: the visible bytes of a file (empty when missing).
  std::vector<unsigned char> Contents(const std::string& path) const;
  void SetContents(const std::string& path, const std::vector<unsigned char>& data);
  std::vector<std::string> List() const;
  // Refuses every opening for writing and every change of a folder, as a read-only mount does.
  void SetReadOnly(bool on) { readOnly_ = on; }

  // Used by the open files.
  bool Mutate();  // counts one call; false when it must fail
  int generation() const { return generation_; }

 private:
  std::map<std::string, std::shared_ptr<Node>> files_;    // visible folder entries
  std::map<std::string, std::shared_ptr<Node>> durable_;  // folder entries as last synced
  int calls_ = 0;
  int failFrom_ = 0;
  int nextId_ = 1;
  int generation_ = 0;  // bumped by Crash so files opened before it go dead
  bool readOnly_ = false;
};

}  // namespace vandrel

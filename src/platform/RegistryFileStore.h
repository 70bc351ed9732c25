// The store kept as one text file per part in a folder, safe against crashes and other processes.
#pragma once

#include <sys/types.h>

#include <functional>
#include <mutex>
#include <string>

#include "platform/RegistryStore.h"
#include "platform/RegistryTree.h"

namespace vandrel {

// "$XDG_CONFIG_HOME/VandrelSoft/", else "~/.config/VandrelSoft/".
std::string DefaultRegistryFolder();

// Files "user.reg", "machine.reg" and "classes.reg" in the folder, created (mode 0700) on the first write.
// Every change is read-modify-write under an exclusive flock on "registry.lock": the file is read afresh,
// changed, written to a temporary file (mode 0600), synced and renamed over the old one, so a crash leaves
// the old or the new file and writers in other processes never lose each other's changes. Reads need no
// lock; a parsed file is kept until the file on disk changes. A file that does not parse is renamed to
// "<name>.damaged-N" (kept for the user) and the part reads as empty.
class TRegistryFileStore final : public IRegistryStore {
 public:
  explicit TRegistryFileStore(std::string folder = DefaultRegistryFolder());

  const std::string& Folder() const { return folder_; }
  std::string FilePath(TRegRoot root) const;

  bool KeyExists(TRegRoot root, std::string_view path) override;
  bool CreateKey(TRegRoot root, std::string_view path) override;
  bool DeleteKey(TRegRoot root, std::string_view path) override;
  bool HasSubKeys(TRegRoot root, std::string_view path) override;
  std::vector<std::string> SubKeyNames(TRegRoot root, std::string_view path) override;
  std::vector<std::string> ValueNames(TRegRoot root, std::string_view path) override;
  std::optional<TRegValue> ReadValue(TRegRoot root, std::string_view path, std::string_view name) override;
  bool WriteValue(TRegRoot root, std::string_view path, std::string_view name,
                  const TRegValue& value) override;
  bool DeleteValue(TRegRoot root, std::string_view path, std::string_view name) override;
  bool CopyKey(TRegRoot fromRoot, std::string_view fromPath, TRegRoot toRoot,
               std::string_view toPath) override;

  // For tests of crash safety: runs after the new file is complete and synced, just before it replaces
  // the old one.
  void SetBeforeReplaceHook(std::function<void()> hook) { beforeReplace_ = std::move(hook); }

 private:
  enum class TChange { chFailed, chUnchanged, chChanged };

  struct TFileId {
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = -1;
    long long MTimeNs = 0;
    bool operator==(const TFileId&) const = default;
  };

  struct TPart {
    bool Loaded = false;
    bool Exists = false;   // a file was there when last loaded
    bool Damaged = false;  // it did not parse and could not be moved aside
    TFileId Id;
    TRegNode Tree;
  };

  // Called with mutex_ held. Brings the part up to date with its file; `locked` says the flock is held,
  // which moving a damaged file aside needs. False when the file could not be read.
  bool Refresh(TRegRoot root, bool locked);
  // Applies `change` to a fresh copy of the part under the flock and saves the result.
  bool Modify(TRegRoot root, const std::function<TChange(TRegNode&)>& change);
  bool WriteFile(TRegRoot root, const TRegNode& tree, TFileId& id);
  bool MoveAside(TRegRoot root);
  int AcquireFileLock();  // the locked descriptor, or -1
  // Runs `read` on the up-to-date tree of a part (an empty tree when it cannot be read).
  template <typename F>
  auto Read(TRegRoot root, F&& read);

  std::string folder_;  // ends with "/"
  std::mutex mutex_;    // guards parts_; taken before the flock
  TPart parts_[kRegRootCount];
  std::function<void()> beforeReplace_;
};

}  // namespace vandrel

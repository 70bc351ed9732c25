#include "integration/Uninstaller.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "integration/ExplorerIntegration.h"
#include "platform/SingleInstance.h"

namespace vandrel {
namespace {

constexpr std::string_view kConfigKey = "\\Software\\VandrelSoft\\Vandrel Shopper\\";
constexpr std::string_view kAppName = "Vandrel Shopper";

std::string WithName(std::string_view text) {
  std::string out(text);
  for (size_t at = out.find("%s"); at != std::string::npos; at = out.find("%s", at + kAppName.size()))
    out.replace(at, 2, kAppName);
  return out;
}

std::string Reason(const std::string& path) {
  return path + ": " + std::strerror(errno);
}

// Removes what `dirFd` holds, then nothing else; the caller removes the folder itself. Working on
// descriptors keeps every step inside the folder even when a name is swapped for a link meanwhile.
void RemoveContents(int dirFd, const std::string& path, TRemoveReport& report, int depth) {
  DIR* dir = ::fdopendir(dirFd);
  if (!dir) {
    report.Failed.push_back(Reason(path));
    ::close(dirFd);
    return;
  }
  std::vector<std::string> names;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  for (const std::string& name : names) {
    const std::string child = path + "/" + name;
    struct stat info {};
    if (::fstatat(dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      report.Failed.push_back(Reason(child));
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      // A read-only folder cannot lose its entries until it is writable again.
      if ((info.st_mode & S_IWUSR) == 0) ::fchmodat(dirfd(dir), name.c_str(), info.st_mode | S_IRWXU, 0);
      int childFd = ::openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (childFd < 0 || depth > 256) {
        if (childFd >= 0) ::close(childFd);
        report.Failed.push_back(childFd < 0 ? Reason(child) : child + ": nested too deeply");
        continue;
      }
      RemoveContents(childFd, child, report, depth + 1);
      if (::unlinkat(dirfd(dir), name.c_str(), AT_REMOVEDIR) == 0) {
        ++report.Removed;
      } else {
        report.Failed.push_back(Reason(child));
      }
      continue;
    }
    if (::unlinkat(dirfd(dir), name.c_str(), 0) == 0) {
      ++report.Removed;
    } else {
      report.Failed.push_back(Reason(child));
    }
  }
  ::closedir(dir);
}

}  // namespace

TRemoveReport RemoveFolderTree(const std::string& folder) {
  TRemoveReport report;
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat info {};
  if (path.empty() || ::lstat(path.c_str(), &info) != 0) return report;  // nothing there
  if (!S_ISDIR(info.st_mode)) {
    // A link standing where the folder should be goes as a link; its target is not ours to empty.
    if (::unlink(path.c_str()) == 0) {
      ++report.Removed;
    } else {
      report.Failed.push_back(Reason(path));
    }
    return report;
  }
  if ((info.st_mode & S_IWUSR) == 0) ::chmod(path.c_str(), info.st_mode | S_IRWXU);
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    report.Failed.push_back(Reason(path));
    return report;
  }
  RemoveContents(fd, path, report, 0);
  if (::rmdir(path.c_str()) == 0) {
    ++report.Removed;
  } else {
    report.Failed.push_back(Reason(path));
  }
  return report;
}

std::string UnsafeRootReason(const std::string& root) {
  if (root.empty()) return "the root folder is not set";
  if (root[0] != '/') return "the root folder \"" + root + "\" is not an absolute path";
  struct stat info {};
  if (::stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    return "the root folder \"" + root + "\" does not exist";
  std::string home = root;
  if (home.back() != '/') home += '/';
  home += "Web/Welcome.htm";
  if (::stat(home.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return "the root folder \"" + root + "\" holds no Web/Welcome.htm, so it may not be the program's";
  return {};
}

TUninstallOutcome UninstallInitialize(const TUninstallSetup& setup) {
  using namespace uninstall;
  TUninstallOutcome outcome;
  auto ask = [&](TPromptKind kind, std::string_view caption, std::string_view text) {
    if (setup.Prompt) return setup.Prompt(kind, WithName(caption), WithName(text));
    return kind == TPromptKind::pkDeleteSearches ? TPromptAnswer::paNo : TPromptAnswer::paCancel;
  };

  // Holding the lock for the whole removal also keeps the program from starting in the middle of it.
  std::unique_ptr<TSingleInstance> instance;
  if (!setup.InstanceFolder.empty()) {
    for (;;) {
      instance = std::make_unique<TSingleInstance>(setup.InstanceFolder);
      if (instance->Claim() != TInstanceRole::irOther) break;
      instance.reset();
      if (ask(TPromptKind::pkCloseProgram, kCloseCaption, kCloseText) != TPromptAnswer::paOk) {
        outcome.Result = -1;
        return outcome;
      }
    }
  }

  TIETools tools(setup.Store, setup.Places);
  UpdateExplorerIntegration(true, TIntegrationInputs{}, tools);

  const std::string reason = UnsafeRootReason(setup.RootFolder);
  if (!reason.empty()) {
    outcome.Failed.push_back("Nothing was deleted from the root folder: " + reason + ".");
    return outcome;
  }
  std::string root = setup.RootFolder;
  if (root.back() != '/') root += '/';
  if (ask(TPromptKind::pkDeleteSearches, kDeleteCaption, kDeleteText) == TPromptAnswer::paYes) {
    TRemoveReport report = RemoveFolderTree(root + "UserData");
    outcome.Failed.insert(outcome.Failed.end(), report.Failed.begin(), report.Failed.end());
  }
  TRemoveReport report = RemoveFolderTree(root + "Data");
  outcome.Failed.insert(outcome.Failed.end(), report.Failed.begin(), report.Failed.end());
  return outcome;
}

int UninstallUnInitialize(IRegistryStore& store) {
  const TRegRoot roots[] = {TRegRoot::rrCurrentUser, TRegRoot::rrLocalMachine};
  for (TRegRoot root : roots) store.DeleteKey(root, kConfigKey);
  // The maker's key: the path without its trailing "\" and last part.
  std::string parent(kConfigKey);
  while (!parent.empty() && parent.back() == '\\') parent.pop_back();
  parent.erase(parent.rfind('\\') == std::string::npos ? 0 : parent.rfind('\\'));
  for (TRegRoot root : roots)
    if (store.KeyExists(root, parent) && !store.HasSubKeys(root, parent)) store.DeleteKey(root, parent);
  return 0;
}

}  // namespace vandrel

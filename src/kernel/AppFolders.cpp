#include "kernel/AppFolders.h"
#include "platform/SourceDir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace vandrel {
namespace fs = std::filesystem;

namespace {

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// The user name comes from the environment or the configuration store; it must stay one folder below
// UserData/.
std::string SafeFolderName(const std::string& name) {
  std::string out;
  for (char c : name) out += (c == '/' || c == '\\' || c == '\0') ? '_' : c;
  if (out.empty() || out == "." || out == "..") out = "Default User";
  return out;
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// Copies one file through a temporary name so that an interrupted copy never leaves a half file behind.
bool CopyFile(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::path temp = to;
  temp += ".part";
  fs::remove(temp, ec);
  if (!fs::copy_file(from, temp, fs::copy_options::overwrite_existing, ec)) return false;
  auto time = fs::last_write_time(from, ec);
  if (!ec) fs::last_write_time(temp, time, ec);
  fs::rename(temp, to, ec);
  if (ec) {
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

int SyncTree(const fs::path& from, const fs::path& to, int& replaced) {
  std::error_code ec;
  if (!fs::is_directory(from, ec)) return 0;
  int copied = 0;
  bool failed = false;
  fs::recursive_directory_iterator it(from, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    // Lexical, so a linked file in the installation is copied under its own name, never next to its target.
    const fs::path target = to / it->path().lexically_relative(from);
    std::error_code e;
    if (it->is_directory(e)) {
      fs::create_directories(target, e);
      continue;
    }
    if (!it->is_regular_file(e)) continue;
    auto source = fs::last_write_time(it->path(), e);
    if (e) continue;
    auto status = fs::symlink_status(target, e);
    const bool present = fs::exists(status);
    if (present) {
      if (!fs::is_regular_file(status)) continue;  // never replace a folder or follow a link
      auto current = fs::last_write_time(target, e);
      if (!e && current >= source) continue;
    }
    fs::create_directories(target.parent_path(), e);
    if (CopyFile(it->path(), target)) {
      ++copied;
      if (present) ++replaced;
    } else {
      failed = true;
    }
  }
  return failed || ec ? -1 : copied;
}

}  // namespace

TAppFolders::TAppFolders(std::string root, std::string userName)
    : root_(WithSlash(std::move(root))), userFolder_(SafeFolderName(userName)) {}

void TAppFolders::SetDataFolder(const std::string& folder) {
  data_ = folder.empty() ? std::string() : WithSlash(folder);
}

TAppError TAppFolders::Prepare(bool needHomePage) const {
  for (const std::string& folder : {UserData(), UserFolder(), Data()}) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!IsDirectory(folder)) return aeCreateFolders;
  }
  std::error_code ec;
  if (needHomePage && !fs::is_regular_file(HomePage(), ec)) return aeHomePageNotFound;
  return aeNoError;
}

std::string ResolveRootFolder(const std::string& commandLineRoot) {
  if (!commandLineRoot.empty()) return WithSlash(commandLineRoot);
  if (std::string root = Env("VANDREL_ROOT"); !root.empty()) return WithSlash(root);
  // XDG asks to ignore a relative data home.
  if (std::string data = Env("XDG_DATA_HOME"); !data.empty() && data[0] == '/')
    return WithSlash(data) + "VandrelShopper/";
  return WithSlash(Env("HOME")) + ".local/share/VandrelShopper/";
}

std::string FindInstallationFolder(const std::string& executablePath) {
  std::error_code ec;
  fs::path installed = fs::path(executablePath).parent_path().parent_path() / "share" / "VandrelShopper";
  if (fs::is_regular_file(installed / "Web" / "Welcome.htm", ec)) return WithSlash(installed.string());
  return WithSlash(VANDREL_SOURCE_DIR);
}

int SyncInstalledFiles(const std::string& installation, const std::string& root, const std::string& builtData,
                       int* replaced) {
  int older = 0;
  int total = 0;
  bool failed = false;
  auto add = [&](int copied) {
    if (copied < 0) {
      failed = true;
    } else {
      total += copied;
    }
  };
  for (const char* folder : {"Data", "Web"})
    add(SyncTree(fs::path(installation) / folder, fs::path(root) / folder, older));
  if (!builtData.empty()) add(SyncTree(fs::path(builtData), fs::path(root) / "Data", older));
  if (replaced) *replaced = older;
  return failed ? -1 : total;
}

std::string FindBuiltDataFolder(const std::string& executablePath) {
  std::error_code ec;
  fs::path folder = fs::path(executablePath).parent_path();
  if (fs::is_regular_file(folder / "CMakeCache.txt", ec) && fs::is_directory(folder / "Data", ec))
    return WithSlash((folder / "Data").string());
  return {};
}

}  // namespace vandrel

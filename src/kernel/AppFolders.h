// The folder layout under the root folder, where the root is, and bringing the installed files into it.
#pragma once

#include <string>

#include "actions/AppErrors.h"

namespace vandrel {

// Every path the program derives from its root folder. Folder paths end with "/".
class TAppFolders {
 public:
  TAppFolders() = default;
  // `userName` names the user's history folder; characters that could leave UserData/ are replaced.
  TAppFolders(std::string root, std::string userName);

  const std::string& Root() const { return root_; }
  std::string UserData() const { return root_ + "UserData/"; }
  std::string UserFolder() const { return UserData() + userFolder_ + "/"; }
  // Root/Data/, unless the definitions were placed elsewhere.
  std::string Data() const { return data_.empty() ? root_ + "Data/" : data_; }
  void SetDataFolder(const std::string& folder);
  std::string Web() const { return root_ + "Web/"; }
  std::string HomePage() const { return Web() + "Welcome.htm"; }
  std::string GettingStarted() const { return root_ + "getstart.chm"; }

  // Creates UserData/, the user's folder and Data/ where missing. aeCreateFolders when one of them still
  // does not exist afterwards, aeHomePageNotFound without the home page (unless a program without windows
  // asks), else aeNoError.
  TAppError Prepare(bool needHomePage = true) const;

 private:
  std::string root_;        // ends with "/"
  std::string userFolder_;  // one path component
  std::string data_;        // ends with "/"; empty: Root/Data/
};

// The root folder: `commandLineRoot` (--root) when given, else $VANDREL_ROOT, else
// $XDG_DATA_HOME/VandrelShopper/, else ~/.local/share/VandrelShopper/. Ends with "/".
std::string ResolveRootFolder(const std::string& commandLineRoot);

// Where the installed Data/ and Web/ are: <exe folder>/../share/VandrelShopper when that holds the home
// page, else the source tree the program was built from. Ends with "/".
std::string FindInstallationFolder(const std::string& executablePath);

// Copies the files of `installation`'s Data/ and Web/ into `root` where missing or older than the
// installed one; a newer file (an update delivered it) is kept. Copies keep the installed file's time.
// Returns how many files were copied, or -1 when one could not be written.
// `builtData`, when given, is a build tree's Data/ with the compiled definitions; it is copied after the
// installation's Data/ by the same rule. `replaced`, when given, counts the copies that replaced an older
// file (an upgraded installation), as opposed to filling in a missing one.
int SyncInstalledFiles(const std::string& installation, const std::string& root,
                       const std::string& builtData = {}, int* replaced = nullptr);

// The Data/ beside an executable run from its build tree (it holds the compiled definitions the build
// made); empty when the executable is installed or has none.
std::string FindBuiltDataFolder(const std::string& executablePath);

}  // namespace vandrel

#include "kernel/AppFolders.h"
#include "platform/SourceDir.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace vandrel {
namespace {
namespace fs = std::filesystem;

class AppFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vandrel-folders-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  static void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path dir_;
};

TEST_F(AppFoldersTest, PrepareCreatesTheTreeAndNeedsTheHomePage) {
  TAppFolders folders((dir_ / "root").string(), "alice");
  EXPECT_EQ(folders.UserFolder(), (dir_ / "root/UserData/alice/").string());
  EXPECT_EQ(folders.Prepare(), aeHomePageNotFound);
  EXPECT_TRUE(fs::is_directory(folders.UserFolder()));
  EXPECT_TRUE(fs::is_directory(folders.Data()));

  Write(folders.HomePage(), "<html></html>");
  EXPECT_EQ(folders.Prepare(), aeNoError);
}

TEST_F(AppFoldersTest, PrepareFailsWhenAFolderCannotBeMade) {
  Write(dir_ / "root/UserData", "a file where a folder belongs");
  TAppFolders folders((dir_ / "root").string(), "alice");
  EXPECT_EQ(folders.Prepare(), aeCreateFolders);
}

TEST_F(AppFoldersTest, UserNameStaysOneFolderBelowUserData) {
  EXPECT_EQ(TAppFolders("/r", "../../etc").UserFolder(), "/r/UserData/.._.._etc/");
  EXPECT_EQ(TAppFolders("/r/", "..").UserFolder(), "/r/UserData/Default User/");
  EXPECT_EQ(TAppFolders("/r", "").UserFolder(), "/r/UserData/Default User/");
}

TEST_F(AppFoldersTest, RootComesFromSwitchThenEnvironment) {
  const char* home = getenv("HOME");
  std::string savedHome = home ? home : "";
  setenv("VANDREL_ROOT", "/from/env", 1);
  EXPECT_EQ(ResolveRootFolder("/from/switch"), "/from/switch/");
  EXPECT_EQ(ResolveRootFolder(""), "/from/env/");
  unsetenv("VANDREL_ROOT");
  setenv("XDG_DATA_HOME", "/xdg", 1);
  EXPECT_EQ(ResolveRootFolder(""), "/xdg/VandrelShopper/");
  setenv("XDG_DATA_HOME", "relative", 1);
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(ResolveRootFolder(""), "/home/u/.local/share/VandrelShopper/");
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(AppFoldersTest, InstalledFilesAreCopiedWhenMissingOrOlderNeverOverNewer) {
  fs::path install = dir_ / "install", root = dir_ / "root";
  Write(install / "Data/books.cen", "installed engine");
  Write(install / "Data/sub/deep.ccs", "deep");
  Write(install / "Web/Welcome.htm", "installed home");
  Write(install / "Other/ignored.txt", "not ours");

  EXPECT_EQ(SyncInstalledFiles(install.string(), root.string()), 3);
  EXPECT_EQ(Read(root / "Data/sub/deep.ccs"), "deep");
  EXPECT_FALSE(fs::exists(root / "Other"));
  EXPECT_EQ(fs::last_write_time(root / "Data/books.cen"), fs::last_write_time(install / "Data/books.cen"));
  EXPECT_EQ(SyncInstalledFiles(install.string(), root.string()), 0);  // nothing changed

  // An update delivered a newer engine; the installation was upgraded with a newer home page.
  auto now = fs::file_time_type::clock::now();
  Write(root / "Data/books.cen", "updated engine");
  fs::last_write_time(root / "Data/books.cen", now + std::chrono::hours(1));
  Write(install / "Web/Welcome.htm", "new home");
  fs::last_write_time(install / "Web/Welcome.htm", now + std::chrono::hours(2));

  EXPECT_EQ(SyncInstalledFiles(install.string(), root.string()), 1);
  EXPECT_EQ(Read(root / "Data/books.cen"), "updated engine");
  EXPECT_EQ(Read(root / "Web/Welcome.htm"), "new home");
  EXPECT_FALSE(fs::exists(root / "Web/Welcome.htm.part"));
}

TEST_F(AppFoldersTest, SyncNeverFollowsALinkInTheRoot) {
  fs::path install = dir_ / "install", root = dir_ / "root";
  Write(install / "Web/Welcome.htm", "home");
  Write(dir_ / "elsewhere.txt", "keep me");
  fs::create_directories(root / "Web");
  fs::create_symlink(dir_ / "elsewhere.txt", root / "Web/Welcome.htm");
  SyncInstalledFiles(install.string(), root.string());
  EXPECT_EQ(Read(dir_ / "elsewhere.txt"), "keep me");

  // A linked file in the installation lands in the root under the link's name.
  Write(dir_ / "shared/Find.htm", "find page");
  fs::create_symlink(dir_ / "shared/Find.htm", install / "Web/Find.htm");
  EXPECT_EQ(SyncInstalledFiles(install.string(), root.string()), 1);
  EXPECT_EQ(Read(root / "Web/Find.htm"), "find page");
}

TEST_F(AppFoldersTest, InstallationIsTheSourceTreeWhenNotInstalled) {
  EXPECT_EQ(FindInstallationFolder((dir_ / "bin/VandrelShopper").string()),
            std::string(VANDREL_SOURCE_DIR) + "/");
  Write(dir_ / "share/VandrelShopper/Web/Welcome.htm", "x");
  EXPECT_EQ(FindInstallationFolder((dir_ / "bin/VandrelShopper").string()),
            (dir_ / "share/VandrelShopper/").string());
}

TEST_F(AppFoldersTest, ABuildTreeAddsItsCompiledDefinitions) {
  fs::path install = dir_ / "install", root = dir_ / "root", build = dir_ / "build";
  Write(install / "Data/books.sst", "source");
  Write(build / "CMakeCache.txt", "");
  Write(build / "Data/books.cst", "compiled");
  EXPECT_EQ(FindBuiltDataFolder((build / "VandrelShopper").string()), (build / "Data/").string());
  EXPECT_EQ(FindBuiltDataFolder((install / "VandrelShopper").string()), "");  // not a build tree

  std::string built = FindBuiltDataFolder((build / "VandrelShopper").string());
  EXPECT_EQ(SyncInstalledFiles(install.string(), root.string(), built), 2);
  EXPECT_EQ(Read(root / "Data/books.sst"), "source");
  EXPECT_EQ(Read(root / "Data/books.cst"), "compiled");
}

}  // namespace
}  // namespace vandrel

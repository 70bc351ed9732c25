#include "integration/Uninstaller.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "TempFolder.h"
#include "platform/RegistryFileStore.h"

namespace vandrel {
namespace {
namespace fs = std::filesystem;
using test::WriteWholeFile;

TEST(RemoveFolderTreeTest, RemovesDotNamesAndReadOnlyPartsButNeverFollowsALink) {
  test::TempFolder dir;
  const std::string tree = dir / "Data";
  fs::create_directories(tree + "/.hidden/deeper");
  fs::create_directories(tree + "/locked/inner");
  fs::create_directories(dir / "outside/keep");
  WriteWholeFile(tree + "/.hidden/deeper/a.cen", "a");
  WriteWholeFile(tree + "/..dots", "b");
  WriteWholeFile(tree + "/locked/inner/c", "c");
  WriteWholeFile(dir / "outside/keep/precious", "p");
  fs::permissions(tree + "/locked/inner/c", fs::perms::owner_read);
  fs::permissions(tree + "/locked/inner", fs::perms::owner_read | fs::perms::owner_exec);
  fs::permissions(tree + "/locked", fs::perms::owner_read | fs::perms::owner_exec);
  fs::create_directory_symlink(dir / "outside", tree + "/link-to-outside");
  fs::create_symlink(dir / "outside/keep/precious", tree + "/link-to-file");

  const TRemoveReport report = RemoveFolderTree(tree + "/");
  EXPECT_TRUE(report.Failed.empty()) << report.Failed.front();
  EXPECT_EQ(report.Removed, 10);
  EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
  EXPECT_EQ(test::ReadWholeFile(dir / "outside/keep/precious"), "p");
}

TEST(RemoveFolderTreeTest, ALinkInPlaceOfTheFolderGoesAsALink) {
  test::TempFolder dir;
  fs::create_directories(dir / "real");
  WriteWholeFile(dir / "real/x", "x");
  fs::create_directory_symlink(dir / "real", dir / "Data");
  EXPECT_EQ(RemoveFolderTree(dir / "Data").Removed, 1);
  EXPECT_TRUE(fs::exists(dir / "real/x"));
  EXPECT_TRUE(RemoveFolderTree(dir / "missing").Failed.empty()) << "nothing there is nothing to report";
}

TEST(RemoveFolderTreeTest, WhatCannotBeRemovedIsListedAndTheRestStillGoes) {
  // A folder the remover may not write to is the one failure every system produces alike; root may
  // write anywhere, so the removal runs as an unprivileged user in a child process.
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hand the tree to another user";
  test::TempFolder dir;
  fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  const std::string tree = dir / "Data";
  fs::create_directories(tree + "/foreign");
  WriteWholeFile(tree + "/a", "a");
  WriteWholeFile(tree + "/z", "z");
  WriteWholeFile(tree + "/foreign/x", "x");
  const uid_t nobody = 65534;
  for (const std::string& path : {tree, tree + "/a", tree + "/z"})
    ASSERT_EQ(chown(path.c_str(), nobody, nobody), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgid(nobody) != 0 || setuid(nobody) != 0) _exit(255);
    const TRemoveReport report = RemoveFolderTree(tree);
    _exit(report.Removed * 16 + static_cast<int>(report.Failed.size()));
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status) / 16, 2) << "both files of its own went";
  EXPECT_EQ(WEXITSTATUS(status) % 16, 3) << "foreign/x, foreign and the folder itself are listed";
  EXPECT_FALSE(fs::exists(tree + "/a"));
  EXPECT_FALSE(fs::exists(tree + "/z"));
  EXPECT_TRUE(fs::exists(tree + "/foreign/x"));
}

TEST(UnsafeRootTest, OnlyAnAbsoluteExistingRootWithTheHomePageMayBeDeletedFrom) {
  test::TempFolder dir;
  fs::create_directories(dir / "root/Web");
  fs::create_directories(dir / "bare");
  WriteWholeFile(dir / "root/Web/Welcome.htm", "<html>");
  EXPECT_EQ(UnsafeRootReason(dir / "root"), "");
  EXPECT_EQ(UnsafeRootReason(dir / "root/"), "");
  EXPECT_NE(UnsafeRootReason(""), "");
  EXPECT_NE(UnsafeRootReason("relative/root/"), "");
  EXPECT_NE(UnsafeRootReason(dir / "missing/"), "");
  EXPECT_NE(UnsafeRootReason(dir / "bare/"), "");
}

TEST(UninstallTest, AnUnsafeRootDeletesNothingAndSaysWhy) {
  test::TempFolder dir;
  fs::create_directories(dir / "UserData");
  fs::create_directories(dir / "Data");
  for (const std::string& root : {std::string(), std::string("Data/.."), dir.Path()}) {
    TUninstallSetup setup;
    setup.Store = std::make_shared<TRegistryFileStore>(dir / "store");
    setup.RootFolder = root;
    setup.Prompt = [](TPromptKind, const std::string&, const std::string&) { return TPromptAnswer::paYes; };
    const TUninstallOutcome outcome = UninstallInitialize(setup);
    EXPECT_EQ(outcome.Result, 0);
    ASSERT_EQ(outcome.Failed.size(), 1u) << root;
    EXPECT_NE(outcome.Failed[0].find("Nothing was deleted"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "UserData"));
    EXPECT_TRUE(fs::exists(dir / "Data"));
  }
}

TEST(UninstallTest, SettingsKeysGoAndTheMakersKeyOnlyWhenEmpty) {
  test::TempFolder dir;
  TRegistryFileStore store(dir / "store");
  for (TRegRoot root : {TRegRoot::rrCurrentUser, TRegRoot::rrLocalMachine})
    store.CreateKey(root, "Software\\VandrelSoft\\Vandrel Shopper\\Preferences");
  store.CreateKey(TRegRoot::rrLocalMachine, "Software\\VandrelSoft\\Sibling Product");
  EXPECT_EQ(UninstallUnInitialize(store), 0);
  EXPECT_FALSE(store.KeyExists(TRegRoot::rrCurrentUser, "Software\\VandrelSoft"));
  EXPECT_FALSE(store.KeyExists(TRegRoot::rrLocalMachine, "Software\\VandrelSoft\\Vandrel Shopper"));
  EXPECT_TRUE(store.KeyExists(TRegRoot::rrLocalMachine, "Software\\VandrelSoft\\Sibling Product"));
  EXPECT_TRUE(store.KeyExists(TRegRoot::rrCurrentUser, "Software"));
}

}  // namespace
}  // namespace vandrel

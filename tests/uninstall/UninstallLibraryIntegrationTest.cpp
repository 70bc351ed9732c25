// The uninstall library as the uninstaller uses it: loaded with dlopen, called through its C entry points.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>

#include "TempFolder.h"
#include "integration/ExplorerIntegration.h"
#include "kernel/AppConfig.h"
#include "platform/RegistryFileStore.h"
#include "platform/SingleInstance.h"
#include "uninstall/UninstallApi.h"

namespace vandrel {
namespace {
namespace fs = std::filesystem;
using test::WriteWholeFile;

struct TAnswers {
  int Close = 2;   // Cancel
  int Delete = 7;  // No
  std::vector<int> Asked;
};

int Answer(void* context, int kind, const char* caption, const char* text) {
  auto* answers = static_cast<TAnswers*>(context);
  answers->Asked.push_back(kind);
  return kind == 0 ? answers->Close : kind == 1 ? answers->Delete : 0;
}

class UninstallLibraryIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
      const char* value = std::getenv(name);
      saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    fs::create_directories(dir / "config");
    fs::create_directories(dir / "data");
    fs::create_directories(dir / "run");
    fs::permissions(dir / "run", fs::perms::owner_all);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);

    root = dir / "root/";
    fs::create_directories(root + "Web");
    fs::create_directories(root + "UserData/Default User");
    fs::create_directories(root + "Data/sub");
    fs::create_directories(dir / "elsewhere");
    WriteWholeFile(root + "Web/Welcome.htm", "<html>");
    WriteWholeFile(root + "UserData/Default User/searches", "s");
    WriteWholeFile(root + "Data/buybooks.cca", "c");
    WriteWholeFile(dir / "elsewhere/precious", "p");
    fs::create_directory_symlink(dir / "elsewhere", root + "Data/sub/link");

    store = std::make_shared<TRegistryFileStore>(dir / "config/VandrelSoft");
    TAppConfig config(store);
    config.SetRootFolder(root);
    config.Preferences().SetMaxTransfers(9);
    TIETools tools(store, DefaultDesktopPlaces());
    TIntegrationInputs inputs;
    inputs.ProgramPath = "/opt/vandrel/VandrelShopper";
    inputs.RootFolder = root;
    inputs.IEVersion = 5;
    ASSERT_TRUE(UpdateExplorerIntegration(false, inputs, tools).Written);

    library = dlopen(VANDREL_UNINSTALL_LIB, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    initialize = reinterpret_cast<decltype(initialize)>(dlsym(library, "UninstInitialize"));
    uninitialize = reinterpret_cast<decltype(uninitialize)>(dlsym(library, "UninstUnInitialize"));
    ASSERT_NE(initialize, nullptr);
    ASSERT_NE(uninitialize, nullptr);
  }
  void TearDown() override {
    if (library) dlclose(library);
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  int IntegrationEntriesPresent() {
    TIETools tools(store, DefaultDesktopPlaces());
    int present = 0;
    for (const auto& entry : IntegrationStatus(tools)) present += entry.Present;
    return present;
  }

  test::TempFolder dir;
  std::string root;
  std::shared_ptr<TRegistryFileStore> store;
  void* library = nullptr;
  int (*initialize)(void*, VandrelUninstPrompt, void*) = nullptr;
  int (*uninitialize)(void*, void*, void*) = nullptr;
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(UninstallLibraryIntegration, TheProgramRunningAndCancelRemovesNothing) {
  TSingleInstance running(dir / "run");
  ASSERT_EQ(running.Claim(), TInstanceRole::irFirst);
  const int before = IntegrationEntriesPresent();
  EXPECT_GT(before, 0);
  TAnswers answers;
  EXPECT_EQ(initialize(nullptr, Answer, &answers), -1);
  EXPECT_EQ(answers.Asked, std::vector<int>{0});
  EXPECT_EQ(IntegrationEntriesPresent(), before);
  EXPECT_TRUE(fs::exists(root + "Data/buybooks.cca"));
  EXPECT_TRUE(fs::exists(root + "UserData/Default User/searches"));
  // No prompt at all is a Cancel too.
  EXPECT_EQ(initialize(nullptr, nullptr, nullptr), -1);
  EXPECT_TRUE(fs::exists(root + "Data/buybooks.cca"));
}

TEST_F(UninstallLibraryIntegration, NoKeepsTheSearchesAndRemovesDataAndIntegration) {
  TAnswers answers;
  EXPECT_EQ(initialize(nullptr, Answer, &answers), 0);
  EXPECT_EQ(answers.Asked, std::vector<int>{1});
  EXPECT_EQ(IntegrationEntriesPresent(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(root + "Data")));
  EXPECT_TRUE(fs::exists(root + "UserData/Default User/searches"));
  EXPECT_EQ(test::ReadWholeFile(dir / "elsewhere/precious"), "p") << "the link went, not what it points at";

  EXPECT_TRUE(store->KeyExists(TRegRoot::rrCurrentUser, "Software\\VandrelSoft\\Vandrel Shopper"));
  EXPECT_EQ(uninitialize(nullptr, nullptr, nullptr), 0);
  EXPECT_FALSE(store->KeyExists(TRegRoot::rrCurrentUser, "Software\\VandrelSoft"));
  EXPECT_FALSE(store->KeyExists(TRegRoot::rrLocalMachine, "Software\\VandrelSoft"));
}

TEST_F(UninstallLibraryIntegration, YesAlsoRemovesTheSearchesAfterTheProgramWasClosed) {
  auto running = std::make_unique<TSingleInstance>(dir / "run");
  ASSERT_EQ(running->Claim(), TInstanceRole::irFirst);
  struct TClosing {
    std::unique_ptr<TSingleInstance>* Running;
    std::vector<int> Asked;
  } closing{&running, {}};
  // The user closes the program, then answers OK and Yes.
  auto prompt = [](void* context, int kind, const char*, const char* text) {
    auto* c = static_cast<TClosing*>(context);
    c->Asked.push_back(kind);
    if (kind == 0) {
      EXPECT_STREQ(
          text, "Please close the Vandrel Shopper window that is currently open.\r\nClick OK to continue.");
      c->Running->reset();
      return 1;
    }
    return kind == 1 ? 6 : 0;
  };
  EXPECT_EQ(initialize(nullptr, prompt, &closing), 0);
  EXPECT_EQ(closing.Asked, (std::vector<int>{0, 1}));
  EXPECT_FALSE(fs::exists(root + "UserData"));
  EXPECT_FALSE(fs::exists(root + "Data"));
  EXPECT_TRUE(fs::exists(root + "Web/Welcome.htm"));
}

}  // namespace
}  // namespace vandrel

// The start-up steps around the database: a fresh installation, the left-over update program, the first
// start's setup, the installation's identifier, the engine check and the order of the progress texts.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "actions/QuorinActions.h"
#include "actions/QuorinApplications.h"
#include "data/DemoSite.h"
#include "kernel/AppConfig.h"
#include "kernel/AppKernel.h"
#include "kernel/KernelStartFixture.h"
#include "platform/RegistryFileStore.h"
#include "search/QuorinEngineRepository.h"

namespace vandrel {
namespace {
namespace fs = std::filesystem;

class AppKernelStartUpIntegration : public test::KernelStartFixture {
 protected:
  void SetUp() override {
    KernelStartFixture::SetUp();
    if (HasFatalFailure()) return;
    store_ = std::make_shared<TRegistryFileStore>((dir_ / "registry").string());
    config_ = std::make_unique<TAppConfig>(store_);
    config_->GlobalSystem().SetAppConfigured(true);
  }

  struct TProgram {
    TQuorinActionRepository Actions;
    TQuorinApplication Runner;
    TCommandLineProcessor Processor;
    TAppKernel Kernel;
    std::vector<std::string> Events;  // progress texts and windows, in order
    explicit TProgram(MainDispatcher& dispatcher)
        : Runner(Actions, MainDispatcher::Default()), Kernel(Processor, dispatcher) {}
    ~TProgram() { Kernel.ShutDown(); }
  };

  TAppKernel::THooks Hooks(TProgram& program) {
    TAppKernel::THooks hooks;
    hooks.InstallationFolder = (dir_ / "install").string();
    hooks.BuiltDataFolder = test::CompiledDataDir();
    hooks.UserName = "tester";
    hooks.Runner = &program.Runner;
    hooks.Actions = &program.Actions;
    hooks.Config = config_.get();
    auto note = [&program](std::string what) { program.Events.push_back(std::move(what)); };
    hooks.ShowProgress = [note](int, const std::string& text) { note(text); };
    hooks.ShowSplash = [note] { note("splash"); };
    hooks.HideSplash = [note] { note("no splash"); };
    hooks.RunSetupWizard = [note] {
      note("setup wizard");
      return false;
    };
    hooks.RunEngineUpdateWindow = [note] {
      note("engine update");
      return false;
    };
    hooks.RewriteIntegration = [note] { note("integration"); };
    return hooks;
  }
  TStartResult Start(TProgram& program, TAppKernel::THooks hooks, bool debug = false) {
    TStartOptions options;
    options.RootFolder = (dir_ / "root").string();
    options.DebugMode = debug;
    return program.Kernel.Start(options, std::move(hooks));
  }
  static bool Saw(const TProgram& program, const std::string& what) {
    return std::find(program.Events.begin(), program.Events.end(), what) != program.Events.end();
  }

  MainDispatcher dispatcher_;
  std::shared_ptr<TRegistryFileStore> store_;
  std::unique_ptr<TAppConfig> config_;
};

TEST_F(AppKernelStartUpIntegration, ConfiguredStartRunsItsStepsInOrderAndNamesTheInstallation) {
  std::string guid;
  {
    TProgram program(dispatcher_);
    ASSERT_EQ(Start(program, Hooks(program)), TStartResult::srRun);
    EXPECT_EQ(program.Events, (std::vector<std::string>{"splash", "Starting up...", "Opening database...",
                                                        "Refreshing database...", "Compacting database...",
                                                        "Loading user interface..."}));
    EXPECT_TRUE(program.Kernel.CheckEngines(false));
    guid = config_->System().GUID();
    EXPECT_TRUE(std::regex_match(
        guid, std::regex(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})")))
        << guid;
  }
  TProgram again(dispatcher_);
  ASSERT_EQ(Start(again, Hooks(again)), TStartResult::srRun);
  EXPECT_EQ(config_->System().GUID(), guid);  // one installation, one identifier
  EXPECT_FALSE(Saw(again, "Refreshing database..."));
  EXPECT_TRUE(shown_.empty()) << shown_.front();
}

TEST_F(AppKernelStartUpIntegration, FirstStartAfterAnInstallationRefreshesAndRewritesTheIntegrationOnce) {
  config_->GlobalSystem().SetInstallMode(true);
  {
    TProgram program(dispatcher_);
    ASSERT_EQ(Start(program, Hooks(program)), TStartResult::srRun);
    EXPECT_TRUE(program.Kernel.FreshInstall());
    EXPECT_TRUE(Saw(program, "integration"));
    EXPECT_TRUE(Saw(program, "Refreshing database..."));
    EXPECT_FALSE(config_->GlobalSystem().InstallMode());
  }
  // Installed over a program never configured: the setup wizard writes the integration, not the start.
  config_->GlobalSystem().SetInstallMode(true);
  config_->GlobalSystem().SetAppConfigured(false);
  TProgram second(dispatcher_);
  ASSERT_EQ(Start(second, Hooks(second)), TStartResult::srRun);
  EXPECT_FALSE(Saw(second, "integration"));
}

TEST_F(AppKernelStartUpIntegration, LeftOverUpdateProgramIsDeletedAndForgotten) {
  fs::path program = dir_ / "shopper-update.run";
  std::ofstream(program) << "installer";
  config_->GlobalSystem().SetSoftwareUpdateProgram(program.string());
  {
    TProgram p(dispatcher_);
    ASSERT_EQ(Start(p, Hooks(p)), TStartResult::srRun);
  }
  EXPECT_FALSE(fs::exists(program));
  EXPECT_EQ(config_->GlobalSystem().SoftwareUpdateProgram(), "");

  // One that cannot be deleted stays named, so a later start tries again.
  fs::create_directories(dir_ / "busy" / "inside");
  config_->GlobalSystem().SetSoftwareUpdateProgram((dir_ / "busy").string());
  TProgram p(dispatcher_);
  ASSERT_EQ(Start(p, Hooks(p)), TStartResult::srRun);
  EXPECT_EQ(config_->GlobalSystem().SoftwareUpdateProgram(), (dir_ / "busy").string());
}

TEST_F(AppKernelStartUpIntegration, UnconfiguredStartImportsASiblingsNetworkAndRunsTheWizardWithoutSplash) {
  config_->GlobalSystem().SetAppConfigured(false);
  const std::string sibling = "\\Software\\Vandrel Technologies\\VandrelScout";
  for (const char* key : {"\\System", "\\Network"})
    ASSERT_TRUE(store_->CreateKey(TRegRoot::rrLocalMachine, sibling + key));
  ASSERT_TRUE(store_->WriteValue(TRegRoot::rrLocalMachine, sibling + "\\System", "RootFolder",
                                 TRegValue::String("/opt")));
  ASSERT_TRUE(store_->WriteValue(TRegRoot::rrLocalMachine, sibling + "\\Network", "ProxyAddress",
                                 TRegValue::String("proxy.test")));
  TProgram program(dispatcher_);
  ASSERT_EQ(Start(program, Hooks(program)), TStartResult::srRun);
  EXPECT_EQ(config_->Network().ProxyAddress(), "proxy.test");
  auto wizard = std::find(program.Events.begin(), program.Events.end(), "setup wizard");
  ASSERT_NE(wizard, program.Events.end());
  EXPECT_EQ(*(wizard - 1), "no splash");
  EXPECT_EQ(*(wizard + 1), "splash");
  // A cancelled wizard leaves the program unconfigured; the start goes on.
  EXPECT_FALSE(config_->GlobalSystem().AppConfigured());
  EXPECT_TRUE(Saw(program, "Loading user interface..."));
}

TEST_F(AppKernelStartUpIntegration, EngineCheckNamesTheMissingPieceAndOffersTheUpdateWindow) {
  fs::create_directories(dir_ / "empty");
  {
    TProgram program(dispatcher_);
    auto hooks = Hooks(program);
    hooks.DataFolder = (dir_ / "empty").string();
    hooks.BuiltDataFolder.clear();
    ASSERT_EQ(Start(program, std::move(hooks)), TStartResult::srRun);
    EXPECT_TRUE(Saw(program, "engine update"));
    EXPECT_FALSE(program.Kernel.CheckEngines(true));
    EXPECT_TRUE(shown_.empty());
    EXPECT_FALSE(program.Kernel.CheckEngines(false));
    EXPECT_EQ(shown_, std::vector<std::string>{
                          "Cannot start Vandrel Shopper because there are no engines in database."});
  }
  fs::remove_all(dir_ / "root");
  shown_.clear();
  {
    // Debug mode excuses an empty catalogue, and no update window is offered.
    TProgram program(dispatcher_);
    auto hooks = Hooks(program);
    hooks.DataFolder = (dir_ / "empty").string();
    hooks.BuiltDataFolder.clear();
    ASSERT_EQ(Start(program, std::move(hooks), true), TStartResult::srRun);
    EXPECT_FALSE(Saw(program, "engine update"));
    EXPECT_TRUE(program.Kernel.CheckEngines(false));
  }
  fs::remove_all(dir_ / "root");
  {
    TProgram program(dispatcher_);
    auto hooks = Hooks(program);
    hooks.ShiftHeld = [] { return true; };  // Shift asks for the window even with every engine there
    ASSERT_EQ(Start(program, std::move(hooks)), TStartResult::srRun);
    EXPECT_TRUE(Saw(program, "engine update"));
    EXPECT_TRUE(program.Kernel.CheckEngines(false));
  }
  // Categories whose engines are missing: the first one is named.
  fs::remove_all(dir_ / "root");
  fs::create_directories(dir_ / "lonely");
  for (const auto& entry : fs::directory_iterator(test::CompiledDataDir()))
    if (entry.is_regular_file()) fs::copy_file(entry.path(), dir_ / "lonely" / entry.path().filename());
  TProgram program(dispatcher_);
  auto hooks = Hooks(program);
  hooks.DataFolder = (dir_ / "lonely").string();
  hooks.BuiltDataFolder.clear();
  ASSERT_EQ(Start(program, std::move(hooks)), TStartResult::srRun);
  EXPECT_TRUE(Saw(program, "engine update"));
  shown_.clear();
  EXPECT_FALSE(program.Kernel.CheckEngines(false));
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_TRUE(shown_[0].starts_with("No engines for ")) << shown_[0];
  EXPECT_TRUE(shown_[0].ends_with(" category.")) << shown_[0];
}

}  // namespace
}  // namespace vandrel

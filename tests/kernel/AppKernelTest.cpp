#include "kernel/AppKernel.h"
#include "kernel/KernelStartFixture.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace vandrel {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(AppKernel, StartArgumentsKeepTheCommandLineAndTakeOutTheRoot) {
  const char* argv[] = {"VandrelShopper", "--root", "/r", "shop:prices", "/DEBUG+", "--root=/s", "cameras"};
  TStartOptions options = ParseStartArguments(7, argv);
  EXPECT_EQ(options.RootFolder, "/s");
  EXPECT_TRUE(options.DebugMode);
  EXPECT_EQ(JoinArguments(options.Arguments), "shop:prices /DEBUG+ cameras");

  const char* plain[] = {"VandrelShopper", "debug+", "-debug"};
  EXPECT_FALSE(ParseStartArguments(3, plain).DebugMode);  // needs its switch character
}

TEST(AppKernel, DefinesAreTheStartsOwnAndNeverForwarded) {
  const char* argv[] = {"VandrelShopper", "--define",        "DemoStoreAddress=http://127.0.0.1:9/",
                        "shop:prices",    "--define=Empty=", "--define",
                        "no-name",        "--define"};
  TStartOptions options = ParseStartArguments(8, argv);
  using TPairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(options.Defines, (TPairs{{"DemoStoreAddress", "http://127.0.0.1:9/"}, {"Empty", ""}}));
  // What is not a constant stays in the command line the running program is handed.
  EXPECT_EQ(JoinArguments(options.Arguments), "shop:prices --define no-name --define");
}

TEST(AppKernel, DisplayChecks) {
  EXPECT_EQ(CheckDisplay({800, 600, 24}), aeNoError);
  EXPECT_EQ(CheckDisplay({720, 540, 24}), aeLowResolution);
  EXPECT_EQ(CheckDisplay({640, 400, 24}), aeScreenTooSmall);
  EXPECT_EQ(CheckDisplay({1024, 768, 4}), aeScreenTooSmall);
}

// Two kernels in one process stand for two starts of the program: the lock is per open file.
class AppKernelStartTest : public test::KernelStartFixture {
 protected:
  TAppKernel::THooks Hooks(std::string installation) {
    TAppKernel::THooks hooks;
    hooks.InstallationFolder = std::move(installation);
    hooks.UserName = "tester";
    hooks.RestoreMainWindow = [this] { ++restored_; };
    return hooks;
  }
  TStartOptions Options(std::vector<std::string> args) {
    TStartOptions options;
    options.Arguments = std::move(args);
    options.RootFolder = (dir_ / "root").string();
    return options;
  }

  int restored_ = 0;
  MainDispatcher dispatcher_;
};

TEST_F(AppKernelStartTest, LaterStartsHandTheirCommandLineToTheRunningOne) {
  TCommandLineProcessor processor;
  std::vector<std::string> ran;
  processor.Register("prices", [&](const std::string& arg) { ran.push_back("prices " + arg); });
  TAppKernel running(processor, dispatcher_);
  auto hooks = Hooks((dir_ / "install").string());
  std::string root;
  hooks.RootFolderChosen = [&](const std::string& r) { root = r; };
  ASSERT_EQ(running.Start(Options({}), hooks), TStartResult::srRun);
  EXPECT_EQ(root, (dir_ / "root/").string());
  EXPECT_TRUE(fs::is_regular_file(dir_ / "root/Web/Welcome.htm"));
  EXPECT_TRUE(fs::is_directory(dir_ / "root/UserData/tester"));

  TCommandLineProcessor unused;
  TAppKernel second(unused, dispatcher_);
  EXPECT_EQ(second.Start(Options({"shop:prices", "cameras"}), Hooks("")), TStartResult::srForwarded);
  TAppKernel third(unused, dispatcher_);
  EXPECT_EQ(third.Start(Options({}), Hooks("")), TStartResult::srForwarded);

  ASSERT_TRUE(dispatcher_.RunUntil([&] { return !ran.empty() && restored_ == 1; }, 3000ms, 5ms));
  EXPECT_EQ(ran, std::vector<std::string>{"prices cameras"});
  EXPECT_TRUE(shown_.empty());
}

TEST_F(AppKernelStartTest, MissingHomePageEndsTheStartBeforeTheWindow) {
  TCommandLineProcessor processor;
  TAppKernel kernel(processor, dispatcher_);
  int immediate = 0, orderly = 0;
  kernel.SetTerminateHandlers([&] { ++immediate; }, [&] { ++orderly; });
  SetErrorPresenter(
      {[this](TMessageStyle, const std::string& t) { shown_.push_back(t); }, [&] { kernel.Terminate(); }});
  EXPECT_EQ(kernel.Start(Options({}), Hooks((dir_ / "nothing").string())), TStartResult::srFailed);
  EXPECT_EQ(shown_, std::vector<std::string>{"The home page could not be found."});
  EXPECT_EQ(immediate, 1);

  kernel.SetMainFormShown();
  kernel.Terminate();
  EXPECT_EQ(orderly, 1);
}

TEST_F(AppKernelStartTest, SmallScreenIsFatalAndLowResolutionOnlyAdvised) {
  TCommandLineProcessor processor;
  {
    TAppKernel kernel(processor, dispatcher_);
    auto hooks = Hooks((dir_ / "install").string());
    hooks.PrepareDisplay = [] { return std::optional<TDisplayInfo>({720, 540, 24}); };
    EXPECT_EQ(kernel.Start(Options({}), hooks), TStartResult::srRun);
    EXPECT_EQ(shown_,
              std::vector<std::string>{"For best performance, please set screen resolution to 800x600."});
  }
  fs::remove_all(dir_ / "root");
  TAppKernel kernel(processor, dispatcher_);
  auto hooks = Hooks((dir_ / "install").string());
  hooks.PrepareDisplay = [] { return std::optional<TDisplayInfo>({640, 400, 24}); };
  EXPECT_EQ(kernel.Start(Options({}), hooks), TStartResult::srFailed);
  EXPECT_EQ(terminated_, 1);
  EXPECT_FALSE(fs::exists(dir_ / "root/UserData"));  // ended before the folders were made
}

TEST_F(AppKernelStartTest, StartOpensTheDatabaseAndEndsWhenItCannot) {
  TCommandLineProcessor processor;
  {
    TAppKernel kernel(processor, dispatcher_);
    ASSERT_EQ(kernel.Start(Options({}), Hooks((dir_ / "install").string())), TStartResult::srRun);
    ASSERT_NE(kernel.StorageManager(), nullptr);
    EXPECT_TRUE(fs::exists(dir_ / "root/UserData/DB.dbf"));
    kernel.ShutDown();
    EXPECT_EQ(kernel.StorageManager(), nullptr);
  }
  // A dictionary file that holds something else is the user's data: the start ends, the file stays.
  fs::path table = dir_ / "root/UserData/TBL.dbf";
  fs::copy_file(dir_ / "root/UserData/DB.dbf", table, fs::copy_options::overwrite_existing);
  auto size = fs::file_size(table);
  TAppKernel kernel(processor, dispatcher_);
  EXPECT_EQ(kernel.Start(Options({}), Hooks((dir_ / "install").string())), TStartResult::srFailed);
  EXPECT_EQ(shown_, std::vector<std::string>{"Could not access database."});
  EXPECT_EQ(kernel.StorageManager(), nullptr);
  EXPECT_EQ(fs::file_size(table), size);
}

}  // namespace
}  // namespace vandrel

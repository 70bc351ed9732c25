// When an update is due, what the operation asks for, and the kernel asking before a search.
#include "update/AppUpdater.h"

#include <gtest/gtest.h>

#include "kernel/AppKernel.h"
#include "update/UpdateTestWorld.h"

namespace vandrel::updatetest {
namespace {

constexpr double kHour = 1.0 / 24;

TEST(AppUpdater, DueRulesFollowTheLastSearchAndTheLastUpdate) {
  const TDateTime now = 46000.5;
  struct TCase {
    double SearchedAgo, UpdatedAgo;  // days; -1: never
    bool Due;
  } cases[] = {
      {10, -1, true},          // never updated: due whatever the last search
      {-1, -1, true},          //
      {10, 40, false},         // searched recently
      {31, 2, true},           // not searched for a month, updated two days ago
      {31, 3 * kHour, false},  // updated three hours ago
      {30, 1, true},           // both limits are inclusive
      {-1, 2, true},           // never searched counts as long ago
  };
  for (const TCase& c : cases) {
    TCategoryStorageItem category;
    category.LastSearchDate = c.SearchedAgo < 0 ? 0 : now - c.SearchedAgo;
    category.LastUpdateDate = c.UpdatedAgo < 0 ? 0 : now - c.UpdatedAgo;
    EXPECT_EQ(TAppUpdater::IsCategoryDue(category, now), c.Due) << c.SearchedAgo << " " << c.UpdatedAgo;
  }
}

class AppUpdaterOperation : public ::testing::Test {
 protected:
  void SetUp() override {
    Client.Data.WriteCompiledSearchType("books.cst", kBooksType, 1);
    for (const char* name : {"buybooks", "reviewbooks", "buymusic"})
      Client.Data.WriteCompiledEngine(std::string(name) + ".cca", CategoryBody(name), 1);
    Client.Reload();
    // Only buymusic is due: the others were searched yesterday and updated two days ago.
    for (size_t i = 0; i < Categories().Count(); ++i) {
      Categories().Category(i)->LastSearchDate = Client.Clock - 1;
      Categories().Category(i)->LastUpdateDate = Client.Clock - 2;
    }
    Client.Category("buymusic")->LastSearchDate = Client.Clock - 40;
  }
  TCategoryStorageList& Categories() { return Client.Repository().Categories(); }

  TUpdateClient Client;
};

TEST_F(AppUpdaterOperation, AutomaticUpdatesListTheDueCategoriesUnlessTheChannelWasJustChecked) {
  EXPECT_TRUE(Client.Updater.IsUpdateDue());
  Client.Settings.LastChannel = Client.Clock - 2;
  auto op = Client.Updater.MakeOperation(false);
  EXPECT_EQ(op->CatNames.Lines, std::vector<std::string>{"buymusic"});
  EXPECT_EQ(op->CompilerVersion, 5000);
  EXPECT_EQ(op->CustomScripts.Lines, (std::vector<std::string>{"currencies", "shopper"}));
  EXPECT_EQ(op->UpdaterAddress, DefaultUpdateAddress());
  EXPECT_EQ(op->Folder, "");

  Client.Settings.LastChannel = Client.Clock - 3 * kHour;
  Client.Settings.Address = "http://127.0.0.1:1/mine";
  op = Client.Updater.MakeOperation(false);
  EXPECT_EQ(op->CatNames.Lines.size(), 3u);
  EXPECT_EQ(op->UpdaterAddress, "http://127.0.0.1:1/mine");

  Client.Category("buymusic")->LastSearchDate = Client.Clock - 1;
  EXPECT_FALSE(Client.Updater.IsUpdateDue());
  EXPECT_TRUE(Client.Updater.MakeOperation(false)->CatNames.Lines.empty());
  EXPECT_EQ(Client.Updater.MakeOperation(true)->CatNames.Lines.size(), 3u);
}

TEST(AppKernelUpdateHook, AStartedSearchRunsTheUpdateOnlyWhenOneIsDue) {
  TCommandLineProcessor processor;
  TAppKernel kernel(processor, MainDispatcher::Default());
  auto previous = SetErrorPresenter({[](TMessageStyle, const std::string&) {}, [] {}});
  bool due = false;
  int asked = 0, ran = 0;
  kernel.SetSearchHooks({[&ran] { ++ran; }, nullptr,
                         [&] {
                           ++asked;
                           return due;
                         }});
  kernel.StartSearch(nullptr, false, false);  // refused for want of a search; the updater was still asked
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(ran, 0);
  due = true;
  kernel.StartSearch(nullptr, false, false);
  EXPECT_EQ(ran, 1);
  SetErrorPresenter(std::move(previous));
}

}  // namespace
}  // namespace vandrel::updatetest

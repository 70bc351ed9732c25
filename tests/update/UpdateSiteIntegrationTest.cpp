// Engine updates against a real vandrel-update-site process on 127.0.0.1.
#include <gtest/gtest.h>

#include "search/DefinitionFiles.h"
#include "update/UpdateTestWorld.h"

namespace vandrel::updatetest {
namespace {

class UpdateSiteIntegration : public ::testing::Test {
 protected:
  void SetUp() override { WriteSmallSite(Site); }

  testing::TDataFolder Site;
};

TEST_F(UpdateSiteIntegration, AFreshRootGetsTheSitesDefinitionsAndThenFindsNothingNew) {
  TSiteProcess site(Site.Path());
  ASSERT_GT(site.Port, 0) << site.Log();
  TUpdateClient client;
  auto run = client.Update(site.Url());
  EXPECT_EQ(run->ErrorText(), "");
  EXPECT_TRUE(run->Installed());
  EXPECT_EQ(run->Status(), "Update completed.");
  EXPECT_EQ(run->Progress(), 100);

  ASSERT_NE(client.Repository().SearchTypes().FindByName("books"), nullptr);
  TCategoryStorageItem* buy = client.Category("buybooks");
  ASSERT_NE(buy, nullptr);
  ASSERT_NE(client.Category("reviewbooks"), nullptr);
  EXPECT_EQ(buy->Version, 1);
  EXPECT_EQ(buy->LastUpdateDate, client.Clock);  // its engine list was processed
  ASSERT_NE(client.Engine("buybooks", "bookbarn"), nullptr);
  ASSERT_NE(client.Engine("buybooks", "linkmart"), nullptr);
  ASSERT_NE(client.Engine("reviewbooks", "critics"), nullptr);
  EXPECT_EQ(client.Engine("buybooks", "bookbarn")->DisplayName, "Book Barn");
  EXPECT_TRUE(client.Exists("books.cst"));
  EXPECT_TRUE(client.Exists("buybooks/bookbarn.cen"));
  EXPECT_EQ(client.Settings.LastChannel, client.Clock);

  // The site logs every exchange.
  EXPECT_NE(site.Log().find("POST /update-info/013 200"), std::string::npos) << site.Log();

  client.Clock += 1;
  auto again = client.Update(site.Url());
  EXPECT_EQ(again->ErrorText(), "");
  EXPECT_FALSE(again->Installed());
  EXPECT_EQ(again->LastStep(), TUpdateStep::CheckVersions);
  EXPECT_EQ(again->Status(), "No changes detected.");
  EXPECT_EQ(again->Report().Count(), 0u);
  EXPECT_EQ(client.Category("buybooks")->LastUpdateDate, client.Clock);
}

TEST_F(UpdateSiteIntegration, AChangedEngineIsReplacedAndKeepsTheUsersChoice) {
  TSiteProcess site(Site.Path());
  TUpdateClient client;
  ASSERT_EQ(client.Update(site.Url())->ErrorText(), "");
  client.Engine("buybooks", "bookbarn")->Enabled = false;

  ASSERT_TRUE(Site.WriteCompiledEngine("buybooks/bookbarn.cen", EngineBody("Book Barn II"), 2));
  auto run = client.Update(site.Url());
  EXPECT_EQ(run->ErrorText(), "");
  ASSERT_EQ(run->Report().Count(), 1u);
  EXPECT_EQ(run->Report().Items(0).Action, uaChanged);
  EXPECT_EQ(run->Report().Items(0).FullName(), "buybooks/bookbarn");
  TEngineStorageItem* barn = client.Engine("buybooks", "bookbarn");
  ASSERT_NE(barn, nullptr);
  EXPECT_EQ(barn->Version, 2);
  EXPECT_EQ(barn->DisplayName, "Book Barn II");
  EXPECT_FALSE(barn->Enabled);
}

// A definition that is there in another letter case is replaced in place, and the catalogue takes the
// new one from it.
TEST_F(UpdateSiteIntegration, AnExistingLetterCaseOfADefinitionIsReplacedInPlace) {
  TSiteProcess site(Site.Path());
  TUpdateClient client;
  ASSERT_EQ(client.Update(site.Url())->ErrorText(), "");

  std::filesystem::rename(client.Data.Path() + "buybooks/bookbarn.cen",
                          client.Data.Path() + "buybooks/BookBarn.cen");
  ASSERT_TRUE(Site.WriteCompiledEngine("buybooks/bookbarn.cen", EngineBody("Book Barn II"), 2));
  auto run = client.Update(site.Url());
  EXPECT_EQ(run->ErrorText(), "");
  EXPECT_TRUE(run->Refused().empty()) << run->Refused().front();
  EXPECT_FALSE(client.Exists("buybooks/bookbarn.cen"));
  ASSERT_TRUE(client.Exists("buybooks/BookBarn.cen"));
  EXPECT_EQ(ReadDefinitionVersion(client.Data.Path() + "buybooks/BookBarn.cen"), 2);
  TEngineStorageItem* barn = client.Engine("buybooks", "bookbarn");
  ASSERT_NE(barn, nullptr);
  EXPECT_EQ(barn->Version, 2);
  EXPECT_EQ(barn->DisplayName, "Book Barn II");
  for (const auto& entry : std::filesystem::directory_iterator(client.Data.Path() + "buybooks"))
    EXPECT_FALSE(entry.path().filename().string().ends_with("-update")) << entry.path();
}

TEST_F(UpdateSiteIntegration, AnAddedCategoryArrivesWithItsEngines) {
  TSiteProcess site(Site.Path());
  TUpdateClient client;
  ASSERT_EQ(client.Update(site.Url())->ErrorText(), "");

  ASSERT_TRUE(Site.WriteCompiledEngine("buymusic.cca", CategoryBody("Music"), 1));
  ASSERT_TRUE(Site.WriteCompiledEngine("buymusic/tunetown.cen", EngineBody("Tune Town"), 1));
  // An engine name another category uses for a different engine: each category gets its own.
  ASSERT_TRUE(Site.WriteCompiledEngine("buymusic/bookbarn.cen", EngineBody("Book Barn Music"), 1));
  auto run = client.Update(site.Url());
  EXPECT_EQ(run->ErrorText(), "");
  EXPECT_TRUE(run->Refused().empty()) << run->Refused().front();
  ASSERT_NE(client.Category("buymusic"), nullptr);
  ASSERT_NE(client.Engine("buymusic", "tunetown"), nullptr);
  ASSERT_NE(client.Engine("buymusic", "bookbarn"), nullptr);
  EXPECT_EQ(client.Engine("buymusic", "bookbarn")->DisplayName, "Book Barn Music");
  EXPECT_EQ(client.Engine("buybooks", "bookbarn")->DisplayName, "Book Barn");
  EXPECT_TRUE(client.Exists("buymusic.cca"));
  EXPECT_TRUE(client.Exists("buymusic/tunetown.cen"));
}

TEST_F(UpdateSiteIntegration, ARemovalIsAppliedOnlyTogetherWithADownload) {
  TSiteProcess site(Site.Path());
  TUpdateClient client;
  ASSERT_EQ(client.Update(site.Url())->ErrorText(), "");

  Site.Remove("buybooks/linkmart.cen");
  auto only = client.Update(site.Url());
  EXPECT_EQ(only->Status(), "No changes detected.");
  EXPECT_NE(client.Engine("buybooks", "linkmart"), nullptr);
  EXPECT_TRUE(client.Exists("buybooks/linkmart.cen"));

  ASSERT_TRUE(Site.WriteCompiledSearchType("books.cst", kBooksType, 2));
  auto with = client.Update(site.Url());
  EXPECT_EQ(with->ErrorText(), "");
  EXPECT_EQ(with->Status(), "Update completed.");
  EXPECT_EQ(client.Engine("buybooks", "linkmart"), nullptr);
  EXPECT_FALSE(client.Exists("buybooks/linkmart.cen"));
  EXPECT_EQ(client.Repository().SearchTypes().FindByName("books")->Version, 2);
}

TEST_F(UpdateSiteIntegration, ASoftwareUpdateAndANewSiteAreRecorded) {
  Site.WriteText("site.vui",
                 "[SoftwareUpdates]\r\n0-999999=1|New build|Get it|http://127.0.0.1:9/new.bin||ignored\r\n");
  TSiteProcess site(Site.Path());
  TUpdateClient client;
  auto run = client.Update(site.Url());
  EXPECT_EQ(run->ErrorText(), "");
  ASSERT_TRUE(run->SoftwareUpdate().has_value());
  EXPECT_EQ(client.Settings.SoftwareAddress, "http://127.0.0.1:9/new.bin");
  ASSERT_EQ(run->SoftwareUpdate()->Addresses.size(), 1u);

  // A site that moves: the rest of this update and the next ones go to the new address.
  Site.WriteText("site.vui", "[VUI]\r\nUpdateSite=" + site.Url("/moved") + "\r\n");
  ASSERT_TRUE(Site.WriteCompiledSearchType("books.cst", kBooksType, 3));
  auto moved = client.Update(site.Url());
  EXPECT_EQ(moved->ErrorText(), "");
  EXPECT_EQ(client.Settings.Address, site.Url("/moved"));
  EXPECT_NE(site.Log().find("POST /moved 200"), std::string::npos) << site.Log();

  // Updates switched off on the site: nothing changes, and the site's address is not taken over.
  Site.WriteText("site.vui", "[VUI]\r\nUpdateDisabled=1\r\nUpdateSite=http://127.0.0.1:9/elsewhere\r\n");
  ASSERT_TRUE(Site.WriteCompiledSearchType("books.cst", kBooksType, 5));
  auto disabled = client.Update(site.Url());
  EXPECT_TRUE(disabled->Disabled());
  EXPECT_EQ(disabled->Status(), "No changes detected.");
  EXPECT_EQ(client.Settings.Address, site.Url());
  EXPECT_EQ(client.Repository().SearchTypes().FindByName("books")->Version, 3);
}

}  // namespace
}  // namespace vandrel::updatetest

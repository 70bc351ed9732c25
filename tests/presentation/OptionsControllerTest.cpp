#include "presentation/OptionsController.h"

#include <gtest/gtest.h>

#include "presentation/SettingsTestSupport.h"

namespace vandrel {
namespace {

TEST(DurationText, AtMostTwoPartsLargestFirst) {
  const struct {
    int seconds;
    const char* text;
  } cases[] = {
      {0, "0 sec"},
      {-5, "0 sec"},
      {1, "1 sec"},
      {3, "3 sec"},
      {60, "1 min"},
      {75, "1 min 15 sec"},
      {90, "1 min 30 sec"},
      {300, "5 min"},
      {3600, "1 hour"},
      {3661, "1 hour 1 min"},
      {7322, "2 hours 2 min"},
      {86400, "1 day"},
      {90061, "1 day, 1 hour"},
      {86401, "1 day, 1 sec"},
      {172800, "2 days"},
      {176461, "2 days, 1 hour"},
  };
  for (const auto& c : cases) EXPECT_EQ(DurationText(c.seconds), c.text) << c.seconds;
}

class OptionsControllerTest : public test::SettingsTest {
 protected:
  TOptionsController Make() {
    TOptionsHooks hooks;
    hooks.ApplyHints = [this](bool show) { Hints.push_back(show); };
    hooks.RewriteIntegration = [this] {
      // The integration is rebuilt from what is stored, so the add-on boxes must be stored by now.
      RewrittenWithBrowser = Config.Preferences().UseExplorerBrowser();
      ++Rewrites;
    };
    hooks.SetForcedBrowser = [this](bool force, const std::string& program) {
      Forced = force;
      ForcedProgram = program;
    };
    hooks.InstalledNavigatorPath = [this] { return Installed; };
    hooks.ReloadPriceResults = [this] { ++Reloads; };
    hooks.Changed = [this] { ++Changes; };
    return TOptionsController(Settings, Converter, Prompts, std::move(hooks));
  }

  std::vector<bool> Hints;
  int Rewrites = 0, Reloads = 0, Changes = 0;
  bool RewrittenWithBrowser = true;
  bool Forced = false;
  std::string ForcedProgram, Installed;
};

// Every page's controls reach the store only on OK; a window closed with Cancel stores nothing.
TEST_F(OptionsControllerTest, EveryPageIsStoredOnlyOnOk) {
  auto edit = [](TOptionsController& c) {
    c.Values.ShowHints = false;  // General
    c.Values.UseGraphScores = false;
    c.Values.SingleClickOpen = true;
    c.Values.PromptStopMsg = false;  // Prompts
    c.Values.PromptDeleteSearchResultMsg = false;
    c.Values.PromptEngineErrorMsg = false;
    c.Values.PromptAndOrInformationMsg = false;
    c.SetTimeout(90);  // Connection
    c.SetMaxTransfers(12);
    c.Values.UseExplorerBrowser = false;  // Browser
    c.AddOnClicked();
    c.ProgramPathChosen("/usr/bin/firefox");
    c.Values.ForceNavigatorUse = true;
    c.Currency.Select("EUR");  // Currency
    c.Values.ShowConvertedCurrencies = true;
    c.SetDaysToKeepSearches(40);  // Advanced
  };
  {
    TOptionsController cancelled = Make();
    cancelled.Load();
    edit(cancelled);
  }
  EXPECT_TRUE(StoreUntouched());
  EXPECT_EQ(Rewrites + Reloads + Changes, 0);

  TOptionsController options = Make();
  options.Load();
  edit(options);
  EXPECT_EQ(options.TimeoutText(), "1 min 30 sec");
  EXPECT_TRUE(StoreUntouched());
  options.Accept();

  EXPECT_FALSE(Config.Views().ShowHints());
  EXPECT_FALSE(Config.Views().UseGraphScores());
  EXPECT_TRUE(Config.Preferences().SingleClickOpen());
  EXPECT_FALSE(Config.Prompts().PromptStopMsg());
  EXPECT_FALSE(Config.Prompts().PromptDeleteSearchResultMsg());
  EXPECT_FALSE(Config.Prompts().PromptEngineErrorMsg());
  EXPECT_FALSE(Config.Prompts().PromptAndOrInformationMsg());
  EXPECT_TRUE(Config.Prompts().PromptNoResultFoundMsg());  // no control for it
  EXPECT_EQ(Config.Preferences().Timeout(), 90);
  EXPECT_EQ(Config.Preferences().MaxTransfers(), 12);
  EXPECT_FALSE(Config.Preferences().UseExplorerBrowser());
  EXPECT_TRUE(Config.Preferences().ForceNavigatorUse());
  EXPECT_EQ(Config.Preferences().NavigatorExeName(), "/usr/bin/firefox");
  EXPECT_EQ(Config.GlobalSystem().CurrencyConvertCode(), "EUR");
  EXPECT_TRUE(Config.Preferences().ShowConvertedCurrencies());
  EXPECT_EQ(Config.Preferences().DaysToKeepSearches(), 40);

  EXPECT_EQ(Hints, std::vector<bool>{false});
  EXPECT_EQ(Rewrites, 1);
  EXPECT_FALSE(RewrittenWithBrowser);
  EXPECT_TRUE(Forced);
  EXPECT_EQ(ForcedProgram, "/usr/bin/firefox");
  EXPECT_EQ(Converter.TargetCode, "EUR");
  EXPECT_TRUE(Converter.ShowConverted);
  EXPECT_EQ(Reloads, 1);
  EXPECT_EQ(Changes, 1);
}

// OK without touching the add-on boxes or the currency page rewrites and reloads nothing; changing only
// the conversion box reloads the prices.
TEST_F(OptionsControllerTest, IntegrationAndPricesAreRedoneOnlyWhenTheirControlsChanged) {
  TOptionsController options = Make();
  options.Load();
  EXPECT_EQ(options.Currency.Code(), "USD");  // nothing stored yet
  options.Accept();
  EXPECT_EQ(Rewrites, 0);
  EXPECT_EQ(Reloads, 0);
  EXPECT_EQ(Config.GlobalSystem().CurrencyConvertCode(), "");  // still the "USD" default

  options.Load();
  options.Values.ShowConvertedCurrencies = true;
  options.Accept();
  EXPECT_EQ(Reloads, 1);
  EXPECT_TRUE(Converter.ShowConverted);
  EXPECT_EQ(Config.GlobalSystem().CurrencyConvertCode(), "USD");

  // A click on an add-on box counts even when it ends where it started.
  options.Load();
  options.Values.UseExplorerContextMenu = !options.Values.UseExplorerContextMenu;
  options.AddOnClicked();
  options.Values.UseExplorerContextMenu = !options.Values.UseExplorerContextMenu;
  options.AddOnClicked();
  options.Accept();
  EXPECT_EQ(Rewrites, 1);
  EXPECT_EQ(Reloads, 1);
}

TEST_F(OptionsControllerTest, StoredValuesOutOfRangeAreBroughtIntoTheControlsRange) {
  Config.Preferences().SetTimeout(1000);
  Config.Preferences().SetMaxTransfers(0);
  Config.Preferences().SetDaysToKeepSearches(500);
  TOptionsController options = Make();
  options.Load();
  EXPECT_EQ(options.Values.Timeout, 300);
  EXPECT_EQ(options.TimeoutText(), "5 min");
  EXPECT_EQ(options.Values.MaxTransfers, 1);
  EXPECT_EQ(options.Values.DaysToKeepSearches, 100);
  options.SetTimeout(2);
  EXPECT_EQ(options.Values.Timeout, 3);
  options.SetTimeout(151);  // steps of one second
  EXPECT_EQ(options.Values.Timeout, 151);
}

TEST_F(OptionsControllerTest, FixedBoxesTellTheFeatureIsMissingAndStayChecked) {
  TOptionsController options = Make();
  options.Load();
  EXPECT_TRUE(options.FixedBoxClicked());
  ASSERT_EQ(Prompts.Asked.size(), 1u);
  EXPECT_EQ(Prompts.Asked[0].Caption, "Feature not available");
  EXPECT_EQ(Prompts.Asked[0].Text, "This feature is not available in the beta version of Vandrel Shopper.");
  EXPECT_TRUE(StoreUntouched());
}

// The browser choice is offered only once there is a program to force.
TEST_F(OptionsControllerTest, BrowserChoiceNeedsAProgram) {
  TOptionsController options = Make();
  options.Load();
  EXPECT_FALSE(options.NavigatorEnabled());
  EXPECT_EQ(options.ProgramPathForBox(), "");
  options.ProgramPathChosen("");  // the file box was cancelled
  EXPECT_FALSE(options.NavigatorEnabled());
  Installed = "/opt/navigator/navigator";
  options.Load();
  EXPECT_TRUE(options.NavigatorEnabled());
  EXPECT_EQ(options.ProgramPathForBox(), Installed);
  options.ProgramPathChosen("/usr/bin/chromium");
  EXPECT_EQ(options.ProgramPathForBox(), "/usr/bin/chromium");
}

TEST_F(OptionsControllerTest, CurrencyPickerListsTheTableAndShowsTodaysRate) {
  TCurrencyPicker picker(Converter, "Today's rate: %s");
  ASSERT_EQ(picker.Items().size(), 3u);
  EXPECT_EQ(picker.Items()[0], "Canadian Dollar  (CAD)");
  EXPECT_EQ(picker.IndexOf(""), picker.IndexOf("usd"));
  EXPECT_EQ(picker.IndexOf("XYZ"), -1);
  picker.SelectIndex(picker.IndexOf("EUR"));
  EXPECT_EQ(picker.Code(), "EUR");
  EXPECT_EQ(picker.RateText(), "Today's rate: $1.00 (USD) = 0.50 E (EUR)");
  EXPECT_EQ(Converter.TargetCode, "USD");  // the rate leaves the converter as it was
  // A stored code the table does not know is kept rather than replaced by the first entry.
  picker.Select("xyz");
  EXPECT_EQ(picker.Code(), "XYZ");
  EXPECT_EQ(picker.RateText(), "");
}

}  // namespace
}  // namespace vandrel

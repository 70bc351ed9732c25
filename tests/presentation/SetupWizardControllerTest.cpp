#include "presentation/SetupWizardController.h"

#include <gtest/gtest.h>

#include "presentation/SettingsTestSupport.h"

namespace vandrel {
namespace {

using P = TSetupPage;

class SetupWizardTest : public test::SettingsTest {
 protected:
  std::unique_ptr<TSetupWizardController> Make(TProxyDetect detect = {}) {
    TSetupWizardHooks hooks;
    hooks.RunEngineUpdate = [this] {
      ++Updates;
      ConfiguredDuringUpdate = Config.GlobalSystem().AppConfigured();
      return !CancelUpdate;
    };
    hooks.RewriteIntegration = [this] { ++Rewrites; };
    hooks.ReloadPriceResults = [this] { ++Reloads; };
    hooks.AskLeave = [this] {
      ++LeaveAsked;
      return LeaveChoice;
    };
    hooks.Closed = [this](bool finished) { ClosedWith.push_back(finished); };
    return std::make_unique<TSetupWizardController>(Settings, Converter, Prompts, Scheduler,
                                                    std::move(detect), std::move(hooks));
  }

  int Updates = 0, Rewrites = 0, Reloads = 0, LeaveAsked = 0;
  bool ConfiguredDuringUpdate = false;
  bool CancelUpdate = false;
  TLeaveChoice LeaveChoice = TLeaveChoice::lcExit;
  std::vector<bool> ClosedWith;
};

// A browser (here: the environment) with an HTTP proxy switched on: the wizard opens with LAN and the
// proxy chosen, the update runs after everything was stored, and the end leaves the wizard configured.
TEST_F(SetupWizardTest, FullRunWithTheProxyProposedFromTheEnvironment) {
  test::TEnvironmentProxy env({{"http_proxy", "http://proxy.lan:3128"}});
  auto wizard = Make(env.Detect());
  wizard->Load();
  EXPECT_EQ(wizard->Page(), P::spConnection);
  EXPECT_EQ(wizard->Title(), "Connection");
  EXPECT_FALSE(wizard->BackEnabled());
  EXPECT_TRUE(wizard->Lan);
  EXPECT_TRUE(wizard->UseProxy);
  EXPECT_EQ(wizard->ProxyAddress, "proxy.lan");
  EXPECT_EQ(wizard->ProxyPort, 3128);

  wizard->Next();
  EXPECT_EQ(wizard->Page(), P::spNetwork);
  EXPECT_TRUE(wizard->ProxyFieldsVisible());
  wizard->Next();
  EXPECT_EQ(wizard->Page(), P::spInternetExplorer);
  wizard->UseQuickLaunch = false;
  wizard->Back();
  EXPECT_EQ(wizard->Page(), P::spNetwork);  // LAN users come back through the network page
  wizard->Next();
  wizard->Next();
  EXPECT_EQ(wizard->Page(), P::spRegional);
  EXPECT_TRUE(wizard->BackEnabled() && wizard->NextEnabled());
  wizard->Currency.Select("CAD");
  wizard->ShowConverted = true;
  EXPECT_EQ(wizard->Currency.RateText().rfind("Today's rate: ", 0), 0u);
  wizard->Next();
  EXPECT_EQ(wizard->Page(), P::spUpdates);
  EXPECT_TRUE(StoreUntouched());

  wizard->Next();  // "&Yes  (recommended)" is the default
  EXPECT_EQ(Updates, 1);
  EXPECT_TRUE(ConfiguredDuringUpdate);
  EXPECT_EQ(wizard->Page(), P::spUpdating);  // the short pause after a finished update
  EXPECT_FALSE(wizard->BackEnabled() || wizard->NextEnabled());
  Scheduler.Advance(249);
  EXPECT_EQ(wizard->Page(), P::spUpdating);
  Scheduler.Advance(1);
  EXPECT_EQ(wizard->Page(), P::spReady);
  EXPECT_FALSE(wizard->BackEnabled() || wizard->CancelEnabled());
  EXPECT_EQ(wizard->NextCaption(), "&Finish");

  wizard->Next();
  EXPECT_EQ(ClosedWith, std::vector<bool>{true});
  EXPECT_EQ(Rewrites, 1);  // stored once, before the update, not again at the end
  EXPECT_EQ(Reloads, 1);
  const TNetworkSection& net = Config.Network();
  EXPECT_TRUE(net.LANConnection());
  EXPECT_FALSE(net.ModemConnection());
  EXPECT_TRUE(net.UseProxyConnection());
  EXPECT_FALSE(net.UseDirectConnection());
  EXPECT_EQ(net.ProxyAddress(), "proxy.lan");
  EXPECT_EQ(net.ProxyPort(), 3128);
  EXPECT_FALSE(Config.Preferences().UseExplorerQuickLaunch());
  EXPECT_EQ(Config.GlobalSystem().CurrencyConvertCode(), "CAD");
  EXPECT_TRUE(Config.Preferences().ShowConvertedCurrencies());
  EXPECT_EQ(Converter.TargetCode, "CAD");
  EXPECT_TRUE(Config.GlobalSystem().AppConfigured());
}

// A proxy switched on but not complete selects the LAN and the proxy, once: going back to the first page
// keeps what the user chose since.
TEST_F(SetupWizardTest, AnIncompleteProxyIsProposedOnlyOnce) {
  int lookups = 0;
  auto wizard = Make([&](int, std::string&, int&, bool& enabled) {
    ++lookups;
    enabled = true;
    return false;
  });
  wizard->Load();
  EXPECT_TRUE(wizard->Lan && wizard->UseProxy);
  EXPECT_EQ(wizard->ProxyAddress, "");
  EXPECT_EQ(lookups, 2);  // HTTP, then SOCKS
  wizard->Next();
  wizard->UseProxy = false;
  wizard->Back();
  EXPECT_EQ(wizard->Page(), P::spConnection);
  EXPECT_FALSE(wizard->UseProxy);
  EXPECT_EQ(lookups, 2);
}

// Leaving before the settings were stored stores nothing, so the wizard comes back; Continue stays.
TEST_F(SetupWizardTest, LeavingEarlyStoresNothing) {
  auto wizard = Make();
  wizard->Load();
  wizard->Next();  // modem
  EXPECT_EQ(wizard->Page(), P::spInternetExplorer);
  wizard->Next();
  EXPECT_EQ(wizard->Page(), P::spRegional);
  wizard->Currency.Select("EUR");
  LeaveChoice = TLeaveChoice::lcContinue;
  wizard->Cancel();
  EXPECT_FALSE(wizard->Closed());
  EXPECT_EQ(wizard->Page(), P::spRegional);
  LeaveChoice = TLeaveChoice::lcExit;
  wizard->Cancel();
  EXPECT_EQ(LeaveAsked, 2);
  EXPECT_EQ(ClosedWith, std::vector<bool>{false});
  EXPECT_TRUE(StoreUntouched());
  EXPECT_EQ(Rewrites + Reloads + Updates, 0);
  EXPECT_EQ(Converter.TargetCode, "USD");
  wizard->Next();  // a closed wizard ignores its buttons
  EXPECT_TRUE(StoreUntouched());
}

// Without the browser component modem users skip the add-on page both ways; No skips the update, and the
// settings are stored only at the end.
TEST_F(SetupWizardTest, NoBrowserComponentAndNoUpdate) {
  Settings.Version = -1;
  auto wizard = Make();
  wizard->Load();
  EXPECT_FALSE(wizard->Lan);
  wizard->Next();
  EXPECT_EQ(wizard->Page(), P::spRegional);
  wizard->Back();
  EXPECT_EQ(wizard->Page(), P::spConnection);
  wizard->Lan = true;
  wizard->Next();
  wizard->Next();
  EXPECT_EQ(wizard->Page(), P::spRegional);
  wizard->Back();
  EXPECT_EQ(wizard->Page(), P::spNetwork);
  wizard->Next();
  wizard->Next();
  wizard->UpdateNow = false;
  wizard->Next();
  EXPECT_EQ(wizard->Page(), P::spReady);
  EXPECT_EQ(Updates, 0);
  EXPECT_FALSE(Config.GlobalSystem().AppConfigured());
  wizard->Next();
  EXPECT_TRUE(Config.GlobalSystem().AppConfigured());
  EXPECT_TRUE(Config.Network().UseDirectConnection());
  EXPECT_EQ(Reloads, 0);  // the currency stayed the dollar shown as found
}

// A proxy without an address keeps the wizard on its page; one typed and then abandoned for the direct
// connection is still stored as that type's address.
TEST_F(SetupWizardTest, ProxyAddressRules) {
  auto wizard = Make();
  wizard->Load();
  wizard->Lan = true;
  wizard->Next();
  wizard->UseProxy = true;
  wizard->Next();
  EXPECT_EQ(wizard->Page(), P::spNetwork);
  EXPECT_TRUE(wizard->AddressNeedsFocus());
  ASSERT_EQ(Prompts.Asked.size(), 1u);
  EXPECT_EQ(Prompts.Asked[0].Text, "Please enter valid proxy settings.");
  wizard->ProxyType = ptSocks;
  wizard->ProxyAddress = "s.lan";
  wizard->SetProxyPort(1085);
  wizard->UseProxy = false;
  EXPECT_FALSE(wizard->ProxyFieldsVisible());
  wizard->Next();
  wizard->Next();
  wizard->Next();
  CancelUpdate = true;
  wizard->Next();
  EXPECT_EQ(wizard->Page(), P::spReady);  // a canceled update goes on at once
  EXPECT_EQ(Scheduler.Pending(), 0u);
  EXPECT_FALSE(Config.Network().UseProxyConnection());
  EXPECT_EQ(Config.Network().ProxyType(), 1);
  EXPECT_EQ(Config.Network().SocksAddress(), "s.lan");
  EXPECT_EQ(Config.Network().SocksPort(), 1085);
  EXPECT_TRUE(Config.GlobalSystem().AppConfigured());
}

// Closing the last page with the title bar's button keeps what the user chose: the settings are stored
// as by "&Finish" instead of being lost.
TEST_F(SetupWizardTest, ClosingTheLastPageStoresTheSettings) {
  auto wizard = Make();
  wizard->Load();
  wizard->Next();
  wizard->Next();
  wizard->Next();
  wizard->UpdateNow = false;
  wizard->Next();
  ASSERT_EQ(wizard->Page(), P::spReady);
  wizard->Cancel();
  EXPECT_EQ(LeaveAsked, 0);
  EXPECT_EQ(ClosedWith, std::vector<bool>{true});
  EXPECT_TRUE(Config.GlobalSystem().AppConfigured());
  EXPECT_TRUE(Config.Network().ModemConnection());
}

}  // namespace
}  // namespace vandrel

#include "presentation/LanSettingsController.h"

#include <gtest/gtest.h>

#include "presentation/SettingsTestSupport.h"

namespace vandrel {
namespace {

class LanSettingsTest : public test::SettingsTest {};

// With no proxy ever entered, the dialog proposes the environment's; only OK stores it.
TEST_F(LanSettingsTest, ProposesTheEnvironmentsProxyAndStoresItOnlyOnOk) {
  test::TEnvironmentProxy env({{"all_proxy", "socks5://s.lan:1081"}});
  TLanSettingsController lan(Settings, Prompts, env.Detect());
  lan.Load();
  EXPECT_TRUE(lan.Proposed());
  EXPECT_TRUE(lan.UseProxy);
  EXPECT_EQ(lan.Type, ptSocks);
  EXPECT_EQ(lan.Address, "s.lan");
  EXPECT_EQ(lan.Port, 1081);
  EXPECT_FALSE(lan.AuthorizationEnabled());  // SOCKS has none
  EXPECT_TRUE(StoreUntouched());

  test::TEnvironmentProxy http({{"http_proxy", "http://proxy.lan:3128/"}});
  TLanSettingsController second(Settings, Prompts, http.Detect());
  second.Load();
  EXPECT_EQ(second.Type, ptHttp);
  EXPECT_EQ(second.Address, "proxy.lan");
  EXPECT_EQ(second.Port, 3128);
  ASSERT_TRUE(second.Accept());
  EXPECT_TRUE(Config.Network().UseProxyConnection());
  EXPECT_EQ(Config.Network().ProxyType(), 0);
  EXPECT_EQ(Config.Network().ProxyAddress(), "proxy.lan");
  EXPECT_EQ(Config.Network().ProxyPort(), 3128);

  // Once something is stored, the store wins over the environment.
  TLanSettingsController third(Settings, Prompts, env.Detect());
  third.Load();
  EXPECT_FALSE(third.Proposed());
  EXPECT_EQ(third.Address, "proxy.lan");
}

TEST_F(LanSettingsTest, TypeSwitchShowsThatTypesFieldsAndOkStoresOnlyThem) {
  Config.Network().SetProxyType(0);
  Config.Network().SetProxyAddress("web.lan");
  Config.Network().SetProxyPort(3128);
  Config.Network().SetUseProxyAuthenticate(true);
  Config.Network().SetProxyUserName("ann");
  Config.Network().SetProxyPassword("secret");
  Config.Network().SetSocksAddress("s.lan");
  TLanSettingsController lan(Settings, Prompts);
  lan.Load();
  EXPECT_FALSE(lan.UseProxy);
  EXPECT_FALSE(lan.TypeEnabled());
  EXPECT_FALSE(lan.AuthorizationEnabled());
  EXPECT_FALSE(lan.CredentialsEnabled());
  EXPECT_EQ(lan.UserName, "ann");
  lan.UseProxy = true;
  EXPECT_TRUE(lan.CredentialsEnabled());

  lan.SetType(ptSocks);
  EXPECT_EQ(lan.Address, "s.lan");
  EXPECT_EQ(lan.Port, 1080);
  EXPECT_FALSE(lan.UseAuthorization);
  EXPECT_EQ(lan.Password, "");
  EXPECT_FALSE(lan.AuthorizationEnabled());
  lan.Address = "  socks.lan ";
  lan.SetPort(70000);
  EXPECT_EQ(lan.Port, 65535);
  ASSERT_TRUE(lan.Accept());
  EXPECT_EQ(Config.Network().ProxyType(), 1);
  EXPECT_EQ(Config.Network().SocksAddress(), "socks.lan");
  EXPECT_EQ(Config.Network().SocksPort(), 65535);
  // The HTTP proxy's fields, credentials included, are not touched by a SOCKS choice.
  EXPECT_EQ(Config.Network().ProxyAddress(), "web.lan");
  EXPECT_TRUE(Config.Network().UseProxyAuthenticate());
  EXPECT_EQ(Config.Network().ProxyPassword(), "secret");

  lan.SetType(ptHttp);
  EXPECT_EQ(lan.Address, "web.lan");
  EXPECT_EQ(lan.Password, "secret");
}

TEST_F(LanSettingsTest, AProxyWithoutAnAddressIsRefusedAndNothingStored) {
  TLanSettingsController lan(Settings, Prompts);
  lan.Load();
  lan.UseProxy = true;
  lan.Address = "   ";
  EXPECT_FALSE(lan.Accept());
  ASSERT_EQ(Prompts.Asked.size(), 1u);
  EXPECT_EQ(Prompts.Asked[0].Text, "Please enter a valid proxy settings.");
  EXPECT_TRUE(StoreUntouched());
  lan.UseProxy = false;  // without a proxy an empty address is fine
  EXPECT_TRUE(lan.Accept());
  EXPECT_FALSE(Config.Network().UseProxyConnection());
}

}  // namespace
}  // namespace vandrel

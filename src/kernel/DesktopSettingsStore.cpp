#include "kernel/DesktopSettingsStore.h"

namespace vandrel {

TOptionsSettings TDesktopSettingsStore::ReadOptions() const {
  const TViewsSection& views = config_.Views();
  const TPreferencesSection& prefs = config_.Preferences();
  const TPromptSection& prompts = config_.Prompts();
  TOptionsSettings s;
  s.ShowHints = views.ShowHints();
  s.UseGraphScores = views.UseGraphScores();
  s.SingleClickOpen = prefs.SingleClickOpen();
  s.PromptStopMsg = prompts.PromptStopMsg();
  s.PromptDeleteSearchResultMsg = prompts.PromptDeleteSearchResultMsg();
  s.PromptEngineErrorMsg = prompts.PromptEngineErrorMsg();
  s.PromptAndOrInformationMsg = prompts.PromptAndOrInformationMsg();
  s.Timeout = prefs.Timeout();
  s.MaxTransfers = prefs.MaxTransfers();
  s.DaysToKeepSearches = prefs.DaysToKeepSearches();
  s.UseExplorerQuickLaunch = prefs.UseExplorerQuickLaunch();
  s.UseExplorerContextMenu = prefs.UseExplorerContextMenu();
  s.UseExplorerBrowser = prefs.UseExplorerBrowser();
  s.ForceNavigatorUse = prefs.ForceNavigatorUse();
  s.NavigatorExeName = prefs.NavigatorExeName();
  s.CurrencyConvertCode = config_.GlobalSystem().CurrencyConvertCode();
  s.ShowConvertedCurrencies = prefs.ShowConvertedCurrencies();
  return s;
}

void TDesktopSettingsStore::WriteOptions(const TOptionsSettings& s) {
  TViewsSection& views = config_.Views();
  TPreferencesSection& prefs = config_.Preferences();
  TPromptSection& prompts = config_.Prompts();
  views.SetShowHints(s.ShowHints);
  views.SetUseGraphScores(s.UseGraphScores);
  prefs.SetSingleClickOpen(s.SingleClickOpen);
  prompts.SetPromptStopMsg(s.PromptStopMsg);
  prompts.SetPromptDeleteSearchResultMsg(s.PromptDeleteSearchResultMsg);
  prompts.SetPromptEngineErrorMsg(s.PromptEngineErrorMsg);
  prompts.SetPromptAndOrInformationMsg(s.PromptAndOrInformationMsg);
  prefs.SetDaysToKeepSearches(s.DaysToKeepSearches);
  prefs.SetMaxTransfers(s.MaxTransfers);
  prefs.SetTimeout(s.Timeout);
  prefs.SetUseExplorerQuickLaunch(s.UseExplorerQuickLaunch);
  prefs.SetUseExplorerContextMenu(s.UseExplorerContextMenu);
  prefs.SetUseExplorerBrowser(s.UseExplorerBrowser);
  prefs.SetForceNavigatorUse(s.ForceNavigatorUse);
  prefs.SetNavigatorExeName(s.NavigatorExeName);
  config_.GlobalSystem().SetCurrencyConvertCode(s.CurrencyConvertCode);
  prefs.SetShowConvertedCurrencies(s.ShowConvertedCurrencies);
}

TNetworkSettings TDesktopSettingsStore::ReadNetwork() const {
  const TNetworkSection& net = config_.Network();
  TNetworkSettings s;
  s.LANConnection = net.LANConnection();
  s.ModemConnection = net.ModemConnection();
  s.UseDirectConnection = net.UseDirectConnection();
  s.UseProxyConnection = net.UseProxyConnection();
  s.ProxyType = net.ProxyType() == 1 ? ptSocks : ptHttp;
  s.ProxyAddress = net.ProxyAddress();
  s.ProxyPort = net.ProxyPort();
  s.SocksAddress = net.SocksAddress();
  s.SocksPort = net.SocksPort();
  s.UseProxyAuthenticate = net.UseProxyAuthenticate();
  s.ProxyUserName = net.ProxyUserName();
  s.ProxyPassword = net.ProxyPassword();
  return s;
}

void TDesktopSettingsStore::WriteNetwork(const TNetworkSettings& s) {
  TNetworkSection& net = config_.Network();
  net.SetLANConnection(s.LANConnection);
  net.SetModemConnection(s.ModemConnection);
  net.SetUseDirectConnection(s.UseDirectConnection);
  net.SetUseProxyConnection(s.UseProxyConnection);
  net.SetProxyType(static_cast<int32_t>(s.ProxyType));
  net.SetProxyAddress(s.ProxyAddress);
  net.SetProxyPort(s.ProxyPort);
  net.SetSocksAddress(s.SocksAddress);
  net.SetSocksPort(s.SocksPort);
  net.SetUseProxyAuthenticate(s.UseProxyAuthenticate);
  net.SetProxyUserName(s.ProxyUserName);
  net.SetProxyPassword(s.ProxyPassword);
}

}  // namespace vandrel

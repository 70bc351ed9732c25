#include "kernel/AppUpdaterSettings.h"

#include "kernel/AppConfig.h"

namespace vandrel {

void ConfigureDownloaderFromConfig(const TAppConfig& config, THttpDownloaderSettings& s) {
  const TNetworkSection& network = config.Network();
  s.MaxDownloadThreads = config.Preferences().MaxTransfers();
  s.Timeout = config.Preferences().Timeout();
  s.UseProxy = network.UseProxyConnection();
  s.ProxyType = network.ProxyType() == 1 ? ptSocks : ptHttp;
  if (s.ProxyType == ptSocks) {
    s.ProxyAddress = network.SocksAddress();
    s.ProxyPort = network.SocksPort();
    s.ProxyUserName.clear();
    s.ProxyPassword.clear();
    s.UseProxyAuthenticate = false;
  } else {
    s.ProxyAddress = network.ProxyAddress();
    s.ProxyPort = network.ProxyPort();
    s.ProxyUserName = network.ProxyUserName();
    s.ProxyPassword = network.ProxyPassword();
    s.UseProxyAuthenticate = network.UseProxyAuthenticate();
  }
}

std::string TAppConfigUpdaterSettings::UpdateAddress() const {
  return Site_.empty() ? Config_.GlobalSystem().UpdateAddress() : Site_;
}

void TAppConfigUpdaterSettings::SetUpdateAddress(const std::string& address) {
  Config_.GlobalSystem().SetUpdateAddress(address);
}

TDateTime TAppConfigUpdaterSettings::LastChannelUpdate() const {
  return Config_.GlobalSystem().LastChannelUpdate();
}

void TAppConfigUpdaterSettings::SetLastChannelUpdate(TDateTime when) {
  Config_.GlobalSystem().SetLastChannelUpdate(when);
}

void TAppConfigUpdaterSettings::SetSoftwareUpdateAddress(const std::string& address) {
  Config_.GlobalSystem().SetSoftwareUpdateAddress(address);
}

}  // namespace vandrel

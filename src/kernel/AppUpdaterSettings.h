// The configuration as the updater and the advertisement strip read it: update addresses, the channel
// date, and the transfer and proxy values for their downloaders.
#pragma once

#include <string>

#include "update/AppUpdater.h"

namespace vandrel {

class TAppConfig;

// Maximum transfers, time-out and proxy (SOCKS: its address and port, never authentication).
void ConfigureDownloaderFromConfig(const TAppConfig& config, THttpDownloaderSettings& settings);

// `site`, when not empty, stands in for the stored update address during this run (the command line's
// --site); what the site says is still stored.
class TAppConfigUpdaterSettings : public IUpdaterSettings {
 public:
  explicit TAppConfigUpdaterSettings(TAppConfig& config, std::string site = {})
      : Config_(config), Site_(std::move(site)) {}
  std::string UpdateAddress() const override;
  void SetUpdateAddress(const std::string& address) override;
  TDateTime LastChannelUpdate() const override;
  void SetLastChannelUpdate(TDateTime when) override;
  void SetSoftwareUpdateAddress(const std::string& address) override;
  void ConfigureDownloader(THttpDownloaderSettings& settings) const override {
    ConfigureDownloaderFromConfig(Config_, settings);
  }

 private:
  TAppConfig& Config_;
  std::string Site_;
};

}  // namespace vandrel

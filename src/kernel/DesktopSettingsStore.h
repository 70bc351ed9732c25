// The desktop windows' settings port over the program's configuration.
#pragma once

#include "kernel/AppConfig.h"
#include "presentation/DesktopSettings.h"

namespace vandrel {

// Reads and writes straight through `config`, which must outlive it. Main thread only.
class TDesktopSettingsStore : public IDesktopSettings {
 public:
  explicit TDesktopSettingsStore(TAppConfig& config) : config_(config) {}

  TOptionsSettings ReadOptions() const override;
  void WriteOptions(const TOptionsSettings& settings) override;
  TNetworkSettings ReadNetwork() const override;
  void WriteNetwork(const TNetworkSettings& settings) override;
  bool AppConfigured() const override { return config_.GlobalSystem().AppConfigured(); }
  void SetAppConfigured(bool configured) override { config_.GlobalSystem().SetAppConfigured(configured); }
  int BrowserComponentVersion() const override { return config_.IEVersion(); }

 private:
  TAppConfig& config_;
};

}  // namespace vandrel

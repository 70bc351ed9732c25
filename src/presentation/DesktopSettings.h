// The stored settings the options window, the LAN settings dialog and the setup wizard edit, as plain
// values, and the port through which they are read and written. The kernel fills the port from the
// configuration; controllers read a copy, edit it and write it back only when the user confirms.
#pragma once

#include <cstdint>
#include <string>

#include "http/HttpDownloader.h"  // TProxyType: stored by value as the proxy type

namespace vandrel {

// Limits of the editable settings.
inline constexpr int kMinTimeout = 3;  // seconds
inline constexpr int kMaxTimeout = 300;
inline constexpr int kMinTransfers = 1;
inline constexpr int kMaxTransfers = 32;
inline constexpr int kMinDaysToKeep = 1;
inline constexpr int kMaxDaysToKeep = 100;
inline constexpr int kMaxPort = 65535;

struct TNetworkSettings {
  bool LANConnection = false;
  bool ModemConnection = false;
  bool UseDirectConnection = false;
  bool UseProxyConnection = false;
  TProxyType ProxyType = ptHttp;
  std::string ProxyAddress;  // the HTTP proxy
  int32_t ProxyPort = 8080;
  std::string SocksAddress;
  int32_t SocksPort = 1080;
  bool UseProxyAuthenticate = false;  // HTTP proxies only
  std::string ProxyUserName;
  std::string ProxyPassword;

  bool operator==(const TNetworkSettings&) const = default;
};

struct TOptionsSettings {
  // Display
  bool ShowHints = true;
  bool UseGraphScores = true;
  bool SingleClickOpen = false;
  // Questions
  bool PromptStopMsg = true;
  bool PromptDeleteSearchResultMsg = true;
  bool PromptEngineErrorMsg = true;
  bool PromptAndOrInformationMsg = true;
  // Transfers
  int32_t Timeout = 60;  // seconds
  int32_t MaxTransfers = 8;
  int32_t DaysToKeepSearches = 15;
  // Browser add-ons and the browser to use
  bool UseExplorerQuickLaunch = true;
  bool UseExplorerContextMenu = true;
  bool UseExplorerBrowser = true;
  bool ForceNavigatorUse = false;
  std::string NavigatorExeName;
  // Currency
  std::string CurrencyConvertCode;  // empty means "USD"
  bool ShowConvertedCurrencies = false;

  bool operator==(const TOptionsSettings&) const = default;
};

// Every read goes to the store (no copy is cached there), so a controller that reads at its start sees
// what another window stored before. Main thread only.
class IDesktopSettings {
 public:
  virtual ~IDesktopSettings() = default;
  virtual TOptionsSettings ReadOptions() const = 0;
  virtual void WriteOptions(const TOptionsSettings& settings) = 0;
  virtual TNetworkSettings ReadNetwork() const = 0;
  virtual void WriteNetwork(const TNetworkSettings& settings) = 0;
  virtual bool AppConfigured() const = 0;
  virtual void SetAppConfigured(bool configured) = 0;
  // The embedded browser's version class: -1 when it is missing.
  virtual int BrowserComponentVersion() const = 0;
};

}  // namespace vandrel

// The program's configuration: its six sections of settings, the computed user name and browser version.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "kernel/ApplicationCfg.h"

namespace vandrel {

inline constexpr std::string_view kDefaultConfigRootPath = "\\Software\\VandrelSoft\\Vandrel Shopper\\";

// The accessors name the settings; the indexes inside them are the settings' declared indexes.

class TGlobalSystemSection : public TConfigSection {  // machine-wide
 public:
  explicit TGlobalSystemSection(TApplicationConfig& owner);
  std::string RootFolder() const { return GetString(0); }
  void SetRootFolder(std::string_view v) { SetString(0, v); }
  std::string UpdateAddress() const { return GetString(1); }
  void SetUpdateAddress(std::string_view v) { SetString(1, v); }
  std::string CurrencyConvertCode() const { return GetString(2); }  // readers take "USD" when empty
  void SetCurrencyConvertCode(std::string_view v) { SetString(2, v); }
  TDateTime LastChannelUpdate() const { return GetDateTime(3); }
  void SetLastChannelUpdate(TDateTime v) { SetDateTime(3, v); }
  bool AppConfigured() const { return GetBoolean(4); }
  void SetAppConfigured(bool v) { SetBoolean(4, v); }
  TDateTime LastCompactDatabase() const { return GetDateTime(5); }
  void SetLastCompactDatabase(TDateTime v) { SetDateTime(5, v); }
  int32_t CompactDatabaseDelay() const { return GetInteger(6); }  // days
  void SetCompactDatabaseDelay(int32_t v) { SetInteger(6, v); }
  std::string VersionID() const { return GetString(7); }
  void SetVersionID(std::string_view v) { SetString(7, v); }
  std::string SoftwareUpdateAddress() const { return GetString(8); }
  void SetSoftwareUpdateAddress(std::string_view v) { SetString(8, v); }
  std::string SoftwareUpdateProgram() const { return GetString(9); }
  void SetSoftwareUpdateProgram(std::string_view v) { SetString(9, v); }
  bool InstallMode() const { return GetBoolean(10); }
  void SetInstallMode(bool v) { SetBoolean(10, v); }
};

class TViewsSection : public TConfigSection {
 public:
  // A result pane size of this value was never set by the user.
  static constexpr int32_t kUnsizedPane = 2147483647;

  explicit TViewsSection(TApplicationConfig& owner);
  std::string FilterFrmPos() const { return GetString(0); }
  void SetFilterFrmPos(std::string_view v) { SetString(0, v); }
  std::string WindowPos() const { return GetString(1); }
  void SetWindowPos(std::string_view v) { SetString(1, v); }
  bool ShowToolbar() const { return GetBoolean(2); }
  void SetShowToolbar(bool v) { SetBoolean(2, v); }
  bool ShowStatus() const { return GetBoolean(3); }
  void SetShowStatus(bool v) { SetBoolean(3, v); }
  bool ShowTextLabels() const { return GetBoolean(4); }
  void SetShowTextLabels(bool v) { SetBoolean(4, v); }
  int32_t ReviewsResultSize() const { return GetInteger(5); }
  void SetReviewsResultSize(int32_t v) { SetInteger(5, v); }
  int32_t CompareResultSize() const { return GetInteger(6); }
  void SetCompareResultSize(int32_t v) { SetInteger(6, v); }
  int32_t DefaultBrowserLayout() const { return GetInteger(7); }
  void SetDefaultBrowserLayout(int32_t v) { SetInteger(7, v); }
  bool ShowHints() const { return GetBoolean(8); }
  void SetShowHints(bool v) { SetBoolean(8, v); }
  bool UseGraphScores() const { return GetBoolean(9); }
  void SetUseGraphScores(bool v) { SetBoolean(9, v); }
};

class TNetworkSection : public TConfigSection {  // machine-wide
 public:
  explicit TNetworkSection(TApplicationConfig& owner);
  bool LANConnection() const { return GetBoolean(0); }
  void SetLANConnection(bool v) { SetBoolean(0, v); }
  bool ModemConnection() const { return GetBoolean(1); }
  void SetModemConnection(bool v) { SetBoolean(1, v); }
  bool UseDirectConnection() const { return GetBoolean(2); }
  void SetUseDirectConnection(bool v) { SetBoolean(2, v); }
  bool UseProxyConnection() const { return GetBoolean(3); }
  void SetUseProxyConnection(bool v) { SetBoolean(3, v); }
  int32_t ProxyType() const { return GetInteger(4); }  // 0 HTTP, 1 SOCKS
  void SetProxyType(int32_t v) { SetInteger(4, v); }
  std::string ProxyAddress() const { return GetString(5); }
  void SetProxyAddress(std::string_view v) { SetString(5, v); }
  int32_t ProxyPort() const { return GetInteger(6); }
  void SetProxyPort(int32_t v) { SetInteger(6, v); }
  std::string SocksAddress() const { return GetString(7); }
  void SetSocksAddress(std::string_view v) { SetString(7, v); }
  int32_t SocksPort() const { return GetInteger(8); }
  void SetSocksPort(int32_t v) { SetInteger(8, v); }
  bool UseProxyAuthenticate() const { return GetBoolean(9); }
  void SetUseProxyAuthenticate(bool v) { SetBoolean(9, v); }
  std::string ProxyUserName() const { return GetSecret(10); }
  void SetProxyUserName(std::string_view v) { SetSecret(10, v); }
  std::string ProxyPassword() const { return GetSecret(11); }
  void SetProxyPassword(std::string_view v) { SetSecret(11, v); }
  bool UseDetectConnection() const { return GetBoolean(12); }
  void SetUseDetectConnection(bool v) { SetBoolean(12, v); }
};

class TPreferencesSection : public TConfigSection {
 public:
  explicit TPreferencesSection(TApplicationConfig& owner);
  int32_t MaxTransfers() const { return GetInteger(0); }  // 1..32
  void SetMaxTransfers(int32_t v) { SetInteger(0, v); }
  int32_t Timeout() const { return GetInteger(1); }  // seconds, 3..300
  void SetTimeout(int32_t v) { SetInteger(1, v); }
  int32_t EngineTimeLimit() const { return GetInteger(2); }  // milliseconds
  void SetEngineTimeLimit(int32_t v) { SetInteger(2, v); }
  bool AdvancedUser() const { return GetBoolean(3); }
  void SetAdvancedUser(bool v) { SetBoolean(3, v); }
  bool UseExplorerQuickLaunch() const { return GetBoolean(4); }
  void SetUseExplorerQuickLaunch(bool v) { SetBoolean(4, v); }
  bool UseExplorerContextMenu() const { return GetBoolean(5); }
  void SetUseExplorerContextMenu(bool v) { SetBoolean(5, v); }
  bool UseExplorerBrowser() const { return GetBoolean(6); }
  void SetUseExplorerBrowser(bool v) { SetBoolean(6, v); }
  bool ForceNavigatorUse() const { return GetBoolean(7); }
  void SetForceNavigatorUse(bool v) { SetBoolean(7, v); }
  std::string NavigatorExeName() const { return GetString(8); }
  void SetNavigatorExeName(std::string_view v) { SetString(8, v); }
  bool ShowConvertedCurrencies() const { return GetBoolean(9); }
  void SetShowConvertedCurrencies(bool v) { SetBoolean(9, v); }
  bool SingleClickOpen() const { return GetBoolean(10); }
  void SetSingleClickOpen(bool v) { SetBoolean(10, v); }
  int32_t ResultsPerEngineCompare() const { return GetInteger(11); }
  void SetResultsPerEngineCompare(int32_t v) { SetInteger(11, v); }
  int32_t ResultsPerEngineReviews() const { return GetInteger(12); }
  void SetResultsPerEngineReviews(int32_t v) { SetInteger(12, v); }
  int32_t DaysToKeepSearches() const { return GetInteger(13); }
  void SetDaysToKeepSearches(int32_t v) { SetInteger(13, v); }
  bool SkipWelcomeDialog() const { return GetBoolean(14); }
  void SetSkipWelcomeDialog(bool v) { SetBoolean(14, v); }
  int32_t ScrollingTickerTopicIndex() const { return GetInteger(18); }
  void SetScrollingTickerTopicIndex(int32_t v) { SetInteger(18, v); }
};

class TSystemSection : public TConfigSection {
 public:
  explicit TSystemSection(TApplicationConfig& owner);
  std::string GUID() const { return GetString(2); }
  void SetGUID(std::string_view v) { SetString(2, v); }
};

// A false flag suppresses its question and takes the question's default answer.
class TPromptSection : public TConfigSection {
 public:
  explicit TPromptSection(TApplicationConfig& owner);
  bool PromptDeleteSearchResultMsg() const { return GetBoolean(0); }
  void SetPromptDeleteSearchResultMsg(bool v) { SetBoolean(0, v); }
  bool PromptStopMsg() const { return GetBoolean(1); }
  void SetPromptStopMsg(bool v) { SetBoolean(1, v); }
  bool PromptEngineErrorMsg() const { return GetBoolean(2); }
  void SetPromptEngineErrorMsg(bool v) { SetBoolean(2, v); }
  bool PromptAndOrInformationMsg() const { return GetBoolean(3); }
  void SetPromptAndOrInformationMsg(bool v) { SetBoolean(3, v); }
  bool PromptNoResultFoundMsg() const { return GetBoolean(4); }
  void SetPromptNoResultFoundMsg(bool v) { SetBoolean(4, v); }
};

class TAppConfig : public TApplicationConfig {
 public:
  explicit TAppConfig(std::shared_ptr<IRegistryStore> store,
                      std::string rootPath = std::string(kDefaultConfigRootPath));

  TGlobalSystemSection& GlobalSystem() const { return *globalSystem_; }
  TViewsSection& Views() const { return *views_; }
  TNetworkSection& Network() const { return *network_; }
  TPreferencesSection& Preferences() const { return *preferences_; }
  TSystemSection& System() const { return *system_; }
  TPromptSection& Prompts() const { return *prompts_; }

  // `RootFolder` with a separator appended ("" while it is not set), cached until it is written again.
  std::string RootFolder() const;
  void SetRootFolder(std::string_view path) { globalSystem_->SetRootFolder(path); }

  // The account's name, fixed at creation; "Default User" when none is found.
  const std::string& UserName() const { return userName_; }
  // The embedded browser's version class: -1 missing, 4, or 5 and later.
  int IEVersion() const { return ieVersion_; }

 protected:
  void SettingWritten(const TConfigSection& section, int index) override;

 private:
  TGlobalSystemSection* globalSystem_;
  TViewsSection* views_;
  TNetworkSection* network_;
  TPreferencesSection* preferences_;
  TSystemSection* system_;
  TPromptSection* prompts_;
  std::string userName_;
  int ieVersion_;
  mutable std::mutex rootFolderMutex_;
  mutable std::optional<std::string> rootFolder_;  // guarded by rootFolderMutex_
};

// The process-wide configuration, created on first use over SystemRegistry().
TAppConfig& AppConfig();

// The logged-on account's name, or "Default User".
std::string CurrentUserName();
// Classifies a browser component's file version (major, minor): -1 when missing or 4.70 and older, 5
// from major version 5 on, 4 otherwise.
int IEVersionFromFileVersion(bool present, uint16_t major, uint16_t minor);

}  // namespace vandrel

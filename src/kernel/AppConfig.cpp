#include "kernel/AppConfig.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace vandrel {
namespace {

using enum TConfigType;

constexpr TConfigProperty kGlobalSystem[] = {
    {0, "RootFolder", ctString},
    {1, "UpdateAddress", ctString},
    {2, "CurrencyConvertCode", ctString},
    {3, "LastChannelUpdate", ctDateTime},
    {4, "AppConfigured", ctBoolean, 0},
    {5, "LastCompactDatabase", ctDateTime},
    {6, "CompactDatabaseDelay", ctInteger, 15, 0},
    {7, "VersionID", ctString},
    {8, "SoftwareUpdateAddress", ctString},
    {9, "SoftwareUpdateProgram", ctString},
    {10, "InstallMode", ctBoolean, 0},
};

constexpr TConfigProperty kViews[] = {
    {0, "FilterFrmPos", ctString},
    {1, "WindowPos", ctString},
    {2, "ShowToolbar", ctBoolean, 1},
    {3, "ShowStatus", ctBoolean, 1},
    {4, "ShowTextLabels", ctBoolean, 1},
    {5, "ReviewsResultSize", ctInteger, TViewsSection::kUnsizedPane},
    {6, "CompareResultSize", ctInteger, TViewsSection::kUnsizedPane},
    {7, "DefaultBrowserLayout", ctInteger, 0},
    {8, "ShowHints", ctBoolean, 1},
    {9, "UseGraphScores", ctBoolean, 1},
};

constexpr TConfigProperty kNetwork[] = {
    {0, "LANConnection", ctBoolean, 0},
    {1, "ModemConnection", ctBoolean, 0},
    {2, "UseDirectConnection", ctBoolean, 0},
    {3, "UseProxyConnection", ctBoolean, 0},
    {4, "ProxyType", ctInteger, 0, 0, 1},
    {5, "ProxyAddress", ctString},
    {6, "ProxyPort", ctInteger, 8080, 1, 65535},
    {7, "SocksAddress", ctString},
    {8, "SocksPort", ctInteger, 1080, 1, 65535},
    {9, "UseProxyAuthenticate", ctBoolean, 0},
    {10, "ProxyUserName", ctSecret},
    {11, "ProxyPassword", ctSecret},
    {12, "UseDetectConnection", ctBoolean, 1},
};

constexpr TConfigProperty kPreferences[] = {
    {0, "MaxTransfers", ctInteger, 8, 1, 32},
    {1, "Timeout", ctInteger, 60, 3, 300},
    {2, "EngineTimeLimit", ctInteger, 10000, 1},
    {3, "AdvancedUser", ctBoolean, 0},
    {4, "UseExplorerQuickLaunch", ctBoolean, 1},
    {5, "UseExplorerContextMenu", ctBoolean, 1},
    {6, "UseExplorerBrowser", ctBoolean, 1},
    {7, "ForceNavigatorUse", ctBoolean, 0},
    {8, "NavigatorExeName", ctString},
    {9, "ShowConvertedCurrencies", ctBoolean, 0},
    {10, "SingleClickOpen", ctBoolean, 0},
    {11, "ResultsPerEngineCompare", ctInteger, 30, 1},
    {12, "ResultsPerEngineReviews", ctInteger, 30, 1},
    {13, "DaysToKeepSearches", ctInteger, 15, 0},
    {14, "SkipWelcomeDialog", ctBoolean, 0},
    {18, "ScrollingTickerTopicIndex", ctInteger, 0, 0},  // 18, not 15: the gap is part of the stored layout
};

constexpr TConfigProperty kSystem[] = {
    {2, "GUID", ctString},
};

constexpr TConfigProperty kPrompts[] = {
    {0, "PromptDeleteSearchResultMsg", ctBoolean, 1}, {1, "PromptStopMsg", ctBoolean, 1},
    {2, "PromptEngineErrorMsg", ctBoolean, 1},        {3, "PromptAndOrInformationMsg", ctBoolean, 1},
    {4, "PromptNoResultFoundMsg", ctBoolean, 1},
};

}  // namespace

TGlobalSystemSection::TGlobalSystemSection(TApplicationConfig& owner)
    : TConfigSection(owner, "GlobalSystem", TConfigScope::csMachine, kGlobalSystem) {}
TViewsSection::TViewsSection(TApplicationConfig& owner)
    : TConfigSection(owner, "Views", TConfigScope::csUser, kViews) {}
TNetworkSection::TNetworkSection(TApplicationConfig& owner)
    : TConfigSection(owner, "Network", TConfigScope::csMachine, kNetwork) {}
TPreferencesSection::TPreferencesSection(TApplicationConfig& owner)
    : TConfigSection(owner, "Preferences", TConfigScope::csUser, kPreferences) {}
TSystemSection::TSystemSection(TApplicationConfig& owner)
    : TConfigSection(owner, "System", TConfigScope::csUser, kSystem) {}
TPromptSection::TPromptSection(TApplicationConfig& owner)
    : TConfigSection(owner, "Prompts", TConfigScope::csUser, kPrompts) {}

TAppConfig::TAppConfig(std::shared_ptr<IRegistryStore> store, std::string rootPath)
    : TApplicationConfig(std::move(store), std::move(rootPath), kDefaultConfigRootPath),
      globalSystem_(&AddSection<TGlobalSystemSection>()),
      views_(&AddSection<TViewsSection>()),
      network_(&AddSection<TNetworkSection>()),
      preferences_(&AddSection<TPreferencesSection>()),
      system_(&AddSection<TSystemSection>()),
      prompts_(&AddSection<TPromptSection>()),
      userName_(CurrentUserName()),
      // The embedded view is a current browser engine, well past what the version-5 features need.
      ieVersion_(IEVersionFromFileVersion(true, 5, 0)) {
  // The machine-wide section shares the per-user section's key name, in the other part of the store.
  globalSystem_->SetKeyName("System");
}

std::string TAppConfig::RootFolder() const {
  std::lock_guard guard(rootFolderMutex_);
  if (!rootFolder_) {
    std::string folder = globalSystem_->RootFolder();
    // An unset folder stays empty: "/" alone would point file operations at the file system's root.
    if (!folder.empty() && !folder.ends_with('/') && !folder.ends_with('\\')) folder += '/';
    rootFolder_ = std::move(folder);
  }
  return *rootFolder_;
}

void TAppConfig::SettingWritten(const TConfigSection& section, int index) {
  if (&section == globalSystem_ && index == 0) {
    std::lock_guard guard(rootFolderMutex_);
    rootFolder_.reset();
  }
}

TAppConfig& AppConfig() {
  static TAppConfig config(SystemRegistry());
  return config;
}

std::string CurrentUserName() {
  struct passwd pw {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      pw.pw_name != nullptr && pw.pw_name[0] != '\0')
    return pw.pw_name;
  for (const char* variable : {"USER", "LOGNAME"})
    if (const char* name = std::getenv(variable); name != nullptr && name[0] != '\0') return name;
  return "Default User";
}

int IEVersionFromFileVersion(bool present, uint16_t major, uint16_t minor) {
  const uint32_t version = static_cast<uint32_t>(major) << 16 | minor;
  if (!present || version <= (4u << 16 | 70u)) return -1;
  return major >= 5 ? 5 : 4;
}

}  // namespace vandrel

// Rebuilds the program's browser and desktop integration from the user's preferences: everything is
// removed, then what the preferences ask for is written back.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "integration/IETools.h"

namespace vandrel {

// What an update reads. The front end fills it from the configuration.
struct TIntegrationInputs {
  std::string ProgramPath;  // the desktop program the "shop" protocol and the shortcut start
  std::string RootFolder;   // the root folder, ending with "/"
  bool UseQuickLaunch = true;
  bool UseContextMenu = true;
  bool UseBrowser = true;
  int IEVersion = -1;                     // the browser extensions need 5
  std::string SystemFolder = "/usr/lib";  // stands where the browser's page host would be
};

// The texts and identifiers the entries are written with. VALUES: stored in the user's store and desktop
// files; an older version's entries are found and removed by them.
namespace integration {
inline constexpr std::string_view kProtocol = "shop";
inline constexpr std::string_view kProtocolDescription = "Shopping Url Protocol";
inline constexpr std::string_view kFindEntry = "Find Using Vandrel Shopper";
inline constexpr std::string_view kFindReviewsEntry = "Find Reviews Using Vandrel Shopper";
inline constexpr std::string_view kFindPricesEntry = "Find Prices Using Vandrel Shopper";
inline constexpr std::string_view kToolsMenuText = "Shop Using Vandrel Shopper";
inline constexpr std::string_view kToolsStatusText = "Launch Vandrel Shopper";
inline constexpr std::string_view kButtonText = "Shop";
inline constexpr std::string_view kBarName = "Vandrel Shopper";
inline constexpr std::string_view kToolsMenuId = "{4B981DDB-ED12-4772-ABF4-76E3C14982E0}";
inline constexpr std::string_view kToolbarButtonId = "{7149E60F-754A-47EB-8916-F60021678D84}";
inline constexpr std::string_view kBrowserBarId = "{A475B9C7-D5CF-40F1-9D5A-FCFD921DBBF8}";
inline constexpr int64_t kBarSize = 80;
}  // namespace integration

struct TIntegrationOutcome {
  bool Removed = true;  // step A finished without a failure
  bool Written = true;  // step B finished (or was not asked for)
  std::string Failure;  // the first failure's description
};

// Step A always, step B unless `removeOnly`. Each step stops at its first failure; B runs even when A
// failed. Reports nothing: see ReportIntegrationOutcome.
TIntegrationOutcome UpdateExplorerIntegration(bool removeOnly, const TIntegrationInputs& inputs,
                                              TIETools& tools);
// Shows application error 9 for a failed removal and 10 for a failed write.
void ReportIntegrationOutcome(const TIntegrationOutcome& outcome);

// One thing the integration owns and whether it is there now.
struct TIntegrationEntry {
  std::string Kind;   // "key", "file" or "line"
  std::string Where;  // "classes\shop\shell\open\command", a file path, "FILE: LINE"
  bool Present = false;
};
std::vector<TIntegrationEntry> IntegrationStatus(const TIETools& tools);

// A "shop:" address as a browser hands it over ("shop:new%20harry%20potter") turned back into the command
// line it stands for ("shop:new harry potter"); a decoded control byte becomes a blank, so one address
// stays one line. Any other argument comes back unchanged.
std::string ShopAddressToCommand(std::string_view argument);

}  // namespace vandrel

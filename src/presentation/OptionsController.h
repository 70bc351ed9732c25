// The options window's model: its pages and texts, the values the user edits, and storing them on OK.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "currency/CurrencyConverters.h"
#include "presentation/DesktopPorts.h"
#include "presentation/DesktopSettings.h"

namespace vandrel {

// "1 min 30 sec" for 90: days, hours, minutes and seconds, at most two non-zero parts; "0 sec" for 0.
std::string DurationText(int seconds);

// The currency picker: the currency table as "Name  (CODE)" entries and today's rate of the picked one.
class TCurrencyPicker {
 public:
  // `ratePattern` takes the rate text for its "%s".
  explicit TCurrencyPicker(TCurrencyConverter& converter, std::string ratePattern = "%s");

  const std::vector<std::string>& Items() const { return items_; }
  // The entry of `code` ("USD" when empty), or -1 when the table has no such currency.
  int IndexOf(std::string_view code) const;
  // Picks by code; an unknown code is kept as picked, so a setting the table lost is not overwritten.
  void Select(std::string_view code);
  void SelectIndex(int index);
  const std::string& Code() const { return code_; }
  int Index() const { return IndexOf(code_); }
  std::string RateText() const;

 private:
  TCurrencyConverter& converter_;
  std::string ratePattern_;
  std::vector<std::string> items_;
  std::string code_ = "USD";
};

// Captions of the options window. VALUES: what the user reads; tests find the controls by them.
namespace options_text {
inline constexpr std::string_view kCaption = "Options";
inline constexpr std::string_view kPageGeneral = "General";
inline constexpr std::string_view kPagePrompts = "Prompts";
inline constexpr std::string_view kPageConnection = "Connection";
inline constexpr std::string_view kPageBrowser = "Browser";
inline constexpr std::string_view kPageCurrency = "Currency";
inline constexpr std::string_view kPageAdvanced = "Advanced";
inline constexpr std::string_view kShowHints = "Show pop-up &descriptions for toolbar buttons";
inline constexpr std::string_view kUseGraphScores = "&Graphically display document scores";
inline constexpr std::string_view kSingleClickOpen = "&Single-click to open an item";
inline constexpr std::string_view kAdBanners = "Display &advertisement banners when searching";
inline constexpr std::string_view kScrollingTicker = "Display scrolling &ticker when searching";
inline constexpr std::string_view kConfirmStop = "&Confirm before stopping an operation";
inline constexpr std::string_view kConfirmDelete = "Confirm before de&leting searches and results";
inline constexpr std::string_view kShowEngineErrors =
    "Display a &warning when an error occurs during a search";
inline constexpr std::string_view kBooleanOperators =
    "Ask to &modify query containing Boolean operators (and/or)";
inline constexpr std::string_view kTimeout = "Search &timeout:";
inline constexpr std::string_view kTimeoutShort = "Short";
inline constexpr std::string_view kTimeoutLong = "Long";
inline constexpr std::string_view kMaxTransfers = "Si&multaneous transfers:";
inline constexpr std::string_view kLanSettings = "LAN &Settings";
inline constexpr std::string_view kBrowserExt = "Enable &Internet Explorer browser add-ons";
inline constexpr std::string_view kContextMenu = "Enable Internet Explorer context &menu add-ons";
inline constexpr std::string_view kQuickLaunch = "&Create a %APPNAME% shortcut on the taskbar";
inline constexpr std::string_view kNavigator = "Always use &Netscape Navigator";
inline constexpr std::string_view kProgramPath = "&Program Path";
inline constexpr std::string_view kBrowserBoxTitle = "Browser Path";
inline constexpr std::string_view kBrowserBoxFilter = "Programs (*.exe)|*.EXE";
inline constexpr std::string_view kLocalCurrency = "Local currency:";
inline constexpr std::string_view kShowConverted = "&Convert prices to local currency";
inline constexpr std::string_view kSearchDeletion = "&Automatically delete searches";
inline constexpr std::string_view kDeleteAfter = "&Delete searches after:";
inline constexpr std::string_view kDays = "days";
}  // namespace options_text

// What storing the options asks of the rest of the program; each may be empty.
struct TOptionsHooks {
  std::function<void(bool show)> ApplyHints;  // the application's tool tips, switched at once
  // Rebuilds the browser and desktop integration from the stored preferences and reports a failure.
  std::function<void()> RewriteIntegration;
  std::function<void(bool force, const std::string& program)> SetForcedBrowser;
  std::function<std::string()> InstalledNavigatorPath;  // empty when none is installed
  std::function<void()> ReloadPriceResults;             // prices are shown again in the new currency
  std::function<void()> Changed;                        // after OK: the main window refreshes its views
};

// Main thread only. Nothing reaches the store before Accept.
class TOptionsController {
 public:
  TOptionsController(IDesktopSettings& settings, TCurrencyConverter& converter, IUserPrompts& prompts,
                     TOptionsHooks hooks);

  // Takes every value from the store; values out of a control's range are brought into it.
  void Load();

  // What the controls show and the user edits; read and written by the view between Load and Accept.
  TOptionsSettings Values;
  TCurrencyPicker Currency;

  void SetTimeout(int seconds);  // clamped to the bar's range
  std::string TimeoutText() const { return DurationText(Values.Timeout); }
  void SetMaxTransfers(int count);
  void SetDaysToKeepSearches(int days);

  // One of the three add-on boxes was clicked.
  void AddOnClicked() { integrationChanged_ = true; }
  bool IntegrationChanged() const { return integrationChanged_; }

  // A click on one of the boxes that are always on: tells the user and leaves it checked (returns true).
  bool FixedBoxClicked();

  bool NavigatorEnabled() const { return navigatorEnabled_; }
  // The name the file box starts from: the chosen one, else the installed Navigator's.
  std::string ProgramPathForBox() const;
  void ProgramPathChosen(const std::string& path);

  // OK: stores everything and tells the hooks. Cancel needs no call: nothing was stored.
  void Accept();

 private:
  IDesktopSettings& settings_;
  TCurrencyConverter& converter_;
  IUserPrompts& prompts_;
  TOptionsHooks hooks_;
  TOptionsSettings stored_;  // as read by Load
  bool integrationChanged_ = false;
  bool navigatorEnabled_ = true;
};

}  // namespace vandrel

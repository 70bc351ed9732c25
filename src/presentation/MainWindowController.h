// The main window without a toolkit: its menu, shortcut and tool-bar tables, which commands are enabled,
// the status-bar texts, the questions it asks, and how it closes while a search runs.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "presentation/DesktopPorts.h"

namespace vandrel {

class TQuorinSearchAction;

// VALUES: the page numbers are the ones the "Go To" shortcuts and the home page's links use.
enum class TPageKind : int { pkHome = 1, pkReviews = 2, pkPrices = 3 };

// Ctrl+Tab and Ctrl+Shift+Tab: page 3 is followed by 1.
TPageKind NextPage(TPageKind page);
TPageKind PreviousPage(TPageKind page);

// Every command of the menus, the tool bar and the status bar's link.
enum class TMainCommand {
  mcOpen,
  mcOpenInNewWindow,
  mcProperties,
  mcSendHtmlReport,
  mcSendTextReport,
  mcSendResults,
  mcExport,
  mcExit,
  mcCut,
  mcCopy,
  mcPaste,
  mcDelete,
  mcSelectAll,
  mcInvertSelection,
  mcFind,
  mcFindNext,
  mcSummaries,
  mcHighlight,
  mcShowToolbar,
  mcShowTextLabels,
  mcLayoutResults,
  mcLayoutResultsAndBrowser,
  mcLayoutBrowser,
  mcShowStatusBar,
  mcGoHome,
  mcGoReviews,
  mcGoPrices,
  mcGoHotDeals,
  mcSortAscending,
  mcSortDescending,
  mcGroupBy,
  mcResetColumns,
  mcUseLocalCurrency,
  mcNewSearch,
  mcFindReviews,
  mcFindPrices,
  mcModifySearch,
  mcDuplicateSearch,
  mcDeleteSearch,
  mcUpdateSearch,
  mcStopSearch,
  mcCheckUpdates,
  mcCategories,
  mcOptions,
  mcFilters,
  mcSearchProgress,
  mcHelpTopics,
  mcGettingStarted,
  mcSuggestFeature,
  mcSuggestSite,
  mcInviteFriend,
  mcReportBug,
  mcAbout,
  mcSoftwareUpdate,  // the status bar's "Software Update Available" link
};

// Who carries a command out.
enum class TCommandRoute {
  crWindow,          // the main window itself
  crFrame,           // the current result frame
  crWindowOfItsOwn,  // a window that plugs in later; until it does, "Feature not available"
  crNotAvailable,    // "Feature not available" for good
};

struct TMenuItemSpec {
  TMainCommand Command;
  std::string_view Menu;      // top-level menu caption
  std::string_view Submenu;   // empty: directly in the menu
  std::string_view Caption;   // may hold %APPNAME%
  std::string_view Shortcut;  // portable key text ("Ctrl+Shift+S"); empty: none
  TCommandRoute Route;
  bool Checkable = false;
  bool SeparatorBefore = false;
};

// In menu order.
std::span<const TMenuItemSpec> MainMenuItems();
const TMenuItemSpec* FindMenuItem(TMainCommand command);

struct TToolButtonSpec {
  TMainCommand Command;
  std::string_view Caption;  // two lines, "\r\n" between them
};
std::span<const TToolButtonSpec> ToolBarButtons();

// How a result frame splits its results and its browser (Alt+1..3).
enum class TFrameLayout { flResults, flResultsAndBrowser, flBrowser };

// What the enabling rules look at.
struct TMainWindowState {
  TPageKind Page = TPageKind::pkHome;
  bool RunnerIdle = true;
  bool HasCurrentSearch = false;  // the shown result page has a current search
  bool SoftwareUpdateAddressSet = false;
  bool ProgressWindowExists = false;
  bool ProgressWindowVisible = false;
  bool ToolbarVisible = true;
  bool TextLabels = true;
  bool StatusBarVisible = true;
  bool UseLocalCurrency = false;
  TFrameLayout Layout = TFrameLayout::flResults;
};

struct TCommandState {
  bool Enabled = true;
  bool Visible = true;
  bool Checked = false;
};
TCommandState CommandState(TMainCommand command, const TMainWindowState& state);

// Status bar texts. Panel 1: empty for a negative count (the home page).
std::string ResultCountText(int count, int selected);
// Panel 2.
std::string LocalCurrencyText(const std::string& currencyCode);
// Panel 0 takes what the other three leave, less a margin.
int StatusTextPanelWidth(int barWidth, int countWidth, int currencyWidth, int progressWidth);
// Panel 3 shows a page load only between 1 and 99 percent.
bool ShowsLoadProgress(int percent);
// A load's progress as a percentage; 0 while the total is unknown.
int LoadPercent(int64_t current, int64_t total);
inline constexpr std::string_view kLoadingResultsText = "Loading results...";

// The questions of the main window, ready to ask (placeholders replaced).
TPrompt StopSearchPrompt();
TPrompt NoResultsPrompt();
TPrompt SoftwareUpdatePrompt();
inline constexpr std::string_view kProductName = "Vandrel Shopper Beta 2";

// The maker's pages. `dest` names the page; the software-update page also carries the version keys.
inline constexpr std::string_view kMakerSite = "https://vandrelsoft.example/shopper/";
std::string RedirectAddress(std::string_view dest);
std::string SoftwareUpdateAddress(std::string_view edition, std::string_view language,
                                  std::string_view buildNumber);
// The dest key of a Help menu command that opens a page of the maker; empty for the others.
std::string_view RedirectDestination(TMainCommand command);

// The about window's lines.
std::string AboutVersionText(std::string_view version, std::string_view buildNumber);
std::string AboutVersionHint(std::string_view edition, std::string_view language,
                             std::string_view buildNumber);

// Where the window was: stored as "left,top,width,height,maximised" (maximised 0 or 1).
struct TWindowPlacement {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool Maximized = false;
};
std::string FormatWindowPlacement(const TWindowPlacement& placement);
// Nothing for text that is not five whole numbers or for a window smaller than 100x100 pixels.
std::optional<TWindowPlacement> ParseWindowPlacement(std::string_view text);

// The embedded browser refuses to start as root with its sandbox on, and the program would go down with
// it. True when running as root and neither the variable QTWEBENGINE_DISABLE_SANDBOX (non-empty, not "0")
// nor a --no-sandbox in QTWEBENGINE_CHROMIUM_FLAGS switches it off.
bool BrowserSandboxMustBeSwitchedOff(bool runningAsRoot, std::string_view disableSandbox,
                                     std::string_view chromiumFlags);

// What a search action takes from the configuration before it starts.
struct TSearchRunSettings {
  bool Debug = false;
  int MaxTransfers = 8;
  int Timeout = 60;             // seconds per socket operation
  int EngineTimeLimit = 60000;  // milliseconds per request
  bool UseDetectConnection = true;
  bool UseProxyConnection = false;
  int ProxyType = 0;  // 0 HTTP, 1 SOCKS
  std::string ProxyAddress;
  int ProxyPort = 8080;
  std::string SocksAddress;
  int SocksPort = 1080;
  bool UseProxyAuthenticate = false;
  std::string ProxyUserName;
  std::string ProxyPassword;
};
// Called while the runner announces the action as starting.
void ConfigureSearchAction(TQuorinSearchAction& action, const TSearchRunSettings& settings);

// The links of the home page, by their number. VALUES: the page's script sends these numbers.
enum class THomeLinkKind : int {
  hkNewReviewsInCategory = 0,  // the text names a category
  hkNewReviews = 1,            // the text is the query
  hkNewPrices = 2,             // the text is the query
  hkOpenReviews = 3,           // the text is a 1-based entry number
  hkOpenPrices = 4,
  hkCategoryWindow = 6,  // the text names a category
};
// The 0-based entry a link's 1-based number stands for; nothing for text that is not a number in 1..count.
std::optional<size_t> HomeEntryIndex(std::string_view text, size_t count);

// "books harry potter" -> {"books", "harry potter"}: a category word, then the query.
std::pair<std::string, std::string> SplitCategoryAndQuery(const std::string& argument);

// The window may close only when the runner and the advertisements are idle and the splash has gone.
// Otherwise it asks to stop a running search and, when that is agreed (or nothing runs), checks every
// 150 ms, stopping the runner each time, until it may close. Main thread only.
class TMainWindowCloser {
 public:
  struct TPorts {
    std::function<bool()> RunnerIdle;
    std::function<bool()> AdsIdle;     // unset: always idle
    std::function<bool()> SplashDone;  // unset: done
    // Asks the stop question (under its flag) and requests the stop; false when the user said no.
    std::function<bool()> StopSearch;
    std::function<void()> StopRunner;  // stop and empty the queue
    std::function<void()> FinishAds;
    std::function<void()> Close;  // closes the window; CloseRequested answers true from then on
  };
  static constexpr int kCheckMs = 150;

  TMainWindowCloser(IScheduler& scheduler, TPorts ports);
  ~TMainWindowCloser();
  TMainWindowCloser(const TMainWindowCloser&) = delete;
  TMainWindowCloser& operator=(const TMainWindowCloser&) = delete;

  // The window was asked to close: true when it may close now; otherwise it stays open, closing later
  // by itself unless the user refused to stop the search.
  bool CloseRequested();
  bool Waiting() const { return timer_ != 0; }

 private:
  bool MayClose() const;
  void Check();

  IScheduler& scheduler_;
  TPorts ports_;
  IScheduler::TTimerId timer_ = 0;  // the pending check; 0 while none
};

// Command lines from later starts. One that arrives while a modal window is open waits until it has
// closed; lines run in arrival order. Main thread only.
class TCommandLineQueue {
 public:
  static constexpr int kRetryMs = 100;
  TCommandLineQueue(IScheduler& scheduler, std::function<bool()> modalOpen,
                    std::function<void(const std::string& line)> run);
  ~TCommandLineQueue();
  TCommandLineQueue(const TCommandLineQueue&) = delete;
  TCommandLineQueue& operator=(const TCommandLineQueue&) = delete;

  void Submit(std::string line);
  size_t Pending() const { return lines_.size(); }

 private:
  void Drain();

  IScheduler& scheduler_;
  std::function<bool()> modalOpen_;
  std::function<void(const std::string&)> run_;
  std::deque<std::string> lines_;
  IScheduler::TTimerId timer_ = 0;
  bool draining_ = false;  // a line is running (its handler may open a modal window and pump events)
};

}  // namespace vandrel

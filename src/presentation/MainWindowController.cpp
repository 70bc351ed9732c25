#include "presentation/MainWindowController.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "http/HttpDownloader.h"
#include "platform/Format.h"
#include "search/HttpSearcher.h"
#include "search/SearchAction.h"

namespace vandrel {
namespace {

using enum TMainCommand;
using enum TCommandRoute;

constexpr std::string_view kFile = "&File", kEdit = "&Edit", kView = "&View", kSearch = "&Search",
                           kTools = "&Tools", kWindow = "&Window", kHelp = "&Help";

// ORDER: the menus are built in this order; separators belong to the item after them.
constexpr TMenuItemSpec kMenu[] = {
    {mcOpen, kFile, "", "Open", "", crFrame},
    {mcOpenInNewWindow, kFile, "", "Open in New Window", "", crFrame},
    {mcProperties, kFile, "", "&Properties", "Alt+Return", crFrame, false, true},
    {mcSendHtmlReport, kFile, "Send", "HTML Report by E-mail...", "", crNotAvailable, false, true},
    {mcSendTextReport, kFile, "Send", "Text Report by E-mail...", "", crNotAvailable},
    {mcSendResults, kFile, "Send", "&Result(s) by E-mail...", "", crNotAvailable},
    {mcExport, kFile, "", "Export...", "", crNotAvailable},
    {mcExit, kFile, "", "E&xit", "", crWindow, false, true},

    {mcCut, kEdit, "", "&Cut", "Ctrl+X", crFrame},
    {mcCopy, kEdit, "", "&Copy", "Ctrl+C", crFrame},
    {mcPaste, kEdit, "", "&Paste", "Ctrl+V", crFrame},
    {mcDelete, kEdit, "", "&Delete", "Del", crFrame},
    {mcSelectAll, kEdit, "", "Select &All", "Ctrl+A", crFrame, false, true},
    {mcInvertSelection, kEdit, "", "&Invert Selection", "", crFrame},
    {mcFind, kEdit, "", "&Find...", "Ctrl+F", crFrame, false, true},
    {mcFindNext, kEdit, "", "Find &Next", "F3", crFrame},

    {mcSummaries, kView, "", "&Summaries", "Ctrl+Shift+S", crFrame, true},
    {mcHighlight, kView, "", "&Highlight", "Ctrl+Shift+H", crFrame, true},
    {mcShowToolbar, kView, "Layout", "&Toolbar", "", crWindow, true, true},
    {mcShowTextLabels, kView, "Layout", "&Text Labels", "", crWindow, true},
    {mcLayoutResults, kView, "Layout", "&Results", "Alt+1", crFrame, true, true},
    {mcLayoutResultsAndBrowser, kView, "Layout", "Results &and Browser", "Alt+2", crFrame, true},
    {mcLayoutBrowser, kView, "Layout", "&Browser", "Alt+3", crFrame, true},
    {mcShowStatusBar, kView, "Layout", "&Status Bar", "", crWindow, true, true},
    {mcGoHome, kView, "Go To", "&Ri Veravur", "Ctrl+1", crWindow, true},
    {mcGoReviews, kView, "Go To", "&Reviews", "Ctrl+2", crWindow, true},
    {mcGoPrices, kView, "Go To", "&Prices", "Ctrl+3", crWindow, true},
    {mcGoHotDeals, kView, "Go To", "&Hot Deals", "Ctrl+4", crNotAvailable, true},
    {mcSortAscending, kView, "Sort &Results By", "&Ascending", "", crFrame, true, true},
    {mcSortDescending, kView, "Sort &Results By", "&Descending", "", crFrame, true},
    {mcGroupBy, kView, "", "&Group By", "", crFrame},
    {mcResetColumns, kView, "", "&Reset Columns", "", crFrame},
    {mcUseLocalCurrency, kView, "", "&Use Local Currency", "", crWindow, true, true},

    {mcNewSearch, kSearch, "", "&New Search", "Ctrl+N", crWindowOfItsOwn},
    {mcFindReviews, kSearch, "", "Find &Reviews ", "Ctrl+R", crWindowOfItsOwn, false, true},
    {mcFindPrices, kSearch, "", "Find &Prices", "Ctrl+I", crWindowOfItsOwn},
    {mcModifySearch, kSearch, "", "&Modify", "F2", crWindowOfItsOwn, false, true},
    {mcDuplicateSearch, kSearch, "", "Du&plicate", "F9", crWindowOfItsOwn},
    {mcDeleteSearch, kSearch, "", "Delete", "Ctrl+D", crFrame},
    {mcUpdateSearch, kSearch, "", "&Update Search", "Ctrl+U", crWindow, false, true},
    {mcStopSearch, kSearch, "", "&Stop", "", crWindow},

    {mcCheckUpdates, kTools, "", "Check Updates &Now", "", crWindowOfItsOwn},
    {mcCategories, kTools, "", "Categories...", "", crWindowOfItsOwn, false, true},
    {mcOptions, kTools, "", "&Options...", "", crWindowOfItsOwn},

    {mcFilters, kWindow, "", "&Filters", "Ctrl+Shift+F", crFrame, true},
    {mcSearchProgress, kWindow, "", "Search &Progress", "Ctrl+Shift+P", crWindowOfItsOwn, true},

    {mcHelpTopics, kHelp, "", "&Help Topics", "", crNotAvailable},
    {mcGettingStarted, kHelp, "", "&Getting Started", "", crWindow},
    {mcSuggestFeature, kHelp, "", "Suggest a New &Feature", "", crWindow, false, true},
    {mcSuggestSite, kHelp, "", "&Suggest a Review Site/Store", "", crWindow},
    {mcInviteFriend, kHelp, "", "&Invite a Friend to Try %APPNAME%", "", crWindow},
    {mcReportBug, kHelp, "", "&Report a bug", "", crWindow},
    {mcAbout, kHelp, "", "About %APPNAME%", "", crWindow, false, true},
};

constexpr TToolButtonSpec kToolBar[] = {
    {mcGoHome, "My\r\nShopper"},          {mcFindReviews, "Find\r\nReviews"},
    {mcStopSearch, "Stop\r\nSearch"},     {mcFindPrices, "Find\r\nPrices"},
    {mcUpdateSearch, "Update\r\nSearch"}, {mcInviteFriend, "Invite\r\nFriend"},
};

bool OnResultPage(const TMainWindowState& state) {
  return state.Page != TPageKind::pkHome;
}

}  // namespace

TPageKind NextPage(TPageKind page) {
  return static_cast<TPageKind>(static_cast<int>(page) % 3 + 1);
}

TPageKind PreviousPage(TPageKind page) {
  return static_cast<TPageKind>((static_cast<int>(page) + 1) % 3 + 1);
}

std::span<const TMenuItemSpec> MainMenuItems() {
  return kMenu;
}

const TMenuItemSpec* FindMenuItem(TMainCommand command) {
  auto it = std::find_if(std::begin(kMenu), std::end(kMenu),
                         [command](const TMenuItemSpec& item) { return item.Command == command; });
  return it == std::end(kMenu) ? nullptr : &*it;
}

std::span<const TToolButtonSpec> ToolBarButtons() {
  return kToolBar;
}

TCommandState CommandState(TMainCommand command, const TMainWindowState& state) {
  TCommandState result;
  const bool idle = state.RunnerIdle;
  switch (command) {
    case mcNewSearch:
    case mcFindReviews:
    case mcFindPrices:
    case mcCheckUpdates:
    case mcCategories:
    case mcOptions:
      result.Enabled = idle;
      break;
    case mcUpdateSearch:
    case mcModifySearch:
    case mcDuplicateSearch:
    case mcDeleteSearch:
      // The running search must not be rerun, changed or deleted under the runner.
      result.Enabled = idle && OnResultPage(state) && state.HasCurrentSearch;
      break;
    case mcStopSearch:
      result.Enabled = !idle;
      break;
    case mcUseLocalCurrency:
      result.Enabled = idle && OnResultPage(state);
      result.Checked = state.UseLocalCurrency;
      break;
    case mcSoftwareUpdate:
      result.Enabled = idle;
      result.Visible = state.SoftwareUpdateAddressSet;
      break;
    case mcSearchProgress:
      result.Enabled = state.ProgressWindowExists;
      result.Checked = state.ProgressWindowExists && state.ProgressWindowVisible;
      break;
    case mcSummaries:
      result.Visible = state.Page == TPageKind::pkReviews;
      result.Enabled = result.Visible;
      break;
    case mcGoHotDeals:
      result.Visible = false;
      result.Enabled = false;
      break;
    case mcGoHome:
    case mcGoReviews:
    case mcGoPrices:
      result.Checked = static_cast<int>(state.Page) ==
                       1 + static_cast<int>(command) - static_cast<int>(TMainCommand::mcGoHome);
      break;
    case mcShowToolbar:
      result.Checked = state.ToolbarVisible;
      break;
    case mcShowTextLabels:
      result.Checked = state.TextLabels;
      result.Enabled = state.ToolbarVisible;
      break;
    case mcShowStatusBar:
      result.Checked = state.StatusBarVisible;
      break;
    case mcLayoutResults:
    case mcLayoutResultsAndBrowser:
    case mcLayoutBrowser: {
      const int offset = static_cast<int>(command) - static_cast<int>(TMainCommand::mcLayoutResults);
      result.Enabled = OnResultPage(state);
      result.Checked = result.Enabled && static_cast<int>(state.Layout) == offset;
      break;
    }
    default: {
      const TMenuItemSpec* item = FindMenuItem(command);
      // The home page has no result frame to carry a frame command out.
      if (item && item->Route == crFrame) result.Enabled = OnResultPage(state);
      break;
    }
  }
  return result;
}

std::string ResultCountText(int count, int selected) {
  if (count < 0) return {};
  if (count == 0) return "No results";
  if (selected > 0) {
    if (count == 1) return "1 result (1 selected)";
    return Format("%0:d results (%1:d selected)", {count, selected});
  }
  if (count == 1) return "1 result";
  return Format("%0:d results", {count});
}

std::string LocalCurrencyText(const std::string& currencyCode) {
  return "Local Currency (" + currencyCode + ")";
}

int StatusTextPanelWidth(int barWidth, int countWidth, int currencyWidth, int progressWidth) {
  return std::max(0, barWidth - countWidth - currencyWidth - progressWidth - 60);
}

bool ShowsLoadProgress(int percent) {
  return percent >= 1 && percent <= 99;
}

int LoadPercent(int64_t current, int64_t total) {
  if (total <= 0 || current <= 0) return 0;
  if (current >= total) return 100;
  return static_cast<int>(current * 100 / total);
}

namespace {
TPrompt YesNoQuestion(std::string text, bool offerDontAskAgain) {
  TPrompt prompt;
  prompt.Caption = "Vandrel Shopper";
  prompt.Text = std::move(text);
  prompt.Icon = TPromptIcon::piQuestion;
  prompt.Buttons = TPromptButtons::pbYesNo;
  prompt.Default = TPromptAnswer::paYes;
  prompt.OfferDontAskAgain = offerDontAskAgain;
  return prompt;
}
}  // namespace

TPrompt StopSearchPrompt() {
  return YesNoQuestion("Are you sure you want to stop the current search?", true);
}

TPrompt NoResultsPrompt() {
  return YesNoQuestion(
      "No items match the search keywords\n\n Would you like to modify your query and search again?", true);
}

TPrompt SoftwareUpdatePrompt() {
  return YesNoQuestion(
      "A new version of Vandrel Shopper is now available.\n\nWould you like to update your current version?",
      false);
}

std::string RedirectAddress(std::string_view dest) {
  return "https://vandrelsoft.example/go?dest=" + std::string(dest);
}

std::string SoftwareUpdateAddress(std::string_view edition, std::string_view language,
                                  std::string_view buildNumber) {
  return RedirectAddress("shopperhome") + "&edition=" + std::string(edition) +
         "&language=" + std::string(language) + "&buildnumber=" + std::string(buildNumber);
}

std::string_view RedirectDestination(TMainCommand command) {
  switch (command) {
    case mcSuggestFeature:
      return "shoppersuggfeature";
    case mcSuggestSite:
      return "shoppersuggengine";
    case mcInviteFriend:
      return "shopperfriend";
    case mcReportBug:
      return "shopperreportbug";
    default:
      return {};
  }
}

std::string AboutVersionText(std::string_view version, std::string_view buildNumber) {
  return Format("Version %0:s Build %1:s", {version, buildNumber});
}

std::string AboutVersionHint(std::string_view edition, std::string_view language,
                             std::string_view buildNumber) {
  return Format("%0:s (%1:s) Build %2:s", {edition, language, buildNumber});
}

bool BrowserSandboxMustBeSwitchedOff(bool runningAsRoot, std::string_view disableSandbox,
                                     std::string_view chromiumFlags) {
  if (!runningAsRoot) return false;
  if (!disableSandbox.empty() && disableSandbox != "0") return false;
  // A whole word only: "--no-sandboxing" is something else.
  for (size_t at = chromiumFlags.find("--no-sandbox"); at != std::string_view::npos;
       at = chromiumFlags.find("--no-sandbox", at + 1)) {
    const size_t end = at + std::string_view("--no-sandbox").size();
    const bool startsWord = at == 0 || chromiumFlags[at - 1] == ' ';
    const bool endsWord = end == chromiumFlags.size() || chromiumFlags[end] == ' ';
    if (startsWord && endsWord) return false;
  }
  return true;
}

std::string FormatWindowPlacement(const TWindowPlacement& p) {
  return Format("%0:d,%1:d,%2:d,%3:d,%4:d", {p.Left, p.Top, p.Width, p.Height, p.Maximized ? 1 : 0});
}

std::optional<TWindowPlacement> ParseWindowPlacement(std::string_view text) {
  std::vector<int> numbers;
  const char* at = text.data();
  const char* end = text.data() + text.size();
  while (at < end && numbers.size() < 6) {
    int value = 0;
    auto [next, error] = std::from_chars(at, end, value);
    if (error != std::errc()) return std::nullopt;
    numbers.push_back(value);
    at = next;
    if (at < end && *at++ != ',') return std::nullopt;
    if (at == end && text.back() == ',') return std::nullopt;
  }
  if (numbers.size() != 5 || at != end) return std::nullopt;
  TWindowPlacement placement{numbers[0], numbers[1], numbers[2], numbers[3], numbers[4] != 0};
  if (placement.Width < 100 || placement.Height < 100) return std::nullopt;
  return placement;
}

void ConfigureSearchAction(TQuorinSearchAction& action, const TSearchRunSettings& settings) {
  action.Debug = settings.Debug;
  action.MaxThreads = settings.MaxTransfers;
  // Through a proxy the probe host may well be unreachable while the stores are not.
  action.DetectConnection = settings.UseDetectConnection && !settings.UseProxyConnection;
  action.EngineTimeLimit = settings.EngineTimeLimit;
  THttpSearchManager* searcher = action.Searcher();
  if (!searcher) return;
  THttpDownloaderSettings download = searcher->Downloader().Settings();
  download.MaxDownloadThreads = settings.MaxTransfers;
  download.Timeout = settings.Timeout;
  download.UseProxy = settings.UseProxyConnection;
  if (settings.ProxyType == 1) {
    // SOCKS 4 carries no password.
    download.ProxyType = ptSocks;
    download.ProxyAddress = settings.SocksAddress;
    download.ProxyPort = settings.SocksPort;
    download.UseProxyAuthenticate = false;
    download.ProxyUserName.clear();
    download.ProxyPassword.clear();
  } else {
    download.ProxyType = ptHttp;
    download.ProxyAddress = settings.ProxyAddress;
    download.ProxyPort = settings.ProxyPort;
    download.UseProxyAuthenticate = settings.UseProxyAuthenticate;
    download.ProxyUserName = settings.ProxyUserName;
    download.ProxyPassword = settings.ProxyPassword;
  }
  searcher->Downloader().SetSettings(download);
}

std::optional<size_t> HomeEntryIndex(std::string_view text, size_t count) {
  size_t number = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number < 1 || number > count)
    return std::nullopt;
  return number - 1;
}

std::pair<std::string, std::string> SplitCategoryAndQuery(const std::string& argument) {
  const size_t start = argument.find_first_not_of(' ');
  if (start == std::string::npos) return {};
  const size_t blank = argument.find(' ', start);
  if (blank == std::string::npos) return {argument.substr(start), {}};
  const size_t rest = argument.find_first_not_of(' ', blank);
  return {argument.substr(start, blank - start),
          rest == std::string::npos ? std::string() : argument.substr(rest)};
}

TMainWindowCloser::TMainWindowCloser(IScheduler& scheduler, TPorts ports)
    : scheduler_(scheduler), ports_(std::move(ports)) {}

TMainWindowCloser::~TMainWindowCloser() {
  if (timer_) scheduler_.Cancel(timer_);
}

bool TMainWindowCloser::MayClose() const {
  const bool runnerIdle = !ports_.RunnerIdle || ports_.RunnerIdle();
  const bool adsIdle = !ports_.AdsIdle || ports_.AdsIdle();
  const bool splashDone = !ports_.SplashDone || ports_.SplashDone();
  return runnerIdle && adsIdle && splashDone;
}

bool TMainWindowCloser::CloseRequested() {
  if (MayClose()) return true;
  // Already on the way out: a second click does not ask again.
  if (timer_) return false;
  const bool searching = ports_.RunnerIdle && !ports_.RunnerIdle();
  if (searching && ports_.StopSearch && !ports_.StopSearch()) return false;
  timer_ = scheduler_.Schedule(kCheckMs, [this] { Check(); });
  return false;
}

void TMainWindowCloser::Check() {
  timer_ = 0;
  if (ports_.RunnerIdle && !ports_.RunnerIdle() && ports_.StopRunner) ports_.StopRunner();
  if (ports_.FinishAds) ports_.FinishAds();
  if (!MayClose()) {
    timer_ = scheduler_.Schedule(kCheckMs, [this] { Check(); });
    return;
  }
  if (ports_.Close) ports_.Close();
}

TCommandLineQueue::TCommandLineQueue(IScheduler& scheduler, std::function<bool()> modalOpen,
                                     std::function<void(const std::string&)> run)
    : scheduler_(scheduler), modalOpen_(std::move(modalOpen)), run_(std::move(run)) {}

TCommandLineQueue::~TCommandLineQueue() {
  if (timer_) scheduler_.Cancel(timer_);
}

void TCommandLineQueue::Submit(std::string line) {
  lines_.push_back(std::move(line));
  Drain();
}

void TCommandLineQueue::Drain() {
  if (draining_) return;
  while (!lines_.empty()) {
    if (modalOpen_ && modalOpen_()) {
      if (!timer_)
        timer_ = scheduler_.Schedule(kRetryMs, [this] {
          timer_ = 0;
          Drain();
        });
      return;
    }
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    draining_ = true;
    if (run_) run_(line);
    draining_ = false;
  }
}

}  // namespace vandrel

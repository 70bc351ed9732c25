// A result page (prices or reviews) as a controller: the search selector, the three layouts, the columns the
// page adds, check marks, opening results, the address list, finding reviews or prices for a result,
// deleting results and searches, the header, sort and properties contents, and find in results.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "actions/QuorinApplications.h"
#include "presentation/DesktopPorts.h"
#include "presentation/FindContext.h"
#include "presentation/ResultGroups.h"
#include "presentation/ResultViewFrames.h"
#include "search/SearchHistory.h"

namespace vandrel {

class ISearchCatalogue;

enum class TResultFrameKind { rfkPrices, rfkReviews };

// ORDER: stored as a number in the configuration (DefaultBrowserLayout).
enum class TResultLayout : int {
  rlResultsAndBrowser = 0,
  rlResults = 1,
  rlBrowser = 2,  // the browser alone, with the address list above it
};

// The columns a result page adds to every layout.
inline constexpr char kReviewButtonColumn[] = "ReviewBtn";
inline constexpr char kCompareButtonColumn[] = "CompareBtn";
inline constexpr char kCheckColumn[] = "CHECK";
inline constexpr char kEngineColumn[] = "Engine";

enum class TFrameColumnKind { fckField, fckReviewButton, fckCompareButton, fckCheck, fckEngine };

// The settings the page reads and writes; the desktop fills them from the configuration.
class IResultFrameSettings {
 public:
  virtual ~IResultFrameSettings() = default;
  virtual bool PromptDeleteSearchResult() const = 0;
  virtual void SetPromptDeleteSearchResult(bool ask) = 0;
  virtual void SetDefaultBrowserLayout(int mode) = 0;
  virtual bool UseGraphScores() const = 0;
  virtual bool SingleClickOpen() const = 0;
};

// Settings kept in memory (tests, and a page without a configuration).
class TResultFrameSettings : public IResultFrameSettings {
 public:
  bool PromptDelete = true;
  int BrowserLayout = 0;
  bool GraphScores = true;
  bool SingleClick = false;
  bool PromptDeleteSearchResult() const override { return PromptDelete; }
  void SetPromptDeleteSearchResult(bool ask) override { PromptDelete = ask; }
  void SetDefaultBrowserLayout(int mode) override { BrowserLayout = mode; }
  bool UseGraphScores() const override { return GraphScores; }
  bool SingleClickOpen() const override { return SingleClick; }
};

// What the page asks the search wizard to do.
enum class TWizardRequestKind { wrkNewSearch, wrkCategory, wrkModify, wrkDuplicate, wrkFromResult };

struct TSearchWizardRequest {
  TWizardRequestKind Kind = TWizardRequestKind::wrkNewSearch;
  std::string CatName;  // the category to search (empty for a new search)
  bool IsReviews = false;
  std::string Query;  // the query text for the category
  std::vector<std::pair<std::string, std::string>>
      Fields;                            // input field values of a search built from a result
  TSearchStorageItem* Search = nullptr;  // Modify and Duplicate: the search opened
};

struct TFrameMenuEntry {
  std::string Caption;  // "-" for a separator
  bool Enabled = false;
  bool Checked = false;
  bool Radio = false;
};

// The properties window's contents.
struct TResultProperties {
  std::string Title;  // the result's first field
  struct TLine {
    std::string Label;  // "%0:s:"
    std::string Text;
    bool Summary = false;  // shown as a read-only multi-line box
  };
  std::vector<TLine> General;
  std::string DateVisited, FoundBy, Address;
};

// One result page. Main thread only; reentrant notifications (selector refill, combo sort) are run later
// through the scheduler.
class TResultFrameController : public IAppSearchHistoryObserver,
                               public IQuorinApplicationObserver,
                               public IStorageDataListViewObserver {
 public:
  static constexpr const char* kNoSearch = "No search";
  static constexpr const char* kNoResult = "No result";
  static constexpr const char* kComboViewName = "ResultComboView";
  static constexpr const char* kSearchComboViewName = "ComboView";
  static constexpr int kNavigationDelayMs = 500;
  static constexpr const char* kDeleteResult = "Are you sure you want to delete this result?";
  static constexpr const char* kDeleteResults = "Are you sure you want to delete these results?";
  static constexpr const char* kDeleteSearch = "Are you sure you want to delete this search?";
  static constexpr const char* kFindFinished = "Vandrel Shopper has finished searching through results.";

  struct TPorts {
    IResultListWidget& List;
    IUserPrompts& Prompts;
    IScheduler& Scheduler;
    IResultFrameSettings& Settings;
  };

  // `catalogue` names categories and engines (may be null); `runner` tells whether a search runs (may be
  // null).
  TResultFrameController(TResultFrameKind kind, TAppSearchHistory& history, TPorts ports,
                         ISearchCatalogue* catalogue, TQuorinApplication* runner);
  ~TResultFrameController() override;
  TResultFrameController(const TResultFrameController&) = delete;
  TResultFrameController& operator=(const TResultFrameController&) = delete;

  // Follows the history from now on, in the results-only layout, showing its current search.
  void Attach();
  void Detach();

  TResultFrameKind Kind() const { return Kind_; }
  TAppSearchHistory& History() const { return History_; }
  TResultViewFrame& View() { return View_; }
  const TResultViewFrame& View() const { return View_; }
  TResultStorageListView* ComboView() const { return Combo_; }
  const std::string& EngineCaption() const { return EngineCaption_; }
  IScheduler& Scheduler() const { return Ports_.Scheduler; }

  // ---- the search selector ----
  // The searches, newest first, as "%0:s  (%1:s)"; the selector shows "No search" when none is current.
  std::vector<std::string> SelectorItems() const;
  int SelectorIndex() const;  // -1: none is current
  std::string SelectorText() const;
  void ChooseSearch(size_t index);
  TSearchStorageItem* SearchAtSelector(size_t index) const;

  // ---- layouts ----
  TResultLayout Mode() const { return Mode_; }
  void SetMode(TResultLayout mode);
  bool NavigationBarVisible() const { return Mode_ == TResultLayout::rlBrowser; }
  bool SplitterVisible() const { return Mode_ == TResultLayout::rlResultsAndBrowser; }
  bool ResultsVisible() const { return Mode_ != TResultLayout::rlBrowser; }
  bool BrowserVisible() const { return Mode_ != TResultLayout::rlResults; }
  // The result part's height in mode 0 for a frame of that height.
  int ResultPartHeight(int frameHeight) const;
  void SetSplitHeight(int height) { SplitHeight_ = height; }
  int SplitHeight() const { return SplitHeight_; }

  // ---- columns ----
  static TFrameColumnKind ColumnKind(const std::string& fieldName);
  // The cell text of the page's own columns and of the fields.
  std::string CellText(const TResultRow& row, size_t column) const;
  bool RowChecked(size_t row) const;

  // ---- selection, opening, check marks ----
  void SetSelection(std::vector<size_t> rows);
  const std::vector<size_t>& Selection() const { return Selection_; }
  std::vector<TResultStorageItem*> SelectedResults() const;
  TResultStorageItem* ResultAt(size_t row) const;
  void OpenResult(TResultStorageItem* result, bool newWindow);
  void OpenSelected(bool newWindow);
  // Single click on a cell: opens when the column is a link or single-click opening is on; a press on a
  // button or check cell does that cell's work instead. True when something happened.
  bool ClickCell(size_t row, size_t column, bool overLink);
  void DoubleClickRow(size_t row, size_t column);
  // Space: unchecked selected results become checked and checked ones unchecked, in two transactions.
  void ToggleChecks();
  // The result the browser shows, or null; cleared when that result goes away.
  TResultStorageItem* BrowserResult() const { return BrowserResult_; }

  // ---- the address list (browser-only layout) ----
  std::vector<std::string> NavigationItems() const;
  int NavigationIndex() const;  // -1: no entry
  void ChooseNavigation(size_t index);
  void Back();
  void Forward();
  bool BackEnabled() const;
  bool ForwardEnabled() const;
  bool NavigationSearchEnabled() const;  // the reviews and prices buttons

  // ---- searching from a result ----
  void FindFor(TResultStorageItem* result, bool reviews);
  bool RunnerIdle() const;

  // ---- deleting ----
  // Deletes the selection (the current address group in the browser-only layout) after the question.
  void DeleteSelection();
  bool CanDeleteSearch() const;
  void DeleteCurrentSearch();

  // ---- menus ----
  TGroupByMenuManager& GroupByMenu() { return GroupBy_; }
  std::vector<TFrameMenuEntry> HeaderMenu(size_t column) const;
  // Entry indexes follow HeaderMenu.
  void ChooseHeaderMenu(size_t column, size_t entry);
  std::vector<TFrameMenuEntry> SortMenu() const;
  void ChooseSortMenu(size_t entry);
  // The search menu's entries: "New Search", "Find Reviews", "Find Prices", "Modify", "Duplicate",
  // "Update Search", "Delete".
  std::vector<TFrameMenuEntry> SearchMenu() const;
  void ChooseSearchMenu(size_t entry);

  // ---- other commands ----
  TResultProperties Properties(const TResultStorageItem& result) const;
  void ToggleSummaries();
  void ResetColumns();
  bool FilterButtonEnabled() const;
  TFindContext& Find() { return Find_; }

  // ---- what the page tells its host ----
  std::function<void(const std::string& url)> Navigate;        // the embedded browser
  std::function<void(const std::string& url)> OpenExternally;  // the user's web browser
  std::function<void(const TSearchWizardRequest&)> OpenSearchWizard;
  std::function<void(TSearchStorageItem* search)> RerunSearch;
  std::function<void(TResultLayout mode)> OnModeChanged;
  std::function<void(size_t results, size_t selected)> OnStatus;
  std::function<void()> OnSelectorChanged;    // refill the selector
  std::function<void()> OnNavigationChanged;  // refill the address list
  std::function<void(size_t row)> OnShowRow;  // select and scroll to a row
  std::function<void()> OnEnablingChanged;    // buttons and filters may have changed

  // ---- observers ----
  void SearchChanging(TAppSearchHistory& history) override;
  void SearchChanged(TAppSearchHistory& history, TSearchStorageItem* search) override;
  void SearchAdded(TAppSearchHistory& history, TSearchStorageItem* search) override;
  void ResultsReloading(TAppSearchHistory& history) override;
  void ResultsReloaded(TAppSearchHistory& history) override;

  void ListOpened(const void* owner, TStorageDataList* list) override;
  void ActionFinished(TQuorinAction& action) override;
  void Busy() override;
  void Idle() override;

  void ItemChanged(TStorageNotifier* sender, TStorageDataItem* item) override;
  void ItemDeleted(TStorageNotifier* sender, TStorageDataItem* item) override;
  void Refiltered(TStorageDataListView* view) override;
  void Refilled(TStorageDataListView* view) override;
  void GroupRemoved(TStorageDataListView* view, TStorageDataGroupItem* group) override;
  void GroupsRebuilt(TStorageDataListView* view) override;
  void Sorted(TStorageDataListView* view, TStorageDataItem* item) override;

 private:
  class TListWatch;
  friend class TListWatch;

  void FollowSearchList();
  void SortSearchCombo();
  void ReportStatus();
  void ObserveCombo(bool on);
  void PrepareLayout(TStorageFieldDefinitionLayoutList& layout);
  void PrepareColumns(std::vector<TResultColumn>& columns);
  void SortOwnColumn(TStorageDataListView& view, TStorageDataItem* item,
                     const TStorageFieldDefinitionLayoutItem& layoutItem);
  void SortCombo();
  void Later(IScheduler::TTimerId& slot, std::function<void()> task);
  void MarkVisited(TResultStorageItem& result);
  void WriteChecks(const std::vector<TResultStorageItem*>& results, bool checked);
  void SelectNavigationFor(const std::string& url);
  void OpenNavigationEntry();
  void StepNavigation(int delta);
  void ForgetResult(const TStorageDataItem* item);
  void ForgetAllResults();
  void ValidateReferences();
  bool AskDelete(const char* text);
  bool RunnerWorksOnHistory() const;
  bool RunnerWorksOnCurrent() const;
  std::string CategoryDisplayName(const std::string& catName) const;
  std::string EngineNames(const TResultStorageItem& result) const;
  std::vector<TStorageDataItem*> NavigationGroupResults(int index) const;

  TResultFrameKind Kind_;
  TAppSearchHistory& History_;
  TPorts Ports_;
  ISearchCatalogue* Catalogue_;
  TQuorinApplication* Runner_;
  std::string EngineCaption_;
  TResultViewFrame View_;
  TResultStorageListView* Combo_ = nullptr;      // "ResultComboView" of the shown results; observed
  TStorageDataListView* SearchCombo_ = nullptr;  // "ComboView" of the history's searches
  std::unique_ptr<TListWatch> Watch_;            // follows the shown result list for dropped results
  TResultStorageList* WatchedList_ = nullptr;
  TGroupByMenuManager GroupBy_;
  TFindContext Find_;
  TResultLayout Mode_ = TResultLayout::rlResults;
  int SplitHeight_ = 0;
  bool Attached_ = false;
  bool Busy_ = false;
  std::vector<size_t> Selection_;
  TResultStorageItem* BrowserResult_ = nullptr;  // the result the browser shows; not owned
  int32_t BrowserKey_ = 0;         // its record key: a reload may put another result at the same address
  std::string NavigationUrl_;      // the address list's entry, by address; empty: none
  bool NavigationChosen_ = false;  // NavigationUrl_ names an entry ("" is a valid address)
  IScheduler::TTimerId NavigationTimer_ = 0;
  IScheduler::TTimerId SelectorRefill_ = 0;
  IScheduler::TTimerId ComboSort_ = 0;
  IScheduler::TTimerId NavigationRefresh_ = 0;
  bool Opening_ = false;  // a layout change made by opening a result does not open the old one
  std::shared_ptr<bool> Alive_ = std::make_shared<bool>(true);  // scheduled tasks check it
};

}  // namespace vandrel

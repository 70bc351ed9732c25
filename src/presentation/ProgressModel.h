// The search progress window as a model: one row per engine of the running search, the overall bar, the
// Hide and Stop rules, and the summary of engine failures at the end of a search.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "presentation/DesktopPorts.h"
#include "search/SearchAction.h"

namespace vandrel {

class ISearchCatalogue;
class TEngineStorageItem;

// One engine's row.
struct TEngineProgressRow {
  TEngineStorageItem* Engine = nullptr;  // the category's stored engine; not owned
  std::string Caption;                   // its display name
  bool Active = false;
  bool Started = false;  // set the first time Active became true, never cleared
  int Progress = 0;      // percent
  int MatchCount = 0;    // records the engine brought so far
  bool HasErrors = false;
  std::string ErrorText;  // empty until the engine reports an error
};

// What the model tells the window. Main thread only.
class IProgressWindow {
 public:
  virtual ~IProgressWindow() = default;
  // The rows were replaced (a new search).
  virtual void RowsReset() = 0;
  virtual void RowChanged(size_t row) = 0;
  // Caption, label, overall bar or Stop button.
  virtual void StateChanged() = 0;
  virtual void SetShown(bool shown) = 0;
};

// What the model asks of the program. Every member may be empty.
struct TProgressContext {
  IProgressWindow* Window = nullptr;
  IScheduler* Scheduler = nullptr;  // defers the end of a search past the action's own notification
  IUserPrompts* Prompts = nullptr;
  std::function<bool()> RunnerIdle;         // the runner's state is idle
  std::function<bool()> RunnerBusy;         // a run of queued searches is under way
  std::function<bool()> StopSearch;         // the kernel's stop, which may ask the user; true: stopping
  std::function<bool()> PromptEngineError;  // the summary is still shown
  std::function<void(bool)> SetPromptEngineError;
  std::function<void(const std::string& url)> OpenUrl;  // in the user's web browser
  // Receives the overall percentage each time it is recomputed (the main window's status bar).
  std::function<void(int percent)> OverallProgress;
};

inline constexpr char kProgressSearching[] = "Searching...";
inline constexpr char kProgressCompleted[] = "Search Completed.";
inline constexpr char kProgressCaption[] = "Search Progress";

// One instance follows every search, from the first to the end of the program. Main thread only.
class TProgressModel : private ISearchActionObserver {
 public:
  explicit TProgressModel(TProgressContext context);
  ~TProgressModel() override;
  TProgressModel(const TProgressModel&) = delete;
  TProgressModel& operator=(const TProgressModel&) = delete;

  // Prepares for `action`, which the runner is running, and listens to it; shows the window. `catalogue`
  // names the category in the caption (null: no name).
  void AttachSearch(TQuorinSearchAction& action, ISearchCatalogue* catalogue);
  // The same for a search known only by its engines and caption texts; returns the observer to add.
  ISearchActionObserver& AttachSearch(const std::vector<TEngineStorageItem*>& engines,
                                      const std::string& categoryName, const std::string& searchText);

  const std::vector<TEngineProgressRow>& Rows() const { return Rows_; }
  int Overall() const { return Overall_; }
  const std::string& Label() const { return Label_; }
  const std::string& Caption() const { return Caption_; }
  bool StopEnabled() const { return StopEnabled_; }
  bool Shown() const { return Shown_; }
  int FinishedCount() const { return static_cast<int>(Finished_.size()); }

  // "Search &Progress" and attaching show it; re-enables Stop while the runner works.
  void Show();
  // "&Hide" only hides.
  void Hide();
  // The title bar's close, "&Stop" and Esc: hides and summarises at once unless the user keeps the search
  // running. False: the window stays.
  bool RequestClose();
  // A click on a row: with Shift the engine's home page, with Ctrl its error text.
  void RowClicked(size_t row, bool shift, bool ctrl);

  // The end-of-search summary text for the rows as they are; empty when none is due.
  std::string SummaryText() const;

 private:
  void ActionFinished() override;
  void SearchStatus(int code, const std::string& text) override;
  void EngineStarted(TEngineStorageItem* engine) override;
  void EngineDone(TEngineStorageItem* engine) override;
  void EngineError(TEngineStorageItem* engine, const std::string& text) override;
  void EngineProgress(TEngineStorageItem* engine, int percent) override;
  void EngineResults(TEngineStorageItem* engine, int count) override;

  int RowOf(const TEngineStorageItem* engine) const;
  void Changed(size_t row);
  void UpdateOverall();
  void PostEndOfSearch();
  void EndOfSearch();
  void Detach();

  TProgressContext Context_;
  std::vector<TEngineProgressRow> Rows_;
  std::set<const TEngineStorageItem*> Finished_;  // engines that reported done in this search
  int Overall_ = 0;                               // 0..100, never lower within one search
  std::string Label_ = kProgressSearching;
  std::string Caption_ = kProgressCaption;
  bool StopEnabled_ = false;
  bool Shown_ = false;
  bool SummaryShown_ = false;
  TQuorinSearchAction* Action_ = nullptr;  // the action listened to; null once it finished
  IScheduler::TTimerId EndTimer_ = 0;      // a pending end of search
};

}  // namespace vandrel

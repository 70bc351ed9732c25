#include "presentation/ProgressModel.h"

#include <algorithm>

#include "actions/AppErrors.h"
#include "platform/Format.h"
#include "search/SearchCatalogue.h"
#include "storage/CategoryStorage.h"
#include "storage/EngineStorage.h"
#include "storage/SearchStorage.h"

namespace vandrel {

TProgressModel::TProgressModel(TProgressContext context) : Context_(std::move(context)) {}

TProgressModel::~TProgressModel() {
  Detach();
  if (EndTimer_ && Context_.Scheduler) Context_.Scheduler->Cancel(EndTimer_);
}

void TProgressModel::Detach() {
  if (Action_) Action_->RemoveObserver(this);
  Action_ = nullptr;
}

void TProgressModel::AttachSearch(TQuorinSearchAction& action, ISearchCatalogue* catalogue) {
  std::string categoryName, searchText;
  if (TSearchStorageItem* search = action.Search()) {
    searchText = search->DisplayValue;
    if (catalogue)
      if (TCategoryStorageItem* category = catalogue->FindCategory(search->CatName))
        categoryName = category->DisplayName;
  }
  ISearchActionObserver& observer = AttachSearch(action.SelectedEngines(), categoryName, searchText);
  Action_ = &action;
  action.AddObserver(&observer);
}

ISearchActionObserver& TProgressModel::AttachSearch(const std::vector<TEngineStorageItem*>& engines,
                                                    const std::string& categoryName,
                                                    const std::string& searchText) {
  Detach();
  // A summary still pending belongs to the search before; it must not count this one's rows.
  if (EndTimer_ && Context_.Scheduler) Context_.Scheduler->Cancel(EndTimer_);
  EndTimer_ = 0;
  Finished_.clear();
  Overall_ = 0;
  Label_ = kProgressSearching;
  Rows_.clear();
  for (TEngineStorageItem* engine : engines) {
    if (!engine) continue;
    TEngineProgressRow row;
    row.Engine = engine;
    row.Caption = engine->DisplayName.empty() ? engine->EngName : engine->DisplayName;
    Rows_.push_back(std::move(row));
  }
  SummaryShown_ = false;
  Caption_ = searchText.empty() && categoryName.empty()
                 ? std::string(kProgressCaption)
                 : Format("Search Progress - %1:s (%0:s)", {categoryName, searchText});
  if (Context_.Window) Context_.Window->RowsReset();
  Show();
  SummaryShown_ = false;
  return *this;
}

void TProgressModel::Show() {
  if (Context_.RunnerIdle) StopEnabled_ = !Context_.RunnerIdle();
  if (Overall_ >= 100) StopEnabled_ = false;
  Shown_ = true;
  if (Context_.Window) {
    Context_.Window->StateChanged();
    Context_.Window->SetShown(true);
  }
}

void TProgressModel::Hide() {
  Shown_ = false;
  if (Context_.Window) Context_.Window->SetShown(false);
}

bool TProgressModel::RequestClose() {
  const bool busy = Context_.RunnerBusy && Context_.RunnerBusy();
  if (busy && !(Context_.StopSearch && Context_.StopSearch())) return false;
  Hide();
  PostEndOfSearch();
  return true;
}

void TProgressModel::RowClicked(size_t row, bool shift, bool ctrl) {
  if (row >= Rows_.size()) return;
  const TEngineProgressRow& r = Rows_[row];
  if (shift) {
    if (r.Engine && !r.Engine->HomePage.empty() && Context_.OpenUrl) Context_.OpenUrl(r.Engine->HomePage);
  } else if (ctrl && !r.ErrorText.empty()) {
    ShowAppError(aeGeneral, {r.ErrorText});
  }
}

int TProgressModel::RowOf(const TEngineStorageItem* engine) const {
  for (size_t i = 0; i < Rows_.size(); ++i)
    if (Rows_[i].Engine == engine) return static_cast<int>(i);
  return -1;
}

void TProgressModel::Changed(size_t row) {
  if (Context_.Window) Context_.Window->RowChanged(row);
}

void TProgressModel::ActionFinished() {
  Detach();
  PostEndOfSearch();
}

void TProgressModel::SearchStatus(int code, const std::string& text) {
  Hide();
  ShowAppError(aeSearchError, {text, code});
}

void TProgressModel::EngineStarted(TEngineStorageItem* engine) {
  const int i = engine ? RowOf(engine) : -1;
  if (i < 0) return;
  TEngineProgressRow& row = Rows_[static_cast<size_t>(i)];
  if (row.Active) return;
  row.Active = row.Started = true;
  Changed(static_cast<size_t>(i));
}

void TProgressModel::EngineDone(TEngineStorageItem* engine) {
  if (!engine) return;
  if (const int i = RowOf(engine); i >= 0 && Rows_[static_cast<size_t>(i)].Active) {
    Rows_[static_cast<size_t>(i)].Active = false;
    Changed(static_cast<size_t>(i));
  }
  // An engine told done twice is still one finished engine.
  Finished_.insert(engine);
  UpdateOverall();
}

void TProgressModel::EngineError(TEngineStorageItem* engine, const std::string& text) {
  const int i = engine ? RowOf(engine) : -1;
  if (i < 0) return;
  TEngineProgressRow& row = Rows_[static_cast<size_t>(i)];
  row.HasErrors = true;
  row.ErrorText = text;
  Changed(static_cast<size_t>(i));
}

void TProgressModel::EngineProgress(TEngineStorageItem* engine, int percent) {
  const int i = engine ? RowOf(engine) : -1;
  if (i < 0 || Rows_[static_cast<size_t>(i)].Progress == percent) return;
  Rows_[static_cast<size_t>(i)].Progress = percent;
  Changed(static_cast<size_t>(i));
}

void TProgressModel::EngineResults(TEngineStorageItem* engine, int count) {
  const int i = engine ? RowOf(engine) : -1;
  if (i < 0 || Rows_[static_cast<size_t>(i)].MatchCount == count) return;
  Rows_[static_cast<size_t>(i)].MatchCount = count;
  Changed(static_cast<size_t>(i));
}

void TProgressModel::UpdateOverall() {
  if (Rows_.empty()) return;
  // Engines without a row also finish, so the share may pass the rows; the bar stays within 0..100 and a
  // late recount never moves it back.
  const int position = std::min(100, static_cast<int>(Finished_.size() * 100 / Rows_.size()));
  Overall_ = std::max(Overall_, position);
  if (Overall_ == 100) {
    Label_ = kProgressCompleted;
    StopEnabled_ = false;
  }
  if (Context_.Window) Context_.Window->StateChanged();
  if (Context_.OverallProgress) Context_.OverallProgress(Overall_);
}

void TProgressModel::PostEndOfSearch() {
  if (!Context_.Scheduler) {
    EndOfSearch();
    return;
  }
  if (EndTimer_) Context_.Scheduler->Cancel(EndTimer_);
  EndTimer_ = Context_.Scheduler->Schedule(0, [this] {
    EndTimer_ = 0;
    EndOfSearch();
  });
}

std::string TProgressModel::SummaryText() const {
  int errors = 0;
  bool differing = false;
  std::string last;
  int active = 0;
  for (const TEngineProgressRow& row : Rows_) {
    if (row.Active) ++active;
    if (row.ErrorText.empty()) continue;
    ++errors;
    if (!last.empty() && row.ErrorText != last) differing = true;
    last = row.ErrorText;
  }
  const int ran = FinishedCount() + active;
  if (errors < 1 || errors != ran) return {};
  if (differing) return Format("%0:d error(s) occurred", {errors});
  return Format("The following error occurred while searching on %1:d engine(s):\r\n%0:s.", {last, errors});
}

void TProgressModel::EndOfSearch() {
  if (!SummaryShown_) {
    SummaryShown_ = true;
    const std::string text = SummaryText();
    if (!text.empty() && Context_.Prompts && Context_.PromptEngineError) {
      bool ask = Context_.PromptEngineError();
      AskUnderFlag(*Context_.Prompts, ask, {"", text, TPromptIcon::piWarning}, TPromptAnswer::paOk);
      if (Context_.SetPromptEngineError) Context_.SetPromptEngineError(ask);
    }
  }
  Hide();
}

}  // namespace vandrel

#include "presentation/ResultFrameController.h"

#include <algorithm>
#include <cstring>

#include "platform/DateTime.h"
#include "platform/Format.h"
#include "platform/TextUtils.h"
#include "presentation/ResultFilters.h"
#include "search/SearchCatalogue.h"
#include "storage/CategoryStorage.h"
#include "storage/EngineStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {

namespace {

constexpr const char* kPromptCaption = "Vandrel Shopper";
constexpr size_t kBusyCheckRows = 30;  // toggling this many check marks shows the busy cursor
constexpr int32_t kButtonColumnWidth = 21;
constexpr int32_t kCheckColumnWidth = 20;
constexpr const char* kCheckCaption = "Check Marked State";

// ORDER: the header menu's entries; ChooseHeaderMenu goes by these positions.
enum THeaderEntry : size_t {
  heSortAscending,
  heSortDescending,
  heSeparator1,
  heGroupBy,
  heNoGroup,
  heSeparator2,
  heRemoveColumn,
  heColumns,
  heBestFit,
  heAppearance
};

// ORDER: the search menu's entries; ChooseSearchMenu goes by these positions.
enum TSearchEntry : size_t {
  seNewSearch,
  seFindReviews,
  seFindPrices,
  seSeparator1,
  seModify,
  seDuplicate,
  seUpdate,
  seSeparator2,
  seDelete
};

class TBusyCursor {
 public:
  TBusyCursor(IResultListWidget& widget, bool on) : Widget_(widget), On_(on) {
    if (On_) Widget_.SetBusy(true);
  }
  ~TBusyCursor() {
    if (On_) Widget_.SetBusy(false);
  }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;

 private:
  IResultListWidget& Widget_;
  bool On_;
};

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

TResultStorageItem* AsResult(TStorageDataItem* item) {
  return static_cast<TResultStorageItem*>(item);
}

std::string FieldText(const TResultStorageFieldItem* field) {
  if (!field) return {};
  return field->DisplayValue().empty() ? field->Value().AsString() : field->DisplayValue();
}

std::string DateText(double date) {
  TDateParts d;
  TTimeParts t;
  DecodeDateTime(date, d, t);
  return Format(
      "%0:s-%1:s-%2:s %3:s:%4:s",
      {std::to_string(d.Year), (d.Month < 10 ? "0" : "") + std::to_string(d.Month),
       (d.Day < 10 ? "0" : "") + std::to_string(d.Day), (t.Hour < 10 ? "0" : "") + std::to_string(t.Hour),
       (t.Minute < 10 ? "0" : "") + std::to_string(t.Minute)});
}

}  // namespace

// Follows the shown result list, so that a dropped result stops being the browser's result.
class TResultFrameController::TListWatch : public IStorageDataListObserver {
 public:
  explicit TListWatch(TResultFrameController& owner) : Owner_(owner) {}
  void ItemChanged(TStorageNotifier*, TStorageDataItem* item) override {
    if (!item) {
      Owner_.ValidateReferences();
      return;
    }
    if (AsResult(item)->HasFilterState(rfsDeleted)) Owner_.ForgetResult(item);
  }
  void ItemDeleted(TStorageNotifier*, TStorageDataItem* item) override { Owner_.ForgetResult(item); }

 private:
  TResultFrameController& Owner_;
};

TResultFrameController::TResultFrameController(TResultFrameKind kind, TAppSearchHistory& history,
                                               TPorts ports, ISearchCatalogue* catalogue,
                                               TQuorinApplication* runner)
    : Kind_(kind),
      History_(history),
      Ports_(ports),
      Catalogue_(catalogue),
      Runner_(runner),
      EngineCaption_(kind == TResultFrameKind::rfkPrices ? "Store" : "Reviewed by"),
      View_(ports.List),
      Watch_(std::make_unique<TListWatch>(*this)) {
  // The address list's grouping and the stored filters and groups must be readable.
  RegisterPresentationClasses();
  View_.Runner = runner;
  View_.OnLayoutCreate = [this](TStorageFieldDefinitionLayoutList& layout) { PrepareLayout(layout); };
  View_.OnLayoutPrepare = [this](std::vector<TResultColumn>& columns) { PrepareColumns(columns); };
  View_.OnLayoutDefaultSortDirection = [](const TResultColumn& column) {
    return SameText(column.FieldName, kCheckColumn) || SameText(column.FieldName, "SCORE")
               ? TStorageLayoutSortDirection::sdDescending
               : TStorageLayoutSortDirection::sdAscending;
  };
  View_.OnSort = [this](TStorageDataItem* item, const TStorageFieldDefinitionLayoutItem& layoutItem) {
    if (View_.View()) SortOwnColumn(*View_.View(), item, layoutItem);
  };
  View_.ConfirmDelete = [this](size_t) {
    return AskDelete(Selection_.size() > 1 ? kDeleteResults : kDeleteResult);
  };
  Find_.OnFound = [this](TFindContext&, TStorageDataItem* item) {
    if (Mode_ == TResultLayout::rlBrowser) {
      OpenResult(AsResult(item), false);
      return;
    }
    TResultStorageListView* view = View_.View();
    const int row = view ? view->ItemRow(item) : -1;
    if (row < 0) return;
    SetSelection({static_cast<size_t>(row)});
    if (OnShowRow) OnShowRow(static_cast<size_t>(row));
  };
  Find_.OnFinished = [this](TFindContext&, const std::string&) {
    TPrompt prompt;
    prompt.Caption = kPromptCaption;
    prompt.Text = kFindFinished;
    Ports_.Prompts.Ask(prompt);
  };
}

TResultFrameController::~TResultFrameController() {
  *Alive_ = false;
  for (IScheduler::TTimerId id : {NavigationTimer_, SelectorRefill_, ComboSort_, NavigationRefresh_})
    if (id) Ports_.Scheduler.Cancel(id);
  Detach();
}

void TResultFrameController::Later(IScheduler::TTimerId& slot, std::function<void()> task) {
  if (slot) return;
  std::weak_ptr<bool> alive = Alive_;
  IScheduler::TTimerId* at = &slot;
  slot = Ports_.Scheduler.Schedule(0, [alive, at, task = std::move(task)] {
    auto still = alive.lock();
    if (!still || !*still) return;
    *at = 0;
    task();
  });
}

void TResultFrameController::Attach() {
  if (Attached_) return;
  Attached_ = true;
  Mode_ = TResultLayout::rlResults;
  History_.AddObserver(this);
  if (Runner_) {
    Runner_->AddObserver(this);
    Busy_ = Runner_->IsBusy();
  }
  View_.SetHistoryItem(History_.Item());
  FollowSearchList();
  SearchChanged(History_, History_.CurrentSearch());
}

void TResultFrameController::Detach() {
  if (!Attached_) return;
  Attached_ = false;
  History_.RemoveObserver(this);
  if (Runner_) Runner_->RemoveObserver(this);
  ObserveCombo(false);
  if (SearchCombo_) SearchCombo_->RemoveObserver(this);
  SearchCombo_ = nullptr;
  Find_.Bind(nullptr);
  GroupBy_.Attach(nullptr, nullptr, {});
  View_.SetHistoryItem(nullptr);
  ForgetAllResults();
}

void TResultFrameController::FollowSearchList() {
  ISearchHistoryItemIntf* item = History_.Item();
  if (!item) return;
  TStorageDataListView* combo = item->GetSearches().GetView(kSearchComboViewName);
  if (combo != SearchCombo_) {
    if (SearchCombo_) SearchCombo_->RemoveObserver(this);
    SearchCombo_ = combo;
    SearchCombo_->AddObserver(this);
  }
  SortSearchCombo();
}

void TResultFrameController::SortSearchCombo() {
  if (!SearchCombo_) return;
  SearchCombo_->Sort([](TStorageDataItem* a, TStorageDataItem* b) {
    const double da = static_cast<TSearchStorageItem*>(a)->AccessDate;
    const double db = static_cast<TSearchStorageItem*>(b)->AccessDate;
    return da > db ? -1 : (da < db ? 1 : 0);
  });
}

// ---- the search selector ----

std::string TResultFrameController::CategoryDisplayName(const std::string& catName) const {
  TCategoryStorageItem* category = Catalogue_ ? Catalogue_->FindCategory(catName) : nullptr;
  return category ? category->DisplayName : std::string();
}

std::vector<std::string> TResultFrameController::SelectorItems() const {
  std::vector<std::string> items;
  if (!SearchCombo_) return items;
  for (size_t i = 0; i < SearchCombo_->Count(); ++i) {
    const auto* search = static_cast<const TSearchStorageItem*>(SearchCombo_->Item(i));
    items.push_back(Format("%0:s  (%1:s)", {search->DisplayValue, CategoryDisplayName(search->CatName)}));
  }
  return items;
}

int TResultFrameController::SelectorIndex() const {
  TSearchStorageItem* current = History_.CurrentSearch();
  return current && SearchCombo_ ? SearchCombo_->IndexOf(current) : -1;
}

std::string TResultFrameController::SelectorText() const {
  const int at = SelectorIndex();
  if (at < 0) return kNoSearch;
  return SelectorItems()[static_cast<size_t>(at)];
}

TSearchStorageItem* TResultFrameController::SearchAtSelector(size_t index) const {
  if (!SearchCombo_ || index >= SearchCombo_->Count()) return nullptr;
  return static_cast<TSearchStorageItem*>(SearchCombo_->Item(index));
}

void TResultFrameController::ChooseSearch(size_t index) {
  if (TSearchStorageItem* search = SearchAtSelector(index)) History_.SetCurrentSearch(search);
}

// ---- history notifications ----

void TResultFrameController::SearchChanging(TAppSearchHistory&) {
  ObserveCombo(false);
  Combo_ = nullptr;
  Find_.Bind(nullptr);
  GroupBy_.Attach(nullptr, nullptr, {});
  View_.SetResultItem(nullptr);
  ForgetAllResults();
  Selection_.clear();
  if (OnNavigationChanged) OnNavigationChanged();
}

void TResultFrameController::SearchChanged(TAppSearchHistory&, TSearchStorageItem* search) {
  std::shared_ptr<ISearchHistoryResultItemIntf> item =
      search && History_.Item() ? History_.Item()->GetResultItem(search) : nullptr;
  View_.SetResultItem(item);
  if (item) {
    TResultStorageList& results = item->GetResults();
    Combo_ = results.FindResultView(kComboViewName);
    if (!Combo_) {
      Combo_ = results.GetResultView(kComboViewName);
      Combo_->SaveFilters = true;
      Combo_->SaveGroups = true;
    }
    if (!Combo_->GroupDefinition()) {
      Combo_->SetGroupDefinition(std::make_unique<TUrlGroupDefinition>());
      Combo_->SetGrouped(true);
    }
    if (!Combo_->FindNextFilter(TResultStorageDefaultFilterItem::StaticClass(), nullptr))
      Combo_->AddFilter(std::make_unique<TResultStorageDefaultFilterItem>());
    ObserveCombo(true);
    WatchedList_ = &results;
    results.AddObserver(Watch_.get());
    Later(ComboSort_, [this] { SortCombo(); });
  }
  Later(SelectorRefill_, [this] {
    if (OnSelectorChanged) OnSelectorChanged();
  });
  Find_.Bind(Mode_ == TResultLayout::rlBrowser ? Combo_ : View_.View());
  Find_.OnePerGroup = Mode_ == TResultLayout::rlBrowser;
  Find_.SetSearchType(View_.SearchType());
  GroupBy_.Attach(View_.View(), View_.SearchType(), search ? search->CatName : std::string());
  NavigationChosen_ = false;
  NavigationUrl_.clear();
  if (Mode_ == TResultLayout::rlBrowser && Combo_ && Combo_->GroupCount() > 0) {
    if (const auto* first = dynamic_cast<TUrlGroupItem*>(Combo_->Group(0))) {
      NavigationUrl_ = first->Url;
      NavigationChosen_ = true;
    }
  }
  if (OnNavigationChanged) OnNavigationChanged();
  ReportStatus();
  if (OnEnablingChanged) OnEnablingChanged();
}

void TResultFrameController::SearchAdded(TAppSearchHistory&, TSearchStorageItem* search) {
  SortSearchCombo();
  Later(SelectorRefill_, [this] {
    if (OnSelectorChanged) OnSelectorChanged();
  });
  if (Kind_ != TResultFrameKind::rfkPrices || !search || !History_.Item()) return;
  // New price searches start with normal delivery chosen.
  auto item = History_.Item()->GetResultItem(search);
  if (!item) return;
  TResultStorageList& results = item->GetResults();
  for (const char* name : {kResultViewFrameName, kComboViewName}) {
    TResultStorageListView* view = results.FindResultView(name);
    if (!view) {
      view = results.GetResultView(name);
      view->SaveFilters = true;
      view->SaveGroups = true;
    }
    if (!FindFilter<TShippingFilter>(*view)) {
      auto filter = std::make_unique<TShippingFilter>();
      filter->SetMode(TShippingFilterMode::smBestDeals);
      view->AddFilter(std::move(filter));
    }
  }
}

void TResultFrameController::ResultsReloading(TAppSearchHistory&) {
  // Reloading replaces every result object: nothing may keep pointing at the old ones.
  ForgetAllResults();
  Selection_.clear();
  View_.SetSelection({});
}

void TResultFrameController::ResultsReloaded(TAppSearchHistory&) {
  // A back end that kept no filters for a view gives it back without any: removed results stay hidden.
  for (TStorageDataListView* view :
       {static_cast<TStorageDataListView*>(View_.View()), static_cast<TStorageDataListView*>(Combo_)})
    if (view && !view->FindNextFilter(TResultStorageDefaultFilterItem::StaticClass(), nullptr))
      view->AddFilter(std::make_unique<TResultStorageDefaultFilterItem>());
  ReportStatus();
  if (OnNavigationChanged) OnNavigationChanged();
}

// ---- runner notifications ----

void TResultFrameController::ListOpened(const void* owner, TStorageDataList* list) {
  if (!History_.Item() || owner != History_.Item()) return;
  if (dynamic_cast<TSearchStorageList*>(list)) {
    FollowSearchList();
    Later(SelectorRefill_, [this] {
      if (OnSelectorChanged) OnSelectorChanged();
    });
    return;
  }
  if (auto* results = dynamic_cast<TResultStorageList*>(list))
    if (!results->FindResultView(kComboViewName)) {
      TResultStorageListView* view = results->GetResultView(kComboViewName);
      view->SaveFilters = true;
      view->SaveGroups = true;
    }
}

void TResultFrameController::ActionFinished(TQuorinAction&) {
  // However the action ended (finished, stopped, failed, nothing found), the selector, the count and the
  // enabling rules are read again from the history.
  SortSearchCombo();
  Later(SelectorRefill_, [this] {
    if (OnSelectorChanged) OnSelectorChanged();
  });
  ValidateReferences();
  ReportStatus();
  if (OnNavigationChanged) OnNavigationChanged();
  if (OnEnablingChanged) OnEnablingChanged();
}

void TResultFrameController::Busy() {
  Busy_ = true;
  if (OnEnablingChanged) OnEnablingChanged();
}

void TResultFrameController::Idle() {
  Busy_ = false;
  Later(SelectorRefill_, [this] {
    if (OnSelectorChanged) OnSelectorChanged();
  });
  ReportStatus();
  if (OnEnablingChanged) OnEnablingChanged();
}

// ---- view notifications (combo view, result view, search combo view) ----

void TResultFrameController::ObserveCombo(bool on) {
  TResultStorageListView* view = View_.View();
  if (on) {
    if (Combo_) Combo_->AddObserver(this);
    if (view) view->AddObserver(this);
    return;
  }
  if (Combo_) Combo_->RemoveObserver(this);
  if (view) view->RemoveObserver(this);
  if (WatchedList_) WatchedList_->RemoveObserver(Watch_.get());
  WatchedList_ = nullptr;
}

void TResultFrameController::ItemChanged(TStorageNotifier* sender, TStorageDataItem* item) {
  if (sender == SearchCombo_) {
    if (!RunnerWorksOnHistory())
      Later(SelectorRefill_, [this] {
        if (OnSelectorChanged) OnSelectorChanged();
      });
    return;
  }
  if (sender == Combo_) {
    Later(NavigationRefresh_, [this] {
      if (OnNavigationChanged) OnNavigationChanged();
    });
    return;
  }
  if (sender == View_.View() && !item) ReportStatus();
}

void TResultFrameController::ItemDeleted(TStorageNotifier* sender, TStorageDataItem* item) {
  if (sender != SearchCombo_) {
    if (sender == Combo_)
      Later(NavigationRefresh_, [this] {
        if (OnNavigationChanged) OnNavigationChanged();
      });
    return;
  }
  // A search that goes while shown hands over to its neighbour: the one after it, else the one before.
  if (item == History_.CurrentSearch()) {
    const int at = SearchCombo_->IndexOf(item);
    TSearchStorageItem* next = nullptr;
    if (at >= 0 && static_cast<size_t>(at) + 1 < SearchCombo_->Count())
      next = static_cast<TSearchStorageItem*>(SearchCombo_->Item(static_cast<size_t>(at) + 1));
    else if (at > 0)
      next = static_cast<TSearchStorageItem*>(SearchCombo_->Item(static_cast<size_t>(at) - 1));
    History_.SetCurrentSearch(next);
  }
  Later(SelectorRefill_, [this] {
    if (OnSelectorChanged) OnSelectorChanged();
  });
}

void TResultFrameController::Refiltered(TStorageDataListView* view) {
  if (view == Combo_)
    Later(NavigationRefresh_, [this] {
      if (OnNavigationChanged) OnNavigationChanged();
    });
  if (view == View_.View()) ReportStatus();
}

void TResultFrameController::Refilled(TStorageDataListView* view) {
  Refiltered(view);
}

void TResultFrameController::GroupRemoved(TStorageDataListView* view, TStorageDataGroupItem*) {
  if (view == Combo_)
    Later(NavigationRefresh_, [this] {
      if (OnNavigationChanged) OnNavigationChanged();
    });
}

void TResultFrameController::GroupsRebuilt(TStorageDataListView* view) {
  GroupRemoved(view, nullptr);
}

void TResultFrameController::Sorted(TStorageDataListView* view, TStorageDataItem*) {
  if (view == View_.View() && Combo_) Later(ComboSort_, [this] { SortCombo(); });
}

void TResultFrameController::SortCombo() {
  TSearchTypeStorageItem* type = View_.SearchType();
  if (!Combo_ || !type) return;
  const TStorageFieldDefinitionLayoutItem* sorted = SortedLayoutItem(*type);
  if (!sorted) return;
  TBusyCursor busy(Ports_.List, Combo_->Count() > 99);
  if (!SortByLayout(*Combo_, *type)) SortOwnColumn(*Combo_, nullptr, *sorted);
}

void TResultFrameController::ReportStatus() {
  TResultStorageListView* view = View_.View();
  if (OnStatus) OnStatus(view ? view->Count() : 0, Selection_.size());
}

// ---- columns ----

TFrameColumnKind TResultFrameController::ColumnKind(const std::string& fieldName) {
  if (SameText(fieldName, kReviewButtonColumn)) return TFrameColumnKind::fckReviewButton;
  if (SameText(fieldName, kCompareButtonColumn)) return TFrameColumnKind::fckCompareButton;
  if (SameText(fieldName, kCheckColumn)) return TFrameColumnKind::fckCheck;
  if (SameText(fieldName, kEngineColumn)) return TFrameColumnKind::fckEngine;
  return TFrameColumnKind::fckField;
}

void TResultFrameController::PrepareLayout(TStorageFieldDefinitionLayoutList& layout) {
  auto missing = [&layout](const char* name) { return layout.IndexOfName(name) < 0; };
  TStorageFieldDefinitionLayoutList ordered;
  auto add = [&ordered](const std::string& name, TStorageFieldType type, int32_t width,
                        const std::string& displayName) {
    auto* item = static_cast<TStorageFieldDefinitionLayoutItem*>(ordered.Add());
    item->Name = name;
    item->FieldType = type;
    item->DisplayName = displayName;
    item->Layout.Width = width;
  };
  if (missing(kReviewButtonColumn))
    add(kReviewButtonColumn, TStorageFieldType::ftInteger, kButtonColumnWidth, {});
  if (missing(kCompareButtonColumn))
    add(kCompareButtonColumn, TStorageFieldType::ftInteger, kButtonColumnWidth, {});
  if (missing(kCheckColumn))
    add(kCheckColumn, TStorageFieldType::ftInteger, kCheckColumnWidth, kCheckCaption);
  for (size_t i = 0; i < layout.Count(); ++i) {
    const TStorageFieldDefinitionLayoutItem& from = *layout.LayoutItem(i);
    auto* item = static_cast<TStorageFieldDefinitionLayoutItem*>(ordered.Add());
    item->Name = from.Name;
    item->DisplayName = from.DisplayName;
    item->FieldType = from.FieldType;
    item->Layout.Assign(from.Layout);
  }
  if (missing(kEngineColumn)) add(kEngineColumn, TStorageFieldType::ftString, 0, EngineCaption_);
  layout.Assign(ordered);
}

void TResultFrameController::PrepareColumns(std::vector<TResultColumn>& columns) {
  TSearchTypeStorageItem* type = View_.SearchType();
  for (TResultColumn& column : columns) {
    switch (ColumnKind(column.FieldName)) {
      case TFrameColumnKind::fckEngine:
        column.Caption = EngineCaption_;
        continue;
      case TFrameColumnKind::fckField:
        break;
      default:
        continue;
    }
    const auto* d = type ? type->OutputFieldDefinitions.FindOutput(column.FieldName) : nullptr;
    if (!d || !(d->Layout.Flags & lfGraphicalDisplay)) continue;
    column.ProgressBar = Ports_.Settings.UseGraphScores();
    column.Alignment = column.ProgressBar ? TAlignment::taCenter : TAlignment::taRightJustify;
  }
}

std::string TResultFrameController::EngineNames(const TResultStorageItem& result) const {
  TSearchStorageItem* search = History_.CurrentSearch();
  TEngineStorageList* engines = Catalogue_ && search ? Catalogue_->CategoryEngines(search->CatName) : nullptr;
  if (engines) return engines->DisplayNames(result.FoundBy.Lines, ", ");
  std::string names;
  for (const std::string& name : result.FoundBy.Lines) names += (names.empty() ? "" : ", ") + name;
  return names;
}

std::string TResultFrameController::CellText(const TResultRow& row, size_t column) const {
  if (row.IsGroup) return column == 0 && !row.Texts.empty() ? row.Texts[0] : std::string();
  const auto& columns = View_.Columns();
  if (column >= columns.size() || !row.Result) return {};
  switch (ColumnKind(columns[column].FieldName)) {
    case TFrameColumnKind::fckEngine:
      return EngineNames(*row.Result);
    case TFrameColumnKind::fckField:
      return column < row.Texts.size() ? row.Texts[column] : std::string();
    default:
      return {};
  }
}

bool TResultFrameController::RowChecked(size_t row) const {
  const TResultStorageItem* result = ResultAt(row);
  return result && result->Checked;
}

void TResultFrameController::SortOwnColumn(TStorageDataListView& view, TStorageDataItem* item,
                                           const TStorageFieldDefinitionLayoutItem& layoutItem) {
  const int sign = layoutItem.Layout.SortDirection == TStorageLayoutSortDirection::sdDescending ? -1 : 1;
  TItemCompare compare;
  switch (ColumnKind(layoutItem.Name)) {
    case TFrameColumnKind::fckEngine:
      compare = [sign](TStorageDataItem* a, TStorageDataItem* b) {
        const std::string ta = JoinLines(AsResult(a)->FoundBy.Lines);
        const std::string tb = JoinLines(AsResult(b)->FoundBy.Lines);
        const int c = std::strcoll(ta.c_str(), tb.c_str());
        return sign * (c < 0 ? -1 : (c > 0 ? 1 : 0));
      };
      break;
    case TFrameColumnKind::fckCheck:
      compare = [sign](TStorageDataItem* a, TStorageDataItem* b) {
        return sign * (static_cast<int>(AsResult(a)->Checked) - static_cast<int>(AsResult(b)->Checked));
      };
      break;
    default:
      return;  // the button columns and unknown columns keep the order
  }
  if (item)
    view.Reposition(item, compare);
  else
    view.Sort(compare);
}

// ---- layouts ----

int TResultFrameController::ResultPartHeight(int frameHeight) const {
  if (Mode_ == TResultLayout::rlResults) return frameHeight;
  if (Mode_ == TResultLayout::rlBrowser) return 0;
  return SplitHeight_ > 0 && SplitHeight_ < frameHeight ? SplitHeight_ : frameHeight / 3;
}

void TResultFrameController::SetMode(TResultLayout mode) {
  if (mode == Mode_) return;
  const TResultLayout old = Mode_;
  std::vector<TResultStorageItem*> selectedBefore = SelectedResults();
  Mode_ = mode;
  const bool browserOnly = mode == TResultLayout::rlBrowser;
  Find_.Bind(browserOnly ? Combo_ : View_.View());
  Find_.SetSearchType(View_.SearchType());
  Find_.OnePerGroup = browserOnly;
  if (old == TResultLayout::rlBrowser) {
    // Back to the list: its selection follows the address list's entry.
    for (TStorageDataItem* item : NavigationGroupResults(NavigationIndex())) {
      TResultStorageListView* view = View_.View();
      const int row = view ? view->ItemRow(item) : -1;
      if (row < 0) continue;
      SetSelection({static_cast<size_t>(row)});
      if (OnShowRow) OnShowRow(static_cast<size_t>(row));
      break;
    }
  } else if (browserOnly) {
    NavigationChosen_ = false;
    if (Combo_ && Combo_->GroupCount() > 0) {
      std::string url;
      if (!selectedBefore.empty())
        url = ResultAddress(*selectedBefore.front());
      else if (const auto* first = dynamic_cast<TUrlGroupItem*>(Combo_->Group(0)))
        url = first->Url;
      SelectNavigationFor(url);
      if (!NavigationChosen_)
        if (const auto* first = dynamic_cast<TUrlGroupItem*>(Combo_->Group(0)))
          SelectNavigationFor(first->Url);
    }
    if (OnNavigationChanged) OnNavigationChanged();
  }
  if (old == TResultLayout::rlResults) {
    Ports_.Settings.SetDefaultBrowserLayout(static_cast<int>(mode));
    if (!Opening_ && !selectedBefore.empty()) OpenResult(selectedBefore.front(), false);
  }
  if (OnModeChanged) OnModeChanged(mode);
}

// ---- selection, opening, check marks ----

void TResultFrameController::SetSelection(std::vector<size_t> rows) {
  Selection_ = std::move(rows);
  View_.SetSelection(Selection_);
  ReportStatus();
}

TResultStorageItem* TResultFrameController::ResultAt(size_t row) const {
  TResultStorageListView* view = View_.View();
  if (!view || row >= view->RowCount()) return nullptr;
  return AsResult(view->RowItem(row));
}

std::vector<TResultStorageItem*> TResultFrameController::SelectedResults() const {
  std::vector<TResultStorageItem*> results;
  for (size_t row : Selection_)
    if (TResultStorageItem* result = ResultAt(row)) results.push_back(result);
  return results;
}

void TResultFrameController::MarkVisited(TResultStorageItem& result) {
  TStorageDataList* list = result.Owner();
  result.Visited = true;
  result.VisitedDate = Now();
  if (!list) return;
  // A running search rewrites the list: the mark joins its transaction.
  if (list->State() == lsRewriting) {
    result.Changed();
    return;
  }
  if (list->InTransaction()) return;
  list->BeginTransaction(lsUpdating, kResultUpdateVisited);
  result.Changed();
  list->EndTransaction();
}

void TResultFrameController::OpenResult(TResultStorageItem* result, bool newWindow) {
  if (!newWindow && Mode_ == TResultLayout::rlResults) {
    Opening_ = true;
    SetMode(TResultLayout::rlResultsAndBrowser);
    Opening_ = false;
  }
  std::string url = result ? ResultAddress(*result) : std::string();
  if (result && !url.empty()) MarkVisited(*result);
  if (url.empty()) url = "about:blank";
  if (newWindow) {
    if (OpenExternally) OpenExternally(url);
    return;
  }
  BrowserResult_ = result;
  BrowserKey_ = result ? result->Index() : 0;
  if (result) SelectNavigationFor(ResultAddress(*result));
  if (Navigate) Navigate(url);
}

void TResultFrameController::OpenSelected(bool newWindow) {
  std::vector<TResultStorageItem*> results = SelectedResults();
  if (results.empty()) return;
  if (!newWindow) {
    OpenResult(results.front(), false);
    return;
  }
  for (TResultStorageItem* result : results) OpenResult(result, true);
}

bool TResultFrameController::ClickCell(size_t row, size_t column, bool overLink) {
  const auto& columns = View_.Columns();
  TResultStorageItem* result = ResultAt(row);
  if (!result || column >= columns.size()) return false;
  switch (ColumnKind(columns[column].FieldName)) {
    case TFrameColumnKind::fckCheck:
      WriteChecks({result}, !result->Checked);
      return true;
    case TFrameColumnKind::fckReviewButton:
    case TFrameColumnKind::fckCompareButton:
      if (!RunnerIdle()) return false;
      FindFor(result, ColumnKind(columns[column].FieldName) == TFrameColumnKind::fckReviewButton);
      return true;
    default:
      break;
  }
  if ((columns[column].Style == TColumnTextStyle::Link && overLink) || Ports_.Settings.SingleClickOpen()) {
    OpenResult(result, false);
    return true;
  }
  return false;
}

void TResultFrameController::DoubleClickRow(size_t row, size_t column) {
  TResultStorageListView* view = View_.View();
  if (!view || row >= view->RowCount()) return;
  if (!view->RowItem(row)) {
    const TStorageDataGroupItem* group = view->RowGroup(row);
    View_.SetGroupExpanded(row, !(group && group->Expanded()));
    return;
  }
  const auto& columns = View_.Columns();
  if (column < columns.size() && ColumnKind(columns[column].FieldName) != TFrameColumnKind::fckField &&
      ColumnKind(columns[column].FieldName) != TFrameColumnKind::fckEngine)
    return;
  OpenResult(ResultAt(row), false);
}

void TResultFrameController::WriteChecks(const std::vector<TResultStorageItem*>& results, bool checked) {
  if (results.empty()) return;
  TStorageDataList* list = results.front()->Owner();
  if (!list) return;
  if (list->State() == lsRewriting) {
    for (TResultStorageItem* result : results) {
      result->Checked = checked;
      result->Changed();
    }
    return;
  }
  if (list->InTransaction()) return;
  list->PendingValue = TDynamicValue(checked);
  list->BeginTransaction(lsSettingField, kResultSetChecked);
  for (TResultStorageItem* result : results) result->Changed();
  list->EndTransaction();
}

void TResultFrameController::ToggleChecks() {
  std::vector<TResultStorageItem*> toCheck, toUncheck;
  for (TResultStorageItem* result : SelectedResults())
    (result->Checked ? toUncheck : toCheck).push_back(result);
  if (toCheck.empty() && toUncheck.empty()) return;
  TBusyCursor busy(Ports_.List, toCheck.size() + toUncheck.size() >= kBusyCheckRows);
  WriteChecks(toCheck, true);
  WriteChecks(toUncheck, false);
  TResultStorageItem* last = !toUncheck.empty() ? toUncheck.back() : toCheck.back();
  TResultStorageListView* view = View_.View();
  Ports_.List.RedrawAll();
  if (const int row = view ? view->ItemRow(last) : -1; row >= 0)
    Ports_.List.ScrollIntoView(static_cast<size_t>(row));
}

// ---- the address list ----

std::vector<std::string> TResultFrameController::NavigationItems() const {
  if (!Combo_ || Combo_->GroupCount() == 0) return {kNoResult};
  std::vector<std::string> items;
  for (size_t i = 0; i < Combo_->GroupCount(); ++i)
    items.push_back(std::to_string(i + 1) + ". " + Combo_->Group(i)->GetCaption());
  return items;
}

int TResultFrameController::NavigationIndex() const {
  if (!NavigationChosen_ || !Combo_) return -1;
  for (size_t i = 0; i < Combo_->GroupCount(); ++i)
    if (const auto* group = dynamic_cast<const TUrlGroupItem*>(Combo_->Group(i)))
      if (group->Url == NavigationUrl_) return static_cast<int>(i);
  return -1;
}

std::vector<TStorageDataItem*> TResultFrameController::NavigationGroupResults(int index) const {
  if (!Combo_ || index < 0 || static_cast<size_t>(index) >= Combo_->GroupCount()) return {};
  return Combo_->Group(static_cast<size_t>(index))->Items;
}

void TResultFrameController::SelectNavigationFor(const std::string& url) {
  if (!Combo_) return;
  for (size_t i = 0; i < Combo_->GroupCount(); ++i)
    if (const auto* group = dynamic_cast<const TUrlGroupItem*>(Combo_->Group(i));
        group && group->Url == url) {
      NavigationUrl_ = url;
      NavigationChosen_ = true;
      if (OnNavigationChanged) OnNavigationChanged();
      return;
    }
}

void TResultFrameController::OpenNavigationEntry() {
  std::vector<TStorageDataItem*> results = NavigationGroupResults(NavigationIndex());
  if (!results.empty()) OpenResult(AsResult(results.front()), false);
}

void TResultFrameController::ChooseNavigation(size_t index) {
  if (!Combo_ || index >= Combo_->GroupCount()) return;
  const auto* group = dynamic_cast<const TUrlGroupItem*>(Combo_->Group(index));
  if (!group) return;
  NavigationUrl_ = group->Url;
  NavigationChosen_ = true;
  OpenNavigationEntry();
}

void TResultFrameController::StepNavigation(int delta) {
  const int at = NavigationIndex();
  if (at < 0 || !Combo_) return;
  const int to = at + delta;
  if (to < 0 || static_cast<size_t>(to) >= Combo_->GroupCount()) return;
  const auto* group = dynamic_cast<const TUrlGroupItem*>(Combo_->Group(static_cast<size_t>(to)));
  if (!group) return;
  NavigationUrl_ = group->Url;
  if (OnNavigationChanged) OnNavigationChanged();
  // Fast clicking opens only the entry the clicks end on.
  if (NavigationTimer_) Ports_.Scheduler.Cancel(NavigationTimer_);
  std::weak_ptr<bool> alive = Alive_;
  NavigationTimer_ = Ports_.Scheduler.Schedule(kNavigationDelayMs, [this, alive] {
    auto still = alive.lock();
    if (!still || !*still) return;
    NavigationTimer_ = 0;
    OpenNavigationEntry();
  });
}

void TResultFrameController::Back() {
  if (BackEnabled()) StepNavigation(-1);
}

void TResultFrameController::Forward() {
  if (ForwardEnabled()) StepNavigation(1);
}

bool TResultFrameController::BackEnabled() const {
  return NavigationIndex() > 0;
}

bool TResultFrameController::ForwardEnabled() const {
  const int at = NavigationIndex();
  return at >= 0 && Combo_ && static_cast<size_t>(at) + 1 < Combo_->GroupCount();
}

bool TResultFrameController::NavigationSearchEnabled() const {
  return NavigationIndex() >= 0 && RunnerIdle();
}

// ---- references that must not outlive their results ----

void TResultFrameController::ForgetResult(const TStorageDataItem* item) {
  if (item && item == BrowserResult_) BrowserResult_ = nullptr;
}

void TResultFrameController::ForgetAllResults() {
  BrowserResult_ = nullptr;
  if (NavigationTimer_) Ports_.Scheduler.Cancel(NavigationTimer_);
  NavigationTimer_ = 0;
}

void TResultFrameController::ValidateReferences() {
  if (!BrowserResult_) return;
  if (!WatchedList_ || WatchedList_->IndexOf(BrowserResult_) < 0 ||
      BrowserResult_->HasFilterState(rfsDeleted))
    BrowserResult_ = nullptr;
}

// ---- searching from a result ----

bool TResultFrameController::RunnerIdle() const {
  return !Busy_ && !(Runner_ && Runner_->CurrentAction());
}

bool TResultFrameController::RunnerWorksOnHistory() const {
  return Runner_ && Runner_->CurrentAction() && History_.Item() &&
         Runner_->CurrentHistoryItem() == History_.Item();
}

void TResultFrameController::FindFor(TResultStorageItem* result, bool reviews) {
  TSearchStorageItem* search = History_.CurrentSearch();
  if (!result || !search || !OpenSearchWizard) return;
  TSearchWizardRequest request;
  request.CatName = search->CatName;
  request.IsReviews = reviews;
  const TResultStorageFieldList* fields = result->ResultFields();
  const bool sameKind = reviews == (Kind_ == TResultFrameKind::rfkReviews);
  TSearchTypeStorageItem* type = nullptr;
  if (Catalogue_)
    if (TCategoryStorageItem* category = Catalogue_->FindCategory(search->CatName))
      type = Catalogue_->FindSearchType(category->SrtName);
  if (!type) type = View_.SearchType();
  if (sameKind && type) {
    request.Kind = TWizardRequestKind::wrkFromResult;
    bool matched = false;
    for (size_t i = 0; i < type->InputFieldDefinitions.Count(); ++i) {
      const std::string& name = type->InputFieldDefinitions.Input(i)->Name;
      const TResultStorageFieldItem* field = fields->FindResultField(name);
      if (field) matched = true;
      request.Fields.emplace_back(name, FieldText(field));
    }
    if (!matched && !request.Fields.empty() && fields->Count() > 0)
      request.Fields.front().second = FieldText(fields->ResultField(0));
  } else {
    request.Kind = TWizardRequestKind::wrkCategory;
    request.Query = fields->Count() > 0 ? FieldText(fields->ResultField(0)) : std::string();
  }
  OpenSearchWizard(request);
}

// ---- deleting ----

bool TResultFrameController::AskDelete(const char* text) {
  bool ask = Ports_.Settings.PromptDeleteSearchResult();
  TPrompt prompt;
  prompt.Caption = kPromptCaption;
  prompt.Text = text;
  prompt.Icon = TPromptIcon::piQuestion;
  prompt.Buttons = TPromptButtons::pbYesNo;
  prompt.Default = TPromptAnswer::paYes;
  const TPromptAnswer answer = AskUnderFlag(Ports_.Prompts, ask, prompt, TPromptAnswer::paYes);
  Ports_.Settings.SetPromptDeleteSearchResult(ask);
  return answer == TPromptAnswer::paYes;
}

void TResultFrameController::DeleteSelection() {
  ISearchHistoryResultItemIntf* item = View_.ResultItem();
  if (!item) return;
  if (Mode_ != TResultLayout::rlBrowser) {
    if (Selection_.empty()) return;
    View_.SetSelection(Selection_);
    View_.DeleteSelection();
    Selection_.clear();
    ReportStatus();
    return;
  }
  const int at = NavigationIndex();
  std::vector<TStorageDataItem*> doomed = NavigationGroupResults(at);
  if (doomed.empty() || !AskDelete(doomed.size() > 1 ? kDeleteResults : kDeleteResult)) return;
  item->BeginBatch();
  for (TStorageDataItem* result : doomed) item->MarkDeleted(AsResult(result));
  item->Commit();
  NavigationChosen_ = false;
  if (Combo_ && Combo_->GroupCount() > 0) {
    const size_t next = std::min(static_cast<size_t>(at), Combo_->GroupCount() - 1);
    ChooseNavigation(next);
  }
  if (OnNavigationChanged) OnNavigationChanged();
  ReportStatus();
}

bool TResultFrameController::CanDeleteSearch() const {
  return History_.CurrentSearch() && !RunnerWorksOnHistory() && Mode_ != TResultLayout::rlBrowser;
}

void TResultFrameController::DeleteCurrentSearch() {
  if (!CanDeleteSearch() || !AskDelete(kDeleteSearch)) return;
  TSearchStorageItem* doomed = History_.CurrentSearch();
  ISearchHistoryItemIntf* item = History_.Item();
  if (!doomed || !item) return;
  // The neighbour becomes current before the search goes, so nothing shows a freed search.
  TSearchStorageItem* next = nullptr;
  const int at = SearchCombo_ ? SearchCombo_->IndexOf(doomed) : -1;
  if (at >= 0 && static_cast<size_t>(at) + 1 < SearchCombo_->Count())
    next = static_cast<TSearchStorageItem*>(SearchCombo_->Item(static_cast<size_t>(at) + 1));
  else if (at > 0)
    next = static_cast<TSearchStorageItem*>(SearchCombo_->Item(static_cast<size_t>(at) - 1));
  History_.SetCurrentSearch(next);
  item->BeginDelete();
  item->DeleteSearch(doomed);
  item->EndDelete();
  Later(SelectorRefill_, [this] {
    if (OnSelectorChanged) OnSelectorChanged();
  });
  ReportStatus();
  if (OnEnablingChanged) OnEnablingChanged();
}

// ---- menus ----

std::vector<TFrameMenuEntry> TResultFrameController::HeaderMenu(size_t column) const {
  const auto& columns = View_.Columns();
  if (column >= columns.size()) return {};
  const TFrameColumnKind kind = ColumnKind(columns[column].FieldName);
  if (kind == TFrameColumnKind::fckReviewButton || kind == TFrameColumnKind::fckCompareButton) return {};
  const bool list = View_.View() != nullptr;
  TResultStorageListView* view = View_.View();
  bool groupedByIt = false;
  for (const TGroupByMenuEntry& entry : GroupBy_.Entries())
    if (!entry.IsSeparator && !entry.IsNoGroup && SameText(entry.FieldName, columns[column].FieldName))
      groupedByIt = entry.Checked;
  return {
      {"Sort Ascending", list},
      {"Sort Descending", list},
      {"-"},
      {"Group By This Field", list, groupedByIt, true},
      {"No Group", list, list && !view->Grouped(), true},
      {"-"},
      {"Remove This Column"},
      {"Columns..."},
      {"Best Fit"},
      {"Appearence..."},
  };
}

void TResultFrameController::ChooseHeaderMenu(size_t column, size_t entry) {
  const std::vector<TFrameMenuEntry> menu = HeaderMenu(column);
  if (entry >= menu.size() || !menu[entry].Enabled) return;
  TSearchTypeStorageItem* type = View_.SearchType();
  const std::string field = View_.Columns()[column].FieldName;
  switch (entry) {
    case heSortAscending:
    case heSortDescending: {
      if (!type || !SetLayoutSort(*type, field, entry == heSortDescending)) return;
      if (type->Owner()) type->RunTransaction(lsUpdating, kSearchTypeUpdateOutputLayout);
      View_.RebuildColumns();
      View_.SortView();
      Ports_.List.RedrawAll();
      return;
    }
    case heGroupBy: {
      TStorageFieldType fieldType = TStorageFieldType::ftString;
      if (type)
        if (const auto* d = type->OutputFieldDefinitions.FindOutput(field)) fieldType = d->FieldType;
      GroupBy_.GroupBy(field, fieldType);
      return;
    }
    case heNoGroup:
      GroupBy_.Ungroup();
      return;
    default:
      return;
  }
}

std::vector<TFrameMenuEntry> TResultFrameController::SortMenu() const {
  std::vector<TFrameMenuEntry> menu;
  TSearchTypeStorageItem* type = View_.SearchType();
  if (!type) return menu;
  bool ascending = true;
  const TStorageFieldDefinitionLayoutList& layout = type->OutputFieldLayout;
  for (size_t i = 0; i < layout.Count(); ++i) {
    const TStorageFieldDefinitionLayoutItem& item = *layout.LayoutItem(i);
    if ((item.Layout.Flags & (lfSummary | lfHidden | lfInternal)) || item.DisplayName.empty()) continue;
    menu.push_back({item.DisplayName, true, item.Layout.Sort, true});
    if (item.Layout.Sort) ascending = item.Layout.SortDirection == TStorageLayoutSortDirection::sdAscending;
  }
  menu.push_back({"-"});
  menu.push_back({"Ascending", true, ascending});
  return menu;
}

void TResultFrameController::ChooseSortMenu(size_t entry) {
  TSearchTypeStorageItem* type = View_.SearchType();
  if (!type) return;
  const std::vector<TFrameMenuEntry> menu = SortMenu();
  if (entry >= menu.size() || menu[entry].Caption == "-") return;
  const TStorageFieldDefinitionLayoutItem* sorted = SortedLayoutItem(*type);
  const bool ascending = menu.back().Checked;
  std::string field;
  bool descending = !ascending;
  if (entry + 1 == menu.size()) {
    if (!sorted) return;
    field = sorted->Name;
    descending = ascending;  // the item toggles
  } else {
    size_t k = 0;
    const TStorageFieldDefinitionLayoutList& layout = type->OutputFieldLayout;
    for (size_t i = 0; i < layout.Count(); ++i) {
      const TStorageFieldDefinitionLayoutItem& item = *layout.LayoutItem(i);
      if ((item.Layout.Flags & (lfSummary | lfHidden | lfInternal)) || item.DisplayName.empty()) continue;
      if (k++ == entry) field = item.Name;
    }
  }
  if (field.empty() || !SetLayoutSort(*type, field, descending)) return;
  if (type->Owner()) type->RunTransaction(lsUpdating, kSearchTypeUpdateOutputLayout);
  View_.RebuildColumns();
  View_.SortView();
  Ports_.List.RedrawAll();
}

std::vector<TFrameMenuEntry> TResultFrameController::SearchMenu() const {
  const bool idle = RunnerIdle();
  const bool current = History_.CurrentSearch() != nullptr;
  return {
      {"New Search", idle},
      {"Find Reviews", idle},
      {"Find Prices", idle},
      {"-"},
      {"Modify", idle && current},
      {"Duplicate", idle && current},
      {"Update Search", idle && current},
      {"-"},
      {"Delete", CanDeleteSearch()},
  };
}

void TResultFrameController::ChooseSearchMenu(size_t entry) {
  const std::vector<TFrameMenuEntry> menu = SearchMenu();
  if (entry >= menu.size() || !menu[entry].Enabled) return;
  TSearchStorageItem* search = History_.CurrentSearch();
  TSearchWizardRequest request;
  request.CatName = search ? search->CatName : std::string();
  request.Search = search;
  switch (entry) {
    case seNewSearch:
      request = {};
      break;
    case seFindReviews:
    case seFindPrices:
      request.Kind = TWizardRequestKind::wrkCategory;
      request.IsReviews = entry == seFindReviews;
      request.Search = nullptr;
      break;
    case seModify:
    case seDuplicate:
      request.Kind = entry == seModify ? TWizardRequestKind::wrkModify : TWizardRequestKind::wrkDuplicate;
      request.IsReviews = Kind_ == TResultFrameKind::rfkReviews;
      break;
    case seUpdate:
      if (RerunSearch) RerunSearch(search);
      return;
    case seDelete:
      DeleteCurrentSearch();
      return;
    default:
      return;
  }
  if (OpenSearchWizard) OpenSearchWizard(request);
}

// ---- other commands ----

TResultProperties TResultFrameController::Properties(const TResultStorageItem& result) const {
  TResultProperties p;
  const TResultStorageFieldList* fields = result.ResultFields();
  if (fields->Count() > 0) p.Title = FieldText(fields->ResultField(0));
  if (TSearchTypeStorageItem* type = View_.SearchType())
    for (size_t i = 0; i < type->OutputFieldDefinitions.Count(); ++i) {
      const auto& d = *type->OutputFieldDefinitions.Output(i);
      if (d.Layout.Flags & (lfHidden | lfInternal)) continue;
      const TResultStorageFieldItem* field = fields->FindResultField(d.Name);
      if (!field) continue;
      const std::string text = FieldText(field);
      p.General.push_back({Format("%0:s:", {d.DisplayName.empty() ? d.Name : d.DisplayName}),
                           text.empty() ? "n/a" : text, (d.Layout.Flags & lfSummary) != 0});
    }
  p.DateVisited = result.Visited && result.VisitedDate > 0 ? DateText(result.VisitedDate) : "n/a";
  p.FoundBy = EngineNames(result);
  p.Address = ResultAddress(result);
  return p;
}

void TResultFrameController::ToggleSummaries() {
  TSearchTypeStorageItem* type = View_.SearchType();
  if (!type) return;
  TStorageFieldDefinitionLayoutList& layout = type->OutputFieldLayout;
  for (size_t i = layout.Count(); i-- > 0;) {
    TStorageLayoutItem& item = layout.LayoutItem(i)->Layout;
    if (!(item.Flags & lfSummary)) continue;
    item.Flags = static_cast<uint8_t>(item.Flags ^ lfHidden);
    if (type->Owner()) type->RunTransaction(lsUpdating, kSearchTypeUpdateOutputLayout);
    View_.RebuildColumns();
    Ports_.List.RedrawAll();
    return;
  }
}

void TResultFrameController::ResetColumns() {
  TSearchTypeStorageItem* type = View_.SearchType();
  if (!type) return;
  type->OutputFieldLayout.Clear();
  if (type->Owner()) type->RunTransaction(lsUpdating, kSearchTypeUpdateOutputLayout);
  View_.RebuildColumns();
  View_.SortView();
  Ports_.List.RedrawAll();
}

bool TResultFrameController::FilterButtonEnabled() const {
  return History_.CurrentSearch() && !Busy_;
}

}  // namespace vandrel

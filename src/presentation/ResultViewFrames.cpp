#include "presentation/ResultViewFrames.h"

#include <algorithm>

#include "currency/CurrencyConverters.h"
#include "platform/TextUtils.h"
#include "storage/SearchStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {

namespace {

constexpr size_t kBusySortRows = 99;  // a whole-view sort of more rows shows the busy cursor
constexpr int32_t kStringColumnWidth = 240;
constexpr int32_t kOtherColumnWidth = 60;

void CopyLayoutItem(TStorageFieldDefinitionLayoutItem& to, const TStorageFieldDefinitionLayoutItem& from) {
  to.Name = from.Name;
  to.DisplayName = from.DisplayName;
  to.FieldType = from.FieldType;
  to.Layout.Assign(from.Layout);
}

// Words as the search form's values are split: at spaces outside double quotes, the quotes kept.
std::vector<std::string> SplitQuoted(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (c == ' ' && !quoted) {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
      continue;
    }
    word += c;
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

class TBusy {
 public:
  TBusy(IResultListWidget& widget, bool on) : Widget_(widget), On_(on) {
    if (On_) Widget_.SetBusy(true);
  }
  ~TBusy() {
    if (On_) Widget_.SetBusy(false);
  }

 private:
  IResultListWidget& Widget_;
  bool On_;
};

}  // namespace

bool EnsureOutputLayout(TSearchTypeStorageItem& type) {
  if (type.OutputFieldLayout.Count() > 0) return false;
  for (size_t i = 0; i < type.OutputFieldDefinitions.Count(); ++i)
    CopyLayoutItem(*static_cast<TStorageFieldDefinitionLayoutItem*>(type.OutputFieldLayout.Add()),
                   *type.OutputFieldDefinitions.Output(i));
  return true;
}

const TStorageFieldDefinitionLayoutItem* SortedLayoutItem(const TSearchTypeStorageItem& type) {
  for (size_t i = 0; i < type.OutputFieldLayout.Count(); ++i)
    if (type.OutputFieldLayout.LayoutItem(i)->Layout.Sort) return type.OutputFieldLayout.LayoutItem(i);
  return nullptr;
}

bool SortByLayout(TResultStorageListView& view, TSearchTypeStorageItem& type, TStorageDataItem* item) {
  const TStorageFieldDefinitionLayoutItem* sorted = SortedLayoutItem(type);
  if (!sorted) return false;
  const auto* d = type.OutputFieldDefinitions.FindOutput(sorted->Name);
  if (!d) return false;
  // Sort keys go first when the column's own definition is the default sort column.
  view.SortResults(sorted->Name, sorted->Layout.SortDirection == TStorageLayoutSortDirection::sdAscending,
                   &type.SortKeys, d->Layout.Sort, item);
  return true;
}

bool SetLayoutSort(TSearchTypeStorageItem& type, const std::string& fieldName, bool descending) {
  auto* target = static_cast<TStorageFieldDefinitionLayoutItem*>(type.OutputFieldLayout.Find(fieldName));
  if (!target) return false;
  for (size_t i = 0; i < type.OutputFieldLayout.Count(); ++i)
    type.OutputFieldLayout.LayoutItem(i)->Layout.Sort = false;
  target->Layout.Sort = true;
  target->Layout.SortDirection =
      descending ? TStorageLayoutSortDirection::sdDescending : TStorageLayoutSortDirection::sdAscending;
  return true;
}

TResultViewFrame::TResultViewFrame(IResultListWidget& widget) : Widget_(widget) {}

TResultViewFrame::~TResultViewFrame() {
  Detach();
  if (SearchView_) SearchView_->RemoveObserver(this);
}

TResultStorageListView* TResultViewFrame::View() const {
  return View_;
}

void TResultViewFrame::Attach() {
  if (!Item_) return;
  TResultStorageList& results = Item_->GetResults();
  View_ = results.FindResultView(kResultViewFrameName);
  if (!View_) {
    View_ = results.GetResultView(kResultViewFrameName);
    View_->SaveFilters = true;
    View_->SaveGroups = true;
  }
  View_->AddObserver(this);
  // A view made before this frame looked never told it that its filters loaded.
  FiltersLoaded(View_);
}

void TResultViewFrame::Detach() {
  if (View_) View_->RemoveObserver(this);
  View_ = nullptr;
}

void TResultViewFrame::SetHistoryItem(ISearchHistoryItemIntf* item) {
  SetResultItem(nullptr);
  if (SearchView_) SearchView_->RemoveObserver(this);
  SearchView_ = nullptr;
  History_ = item;
  if (History_) {
    SearchView_ = History_->GetSearches().GetView(kDefaultViewName);
    SearchView_->AddObserver(this);
  }
}

void TResultViewFrame::SetResultItem(std::shared_ptr<ISearchHistoryResultItemIntf> item) {
  if (item == Item_) return;
  Detach();
  Item_ = std::move(item);
  Selection_.clear();
  if (!Item_) {
    Widget_.SetRowCount(0);
    Columns_.clear();
    SummaryField_.clear();
    AutoPreview_ = false;
    return;
  }
  Attach();
  RebuildColumns();
  SortView();
  Widget_.SetRowCount(RowCount());
}

void TResultViewFrame::SetHighlightWords(bool on) {
  if (on == HighlightWords_) return;
  HighlightWords_ = on;
  RebuildColumns();
}

std::vector<std::string> TResultViewFrame::CollectHighlightWords() const {
  std::vector<std::string> words;
  TSearchTypeStorageItem* type = SearchType();
  TSearchStorageItem* search = Item_ ? Item_->GetSearch() : nullptr;
  if (!type || !search) return words;
  for (size_t i = 0; i < type->InputFieldDefinitions.Count(); ++i) {
    const TSearchTypeStorageInputFieldDefinitionItem& d = *type->InputFieldDefinitions.Input(i);
    if (!d.HighlightSource) continue;
    if (const TStorageFieldItem* field = search->FindField(d.Name))
      for (std::string& w : SplitQuoted(field->Value().AsString())) words.push_back(std::move(w));
  }
  return words;
}

void TResultViewFrame::RebuildColumns() {
  TSearchTypeStorageItem* type = SearchType();
  if (!type) return;
  ++Rebuilds_;
  Rebuilding_ = true;
  Columns_.clear();
  SummaryField_.clear();
  AutoPreview_ = false;
  TStorageFieldDefinitionLayoutList& layout = type->OutputFieldLayout;
  if (EnsureOutputLayout(*type) && OnLayoutCreate) OnLayoutCreate(layout);
  const std::vector<std::string> words =
      HighlightWords_ ? CollectHighlightWords() : std::vector<std::string>();
  for (size_t i = 0; i < layout.Count(); ++i) {
    const TStorageFieldDefinitionLayoutItem& item = *layout.LayoutItem(i);
    const uint8_t flags = item.Layout.Flags;
    if (flags & (lfHidden | lfInternal)) continue;
    if (flags & lfSummary) {
      SummaryField_ = item.Name;
      AutoPreview_ = true;
      continue;
    }
    TResultColumn column;
    column.FieldName = item.Name;
    column.Caption = item.DisplayName;
    column.Width =
        item.Layout.Width != 0
            ? item.Layout.Width
            : (item.FieldType == TStorageFieldType::ftString ? kStringColumnWidth : kOtherColumnWidth);
    column.Alignment = item.Layout.Alignment;
    if (flags & lfGraphicalDisplay) {
      column.Alignment = TAlignment::taCenter;
      column.ProgressBar = true;
    }
    if (item.Layout.Sort) {
      column.Sorted = true;
      column.Descending = item.Layout.SortDirection == TStorageLayoutSortDirection::sdDescending;
    }
    if (const auto* d = type->OutputFieldDefinitions.FindOutput(item.Name)) {
      if (d->IsUrl || d->IsDomain) {
        column.Style = TColumnTextStyle::Link;
      } else if (d->HighlightTarget && HighlightWords_) {
        column.Style = TColumnTextStyle::Highlight;
        column.HighlightWords = words;
      }
    }
    Columns_.push_back(std::move(column));
  }
  if (OnLayoutPrepare) OnLayoutPrepare(Columns_);
  UpdateSearchColumn();
  Rebuilding_ = false;
}

void TResultViewFrame::UpdateSearchColumn() {
  TSearchTypeStorageItem* type = SearchType();
  if (!type) return;
  if (type->OutputFieldDefinitions.Count() == 0) {
    SearchColumn_ = -1;
    return;
  }
  const std::string& first = type->OutputFieldDefinitions.Output(0)->Name;
  const int at = type->OutputFieldLayout.IndexOfName(first);
  if (at < 0 || (type->OutputFieldLayout.LayoutItem(static_cast<size_t>(at))->Layout.Flags & lfHidden))
    return;
  SearchColumn_ = at;
}

TStorageFieldDefinitionLayoutItem* TResultViewFrame::LayoutItemOf(const std::string& fieldName) const {
  TSearchTypeStorageItem* type = SearchType();
  if (!type) return nullptr;
  return static_cast<TStorageFieldDefinitionLayoutItem*>(type->OutputFieldLayout.Find(fieldName));
}

void TResultViewFrame::SortView(TStorageDataItem* item) {
  TSearchTypeStorageItem* type = SearchType();
  if (!type || !View_) return;
  const TStorageFieldDefinitionLayoutItem* sorted = SortedLayoutItem(*type);
  if (!sorted) return;
  TBusy busy(Widget_, !item && View_->Count() > kBusySortRows);
  if (!SortByLayout(*View_, *type, item) && OnSort) OnSort(item, *sorted);
  if (!Selection_.empty() && Selection_.front() < RowCount()) Widget_.ScrollIntoView(Selection_.front());
}

void TResultViewFrame::ClickHeader(size_t column) {
  TSearchTypeStorageItem* type = SearchType();
  if (!type || column >= Columns_.size()) return;
  TResultColumn& clicked = Columns_[column];
  bool descending;
  if (clicked.Sorted) {
    descending = !clicked.Descending;
  } else if (const auto* d = type->OutputFieldDefinitions.FindOutput(clicked.FieldName)) {
    descending = d->Layout.SortDirection == TStorageLayoutSortDirection::sdDescending;
  } else {
    descending = OnLayoutDefaultSortDirection &&
                 OnLayoutDefaultSortDirection(clicked) == TStorageLayoutSortDirection::sdDescending;
  }
  if (!clicked.Sorted) {
    for (TResultColumn& c : Columns_) c.Sorted = false;
    for (size_t i = 0; i < type->OutputFieldLayout.Count(); ++i)
      type->OutputFieldLayout.LayoutItem(i)->Layout.Sort = false;
  }
  if (TStorageFieldDefinitionLayoutItem* item = LayoutItemOf(clicked.FieldName)) {
    item->Layout.SortDirection =
        descending ? TStorageLayoutSortDirection::sdDescending : TStorageLayoutSortDirection::sdAscending;
    item->Layout.Sort = true;
  }
  clicked.Sorted = true;
  clicked.Descending = descending;
  WriteLayoutBack();
  SortView();
}

void TResultViewFrame::ResizeColumn(size_t column, int32_t width) {
  if (column >= Columns_.size()) return;
  Columns_[column].Width = width;
  WriteLayoutBack();
}

void TResultViewFrame::MoveColumn(size_t from, size_t to) {
  if (from >= Columns_.size() || to >= Columns_.size() || from == to) return;
  TResultColumn moved = std::move(Columns_[from]);
  Columns_.erase(Columns_.begin() + static_cast<std::ptrdiff_t>(from));
  Columns_.insert(Columns_.begin() + static_cast<std::ptrdiff_t>(to), std::move(moved));
  WriteLayoutBack();
}

void TResultViewFrame::RemoveColumn(size_t column) {
  if (column >= Columns_.size()) return;
  if (TStorageFieldDefinitionLayoutItem* item = LayoutItemOf(Columns_[column].FieldName))
    item->Layout.Flags |= lfHidden;
  Columns_.erase(Columns_.begin() + static_cast<std::ptrdiff_t>(column));
  WriteLayoutBack();
}

void TResultViewFrame::WriteLayoutBack() {
  TSearchTypeStorageItem* type = SearchType();
  if (Rebuilding_ || !type) return;
  TStorageFieldDefinitionLayoutList& layout = type->OutputFieldLayout;
  // Columns first in display order, then the entries without a column in their former order.
  TStorageFieldDefinitionLayoutList ordered;
  std::vector<bool> taken(layout.Count(), false);
  for (const TResultColumn& column : Columns_) {
    const int at = layout.IndexOfName(column.FieldName);
    if (at < 0 || taken[static_cast<size_t>(at)]) continue;
    taken[static_cast<size_t>(at)] = true;
    auto* item = static_cast<TStorageFieldDefinitionLayoutItem*>(ordered.Add());
    CopyLayoutItem(*item, *layout.LayoutItem(static_cast<size_t>(at)));
    item->Layout.Width = column.Width;
    item->Layout.Alignment = column.Alignment;
    item->Layout.Flags = static_cast<uint8_t>((item->Layout.Flags & ~(lfGraphicalDisplay | lfSummary)) |
                                              (column.ProgressBar ? lfGraphicalDisplay : 0) |
                                              (SameText(column.FieldName, SummaryField_) ? lfSummary : 0));
  }
  for (size_t i = 0; i < layout.Count(); ++i)
    if (!taken[i])
      CopyLayoutItem(*static_cast<TStorageFieldDefinitionLayoutItem*>(ordered.Add()), *layout.LayoutItem(i));
  layout.Assign(ordered);
  LayoutChanged();
  UpdateSearchColumn();
}

void TResultViewFrame::LayoutChanged() {
  TSearchTypeStorageItem* type = SearchType();
  if (type && type->Owner()) type->RunTransaction(lsUpdating, kSearchTypeUpdateOutputLayout);
}

size_t TResultViewFrame::RowCount() const {
  return View_ ? View_->RowCount() : 0;
}

TResultRow TResultViewFrame::Row(size_t row) const {
  TResultRow r;
  if (!View_ || row >= View_->RowCount()) return r;
  TStorageDataItem* item = View_->RowItem(row);
  r.Group = View_->Grouped() ? View_->RowGroup(row) : nullptr;
  if (!item) {
    r.IsGroup = true;
    r.Expanded = r.Group && r.Group->Expanded();
    std::string caption = r.Group ? r.Group->GetCaption() : std::string();
    r.Texts.push_back(caption.empty() ? "(see site)" : caption);
    return r;
  }
  r.Result = static_cast<TResultStorageItem*>(item);
  const TResultStorageFieldList* fields = r.Result->ResultFields();
  for (const TResultColumn& column : Columns_) {
    const TResultStorageFieldItem* field = fields->FindResultField(column.FieldName);
    std::string text = field ? field->DisplayValue() : std::string();
    r.Positions.push_back(column.ProgressBar && field ? field->Value().AsInteger() : 0);
    r.Texts.push_back(text.empty() ? "(see site)" : text);
  }
  if (AutoPreview_)
    if (const TResultStorageFieldItem* field = fields->FindResultField(SummaryField_))
      r.Preview = field->DisplayValue();
  return r;
}

TCellStyle TResultViewFrame::CellStyle(size_t row, size_t column) const {
  TCellStyle style;
  if (!View_ || row >= View_->RowCount()) return style;
  TStorageDataItem* item = View_->RowItem(row);
  if (!item) {
    if (TStorageDataGroupItem* group = View_->RowGroup(row))
      for (TStorageDataItem* member : group->Items)
        if (static_cast<TResultStorageItem*>(member)->New) style.Bold = true;
    return style;
  }
  TSearchTypeStorageItem* type = SearchType();
  if (!type || column >= Columns_.size()) return style;
  const auto& result = static_cast<const TResultStorageItem&>(*item);
  const TResultColumn& c = Columns_[column];
  const int at = type->OutputFieldDefinitions.IndexOfName(c.FieldName);
  if (at < 0) return style;
  const TSearchTypeStorageOutputFieldDefinitionItem& d =
      *type->OutputFieldDefinitions.Output(static_cast<size_t>(at));
  style.Bold = d.BoldIfNew && result.New;
  // The first definition that has a column carries the visited colour.
  int firstWithColumn = -1;
  for (size_t i = 0; i < type->OutputFieldDefinitions.Count() && firstWithColumn < 0; ++i)
    for (const TResultColumn& other : Columns_)
      if (SameText(other.FieldName, type->OutputFieldDefinitions.Output(i)->Name)) {
        firstWithColumn = static_cast<int>(i);
        break;
      }
  if (at == firstWithColumn && result.Visited) style.Color = VisitedColor;
  if (d.FieldType == TStorageFieldType::ftMoney && CurrencyConverter().ShowConverted)
    if (const TResultStorageFieldItem* field = result.ResultFields()->FindResultField(c.FieldName))
      if (const std::string* text = field->Value().StringPtr()) {
        TCurrencyMap map;
        map.Parse(*text, CurrencyConverter().AxisCode);
        if (!map.FromAmount.Code.empty() && map.FromAmount.Code != map.ToAmount.Code)
          style.Color = ConvertedPriceColor;
      }
  return style;
}

void TResultViewFrame::SetGroupExpanded(size_t row, bool expanded) {
  if (!View_ || row >= View_->RowCount() || View_->RowItem(row)) return;
  TStorageDataGroupItem* group = View_->RowGroup(row);
  if (!group || group->Expanded() == expanded) return;
  TBusy busy(Widget_, true);
  group->SetExpanded(expanded);
}

void TResultViewFrame::DeleteSelection() {
  if (!View_ || !Item_ || Selection_.empty()) return;
  std::vector<TResultStorageItem*> doomed;
  auto add = [&doomed](TStorageDataItem* item) {
    auto* result = static_cast<TResultStorageItem*>(item);
    if (std::find(doomed.begin(), doomed.end(), result) == doomed.end()) doomed.push_back(result);
  };
  for (size_t row : Selection_) {
    if (row >= View_->RowCount()) continue;
    if (TStorageDataItem* item = View_->RowItem(row))
      add(item);
    else if (TStorageDataGroupItem* group = View_->RowGroup(row))
      for (TStorageDataItem* member : group->Items) add(member);
  }
  if (doomed.empty() || (ConfirmDelete && !ConfirmDelete(doomed.size()))) return;
  Selection_.clear();
  Item_->BeginBatch();
  for (TResultStorageItem* result : doomed) Item_->MarkDeleted(result);
  Item_->Commit();
}

void TResultViewFrame::ListOpened(const void*, TStorageDataList* list) {
  if (auto* results = dynamic_cast<TResultStorageList*>(list)) {
    TResultStorageListView* view = results->FindResultView(kResultViewFrameName);
    if (!view) {
      view = results->GetResultView(kResultViewFrameName);
      view->SaveFilters = true;
      view->SaveGroups = true;
    }
    view->AddObserver(this);
    return;
  }
  if (auto* searches = dynamic_cast<TSearchStorageList*>(list))
    searches->GetView(kDefaultViewName)->AddObserver(this);
}

bool TResultViewFrame::OwnView(const TStorageNotifier* sender) const {
  return View_ && sender == View_;
}

void TResultViewFrame::ItemChanged(TStorageNotifier* sender, TStorageDataItem* item) {
  if (OwnView(sender)) {
    Widget_.SetRowCount(RowCount());
    if (!item) {
      Widget_.RedrawAll();
      return;
    }
    SortView(item);
    if (const int row = View_->ItemRow(item); row >= 0) Widget_.RedrawRow(static_cast<size_t>(row));
    return;
  }
  // The shown search changed while no search writes it: its type's layout may have changed.
  auto* view = dynamic_cast<TStorageDataListView*>(sender);
  if (!view || view->Name() != kDefaultViewName || !Item_ || !item || item != Item_->GetSearch()) return;
  if (!dynamic_cast<TSearchStorageList*>(&view->List())) return;
  if (Runner && Runner->CurrentResultItem() == Item_.get()) return;
  RebuildColumns();
}

void TResultViewFrame::ItemDeleted(TStorageNotifier* sender, TStorageDataItem*) {
  if (!OwnView(sender)) return;
  // Sent while the item is still counted.
  const size_t rows = RowCount();
  Widget_.SetRowCount(rows > 0 ? rows - 1 : 0);
  Widget_.RedrawAll();
}

void TResultViewFrame::FiltersLoaded(TStorageDataListView* view) {
  if (!view || !dynamic_cast<TResultStorageList*>(&view->List())) return;
  if (!view->FindNextFilter(TResultStorageDefaultFilterItem::StaticClass(), nullptr))
    view->AddFilter(std::make_unique<TResultStorageDefaultFilterItem>());
}

void TResultViewFrame::Refiltered(TStorageDataListView* view) {
  if (!OwnView(view)) return;
  Widget_.SetRowCount(RowCount());
  SortView();
  Widget_.RedrawAll();
}

void TResultViewFrame::Refilled(TStorageDataListView* view) {
  if (OwnView(view)) SortView();
}

void TResultViewFrame::GroupExpansionChanged(TStorageDataListView* view) {
  if (OwnView(view)) Widget_.SetRowCount(RowCount());
}

void TResultViewFrame::GroupsRebuilt(TStorageDataListView* view) {
  if (!OwnView(view)) return;
  Widget_.SetRowCount(RowCount());
  Widget_.RedrawAll();
}

}  // namespace vandrel

// The result list of one stored search as a controller: columns from the search type's layout, sorting,
// cell texts and styles, group rows, deletion, and following the view's notifications.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "actions/QuorinApplications.h"
#include "search/SearchHistory.h"
#include "storage/ResultStorage.h"

namespace vandrel {

// The view name of the result frame; its filters and groups are stored with the search.
inline constexpr char kResultViewFrameName[] = "ResultViewFrame";

// Fills an empty output layout with a copy of every output definition, in definition order. True when it
// made one.
bool EnsureOutputLayout(TSearchTypeStorageItem& type);
// The layout's sorted column: the first layout entry with Sort set; null when none.
const TStorageFieldDefinitionLayoutItem* SortedLayoutItem(const TSearchTypeStorageItem& type);
// Sorts `view` by the layout's sorted column, with the type's sort keys (`item` alone when given). False
// when the layout sorts nothing or names a field without definition.
bool SortByLayout(TResultStorageListView& view, TSearchTypeStorageItem& type,
                  TStorageDataItem* item = nullptr);
// Makes `fieldName` the layout's only sorted column, in that direction; false when the layout has no entry
// of that name.
bool SetLayoutSort(TSearchTypeStorageItem& type, const std::string& fieldName, bool descending);

// What the controller asks of the list widget. Main thread only.
class IResultListWidget {
 public:
  virtual ~IResultListWidget() = default;
  virtual void SetRowCount(size_t rows) = 0;
  virtual void RedrawAll() = 0;
  virtual void RedrawRow(size_t row) = 0;
  virtual void ScrollIntoView(size_t row) = 0;
  virtual void SetBusy(bool busy) = 0;  // the busy cursor
};

enum class TColumnTextStyle { Plain, Link, Highlight };

struct TResultColumn {
  std::string FieldName;
  std::string Caption;
  int32_t Width = 0;
  TAlignment Alignment = TAlignment::taLeftJustify;
  bool ProgressBar = false;
  bool Sorted = false;
  bool Descending = false;
  TColumnTextStyle Style = TColumnTextStyle::Plain;
  std::vector<std::string> HighlightWords;  // for the highlight style
};

struct TRgb {
  uint8_t Red = 0, Green = 0, Blue = 0;
  bool WindowText = true;  // the platform's window-text colour; the components are then unused
  bool operator==(const TRgb&) const = default;
};

struct TCellStyle {
  bool Bold = false;
  TRgb Color;
};

// One row as the list shows it.
struct TResultRow {
  bool IsGroup = false;
  bool Expanded = false;
  TResultStorageItem* Result = nullptr;    // null for a group row
  TStorageDataGroupItem* Group = nullptr;  // the row's group (a group row's own)
  std::vector<std::string> Texts;          // one per column
  std::vector<int64_t> Positions;          // progress-bar values, one per column (0 elsewhere)
  std::string Preview;                     // the auto-preview line; empty: none
};

class TResultViewFrame : public IStorageDataListViewObserver, public IQuorinApplicationObserver {
 public:
  explicit TResultViewFrame(IResultListWidget& widget);
  ~TResultViewFrame() override;
  TResultViewFrame(const TResultViewFrame&) = delete;
  TResultViewFrame& operator=(const TResultViewFrame&) = delete;

  TRgb ConvertedPriceColor{0, 0, 255, false};
  TRgb VisitedColor{128, 0, 128, false};
  // Asked before results are deleted; none: deleting is allowed.
  std::function<bool(size_t count)> ConfirmDelete;
  std::function<void(TStorageFieldDefinitionLayoutList& layout)> OnLayoutCreate;
  std::function<void(std::vector<TResultColumn>& columns)> OnLayoutPrepare;
  // The first direction of a column without definition; without a handler, ascending.
  std::function<TStorageLayoutSortDirection(const TResultColumn& column)> OnLayoutDefaultSortDirection;
  std::function<void(TStorageDataItem* item, const TStorageFieldDefinitionLayoutItem& layoutItem)> OnSort;
  // The runner, to tell whether a search is running on the shown search; may be null.
  const TQuorinApplication* Runner = nullptr;

  void SetHistoryItem(ISearchHistoryItemIntf* item);
  void SetResultItem(std::shared_ptr<ISearchHistoryResultItemIntf> item);
  ISearchHistoryResultItemIntf* ResultItem() const { return Item_.get(); }
  TResultStorageListView* View() const;
  TSearchTypeStorageItem* SearchType() const { return Item_ ? Item_->GetSearchType() : nullptr; }

  bool HighlightWords() const { return HighlightWords_; }
  void SetHighlightWords(bool on);

  const std::vector<TResultColumn>& Columns() const { return Columns_; }
  const std::string& SummaryField() const { return SummaryField_; }
  bool AutoPreview() const { return AutoPreview_; }
  bool GridLines() const { return AutoPreview_; }
  int IncrementalSearchColumn() const { return SearchColumn_; }
  size_t ColumnRebuilds() const { return Rebuilds_; }

  // Sorts by the layout's sorted column; `item` alone is repositioned when given.
  void SortView(TStorageDataItem* item = nullptr);
  void ClickHeader(size_t column);
  void ResizeColumn(size_t column, int32_t width);
  void MoveColumn(size_t from, size_t to);
  void RemoveColumn(size_t column);

  size_t RowCount() const;
  TResultRow Row(size_t row) const;
  TCellStyle CellStyle(size_t row, size_t column) const;
  // Double click, expander press, expand and collapse commands.
  void SetGroupExpanded(size_t row, bool expanded);
  void SetSelection(std::vector<size_t> rows) { Selection_ = std::move(rows); }
  // Marks the selected results (every result of a selected group) deleted in one batch.
  void DeleteSelection();

  // The runner opened a list: results get their frame view, the search list is followed.
  void ListOpened(const void* owner, TStorageDataList* list) override;

  void ItemChanged(TStorageNotifier* sender, TStorageDataItem* item) override;
  void ItemDeleted(TStorageNotifier* sender, TStorageDataItem* item) override;
  void FiltersLoaded(TStorageDataListView* view) override;
  void Refiltered(TStorageDataListView* view) override;
  void Refilled(TStorageDataListView* view) override;
  void GroupExpansionChanged(TStorageDataListView* view) override;
  void GroupsRebuilt(TStorageDataListView* view) override;

  // Rebuilds the columns from the layout (a default layout when it is empty).
  void RebuildColumns();

 private:
  void WriteLayoutBack();
  void LayoutChanged();
  void UpdateSearchColumn();
  std::vector<std::string> CollectHighlightWords() const;
  TStorageFieldDefinitionLayoutItem* LayoutItemOf(const std::string& fieldName) const;
  bool OwnView(const TStorageNotifier* sender) const;
  void Attach();
  void Detach();

  IResultListWidget& Widget_;
  ISearchHistoryItemIntf* History_ = nullptr;
  std::shared_ptr<ISearchHistoryResultItemIntf> Item_;
  TResultStorageListView* View_ = nullptr;      // the result list's frame view; observed
  TStorageDataListView* SearchView_ = nullptr;  // the search list's "Default" view; observed
  std::vector<TResultColumn> Columns_;
  std::string SummaryField_;
  bool AutoPreview_ = false;
  bool HighlightWords_ = true;
  bool Rebuilding_ = false;  // column events while set do not write the layout back
  int SearchColumn_ = -1;
  size_t Rebuilds_ = 0;
  std::vector<size_t> Selection_;
};

}  // namespace vandrel

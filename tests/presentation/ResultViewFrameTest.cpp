// The result view controller: columns from the layout, header clicks written back to the search type,
// cell texts and colours, group rows, deletion, and what it redraws for each view notification.
#include <gtest/gtest.h>

#include "presentation/PresentationTestSupport.h"
#include "presentation/ResultViewFrames.h"
#include "storage/MemoryBackend.h"
#include "storage/SearchStorage.h"

namespace vandrel {
namespace {

using presentationtest::Money;
using presentationtest::PresentationTest;

class TFakeWidget : public IResultListWidget {
 public:
  void SetRowCount(size_t rows) override { Rows = rows; }
  void RedrawAll() override { ++Redraws; }
  void RedrawRow(size_t row) override { RedrawnRows.push_back(row); }
  void ScrollIntoView(size_t row) override { Scrolled.push_back(row); }
  void SetBusy(bool busy) override {
    if (busy) ++BusyShown;
    Busy = busy;
  }
  size_t Rows = 0;
  int Redraws = 0;
  int BusyShown = 0;
  bool Busy = false;
  std::vector<size_t> RedrawnRows, Scrolled;
};

// The opened results of one search, over the test's list.
class TResultItem : public ISearchHistoryResultItemIntf {
 public:
  TResultItem(TResultStorageList& results, TSearchTypeStorageItem* type) : Results_(results), Type_(type) {}
  TResultStorageList& GetResults() override { return Results_; }
  TSearchTypeStorageItem* GetSearchType() override { return Type_; }
  TSearchStorageItem* GetSearch() override { return &Search; }
  void BeginBatch() override {
    Log.push_back("begin");
    Results_.PendingValue = TDynamicValue(true);
    Results_.BeginTransaction(lsSettingField, kResultSetDeleted);
  }
  void MarkDeleted(TResultStorageItem* result) override {
    Log.push_back("delete " + PresentationTest::Title(result));
    result->Changed();
  }
  void Commit() override {
    Log.push_back("commit");
    Results_.EndTransaction();
  }
  TSearchStorageItem Search;
  std::vector<std::string> Log;

 private:
  TResultStorageList& Results_;
  TSearchTypeStorageItem* Type_;
};

class ResultViewFrameTest : public PresentationTest {
 protected:
  void SetUp() override {
    PresentationTest::SetUp();
    DefineFields(Type.OutputFieldDefinitions);
    auto& d = Type.OutputFieldDefinitions;
    d.FindOutput("TITLE")->BoldIfNew = true;
    d.FindOutput("TITLE")->Layout.Width = 200;
    d.FindOutput("PRICE")->Layout.Flags = 0;
    d.FindOutput("SCORE")->Layout.SortDirection = TStorageLayoutSortDirection::sdDescending;
    d.FindOutput("ADDRESS")->IsUrl = true;
    d.FindOutput("SUMMARY")->Layout.Flags = lfSummary;
    Type.SortKeys.AddKey("TITLE", TSortKeySortDirection::ksdAscending);
    Item = std::make_shared<TResultItem>(Results, &Type);
  }
  std::vector<std::string> ColumnNames() const {
    std::vector<std::string> names;
    for (const auto& c : Frame.Columns()) names.push_back(c.FieldName);
    return names;
  }
  size_t ColumnOf(const std::string& name) const {
    for (size_t i = 0; i < Frame.Columns().size(); ++i)
      if (Frame.Columns()[i].FieldName == name) return i;
    return SIZE_MAX;
  }
  std::vector<std::string> RowTitles() const {
    std::vector<std::string> titles;
    for (size_t i = 0; i < Frame.RowCount(); ++i) titles.push_back(Frame.Row(i).Texts.at(0));
    return titles;
  }

  TSearchTypeStorageItem Type;
  std::shared_ptr<TResultItem> Item;
  TFakeWidget Widget;
  TResultViewFrame Frame{Widget};
};

TEST_F(ResultViewFrameTest, ColumnsComeFromALayoutMadeOnceFromTheDefinitions) {
  int created = 0;
  Frame.OnLayoutCreate = [&created](TStorageFieldDefinitionLayoutList&) { ++created; };
  Frame.SetResultItem(Item);
  EXPECT_EQ(created, 1);
  EXPECT_EQ(Type.OutputFieldLayout.Count(), Type.OutputFieldDefinitions.Count());
  // The summary becomes the preview line; the hidden, internal shipping attribute has no column.
  EXPECT_EQ(ColumnNames(), (std::vector<std::string>{"TITLE", "PRICE", "SCORE", "ADDRESS"}));
  EXPECT_EQ(Frame.SummaryField(), "SUMMARY");
  EXPECT_TRUE(Frame.AutoPreview());
  EXPECT_TRUE(Frame.GridLines());
  EXPECT_EQ(Frame.Columns()[0].Width, 200);
  EXPECT_EQ(Frame.Columns()[ColumnOf("ADDRESS")].Width, 240) << "a string column without width";
  EXPECT_EQ(Frame.Columns()[ColumnOf("SCORE")].Width, 60);
  EXPECT_EQ(Frame.Columns()[ColumnOf("ADDRESS")].Style, TColumnTextStyle::Link);
  EXPECT_EQ(Frame.IncrementalSearchColumn(), 0);
  Frame.SetHighlightWords(true);  // unchanged: nothing is rebuilt
  EXPECT_EQ(Frame.ColumnRebuilds(), 1u);
  Frame.SetResultItem(nullptr);
  EXPECT_TRUE(Frame.Columns().empty());
  EXPECT_FALSE(Frame.AutoPreview());
  EXPECT_EQ(Widget.Rows, 0u);
}

TEST_F(ResultViewFrameTest, HeaderClicksToggleAndMoveTheSortAndAreStoredInTheSearchType) {
  auto backend = std::make_shared<storagetest::TMemoryBackend>();
  TSearchTypeStorageList types;
  types.AttachStorage(backend);
  types.BeginTransaction(lsAdding);
  TSearchTypeStorageItem* stored = types.NewSearchType();
  stored->SrtName = "books";
  PresentationTest::DefineFields(stored->OutputFieldDefinitions);
  stored->OutputFieldDefinitions.FindOutput("SCORE")->Layout.SortDirection =
      TStorageLayoutSortDirection::sdDescending;
  types.EndTransaction();
  auto item = std::make_shared<TResultItem>(Results, stored);
  Add({.Title = "b", .Score = 5});
  Add({.Title = "a", .Score = 9});
  Add({.Title = "c", .Score = 7});
  Frame.SetResultItem(item);

  Frame.ClickHeader(0);  // TITLE: its definition's direction, ascending
  EXPECT_EQ(RowTitles(), (std::vector<std::string>{"a", "b", "c"}));
  Frame.ClickHeader(0);
  EXPECT_EQ(RowTitles(), (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_EQ(stored->OutputFieldLayout.LayoutItem(0)->Layout.SortDirection,
            TStorageLayoutSortDirection::sdDescending);
  Frame.ClickHeader(ColumnOf("SCORE"));
  EXPECT_EQ(RowTitles(), (std::vector<std::string>{"a", "c", "b"})) << "score starts descending";
  EXPECT_FALSE(Frame.Columns()[0].Sorted);
  EXPECT_FALSE(
      static_cast<TStorageFieldDefinitionLayoutItem*>(stored->OutputFieldLayout.Find("TITLE"))->Layout.Sort);

  // What was stored comes back with the search type.
  TSearchTypeStorageList again;
  again.AttachStorage(backend);
  ASSERT_TRUE(again.Load());
  ASSERT_EQ(again.Count(), 1u);
  const TStorageFieldDefinitionLayoutItem* sorted = SortedLayoutItem(*again.SearchType(0));
  ASSERT_NE(sorted, nullptr);
  EXPECT_EQ(sorted->Name, "SCORE");
  EXPECT_EQ(sorted->Layout.SortDirection, TStorageLayoutSortDirection::sdDescending);
}

TEST_F(ResultViewFrameTest, ColumnChangesAreWrittenBackToTheLayout) {
  Frame.SetResultItem(Item);
  Frame.MoveColumn(ColumnOf("SCORE"), 0);
  EXPECT_EQ(Type.OutputFieldLayout.LayoutItem(0)->Name, "SCORE");
  Frame.ResizeColumn(0, 77);
  EXPECT_EQ(Type.OutputFieldLayout.LayoutItem(0)->Layout.Width, 77);
  Frame.RemoveColumn(ColumnOf("ADDRESS"));
  EXPECT_TRUE(
      static_cast<TStorageFieldDefinitionLayoutItem*>(Type.OutputFieldLayout.Find("ADDRESS"))->Layout.Flags &
      lfHidden);
  EXPECT_TRUE(
      static_cast<TStorageFieldDefinitionLayoutItem*>(Type.OutputFieldLayout.Find("SUMMARY"))->Layout.Flags &
      lfSummary)
      << "the summary keeps its flag";
  Frame.SetHighlightWords(false);
  EXPECT_EQ(ColumnNames(), (std::vector<std::string>{"SCORE", "TITLE", "PRICE"}));
  EXPECT_EQ(Frame.IncrementalSearchColumn(), 1) << "the first definition's position in the layout";
}

TEST_F(ResultViewFrameTest, CellsShowSeeSiteForEmptyTextsAndConvertedPricesInTheirColour) {
  CurrencyConverter().ShowConverted = true;
  Add({.Title = "euro", .Price = Money("EUR", 9.0f), .Summary = "preview"});
  TResultStorageItem* dollar = Add({.Title = "dollar", .Price = Money("USD", 10.0f)});
  dollar->New = true;
  dollar->Visited = true;
  Frame.SetResultItem(Item);
  TResultRow row = Frame.Row(0);
  EXPECT_EQ(row.Texts[ColumnOf("SCORE")], "(see site)");
  EXPECT_EQ(row.Preview, "preview");
  EXPECT_EQ(Frame.Row(1).Preview, "");
  const size_t price = ColumnOf("PRICE");
  EXPECT_EQ(Frame.CellStyle(0, price).Color, Frame.ConvertedPriceColor);
  EXPECT_TRUE(Frame.CellStyle(1, price).Color.WindowText);
  EXPECT_TRUE(Frame.CellStyle(1, 0).Bold);
  EXPECT_EQ(Frame.CellStyle(1, 0).Color, Frame.VisitedColor);
  EXPECT_FALSE(Frame.CellStyle(0, 0).Bold);
}

TEST_F(ResultViewFrameTest, DeletingAGroupRowMarksItsResultsInOneBatch) {
  Add({.Title = "c1", .Checked = true});
  Add({.Title = "u1"});
  Add({.Title = "c2", .Checked = true});
  Frame.SetResultItem(Item);
  TResultStorageListView* view = Frame.View();
  view->SetGroupDefinition(std::make_unique<TCheckGroupDefinition>());
  view->SetGrouped(true);
  ASSERT_EQ(Frame.RowCount(), 2u);
  TResultRow header = Frame.Row(0);
  EXPECT_TRUE(header.IsGroup);
  EXPECT_EQ(header.Texts[0], "Checked items (2 items)");
  Frame.SetGroupExpanded(0, true);
  EXPECT_EQ(Widget.Rows, 4u);
  EXPECT_EQ(Widget.BusyShown, 1);
  EXPECT_FALSE(Widget.Busy);

  size_t asked = 0;
  Frame.ConfirmDelete = [&asked](size_t n) {
    asked = n;
    return true;
  };
  Frame.SetSelection({0});
  Frame.DeleteSelection();
  EXPECT_EQ(asked, 2u);
  EXPECT_EQ(Item->Log, (std::vector<std::string>{"begin", "delete c1", "delete c2", "commit"}));
  // The default filter the frame gave its view hides them now.
  EXPECT_EQ(view->Count(), 1u);
  EXPECT_EQ(Frame.Row(0).Texts[0], "Unchecked item (1 item)");
}

TEST_F(ResultViewFrameTest, ABusyCursorShowsForWholeSortsOfMoreThan99Rows) {
  Results.BeginTransaction(lsAdding);
  for (int i = 0; i < 99; ++i) Add({.Title = "r" + std::to_string(i)});
  Results.EndTransaction();
  Frame.SetResultItem(Item);
  Frame.ClickHeader(0);
  EXPECT_EQ(Widget.BusyShown, 0);
  Add({.Title = "one more"});
  Widget.BusyShown = 0;
  Frame.SortView();
  EXPECT_EQ(Widget.BusyShown, 1);
  Widget.BusyShown = 0;
  Frame.SortView(Frame.View()->Item(0));
  EXPECT_EQ(Widget.BusyShown, 0) << "repositioning one result is quick";
  EXPECT_FALSE(Widget.Busy);
}

TEST_F(ResultViewFrameTest, NotificationsRedrawWithoutRebuildingColumns) {
  Frame.SetResultItem(Item);
  Frame.ClickHeader(0);
  const size_t rebuilds = Frame.ColumnRebuilds();
  Add({.Title = "b"});
  EXPECT_EQ(Widget.Rows, 1u);
  TResultStorageItem* a = Add({.Title = "a"});
  EXPECT_EQ(Widget.Rows, 2u);
  EXPECT_EQ(RowTitles(), (std::vector<std::string>{"a", "b"})) << "a new result is put in its sorted place";
  const int redraws = Widget.Redraws;
  Results.NotifyItemChanged(a);
  EXPECT_FALSE(Widget.RedrawnRows.empty());
  EXPECT_EQ(Widget.RedrawnRows.back(), 0u);
  auto* filter = Frame.View()->AddFilter(std::make_unique<TShippingFilter>());
  EXPECT_GT(Widget.Redraws, redraws);
  Frame.View()->RemoveFilter(filter);
  EXPECT_EQ(Frame.ColumnRebuilds(), rebuilds);
}

}  // namespace
}  // namespace vandrel

// The result pages as real widgets over a real kernel: a stored search run against the demo store site on
// loopback, shown, grouped, filtered, sorted, opened, stepped through, deleted, run again, and streamed into
// without the list model being reset.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <QWebEngineView>
#include <filesystem>
#include <map>
#include <set>

#include "cli/CliTestSupport.h"
#include "currency/CurrencyConverters.h"
#include "data/DemoSite.h"
#include "gui/ResultPageSupport.h"
#include "gui/Screenshots.h"
#include "kernel/AppConfig.h"
#include "kernel/HeadlessKernel.h"
#include "platform/TextUtils.h"
#include "presentation/FakeDesktopPorts.h"
#include "search/QuorinEngineRepository.h"
#include "search/SearchHistory.h"
#include "storage/ResultStorage.h"
#include "ui/FilterForm.h"
#include "ui/QtDesktopPorts.h"
#include "ui/ResultFrame.h"
#include "ui/ResultListModel.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;

using clitest::RunCli;
using clitest::TCliRun;
using clitest::TJsonRecord;

using test::WaitFor;

class ResultFrameGuiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Site = new test::TDemoSite();
    if (Site->Port == 0) return;
    BaseRoot = test::ProcessTempDir() + "/result-frame-base";
    fs::remove_all(BaseRoot);
    const TCliRun search =
        RunCli({"search", "--root", BaseRoot, "--data", test::CompiledDataDir(), "--define",
                "DemoStoreAddress=" + Site->Address(), "--json", "--category", "buybooks", "--set",
                "Title=glass", "--engines", "pageturner,bookbarn,leafandspine", "--results-per-engine", "6"});
    SearchOk = search.Status == 0;
    if (!SearchOk) ADD_FAILURE() << search.Err;
  }
  static void TearDownTestSuite() {
    delete Site;
    Site = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(Site->Port, 0) << "the demo store site did not start";
    ASSERT_TRUE(SearchOk);
    Root = test::ProcessTempDir() + "/result-frame-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(Root);
    fs::copy(BaseRoot, Root, fs::copy_options::recursive);
    // The command line cannot open the database while this process holds it: ask it first.
    Printed = HistoryShow(Root);
    TAppKernel::THooks hooks;
    hooks.UserName = CurrentUserName();
    hooks.DataFolder = test::CompiledDataDir();
    hooks.RefreshCatalogue = true;
    hooks.Headless = true;
    TStartOptions options;
    options.RootFolder = Root;
    ASSERT_TRUE(Kernel.Open(options, std::move(hooks)));
    Kernel.Repository().Constants().SetString("DemoStoreAddress", Site->Address());
    TAppSearchHistory& history = Kernel.History(false);
    ASSERT_GT(history.Item()->GetSearches().Count(), 0u);
    Search = history.Item()->GetSearches().Search(0);
    history.SetCurrentSearch(Search);
  }

  void TearDown() override {
    Frame.reset();
    Filters.reset();
  }

  // The prices page in a window of its own, with `pane` (a placeholder when null) as its browser.
  void OpenPage(QWidget* pane = nullptr, std::function<void(const std::string&)> navigate = nullptr) {
    if (!pane) pane = new QLabel("browser");
    if (!navigate) navigate = [this](const std::string& url) { Navigated.push_back(url); };
    TResultFrameDeps deps{Kernel.History(false), Prompts,         Scheduler, Settings,
                          &Kernel.Catalogue(),   &Kernel.Runner()};
    Frame = std::make_unique<TCompareFrm>(deps, pane, std::move(navigate));
    Filters = std::make_unique<TResultFilterFrm>(Scheduler);
    Frame->SetFilterWindow(Filters.get());
    Frame->resize(1000, 600);
    Frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame.get()));
    Settle();
  }

  void Settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    Frame->Model().Sync();
  }

  TResultListModel& Model() { return Frame->Model(); }
  TResultFrameController& Page() { return Frame->Controller(); }

  int ColumnOf(const std::string& field) { return test::ColumnOf(*Frame, field); }

  std::string Cell(int row, const std::string& field) {
    return Model().index(row, ColumnOf(field)).data().toString().toStdString();
  }

  std::map<int, int> RowsByRank() { return test::RowsByRank(*Frame); }

  static std::vector<TJsonRecord> HistoryShow(const std::string& root, std::vector<std::string> extra = {}) {
    return test::HistoryShow(root, 1, extra);
  }

  static inline test::TDemoSite* Site = nullptr;
  static inline std::string BaseRoot;
  static inline bool SearchOk = false;
  std::string Root;
  THeadlessKernel Kernel;
  TSearchStorageItem* Search = nullptr;
  test::TScriptedPrompts Prompts;
  TQtScheduler Scheduler;
  TResultFrameSettings Settings;
  std::unique_ptr<TResultFilterFrm> Filters;
  std::unique_ptr<TCompareFrm> Frame;
  std::vector<std::string> Navigated;
  std::vector<TJsonRecord> Printed;  // "history show" of the stored search before the test
};

TEST_F(ResultFrameGuiTest, PricesPageShowsTheMergedResultsAsHistoryShowPrintsThem) {
  OpenPage();
  test::ExpectShownAsPrinted(test::ShownResults(*Frame, "title"), Printed, "title");
  EXPECT_EQ(Frame->Selector()->currentText().toStdString(), Page().SelectorText());
  EXPECT_NE(Frame->Selector()->currentText().toStdString().find("glass"), std::string::npos);
  EXPECT_EQ(Model().headerData(ColumnOf("Engine"), Qt::Horizontal).toString(), "Store");
  EXPECT_EQ(ColumnOf("Engine"), Model().columnCount() - 1);
}

TEST_F(ResultFrameGuiTest, GroupsByPriceAndStoreFiltersByPriceAndSortsByAHeaderClick) {
  OpenPage();
  const size_t resets = Model().Resets();
  const int results = static_cast<int>(RowsByRank().size());
  ASSERT_GE(results, 4);

  // A click on the title header sorts by title, a second one the other way.
  const int title = ColumnOf("title");
  QHeaderView* header = Frame->List()->header();
  auto clickHeader = [&] {
    const int x = header->sectionViewportPosition(title) + header->sectionSize(title) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    Settle();
  };
  auto titles = [&] {
    std::vector<std::string> list;
    for (int row = 0; row < Model().rowCount(); ++row) list.push_back(AsciiLowerCase(Cell(row, "title")));
    return list;
  };
  clickHeader();
  const std::vector<std::string> first = titles();
  const Qt::SortOrder firstOrder = header->sortIndicatorOrder();
  clickHeader();
  const std::vector<std::string> second = titles();
  ASSERT_GE(first.size(), 3u);
  EXPECT_NE(header->sortIndicatorOrder(), firstOrder);
  if (firstOrder == Qt::AscendingOrder) {
    EXPECT_TRUE(std::is_sorted(first.begin(), first.end()));
    EXPECT_TRUE(std::is_sorted(second.rbegin(), second.rend()));
  } else {
    EXPECT_TRUE(std::is_sorted(first.rbegin(), first.rend()));
    EXPECT_TRUE(std::is_sorted(second.begin(), second.end()));
  }
  EXPECT_EQ(header->sortIndicatorSection(), title);
  EXPECT_EQ(Model().Resets(), resets) << "sorting moves rows, it does not reset the model";

  // By store: one header row per store, spanning the row, with its results below.
  Page().ChooseHeaderMenu(static_cast<size_t>(ColumnOf("Engine")), 3);
  Settle();
  ASSERT_TRUE(Page().View().View()->Grouped());
  EXPECT_EQ(Model().rowCount(), static_cast<int>(Page().View().RowCount()));
  ASSERT_TRUE(Model().index(0, 0).data(TResultListModel::GroupRowRole).toBool());
  EXPECT_TRUE(Frame->List()->isFirstColumnSpanned(0, {}));
  std::set<std::string> stores;
  for (int row = 0; row < Model().rowCount(); ++row)
    if (Model().index(row, 0).data(TResultListModel::GroupRowRole).toBool())
      stores.insert(Model().index(row, 0).data().toString().toStdString());
  EXPECT_GE(stores.size(), 2u);
  EXPECT_LE(stores.size(), 3u);

  // By price (the summary line, so not offered by the menu), with the filter window open on it.
  Page().GroupByMenu().GroupBy("price", TStorageFieldType::ftMoney);
  Settle();
  std::vector<std::string> captions;
  for (int row = 0; row < Model().rowCount(); ++row)
    if (Model().index(row, 0).data(TResultListModel::GroupRowRole).toBool())
      captions.push_back(Model().index(row, 0).data().toString().toStdString());
  ASSERT_FALSE(captions.empty());
  for (const std::string& caption : captions)
    EXPECT_TRUE(caption.find(" to ") != std::string::npos || caption.find("n/a") != std::string::npos)
        << caption;

  QTest::mouseClick(Frame->FilterButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return Filters->isVisible(); }, 5000));
  EXPECT_TRUE(Frame->FilterButton()->isChecked());
  EXPECT_TRUE(Filters->Delivery()->isVisibleTo(Filters.get()));
  EXPECT_EQ(Filters->Pages()->currentIndex(), 0) << "the price and delivery panel";

  // A lowest price from the slider keeps exactly what the command line keeps for that bound. The price
  // groups start collapsed, so the list's rows are group headers: the view's results are counted.
  TResultStorageListView& view = *Page().View().View();
  auto visibleRanks = [&] {
    std::set<int> ranks;
    for (size_t i = 0; i < view.Count(); ++i) ranks.insert(view.Item(i)->Index());
    return ranks;
  };
  const std::set<int> before = visibleRanks();
  ASSERT_EQ(static_cast<int>(before.size()), results);
  QSlider* min = Filters->MinSlider();
  ASSERT_LT(min->minimum() + 1, min->maximum());
  const int bound = min->minimum() + (min->maximum() - min->minimum()) / 2;
  min->setValue(bound);
  EXPECT_EQ(visibleRanks(), before) << "applied a quarter second after the last move";
  ASSERT_TRUE(WaitFor([&] { return visibleRanks().size() < before.size(); }, 5000))
      << "the slider at " << bound << " of " << min->minimum() << ".." << min->maximum()
      << " did not narrow the list";
  Settle();
  EXPECT_EQ(Model().rowCount(), static_cast<int>(Page().View().RowCount()));
  EXPECT_EQ(Filters->Panel().Description().rfind("Min ", 0), 0u) << Filters->Panel().Description();
  const std::string fresh = Root + "-cli";
  fs::remove_all(fresh);
  fs::copy(BaseRoot, fresh, fs::copy_options::recursive);
  std::set<int> kept;
  for (const TJsonRecord& record : HistoryShow(fresh, {"--price-min", std::to_string(bound)}))
    kept.insert(static_cast<int>(record.Number.at("Rank")));
  EXPECT_FALSE(kept.empty());
  EXPECT_EQ(visibleRanks(), kept);
  QTest::qWait(100);
  test::SaveScreenshot(*Frame, "prices-page-grouped-by-price.png");
  test::SaveScreenshot("prices-page-with-filter-window.png");

  // Without groups the list holds exactly the results the filter keeps.
  Page().ChooseHeaderMenu(static_cast<size_t>(title), 4);
  Settle();
  ASSERT_FALSE(view.Grouped());
  std::set<int> listed;
  for (const auto& [rank, row] : RowsByRank()) listed.insert(rank);
  EXPECT_EQ(listed, kept);
  EXPECT_EQ(Model().rowCount(), static_cast<int>(kept.size()));
  EXPECT_EQ(Model().Resets(), resets);
}

TEST_F(ResultFrameGuiTest, OpensAResultInTheBrowserAndStepsThroughTheAddressList) {
  // Result addresses name the stores' own hosts; the pane is shown the demo site's loopback page instead,
  // so the test never leaves this machine.
  auto* web = new QWebEngineView;
  std::vector<std::string> loads;
  const QUrl local(QString::fromStdString(Site->Address()));
  OpenPage(web, [web, &loads, local](const std::string& url) {
    loads.push_back(url);
    web->load(local);
  });
  const std::map<int, int> rows = RowsByRank();
  ASSERT_GE(rows.size(), 4u);
  const int row = rows.begin()->second;
  const QRect cell = Frame->List()->visualRect(Model().index(row, ColumnOf("title")));
  QTest::mouseClick(Frame->List()->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(Frame->List()->viewport(), Qt::LeftButton, {}, cell.center());
  Settle();
  ASSERT_EQ(loads.size(), 1u);
  EXPECT_EQ(Page().Mode(), TResultLayout::rlResultsAndBrowser);
  EXPECT_TRUE(web->isVisible());
  EXPECT_EQ(loads[0], ResultAddress(*Page().BrowserResult()));
  ASSERT_TRUE(WaitFor([&] { return web->url() == local; }, 20000));
  ASSERT_TRUE(WaitFor([&] { return !web->title().isEmpty(); }, 20000));
  EXPECT_TRUE(Page().BrowserResult()->Visited);

  // The browser alone with the address list: three quick steps open only the third entry.
  Page().SetMode(TResultLayout::rlBrowser);
  Settle();
  EXPECT_TRUE(Frame->AddressList()->isVisible());
  EXPECT_FALSE(Frame->List()->isVisible());
  const int start = Frame->AddressList()->currentIndex();
  ASSERT_GE(start, 0);
  ASSERT_GE(Frame->AddressList()->count(), start + 3);
  Frame->AddressList()->setCurrentIndex(0);
  Page().ChooseNavigation(0);
  Settle();
  const size_t opened = loads.size();
  for (int i = 0; i < 3; ++i) QTest::mouseClick(Frame->ForwardButton(), Qt::LeftButton);
  Settle();
  EXPECT_EQ(Frame->AddressList()->currentIndex(), 3);
  EXPECT_EQ(loads.size(), opened) << "nothing opens before the half second";
  ASSERT_TRUE(WaitFor([&] { return loads.size() == opened + 1; }, 3000));
  QTest::qWait(700);
  EXPECT_EQ(loads.size(), opened + 1) << "only the last entry opened";
  QTest::mouseClick(Frame->BackButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return loads.size() == opened + 2; }, 3000));
  EXPECT_EQ(Frame->AddressList()->currentIndex(), 2);
}

TEST_F(ResultFrameGuiTest, DeletesAResultAndThenTheSearch) {
  OpenPage();
  const size_t resets = Model().Resets();
  std::map<int, int> rows = RowsByRank();
  const size_t before = rows.size();
  const int doomedRank = rows.begin()->first;
  Frame->List()->setFocus();
  Frame->List()->selectionModel()->select(Model().index(rows.begin()->second, 0),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  Prompts.Queue(TPromptAnswer::paYes);
  QTest::keyClick(Frame->List(), Qt::Key_Delete);
  Settle();
  ASSERT_EQ(Prompts.Asked.size(), 1u);
  EXPECT_EQ(Prompts.Asked[0].Text, "Are you sure you want to delete this result?");
  rows = RowsByRank();
  EXPECT_EQ(rows.size(), before - 1);
  EXPECT_EQ(rows.count(doomedRank), 0u);
  EXPECT_EQ(Model().Resets(), resets);
  // What is stored agrees: read back, the result is still marked deleted and hidden.
  Kernel.History(false).ReloadResults();
  Settle();
  rows = RowsByRank();
  EXPECT_EQ(rows.size(), before - 1);
  EXPECT_EQ(rows.count(doomedRank), 0u);
  TResultStorageList& stored = Kernel.History(false).CurrentResults()->GetResults();
  TResultStorageItem* doomed = stored.ItemByKey(doomedRank);
  ASSERT_NE(doomed, nullptr);
  EXPECT_TRUE(doomed->HasFilterState(rfsDeleted));

  Prompts.Queue(TPromptAnswer::paYes);
  const std::vector<TFrameMenuEntry> menu = Page().SearchMenu();
  ASSERT_EQ(menu.back().Caption, "Delete");
  Page().ChooseSearchMenu(menu.size() - 1);
  Settle();
  EXPECT_EQ(Prompts.Asked.back().Text, "Are you sure you want to delete this search?");
  EXPECT_EQ(Kernel.History(false).CurrentSearch(), nullptr);
  EXPECT_EQ(Model().rowCount(), 0);
  EXPECT_EQ(Frame->Selector()->currentIndex(), -1);
  EXPECT_EQ(Frame->Selector()->count(), 0);
  EXPECT_FALSE(Frame->FilterButton()->isEnabled());
}

TEST_F(ResultFrameGuiTest, ARunAgainMarksNewAndOutdatedResultsWithoutResettingTheList) {
  OpenPage();
  const std::map<int, int> rows = RowsByRank();
  ASSERT_FALSE(rows.empty());
  const size_t resets = Model().Resets();

  TAppSearchHistory& history = Kernel.History(false);
  ASSERT_TRUE(history.Item()->UpdateSearch(Search, [](TSearchStorageItem& s) {
    if (TStorageFieldItem* title = s.FindField("Title"))
      title->SetValue(TDynamicValue(std::string("glass garden")));
  }));
  ASSERT_TRUE(Kernel.RunSearch(*Search, false, false, std::chrono::seconds(60)));
  Settle();
  EXPECT_EQ(Model().Resets(), resets) << "a running search moves rows, it does not reset the model";
  EXPECT_EQ(Model().rowCount(), static_cast<int>(Page().View().RowCount()));
  size_t fresh = 0, outdated = 0;
  TResultStorageList& results = history.CurrentResults()->GetResults();
  for (size_t i = 0; i < results.Count(); ++i) {
    auto* r = static_cast<TResultStorageItem*>(results.Item(i));
    fresh += r->New ? 1 : 0;
    outdated += r->HasFilterState(rfsOutdated) ? 1 : 0;
    if (r->HasFilterState(rfsOutdated)) {
      EXPECT_LT(Page().View().View()->ItemRow(r), 0) << "outdated is hidden";
    }
  }
  EXPECT_GT(fresh, 0u);
  EXPECT_GT(outdated, 0u);
  bool boldSeen = false;
  for (int row = 0; row < Model().rowCount(); ++row)
    if (auto* r = Page().ResultAt(static_cast<size_t>(row)); r && r->New)
      boldSeen |= Model().index(row, ColumnOf("title")).data(Qt::FontRole).value<QFont>().bold();
  EXPECT_TRUE(boldSeen) << "new results are drawn bold";
}

TEST_F(ResultFrameGuiTest, ResultsStreamingIntoTheSortedListKeepSelectionWithoutAReset) {
  OpenPage();
  TResultStorageList& results = Kernel.History(false).CurrentResults()->GetResults();
  const std::map<int, int> rows = RowsByRank();
  ASSERT_FALSE(rows.empty());
  const int selectedRow = rows.rbegin()->second;
  const uint64_t selected = TResultListModel::ResultKey(*Page().ResultAt(static_cast<size_t>(selectedRow)));
  Frame->List()->selectionModel()->select(Model().index(selectedRow, 0),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  Frame->List()->scrollTo(Model().index(selectedRow, 0));
  const size_t resets = Model().Resets();
  int inserted = 0;
  QObject::connect(&Model(), &QAbstractItemModel::rowsInserted,
                   [&](const QModelIndex&, int first, int last) { inserted += last - first + 1; });
  for (int batch = 0; batch < 10; ++batch) {
    results.BeginTransaction(lsAdding);
    for (int i = 0; i < 20; ++i) {
      TResultStorageItem* r = results.NewResult();
      TCurrencyMap map;
      map.FromAmount = {"USD", static_cast<float>(1 + (batch * 20 + i) % 40)};
      r->ResultFields()->AddResultField("title", TDynamicValue("Streamed " + std::to_string(batch * 20 + i)));
      r->ResultFields()->AddResultField("price", TDynamicValue(map.Serialize()));
      r->ResultFields()->AddResultField(
          "url", TDynamicValue("http://127.0.0.1:1/streamed/" + std::to_string(batch * 20 + i)));
      r->FoundBy.Lines = {"pageturner"};
    }
    results.EndTransaction();
    QCoreApplication::processEvents();
  }
  Settle();
  EXPECT_EQ(Model().Resets(), resets);
  EXPECT_GE(inserted, 200);
  EXPECT_EQ(Model().rowCount(), static_cast<int>(Page().View().RowCount()));
  for (int row = 0; row < Model().rowCount(); ++row) {
    TResultStorageItem* r = Page().ResultAt(static_cast<size_t>(row));
    ASSERT_EQ(Model().RowKey(static_cast<size_t>(row)),
              r ? TResultListModel::ResultKey(*r)
                : reinterpret_cast<uintptr_t>(Page().View().View()->RowGroup(static_cast<size_t>(row))))
        << "row " << row;
  }
  const QModelIndexList now = Frame->List()->selectionModel()->selectedRows();
  ASSERT_EQ(now.size(), 1);
  EXPECT_EQ(Model().RowKey(static_cast<size_t>(now[0].row())), selected);
}

TEST_F(ResultFrameGuiTest, ReviewsPageHasItsOwnColumnAndNoFilter) {
  TResultFrameDeps deps{Kernel.History(true), Prompts,         Scheduler, Settings,
                        &Kernel.Catalogue(),  &Kernel.Runner()};
  TResultFilterFrm filters(Scheduler);
  TReviewsFrm reviews(deps, new QLabel("browser"), nullptr);
  reviews.SetFilterWindow(&filters);
  reviews.resize(900, 500);
  reviews.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&reviews));
  EXPECT_EQ(reviews.Selector()->currentIndex(), -1);
  EXPECT_EQ(reviews.Selector()->placeholderText(), "No search");
  EXPECT_FALSE(reviews.FilterButton()->isEnabled());
  filters.ShowFor(reviews.Controller());
  ASSERT_TRUE(WaitFor([&] { return filters.isVisible(); }, 5000));
  EXPECT_EQ(filters.Pages()->currentIndex(), 1);
  QTest::qWait(100);
  test::SaveScreenshot(reviews, "reviews-page.png");
}

}  // namespace
}  // namespace vandrel

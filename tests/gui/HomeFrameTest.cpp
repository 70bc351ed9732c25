// The home page in the real embedded browser, filled from a kernel on a temporary root: its lists, the
// calls it makes through window.external, its menus, texts that try to break out, and a page that fails.
#include "ui/HomeFrame.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QTest>
#include <QWebEngineView>
#include <memory>

#include "TempFolder.h"
#include "actions/AppErrors.h"
#include "data/DemoSite.h"
#include "gui/GuiTestSupport.h"
#include "gui/Screenshots.h"
#include "kernel/HeadlessKernel.h"
#include "platform/SourceDir.h"
#include "presentation/HomePageSource.h"
#include "search/CategoryList.h"
#include "search/QuorinEngineRepository.h"
#include "search/SearchHistory.h"
#include "storage/CategoryStorage.h"
#include "storage/SearchStorage.h"
#include "ui/WebBrowserView.h"

namespace vandrel {
namespace {

const std::string kWelcomePage = std::string(VANDREL_SOURCE_DIR) + "/Web/Welcome.htm";

class HomeFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ =
        SetErrorPresenter({[this](TMessageStyle, const std::string& t) { shown_.push_back(t); }, [] {}});
    TAppKernel::THooks hooks;
    hooks.UserName = "tester";
    hooks.DataFolder = test::CompiledDataDir();
    hooks.RefreshCatalogue = true;
    TStartOptions options;
    options.RootFolder = root_.Path();
    ASSERT_TRUE(kernel_.Open(options, std::move(hooks))) << (shown_.empty() ? "" : shown_.front());
    categories_ = std::make_unique<TCategoryList>(kernel_.Repository().Categories(), test::CompiledDataDir());
    ASSERT_TRUE(categories_->Load());
    source_ = std::make_unique<THistoryHomeSource>(categories_.get(), &kernel_.History(true),
                                                   &kernel_.History(false), &kernel_.Runner());
  }
  void TearDown() override {
    frame_.reset();
    SetErrorPresenter(std::move(previous_));
  }

  TSearchStorageItem* AddSearch(const std::string& keywords, double accessDate) {
    TCategoryStorageItem* category = kernel_.Catalogue().FindCategory("buyelectronics");
    if (!category) return nullptr;
    TSearchStorageItem* search = kernel_.History(false).Item()->NewSearch(
        *category,
        [&](TSearchStorageItem& s) { s.GetFields()->AddField("Keywords", TDynamicValue(keywords)); });
    if (search) {
      search->AccessDate = accessDate;
      search->RunTransaction(lsUpdating, kSearchUpdateAccessDate);
    }
    return search;
  }

  // Shows the frame on the page and waits until the program has filled it.
  void ShowFilled() {
    frame_ = std::make_unique<THomeFrm>(*source_, kWelcomePage);
    frame_->OnLink = [this](THomeLink type, const std::string& text) {
      links_.push_back({static_cast<int>(type), text});
    };
    frame_->resize(1000, 700);
    frame_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
    frame_->ShowHome();
    ASSERT_TRUE(test::WaitForScript(Engine(), "document.querySelectorAll('#categories a').length",
                                    static_cast<int>(categories_->Count())))
        << "the page was not filled";
  }
  QWebEngineView* Engine() { return frame_->View().Engine(); }
  QString Js(const QString& script) { return test::Evaluate(Engine(), script).toString(); }

  test::TempFolder root_;
  TErrorPresenter previous_;
  std::vector<std::string> shown_;
  THeadlessKernel kernel_;
  std::unique_ptr<TCategoryList> categories_;
  std::unique_ptr<THistoryHomeSource> source_;
  std::unique_ptr<THomeFrm> frame_;
  std::vector<std::pair<int, std::string>> links_;
};

TEST_F(HomeFrameTest, ShowsCategoriesAndStoredSearchesAndTheirClicksReachTheProgram) {
  ASSERT_NE(AddSearch("volta", 1), nullptr);
  TSearchStorageItem* newest = AddSearch("harry potter", 2);
  ASSERT_NE(newest, nullptr);
  ShowFilled();
  ASSERT_GT(categories_->Count(), 0u);
  EXPECT_EQ(Js("document.getElementById('CATelectronics') ? 'yes' : 'no'"), "yes");
  // Newest access first, the text as the history shows it (blanks arrive as non-breaking spaces).
  EXPECT_EQ(Js("document.getElementById('AppLinkC1').textContent.replace(/\\u00a0/g, ' ')"),
            QString::fromStdString(newest->DisplayValue));
  EXPECT_EQ(Js("document.querySelectorAll('#compare a').length"), "2");
  test::SaveScreenshot(*frame_, "home-page.png");

  Js("document.getElementById('AppLinkC2').click()");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !links_.empty(); }, 10000)) << "no call through window.external";
  EXPECT_EQ(links_.front(), (std::pair<int, std::string>{4, "2"}));
  EXPECT_FALSE(frame_->Bridge().Loaded());  // the next ShowHome loads the page again

  // A number the list does not hold, from the page's own script, goes nowhere; names match in any case.
  links_.clear();
  Js("window.external.loadcompare('7'); window.external.LOADCOMPARE(0); window.external.NewReviews('x')");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !links_.empty(); }, 10000));
  EXPECT_EQ(links_, (std::vector<std::pair<int, std::string>>{{1, "x"}}));
}

TEST_F(HomeFrameTest, MenusOfEntriesAndCategories) {
  TSearchStorageItem* search = AddSearch("volta", 1);
  ASSERT_NE(search, nullptr);
  kernel_.History(false).SetCurrentSearch(search);  // the prices page shows it
  ShowFilled();
  const QPoint at = frame_->mapToGlobal(QPoint(50, 50));

  frame_->OpenContextMenu("compare", at);  // plain text: no menu at all
  EXPECT_EQ(frame_->ContextMenu(), nullptr);

  frame_->OpenContextMenu("CATelectronics", at);
  ASSERT_NE(frame_->ContextMenu(), nullptr);
  QList<QAction*> items = frame_->ContextMenu()->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[1]->text(), "Find &Prices");
  items[1]->trigger();
  EXPECT_EQ(links_.back(), (std::pair<int, std::string>{2, "electronics"}));
  frame_->ContextMenu()->close();

  frame_->OpenContextMenu("AppLinkC1", at);
  ASSERT_NE(frame_->ContextMenu(), nullptr);
  items = frame_->ContextMenu()->actions();
  ASSERT_EQ(items.size(), 2);
  EXPECT_EQ(frame_->ContextMenu()->defaultAction(), items[0]);
  ASSERT_TRUE(items[1]->isEnabled());
  items[1]->trigger();  // "&Delete": gone from the history and from the page
  EXPECT_EQ(kernel_.History(false).Item()->GetSearches().Count(), 0u);
  EXPECT_EQ(kernel_.History(false).CurrentSearch(), nullptr) << "the prices page would show a deleted search";
  EXPECT_TRUE(test::WaitForScript(Engine(), "document.querySelectorAll('#compare a').length", 0));
}

TEST_F(HomeFrameTest, SearchTextsThatLookLikeScriptStayText) {
  const std::vector<std::string> hostile = {
      R"(a"); window.external.NewSearch("pwned"); (")",
      R"(b\"); window.external.NewSearch('pwned'); //)",
      R"x(</script><img src=x onerror="window.external.NewSearch('pwned')">)x",
  };
  for (size_t i = 0; i < hostile.size(); ++i) ASSERT_NE(AddSearch(hostile[i], 10.0 - i), nullptr);
  ShowFilled();
  for (size_t i = 0; i < hostile.size(); ++i) {
    const std::string& shown = kernel_.History(false).Item()->GetSearches().Search(i)->DisplayValue;
    const QString id = QString("AppLinkC%1").arg(i + 1);
    // What the page shows is the text itself (as the history holds it), cut when too wide.
    QString text = Js("document.getElementById('" + id + "').textContent.replace(/\\u00a0/g, ' ')");
    QString expected = QString::fromStdString(shown);
    if (text.endsWith("...")) expected = expected.left(text.size() - 3) + "...";
    EXPECT_EQ(text, expected) << i;
  }
  EXPECT_EQ(Js("document.querySelectorAll('img, script:not([src])').length"), "1");  // the page's own script
  QTest::qWait(300);
  for (const auto& link : links_) EXPECT_NE(link.second, "pwned");
}

TEST(HomeFrameFailure, APageThatCannotLoadSaysWhyInItsPlace) {
  THistoryHomeSource empty(nullptr, nullptr, nullptr, nullptr);
  test::TempFolder folder;
  const std::string missing = folder / "Web/Welcome.htm";
  THomeFrm frame(empty, missing);
  frame.resize(600, 400);
  frame.show();
  bool finished = false;
  QObject::connect(&frame, &THomeFrm::PageLoaded, [&](bool) { finished = true; });
  frame.ShowHome();
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 20000));
  EXPECT_TRUE(frame.View().Failed());
  EXPECT_TRUE(frame.View().FailureText().contains(QString::fromStdString(missing)));
  // Nothing is sent to a page that is not there.
  EXPECT_FALSE(frame.View().HasDocument());
}

TEST(HomeFrameProfile, TheHomePageReachesNothingButLocalFiles) {
  test::TDemoSite site;
  ASSERT_NE(site.Port, 0);
  test::TempFolder folder;
  const std::string page = folder / "Welcome.htm";
  test::WriteWholeFile(page, "<html><body><img id=i src=\"" + site.Address() +
                                 "\" onload=\"document.title='remote'\" onerror=\"document.title='refused'\">"
                                 "</body></html>");
  THistoryHomeSource empty(nullptr, nullptr, nullptr, nullptr);
  THomeFrm frame(empty, page);
  frame.show();
  frame.ShowHome();
  EXPECT_TRUE(test::WaitForScript(frame.View().Engine(), "document.title", "refused"));
}

}  // namespace
}  // namespace vandrel

// The progress window on its own: the ticker from the bundled script scrolling and rotating topics, a
// broken script hiding the ticker bar, rows and their clicks, the list scrolling when engines outnumber the
// screen, and closing rules.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <fstream>

#include "TempFolder.h"
#include "actions/AppErrors.h"
#include "data/DemoSite.h"
#include "gui/Screenshots.h"
#include "kernel/AppConfig.h"
#include "platform/RegistryFileStore.h"
#include "presentation/FakeDesktopPorts.h"
#include "storage/EngineStorage.h"
#include "ui/ProgressForm.h"
#include "ui/QtDesktopPorts.h"
#include "ui/ScrollingTicker.h"

namespace vandrel {
namespace {

class ProgressFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ =
        SetErrorPresenter({[this](TMessageStyle, const std::string& t) { Shown.push_back(t); }, [] {}});
    for (int i = 0; i < 80; ++i) {
      auto engine = std::make_unique<TEngineStorageItem>();
      engine->EngName = "store" + std::to_string(i);
      engine->DisplayName = "Demo Store Number " + std::to_string(i);
      engine->HomePage = "http://127.0.0.1:1/" + engine->EngName;
      Engines.push_back(std::move(engine));
    }
  }
  void TearDown() override { SetErrorPresenter(std::move(previous_)); }

  std::unique_ptr<TProgressForm> Form(const std::string& dataFolder) {
    return std::make_unique<TProgressForm>(TProgressFormContext{
        nullptr, nullptr, &Config, &Scheduler, &Prompts, dataFolder,
        [this](const std::string& url) { Opened.push_back(url); }, [this](int p) { Percents.push_back(p); }});
  }
  std::vector<TEngineStorageItem*> First(size_t n) {
    std::vector<TEngineStorageItem*> list;
    for (size_t i = 0; i < n; ++i) list.push_back(Engines[i].get());
    return list;
  }

  test::TempFolder Root;
  TAppConfig Config{std::make_shared<TRegistryFileStore>(Root.Path() + "/registry")};
  TQtScheduler Scheduler;
  test::TScriptedPrompts Prompts;
  std::vector<std::unique_ptr<TEngineStorageItem>> Engines;
  std::vector<std::string> Opened, Shown;
  std::vector<int> Percents;
  TErrorPresenter previous_;
};

TEST_F(ProgressFormTest, TheTickerScrollsTheBundledTipsAndTheRowsFollowTheirEngines) {
  auto form = Form(test::CompiledDataDir());
  ISearchActionObserver& o = form->AttachSearch(First(3), "Electronics", "volta");
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  EXPECT_EQ(form->windowTitle(), "Search Progress - volta (Electronics)");
  ASSERT_TRUE(form->TickerShown());
  TScrollingTicker* ticker = form->Ticker();
  EXPECT_GE(ticker->Model().Elements().size(), 10u);
  EXPECT_EQ(Config.Preferences().ScrollingTickerTopicIndex(), 1)
      << "the first topic, the next show the second";
  // Past the start pause the strip moves.
  const int start = ticker->Model().Offset();
  QTRY_VERIFY_WITH_TIMEOUT(ticker->Model().Offset() != start, 5000);
  EXPECT_GT(ticker->Strip().width(), ticker->width());

  o.EngineStarted(Engines[0].get());
  o.EngineProgress(Engines[0].get(), 60);
  o.EngineResults(Engines[0].get(), 12);
  o.EngineStarted(Engines[1].get());
  o.EngineError(Engines[1].get(), "StatusCode: 500");
  o.EngineResults(Engines[1].get(), 0);
  o.EngineDone(Engines[1].get());
  ASSERT_EQ(form->RowControls().size(), 3u);
  EXPECT_EQ(form->RowControls()[0]->Row().MatchCount, 12);
  EXPECT_TRUE(form->RowControls()[1]->Row().HasErrors);
  EXPECT_EQ(form->findChild<QProgressBar*>("ProgressBar")->value(), 33);
  EXPECT_EQ(Percents, std::vector<int>{33});
  EXPECT_TRUE(form->StopButton()->isVisible());
  test::SaveScreenshot(*form, "progress-window.png");

  // Ctrl+click tells the failed store's error; Shift+click opens a home page.
  QTest::mouseClick(form->RowControls()[1], Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ(Shown, std::vector<std::string>{AppErrorText(aeGeneral, {"StatusCode: 500"})});
  QTest::mouseClick(form->RowControls()[0], Qt::LeftButton, Qt::ShiftModifier);
  EXPECT_EQ(Opened, std::vector<std::string>{"http://127.0.0.1:1/store0"});

  // Hide only hides; showing again moves to the next topic.
  QTest::mouseClick(form->HideButton(), Qt::LeftButton);
  EXPECT_FALSE(form->isVisible());
  form->ShowProgress();
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(Config.Preferences().ScrollingTickerTopicIndex(), 2);
  // Esc with no search running hides it; the summary is not due (one of three failed).
  QTest::keyClick(form.get(), Qt::Key_Escape);
  EXPECT_FALSE(form->isVisible());
  QTest::qWait(50);
  EXPECT_TRUE(Prompts.Asked.empty());
}

TEST_F(ProgressFormTest, EveryEngineFailingAlikeIsSummarisedAtTheEnd) {
  auto form = Form(test::CompiledDataDir());
  ISearchActionObserver& o = form->AttachSearch(First(2), "Books", "dune");
  for (size_t i = 0; i < 2; ++i) {
    o.EngineStarted(Engines[i].get());
    o.EngineError(Engines[i].get(), "Time-out");
    o.EngineDone(Engines[i].get());
  }
  EXPECT_EQ(form->findChild<QLabel*>("ProgressLbl")->text(), kProgressCompleted);
  EXPECT_FALSE(form->StopButton()->isEnabled());
  o.ActionFinished();
  QTRY_COMPARE_WITH_TIMEOUT(Prompts.Asked.size(), size_t{1}, 5000);
  EXPECT_EQ(Prompts.Asked[0].Text,
            "The following error occurred while searching on 2 engine(s):\r\nTime-out.");
  EXPECT_FALSE(form->isVisible());
}

TEST_F(ProgressFormTest, ABrokenTickerScriptHidesTheBarForGoodAndManyEnginesScroll) {
  test::TempFolder data;
  std::ofstream(data.Path() + "/ticker.ccs")
      << "Procedure Register\n  TickerData = 'Elements = < item >'\nEndProcedure\n";
  auto form = Form(data.Path());
  form->AttachSearch(First(80), "Music", "abbey road");
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  EXPECT_FALSE(form->TickerShown());
  EXPECT_FALSE(form->Ticker()->isVisible());
  const QRect work = form->screen()->availableGeometry();
  EXPECT_LE(form->frameGeometry().height(), work.height());
  EXPECT_EQ(form->frameGeometry().right(), work.right()) << "placed in the bottom-right corner";
  EXPECT_EQ(form->frameGeometry().bottom(), work.bottom());
  auto* scroll = form->findChild<QScrollArea*>("ProgressScrollBox");
  ASSERT_NE(scroll, nullptr);
  EXPECT_TRUE(scroll->verticalScrollBar()->isVisible()) << "80 rows do not fit: the list scrolls";
  // A working script later does not bring the bar back before a restart.
  std::ofstream(data.Path() + "/ticker.ccs", std::ios::trunc)
      << "Procedure Register\n  TickerData = 'Elements = < item Style = esText end >'\nEndProcedure\n";
  form->AttachSearch(First(1), "Music", "abbey road");
  EXPECT_FALSE(form->TickerShown());
}

}  // namespace
}  // namespace vandrel

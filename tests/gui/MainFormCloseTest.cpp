// Closing the main window while the runner works: the stop question, a refusal that keeps the window,
// and a stop that lets it close once the runner is idle.
#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>
#include <memory>

#include "actions/QuorinActions.h"
#include "actions/QuorinApplications.h"
#include "kernel/AppConfig.h"
#include "kernel/AppKernel.h"
#include "kernel/AppName.h"
#include "platform/RegistryFileStore.h"
#include "presentation/FakeDesktopPorts.h"
#include "storage/PropertyStream.h"
#include "ui/MainForm.h"

namespace vandrel {
namespace {

class TLongOperation : public TQuorinOperation {
  VANDREL_PERSISTENT(TLongOperation)
};

const TClassInfo& TLongOperation::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TLongOperation>("TLongOperation", TQuorinOperation::StaticClass()).Build();
  return info;
}

// Runs until it is stopped, as a search does.
class TLongAction : public TQuorinAsynchronousAction {
 public:
  bool Prepare(TEngineRepository* repository, TSearchHistory* history) override {
    TQuorinAction::Prepare(repository, history);
    return true;
  }
  bool Bind(const TQuorinOperation&) override { return true; }
  bool Start() override {
    NotifyAllStarted();
    return true;
  }
  void Stop() override { NotifyAllFinished(); }
};

class MainFormCloseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterAppName("Vandrel Shopper");
    char pattern[] = "/tmp/vandrel-close-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    config_ = std::make_unique<TAppConfig>(std::make_shared<TRegistryFileStore>(dir_ + "/registry"));
    actions_.Register(
        TQuorinActionRepository::kSearchCategory, [] { return std::make_unique<TLongAction>(); },
        TLongOperation::StaticClass());
    kernel_.SetSearchContext(&runner_, config_.get(), {nullptr, nullptr}, {nullptr, nullptr});
    form_ = std::make_unique<TVandrelShopperForm>(kernel_, processor_);
    form_->SetPrompts(&prompts_);
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }
  void TearDown() override {
    form_.reset();
    if (runner_.State() != asIdle) runner_.Stop(true);
    MainDispatcher::Default().ProcessPending();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  bool Pump(const std::function<bool()>& done, int timeoutMs) {
    return QTest::qWaitFor(
        [&] {
          MainDispatcher::Default().ProcessPending();
          return done();
        },
        timeoutMs);
  }

  std::string dir_;
  std::unique_ptr<TAppConfig> config_;
  TQuorinActionRepository actions_;
  TQuorinApplication runner_{actions_, MainDispatcher::Default()};
  MainDispatcher dispatcher_;
  TCommandLineProcessor processor_;
  TAppKernel kernel_{processor_, dispatcher_};
  test::TScriptedPrompts prompts_;
  std::unique_ptr<TVandrelShopperForm> form_;
};

TEST_F(MainFormCloseTest, StopQuestionNoKeepsTheWindowYesClosesItOnceIdle) {
  ASSERT_EQ(runner_.Submit(std::make_unique<TLongOperation>()), arOk);
  ASSERT_NE(runner_.State(), asIdle);
  // Running: stop is on, new searches are off.
  EXPECT_TRUE(form_->Action(TMainCommand::mcStopSearch)->isEnabled());
  EXPECT_FALSE(form_->Action(TMainCommand::mcNewSearch)->isEnabled());
  EXPECT_FALSE(form_->Action(TMainCommand::mcOptions)->isEnabled());

  prompts_.Queue(TPromptAnswer::paNo);
  form_->close();
  ASSERT_EQ(prompts_.Asked.size(), 1u);
  EXPECT_EQ(prompts_.Asked[0].Text, "Are you sure you want to stop the current search?");
  EXPECT_TRUE(prompts_.Asked[0].OfferDontAskAgain);
  QTest::qWait(400);  // longer than the close timer: nothing was scheduled
  EXPECT_TRUE(form_->isVisible());
  EXPECT_NE(runner_.State(), asIdle);

  prompts_.Queue(TPromptAnswer::paYes, true);
  form_->close();
  EXPECT_EQ(prompts_.Asked.size(), 2u);
  EXPECT_TRUE(Pump([&] { return !form_->isVisible(); }, 5000));
  EXPECT_EQ(runner_.State(), asIdle);
  EXPECT_FALSE(config_->Prompts().PromptStopMsg());  // "don't show me this again" was ticked
}

TEST_F(MainFormCloseTest, WithTheQuestionOffOrForASignalTheSearchStopsWithoutAsking) {
  ASSERT_EQ(runner_.Submit(std::make_unique<TLongOperation>()), arOk);
  form_->CloseWithoutAsking();
  EXPECT_TRUE(prompts_.Asked.empty());
  EXPECT_TRUE(Pump([&] { return !form_->isVisible(); }, 5000));
  EXPECT_EQ(runner_.State(), asIdle);
}

}  // namespace
}  // namespace vandrel

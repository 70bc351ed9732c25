// The main window in this process: the commands it registers and how it moves between its pages.
#include <gtest/gtest.h>

#include <QTest>
#include <memory>

#include "kernel/AppKernel.h"
#include "kernel/AppName.h"
#include "ui/MainForm.h"

namespace vandrel {
namespace {

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterAppName("Vandrel Shopper");
    form_ = std::make_unique<TVandrelShopperForm>(kernel_, processor_);
    form_->resize(900, 600);
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }

  MainDispatcher dispatcher_;
  TCommandLineProcessor processor_;
  TAppKernel kernel_{processor_, dispatcher_};
  std::unique_ptr<TVandrelShopperForm> form_;
};

TEST_F(MainFormTest, PageCommandsSwitchPagesAndRestoreAMinimisedWindow) {
  EXPECT_TRUE(kernel_.MainFormShown());
  EXPECT_EQ(form_->CurrentPage(), pkHome);
  form_->showMinimized();
  EXPECT_TRUE(processor_.Execute("shop:prices"));
  EXPECT_EQ(form_->CurrentPage(), pkPrices);
  EXPECT_FALSE(form_->isMinimized());
  EXPECT_TRUE(processor_.Execute("REVIEWS"));
  EXPECT_EQ(form_->CurrentPage(), pkReviews);
  EXPECT_TRUE(processor_.Execute("home"));
  EXPECT_EQ(form_->CurrentPage(), pkHome);
}

TEST_F(MainFormTest, NewSearchCommandsCarryCategoryAndQuery) {
  struct Request {
    std::string category;
    bool isReviews;
    std::string query;
  };
  std::vector<Request> requests;
  form_->SetSearchWizardRequest([&](const std::string& c, bool r, const std::string& q) {
    requests.push_back({c, r, q});
  });
  processor_.Execute("shop:newcatprices books harry potter");
  processor_.Execute("newcatreviews music");
  processor_.Execute("newprices digital camera");
  processor_.Execute("new tv");
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].category, "books");
  EXPECT_FALSE(requests[0].isReviews);
  EXPECT_EQ(requests[0].query, "harry potter");
  EXPECT_EQ(requests[1].category, "music");
  EXPECT_TRUE(requests[1].isReviews);
  EXPECT_EQ(requests[1].query, "");
  EXPECT_EQ(requests[2].category, "");
  EXPECT_FALSE(requests[2].isReviews);
  EXPECT_TRUE(requests[3].isReviews);
  EXPECT_EQ(requests[3].query, "tv");

  // Without a wizard the request is at least visible.
  form_->SetSearchWizardRequest(nullptr);
  processor_.Execute("newcatprices books harry potter");
  EXPECT_EQ(form_->StatusText(), "New price search in books: harry potter");
}

TEST_F(MainFormTest, CtrlTabCyclesThePagesAndWrapsAround) {
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  form_->ShowPage(pkPrices);
  QTest::keyClick(form_.get(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(form_->CurrentPage(), pkHome);
  QTest::keyClick(form_.get(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(form_->CurrentPage(), pkReviews);
  QTest::keyClick(form_.get(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(form_->CurrentPage(), pkHome);
  QTest::keyClick(form_.get(), Qt::Key_3, Qt::ControlModifier);
  EXPECT_EQ(form_->CurrentPage(), pkPrices);
}

TEST_F(MainFormTest, ClosedWindowLeavesNoCommandsBehind) {
  form_.reset();
  EXPECT_FALSE(processor_.Execute("prices"));
}

}  // namespace
}  // namespace vandrel

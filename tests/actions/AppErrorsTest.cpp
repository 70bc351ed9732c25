#include "actions/AppErrors.h"

#include <gtest/gtest.h>

#include <vector>

namespace vandrel {
namespace {

struct Shown {
  TMessageStyle style;
  std::string text;
};

// Collects what would have been shown and counts terminations instead of ending the test.
class AppErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetErrorPresenter({[this](TMessageStyle s, const std::string& t) {
                                     shown_.push_back({s, t});
                                   },
                                   [this] { ++terminated_; }});
  }
  void TearDown() override { SetErrorPresenter(std::move(previous_)); }

  TErrorPresenter previous_;
  std::vector<Shown> shown_;
  int terminated_ = 0;
};

TEST_F(AppErrorsTest, MessagesAreFormattedWithTheCallersArguments) {
  EXPECT_EQ(AppErrorText(aeSearchError, {"timed out", 10060}), "Search error: timed out (Error #10060).");
  EXPECT_EQ(AppErrorText(aePriceEnginesNotFound, {"books"}),
            "Price engines for category \"books\" not found.");
  EXPECT_EQ(AppErrorText(aeGeneral, {"disk full"}), "The following error has occurred:\r\ndisk full.");
  EXPECT_EQ(AppErrorText(aeCreateFolders), "Could not create Vandrel Shopper folders.");
  // A message shown without its argument keeps the placeholder rather than reading past the list.
  EXPECT_EQ(AppErrorText(aeNoCategoryEngines), "No engines for %0:s category.");
  EXPECT_EQ(ActionErrorText(arCannotStart), "Cannot start.");
  EXPECT_EQ(ActionErrorText(arCannotStopNow), "Cannot stop now.");
}

TEST_F(AppErrorsTest, FatalSetsMatchTheTables) {
  std::vector<int> fatal;
  for (int code = 0; code < kAppErrorCount; ++code)
    if (IsFatalAppError(static_cast<TAppError>(code))) fatal.push_back(code);
  EXPECT_EQ(fatal, (std::vector<int>{3, 4, 5, 7, 8, 11, 14, 17, 18, 23}));
  for (int code = 1; code < kActionResultCount; ++code)
    EXPECT_EQ(IsFatalActionError(static_cast<TQuorinActionResult>(code)), code != arCannotStart) << code;
}

TEST_F(AppErrorsTest, FatalCodeShowsAnErrorAndTerminates) {
  ShowAppError(aeHomePageNotFound);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].style, TMessageStyle::msError);
  EXPECT_EQ(shown_[0].text, "The home page could not be found.");
  EXPECT_EQ(terminated_, 1);

  ShowActionError(arBusy);
  EXPECT_EQ(shown_.back().text, "Vandrel Shopper is currently running.");
  EXPECT_EQ(terminated_, 2);
}

TEST_F(AppErrorsTest, WarningReturnsWithoutTerminating) {
  ShowAppError(aeLowResolution);
  ShowActionError(arCannotStart);
  ASSERT_EQ(shown_.size(), 2u);
  EXPECT_EQ(shown_[0].style, TMessageStyle::msWarning);
  EXPECT_EQ(shown_[1].style, TMessageStyle::msWarning);
  EXPECT_EQ(terminated_, 0);
}

TEST_F(AppErrorsTest, ActionOkIsNeverShownAndUnknownCodesAreHarmless) {
  ShowActionError(arOk);
  EXPECT_TRUE(shown_.empty());
  ShowAppError(static_cast<TAppError>(200));
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text, "Error #200.");
  EXPECT_EQ(terminated_, 0);
}

}  // namespace
}  // namespace vandrel

// An exception thrown by work on the event loop is shown, not fatal.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "ui/ExceptionForm.h"

namespace vandrel {
namespace {

// Runs `check` on the exception window once it is open, then closes it.
void WhenWindowOpens(const std::function<void(TExceptionForm&)>& check) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, check] {
    TExceptionForm* form = TExceptionForm::Current();
    if (!form || !form->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    check(*form);
    form->accept();
  });
  poll->start(20);
}

TEST(ExceptionForm, ExceptionFromAnEventIsShownAndTheLoopGoesOn) {
  auto* app = dynamic_cast<TVandrelApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr) << "the test program must use the program's application class";

  QString shown;
  bool detailsToggled = false;
  bool reused = false;
  WhenWindowOpens([&](TExceptionForm& form) {
    shown = form.Message();
    QPushButton* details = nullptr;
    for (auto* button : form.findChildren<QPushButton*>())
      if (button->text() == "&Details >>") details = button;
    ASSERT_NE(details, nullptr);
    QSize before = form.sizeHint();
    details->click();
    detailsToggled =
        form.DetailsShown() && details->text() == "No &Details" && form.sizeHint().height() > before.height();
    details->click();
    detailsToggled = detailsToggled && !form.DetailsShown();
    // A later exception while the window is open reuses it.
    TExceptionForm::ShowException({"second failure", "int", "VandrelShopper"});
    reused = TExceptionForm::Current() == &form && form.Message() == "second failure";
  });
  QTimer::singleShot(0, [] { throw std::runtime_error("the engine list is damaged"); });
  bool after = false;
  QTimer::singleShot(100, [&] { after = true; });
  EXPECT_TRUE(QTest::qWaitFor([&] { return after && !TExceptionForm::Current(); }, 5000));
  EXPECT_EQ(shown, "the engine list is damaged");
  EXPECT_TRUE(detailsToggled);
  EXPECT_TRUE(reused);
}

// What escapes the program's body outside the event loop is shown in the same window; the status is 1.
TEST(ExceptionForm, ExceptionEscapingTheProgramIsShownAndEndsWithStatusOne) {
  QString shown;
  WhenWindowOpens([&](TExceptionForm& form) { shown = form.Message(); });
  const int status = RunGuarded(
      []() -> int { throw std::runtime_error("the category list could not be read"); }, "VandrelShopper");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(shown, "the category list could not be read");
  EXPECT_EQ(TExceptionForm::Current(), nullptr);
  // Nothing escaping: the body's own status.
  EXPECT_EQ(RunGuarded([] { return 7; }, "VandrelShopper"), 7);
}

}  // namespace
}  // namespace vandrel

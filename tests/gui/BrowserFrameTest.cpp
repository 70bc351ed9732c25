// The browser pane in the real embedded browser on the demo store site: pages, back and forward with
// their buttons, the address box, the favourites menu and the page commands.
#include "ui/BrowserFrame.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QToolButton>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "TempFolder.h"
#include "data/DemoSite.h"
#include "gui/GuiTestSupport.h"
#include "gui/Screenshots.h"
#include "platform/RegistryFileStore.h"
#include "ui/QtDesktopPorts.h"
#include "ui/WebBrowserView.h"

namespace vandrel {
namespace {

class BrowserFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(site_.Port, 0) << "the demo store site did not start";
    TFavoriteFolder favorites{"",
                              {{"Stores", {}, {{"Demo", site_.Address()}}}, {"Nothing", {}, {}}},
                              {{"Script", "javascript:document.title='ran'"}, {"Home", site_.Address()}}};
    frame_ = std::make_unique<TBrowserFrm>(scheduler_, &store_, favorites);
    frame_->resize(1100, 800);
    frame_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
    frame_->InitPane();
  }

  // Opens `url` and waits until the page has arrived.
  bool Open(const std::string& url) {
    bool done = false;
    auto connection =
        QObject::connect(&frame_->View(), &TWebBrowserView::LoadFinished, [&](bool) { done = true; });
    frame_->Navigate(url);
    const bool arrived = QTest::qWaitFor([&] { return done; }, 20000);
    QObject::disconnect(connection);
    return arrived && frame_->View().HasDocument();
  }
  QToolButton* Button(const char* name) { return frame_->findChild<QToolButton*>(name); }
  QString Location() { return QString::fromStdString(frame_->View().Location()); }

  test::TDemoSite site_;
  test::TempFolder folder_;
  TRegistryFileStore store_{folder_.Path()};
  TQtScheduler scheduler_;
  std::unique_ptr<TBrowserFrm> frame_;
};

// A page process that dies leaves its reason where the page was; the next address brings a page back.
TEST_F(BrowserFrameTest, ADeadPageProcessShowsItsReasonInPlaceOfThePage) {
  ASSERT_TRUE(Open(site_.Address()));
  const qint64 pid = frame_->View().Engine()->page()->renderProcessPid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(static_cast<pid_t>(pid), SIGKILL), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return frame_->View().Failed(); }, 15000));
  auto* label = frame_->findChild<QLabel*>("BrowserFailure");
  ASSERT_NE(label, nullptr);
  EXPECT_TRUE(label->isVisible());
  EXPECT_EQ(label->text(), "The web browser's page process was killed.");
  EXPECT_EQ(frame_->View().FailureText(), label->text());
  EXPECT_FALSE(frame_->View().HasDocument());
  test::SaveScreenshot(*frame_, "browser-pane-failed.png");

  ASSERT_TRUE(Open(site_.Address())) << "a new page process for the next address";
  EXPECT_FALSE(frame_->View().Failed());
  EXPECT_FALSE(label->isVisible());
}

TEST_F(BrowserFrameTest, LoadsStorePagesAndGoesBackAndForward) {
  const QString home = QString::fromStdString(site_.Address());
  ASSERT_TRUE(Open(site_.Address()));
  EXPECT_FALSE(Button("BackBtn")->isEnabled());
  const QString link =
      test::Evaluate(frame_->View().Engine(), "document.links.length ? document.links[0].href : ''")
          .toString();
  ASSERT_FALSE(link.isEmpty()) << "the store's page has no link";
  ASSERT_TRUE(Open(link.toStdString()));
  test::SaveScreenshot(*frame_, "browser-pane.png");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Button("BackBtn")->isEnabled(); }, 5000));
  EXPECT_FALSE(Button("ForwardBtn")->isEnabled());
  EXPECT_EQ(frame_->AddressEdit()->currentText(), link);

  Button("BackBtn")->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Location() == home; }, 20000)) << Location().toStdString();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Button("ForwardBtn")->isEnabled(); }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return frame_->AddressEdit()->currentText() == home; }, 5000));
  Button("ForwardBtn")->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Location() == link; }, 20000)) << Location().toStdString();
}

TEST_F(BrowserFrameTest, TheAddressBoxOpensWhatIsTypedAndRemembersIt) {
  QLineEdit* edit = frame_->AddressEdit()->lineEdit();
  edit->setFocus();
  edit->clear();
  const QString typed = QString::fromStdString(site_.Address()) + "?typed=1";
  QTest::keyClicks(edit, typed);
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Location() == typed; }, 20000)) << Location().toStdString();
  EXPECT_EQ(frame_->AddressEdit()->itemText(0), typed);
  EXPECT_EQ(frame_->AddressEdit()->count(), 1);
  // Kept in the store for the next pane.
  auto kept = store_.ReadValue(TRegRoot::rrCurrentUser, kTypedUrlsKey, "Url1");
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->Data, typed.toStdString());

  // Escape brings the page's address back over half-typed text.
  ASSERT_TRUE(QTest::qWaitFor([&] { return frame_->View().HasDocument(); }, 20000));
  edit->setFocus();
  QTest::keyClicks(edit, "garbage");
  QTest::keyClick(edit, Qt::Key_Escape);
  EXPECT_EQ(edit->text(), typed);
}

TEST_F(BrowserFrameTest, FavouritesFoldersFirstAndOnlyWebAddressesOpen) {
  QMenu* menu = frame_->FavoritesMenu();
  emit menu->aboutToShow();
  QStringList texts;
  for (QAction* action : menu->actions())
    if (!action->isSeparator()) texts << action->text();
  EXPECT_EQ(texts,
            (QStringList{"&Add to Favorites", "&Organize Favorites", "Stores", "Nothing", "Script", "Home"}));
  QAction* script = menu->actions().at(5);
  ASSERT_EQ(script->text(), "Script");
  script->trigger();
  QTest::qWait(200);
  EXPECT_TRUE(frame_->View().Location().empty() || frame_->View().Location() == "about:blank");
  menu->actions().at(6)->trigger();
  EXPECT_TRUE(QTest::qWaitFor([&] { return frame_->View().HasDocument(); }, 20000));

  // The context menu's page commands follow the document.
  QMenu* popup = frame_->PopupMenu();
  emit popup->aboutToShow();
  for (QAction* action : popup->actions()) {
    if (!action->menu() && !action->isSeparator()) {
      EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
    }
  }
}

TEST_F(BrowserFrameTest, ZoomButtonTellsTheOwnerButNotWhenSetByIt) {
  std::vector<bool> told;
  frame_->OnZoom = [&](bool down) { told.push_back(down); };
  Button("ZoomModeBtn")->click();
  EXPECT_TRUE(Button("ZoomModeBtn")->isChecked());
  frame_->SetZoomDown(false);
  EXPECT_FALSE(Button("ZoomModeBtn")->isChecked());
  EXPECT_EQ(told, std::vector<bool>{true});
}

}  // namespace
}  // namespace vandrel

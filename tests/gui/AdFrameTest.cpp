// The banner strip against the demo store site: a banner shows, rotates, pauses while the main window is
// inactive, and a click with Shift, Ctrl and Alt held shows the links window.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <thread>

#include "TempFolder.h"
#include "cli/DemoStoreServer.h"
#include "gui/Screenshots.h"
#include "kernel/AppName.h"
#include "ui/AdFrame.h"
#include "ui/AdInfoForm.h"
#include "ui/QtDesktopPorts.h"

namespace vandrel {
namespace {

// The demo store site on a free loopback port, served from a thread of its own.
class TDemoSite {
 public:
  TDemoSite() {
    std::string error;
    Listening = Server->Listen("127.0.0.1", 0, error);
    if (Listening) Thread = std::thread([this] { Server->Run(StopFd); });
  }
  ~TDemoSite() {
    uint64_t one = 1;
    if (write(StopFd, &one, sizeof one) < 0) {
    }
    if (Thread.joinable()) Thread.join();
    close(StopFd);
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(Server->Port()) + path;
  }

  std::unique_ptr<THttpServer> Server = cli::NewDemoStoreServer();
  int StopFd = eventfd(0, 0);
  bool Listening = false;
  std::thread Thread;
};

class AdFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterAppName("Vandrel Shopper");
    // As the program does: the downloader's events reach the strip through the event loop.
    MainDispatcher::Default().AdoptCurrentThread();
    RunDispatcherFromEventLoop();
    ASSERT_TRUE(Site.Listening);
    test::WriteWholeFile(Folder / "shopper.ccs",
                         "Procedure Init\n  SourceUrl = \"" + Site.Url("/banners/1.gif") +
                             "\"\n  TargetUrl = \"" + Site.Url("/banners/click?n=1") +
                             "\"\n  RotationInterval = 400\n  UseCookies = True\nEndProcedure\n");
    Frame = std::make_unique<TAdFrm>(Folder.Path() + "/");
    Frame->resize(640, TAdFrm::kStripHeight);
    // Count every banner the strip is handed, then let the frame show it as usual.
    auto show = Frame->Strip().ShowBanner;
    Frame->Strip().ShowBanner = [this, show](const std::string& bytes) {
      ++Banners;
      show(bytes);
    };
    Frame->OpenPage() = [this](const std::string& address) { Opened.push_back(address); };
  }

  void TearDown() override {
    Frame.reset();
    MainDispatcher::Default().SetWakeHandler(nullptr);
  }

  TDemoSite Site;
  test::TempFolder Folder;
  std::unique_ptr<TAdFrm> Frame;
  int Banners = 0;
  std::vector<std::string> Opened;
};

TEST_F(AdFrameTest, ShowsRotatesPausesAndShowsTheLinks) {
  EXPECT_FALSE(Frame->isVisible()) << "hidden until a banner arrives";
  Frame->SetAdContext(nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Frame->isVisible(); }, 10000));
  EXPECT_GT(Frame->Picture().FrameCount(), 1);
  // The animation plays on its own.
  EXPECT_TRUE(QTest::qWaitFor([&] { return Frame->Picture().CurrentFrame() > 0; }, 5000));
  test::SaveScreenshot(*Frame, "ad-strip.png");

  ASSERT_TRUE(QTest::qWaitFor([&] { return Banners >= 2; }, 10000)) << "the strip rotates";
  Frame->SetActive(false);
  QTest::qWait(300);  // a request already under way may still land
  const int paused = Banners;
  QTest::qWait(1500);
  EXPECT_EQ(Banners, paused) << "no banner while the main window is inactive";
  Frame->SetActive(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Banners > paused; }, 5000));

  // An ordinary click follows both redirections to the landing page.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Frame->IsBusy(); }, 5000));
  QTest::mouseClick(Frame.get(), Qt::LeftButton, {}, QPoint(20, 20));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Opened.empty(); }, 10000));
  EXPECT_EQ(Opened.front(), Site.Url("/banners/landing?n=1"));

  // Shift+Ctrl+Alt: the links window instead of the browser.
  QString image, target, final;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    TAdInfoForm* form = Frame->InfoForm();
    if (!form || !form->isVisible()) return;
    poll.stop();
    image = form->ImageText();
    target = form->TargetText();
    final = form->FinalText();
    test::SaveScreenshot(*form, "ad-links.png");
    EXPECT_TRUE(form->SaveImageTo(QString::fromStdString(Folder / "saved.gif")));
    form->accept();
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Frame->IsBusy(); }, 5000));
  poll.start();
  const auto all = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
  QTest::mouseClick(Frame.get(), Qt::LeftButton, all, QPoint(20, 20));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !final.isEmpty(); }, 10000));
  EXPECT_EQ(image.toStdString(), Site.Url("/banners/1.gif"));
  EXPECT_EQ(target.toStdString(), Site.Url("/banners/click?n=1"));
  EXPECT_EQ(final.toStdString(), Site.Url("/banners/landing?n=1"));
  EXPECT_EQ(Opened.size(), 1u);
  EXPECT_EQ(test::ReadWholeFile(Folder / "saved.gif").substr(0, 6), "GIF89a");
}

TEST_F(AdFrameTest, AStripTooLowForTheBannerStaysHidden) {
  Frame->setFixedHeight(20);
  Frame->SetAdContext(nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Banners >= 1; }, 10000));
  QTest::qWait(50);
  EXPECT_FALSE(Frame->isVisible());
}

}  // namespace
}  // namespace vandrel

// The engine update window over a real update site: "Check Updates Now" installs a changed engine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "gui/Screenshots.h"
#include "kernel/AppName.h"
#include "search/DefinitionFiles.h"
#include "ui/UpdaterForm.h"
#include "update/UpdateTestWorld.h"

namespace vandrel {
namespace {

using updatetest::TSiteProcess;
using updatetest::TUpdateClient;

TEngineUpdaterFrm* OpenUpdater() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* form = qobject_cast<TEngineUpdaterFrm*>(w); form && form->isVisible()) return form;
  return nullptr;
}

// Records the window's last status and button while it is open; takes a picture of the final status.
struct TWatch {
  explicit TWatch(const QString& picture) : Picture(picture) {
    Poll.setInterval(10);
    QObject::connect(&Poll, &QTimer::timeout, [this] {
      TEngineUpdaterFrm* form = OpenUpdater();
      if (!form) return;
      Seen = true;
      Button = form->CancelBtn().text();
      const QString status = form->UpdaterFrm().StatusText();
      if (status != Status && (status == "Update completed." || status == "No changes detected.")) {
        Progress = form->UpdaterFrm().ProgressValue();
        if (!Picture.isEmpty()) test::SaveScreenshot(*form, Picture);
      }
      Status = status;
    });
    Poll.start();
  }
  QTimer Poll;
  QString Picture;
  bool Seen = false;
  QString Status;
  QString Button;
  int Progress = 0;
};

TEST(UpdaterForm, CheckUpdatesNowInstallsAChangedEngine) {
  RegisterAppName("Vandrel Shopper");
  testing::TDataFolder site;
  updatetest::WriteSmallSite(site, 1);
  TSiteProcess process(site.Path());
  ASSERT_GT(process.Port, 0) << process.Log();
  TUpdateClient client;
  client.Settings.Address = process.Url();

  {
    TWatch watch("update-window.png");
    EXPECT_TRUE(ExecuteEngineUpdate(nullptr, client.Updater));
    EXPECT_TRUE(watch.Seen);
    EXPECT_EQ(watch.Button, "Cancel");
    EXPECT_EQ(watch.Status, "Update completed.");
    EXPECT_EQ(watch.Progress, 100);
  }
  EXPECT_TRUE(QTest::qWaitFor([&] { return client.Runner.State() == asIdle; }, 10000));
  EXPECT_EQ(ReadDefinitionVersion(client.Data.Path() + "buybooks/bookbarn.cen"), 1);

  // The site changes one engine: the next run installs it.
  ASSERT_TRUE(site.WriteCompiledEngine("buybooks/bookbarn.cen", updatetest::EngineBody("Book Barn II"), 2));
  TSiteProcess changed(site.Path());
  ASSERT_GT(changed.Port, 0) << changed.Log();
  client.Settings.Address = changed.Url();
  {
    TWatch watch("");
    EXPECT_TRUE(ExecuteEngineUpdate(nullptr, client.Updater));
    EXPECT_EQ(watch.Status, "Update completed.");
  }
  EXPECT_TRUE(QTest::qWaitFor([&] { return client.Runner.State() == asIdle; }, 10000));
  EXPECT_EQ(ReadDefinitionVersion(client.Data.Path() + "buybooks/bookbarn.cen"), 2);

  // Nothing new: the window says so, in the automatic mode's dress.
  {
    TWatch watch("");
    TEngineUpdateOptions automatic;
    automatic.FullMode = false;
    EXPECT_TRUE(ExecuteEngineUpdate(nullptr, client.Updater, automatic));
    EXPECT_EQ(watch.Status, "No changes detected.");
    EXPECT_EQ(watch.Button, "&Skip");
  }
  EXPECT_EQ(client.Settings.LastChannelWrites, 3);
}

// What the progress bar showed on screen while the update installed.
class TPaintedProgress : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      if (auto* bar = qobject_cast<QProgressBar*>(watched);
          bar && Form && Form->UpdaterFrm().StatusText() == "Installing updates..." &&
          (Values.empty() || Values.back() != bar->value()))
        Values.push_back(bar->value());
    return false;
  }
  TEngineUpdaterFrm* Form = nullptr;
  std::vector<int> Values;
};

// The install runs on the event loop's thread and keeps it busy: the bar must still show it moving.
TEST(UpdaterForm, TheBarShowsTheInstallAsItGoes) {
  RegisterAppName("Vandrel Shopper");
  testing::TDataFolder site;
  updatetest::WriteSmallSite(site, 1);
  for (int i = 0; i < 12; ++i)
    site.WriteCompiledEngine("buybooks/shop" + std::to_string(i) + ".cen",
                             updatetest::EngineBody("Shop " + std::to_string(i)), 1);
  TSiteProcess process(site.Path());
  ASSERT_GT(process.Port, 0) << process.Log();
  TUpdateClient client;
  client.Settings.Address = process.Url();

  TPaintedProgress painted;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    TEngineUpdaterFrm* form = OpenUpdater();
    if (!form || painted.Form == form) return;
    painted.Form = form;
    form->findChild<QProgressBar*>("ProgressBar")->installEventFilter(&painted);
  });
  poll.start();
  EXPECT_TRUE(ExecuteEngineUpdate(nullptr, client.Updater));
  ASSERT_NE(painted.Form, nullptr);
  EXPECT_GE(painted.Values.size(), 4u)
      << "painted while installing: " << ::testing::PrintToString(painted.Values);
  EXPECT_TRUE(std::is_sorted(painted.Values.begin(), painted.Values.end()));
  EXPECT_TRUE(QTest::qWaitFor([&] { return client.Runner.State() == asIdle; }, 10000));
  EXPECT_EQ(ReadDefinitionVersion(client.Data.Path() + "buybooks/shop11.cen"), 1);
}

TEST(UpdaterForm, SkipEndsTheWindowWithoutRecordingAnything) {
  RegisterAppName("Vandrel Shopper");
  TUpdateClient client;
  // A listener that never answers: the update waits on it until skipped.
  const updatetest::TSilentSite silent;
  ASSERT_NE(silent.Port, 0) << "no loopback port for the silent site";
  client.Settings.Address = silent.UpdateAddress();

  bool skipped = false;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    TEngineUpdaterFrm* form = OpenUpdater();
    if (!form || skipped || form->UpdaterFrm().StatusText() != "Checking for engine updates...") return;
    skipped = true;
    QTest::keyClick(form, Qt::Key_Escape);
  });
  poll.start();
  TEngineUpdateOptions automatic;
  automatic.FullMode = false;
  automatic.AllCategories = false;
  EXPECT_FALSE(ExecuteEngineUpdate(nullptr, client.Updater, automatic));
  EXPECT_TRUE(skipped);
  EXPECT_EQ(client.Settings.LastChannelWrites, 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return client.Runner.State() == asIdle; }, 10000));
}

}  // namespace
}  // namespace vandrel

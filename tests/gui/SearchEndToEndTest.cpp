// From a later start's command line to the merged results on the prices page: the real program, started a
// second time with "shop:newcatprices electronics volta", hands it over the single-instance channel to the
// main window in this process; the window opens the search wizard on its form, Search runs the electronics
// stores of the demo store site on loopback, and the prices page shows what the command line's
// "history show" prints for the stored search.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "actions/AppErrors.h"
#include "gui/ResultPageSupport.h"
#include "gui/Screenshots.h"
#include "kernel/AppConfig.h"
#include "kernel/HeadlessKernel.h"
#include "platform/MainDispatcher.h"
#include "platform/RegistryFileStore.h"
#include "platform/SingleInstance.h"
#include "presentation/FakeDesktopPorts.h"
#include "search/CategoryList.h"
#include "search/QuorinEngineRepository.h"
#include "search/SearchHistory.h"
#include "ui/MainForm.h"
#include "ui/QtDesktopPorts.h"
#include "ui/SearchFrames.h"
#include "ui/SearchWizForm.h"

namespace vandrel {
namespace {

class SearchEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Temp.isValid());
    ASSERT_NE(Site.Port, 0) << "the demo store site did not start";
    Root = Temp.filePath("root").toStdString();
    Runtime = Temp.filePath("runtime").toStdString();
    std::filesystem::create_directories(Runtime);
    chmod(Runtime.c_str(), 0700);
    previous_ =
        SetErrorPresenter({[this](TMessageStyle, const std::string& t) { Shown.push_back(t); }, [] {}});
    RunDispatcherFromEventLoop();

    Config = std::make_unique<TAppConfig>(
        std::make_shared<TRegistryFileStore>(Temp.filePath("registry").toStdString()));
    // The connection test asks a name server off this machine; the stores are on loopback.
    Config->Network().SetUseDetectConnection(false);
    Kernel = std::make_unique<THeadlessKernel>();
    TAppKernel::THooks hooks;
    hooks.UserName = CurrentUserName();  // the command line reads the same user's history
    hooks.DataFolder = test::CompiledDataDir();
    hooks.RefreshCatalogue = true;
    hooks.Config = Config.get();
    TStartOptions options;
    options.RootFolder = Root;
    // As `make run` points the program at the site it starts beside it.
    options.Defines = {{"DemoStoreAddress", Site.Address()}};
    ASSERT_TRUE(Kernel->Open(options, std::move(hooks))) << (Shown.empty() ? "" : Shown[0]);
    Categories =
        std::make_unique<TCategoryList>(Kernel->Repository().Categories(), Kernel->Repository().DataFolder());
    ASSERT_TRUE(Categories->Load());

    Form = std::make_unique<TVandrelShopperForm>(Kernel->Kernel(), Processor);
    Form->SetPrompts(&Prompts);
    TResultFrameDeps deps{Kernel->History(false), Prompts,          Scheduler, Settings,
                          &Kernel->Catalogue(),   &Kernel->Runner()};
    Prices = new TCompareFrm(deps, new QLabel("browser"), nullptr);
    Form->SetResultFrame(TPageKind::pkPrices, Prices);  // the window takes it
    // The desktop's wiring of a "new..." command, over this test's kernel and configuration.
    Form->SetSearchWizardRequest(
        [this](const std::string& category, bool isReviews, const std::string& query) {
          TSearchWizardOptions wizard;
          wizard.CategoryName = category;
          wizard.Reviews = isReviews;
          wizard.InitialText = query;
          wizard.SkipChoice = wizard.StartPastCategories = !category.empty();
          Started = ShowSearchWizard(Kernel->Kernel(), Kernel->Runner(), *Categories, *Config, Prompts,
                                     wizard, Form.get());
        });
    Form->resize(1000, 700);
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));

    // This process is the running program: it holds the lock and takes later starts' command lines.
    Instance = std::make_unique<TSingleInstance>(Runtime);
    ASSERT_EQ(Instance->Claim(), TInstanceRole::irFirst) << Instance->Error();
    ASSERT_TRUE(Instance->Listen(
        [this](const TForwardedRequest& request) {
          if (!request.Restore) Form->RunCommandLine(request.CommandLine);
        },
        MainDispatcher::Default()))
        << Instance->Error();
  }

  void TearDown() override {
    Instance.reset();
    Close();
    MainDispatcher::Default().SetWakeHandler(nullptr);
    SetErrorPresenter(std::move(previous_));
  }

  // Lets go of the database, so the command line can open it.
  void Close() {
    Form.reset();
    Prices = nullptr;
    Categories.reset();
    Kernel.reset();
  }

  // A later start of the real program with `arguments`, on this test's single-instance channel.
  int SecondStart(const QStringList& arguments) {
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(Runtime));
    env.insert("XDG_CONFIG_HOME", Temp.filePath("config"));
    second.setProcessEnvironment(env);
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.start(VANDREL_GUI_EXE, QStringList{"--root", Temp.filePath("second")} + arguments);
    // The running program answers from its event loop: wait with it turning.
    if (!second.waitForStarted(10000) ||
        !test::WaitFor([&] { return second.state() == QProcess::NotRunning; }, 30000))
      return -1;
    return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : 128;
  }

  bool RunnerIdle() {
    TQuorinApplication& runner = Kernel->Runner();
    return runner.State() == asIdle && !runner.IsBusy() && runner.Queue().Empty();
  }

  QTemporaryDir Temp;
  std::string Root, Runtime;
  test::TDemoSite Site;
  std::unique_ptr<TAppConfig> Config;
  std::unique_ptr<THeadlessKernel> Kernel;
  std::unique_ptr<TCategoryList> Categories;
  TCommandLineProcessor Processor;
  test::TScriptedPrompts Prompts;
  TQtScheduler Scheduler;
  TResultFrameSettings Settings;
  std::unique_ptr<TVandrelShopperForm> Form;
  TCompareFrm* Prices = nullptr;  // owned by the window
  std::unique_ptr<TSingleInstance> Instance;
  std::vector<std::string> Shown;  // application errors shown
  bool Started = false;

 private:
  TErrorPresenter previous_;
};

TEST_F(SearchEndToEndTest, ASecondStartsNewPriceSearchEndsAsHistoryShowPrintsIt) {
  // The wizard is modal: it is pressed from a timer while its own event loop runs.
  std::string wizardText;
  bool pressed = false;
  QTimer press;
  press.setInterval(50);
  QObject::connect(&press, &QTimer::timeout, [&] {
    auto* wizard = qobject_cast<TSearchWizForm*>(QApplication::activeModalWidget());
    if (!wizard || !wizard->isVisible() || !wizard->Frame()) return;
    press.stop();
    wizardText = wizard->Frame()->Field(0)->text().toStdString();
    EXPECT_EQ(wizard->NextButton()->text(), "&Search") << "opened on the form, past categories and choice";
    pressed = true;
    QTest::mouseClick(wizard->NextButton(), Qt::LeftButton);
  });
  press.start();

  EXPECT_EQ(SecondStart({"shop:newcatprices", "electronics", "volta"}), 0) << "the second start hands over";
  ASSERT_TRUE(test::WaitFor([&] { return pressed; }, 30000)) << "no search wizard opened";
  EXPECT_EQ(wizardText, "volta");
  ASSERT_TRUE(test::WaitFor([&] { return Started; }, 10000))
      << "Search did not start the search: error " << Kernel->Kernel().LastStartError()
      << (Shown.empty() ? "" : ", " + Shown.front());
  ASSERT_TRUE(test::WaitFor([&] { return RunnerIdle(); }, 60000)) << "the search did not end";

  TAppSearchHistory& history = Kernel->History(false);
  TSearchStorageItem* search = history.CurrentSearch();
  ASSERT_NE(search, nullptr) << "the new search is the prices page's";
  EXPECT_EQ(search->CatName, "buyelectronics");
  EXPECT_GT(search->MatchCount, 0);
  const int number = search->Index();
  Form->ShowPage(TPageKind::pkPrices);
  ASSERT_TRUE(test::WaitFor([&] { return Prices->Model().rowCount() > 0; }, 5000));
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  Prices->Model().Sync();
  EXPECT_EQ(Prices->Model().rowCount(), static_cast<int>(Prices->Controller().View().RowCount()));
  const std::map<int, test::TShownResult> shown = test::ShownResults(*Prices, "title");
  test::SaveScreenshot(*Form, "main-window-prices-after-search.png");
  EXPECT_TRUE(Shown.empty()) << Shown.front();

  Close();
  test::ExpectShownAsPrinted(shown, test::HistoryShow(Root, number), "title");
}

}  // namespace
}  // namespace vandrel

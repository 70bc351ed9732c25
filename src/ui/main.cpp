// VandrelShopper: the desktop program.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>
#include <vector>

#include "actions/AppErrors.h"
#include "actions/QuorinActions.h"
#include "actions/QuorinApplications.h"
#include "integration/ExplorerIntegration.h"
#include "integration/IETools.h"
#include "integration/WebBrowse.h"
#include "kernel/AppConfig.h"
#include "kernel/AppKernel.h"
#include "kernel/AppName.h"
#include "kernel/CommandLineProcessor.h"
#include "kernel/StartupTrace.h"
#include "platform/MainDispatcher.h"
#include "presentation/MainWindowController.h"
#include "ui/DesktopWindows.h"
#include "ui/ExceptionForm.h"
#include "ui/MainForm.h"
#include "ui/QtDesktopPorts.h"
#include "ui/SplashForm.h"

namespace {
using namespace vandrel;

std::string ExecutablePath(const char* argv0) {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(argv0) : self.string();
}

void ShowMessage(TMessageStyle style, const std::string& text) {
  std::string shown = text;
  for (char& c : shown)
    if (c == '\r') c = '\n';
  if (!QApplication::instance()) {
    std::fprintf(stderr, "%s: %s\n", AppName().c_str(), text.c_str());
    return;
  }
  QString title = QString::fromStdString(AppName());
  if (style == TMessageStyle::msError) {
    QMessageBox::critical(nullptr, title, QString::fromStdString(shown));
  } else {
    QMessageBox::warning(nullptr, title, QString::fromStdString(shown));
  }
}

// A test hook: with VANDREL_COMMAND_LOG set, every command the processor runs and the window's visible
// state changes are appended to that file, one per line (state lines start with "#").
class TCommandLog {
 public:
  TCommandLog() {
    if (const char* path = std::getenv("VANDREL_COMMAND_LOG"); path && *path) path_ = path;
  }
  bool Enabled() const { return !path_.empty(); }
  void Write(const std::string& line) const {
    if (!Enabled()) return;
    std::ofstream(path_, std::ios::app) << line << '\n';
  }

 private:
  std::string path_;
};

int gQuitPipe[2] = {-1, -1};                    // written by the signal handler, read on the main thread
vandrel::TVandrelShopperForm* gForm = nullptr;  // the main window while it exists

void OnQuitSignal(int) {
  char byte = 1;
  ssize_t ignored = write(gQuitPipe[1], &byte, 1);
  (void)ignored;
}

// SIGTERM, SIGINT and SIGHUP close the window as File -> Exit does (a running search is stopped without a
// question), so a session that ends loses no settings and leaves the single-instance socket in order.
void QuitOnSignals(QObject* owner) {
  if (pipe2(gQuitPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(gQuitPipe[0], QSocketNotifier::Read, owner);
  QObject::connect(notifier, &QSocketNotifier::activated, [] {
    char bytes[16];
    while (read(gQuitPipe[0], bytes, sizeof(bytes)) > 0) {
    }
    if (gForm && gForm->isVisible()) {
      gForm->CloseWithoutAsking();
    } else {
      QCoreApplication::quit();
    }
  });
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

// Marks the window's first paint and first frame on screen in the start-up timeline.
class TFirstPaintTrace : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !painted_) {
      painted_ = true;
      StartupMark("first paint");
    }
    if (event->type() == QEvent::Expose && !exposed_) {
      exposed_ = true;
      StartupMark("first expose");
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  bool painted_ = false;
  bool exposed_ = false;
};

void TraceFirstPaint(QWidget& form) {
  if (!std::getenv("VANDREL_STARTUP_TRACE")) return;
  auto* trace = new TFirstPaintTrace(&form);
  form.installEventFilter(trace);
  if (QWindow* window = form.windowHandle()) window->installEventFilter(trace);
}

// The splash's progress after the kernel's start: the main window's creation goes on with it.
void ContinueSplash(std::unique_ptr<TSplashFrm>& splash, int percent, const char* text) {
  if (!splash) return;
  splash->SetProgress(percent, QString::fromUtf8(text));
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// Everything from start-up to the end of the event loop. `app` belongs to the caller, so an exception that
// escapes still finds the application for its window.
int Run(int& argc, char** argv, std::unique_ptr<TVandrelApplication>& app) {
  StartupMark("main");
  TStartOptions options = ParseStartArguments(argc, argv);
  // A browser hands "shop:" addresses over percent-encoded; the command line wants the words.
  for (std::string& argument : options.Arguments) argument = ShopAddressToCommand(argument);

  MainDispatcher& dispatcher = MainDispatcher::Default();
  dispatcher.AdoptCurrentThread();
  TCommandLineProcessor& processor = TCommandLineProcessor::Instance();
  TAppKernel& kernel = TAppKernel::Instance();
  SetErrorPresenter({ShowMessage, [&kernel] { kernel.Terminate(); }});
  kernel.SetTerminateHandlers([] { std::exit(1); }, [] { QCoreApplication::quit(); });

  TCommandLog log;
  std::unique_ptr<TVandrelShopperForm> form;
  std::unique_ptr<TSplashFrm> splash;
  TAppKernel::THooks hooks;
  // The application comes up only after the single-instance check, so a later start without a display
  // can still hand its command line over, and does so fast.
  hooks.PrepareDisplay = [&]() -> std::optional<TDisplayInfo> {
    const char* disable = std::getenv("QTWEBENGINE_DISABLE_SANDBOX");
    const char* flags = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (BrowserSandboxMustBeSwitchedOff(geteuid() == 0, disable ? disable : "", flags ? flags : "")) {
      std::fprintf(stderr,
                   "%s: running as root: the embedded browser's sandbox is switched off "
                   "(QTWEBENGINE_DISABLE_SANDBOX=1); run the program as a normal user to keep it\n",
                   AppName().c_str());
      setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    StartupMark("application constructing");
    app = std::make_unique<TVandrelApplication>(argc, argv);
    StartupMark("application constructed");
    QApplication::setApplicationName(QString::fromStdString(AppName()));
    QuitOnSignals(app.get());
    RunDispatcherFromEventLoop();
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return std::nullopt;
    return TDisplayInfo{screen->size().width(), screen->size().height(), screen->depth()};
  };
  hooks.RestoreMainWindow = [&form, &log] {
    log.Write("# restore");
    if (form) form->BringToFront();
  };
  // Lines that arrive before the window has registered its commands (a start's modal window pumps
  // events) wait for it.
  std::vector<std::string> earlyLines;
  hooks.RunForwardedCommand = [&form, &earlyLines](const std::string& line) {
    if (form) {
      form->RunCommandLine(line);
    } else {
      earlyLines.push_back(line);
    }
  };
  hooks.ShowSplash = [&splash] {
    if (!QApplication::instance()) return;
    if (!splash) splash = std::make_unique<TSplashFrm>();
    if (splash->isVisible()) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    splash->show();
    QCoreApplication::processEvents();
  };
  hooks.HideSplash = [&splash] {
    if (!splash) return;
    splash.reset();
    QApplication::restoreOverrideCursor();
  };
  hooks.ShowProgress = [&splash](int percent, const std::string& text) {
    if (!splash) return;
    splash->SetProgress(percent, QString::fromStdString(text));
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  };
  hooks.ShiftHeld = [] {
    return QApplication::instance() && QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
  };
  const std::string program = ExecutablePath(argv[0]);
  hooks.RewriteIntegration = [program] {
    TAppConfig& config = AppConfig();
    TIntegrationInputs inputs;
    inputs.ProgramPath = program;
    inputs.RootFolder = config.RootFolder();
    inputs.UseQuickLaunch = config.Preferences().UseExplorerQuickLaunch();
    inputs.UseContextMenu = config.Preferences().UseExplorerContextMenu();
    inputs.UseBrowser = config.Preferences().UseExplorerBrowser();
    inputs.IEVersion = config.IEVersion();
    TIETools tools(SystemRegistry(), DefaultDesktopPlaces());
    ReportIntegrationOutcome(UpdateExplorerIntegration(false, inputs, tools));
  };
  hooks.InstallationFolder = FindInstallationFolder(ExecutablePath(argv[0]));
  hooks.BuiltDataFolder = FindBuiltDataFolder(ExecutablePath(argv[0]));
  hooks.UserName = AppConfig().UserName();
  hooks.RootFolderChosen = [](const std::string& root) { AppConfig().SetRootFolder(root); };
  hooks.Runner = &TQuorinApplication::Instance();
  hooks.Actions = &TQuorinActionRepository::Instance();
  hooks.Config = &AppConfig();

  AddStartWindows(hooks);
  AddSearchUpdate(kernel, [&form]() -> QWidget* { return form.get(); });

  switch (kernel.Start(options, std::move(hooks))) {
    case TStartResult::srRun:
      break;
    case TStartResult::srForwarded:
      return 0;
    case TStartResult::srForwardFailed:
    case TStartResult::srFailed:
      return 1;
  }

  if (log.Enabled())
    processor.SetExecuteObserver([&log](const std::string& command, const std::string& argument) {
      log.Write(argument.empty() ? command : command + " " + argument);
    });

  ContinueSplash(splash, 70, "Loading views...");
  form = std::make_unique<TVandrelShopperForm>(kernel, processor);
  gForm = form.get();
  StartupMark("main window built");
  auto windows = std::make_unique<TDesktopWindows>(kernel, *form);
  StartupMark("frames built");
  ContinueSplash(splash, 80, "Loading skin...");
  ContinueSplash(splash, 100, "Setting up...");
  if (log.Enabled()) {
    QObject::connect(form.get(), &TVandrelShopperForm::PageChanged,
                     [&log](int page) { log.Write("# page " + std::to_string(page)); });
    QObject::connect(form.get(), &TVandrelShopperForm::HomePageLoaded,
                     [&log](bool ok) { log.Write(ok ? "# home page loaded" : "# home page failed"); });
  }
  QObject::connect(form.get(), &TVandrelShopperForm::HomePageLoaded,
                   [](bool) { StartupMark("home page loaded"); });
  form->SetSplashDone(!splash);
  form->show();
  StartupMark("main window shown");
  TraceFirstPaint(*form);

  // Once the window is up: the splash goes, then the getting-started file on a first start, or the start's
  // own command line; what later starts sent meanwhile follows.
  QTimer::singleShot(10, form.get(), [&] {
    splash.reset();
    QApplication::restoreOverrideCursor();
    form->SetSplashDone(true);
    TAppConfig& config = AppConfig();
    if (kernel.StartCommandLine().empty()) {
      const std::string help = kernel.Folders().GettingStarted();
      if (!config.Preferences().SkipWelcomeDialog() && QFileInfo::exists(QString::fromStdString(help)) &&
          WebBrowse().ShellOpen(help))
        config.Preferences().SetSkipWelcomeDialog(true);
    } else {
      form->RunCommandLine(kernel.StartCommandLine());
    }
    for (const std::string& line : std::exchange(earlyLines, {})) form->RunCommandLine(line);
    dispatcher.ProcessPending();
  });

  int status = app->exec();
  // The windows observe the histories the shut-down frees, so they go first; the home page's source
  // outlives the window that shows it.
  windows->LeaveWindow();
  gForm = nullptr;
  form.reset();
  windows.reset();
  kernel.ShutDown();  // no later start is taken from here on
  dispatcher.SetWakeHandler(nullptr);
  processor.SetExecuteObserver(nullptr);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAppName("Vandrel Shopper");
  std::unique_ptr<TVandrelApplication> app;
  const int status = RunGuarded([&] { return Run(argc, argv, app); }, argv[0]);
  // The single-instance server may wake the event loop until it has stopped.
  TAppKernel::Instance().ShutDown();
  MainDispatcher::Default().SetWakeHandler(nullptr);
  app.reset();
  return status;
}

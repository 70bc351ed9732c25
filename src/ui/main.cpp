// VandrelShopper: the desktop program.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "actions/AppErrors.h"
#include "actions/QuorinActions.h"
#include "actions/QuorinApplications.h"
#include "integration/ExplorerIntegration.h"
#include "kernel/AppConfig.h"
#include "kernel/AppKernel.h"
#include "kernel/AppName.h"
#include "kernel/CommandLineProcessor.h"
#include "platform/MainDispatcher.h"
#include "ui/ExceptionForm.h"
#include "ui/MainForm.h"

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

int gQuitPipe[2] = {-1, -1};  // written by the signal handler, read on the main thread

void OnQuitSignal(int) {
  char byte = 1;
  ssize_t ignored = write(gQuitPipe[1], &byte, 1);
  (void)ignored;
}

// SIGTERM, SIGINT and SIGHUP end the event loop, so the program leaves its single-instance socket and
// settings behind in order instead of dying mid-way.
void QuitOnSignals(QObject* owner) {
  if (pipe2(gQuitPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(gQuitPipe[0], QSocketNotifier::Read, owner);
  QObject::connect(notifier, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

// Everything from start-up to the end of the event loop. `app` belongs to the caller, so an exception that
// escapes still finds the application for its window.
int Run(int& argc, char** argv, std::unique_ptr<TVandrelApplication>& app) {
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
  TAppKernel::THooks hooks;
  // The application comes up only after the single-instance check, so a later start without a display
  // can still hand its command line over, and does so fast.
  hooks.PrepareDisplay = [&]() -> std::optional<TDisplayInfo> {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    app = std::make_unique<TVandrelApplication>(argc, argv);
    QApplication::setApplicationName(QString::fromStdString(AppName()));
    QuitOnSignals(app.get());
    dispatcher.SetWakeHandler([] {
      QMetaObject::invokeMethod(
          QCoreApplication::instance(), [] { MainDispatcher::Default().ProcessPending(); },
          Qt::QueuedConnection);
    });
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return std::nullopt;
    return TDisplayInfo{screen->size().width(), screen->size().height(), screen->depth()};
  };
  hooks.RestoreMainWindow = [&form, &log] {
    log.Write("# restore");
    if (form) form->BringToFront();
  };
  hooks.InstallationFolder = FindInstallationFolder(ExecutablePath(argv[0]));
  hooks.BuiltDataFolder = FindBuiltDataFolder(ExecutablePath(argv[0]));
  hooks.UserName = AppConfig().UserName();
  hooks.RootFolderChosen = [](const std::string& root) { AppConfig().SetRootFolder(root); };
  hooks.Runner = &TQuorinApplication::Instance();
  hooks.Actions = &TQuorinActionRepository::Instance();
  hooks.Config = &AppConfig();

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

  form = std::make_unique<TVandrelShopperForm>(kernel, processor);
  if (log.Enabled()) {
    QObject::connect(form.get(), &TVandrelShopperForm::PageChanged,
                     [&log](int page) { log.Write("# page " + std::to_string(page)); });
    QObject::connect(form.get(), &TVandrelShopperForm::HomePageLoaded,
                     [&log](bool ok) { log.Write(ok ? "# home page loaded" : "# home page failed"); });
  }
  // No stored placement yet: the window starts maximised.
  if (QScreen* screen = QGuiApplication::primaryScreen()) form->setGeometry(screen->availableGeometry());
  form->showMaximized();

  // Once the window is up: the start's own command line, and what later starts sent meanwhile.
  QTimer::singleShot(0, form.get(), [&] {
    if (!kernel.StartCommandLine().empty()) processor.Execute(kernel.StartCommandLine());
    dispatcher.ProcessPending();
  });

  int status = app->exec();
  kernel.ShutDown();  // no later start is taken from here on
  dispatcher.SetWakeHandler(nullptr);
  processor.SetExecuteObserver(nullptr);
  form.reset();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAppName("Vandrel Shopper");
  std::unique_ptr<TVandrelApplication> app;
  int status = 1;
  try {
    status = Run(argc, argv, app);
  } catch (...) {
    if (app) {
      ShowCurrentException();
    } else {
      std::fprintf(stderr, "%s: %s\n", AppName().c_str(), DescribeCurrentException(argv[0]).Message.c_str());
    }
    status = 1;
  }
  // The single-instance server may wake the event loop until it has stopped.
  TAppKernel::Instance().ShutDown();
  MainDispatcher::Default().SetWakeHandler(nullptr);
  app.reset();
  return status;
}

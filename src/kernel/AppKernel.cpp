#include "kernel/AppKernel.h"
#include "kernel/StartupTrace.h"

#include <cstdio>
#include <cstdlib>
#include <random>

#include "search/CategoryList.h"
#include "storage/CodebaseStorageManager.h"

namespace vandrel {
namespace {

// How long a later start waits for the running program to take its command line.
constexpr auto kForwardTimeout = std::chrono::milliseconds(900);

bool IsDebugSwitch(const std::string& arg) {
  static const char kSwitch[] = "debug+";
  if (arg.size() != sizeof(kSwitch) || (arg[0] != '-' && arg[0] != '/')) return false;
  for (size_t i = 1; i < arg.size(); ++i) {
    char c = arg[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kSwitch[i - 1]) return false;
  }
  return true;
}

}  // namespace

TStartOptions ParseStartArguments(int argc, const char* const* argv) {
  TStartOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i] ? argv[i] : "";
    if (arg == "--root" && i + 1 < argc) {
      options.RootFolder = argv[++i];
      continue;
    }
    if (arg.rfind("--root=", 0) == 0) {
      options.RootFolder = arg.substr(7);
      continue;
    }
    // Taken out of the arguments: a later start hands its command line to the running program, and a
    // constant is this start's own. Without a name it is an ordinary argument.
    std::string define;
    if (arg == "--define" && i + 1 < argc) {
      define = argv[i + 1] ? argv[i + 1] : "";
    } else if (arg.rfind("--define=", 0) == 0) {
      define = arg.substr(9);
    }
    if (const size_t eq = define.find('='); eq != std::string::npos && eq > 0) {
      if (arg == "--define") ++i;
      options.Defines.emplace_back(define.substr(0, eq), define.substr(eq + 1));
      continue;
    }
    if (IsDebugSwitch(arg)) options.DebugMode = true;
    options.Arguments.push_back(std::move(arg));
  }
  return options;
}

std::string JoinArguments(const std::vector<std::string>& arguments) {
  std::string line;
  for (const auto& arg : arguments) {
    if (!line.empty()) line += ' ';
    line += arg;
  }
  return line;
}

TAppError CheckDisplay(const TDisplayInfo& display) {
  if (display.Width < 640 || display.Height < 480 || display.BitsPerPixel < 8) return aeScreenTooSmall;
  if (display.Width < 800 || display.Height < 600) return aeLowResolution;
  return aeNoError;
}

std::string NewGuidText() {
  std::random_device device;
  std::uniform_int_distribution<int> nibble(0, 15);
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text = "{";
  for (int group : {8, 4, 4, 4, 12}) {
    if (text.size() > 1) text += '-';
    for (int i = 0; i < group; ++i) text += kDigits[nibble(device)];
  }
  // A version 4 identifier: the version nibble and the variant bits are fixed.
  text[15] = '4';
  text[20] = kDigits[8 + nibble(device) % 4];
  return text + "}";
}

TAppKernel& TAppKernel::Instance() {
  static TAppKernel kernel(TCommandLineProcessor::Instance(), MainDispatcher::Default());
  return kernel;
}

TAppKernel::TAppKernel(TCommandLineProcessor& processor, MainDispatcher& dispatcher)
    : processor_(processor), dispatcher_(dispatcher) {}

TAppKernel::~TAppKernel() {
  ShutDown();
}

std::optional<TStartResult> TAppKernel::ClaimInstance(const TStartOptions& options) {
  std::string error;
  instance_ = std::make_unique<TSingleInstance>(TSingleInstance::ResolveFolder(&error));
  switch (instance_->Claim()) {
    case TInstanceRole::irOther: {
      TForwardedRequest request{options.Arguments.empty(), startCommandLine_};
      if (instance_->Forward(request, kForwardTimeout)) return TStartResult::srForwarded;
      std::fprintf(stderr, "Vandrel Shopper is already running: %s\n", instance_->Error().c_str());
      return TStartResult::srForwardFailed;
    }
    case TInstanceRole::irUnavailable:
      // Running alone beats refusing to start because of a folder another user planted.
      std::fprintf(stderr, "Vandrel Shopper: single instance unavailable: %s\n",
                   (error.empty() ? instance_->Error() : error).c_str());
      instance_.reset();
      break;
    case TInstanceRole::irFirst:
      if (!instance_->Listen([this](const TForwardedRequest& r) { HandleRequest(r); }, dispatcher_))
        std::fprintf(stderr, "Vandrel Shopper: not taking later starts: %s\n", instance_->Error().c_str());
      break;
  }
  return std::nullopt;
}

bool TAppKernel::CheckDisplayOfHook() {
  if (!hooks_.PrepareDisplay) return true;
  const std::optional<TDisplayInfo> display = hooks_.PrepareDisplay();
  if (!display) return true;
  const TAppError check = CheckDisplay(*display);
  if (check == aeNoError) return true;
  ShowAppError(check);
  return !IsFatalAppError(check);
}

TStartResult TAppKernel::Start(const TStartOptions& options, THooks hooks) {
  hooks_ = std::move(hooks);
  debugMode_ = options.DebugMode;
  defines_ = options.Defines;
  startCommandLine_ = JoinArguments(options.Arguments);
  if (!hooks_.Headless) {
    if (std::optional<TStartResult> ended = ClaimInstance(options)) return *ended;
    StartupMark("instance claimed");
    if (!CheckDisplayOfHook()) return TStartResult::srFailed;
    StartupMark("display ready");
  }

  if (hooks_.ShowSplash) hooks_.ShowSplash();
  folders_ = TAppFolders(ResolveRootFolder(options.RootFolder), hooks_.UserName);
  folders_.SetDataFolder(hooks_.DataFolder);
  if (hooks_.RootFolderChosen) hooks_.RootFolderChosen(folders_.Root());
  Progress(5, "Starting up...");
  StartupMark("splash shown");
  TakeInstallMode();

  int replaced = 0;
  if (!hooks_.InstallationFolder.empty() &&
      SyncInstalledFiles(hooks_.InstallationFolder, folders_.Root(), hooks_.BuiltDataFolder, &replaced) < 0)
    std::fprintf(stderr, "Vandrel Shopper: some installed files could not be copied to %s\n",
                 folders_.Root().c_str());
  // A package upgrade brings newer definitions this way; no installer sets the install mode for it. A file
  // only filled in where it was missing (an update may have removed it) does not make the catalogue reread.
  installedFilesChanged_ = replaced > 0;
  StartupMark("installed files synced");
  if (TAppError folders = folders_.Prepare(!hooks_.Headless); folders != aeNoError) {
    ShowAppError(folders);
    return TStartResult::srFailed;
  }
  RemoveSoftwareUpdateProgram();
  // Nothing can be kept without the database, so a start that cannot open it ends here.
  Progress(20, "Opening database...");
  storage_ = std::make_unique<TCodebaseStorageManager>(folders_.UserData());
  refusal_.clear();
  const bool opened = storage_->Open(hooks_.AllowReadOnly);
  refusal_ = storage_->RefusalText();
  if (!opened) {
    storage_.reset();
    ShowAppError(aeDatabaseAccess);
    return TStartResult::srFailed;
  }
  StartupMark("database opened");
  OpenCatalogueAndHistories();
  StartupMark("catalogue opened");
  if (!hooks_.Headless) LoadCategoryList();
  LoadCurrencyTable();
  StartupMark("categories and currencies loaded");
  if (!hooks_.Headless) {
    RunSetupWhenUnconfigured();
    EnsureInstallationGuid();
    const bool shift = hooks_.ShiftHeld && hooks_.ShiftHeld();
    if (shift || (!CheckEngines(true) && !debugMode_)) WithoutSplash(hooks_.RunEngineUpdateWindow);
  }
  StartupMark("engines checked");
  OpenHistories();
  StartupMark("histories opened");
  if (!hooks_.Headless) CompactWhenDue();
  Progress(60, "Loading user interface...");
  ApplyBrowserLauncherSettings();
  StartupMark("kernel started");
  return TStartResult::srRun;
}

void TAppKernel::ShutDown() {
  CloseCatalogueAndHistories();
  storage_.reset();
  instance_.reset();
}

void TAppKernel::Terminate() {
  if (!mainFormShown_) {
    if (immediate_) {
      immediate_();
    } else {
      std::exit(1);
    }
    return;
  }
  if (orderly_) {
    orderly_();
  } else {
    std::exit(1);
  }
  dispatcher_.ProcessPending();
}

void TAppKernel::SetTerminateHandlers(std::function<void()> immediate, std::function<void()> orderly) {
  immediate_ = std::move(immediate);
  orderly_ = std::move(orderly);
}

void TAppKernel::HandleRequest(const TForwardedRequest& request) {
  if (request.Restore) {
    if (hooks_.RestoreMainWindow) hooks_.RestoreMainWindow();
    return;
  }
  if (hooks_.RunForwardedCommand) {
    hooks_.RunForwardedCommand(request.CommandLine);
    return;
  }
  processor_.Execute(request.CommandLine);
}

void TAppKernel::WithoutSplash(const std::function<bool()>& window) {
  if (!window) return;
  if (hooks_.HideSplash) hooks_.HideSplash();
  window();
  if (hooks_.ShowSplash) hooks_.ShowSplash();
}

}  // namespace vandrel

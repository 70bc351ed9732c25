// The program's spine: the start-up order, one running instance, the folders, and how it ends on a fatal
// error.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "actions/AppErrors.h"
#include "kernel/AppFolders.h"
#include "kernel/CommandLineProcessor.h"
#include "platform/MainDispatcher.h"
#include "platform/SingleInstance.h"

namespace vandrel {

class IRegistryStore;
class TCategoryList;
class ISearchCatalogue;
class TCodebaseStorageManager;
class TAppConfig;
class TEngineRepository;
class TAppKernel;
class TAppSearchHistory;   // the price or review history the windows show
class TQuorinApplication;  // the action runner
class TQuorinActionRepository;
class TRepositorySearchCatalogue;
class TSearchStorageItem;  // a stored search

// Told when the action runner has accepted a search. Main thread only.
class IAppKernelObserver {
 public:
  virtual ~IAppKernelObserver() = default;
  virtual void SearchStarted(TAppKernel& kernel, TSearchStorageItem* search, bool isReviews) {}
};

// The user's answer to "Are you sure you want to stop the current search?".
struct TStopAnswer {
  bool Stop = false;
  bool DontAskAgain = false;
};

// What starting and stopping searches asks of the rest of the program; each may be empty.
struct TSearchHooks {
  // Runs the automatic engine update when the updater says one is due; skipped in debug mode.
  std::function<void()> BeforeSearch;
  // Asked only while the configuration says so; empty answers yes.
  std::function<TStopAnswer()> AskStop;
};

using TAppSearchHistoryPtr = std::unique_ptr<TAppSearchHistory, void (*)(TAppSearchHistory*)>;

// The command line split into what the program itself uses and what goes to the command-line processor.
struct TStartOptions {
  std::vector<std::string> Arguments;  // everything but --root DIR, in order
  std::string RootFolder;              // --root DIR or --root=DIR; empty when absent
  bool DebugMode = false;              // "-debug+" or "/debug+", any case
  // --define NAME=VALUE (or --define=NAME=VALUE): a constant given to every definition over the constants
  // script's, as the command line's option does; it points the bundled engines at another store site.
  std::vector<std::pair<std::string, std::string>> Defines;
};
TStartOptions ParseStartArguments(int argc, const char* const* argv);
std::string JoinArguments(const std::vector<std::string>& arguments);

struct TDisplayInfo {
  int Width = 0;
  int Height = 0;
  int BitsPerPixel = 0;
};
// aeScreenTooSmall below 640x480 or 8 bits per pixel, aeLowResolution below 800x600, else aeNoError.
TAppError CheckDisplay(const TDisplayInfo& display);

// A new random identifier in braced form, "{8-4-4-4-12}" upper-case hexadecimal digits.
std::string NewGuidText();

// Copies the network settings of an older sibling product found in `store` into `networkKey`; the first
// sibling with a root folder wins. False when none was found or the copy failed.
bool ImportSiblingNetworkSettings(IRegistryStore& store, const std::string& networkKey);

enum class TStartResult {
  srRun,            // this is the running instance; go on and show the main window
  srForwarded,      // another instance runs and took this start's command line: exit with 0
  srForwardFailed,  // another instance runs but did not answer: exit with 1
  srFailed,         // a fatal error was shown and the terminate handler returned
};

class TAppKernel {
 public:
  // What the front end supplies to the start-up sequence.
  struct THooks {
    // Brings up the display and measures it; nullopt skips the display checks (no desktop).
    std::function<std::optional<TDisplayInfo>()> PrepareDisplay;
    // A later start without a command line asks for the main window. Main thread.
    std::function<void()> RestoreMainWindow;
    // Learns the root folder before anything is created in it (the configuration keeps it as RootFolder).
    std::function<void(const std::string& root)> RootFolderChosen;
    std::string InstallationFolder;  // where Data/ and Web/ are copied from; empty: nothing is copied
    std::string BuiltDataFolder;     // a build tree's compiled definitions, copied after the installation's
    std::string UserName;            // names the user's history folder
    // The action runner that receives the catalogue and the user's history, and the repository the search
    // action is registered with (null: the program's own). Without a runner no search can run.
    TQuorinApplication* Runner = nullptr;
    TQuorinActionRepository* Actions = nullptr;
    // Supplies the compaction dates and how long searches are kept; null: every start compacts.
    TAppConfig* Config = nullptr;
    bool RefreshCatalogue = false;  // the user asked for the catalogue to be read from the files again
    std::function<void(int percent, const std::string& text)> ShowProgress;
    // A program without windows: no single-instance claim, no display, no home page needed, no compaction
    // at start, and stored searches are kept until the user deletes them.
    bool Headless = false;
    // A command that only reads: a database that cannot be written opens for reading only instead of
    // ending the start. The catalogue is then read from the definition files and kept in memory.
    bool AllowReadOnly = false;
    std::string DataFolder;    // the definitions, when not in Root/Data/
    std::string CurrencyCode;  // prices shown in this currency; empty: as the configuration says

    // The splash window; a modal window of the start hides it first and shows it again afterwards.
    std::function<void()> ShowSplash;
    std::function<void()> HideSplash;
    // Whether the Shift key is held: the catalogue is read again and the engine update window is offered.
    std::function<bool()> ShiftHeld;
    // The first-start setup wizard and the engine update window (full mode), modal. Each answers whether
    // the window finished; unset answers as a cancelled window would.
    std::function<bool()> RunSetupWizard;
    std::function<bool()> RunEngineUpdateWindow;
    // Writes the browser and desktop integration again; run on the first start after an installation
    // of a program that was configured before.
    std::function<void()> RewriteIntegration;
    // A later start's command line; unset runs it through the processor at once. The desktop holds it back
    // while a modal window is open.
    std::function<void(const std::string& line)> RunForwardedCommand;
  };

  static TAppKernel& Instance();
  explicit TAppKernel(TCommandLineProcessor& processor, MainDispatcher& dispatcher);
  ~TAppKernel();

  // The start-up sequence, up to where the main window takes over. Main thread only.
  TStartResult Start(const TStartOptions& options, THooks hooks);
  // Stops taking later starts' command lines. Called when the main window goes.
  void ShutDown();

  // Ends the program: at once while no main window was shown, else through the orderly handler.
  void Terminate();
  // `immediate` defaults to exiting with status 1; `orderly` (asking the event loop to quit) to the same.
  void SetTerminateHandlers(std::function<void()> immediate, std::function<void()> orderly);

  void SetMainFormShown() { mainFormShown_ = true; }
  bool MainFormShown() const { return mainFormShown_; }
  bool DebugMode() const { return debugMode_; }
  const TAppFolders& Folders() const { return folders_; }
  // The database's set-up from a successful start until ShutDown; null otherwise. The front end makes it
  // the action runner's first observer.
  TCodebaseStorageManager* StorageManager() const { return storage_.get(); }
  // Why the last start could not open the database (in use, read-only or damaged), for the front end to
  // say after the generic error; after a read-only start, why nothing can be stored; else empty.
  const std::string& RefusalText() const { return refusal_; }
  // The database was opened for reading only (see THooks::AllowReadOnly).
  bool ReadOnly() const;
  // The start's own command line, joined; the main window runs it once it is shown.
  const std::string& StartCommandLine() const { return startCommandLine_; }
  // The catalogue on the database, refreshed from the data folder; null before a successful start.
  TEngineRepository* Repository() const;
  ISearchCatalogue* Catalogue() const;
  // Packs the catalogue's lists and both histories now; false (after telling the user) when one failed.
  bool CompactDatabase();
  // True when there is a category (or in debug mode) and every category has an engine. Otherwise false,
  // after application error 3 (no category) or 11 (the first category without engines) unless `silent`.
  bool CheckEngines(bool silent);
  // The categories paired for the windows; null in a program without windows and before a start.
  TCategoryList* CategoryList() const { return categoryList_.get(); }
  // The first start after an installation: the catalogue was read from the files again.
  bool FreshInstall() const { return freshInstall_; }

  // Searches. `runner` and `config` are not owned; the kernel owns the two histories from here on.
  void SetSearchContext(TQuorinApplication* runner, TAppConfig* config, TAppSearchHistoryPtr compare,
                        TAppSearchHistoryPtr reviews);
  void SetSearchHooks(TSearchHooks hooks) { searchHooks_ = std::move(hooks); }
  // Only the stop question of the hooks, for the window that asks it.
  void SetStopQuestion(std::function<TStopAnswer()> ask) { searchHooks_.AskStop = std::move(ask); }
  // The updater's answer to whether an automatic engine update is due; empty: never.
  void SetUpdateDue(std::function<bool()> updateDue) { updateDue_ = std::move(updateDue); }
  // The runner and configuration the start wired; null before a successful start (or without them).
  TQuorinApplication* Runner() const { return runner_; }
  TAppConfig* Config() const { return config_; }
  TAppSearchHistory* CompareHistory() const { return compareHistory_.get(); }
  TAppSearchHistory* ReviewsHistory() const { return reviewsHistory_.get(); }
  TAppSearchHistory* History(bool isReviews) const { return isReviews ? ReviewsHistory() : CompareHistory(); }
  // Queues a run of `search` from the chosen history; behind a running search it waits its turn. False
  // (after telling the user) when the runner refused it.
  bool StartSearch(TSearchStorageItem* search, bool isReviews, bool isNew);
  // Why the last StartSearch failed: aeNotConnected when the connection test failed, else
  // aeCategoryWithoutEngine; aeNoError after a success.
  TAppError LastStartError() const { return lastStartError_; }
  // Asks the runner to stop the current search and drop the queued ones; false when the user said no.
  bool StopSearch();
  bool Stopping() const { return stopping_; }
  // A StartSearch call is running (the runner's error reports during it are its to tell).
  bool InStartSearch() const { return inStartSearch_; }
  void AddObserver(IAppKernelObserver* observer);
  void RemoveObserver(IAppKernelObserver* observer);

 private:
  class TStartWatch;
  void HandleRequest(const TForwardedRequest& request);
  // The single-instance claim and the display checks; a result ends the start.
  std::optional<TStartResult> ClaimInstance(const TStartOptions& options);
  bool CheckDisplayOfHook();
  void LoadCurrencyTable();
  void Progress(int percent, const std::string& text) const;
  // The catalogue on the database, the user's history and the search action, handed to the runner.
  void OpenCatalogueAndHistories();
  void CompactWhenDue();
  void CloseCatalogueAndHistories();
  // Start-up steps that need the configuration; each does nothing without one.
  void TakeInstallMode();
  void RemoveSoftwareUpdateProgram();
  void RunSetupWhenUnconfigured();
  void EnsureInstallationGuid();
  void ApplyBrowserLauncherSettings();
  void OpenHistories();
  void LoadCategoryList();
  // Around a modal window of the start.
  void WithoutSplash(const std::function<bool()>& window);

  TCommandLineProcessor& processor_;
  MainDispatcher& dispatcher_;
  THooks hooks_;
  TAppFolders folders_;
  std::unique_ptr<TSingleInstance> instance_;  // holds the lock while this program runs
  std::unique_ptr<TCodebaseStorageManager> storage_;
  using TCataloguePtr = std::unique_ptr<TRepositorySearchCatalogue, void (*)(TRepositorySearchCatalogue*)>;
  TCataloguePtr catalogue_{nullptr, nullptr};    // over the runner's repository
  bool partsInstalled_ = false;                  // the runner holds the repository and history made by Start
  std::unique_ptr<TCategoryList> categoryList_;  // over the repository's stored categories
  std::function<void()> immediate_;
  std::function<void()> orderly_;
  std::string startCommandLine_;
  std::vector<std::pair<std::string, std::string>> defines_;  // the start's --define constants
  std::string refusal_;
  bool debugMode_ = false;
  bool mainFormShown_ = false;          // decides between exiting at once and quitting in order
  bool freshInstall_ = false;           // InstallMode was set at this start (and is cleared now)
  bool installedFilesChanged_ = false;  // this start replaced older root files with installed ones

  TQuorinApplication* runner_ = nullptr;
  TAppConfig* config_ = nullptr;
  TAppSearchHistoryPtr compareHistory_{nullptr, nullptr};
  TAppSearchHistoryPtr reviewsHistory_{nullptr, nullptr};
  TSearchHooks searchHooks_;
  std::function<bool()> updateDue_;
  std::vector<IAppKernelObserver*> observers_;  // not owned, registration order
  bool stopping_ = false;  // the user confirmed a stop; cleared when the next search starts
  bool inStartSearch_ = false;
  TAppError lastStartError_ = aeNoError;
};

}  // namespace vandrel

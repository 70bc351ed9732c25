// The program's one main window: the home page and the two result pages, its menus, tool bar and status
// bar, and the commands that reach it from the menus, the keyboard and later starts.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "presentation/MainWindowController.h"

class QAction;
class QLabel;
class QProgressBar;
class QStackedWidget;
class QTabBar;
class QToolBar;
class QToolButton;
class QWebEngineView;

namespace vandrel {

class TAppKernel;
class TCommandLineProcessor;
class TQtScheduler;
class TSearchStorageItem;
class TQtUserPrompts;

class TVandrelShopperForm : public QMainWindow {
  Q_OBJECT

 public:
  // Until the search wizard exists, a "new..." command ends here. `category` is empty for the current one.
  using TSearchWizardRequest =
      std::function<void(const std::string& category, bool isReviews, const std::string& query)>;

  // The kernel has started (or, in tests, not); its runner, configuration and histories are used when it
  // has them.
  TVandrelShopperForm(TAppKernel& kernel, TCommandLineProcessor& processor, QWidget* parent = nullptr);
  ~TVandrelShopperForm() override;

  // Where later windows plug in: a command with a handler runs it; one without shows "Feature not
  // available" unless the window carries it out itself. Empty `handler` removes it.
  void SetCommandHandler(TMainCommand command, std::function<void()> handler);
  void SetSearchWizardRequest(TSearchWizardRequest request) { wizard_ = std::move(request); }
  // Replaces the built-in home page view; the window owns `page` from here on.
  void SetHomePage(QWidget* page);
  // Places a result frame on the reviews or prices page; the window owns it.
  void SetResultFrame(TPageKind page, QWidget* frame);
  // What the home page does not need (the result pages) is built by `build` after the start, so the home
  // page comes up first; EnsurePages runs it, at the latest when a command, a command line or a page
  // switch needs the pages. Runs once.
  void SetPageBuilder(std::function<void()> build) { pageBuilder_ = std::move(build); }
  void EnsurePages();
  // A strip below the pages (the advertisements); the window owns it.
  void AddBottomStrip(QWidget* strip);
  // The progress window, for "Search Progress" (not owned; may go away).
  void SetProgressWindow(QWidget* window) { progressWindow_ = window; }
  // Question boxes go here instead of the window's own (tests script the answers). Not owned.
  void SetPrompts(IUserPrompts* prompts);

  void ShowPage(TPageKind page);
  TPageKind CurrentPage() const { return page_; }
  // Restores the window when minimised, else raises it to the front.
  void BringToFront();
  // A link of the home page: a new search, a stored search opened by its 1-based number in the page's
  // list (newest access first; numbers outside the list are ignored), or the category window.
  void HomeLink(THomeLinkKind kind, const std::string& text);
  // A later start's command line: run now, or once no modal window is open.
  void RunCommandLine(const std::string& line);
  // File -> Exit without the stop question: a running search is stopped (the session ends, a signal).
  void CloseWithoutAsking();

  void SetStatusText(const QString& text);
  QString StatusText() const;
  // Panel 1; a negative count clears it.
  void SetResultCount(int count, int selected);
  QString ResultCountText() const;
  // Panel 3: drawn between 1 and 99 percent.
  void SetLoadProgress(int percent);
  // The enabling rules, after a page or runner change.
  void RefreshCommands();
  QAction* Action(TMainCommand command) const;
  QToolBar* ToolBar() const { return toolBar_; }
  // Whether the splash window has gone: until then the window cannot close.
  void SetSplashDone(bool done) { splashDone_ = done; }

 signals:
  void PageChanged(int page);
  void HomePageLoaded(bool ok);
  // A command ended in the "Feature not available" window.
  void NotAvailableShown(int command);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class TRunnerEar;
  class TSearchEar;
  class TKernelEar;

  void BuildMenus();
  void BuildToolBar();
  void BuildStatusBar();
  void BuildPages();
  void UseOwnHomeView();
  void ReplaceHome(QWidget* page);
  void RegisterCommands();
  void Observe(bool on);
  void RestorePlacement();
  void SaveLayout();
  void Dispatch(TMainCommand command);
  void RunWindowCommand(TMainCommand command);
  void ShowNotAvailable(TMainCommand command);
  void ShowAbout();
  void NewSearch(const std::string& category, bool isReviews, const std::string& query);
  void ToggleLocalCurrency();
  void RefreshCurrencyPanel();
  void ShowBrowserFailure(const QString& reason);
  bool RunnerIdle() const;
  bool StopSearchForClose();
  TMainWindowState State() const;
  IUserPrompts& Prompts();

  TAppKernel& kernel_;
  TCommandLineProcessor& processor_;
  TSearchWizardRequest wizard_;
  std::map<TMainCommand, std::function<void()>> handlers_;
  std::map<TMainCommand, QAction*> menuActions_;  // owned by the window
  std::map<TMainCommand, QAction*> toolActions_;
  TPageKind page_ = TPageKind::pkHome;
  QTabBar* tabs_ = nullptr;  // page header
  QWidget* splitButtons_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  QWidget* home_ = nullptr;             // the home page slot's widget
  QWebEngineView* homeView_ = nullptr;  // the built-in home page view, while it is the slot's widget
  bool ownHomePending_ = false;         // the built-in view comes unless a home page frame is placed first
  std::function<void()> pageBuilder_;   // empty once the pages are built
  QToolBar* toolBar_ = nullptr;
  QLabel* statusText_ = nullptr;     // panel 0
  QLabel* resultCount_ = nullptr;    // panel 1
  QLabel* currency_ = nullptr;       // panel 2
  QProgressBar* loading_ = nullptr;  // panel 3: the current page load
  QLabel* softwareUpdate_ = nullptr;
  QPointer<QWidget> progressWindow_;
  TFrameLayout layout_ = TFrameLayout::flResults;
  bool textLabels_ = true;
  bool shownOnce_ = false;
  bool splashDone_ = true;
  bool notConnected_ = false;                      // the last connection test failed
  bool askBeforeStop_ = true;                      // false while closing for a signal
  bool closing_ = false;                           // the close was granted; the window is on its way out
  TSearchStorageItem* noResultsSearch_ = nullptr;  // the last search that found nothing; checked before use
  bool noResultsReviews_ = false;
  int loadPercent_ = -1;
  std::unique_ptr<TQtScheduler> scheduler_;
  std::unique_ptr<TQtUserPrompts> ownPrompts_;
  IUserPrompts* prompts_ = nullptr;
  std::unique_ptr<TMainWindowCloser> closer_;
  std::unique_ptr<TCommandLineQueue> commandLines_;
  std::unique_ptr<TRunnerEar> runnerEar_;
  std::unique_ptr<TSearchEar> searchEar_;
  std::unique_ptr<TKernelEar> kernelEar_;
};

}  // namespace vandrel

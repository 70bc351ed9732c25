#include "ui/MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "actions/AppErrors.h"
#include "actions/QuorinApplications.h"
#include "currency/CurrencyConverters.h"
#include "integration/WebBrowse.h"
#include "kernel/AppConfig.h"
#include "kernel/AppKernel.h"
#include "kernel/AppName.h"
#include "kernel/CommandLineProcessor.h"
#include "platform/TextUtils.h"
#include "search/CategoryList.h"
#include "search/SearchAction.h"
#include "search/SearchHistory.h"
#include "ui/AboutForm.h"
#include "ui/QtDesktopPorts.h"

namespace vandrel {
namespace {

QString Text(std::string_view text) {
  return QString::fromStdString(ExpandAppName(text));
}

// Tool-bar captions are two lines.
QString ButtonText(std::string_view caption) {
  std::string text(caption);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return Text(text);
}

QStyle::StandardPixmap ButtonIcon(TMainCommand command) {
  switch (command) {
    case TMainCommand::mcGoHome:
      return QStyle::SP_DirHomeIcon;
    case TMainCommand::mcFindReviews:
      return QStyle::SP_FileDialogContentsView;
    case TMainCommand::mcStopSearch:
      return QStyle::SP_BrowserStop;
    case TMainCommand::mcFindPrices:
      return QStyle::SP_FileDialogDetailedView;
    case TMainCommand::mcUpdateSearch:
      return QStyle::SP_BrowserReload;
    default:
      return QStyle::SP_DialogHelpButton;
  }
}

bool IsLayoutCommand(TMainCommand command) {
  return command == TMainCommand::mcLayoutResults || command == TMainCommand::mcLayoutResultsAndBrowser ||
         command == TMainCommand::mcLayoutBrowser;
}

TSearchStorageItem* NewestSearch(TAppSearchHistory* history) {
  if (!history || !history->Item()) return nullptr;
  TSearchStorageList& searches = history->Item()->GetSearches();
  TSearchStorageItem* newest = nullptr;
  for (size_t i = 0; i < searches.Count(); ++i) {
    auto* search = static_cast<TSearchStorageItem*>(searches.Item(i));
    if (!newest || search->CreationDate > newest->CreationDate) newest = search;
  }
  return newest;
}

// The order the home page lists a history in: newest access first.
std::vector<TSearchStorageItem*> SearchesByAccess(TAppSearchHistory* history) {
  std::vector<TSearchStorageItem*> searches;
  if (!history || !history->Item()) return searches;
  TSearchStorageList& list = history->Item()->GetSearches();
  for (size_t i = 0; i < list.Count(); ++i)
    searches.push_back(static_cast<TSearchStorageItem*>(list.Item(i)));
  std::stable_sort(
      searches.begin(), searches.end(),
      [](const TSearchStorageItem* a, const TSearchStorageItem* b) { return a->AccessDate > b->AccessDate; });
  return searches;
}

bool HoldsSearch(TAppSearchHistory* history, const TSearchStorageItem* search) {
  if (!history || !history->Item() || !search) return false;
  TSearchStorageList& searches = history->Item()->GetSearches();
  for (size_t i = 0; i < searches.Count(); ++i)
    if (searches.Item(i) == search) return true;
  return false;
}

}  // namespace

// A failed connection test ends the run: every queued search would fail the same way.
class TVandrelShopperForm::TSearchEar : public ISearchActionObserver {
 public:
  explicit TSearchEar(TVandrelShopperForm& form) : form_(form) {}
  void ConnectionDetectDone(int result) override {
    form_.notConnected_ = result != 0;
    if (form_.notConnected_)
      if (TQuorinApplication* runner = form_.kernel_.Runner()) runner->Stop(true);
  }

 private:
  TVandrelShopperForm& form_;
};

// The runner's news: configuring a search before it starts, the enabling rules, the no-results question.
class TVandrelShopperForm::TRunnerEar : public IQuorinApplicationObserver {
 public:
  explicit TRunnerEar(TVandrelShopperForm& form) : form_(form) {}

  void StorageProgress(const void*, int percent) override {
    form_.SetLoadProgress(percent);
    const bool loading = ShowsLoadProgress(percent);
    if (loading && !busyCursor_) QApplication::setOverrideCursor(Qt::BusyCursor);
    if (!loading && busyCursor_) {
      QApplication::restoreOverrideCursor();
      if (form_.StatusText() == Text(kLoadingResultsText)) form_.SetStatusText(QString());
    }
    busyCursor_ = loading;
    if (loading) form_.SetStatusText(Text(kLoadingResultsText));
  }
  void ActionStarting(TQuorinAction& action) override {
    auto* search = dynamic_cast<TQuorinSearchAction*>(&action);
    if (!search) return;
    TSearchRunSettings settings;
    settings.Debug = form_.kernel_.DebugMode();
    if (TAppConfig* config = form_.kernel_.Config()) {
      settings.MaxTransfers = config->Preferences().MaxTransfers();
      settings.Timeout = config->Preferences().Timeout();
      settings.EngineTimeLimit = config->Preferences().EngineTimeLimit();
      settings.UseDetectConnection = config->Network().UseDetectConnection();
      settings.UseProxyConnection = config->Network().UseProxyConnection();
      settings.ProxyType = config->Network().ProxyType();
      settings.ProxyAddress = config->Network().ProxyAddress();
      settings.ProxyPort = config->Network().ProxyPort();
      settings.SocksAddress = config->Network().SocksAddress();
      settings.SocksPort = config->Network().SocksPort();
      settings.UseProxyAuthenticate = config->Network().UseProxyAuthenticate();
      settings.ProxyUserName = config->Network().ProxyUserName();
      settings.ProxyPassword = config->Network().ProxyPassword();
    }
    ConfigureSearchAction(*search, settings);
    form_.notConnected_ = false;
    search->AddObserver(form_.searchEar_.get());
    watched_ = search;
  }
  void ActionStarted(TQuorinAction& action) override {
    form_.RefreshCommands();
    auto* search = dynamic_cast<TQuorinSearchAction*>(&action);
    if (!search || !search->Search()) return;
    TAppSearchHistory* history = form_.kernel_.History(IsReviews(*search->Search()));
    if (history && history->CurrentSearch() != search->Search()) history->SetCurrentSearch(search->Search());
  }
  void ActionFinished(TQuorinAction& action) override {
    auto* search = dynamic_cast<TQuorinSearchAction*>(&action);
    if (!search) return;
    if (watched_ == search) {
      search->RemoveObserver(form_.searchEar_.get());
      watched_ = nullptr;
    }
    const bool nothingFound =
        search->Search() && search->TotalResults() == 0 && !search->Failed() && !form_.kernel_.Stopping();
    form_.noResultsSearch_ = nothingFound ? search->Search() : nullptr;
    form_.noResultsReviews_ = nothingFound && IsReviews(*search->Search());
  }
  void Busy() override { form_.RefreshCommands(); }
  void Idle() override {
    form_.RefreshCommands();
    TSearchStorageItem* search = std::exchange(form_.noResultsSearch_, nullptr);
    TAppConfig* config = form_.kernel_.Config();
    TAppSearchHistory* history = form_.kernel_.History(form_.noResultsReviews_);
    if (!search || !config || !HoldsSearch(history, search)) return;
    bool ask = config->Prompts().PromptNoResultFoundMsg();
    const TPromptAnswer answer = AskUnderFlag(form_.Prompts(), ask, NoResultsPrompt(), TPromptAnswer::paNo);
    config->Prompts().SetPromptNoResultFoundMsg(ask);
    if (answer != TPromptAnswer::paYes) return;
    history->SetCurrentSearch(search);
    // The wizard works on the current search of the page shown.
    form_.ShowPage(form_.noResultsReviews_ ? TPageKind::pkReviews : TPageKind::pkPrices);
    form_.Dispatch(TMainCommand::mcModifySearch);
  }
  void Error(TQuorinActionResult code) override {
    // A start that failed after ActionStarting has freed its action without an ActionFinished.
    if (code == arCannotStart) watched_ = nullptr;
    // A refused StartSearch has told the user already.
    if (form_.kernel_.InStartSearch()) return;
    if (form_.notConnected_ && code == arCannotStart) {
      ShowAppError(aeNotConnected);
      return;
    }
    ShowActionError(code);
  }

  bool IsReviews(const TSearchStorageItem& search) const {
    if (TCategoryList* list = form_.kernel_.CategoryList()) return list->IsReviewCategory(search.CatName);
    return StartsWithText(search.CatName, "review");
  }
  // The action the search ear listens to; it goes after ActionFinished.
  TQuorinSearchAction* watched_ = nullptr;

 private:
  TVandrelShopperForm& form_;
  bool busyCursor_ = false;
};

class TVandrelShopperForm::TKernelEar : public IAppKernelObserver, public IAppSearchHistoryObserver {
 public:
  explicit TKernelEar(TVandrelShopperForm& form) : form_(form) {}
  void SearchStarted(TAppKernel&, TSearchStorageItem*, bool isReviews) override {
    form_.ShowPage(isReviews ? TPageKind::pkReviews : TPageKind::pkPrices);
    form_.layout_ = TFrameLayout::flResults;
    form_.RefreshCommands();
  }
  void SearchChanged(TAppSearchHistory&, TSearchStorageItem*) override { form_.RefreshCommands(); }
  void SearchAdded(TAppSearchHistory&, TSearchStorageItem*) override { form_.RefreshCommands(); }

 private:
  TVandrelShopperForm& form_;
};

TVandrelShopperForm::TVandrelShopperForm(TAppKernel& kernel, TCommandLineProcessor& processor,
                                         QWidget* parent)
    : QMainWindow(parent),
      kernel_(kernel),
      processor_(processor),
      scheduler_(std::make_unique<TQtScheduler>()),
      ownPrompts_(std::make_unique<TQtUserPrompts>(this)),
      runnerEar_(std::make_unique<TRunnerEar>(*this)),
      searchEar_(std::make_unique<TSearchEar>(*this)),
      kernelEar_(std::make_unique<TKernelEar>(*this)) {
  setWindowTitle(Text(kAppNamePlaceholder));
  setObjectName("VandrelShopperForm");
  prompts_ = ownPrompts_.get();

  TMainWindowCloser::TPorts ports;
  ports.RunnerIdle = [this] { return RunnerIdle(); };
  ports.SplashDone = [this] { return splashDone_; };
  ports.StopSearch = [this] { return StopSearchForClose(); };
  ports.StopRunner = [this] {
    if (TQuorinApplication* runner = kernel_.Runner()) runner->Stop(true);
  };
  ports.Close = [this] { close(); };
  closer_ = std::make_unique<TMainWindowCloser>(*scheduler_, std::move(ports));
  commandLines_ = std::make_unique<TCommandLineQueue>(
      *scheduler_, [] { return QApplication::activeModalWidget() != nullptr; },
      [this](const std::string& line) {
        EnsurePages();
        processor_.Execute(line);
      });
  kernel_.SetStopQuestion([this] {
    const TPromptReply reply = Prompts().Ask(StopSearchPrompt());
    return TStopAnswer{reply.Answer == TPromptAnswer::paYes, reply.DontAskAgain};
  });

  BuildPages();
  BuildMenus();
  BuildToolBar();
  BuildStatusBar();
  Observe(true);
  RegisterCommands();
  if (TAppConfig* config = kernel_.Config()) {
    toolBar_->setVisible(config->Views().ShowToolbar());
    statusBar()->setVisible(config->Views().ShowStatus());
    textLabels_ = config->Views().ShowTextLabels();
  }
  toolBar_->setToolButtonStyle(textLabels_ ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
  RestorePlacement();
  SetResultCount(-1, 0);
  RefreshCurrencyPanel();
  ShowPage(TPageKind::pkHome);
  RefreshCommands();
}

TVandrelShopperForm::~TVandrelShopperForm() {
  SaveLayout();
  Observe(false);
  kernel_.SetStopQuestion(nullptr);
  // The handlers point into this window.
  processor_.Clear();
}

void TVandrelShopperForm::Observe(bool on) {
  TQuorinApplication* runner = kernel_.Runner();
  if (on) {
    if (runner) runner->AddObserver(runnerEar_.get());
    kernel_.AddObserver(kernelEar_.get());
    for (TAppSearchHistory* history : {kernel_.CompareHistory(), kernel_.ReviewsHistory()})
      if (history) history->AddObserver(kernelEar_.get());
    return;
  }
  if (runner) runner->RemoveObserver(runnerEar_.get());
  if (runnerEar_->watched_) runnerEar_->watched_->RemoveObserver(searchEar_.get());
  kernel_.RemoveObserver(kernelEar_.get());
  for (TAppSearchHistory* history : {kernel_.CompareHistory(), kernel_.ReviewsHistory()})
    if (history) history->RemoveObserver(kernelEar_.get());
}

void TVandrelShopperForm::BuildPages() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* header = new QHBoxLayout;
  tabs_ = new QTabBar(central);
  tabs_->addTab(Text("Ri Veravur"));
  tabs_->addTab(Text("Reviews"));
  tabs_->addTab(Text("Prices"));
  tabs_->setDrawBase(true);
  tabs_->setExpanding(false);
  header->addWidget(tabs_);
  header->addStretch(1);
  splitButtons_ = new QWidget(central);
  auto* split = new QHBoxLayout(splitButtons_);
  split->setContentsMargins(0, 0, 4, 0);
  struct {
    TMainCommand command;
    const char* hint;
    QStyle::StandardPixmap icon;
  } const kSplit[] = {
      {TMainCommand::mcLayoutResultsAndBrowser, "Show results and web browser",
       QStyle::SP_TitleBarNormalButton},
      {TMainCommand::mcLayoutResults, "Show only results", QStyle::SP_FileDialogListView},
      {TMainCommand::mcLayoutBrowser, "Show only web browser", QStyle::SP_ComputerIcon},
  };
  for (const auto& button : kSplit) {
    auto* tool = new QToolButton(splitButtons_);
    tool->setIcon(style()->standardIcon(button.icon));
    tool->setToolTip(Text(button.hint));
    tool->setAccessibleName(Text(button.hint));
    tool->setAutoRaise(true);
    const TMainCommand command = button.command;
    connect(tool, &QToolButton::clicked, this, [this, command] { Dispatch(command); });
    split->addWidget(tool);
  }
  header->addWidget(splitButtons_);
  layout->addLayout(header);

  pages_ = new QStackedWidget(central);
  // A frame of the program's own usually takes the home slot right after construction; only a window
  // without one pays for a browser of its own, once the event loop runs.
  home_ = new QWidget(pages_);
  pages_->addWidget(home_);
  ownHomePending_ = true;
  QTimer::singleShot(0, this, [this] { UseOwnHomeView(); });
  for (const char* title : {"Reviews", "Prices"}) {
    auto* page = new QWidget(pages_);
    auto* pageLayout = new QVBoxLayout(page);
    auto* heading = new QLabel(Text(title), page);
    heading->setObjectName(QString(title) + "Heading");
    QFont font = heading->font();
    font.setPointSize(font.pointSize() + 6);
    heading->setFont(font);
    pageLayout->addWidget(heading);
    pageLayout->addWidget(new QLabel(Text("No search selected."), page));
    pageLayout->addStretch(1);
    pages_->addWidget(page);
  }
  layout->addWidget(pages_, 1);
  setCentralWidget(central);

  connect(tabs_, &QTabBar::currentChanged, this, [this](int index) {
    const auto page = static_cast<TPageKind>(index + 1);
    if (page != TPageKind::pkHome) EnsurePages();
    // A result page chosen by its tab shows the newest stored search when none is current.
    if (page != TPageKind::pkHome && RunnerIdle()) {
      TAppSearchHistory* history = kernel_.History(page == TPageKind::pkReviews);
      if (history && !history->CurrentSearch())
        if (TSearchStorageItem* newest = NewestSearch(history)) history->SetCurrentSearch(newest);
    }
    ShowPage(page);
  });
}

void TVandrelShopperForm::UseOwnHomeView() {
  if (!ownHomePending_) return;
  ownHomePending_ = false;
  auto* view = new QWebEngineView(pages_);
  view->setObjectName("HomePage");
  view->setContextMenuPolicy(Qt::NoContextMenu);  // the browser's own menu is never shown
  connect(view, &QWebEngineView::loadProgress, this, [this](int percent) {
    if (page_ == TPageKind::pkHome) SetLoadProgress(percent);
  });
  connect(view, &QWebEngineView::loadFinished, this, [this](bool ok) {
    SetLoadProgress(100);
    emit HomePageLoaded(ok);
  });
  connect(view->page(), &QWebEnginePage::renderProcessTerminated, this,
          [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
            if (status == QWebEnginePage::NormalTerminationStatus) return;
            ShowBrowserFailure(Text("The embedded web browser stopped (exit code %1).").arg(exitCode));
          });
  ReplaceHome(view);
  homeView_ = view;
  view->load(QUrl::fromLocalFile(QString::fromStdString(kernel_.Folders().HomePage())));
}

void TVandrelShopperForm::ReplaceHome(QWidget* page) {
  const bool current = pages_->currentWidget() == home_;
  pages_->insertWidget(0, page);
  pages_->removeWidget(home_);
  home_->deleteLater();
  homeView_ = nullptr;
  home_ = page;
  if (current) pages_->setCurrentWidget(home_);
}

void TVandrelShopperForm::ShowBrowserFailure(const QString& reason) {
  auto* label = new QLabel(Text("The page cannot be shown.\n\n") + reason, pages_);
  label->setObjectName("BrowserFailure");
  label->setAlignment(Qt::AlignCenter);
  label->setWordWrap(true);
  ReplaceHome(label);
  emit HomePageLoaded(false);
}

void TVandrelShopperForm::SetHomePage(QWidget* page) {
  if (!page || page == home_) return;
  ownHomePending_ = false;
  page->setParent(pages_);
  ReplaceHome(page);
}

void TVandrelShopperForm::AddBottomStrip(QWidget* strip) {
  if (!strip || !centralWidget() || !centralWidget()->layout()) return;
  strip->setParent(centralWidget());
  centralWidget()->layout()->addWidget(strip);
}

void TVandrelShopperForm::SetResultFrame(TPageKind page, QWidget* frame) {
  if (!frame || page == TPageKind::pkHome) return;
  const int index = static_cast<int>(page) - 1;
  QWidget* old = pages_->widget(index);
  const bool current = pages_->currentIndex() == index;
  pages_->insertWidget(index, frame);
  pages_->removeWidget(old);
  old->deleteLater();
  if (current) pages_->setCurrentIndex(index);
}

void TVandrelShopperForm::SetPrompts(IUserPrompts* prompts) {
  prompts_ = prompts ? prompts : ownPrompts_.get();
}

IUserPrompts& TVandrelShopperForm::Prompts() {
  return *prompts_;
}

void TVandrelShopperForm::BuildMenus() {
  std::map<std::string, QMenu*> menus;
  std::map<std::string, QMenu*> submenus;
  for (const TMenuItemSpec& item : MainMenuItems()) {
    const std::string menuKey(item.Menu);
    QMenu*& menu = menus[menuKey];
    if (!menu) menu = menuBar()->addMenu(Text(item.Menu));
    QMenu* target = menu;
    if (!item.Submenu.empty()) {
      const std::string subKey = menuKey + "/" + std::string(item.Submenu);
      QMenu*& sub = submenus[subKey];
      if (!sub) {
        if (item.SeparatorBefore) menu->addSeparator();
        sub = menu->addMenu(Text(item.Submenu));
      } else if (item.SeparatorBefore) {
        sub->addSeparator();
      }
      target = sub;
    } else if (item.SeparatorBefore) {
      menu->addSeparator();
    }
    QAction* action = target->addAction(Text(item.Caption));
    action->setObjectName(QString::fromUtf8(item.Caption.data(), item.Caption.size()));
    if (!item.Shortcut.empty())
      action->setShortcut(QKeySequence::fromString(
          QString::fromUtf8(item.Shortcut.data(), item.Shortcut.size()), QKeySequence::PortableText));
    action->setCheckable(item.Checkable);
    const TMainCommand command = item.Command;
    connect(action, &QAction::triggered, this, [this, command] { Dispatch(command); });
    menuActions_[command] = action;
  }

  // Ctrl+Tab cycles the pages: 3 is followed by 1.
  auto* next = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
  connect(next, &QShortcut::activated, this, [this] { ShowPage(NextPage(page_)); });
  auto* previous = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), this);
  connect(previous, &QShortcut::activated, this, [this] { ShowPage(PreviousPage(page_)); });
}

void TVandrelShopperForm::BuildToolBar() {
  toolBar_ = addToolBar(Text("Toolbar"));
  toolBar_->setObjectName("MainToolBar");
  toolBar_->setMovable(false);
  for (const TToolButtonSpec& button : ToolBarButtons()) {
    QAction* action =
        toolBar_->addAction(style()->standardIcon(ButtonIcon(button.Command)), ButtonText(button.Caption));
    const TMainCommand command = button.Command;
    connect(action, &QAction::triggered, this, [this, command] { Dispatch(command); });
    toolActions_[command] = action;
  }
}

void TVandrelShopperForm::BuildStatusBar() {
  statusText_ = new QLabel(this);
  statusText_->setObjectName("StatusText");
  resultCount_ = new QLabel(this);
  resultCount_->setObjectName("ResultCount");
  currency_ = new QLabel(this);
  currency_->setObjectName("LocalCurrency");
  currency_->installEventFilter(this);
  loading_ = new QProgressBar(this);
  loading_->setRange(0, 100);
  loading_->setMaximumWidth(120);
  loading_->setTextVisible(false);
  loading_->setVisible(false);
  softwareUpdate_ =
      new QLabel(QString("<a href=\"update\">%1</a>").arg(Text("Software Update Available")), this);
  softwareUpdate_->setObjectName("SoftwareUpdateLink");
  connect(softwareUpdate_, &QLabel::linkActivated, this,
          [this] { Dispatch(TMainCommand::mcSoftwareUpdate); });
  statusBar()->addWidget(statusText_, 1);
  statusBar()->addPermanentWidget(softwareUpdate_);
  statusBar()->addPermanentWidget(resultCount_);
  statusBar()->addPermanentWidget(currency_);
  statusBar()->addPermanentWidget(loading_);
}

void TVandrelShopperForm::RegisterCommands() {
  auto page = [this](TPageKind kind) {
    return [this, kind](const std::string&) {
      BringToFront();
      ShowPage(kind);
    };
  };
  processor_.Register("home", page(TPageKind::pkHome));
  processor_.Register("reviews", page(TPageKind::pkReviews));
  processor_.Register("prices", page(TPageKind::pkPrices));
  processor_.Register("new", [this](const std::string& query) { NewSearch("", true, query); });
  processor_.Register("newreviews", [this](const std::string& query) { NewSearch("", true, query); });
  processor_.Register("newprices", [this](const std::string& query) { NewSearch("", false, query); });
  processor_.Register("newcatreviews", [this](const std::string& argument) {
    auto [category, query] = SplitCategoryAndQuery(argument);
    NewSearch(category, true, query);
  });
  processor_.Register("newcatprices", [this](const std::string& argument) {
    auto [category, query] = SplitCategoryAndQuery(argument);
    NewSearch(category, false, query);
  });
}

void TVandrelShopperForm::NewSearch(const std::string& category, bool isReviews, const std::string& query) {
  EnsurePages();
  BringToFront();
  if (wizard_) {
    wizard_(category, isReviews, query);
    return;
  }
  QString what = isReviews ? Text("New reviews search") : Text("New price search");
  if (!category.empty()) what += Text(" in ") + QString::fromStdString(category);
  if (!query.empty()) what += Text(": ") + QString::fromStdString(query);
  SetStatusText(what);
}

void TVandrelShopperForm::SetCommandHandler(TMainCommand command, std::function<void()> handler) {
  if (handler) {
    handlers_[command] = std::move(handler);
  } else {
    handlers_.erase(command);
  }
}

QAction* TVandrelShopperForm::Action(TMainCommand command) const {
  auto it = menuActions_.find(command);
  return it == menuActions_.end() ? nullptr : it->second;
}

void TVandrelShopperForm::Dispatch(TMainCommand command) {
  EnsurePages();
  // A shortcut may reach a disabled item's command through another path; the rules decide.
  if (!CommandState(command, State()).Enabled) {
    RefreshCommands();
    return;
  }
  if (IsLayoutCommand(command))
    layout_ = static_cast<TFrameLayout>(static_cast<int>(command) -
                                        static_cast<int>(TMainCommand::mcLayoutResults));
  auto handler = handlers_.find(command);
  if (handler != handlers_.end()) {
    const bool hadUpdate =
        kernel_.Config() && !kernel_.Config()->GlobalSystem().SoftwareUpdateAddress().empty();
    handler->second();
    // The engine update may have learnt of a new program version.
    if (command == TMainCommand::mcCheckUpdates && !hadUpdate && kernel_.Config() &&
        !kernel_.Config()->GlobalSystem().SoftwareUpdateAddress().empty() &&
        Prompts().Ask(SoftwareUpdatePrompt()).Answer == TPromptAnswer::paYes)
      RunWindowCommand(TMainCommand::mcSoftwareUpdate);
    RefreshCommands();
    return;
  }
  const TMenuItemSpec* item = FindMenuItem(command);
  if (IsLayoutCommand(command) || command == TMainCommand::mcSoftwareUpdate ||
      (item && item->Route == TCommandRoute::crWindow)) {
    RunWindowCommand(command);
    RefreshCommands();
    return;
  }
  ShowNotAvailable(command);
}

void TVandrelShopperForm::RunWindowCommand(TMainCommand command) {
  using enum TMainCommand;
  const TQuorinVersionInfo version = TQuorinVersionInfo::FromBuild();
  switch (command) {
    case mcExit:
      close();
      break;
    case mcGoHome:
      ShowPage(TPageKind::pkHome);
      break;
    case mcGoReviews:
      ShowPage(TPageKind::pkReviews);
      break;
    case mcGoPrices:
      ShowPage(TPageKind::pkPrices);
      break;
    case mcShowToolbar:
      toolBar_->setVisible(!toolBar_->isVisible());
      break;
    case mcShowStatusBar:
      statusBar()->setVisible(!statusBar()->isVisible());
      break;
    case mcShowTextLabels:
      textLabels_ = !textLabels_;
      toolBar_->setToolButtonStyle(textLabels_ ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
      break;
    case mcUseLocalCurrency:
      ToggleLocalCurrency();
      break;
    case mcUpdateSearch: {
      const bool reviews = page_ == TPageKind::pkReviews;
      TAppSearchHistory* history = kernel_.History(reviews);
      if (history && history->CurrentSearch()) kernel_.StartSearch(history->CurrentSearch(), reviews, false);
      break;
    }
    case mcStopSearch:
      kernel_.StopSearch();
      break;
    case mcGettingStarted:
      if (!WebBrowse().ShellOpen(kernel_.Folders().GettingStarted()))
        ShowAppError(aeOpenFailed, {"getstart.chm"});
      break;
    case mcSuggestFeature:
    case mcSuggestSite:
    case mcInviteFriend:
    case mcReportBug:
      WebBrowse().OpenUrl(RedirectAddress(RedirectDestination(command)));
      break;
    case mcSoftwareUpdate:
      WebBrowse().OpenUrl(SoftwareUpdateAddress(version.Edition, version.Language, version.BuildNumber));
      break;
    case mcAbout:
      ShowAbout();
      break;
    default:
      break;  // the layout of a frame that is not there yet is remembered only
  }
}

void TVandrelShopperForm::ShowNotAvailable(TMainCommand command) {
  TNotImplementedFrm window(this);
  // Told once the window is up, so a test can find and close it.
  QMetaObject::invokeMethod(
      this, [this, command] { emit NotAvailableShown(static_cast<int>(command)); }, Qt::QueuedConnection);
  window.exec();
}

void TVandrelShopperForm::ShowAbout() {
  TAboutFrm about([] { WebBrowse().OpenUrl(std::string(kMakerSite)); }, this);
  about.exec();
}

void TVandrelShopperForm::ToggleLocalCurrency() {
  // The running search's results are being written; converting them now would show a mix.
  if (!RunnerIdle()) return;
  TCurrencyConverter& converter = CurrencyConverter();
  converter.ShowConverted = !converter.ShowConverted;
  if (TAppConfig* config = kernel_.Config())
    config->Preferences().SetShowConvertedCurrencies(converter.ShowConverted);
  if (page_ != TPageKind::pkHome) {
    TAppSearchHistory* history = kernel_.History(page_ == TPageKind::pkReviews);
    if (history && history->CurrentSearch()) history->ReloadResults();
  }
  RefreshCurrencyPanel();
  RefreshCommands();
}

void TVandrelShopperForm::RefreshCurrencyPanel() {
  const TCurrencyConverter& converter = CurrencyConverter();
  currency_->setText(Text(LocalCurrencyText(converter.TargetCode)));
  currency_->setEnabled(converter.ShowConverted);
}

bool TVandrelShopperForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == currency_ && event->type() == QEvent::MouseButtonDblClick && page_ == TPageKind::pkPrices) {
    ToggleLocalCurrency();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

bool TVandrelShopperForm::RunnerIdle() const {
  TQuorinApplication* runner = kernel_.Runner();
  return !runner || (runner->State() == asIdle && !runner->IsBusy());
}

TMainWindowState TVandrelShopperForm::State() const {
  TMainWindowState state;
  state.Page = page_;
  state.RunnerIdle = RunnerIdle();
  if (page_ != TPageKind::pkHome) {
    TAppSearchHistory* history = kernel_.History(page_ == TPageKind::pkReviews);
    state.HasCurrentSearch = history && history->CurrentSearch();
  }
  if (TAppConfig* config = kernel_.Config())
    state.SoftwareUpdateAddressSet = !config->GlobalSystem().SoftwareUpdateAddress().empty();
  state.ProgressWindowExists = !progressWindow_.isNull();
  state.ProgressWindowVisible = state.ProgressWindowExists && progressWindow_->isVisible();
  state.ToolbarVisible = toolBar_ && !toolBar_->isHidden();
  state.TextLabels = textLabels_;
  state.StatusBarVisible = !statusBar()->isHidden();
  state.UseLocalCurrency = CurrencyConverter().ShowConverted;
  state.Layout = layout_;
  return state;
}

void TVandrelShopperForm::RefreshCommands() {
  const TMainWindowState state = State();
  for (auto& [command, action] : menuActions_) {
    const TCommandState s = CommandState(command, state);
    action->setEnabled(s.Enabled);
    action->setVisible(s.Visible);
    if (action->isCheckable()) action->setChecked(s.Checked);
  }
  for (auto& [command, action] : toolActions_) {
    const TCommandState s = CommandState(command, state);
    action->setEnabled(s.Enabled);
    action->setVisible(s.Visible);
  }
  const TCommandState update = CommandState(TMainCommand::mcSoftwareUpdate, state);
  softwareUpdate_->setVisible(update.Visible);
  softwareUpdate_->setEnabled(update.Enabled);
  splitButtons_->setVisible(page_ != TPageKind::pkHome);
}

void TVandrelShopperForm::EnsurePages() {
  if (std::function<void()> build = std::exchange(pageBuilder_, nullptr)) build();
}

void TVandrelShopperForm::ShowPage(TPageKind page) {
  const int number = static_cast<int>(page);
  if (number < 1 || number > 3) return;
  if (page != TPageKind::pkHome) EnsurePages();
  if (page != page_) {
    page_ = page;
    pages_->setCurrentIndex(number - 1);
    SetStatusText(QString());
    if (page == TPageKind::pkHome) {
      SetResultCount(-1, 0);
      SetLoadProgress(0);
    }
  }
  if (tabs_->currentIndex() != number - 1) {
    QSignalBlocker block(tabs_);
    tabs_->setCurrentIndex(number - 1);
  }
  RefreshCommands();
  emit PageChanged(number);
}

void TVandrelShopperForm::BringToFront() {
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TVandrelShopperForm::HomeLink(THomeLinkKind kind, const std::string& text) {
  EnsurePages();
  switch (kind) {
    case THomeLinkKind::hkNewReviewsInCategory: {
      // An unknown category opens the wizard on no category.
      TCategoryList* categories = kernel_.CategoryList();
      NewSearch(categories && categories->Find(text) ? text : std::string(), true, "");
      break;
    }
    case THomeLinkKind::hkNewReviews:
      NewSearch("", true, text);
      break;
    case THomeLinkKind::hkNewPrices:
      NewSearch("", false, text);
      break;
    case THomeLinkKind::hkOpenReviews:
    case THomeLinkKind::hkOpenPrices: {
      const bool reviews = kind == THomeLinkKind::hkOpenReviews;
      TAppSearchHistory* history = kernel_.History(reviews);
      std::vector<TSearchStorageItem*> searches = SearchesByAccess(history);
      const std::optional<size_t> index = HomeEntryIndex(text, searches.size());
      if (!index || !RunnerIdle()) return;
      history->SetCurrentSearch(searches[*index]);
      ShowPage(reviews ? TPageKind::pkReviews : TPageKind::pkPrices);
      break;
    }
    case THomeLinkKind::hkCategoryWindow:
      Dispatch(TMainCommand::mcCategories);
      break;
  }
}

void TVandrelShopperForm::RunCommandLine(const std::string& line) {
  commandLines_->Submit(line);
}

void TVandrelShopperForm::CloseWithoutAsking() {
  askBeforeStop_ = false;
  close();
}

bool TVandrelShopperForm::StopSearchForClose() {
  if (!askBeforeStop_) {
    if (TQuorinApplication* runner = kernel_.Runner()) runner->Stop(true);
    return true;
  }
  return kernel_.StopSearch();
}

void TVandrelShopperForm::SetStatusText(const QString& text) {
  statusText_->setText(text);
}

QString TVandrelShopperForm::StatusText() const {
  return statusText_->text();
}

void TVandrelShopperForm::SetResultCount(int count, int selected) {
  resultCount_->setText(QString::fromStdString(vandrel::ResultCountText(count, selected)));
  resultCount_->setVisible(count >= 0);
}

QString TVandrelShopperForm::ResultCountText() const {
  return resultCount_->text();
}

void TVandrelShopperForm::SetLoadProgress(int percent) {
  // Redrawn only on a change: page loads report often.
  if (percent == loadPercent_) return;
  loadPercent_ = percent;
  loading_->setValue(std::clamp(percent, 0, 100));
  loading_->setVisible(ShowsLoadProgress(percent));
}

void TVandrelShopperForm::RestorePlacement() {
  TAppConfig* config = kernel_.Config();
  std::optional<TWindowPlacement> placement;
  if (config) placement = ParseWindowPlacement(config->Views().WindowPos());
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!placement) {
    if (screen) setGeometry(screen->availableGeometry());
    setWindowState(windowState() | Qt::WindowMaximized);
    return;
  }
  QRect rect(placement->Left, placement->Top, placement->Width, placement->Height);
  // A placement from a larger or another screen must still leave the window reachable.
  if (screen && !screen->availableVirtualGeometry().intersects(rect))
    rect.moveTopLeft(screen->availableGeometry().topLeft());
  setGeometry(rect);
  if (placement->Maximized) setWindowState(windowState() | Qt::WindowMaximized);
}

void TVandrelShopperForm::SaveLayout() {
  TAppConfig* config = kernel_.Config();
  if (!config || !shownOnce_) return;
  config->Views().SetShowToolbar(!toolBar_->isHidden());
  config->Views().SetShowStatus(!statusBar()->isHidden());
  config->Views().SetShowTextLabels(textLabels_);
  const QRect normal = normalGeometry();
  config->Views().SetWindowPos(
      FormatWindowPlacement({normal.x(), normal.y(), normal.width(), normal.height(), isMaximized()}));
}

void TVandrelShopperForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  setWindowTitle(Text(kProductName));
  layout_ = TFrameLayout::flResults;
  // Before MainFormShown: a catalogue without engines still ends the program at once.
  if (kernel_.Repository()) kernel_.CheckEngines(false);
  kernel_.SetMainFormShown();
  RefreshCommands();
}

void TVandrelShopperForm::closeEvent(QCloseEvent* event) {
  if (!closing_ && !closer_->CloseRequested()) {
    event->ignore();
    return;
  }
  closing_ = true;
  if (TQuorinApplication* runner = kernel_.Runner()) runner->Stop(true);
  SaveLayout();
  event->accept();
}

void TVandrelShopperForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || progressWindow_.isNull()) return;
  // The progress window goes down and comes back with the main window.
  if (isMinimized()) {
    progressWindow_->showMinimized();
  } else if (progressWindow_->isMinimized()) {
    progressWindow_->showNormal();
  }
}

void TVandrelShopperForm::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers modifiers = event->modifiers();
  if (event->key() == Qt::Key_Insert && modifiers == Qt::NoModifier) {
    // Insert belongs to the browser while it has the focus.
    QWidget* focus = QApplication::focusWidget();
    bool inBrowser = false;
    for (QWidget* w = focus; w && !inBrowser; w = w->parentWidget())
      inBrowser = qobject_cast<QWebEngineView*>(w) != nullptr;
    if (!inBrowser) {
      Dispatch(TMainCommand::mcNewSearch);
      return;
    }
  }
  if (modifiers == (Qt::ControlModifier | Qt::KeypadModifier) && event->key() >= Qt::Key_1 &&
      event->key() <= Qt::Key_3) {
    ShowPage(static_cast<TPageKind>(event->key() - Qt::Key_1 + 1));
    return;
  }
  QMainWindow::keyPressEvent(event);
}

}  // namespace vandrel

#include "ui/DesktopWindows.h"

#include <QDir>
#include <QEvent>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

#include "actions/QuorinApplications.h"
#include "currency/CurrencyConverters.h"
#include "kernel/AppConfig.h"
#include "kernel/AppUpdaterSettings.h"
#include "platform/RegistryStore.h"
#include "presentation/BrowserFavorites.h"
#include "presentation/HomePageSource.h"
#include "presentation/ResultFrameController.h"
#include "presentation/SearchWizard.h"
#include "search/SearchAction.h"
#include "search/SearchHistory.h"
#include "ui/AdFrame.h"
#include "ui/BrowserFrame.h"
#include "ui/CategoryForm.h"
#include "ui/FilterForm.h"
#include "ui/HomeFrame.h"
#include "ui/MainForm.h"
#include "ui/OptionsForm.h"
#include "ui/ProgressForm.h"
#include "ui/QtDesktopPorts.h"
#include "ui/ResultFrame.h"
#include "ui/SearchWizForm.h"
#include "ui/SetupWizForm.h"
#include "ui/UpdaterForm.h"
#include "ui/WebBrowserView.h"
#include "update/QuorinUpdateActions.h"

namespace vandrel {

void AddStartWindows(TAppKernel::THooks& hooks, TStartWindowParts parts) {
  // Every engine update of the program (these windows, "Check Updates Now", the one before a search)
  // queues its operation on this runner.
  if (hooks.Actions && hooks.Runner) RegisterUpdateAction(*hooks.Actions, *hooks.Runner);
  TAppConfig* config = parts.Config ? parts.Config : &AppConfig();
  TAppUpdater* updater = parts.Updater ? parts.Updater : &ProgramUpdater();
  hooks.RunSetupWizard = [config, updater, parts] {
    TSetupWizardRun run;
    run.Updater = updater;
    run.Detect = parts.Detect;
    run.RewriteIntegration = parts.RewriteIntegration;
    run.ReloadPriceResults = [] {
      if (TAppSearchHistory* prices = TAppKernel::Instance().CompareHistory()) prices->ReloadResults();
    };
    return ExecuteSetupWizard(*config, CurrencyConverter(), std::move(run));
  };
  hooks.RunEngineUpdateWindow = [updater] { return ExecuteEngineUpdate(nullptr, *updater); };
}

void AddSearchUpdate(TAppKernel& kernel, std::function<QWidget*()> parent) {
  TSearchHooks hooks;
  hooks.BeforeSearch = BeforeSearchUpdate(std::move(parent));
  kernel.SetSearchHooks(std::move(hooks));
  kernel.SetUpdateDue(UpdateDueCheck());
}

namespace {

// The result pages' settings, read and written through the configuration.
class TConfigResultFrameSettings : public IResultFrameSettings {
 public:
  bool PromptDeleteSearchResult() const override {
    return AppConfig().Prompts().PromptDeleteSearchResultMsg();
  }
  void SetPromptDeleteSearchResult(bool ask) override {
    AppConfig().Prompts().SetPromptDeleteSearchResultMsg(ask);
  }
  void SetDefaultBrowserLayout(int mode) override { AppConfig().Views().SetDefaultBrowserLayout(mode); }
  bool UseGraphScores() const override { return AppConfig().Views().UseGraphScores(); }
  bool SingleClickOpen() const override { return AppConfig().Preferences().SingleClickOpen(); }
};

}  // namespace

// Shows the progress window for every search the runner starts.
class TDesktopWindows::TRunnerEar : public IQuorinApplicationObserver {
 public:
  explicit TRunnerEar(TDesktopWindows& owner) : owner_(owner) {}
  void ActionStarted(TQuorinAction& action) override {
    auto* search = dynamic_cast<TQuorinSearchAction*>(&action);
    if (!search) return;
    if (owner_.progress_) owner_.progress_->AttachSearch(*search);
    if (owner_.ads_) owner_.ads_->SetAdContext(search->Search());
  }

 private:
  TDesktopWindows& owner_;
};

TDesktopWindows::TDesktopWindows(TAppKernel& kernel, TVandrelShopperForm& form)
    : QObject(nullptr),
      kernel_(kernel),
      form_(form),
      scheduler_(std::make_unique<TQtScheduler>()),
      prompts_(std::make_unique<TQtUserPrompts>(&form)) {
  HostHomePage();
  HostProgress();
  HostAds();
  // The result pages wait until the home page is up, unless something needs them sooner: building them
  // and their browser panes would hold up the home page's own load.
  form_.SetPageBuilder([this] { HostResultPages(); });
  connect(
      &form_, &TVandrelShopperForm::HomePageLoaded, this,
      [this] {
        homeLoaded_ = true;
        QTimer::singleShot(0, this, [this] { form_.EnsurePages(); });
      },
      Qt::SingleShotConnection);
  RegisterWindows();
  runnerEar_ = std::make_unique<TRunnerEar>(*this);
  TQuorinApplication::Instance().AddObserver(runnerEar_.get());
}

TDesktopWindows::~TDesktopWindows() {
  LeaveWindow();
}

void TDesktopWindows::LeaveWindow() {
  if (left_) return;
  left_ = true;
  form_.SetPageBuilder(nullptr);
  form_.removeEventFilter(this);
  TQuorinApplication::Instance().RemoveObserver(runnerEar_.get());
  if (ads_) ads_->StopAds();
  progress_.reset();
}

void TDesktopWindows::HostHomePage() {
  if (!kernel_.CategoryList()) return;  // a kernel that did not start: the window keeps its own page
  homeSource_ =
      std::make_unique<THistoryHomeSource>(kernel_.CategoryList(), kernel_.ReviewsHistory(),
                                           kernel_.CompareHistory(), &TQuorinApplication::Instance());
  home_ = new THomeFrm(*homeSource_, kernel_.Folders().HomePage());  // the window takes it
  home_->OnLink = [this](THomeLink type, const std::string& text) {
    form_.HomeLink(static_cast<THomeLinkKind>(type), text);
  };
  home_->OnNewSearch = [this] { NewSearch("", false, ""); };
  home_->OnNextPage = [this](bool backwards) {
    form_.ShowPage(backwards ? TPageKind::pkPrices : TPageKind::pkReviews);
  };
  connect(home_, &THomeFrm::PageLoaded, &form_, &TVandrelShopperForm::HomePageLoaded);
  connect(&form_, &TVandrelShopperForm::PageChanged, home_, [this](int page) {
    if (page == static_cast<int>(TPageKind::pkHome)) home_->ShowHome();
  });
  form_.SetHomePage(home_);
  home_->ShowHome();
}

void TDesktopWindows::HostProgress() {
  TProgressFormContext context;
  context.Runner = &TQuorinApplication::Instance();
  context.Kernel = &kernel_;
  context.Config = &AppConfig();
  context.Scheduler = scheduler_.get();
  context.Prompts = prompts_.get();
  context.DataFolder = kernel_.Folders().Data();
  context.OverallProgress = [this](int percent) { form_.SetLoadProgress(percent); };
  progress_ = std::make_unique<TProgressForm>(std::move(context), &form_);
  form_.SetProgressWindow(progress_.get());
  form_.SetCommandHandler(TMainCommand::mcSearchProgress, [this] { progress_->ShowProgress(); });
}

void TDesktopWindows::HostAds() {
  ads_ = new TAdFrm(kernel_.Folders().Data());
  ads_->ConfigureDownloader() = [](THttpDownloaderSettings& settings) {
    ConfigureDownloaderFromConfig(AppConfig(), settings);
  };
  form_.AddBottomStrip(ads_);
  form_.installEventFilter(this);  // the strip rotates only while the window is active
  ads_->SetAdContext(nullptr);
  ads_->SetActive(form_.isActiveWindow());
}

void TDesktopWindows::HostResultPages() {
  if (!kernel_.ReviewsHistory() || !kernel_.CompareHistory()) return;
  frameSettings_ = std::make_unique<TConfigResultFrameSettings>();
  filters_ = new TResultFilterFrm(*scheduler_, &form_);
  for (bool reviews : {true, false}) {
    TResultFrm* page = HostResultPage(reviews);
    pages_[reviews ? 0 : 1] = page;
    form_.SetResultFrame(reviews ? TPageKind::pkReviews : TPageKind::pkPrices, page);
  }
}

TResultFrm* TDesktopWindows::HostResultPage(bool reviews) {
  TResultFrameDeps deps{*kernel_.History(reviews), *prompts_,           *scheduler_,
                        *frameSettings_,           kernel_.Catalogue(), &TQuorinApplication::Instance()};
  const std::string home = QDir::homePath().toStdString();
  const std::string config =
      QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString();
  auto* pane = new TBrowserFrm(*scheduler_, SystemRegistry().get(), LoadUserFavorites(home, config));
  // Each pane's first page starts a browser process of its own; they wait until the home page is up, so
  // the start-up does not share its cores with them.
  auto init = [pane] {
    if (!pane->View().HasDocument() && pane->View().Location().empty()) pane->InitPane();
  };
  if (homeLoaded_) {
    QTimer::singleShot(0, pane, init);
  } else {
    connect(&form_, &TVandrelShopperForm::HomePageLoaded, pane, init, Qt::SingleShotConnection);
  }
  auto navigate = [pane](const std::string& url) { pane->Navigate(url); };
  TResultFrm* page = reviews ? static_cast<TResultFrm*>(new TReviewsFrm(deps, pane, navigate))
                             : new TCompareFrm(deps, pane, navigate);
  page->SetFilterWindow(filters_);
  page->OpenSearchWizard = [this](const TSearchWizardRequest& request) {
    if (!kernel_.CategoryList()) return;
    TSearchWizardOptions options;
    options.CategoryName = request.CatName;
    options.Reviews = request.IsReviews;
    options.InitialText = request.Query;
    options.Search = request.Search;
    options.Duplicate = request.Kind == TWizardRequestKind::wrkDuplicate;
    options.SkipChoice = options.StartPastCategories = !request.CatName.empty() || request.Search;
    ShowSearchWizard(kernel_, TQuorinApplication::Instance(), *kernel_.CategoryList(), AppConfig(), *prompts_,
                     options, &form_);
  };
  page->RerunSearch = [this, reviews](TSearchStorageItem* search) {
    kernel_.StartSearch(search, reviews, false);
  };
  page->OnStatus = [this](size_t results, size_t selected) {
    form_.SetResultCount(static_cast<int>(results), static_cast<int>(selected));
  };
  return page;
}

bool TDesktopWindows::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &form_ && event->type() == QEvent::ActivationChange && ads_)
    ads_->SetActive(form_.isActiveWindow());
  return false;
}

void TDesktopWindows::RegisterWindows() {
  form_.SetSearchWizardRequest([this](const std::string& category, bool isReviews, const std::string& query) {
    NewSearch(category, isReviews, query);
  });
  form_.SetCommandHandler(TMainCommand::mcNewSearch, [this] { NewSearch("", false, ""); });
  auto modify = [this](bool duplicate) {
    const bool reviews = form_.CurrentPage() == TPageKind::pkReviews;
    TAppSearchHistory* history = kernel_.History(reviews);
    if (!history || !history->CurrentSearch() || !kernel_.CategoryList()) return;
    TSearchWizardOptions options;
    options.Reviews = reviews;
    options.Search = history->CurrentSearch();
    options.Duplicate = duplicate;
    options.StartPastCategories = options.SkipChoice = true;
    ShowSearchWizard(kernel_, TQuorinApplication::Instance(), *kernel_.CategoryList(), AppConfig(), *prompts_,
                     options, &form_);
  };
  form_.SetCommandHandler(TMainCommand::mcModifySearch, [modify] { modify(false); });
  form_.SetCommandHandler(TMainCommand::mcDuplicateSearch, [modify] { modify(true); });
  form_.SetCommandHandler(TMainCommand::mcOptions, [this] {
    TOptionsHooks hooks;
    hooks.Changed = [this] { form_.RefreshCommands(); };
    hooks.ReloadPriceResults = [this] {
      if (kernel_.CompareHistory()) kernel_.CompareHistory()->ReloadResults();
    };
    ExecuteOptionsForm(AppConfig(), CurrencyConverter(), std::move(hooks), &form_);
  });
  form_.SetCommandHandler(TMainCommand::mcCategories, [this] {
    if (!kernel_.CategoryList() || !kernel_.Catalogue()) return;
    ExecuteCategoryForm(*kernel_.CategoryList(), *kernel_.Catalogue(), "",
                        form_.CurrentPage() == TPageKind::pkReviews, &form_);
  });
  form_.SetCommandHandler(TMainCommand::mcCheckUpdates, [this] {
    TEngineUpdateOptions options;
    ExecuteEngineUpdate(&form_, options);
    if (kernel_.CategoryList()) kernel_.CategoryList()->Load();
    if (home_) home_->ShowHome();
    form_.RefreshCommands();
  });
}

void TDesktopWindows::NewSearch(const std::string& category, bool isReviews, const std::string& query) {
  if (!kernel_.CategoryList()) return;
  TSearchWizardOptions options;
  options.CategoryName = category;
  options.Reviews = isReviews;
  options.InitialText = query;
  options.SkipChoice = options.StartPastCategories = !category.empty();
  ShowSearchWizard(kernel_, TQuorinApplication::Instance(), *kernel_.CategoryList(), AppConfig(), *prompts_,
                   options, &form_);
}

}  // namespace vandrel

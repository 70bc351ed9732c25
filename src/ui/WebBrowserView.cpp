#include "ui/WebBrowserView.h"

#include <QAction>
#include <QLabel>
#include <QStackedLayout>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <optional>

namespace vandrel {
namespace {

// Our own pages may read local files and nothing else, whatever they link to.
class TLocalOnlyInterceptor : public QWebEngineUrlRequestInterceptor {
 public:
  using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    const QString scheme = info.requestUrl().scheme();
    if (scheme != "file" && scheme != "qrc" && scheme != "data" && scheme != "blob" && scheme != "about")
      info.block(true);
  }
};

QString TerminationText(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
  // A process that exited on its own may be reported with its raw wait status (1 as 256).
  if (exitCode > 255 && (exitCode & 0xff) == 0) exitCode >>= 8;
  switch (status) {
    case QWebEnginePage::CrashedTerminationStatus:
      return QObject::tr("The web browser's page process crashed (exit code %1).").arg(exitCode);
    case QWebEnginePage::KilledTerminationStatus:
      return QObject::tr("The web browser's page process was killed.");
    default:
      return QObject::tr(
                 "The web browser could not start its page process (exit code %1). When running as "
                 "root, start the program with QTWEBENGINE_DISABLE_SANDBOX=1.")
          .arg(exitCode);
  }
}

}  // namespace

TWebBrowserView::TWebBrowserView(TBrowserProfile profile, QWidget* parent) : QWidget(parent) {
  // No storage name: the profile is off the record, so neither kind leaves cookies or cache on disk.
  profile_ = new QWebEngineProfile(this);
  if (profile == TBrowserProfile::bpLocalFilesOnly) {
    profile_->setUrlRequestInterceptor(new TLocalOnlyInterceptor(profile_));
    profile_->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  }
  profile_->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  profile_->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);

  stack_ = new QStackedLayout(this);
  stack_->setContentsMargins(0, 0, 0, 0);
  view_ = new QWebEngineView(this);
  view_->setPage(new QWebEnginePage(profile_, view_));
  view_->setContextMenuPolicy(Qt::NoContextMenu);  // the frames show their own menus
  failure_ = new QLabel(this);
  failure_->setObjectName("BrowserFailure");
  failure_->setAlignment(Qt::AlignCenter);
  failure_->setWordWrap(true);
  failure_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  stack_->addWidget(view_);
  stack_->addWidget(failure_);
  setFocusProxy(view_);

  QWebEnginePage* page = view_->page();
  connect(page, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) {
    const std::string location = url.toString().toStdString();
    Tell([&](IBrowserViewObserver& o) { o.LocationChanged(location); });
    ReportHistory();
  });
  connect(page, &QWebEnginePage::titleChanged, this, [this](const QString& title) {
    const std::string text = title.toStdString();
    Tell([&](IBrowserViewObserver& o) { o.TitleChanged(text); });
  });
  connect(page, &QWebEnginePage::linkHovered, this, [this](const QString& link) {
    const std::string text = link.toStdString();
    Tell([&](IBrowserViewObserver& o) { o.StatusTextChanged(text); });
  });
  connect(page, &QWebEnginePage::loadStarted, this, [this] { loaded_ = false; });
  connect(page, &QWebEnginePage::loadProgress, this,
          [this](int percent) { Tell([&](IBrowserViewObserver& o) { o.LoadProgress(percent); }); });
  connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
    loaded_ = ok;
    ReportHistory();
    Tell([&](IBrowserViewObserver& o) { o.LoadFinished(ok); });
    emit LoadFinished(ok);
  });
  connect(page, &QWebEnginePage::renderProcessTerminated, this,
          [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
            if (status == QWebEnginePage::NormalTerminationStatus) return;
            ShowFailure(TerminationText(status, exitCode));
          });
}

TWebBrowserView::~TWebBrowserView() {
  // The page must go before its profile.
  delete view_;
  view_ = nullptr;
}

void TWebBrowserView::Navigate(const std::string& url) {
  stack_->setCurrentWidget(view_);
  loaded_ = false;
  view_->load(QUrl::fromUserInput(QString::fromStdString(url)));
}

std::string TWebBrowserView::Location() const {
  return view_->url().toString().toStdString();
}

bool TWebBrowserView::HasDocument() const {
  return loaded_ && !Failed() && !IsBlankAddress(Location());
}

bool TWebBrowserView::Failed() const {
  return stack_->currentWidget() == failure_;
}

QString TWebBrowserView::FailureText() const {
  return Failed() ? failure_->text() : QString();
}

void TWebBrowserView::ShowFailure(const QString& reason) {
  failure_->setText(reason);
  stack_->setCurrentWidget(failure_);
  const std::string text = reason.toStdString();
  Tell([&](IBrowserViewObserver& o) { o.BrowserFailed(text); });
}

void TWebBrowserView::ReportHistory() {
  const bool back = view_->history()->canGoBack();
  const bool forward = view_->history()->canGoForward();
  Tell([&](IBrowserViewObserver& o) { o.CommandStateChanged(back, forward); });
}

namespace {

std::optional<QWebEnginePage::WebAction> EditAction(TBrowserCommand command) {
  switch (command) {
    case TBrowserCommand::bcCopy:
      return QWebEnginePage::Copy;
    case TBrowserCommand::bcCut:
      return QWebEnginePage::Cut;
    case TBrowserCommand::bcPaste:
      return QWebEnginePage::Paste;
    case TBrowserCommand::bcSelectAll:
      return QWebEnginePage::SelectAll;
    default:
      return std::nullopt;
  }
}

}  // namespace

bool TWebBrowserView::CommandAvailable(TBrowserCommand command) const {
  switch (command) {
    case TBrowserCommand::bcBack:
      return view_->history()->canGoBack();
    case TBrowserCommand::bcForward:
      return view_->history()->canGoForward();
    case TBrowserCommand::bcStop:
    case TBrowserCommand::bcRefresh:
      return !Failed();
    case TBrowserCommand::bcFind:
    case TBrowserCommand::bcSaveAs:
    case TBrowserCommand::bcPrint:
    case TBrowserCommand::bcSource:
      return HasDocument();
    default:
      if (auto action = EditAction(command)) return view_->pageAction(*action)->isEnabled();
      return false;
  }
}

void TWebBrowserView::Execute(TBrowserCommand command) {
  switch (command) {
    case TBrowserCommand::bcBack:
      view_->back();
      break;
    case TBrowserCommand::bcForward:
      view_->forward();
      break;
    case TBrowserCommand::bcStop:
      view_->stop();
      break;
    case TBrowserCommand::bcRefresh:
      stack_->setCurrentWidget(view_);
      view_->reload();
      break;
    case TBrowserCommand::bcSource:
      if (HasDocument()) Navigate("view-source:" + Location());
      break;
    default:
      // Find, save and print need the pane's own dialogs; the pane runs them.
      if (auto action = EditAction(command)) view_->triggerPageAction(*action);
      break;
  }
}

void TWebBrowserView::RunScript(const std::string& statement) {
  view_->page()->runJavaScript(QString::fromStdString(statement));
}

}  // namespace vandrel

#include "ui/HomeFrame.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include "kernel/StartupTrace.h"
#include "ui/WebBrowserView.h"

namespace vandrel {

// The object the page reaches as window.external. Calls arrive on the main thread.
class THomeExternal : public QObject {
  Q_OBJECT

 public:
  explicit THomeExternal(QObject* parent) : QObject(parent) {}
  Q_INVOKABLE void call(const QString& name, const QString& argument) { emit Called(name, argument); }

 signals:
  void Called(const QString& name, const QString& argument);
};

namespace {

// window.external for the page: every name the program knows, in any case, queued until the channel to
// the program is up. The page sees plain functions and never the channel.
const char kExternalShim[] = R"JS(
(function () {
  var names = %1;
  var queue = [], target = null;
  function send(name, argument) {
    var text = argument === undefined || argument === null ? "" : String(argument);
    if (target) target.call(name, text); else queue.push([name, text]);
  }
  var methods = {};
  names.forEach(function (name) { methods[name.toLowerCase()] = function (a) { send(name, a); }; });
  var external = new Proxy({}, {
    get: function (t, p) { return typeof p === "string" ? methods[p.toLowerCase()] : undefined; },
    has: function (t, p) { return typeof p === "string" && p.toLowerCase() in methods; }
  });
  try { Object.defineProperty(window, "external", { value: external, configurable: true }); }
  catch (e) { window.external = external; }
  var tries = 0;
  (function connect() {
    if (!(window.qt && qt.webChannelTransport)) {
      if (++tries < 500) setTimeout(connect, 10);
      return;
    }
    new QWebChannel(qt.webChannelTransport, function (channel) {
      target = channel.objects.external;
      queue.splice(0).forEach(function (c) { target.call(c[0], c[1]); });
    });
  })();
})();
)JS";

// The identifier of the element under a point, or of its nearest ancestor that has one.
const char kElementAt[] = R"JS(
(function (x, y) {
  for (var e = document.elementFromPoint(x, y); e; e = e.parentElement) if (e.id) return e.id;
  return "";
})(%1, %2)
)JS";

QString ExternalNamesArray() {
  QStringList names;
  for (const char* name : THomePageBridge::kExternalNames) names << QStringLiteral("\"%1\"").arg(name);
  return "[" + names.join(",") + "]";
}

std::optional<THomeKey> KeyOf(int key) {
  switch (key) {
    case Qt::Key_N:
      return THomeKey::hkN;
    case Qt::Key_F:
      return THomeKey::hkF;
    case Qt::Key_P:
      return THomeKey::hkP;
    case Qt::Key_Insert:
      return THomeKey::hkInsert;
    case Qt::Key_Backspace:
      return THomeKey::hkBackspace;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return THomeKey::hkTab;
    default:
      return std::nullopt;
  }
}

}  // namespace

THomeFrm::THomeFrm(IHomePageSource& source, std::string pageFile, QWidget* parent)
    : QWidget(parent), pageFile_(std::move(pageFile)) {
  setObjectName("HomeFrm");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  view_ = new TWebBrowserView(TBrowserProfile::bpLocalFilesOnly, this);
  view_->setObjectName("HomeBrowser");
  layout->addWidget(view_);
  bridge_ = std::make_unique<THomePageBridge>(source, *view_, [this](std::string_view text) {
    return QFontMetrics(window()->font()).horizontalAdvance(QString::fromUtf8(text.data(), text.size()));
  });
  bridge_->OnLink = [this](THomeLink type, const std::string& text) {
    if (OnLink) OnLink(type, text);
  };

  QWebEngineView* engine = view_->Engine();
  engine->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(engine, &QWidget::customContextMenuRequested, this, &THomeFrm::RequestContextMenu);
  // The page's own attempts to open windows go nowhere: the page has no createWindow of its own.
  connect(view_, &TWebBrowserView::LoadFinished, this, [this](bool ok) {
    StartupMark("home page load finished");
    WatchKeys();
    if (ok && fillPending_) bridge_->FillPage();
    fillPending_ = false;
    // A browser that failed has said why already; that reason is the one to keep.
    if (!ok && !view_->Failed())
      view_->ShowFailure(
          tr("The home page could not be shown: %1 did not load.").arg(QString::fromStdString(pageFile_)));
    emit PageLoaded(ok);
  });
  RegisterExternals();
  WatchKeys();
}

THomeFrm::~THomeFrm() {
  if (keyTarget_) keyTarget_->removeEventFilter(this);
  keyTarget_ = nullptr;
  // The menus and the browser go while this frame is still whole: their ends reach handlers that point here.
  qDeleteAll(findChildren<QMenu*>(Qt::FindDirectChildrenOnly));
  menu_ = nullptr;
  bridge_.reset();
  delete view_;
  view_ = nullptr;
}

void THomeFrm::RegisterExternals() {
  if (channel_) return;
  external_ = new THomeExternal(this);
  connect(external_, &THomeExternal::Called, this, [this](const QString& name, const QString& argument) {
    emit PageCalled(name, argument);
    // The page's load event can overtake the browser's own report; fill once that has come.
    if (!view_->HasDocument() && name.compare("PageLoadDone", Qt::CaseInsensitive) == 0) {
      fillPending_ = true;
      return;
    }
    bridge_->Call(name.toStdString(), argument.toStdString());
  });
  channel_ = new QWebChannel(this);
  channel_->registerObject(QStringLiteral("external"), external_);
  QWebEnginePage* page = view_->Engine()->page();
  page->setWebChannel(channel_);

  QFile library(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
  if (!library.open(QIODevice::ReadOnly)) {
    view_->ShowFailure(tr("The home page cannot reach the program: the web channel script is missing."));
    return;
  }
  QWebEngineScript script;
  script.setName(QStringLiteral("external"));
  script.setInjectionPoint(QWebEngineScript::DocumentCreation);
  script.setWorldId(QWebEngineScript::MainWorld);
  script.setRunsOnSubFrames(false);
  script.setSourceCode(QString::fromUtf8(library.readAll()) +
                       QString(kExternalShim).arg(ExternalNamesArray()));
  page->scripts().insert(script);
}

void THomeFrm::ShowHome() {
  StartupMark("home page navigating");
  bridge_->ShowHome(QUrl::fromLocalFile(QString::fromStdString(pageFile_)).toString().toStdString());
}

void THomeFrm::RequestContextMenu(const QPoint& pos) {
  QWebEngineView* engine = view_->Engine();
  const QPoint global = engine->mapToGlobal(pos);
  const double zoom = engine->zoomFactor() > 0 ? engine->zoomFactor() : 1.0;
  const QString script = QString(kElementAt).arg(pos.x() / zoom).arg(pos.y() / zoom);
  engine->page()->runJavaScript(
      script, [this, global](const QVariant& id) { OpenContextMenu(id.toString(), global); });
}

void THomeFrm::OpenContextMenu(const QString& elementId, const QPoint& globalPos) {
  if (menu_) menu_->deleteLater();
  menu_ = nullptr;
  currentElement_ = elementId;
  const std::string id = elementId.toStdString();
  const THomeMenu kind = bridge_->MenuFor(id);
  if (kind.Kind == THomeMenuKind::hmNone) return;

  menu_ = new QMenu(this);
  menu_->setObjectName("HomePopupMenu");
  menu_->setAttribute(Qt::WA_DeleteOnClose);
  connect(menu_, &QObject::destroyed, this, [this, menu = menu_] {
    if (menu_ == menu) menu_ = nullptr;
  });
  if (kind.Kind == THomeMenuKind::hmEntry) {
    QAction* open = menu_->addAction(tr("&Open"), this,
                                     [this, id] { view_->RunScript(THomePageBridge::ClickStatement(id)); });
    menu_->setDefaultAction(open);
    QAction* remove = menu_->addAction(tr("&Delete"), this, [this, id] { bridge_->DeleteEntry(id); });
    remove->setEnabled(kind.DeleteEnabled);
  } else {
    struct TItem {
      const char* Caption;
      THomeLink Type;
    };
    for (const TItem& item :
         {TItem{"Find &Reviews", THomeLink::hlNewReviews}, TItem{"Find &Prices", THomeLink::hlNewCompare},
          TItem{"Pr&operties", THomeLink::hlCategoryProperties}})
      menu_->addAction(tr(item.Caption), this,
                       [this, id, type = item.Type] { bridge_->CategoryCommand(id, type); });
  }
  menu_->popup(globalPos);
}

void THomeFrm::WatchKeys() {
  // The engine draws into a child it creates with the page; its keys reach the engine there.
  QObject* target = view_->Engine()->focusProxy();
  if (!target) target = view_->Engine();
  if (target == keyTarget_) return;
  if (keyTarget_) keyTarget_->removeEventFilter(this);
  keyTarget_ = target;
  keyTarget_->installEventFilter(this);
  connect(keyTarget_, &QObject::destroyed, this, [this, target] {
    if (keyTarget_ == target) keyTarget_ = nullptr;
  });
}

bool THomeFrm::eventFilter(QObject* watched, QEvent* event) {
  if (watched != keyTarget_ ||
      (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
    return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  const auto which = KeyOf(key->key());
  if (!which) return false;
  const bool ctrl = key->modifiers() & Qt::ControlModifier;
  const bool shift = (key->modifiers() & Qt::ShiftModifier) || key->key() == Qt::Key_Backtab;
  const THomeKeyAction action = THomePageBridge::KeyAction(*which, ctrl, shift);
  if (action == THomeKeyAction::hkPass) return false;
  // Claimed in the shortcut stage too, so neither the engine nor a window shortcut acts on it first.
  event->accept();
  if (event->type() == QEvent::ShortcutOverride) return true;
  switch (action) {
    case THomeKeyAction::hkNewSearch:
      if (OnNewSearch) OnNewSearch();
      break;
    case THomeKeyAction::hkNextPage:
    case THomeKeyAction::hkPreviousPage:
      if (OnNextPage) OnNextPage(action == THomeKeyAction::hkPreviousPage);
      break;
    default:
      break;
  }
  return true;
}

}  // namespace vandrel

#include "HomeFrame.moc"

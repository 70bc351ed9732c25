#include "ui/BrowserFrame.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <fstream>

#include "platform/RegistryStore.h"
#include "platform/TextUtils.h"
#include "ui/WebBrowserView.h"

namespace vandrel {

TBrowserFrm::TBrowserFrm(IScheduler& scheduler, IRegistryStore* store, TFavoriteFolder favorites,
                         QWidget* parent)
    : QWidget(parent), store_(store), favorites_(std::move(favorites)) {
  setObjectName("BrowserFrm");
  view_ = new TWebBrowserView(TBrowserProfile::bpOffTheRecord, this);
  view_->setObjectName("WebBrowser");
  controller_ = std::make_unique<TBrowserPaneController>(*view_, scheduler);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* bar = new QToolBar(this);
  bar->setIconSize(QSize(16, 16));
  layout->addWidget(bar);

  back_ = AddButton("BackBtn", tr("Goes to the previous page consulted"), QStyle::SP_ArrowBack);
  forward_ = AddButton("ForwardBtn", tr("Goes to the next page consulted"), QStyle::SP_ArrowForward);
  QToolButton* stop = AddButton("StopBtn", tr("Stops the current page from loading"), QStyle::SP_BrowserStop);
  QToolButton* refresh =
      AddButton("RefreshBtn", tr("Refreshes the contents of the current page"), QStyle::SP_BrowserReload);
  QToolButton* tools = AddButton("ToolsBtn", tr("Tools menu"), QStyle::SP_FileDialogDetailedView);
  zoom_ = AddButton("ZoomModeBtn", tr("Toggle zoom mode"), QStyle::SP_TitleBarMaxButton);
  zoom_->setCheckable(true);
  for (QToolButton* button : {back_, forward_, stop, refresh, tools, zoom_}) bar->addWidget(button);

  address_ = new QComboBox(this);
  address_->setObjectName("AddressEdit");
  address_->setEditable(true);
  address_->setInsertPolicy(QComboBox::NoInsert);
  address_->setMaxCount(static_cast<int>(TBrowserPaneController::kMaxAddresses));
  address_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  address_->lineEdit()->installEventFilter(this);
  address_->installEventFilter(this);
  bar->addWidget(address_);

  // Find on this page: a bar that appears under the tool bar.
  findBar_ = new QWidget(this);
  auto* findLayout = new QHBoxLayout(findBar_);
  findLayout->setContentsMargins(4, 2, 4, 2);
  findEdit_ = new QLineEdit(findBar_);
  findEdit_->setObjectName("FindEdit");
  findEdit_->setPlaceholderText(tr("Find on this page"));
  findLayout->addWidget(findEdit_, 1);
  findEdit_->installEventFilter(this);
  connect(findEdit_, &QLineEdit::textChanged, this, [this] { FindNext(false); });
  findBar_->hide();
  layout->addWidget(findBar_);
  layout->addWidget(view_, 1);

  connect(back_, &QToolButton::clicked, this, [this] { view_->Execute(TBrowserCommand::bcBack); });
  connect(forward_, &QToolButton::clicked, this, [this] { view_->Execute(TBrowserCommand::bcForward); });
  connect(stop, &QToolButton::clicked, this, [this] { view_->Execute(TBrowserCommand::bcStop); });
  connect(refresh, &QToolButton::clicked, this, [this] { view_->Execute(TBrowserCommand::bcRefresh); });
  connect(zoom_, &QToolButton::clicked, this, [this] { controller_->ToggleZoom(); });
  connect(address_->lineEdit(), &QLineEdit::textEdited, this,
          [this](const QString& text) { controller_->SetAddressText(text.toStdString()); });
  connect(address_, &QComboBox::activated, this, [this](int index) {
    if (refreshing_) return;
    controller_->SetAddressText(address_->itemText(index).toStdString());
    controller_->Enter(false);
  });

  controller_->OnChanged = [this] { Refresh(); };
  controller_->OnStatusText = [this](const std::string& text) {
    if (OnStatusText) OnStatusText(text);
  };
  controller_->OnZoom = [this](bool down) {
    if (OnZoom) OnZoom(down);
  };
  controller_->OnUrlSelected = [this](const std::string&) {
    if (store_) controller_->SaveTypedUrls(*store_);
  };
  controller_->OnEditCancel = [this] { address_->lineEdit()->selectAll(); };

  BuildPopupMenu();
  tools->setMenu(popup_);
  tools->setPopupMode(QToolButton::InstantPopup);
  QWebEngineView* engine = view_->Engine();
  engine->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(engine, &QWidget::customContextMenuRequested, this,
          [this, engine](const QPoint& pos) { popup_->popup(engine->mapToGlobal(pos)); });
  connect(view_, &TWebBrowserView::LoadFinished, this, [this] { WatchKeys(); });

  if (store_) controller_->LoadTypedUrls(*store_);
  Refresh();
}

TBrowserFrm::~TBrowserFrm() {
  if (keyTarget_) keyTarget_->removeEventFilter(this);
  keyTarget_ = nullptr;
  // The controller observes the browser, and the browser's end reaches handlers that point here: both go
  // while this frame is still whole.
  controller_.reset();
  delete view_;
  view_ = nullptr;
}

QToolButton* TBrowserFrm::AddButton(const QString& name, const QString& hint, int icon) {
  auto* button = new QToolButton(this);
  button->setObjectName(name);
  button->setToolTip(hint);
  button->setAutoRaise(true);
  button->setIcon(style()->standardIcon(static_cast<QStyle::StandardPixmap>(icon)));
  return button;
}

void TBrowserFrm::InitPane() {
  Navigate("about:blank");
}

void TBrowserFrm::Navigate(const std::string& url) {
  view_->Navigate(url);
}

void TBrowserFrm::NavigateLater(const std::string& url) {
  controller_->NavigateLater(url);
}

void TBrowserFrm::SetZoomDown(bool down) {
  controller_->SetZoomDown(down);
  Refresh();
}

void TBrowserFrm::Refresh() {
  refreshing_ = true;
  back_->setEnabled(controller_->BackEnabled());
  forward_->setEnabled(controller_->ForwardEnabled());
  zoom_->setChecked(controller_->ZoomDown());
  QStringList items;
  for (const std::string& address : controller_->Addresses()) items << QString::fromStdString(address);
  QStringList current;
  for (int i = 0; i < address_->count(); ++i) current << address_->itemText(i);
  const QString text = QString::fromStdString(controller_->AddressText());
  if (items != current) {
    address_->clear();
    address_->addItems(items);
  }
  if (address_->currentText() != text) address_->setEditText(text);
  refreshing_ = false;
}

void TBrowserFrm::BuildPopupMenu() {
  popup_ = new QMenu(this);
  popup_->setObjectName("BrowserPopupMenu");
  favoritesMenu_ = popup_->addMenu(tr("&Favorites"));
  favoritesMenu_->setObjectName("FavoritesMenu");
  connect(favoritesMenu_, &QMenu::aboutToShow, this, [this] {
    favoritesMenu_->clear();
    // The desktop has no favourites dialogs of its own; the user's browser keeps its bookmarks.
    favoritesMenu_->addAction(tr("&Add to Favorites"))->setEnabled(false);
    favoritesMenu_->addAction(tr("&Organize Favorites"))->setEnabled(false);
    favoritesMenu_->addSeparator();
    FillFavorites(favoritesMenu_, favorites_);
  });
  QAction* saveAs = popup_->addAction(tr("Save &As..."), this, &TBrowserFrm::SaveAs);
  QAction* print = popup_->addAction(tr("&Print"), this, &TBrowserFrm::Print);
  QAction* find = popup_->addAction(tr("&Find (on this page)..."), this, &TBrowserFrm::ShowFind);
  QAction* source =
      popup_->addAction(tr("&Source"), this, [this] { view_->Execute(TBrowserCommand::bcSource); });
  connect(popup_, &QMenu::aboutToShow, this, [=, this] {
    saveAs->setEnabled(view_->CommandAvailable(TBrowserCommand::bcSaveAs));
    print->setEnabled(view_->CommandAvailable(TBrowserCommand::bcPrint));
    find->setEnabled(view_->CommandAvailable(TBrowserCommand::bcFind));
    source->setEnabled(view_->CommandAvailable(TBrowserCommand::bcSource));
  });
}

void TBrowserFrm::FillFavorites(QMenu* menu, const TFavoriteFolder& folder) {
  if (folder.Empty()) {
    menu->addAction(tr("(Empty)"))->setEnabled(false);
    return;
  }
  for (const TFavoriteFolder& child : folder.Folders) {
    QMenu* sub = menu->addMenu(QString::fromStdString(ToDisplayText(child.Name)));
    // Filled when it opens, as big bookmark trees would make the first menu slow.
    connect(sub, &QMenu::aboutToShow, this, [this, sub, &child] {
      sub->clear();
      FillFavorites(sub, child);
    });
    sub->addAction(tr("(Empty)"))->setVisible(false);
  }
  for (const TFavoriteLink& link : folder.Links) {
    QAction* action =
        menu->addAction(QString::fromStdString(ToDisplayText(link.Name)), this, [this, url = link.Url] {
          if (IsOpenableFavorite(url)) Navigate(url);
        });
    action->setToolTip(QString::fromStdString(link.Url));
  }
}

void TBrowserFrm::ShowFind() {
  findBar_->show();
  findEdit_->setFocus();
  findEdit_->selectAll();
}

void TBrowserFrm::FindNext(bool backwards) {
  QWebEnginePage::FindFlags flags;
  if (backwards) flags |= QWebEnginePage::FindBackward;
  view_->Engine()->page()->findText(findEdit_->text(), flags);
}

void TBrowserFrm::SaveAs() {
  const QString path = QFileDialog::getSaveFileName(this, tr("Save As"), QString(), tr("Web page (*.html)"));
  if (!path.isEmpty()) view_->Engine()->page()->save(path, QWebEngineDownloadRequest::CompleteHtmlSaveFormat);
}

void TBrowserFrm::Print() {
  const QString path = QFileDialog::getSaveFileName(this, tr("Print to File"), QString(), tr("PDF (*.pdf)"));
  if (!path.isEmpty()) view_->Engine()->page()->printToPdf(path);
}

TPaneFocus TBrowserFrm::Focus() const {
  QWidget* focus = QApplication::focusWidget();
  if (!focus) return TPaneFocus::pfOther;
  if (focus == address_ || focus == address_->lineEdit()) return TPaneFocus::pfAddressBox;
  if (focus == view_->Engine() || view_->Engine()->isAncestorOf(focus)) return TPaneFocus::pfBrowser;
  return TPaneFocus::pfOther;
}

bool TBrowserFrm::EditAvailable(TBrowserCommand command) const {
  return controller_->EditAvailable(command, Focus());
}

void TBrowserFrm::EditCommand(TBrowserCommand command) {
  switch (TBrowserPaneController::EditTargetFor(Focus())) {
    case TEditTarget::etBrowser:
      if (command == TBrowserCommand::bcFind)
        ShowFind();
      else
        view_->Execute(command);
      break;
    case TEditTarget::etAddressBox: {
      QLineEdit* edit = address_->lineEdit();
      if (command == TBrowserCommand::bcCopy) edit->copy();
      if (command == TBrowserCommand::bcCut) edit->cut();
      if (command == TBrowserCommand::bcPaste) edit->paste();
      if (command == TBrowserCommand::bcSelectAll) edit->selectAll();
      controller_->SetAddressText(edit->text().toStdString());
      break;
    }
    default:
      break;
  }
}

void TBrowserFrm::WatchKeys() {
  QObject* target = view_->Engine()->focusProxy();
  if (!target || target == keyTarget_) return;
  if (keyTarget_) keyTarget_->removeEventFilter(this);
  keyTarget_ = target;
  keyTarget_->installEventFilter(this);
  connect(keyTarget_, &QObject::destroyed, this, [this, target] {
    if (keyTarget_ == target) keyTarget_ = nullptr;
  });
}

bool TBrowserFrm::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == address_ && type == QEvent::Wheel && !address_->view()->isVisible()) return true;
  if (watched == address_->lineEdit() && type == QEvent::FocusIn)
    QTimer::singleShot(0, address_->lineEdit(), &QLineEdit::selectAll);
  if (type != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
  if (watched == address_->lineEdit()) {
    switch (key->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        controller_->SetAddressText(address_->lineEdit()->text().toStdString());
        if (!controller_->Enter(mods & Qt::ControlModifier).empty()) view_->setFocus();
        return true;
      case Qt::Key_Escape:
        controller_->Escape();
        return true;
      case Qt::Key_Up:
      case Qt::Key_Down:
        return mods == Qt::NoModifier && !address_->view()->isVisible();
      default:
        return false;
    }
  }
  if (watched == findEdit_) {
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      FindNext(mods & Qt::ShiftModifier);
      return true;
    }
    if (key->key() == Qt::Key_Escape) {
      findBar_->hide();
      view_->Engine()->page()->findText(QString());
      view_->setFocus();
      return true;
    }
    return false;
  }
  if (watched == keyTarget_ && key->key() == Qt::Key_D && mods == Qt::AltModifier) {
    address_->setFocus();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace vandrel

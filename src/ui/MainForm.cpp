#include "ui/MainForm.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QShortcut>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineView>

#include "kernel/AppKernel.h"
#include "kernel/AppName.h"
#include "kernel/CommandLineProcessor.h"

namespace vandrel {
namespace {

QString Text(std::string_view text) {
  return QString::fromStdString(ExpandAppName(text));
}

// "books harry potter" -> "books", "harry potter".
std::pair<std::string, std::string> SplitFirstWord(const std::string& text) {
  size_t blank = text.find(' ');
  if (blank == std::string::npos) return {text, std::string()};
  size_t rest = text.find_first_not_of(' ', blank);
  return {text.substr(0, blank), rest == std::string::npos ? std::string() : text.substr(rest)};
}

}  // namespace

TVandrelShopperForm::TVandrelShopperForm(TAppKernel& kernel, TCommandLineProcessor& processor,
                                         QWidget* parent)
    : QMainWindow(parent), kernel_(kernel), processor_(processor) {
  setWindowTitle(Text(kAppNamePlaceholder));
  setObjectName("VandrelShopperForm");

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  tabs_ = new QTabBar(central);
  tabs_->addTab(Text("Ri Veravur"));
  tabs_->addTab(Text("Reviews"));
  tabs_->addTab(Text("Prices"));
  tabs_->setDrawBase(true);
  tabs_->setExpanding(false);
  layout->addWidget(tabs_);

  pages_ = new QStackedWidget(central);
  home_ = new QWebEngineView(pages_);
  home_->setObjectName("HomePage");
  home_->setContextMenuPolicy(Qt::NoContextMenu);  // the browser's own menu is never shown
  pages_->addWidget(home_);
  pages_->addWidget(MakeResultPage(Text("Reviews")));
  pages_->addWidget(MakeResultPage(Text("Prices")));
  layout->addWidget(pages_, 1);
  setCentralWidget(central);

  BuildMenus();
  BuildStatusBar();
  connect(tabs_, &QTabBar::currentChanged, this,
          [this](int index) { ShowPage(static_cast<TPageKind>(index + 1)); });
  connect(home_, &QWebEngineView::loadProgress, this, [this](int percent) {
    loading_->setValue(percent);
    loading_->setVisible(percent > 0 && percent < 100);
  });
  connect(home_, &QWebEngineView::loadFinished, this, [this](bool ok) {
    loading_->setVisible(false);
    emit HomePageLoaded(ok);
  });
  RegisterCommands();
  home_->load(QUrl::fromLocalFile(QString::fromStdString(kernel_.Folders().HomePage())));
}

TVandrelShopperForm::~TVandrelShopperForm() {
  // The handlers point into this window.
  processor_.Clear();
}

QWidget* TVandrelShopperForm::MakeResultPage(const QString& title) {
  auto* page = new QWidget(pages_);
  auto* layout = new QVBoxLayout(page);
  auto* heading = new QLabel(title, page);
  heading->setObjectName(title + "Heading");
  QFont font = heading->font();
  font.setPointSize(font.pointSize() + 6);
  heading->setFont(font);
  layout->addWidget(heading);
  auto* hint = new QLabel(Text("No search selected."), page);
  layout->addWidget(hint);
  layout->addStretch(1);
  return page;
}

void TVandrelShopperForm::BuildMenus() {
  QMenu* file = menuBar()->addMenu(Text("&File"));
  file->addAction(Text("E&xit"), this, &QWidget::close);

  QMenu* view = menuBar()->addMenu(Text("&View"));
  QMenu* goTo = view->addMenu(Text("&Go To"));
  goTo->addAction(Text("&Ri Veravur"), QKeySequence(Qt::CTRL | Qt::Key_1), this,
                  [this] { ShowPage(pkHome); });
  goTo->addAction(Text("&Reviews"), QKeySequence(Qt::CTRL | Qt::Key_2), this,
                  [this] { ShowPage(pkReviews); });
  goTo->addAction(Text("&Prices"), QKeySequence(Qt::CTRL | Qt::Key_3), this, [this] { ShowPage(pkPrices); });

  // Ctrl+Tab cycles the pages: 3 is followed by 1.
  auto* next = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
  connect(next, &QShortcut::activated, this, [this] { ShowPage(static_cast<TPageKind>(page_ % 3 + 1)); });
  auto* previous = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), this);
  connect(previous, &QShortcut::activated, this,
          [this] { ShowPage(static_cast<TPageKind>((page_ + 1) % 3 + 1)); });
}

void TVandrelShopperForm::BuildStatusBar() {
  statusText_ = new QLabel(this);
  statusText_->setObjectName("StatusText");
  resultCount_ = new QLabel(this);
  loading_ = new QProgressBar(this);
  loading_->setRange(0, 100);
  loading_->setMaximumWidth(120);
  loading_->setTextVisible(false);
  loading_->setVisible(false);
  statusBar()->addWidget(statusText_, 1);
  statusBar()->addPermanentWidget(resultCount_);
  statusBar()->addPermanentWidget(loading_);
}

void TVandrelShopperForm::RegisterCommands() {
  auto page = [this](TPageKind kind) {
    return [this, kind](const std::string&) {
      BringToFront();
      ShowPage(kind);
    };
  };
  processor_.Register("home", page(pkHome));
  processor_.Register("reviews", page(pkReviews));
  processor_.Register("prices", page(pkPrices));
  processor_.Register("new", [this](const std::string& query) { NewSearch("", true, query); });
  processor_.Register("newreviews", [this](const std::string& query) { NewSearch("", true, query); });
  processor_.Register("newprices", [this](const std::string& query) { NewSearch("", false, query); });
  processor_.Register("newcatreviews", [this](const std::string& argument) {
    auto [category, query] = SplitFirstWord(argument);
    NewSearch(category, true, query);
  });
  processor_.Register("newcatprices", [this](const std::string& argument) {
    auto [category, query] = SplitFirstWord(argument);
    NewSearch(category, false, query);
  });
}

void TVandrelShopperForm::NewSearch(const std::string& category, bool isReviews, const std::string& query) {
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

void TVandrelShopperForm::ShowPage(TPageKind page) {
  if (page < pkHome || page > pkPrices) return;
  if (page != page_) {
    page_ = page;
    pages_->setCurrentIndex(page - 1);
    if (page == pkHome) resultCount_->clear();
    SetStatusText(page == pkHome ? QString() : tabs_->tabText(page - 1));
  }
  if (tabs_->currentIndex() != page - 1) {
    QSignalBlocker block(tabs_);
    tabs_->setCurrentIndex(page - 1);
  }
  emit PageChanged(page);
}

void TVandrelShopperForm::BringToFront() {
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TVandrelShopperForm::SetStatusText(const QString& text) {
  statusText_->setText(text);
}

QString TVandrelShopperForm::StatusText() const {
  return statusText_->text();
}

void TVandrelShopperForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  setWindowTitle(Text("%APPNAME% Beta 2"));
  kernel_.SetMainFormShown();
}

}  // namespace vandrel

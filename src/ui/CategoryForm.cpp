#include "ui/CategoryForm.h"

#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPixmap>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "integration/WebBrowse.h"
#include "kernel/AppName.h"
#include "ui/FormPages.h"

namespace vandrel {
namespace {

// A category picture: the image file with the transparency of its "Alpha" companion, when there is one.
QIcon CategoryIcon(const std::string& imagePath) {
  QImage image(QString::fromStdString(imagePath));
  if (image.isNull()) return {};
  QString alphaPath = QString::fromStdString(imagePath);
  alphaPath.replace("ImageIcon.bmp", "AlphaIcon.bmp");
  QImage alpha(alphaPath);
  if (!alpha.isNull() && alpha.size() == image.size()) {
    image = image.convertToFormat(QImage::Format_ARGB32);
    image.setAlphaChannel(alpha.convertToFormat(QImage::Format_Grayscale8));
  }
  return QIcon(QPixmap::fromImage(image));
}

}  // namespace

TCategoryFrm::TCategoryFrm(std::vector<TCategoryEntry> categories, ISearchCatalogue& catalogue,
                           TCategoryWindowController::TOpenUrl openUrl, QWidget* parent,
                           TCategoryWindowController::TSaveEngine save)
    : QDialog(parent),
      prompts_(this),
      controller_(std::move(categories), catalogue, prompts_, std::move(openUrl), std::move(save)) {
  setObjectName("CategoryFrm");
  setWindowTitle(FormText(category_text::kCaption));
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabBar(this);
  tabs_->setObjectName("CategoryTabs");
  tabs_->addTab(FormText(category_text::kReviewsTab));
  tabs_->addTab(FormText(category_text::kPricesTab));
  layout->addWidget(tabs_);

  auto* body = new QHBoxLayout;
  categories_ = new QListWidget(this);
  categories_->setObjectName("CategoryList");
  categories_->setViewMode(QListView::IconMode);
  categories_->setIconSize(QSize(32, 32));
  categories_->setGridSize(QSize(96, 64));
  categories_->setResizeMode(QListView::Adjust);
  categories_->setMovement(QListView::Static);
  categories_->setWordWrap(true);
  categories_->setFixedWidth(220);
  for (const TCategoryEntry& entry : controller_.Categories())
    categories_->addItem(
        new QListWidgetItem(CategoryIcon(entry.LargeIcon), QString::fromStdString(entry.DisplayName)));
  body->addWidget(categories_);

  auto* right = new QVBoxLayout;
  engineLabel_ = new QLabel(this);
  engines_ = new QTreeWidget(this);
  engines_->setObjectName("EngineList");
  engines_->setColumnCount(3);
  engines_->setHeaderLabels(
      {"", FormText(category_text::kEngineColumn), FormText(category_text::kHomePageColumn)});
  engines_->setRootIsDecorated(false);
  engines_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  engines_->setContextMenuPolicy(Qt::CustomContextMenu);
  engines_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  engines_->setColumnWidth(1, 200);
  engines_->installEventFilter(this);
  engineLabel_->setBuddy(engines_);
  right->addWidget(engineLabel_);
  right->addWidget(engines_, 1);
  body->addLayout(right, 1);
  layout->addLayout(body, 1);
  resize(720, 440);

  connect(tabs_, &QTabBar::currentChanged, this, [this](int index) {
    controller_.SetReviews(index == 0);
    ShowEngines();
  });
  connect(categories_, &QListWidget::currentRowChanged, this, [this](int row) {
    controller_.SelectCategory(row);
    ShowEngines();
  });
  connect(engines_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int column) {
    if (column == 0) ToggleRows({static_cast<size_t>(engines_->indexOfTopLevelItem(item))});
  });
  connect(engines_, &QTreeWidget::customContextMenuRequested, this, &TCategoryFrm::ShowMenu);
  auto* nextTab = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
  connect(nextTab, &QShortcut::activated, this,
          [this] { tabs_->setCurrentIndex(1 - tabs_->currentIndex()); });

  {
    const QSignalBlocker b1(tabs_), b2(categories_);
    tabs_->setCurrentIndex(controller_.Reviews() ? 0 : 1);
    categories_->setCurrentRow(controller_.CategoryIndex());
  }
  ShowEngines();
}

void TCategoryFrm::ShowCategory(const std::string& name, bool reviews) {
  controller_.SelectCategory(name);
  controller_.SetReviews(reviews);
  const QSignalBlocker b1(tabs_), b2(categories_);
  tabs_->setCurrentIndex(reviews ? 0 : 1);
  categories_->setCurrentRow(controller_.CategoryIndex());
  ShowEngines();
}

void TCategoryFrm::ShowEngines() {
  engineLabel_->setText(FormText(controller_.EngineLabel()));
  engines_->clear();
  for (size_t i = 0; i < controller_.EngineCount(); ++i) {
    const TEngineStorageItem* engine = controller_.Engine(i);
    auto* item = new QTreeWidgetItem(engines_, {"", QString::fromStdString(engine->DisplayName),
                                                QString::fromStdString(engine->HomePage)});
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  }
  RefreshChecks();
  if (engines_->topLevelItemCount() > 0) engines_->setCurrentItem(engines_->topLevelItem(0));
}

void TCategoryFrm::RefreshChecks() {
  for (int i = 0; i < engines_->topLevelItemCount(); ++i) {
    const TEngineStorageItem* engine = controller_.Engine(static_cast<size_t>(i));
    engines_->topLevelItem(i)->setCheckState(0, engine && engine->Enabled ? Qt::Checked : Qt::Unchecked);
  }
}

std::vector<size_t> TCategoryFrm::SelectedRows() const {
  std::vector<size_t> rows;
  for (int i = 0; i < engines_->topLevelItemCount(); ++i)
    if (engines_->topLevelItem(i)->isSelected()) rows.push_back(static_cast<size_t>(i));
  return rows;
}

void TCategoryFrm::ToggleRows(const std::vector<size_t>& rows) {
  controller_.Toggle(rows);
  RefreshChecks();
}

void TCategoryFrm::SetAll(bool enabled) {
  controller_.SetAll(enabled);
  RefreshChecks();
}

void TCategoryFrm::OpenHomePage() {
  controller_.OpenHomePage(SelectedRows());
}

void TCategoryFrm::ShowMenu(const QPoint& at) {
  QMenu menu(this);
  menu.addAction(FormText(category_text::kCheckAll), this, &TCategoryFrm::CheckAll);
  menu.addAction(FormText(category_text::kUncheckAll), this, &TCategoryFrm::UncheckAll);
  QAction* open = menu.addAction(FormText(category_text::kOpenHomePage), this, &TCategoryFrm::OpenHomePage);
  open->setEnabled(controller_.CanOpenHomePage(SelectedRows()));
  menu.exec(engines_->viewport()->mapToGlobal(at));
}

bool TCategoryFrm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == engines_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
    ToggleRows(SelectedRows());
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void ExecuteCategoryForm(const TCategoryList& categories, ISearchCatalogue& catalogue,
                         const std::string& category, bool reviews, QWidget* parent) {
  TCategoryFrm form(
      CategoryEntries(categories), catalogue,
      [](const std::string& address) { WebBrowse().OpenUrl(address); }, parent);
  form.ShowCategory(category, reviews);
  form.exec();
}

}  // namespace vandrel

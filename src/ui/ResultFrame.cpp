#include "ui/ResultFrame.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "presentation/ResultGroups.h"
#include "ui/FilterForm.h"
#include "ui/PropertiesForm.h"
#include "ui/ResultListModel.h"

namespace vandrel {

namespace {

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Draws the progress-bar columns (scores) as bars.
class TProgressDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QVariant position = index.data(TResultListModel::ProgressRole);
    if (!position.isValid()) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    QStyledItemDelegate::paint(painter, option, QModelIndex());
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(2, 2, -2, -2);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = std::clamp(position.toInt(), 0, 100);
    bar.text = QString::number(bar.progress) + "%";
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
  }
};

QToolButton* ToolButton(const QString& tip, QStyle::StandardPixmap icon, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setToolTip(tip);
  button->setIcon(QApplication::style()->standardIcon(icon));
  button->setAutoRaise(true);
  return button;
}

void AddEntries(QMenu* menu, const std::vector<TFrameMenuEntry>& entries,
                const std::function<void(size_t)>& choose) {
  for (size_t i = 0; i < entries.size(); ++i) {
    const TFrameMenuEntry& e = entries[i];
    if (e.Caption == "-") {
      menu->addSeparator();
      continue;
    }
    QAction* action = menu->addAction(Q(e.Caption));
    action->setEnabled(e.Enabled);
    action->setCheckable(e.Checked || e.Radio);
    action->setChecked(e.Checked);
    QObject::connect(action, &QAction::triggered, menu, [choose, i] { choose(i); });
  }
}

}  // namespace

TResultFrm::TResultFrm(TResultFrameKind kind, const TResultFrameDeps& deps, QWidget* browserPane,
                       std::function<void(const std::string& url)> navigate, QWidget* parent)
    : QWidget(parent), Model_(std::make_unique<TResultListModel>()), Navigate_(std::move(navigate)) {
  setObjectName(kind == TResultFrameKind::rfkPrices ? "CompareFrm" : "ReviewsFrm");
  Controller_ = std::make_unique<TResultFrameController>(
      kind, deps.History,
      TResultFrameController::TPorts{*Model_, deps.Prompts, deps.Scheduler, deps.Settings}, deps.Catalogue,
      deps.Runner);
  Build(browserPane);
  Wire();
  Model_->SetController(Controller_.get());
  Controller_->Attach();
  Model_->Sync();
  RefillSelector();
  RefillAddressList();
  ApplyMode();
  UpdateEnabling();
}

TResultFrm::~TResultFrm() {
  if (Filters_) {
    Filters_->Release(Controller_.get());
    if (Filters_->parent() != this) Filters_->OnVisibleChanged = nullptr;
  }
  // The list widget goes before the controller that feeds it.
  List_->setModel(nullptr);
  Controller_->Detach();
  Model_->SetController(nullptr);
}

void TResultFrm::Build(QWidget* browserPane) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);

  auto* top = new QHBoxLayout;
  Selector_ = new QComboBox(this);
  Selector_->setObjectName("HistoryComboBox");
  Selector_->setPlaceholderText(TResultFrameController::kNoSearch);
  Selector_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  Selector_->setMinimumContentsLength(30);
  Selector_->setContextMenuPolicy(Qt::CustomContextMenu);
  FilterBtn_ = new QToolButton(this);
  FilterBtn_->setObjectName("FilterBtn");
  FilterBtn_->setText(" Filters");
  FilterBtn_->setCheckable(true);
  FilterHint_ = new QLabel(this);
  top->addWidget(Selector_, 1);
  top->addWidget(FilterBtn_);
  top->addWidget(FilterHint_);
  layout->addLayout(top);

  NavigationPanel_ = new QWidget(this);
  auto* nav = new QHBoxLayout(NavigationPanel_);
  nav->setContentsMargins(0, 0, 0, 0);
  AddressList_ = new QComboBox(NavigationPanel_);
  AddressList_->setObjectName("ResultFlatComboBox");
  BackBtn_ = ToolButton("Go to previous result", QStyle::SP_ArrowBack, NavigationPanel_);
  ForwardBtn_ = ToolButton("Go to next result", QStyle::SP_ArrowForward, NavigationPanel_);
  ReviewsBtn_ = ToolButton("Find reviews for this item", QStyle::SP_FileDialogContentsView, NavigationPanel_);
  PricesBtn_ = ToolButton("Find prices for this item", QStyle::SP_FileDialogDetailedView, NavigationPanel_);
  nav->addWidget(BackBtn_);
  nav->addWidget(ForwardBtn_);
  nav->addWidget(AddressList_, 1);
  nav->addWidget(ReviewsBtn_);
  nav->addWidget(PricesBtn_);
  layout->addWidget(NavigationPanel_);

  Splitter_ = new QSplitter(Qt::Vertical, this);
  List_ = new QTreeView(Splitter_);
  List_->setObjectName("ResultViewFrame");
  List_->setRootIsDecorated(false);
  List_->setUniformRowHeights(true);
  List_->setAllColumnsShowFocus(true);
  List_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  List_->setSelectionBehavior(QAbstractItemView::SelectRows);
  List_->setContextMenuPolicy(Qt::CustomContextMenu);
  List_->setItemDelegate(new TProgressDelegate(List_));
  List_->setModel(Model_.get());
  List_->header()->setSectionsClickable(true);
  List_->header()->setSortIndicatorShown(true);
  List_->header()->setContextMenuPolicy(Qt::CustomContextMenu);
  List_->installEventFilter(this);
  Browser_ = browserPane ? browserPane : new QWidget(Splitter_);
  Browser_->setParent(Splitter_);
  Splitter_->addWidget(List_);
  Splitter_->addWidget(Browser_);
  layout->addWidget(Splitter_, 1);

  auto* up = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Up), this, nullptr, nullptr,
                           Qt::WidgetWithChildrenShortcut);
  auto* down = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Down), this, nullptr, nullptr,
                             Qt::WidgetWithChildrenShortcut);
  connect(up, &QShortcut::activated, this, [this] {
    if (Controller_->Mode() == TResultLayout::rlBrowser) Controller_->Back();
  });
  connect(down, &QShortcut::activated, this, [this] {
    if (Controller_->Mode() == TResultLayout::rlBrowser) Controller_->Forward();
  });
}

void TResultFrm::Wire() {
  TResultFrameController& c = *Controller_;
  c.Navigate = [this](const std::string& url) {
    if (Navigate_) Navigate_(url);
  };
  c.OpenExternally = [this](const std::string& url) {
    if (OpenExternally) OpenExternally(url);
  };
  c.OpenSearchWizard = [this](const TSearchWizardRequest& request) {
    if (OpenSearchWizard) OpenSearchWizard(request);
  };
  c.RerunSearch = [this](TSearchStorageItem* search) {
    if (RerunSearch) RerunSearch(search);
  };
  c.OnModeChanged = [this](TResultLayout mode) {
    ApplyMode();
    if (OnModeChanged) OnModeChanged(mode);
  };
  c.OnStatus = [this](size_t results, size_t selected) {
    if (OnStatus) OnStatus(results, selected);
  };
  c.OnSelectorChanged = [this] { RefillSelector(); };
  c.OnNavigationChanged = [this] {
    RefillAddressList();
    UpdateEnabling();
  };
  c.OnShowRow = [this](size_t row) { ShowRow(row); };
  c.OnEnablingChanged = [this] {
    UpdateEnabling();
    if (Filters_ && Filters_->isVisible() && Filters_->Frame() == Controller_.get()) Filters_->Reload();
  };
  Model_->OnScrollTo = [this](size_t row) {
    if (static_cast<int>(row) < Model_->rowCount()) List_->scrollTo(Model_->index(static_cast<int>(row), 0));
  };
  Model_->OnBusy = [](bool busy) {
    if (busy)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
  };

  connect(Model_.get(), &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) { UpdateSpans(first, last); });
  connect(Model_.get(), &QAbstractItemModel::rowsMoved, this,
          [this](const QModelIndex&, int, int, const QModelIndex&, int) {
            UpdateSpans(0, Model_->rowCount() - 1);
          });
  connect(Model_.get(), &QAbstractItemModel::layoutChanged, this,
          [this] { UpdateSpans(0, Model_->rowCount() - 1); });
  connect(Model_.get(), &QAbstractItemModel::modelReset, this, [this] {
    UpdateSpans(0, Model_->rowCount() - 1);
    const auto& columns = Controller_->View().Columns();
    for (size_t i = 0; i < columns.size(); ++i) {
      List_->setColumnWidth(static_cast<int>(i), columns[i].Width);
      if (TResultFrameController::ColumnKind(columns[i].FieldName) != TFrameColumnKind::fckField &&
          TResultFrameController::ColumnKind(columns[i].FieldName) != TFrameColumnKind::fckEngine)
        List_->header()->setSectionResizeMode(static_cast<int>(i), QHeaderView::Fixed);
      else
        List_->header()->setSectionResizeMode(static_cast<int>(i), QHeaderView::Interactive);
    }
    UpdateSortIndicator();
  });
  connect(Model_.get(), &QAbstractItemModel::headerDataChanged, this, [this] { UpdateSortIndicator(); });
  connect(List_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { SelectionChanged(); });
  connect(List_->header(), &QHeaderView::sectionClicked, this, [this](int section) {
    Controller_->View().ClickHeader(static_cast<size_t>(section));
    Model_->Sync();
    UpdateSortIndicator();
  });
  connect(List_->header(), &QHeaderView::sectionResized, this, [this](int section, int, int size) {
    if (List_->header()->sectionResizeMode(section) == QHeaderView::Interactive)
      Controller_->View().ResizeColumn(static_cast<size_t>(section), size);
  });
  connect(List_->header(), &QWidget::customContextMenuRequested, this, &TResultFrm::HeaderMenu);
  connect(List_, &QWidget::customContextMenuRequested, this, &TResultFrm::ResultMenu);
  connect(Selector_, &QWidget::customContextMenuRequested, this, &TResultFrm::SearchMenu);
  connect(List_, &QAbstractItemView::pressed, this, [this](const QModelIndex& index) {
    const auto kind = static_cast<TFrameColumnKind>(index.data(TResultListModel::ColumnKindRole).toInt());
    if (kind == TFrameColumnKind::fckCheck || kind == TFrameColumnKind::fckReviewButton ||
        kind == TFrameColumnKind::fckCompareButton)
      Controller_->ClickCell(static_cast<size_t>(index.row()), static_cast<size_t>(index.column()), false);
  });
  connect(List_, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
    const auto kind = static_cast<TFrameColumnKind>(index.data(TResultListModel::ColumnKindRole).toInt());
    if (kind == TFrameColumnKind::fckField)
      Controller_->ClickCell(static_cast<size_t>(index.row()), static_cast<size_t>(index.column()), true);
  });
  connect(List_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    Controller_->DoubleClickRow(static_cast<size_t>(index.row()), static_cast<size_t>(index.column()));
  });
  connect(Selector_, &QComboBox::activated, this, [this](int index) {
    if (!Filling_ && index >= 0) Controller_->ChooseSearch(static_cast<size_t>(index));
  });
  connect(AddressList_, &QComboBox::activated, this, [this](int index) {
    if (!Filling_ && index >= 0) Controller_->ChooseNavigation(static_cast<size_t>(index));
  });
  connect(BackBtn_, &QToolButton::clicked, this, [this] { Controller_->Back(); });
  connect(ForwardBtn_, &QToolButton::clicked, this, [this] { Controller_->Forward(); });
  auto findForEntry = [this](bool reviews) {
    std::vector<TStorageDataItem*> results;
    if (TResultStorageListView* combo = Controller_->ComboView()) {
      const int at = Controller_->NavigationIndex();
      if (at >= 0 && static_cast<size_t>(at) < combo->GroupCount())
        results = combo->Group(static_cast<size_t>(at))->Items;
    }
    if (!results.empty()) Controller_->FindFor(static_cast<TResultStorageItem*>(results.front()), reviews);
  };
  connect(ReviewsBtn_, &QToolButton::clicked, this, [findForEntry] { findForEntry(true); });
  connect(PricesBtn_, &QToolButton::clicked, this, [findForEntry] { findForEntry(false); });
  connect(FilterBtn_, &QToolButton::clicked, this, [this](bool on) { ShowFilters(on); });
  connect(Splitter_, &QSplitter::splitterMoved, this, [this] {
    if (Controller_->Mode() == TResultLayout::rlResultsAndBrowser)
      Controller_->SetSplitHeight(Splitter_->sizes().value(0));
  });
}

void TResultFrm::RefillSelector() {
  Filling_ = true;
  Selector_->clear();
  for (const std::string& item : Controller_->SelectorItems()) Selector_->addItem(Q(item));
  Selector_->setCurrentIndex(Controller_->SelectorIndex());
  Filling_ = false;
}

void TResultFrm::RefillAddressList() {
  Filling_ = true;
  AddressList_->clear();
  for (const std::string& item : Controller_->NavigationItems()) AddressList_->addItem(Q(item));
  AddressList_->setCurrentIndex(Controller_->NavigationIndex());
  Filling_ = false;
  BackBtn_->setEnabled(Controller_->BackEnabled());
  ForwardBtn_->setEnabled(Controller_->ForwardEnabled());
}

void TResultFrm::ApplyMode() {
  NavigationPanel_->setVisible(Controller_->NavigationBarVisible());
  List_->setVisible(Controller_->ResultsVisible());
  Browser_->setVisible(Controller_->BrowserVisible());
  if (Controller_->Mode() == TResultLayout::rlResultsAndBrowser) {
    const int total = std::max(1, Splitter_->height());
    const int top = Controller_->ResultPartHeight(total);
    Splitter_->setSizes({top, std::max(1, total - top)});
  }
  if (Controller_->Mode() == TResultLayout::rlBrowser) {
    AddressList_->setFocus();
    RefillAddressList();
  } else {
    List_->setFocus();
  }
  UpdateEnabling();
}

void TResultFrm::UpdateEnabling() {
  FilterBtn_->setEnabled(Controller_->FilterButtonEnabled());
  BackBtn_->setEnabled(Controller_->BackEnabled());
  ForwardBtn_->setEnabled(Controller_->ForwardEnabled());
  ReviewsBtn_->setEnabled(Controller_->NavigationSearchEnabled());
  PricesBtn_->setEnabled(Controller_->NavigationSearchEnabled());
}

void TResultFrm::UpdateSpans(int first, int last) {
  for (int row = std::max(0, first); row <= last && row < Model_->rowCount(); ++row) {
    const bool group = Model_->index(row, 0).data(TResultListModel::GroupRowRole).toBool();
    if (group || List_->isFirstColumnSpanned(row, {})) List_->setFirstColumnSpanned(row, {}, group);
  }
}

void TResultFrm::UpdateSortIndicator() {
  const auto& columns = Controller_->View().Columns();
  for (size_t i = 0; i < columns.size(); ++i)
    if (columns[i].Sorted) {
      List_->header()->setSortIndicator(static_cast<int>(i),
                                        columns[i].Descending ? Qt::DescendingOrder : Qt::AscendingOrder);
      return;
    }
  List_->header()->setSortIndicator(-1, Qt::AscendingOrder);
}

void TResultFrm::SelectionChanged() {
  std::vector<size_t> rows;
  for (const QModelIndex& index : List_->selectionModel()->selectedRows())
    rows.push_back(static_cast<size_t>(index.row()));
  std::sort(rows.begin(), rows.end());
  Controller_->SetSelection(std::move(rows));
}

void TResultFrm::ShowRow(size_t row) {
  if (static_cast<int>(row) >= Model_->rowCount()) Model_->Sync();
  if (static_cast<int>(row) >= Model_->rowCount()) return;
  const QModelIndex index = Model_->index(static_cast<int>(row), 0);
  List_->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  List_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
  List_->scrollTo(index);
}

void TResultFrm::SetFilterWindow(TResultFilterFrm* window) {
  Filters_ = window;
  if (!Filters_) return;
  auto previous = Filters_->OnVisibleChanged;
  Filters_->OnVisibleChanged = [this, previous](bool visible) {
    if (previous) previous(visible);
    FilterBtn_->setChecked(visible && Filters_->Frame() == Controller_.get());
  };
}

TResultFilterFrm* TResultFrm::FilterWindow() {
  if (!Filters_) {
    // The controller's scheduler is the desktop one; the window needs it for its delays.
    auto* own = new TResultFilterFrm(Controller_->Scheduler(), this);
    SetFilterWindow(own);
  }
  return Filters_;
}

void TResultFrm::ShowFilters(bool show) {
  TResultFilterFrm* window = FilterWindow();
  if (show)
    window->ShowFor(*Controller_);
  else
    window->hide();
  FilterBtn_->setChecked(window->isVisible());
}

void TResultFrm::ShowProperties() {
  std::vector<TResultStorageItem*> results = Controller_->SelectedResults();
  if (results.empty()) return;
  TPropertiesForm form(Controller_->Properties(*results.front()), this);
  form.exec();
}

void TResultFrm::FindInResults() {
  if (!Controller_->Find().HasView()) return;
  TFindDialogModel model(Controller_->Find());
  QDialog dialog(this);
  dialog.setWindowTitle("Find in Results");
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(TFindDialogModel::kPrompt, &dialog));
  auto* row = new QHBoxLayout;
  auto* label = new QLabel("F&ind:", &dialog);
  auto* edit = new QLineEdit(Q(model.Text), &dialog);
  label->setBuddy(edit);
  row->addWidget(label);
  row->addWidget(edit);
  layout->addLayout(row);
  auto* matchCase = new QCheckBox("Match &case", &dialog);
  auto* fromTop = new QCheckBox("Start from &top of list", &dialog);
  fromTop->setChecked(true);
  layout->addWidget(matchCase);
  layout->addWidget(fromTop);
  auto* buttons = new QDialogButtonBox(&dialog);
  QPushButton* next = buttons->addButton("&Find Next", QDialogButtonBox::AcceptRole);
  QPushButton* cancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  next->setDefault(true);
  next->setEnabled(model.FindNextEnabled());
  layout->addWidget(buttons);
  connect(edit, &QLineEdit::textChanged, &dialog, [&](const QString& text) {
    model.Text = text.toStdString();
    next->setEnabled(model.FindNextEnabled());
  });
  connect(next, &QPushButton::clicked, &dialog, [&] {
    model.MatchCase = matchCase->isChecked();
    model.StartFromTop = fromTop->isChecked();
    model.FindNext();
    fromTop->setChecked(model.StartFromTop);
    cancel->setText(Q(model.CancelCaption()));
  });
  connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
  dialog.exec();
}

void TResultFrm::FindNext() {
  if (Controller_->Find().CanFindNext()) Controller_->Find().FindNext();
}

void TResultFrm::CopyAddress() {
  std::vector<TResultStorageItem*> results = Controller_->SelectedResults();
  if (!results.empty()) QGuiApplication::clipboard()->setText(Q(ResultAddress(*results.front())));
}

void TResultFrm::SelectAll() {
  List_->selectAll();
}

void TResultFrm::InvertSelection() {
  QItemSelection all(Model_->index(0, 0), Model_->index(Model_->rowCount() - 1, Model_->columnCount() - 1));
  List_->selectionModel()->select(all, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
}

bool TResultFrm::eventFilter(QObject* watched, QEvent* event) {
  if (watched != List_ || event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
  switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (mods & Qt::AltModifier)
        ShowProperties();
      else
        Controller_->OpenSelected((mods & Qt::ShiftModifier) != 0);
      return true;
    case Qt::Key_Space:
      if (mods & (Qt::ControlModifier | Qt::AltModifier)) break;
      Controller_->ToggleChecks();
      return true;
    case Qt::Key_Delete:
      Controller_->DeleteSelection();
      return true;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

void TResultFrm::HeaderMenu(const QPoint& at) {
  const int column = List_->header()->logicalIndexAt(at);
  if (column < 0) return;
  const std::vector<TFrameMenuEntry> entries = Controller_->HeaderMenu(static_cast<size_t>(column));
  if (entries.empty()) return;
  QMenu menu(this);
  AddEntries(&menu, entries, [this, column](size_t entry) {
    Controller_->ChooseHeaderMenu(static_cast<size_t>(column), entry);
    Model_->Sync();
  });
  menu.exec(List_->header()->mapToGlobal(at));
}

void TResultFrm::FillGroupByMenu(QMenu* menu) {
  const std::vector<TGroupByMenuEntry> entries = Controller_->GroupByMenu().Entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].IsSeparator) {
      menu->addSeparator();
      continue;
    }
    QAction* action = menu->addAction(Q(entries[i].Caption));
    action->setCheckable(true);
    action->setChecked(entries[i].Checked);
    action->setEnabled(entries[i].Enabled || entries[i].IsNoGroup);
    connect(action, &QAction::triggered, menu, [this, i] {
      Controller_->GroupByMenu().Choose(i);
      Model_->Sync();
    });
  }
}

void TResultFrm::ResultMenu(const QPoint& at) {
  std::vector<TResultStorageItem*> selected = Controller_->SelectedResults();
  const bool one = !selected.empty();
  const bool idle = Controller_->RunnerIdle();
  QMenu menu(this);
  QAction* open = menu.addAction("Open", [this] { Controller_->OpenSelected(false); });
  menu.setDefaultAction(open);
  open->setEnabled(one);
  menu.addAction("Open in New Window", [this] { Controller_->OpenSelected(true); })->setEnabled(one);
  FillGroupByMenu(menu.addMenu("Group By"));
  menu.addSeparator();
  TResultStorageItem* first = one ? selected.front() : nullptr;
  menu.addAction("Find Reviews for this Item", [this, first] { Controller_->FindFor(first, true); })
      ->setEnabled(one && idle);
  menu.addAction("Find Prices for this Item", [this, first] { Controller_->FindFor(first, false); })
      ->setEnabled(one && idle);
  menu.addSeparator();
  menu.addAction("Copy", [this] { CopyAddress(); })->setEnabled(one);
  menu.addAction("Delete", [this] { Controller_->DeleteSelection(); })
      ->setEnabled(!Controller_->Selection().empty());
  menu.addSeparator();
  menu.addAction("Properties", [this] { ShowProperties(); })->setEnabled(one);
  menu.exec(List_->viewport()->mapToGlobal(at));
}

void TResultFrm::SearchMenu(const QPoint& at) {
  QMenu menu(this);
  AddEntries(&menu, Controller_->SearchMenu(),
             [this](size_t entry) { Controller_->ChooseSearchMenu(entry); });
  menu.exec(Selector_->mapToGlobal(at));
}

}  // namespace vandrel

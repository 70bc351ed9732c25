#include "ui/SearchWizForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "actions/AppErrors.h"
#include "actions/QuorinApplications.h"
#include "kernel/AppConfig.h"
#include "kernel/AppKernel.h"
#include "search/CategoryList.h"
#include "search/QuorinEngineRepository.h"
#include "ui/SearchFrames.h"

namespace vandrel {
namespace {

constexpr int kHeaderHeight = 60;

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// The category page's banner, drawn rather than shipped as a picture.
QPixmap CategoriesHeader(int width) {
  QPixmap pixmap(width, kHeaderHeight);
  QPainter p(&pixmap);
  QLinearGradient gradient(0, 0, width, 0);
  gradient.setColorAt(0, QColor(20, 60, 130));
  gradient.setColorAt(1, QColor(90, 150, 220));
  p.fillRect(pixmap.rect(), gradient);
  QFont font = p.font();
  font.setPointSize(16);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(pixmap.rect().adjusted(16, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, "Categories");
  return pixmap;
}

}  // namespace

int TConfigSearchSettings::ResultsPerEngine(bool reviews) const {
  return reviews ? config_.Preferences().ResultsPerEngineReviews()
                 : config_.Preferences().ResultsPerEngineCompare();
}

void TConfigSearchSettings::SetResultsPerEngine(bool reviews, int value) {
  if (reviews)
    config_.Preferences().SetResultsPerEngineReviews(value);
  else
    config_.Preferences().SetResultsPerEngineCompare(value);
}

bool TConfigSearchSettings::PromptAndOrInformation() const {
  return config_.Prompts().PromptAndOrInformationMsg();
}

void TConfigSearchSettings::SetPromptAndOrInformation(bool value) {
  config_.Prompts().SetPromptAndOrInformationMsg(value);
}

bool TKernelSearchStarter::Busy() const {
  return runner_.State() != asIdle;
}

bool TKernelSearchStarter::StartSearch(TSearchStorageItem* search, bool isReviews, bool isNew) {
  return kernel_.StartSearch(search, isReviews, isNew);
}

TSearchWizForm::TSearchWizForm(TSearchWizard& wizard, QWidget* parent) : QDialog(parent), wizard_(wizard) {
  setObjectName("SearchWizFrm");
  setWindowTitle("Search Wizard");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 8);
  header_ = new QLabel(this);
  header_->setObjectName("HeaderImage");
  header_->setFixedHeight(kHeaderHeight);
  header_->setScaledContents(false);
  header_->setStyleSheet("background: white");
  layout->addWidget(header_);
  pageText_ = new QLabel(this);
  pageText_->setObjectName("PageText");
  QFont bold = pageText_->font();
  bold.setBold(true);
  pageText_->setFont(bold);
  pageText_->setContentsMargins(12, 6, 12, 0);
  layout->addWidget(pageText_);

  pages_ = new QStackedWidget(this);
  categories_ = new QListWidget(pages_);
  categories_->setObjectName("CategoryList");
  categories_->setViewMode(QListView::IconMode);
  categories_->setIconSize(QSize(32, 32));
  categories_->setGridSize(QSize(110, 64));
  categories_->setMovement(QListView::Static);
  categories_->setResizeMode(QListView::Adjust);
  categories_->setWordWrap(true);
  if (const TCategoryList* list = wizard_.Categories())
    for (size_t i = 0; i < list->Count(); ++i) {
      const TCategoryItem& item = list->Items(i);
      auto* row =
          new QListWidgetItem(QIcon(Q(list->IconPath(item, "32ImageIcon.bmp"))), Q(item.DisplayName()));
      row->setToolTip(Q(item.Description()));
      categories_->addItem(row);
    }
  connect(categories_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (wizard_.SelectedCategory() != row) wizard_.SelectCategory(row);
    next_->setEnabled(wizard_.NextEnabled());
  });
  connect(categories_, &QListWidget::itemDoubleClicked, this, [this] { Next(); });
  pages_->addWidget(categories_);

  auto* choice = new QWidget(pages_);
  auto* choiceLayout = new QVBoxLayout(choice);
  choiceLayout->setContentsMargins(24, 12, 24, 12);
  auto addChoice = [&](const char* caption, const char* text) {
    auto* button = new QRadioButton(caption, choice);
    QFont f = button->font();
    f.setBold(true);
    button->setFont(f);
    auto* description = new QLabel(text, choice);
    description->setContentsMargins(24, 0, 0, 12);
    choiceLayout->addWidget(button);
    choiceLayout->addWidget(description);
    return button;
  };
  reviews_ = addChoice(kWizardReviewsCaption, kWizardReviewsText);
  reviews_->setObjectName("ReviewsBtn");
  prices_ = addChoice(kWizardPricesCaption, kWizardPricesText);
  prices_->setObjectName("PricesBtn");
  choiceLayout->addStretch(1);
  connect(reviews_, &QRadioButton::toggled, this, [this](bool on) { wizard_.SetReviews(on); });
  pages_->addWidget(choice);

  formPage_ = new QWidget(pages_);
  formLayout_ = new QVBoxLayout(formPage_);
  formLayout_->setContentsMargins(12, 6, 12, 6);
  pages_->addWidget(formPage_);
  layout->addWidget(pages_, 1);

  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(12, 0, 12, 0);
  buttons->addStretch(1);
  back_ = new QPushButton("< &Back", this);
  back_->setObjectName("BackBtn");
  next_ = new QPushButton(this);
  next_->setObjectName("NextBtn");
  next_->setDefault(true);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("CancelBtn");
  buttons->addWidget(back_);
  buttons->addWidget(next_);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  connect(back_, &QPushButton::clicked, this, [this] { Back(); });
  connect(next_, &QPushButton::clicked, this, [this] { Next(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  resize(520, 400);
  Refresh();
}

void TSearchWizForm::ShowHeader() {
  const std::string file = wizard_.HeaderImageFile();
  if (file.empty()) {
    header_->setPixmap(CategoriesHeader(std::max(width(), 520)));
    return;
  }
  QPixmap picture(Q(file));
  if (picture.isNull()) {
    header_->clear();
    if (failedPictures_.insert(file).second) ShowAppError(aeOpenFailed, {file});
    return;
  }
  header_->setPixmap(picture.scaledToHeight(kHeaderHeight, Qt::SmoothTransformation));
}

void TSearchWizForm::Refresh() {
  const TWizardPage page = wizard_.Page();
  pageText_->setText(Q(wizard_.PageText()));
  pages_->setCurrentIndex(static_cast<int>(page));
  if (categories_->currentRow() != wizard_.SelectedCategory())
    categories_->setCurrentRow(wizard_.SelectedCategory());
  (wizard_.Reviews() ? reviews_ : prices_)->setChecked(true);
  if (page == TWizardPage::wpForm && wizard_.Frame() != frameModel_) {
    delete frame_;
    frame_ = nullptr;
    frameModel_ = wizard_.Frame();
    if (frameModel_) {
      frame_ = new TSearchFrameWidget(*frameModel_, formPage_);
      formLayout_->addWidget(frame_);
    }
  }
  if (frame_ && page == TWizardPage::wpForm) {
    frame_->Refresh();
    frame_->FocusFirstField();
  }
  next_->setText(Q(wizard_.NextCaption()));
  next_->setEnabled(wizard_.NextEnabled());
  back_->setEnabled(wizard_.BackEnabled());
  ShowHeader();
}

void TSearchWizForm::Next() {
  // A frame is rebuilt only when its kind changes; its values follow the wizard's loading.
  if (wizard_.Next()) {
    accept();
    return;
  }
  Refresh();
}

void TSearchWizForm::Back() {
  wizard_.Back();
  Refresh();
}

bool ShowSearchWizard(TAppKernel& kernel, TQuorinApplication& runner, const TCategoryList& categories,
                      TAppConfig& config, IUserPrompts& prompts, TSearchWizardOptions options,
                      QWidget* parent) {
  TConfigSearchSettings settings(config);
  TKernelSearchStarter starter(kernel, runner);
  TSearchWizardContext context;
  context.Categories = &categories;
  context.Catalogue = kernel.Catalogue();
  context.CompareHistory = kernel.CompareHistory();
  context.ReviewsHistory = kernel.ReviewsHistory();
  context.Starter = &starter;
  context.Prompts = &prompts;
  context.Settings = &settings;
  if (TEngineRepository* repository = kernel.Repository()) context.DataFolder = repository->DataFolder();
  TSearchWizard wizard(std::move(context), std::move(options));
  return RunSearchWizard(wizard, starter, prompts, [&] {
    TSearchWizForm form(wizard, parent);
    return form.exec() == QDialog::Accepted;
  });
}

}  // namespace vandrel

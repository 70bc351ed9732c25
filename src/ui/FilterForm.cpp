#include "ui/FilterForm.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "search/SearchHistory.h"

namespace vandrel {

namespace {

enum TFilterPage { fpPrices = 0, fpReviews = 1 };

QGroupBox* PriceRow(const char* title, QSlider*& slider, QSpinBox*& box, QLabel*& label, QWidget* parent) {
  auto* group = new QGroupBox(title, parent);
  auto* layout = new QGridLayout(group);
  slider = new QSlider(Qt::Horizontal, group);
  box = new QSpinBox(group);
  label = new QLabel(group);
  layout->addWidget(slider, 0, 0);
  layout->addWidget(box, 0, 1);
  layout->addWidget(label, 1, 0, 1, 2);
  return group;
}

}  // namespace

TResultFilterFrm::TResultFilterFrm(IScheduler& scheduler, QWidget* parent)
    : QWidget(parent, Qt::Tool), Panel_(std::make_unique<TCompareFilterPanel>(scheduler)) {
  setWindowTitle("Filters");
  setObjectName("ResultFilterFrm");
  auto* layout = new QVBoxLayout(this);
  Pages_ = new QTabWidget(this);
  layout->addWidget(Pages_);

  auto* prices = new QWidget(Pages_);
  auto* pricesLayout = new QVBoxLayout(prices);
  pricesLayout->addWidget(
      PriceRow(TCompareFilterPanel::kMinPriceHeader, MinSlider_, MinBox_, MinLabel_, prices));
  pricesLayout->addWidget(
      PriceRow(TCompareFilterPanel::kMaxPriceHeader, MaxSlider_, MaxBox_, MaxLabel_, prices));
  auto* delivery = new QGroupBox(TCompareFilterPanel::kDeliveryHeader, prices);
  auto* deliveryLayout = new QHBoxLayout(delivery);
  Delivery_ = new QComboBox(delivery);
  for (const std::string& item : TCompareFilterPanel::DeliveryItems())
    Delivery_->addItem(QString::fromStdString(item));
  deliveryLayout->addWidget(Delivery_);
  pricesLayout->addWidget(delivery);
  pricesLayout->addStretch();
  Pages_->addTab(prices, "Prices");

  auto* reviews = new QLabel(TCompareFilterPanel::kNoReviewFilter, Pages_);
  reviews->setAlignment(Qt::AlignCenter);
  Pages_->addTab(reviews, "Reviews");
  Pages_->tabBar()->hide();

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto* reset = new QPushButton(QString(TCompareFilterPanel::kResetButton), this);
  auto* close = new QPushButton(QString(TCompareFilterPanel::kCloseButton), this);
  buttons->addWidget(reset);
  buttons->addWidget(close);
  layout->addLayout(buttons);

  connect(MinSlider_, &QSlider::valueChanged, this, [this](int v) {
    if (!Showing_) Panel_->MoveMin(v), ShowRows();
  });
  connect(MaxSlider_, &QSlider::valueChanged, this, [this](int v) {
    if (!Showing_) Panel_->MoveMax(v), ShowRows();
  });
  connect(MinBox_, &QSpinBox::valueChanged, this, [this](int v) {
    if (!Showing_) Panel_->TypeMin(v), ShowRows();
  });
  connect(MaxBox_, &QSpinBox::valueChanged, this, [this](int v) {
    if (!Showing_) Panel_->TypeMax(v), ShowRows();
  });
  connect(Delivery_, &QComboBox::activated, this, [this](int index) {
    Panel_->SetDelivery(index == 1 ? TShippingFilterMode::smFastestShipping
                                   : TShippingFilterMode::smBestDeals);
  });
  connect(reset, &QPushButton::clicked, this, [this] {
    Panel_->Reset();
    ShowRows();
  });
  connect(close, &QPushButton::clicked, this, &QWidget::hide);
}

TResultFilterFrm::~TResultFilterFrm() = default;

void TResultFilterFrm::ShowFor(TResultFrameController& frame) {
  Frame_ = &frame;
  Reload();
  show();
  raise();
}

void TResultFilterFrm::Release(const TResultFrameController* frame) {
  if (Frame_ != frame) return;
  hide();
  Panel_->Open(nullptr, {}, nullptr);
  Frame_ = nullptr;
}

void TResultFilterFrm::Reload() {
  if (!Frame_) return;
  const bool prices = Frame_->Kind() == TResultFrameKind::rfkPrices;
  Pages_->setCurrentIndex(prices ? fpPrices : fpReviews);
  Panel_->Flush();
  TResultStorageListView* view = Frame_->View().View();
  std::vector<TStorageDataListView*> views;
  if (view) views.push_back(view);
  if (Frame_->ComboView()) views.push_back(Frame_->ComboView());
  TStorageDataListView* defaultView = view ? view->List().FindView(kDefaultViewName) : nullptr;
  Panel_->Open(defaultView ? defaultView : view, views, Frame_->View().SearchType());
  ShowRows();
}

void TResultFilterFrm::ShowRows() {
  Showing_ = true;
  const TPriceControlRow& min = Panel_->MinRow();
  const TPriceControlRow& max = Panel_->MaxRow();
  for (auto [slider, box, label, row] :
       {std::tuple{MinSlider_, MinBox_, MinLabel_, &min}, std::tuple{MaxSlider_, MaxBox_, MaxLabel_, &max}}) {
    slider->setRange(row->Low, row->High);
    box->setRange(row->Low, row->High);
    slider->setValue(row->Position);
    box->setValue(row->Position);
    label->setText(QString::fromStdString(row->Label));
  }
  Delivery_->setEnabled(Panel_->DeliveryEnabled());
  Delivery_->setCurrentIndex(Panel_->DeliverySelection());
  Showing_ = false;
}

void TResultFilterFrm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!Placed_) {
    Placed_ = true;
    if (QScreen* screen = this->screen()) {
      const QRect area = screen->availableGeometry();
      move(area.right() - frameGeometry().width(), area.bottom() - frameGeometry().height());
    }
  }
  if (OnVisibleChanged) OnVisibleChanged(true);
}

void TResultFilterFrm::hideEvent(QHideEvent* event) {
  Panel_->Flush();
  QWidget::hideEvent(event);
  if (OnVisibleChanged) OnVisibleChanged(false);
}

}  // namespace vandrel

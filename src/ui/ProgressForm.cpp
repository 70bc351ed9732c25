#include "ui/ProgressForm.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include "actions/QuorinApplications.h"
#include "integration/WebBrowse.h"
#include "kernel/AppConfig.h"
#include "kernel/AppKernel.h"
#include "ui/ScrollingTicker.h"

namespace vandrel {
namespace {

constexpr int kRowHeight = 19;
constexpr int kTickerPanelHeight = 23;

}  // namespace

TEngineProgressControl::TEngineProgressControl(QWidget* parent) : QWidget(parent) {
  setFixedHeight(kRowHeight);
}

void TEngineProgressControl::SetRow(const TEngineProgressRow& row) {
  const bool same = row.Active == row_.Active && row.Started == row_.Started &&
                    row.Progress == row_.Progress && row.MatchCount == row_.MatchCount &&
                    row.HasErrors == row_.HasErrors && row.Caption == row_.Caption;
  row_ = row;
  if (!same) update();
}

void TEngineProgressControl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  const QRect r = rect();
  const int X = fontMetrics().horizontalAdvance('X');
  if (row_.Active) {
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(pal.color(QPalette::Dark));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
  }
  QFont bold = font();
  bold.setBold(true);
  const int captionWidth = MaxCaptionLength * QFontMetrics(bold).horizontalAdvance('X');
  p.setFont(row_.Active ? bold : font());
  p.setPen(pal.color(QPalette::WindowText));
  const QString caption =
      p.fontMetrics().elidedText(QString::fromStdString(row_.Caption), Qt::ElideRight, captionWidth);
  p.drawText(QRect(X, 0, captionWidth, r.height()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
             caption);
  p.setFont(font());
  if (row_.Started) {
    const QRect frame(X + captionWidth + 3 * X, 5, r.width() - (5 * X + 20) - (X + captionWidth + 3 * X),
                      r.height() - 10);
    if (frame.width() > 2) {
      p.setPen(pal.color(QPalette::Dark));
      p.drawLine(frame.topLeft(), frame.topRight());
      p.drawLine(frame.topLeft(), frame.bottomLeft());
      p.setPen(pal.color(QPalette::Light));
      p.drawLine(frame.bottomLeft(), frame.bottomRight());
      p.drawLine(frame.topRight(), frame.bottomRight());
      if (row_.Progress > 0) {
        const QRect inside = frame.adjusted(1, 1, -1, -1);
        const int filled = std::min(inside.width(), inside.width() * std::min(row_.Progress, 100) / 100 + 1);
        p.fillRect(QRect(inside.left(), inside.top(), filled, inside.height()),
                   pal.color(QPalette::Highlight));
      }
    }
  }
  p.setPen(row_.HasErrors ? QColor(Qt::red) : pal.color(QPalette::WindowText));
  p.drawText(QRect(r.width() - 4 * X - 10, 0, 3 * X + 10, r.height()), Qt::AlignRight | Qt::AlignVCenter,
             QString::number(row_.MatchCount));
}

void TEngineProgressControl::mouseReleaseEvent(QMouseEvent* event) {
  if (rect().contains(event->position().toPoint())) emit Clicked(event->modifiers());
}

TProgressForm::TProgressForm(TProgressFormContext context, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      context_(std::move(context)) {
  setObjectName("ProgressFrm");
  setWindowTitle(kProgressCaption);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);

  tickerPanel_ = new QWidget(this);
  tickerPanel_->setObjectName("TickerPanel");
  tickerPanel_->setFixedHeight(kTickerPanelHeight);
  auto* tickerLayout = new QHBoxLayout(tickerPanel_);
  tickerLayout->setContentsMargins(1, 1, 1, 1);
  tickerLayout->setSpacing(1);
  pause_ = new QToolButton(tickerPanel_);
  pause_->setObjectName("PauseBtn");
  pause_->setText("||");
  pause_->setToolTip("Pause ticker");
  pause_->setAutoRaise(true);
  ticker_ = new TScrollingTicker(tickerPanel_);
  tickerLayout->addWidget(pause_);
  tickerLayout->addWidget(ticker_, 1);
  layout->addWidget(tickerPanel_);
  connect(pause_, &QToolButton::clicked, this, [this] { ticker_->TogglePause(); });
  connect(ticker_, &TScrollingTicker::PauseChanged, this, [this](bool paused) {
    pause_->setText(paused ? ">" : "||");
    pause_->setToolTip(QString::fromStdString(ticker_->Model().PauseHint()));
  });
  ticker_->OpenUrl = [this](const std::string& url) {
    if (context_.OpenUrl) context_.OpenUrl(url);
  };

  auto* barLine = new QHBoxLayout;
  auto* barColumn = new QVBoxLayout;
  label_ = new QLabel(kProgressSearching, this);
  label_->setObjectName("ProgressLbl");
  QFont bold = label_->font();
  bold.setBold(true);
  label_->setFont(bold);
  bar_ = new QProgressBar(this);
  bar_->setObjectName("ProgressBar");
  bar_->setRange(0, 100);
  bar_->setTextVisible(false);
  barColumn->addWidget(label_);
  barColumn->addWidget(bar_);
  barLine->addLayout(barColumn, 1);
  hide_ = new QPushButton("&Hide", this);
  hide_->setObjectName("HideBtn");
  stop_ = new QPushButton("&Stop", this);
  stop_->setObjectName("StopBtn");
  barLine->addWidget(hide_);
  barLine->addWidget(stop_);
  layout->addLayout(barLine);
  connect(hide_, &QPushButton::clicked, this, [this] { model_->Hide(); });
  connect(stop_, &QPushButton::clicked, this, [this] { model_->RequestClose(); });

  scroll_ = new QScrollArea(this);
  scroll_->setObjectName("ProgressScrollBox");
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  scroll_->setWidgetResizable(true);
  scroll_->setFrameShape(QFrame::StyledPanel);
  rowsHost_ = new QWidget;
  new QVBoxLayout(rowsHost_);
  rowsHost_->layout()->setContentsMargins(0, 0, 0, 0);
  rowsHost_->layout()->setSpacing(0);
  scroll_->setWidget(rowsHost_);
  layout->addWidget(scroll_, 1);

  TProgressContext model;
  model.Window = this;
  model.Scheduler = context_.Scheduler;
  model.Prompts = context_.Prompts;
  if (TQuorinApplication* runner = context_.Runner) {
    model.RunnerIdle = [runner] { return runner->State() == asIdle; };
    model.RunnerBusy = [runner] { return runner->State() != asIdle || runner->IsBusy(); };
  }
  if (TAppKernel* kernel = context_.Kernel) model.StopSearch = [kernel] { return kernel->StopSearch(); };
  if (TAppConfig* config = context_.Config) {
    model.PromptEngineError = [config] { return config->Prompts().PromptEngineErrorMsg(); };
    model.SetPromptEngineError = [config](bool v) { config->Prompts().SetPromptEngineErrorMsg(v); };
  }
  if (!context_.OpenUrl) context_.OpenUrl = [](const std::string& url) { WebBrowse().OpenUrl(url); };
  model.OpenUrl = context_.OpenUrl;
  model.OverallProgress = context_.OverallProgress;
  model_ = std::make_unique<TProgressModel>(std::move(model));
  resize(400, 120);
}

TProgressForm::~TProgressForm() {
  model_.reset();  // stops listening before the widgets go
}

bool TProgressForm::TickerShown() const {
  return !tickerFailed_ && tickerPanel_->isVisibleTo(this);
}

void TProgressForm::LoadTicker() {
  if (tickerFailed_) return;
  std::string folder = context_.DataFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  if (!ticker_->LoadScript(folder + kTickerScriptName)) HideTicker();
}

void TProgressForm::HideTicker() {
  tickerFailed_ = true;
  ticker_->SetRunning(false);
  tickerPanel_->hide();
}

void TProgressForm::AttachSearch(TQuorinSearchAction& action) {
  LoadTicker();
  model_->AttachSearch(action, context_.Kernel ? context_.Kernel->Catalogue() : nullptr);
}

ISearchActionObserver& TProgressForm::AttachSearch(const std::vector<TEngineStorageItem*>& engines,
                                                   const std::string& categoryName,
                                                   const std::string& searchText) {
  LoadTicker();
  return model_->AttachSearch(engines, categoryName, searchText);
}

void TProgressForm::ShowProgress() {
  if (isVisible())
    model_->Hide();
  else
    model_->Show();
}

void TProgressForm::RowsReset() {
  for (TEngineProgressControl* row : rows_) delete row;
  rows_.clear();
  auto* rowsLayout = static_cast<QVBoxLayout*>(rowsHost_->layout());
  while (QLayoutItem* item = rowsLayout->takeAt(0)) delete item;
  const auto& rows = model_->Rows();
  for (size_t i = 0; i < rows.size(); ++i) {
    auto* control = new TEngineProgressControl(rowsHost_);
    control->setObjectName(QString("EngineRow%1").arg(i));
    control->SetRow(rows[i]);
    connect(control, &TEngineProgressControl::Clicked, this, [this, i](Qt::KeyboardModifiers m) {
      model_->RowClicked(i, m & Qt::ShiftModifier, m & Qt::ControlModifier);
    });
    rowsLayout->addWidget(control);
    rows_.push_back(control);
  }
  rowsLayout->addStretch(1);
  // Grow by the rows, but never past the bottom of the work area: the list scrolls instead.
  const QRect work = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
  const int top = (tickerFailed_ ? 0 : kTickerPanelHeight) + 70;
  const int wanted = top + static_cast<int>(rows.size()) * kRowHeight + 6;
  resize(std::max(width(), 400), std::min(wanted, work.height()));
  StateChanged();
}

void TProgressForm::RowChanged(size_t row) {
  if (row < rows_.size()) rows_[row]->SetRow(model_->Rows()[row]);
}

void TProgressForm::StateChanged() {
  setWindowTitle(QString::fromStdString(model_->Caption()));
  label_->setText(QString::fromStdString(model_->Label()));
  if (bar_->value() != model_->Overall()) bar_->setValue(model_->Overall());
  stop_->setEnabled(model_->StopEnabled());
}

void TProgressForm::SetShown(bool shown) {
  if (shown) {
    PlaceWindow();
    show();
    raise();
    StartTicker();
  } else {
    hide();
  }
}

void TProgressForm::PlaceWindow() {
  const QRect work = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
  const QRect frame = frameGeometry();
  move(work.right() + 1 - frame.width(), work.bottom() + 1 - frame.height());
}

void TProgressForm::StartTicker() {
  if (!TickerShown()) return;
  ticker_->SetRunning(true);
  if (context_.Config) {
    TPreferencesSection& prefs = context_.Config->Preferences();
    prefs.SetScrollingTickerTopicIndex(ticker_->RotateTopic(prefs.ScrollingTickerTopicIndex()));
  } else {
    ticker_->RotateTopic(0);
  }
}

void TProgressForm::hideEvent(QHideEvent* event) {
  ticker_->SetRunning(false);
  QWidget::hideEvent(event);
}

void TProgressForm::closeEvent(QCloseEvent* event) {
  // Closing never destroys the window; the model decides whether it hides.
  event->ignore();
  model_->RequestClose();
}

void TProgressForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    model_->RequestClose();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace vandrel

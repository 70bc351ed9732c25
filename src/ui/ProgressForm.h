// The search progress window: the ticker bar, the overall bar with Hide and Stop, and one row per engine,
// over the progress model.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "presentation/ProgressModel.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QToolButton;

namespace vandrel {

class TAppConfig;
class TAppKernel;
class TQuorinApplication;
class TScrollingTicker;
class IScheduler;
class IUserPrompts;

// One engine's row: name, a bar once it started, its record count (red after an error).
class TEngineProgressControl : public QWidget {
  Q_OBJECT

 public:
  explicit TEngineProgressControl(QWidget* parent = nullptr);
  void SetRow(const TEngineProgressRow& row);
  const TEngineProgressRow& Row() const { return row_; }
  int MaxCaptionLength = 18;  // in widths of "X"
  QSize sizeHint() const override { return {370, 19}; }

 signals:
  void Clicked(Qt::KeyboardModifiers modifiers);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TEngineProgressRow row_;
};

// What the window needs; the pointers must outlive it. Null members switch their part off.
struct TProgressFormContext {
  TQuorinApplication* Runner = nullptr;
  TAppKernel* Kernel = nullptr;  // StopSearch and the catalogue
  TAppConfig* Config = nullptr;  // the summary's flag and the ticker's topic
  IScheduler* Scheduler = nullptr;
  IUserPrompts* Prompts = nullptr;
  std::string DataFolder;                               // holds the ticker script
  std::function<void(const std::string& url)> OpenUrl;  // default: the user's web browser
  std::function<void(int percent)> OverallProgress;     // the main window's status bar
};

class TProgressForm : public QWidget, private IProgressWindow {
  Q_OBJECT

 public:
  TProgressForm(TProgressFormContext context, QWidget* owner = nullptr);
  ~TProgressForm() override;

  // Prepares the window for the search `action` that the runner has started, listens to it and shows
  // the window.
  void AttachSearch(TQuorinSearchAction& action);
  // The same for a search known by its engines and caption texts; returns the observer to add to it.
  ISearchActionObserver& AttachSearch(const std::vector<TEngineStorageItem*>& engines,
                                      const std::string& categoryName, const std::string& searchText);
  TProgressModel& Model() { return *model_; }

  // "Search &Progress": shows the window (re-enabling Stop while the runner works) or hides it.
  void ShowProgress();
  bool TickerShown() const;
  TScrollingTicker* Ticker() const { return ticker_; }
  QPushButton* StopButton() const { return stop_; }
  QPushButton* HideButton() const { return hide_; }
  std::vector<TEngineProgressControl*> RowControls() const { return rows_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void RowsReset() override;
  void RowChanged(size_t row) override;
  void StateChanged() override;
  void SetShown(bool shown) override;
  void LoadTicker();
  void StartTicker();
  void HideTicker();
  void PlaceWindow();

  TProgressFormContext context_;
  std::unique_ptr<TProgressModel> model_;
  QWidget* tickerPanel_ = nullptr;
  QToolButton* pause_ = nullptr;
  TScrollingTicker* ticker_ = nullptr;
  QLabel* label_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QPushButton* hide_ = nullptr;
  QPushButton* stop_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  QWidget* rowsHost_ = nullptr;
  std::vector<TEngineProgressControl*> rows_;  // owned by rowsHost_
  bool tickerFailed_ = false;                  // stays hidden until the program restarts
};

}  // namespace vandrel

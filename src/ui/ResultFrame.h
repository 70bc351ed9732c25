// The two result pages as widgets: the search selector and filter button, the result list, the browser pane
// and the address list, over the page controller.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "presentation/ResultFrameController.h"

class QComboBox;
class QLabel;
class QMenu;
class QSplitter;
class QToolButton;
class QTreeView;

namespace vandrel {

class TResultListModel;
class TResultFilterFrm;

// What a result page works with; all outlive the page.
struct TResultFrameDeps {
  TAppSearchHistory& History;
  IUserPrompts& Prompts;
  IScheduler& Scheduler;
  IResultFrameSettings& Settings;
  ISearchCatalogue* Catalogue = nullptr;
  TQuorinApplication* Runner = nullptr;
};

class TResultFrm : public QWidget {
  Q_OBJECT

 public:
  // `browserPane` is shown beside the list (the page takes it as a child); `navigate` loads an address in
  // it. Either may be empty: the page then shows a blank pane.
  TResultFrm(TResultFrameKind kind, const TResultFrameDeps& deps, QWidget* browserPane,
             std::function<void(const std::string& url)> navigate, QWidget* parent = nullptr);
  ~TResultFrm() override;

  TResultFrameController& Controller() { return *Controller_; }
  TResultListModel& Model() { return *Model_; }
  QTreeView* List() const { return List_; }
  QComboBox* Selector() const { return Selector_; }
  QComboBox* AddressList() const { return AddressList_; }
  QToolButton* BackButton() const { return BackBtn_; }
  QToolButton* ForwardButton() const { return ForwardBtn_; }
  QToolButton* FilterButton() const { return FilterBtn_; }
  QWidget* BrowserPane() const { return Browser_; }

  // The filter window shared by both pages; the page makes its own when none is given.
  void SetFilterWindow(TResultFilterFrm* window);
  TResultFilterFrm* FilterWindow();
  void ShowFilters(bool show);

  // Commands the main window offers for this page.
  void ShowProperties();
  void FindInResults();
  void FindNext();
  void CopyAddress();
  void SelectAll();
  void InvertSelection();
  void SetLayoutMode(TResultLayout mode) { Controller_->SetMode(mode); }

  // What the page tells its host.
  std::function<void(const std::string& url)> OpenExternally;
  std::function<void(const TSearchWizardRequest&)> OpenSearchWizard;
  std::function<void(TSearchStorageItem* search)> RerunSearch;
  std::function<void(size_t results, size_t selected)> OnStatus;
  std::function<void(TResultLayout mode)> OnModeChanged;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Build(QWidget* browserPane);
  void Wire();
  void RefillSelector();
  void RefillAddressList();
  void ApplyMode();
  void UpdateEnabling();
  void UpdateSpans(int first, int last);
  void UpdateSortIndicator();
  void SelectionChanged();
  void ShowRow(size_t row);
  void HeaderMenu(const QPoint& at);
  void ResultMenu(const QPoint& at);
  void SearchMenu(const QPoint& at);
  void FillGroupByMenu(QMenu* menu);

  std::unique_ptr<TResultListModel> Model_;  // before the controller: the controller's list widget
  std::unique_ptr<TResultFrameController> Controller_;
  std::function<void(const std::string&)> Navigate_;
  QComboBox* Selector_ = nullptr;
  QToolButton* FilterBtn_ = nullptr;
  QLabel* FilterHint_ = nullptr;
  QWidget* NavigationPanel_ = nullptr;
  QComboBox* AddressList_ = nullptr;
  QToolButton *BackBtn_ = nullptr, *ForwardBtn_ = nullptr, *ReviewsBtn_ = nullptr, *PricesBtn_ = nullptr;
  QSplitter* Splitter_ = nullptr;
  QTreeView* List_ = nullptr;
  QWidget* Browser_ = nullptr;
  QPointer<TResultFilterFrm> Filters_;  // shared, or owned by this page (then a child)
  bool Filling_ = false;                // the selector or address list is being refilled
};

// The prices page: "Store" column, the price and delivery filters.
class TCompareFrm : public TResultFrm {
  Q_OBJECT

 public:
  TCompareFrm(const TResultFrameDeps& deps, QWidget* browserPane,
              std::function<void(const std::string& url)> navigate, QWidget* parent = nullptr)
      : TResultFrm(TResultFrameKind::rfkPrices, deps, browserPane, std::move(navigate), parent) {}
};

// The reviews page: "Reviewed by" column, no filters, summaries.
class TReviewsFrm : public TResultFrm {
  Q_OBJECT

 public:
  TReviewsFrm(const TResultFrameDeps& deps, QWidget* browserPane,
              std::function<void(const std::string& url)> navigate, QWidget* parent = nullptr)
      : TResultFrm(TResultFrameKind::rfkReviews, deps, browserPane, std::move(navigate), parent) {}
};

}  // namespace vandrel

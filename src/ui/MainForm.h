// The program's one main window: the home page and the two result pages, and the commands that reach it.
#pragma once

#include <QMainWindow>
#include <functional>
#include <string>

class QLabel;
class QProgressBar;
class QStackedWidget;
class QTabBar;
class QWebEngineView;

namespace vandrel {

class TAppKernel;
class TCommandLineProcessor;

// VALUES: the page numbers are the ones the "Go To" shortcuts and the home page's links use.
enum TPageKind { pkHome = 1, pkReviews = 2, pkPrices = 3 };

class TVandrelShopperForm : public QMainWindow {
  Q_OBJECT

 public:
  // Until the search wizard exists, a "new..." command ends here. `category` is empty for the current one.
  using TSearchWizardRequest =
      std::function<void(const std::string& category, bool isReviews, const std::string& query)>;

  TVandrelShopperForm(TAppKernel& kernel, TCommandLineProcessor& processor, QWidget* parent = nullptr);
  ~TVandrelShopperForm() override;

  void ShowPage(TPageKind page);
  TPageKind CurrentPage() const { return page_; }
  // Restores the window when minimised, else raises it to the front.
  void BringToFront();
  void SetStatusText(const QString& text);
  QString StatusText() const;
  void SetSearchWizardRequest(TSearchWizardRequest request) { wizard_ = std::move(request); }

 signals:
  void PageChanged(int page);
  void HomePageLoaded(bool ok);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildMenus();
  void BuildStatusBar();
  void RegisterCommands();
  void NewSearch(const std::string& category, bool isReviews, const std::string& query);
  QWidget* MakeResultPage(const QString& title);

  TAppKernel& kernel_;
  TCommandLineProcessor& processor_;
  TSearchWizardRequest wizard_;
  TPageKind page_ = pkHome;
  QTabBar* tabs_ = nullptr;  // page header; owned by the window
  QStackedWidget* pages_ = nullptr;
  QWebEngineView* home_ = nullptr;   // the home page's browser
  QLabel* statusText_ = nullptr;     // panel 0
  QLabel* resultCount_ = nullptr;    // panel 1
  QProgressBar* loading_ = nullptr;  // panel 3: the current page load
  bool shownOnce_ = false;
};

}  // namespace vandrel

// The search wizard window: the category page, the reviews-or-prices page and the search form, over the
// wizard model; and the settings and search starter it is given from the configuration and the kernel.
#pragma once

#include <QDialog>
#include <memory>
#include <set>
#include <string>

#include "presentation/SearchWizard.h"

class QLabel;
class QListWidget;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QVBoxLayout;

namespace vandrel {

class TAppConfig;
class TAppKernel;
class TQuorinApplication;
class TSearchFrameWidget;

// The form settings kept in the configuration.
class TConfigSearchSettings : public ISearchFormSettings {
 public:
  explicit TConfigSearchSettings(TAppConfig& config) : config_(config) {}
  int ResultsPerEngine(bool reviews) const override;
  void SetResultsPerEngine(bool reviews, int value) override;
  bool PromptAndOrInformation() const override;
  void SetPromptAndOrInformation(bool value) override;

 private:
  TAppConfig& config_;
};

// Searches start through the kernel; the runner says whether one is under way.
class TKernelSearchStarter : public ISearchStarter {
 public:
  TKernelSearchStarter(TAppKernel& kernel, TQuorinApplication& runner) : kernel_(kernel), runner_(runner) {}
  bool Busy() const override;
  bool StartSearch(TSearchStorageItem* search, bool isReviews, bool isNew) override;

 private:
  TAppKernel& kernel_;
  TQuorinApplication& runner_;
};

class TSearchWizForm : public QDialog {
  Q_OBJECT

 public:
  // `wizard` must outlive the window.
  explicit TSearchWizForm(TSearchWizard& wizard, QWidget* parent = nullptr);

  TSearchWizard& Wizard() const { return wizard_; }
  // The pages' widgets, for the tests and the pictures.
  QListWidget* CategoryList() const { return categories_; }
  QRadioButton* ReviewsButton() const { return reviews_; }
  QRadioButton* PricesButton() const { return prices_; }
  TSearchFrameWidget* Frame() const { return frame_; }
  QPushButton* NextButton() const { return next_; }
  QPushButton* BackButton() const { return back_; }

  // Brings the widgets in line with the wizard's page.
  void Refresh();

 private:
  void Next();
  void Back();
  void ShowHeader();

  TSearchWizard& wizard_;
  QLabel* header_ = nullptr;
  QLabel* pageText_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  QListWidget* categories_ = nullptr;
  QRadioButton* reviews_ = nullptr;
  QRadioButton* prices_ = nullptr;
  QWidget* formPage_ = nullptr;
  QVBoxLayout* formLayout_ = nullptr;
  TSearchFrameWidget* frame_ = nullptr;  // owned by formPage_; rebuilt when the wizard's form changes
  TSearchFrameModel* frameModel_ = nullptr;
  QPushButton* back_ = nullptr;
  QPushButton* next_ = nullptr;
  std::set<std::string> failedPictures_;  // told once each
};

// What the main window calls for every "new search" command: opens the wizard for `options` (or runs it
// unseen) and starts the accepted search. False when nothing was started.
bool ShowSearchWizard(TAppKernel& kernel, TQuorinApplication& runner, const TCategoryList& categories,
                      TAppConfig& config, IUserPrompts& prompts, TSearchWizardOptions options,
                      QWidget* parent = nullptr);

}  // namespace vandrel

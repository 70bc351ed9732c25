// The "Engine Update" window: the update frame with its status line and progress bar inside a small
// modal dialog, and the calls the rest of the program makes to run it.
#pragma once

#include <QDialog>
#include <QWidget>
#include <functional>
#include <memory>

#include "presentation/UpdaterWindow.h"
#include "ui/QtDesktopPorts.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vandrel {

// The status line and the progress bar, following one update window controller.
class TUpdaterFrm : public QWidget {
  Q_OBJECT
 public:
  explicit TUpdaterFrm(QWidget* parent = nullptr);
  void Follow(const TUpdaterWindow& window);
  QString StatusText() const;
  int ProgressValue() const;

 private:
  QLabel* StatusLbl_;
  QProgressBar* ProgressBar_;
};

// One modal run of an engine update. The update starts once the window is on screen.
class TEngineUpdaterFrm : public QDialog {
  Q_OBJECT
 public:
  // Full mode: every category and a "Cancel" button; otherwise the automatic mode before a search.
  TEngineUpdaterFrm(TAppUpdater& updater, bool fullMode, bool allCategories, QWidget* parent = nullptr);
  ~TEngineUpdaterFrm() override;

  TUpdaterWindow& Controller() { return *Window_; }
  TUpdaterFrm& UpdaterFrm() { return *Frame_; }
  QPushButton& CancelBtn() { return *CancelBtn_; }

  // Escape is the button: it asks the update to stop; the window closes once the runner is idle.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  TQtScheduler Scheduler_;
  TQtUserPrompts Prompts_;
  std::unique_ptr<TUpdaterWindow> Window_;
  TUpdaterFrm* Frame_;
  QPushButton* CancelBtn_;
};

struct TEngineUpdateOptions {
  bool FullMode = true;
  bool AllCategories = true;
  // Asks about a new program version the site announces and opens its page on Yes ("Check Updates Now").
  bool AskSoftwareUpdate = false;
};

// Runs the window modally over `parent`; true when the update ran to its end (OK), false when it was
// skipped, cancelled or the window could not be shown (then nothing is left running).
bool ExecuteEngineUpdate(QWidget* parent, TAppUpdater& updater, const TEngineUpdateOptions& options = {});

// The program's updater over its configuration and action runner.
TAppUpdater& ProgramUpdater();
// The same run with the program's updater.
bool ExecuteEngineUpdate(QWidget* parent, const TEngineUpdateOptions& options = {});

// The automatic update before a search, for the kernel: `UpdateDueCheck` goes to SetUpdateDue, and
// `BeforeSearchUpdate` to the search hooks' BeforeSearch; it runs the window in its automatic mode over
// `parent()` (a function, since the main window may not exist yet when the hooks are set).
std::function<bool()> UpdateDueCheck();
std::function<void()> BeforeSearchUpdate(std::function<QWidget*()> parent);

}  // namespace vandrel

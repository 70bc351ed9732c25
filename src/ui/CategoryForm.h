// The category window: per category, the stores and review sites the user switches on and off.
#pragma once

#include <QDialog>

#include "presentation/CategoryWindowController.h"
#include "ui/QtDesktopPorts.h"

class QLabel;
class QListWidget;
class QTabBar;
class QTreeWidget;

namespace vandrel {

class TCategoryFrm : public QDialog {
  Q_OBJECT

 public:
  // The catalogue's engine lists must outlive the window. `openUrl` opens an engine's home page.
  TCategoryFrm(std::vector<TCategoryEntry> categories, ISearchCatalogue& catalogue,
               TCategoryWindowController::TOpenUrl openUrl, QWidget* parent = nullptr,
               TCategoryWindowController::TSaveEngine save = {});

  TCategoryWindowController& Controller() { return controller_; }
  QTabBar* Tabs() const { return tabs_; }
  QListWidget* CategoryList() const { return categories_; }
  QTreeWidget* EngineList() const { return engines_; }
  // Shows the reviews or the prices tab of a category (base or stored name).
  void ShowCategory(const std::string& name, bool reviews);
  // The pop-up menu's commands, as the menu runs them.
  void CheckAll() { SetAll(true); }
  void UncheckAll() { SetAll(false); }
  void OpenHomePage();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowEngines();
  void RefreshChecks();
  void ToggleRows(const std::vector<size_t>& rows);
  void SetAll(bool enabled);
  std::vector<size_t> SelectedRows() const;
  void ShowMenu(const QPoint& at);

  TQtUserPrompts prompts_;
  TCategoryWindowController controller_;
  QTabBar* tabs_ = nullptr;
  QListWidget* categories_ = nullptr;
  QLabel* engineLabel_ = nullptr;
  QTreeWidget* engines_ = nullptr;
};

// The category window over the kernel's category list and catalogue, opened on `category` (base or stored
// name; empty: the first) and its reviews or prices tab; home pages open in the user's browser.
void ExecuteCategoryForm(const TCategoryList& categories, ISearchCatalogue& catalogue,
                         const std::string& category, bool reviews, QWidget* parent);

}  // namespace vandrel
